#!/usr/bin/env python3
"""A throwaway Wine desktop: the X desktop of x11_desktop.py (Xvfb, openbox,
N monitors set with xrandr --setmonitor) plus a fresh Wine prefix and one
persistent wineserver for it.

Wine follows RandR outputs, of which Xvfb has one; with the X11 driver's
UseXRandR=N it reads the monitors through Xinerama instead, which is where
--setmonitor's monitors show. Wine reads monitors and work areas when its
server session starts, so the server is restarted once that value is set.

The prefix costs about 13 s to create: a test suite makes one Desktop and
runs all its programs in it. As a command:
  wine_desktop.py run [--monitors N] -- COMMAND...
runs COMMAND with DISPLAY, WINEPREFIX, WINELOADER and the rest set.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import x11_desktop  # noqa: E402

WINE64 = "/usr/lib/wine/wine64"  # Debian installs no /usr/bin/wine64
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"


def wine_missing():
    """Why the Wine desktop cannot run here, or None."""
    for path in (WINE64, WINESERVER):
        if not os.access(path, os.X_OK):
            return f"{path} is not installed (apt-get install --no-install-recommends wine wine64)"
    for tool in ("Xvfb", "openbox", "xrandr", "xwininfo", "xdotool"):
        if shutil.which(tool) is None:
            return f"{tool} is not installed"
    return None


class WineDesktop:
    def __init__(self, monitors=2, width=None, height=1080):
        self.monitors = monitors
        width = width or 1920 * monitors
        self.x = x11_desktop.Desktop(monitors=monitors, width=width, height=height, wm="openbox")
        self.prefix = None

    # -- life cycle -------------------------------------------------------
    def start(self):
        self.x.start()
        try:
            self.prefix = tempfile.mkdtemp(prefix="kestrove-wine-")
            self._run_wine(["wineboot", "--init"], timeout=120)
            self._wait_server_idle()
            if self.monitors > 1:
                self._run_wine(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "UseXRandR", "/t", "REG_SZ",
                                "/d", "N", "/f"], timeout=60)
            # Registry written to disk and the session's monitors forgotten.
            self._kill_server()
            self._start_server()
        except Exception:
            self.stop()
            raise
        return self

    def stop(self):
        if self.prefix:
            self._kill_server()
        self.x.stop()
        # Only the folder mkdtemp made for this prefix.
        if self.prefix and os.path.basename(self.prefix).startswith("kestrove-wine-"):
            shutil.rmtree(self.prefix, ignore_errors=True)
        self.prefix = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- the server -------------------------------------------------------
    def _start_server(self):
        # Without -f the server forks and the first process returns once the
        # server accepts connections. All three streams away from the
        # caller's: a server holding CTest's pipe keeps a test open until its
        # timeout.
        done = subprocess.run([WINESERVER, "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        if done.returncode != 0:
            raise x11_desktop.DesktopError(f"wineserver -p failed ({done.returncode})")

    def _wait_server_idle(self):
        subprocess.run([WINESERVER, "-w"], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def _kill_server(self):
        # -k ends only the server of this prefix (and its programs); -w then
        # waits until it is gone, so the next server reads the registry anew.
        subprocess.run([WINESERVER, "-k"], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        self._wait_server_idle()

    def _run_wine(self, argv, timeout):
        subprocess.run([WINE64, *argv], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=True)

    # -- helpers ----------------------------------------------------------
    def env(self, **extra):
        env = self.x.env(WINEPREFIX=self.prefix, WINELOADER=WINE64, WINEDLLOVERRIDES="mscoree,mshtml=",
                         WINEDEBUG="-all", WINESERVER=WINESERVER)
        env.update(extra)
        return env

    def wine_argv(self, program, *args):
        return [WINE64, program, *args]

    def popen(self, program, *args, **kwargs):
        """A Wine program, its stdin and stdout pipes by default; stderr away."""
        kwargs.setdefault("stdin", subprocess.PIPE)
        kwargs.setdefault("stdout", subprocess.PIPE)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        return subprocess.Popen(self.wine_argv(program, *args), env=self.env(), **kwargs)

    def run(self, argv, check=True, timeout=10, ok_only=False):
        done = subprocess.run(argv, env=self.env(), capture_output=True, text=True, timeout=timeout)
        if ok_only:
            return done.returncode == 0
        if check and done.returncode != 0:
            raise x11_desktop.DesktopError(f"{argv[0]} failed: {done.stderr.strip()}")
        return done.stdout


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="what", required=True)
    run = sub.add_parser("run")
    run.add_argument("--monitors", type=int, default=2)
    run.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    missing = wine_missing()
    if missing:
        print(f"wine_desktop: {missing}", file=sys.stderr)
        return 2
    with WineDesktop(monitors=args.monitors) as desktop:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        return subprocess.run(command, env=desktop.env()).returncode


if __name__ == "__main__":
    sys.exit(main())
