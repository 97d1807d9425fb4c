#!/usr/bin/env python3
"""Proves that scripts/check-layers catches an upward include: builds a small tree where a
platform file includes a host header, next to a host file that includes downward, and
passes only when the check fails, names exactly the upward line and leaves the allowed one
alone.

Usage: expect_upward_include.py PATH/TO/check-layers
"""

import subprocess
import sys
import tempfile
from pathlib import Path

FILES = {
    "src/platform/low.hpp": "#pragma once\n",
    "src/platform/low.cpp": '// fixture\n#include "platform/low.hpp"\n#include "host/x.hpp"\n',
    "src/host/x.hpp": '#pragma once\n#include "platform/low.hpp"\n',
    "apps/tool.cpp": '#include "host/x.hpp"\n',
}
EXPECTED = 'src/platform/low.cpp:3: include "host/x.hpp" points up (layer platform includes layer host)'


def main():
    script = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        for name, text in FILES.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text)
        run = subprocess.run([sys.executable, script, str(root)], capture_output=True,
                             text=True, check=False)
    output = run.stdout + run.stderr
    print(output, end="")
    problems = []
    if run.returncode != 1:
        problems.append(f"exit code {run.returncode}, expected 1")
    if EXPECTED not in run.stdout.splitlines():
        problems.append(f"missing line: {EXPECTED}")
    if "src/host/x.hpp" in output or "apps/tool.cpp" in output:
        problems.append("an allowed include was reported")
    for problem in problems:
        print(f"FAIL: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
