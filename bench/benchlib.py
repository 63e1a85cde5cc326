"""Shared by the benchmarks: finding, starting and stopping the fixture host."""

import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

DEFAULT_HOST = "build/release/kivimap-fixture-host"


def host_path(argument):
    path = argument or os.environ.get("KIVIMAP_FIXTURE_HOST") or DEFAULT_HOST
    if not os.access(path, os.X_OK):
        sys.exit("no fixture host at %s: build the kivimap-fixture-host target first, or pass "
                 "its path (or set KIVIMAP_FIXTURE_HOST)" % path)
    return path


class FixtureHost:
    """A fixture host serving the given fixture on a free loopback port."""

    def __init__(self, binary, fixture):
        self.dir = tempfile.TemporaryDirectory(prefix="kivimap-bench-")
        path = os.path.join(self.dir.name, "fixture.json")
        with open(path, "w") as f:
            json.dump(fixture, f)
        self.proc = subprocess.Popen([binary, "--fixture", path], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
        line = self._first_line(timeout=30)
        if not line.startswith("PORT "):
            self.close()
            sys.exit("the fixture host did not start: %r" % line)
        self.port = int(line[5:])

    def _first_line(self, timeout):
        fd = self.proc.stdout.fileno()
        data = b""
        deadline = time.monotonic() + timeout
        while b"\n" not in data and time.monotonic() < deadline:
            ready, _, _ = select.select([fd], [], [], deadline - time.monotonic())
            if not ready:
                break
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            data += chunk
        return data.split(b"\n", 1)[0].decode("utf-8", "replace")

    def rss_kib(self):
        """Resident set size of the host process, from /proc."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmRSS in /proc/%d/status" % self.proc.pid)

    def close(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()
        self.dir.cleanup()


def expect(sock, expected, timeout):
    """Reads exactly the expected bytes from a blocking socket or exits with what came instead."""
    sock.settimeout(timeout)
    data = b""
    while len(data) < len(expected):
        chunk = sock.recv(len(expected) - len(data))
        if not chunk:
            break
        data += chunk
    if data != expected:
        sys.exit("expected %r, got %r" % (expected[:200], data[:200]))
