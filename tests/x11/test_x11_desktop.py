#!/usr/bin/env python3
"""The shipped helper on a real X desktop (Xvfb, a window manager, real clients).

Every answer is judged against independent observers (xwininfo, xprop,
wmctrl), and events are driven from outside (xdotool, wmctrl, kill).
The window manager is $KESTROVE_X11_WM (openbox, jwm, xfwm4, mutter or kwin;
openbox when unset). Exits 77 (skipped) when Xvfb, the desktop tools or that window
manager are missing.
"""
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import x11_desktop  # noqa: E402

HELPER = os.environ.get("KESTROVE_HELPER", "")
WM_READY = os.environ.get("KESTROVE_WM_READY", "")
TEST_CLIENT = os.environ.get("KESTROVE_TEST_CLIENT", "")
SKIP = 77
WM = x11_desktop.default_wm()
# What each window manager does with a request on this desktop, measured:
#   snaps_xterm: sizes an xterm to whole character cells
#   fits_oversize: shrinks a window larger than the monitor (jwm: into its
#     work area; mutter and kwin: to the screen)
#   uses_outputless_monitor: lets windows stay on a RandR monitor that has no
#     output (xfwm4 sees, through GDK, only monitors with one, and pulls
#     windows back onto them)
#   keeps_inside_root: pulls a window that reaches past the screen's edge
#     back onto it
#   keeps_title_bar_on_screen: moves a window down whose title bar would
#     start above the screen's top
#   maximized_place: what a move and resize of a maximized window does:
#     "lands" (the manager restores it first), "ignored", or "not_settable"
#     (the manager drops resize from the window's allowed actions)
WM_TRAITS = {
    "openbox": {"snaps_xterm": True, "fits_oversize": False, "uses_outputless_monitor": True,
                "keeps_inside_root": False, "keeps_title_bar_on_screen": False, "maximized_place": "ignored"},
    "jwm": {"snaps_xterm": False, "fits_oversize": True, "uses_outputless_monitor": True,
            "keeps_inside_root": False, "keeps_title_bar_on_screen": False, "maximized_place": "lands"},
    "xfwm4": {"snaps_xterm": False, "fits_oversize": False, "uses_outputless_monitor": False,
              "keeps_inside_root": False, "keeps_title_bar_on_screen": False, "maximized_place": "not_settable"},
    "mutter": {"snaps_xterm": True, "fits_oversize": True, "uses_outputless_monitor": True,
               "keeps_inside_root": True, "keeps_title_bar_on_screen": True, "maximized_place": "ignored"},
    "kwin": {"snaps_xterm": True, "fits_oversize": True, "uses_outputless_monitor": True,
             "keeps_inside_root": False, "keeps_title_bar_on_screen": False, "maximized_place": "ignored"},
}
TRAITS = WM_TRAITS.get(WM, {})
TOOLS = ["Xvfb", "xterm", "xclock", "xeyes", "xdotool", "wmctrl", "xwininfo", "xprop", "xrandr"]


