"""The idle timeout: its line, the removal of the user, and what restarts the timer.

These tests wait for real time to pass (a second or two each); the margins are wide.
"""

import select
import time
import unittest

from fixture import HostTestCase, TIMEOUT_LINE


def nothing_arrives(client, seconds):
    ready, _, _ = select.select([client.sock], [], [], seconds)
    return not ready and not client.pending


class IdleTimeoutTest(HostTestCase):
    def test_timeout_line_then_close_without_disconnected(self):
        host = self.start_host({
            "server": {"Timeout": 1},
            "script": [{"on": "Connecting", "nth": 2, "do": "DumpUsers"}],
        })
        client = self.connect(host).greet()
        client.login()
        client.expect(TIMEOUT_LINE)
        client.expect_closed()
        # A later connection finds the collection empty, and no Disconnected fired.
        self.connect(host).greet()
        self.assertEqual(host.wait_event("Users")["Count"], 0)
        host.wait_events("StateChange", 2)
        self.assertEqual(host.events("Disconnected"), [])

    def test_timeout_before_login(self):
        host = self.start_host({"server": {"Timeout": 1}})
        client = self.connect(host).greet()
        client.expect(TIMEOUT_LINE)
        client.expect_closed()

    def test_commands_restart_the_timer(self):
        host = self.start_host({"server": {"Timeout": 2}})
        client = self.connect(host).greet()
        end = time.monotonic() + 3.5
        n = 0
        while time.monotonic() < end:
            n += 1
            client.send(b"n%d NOOP\r\n" % n)
            client.expect(b"n%d OK CAPABILITY completed\r\n" % n)
            time.sleep(0.5)
        client.expect(TIMEOUT_LINE)
        client.expect_closed()

    def test_zero_timeout_means_no_idle_timeout(self):
        host = self.start_host({"server": {"Timeout": 0}})
        client = self.connect(host).greet()
        self.assertTrue(nothing_arrives(client, 1.5))
        client.send(b"a1 NOOP\r\n")
        client.expect(b"a1 OK CAPABILITY completed\r\n")

    def test_negative_timeout_means_no_idle_timeout(self):
        host = self.start_host({"server": {"Timeout": -5}})
        client = self.connect(host).greet()
        self.assertTrue(nothing_arrives(client, 1.5))
        client.send(b"a1 NOOP\r\n")
        client.expect(b"a1 OK CAPABILITY completed\r\n")


if __name__ == "__main__":
    unittest.main()
