"""Runs the fixture host (KIVIMAP_FIXTURE_HOST) for one test and talks to it over loopback."""
# Every host is stopped when its test ends, and the stop is checked: exit 0 on SIGTERM (1 for a host
# that refused to start) and nothing on stderr, so a sanitizer report fails the test that caused it.

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

TIMEOUT = 15.0  # generous: sanitizer builds on a shared two-core machine are slow
DEFAULT_TEXT = b"Quillon Imap server version 1.0.0.7"
CAPABILITY = b"* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\n"
TIMEOUT_LINE = b"* BAD timeout value exceeded... bye...\r\n"


GREETING = b"* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] %s ready.\r\n"
DEFAULT_GREETING = GREETING % DEFAULT_TEXT


def noop_ok(tag):
    return tag + b" OK CAPABILITY completed\r\n"


def new_folder(test, files=None):
    folder = tempfile.mkdtemp(prefix="kivimap-protocol-")
    test.addCleanup(shutil.rmtree, folder, True)
    for name, content in (files or {}).items():
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
    return folder


# One raw connection; every read has a deadline and compares exact bytes.
class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        self.send = self.sock.sendall
        # A bytearray: appending and taking from the front stay cheap over megabytes.
        self.pending = bytearray()

    def _more(self):
        # Reads more into pending; False once the peer closed (a reset counts as closed).
        try:
            chunk = self.sock.recv(65536)
        except ConnectionResetError:
            return False
        except socket.timeout:
            raise AssertionError("timed out waiting for the server after %r"
                                 % bytes(self.pending[:300]))
        self.pending += chunk
        return bool(chunk)

    def _take(self, n, what):
        while len(self.pending) < n:
            if not self._more():
                raise AssertionError("closed after %r; expected %r"
                                     % (bytes(self.pending[:300]), what))
        data = bytes(self.pending[:n])
        del self.pending[:n]
        return data

    def expect(self, expected):
        got = self._take(len(expected), expected[:300])
        if got != expected:
            raise AssertionError("expected %r\n     got %r" % (expected[:600], got[:600]))
        return self

    def read_line(self):
        while b"\n" not in self.pending:
            if not self._more():
                raise AssertionError("closed inside a line: %r" % self.pending[:300])
        return self._take(self.pending.index(b"\n") + 1, "a line")

    def read_until_closed(self, limit=None):
        # Everything up to the close; with a limit, fails as soon as more than that arrived.
        while self._more():
            if limit is not None and len(self.pending) > limit:
                raise AssertionError("more than %d bytes before the close" % limit)
        data = bytes(self.pending)
        self.pending.clear()
        return data

    def expect_closed(self, before=b""):
        # The server sends exactly `before`, then closes the connection.
        rest = self.read_until_closed()
        if rest != before:
            raise AssertionError("expected %r then the close, got %r" % (before, rest[:600]))

    def command(self, tag, text):
        """Sends one command; returns (the untagged bytes, literals whole, and the completion
        after the tag)."""
        self.send(tag + b" " + text + b"\r\n")
        data = b""
        while True:
            line = self.read_line()
            if line.startswith(tag + b" "):
                return data, line[len(tag) + 1:-2]
            data += line
            if line.endswith(b"}\r\n"):
                size = int(line[line.rindex(b"{") + 1:-3])
                data += self._take(size, "a literal")

    def greet(self, expected=DEFAULT_GREETING):
        return self.expect(expected)

    def login(self, arguments=b"joe secret", tag=b"L1"):
        self.send(tag + b" LOGIN " + arguments + b"\r\n")
        return self.expect(tag + b" OK LOGIN completed\r\n")