class LoopHelper:
    """The helper in loop mode, its output lines collected on a thread."""

    def __init__(self, env):
        self.process = subprocess.Popen([HELPER], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                                        text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(json.loads(line))

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def next(self, timeout=5):
        return self.lines.get(timeout=timeout)

    def ask(self, line, timeout=5):
        """Sends a command and returns its reply; lines before it are returned too."""
        self.send(line)
        before = []
        while True:
            obj = self.next(timeout)
            if "ok" in obj:
                return obj, before
            before.append(obj)

    def events_for(self, seconds):
        events, deadline = [], time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return events
            try:
                events.append(self.next(left))
            except queue.Empty:
                return events

    def wait_event(self, predicate, timeout=5):
        deadline = time.monotonic() + timeout
        seen = []
        while time.monotonic() < deadline:
            try:
                obj = self.next(max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                break
            seen.append(obj)
            if predicate(obj):
                return obj, seen
        raise AssertionError(f"no matching event; saw {seen}")

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=5)
        self.process.stdout.close()


def start_test_client(case, app_id):
    if not os.access(TEST_CLIENT, os.X_OK):
        case.skipTest("test client not built")
    process = subprocess.Popen([TEST_CLIENT, app_id], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               env=case.desktop.env(), text=True, bufsize=1)
    def stop():
        process.kill()
        process.wait(timeout=5)
        process.stdin.close()
        process.stdout.close()

    case.addCleanup(stop)

    class Remote:
        pid = process.pid

        @staticmethod
        def open():
            process.stdin.write("open\n")
            process.stdin.flush()
            return int(process.stdout.readline())

        @staticmethod
        def close(window):
            process.stdin.write(f"close {window}\n")
            process.stdin.flush()
            process.stdout.readline()

    return Remote


class HelperCase(unittest.TestCase):
    """Runs the helper against `desktop` (set by each subclass) and ends what
    a test started."""
    desktop = None

    def helper(self, *args, check=True):
        done = subprocess.run([HELPER, *args], env=self.desktop.env(), capture_output=True, text=True, timeout=20)
        self.assertEqual(done.stderr, "")
        reply = json.loads(done.stdout)
        if check:
            self.assertTrue(reply["ok"], reply)
        return reply

    def loop(self):
        helper = LoopHelper(self.desktop.env())
        self.addCleanup(helper.close)
        return helper

    def spawn(self, argv, wm_class):
        client = self.desktop.spawn(argv, wm_class)
        self.addCleanup(self._end, client.process)
        return client

    def _end(self, process):
        if process.poll() is None:
            process.kill()
            process.wait(timeout=5)
        self.desktop.forget(process)


class DesktopCase(HelperCase):
    primary = 0

    @classmethod
    def setUpClass(cls):
        cls.desktop = x11_desktop.Desktop(monitors=2, wm_ready=WM_READY, primary=cls.primary, wm=WM).start()

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()

    def minimize(self, window):
        # --sync returns once the window is unmapped, which can be before the
        # manager marks it hidden.
        self.desktop.run(["xdotool", "windowminimize", "--sync", str(window)])
        self.assertTrue(self.desktop.wait_until(
            lambda: "_NET_WM_STATE_HIDDEN" in self.desktop.props(window, "_NET_WM_STATE")))

    def expected_frame(self, window, origin_x=0):
        """Frame as the helper defines it: content grown upward by the top extent."""
        x, y, w, h = self.desktop.geometry(window)
        top = self.desktop.frame_extents(window)[2]
        return {"x": x - origin_x, "y": y - top, "width": w, "height": h + top}

    def place_and_judge(self, app_id, window, rect, exact, origin_x=0):
        """Places, then judges the reply against xwininfo: on the rectangle
        when the manager grants it, else clamped with where the window is."""
        reply = self.helper("place", app_id, *map(str, rect))
        x, y, w, h = self.desktop.geometry(window)
        landed = (x - origin_x, y, w, h)
        if exact:
            self.assertEqual(landed, rect)
        else:
            self.assertNotEqual(landed, rect)
        self.assertEqual(reply["clamped"], not exact)
        self.assertEqual(reply["content"], dict(zip(("x", "y", "width", "height"), landed)))
        self.assertEqual(reply["frame"], self.expected_frame(window, origin_x))
        self.assertEqual(reply["axErrors"], [0, 0, 0])
        self.assertEqual(reply["id"], window)
        return reply


class ScreensAndWindows(DesktopCase):
    def test_screens_lists_both_monitors_primary_first_in_top_left_points(self):
        reply = self.helper("screens")
        self.assertEqual(reply["coords"], "top-left-global-points")
        screens = reply["screens"]
        self.assertEqual([s["primary"] for s in screens], [True, False])
        monitors = self.desktop.run(["xrandr", "--listmonitors"])
        self.assertIn("*MON0 1920/508x1080/286+0+0", monitors)
        self.assertEqual(screens[0]["frame"], {"x": 0, "y": 0, "width": 1920, "height": 1080})
        self.assertEqual(screens[1]["frame"], {"x": 1920, "y": 0, "width": 1920, "height": 1080})
        # The output-less monitor is numbered by its place.
        self.assertEqual(screens[1]["id"], 2)
        for screen in screens:
            self.assertEqual(screen["scale"], 1)
            self.assertEqual(screen["menuBarHeight"], 0)

    def test_visible_frames_are_the_work_area_on_each_monitor(self):
        # jwm's tray makes the work area shorter than the screen; xfwm4's
        # covers only the monitor it knows; kwin publishes none here, and
        # then the whole monitor is visible.
        out = self.desktop.run(["xprop", "-root", "-notype", "_NET_WORKAREA"])
        if "=" in out:
            ax, ay, aw, ah = (int(v) for v in out.split("=")[1].split(",")[:4])
        else:
            ax, ay, aw, ah = 0, 0, 3840, 1080
        for screen in self.helper("screens")["screens"]:
            with self.subTest(screen=screen["id"]):
                f = screen["frame"]
                left, top = max(f["x"], ax), max(f["y"], ay)
                right, bottom = min(f["x"] + f["width"], ax + aw), min(f["y"] + f["height"], ay + ah)
                visible = screen["visibleFrame"]
                if right > left and bottom > top:
                    self.assertEqual(visible, {"x": left, "y": top, "width": right - left, "height": bottom - top})
                else:
                    self.assertEqual(visible["width"] * visible["height"], 0, visible)

    def test_windows_match_xwininfo_and_xprop_for_each_kind_of_client(self):
        cases = [
            (["xterm", "-class", "KtTerm"], "KtTerm"),
            (["xclock"], "XClock"),
            (["xeyes"], "XEyes"),  # no _NET_WM_PID: the pid comes from X-Resource
        ]
        for argv, app_id in cases:
            with self.subTest(app=app_id):
                client = self.spawn(argv, app_id)
                reply = self.helper("windows", app_id)
                self.assertTrue(reply["running"])
                self.assertTrue(reply["trusted"])
                self.assertEqual(reply["pid"], client.pid)
                self.assertEqual([w["id"] for w in reply["windows"]], [client.window])
                window = reply["windows"][0]
                x, y, w, h = self.desktop.geometry(client.window)
                left, right, top, bottom = self.desktop.frame_extents(client.window)
                self.assertEqual(window["frame"], self.expected_frame(client.window))
                if top == 0:
                    # Undecorated by the manager (kwin: a shaped xeyes) and no
                    # accessibility tree to tell: the title bar is not measured.
                    self.assertEqual(window["titlebarSource"], "default", window)
                    t = window["titlebar"]
                    self.assertEqual(window["content"], {"x": x, "y": y + t, "width": w, "height": h - t})
                else:
                    self.assertEqual(window["content"], {"x": x, "y": y, "width": w, "height": h})
                    self.assertEqual((window["titlebar"], window["titlebarSource"]), (top, "ax_content"))
                self.assertEqual(window["subrole"], "AXStandardWindow")
                self.assertFalse(window["minimized"])
                self.assertFalse(window["fullscreen"])
                self.assertEqual(window["settable"], {"position": True, "size": True})

    def test_flags_follow_the_window_manager_state(self):
        client = self.spawn(["xterm", "-class", "KtFlags"], "KtFlags")
        self.desktop.run(["wmctrl", "-i", "-r", str(client.window), "-b", "add,fullscreen"])
        self.assertTrue(self.desktop.wait_until(
            lambda: "_NET_WM_STATE_FULLSCREEN" in self.desktop.props(client.window, "_NET_WM_STATE")))
        window = self.helper("windows", "KtFlags")["windows"][0]
        self.assertTrue(window["fullscreen"])
        self.desktop.run(["wmctrl", "-i", "-r", str(client.window), "-b", "remove,fullscreen"])
        self.minimize(client.window)
        window = self.helper("windows", "KtFlags")["windows"][0]
        self.assertTrue(window["minimized"])
        self.assertFalse(window["fullscreen"])

    def test_an_app_with_several_windows_lists_every_client_in_client_list_order(self):
        app = start_test_client(self, "KtMulti")
        ids = [app.open() for _ in range(3)]
        reply = self.helper("windows", "KtMulti")
        self.assertEqual([w["id"] for w in reply["windows"]], ids)
        clients = self.desktop.client_list()
        self.assertEqual(ids, [w for w in clients if w in ids])
        for window in reply["windows"]:
            self.assertEqual(window["frame"], self.expected_frame(window["id"]))
        # Exactly one is main: the active one, else the topmost.
        self.assertEqual(sum(w["main"] for w in reply["windows"]), 1)

class Place(DesktopCase):
    def test_content_lands_on_the_rectangle_or_is_reported_where_the_manager_put_it(self):
        client = self.spawn(["xclock"], "XClock")
        cases = [
            ((100, 200, 640, 480), True),
            ((10, 30, 1000, 700), not TRAITS["keeps_title_bar_on_screen"]),
            ((2000, 50, 300, 300), TRAITS["uses_outputless_monitor"]),
            # Partly beyond the root.
            ((3700, 100, 400, 300), TRAITS["uses_outputless_monitor"] and not TRAITS["keeps_inside_root"]),
            ((100, 100, 4000, 1200), not TRAITS["fits_oversize"]),
        ]
        for rect, exact in cases:
            with self.subTest(rect=rect):
                self.place_and_judge("XClock", client.window, rect, exact)

    def test_xterm_snapped_to_its_cells_is_clamped_with_its_real_size(self):
        client = self.spawn(["xterm", "-class", "KtSnap"], "KtSnap")
        self.place_and_judge("KtSnap", client.window, (200, 150, 800, 600), exact=not TRAITS["snaps_xterm"])
        self.assertEqual(self.desktop.geometry(client.window)[:2], (200, 150))

    def test_a_maximized_window_is_settable_as_its_manager_allows(self):
        client = self.spawn(["xclock"], "XClock")
        self.desktop.run(["wmctrl", "-i", "-r", str(client.window), "-b", "add,maximized_vert,maximized_horz"])
        self.assertTrue(self.desktop.wait_until(
            lambda: "_NET_WM_STATE_MAXIMIZED_HORZ" in self.desktop.props(client.window, "_NET_WM_STATE")))
        allowed = self.desktop.props(client.window, "_NET_WM_ALLOWED_ACTIONS")
        window = self.helper("windows", "XClock")["windows"][0]
        self.assertEqual(window["settable"], {"position": "_NET_WM_ACTION_MOVE" in allowed,
                                              "size": "_NET_WM_ACTION_RESIZE" in allowed})
        self.assertEqual(window["frame"], self.expected_frame(client.window))
        rect = (100, 120, 300, 300)
        outcome = TRAITS["maximized_place"]
        if outcome == "not_settable":
            self.assertEqual(self.helper("place", "XClock", *map(str, rect), check=False)["error"],
                             "no_stream_window")
            self.assertNotEqual(self.desktop.geometry(client.window), rect)
        else:
            self.place_and_judge("XClock", client.window, rect, exact=outcome == "lands")

    def test_minimized_only_app_and_absent_app(self):
        client = self.spawn(["xterm", "-class", "KtHidden"], "KtHidden")
        self.minimize(client.window)
        self.assertEqual(self.helper("place", "KtHidden", "0", "0", "300", "300", check=False)["error"],
                         "no_stream_window")
        self.assertEqual(self.helper("place", "NoSuchApp", "0", "0", "300", "300", check=False)["error"],
                         "not_running")


class Observe(DesktopCase):
    def test_moves_resizes_and_quit_of_a_real_window(self):
        client = self.spawn(["xclock"], "XClock")
        helper = self.loop()
        reply, before = helper.ask("observe XClock")
        self.assertEqual(before, [])
        self.assertEqual((reply["observing"], reply["pid"], reply["windows"]), (True, client.pid, 1))

        self.desktop.run(["xdotool", "windowmove", "--sync", str(client.window), "300", "250"])
        event, _ = helper.wait_event(lambda e: e.get("event") == "moved")
        self.assertEqual(event["id"], client.window)
        self.assertEqual(event["frame"], self.expected_frame(client.window))

        self.desktop.run(["xdotool", "windowsize", "--sync", str(client.window), "333", "222"])
        event, _ = helper.wait_event(lambda e: e.get("event") == "resized")
        top = self.desktop.frame_extents(client.window)[2]
        self.assertEqual((event["frame"]["width"], event["frame"]["height"] - top), (333, 222))
        self.assertEqual(event["frame"], self.expected_frame(client.window))

        # A reply is written before the events its command causes.
        reply, before = helper.ask("place XClock 40 60 500 400")
        self.assertEqual(before, [])
        events = helper.events_for(0.5)
        self.assertTrue(any(e.get("event") == "moved" for e in events), events)
        self.assertTrue(any(e.get("event") == "resized" for e in events), events)
        self.assertEqual(events[-1]["frame"], self.expected_frame(client.window))

        client.process.kill()
        client.process.wait(timeout=5)
        event, seen = helper.wait_event(lambda e: e.get("event") == "app_quit")
        self.assertEqual(event, {"event": "app_quit", "bundleId": "XClock"})
        self.assertEqual([e for e in seen if e.get("event") == "app_quit"], [event])
        reply, _ = helper.ask("unobserve")
        self.assertEqual(reply, {"ok": True, "observing": False})

    def test_windows_created_and_closed_within_the_observed_app(self):
        app = start_test_client(self, "KtLive")
        first = app.open()
        helper = self.loop()
        reply, _ = helper.ask("observe KtLive")
        self.assertEqual(reply["windows"], 1)

        second = app.open()
        event, _ = helper.wait_event(lambda e: e.get("event") == "window_created")
        self.assertEqual(event["id"], second)
        self.assertEqual(event["frame"], self.expected_frame(second))

        app.close(second)
        event, _ = helper.wait_event(lambda e: e.get("event") == "window_closed")
        self.assertEqual(event, {"event": "window_closed", "bundleId": "KtLive", "id": second})
        # Closed once, though both DestroyNotify and the client list report it.
        later = helper.events_for(0.4)
        self.assertEqual([e for e in later if e.get("event") == "window_closed"], [])

        self.desktop.run(["wmctrl", "-i", "-c", str(first)])
        event, _ = helper.wait_event(lambda e: e.get("event") == "window_closed")
        self.assertEqual(event["id"], first)

    def test_minimizing_is_not_closing(self):
        client = self.spawn(["xterm", "-class", "KtMin"], "KtMin")
        helper = self.loop()
        helper.ask("observe KtMin")
        self.minimize(client.window)
        events = helper.events_for(0.5)
        self.assertEqual([e for e in events if e.get("event") == "window_closed"], [])


class WatchEsc(DesktopCase):
    def hold(self, keys, seconds):
        self.desktop.run(["xdotool", "keydown", keys])
        time.sleep(seconds)
        self.desktop.run(["xdotool", "keyup", keys])

    def test_escape_hold_tap_and_modifiers(self):
        helper = self.loop()
        reply, _ = helper.ask("watch-esc")
        self.assertEqual(reply, {"ok": True, "watching": True, "trusted": True, "holdMs": 600})
        cases = [
            ("Escape", 1.0, [{"event": "esc_long", "heldMs": 600}]),
            ("Escape", 0.1, []),
            ("ctrl+Escape", 1.0, []),
            ("shift+Escape", 1.0, [{"event": "esc_long", "heldMs": 600}]),
        ]
        for keys, seconds, expected in cases:
            with self.subTest(keys=keys, seconds=seconds):
                self.hold(keys, seconds)
                self.assertEqual(helper.events_for(0.4), expected)
        reply, _ = helper.ask("unwatch-esc")
        self.hold("Escape", 1.0)
        self.assertEqual(helper.events_for(0.3), [])


class UntrustedCookie(DesktopCase):
    def test_a_connection_that_cannot_act_on_other_clients_is_not_trusted(self):
        if not shutil.which("xauth"):
            self.skipTest("xauth missing")
        self.spawn(["xterm", "-class", "KtUntrusted"], "KtUntrusted")
        cookie = os.path.join(self.desktop._dir, "untrusted")
        self.desktop.run(["xauth", "-f", cookie, "generate", self.desktop.display, ".", "untrusted", "timeout", "0"])
        env = self.desktop.env(XAUTHORITY=cookie)

        def ask(*args):
            done = subprocess.run([HELPER, *args], env=env, capture_output=True, text=True, timeout=20)
            return json.loads(done.stdout)

        self.assertEqual(ask("trusted")["trusted"], False)
        reply = ask("windows", "KtUntrusted")
        self.assertEqual((reply["running"], reply["trusted"], reply["windows"]), (True, False, []))
        self.assertEqual(ask("place", "KtUntrusted", "0", "0", "300", "300")["error"], "ax_denied")
        # The control: the same desktop through the ordinary cookie.
        self.assertEqual(self.helper("trusted")["trusted"], True)


class PrimaryOnTheRight(DesktopCase):
    """Global points start at the primary monitor, not at the root's corner."""

    primary = 1

    def test_screens_windows_and_place_are_relative_to_the_primary_monitor(self):
        screens = self.helper("screens")["screens"]
        self.assertEqual(screens[0]["frame"], {"x": 0, "y": 0, "width": 1920, "height": 1080})
        self.assertEqual(screens[1]["frame"], {"x": -1920, "y": 0, "width": 1920, "height": 1080})
        self.assertTrue(screens[0]["primary"])

        client = self.spawn(["xclock"], "XClock")
        x, y, w, h = self.desktop.geometry(client.window)
        window = self.helper("windows", "XClock")["windows"][0]
        self.assertEqual(window["content"], {"x": x - 1920, "y": y, "width": w, "height": h})

        for rect, exact in [((100, 100, 500, 400), True),
                            ((-1800, 100, 500, 400), TRAITS["uses_outputless_monitor"])]:
            with self.subTest(rect=rect):
                self.place_and_judge("XClock", client.window, rect, exact, origin_x=1920)
        if TRAITS["uses_outputless_monitor"]:
            self.assertEqual(self.desktop.geometry(client.window), (120, 100, 500, 400))


class FakeDisplay:
    """A display socket that counts connections and shuts each one at once,
    or, when silent, keeps each open and never answers."""

    def __init__(self, silent=False):
        import socket
        self.number = x11_desktop._free_display(start=500)
        os.makedirs("/tmp/.X11-unix", exist_ok=True)
        self.path = f"/tmp/.X11-unix/X{self.number}"
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(self.path)
        self.server.listen(16)
        self.server.settimeout(0.1)
        self.accepted = 0
        self.silent = silent
        self.held = []
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while self.running:
            try:
                connection, _ = self.server.accept()
            except OSError:
                continue
            self.accepted += 1
            if self.silent:
                self.held.append(connection)
            else:
                connection.close()

    def close(self):
        self.running = False
        self.thread.join(timeout=2)
        for connection in self.held:
            connection.close()
        self.server.close()
        os.unlink(self.path)


class NoDisplay(unittest.TestCase):
    def run_helper(self, display, *args):
        env = dict(os.environ, DISPLAY=display)
        done = subprocess.run([HELPER, *args], env=env, capture_output=True, text=True, timeout=20)
        self.assertEqual(done.stderr, "")
        return json.loads(done.stdout)

    def test_version_and_argument_errors_never_connect(self):
        fake = FakeDisplay()
        self.addCleanup(fake.close)
        display = f":{fake.number}"
        for args in [("version",), ("windows",), ("place", "App", "1", "2"), ("screens", "extra"), ("bogus",)]:
            with self.subTest(args=args):
                self.run_helper(display, *args)
                self.assertEqual(fake.accepted, 0)
        # The control: a command that needs the display does connect, is shut
        # out, and answers as a machine without one.
        reply = self.run_helper(display, "screens")
        self.assertEqual(reply["screens"], [])
        self.assertGreater(fake.accepted, 0)

    def test_a_missing_or_refusing_display_is_a_machine_without_one(self):
        fake = FakeDisplay()
        self.addCleanup(fake.close)
        for display in [":" + str(x11_desktop._free_display(start=700)), f":{fake.number}", ""]:
            with self.subTest(display=display):
                self.assertEqual(self.run_helper(display, "windows", "XTerm"),
                                 {"ok": True, "running": False, "trusted": False, "windows": []})
                self.assertEqual(self.run_helper(display, "trusted")["trusted"], False)
                helper = LoopHelper(dict(os.environ, DISPLAY=display))
                self.addCleanup(helper.close)
                self.assertEqual(helper.ask("watch-esc")[0]["watching"], False)
                self.assertEqual(helper.ask("observe XTerm")[0]["error"], "ax_denied")


# How long the helper waits for a display that stopped answering, plus slack
# for a loaded machine: a reply later than this means it hung.
STUCK_REPLY_SECONDS = 10
# The bound on every command's waits on the display, and the slack allowed
# over it for a loaded machine: well under a second bound on top of the first.
SERVER_BOUND_SECONDS = 3.0
BOUND_SLACK_SECONDS = 1.5


class SilentDisplay(unittest.TestCase):
    def test_a_display_that_accepts_and_never_answers_is_a_machine_without_one(self):
        fake = FakeDisplay(silent=True)
        self.addCleanup(fake.close)
        helper = LoopHelper(dict(os.environ, DISPLAY=f":{fake.number}"))
        self.addCleanup(helper.close)
        for line, check in [
            ("screens", lambda r: r["screens"] == []),
            ("version", lambda r: r["ok"]),
            ("trusted", lambda r: r["trusted"] is False),
        ]:
            with self.subTest(line=line):
                reply, _ = helper.ask(line, timeout=STUCK_REPLY_SECONDS)
                self.assertTrue(check(reply), reply)
        self.assertGreater(fake.accepted, 0)
        self.assertIsNone(helper.process.poll())


class StallingProxy:
    """A display that relays to a real one, and can stall: from the moment the
    server has sent `budget` more bytes, nothing more reaches any client until
    resume(), as when the server stops in the middle of a conversation. New
    connections made during a stall are stalled too."""

    def __init__(self, target_display):
        import socket
        self.socket_module = socket
        self.target = f"/tmp/.X11-unix/X{target_display.lstrip(':')}"
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        start = 600
        while True:  # another test's display may take the number first
            self.number = x11_desktop._free_display(start=start)
            self.path = f"/tmp/.X11-unix/X{self.number}"
            try:
                self.listener.bind(self.path)
                break
            except OSError:
                start = self.number + 1
        self.listener.listen(16)
        self.listener.settimeout(0.1)
        self.lock = threading.Condition()
        self.budget = None  # bytes the server may still send; None: no limit
        self.relayed = 0  # bytes from the server to the clients, in all
        self.sockets = []
        self.running = True
        threading.Thread(target=self._accept, daemon=True).start()

    @property
    def display(self):
        return f":{self.number}"

    def stall_after(self, budget):
        with self.lock:
            self.budget = budget

    def resume(self):
        with self.lock:
            self.budget = None
            self.lock.notify_all()

    def _accept(self):
        while self.running:
            try:
                client, _ = self.listener.accept()
            except OSError:
                continue
            server = self.socket_module.socket(self.socket_module.AF_UNIX, self.socket_module.SOCK_STREAM)
            server.connect(self.target)
            self.sockets += [client, server]
            threading.Thread(target=self._to_server, args=(client, server), daemon=True).start()
            threading.Thread(target=self._to_client, args=(server, client), daemon=True).start()

    def _to_server(self, client, server):
        try:
            while data := client.recv(65536):
                server.sendall(data)
        except OSError:
            pass
        self._close(client, server)

    def _to_client(self, server, client):
        try:
            while data := server.recv(65536):
                while data:
                    with self.lock:
                        self.lock.wait_for(lambda: self.budget != 0 or not self.running)
                        if not self.running:
                            return
                        part = data if self.budget is None else data[:self.budget]
                        if self.budget is not None:
                            self.budget -= len(part)
                        self.relayed += len(part)
                    client.sendall(part)
                    data = data[len(part):]
        except OSError:
            pass
        self._close(client, server)

    @staticmethod
    def _close(*sockets):
        for sock in sockets:
            try:
                sock.shutdown(2)
            except OSError:
                pass

    def close(self):
        with self.lock:
            self.running = False
            self.lock.notify_all()
        self.listener.close()
        self._close(*self.sockets)
        for sock in self.sockets:
            sock.close()
        os.unlink(self.path)


def side_by_side(calls, at_once=4):
    """Runs (function, *arguments) calls on threads of their own, `at_once`
    at a time: twenty helpers starting together on two cores (a sanitizer
    build, other work beside it) spend the slack over the bound on starting."""
    slots = threading.Semaphore(at_once)

    def run(call):
        with slots:
            call[0](*call[1:])

    threads = [threading.Thread(target=run, args=(call,)) for call in calls]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


class StoppedDisplay(DesktopCase):
    """Every command is answered within the bound however the display stalls,
    and a display that answers again is used again."""

    # Commands that wait on the display, and what each answers without one.
    STALLED_ANSWERS = [
        ("screens", lambda r: r["screens"] == []),
        ("windows KtStop", lambda r: r["running"] is False and r["trusted"] is False),
        ("place KtStop 140 160 400 300", lambda r: r.get("error") == "ax_denied"),
        ("trusted", lambda r: r["trusted"] is False),
    ]

    def assertWithinBound(self, seconds, what):
        self.assertLessEqual(seconds, SERVER_BOUND_SECONDS + BOUND_SLACK_SECONDS, what)

    def test_a_stopped_server_is_a_lost_display_until_it_runs_again(self):
        client = self.spawn(["xterm", "-class", "KtStop"], "KtStop")
        helper = self.loop()
        reply, _ = helper.ask("windows KtStop")
        self.assertEqual([w["id"] for w in reply["windows"]], [client.window])
        self.assertTrue(helper.ask("observe KtStop")[0]["observing"])

        server = self.desktop._started[0].pid
        os.kill(server, signal.SIGSTOP)
        self.addCleanup(os.kill, server, signal.SIGCONT)
        # The first command blocks on the open connection, the later ones on
        # a new handshake the stopped server never completes.
        for line, check in self.STALLED_ANSWERS + [("version", lambda r: r["ok"])]:
            with self.subTest(mode="loop", line=line):
                started = time.monotonic()
                reply, _ = helper.ask(line, timeout=STUCK_REPLY_SECONDS)
                self.assertTrue(check(reply), reply)
                self.assertWithinBound(time.monotonic() - started, line)
        # A stalled helper only waits, so these run side by side.
        results = {}

        def one_shot(line):
            started = time.monotonic()
            try:
                results[line] = (self.helper(*line.split(), check=False), time.monotonic() - started)
            except subprocess.TimeoutExpired:
                results[line] = (None, time.monotonic() - started)

        side_by_side([(one_shot, line) for line, _ in self.STALLED_ANSWERS])
        for line, check in self.STALLED_ANSWERS:
            with self.subTest(mode="one-shot", line=line):
                reply, seconds = results[line]
                self.assertWithinBound(seconds, line)
                self.assertTrue(check(reply), reply)

        os.kill(server, signal.SIGCONT)
        reply, _ = helper.ask("screens", timeout=STUCK_REPLY_SECONDS)
        self.assertEqual(len(reply["screens"]), 2, reply)
        reply, _ = helper.ask("windows KtStop", timeout=STUCK_REPLY_SECONDS)
        self.assertEqual([w["id"] for w in reply["windows"]], [client.window])
        self.assertIsNone(helper.process.poll())

    def stalls(self, line):
        """Server byte counts at which to stall `line`: spread over all it
        reads when nothing stalls, connection and handshake included."""
        proxy = StallingProxy(self.desktop.display)
        self.addCleanup(proxy.close)
        self.run_through(proxy, line)
        total = proxy.relayed
        self.assertGreater(total, 0)
        return [total * share // 16 for share in (0, 1, 2, 3, 5, 8, 11, 13, 15)]

    def run_through(self, proxy, line):
        """The one-shot reply and how long it took; no reply when it hung."""
        started = time.monotonic()
        try:
            done = subprocess.run([HELPER, *line.split()], env=dict(self.desktop.env(), DISPLAY=proxy.display),
                                  capture_output=True, text=True, timeout=STUCK_REPLY_SECONDS)
        except subprocess.TimeoutExpired:
            return None, time.monotonic() - started
        self.assertEqual(done.stderr, "")
        return json.loads(done.stdout), time.monotonic() - started

    def test_a_stall_anywhere_in_a_one_shot_command_is_cut_off_at_the_bound(self):
        if WM != "openbox":
            self.skipTest("the display's side only; run under one window manager")
        self.spawn(["xterm", "-class", "KtStop"], "KtStop")
        cases = [(line, budget) for line in ("windows KtStop", "place KtStop 140 160 400 300")
                 for budget in self.stalls(line)]
        results = {}
        proxies = {}
        for case in cases:
            proxies[case] = StallingProxy(self.desktop.display)
            self.addCleanup(proxies[case].close)

        def run(line, budget):
            proxies[(line, budget)].stall_after(budget)
            results[(line, budget)] = self.run_through(proxies[(line, budget)], line)

        side_by_side([(run, *case) for case in cases])
        for line, budget in cases:
            with self.subTest(line=line, budget=budget):
                reply, seconds = results[(line, budget)]
                self.assertWithinBound(seconds, line)
                self.assertIn("ok", reply)

    def test_a_stall_anywhere_in_a_loop_command_is_cut_off_at_the_bound_while_observing(self):
        if WM != "openbox":
            self.skipTest("the display's side only; run under one window manager")
        client = self.spawn(["xterm", "-class", "KtStop"], "KtStop")
        proxy = StallingProxy(self.desktop.display)
        self.addCleanup(proxy.close)
        helper = LoopHelper(dict(self.desktop.env(), DISPLAY=proxy.display))
        self.addCleanup(helper.close)
        self.assertTrue(helper.ask("observe KtStop")[0]["observing"])
        for line in ("windows KtStop", "place KtStop 140 160 400 300"):
            before = proxy.relayed
            helper.ask(line)
            helper.events_for(0.2)
            cost = proxy.relayed - before
            for budget in (0, cost // 3, cost * 2 // 3):
                with self.subTest(line=line, budget=budget):
                    proxy.stall_after(budget)
                    started = time.monotonic()
                    reply, _ = helper.ask(line, timeout=STUCK_REPLY_SECONDS)
                    self.assertWithinBound(time.monotonic() - started, line)
                    proxy.resume()
                    # Answered at once when the display answers again.
                    started = time.monotonic()
                    reply, _ = helper.ask("windows KtStop", timeout=STUCK_REPLY_SECONDS)
                    self.assertLess(time.monotonic() - started, 1.0)
                    self.assertEqual([w["id"] for w in reply["windows"]], [client.window])
                    helper.events_for(0.1)
        self.assertIsNone(helper.process.poll())


class LostDisplay(DesktopCase):
    def test_helper_keeps_answering_after_the_server_dies(self):
        client = self.spawn(["xterm", "-class", "KtLost"], "KtLost")
        helper = self.loop()
        reply, _ = helper.ask("observe KtLost")
        self.assertTrue(reply["observing"])
        helper.ask("watch-esc")
        self.desktop.kill_server()
        for line, check in [
            ("screens", lambda r: r["screens"] == []),
            ("windows KtLost", lambda r: r["running"] is False and r["trusted"] is False),
            ("trusted", lambda r: r["trusted"] is False),
            ("place KtLost 0 0 100 100", lambda r: r.get("error") == "ax_denied"),
            ("version", lambda r: r["ok"]),
        ]:
            with self.subTest(line=line):
                reply, _ = helper.ask(line, timeout=10)
                self.assertTrue(check(reply), reply)
        self.assertIsNone(helper.process.poll())

        # A display that comes back is used again by the next command.
        number = int(self.desktop.display[1:])
        revived = x11_desktop.Desktop(monitors=1, wm_ready=WM_READY, number=number, wm=WM).start()
        self.addCleanup(revived.stop)
        clock = revived.spawn(["xclock"], "XClock")
        reply, _ = helper.ask("windows XClock", timeout=10)
        self.assertEqual((reply["running"], reply["trusted"]), (True, True))
        self.assertEqual([w["id"] for w in reply["windows"]], [clock.window])
        # The Escape watch installed before the loss works on the new display.
        revived.run(["xdotool", "keydown", "Escape"])
        time.sleep(1.0)
        revived.run(["xdotool", "keyup", "Escape"])
        self.assertEqual(helper.events_for(0.4), [{"event": "esc_long", "heldMs": 600}])


def run_suite(known_wms, tools):
    """Runs this module's tests under KESTROVE_X11_WM, or says why it skips."""
    if WM not in known_wms:
        print(f"no measured traits for window manager {WM!r} in KESTROVE_X11_WM; one of {', '.join(known_wms)}")
        return 1
    missing = [tool for tool in tools if not shutil.which(tool)]
    if missing:
        print(f"SKIP: X11 desktop tools missing: {' '.join(missing)}")
        return SKIP
    missing = x11_desktop.wm_missing(WM)
    if missing:
        print(f"SKIP: window manager {WM} cannot run here, missing: {' '.join(missing)}")
        return SKIP
    if not os.access(HELPER, os.X_OK):
        print("SKIP: KESTROVE_HELPER does not name the built helper")
        return SKIP
    result = unittest.main(argv=[sys.argv[0], *sys.argv[1:]], exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


def main():
    return run_suite(WM_TRAITS, TOOLS)


if __name__ == "__main__":
    sys.exit(main())
