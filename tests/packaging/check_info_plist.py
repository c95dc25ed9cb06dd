#!/usr/bin/env python3
"""The Info.plist linked into the macOS executable: a valid property list
that names the helper, with the project's version and bundle identifier,
and that makes it an agent (LSUIElement true): a bundled executable is
otherwise a regular application, and each one-shot command, as well as the
start of loop mode, could flash an icon in the Dock.

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
    # The Boolean itself: the string "YES" or 1 are not what the system reads.
    if plist.get("LSUIElement") is not True:
        problems.append(f"LSUIElement is {plist.get('LSUIElement')!r}, not True")
    for problem in problems:
        print(f"{path}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
