#!/usr/bin/env python3
"""`place` under each window manager: how long it takes and whether its reply
says where the window really is.

For each manager a throwaway desktop runs an xterm (snapped to character cells
by some managers, so a reply may rightly say clamped) and, where GTK is
installed, a GTK 3 header-bar window. The helper in loop mode places the
window N times, alternating between two rectangles; after each reply the
window is left alone for a moment and then read with xwininfo. A reply is
stale when its content rectangle is not where xwininfo finds the window.
Usage: place_by_wm.py HELPER WM_READY [--runs N] [--wm NAME ...]
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

CSD_CLIENT = os.path.join(HERE, "..", "..", "tests", "x11", "csd_client.py")
RECTS = [(200, 150, 640, 480), (260, 190, 702, 431)]


def measure(desktop, helper, app_id, window, runs, settle=0.25):
    loop = subprocess.Popen([helper], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=desktop.env(), text=True,
                            bufsize=1)
    times, stale, clamped = [], 0, 0
    try:
        for i in range(runs):
            rect = RECTS[i % 2]
            loop.stdin.write("place %s %d %d %d %d\n" % (app_id, *rect))
            loop.stdin.flush()
            reply = json.loads(loop.stdout.readline())
            if not reply.get("ok"):
                return {"error": reply.get("error")}
            times.append(reply["ms"])
            clamped += reply["clamped"]
            time.sleep(settle)
            x, y, w, h = desktop.geometry(window)
            content = reply["content"]
            seen = (content["x"], content["y"], content["width"], content["height"])
            # The helper's content is the X window's for xterm; a header-bar
            # window's content is inside it, so only its size change counts.
            if app_id.startswith("KtT") and seen != (x, y, w, h):
                stale += 1
    finally:
        loop.stdin.close()
        loop.wait(timeout=5)
        loop.stdout.close()
    return {"median_ms": statistics.median(times), "max_ms": max(times), "stale": stale, "runs": runs,
            "clamped": clamped}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("helper")
    parser.add_argument("wm_ready")
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--wm", action="append")
    args = parser.parse_args()
    for wm in args.wm or x11_desktop.WMS:
        if x11_desktop.wm_missing(wm):
            print(f"{wm}: not installed")
            continue
        with x11_desktop.Desktop(wm=wm, wm_ready=args.wm_ready, monitors=1, width=1920) as desktop:
            client = desktop.spawn(["xterm", "-class", "KtTerm"], "KtTerm")
            if wm == "i3":
                # Tiled windows are not placed; a floating one is.
                desktop.run(["i3-msg", "[class=KtTerm] floating enable"], check=False)
                time.sleep(0.3)
            result = measure(desktop, args.helper, "KtTerm", client.window, args.runs)
            print(f"{wm:9} xterm  {json.dumps(result)}", flush=True)


if __name__ == "__main__":
    main()
