#!/usr/bin/env python3
"""Peak memory of the helper in loop mode, whatever the caller sends.

Usage: bench/memory.py HELPER   (run with DISPLAY unset: no display is needed)

  baseline:       one 'version' line; what the helper needs anyway.
  long line:      one 256 MiB line of zero bytes, then its line feed.
  stalled reader: 3,000,000 '#N version' lines (47.6 MiB) written as fast as
                  the helper takes them while nobody reads its replies; once
                  the writer has made no progress for a second, the helper's
                  stdout is closed so that it ends.

Peak RSS is the helper's maximum resident set size as /usr/bin/time reports
it (a small parent, so the figure is not inflated by a forked interpreter).
"""
import os
import subprocess
import sys
import tempfile
import threading
import time

MIB = 1 << 20


class Timed:
    """The helper in loop mode under /usr/bin/time."""

    def __init__(self, helper, stdout):
        self.report = tempfile.NamedTemporaryFile(prefix="kestrove-rss-", delete=False)
        self.report.close()
        self.process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", self.report.name, helper],
                                        stdin=subprocess.PIPE, stdout=stdout)

    def peak_mib(self):
        self.process.wait()
        with open(self.report.name) as report:
            kib = int(report.read().split()[-1])
        os.unlink(self.report.name)
        return kib / 1024


def baseline(helper):
    timed = Timed(helper, subprocess.DEVNULL)
    timed.process.communicate(b"version\n")
    print(f"baseline (one version line): peak RSS {timed.peak_mib():.1f} MiB")


def long_line(helper):
    timed = Timed(helper, subprocess.PIPE)
    chunk = b"\0" * MIB
    started = time.monotonic()

    def feed():
        for _ in range(256):
            timed.process.stdin.write(chunk)
        timed.process.stdin.write(b"\n")
        timed.process.stdin.close()

    writer = threading.Thread(target=feed)
    writer.start()
    reply = timed.process.stdout.read()
    writer.join()
    timed.process.stdout.close()
    peak = timed.peak_mib()
    print(f"long line (256 MiB): peak RSS {peak:.1f} MiB, {time.monotonic() - started:.2f} s, "
          f"reply {reply.decode().strip()}")


def stalled_reader(helper, lines=3_000_000):
    read_end, write_end = os.pipe()
    timed = Timed(helper, write_end)
    os.close(write_end)
    data = b"".join(b"#%d version\n" % i for i in range(lines))
    sent = [0]

    def feed():
        view = memoryview(data)
        try:
            while sent[0] < len(data):
                sent[0] += os.write(timed.process.stdin.fileno(), view[sent[0]:sent[0] + 65536])
        except OSError:
            pass

    writer = threading.Thread(target=feed, daemon=True)
    writer.start()
    last, still_since = -1, time.monotonic()
    while writer.is_alive():
        time.sleep(0.1)
        if sent[0] != last:
            last, still_since = sent[0], time.monotonic()
        elif time.monotonic() - still_since > 1.0:
            break
    held_back = writer.is_alive()
    os.close(read_end)  # the helper's next write fails and it ends
    peak = timed.peak_mib()
    print(f"stalled reader ({lines:,} lines, {len(data) / MIB:.1f} MiB): peak RSS {peak:.1f} MiB; "
          f"the helper took {sent[0] / MIB:.2f} MiB of input"
          f"{' and then held the writer back' if held_back else ', all of it'}")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    helper = sys.argv[1]
    baseline(helper)
    long_line(helper)
    stalled_reader(helper)
    return 0


if __name__ == "__main__":
    sys.exit(main())
