#!/usr/bin/env python3
"""Runs the released Linux helpers where the oldest supported systems are.

  linux-compat-test.py --x64 BINARY --x64-root DIR [--arm64 BINARY --arm64-root DIR]

Starts a throwaway X desktop (tools/x11_desktop.py) with one xterm, then
  - runs the x86_64 binary inside the Debian 11 root (chroot): `version`,
    `windows` and `place` on the xterm;
  - runs the aarch64 binary under qemu-user with that root's arm64 libraries
    (qemu-aarch64-static -L): `version` and `windows`.
The X server's abstract socket is reachable from the chroot and from
emulated programs alike, so both talk to the same desktop.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import x11_desktop  # noqa: E402

APP = "KestroveCompat"


def reply(argv, env, what):
    done = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=60)
    lines = done.stdout.splitlines()
    if len(lines) != 1:
        raise SystemExit(f"{what}: expected one line, got {done.stdout!r} (stderr {done.stderr.strip()!r}, "
                         f"exit {done.returncode})")
    answer = json.loads(lines[0])
    if answer.get("ok") is not True or done.returncode != 0:
        raise SystemExit(f"{what}: {lines[0]} (exit {done.returncode})")
    print(f"{what}: {lines[0]}")
    return answer


def check_version(answer, what):
    if answer.get("helper") != "kestrove" or answer.get("protocol") != 1:
        raise SystemExit(f"{what}: not the kestrove helper of protocol 1: {answer}")


def check_windows(answer, pid, what):
    if answer.get("running") is not True or answer.get("pid") != pid or len(answer.get("windows", [])) != 1:
        raise SystemExit(f"{what}: the xterm (pid {pid}) with its one window is not seen: {answer}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x64", required=True)
    parser.add_argument("--x64-root", required=True)
    parser.add_argument("--arm64")
    parser.add_argument("--arm64-root")
    args = parser.parse_args()
    if bool(args.arm64) != bool(args.arm64_root):
        parser.error("--arm64 and --arm64-root go together")

    # The binary is copied into the root for the run and removed after.
    inside = tempfile.mkdtemp(prefix="kestrove-compat-", dir=os.path.join(args.x64_root, "tmp"))
    shutil.copy2(args.x64, os.path.join(inside, "kestrove"))
    in_root = "/" + os.path.relpath(os.path.join(inside, "kestrove"), args.x64_root)
    try:
        with x11_desktop.Desktop(monitors=1, width=1600, height=1000) as desktop:
            xterm = desktop.spawn(["xterm", "-class", APP, "-geometry", "60x20+40+40"], APP)
            # Only what the helper needs from the host: the display.
            env = {"DISPLAY": desktop.display, "PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}
            chroot = [shutil.which("chroot") or "/usr/sbin/chroot", args.x64_root, in_root]
            if os.geteuid() != 0:
                chroot = ["sudo", "--preserve-env=DISPLAY", *chroot]
            check_version(reply(chroot + ["version"], env, "x64 in Debian 11: version"), "x64")
            check_windows(reply(chroot + ["windows", APP], env, "x64 in Debian 11: windows"), xterm.pid, "x64")
            placed = reply(chroot + ["place", APP, "200", "150", "500", "300"], env, "x64 in Debian 11: place")
            # xterm sizes in character cells: the content may come out
            # smaller by less than a cell, and the reply says where it landed,
            # which the X server must confirm.
            x, y, width, height = desktop.geometry(xterm.window)
            content = placed.get("content", {})
            if (x, y) != (200, 150) or not (480 <= width <= 500 and 280 <= height <= 300) or \
                    content != {"x": x, "y": y, "width": width, "height": height}:
                raise SystemExit(f"x64: the xterm's content is at {x},{y} {width}x{height}; "
                                 f"asked 200,150 500x300, the reply says {content}")
            print(f"x64 in Debian 11: the xterm's content is at {x},{y} {width}x{height}")
            if args.arm64:
                qemu = shutil.which("qemu-aarch64-static") or shutil.which("qemu-aarch64")
                if not qemu:
                    raise SystemExit("arm64: qemu-aarch64-static is not installed (qemu-user-static)")
                emulated = [qemu, "-L", args.arm64_root, args.arm64]
                check_version(reply(emulated + ["version"], env, "arm64 under qemu: version"), "arm64")
                check_windows(reply(emulated + ["windows", APP], env, "arm64 under qemu: windows"), xterm.pid, "arm64")
    finally:
        # Only the folder made above, inside the root's /tmp.
        if os.path.basename(inside).startswith("kestrove-compat-"):
            shutil.rmtree(inside, ignore_errors=True)
    print("linux-compat-test: passed")


if __name__ == "__main__":
    main()
