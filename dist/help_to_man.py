"""Writes a man page from a program's --help output and its subcommands', so that the page says
what the program itself says and never drifts from it.

    help_to_man.py PROGRAM SECTION SUMMARY OUTPUT
"""
import datetime
import os
import re
import subprocess
import sys


def help_text(program, *words):
    run = subprocess.run([program, *words, "--help"], capture_output=True, text=True, check=True)
    # The usage line names the program by the path it was run from; the page names it plainly.
    return run.stdout.replace(program, os.path.basename(program))


def subcommands(text):
    """The names listed under "Subcommands:" in a help text."""
    names, inside = [], False
    for line in text.splitlines():
        if line.strip() == "Subcommands:":
            inside = True
        elif inside and re.match(r"^  \S", line):
            names.append(line.split()[0])
        elif line and not line.startswith(" "):
            inside = False
    return names


def escape(line):
    line = line.replace("\\", "\\e")
    return "\\&" + line if line.startswith((".", "'")) else line


def block(header, text):
    return [header, ".nf"] + [escape(line) for line in text.rstrip().splitlines()] + [".fi"]


def page(program, number, summary):
    name = os.path.basename(program)
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    date = datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc).date() if epoch \
        else datetime.date.today()
    text = help_text(program)
    lines = [f'.TH {name.upper()} {number} "{date.isoformat()}" "Talvex" "Talvex POP3 service"',
             ".SH NAME", f"{name} \\- {escape(summary)}"]
    lines += block(".SH SYNOPSIS AND OPTIONS", text)
    for sub in subcommands(text):
        sub_text = help_text(program, sub)
        lines += block(f".SH {sub.upper()}", sub_text)
        for nested in subcommands(sub_text):
            lines += block(f".SS {sub} {nested}", help_text(program, sub, nested))
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    program, number, summary, output = sys.argv[1:5]
    with open(output, "w", encoding="utf-8") as out:
        out.write(page(program, number, summary))
