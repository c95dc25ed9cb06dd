"""The self-check's side of the conversation with the helper (one-shot runs,
loop-mode requests, waiting for events, the transcript), and whole runs with
a stand-in observer, run against kestrove-sim on samples/textedit-world.json,
whose timeline moves, resizes and closes the window and quits the app.
KESTROVE_SIM names kestrove-sim."""

import importlib.util
import io
import json
import os
import stat
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
sys.path.insert(0, TOOLS)

import macos_selfcheck_logic as logic  # noqa: E402

module_spec = importlib.util.spec_from_file_location("macos_selfcheck", os.path.join(TOOLS, "macos-selfcheck.py"))
selfcheck = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(selfcheck)

SIM = os.environ.get("KESTROVE_SIM", "")
BUNDLE = "com.apple.TextEdit"


@unittest.skipUnless(SIM and os.access(SIM, os.X_OK), "KESTROVE_SIM does not name kestrove-sim")
class RunnerAgainstTheSim(unittest.TestCase):
    def setUp(self):
        # The helper as the self-check starts it: one path, the command after.
        self.helper_path = helper_script(tempfile.mkdtemp())
        self.transcript = logic.Transcript()
        self.helper = selfcheck.Helper(self.helper_path, self.transcript)

    def tearDown(self):
        self.helper.stop()

    def test_one_shot(self):
        reply = self.helper.oneshot("version")
        self.assertEqual(reply["macos"], "26.0.1")
        self.assertEqual(self.helper.oneshot("observe", BUNDLE)["error"], "loop_only")
        lines = self.transcript.render().splitlines()
        self.assertTrue(lines[0].endswith("> kestrove version"))
        self.assertIn('< {"coords"', lines[1])
        self.assertTrue(lines[2].endswith("# exit 0"))
        self.assertTrue(lines[-1].endswith("# exit 1"))

    def test_loop_requests_and_events(self):
        self.helper.start_loop()
        screens = self.helper.request("screens")
        self.assertTrue(all(c.passed for c in logic.check_screens(screens, [
            {"frame": {"x": 0, "y": 0, "width": 1512, "height": 982},
             "visibleFrame": {"x": 0, "y": 0, "width": 1512, "height": 949}, "number": 1, "scale": 2},
            {"frame": {"x": -1920, "y": 120, "width": 1920, "height": 1080},
             "visibleFrame": {"x": -1920, "y": 120, "width": 1920, "height": 1055}, "number": 3, "scale": 1},
        ])))
        self.assertTrue(self.helper.request("observe " + BUNDLE)["observing"])

        moved = logic.frame_is(x=100, y=103)
        self.assertTrue(self.helper.wait_for(lambda e: logic.find_event(e, "moved", BUNDLE, moved), timeout=10))
        self.assertTrue(self.helper.wait_for(lambda e: logic.find_event(e, "app_quit", BUNDLE), timeout=10))
        names = [e["event"] for e in self.helper.events]
        self.assertEqual(names, ["moved", "moved", "resized", "window_closed", "app_quit"])
        # Nothing comes that was not asked for: the wait gives up in time.
        self.assertFalse(self.helper.wait_for(lambda e: logic.find_event(e, "esc_long", None), timeout=0.3))

        reply = self.helper.request("quit")
        self.assertTrue(reply["ok"])
        self.assertEqual(self.helper.proc.wait(timeout=10), 0)
        sent = [t for _, d, t in self.transcript.entries if d == ">"]
        self.assertEqual(sent, ["#1 screens", "#2 observe " + BUNDLE, "#3 quit"])
        received = [t for _, d, t in self.transcript.entries if d == "<"]
        self.assertEqual(len(received), 3 + len(names))
        self.assertEqual(self.transcript.stderr_lines(), [])



