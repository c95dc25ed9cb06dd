"""What macos-selfcheck.py compares, kept apart from what it runs.

Everything here is pure: it takes what the helper printed and what the
observer (osascript, System Events, NSScreen through the scripting bridge)
printed, and says whether they agree. It runs anywhere, so it is unit-tested
off the Mac; the runner next to it only gathers the two sides.

Written for the Python 3 that comes with Xcode's command-line tools (3.9,
3.8 on older ones): standard library only, no syntax newer than 3.8.
"""

import json
import re
import signal
import time
from collections import namedtuple

# Points: what both sides report are whole or half points in practice; one
# point absorbs a rounding on either side without letting a real miss pass.
TOLERANCE = 1.0

Rect = namedtuple("Rect", "x y width height")


class Check(object):
    """One row of the table. A skipped row was not judged (what it needs
    did not happen); it neither passes nor fails the run."""

    def __init__(self, name, expected, seen, passed, ms=None, note="", skipped=False):
        self.name = name
        self.expected = expected
        self.seen = seen
        self.passed = bool(passed) and not skipped
        self.skipped = bool(skipped)
        self.ms = ms
        self.note = note

    @property
    def failed(self):
        return not self.passed and not self.skipped

    def __repr__(self):
        return "Check(%r, %r, %r, %r)" % (self.name, self.expected, self.seen, self.passed)


def skipped(name, expected, why):
    return Check(name, expected, why, False, skipped=True)


# ---- values ----------------------------------------------------------------


def number_text(value):
    if isinstance(value, float) and value.is_integer():
        value = int(value)
    return str(value)


def rect_text(rect):
    if rect is None:
        return "none"
    return "%s,%s %sx%s" % tuple(number_text(v) for v in rect)


def rect_from_json(obj):
    """A rect object of the helper ({"x", "y", "width", "height"})."""
    if not isinstance(obj, dict):
        return None
    try:
        return Rect(float(obj["x"]), float(obj["y"]), float(obj["width"]), float(obj["height"]))
    except (KeyError, TypeError, ValueError):
        return None


def rect_from_position_size(obj):
    """System Events' {"position": [x, y], "size": [w, h]}."""
    try:
        (x, y), (w, h) = obj["position"], obj["size"]
        return Rect(float(x), float(y), float(w), float(h))
    except (KeyError, TypeError, ValueError):
        return None


def rects_equal(a, b, tolerance=TOLERANCE):
    if a is None or b is None:
        return False
    return all(abs(u - v) <= tolerance for u, v in zip(a, b))


def rect_covers(outer, inner, tolerance=TOLERANCE):
    """Whether `outer` covers `inner`, each edge allowed `tolerance` short."""
    if outer is None or inner is None:
        return False
    return (
        outer.x <= inner.x + tolerance
        and outer.y <= inner.y + tolerance
        and outer.x + outer.width >= inner.x + inner.width - tolerance
        and outer.y + outer.height >= inner.y + inner.height - tolerance
    )


def parse_json_line(text):
    """The one JSON object of a line, or None."""
    try:
        value = json.loads(text)
    except ValueError:
        return None
    return value if isinstance(value, dict) else None


def reply_problem(reply):
    """Why a reply is no good, or "" when it says ok."""
    if reply is None:
        return "no JSON reply"
    if reply.get("ok") is not True:
        return "error %s %s" % (reply.get("error"), reply.get("detail", ""))
    return ""


# ---- version ---------------------------------------------------------------


def parse_version(text):
    """ "14.5" or "26.0.1" as three integers; None when it is not a version."""
    parts = text.strip().split(".")
    if not 1 <= len(parts) <= 3 or not all(p.isdigit() for p in parts):
        return None
    numbers = [int(p) for p in parts] + [0] * (3 - len(parts))
    return tuple(numbers)


def check_version(reply, sw_vers_output):
    """The helper's "macos" against sw_vers -productVersion (run without
    SYSTEM_VERSION_COMPAT, so that macOS 26 says 26)."""
    expected = parse_version(sw_vers_output)
    problem = reply_problem(reply)
    seen_text = problem or str(reply.get("macos"))
    seen = None if problem else parse_version(str(reply.get("macos", "")))
    if expected:
        expected_text = ".".join(str(n) for n in expected)
    else:
        expected_text = "sw_vers said %r" % sw_vers_output.strip()
    return Check("version: macos", expected_text, seen_text, expected is not None and seen == expected)


