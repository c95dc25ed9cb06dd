#!/usr/bin/env python3
"""`place` under each window manager: how long it takes, whether its reply
says where the window really is, and where a header-bar window's visible
content lands.

For each manager a throwaway desktop (one 1920x1080 monitor, the
accessibility bus) runs an xterm (snapped to character cells by some
managers, so a reply may rightly say clamped) and, where GTK is installed,
GTK 3 and GTK 4 header-bar windows. The helper places each window N times,
alternating between two rectangles, in loop mode and (xterm) in one-shot
mode; "ms" is the reply's own figure. After each reply the window is left
alone for a moment and then read: with xwininfo for the xterm, from the GTK
client's own report of its content for a header-bar window. A reply is stale
when its content is not where the window then is; the offset is the
visible content's (dx, dy, dw, dh) from the request.
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


class Loop:
    def __init__(self, helper, env):
        self.process = subprocess.Popen([helper], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True,
                                        bufsize=1)

    def __call__(self, *words):
        self.process.stdin.write(" ".join(words) + "\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=5)
        self.process.stdout.close()


def one_shot(helper, env):
    def ask(*words):
        return json.loads(subprocess.run([helper, *words], env=env, capture_output=True, text=True).stdout)
    return ask


def measure(ask, app_id, runs, where, settle=0.25):
    """Places N times; `where()` tells the content rectangle the window really has."""
    times, stale, clamped, offsets = [], 0, 0, set()
    for i in range(runs):
        rect = RECTS[i % 2]
        reply = ask("place", app_id, *map(str, rect))
        if not reply.get("ok"):
            return {"error": reply.get("error")}
        times.append(reply["ms"])
        clamped += reply["clamped"]
        time.sleep(settle)
        real = where()
        content = reply["content"]
        if (content["x"], content["y"], content["width"], content["height"]) != real:
            stale += 1
        offsets.add(tuple(r - q for r, q in zip(real, rect)))
    return {"median_ms": statistics.median(times), "max_ms": max(times), "stale": stale, "runs": runs,
            "clamped": clamped, "offsets": sorted(offsets)}


def gtk_missing(version):
    probe = ("import gi; gi.require_version('Gtk', '%s.0'); from gi.repository import Gtk" % version)
    return subprocess.run(["/usr/bin/python3", "-c", probe], capture_output=True).returncode != 0


class HeaderBarWindow:
    """The test suite's GTK header-bar client; where its content is, once laid out."""

    def __init__(self, desktop, version, wm_class):
        self.desktop = desktop
        self.process = subprocess.Popen([CSD_CLIENT, version, wm_class], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, env=desktop.env(), text=True, bufsize=1)
        self.xid = json.loads(self.process.stdout.readline())["ready"]
        desktop.wait_until(lambda: self.xid in desktop.client_list() and desktop.is_ready(self.xid))
        shadow = desktop.props(self.xid, "_GTK_FRAME_EXTENTS")
        self.margins = tuple(int(v) for v in shadow.split("=")[1].split(",")) if "=" in shadow else None

    def content(self):
        deadline = time.monotonic() + 5
        while True:
            self.process.stdin.write("report\n")
            self.process.stdin.flush()
            c = json.loads(self.process.stdout.readline())["content"]
            x, y, w, h = self.desktop.geometry(self.xid)
            sides = (c[0], w - c[0] - c[2], h - c[1] - c[3])
            even = sides == (self.margins[0], self.margins[1], self.margins[3]) if self.margins else \
                sides[0] == sides[1] == sides[2]
            if even or time.monotonic() > deadline:
                return (x + c[0], y + c[1], c[2], c[3])
            time.sleep(0.02)

    def close(self):
        self.process.kill()
        self.process.wait(timeout=5)
        self.process.stdin.close()
        self.process.stdout.close()


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
        with x11_desktop.Desktop(wm=wm, wm_ready=args.wm_ready, monitors=1, width=1920,
                                 a11y=not x11_desktop.a11y_missing()) as desktop:
            client = desktop.spawn(["xterm", "-class", "KtTerm"], "KtTerm")
            if wm == "i3":
                # Tiled windows are not placed; a floating one is.
                desktop.run(["i3-msg", "[class=KtTerm] floating enable"], check=False)
                time.sleep(0.3)
            where = lambda: desktop.geometry(client.window)  # noqa: E731
            loop = Loop(args.helper, desktop.env())
            try:
                print(f"{wm:9} xterm loop     {json.dumps(measure(loop, 'KtTerm', args.runs, where))}", flush=True)
            finally:
                loop.close()
            result = measure(one_shot(args.helper, desktop.env()), "KtTerm", max(4, args.runs // 4), where)
            print(f"{wm:9} xterm one-shot {json.dumps(result)}", flush=True)
            if wm == "i3" or x11_desktop.a11y_missing():
                continue  # i3 tiles header-bar windows
            for version in ("3", "4"):
                if gtk_missing(version):
                    continue
                window = HeaderBarWindow(desktop, version, f"KtGtk{version}")
                loop = Loop(args.helper, desktop.env())
                try:
                    result = measure(loop, f"KtGtk{version}", max(4, args.runs // 4), window.content)
                    print(f"{wm:9} gtk{version}  loop     {json.dumps(result)}", flush=True)
                finally:
                    loop.close()
                    window.close()


if __name__ == "__main__":
    main()