def helper_script(directory, world=None, prelude="", name="kestrove"):
    """A `kestrove` in `directory` that runs kestrove-sim on `world`, after a
    line of shell that can make it misbehave first."""
    path = os.path.join(directory, name)
    world = world or os.path.join(HERE, "samples", "textedit-world.json")
    with open(path, "w") as f:
        f.write('#!/bin/sh\n%s\nexec "%s" "%s" "$@"\n' % (prelude, SIM, world))
    os.chmod(path, stat.S_IRWXU)
    return path


def world_with(**changes):
    with open(os.path.join(HERE, "samples", "textedit-world.json")) as f:
        world = json.load(f)
    world.update(changes)
    path = os.path.join(tempfile.mkdtemp(), "world.json")
    with open(path, "w") as f:
        json.dump(world, f)
    return path


SW_VERS = "ProductName:\tmacOS\nProductVersion:\t26.0.1\nBuildVersion:\t25A354\n"
DENIED = "execution error: Not authorized to send Apple events to %s. (-1743)"


class StandInObserver(selfcheck.Observer):
    """The real observer with the system's answers replaced: what sw_vers,
    osascript (AppKit, System Events, TextEdit), ioreg and ps would print on
    a Mac showing samples/textedit-world.json, whose timeline makes the
    moves, the resize, the close and the quit that the self-check asks for.
    `answers` replaces the answer to a kind of command: (status, stdout,
    stderr), or an exception to raise."""

    def __init__(self, transcript=None, answers=None):
        selfcheck.Observer.__init__(self, transcript)
        self.answers = answers or {}
        self.calls = []
        self.frames = [logic.Rect(80, 120, 600, 520), logic.Rect(60, 45, 640, 428)]

    @staticmethod
    def kind(command):
        if command[0] == "osascript":
            script = command[command.index("-e") + 1]
            for name in ["NSSCREEN_SCRIPT", "WINDOW_FRAME_SCRIPT", "MOVE_WINDOW_SCRIPT", "RESIZE_WINDOW_SCRIPT",
                         "TEXTEDIT_RUNNING_SCRIPT", "DOCUMENT_SCRIPT", "CLOSE_DOCUMENT_SCRIPT",
                         "QUIT_TEXTEDIT_SCRIPT"]:
                if script == getattr(selfcheck, name):
                    return name[: -len("_SCRIPT")].lower()
            raise AssertionError("an unknown script: %r" % script)
        return {"open": "launch"}.get(command[0], command[0])

    def _execute(self, command, timeout):
        kind = self.kind(command)
        self.calls.append(kind)
        if kind in self.answers:
            answer = self.answers[kind]
            if isinstance(answer, BaseException):
                raise answer
            return answer
        if kind == "sw_vers":
            return 0, SW_VERS, ""
        if kind == "nsscreen":
            with open(os.path.join(HERE, "samples", "nsscreen-observer.json")) as f:
                return 0, f.read(), ""
        if kind == "window_frame":
            assert command[-1] == "Untitled", command
            frame = self.frames.pop(0) if len(self.frames) > 1 else self.frames[0]
            return 0, json.dumps({"position": [frame.x, frame.y], "size": [frame.width, frame.height]}), ""
        if kind == "textedit_running":
            return 0, "false\n", ""
        if kind == "document":
            return 0, "Untitled\n", ""
        if kind == "ps":
            return 0, "%d %d python3\n%d 1 /System/Applications/Utilities/Terminal.app/Contents/MacOS/Terminal\n" % (
                os.getpid(), os.getppid(), os.getppid()), ""
        if kind in ("ioreg", "arch"):
            return 0, "", ""
        if kind == "lipo":
            return 1, "", "not a Mach-O file"
        if kind == "xattr":
            return 1, "", "No such xattr: com.apple.quarantine"
        return 0, "", ""


WHOLE_RUN = [
    "version: macos",
    "trusted",
    "screens (one-shot): coords and count",
    "screens (one-shot): screen 0",
    "screens (one-shot): screen 1",
    "windows: TextEdit's windows",
    "windows: document window",
    "place: window where the reply says",
    "place: content covers the rectangle",
    "place: the document window",
    "screens (loop): coords and count",
    "screens (loop): screen 0",
    "screens (loop): screen 1",
    "observe",
    "observe: moved",
    "observe: resized",
    "observe: window_closed",
    "observe: app_quit",
    "observe: app_quit once",
    "quit",
    "helper writes nothing to stderr",
]


