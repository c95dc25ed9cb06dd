#!/usr/bin/env python3
"""Checks a helper binary on this Mac against the system's own scripting.

    python3 tools/macos-selfcheck.py PATH/TO/kestrove [--interactive] [--arch x86_64] [--report FILE]

Point it at the binary that ships (the `kestrove` of the universal archive),
not only at a local build: that is the file users run. With --arch x86_64 it
runs the helper's Intel slice through Rosetta (`arch -x86_64`).

The observer is independent of the helper: sw_vers for the version, AppKit's
NSScreen read through osascript's JavaScript bridge for the displays, and
System Events for where TextEdit's window really is. The self-check opens
TextEdit with one new document, lists, places and watches its window, closes
it and quits TextEdit; with --interactive it also asks you to hold and to tap
Escape. It prints one table (check, expected, seen, pass/fail, milliseconds)
and writes a report file naming the binary it checked (sha-256, slices,
build version, bundle identifier) with every line that passed between it and
the helper; attach that file to a bug report. The report is written whatever
happens, Ctrl-C included.

Needs only the Python 3 of Xcode's command-line tools. TextEdit must not be
running when it starts (it quits TextEdit at the end). It says before each
system dialog what is coming: Accessibility for the app you run it from
(Terminal, iTerm, ...), Automation of TextEdit and of System Events, and
possibly Input Monitoring for the Escape checks.

Exit status: 0 when every check passed, 1 when one failed, 2 when it could
not run.
"""

import argparse
import json
import os
import platform
import plistlib
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import macos_selfcheck_logic as logic  # noqa: E402
import macos_selfcheck_macho as macho  # noqa: E402
from macos_selfcheck_helper import Helper  # noqa: E402,F401 (the tests reach it here)

BUNDLE = "com.apple.TextEdit"
OSASCRIPT_TIMEOUT = 120  # seconds; the first run waits for the user to allow automation
SETTLE = 1.0  # seconds to wait for a second event that must not come

ACCESSIBILITY_SETTINGS = "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"

NSSCREEN_SCRIPT = """
ObjC.import('AppKit');
$.NSApplication.sharedApplication;
function rect(r) {
  return {x: r.origin.x, y: r.origin.y, width: r.size.width, height: r.size.height};
}
var list = $.NSScreen.screens;
var out = [];
for (var i = 0; i < list.count; i++) {
  var s = list.objectAtIndex(i);
  var n = s.deviceDescription.objectForKey('NSScreenNumber');
  out.push({frame: rect(s.frame), visibleFrame: rect(s.visibleFrame),
            number: n.isNil() ? null : n.integerValue, scale: s.backingScaleFactor});
}
JSON.stringify(out);
"""

WINDOW_FRAME_SCRIPT = """
function run(argv) {
  var w = Application('System Events').processes.byName('TextEdit').windows.byName(argv[0]);
  return JSON.stringify({position: w.position(), size: w.size()});
}
"""

MOVE_WINDOW_SCRIPT = """
function run(argv) {
  var w = Application('System Events').processes.byName('TextEdit').windows.byName(argv[0]);
  w.position = [Number(argv[1]), Number(argv[2])];
  return '';
}
"""

RESIZE_WINDOW_SCRIPT = """
function run(argv) {
  var w = Application('System Events').processes.byName('TextEdit').windows.byName(argv[0]);
  w.size = [Number(argv[1]), Number(argv[2])];
  return '';
}
"""

TEXTEDIT_RUNNING_SCRIPT = 'application id "com.apple.TextEdit" is running'

CLOSE_DOCUMENT_SCRIPT = """
on run argv
  tell application id "com.apple.TextEdit" to close document (item 1 of argv) saving no
end run
"""

QUIT_TEXTEDIT_SCRIPT = 'tell application id "com.apple.TextEdit" to quit saving no'