# ---- screens ---------------------------------------------------------------


def expected_screens(nsscreens):
    """The helper's screen objects as they should be, worked out here from
    NSScreen's bottom-left frames: y flips about the top of the first
    screen (the primary one)."""
    if not nsscreens:
        return []
    first = nsscreens[0]["frame"]
    top = first["y"] + first["height"]

    def flip(r):
        return Rect(r["x"], top - (r["y"] + r["height"]), r["width"], r["height"])

    out = []
    for index, screen in enumerate(nsscreens):
        frame = flip(screen["frame"])
        visible = flip(screen["visibleFrame"])
        number = screen.get("number")
        out.append(
            {
                "id": int(number) if isinstance(number, (int, float)) else 0,
                "primary": index == 0,
                "frame": frame,
                "visibleFrame": visible,
                "menuBarHeight": max(0.0, visible.y - frame.y),
                "scale": float(screen["scale"]),
            }
        )
    return out


def screen_text(screen):
    return "id %s%s frame %s visible %s menu %s scale %s" % (
        screen["id"],
        " primary" if screen["primary"] else "",
        rect_text(screen["frame"]),
        rect_text(screen["visibleFrame"]),
        number_text(screen["menuBarHeight"]),
        number_text(screen["scale"]),
    )


def helper_screen(obj):
    return {
        "id": obj.get("id"),
        "primary": obj.get("primary"),
        "frame": rect_from_json(obj.get("frame")),
        "visibleFrame": rect_from_json(obj.get("visibleFrame")),
        "menuBarHeight": obj.get("menuBarHeight"),
        "scale": obj.get("scale"),
    }


def screens_match(want, got):
    def close(a, b):
        return isinstance(b, (int, float)) and not isinstance(b, bool) and abs(a - b) <= 0.01

    return (
        got["id"] == want["id"]
        and got["primary"] is want["primary"]
        and rects_equal(got["frame"], want["frame"], 0.01)
        and rects_equal(got["visibleFrame"], want["visibleFrame"], 0.01)
        and close(want["menuBarHeight"], got["menuBarHeight"])
        and close(want["scale"], got["scale"])
    )


def check_screens(reply, nsscreens, label="screens"):
    """One row for the count and one per screen, in NSScreen's order."""
    problem = reply_problem(reply)
    want = expected_screens(nsscreens)
    if problem:
        return [Check(label, "%d screens" % len(want), problem, False)]
    got = [helper_screen(s) for s in reply.get("screens", []) if isinstance(s, dict)]
    checks = [
        Check(
            label + ": coords and count",
            "top-left-global-points, %d" % len(want),
            "%s, %d" % (reply.get("coords"), len(got)),
            reply.get("coords") == "top-left-global-points" and len(got) == len(want),
        )
    ]
    for index, screen in enumerate(want):
        seen = got[index] if index < len(got) else None
        checks.append(
            Check(
                "%s: screen %d" % (label, index),
                screen_text(screen),
                screen_text(seen) if seen else "missing",
                seen is not None and screens_match(screen, seen),
            )
        )
    return checks


# ---- windows and place -----------------------------------------------------


def check_window_listed(reply, observed):
    """`windows` must list a window whose frame is the one System Events
    reports for the document window; gives the check and that window."""
    problem = reply_problem(reply)
    if problem:
        return Check("windows: document window", rect_text(observed), problem, False), None
    frames = []
    for window in reply.get("windows", []):
        frame = rect_from_json(window.get("frame")) if isinstance(window, dict) else None
        frames.append(rect_text(frame))
        if rects_equal(frame, observed):
            seen = "%s (id %s, of %d)" % (rect_text(frame), window.get("id"), len(reply["windows"]))
            return Check("windows: document window", rect_text(observed), seen, True), window
    seen = "; ".join(frames) if frames else "no windows (running %s, trusted %s)" % (
        reply.get("running"),
        reply.get("trusted"),
    )
    return Check("windows: document window", rect_text(observed), seen, False), None


def check_window_state(reply):
    """What TextEdit shows when the self-check starts working on it: one
    standard window. An Open panel or a restored document would be a second
    window (or a dialog subrole), and `place` could then pick it; this row
    tells that apart from a helper fault."""
    problem = reply_problem(reply)
    expected = "1 window, AXStandardWindow"
    if problem:
        return Check("windows: TextEdit's windows", expected, problem, False)
    windows = [w for w in reply.get("windows", []) if isinstance(w, dict)]
    subroles = [str(w.get("subrole")) for w in windows]
    seen = "%d window%s%s" % (len(windows), "" if len(windows) == 1 else "s",
                             ", " + " ".join(subroles) if subroles else "")
    return Check("windows: TextEdit's windows", expected, seen, subroles == ["AXStandardWindow"])


