"""Runs the fixture host for one test and talks to it over loopback.

The host binary comes from the environment variable KIVIMAP_FIXTURE_HOST. Each test writes its
fixture into a fresh temporary folder, starts the host, reads its first stdout line ("PORT n" or
"ERROR ..."), and talks to it with raw sockets that compare exact bytes. Every host is stopped
at the end of its test, and the stop itself is checked: the host must exit 0 on SIGTERM with
nothing on stderr (a sanitizer report or a crash fails the test that caused it).
"""

import json
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

HOST_ENV = "KIVIMAP_FIXTURE_HOST"
DATA_ENV = "KIVIMAP_TEST_DATA"

# Generous: sanitizer builds on a shared two-core machine are slow.
TIMEOUT = 15.0

DEFAULT_TEXT = b"Quillon Imap server version 1.0.0.7"
GREETING_HEAD = b"* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] "
DEFAULT_GREETING = GREETING_HEAD + DEFAULT_TEXT + b" ready.\r\n"
TIMEOUT_LINE = b"* BAD timeout value exceeded... bye...\r\n"


def host_binary():
    path = os.environ.get(HOST_ENV)
    if not path:
        raise RuntimeError(
            "%s is not set: point it at the kivimap-fixture-host binary" % HOST_ENV)
    if not os.access(path, os.X_OK):
        raise RuntimeError("%s=%s is not an executable file" % (HOST_ENV, path))
    return path


def greeting(text):
    return GREETING_HEAD + text + b" ready.\r\n"