# Argument domain for this launch only (the user's own TextEdit preferences
# stay as they are): no restored documents from an earlier session and, where
# TextEdit would show its Open panel at launch, an untitled document instead.
# Not `open -F`, which throws the user's saved window state away.
TEXTEDIT_LAUNCH = [
    "open", "-b", BUNDLE, "--args",
    "-ApplePersistenceIgnoreState", "YES",
    "-NSShowAppCentricOpenPanelInsteadOfUntitledFile", "NO",
]

DOCUMENT_SCRIPT = """
tell application id "com.apple.TextEdit"
  activate
  if (count of documents) is 0 then make new document
  return name of document 1
end tell
"""


def trust_help(terminal):
    return """The helper is not trusted for Accessibility. Trust belongs to the app this
runs from, %s, not to the helper. macOS shows its Accessibility dialog only
the first time an app asks; if no dialog appears, open
  System Settings > Privacy & Security > Accessibility
  (macOS 12: System Preferences > Security & Privacy > Privacy > Accessibility)
  or: open "%s"
and turn it on for %s (use + to add it if it is not listed).""" % (
        terminal.name, ACCESSIBILITY_SETTINGS, terminal.name)


def automation_help(terminal, target):
    return """macOS did not let %s control %s (error -1743), so the self-check stops
asking. Allow it in System Settings > Privacy & Security > Automation: under
%s, turn on %s. If %s is not listed there, clear the earlier answer with
  tccutil reset AppleEvents %s
and run the self-check again: macOS then asks once more.""" % (
        terminal.name, target, terminal.name, target, terminal.name, terminal.bundle_id or "BUNDLE_ID_OF_YOUR_TERMINAL")


class ObserverError(Exception):
    pass


class AutomationDenied(ObserverError):
    def __init__(self, target, text):
        ObserverError.__init__(self, "%s: not allowed to control it (%s)" % (target, text))
        self.target = target


def environment():
    """The environment of everything this starts, helper and observer alike.
    With SYSTEM_VERSION_COMPAT=1 macOS 26 calls itself 16 to both."""
    env = dict(os.environ)
    env.pop("SYSTEM_VERSION_COMPAT", None)
    return env


class Observer(object):
    """osascript, sw_vers, ioreg, ps: what the system itself says."""

    def __init__(self, transcript):
        self.transcript = transcript

    def _execute(self, command, timeout):
        """(exit status, stdout, stderr) of one command; None when it could
        not start or did not end in time."""
        try:
            done = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=environment())
        except subprocess.TimeoutExpired:
            return None, "", "no answer in %d s" % timeout
        except OSError as e:
            return None, "", "could not run: %s" % e
        return done.returncode, done.stdout, done.stderr

    def _run(self, command, target=None):
        status, out, err = self._execute(command, OSASCRIPT_TIMEOUT)
        out, err = out.strip(), err.strip()
        shown = out if len(out) < 2000 else out[:2000] + "..."
        self.transcript.note("observer %s: %s%s" % (command[0], shown, " | " + err if err else ""))
        if status != 0:
            if target and logic.automation_denied(err):
                raise AutomationDenied(target, err)
            raise ObserverError("%s failed: %s" % (command[0], err or status))
        return out

    def _quiet(self, command):
        """What an informational command printed, or None: these only add to
        the report and never stop the run."""
        status, out, _ = self._execute(command, 30)
        return out if status == 0 else None

    def applescript(self, script, *args):
        return self._run(["osascript", "-e", script] + [str(a) for a in args], target="TextEdit")

    def javascript(self, script, *args):
        return self._run(["osascript", "-l", "JavaScript", "-e", script] + [str(a) for a in args],
                         target="System Events")

    def sw_vers(self):
        return self._run(["sw_vers"])

    def screens(self):
        return parse_json(self._run(["osascript", "-l", "JavaScript", "-e", NSSCREEN_SCRIPT]))

    def window_frame(self, name):
        return logic.rect_from_position_size(parse_json(self.javascript(WINDOW_FRAME_SCRIPT, name)))

    def textedit_running(self):
        return self._run(["osascript", "-e", TEXTEDIT_RUNNING_SCRIPT]) == "true"

    def launch_textedit(self):
        self._run(TEXTEDIT_LAUNCH)

    def secure_input(self):
        return self._quiet(["ioreg", "-l", "-w", "0"]) or ""

    def processes(self):
        return self._quiet(["ps", "-A", "-o", "pid=,ppid=,comm="]) or ""

    def lipo_archs(self, path):
        out = self._quiet(["lipo", "-archs", path])
        return out.strip() if out else None

    def quarantine(self, path):
        out = self._quiet(["xattr", "-p", "com.apple.quarantine", path])
        return out.strip() if out else None

    def runs_arch(self, arch):
        """Whether this Mac runs code of `arch` (x86_64 on Apple silicon:
        whether Rosetta is installed); /usr/bin/true has every slice."""
        return self._quiet(["arch", "-" + arch, "/usr/bin/true"]) is not None