def check_place(reply, requested, observed, window_id=None):
    """`place` to `requested` (a content rectangle): the window is where the
    reply says (System Events' frame equals the reply's frame), its content
    covers the rectangle, and it is the document window."""
    problem = reply_problem(reply)
    if problem:
        return [Check("place", rect_text(requested), problem, False)]
    frame = rect_from_json(reply.get("frame"))
    content = rect_from_json(reply.get("content"))
    checks = [
        Check(
            "place: window where the reply says", rect_text(frame), rect_text(observed), rects_equal(frame, observed)
        ),
        Check(
            "place: content covers the rectangle",
            rect_text(requested),
            "%s (clamped %s)" % (rect_text(content), json.dumps(reply.get("clamped"))),
            rect_covers(content, requested),
        ),
    ]
    if window_id is not None:
        seen = "id %s" % reply.get("id")
        checks.append(Check("place: the document window", "id %s" % window_id, seen, reply.get("id") == window_id))
    return checks


# ---- loop-mode events ------------------------------------------------------


def events_of(lines):
    """The event objects among the helper's lines, in order."""
    out = []
    for line in lines:
        obj = parse_json_line(line)
        if obj is not None and "event" in obj:
            out.append(obj)
    return out


def frame_is(x=None, y=None, width=None, height=None):
    """A test on an event's frame: the given fields within TOLERANCE."""

    def test(event):
        frame = rect_from_json(event.get("frame"))
        if frame is None:
            return False
        wanted = {"x": x, "y": y, "width": width, "height": height}
        return all(v is None or abs(getattr(frame, k) - v) <= TOLERANCE for k, v in wanted.items())

    return test


def id_is(window_id):
    def test(event):
        return window_id is None or event.get("id") == window_id

    return test


def find_event(events, name, bundle, test=None):
    """The first event `name` of `bundle` that passes `test`, or None."""
    for event in events:
        if event.get("event") == name and event.get("bundleId") == bundle and (test is None or test(event)):
            return event
    return None


def event_text(event):
    if event is None:
        return "none"
    text = str(event.get("event"))
    if "frame" in event:
        text += " " + rect_text(rect_from_json(event["frame"]))
    if "id" in event:
        text += " id %s" % event["id"]
    return text


def check_event(events, name, bundle, expected, test=None):
    """Whether an expected event came; shows the last one of that name when
    none passed."""
    found = find_event(events, name, bundle, test)
    if found is not None:
        return Check("observe: " + name, expected, event_text(found), True)
    same = [e for e in events if e.get("event") == name]
    seen = "only " + event_text(same[-1]) if same else "no %s event" % name
    return Check("observe: " + name, expected, seen, False)


def check_event_once(events, name, bundle, label):
    """Exactly one `name` of `bundle`: an app that quits is reported once,
    whichever of the helper's ways of noticing it saw the quit first."""
    count = len([e for e in events if e.get("event") == name and e.get("bundleId") == bundle])
    return Check(label, "1 %s" % name, "%d %s" % (count, name), count == 1)


def check_no_event(events, name, label):
    found = [e for e in events if e.get("event") == name]
    return Check(label, "no %s" % name, event_text(found[0]) if found else "none", not found)


# ---- output ----------------------------------------------------------------


def clip(text, width):
    text = str(text)
    return text if len(text) <= width else text[: width - 1] + "\u2026"


def render_table(checks, width=40):
    """The table the user sees: check, expected, seen, pass/fail, ms."""
    header = ("check", "expected", "seen", "result", "ms")
    rows = [
        (
            c.name,
            clip(c.expected, width),
            clip(c.seen, width),
            result_text(c),
            "" if c.ms is None else str(int(c.ms)),
        )
        for c in checks
    ]
    widths = [max(len(r[i]) for r in [header] + rows) for i in range(len(header))]
    lines = []
    for row in [header] + rows:
        cells = [row[i].ljust(widths[i]) if i < 4 else row[i].rjust(widths[i]) for i in range(len(row))]
        lines.append("  ".join(cells).rstrip())
    lines.insert(1, "  ".join("-" * w for w in widths))
    lines.append("")
    lines.append(summary(checks))
    return "\n".join(lines)


