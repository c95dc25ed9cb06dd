#!/usr/bin/env python3
"""The helper under each window manager people run: honest place replies,
header-bar (client-side decorated) GTK windows read through AT-SPI, and the
order of close and quit events.

Every answer is judged against independent observers: xwininfo for where an X
window is, and the GTK client's own report of where its header bar and
content are. The window manager is $KESTROVE_X11_WM. Exits 77 (skipped) when
Xvfb, the desktop tools or that manager are missing; the header-bar cases skip
themselves where GTK or the accessibility bus is missing.
"""
import json
import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
sys.path.insert(0, HERE)
import x11_desktop  # noqa: E402
from test_x11_desktop import HelperCase, run_suite  # noqa: E402

HELPER = os.environ.get("KESTROVE_HELPER", "")
WM_READY = os.environ.get("KESTROVE_WM_READY", "")
CSD_CLIENT = os.path.join(HERE, "csd_client.py")
WM = x11_desktop.default_wm()
# What each manager does, as measured:
#   tiles: places every new window in a tiling layout and refuses moves;
#     float: the command that takes a window ({window}) out of the layout
#   composites: runs a compositor, so GTK keeps a shadow margin around its
#     header-bar windows (_GTK_FRAME_EXTENTS)
WM_TRAITS = {
    "openbox": {"tiles": False, "composites": False},
    "jwm": {"tiles": False, "composites": False},
    "xfwm4": {"tiles": False, "composites": False},
    "mutter": {"tiles": False, "composites": True},
    "kwin": {"tiles": False, "composites": True},
    "metacity": {"tiles": False, "composites": False},
    "i3": {"tiles": True, "composites": False, "float": ["i3-msg", "[id={window}] floating enable"]},
}
TRAITS = WM_TRAITS[WM]
TOOLS = ["Xvfb", "xterm", "xwininfo", "xprop", "xrandr", "wmctrl"]
# Requests judged, each a content rectangle on the primary monitor.
RECTS = [(200, 150, 640, 480), (260, 190, 702, 431), (90, 120, 515, 377)]


def gtk_missing(version):
    probe = ("import gi; gi.require_version('Gtk', '%s.0'); gi.require_version('GdkX11', '%s.0');"
             "from gi.repository import Gtk, GdkX11" % (version, version))
    return subprocess.run(["/usr/bin/python3", "-c", probe], capture_output=True).returncode != 0


def rect_of(reply_rect):
    return (reply_rect["x"], reply_rect["y"], reply_rect["width"], reply_rect["height"])


def near(a, b, tolerance=1):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


class ManagerCase(HelperCase):
    # The accessibility bus's shape (x11_desktop.A11Y_SHAPES); by default the
    # usual one where it can run.
    A11Y = None

    @classmethod
    def setUpClass(cls):
        a11y = cls.A11Y if cls.A11Y else not x11_desktop.a11y_missing()
        cls.desktop = x11_desktop.Desktop(monitors=1, width=1920, wm_ready=WM_READY, wm=WM, a11y=a11y).start()

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()

    def setUp(self):
        # Registered first, so it runs after every other cleanup: a manager
        # may only trip over what the helper left it once the clients are gone.
        self.addCleanup(lambda: self.assertTrue(self.desktop.wm_running(), f"{WM} exited"))

    def settled_geometry(self, window):
        """Where the window is once the manager stopped laying it out (i3
        does so again after mapping a window: border, focus)."""
        previous = self.desktop.geometry(window)
        for _ in range(60):
            time.sleep(0.05)
            now = self.desktop.geometry(window)
            if now == previous:
                return now
            previous = now
        return previous


