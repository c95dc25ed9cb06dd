#!/usr/bin/env python3
"""Fails when a Linux binary needs more than the oldest system it ships for.

  check-glibc-floor.py [--max 2.31] [--root DIR] BINARY...

Reads each binary's version needs (readelf, which reads any architecture)
and fails when a GLIBC_ version above --max is needed, when it needs the
shared C++ library (libstdc++ is linked in), or, with --root, when a
library or symbol version it needs is not in that root's libraries.
Prints the highest GLIBC_ version each binary needs.
"""
import argparse
import os
import re
import subprocess
import sys


def version_key(text):
    return tuple(int(part) for part in text.split("."))


def readelf(*args):
    return subprocess.run(["readelf", "-W", *args], check=True, capture_output=True, text=True).stdout


def needs(binary):
    """{library: {version, ...}} from the binary's version-needs section."""
    out = readelf("-V", binary)
    section = out.split(".gnu.version_r", 1)
    result = {}
    library = None
    for line in (section[1] if len(section) > 1 else "").splitlines():
        if line.strip().startswith("Version definition") or line.startswith("Version symbols"):
            break
        found = re.search(r"File: (\S+)", line)
        if found:
            library = found.group(1)
            result.setdefault(library, set())
            continue
        found = re.search(r"Name: (\S+)", line)
        if found and library:
            result[library].add(found.group(1))
    return result


def needed_libraries(binary):
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", readelf("-d", binary))


def defined_versions(library):
    out = readelf("-V", library)
    return set(re.findall(r"Name: (\S+)", out.split(".gnu.version_d", 1)[1])) if ".gnu.version_d" in out else set()


def find_in_root(root, name):
    for directory in ("lib", "usr/lib"):
        for base in (directory, *(os.path.join(directory, d) for d in ("x86_64-linux-gnu", "aarch64-linux-gnu"))):
            path = os.path.join(root, base, name)
            if os.path.exists(path):
                return path
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--max", default="2.31")
    parser.add_argument("--root")
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    failures = []
    for binary in args.binaries:
        if not os.path.isfile(binary):
            failures.append(f"{binary} does not exist")
            continue
        versions = needs(binary)
        glibc = sorted({v[6:] for vs in versions.values() for v in vs if re.fullmatch(r"GLIBC_\d+(\.\d+)*", v)},
                       key=version_key)
        highest = glibc[-1] if glibc else "none"
        print(f"{binary}: highest GLIBC_ needed {highest}; libraries {' '.join(needed_libraries(binary))}")
        for version in glibc:
            if version_key(version) > version_key(args.max):
                symbols = sorted({m.group(1) for m in re.finditer(rf"(\S+)@GLIBC_{re.escape(version)}\b",
                                                                    readelf("--dyn-syms", binary))})
                failures.append(f"{binary} needs GLIBC_{version} (above {args.max}): {' '.join(symbols)}")
        for library in needed_libraries(binary):
            if library.startswith("libstdc++"):
                failures.append(f"{binary} needs {library}; the C++ library must be linked in")
        if args.root:
            for library, wanted in versions.items():
                path = find_in_root(args.root, library)
                if path is None:
                    failures.append(f"{binary} needs {library}, which {args.root} does not have")
                    continue
                missing = sorted(wanted - defined_versions(path))
                if missing:
                    failures.append(f"{binary} needs {' '.join(missing)} of {library}, which {path} lacks")
    for failure in failures:
        print(f"check-glibc-floor: {failure}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
