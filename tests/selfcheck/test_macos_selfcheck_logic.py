"""The macOS self-check's comparisons, on recorded output.

The helper's side of samples/ was recorded from kestrove-sim
(samples/record.sh); the observer's side (*-observer.*) is written in the
shapes the self-check's scripts print. Each test also changes one thing that
a Mac could get wrong and expects the check to fail.
"""

import ast
import copy
import json
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
SAMPLES = os.path.join(HERE, "samples")
sys.path.insert(0, TOOLS)

import macos_selfcheck_logic as logic  # noqa: E402

BUNDLE = "com.apple.TextEdit"


def sample(name):
    with open(os.path.join(SAMPLES, name)) as f:
        return f.read()


def sample_json(name):
    return json.loads(sample(name))


class Version(unittest.TestCase):
    def test_against_sw_vers(self):
        reply = sample_json("helper-version.json")
        cases = [
            ("recorded", reply, sample("sw_vers-observer.txt"), True),
            ("two-part sw_vers", dict(reply, macos="14.5.0"), "14.5\n", True),
            ("compatibility 16 reported", dict(reply, macos="16.0.1"), "26.0.1\n", False),
            ("patch differs", dict(reply, macos="26.0.0"), "26.0.1\n", False),
            ("error reply", {"ok": False, "error": "internal"}, "26.0.1\n", False),
            ("no reply", None, "26.0.1\n", False),
            ("sw_vers says nothing usable", reply, "ProductVersion\n", False),
        ]
        for name, helper, sw_vers, passed in cases:
            with self.subTest(name):
                self.assertEqual(logic.check_version(helper, sw_vers).passed, passed)

    def test_version_text(self):
        self.assertEqual(logic.parse_version("14.5"), (14, 5, 0))
        self.assertEqual(logic.parse_version(" 26.0.1\n"), (26, 0, 1))
        for bad in ["", "14.x", "1.2.3.4", "-1.0"]:
            self.assertIsNone(logic.parse_version(bad), bad)


class Screens(unittest.TestCase):
    def setUp(self):
        self.reply = sample_json("helper-screens.json")
        self.nsscreens = sample_json("nsscreen-observer.json")

    def test_recorded_output_agrees_screen_by_screen(self):
        checks = logic.check_screens(self.reply, self.nsscreens)
        self.assertEqual(len(checks), 3)
        self.assertTrue(all(c.passed for c in checks), [c for c in checks if not c.passed])

    def test_conversion_is_worked_out_independently(self):
        # A primary display, one to its right aligned at the top, one above.
        nsscreens = [
            {"frame": {"x": 0, "y": 0, "width": 1440, "height": 900},
             "visibleFrame": {"x": 0, "y": 70, "width": 1440, "height": 805}, "number": 1, "scale": 2},
            {"frame": {"x": 1440, "y": -180, "width": 1920, "height": 1080},
             "visibleFrame": {"x": 1440, "y": -180, "width": 1920, "height": 1080}, "number": None, "scale": 1},
            {"frame": {"x": 0, "y": 900, "width": 1920, "height": 1080},
             "visibleFrame": {"x": 0, "y": 950, "width": 1920, "height": 1030}, "number": 5, "scale": 1},
        ]
        got = logic.expected_screens(nsscreens)
        self.assertEqual(got[0]["frame"], (0, 0, 1440, 900))
        self.assertEqual(got[0]["visibleFrame"], (0, 25, 1440, 805))
        self.assertEqual(got[0]["menuBarHeight"], 25)
        self.assertEqual(got[1]["frame"], (1440, 0, 1920, 1080))
        self.assertEqual(got[1]["id"], 0)
        self.assertEqual(got[1]["menuBarHeight"], 0)
        self.assertEqual(got[2]["frame"], (0, -1080, 1920, 1080))
        self.assertEqual([s["primary"] for s in got], [True, False, False])

    def test_each_kind_of_disagreement_fails_its_row(self):
        def changed(change):
            reply = copy.deepcopy(self.reply)
            change(reply["screens"])
            return reply

        cases = [
            ("order", lambda s: s.reverse(), [1, 2]),
            ("visible frame", lambda s: s[0]["visibleFrame"].update(y=25), [1]),
            ("frame of the second", lambda s: s[1]["frame"].update(y=120), [2]),
            ("display number", lambda s: s[1].update(id=0), [2]),
            ("menu bar", lambda s: s[0].update(menuBarHeight=0), [1]),
            ("scale", lambda s: s[0].update(scale=1), [1]),
            ("primary flag", lambda s: s[1].update(primary=True), [2]),
            ("one missing", lambda s: s.pop(), [0, 2]),
        ]
        for name, change, failing in cases:
            with self.subTest(name):
                checks = logic.check_screens(changed(change), self.nsscreens)
                self.assertEqual([i for i, c in enumerate(checks) if not c.passed], failing)

    def test_an_error_reply_is_one_failed_row(self):
        checks = logic.check_screens({"ok": False, "error": "bad_args"}, self.nsscreens)
        self.assertEqual(len(checks), 1)
        self.assertFalse(checks[0].passed)
        self.assertIn("bad_args", checks[0].seen)