def parse_json(text):
    try:
        return json.loads(text)
    except ValueError:
        raise ObserverError("observer printed no JSON: %r" % text[:200])


class Terminal(object):
    """The app macOS holds responsible for this run: its privacy settings
    are the ones that count."""

    def __init__(self, path=None, bundle_id=None):
        self.path = path
        self.bundle_id = bundle_id
        if path:
            self.name = os.path.basename(path)[: -len(".app")]
        elif bundle_id:
            self.name = bundle_id
        else:
            self.name = "the app you run this from"

    # Names of terminals that say who they are only in TERM_PROGRAM.
    TERM_PROGRAMS = {"Apple_Terminal": "Terminal", "iTerm.app": "iTerm", "vscode": "Visual Studio Code",
                     "WarpTerminal": "Warp"}

    @classmethod
    def find(cls, observer, env):
        path = logic.responsible_app(logic.parse_ps(observer.processes()), os.getpid())
        bundle_id = env.get("__CFBundleIdentifier")
        if path and not bundle_id:
            try:
                with open(os.path.join(path, "Contents", "Info.plist"), "rb") as f:
                    bundle_id = plistlib.load(f).get("CFBundleIdentifier")
            except Exception:  # an unreadable plist only costs the identifier
                bundle_id = None
        terminal = cls(path, bundle_id)
        program = env.get("TERM_PROGRAM")
        if not path and program:
            terminal.name = cls.TERM_PROGRAMS.get(program, program)
        return terminal

    def text(self):
        return "%s (%s, %s)" % (self.name, self.path or "path unknown", self.bundle_id or "bundle id unknown")


class Stop(Exception):
    """Ends the run after a row that makes the rest pointless."""


