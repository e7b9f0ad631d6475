#!/usr/bin/env python3
"""Prints one closing line for all the GoogleTest result files in a folder:
'N passed, N failed, N skipped'.

GoogleTest copies a failure message's bytes into its report as they are, so
a message with Polish letters (Windows-1250 in these tests) leaves a report
that is not valid UTF-8. Such bytes are read as replacement characters: the
counts are what matter here."""
import glob
import os
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.xml"))):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", errors="replace")
    for case in ET.fromstring(text).iter("testcase"):
        if case.find("failure") is not None:
            failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
print(f"{passed} passed, {failed} failed, {skipped} skipped")