class WindowsAndPlace(unittest.TestCase):
    def test_windows_finds_the_document_window_by_its_observed_frame(self):
        reply = sample_json("helper-windows.json")
        observed = logic.rect_from_position_size(sample_json("window-observer.json"))
        check, window = logic.check_window_listed(reply, observed)
        self.assertTrue(check.passed, check)
        self.assertEqual(window["id"], 4711)

        check, window = logic.check_window_listed(reply, observed._replace(x=observed.x + 10))
        self.assertFalse(check.passed)
        self.assertIsNone(window)
        self.assertIn("80,120 600x520", check.seen)

        check, _ = logic.check_window_listed({"ok": True, "running": False, "trusted": True, "windows": []}, observed)
        self.assertFalse(check.passed)
        self.assertIn("running False", check.seen)

    def test_place_rows(self):
        reply = sample_json("helper-place.json")
        observed = logic.rect_from_position_size(sample_json("placed-window-observer.json"))
        rect = logic.Rect(60, 73, 640, 400)
        clamped = dict(reply, content={"x": 60, "y": 73, "width": 600, "height": 400}, clamped=True)
        cases = [
            ("recorded", reply, observed, 4711, [True, True, True]),
            ("window went on moving after the read-back", reply, observed._replace(y=100), 4711, [False, True, True]),
            ("content short of the rectangle", clamped, observed, 4711, [True, False, True]),
            ("another window placed", reply, observed, 99, [True, True, False]),
            ("no window number to compare", reply, observed, None, [True, True]),
        ]
        for name, helper, seen, window_id, passed in cases:
            with self.subTest(name):
                checks = logic.check_place(helper, rect, seen, window_id)
                self.assertEqual([c.passed for c in checks], passed)

        checks = logic.check_place({"ok": False, "error": "place_failed", "detail": "AX errors [-25204]"}, rect, observed)
        self.assertEqual([c.passed for c in checks], [False])
        self.assertIn("place_failed", checks[0].seen)

    def test_what_textedit_shows_at_the_start(self):
        reply = sample_json("helper-windows.json")
        window = reply["windows"][0]
        cases = [
            ("one document window", [window], True, "1 window, AXStandardWindow"),
            ("a restored document as well", [window, dict(window, id=2)], False,
             "2 windows, AXStandardWindow AXStandardWindow"),
            ("the Open panel instead", [dict(window, subrole="AXDialog")], False, "1 window, AXDialog"),
            ("nothing yet", [], False, "0 windows"),
        ]
        for name, windows, passed, seen in cases:
            with self.subTest(name):
                check = logic.check_window_state(dict(reply, windows=windows))
                self.assertEqual((check.passed, check.seen), (passed, seen))
        self.assertFalse(logic.check_window_state(None).passed)

    def test_covering_allows_a_point(self):
        rect = logic.Rect(10, 10, 100, 100)
        self.assertTrue(logic.rect_covers(logic.Rect(0, 0, 200, 200), rect))
        self.assertTrue(logic.rect_covers(logic.Rect(11, 10.5, 99, 100), rect))
        self.assertFalse(logic.rect_covers(logic.Rect(12, 10, 100, 100), rect))
        self.assertFalse(logic.rect_covers(logic.Rect(10, 10, 100, 98.5), rect))
        self.assertFalse(logic.rect_covers(None, rect))


