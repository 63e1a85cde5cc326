"""Options that act on sessions: the debug log, byte for byte, and the idle timeout."""
# The timeout tests wait for real time to pass (a second or two each); the margins are wide.

import os
import select
import time

from fixture import (CAPABILITY, DEFAULT_GREETING, TIMEOUT_LINE, HostTestCase, new_folder,
                     noop_ok)

START_LINE = b"----------- NEW SESSION STARTED ------------\r\n"
BIG = b"x" * 32700 + b" BAD Missing Command\r\n"
# What the client sends, what it gets back, and what the log shows of that answer: the line the
# host replaced is logged as received; an answer of 16384 bytes or more is logged cut to 16380.
EXCHANGES = [
    (b"a1 NOOP\r\n", noop_ok(b"a1"), noop_ok(b"a1")),
    (b"a2 NOOP\r\n", CAPABILITY + noop_ok(b"z9"), CAPABILITY + noop_ok(b"z9")),
    (b"x" * 32700 + b"\r\n", BIG, BIG[:16380]),
    (b"b1 NOOP\r\n", noop_ok(b"b1"), noop_ok(b"b1")),
]


class DebugLogTest(HostTestCase):
    def test_conversation_is_logged(self):
        path = os.path.join(new_folder(self), "debug.log")
        host = self.start_host({"server": {"DebugFile": path}, "script": [
            {"on": "Command", "nth": 2, "do": "ReplaceCommand", "text": "z9 CAPABILITY"}]})
        client = self.connect(host).greet()
        expected = START_LINE + DEFAULT_GREETING
        for sent, answer, logged in EXCHANGES:
            client.send(sent)
            client.expect(answer)
            expected += sent + logged
        # Both the line received and the answer queued are logged before the answer is sent.
        with open(path, "rb") as f:
            self.assertEqual(f.read(), expected)

    def test_unwritable_log_is_ignored(self):
        host = self.start_host({"server": {"DebugFile": "/nonexistent-kivimap-dir/debug.log"}})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\n")
        client.expect(noop_ok(b"a1"))



class IdleTimeoutTest(HostTestCase):
    def test_timeout_line_then_close_without_disconnected(self):
        host = self.start_host({"server": {"Timeout": 1},
                                "script": [{"on": "Connecting", "nth": 3, "do": "DumpUsers"}]})
        logged_in = self.connect(host).greet().login()
        waiting = self.connect(host).greet()
        for client in (logged_in, waiting):
            client.expect_closed(TIMEOUT_LINE)
        # A later connection finds the collection empty, and no Disconnected fired.
        self.connect(host).greet()
        self.assertEqual(host.wait_event("Users")["Count"], 0)
        host.wait_events("StateChange", 3)
        self.assertEqual(host.events("Disconnected"), [])

    def test_commands_restart_the_timer(self):
        client = self.connect(self.start_host({"server": {"Timeout": 2}})).greet()
        for n in range(7):  # 3.5 s of commands, each well within the timeout of 2 s
            client.send(b"n%d NOOP\r\n" % n)
            client.expect(noop_ok(b"n%d" % n))
            time.sleep(0.5)
        client.expect_closed(TIMEOUT_LINE)

    def test_zero_or_less_means_no_idle_timeout(self):
        for timeout in (0, -5):
            with self.subTest(timeout=timeout):
                client = self.connect(self.start_host({"server": {"Timeout": timeout}})).greet()
                self.assertEqual(select.select([client.sock], [], [], 1.5)[0], [])
                client.send(b"a1 NOOP\r\n")
                client.expect(noop_ok(b"a1"))

