"""The self-check's side of the conversation with the helper (one-shot runs,
loop-mode requests, waiting for events, the transcript), run against
kestrove-sim on samples/textedit-world.json, whose timeline moves, resizes
and closes the window and quits the app. KESTROVE_SIM names kestrove-sim."""

import importlib.util
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
        directory = tempfile.mkdtemp()
        self.helper_path = os.path.join(directory, "kestrove")
        with open(self.helper_path, "w") as f:
            f.write('#!/bin/sh\nexec "%s" "%s" "$@"\n' % (SIM, os.path.join(HERE, "samples", "textedit-world.json")))
        os.chmod(self.helper_path, stat.S_IRWXU)
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

    def test_a_whole_run(self):
        observer = StandInObserver()
        run = selfcheck.Run(self.helper_path, interactive=False, observer=observer)
        observer.transcript = run.transcript
        run.run()
        failed = [c for c in run.checks if not c.passed]
        self.assertEqual(failed, [])
        self.assertEqual(
            [c.name for c in run.checks],
            [
                "version: macos",
                "trusted",
                "screens (one-shot): coords and count",
                "screens (one-shot): screen 0",
                "screens (one-shot): screen 1",
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
                "quit",
                "helper writes nothing to stderr",
            ],
        )
        self.assertTrue(all(c.ms is not None and c.ms >= 0 for c in run.checks[:-1]))

        report = os.path.join(tempfile.mkdtemp(), "report.txt")
        selfcheck.write_report(report, self.helper_path, run.checks, run.transcript)
        with open(report) as f:
            text = f.read()
        self.assertIn("19 of 19 checks passed", text)
        for line in ["> kestrove place com.apple.TextEdit 60 73 640 400", "> #2 observe com.apple.TextEdit",
                     '< {"bundleId":"com.apple.TextEdit","event":"app_quit"}', "# observer sw_vers: 26.0.1"]:
            self.assertIn(line, text)


class StandInObserver(object):
    """What System Events and AppKit would answer on a Mac showing
    samples/textedit-world.json; the world's timeline makes the moves,
    the resize, the close and the quit that the self-check asks for."""

    def __init__(self):
        self.transcript = None
        self.frames = [logic.Rect(80, 120, 600, 520), logic.Rect(60, 45, 640, 428)]

    def sw_vers(self):
        self.note("sw_vers", "26.0.1")
        return "26.0.1\n"

    def note(self, command, out):
        # The run's transcript, as the real observer writes its answers there.
        self.transcript.note("observer %s: %s" % (command, out))

    def screens(self):
        with open(os.path.join(HERE, "samples", "nsscreen-observer.json")) as f:
            return json.load(f)

    def textedit_running(self):
        return False

    def window_frame(self, name):
        assert name == "Untitled"
        return self.frames.pop(0) if len(self.frames) > 1 else self.frames[0]

    def applescript(self, script, *args):
        return "Untitled" if script == selfcheck.NEW_DOCUMENT_SCRIPT else ""

    def javascript(self, script, *args):
        return ""


if __name__ == "__main__":
    unittest.main()
