"""Runs kivimapd (KIVIMAPD) on a Maildir tree of its own for one test, and looks at the disk.

Every daemon is stopped when its test ends and the stop is checked: exit 0 on SIGTERM and no
sanitizer report on stderr, so a fault fails the test that caused it."""

import imaplib
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

TIMEOUT = 20.0  # generous: sanitizer builds on a shared two-core machine are slow
KIVIMAPD = os.environ.get("KIVIMAPD", "kivimapd")
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer")


def message(subject, body="Hello.", sender="ann@example.org"):
    return ("From: %s\r\nTo: joe@example.org\r\nSubject: %s\r\n"
            "Date: Mon, 4 Mar 2024 10:00:00 +0000\r\n\r\n%s\r\n" % (sender, subject, body)).encode()


class Daemon:
    def __init__(self, workdir, args, name="kivimapd"):
        self.stderr_path = os.path.join(workdir, name + ".stderr")
        self.stderr = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen([KIVIMAPD] + args, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.first_line = self._first_line()
        self.port = None
        if self.first_line.startswith("listening on "):
            self.port = int(self.first_line.rsplit(":", 1)[1])

    def _first_line(self):
        # The daemon's first stderr line, once written whole (or whatever came before it ended).
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            text = self.log()
            if "\n" in text:
                return text.split("\n", 1)[0]
            if self.proc.poll() is not None:
                return self.log().rstrip("\n")
            time.sleep(0.02)
        return ""

    def log(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_log(self, text):
        deadline = time.monotonic() + TIMEOUT
        while text not in self.log():
            if time.monotonic() > deadline:
                raise AssertionError("%r never logged; log:\n%s" % (text, self.log()))
            time.sleep(0.02)
        return self.log()

    def exit_code(self):
        # For a daemon that must end by itself.
        return self.stop(sig=None)

    def stop(self, sig=signal.SIGTERM):
        if sig is not None and self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(TIMEOUT)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
            self.stderr.close()


class DaemonTestCase(unittest.TestCase):
    """A fresh tree per test: self.root (the Maildir root) and self.users (joe/secret)."""

    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="kivimapd-test-")
        self.addCleanup(shutil.rmtree, self.workdir, True)
        self.root = os.path.join(self.workdir, "mail")
        self.users = os.path.join(self.workdir, "users")
        self.add_user("joe", "secret")

    def add_user(self, name, password, users=None):
        return subprocess.run([KIVIMAPD, "--users", users or self.users, "--add-user", name],
                              input=password.encode() + b"\n", capture_output=True,
                              timeout=TIMEOUT)

    def start(self, *extra, name="kivimapd", check=True):
        args = ["--maildir", self.root, "--users", self.users, "--listen", "127.0.0.1:0"]
        daemon = Daemon(self.workdir, args + list(extra), name)
        self.addCleanup(self._check_stop, daemon)
        if check:
            self.assertIsNotNone(daemon.port, "no listening line: %r\n%s"
                                 % (daemon.first_line, daemon.log()))
        return daemon

    def _check_stop(self, daemon):
        if daemon.stderr.closed:
            return
        code = daemon.stop()
        log = daemon.log()
        for mark in SANITIZER_MARKS:
            self.assertNotIn(mark, log)
        if daemon.port is not None:
            self.assertEqual(code, 0, log)

    def imap(self, daemon, user="joe", password="secret"):
        conn = imaplib.IMAP4("127.0.0.1", daemon.port, timeout=TIMEOUT)
        self.addCleanup(self._close, conn)
        if user is not None:
            conn.login(user, password)
        return conn

    @staticmethod
    def _close(conn):
        try:
            conn.shutdown()
        except OSError:
            pass

    def raw(self, daemon):
        sock = socket.create_connection(("127.0.0.1", daemon.port), timeout=TIMEOUT)
        self.addCleanup(sock.close)
        return sock

    # The disk.
    def path(self, *parts):
        return os.path.join(self.root, "joe", *parts)

    def make_folder(self, dirname):
        for sub in ("cur", "new", "tmp"):
            os.makedirs(self.path(dirname, sub), exist_ok=True)

    def put(self, relative, content):
        full = self.path(relative)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content)
        return full

    def files(self, dirname, sub):
        return sorted(os.listdir(self.path(dirname, sub)))

    def uid_list(self, dirname=""):
        with open(self.path(dirname, "kivimapd-uidlist")) as f:
            lines = f.read().splitlines()
        head = lines[0].split()
        entries = {name: int(uid) for uid, name in (line.split(" ", 1) for line in lines[1:])}
        return int(head[2]), int(head[3]), entries


def recv_until(sock, ending, limit=TIMEOUT):
    # Reads until the data ends with `ending` or the peer closes; returns what came.
    data = b""
    deadline = time.monotonic() + limit
    while not data.endswith(ending):
        sock.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            chunk = sock.recv(65536)
        except (socket.timeout, ConnectionResetError):
            break
        if not chunk:
            break
        data += chunk
    return data
