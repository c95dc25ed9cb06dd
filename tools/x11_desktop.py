#!/usr/bin/env python3
"""A throwaway X desktop: Xvfb with two RandR monitors, a window manager
(openbox, jwm, xfwm4, xfwm4-composited, mutter, kwin, i3 or metacity), real
clients.

Used by the X11 tests, the demo and the benchmarks. Everything started here is
stopped by pid, in reverse order. As a command:
  x11_desktop.py run [--monitors N] [--wm NAME] [--wm-ready PATH] [--a11y] -- COMMAND...
runs COMMAND with DISPLAY set to a fresh desktop and stops the desktop after.
The window manager is --wm, else $KESTROVE_X11_WM, else openbox. Managers that
need a session bus get a private one, and so does --a11y, which also starts
the accessibility bus (AT-SPI) that toolkits publish their widgets on; the
command then gets DBUS_SESSION_BUS_ADDRESS too. The accessibility bus comes
in the shapes desktops give it (--a11y-shape):
  root       its launcher runs with the display and names the bus in the root
             window's AT_SPI_BUS property (the default)
  on-demand  the session bus starts the launcher when a program first asks
             org.a11y.Bus for the address, without the display in its
             environment: no root property, only the session bus knows it
  none       a session bus with no accessibility bus at all
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><name>Clearlooks</name><animateIconify>no</animateIconify></theme>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
  <keyboard></keyboard>
  <mouse></mouse>
</openbox_config>
"""

# One desktop, click focus, and a tray so the work area is smaller than the
# screen (the system config also pulls in a Debian menu).
JWM_RC = """<?xml version="1.0"?>
<JWM>
  <Desktops width="1" height="1"/>
  <FocusModel>click</FocusModel>
  <Tray x="0" y="-1" height="24" autohide="off"><Spacer/></Tray>
</JWM>
"""

XFWM4_CHANNEL = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfwm4" version="1.0">
  <property name="general" type="empty">
    <property name="use_compositing" type="bool" value="false"/>
    <property name="workspace_count" type="int" value="1"/>
    <property name="theme" type="string" value="Default"/>
    <property name="box_move" type="bool" value="false"/>
    <property name="box_resize" type="bool" value="false"/>
  </property>
</channel>
"""

# A session bus of our own with no activatable services: xfconfd is started
# here, so every process has a pid we stop.
DBUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={path}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
{services}</busconfig>
"""

# The session bus starts the accessibility bus launcher on demand, as a
# desktop's session bus does with the service file at-spi2-core installs.
A11Y_SERVICE = """[D-BUS Service]
Name=org.a11y.Bus
Exec={launcher}
"""

A11Y_SHAPES = ("root", "on-demand", "none")

# i3 tiles (no floating default); its config keeps the desktop bare.
I3_CONFIG = """# i3 config file (v4)
font pango:monospace 8
focus_follows_mouse no
workspace_layout default
"""

WMS = ("openbox", "jwm", "xfwm4", "xfwm4-composited", "mutter", "kwin", "i3", "metacity")
# Managers that read settings or register themselves on a session bus.
NEEDS_BUS = ("xfwm4", "xfwm4-composited", "mutter", "kwin", "metacity")


def default_wm():
    return os.environ.get("KESTROVE_X11_WM") or "openbox"


def xfconfd_path():
    found = sorted(glob.glob("/usr/lib/*/xfce4/xfconf/xfconfd"))
    return found[0] if found else None


def wm_missing(wm):
    """The programs a window manager needs that are not installed (empty when it can run)."""
    needs = {"openbox": ["openbox"], "jwm": ["jwm"], "xfwm4": ["xfwm4"], "xfwm4-composited": ["xfwm4"],
             "mutter": ["mutter"],
             "kwin": ["kwin_x11"], "i3": ["i3"], "metacity": ["metacity"]}[wm]
    if wm in NEEDS_BUS:
        needs += ["dbus-daemon", "dbus-send"]
    missing = [program for program in needs if not shutil.which(program)]
    if wm.startswith("xfwm4") and not xfconfd_path():
        missing.append("xfconfd")
    return missing


