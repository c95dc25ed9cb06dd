#!/usr/bin/env python3
"""A throwaway X desktop: Xvfb with two RandR monitors, openbox, real clients.

Used by the X11 tests, the demo and the benchmarks. Everything started here is
stopped by pid, in reverse order. As a command:
  x11_desktop.py run [--monitors N] [--wm-ready PATH] -- COMMAND...
runs COMMAND with DISPLAY set to a fresh desktop and stops the desktop after.
"""
import argparse
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
    def __init__(self, monitors=2, wm_ready=None, width=3840, height=1080, primary=0, number=None):
        self.number = number  # a display number to take over (its server gone); else a free one
        self.monitors = monitors
        self.primary = primary
        self.wm_ready = wm_ready
        self.width = width
        self.height = height
        self.display = None
        self._started = []  # Popen objects, in start order
        self._dir = None

    # -- life cycle -------------------------------------------------------
    def start(self):
        self._dir = tempfile.mkdtemp(prefix="kestrove-desktop-")
        try:
            self._start_server()
            self._set_monitors()
            self._start_wm()
        except Exception:
            self.stop()
            raise
        return self

    def _start_server(self):
        import select
        number = self.number if self.number is not None else _free_display()
        fifo = os.path.join(self._dir, "displayfd")
        os.mkfifo(fifo)
        # The shell only opens the FIFO as fd 3 and becomes Xvfb (exec), so
        # the pid is the server's.
        server = subprocess.Popen(
            ["sh", "-c", 'exec Xvfb "$0" -noreset -nolisten tcp -screen 0 "$1" -displayfd 3 3>"$2"',
             f":{number}", f"{self.width}x{self.height}x24", fifo],
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
        rc = os.path.join(self._dir, "rc.xml")
        with open(rc, "w") as f:
            f.write(OPENBOX_RC)
        wm = subprocess.Popen(["openbox", "--sm-disable", "--config-file", rc], env=self.env(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._started.append(wm)
        if self.wm_ready and os.access(self.wm_ready, os.X_OK):
            if subprocess.run([self.wm_ready, "5000"], env=self.env()).returncode != 0:
                raise DesktopError("openbox did not become ready")
            return
        # Without the handshake tool: the WM check property, then the time
        # openbox needs before it stops dropping requests.
        deadline = time.monotonic() + 5
        while "window id" not in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False):
            if time.monotonic() > deadline:
                raise DesktopError("openbox did not start")
            time.sleep(0.02)
        time.sleep(0.3)

    def stop(self):
        for process in reversed(self._started):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(timeout=3)
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
        self._started = []

    def client_list(self):
        out = self.run(["xprop", "-root", "-notype", "_NET_CLIENT_LIST"], check=False)
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]

    def props(self, window, *names):
        return self.run(["xprop", "-id", str(window), "-notype", *names], check=False)

    def wm_class(self, window):
        match = re.search(r'WM_CLASS = "[^"]*", "([^"]*)"', self.props(window, "WM_CLASS"))
        return match.group(1) if match else None

    def geometry(self, window):
        """Content rectangle from xwininfo: (x, y, width, height) in root pixels."""
        out = self.run(["xwininfo", "-id", str(window)])
        value = lambda key: int(re.search(key + r":\s+(-?\d+)", out).group(1))
        return (value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height"))

    def frame_extents(self, window):
        match = re.search(r"_NET_FRAME_EXTENTS = (\d+), (\d+), (\d+), (\d+)", self.props(window, "_NET_FRAME_EXTENTS"))
        return tuple(int(g) for g in match.groups()) if match else None

    def is_ready(self, window):
        out = self.props(window, "WM_STATE", "_NET_FRAME_EXTENTS")
        return "window state: Normal" in out and "_NET_FRAME_EXTENTS =" in out

    def spawn(self, argv, wm_class, timeout=10):
        """Starts a client and waits until its window is managed and framed."""
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
    run.add_argument("--wm-ready")
    run.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    with Desktop(monitors=args.monitors, wm_ready=args.wm_ready, primary=args.primary) as desktop:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        return subprocess.run(command, env=desktop.env()).returncode


if __name__ == "__main__":
    sys.exit(main())