def result_text(check):
    return "pass" if check.passed else "skip" if check.skipped else "FAIL"


def summary(checks):
    passed = sum(1 for c in checks if c.passed)
    judged = [c for c in checks if not c.skipped]
    text = "%d of %d checks passed" % (passed, len(judged))
    if len(judged) < len(checks):
        text += ", %d not judged" % (len(checks) - len(judged))
    return text


def render_failures(checks):
    """Each failed row's expected and seen text in full: the table cuts its
    cells, often just before the part that differs."""
    failed = [c for c in checks if c.failed]
    if not failed:
        return ""
    lines = ["Failed checks in full:"]
    for c in failed:
        lines.append("- %s" % c.name)
        lines.append("    expected: %s" % c.expected)
        lines.append("    seen:     %s" % c.seen)
        if c.note:
            lines.append("    note:     %s" % c.note)
    return "\n".join(lines)


def home_to_tilde(text, home):
    """`home` written as ~ wherever it starts a path, so a report can be
    passed on without the user's account name."""
    home = home.rstrip("/")
    if len(home) < 2:
        return text
    return re.sub(r"(?<![\w./-])" + re.escape(home) + r"(?![\w.-])", "~", text)


# ---- the machine ----------------------------------------------------------


AUTOMATION_DENIED = re.compile(r"\(-1743\)|\b-1743\b|errAEEventNotPermitted")


def automation_denied(text):
    """Whether osascript's error says the user (or an earlier answer) did not
    allow this app to send Apple events to the target, error -1743."""
    return bool(AUTOMATION_DENIED.search(text or ""))


SECURE_INPUT_PID = re.compile(r'"kCGSSessionSecureInputPID"\s*=\s*(\d+)')


def secure_input_pid(ioreg_text):
    """The process `ioreg -l -w 0` names as holding secure keyboard entry,
    or None when nothing holds it. The key is there only while some process
    has it on; the pid is best effort (it can name the app that was active
    rather than the one that asked)."""
    found = SECURE_INPUT_PID.search(ioreg_text or "")
    return int(found.group(1)) if found else None


def exit_text(returncode):
    """A process's end as the report says it: "exit 3" or "signal SIGSEGV"."""
    if returncode is None:
        return "still running"
    if returncode >= 0:
        return "exit %d" % returncode
    try:
        return "signal %s" % signal.Signals(-returncode).name
    except ValueError:
        return "signal %d" % -returncode


def parse_sw_vers(text):
    """`sw_vers` output ("ProductName:\tmacOS" ...) as a dict."""
    out = {}
    for line in (text or "").splitlines():
        key, sep, value = line.partition(":")
        if sep:
            out[key.strip()] = value.strip()
    return out


def responsible_app(processes, pid):
    """The app bundle among `pid`'s ancestors, from `ps -A -o pid=,ppid=,comm=`
    rows (pid, ppid, command): the terminal whose privacy settings count.
    Gives the bundle's path, or None when no ancestor runs from a bundle."""
    table = {p: (pp, command) for p, pp, command in processes}
    seen = set()
    while pid in table and pid not in seen:
        seen.add(pid)
        parent, command = table[pid]
        marker = command.find(".app/Contents/")
        if marker >= 0:
            return command[: marker + 4]
        pid = parent
    return None


def parse_ps(text):
    rows = []
    for line in (text or "").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) == 3 and parts[0].isdigit() and parts[1].isdigit():
            rows.append((int(parts[0]), int(parts[1]), parts[2]))
    return rows


class Transcript(object):
    """Every line between the self-check and the helper, in order, with the
    seconds since the start: "> " for what was sent (or the command line of
    a one-shot run), "< " for what the helper wrote, "! " for its standard
    error, "# " for notes."""

    def __init__(self, clock=time.monotonic):
        self._clock = clock
        self._start = clock()
        self.entries = []

    def add(self, direction, text):
        self.entries.append((self._clock() - self._start, direction, text))

    def sent(self, text):
        self.add(">", text)

    def received(self, text):
        self.add("<", text)

    def stderr(self, text):
        self.add("!", text)

    def note(self, text):
        self.add("#", text)

    def stderr_lines(self):
        return [text for _, direction, text in self.entries if direction == "!"]

    def render(self):
        return "\n".join("%9.3f %s %s" % (t, d, text) for t, d, text in self.entries)
