#!/usr/bin/env python3
"""tools/check-links.py on a fixture: exactly the broken links are reported, and none of
the good ones (anchors as GitHub makes them, code that looks like a link, web links)."""

import subprocess
import sys
from pathlib import Path

here = Path(__file__).resolve().parent
checker = here.parent.parent / "tools" / "check-links.py"
expected = """\
README.md:14: docs/missing.md: docs/missing.md does not exist
README.md:14: docs/guide.md#no-such-heading: no heading with the anchor #no-such-heading
README.md:15: docs/guide.md#Notes: no heading with the anchor #Notes
README.md:15: ../../../../etc/passwd: leads out of the repository
README.md:15: docs/none.png: docs/none.png does not exist
README.md:17: docs/gone.md: docs/gone.md does not exist
docs/guide.md:18: ../README.md#start: no heading with the anchor #start
docs/guide.md:24: #not-a-heading: no heading with the anchor #not-a-heading
"""

run = subprocess.run([sys.executable, str(checker), str(here / "links")],
                     capture_output=True, text=True, check=False)
failures = []
if run.returncode != 1:
    failures.append(f"exit status {run.returncode}, not 1")
if run.stdout != expected:
    failures.append("reported:\n" + run.stdout + "expected:\n" + expected)
for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
