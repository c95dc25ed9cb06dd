#!/usr/bin/env python3
"""Untrue `place` replies under each window manager, idle and with both cores
kept busy, and what a place and a refused place cost.

For each manager a throwaway desktop (one 1920x1080 monitor, the
accessibility bus) runs an xterm (floating under i3), a GTK 3 and a GTK 4
header-bar window (tests/x11/csd_client.py). Each is placed N times in loop
mode, cycling through three rectangles on the screen and, every fifth place,
one larger than the screen (GTK 4 shrinks such a window itself, well after the
manager configured it). Right after each reply the window is read: the xterm
with xwininfo (inside its X border, as its content is), a header-bar window
from the client's own report of its content widget once it has laid out for
the X window it has. A reply is untrue when its content differs from that
(by more than a pixel for a header-bar window) and it does not say -25204
(not confirmed: the manager was not seen to act within the command's bound);
those are counted apart, as "unconfirmed". Then the xterm is maximized and placed N/4 times: the managers
here refuse or restore that, and the figure is its median ms. "ms" is the
reply's own figure (write to read-back); the medians leave out the requests
larger than the screen, which wait for the client on purpose.
Usage: untrue_by_wm.py HELPER WM_READY [--runs N] [--load] [--wm NAME ...]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import x11_desktop  # noqa: E402
from place_by_wm import HeaderBarWindow, Loop, gtk_missing  # noqa: E402

RECTS = [(200, 150, 640, 480), (260, 190, 702, 431), (90, 120, 515, 377), (150, 100, 800, 600)]
OVERSIZE = (0, 0, 2500, 1500)
MANAGERS = ("openbox", "jwm", "xfwm4-composited", "mutter", "kwin", "metacity", "i3")


def rect_of(r):
    return (r["x"], r["y"], r["width"], r["height"])


def near(a, b, tolerance):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def measure(loop, app_id, runs, where, tolerance):
    times, untrue, unconfirmed, examples = [], 0, 0, []
    for i in range(runs):
        oversize = i % 5 == 4
        rect = OVERSIZE if oversize else RECTS[i % len(RECTS)]
        reply = loop("place", app_id, *map(str, rect))
        if not reply.get("ok"):
            return {"error": reply.get("error")}
        real = where()
        if not oversize:
            times.append(reply["ms"])
        if -25204 in reply["axErrors"]:
            unconfirmed += 1
        elif not near(rect_of(reply["content"]), real, tolerance):
            untrue += 1
            if len(examples) < 3:
                examples.append({"asked": rect, "replied": rect_of(reply["content"]), "real": real,
                                 "axErrors": reply["axErrors"]})
    return {"untrue": untrue, "unconfirmed": unconfirmed, "runs": runs, "median_ms": statistics.median(times),
            "max_ms": max(times), "examples": examples}


def refused(loop, desktop, window, app_id, runs):
    desktop.run(["wmctrl", "-i", "-r", str(window), "-b", "add,maximized_vert,maximized_horz"])
    desktop.wait_until(lambda: "_NET_WM_STATE_MAXIMIZED_HORZ" in desktop.props(window, "_NET_WM_STATE"))
    time.sleep(0.5)  # let the manager finish laying the maximized window out
    times, untrue = [], 0
    for i in range(runs):
        reply = loop("place", app_id, *map(str, RECTS[i % len(RECTS)]))
        if not reply.get("ok"):
            return {"error": reply.get("error")}
        times.append(reply["ms"])
        untrue += rect_of(reply["content"]) != desktop.geometry(window) and -25204 not in reply["axErrors"]
    desktop.run(["wmctrl", "-i", "-r", str(window), "-b", "remove,maximized_vert,maximized_horz"])
    return {"median_ms": statistics.median(times), "max_ms": max(times), "untrue": untrue, "runs": runs}


def run_manager(wm, args):
    with x11_desktop.Desktop(wm=wm, wm_ready=args.wm_ready, monitors=1, width=1920,
                             a11y=not x11_desktop.a11y_missing()) as desktop:
        results = {}
        client = desktop.spawn(["xterm", "-class", "KtTerm"], "KtTerm")
        windows = [("xterm", "KtTerm", lambda: desktop.geometry(client.window), 0, None)]
        gtk = []
        if not x11_desktop.a11y_missing():
            for version in ("3", "4"):
                if not gtk_missing(version):
                    w = HeaderBarWindow(desktop, version, f"KtGtk{version}")
                    gtk.append(w)
                    windows.append((f"gtk{version}", f"KtGtk{version}", w.content, 1, w))
        if wm == "i3":
            # Tiled windows are no stream window; floating ones are placed.
            for _, app_id, _, _, _ in windows:
                desktop.run(["i3-msg", f"[class={app_id}] floating enable"], check=False)
            time.sleep(0.5)
        loop = Loop(args.helper, desktop.env())
        try:
            for name, app_id, where, tolerance, _ in windows:
                results[name] = measure(loop, app_id, args.runs, where, tolerance)
            if wm != "i3":
                results["refused"] = refused(loop, desktop, client.window, "KtTerm", max(4, args.runs // 4))
        finally:
            loop.close()
            for w in gtk:
                w.close()
        return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("helper")
    parser.add_argument("wm_ready")
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--load", action="store_true", help="two CPU-bound processes beside the desktop")
    parser.add_argument("--wm", action="append")
    args = parser.parse_args()
    burners = []
    if args.load:
        burners = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(2)]
    try:
        for wm in args.wm or MANAGERS:
            if x11_desktop.wm_missing(wm):
                print(f"{wm}: not installed", flush=True)
                continue
            started = time.monotonic()
            results = run_manager(wm, args)
            print(json.dumps({"wm": wm, "load": args.load, "seconds": round(time.monotonic() - started),
                              **results}), flush=True)
    finally:
        for burner in burners:
            burner.kill()
            burner.wait()


if __name__ == "__main__":
    main()