class Events(unittest.TestCase):
    def setUp(self):
        self.events = logic.events_of(sample("helper-loop.txt").splitlines())

    def test_only_events_are_taken(self):
        self.assertEqual([e["event"] for e in self.events], ["moved", "moved", "resized", "window_closed", "app_quit"])

    def test_expected_events(self):
        cases = [
            ("final move, after a step on the way", "moved", logic.frame_is(x=100, y=103), True),
            ("a move that never came", "moved", logic.frame_is(x=200, y=200), False),
            ("resize", "resized", logic.frame_is(width=560, height=380), True),
            ("resize to another size", "resized", logic.frame_is(width=700, height=500), False),
            ("closed, its number", "window_closed", logic.id_is(4711), True),
            ("closed, another number", "window_closed", logic.id_is(1), False),
            ("closed, no number known", "window_closed", logic.id_is(None), True),
            ("quit", "app_quit", None, True),
            ("an event that never came", "window_created", None, False),
        ]
        for name, event, test, passed in cases:
            with self.subTest(name):
                self.assertEqual(logic.check_event(self.events, event, BUNDLE, "x", test).passed, passed)

    def test_events_of_another_app_do_not_count(self):
        self.assertFalse(logic.check_event(self.events, "app_quit", "com.example.other", "x").passed)

    def test_missing_event_shows_the_last_of_its_name(self):
        check = logic.check_event(self.events, "moved", BUNDLE, "x", logic.frame_is(x=0))
        self.assertEqual(check.seen, "only moved 100,103 600x520 id 4711")

    def test_an_app_quits_once(self):
        quit = {"event": "app_quit", "bundleId": BUNDLE}
        other = {"event": "app_quit", "bundleId": "com.example.other"}
        for name, events, passed in [
            ("once", self.events, True),
            ("twice: noticed two ways", self.events + [quit], False),
            ("never", self.events[:-1], False),
            ("another app's quit does not count", self.events + [other], True),
        ]:
            with self.subTest(name):
                self.assertEqual(logic.check_event_once(events, "app_quit", BUNDLE, "once").passed, passed)

    def test_no_event(self):
        self.assertTrue(logic.check_no_event(self.events, "esc_long", "tap").passed)
        held = self.events + [{"event": "esc_long", "heldMs": 600}]
        check = logic.check_no_event(held, "esc_long", "tap")
        self.assertFalse(check.passed)
        self.assertEqual(check.seen, "esc_long")


class Output(unittest.TestCase):
    def test_table(self):
        checks = [
            logic.Check("version: macos", "26.0.1", "26.0.1", True, ms=12.7),
            logic.Check("place: window where the reply says", "80,112 640x428", "x" * 80, False, ms=230),
            logic.Check("observe: app_quit", "app_quit", "no app_quit event", False),
        ]
        lines = logic.render_table(checks, width=20).splitlines()
        self.assertEqual(lines[0].split(), ["check", "expected", "seen", "result", "ms"])
        self.assertTrue(set(lines[1]) <= {"-", " "})
        self.assertIn("pass", lines[2])
        self.assertTrue(lines[2].endswith(" 12"))
        self.assertIn("FAIL", lines[3])
        self.assertIn("x" * 19 + "\u2026", lines[3])
        self.assertNotIn("x" * 20, lines[3])
        self.assertTrue(lines[4].endswith("FAIL"))
        # The result column starts at the same place on every row.
        self.assertEqual(len({line.index(word) for line, word in zip(lines[2:5], ["pass", "FAIL", "FAIL"])}), 1)
        self.assertEqual(lines[-1], "1 of 3 checks passed")

    def test_skipped_rows_and_failures_in_full(self):
        long_seen = "id 3 frame -1920,-218 1920x1080 visible -1920,-193 1920x1055 menu 24 scale 1"
        checks = [
            logic.Check("screens: screen 1", long_seen.replace("24", "25"), long_seen, False),
            logic.skipped("escape tapped", "no esc_long", "not judged: the hold gave no esc_long"),
            logic.Check("trusted", "true", "true", True),
        ]
        table = logic.render_table(checks)
        self.assertIn("skip", table.splitlines()[3])
        self.assertNotIn("menu 24", table)
        self.assertEqual(table.splitlines()[-1], "1 of 2 checks passed, 1 not judged")
        self.assertEqual([c.failed for c in checks], [True, False, False])
        self.assertEqual(
            logic.render_failures(checks).splitlines(),
            ["Failed checks in full:", "- screens: screen 1", "    expected: " + long_seen.replace("24", "25"),
             "    seen:     " + long_seen],
        )
        self.assertEqual(logic.render_failures(checks[1:]), "")

    def test_home_folder_becomes_a_tilde(self):
        cases = [
            ("helper: /Users/ann/kestrove/kestrove", "helper: ~/kestrove/kestrove"),
            ("cd /Users/ann; ls /Users/ann", "cd ~; ls ~"),
            ("/Users/anna/x and /Users/ann.b/x and /Users/ann-b", "/Users/anna/x and /Users/ann.b/x and /Users/ann-b"),
            ("/tmp/Users/ann/x", "/tmp/Users/ann/x"),
            ("report at '/Users/ann/r.txt'", "report at '~/r.txt'"),
        ]
        for text, expected in cases:
            with self.subTest(text):
                self.assertEqual(logic.home_to_tilde(text, "/Users/ann/"), expected)
        self.assertEqual(logic.home_to_tilde("/x", "/"), "/x")

    def test_transcript_keeps_every_line_in_order(self):
        ticks = iter([0.0, 0.5, 0.75, 1.0, 1.25])
        transcript = logic.Transcript(clock=lambda: next(ticks))
        transcript.sent("#1 observe com.apple.TextEdit")
        transcript.received('{"id":1,"ok":true}')
        transcript.stderr("oops")
        transcript.note("exit 0")
        self.assertEqual(
            transcript.render().splitlines(),
            [
                "    0.500 > #1 observe com.apple.TextEdit",
                '    0.750 < {"id":1,"ok":true}',
                "    1.000 ! oops",
                "    1.250 # exit 0",
            ],
        )
        self.assertEqual(transcript.stderr_lines(), ["oops"])


