"""The helper as the self-check runs it: one-shot runs and a loop-mode
process, every line kept in the transcript, how it ended when it did.
Standard library only, no syntax newer than 3.8."""

import queue
import subprocess
import threading
import time

import macos_selfcheck_logic as logic

HELPER_TIMEOUT = 20
EVENT_TIMEOUT = 5


class Helper(object):
    """The helper in one-shot mode and in loop mode, every line kept."""

    def __init__(self, path, transcript, prefix=None, env=None):
        self.path = path
        self.prefix = list(prefix or [])
        self.env = env
        self.transcript = transcript
        self.proc = None
        self.readers = []
        self.lines = queue.Queue()
        self.ended = False
        self.events = []
        self.replies = {}
        self.next_id = 0
        self.last_exit = None

    def command(self, args):
        return self.prefix + [self.path] + list(args)

    def oneshot(self, *args):
        self.transcript.sent("kestrove " + " ".join(args))
        self.last_exit = None
        try:
            done = subprocess.run(
                self.command(args), capture_output=True, text=True, timeout=HELPER_TIMEOUT, env=self.env
            )
        except subprocess.TimeoutExpired:
            self.last_exit = "no reply in %d s" % HELPER_TIMEOUT
            self.transcript.note(self.last_exit)
            return None
        except OSError as e:
            self.last_exit = "could not start: %s" % e
            self.transcript.note(self.last_exit)
            return None
        for line in done.stdout.splitlines():
            self.transcript.received(line)
        for line in done.stderr.splitlines():
            self.transcript.stderr(line)
        self.last_exit = logic.exit_text(done.returncode)
        self.transcript.note(self.last_exit)
        lines = done.stdout.splitlines()
        return logic.parse_json_line(lines[0]) if len(lines) == 1 else None

    # ---- loop mode ----

    @property
    def looping(self):
        return self.proc is not None

    def start_loop(self):
        if self.proc is not None:
            return
        self.transcript.note("loop mode: " + " ".join(self.prefix + ["kestrove"]))
        pipe = subprocess.PIPE
        self.proc = subprocess.Popen(
            self.command([]), stdin=pipe, stdout=pipe, stderr=pipe, text=True, bufsize=1, env=self.env
        )
        for stream, out in ((self.proc.stdout, True), (self.proc.stderr, False)):
            reader = threading.Thread(target=self._read, args=(stream, out), daemon=True)
            reader.start()
            self.readers.append(reader)

    def _read(self, stream, is_stdout):
        try:
            for line in stream:
                line = line.rstrip("\n")
                if is_stdout:
                    self.transcript.received(line)
                    self.lines.put(line)
                else:
                    self.transcript.stderr(line)
        except (OSError, ValueError) as e:  # closed under the reader by stop()
            self.transcript.note("reading the helper stopped: %s" % e)
        if is_stdout:
            self.lines.put(None)

    def exit_status(self, wait=2.0):
        """How the loop-mode helper ended ("exit 1", "signal SIGSEGV"), or
        None while it runs."""
        if self.proc is None:
            return None
        try:
            return logic.exit_text(self.proc.wait(timeout=wait))
        except subprocess.TimeoutExpired:
            return None

    def send(self, text):
        """False when the helper is gone and took nothing."""
        self.transcript.sent(text)
        try:
            self.proc.stdin.write(text + "\n")
            self.proc.stdin.flush()
            return True
        except (OSError, ValueError) as e:
            self.transcript.note("could not write to the helper: %s" % e)
            return False

    def _take(self, deadline):
        """Files the next line as an event or a reply; False when none came."""
        if self.ended:
            return False
        try:
            line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            return False
        if line is None:
            self.ended = True
            self.transcript.note("the helper closed its output: %s" % (self.exit_status() or "still running"))
            return False
        obj = logic.parse_json_line(line)
        if obj is not None and "event" in obj:
            self.events.append(obj)
        elif obj is not None and "id" in obj:
            self.replies[obj["id"]] = obj
        return True

    def request(self, command, timeout=HELPER_TIMEOUT):
        self.next_id += 1
        number = self.next_id
        if not self.send("#%d %s" % (number, command)):
            # What it wrote before it went is still worth filing.
            while self._take(time.monotonic() + 2.0):
                pass
            return self.replies.get(number)
        deadline = time.monotonic() + timeout
        while number not in self.replies and self._take(deadline):
            pass
        return self.replies.get(number)

    def wait_for(self, test, timeout=EVENT_TIMEOUT):
        """Takes lines until `test(events)` holds or the time is up."""
        deadline = time.monotonic() + timeout
        while not test(self.events) and self._take(deadline):
            pass
        return test(self.events)

    def drain(self, seconds):
        deadline = time.monotonic() + seconds
        while self._take(deadline):
            pass

    def problem(self, reply):
        """Why a reply is no good, with how the helper ended when it did."""
        text = logic.reply_problem(reply)
        if text and reply is None:
            status = self.exit_status(wait=0.5) if self.proc is not None else self.last_exit
            if status:
                text += " (helper: %s)" % status
        return text

    def stop(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
                self.proc.wait(timeout=5)
            except (OSError, ValueError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.transcript.note("loop-mode helper ended: %s" % logic.exit_text(self.proc.returncode))
        for reader in self.readers:
            reader.join(timeout=2)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except (OSError, ValueError):
                pass
        self.proc = None
        self.readers = []