@unittest.skipUnless(SIM and os.access(SIM, os.X_OK), "KESTROVE_SIM does not name kestrove-sim")
class WholeRuns(unittest.TestCase):
    """The whole self-check, as main() runs it after its platform check:
    rows, table, report, exit status."""

    def setUp(self):
        self.directory = tempfile.mkdtemp()
        self.report = os.path.join(self.directory, "report.txt")

    def selfcheck(self, helper, answers=None, ask=None, interactive=False, arch=None):
        observer = StandInObserver(answers=answers)
        out = io.StringIO()
        status = selfcheck.selfcheck(helper, self.report, interactive=interactive, arch=arch,
                                     observer=observer, ask=ask, settle=0.2, out=out)
        with open(self.report) as f:
            report = f.read()
        return status, out.getvalue(), report, observer

    def rows(self, report):
        """(check, result) of each row of the report's table."""
        table = report.split("\n\n")[1].splitlines()[2:]
        out = []
        for line in table:
            for result in ("pass", "FAIL", "skip"):
                if "  %s" % result in line:
                    out.append((line.split("  ")[0], result))
                    break
        return out

    def test_a_whole_run(self):
        status, printed, report, observer = self.selfcheck(helper_script(self.directory))
        self.assertEqual(status, 0, printed)
        self.assertEqual(self.rows(report), [(name, "pass") for name in WHOLE_RUN])
        self.assertIn("%d of %d checks passed" % (len(WHOLE_RUN), len(WHOLE_RUN)), report)
        self.assertNotIn("Failed checks in full", report)
        for line in ["> kestrove place com.apple.TextEdit 60 73 640 400", "> #2 observe com.apple.TextEdit",
                     '< {"bundleId":"com.apple.TextEdit","event":"app_quit"}', "# observer sw_vers: ProductName",
                     "macOS: macOS 26.0.1 (25A354), sw_vers",
                     "run from: Terminal (/System/Applications/Utilities/Terminal.app",
                     "helper: %s" % os.path.join(self.directory, "kestrove"),
                     "not a Mach-O executable", "  run as: native", "  quarantine: none"]:
            self.assertIn(line, report)
        self.assertIn("sha-256 ", report)
        # TextEdit is opened fresh, with its document; the self-check quit it itself.
        self.assertEqual(observer.calls.count("launch"), 1)
        self.assertNotIn("quit_textedit", observer.calls[observer.calls.index("close_document") + 2:])
        # NSScreen is read again right before each comparison that uses it.
        self.assertEqual(observer.calls.count("nsscreen"), 3)

    def test_faults_still_give_rows_and_a_report(self):
        directory = self.directory
        cases = [
            # name, helper, observer answers, ask, interactive, exit status,
            # rows that must be there with their result, text the output must hold
            ("TextEdit automation denied", helper_script(directory),
             {"document": (1, "", DENIED % "TextEdit")}, None, False, 1,
             [("TextEdit", "FAIL"), ("place", "skip"), ("screens (loop): screen 1", "pass"), ("observe", "skip"),
              ("quit", "pass")],
             ["tccutil reset AppleEvents", "Privacy & Security > Automation", "-1743", "quit it yourself"]),
            ("System Events automation denied", helper_script(directory),
             {"window_frame": (1, "", DENIED % "System Events")}, None, False, 1,
             [("TextEdit", "FAIL"), ("place", "skip"), ("quit", "pass")],
             ["turn on System Events"]),
            ("an empty screen list", helper_script(directory), {"nsscreen": (0, "[]", "")}, None, False, 1,
             [("screens (one-shot): coords and count", "FAIL"), ("windows: document window", "pass"),
              ("place", "FAIL"), ("observe", "skip"), ("quit", "pass")],
             ["NSScreen listed no screen"]),
            ("the helper dies as loop mode starts",
             helper_script(tempfile.mkdtemp(), prelude='[ $# -eq 0 ] && kill -SEGV $$'),
             {}, None, False, 1,
             [("place: the document window", "pass"), ("screens (loop)", "FAIL"), ("observe", "FAIL"),
              ("quit", "FAIL")],
             ["no JSON reply (helper: signal SIGSEGV)"]),
            ("an observer error nobody expected", helper_script(directory),
             {"move_window": RuntimeError("the bridge broke")}, None, False, 1,
             [("observe", "FAIL"), ("quit", "pass")],
             ["unexpected RuntimeError: the bridge broke"]),
            ("Ctrl-C at a question", helper_script(directory), {}, interrupt, True, 1,
             [("observe: app_quit", "pass"), ("watch-esc", "pass"), ("escape", "FAIL")],
             ["interrupted (Ctrl-C)"]),
            ("the hold gives nothing", helper_script(directory), {}, lambda text: "", True, 1,
             [("secure keyboard entry off", "pass"), ("escape held", "FAIL"), ("escape tapped", "skip"),
              ("quit", "pass")],
             ["1 not judged"]),
            ("secure keyboard entry on", helper_script(directory),
             {"ioreg": (0, '| "IOConsoleUsers" = ({"kCGSSessionSecureInputPID"=%d,"kCGSSessionUserNameKey"="a"})'
                        % os.getppid(), "")}, lambda text: "s", True, 1,
             [("secure keyboard entry off", "FAIL"), ("escape held", "skip"), ("escape tapped", "skip"),
              ("quit", "pass")],
             ["held by pid %d (/System/Applications/Utilities/Terminal.app" % os.getppid(),
              "Terminal > Secure Keyboard Entry"]),
            ("a helper file that is not there", os.path.join(directory, "nothing-here"), {}, None, False, 2,
             [("helper file", "FAIL")], ["is not a file"]),
            ("no Rosetta for the x86_64 slice", helper_script(directory), {"arch": (1, "", "Bad CPU type")}, None,
             False, 2, [("binary: x86_64 slice runs", "FAIL")], ["softwareupdate --install-rosetta"]),
            ("an x86_64 slice asked of a file without one", helper_script(directory), {}, None, False, 2,
             [("binary: x86_64 slice runs", "FAIL")], ["slices none; arch -x86_64 runs here"]),
        ]
        for name, helper, answers, ask, interactive, expected_status, rows, texts in cases:
            with self.subTest(name):
                arch = "x86_64" if "x86_64" in name else None
                status, printed, report, observer = self.selfcheck(helper, answers, ask, interactive, arch)
                self.assertEqual(status, expected_status, printed)
                got = self.rows(report)
                for row in rows:
                    self.assertIn(row, got)
                self.assertIn("checks passed", report)
                self.assertIn("Failed checks in full", report)
                for text in texts:
                    self.assertIn(text, printed + report)
                self.assertNotIn("Traceback", printed)
                # Only an error nobody foresaw leaves its traceback, in the
                # report's transcript, for whoever reads the report.
                self.assertEqual("Traceback" in report, "nobody expected" in name)

    def test_a_report_that_cannot_go_where_asked_goes_to_the_temporary_folder(self):
        name = "kestrove-selfcheck-%d.txt" % os.getpid()
        moved = os.path.join(tempfile.gettempdir(), name)
        out = io.StringIO()
        try:
            status = selfcheck.selfcheck(helper_script(self.directory), os.path.join(self.directory, "gone", name),
                                         observer=StandInObserver(), settle=0.2, out=out)
            self.assertEqual(status, 0)
            self.assertIn("Report with every line exchanged: %s" % moved, out.getvalue())
            with open(moved) as f:
                self.assertIn("%d of %d checks passed" % (len(WHOLE_RUN), len(WHOLE_RUN)), f.read())
        finally:
            if os.path.exists(moved):
                os.remove(moved)

    def test_a_denial_is_asked_once(self):
        for kind, target in [("document", "TextEdit"), ("window_frame", "System Events")]:
            with self.subTest(target):
                _, _, _, observer = self.selfcheck(helper_script(self.directory),
                                                   {kind: (1, "", DENIED % target)})
                self.assertEqual(observer.calls.count(kind), 1)
                if target == "TextEdit":
                    self.assertNotIn("quit_textedit", observer.calls)

    def test_a_bare_name_is_the_file_here_not_one_on_the_path(self):
        here = tempfile.mkdtemp()
        helper_script(here)
        elsewhere = tempfile.mkdtemp()
        with open(os.path.join(elsewhere, "kestrove"), "w") as f:
            f.write('#!/bin/sh\necho \'{"ok":true,"macos":"1.0"}\'\n')
        os.chmod(os.path.join(elsewhere, "kestrove"), stat.S_IRWXU)
        cwd, path = os.getcwd(), os.environ["PATH"]
        os.chdir(here)
        os.environ["PATH"] = elsewhere + os.pathsep + path
        try:
            status, printed, report, _ = self.selfcheck("kestrove")
        finally:
            os.chdir(cwd)
            os.environ["PATH"] = path
        self.assertEqual(status, 0, printed)
        self.assertIn("helper: %s\n" % os.path.join(os.path.realpath(here), "kestrove"),
                      report.replace(here, os.path.realpath(here)))
        self.assertIn(("version: macos", "pass"), self.rows(report))

    def test_the_helper_runs_without_the_version_compatibility_switch(self):
        # With it, macOS 26 tells the helper it is 16; the observer's sw_vers
        # runs without it too, so both sides must.
        helper = helper_script(tempfile.mkdtemp(), prelude='[ -n "${SYSTEM_VERSION_COMPAT+set}" ] && exit 7')
        os.environ["SYSTEM_VERSION_COMPAT"] = "1"
        try:
            status, printed, report, _ = self.selfcheck(helper)
        finally:
            del os.environ["SYSTEM_VERSION_COMPAT"]
        self.assertEqual(status, 0, printed)
        self.assertNotIn("exit 7", report)

    def test_trust_granted_while_the_helper_runs(self):
        helper = helper_script(self.directory, world=world_with(trusted=False, promptGrants=True))
        questions = []
        status, printed, report, _ = self.selfcheck(helper, ask=lambda text: questions.append(text) or "")
        rows = self.rows(report)
        self.assertIn(("trusted: a running helper sees the grant", "pass"), rows)
        # Each run of kestrove-sim is a new desktop, untrusted again: on a
        # Mac a new helper started after the grant is trusted too.
        self.assertIn(("trusted", "FAIL"), rows)
        self.assertIn("false at the start; after: running helper true, new helper false", report)
        self.assertEqual(len(questions), 1)
        self.assertIn("#1 trusted prompt", report)
        self.assertIn("#2 trusted", report)
        # The dialog comes once per app: the message points to the settings.
        self.assertIn("only\nthe first time", printed)
        self.assertIn(selfcheck.ACCESSIBILITY_SETTINGS, printed)
        self.assertEqual(status, 1)

    def test_trust_never_granted_ends_the_run_with_a_report(self):
        helper = helper_script(self.directory, world=world_with(trusted=False))
        for name, ask in [("no terminal to answer", None), ("the user stops", lambda text: "q"),
                          ("still untrusted after each Return", lambda text: "")]:
            with self.subTest(name):
                status, printed, report, _ = self.selfcheck(helper, ask=ask)
                self.assertEqual(status, 1)
                self.assertEqual([r for r, _ in self.rows(report)],
                                 ["version: macos", "trusted", "trusted: a running helper sees the grant",
                                  "helper writes nothing to stderr"])
                self.assertIn("loop-mode helper ended: exit 0", report)


def interrupt(text):
    raise KeyboardInterrupt()


if __name__ == "__main__":
    unittest.main()
