#!/usr/bin/env python3
"""Prints one closing line for all the GoogleTest result files in a folder:
'N passed, N failed, N skipped'."""
import glob
import os
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.xml"))):
    for case in ET.parse(path).getroot().iter("testcase"):
        if case.find("failure") is not None:
            failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
print(f"{passed} passed, {failed} failed, {skipped} skipped")