class PlaceTellsWhereTheWindowIs(ManagerCase):
    def test_every_reply_matches_xwininfo_at_once_and_after_the_manager_is_quiet(self):
        client = self.spawn(["xterm", "-class", "KtHonest"], "KtHonest")
        helper = self.loop()
        if TRAITS["tiles"]:
            reply, _ = helper.ask("place KtHonest 200 150 640 480")
            self.assertEqual(reply["error"], "no_stream_window")
            # Out of the layout it is placed like any other window.
            self.desktop.run([arg.format(window=client.window) for arg in TRAITS["float"]])
            self.assertTrue(self.desktop.wait_until(
                lambda: helper.ask("windows KtHonest")[0]["windows"][0]["settable"]["position"]))
            self.settled_geometry(client.window)
        for i in range(12):
            rect = RECTS[i % len(RECTS)]
            with self.subTest(i=i, rect=rect):
                reply, _ = helper.ask("place KtHonest %d %d %d %d" % rect)
                right_after = self.desktop.geometry(client.window)
                time.sleep(0.15)
                settled = self.desktop.geometry(client.window)
                self.assertEqual(rect_of(reply["content"]), settled)
                self.assertEqual(right_after, settled)
                self.assertEqual(reply["clamped"], settled != rect)
                # A manager that snaps xterm to its cells keeps the corner.
                self.assertEqual(settled[:2], rect[:2])


class RefusedPlace(ManagerCase):
    def test_a_place_the_manager_refuses_replies_where_the_window_stayed(self):
        if TRAITS["tiles"]:
            self.skipTest(f"{WM} tiles the window")
        client = self.spawn(["xterm", "-class", "KtRefused"], "KtRefused")
        self.desktop.run(["wmctrl", "-i", "-r", str(client.window), "-b", "add,maximized_vert,maximized_horz"])
        self.assertTrue(self.desktop.wait_until(
            lambda: "_NET_WM_STATE_MAXIMIZED_HORZ" in self.desktop.props(client.window, "_NET_WM_STATE")))
        self.settled_geometry(client.window)
        helper = self.loop()
        for rect in RECTS[:2]:
            with self.subTest(rect=rect):
                reply, _ = helper.ask("place KtRefused %d %d %d %d" % rect)
                if not reply["ok"]:
                    # Managers that drop move and resize from a maximized
                    # window's allowed actions make it no stream window.
                    self.assertEqual(reply["error"], "no_stream_window")
                    continue
                self.assertNotIn(-25204, reply["axErrors"], reply)
                self.assertEqual(rect_of(reply["content"]), self.settled_geometry(client.window))


class TiledWindows(ManagerCase):
    def test_a_tiled_window_is_not_settable_and_its_frame_has_the_managers_title_bar(self):
        client = self.spawn(["xterm", "-class", "KtTiled"], "KtTiled")
        self.settled_geometry(client.window)
        window = self.helper("windows", "KtTiled")["windows"][0]
        x, y, w, h = self.desktop.geometry(client.window)
        self.assertEqual(rect_of(window["content"]), (x, y, w, h))
        self.assertEqual(window["settable"], {"position": not TRAITS["tiles"], "size": not TRAITS["tiles"]})
        # The title bar the manager draws above the client, whether or not it
        # publishes _NET_FRAME_EXTENTS (i3 does not).
        self.assertGreater(window["titlebar"], 0)
        self.assertEqual(window["frame"]["y"] + window["titlebar"], y)