class Machine(unittest.TestCase):
    def test_secure_keyboard_entry_from_ioreg(self):
        line = ('    | |   "IOConsoleUsers" = ({"kCGSSessionOnConsoleKey"=Yes,'
                '"kCGSSessionSecureInputPID"=731,"kCGSessionLoginDoneKey"=Yes})')
        self.assertEqual(logic.secure_input_pid("+-o Root\n" + line + "\n"), 731)
        self.assertEqual(logic.secure_input_pid(line.replace("=731", " = 12")), 12)
        self.assertIsNone(logic.secure_input_pid(line.replace("SecureInputPID", "OtherPID")))
        self.assertIsNone(logic.secure_input_pid(""))

    def test_automation_denial_is_told_apart(self):
        cases = [
            ("48:53: execution error: Not authorized to send Apple events to TextEdit. (-1743)", True),
            ("execution error: Error: Error: An error occurred. (-1743)", True),
            ("errAEEventNotPermitted", True),
            ("execution error: Can't get window \"Untitled\". (-1728)", False),
            ("execution error: 17430 items", False),
            ("", False),
        ]
        for text, denied in cases:
            with self.subTest(text):
                self.assertEqual(logic.automation_denied(text), denied)

    def test_exit_text(self):
        self.assertEqual(
            [logic.exit_text(c) for c in [0, 3, -11, -9, -99, None]],
            ["exit 0", "exit 3", "signal SIGSEGV", "signal SIGKILL", "signal 99", "still running"],
        )

    def test_sw_vers(self):
        info = logic.parse_sw_vers("ProductName:\t\tmacOS\nProductVersion:\t\t26.0.1\nBuildVersion:\t\t25A354\n")
        self.assertEqual(info, {"ProductName": "macOS", "ProductVersion": "26.0.1", "BuildVersion": "25A354"})

    def test_the_app_that_runs_the_self_check(self):
        terminal = "/System/Applications/Utilities/Terminal.app/Contents/MacOS/Terminal"
        ps = "  1     0 /sbin/launchd\n 400    1 %s\n 401  400 login\n 402  401 -zsh\n 500  402 python3\n" % terminal
        rows = logic.parse_ps(ps)
        self.assertEqual(logic.responsible_app(rows, 500), "/System/Applications/Utilities/Terminal.app")
        code = "/Applications/Visual Studio Code.app/Contents/Frameworks/Code Helper.app/Contents/MacOS/Code Helper"
        self.assertEqual(logic.responsible_app(rows + [(600, 1, code), (601, 600, "python3")], 601),
                         "/Applications/Visual Studio Code.app")
        self.assertIsNone(logic.responsible_app([(10, 1, "sshd"), (1, 0, "/sbin/launchd"), (11, 10, "python3")], 11))
        self.assertIsNone(logic.responsible_app([(5, 6, "a"), (6, 5, "b")], 5))  # a loop in the table


class Tool(unittest.TestCase):
    def test_written_for_python_3_8_and_3_9(self):
        names = ["macos_selfcheck_logic.py", "macos_selfcheck_macho.py", "macos_selfcheck_helper.py",
                 "macos-selfcheck.py"]
        for name in names:
            with open(os.path.join(TOOLS, name)) as f:
                text = f.read()
            for version in [(3, 8), (3, 9)]:
                ast.parse(text, name, feature_version=version)

    @unittest.skipIf(sys.platform == "darwin", "this is a Mac")
    def test_refuses_to_run_anywhere_but_macos(self):
        done = subprocess.run(
            [sys.executable, os.path.join(TOOLS, "macos-selfcheck.py"), "/bin/true"],
            capture_output=True,
            text=True,
            timeout=30,
        )
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stdout, "")
        self.assertIn("runs only on macOS", done.stderr)


if __name__ == "__main__":
    unittest.main()
