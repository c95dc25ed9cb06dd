#!/usr/bin/env python3
"""Checks a built helper on this Mac against the system's own scripting.

    python3 tools/macos-selfcheck.py PATH/TO/kestrove [--interactive] [--report FILE]

The observer is independent of the helper: sw_vers for the version, AppKit's
NSScreen read through osascript's JavaScript bridge for the displays, and
System Events for where TextEdit's window really is. The self-check opens
TextEdit with a new document, lists, places and watches its window, closes
it and quits TextEdit; with --interactive it also asks you to hold and to tap
Escape. It prints one table (check, expected, seen, pass/fail, milliseconds)
and writes a report file with every line that passed between it and the
helper; attach that file to a bug report.

Needs only the Python 3 of Xcode's command-line tools. TextEdit must not be
running when it starts (it quits TextEdit at the end). The app you run it
from (Terminal, iTerm, ...) needs Accessibility trust, and macOS asks once
whether it may control TextEdit and System Events.

Exit status: 0 when every check passed, 1 when one failed, 2 when it could
not run.
"""

import argparse
import json
import os
import platform
import queue
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import macos_selfcheck_logic as logic  # noqa: E402

BUNDLE = "com.apple.TextEdit"
OSASCRIPT_TIMEOUT = 120  # seconds; the first run waits for the user to allow automation
HELPER_TIMEOUT = 20
EVENT_TIMEOUT = 5

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

NEW_DOCUMENT_SCRIPT = """
tell application id "com.apple.TextEdit"
  activate
  set d to make new document
  return name of d
end tell
"""

CLOSE_DOCUMENT_SCRIPT = """
on run argv
  tell application id "com.apple.TextEdit" to close document (item 1 of argv) saving no
end run
"""

QUIT_TEXTEDIT_SCRIPT = 'tell application id "com.apple.TextEdit" to quit saving no'

TRUST_HELP = """The helper is not trusted for Accessibility; macOS should now show its prompt.
Trust belongs to the app this runs from (Terminal, iTerm, ...): open
System Settings > Privacy & Security > Accessibility (before macOS 13:
System Preferences > Security & Privacy > Privacy > Accessibility), turn it
on for that app, quit and reopen the app, and run the self-check again."""


class ObserverError(Exception):
    pass


class Observer(object):
    """osascript, sw_vers: what the system itself says."""

    def __init__(self, transcript):
        self.transcript = transcript

    def _run(self, command):
        try:
            done = subprocess.run(
                command, capture_output=True, text=True, timeout=OSASCRIPT_TIMEOUT, env=self._env()
            )
        except subprocess.TimeoutExpired:
            raise ObserverError("%s did not answer in %d s" % (command[0], OSASCRIPT_TIMEOUT))
        out, err = done.stdout.strip(), done.stderr.strip()
        self.transcript.note("observer %s: %s%s" % (command[0], out, " | " + err if err else ""))
        if done.returncode != 0:
            raise ObserverError("%s failed: %s" % (command[0], err or done.returncode))
        return out

    @staticmethod
    def _env():
        # With SYSTEM_VERSION_COMPAT=1 macOS 26 calls itself 16 to scripts.
        env = dict(os.environ)
        env.pop("SYSTEM_VERSION_COMPAT", None)
        return env

    def applescript(self, script, *args):
        return self._run(["osascript", "-e", script] + [str(a) for a in args])

    def javascript(self, script, *args):
        return self._run(["osascript", "-l", "JavaScript", "-e", script] + [str(a) for a in args])

    def sw_vers(self):
        return self._run(["sw_vers", "-productVersion"])

    def screens(self):
        return parse_json(self.javascript(NSSCREEN_SCRIPT))

    def window_frame(self, name):
        return logic.rect_from_position_size(parse_json(self.javascript(WINDOW_FRAME_SCRIPT, name)))

    def textedit_running(self):
        return self.applescript(TEXTEDIT_RUNNING_SCRIPT) == "true"


def parse_json(text):
    try:
        return json.loads(text)
    except ValueError:
        raise ObserverError("observer printed no JSON: %r" % text[:200])