class Run(object):
    """One self-check: a list of steps, each of which adds rows. A step that
    fails in any way, the user's Ctrl-C included, becomes a failed row; the
    rows gathered so far always reach the table and the report."""

    def __init__(self, helper_path, interactive, observer=None, ask=None, arch=None, settle=SETTLE, out=None):
        self.transcript = logic.Transcript()
        self.observer = observer or Observer(self.transcript)
        if getattr(self.observer, "transcript", None) is None:
            # An observer made before the run writes to the run's transcript.
            self.observer.transcript = self.transcript
        self.env = environment()
        prefix = ["arch", "-" + arch] if arch else []
        self.helper = Helper(helper_path, self.transcript, prefix=prefix, env=self.env)
        self.helper_path = helper_path
        self.arch = arch
        self.interactive = interactive
        self.ask = ask
        self.settle = settle
        self.out = out or sys.stdout
        self.checks = []
        self.header = []
        self.terminal = Terminal()
        self.launched_textedit = False
        self.document = None
        self.window_id = None
        self.place_rect = None
        self.sw_vers = {}
        self.denied = set()
        self.ended = None

    # ---- rows ----

    def add(self, checks, started):
        ms = (time.monotonic() - started) * 1000
        for check in checks if isinstance(checks, list) else [checks]:
            check.ms = ms
            self.checks.append(check)

    def fail(self, name, expected, seen, note=""):
        self.checks.append(logic.Check(name, expected, seen, False, note=note))

    def say(self, text):
        self.out.write(text + "\n")
        self.out.flush()

    def prompt(self, text):
        """The user's answer, or None when nobody can answer (no terminal,
        or its input closed)."""
        if self.ask is None:
            return None
        try:
            return self.ask(text)
        except EOFError:
            return None

    # ---- the run ----

    def run(self):
        steps = [
            ("machine", self._machine),
            ("binary", self._binary),
            ("version", self._version),
            ("trusted", self._trust),
            ("screens (one-shot)", self._screens_oneshot),
            ("TextEdit", self._textedit),
            ("place", self._place),
            ("screens (loop)", self._screens_loop),
            ("observe", self._observe),
            ("escape", self._escape),
            ("quit", self._quit),
        ]
        try:
            for name, step in steps:
                if self.ended:
                    break
                self._step(name, step)
        finally:
            self._clean_up()
        stderr = self.transcript.stderr_lines()
        self.checks.append(
            logic.Check("helper writes nothing to stderr", "nothing", "%d lines" % len(stderr), not stderr)
        )

    def _step(self, name, step):
        started = time.monotonic()
        try:
            step()
        except Stop:
            self.ended = name
        except KeyboardInterrupt:
            self.add(logic.Check(name, "to finish", "interrupted (Ctrl-C)", False), started)
            self.ended = "interrupted"
        except AutomationDenied as e:
            self.add(logic.Check(name, "%s allowed to control %s" % (self.terminal.name, e.target), str(e), False),
                     started)
            self.say(automation_help(self.terminal, e.target))
            self.denied.add(e.target)
            # Asking again only repeats the denial; what needs TextEdit stops.
            self.document = None
        except ObserverError as e:
            self.add(logic.Check(name, "an answer from the observer", str(e), False), started)
        except Exception as e:
            self.transcript.note("unexpected error in %s:\n%s" % (name, traceback.format_exc().rstrip()))
            self.add(logic.Check(name, "no error", "unexpected %s: %s" % (type(e).__name__, e), False), started)

    def _clean_up(self):
        for what, action in (("stopping the helper", self.helper.stop), ("quitting TextEdit", self._quit_textedit)):
            try:
                action()
            except BaseException as e:  # a second Ctrl-C must not cost the report
                self.transcript.note("%s failed: %s" % (what, type(e).__name__))

    def _quit_textedit(self):
        if not self.launched_textedit:
            return
        self.launched_textedit = False
        if "TextEdit" in self.denied:
            self.say("TextEdit is still open: the self-check may not control it, so quit it yourself.")
        elif self.observer.textedit_running():
            self.observer.applescript(QUIT_TEXTEDIT_SCRIPT)

    # ---- steps ----

    def _machine(self):
        text = self.observer.sw_vers()
        self.sw_vers = logic.parse_sw_vers(text)
        self.header.append(
            "macOS: %s %s (%s), sw_vers"
            % (self.sw_vers.get("ProductName", "?"), self.sw_vers.get("ProductVersion", "?"),
               self.sw_vers.get("BuildVersion", "?"))
        )
        self.header.append("machine: %s, Python %s" % (platform.machine(), platform.python_version()))
        self.terminal = Terminal.find(self.observer, self.env)
        self.header.append("run from: %s" % self.terminal.text())

    def _binary(self):
        lines, info = macho.describe_file(self.helper_path)
        self.header.append("helper: %s" % self.helper_path)
        self.header.append("  run as: %s" % ("arch -%s (Rosetta)" % self.arch if self.arch else "native"))
        self.header.extend("  " + line for line in lines)
        self.header.append("  lipo -archs: %s" % (self.observer.lipo_archs(self.helper_path) or "not available"))
        quarantine = self.observer.quarantine(self.helper_path)
        self.header.append("  quarantine: %s" % (quarantine or "none"))
        if quarantine:
            # Gatekeeper may refuse a quarantined ad-hoc-signed binary outright.
            self.say("The helper carries the quarantine flag of a download; if macOS refuses to run it, clear "
                     "the flag with: /usr/bin/xattr -dr com.apple.quarantine %s" % self.helper_path)
        if self.arch:
            started = time.monotonic()
            archs = [s["arch"] for s in info["slices"]] if info else []
            runs = self.observer.runs_arch(self.arch)
            if runs:
                where = "arch -%s runs here" % self.arch
            elif self.arch == "x86_64":
                where = "Rosetta is not installed (softwareupdate --install-rosetta)"
            else:
                where = "this Mac does not run %s code" % self.arch
            seen = "slices %s; %s" % (" ".join(archs) or "none", where)
            passed = self.arch in archs and runs
            self.add(logic.Check("binary: %s slice runs" % self.arch, "a %s slice this Mac runs" % self.arch, seen,
                                 passed), started)
            if not passed:
                raise Stop()

    def _version(self):
        started = time.monotonic()
        version = self.sw_vers.get("ProductVersion", "")
        self.add(logic.check_version(self.helper.oneshot("version"), version), started)

    def _trust(self):
        started = time.monotonic()
        reply = self.helper.oneshot("trusted")
        if reply and reply.get("trusted") is True:
            self.add(logic.Check("trusted", "true", "true", True), started)
            return
        problem = self.helper.problem(reply)
        if problem:
            self.add(logic.Check("trusted", "true", problem, False), started)
            raise Stop()
        self.say(trust_help(self.terminal))
        # Asked of a loop-mode helper that keeps running, so that a grant made
        # now must reach it without a restart.
        helper = self.helper
        helper.start_loop()
        prompt = helper.request("trusted prompt")
        self.transcript.note("trusted prompt: %s" % (helper.problem(prompt) or "ok"))
        running = False
        for _ in range(5):
            answer = self.prompt("Turn it on, then press Return here (q and Return to stop): ")
            if answer is None or answer.strip().lower().startswith("q"):
                break
            reply = helper.request("trusted")
            running = bool(reply and reply.get("trusted") is True)
            if running or helper.problem(reply):
                break
            self.say("The helper still says it is not trusted.")
        after = self.helper.oneshot("trusted")
        fresh = bool(after and after.get("trusted") is True)
        waited = "" if self.ask else " (nobody could answer: standard input is not a terminal)"
        seen = "false at the start%s; after: running helper %s, new helper %s" % (
            waited, str(running).lower(), str(fresh).lower())
        self.add(logic.Check("trusted", "true", seen, fresh), started)
        self.add(logic.Check("trusted: a running helper sees the grant", "true, no restart",
                             str(running).lower(), running), started)
        if not (running or fresh):
            raise Stop()

    def _screens_oneshot(self):
        started = time.monotonic()
        nsscreens = self.observer.screens()
        self.add(logic.check_screens(self.helper.oneshot("screens"), nsscreens, "screens (one-shot)"), started)

    def _textedit(self):
        started = time.monotonic()
        if self.observer.textedit_running():
            self.fail("TextEdit not running at the start", "not running", "running: quit it, run again")
            return
        self.say('macOS may now ask whether "%s" may control "TextEdit", then "System Events": '
                 "choose Allow (OK) each time; the self-check waits." % self.terminal.name)
        self.launched_textedit = True
        self.observer.launch_textedit()
        name = self.observer.applescript(DOCUMENT_SCRIPT)
        observed = self._wait_for_window(name)
        reply = self.helper.oneshot("windows", BUNDLE)
        listed, window = logic.check_window_listed(reply, observed)
        self.add([logic.check_window_state(reply), listed], started)
        self.document = name
        self.window_id = window.get("id") if window else None

    def _place(self):
        if self.document is None:
            self.checks.append(logic.skipped("place", "placed", "not judged: no TextEdit document"))
            return
        screens = logic.expected_screens(self.observer.screens())
        if not screens:
            self.fail("place", "a screen to place on", "NSScreen listed no screen")
            return
        visible = screens[0]["visibleFrame"]
        rect = logic.Rect(visible.x + 60, visible.y + 40, 640, 400)
        started = time.monotonic()
        placed = self.helper.oneshot("place", BUNDLE, *[logic.number_text(v) for v in rect])
        if placed is None:
            self.add(logic.Check("place", logic.rect_text(rect), self.helper.problem(None), False), started)
            return
        frame = logic.rect_from_json(placed.get("frame"))
        observed = self._settled_frame(self.document, frame)
        self.add(logic.check_place(placed, rect, observed, self.window_id), started)
        self.place_rect = rect

    def _wait_for_window(self, name, seconds=10):
        deadline = time.monotonic() + seconds
        while True:
            try:
                return self.observer.window_frame(name)
            except AutomationDenied:
                raise
            except ObserverError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.25)

    def _settled_frame(self, name, expected, seconds=1.0):
        """System Events' frame, read again for up to a second while it
        differs: its own view may lag the window by a moment."""
        deadline = time.monotonic() + seconds
        frame = self.observer.window_frame(name)
        while not logic.rects_equal(frame, expected) and time.monotonic() < deadline:
            time.sleep(0.1)
            frame = self.observer.window_frame(name)
        return frame

    def _screens_loop(self):
        self.helper.start_loop()
        started = time.monotonic()
        nsscreens = self.observer.screens()
        reply = self.helper.request("screens")
        if reply is None:
            self.add(logic.Check("screens (loop)", "%d screens" % len(nsscreens), self.helper.problem(None), False),
                     started)
            return
        self.add(logic.check_screens(reply, nsscreens, "screens (loop)"), started)

    def _observe(self):
        helper = self.helper
        if self.document is None or self.place_rect is None:
            self.checks.append(logic.skipped("observe", "events", "not judged: no placed TextEdit document"))
            return
        name, rect, window_id = self.document, self.place_rect, self.window_id
        started = time.monotonic()
        reply = helper.request("observe " + BUNDLE)
        observing = bool(reply and reply.get("observing") is True)
        seen = helper.problem(reply) or "observing %s" % json.dumps(reply.get("observing"))
        self.add(logic.Check("observe", "observing", seen, observing), started)
        if not observing:
            return

        x, y = rect.x + 40, rect.y + 30
        started = time.monotonic()
        self.observer.javascript(MOVE_WINDOW_SCRIPT, name, logic.number_text(x), logic.number_text(y))
        test = logic.frame_is(x=x, y=y)
        helper.wait_for(lambda events: logic.find_event(events, "moved", BUNDLE, test))
        expected = "moved to %s,%s" % (logic.number_text(x), logic.number_text(y))
        self.add(logic.check_event(helper.events, "moved", BUNDLE, expected, test), started)

        width, height = 560, 380
        started = time.monotonic()
        self.observer.javascript(RESIZE_WINDOW_SCRIPT, name, width, height)
        test = logic.frame_is(width=width, height=height)
        helper.wait_for(lambda events: logic.find_event(events, "resized", BUNDLE, test))
        expected = "resized to %dx%d" % (width, height)
        self.add(logic.check_event(helper.events, "resized", BUNDLE, expected, test), started)

        started = time.monotonic()
        self.observer.applescript(CLOSE_DOCUMENT_SCRIPT, name)
        test = logic.id_is(window_id)
        helper.wait_for(lambda events: logic.find_event(events, "window_closed", BUNDLE, test))
        expected = "window_closed id %s" % window_id
        self.add(logic.check_event(helper.events, "window_closed", BUNDLE, expected, test), started)

        started = time.monotonic()
        self.observer.applescript(QUIT_TEXTEDIT_SCRIPT)
        self.launched_textedit = False
        helper.wait_for(lambda events: logic.find_event(events, "app_quit", BUNDLE))
        self.add(logic.check_event(helper.events, "app_quit", BUNDLE, "app_quit"), started)
        if logic.find_event(helper.events, "app_quit", BUNDLE):
            # The helper notices a quit in more than one way; the caller must
            # hear of it once.
            helper.drain(self.settle)
            self.add(logic.check_event_once(helper.events, "app_quit", BUNDLE, "observe: app_quit once"), started)

    def _escape(self):
        if not self.interactive:
            self.say("Escape checks skipped (run with --interactive to do them).")
            return
        helper = self.helper
        if not self._secure_input_off():
            return
        self.say("macOS may ask whether %s may monitor input (Input Monitoring). If it offers "
                 '"Quit & Reopen", choose "Later": quitting %s ends this run. Allow it in System Settings > '
                 "Privacy & Security > Input Monitoring, and run again if the rows fail."
                 % (self.terminal.name, self.terminal.name))
        started = time.monotonic()
        reply = helper.request("watch-esc")
        watching = bool(reply and reply.get("watching") is True)
        seen = helper.problem(reply) or "watching %s" % json.dumps(reply.get("watching"))
        self.add(logic.Check("watch-esc", "watching", seen, watching), started)
        if not watching:
            return
        before = len(helper.events)
        if self.prompt("Hold Escape down for about a second, let go, then press Return here: ") is None:
            self.checks.append(logic.skipped("escape held", "esc_long", "not judged: nobody at the keyboard"))
            return
        started = time.monotonic()
        helper.wait_for(lambda events: logic.find_event(events[before:], "esc_long", None), timeout=2)
        held = [e for e in helper.events[before:] if e.get("event") == "esc_long"]
        seen = logic.event_text(held[0]) if held else "none"
        self.add(logic.Check("escape held", "esc_long", seen, bool(held)), started)
        if not held:
            # A tap that gives nothing proves nothing while a hold gives nothing too.
            self.checks.append(logic.skipped("escape tapped", "no esc_long", "not judged: the hold gave no esc_long"))
            return

        before = len(helper.events)
        self.prompt("Now tap Escape once, quickly, then press Return here: ")
        started = time.monotonic()
        helper.drain(self.settle)
        self.add(logic.check_no_event(helper.events[before:], "esc_long", "escape tapped"), started)

    def _secure_input_off(self):
        """Secure keyboard entry (Terminal's menu, some terminals always)
        hides every key from global monitors; the Escape rows mean nothing
        while it is on."""
        for attempt in range(3):
            started = time.monotonic()
            pid = logic.secure_input_pid(self.observer.secure_input())
            if pid is None:
                self.add(logic.Check("secure keyboard entry off", "off", "off", True), started)
                return True
            table = {p: command for p, _, command in logic.parse_ps(self.observer.processes())}
            holder = "pid %d (%s)" % (pid, table.get(pid, "unknown process"))
            self.say("Secure keyboard entry is on, held by %s: no app sees keys while it is. Turn it off "
                     "(Terminal: Terminal > Secure Keyboard Entry; iTerm2: iTerm2 > Secure Keyboard Entry; "
                     "a password field that has focus holds it too)." % holder)
            answer = self.prompt("Then press Return here (s and Return to skip the Escape checks): ")
            if answer is None or answer.strip().lower().startswith("s") or attempt == 2:
                self.add(logic.Check("secure keyboard entry off", "off", "on, held by " + holder, False), started)
                for name, expected in (("escape held", "esc_long"), ("escape tapped", "no esc_long")):
                    self.checks.append(logic.skipped(name, expected, "not judged: secure keyboard entry is on"))
                return False
        return False

    def _quit(self):
        helper = self.helper
        if not helper.looping:
            return
        started = time.monotonic()
        reply = helper.request("quit")
        status = helper.exit_status(wait=5) or "none in 5 s"
        problem = logic.reply_problem(reply)
        seen = "%s, %s" % (problem or "ok", status)
        self.add(logic.Check("quit", "ok, exit 0", seen, not problem and status == "exit 0"), started)