# One fixture-host process with its events log.
class Host:
    def __init__(self, folder, fixture):
        with open(os.path.join(folder, "fixture.json"), "w") as f:
            json.dump(fixture, f)
        self.events_path = os.path.join(folder, "events.log")
        self.stderr = open(os.path.join(folder, "stderr.txt"), "w+b")
        self.proc = subprocess.Popen(
            [os.environ["KIVIMAP_FIXTURE_HOST"], "--fixture", os.path.join(folder, "fixture.json"),
             "--events", self.events_path],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr)
        # The host prints its first line whole, in one write.
        if not select.select([self.proc.stdout], [], [], TIMEOUT)[0]:
            raise AssertionError("the host printed no first line within %.0fs" % TIMEOUT)
        self.first_line = self.proc.stdout.readline().decode("utf-8", "replace").rstrip("\n")
        self.port = int(self.first_line[5:]) if self.first_line.startswith("PORT ") else None

    def stderr_digest(self):
        # The start of stderr and any sanitizer summary: enough to tell what went wrong.
        self.stderr.seek(0)
        text = self.stderr.read().decode("utf-8", "replace").splitlines()
        return "\n".join(text[:12] + [line for line in text[12:] if line.startswith("SUMMARY:")])

    def cleanup(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.stderr):
            stream.close()

    def events(self, name=None):
        # Every complete line of the events log so far, optionally only one event's.
        with open(self.events_path, "rb") as f:
            lines = f.read().split(b"\n")[:-1]  # a last line without its line feed is unfinished
        return [e for e in map(json.loads, lines) if name is None or e["event"] == name]

    def wait_events(self, name, count=1):
        # Waits until the log holds at least count events of this name; returns them all.
        deadline = time.monotonic() + TIMEOUT
        while len(self.events(name)) < count:
            if time.monotonic() > deadline:
                raise AssertionError("expected %d %s event(s); log: %s"
                                     % (count, name, self.events()[-20:]))
            time.sleep(0.01)
        return self.events(name)

    def wait_event(self, name, nth=1):
        return self.wait_events(name, nth)[nth - 1]


# Starts hosts that are always stopped, and checked, when the test ends.
class HostTestCase(unittest.TestCase):
    def start_host(self, fixture=None, files=None, expect_port=True):
        host = Host(new_folder(self, files), {} if fixture is None else fixture)
        self.addCleanup(host.cleanup)
        self.addCleanup(self._check_clean_exit, host)
        if expect_port:
            self.assertIsNotNone(host.port, "host did not start: %r\nstderr: %s"
                                 % (host.first_line, host.stderr_digest()))
        return host

    def connect(self, host):
        client = Client(host.port)
        self.addCleanup(client.sock.close)
        return client

    def run_to_exit(self, fixture_text, files=None):
        # Runs a host that must exit at once; returns (exit code, stdout, stderr).
        folder = new_folder(self, dict(files or {}, **{"fixture.json": fixture_text.encode()}))
        proc = subprocess.run([os.environ["KIVIMAP_FIXTURE_HOST"], "--fixture",
                               os.path.join(folder, "fixture.json")],
                              stdin=subprocess.PIPE, capture_output=True, timeout=TIMEOUT)
        return proc.returncode, proc.stdout.decode(), proc.stderr.decode("utf-8", "replace")

    def _check_clean_exit(self, host):
        if host.proc.poll() is None:
            host.proc.send_signal(signal.SIGTERM)
        code = host.proc.wait(TIMEOUT)
        self.assertEqual(code, 0 if host.port is not None else 1,
                         "host exited with %s\nstderr: %s" % (code, host.stderr_digest()))
        self.assertEqual(host.stderr_digest(), "", "host wrote to stderr")

    def assert_server_gone(self, host):
        # The host process runs on, but nothing listens any more.
        self.assertIsNone(host.proc.poll(), "host died\nstderr: %s" % host.stderr_digest())
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", host.port), timeout=5).close()


def check_inside_events(test, cases, start):
    """A host that releases the server, and one that disconnects the user, inside an event a
    command fires: the command ends there. cases: (command, event, nth, received), where nth is
    the firing of event the script acts on and received what the client has by then; command
    may carry a literal after its first line. start(command, event, nth, do) gives a logged-in
    (host, client) whose fixture runs do at that firing."""
    for do in ("ReleaseServer", "Disconnect"):
        for command, event, nth, received in cases:
            with test.subTest(do=do, command=command[:40], event=event, nth=nth):
                host, client = start(command, event, nth, do)
                client.send(b"c1 " + command + b"\r\nc2 NOOP\r\n")
                client.expect_closed(received)
                host.wait_event("Script")
                # Nothing more was fired for the command.
                test.assertEqual(len(host.events(event)), nth)
                if do == "ReleaseServer":
                    test.assert_server_gone(host)
                    continue
                test.assertEqual(len(host.wait_events("Disconnected")), 1)
                first_line = command.split(b"\r\n")[0].decode()
                test.assertEqual(host.events("Command")[-1]["Command"], "c1 " + first_line)