def a11y_missing():
    """What the accessibility bus needs that is not installed (empty when it can run)."""
    missing = [program for program in ("dbus-daemon",) if not shutil.which(program)]
    if not os.access(A11Y_LAUNCHER, os.X_OK):
        missing.append("at-spi-bus-launcher")
    return missing


A11Y_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


class DesktopError(Exception):
    pass


def _free_display(start=90):
    for n in range(start, start + 400):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return n
    raise DesktopError("no free display number")


class Client:
    def __init__(self, process, window):
        self.process = process
        self.window = window

    @property
    def pid(self):
        return self.process.pid


class Desktop:
    def __init__(self, monitors=2, wm_ready=None, width=3840, height=1080, primary=0, number=None, wm=None,
                 a11y=False):
        self.wm = wm or default_wm()
        # True means the usual shape: the bus named in the root property.
        self.a11y = "root" if a11y is True else (a11y or None)
        if self.a11y is not None and self.a11y not in A11Y_SHAPES:
            raise DesktopError(f"unknown accessibility bus shape {a11y!r}; one of {', '.join(A11Y_SHAPES)}")
        if self.wm not in WMS:
            raise DesktopError(f"unknown window manager {self.wm!r}; one of {', '.join(WMS)}")
        self.number = number  # a display number to take over (its server gone); else a free one
        self.monitors = monitors
        self.primary = primary
        self.wm_ready = wm_ready
        self.width = width
        self.height = height
        self.display = None
        self._started = []  # Popen objects, in start order
        self._dir = None
        self._wm_env = {}  # what the window manager's own processes need
        self._client_env = {}  # what every client gets (the session bus)
        self._wm_process = None

    # -- life cycle -------------------------------------------------------
    def start(self):
        self._dir = tempfile.mkdtemp(prefix="kestrove-desktop-")
        try:
            self._start_server()
            self._set_monitors()
            if self.a11y or self.wm in NEEDS_BUS:
                self._start_session_bus()
            if self.a11y == "root":
                self._start_a11y_bus()
            elif self.a11y == "on-demand":
                self._client_env["GTK_A11Y"] = "atspi"
            self._start_wm()
        except Exception:
            self.stop()
            raise
        return self

    def _start_server(self):
        import select
        fifo = os.path.join(self._dir, "displayfd")
        os.mkfifo(fifo)
        # Without a number Xvfb takes the first free one itself, which two
        # suites starting desktops at once cannot both be given (a number
        # picked here first could be). The shell only opens the FIFO as fd 3
        # and becomes Xvfb (exec), so the pid is the server's.
        display = [f":{self.number}"] if self.number is not None else []
        server = subprocess.Popen(
            ["sh", "-c", 'fifo=$1; shift; exec Xvfb "$@" -noreset -nolisten tcp -displayfd 3 3>"$fifo"', "sh", fifo,
             *display, "-screen", "0", f"{self.width}x{self.height}x24"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._started.append(server)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        text = ""
        deadline = time.monotonic() + 10
        try:
            # The display number arrives once the server accepts connections.
            while "\n" not in text and time.monotonic() < deadline and server.poll() is None:
                ready, _, _ = select.select([reader], [], [], 0.05)
                if ready:
                    text += os.read(reader, 64).decode()
        finally:
            os.close(reader)
        if not text.strip():
            raise DesktopError("Xvfb did not start")
        self.display = f":{text.strip()}"

    def _set_monitors(self):
        half = self.width // self.monitors
        for i in range(self.monitors):
            name = ("*" if i == self.primary else "") + f"MON{i}"
            output = "screen" if i == self.primary else "none"
            self.run(["xrandr", "--setmonitor", name, f"{half}/508x{self.height}/286+{i * half}+0", output])

    def _start_wm(self):
        argv = getattr(self, "_argv_" + self.wm.replace("-", "_"))()
        wm = subprocess.Popen(argv, env=self.env(**self._wm_env), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        self._started.append(wm)
        self._wm_process = wm
        if self.wm_ready and os.access(self.wm_ready, os.X_OK):
            # Every manager here answers _NET_REQUEST_FRAME_EXTENTS once it
            # handles requests, which openbox does only well after it owns WM_S0.
            if subprocess.run([self.wm_ready, "5000"], env=self.env()).returncode != 0:
                raise DesktopError(f"{self.wm} did not become ready")
            return
        # Without the handshake tool: the WM check property, then the time
        # openbox needs before it stops dropping requests.
        deadline = time.monotonic() + 5
        while "window id" not in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False):
            if time.monotonic() > deadline or wm.poll() is not None:
                raise DesktopError(f"{self.wm} did not start")
            time.sleep(0.02)
        time.sleep(0.3)

    def _write(self, name, text):
        path = os.path.join(self._dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        return path

    def _argv_openbox(self):
        return ["openbox", "--sm-disable", "--config-file", self._write("rc.xml", OPENBOX_RC)]

    def _argv_jwm(self):
        return ["jwm", "-f", self._write("jwmrc", JWM_RC)]

    def _start_session_bus(self):
        """A private session bus, with a config folder that keeps the user's settings out."""
        socket = os.path.join(self._dir, "bus")
        services = ""
        env = dict(os.environ)
        if self.a11y == "on-demand":
            self._write("services/org.a11y.Bus.service", A11Y_SERVICE.format(launcher=A11Y_LAUNCHER))
            services = "  <servicedir>%s</servicedir>\n" % os.path.join(self._dir, "services")
            # What it activates inherits this environment: no display.
            env.pop("DISPLAY", None)
        config = DBUS_CONFIG.format(path=socket, services=services)
        bus = subprocess.Popen(["dbus-daemon", "--nofork", "--nopidfile", "--print-address=1",
                                "--config-file", self._write("bus.conf", config)],
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._started.append(bus)
        address = self._read_line(bus, 5)
        if not address:
            raise DesktopError("dbus-daemon did not start")
        runtime = os.path.join(self._dir, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self._client_env = {"DBUS_SESSION_BUS_ADDRESS": address, "XDG_RUNTIME_DIR": runtime,
                            "XDG_CONFIG_HOME": os.path.join(self._dir, "config"), "GSETTINGS_BACKEND": "memory"}
        # The manager's own toolkit stays off the accessibility bus.
        self._wm_env = dict(self._client_env, NO_AT_BRIDGE="1")

    def _start_a11y_bus(self):
        """The AT-SPI bus: its launcher names it on the session bus and in the
        root window's AT_SPI_BUS property, where toolkits and the helper find it."""
        launcher = subprocess.Popen([A11Y_LAUNCHER, "--launch-immediately"], env=self.env(),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._started.append(launcher)
        if not self.wait_until(lambda: "AT_SPI_BUS(" in self.run(["xprop", "-root", "AT_SPI_BUS"], check=False),
                               timeout=10):
            raise DesktopError("the accessibility bus did not start")
        self._client_env["GTK_A11Y"] = "atspi"

    def _argv_xfwm4(self, composited=False):
        # xfwm4 reads its settings only through xfconfd on the session bus.
        channel = XFWM4_CHANNEL.replace('"use_compositing" type="bool" value="false"',
                                        '"use_compositing" type="bool" value="%s"' % str(composited).lower())
        self._write("config/xfce4/xfconf/xfce-perchannel-xml/xfwm4.xml", channel)
        xfconfd = subprocess.Popen([xfconfd_path()], env=self.env(**self._wm_env),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._started.append(xfconfd)
        has_owner = ["dbus-send", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                     "org.freedesktop.DBus.NameHasOwner", "string:org.xfce.Xfconf"]
        if not self.wait_until(lambda: "boolean true" in subprocess.run(
                has_owner, env=self.env(**self._wm_env), capture_output=True, text=True, timeout=5).stdout,
                timeout=5):
            raise DesktopError("xfconfd did not start")
        return ["xfwm4", "--compositor=%s" % ("on" if composited else "off"), "--sm-client-disable"]

    def _argv_xfwm4_composited(self):
        return self._argv_xfwm4(composited=True)

    def _argv_mutter(self):
        # Composites on X11, so header-bar windows carry their shadow margin.
        return ["mutter", "--x11", "--replace", "--sm-disable"]

    def _argv_kwin(self):
        self._write("config/kwinrc", "[Compositing]\nEnabled=true\n[Windows]\nPlacement=Smart\n")
        return ["kwin_x11", "--replace"]

    def _argv_i3(self):
        return ["i3", "-c", self._write("i3.conf", I3_CONFIG)]

    def _argv_metacity(self):
        return ["metacity", "--replace", "--sm-disable", "--no-composite"]

    @staticmethod
    def _read_line(process, timeout):
        import select
        text, deadline = b"", time.monotonic() + timeout
        while b"\n" not in text and time.monotonic() < deadline and process.poll() is None:
            ready, _, _ = select.select([process.stdout], [], [], 0.05)
            if ready:
                chunk = os.read(process.stdout.fileno(), 256)
                if not chunk:
                    break
                text += chunk
        return text.decode().strip()

    def _stop_activated_launcher(self):
        """The launcher the session bus started on demand is not ours by
        Popen: it is stopped by the pid the bus tells, before the bus."""
        if self.a11y != "on-demand" or not self._client_env:
            return
        ask = ["dbus-send", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
               "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:org.a11y.Bus"]
        try:
            out = subprocess.run(ask, env=self.env(), capture_output=True, text=True, timeout=5).stdout
        except (OSError, subprocess.TimeoutExpired):
            return
        match = re.search(r"uint32 (\d+)", out)
        if not match:
            return
        pid = int(match.group(1))
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline and os.path.exists(f"/proc/{pid}"):
            time.sleep(0.02)

    def accessibility_bus_running(self):
        """Whether the session bus has the accessibility bus (org.a11y.Bus)."""
        ask = ["dbus-send", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
               "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"]
        done = subprocess.run(ask, env=self.env(), capture_output=True, text=True, timeout=5)
        return "boolean true" in done.stdout

    def stop(self):
        self._stop_activated_launcher()
        for process in reversed(self._started):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(timeout=3)
            if process.stdout:
                process.stdout.close()
        self._started = []
        # Only the folder mkdtemp made for this desktop, never anything else.
        if self._dir and os.path.basename(self._dir).startswith("kestrove-desktop-"):
            shutil.rmtree(self._dir, ignore_errors=True)
        self._dir = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- helpers ----------------------------------------------------------
    def env(self, **extra):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.update(self._client_env)
        env.update(extra)
        return env

    def run(self, argv, check=True, timeout=10, ok_only=False):
        done = subprocess.run(argv, env=self.env(), capture_output=True, text=True, timeout=timeout)
        if ok_only:
            return done.returncode == 0
        if check and done.returncode != 0:
            raise DesktopError(f"{argv[0]} failed: {done.stderr.strip()}")
        return done.stdout

    def kill_server(self):
        """Kills Xvfb under whatever is running (the desktop is then gone)."""
        for process in reversed(self._started):
            if process.poll() is None:
                process.kill()
                process.wait(timeout=3)
            if process.stdout:
                process.stdout.close()
        self._started = []

    def wm_running(self):
        """Whether the window manager still runs once it has handled what was
        sent to it so far (a manager can exit on an X error it did not expect):
        it answers the readiness handshake, and its process is alive."""
        if self._wm_process is None or self._wm_process.poll() is not None:
            return False
        if self.wm_ready and os.access(self.wm_ready, os.X_OK):
            if subprocess.run([self.wm_ready, "2000"], env=self.env()).returncode != 0:
                return False
        return self._wm_process.poll() is None

    def client_list(self):
        out = self.run(["xprop", "-root", "-notype", "_NET_CLIENT_LIST"], check=False)
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]

    def props(self, window, *names):
        return self.run(["xprop", "-id", str(window), "-notype", *names], check=False)

    def wm_class(self, window):
        match = re.search(r'WM_CLASS = "[^"]*", "([^"]*)"', self.props(window, "WM_CLASS"))
        return match.group(1) if match else None

    def geometry(self, window):
        """Content rectangle from xwininfo: (x, y, width, height) in root pixels,
        inside the window's own X border (xterm keeps one under i3), whose outer
        corner xwininfo calls the upper-left."""
        out = self.run(["xwininfo", "-id", str(window)])
        value = lambda key: int(re.search(key + r":\s+(-?\d+)", out).group(1))
        border = value("Border width")
        return (value("Absolute upper-left X") + border, value("Absolute upper-left Y") + border, value("Width"),
                value("Height"))

    def frame_extents(self, window):
        """_NET_FRAME_EXTENTS (left, right, top, bottom); zeros for a window the
        manager publishes none for (kwin: shaped ones such as xeyes)."""
        match = re.search(r"_NET_FRAME_EXTENTS = (\d+), (\d+), (\d+), (\d+)", self.props(window, "_NET_FRAME_EXTENTS"))
        return tuple(int(g) for g in match.groups()) if match else (0, 0, 0, 0)

    def is_ready(self, window):
        out = self.props(window, "WM_STATE", "_NET_FRAME_EXTENTS", "_GTK_FRAME_EXTENTS", "_MOTIF_WM_HINTS")
        if "window state: Normal" not in out:
            return False
        # i3 sets no frame extents at all, kwin none for a shaped window,
        # mutter, metacity and kwin none for one that draws its own
        # decorations.
        own_decorations = "_GTK_FRAME_EXTENTS =" in out or "_MOTIF_WM_HINTS =" in out
        if "_NET_FRAME_EXTENTS =" not in out and self.wm not in ("i3", "kwin") and not own_decorations:
            return False
        # mutter lists and frames a window before it places and maps it.
        return "IsViewable" in self.run(["xwininfo", "-id", str(window)], check=False)

    def spawn(self, argv, wm_class, timeout=10):
        """Starts a client and waits until its window is managed and framed."""
        # A window just destroyed can still be listed (mutter is slow to drop
        # it), and its id can be the new client's: wait until every listed
        # window exists, so the new one is not taken for an old one.
        self.wait_until(lambda: all(self.run(["xwininfo", "-id", str(w)], ok_only=True)
                                    for w in self.client_list()), timeout=5)
        before = set(self.client_list())
        process = subprocess.Popen(argv, env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._started.append(process)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for window in self.client_list():
                if window not in before and self.wm_class(window) == wm_class and self.is_ready(window):
                    return Client(process, window)
            time.sleep(0.02)
        raise DesktopError(f"{argv[0]} did not map a window in time")

    def forget(self, process):
        """A client the caller ended itself."""
        if process in self._started:
            self._started.remove(process)

    def wait_until(self, predicate, timeout=5, step=0.02):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return True
            time.sleep(step)
        return predicate()


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="what", required=True)
    run = sub.add_parser("run")
    run.add_argument("--monitors", type=int, default=2)
    run.add_argument("--primary", type=int, default=0)
    run.add_argument("--wm", choices=WMS, default=None)
    run.add_argument("--wm-ready")
    run.add_argument("--a11y", action="store_true")
    run.add_argument("--a11y-shape", choices=A11Y_SHAPES, default=None)
    run.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    a11y = args.a11y_shape or args.a11y
    with Desktop(monitors=args.monitors, wm_ready=args.wm_ready, primary=args.primary, wm=args.wm,
                 a11y=a11y) as desktop:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        return subprocess.run(command, env=desktop.env()).returncode


if __name__ == "__main__":
    sys.exit(main())
