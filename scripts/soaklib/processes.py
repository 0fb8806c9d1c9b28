"""The processes of a soak run: the switcher emulators it drives, the host
process it measures, and the pipe it reads."""

import os
import queue
import random
import select
import subprocess
import threading
import time

from .workload import COMMAND_LIST, R_TEXTS

class Process:
    """Resource figures of a running process from /proc."""

    def __init__(self, pid):
        self.pid = pid

    def sample(self):
        base = "/proc/%d" % self.pid
        fds = len(os.listdir(base + "/fd"))
        rss = 0
        with open(base + "/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
        with open(base + "/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        tick = os.sysconf("SC_CLK_TCK")
        user, system = int(fields[11]) / tick, int(fields[12]) / tick
        # Every thread's: qelhost runs several instances on threads of their own.
        cpu_ns = None
        try:
            tasks = os.listdir(base + "/task")
        except OSError:
            tasks = []
        for task in tasks:
            try:
                with open("%s/task/%s/schedstat" % (base, task)) as sched:
                    cpu_ns = (cpu_ns or 0) + int(sched.read().split()[0])
            except (OSError, ValueError):
                pass  # a thread that has just ended
        cpu = cpu_ns / 1e9 if cpu_ns is not None else user + system
        return {"fds": fds, "rss": rss, "cpu": cpu, "user": user, "system": system, "time": time.monotonic()}


class LineReader:
    """Lines from a pipe, with a look at whether more has come."""

    def __init__(self, fd):
        self.fd, self.buffer, self.closed = fd, b"", False

    def _fill(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        chunk = os.read(self.fd, 65536)
        if not chunk:
            self.closed = True
        self.buffer += chunk
        return True

    def line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            if self.closed:
                if self.buffer:
                    text, self.buffer = self.buffer, b""
                    return text.decode("utf-8", "replace")
                return None
            left = deadline - time.monotonic()
            if left <= 0 or not self._fill(left):
                raise TimeoutError
        text, self.buffer = self.buffer.split(b"\n", 1)
        return text.decode("utf-8", "replace")

    def more_waiting(self):
        """True when anything beyond the lines read so far has come."""
        while not self.closed and self._fill(0):
            pass
        return bool(self.buffer)


class Switcher:
    """qelswitch on a pseudo-terminal, its lines kept, its control input ours."""

    def __init__(self, binary, err_path, extra_args):
        args = [binary, "--state"] + extra_args
        for address, text in R_TEXTS.items():
            if not text.startswith("LABEL"):
                args += ["--text", "%s=%s" % (address, text)]
        self.err = open(err_path, "w")
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.err,
                                     text=True, bufsize=1)
        self.line_path = self.proc.stdout.readline().strip()
        self.lines = []
        self.plugs = []  # (UNPLUG or REPLUG, when the line came)
        self.controls = queue.Queue()
        self.thread = threading.Thread(target=self._drain, daemon=True)
        self.thread.start()

    def _drain(self):
        for line in self.proc.stdout:
            line = line.rstrip("\n")
            self.lines.append(line)
            if line.startswith("UNPLUG ") or line.startswith("REPLUG "):
                self.plugs.append((line.split()[0], time.monotonic()))
            # "replug" answers with its UNPLUG line, the others with CONTROL.
            if line.startswith("CONTROL") or line.startswith("UNPLUG "):
                self.controls.put(line)

    def command(self, text, timeout=10.0):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        try:
            return self.controls.get(timeout=timeout)
        except queue.Empty:
            return None

    def stop(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            status = self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = self.proc.wait()
        self.thread.join(timeout=5)
        self.err.close()
        return status


def write_command_list(workdir):
    with open(os.path.join(workdir, "qelkophv01.ini"), "w", encoding="latin-1") as out:
        out.write("Command list of the soak run\nStartOfCommandList\n")
        for number, command in COMMAND_LIST:
            out.write("%d,%s;\n" % (number, command))
        out.write("EndOfCommandList\n")


def fresh_link():
    """An unused absolute name of 11 characters under /tmp."""
    alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    rng = random.SystemRandom()
    while True:
        path = "/tmp/q" + "".join(rng.choice(alphabet) for _ in range(5))
        if not os.path.lexists(path):
            return path
