#!/usr/bin/env python3
"""The side-by-side table of a kit/bench.sh result directory: per suite the headline figures of
each target and their ratios to the first target.

    compare.py RESULTS_DIR --targets talvex,dovecot-perf[,baseline]

Exits 1 when any run of any target had an error or a mismatch (a reply that was not +OK, a
RETR whose octets differ from LIST, unstable identifiers, ...), or when idle sessions were
dropped or never established: those figures would not compare like with like.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "kit"))
import summarize  # noqa: E402

# suite scenario -> (label, summary key, format): the first row of each is what the suite is about.
METRICS = {
    "download": [("messages/s", "messages_per_s", "{:,.0f}"), ("MiB/s", "mib_per_s", "{:,.1f}"),
                 ("RETR p99 us", "key_p99_us", "{:,.0f}")],
    "churn": [("sessions/s", "sessions_per_s", "{:,.0f}"), ("greeting p99 us", "key_p99_us", "{:,.0f}")],
    "login": [("sessions/s", "sessions_per_s", "{:,.0f}"), ("PASS p99 us", "key_p99_us", "{:,.0f}")],
    "idle": [("private KiB/session", "anon_per_session_kib", "{:,.1f}"),
             ("RSS KiB/session", "rss_per_session_kib", "{:,.1f}"),
             ("PSS KiB/session", "pss_per_session_kib", "{:,.1f}")],
}


def ratio(a, b):
    return "-" if a is None or not b else f"{a / b:.3g}"  # memory ratios may be 1/300


def show(value, form):
    return "-" if value is None else form.format(value)


def problems(s):
    """Why a target's runs of a suite do not count, or an empty list."""
    out = []
    if s["errors"] or s["mismatches"]:
        out.append(f"{s['target']} {s['suite']}: {s['errors']} errors, {s['mismatches']} mismatches")
    if s["scenario"] == "idle" and (s["dropped"] or s["established"] != s["alive_at_end"]):
        out.append(f"{s['target']} {s['suite']}: {s['established']} idle sessions established, "
                   f"{s['alive_at_end']} alive at the end, {s['dropped']} dropped")
    return out


def table(sm, targets):
    first = targets[0]
    head = ["suite", "figure"]
    for t in targets:
        head += [t] if t == first else [t, f"{first}/{t}"]
    rows = [head, ["---"] * len(head)]
    suites = sorted({s for _, s in sm}, key=lambda s: summarize.SUITE_ORDER.index(s)
                    if s in summarize.SUITE_ORDER else 99)
    for suite in suites:
        present = [sm.get((t, suite)) for t in targets]
        scenario = next(s["scenario"] for s in present if s)
        for label, key, form in METRICS[scenario]:
            mine = present[0][key] if present[0] else None
            row = [suite, label]
            for t, s in zip(targets, present):
                value = s[key] if s else None
                row += [show(value, form)] if t == first else [show(value, form), ratio(mine, value)]
            rows.append(row)
    return "\n".join("| " + " | ".join(r) + " |" for r in rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("results")
    parser.add_argument("--targets", required=True)
    args = parser.parse_args()
    targets = args.targets.split(",")
    sm = summarize.summarize(summarize.load(args.results))
    missing = [t for t in targets if not any(k[0] == t for k in sm)]
    if missing:
        sys.exit(f"compare.py: no results for {', '.join(missing)} in {args.results}")
    print(table(sm, targets))
    found = [p for k in sorted(sm) if k[0] in targets for p in problems(sm[k])]
    for p in found:
        print("NOT COMPARABLE:", p, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