class Helper(object):
    """The helper in one-shot mode and in loop mode, every line kept."""

    def __init__(self, path, transcript):
        self.path = path
        self.transcript = transcript
        self.proc = None
        self.readers = []
        self.lines = queue.Queue()
        self.events = []
        self.replies = {}
        self.next_id = 0

    def oneshot(self, *args):
        self.transcript.sent("kestrove " + " ".join(args))
        try:
            done = subprocess.run(
                [self.path] + list(args), capture_output=True, text=True, timeout=HELPER_TIMEOUT
            )
        except subprocess.TimeoutExpired:
            self.transcript.note("no reply in %d s" % HELPER_TIMEOUT)
            return None
        for line in done.stdout.splitlines():
            self.transcript.received(line)
        for line in done.stderr.splitlines():
            self.transcript.stderr(line)
        self.transcript.note("exit %d" % done.returncode)
        lines = done.stdout.splitlines()
        return logic.parse_json_line(lines[0]) if len(lines) == 1 else None

    # ---- loop mode ----

    def start_loop(self):
        self.transcript.note("loop mode: kestrove")
        pipe = subprocess.PIPE
        self.proc = subprocess.Popen([self.path], stdin=pipe, stdout=pipe, stderr=pipe, text=True, bufsize=1)
        for stream, out in ((self.proc.stdout, True), (self.proc.stderr, False)):
            reader = threading.Thread(target=self._read, args=(stream, out), daemon=True)
            reader.start()
            self.readers.append(reader)

    def _read(self, stream, is_stdout):
        for line in stream:
            line = line.rstrip("\n")
            if is_stdout:
                self.transcript.received(line)
                self.lines.put(line)
            else:
                self.transcript.stderr(line)
        if is_stdout:
            self.lines.put(None)

    def send(self, text):
        self.transcript.sent(text)
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def _take(self, deadline):
        """Files the next line as an event or a reply; False when none came."""
        try:
            line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            return False
        if line is None:
            return False
        obj = logic.parse_json_line(line)
        if obj is not None and "event" in obj:
            self.events.append(obj)
        elif obj is not None and "id" in obj:
            self.replies[obj["id"]] = obj
        return True

    def request(self, command, timeout=HELPER_TIMEOUT):
        self.next_id += 1
        number = self.next_id
        self.send("#%d %s" % (number, command))
        deadline = time.monotonic() + timeout
        while number not in self.replies and self._take(deadline):
            pass
        return self.replies.get(number)

    def wait_for(self, test, timeout=EVENT_TIMEOUT):
        """Takes lines until `test(events)` holds or the time is up."""
        deadline = time.monotonic() + timeout
        while not test(self.events) and self._take(deadline):
            pass
        return test(self.events)

    def drain(self, seconds):
        deadline = time.monotonic() + seconds
        while self._take(deadline):
            pass

    def stop(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
                self.proc.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        for reader in self.readers:
            reader.join(timeout=2)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except OSError:
                pass
        self.proc = None


class Run(object):
    def __init__(self, helper_path, interactive, observer=None):
        self.transcript = logic.Transcript()
        self.observer = observer or Observer(self.transcript)
        self.helper = Helper(helper_path, self.transcript)
        self.interactive = interactive
        self.checks = []
        self.launched_textedit = False

    def add(self, checks, started):
        ms = (time.monotonic() - started) * 1000
        for check in checks if isinstance(checks, list) else [checks]:
            check.ms = ms
            self.checks.append(check)

    def fail(self, name, expected, seen):
        self.checks.append(logic.Check(name, expected, seen, False))

    def run(self):
        try:
            self._run()
        except ObserverError as e:
            self.fail("observer", "an answer", str(e))
        finally:
            self.helper.stop()
            if self.launched_textedit:
                try:
                    if self.observer.textedit_running():
                        self.observer.applescript(QUIT_TEXTEDIT_SCRIPT)
                except ObserverError:
                    pass
        stderr = self.transcript.stderr_lines()
        self.checks.append(
            logic.Check("helper writes nothing to stderr", "nothing", "%d lines" % len(stderr), not stderr)
        )

    def _run(self):
        started = time.monotonic()
        self.add(logic.check_version(self.helper.oneshot("version"), self.observer.sw_vers()), started)

        started = time.monotonic()
        reply = self.helper.oneshot("trusted")
        if not (reply and reply.get("trusted") is True):
            self.helper.oneshot("trusted", "prompt")
            self.add(logic.Check("trusted", "true", logic.reply_problem(reply) or "false", False), started)
            print(TRUST_HELP)
            return
        self.add(logic.Check("trusted", "true", "true", True), started)

        started = time.monotonic()
        nsscreens = self.observer.screens()
        self.add(logic.check_screens(self.helper.oneshot("screens"), nsscreens, "screens (one-shot)"), started)

        if self.observer.textedit_running():
            self.fail("TextEdit not running at the start", "not running", "running: quit it, run again")
            return
        started = time.monotonic()
        self.launched_textedit = True
        name = self.observer.applescript(NEW_DOCUMENT_SCRIPT)
        observed = self._wait_for_window(name)
        listed, window = logic.check_window_listed(self.helper.oneshot("windows", BUNDLE), observed)
        self.add(listed, started)
        window_id = window.get("id") if window else None

        visible = logic.expected_screens(nsscreens)[0]["visibleFrame"]
        rect = logic.Rect(visible.x + 60, visible.y + 40, 640, 400)
        started = time.monotonic()
        placed = self.helper.oneshot("place", BUNDLE, *[logic.number_text(v) for v in rect])
        frame = logic.rect_from_json(placed.get("frame")) if placed else None
        observed = self._settled_frame(name, frame)
        self.add(logic.check_place(placed, rect, observed, window_id), started)

        self._loop(name, rect, nsscreens, window_id)

    def _wait_for_window(self, name, seconds=10):
        deadline = time.monotonic() + seconds
        while True:
            try:
                return self.observer.window_frame(name)
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

    def _loop(self, name, rect, nsscreens, window_id):
        helper = self.helper
        helper.start_loop()
        started = time.monotonic()
        self.add(logic.check_screens(helper.request("screens"), nsscreens, "screens (loop)"), started)

        started = time.monotonic()
        reply = helper.request("observe " + BUNDLE)
        observing = bool(reply and reply.get("observing") is True)
        seen = logic.reply_problem(reply) or "observing %s" % json.dumps(reply.get("observing"))
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

        if self.interactive:
            self._escape()
        else:
            print("Escape checks skipped (run with --interactive to do them).")

        started = time.monotonic()
        reply = helper.request("quit")
        try:
            status = helper.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            status = "none in 5 s"
        problem = logic.reply_problem(reply)
        seen = "%s, exit %s" % (problem or "ok", status)
        self.add(logic.Check("quit", "ok, exit 0", seen, not problem and status == 0), started)

    def _escape(self):
        helper = self.helper
        started = time.monotonic()
        reply = helper.request("watch-esc")
        watching = bool(reply and reply.get("watching") is True)
        seen = logic.reply_problem(reply) or "watching %s" % json.dumps(reply.get("watching"))
        self.add(logic.Check("watch-esc", "watching", seen, watching), started)
        if not watching:
            return
        before = len(helper.events)
        input("Hold Escape down for about a second, let go, then press Return here: ")
        started = time.monotonic()
        helper.wait_for(lambda events: logic.find_event(events[before:], "esc_long", None), timeout=2)
        held = [e for e in helper.events[before:] if e.get("event") == "esc_long"]
        seen = logic.event_text(held[0]) if held else "none"
        self.add(logic.Check("escape held", "esc_long", seen, bool(held)), started)

        before = len(helper.events)
        input("Now tap Escape once, quickly, then press Return here: ")
        started = time.monotonic()
        helper.drain(1.0)
        self.add(logic.check_no_event(helper.events[before:], "esc_long", "escape tapped"), started)


def write_report(path, helper_path, checks, transcript):
    with open(path, "w") as out:
        out.write("kestrove macOS self-check\n")
        out.write("date: %s\n" % time.strftime("%Y-%m-%d %H:%M:%S %z"))
        out.write("helper: %s\n" % os.path.abspath(helper_path))
        machine = (platform.mac_ver()[0], platform.machine(), platform.python_version())
        out.write("machine: macOS %s %s, Python %s\n\n" % machine)
        out.write(logic.render_table(checks, width=200))
        out.write("\n\nEvery line exchanged with the helper, and the observer's answers\n")
        out.write("(seconds since the start; > sent, < received, ! standard error, # note):\n")
        out.write(transcript.render())
        out.write("\n")


def main(argv=None):
    parser = argparse.ArgumentParser(description="Checks the helper on this Mac against the system's scripting.")
    parser.add_argument("helper", help="path of the built helper")
    parser.add_argument(
        "--interactive", action="store_true", help="also check the Escape hold watch (asks you to press Escape)"
    )
    parser.add_argument("--report", help="report file (default: kestrove-selfcheck-DATE.txt here)")
    args = parser.parse_args(argv)

    if sys.platform != "darwin":
        print(
            "macos-selfcheck: this runs only on macOS, where it checks the helper against the system's "
            "own scripting (osascript, System Events); this machine runs %s." % platform.system(),
            file=sys.stderr,
        )
        return 2
    if not os.access(args.helper, os.X_OK):
        print("macos-selfcheck: %s is not an executable helper" % args.helper, file=sys.stderr)
        return 2

    report = args.report or time.strftime("kestrove-selfcheck-%Y%m%d-%H%M%S.txt")
    run = Run(args.helper, args.interactive)
    run.run()
    print()
    print(logic.render_table(run.checks))
    write_report(report, args.helper, run.checks, run.transcript)
    print("\nReport with every line exchanged: %s" % os.path.abspath(report))
    return 0 if all(c.passed for c in run.checks) else 1


if __name__ == "__main__":
    sys.exit(main())