@unittest.skipIf(x11_desktop.a11y_missing(), "no accessibility bus")
class HeaderBarWindows(ManagerCase):
    # A language GTK translates its title-bar buttons' names into.
    LANGUAGE = "de_DE"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The language's locale, compiled for these tests only.
        cls.locales = os.path.join(cls.desktop._dir, "locale")
        os.makedirs(cls.locales, exist_ok=True)
        done = subprocess.run(["localedef", "-i", cls.LANGUAGE, "-f", "UTF-8",
                               os.path.join(cls.locales, cls.LANGUAGE + ".UTF-8")], capture_output=True) \
            if shutil.which("localedef") else None
        if not done or done.returncode != 0:
            cls.locales = None

    def start_csd(self, version, language=None, plain=False):
        if gtk_missing(version):
            self.skipTest(f"GTK {version} for Python missing")
        env = self.desktop.env()
        if language:
            if not self.locales:
                self.skipTest(f"no {language} locale (localedef and the locales package)")
            env.update(LC_ALL=language + ".UTF-8", LOCPATH=self.locales)
        wm_class = f"KtGtk{version}"
        process = subprocess.Popen([CSD_CLIENT, version, wm_class] + (["plain"] if plain else []),
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True, bufsize=1)

        def stop():
            process.kill()
            process.wait(timeout=5)
            process.stdin.close()
            process.stdout.close()

        self.addCleanup(stop)
        xid = json.loads(process.stdout.readline())["ready"]
        self.assertTrue(self.desktop.wait_until(lambda: xid in self.desktop.client_list() and self.desktop.is_ready(xid)))

        shadow = self.desktop.props(xid, "_GTK_FRAME_EXTENTS")
        margins = tuple(int(v) for v in shadow.split("=")[1].split(",")) if "=" in shadow else None

        def laid_out(answer, width, height):
            """Whether the client's layout fills the X window it has: inside
            the shadow margin when composited, else inside an even border."""
            content = answer["content"]
            left, right = content[0], width - content[0] - content[2]
            bottom = height - content[1] - content[3]
            if margins:
                return (left, right, bottom) == (margins[0], margins[1], margins[3])
            return left == right == bottom

        def report():
            """Header bar and content in root pixels, as the client lays them
            out for the size its X window has now (GTK lays out a frame or
            two after the manager configured it)."""
            deadline = time.monotonic() + 5
            while True:
                process.stdin.write("report\n")
                process.stdin.flush()
                answer = json.loads(process.stdout.readline())
                x, y, width, height = self.desktop.geometry(xid)
                if laid_out(answer, width, height) or time.monotonic() > deadline:
                    break
                time.sleep(0.02)
            bar, content = answer["headerbar"] or [0, 0, 0, 0], answer["content"]
            return (x + bar[0], y + bar[1], bar[2], bar[3]), (x + content[0], y + content[1], content[2], content[3])

        return wm_class, xid, report

    def check_version(self, version, language=None):
        wm_class, xid, report = self.start_csd(version, language)
        shadow = self.desktop.props(xid, "_GTK_FRAME_EXTENTS")
        self.assertEqual("_GTK_FRAME_EXTENTS =" in shadow, TRAITS["composites"], shadow)
        window = self.helper("windows", wm_class)["windows"][0]
        bar, content = report()
        # The header bar is the title bar: the content starts below it, and
        # the frame is the visible window down to the content's bottom.
        self.assertEqual(window["titlebarSource"], "ax_content")
        self.assertTrue(near(rect_of(window["content"]), content), (window, content))
        self.assertEqual(window["frame"]["y"], window["content"]["y"] - window["titlebar"])
        self.assertLessEqual(window["frame"]["y"], bar[1])
        if TRAITS["tiles"]:
            self.assertEqual(self.helper("place", wm_class, "200", "150", "640", "480", check=False)["error"],
                             "no_stream_window")
            return
        for rect in RECTS:
            with self.subTest(rect=rect):
                reply = self.helper("place", wm_class, *map(str, rect))
                _, landed = report()
                self.assertTrue(near(rect_of(reply["content"]), landed), (reply, landed))
                self.assertEqual(reply["clamped"], not near(landed, rect), (reply, landed))
                if not reply["clamped"]:
                    self.assertTrue(near(landed, rect))

    def test_a_window_larger_than_the_screen_is_replied_where_gtk4_leaves_it(self):
        # GTK 4 shrinks a window larger than the screen itself, well after
        # the manager configured it; the reply must tell where it ends up.
        wm_class, xid, report = self.start_csd("4")
        if TRAITS["tiles"]:
            self.skipTest(f"{WM} tiles the window")
        for rect in [(0, 0, 2500, 1500), (200, 150, 640, 480)]:
            with self.subTest(rect=rect):
                reply = self.helper("place", wm_class, *map(str, rect))
                self.assertNotIn(-25204, reply["axErrors"], reply)
                # Where the content is, now and for a while after.
                deadline = time.monotonic() + 2
                while time.monotonic() < deadline:
                    _, landed = report()
                    self.assertTrue(near(rect_of(reply["content"]), landed), (reply, landed))
                    time.sleep(0.1)
                self.assertEqual(reply["clamped"], not near(landed, rect), (reply, landed))

    def test_a_window_that_draws_no_title_bar_is_measured_at_0(self):
        for version in ("3", "4"):
            with self.subTest(gtk=version):
                wm_class, xid, report = self.start_csd(version, plain=True)
                window = self.helper("windows", wm_class)["windows"][0]
                _, content = report()
                self.assertEqual((window["titlebar"], window["titlebarSource"]), (0, "ax_content"))
                self.assertTrue(near(rect_of(window["content"]), content), (window, content))

    def test_gtk3_header_bar_is_the_title_bar_and_place_lands_the_content(self):
        self.check_version("3")

    def test_gtk4_header_bar_is_the_title_bar_and_place_lands_the_content(self):
        self.check_version("4")

    def test_the_same_when_the_buttons_are_named_in_another_language(self):
        for version in ("3", "4"):
            with self.subTest(gtk=version):
                self.check_version(version, self.LANGUAGE)


