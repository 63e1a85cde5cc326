"""A host that ends things from inside an event: releasing the server, Disconnect, Stop.

After each of these the host process must keep running and stop cleanly (the harness checks
the exit code and that a sanitizer build reported nothing).
"""

import socket
import struct
import unittest

from fixture import DEFAULT_TEXT, HostTestCase


class ReleaseServerTest(HostTestCase):
    def assert_server_gone(self, host):
        self.assert_host_alive(host)
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", host.port), timeout=5).close()

    def test_release_inside_command(self):
        host = self.start_host({"script": [{"on": "Command", "do": "ReleaseServer"}]})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\n")
        client.expect_closed()
        self.assert_server_gone(host)
        self.assertEqual(host.events("Disconnected"), [])

    def test_release_inside_command_with_more_lines_pending(self):
        host = self.start_host({"script": [{"on": "Command", "do": "ReleaseServer"}]})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\na2 NOOP\r\na3 NOOP\r\n")
        client.expect_closed()
        self.assertEqual(len(host.events("Command")), 1, "no line after the release is dispatched")
        self.assert_server_gone(host)

    def test_release_inside_connected(self):
        host = self.start_host({"script": [{"on": "Connected", "do": "ReleaseServer"}]})
        client = self.connect(host).greet()
        client.send(b"a1 LOGIN joe pw\r\n")
        client.expect_closed()
        self.assertEqual(host.events("ListFolders"), [])
        self.assert_server_gone(host)

    def test_release_inside_list_folders(self):
        host = self.start_host({"script": [{"on": "ListFolders", "do": "ReleaseServer"}]})
        client = self.connect(host).greet()
        client.send(b"a1 LOGIN joe pw\r\n")
        # The completion goes out before the root is listed; nothing follows it.
        client.expect(b"a1 OK LOGIN completed\r\n")
        client.expect_closed()
        self.assert_server_gone(host)

    def test_release_inside_connecting(self):
        host = self.start_host({"script": [{"on": "Connecting", "do": "ReleaseServer"}]})
        client = self.connect(host)
        client.expect_closed()
        self.assertEqual(host.events("StateChange"), [])
        self.assert_server_gone(host)

    def test_release_inside_state_change(self):
        host = self.start_host({"script": [{"on": "StateChange", "do": "ReleaseServer"}]})
        client = self.connect(host)
        # The greeting went out before the state changed; then the connection ends.
        self.assertEqual(client.read_until_closed(),
                         b"* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] " + DEFAULT_TEXT + b" ready.\r\n")
        self.assert_server_gone(host)

    def test_release_inside_disconnected(self):
        host = self.start_host({"script": [{"on": "Disconnected", "do": "ReleaseServer"}]})
        client = self.connect(host).greet()
        other = self.connect(host).greet()
        client.send(b"a1 LOGOUT\r\n")
        client.read_until_closed()
        host.wait_event("Disconnected")
        other.expect_closed()
        self.assert_server_gone(host)


class DisconnectTest(HostTestCase):
    def test_disconnect_inside_command(self):
        host = self.start_host({"script": [{"on": "Command", "do": "Disconnect"}]})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\na2 NOOP\r\n")
        client.expect_closed()
        self.assertEqual(len(host.wait_events("Disconnected")), 1)
        self.assertEqual(host.wait_event("Script")["Status"], 0)
        # The server itself goes on.
        self.connect(host).greet().login()

    def test_disconnect_inside_connected(self):
        host = self.start_host({"script": [
            {"on": "Connected", "do": "Disconnect"},
            {"on": "Connecting", "nth": 2, "do": "DumpUsers"},
        ]})
        client = self.connect(host).greet()
        client.send(b"a1 LOGIN joe pw\r\n")
        client.expect_closed()
        self.assertEqual(len(host.wait_events("Disconnected")), 1)
        self.connect(host).greet()
        self.assertEqual(host.wait_event("Users")["Count"], 0)

    def test_disconnect_inside_list_folders(self):
        host = self.start_host({"script": [{"on": "ListFolders", "do": "Disconnect"}]})
        client = self.connect(host).greet()
        client.send(b"a1 LOGIN joe pw\r\n")
        client.expect(b"a1 OK LOGIN completed\r\n")
        client.expect_closed()
        host.wait_event("Disconnected")
        self.connect(host).greet()

    def test_disconnect_inside_state_change(self):
        host = self.start_host({"script": [{"on": "StateChange", "do": "Disconnect"}]})
        client = self.connect(host)
        client.read_until_closed()
        host.wait_event("Disconnected")
        self.connect(host).greet()

    def test_disconnect_inside_connecting(self):
        # The host ended the connection before it was accepted: it must not be greeted and
        # served afterwards as if nothing happened. The server itself goes on.
        host = self.start_host({"script": [
            {"on": "Connecting", "nth": 1, "do": "Disconnect"},
            {"on": "Connecting", "nth": 2, "do": "DumpUsers"},
        ]})
        self.connect(host).expect_closed()
        self.assertEqual(len(host.wait_events("Disconnected")), 1)
        self.connect(host).greet()
        self.assertEqual(host.wait_event("Users")["Count"], 0)


class StopTest(HostTestCase):
    def test_stop_inside_command_ends_every_connection_silently(self):
        host = self.start_host({"script": [{"on": "Command", "nth": 2, "do": "Stop"}]})
        first = self.connect(host).greet()
        second = self.connect(host).greet()
        first.send(b"a1 NOOP\r\n")
        first.expect(b"a1 OK CAPABILITY completed\r\n")
        second.send(b"b1 NOOP\r\n")
        second.expect_closed()
        first.expect_closed()
        self.assertEqual(host.events("Disconnected"), [])
        self.assert_host_alive(host)
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", host.port), timeout=5).close()


class ClientVanishesTest(HostTestCase):
    def test_reset_while_responses_are_pending(self):
        """A client that resets the connection under a stream of responses must not kill the
        host (a send to a reset socket must not raise SIGPIPE)."""
        host = self.start_host()
        for _ in range(5):
            client = self.connect(host).greet()
            client.send(b"".join(b"a%d CAPABILITY\r\n" % i for i in range(3000)))
            client.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            client.close()
        self.assert_host_alive(host)
        self.connect(host).greet().login()
        self.assert_host_alive(host)


if __name__ == "__main__":
    unittest.main()
