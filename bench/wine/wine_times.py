#!/usr/bin/env python3
"""`windows` and `place` times under Wine next to the X11 helper, on the same
Wine desktop (tools/wine_desktop.py) and the same test app window.

  wine_times.py --exe HELPER.exe --x11 build/kestrove --testapp testapp.exe [--runs 20]

Each figure is the median wall time of one whole one-shot run (process start
included, with the persistent wineserver already up), after one warm-up.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tools"))
import wine_desktop  # noqa: E402


def timed(argv, env, runs):
    subprocess.run(argv, env=env, capture_output=True, timeout=60, check=True)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, env=env, capture_output=True, timeout=60, check=True)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times), min(times), max(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--x11", required=True)
    parser.add_argument("--testapp", required=True)
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    with wine_desktop.WineDesktop(monitors=2) as desktop:
        app = desktop.popen(args.testapp, "--title", "kt-bench")
        try:
            app.stdout.readline()
            xid = desktop.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "kt-bench"]).split()[0]
            wm_class = re.search(r'WM_CLASS\(STRING\) = "[^"]*", "([^"]*)"',
                                 desktop.run(["xprop", "-id", xid, "WM_CLASS"])).group(1)
            env = desktop.env()
            wine = desktop.wine_argv(args.exe)
            rows = [
                ("windows", "Wine", [*wine, "windows", "testapp"]),
                ("windows", "X11", [args.x11, "windows", wm_class]),
                ("place", "Wine", [*wine, "place", "testapp", "120", "90", "500", "400"]),
                ("place", "X11", [args.x11, "place", wm_class, "140", "100", "520", "380"]),
            ]
            print(f"{'command':8} {'helper':6} {'median ms':>10} {'min':>8} {'max':>8}  (n={args.runs})")
            for command, helper, argv in rows:
                median, low, high = timed(argv, env, args.runs)
                print(f"{command:8} {helper:6} {median:10.1f} {low:8.1f} {high:8.1f}")
        finally:
            app.stdin.write(b"quit\n")
            app.stdin.close()
            app.wait(timeout=20)
            app.stdout.close()


if __name__ == "__main__":
    sys.exit(main())
