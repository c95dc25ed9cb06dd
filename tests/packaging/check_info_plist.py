#!/usr/bin/env python3
"""The Info.plist linked into the macOS executable: a valid property list
that names the helper, with the project's version and bundle identifier.

    check_info_plist.py INFO_PLIST VERSION BUNDLE_ID
"""
import plistlib
import sys


def main() -> int:
    path, version, bundle_id = sys.argv[1:4]
    with open(path, "rb") as source:
        text = source.read()
    problems = []
    if b"@" in text:
        problems.append("a placeholder was left unfilled")
    plist = plistlib.loads(text, fmt=plistlib.FMT_XML)
    expected = {
        "CFBundleIdentifier": bundle_id,
        "CFBundleExecutable": "kestrove",
        "CFBundleName": "kestrove",
        "CFBundleInfoDictionaryVersion": "6.0",
        "CFBundleShortVersionString": version,
        "CFBundleVersion": version,
    }
    for key, value in expected.items():
        if plist.get(key) != value:
            problems.append(f"{key} is {plist.get(key)!r}, not {value!r}")
    for problem in problems:
        print(f"{path}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