def free_port():
    """A TCP port that was free on 127.0.0.1 a moment ago."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def as_bytes(text):
    """A string from the events log as the 8-bit text it stands for."""
    return text.encode("utf-8", "surrogateescape")


class Client:
    """One raw connection; every read has a deadline."""

    def __init__(self, port, timeout=TIMEOUT):
        self.timeout = timeout
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.pending = b""
        self.reset = False

    def close(self):
        self.sock.close()

    def send(self, data):
        self.sock.sendall(data)

    def _receive(self):
        """More bytes, or b"" when the peer closed (a reset counts as closed)."""
        try:
            chunk = self.sock.recv(65536)
        except ConnectionResetError:
            self.reset = True
            return b""
        except socket.timeout:
            raise AssertionError(
                "timed out after %.0fs waiting for the server; unread so far: %r"
                % (self.timeout, self.pending[:300]))
        return chunk

    def read_exact(self, n):
        while len(self.pending) < n:
            chunk = self._receive()
            if not chunk:
                raise AssertionError(
                    "connection closed after %r; %d more bytes were expected"
                    % (self.pending[:300], n - len(self.pending)))
            self.pending += chunk
        data, self.pending = self.pending[:n], self.pending[n:]
        return data

    def expect(self, expected):
        """Reads exactly len(expected) bytes and requires them to be expected."""
        got = self.read_exact(len(expected))
        if got != expected:
            raise AssertionError("expected %r\n     got %r" % (expected[:600], got[:600]))

    def read_line(self):
        while b"\n" not in self.pending:
            chunk = self._receive()
            if not chunk:
                raise AssertionError("connection closed inside a line: %r" % self.pending[:300])
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return line + b"\n"

    def read_until_closed(self, limit=1 << 24):
        """Everything the server sends until it closes the connection."""
        while True:
            chunk = self._receive()  # on a timeout, reports what came so far
            if not chunk:
                data, self.pending = self.pending, b""
                return data
            self.pending += chunk
            if len(self.pending) > limit:
                raise AssertionError("more than %d bytes without a close" % limit)

    def expect_closed(self):
        """The server closes the connection without sending anything more."""
        rest = self.read_until_closed()
        if rest:
            raise AssertionError("expected the connection to close silently, got %r" % rest[:600])

    def greet(self, expected=DEFAULT_GREETING):
        self.expect(expected)
        return self

    def login(self, user=b"joe", password=b"secret", tag=b"L1"):
        self.send(tag + b" LOGIN " + user + b" " + password + b"\r\n")
        self.expect(tag + b" OK LOGIN completed\r\n")
        return self


class Host:
    """One fixture-host process."""

    def __init__(self, fixture, files=None, events=True):
        self.dir = tempfile.mkdtemp(prefix="kivimap-protocol-")
        for name, content in (files or {}).items():
            path = os.path.join(self.dir, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
        self.fixture_path = os.path.join(self.dir, "fixture.json")
        with open(self.fixture_path, "w") as f:
            json.dump(fixture, f)
        self.events_path = os.path.join(self.dir, "events.log") if events else None
        self.stderr_path = os.path.join(self.dir, "stderr.txt")
        args = [host_binary(), "--fixture", self.fixture_path]
        if self.events_path:
            args += ["--events", self.events_path]
        self._stderr = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self._stderr)
        self.first_line = self._read_first_line()
        self.port = None
        if self.first_line.startswith("PORT "):
            self.port = int(self.first_line[5:])
        self.returncode = None

    def path(self, name):
        return os.path.join(self.dir, name)

    def _read_first_line(self):
        deadline = time.monotonic() + TIMEOUT
        data = b""
        fd = self.proc.stdout.fileno()
        while b"\n" not in data:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("the host printed no first line within %.0fs" % TIMEOUT)
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 4096)
                if not chunk:
                    break
                data += chunk
        return data.split(b"\n", 1)[0].decode("utf-8", "replace")

    def connect(self):
        if self.port is None:
            raise AssertionError("the host is not listening: %r" % self.first_line)
        return Client(self.port)

    def alive(self):
        return self.proc.poll() is None

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stderr_digest(self, lines=12):
        """The start of stderr and any sanitizer summary: enough to tell what went wrong."""
        text = self.stderr().splitlines()
        summary = [line for line in text[lines:] if line.startswith("SUMMARY:")]
        return "\n".join(text[:lines] + (["..."] if len(text) > lines else []) + summary)

    def wait_exit(self, timeout=TIMEOUT):
        try:
            self.returncode = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the host did not exit within %.0fs" % timeout)
        return self.returncode

    def terminate(self):
        """SIGTERM, then the exit code (the host must exit by itself)."""
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
        return self.wait_exit()

    def kill(self):
        if self.alive():
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout):
            if stream:
                stream.close()
        self._stderr.close()

    def cleanup_dir(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    # -- the events log ---------------------------------------------------------------------

    def events(self, name=None):
        """Every complete line of the events log so far, optionally only one event's."""
        if not self.events_path or not os.path.exists(self.events_path):
            return []
        with open(self.events_path, "rb") as f:
            data = f.read()
        lines = data.split(b"\n")[:-1]  # a last line without its line feed is still being written
        out = [json.loads(line.decode("utf-8")) for line in lines]
        return [e for e in out if name is None or e["event"] == name]

    def wait_events(self, name, count=1, timeout=TIMEOUT):
        """Waits until the log holds at least count events of this name; returns them all."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.events(name)
            if len(found) >= count:
                return found
            if time.monotonic() > deadline:
                raise AssertionError("expected %d %s event(s) in the log, found %d; log: %s"
                                     % (count, name, len(found), self.events()[-20:]))
            time.sleep(0.01)

    def wait_event(self, name, timeout=TIMEOUT):
        return self.wait_events(name, 1, timeout)[0]


def run_host_to_exit(fixture_text, files=None, timeout=TIMEOUT):
    """Runs the host on a fixture given as raw text, for fixtures that must make it exit at once.

    Returns (exit code, stdout, stderr)."""
    folder = tempfile.mkdtemp(prefix="kivimap-protocol-")
    try:
        for name, content in (files or {}).items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
        path = os.path.join(folder, "fixture.json")
        with open(path, "w") as f:
            f.write(fixture_text)
        proc = subprocess.run([host_binary(), "--fixture", path], stdin=subprocess.PIPE,
                              capture_output=True, timeout=timeout)
        return (proc.returncode, proc.stdout.decode("utf-8", "replace"),
                proc.stderr.decode("utf-8", "replace"))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


class HostTestCase(unittest.TestCase):
    """Starts hosts that are always stopped, and checked, when the test ends."""

    def start_host(self, fixture=None, files=None, events=True, expect_port=True):
        host = Host(fixture if fixture is not None else {}, files=files, events=events)
        self.addCleanup(host.cleanup_dir)
        self.addCleanup(host.kill)
        self.addCleanup(self._check_clean_exit, host)
        if expect_port:
            self.assertTrue(host.first_line.startswith("PORT "),
                            "host did not start: %r\nstderr: %s"
                            % (host.first_line, host.stderr_digest()))
        return host

    def connect(self, host):
        client = host.connect()
        self.addCleanup(client.close)
        return client

    def _check_clean_exit(self, host):
        # A host that served must stop cleanly on SIGTERM; one that refused to start exits 1.
        expected = 0 if host.port is not None else 1
        code = host.returncode if host.returncode is not None else host.terminate()
        self.assertEqual(code, expected,
                         "host exited with %s\nstderr: %s" % (code, host.stderr_digest()))
        self.assertEqual(host.stderr_digest(), "", "host wrote to stderr")

    def assert_host_alive(self, host):
        self.assertTrue(host.alive(), "host died: exit %s\nstderr: %s"
                        % (host.proc.returncode, host.stderr_digest()))