class HeaderBarWindowsOnAnOnDemandBus(HeaderBarWindows):
    """A session bus that starts the accessibility bus when a toolkit first
    asks for it, without the display: no root property names it."""
    A11Y = "on-demand"

    def test_the_bus_is_known_only_to_the_session_bus(self):
        self.start_csd("3")
        self.assertTrue(self.desktop.accessibility_bus_running())
        self.assertNotIn("AT_SPI_BUS(", self.desktop.run(["xprop", "-root", "AT_SPI_BUS"], check=False))

    # The same windows as on the usual bus; once is enough for these.
    test_the_same_when_the_buttons_are_named_in_another_language = None
    test_a_window_larger_than_the_screen_is_replied_where_gtk4_leaves_it = None


@unittest.skipIf(not shutil.which("dbus-daemon"), "no dbus-daemon")
class WithoutTheAccessibilityBus(ManagerCase):
    """A session bus, but no accessibility bus on it or anywhere."""
    A11Y = "none"

    def test_a_header_bar_window_reports_its_title_bar_as_not_measured(self):
        if gtk_missing("3"):
            self.skipTest("GTK 3 for Python missing")
        env = self.desktop.env()
        process = subprocess.Popen([CSD_CLIENT, "3", "KtNoBus"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   env=env, text=True, bufsize=1)

        def stop():
            process.kill()
            process.wait(timeout=5)
            process.stdin.close()
            process.stdout.close()

        self.addCleanup(stop)
        xid = json.loads(process.stdout.readline())["ready"]
        self.assertTrue(self.desktop.wait_until(lambda: xid in self.desktop.client_list() and self.desktop.is_ready(xid)))
        window = self.helper("windows", "KtNoBus")["windows"][0]
        # Not measured: the core's default, not a title bar of 0.
        self.assertEqual(window["titlebarSource"], "default", window)
        self.assertGreater(window["titlebar"], 0, window)


class CloseThenQuit(ManagerCase):
    def test_closing_the_only_window_reports_window_closed_before_app_quit(self):
        client = self.spawn(["xterm", "-class", "KtLast"], "KtLast")
        helper = self.loop()
        reply, _ = helper.ask("observe KtLast")
        self.assertTrue(reply["observing"])
        self.desktop.run(["wmctrl", "-i", "-c", str(client.window)])
        _, seen = helper.wait_event(lambda e: e.get("event") == "app_quit")
        order = [e["event"] for e in seen if e.get("event") in ("window_closed", "app_quit")]
        self.assertEqual(order, ["window_closed", "app_quit"], seen)
        closed = [e for e in seen if e.get("event") == "window_closed"][0]
        self.assertEqual(closed["id"], client.window)


def main():
    return run_suite(WM_TRAITS, TOOLS)


if __name__ == "__main__":
    sys.exit(main())
