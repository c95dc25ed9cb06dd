#!/usr/bin/env python3
"""The manual page against the sources it documents: every command the
dispatcher knows, every error code and literal detail a handler raises and
every event the helper writes must be in its section of the page; the page
carries the project version and formats without warnings.

    check_man_page.py MAN_PAGE SOURCE_DIR VERSION
"""
import pathlib
import re
import shutil
import subprocess
import sys

STRING = r'"(?:[^"\\]|\\.)*"'


def c_string(literals: str) -> str:
    """The value of adjacent C string literals, for the escapes used here."""
    parts = re.findall(STRING, literals)
    text = "".join(part[1:-1] for part in parts)
    text = re.sub(r"\\u([0-9a-fA-F]{4})", lambda m: chr(int(m.group(1), 16)), text)
    return re.sub(r"\\(.)", r"\1", text)


def roff_text(source: str) -> str:
    text = re.sub(r"\\f[BIRP]", "", source)
    text = text.replace(r"\-", "-").replace(r"\&", "").replace(r"\e", "\\")
    text = re.sub(r"\\\[u([0-9A-Fa-f]{4})\]", lambda m: chr(int(m.group(1), 16)), text)
    return text.replace("\\c\n", "")


def sections(page: str) -> dict:
    found = {}
    name = ""
    for line in page.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            found[name] = ""
        elif name:
            found[name] += line + "\n"
    return found


def words_of(text: str) -> set:
    return set(re.findall(r"[A-Za-z0-9_-]+", text))


def main() -> int:
    page_path, source_dir, version = sys.argv[1:4]
    raw = pathlib.Path(page_path).read_text(encoding="utf-8")
    page = sections(roff_text(raw))
    sources = ""
    for path in sorted(pathlib.Path(source_dir).rglob("*")):
        if path.suffix in (".cc", ".h", ".mm"):
            sources += path.read_text(encoding="utf-8") + "\n"
    dispatcher = (pathlib.Path(source_dir) / "commands" / "dispatcher.cc").read_text(encoding="utf-8")

    commands = set(re.findall(r'name == "([a-z-]+)"', dispatcher))
    loop_only = re.search(r"kLoopOnlyNames = \{([^}]*)\}", dispatcher)
    if loop_only:
        commands |= set(re.findall(r'"([a-z-]+)"', loop_only.group(1)))
    errors = set(re.findall(r'Fail\(\s*"([a-z_]+)"', sources))
    errors |= set(re.findall(r'"error",\s*"([a-z_]+)"', sources))
    details = {c_string(m) for m in re.findall(r'Fail\(\s*"[a-z_]+"\s*,\s*((?:' + STRING + r'\s*)+)', sources)}
    events = set(re.findall(r'\{"event",\s*"([a-z_]+)"\}', sources))
    events |= set(re.findall(r'emitWindowEvent\(core,\s*"([a-z_]+)"', sources))

    problems = []
    for kind, found in (("commands", commands), ("error codes", errors), ("details", details), ("events", events)):
        if not found:
            problems.append(f"found no {kind} in {source_dir}: the patterns no longer match the sources")
    expected_sections = ("COMMANDS", "ERRORS", "EVENTS", "EXIT STATUS", "EXAMPLES", "LICENSE")
    for section in expected_sections:
        if section not in page:
            problems.append(f"no section {section}")
    if problems:
        print("\n".join(problems))
        return 1

    for command in sorted(commands - words_of(page["COMMANDS"])):
        problems.append(f"command {command} is not in COMMANDS")
    for code in sorted(errors - words_of(page["ERRORS"])):
        problems.append(f"error code {code} is not in ERRORS")
    for detail in sorted(details):
        if detail not in page["ERRORS"]:
            problems.append(f"detail {detail!r} is not in ERRORS")
    for event in sorted(events - words_of(page["EVENTS"])):
        problems.append(f"event {event} is not in EVENTS")
    if "MIT" not in page["LICENSE"]:
        problems.append("LICENSE does not name the MIT licence")

    title = re.search(r"^\.TH .*$", raw, re.MULTILINE)
    if not title or f'"kestrove {version}"' not in title.group(0):
        problems.append(f"the .TH line does not carry kestrove {version}")
    if "@" in raw:
        problems.append("a placeholder was left unfilled")

    groff = shutil.which("groff")
    mandoc = shutil.which("mandoc")
    if groff:
        lint = subprocess.run([groff, "-man", "-t", "-ww", "-z", page_path], capture_output=True, text=True)
    elif mandoc:
        lint = subprocess.run([mandoc, "-T", "lint", "-W", "warning", page_path], capture_output=True, text=True)
    else:
        lint = None
        print("neither groff nor mandoc found: the page was not formatted")
    if lint is not None and (lint.returncode != 0 or lint.stderr.strip() or (mandoc and not groff and lint.stdout.strip())):
        problems.append("formatting warns:\n" + lint.stderr + lint.stdout)

    for problem in problems:
        print(f"{page_path}: {problem}")
    print(f"checked {len(commands)} commands, {len(errors)} error codes, {len(details)} details, {len(events)} events")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