def write_report(path, run):
    home = os.path.expanduser("~")
    parts = [
        "kestrove macOS self-check",
        "date: %s" % time.strftime("%Y-%m-%d %H:%M:%S %z"),
    ]
    parts.extend(run.header or ["helper: %s" % run.helper_path])
    parts.append("")
    parts.append(logic.render_table(run.checks, width=200))
    failures = logic.render_failures(run.checks)
    if failures:
        parts.extend(["", failures])
    parts.extend([
        "",
        "Every line exchanged with the helper, and the observer's answers",
        "(seconds since the start; > sent, < received, ! standard error, # note):",
        run.transcript.render(),
        "",
    ])
    with open(path, "w") as out:
        out.write(logic.home_to_tilde("\n".join(parts), home))


def helper_file(path):
    """The absolute path of the helper file, or why it is not one. A bare
    name means the file here, never a search of PATH."""
    resolved = os.path.abspath(os.path.expanduser(path))
    if not os.path.isfile(resolved):
        return resolved, "%s is not a file" % resolved
    if not os.access(resolved, os.X_OK):
        return resolved, "%s is not executable" % resolved
    return resolved, None


def selfcheck(helper, report, interactive=False, arch=None, observer=None, ask=None, settle=SETTLE, out=None):
    """The whole self-check: runs, prints the table, writes the report.
    Returns the exit status."""
    out = out or sys.stdout
    path, problem = helper_file(helper)
    run = Run(path, interactive, observer=observer, ask=ask, arch=arch, settle=settle, out=out)
    status = None
    try:
        if problem:
            run.fail("helper file", "an executable file", problem)
            status = 2
        else:
            run.run()
    except BaseException as e:  # the report below is the point of the run
        run.fail("self-check", "to finish", "stopped by %s: %s" % (type(e).__name__, e))
        run.transcript.note(traceback.format_exc().rstrip())
    finally:
        try:
            out.write("\n" + logic.render_table(run.checks) + "\n")
            failures = logic.render_failures(run.checks)
            if failures:
                out.write("\n" + failures + "\n")
        except Exception:  # a closed terminal; the report still gets written
            pass
        try:
            write_report(report, run)
        except OSError as e:
            out.write("\nCould not write %s (%s); writing the report to the temporary folder.\n" % (report, e))
            report = os.path.join(tempfile.gettempdir(), os.path.basename(report) or "kestrove-selfcheck.txt")
            write_report(report, run)
        out.write("\nReport with every line exchanged: %s\n" % os.path.abspath(report))
    if status is None and run.ended == "binary":
        status = 2  # the slice asked for cannot run here: nothing was checked
    if status is None:
        status = 0 if not any(c.failed for c in run.checks) else 1
    return status


def main(argv=None):
    parser = argparse.ArgumentParser(description="Checks the helper on this Mac against the system's scripting.")
    parser.add_argument("helper", help="path of the helper binary (the one that ships: the archive's kestrove)")
    parser.add_argument(
        "--interactive", action="store_true", help="also check the Escape hold watch (asks you to press Escape)"
    )
    parser.add_argument("--arch", choices=["x86_64", "arm64"], help="run this slice of a universal binary (arch -ARCH)")
    parser.add_argument("--report", help="report file (default: kestrove-selfcheck-DATE.txt here)")
    args = parser.parse_args(argv)

    if sys.platform != "darwin":
        print(
            "macos-selfcheck: this runs only on macOS, where it checks the helper against the system's "
            "own scripting (osascript, System Events); this machine runs %s." % platform.system(),
            file=sys.stderr,
        )
        return 2
    report = args.report or time.strftime("kestrove-selfcheck-%Y%m%d-%H%M%S.txt")
    ask = input if sys.stdin.isatty() else None
    return selfcheck(args.helper, report, interactive=args.interactive, arch=args.arch, ask=ask)


if __name__ == "__main__":
    sys.exit(main())
