"""A host that ends things from inside an event: releasing the server, Disconnect, Stop."""
# After each of these the host process must keep running and stop cleanly (the harness checks the
# exit code and that a sanitizer build reported nothing).

import socket
import struct

from fixture import DEFAULT_GREETING, HostTestCase, noop_ok

LOGIN = b"a1 LOGIN joe pw\r\n"
# The event the host acts in, what the client sends, all it gets before the close, and how often
# events fired by then when the host released the server.
CASES = [
    ("Connecting", b"", b"", {"StateChange": 0}),  # never greeted nor served
    ("StateChange", b"", DEFAULT_GREETING, {}),  # the greeting went out before the change
    ("Command", b"a1 NOOP\r\na2 NOOP\r\na3 NOOP\r\n", DEFAULT_GREETING,
     {"Command": 1, "Disconnected": 0}),
    ("Connected", LOGIN, DEFAULT_GREETING, {"ListFolders": 0}),
    # The completion goes out before the root is listed; nothing follows it.
    ("ListFolders", LOGIN, DEFAULT_GREETING + b"a1 OK LOGIN completed\r\n", {}),
]


class LifetimeTest(HostTestCase):
    def run_case(self, event, do, sent, received):
        host = self.start_host({"script": [{"on": event, "do": do},
                                           {"on": "Connecting", "nth": 2, "do": "DumpUsers"}]})
        client = self.connect(host)
        client.send(sent)
        client.expect_closed(received)
        return host

    def test_release_server_inside_events(self):
        for event, sent, received, counts in CASES:
            with self.subTest(event=event):
                host = self.run_case(event, "ReleaseServer", sent, received)
                self.assertEqual({name: len(host.events(name)) for name in counts}, counts)
                self.assert_server_gone(host)

    def test_disconnect_inside_events(self):
        for event, sent, received, _ in CASES:
            with self.subTest(event=event):
                host = self.run_case(event, "Disconnect", sent, received)
                self.assertEqual(len(host.wait_events("Disconnected")), 1)
                self.assertEqual(host.wait_event("Script")["Status"], 0)
                # The user is gone from the collection; the server itself goes on.
                self.connect(host).greet().login()
                self.assertEqual(host.wait_event("Users")["Count"], 0)

    def test_release_server_inside_disconnected(self):
        host = self.start_host({"script": [{"on": "Disconnected", "do": "ReleaseServer"}]})
        client = self.connect(host).greet()
        other = self.connect(host).greet()
        client.send(b"a1 LOGOUT\r\n")
        client.read_until_closed()
        other.expect_closed()
        self.assert_server_gone(host)

    def test_stop_inside_command_ends_every_connection_silently(self):
        host = self.start_host({"script": [{"on": "Command", "nth": 2, "do": "Stop"}]})
        first = self.connect(host).greet()
        second = self.connect(host).greet()
        first.send(b"a1 NOOP\r\n")
        first.expect(noop_ok(b"a1"))
        second.send(b"b1 NOOP\r\n")
        second.expect_closed()
        first.expect_closed()
        self.assertEqual(host.events("Disconnected"), [])
        self.assert_server_gone(host)

    def test_client_reset_under_pending_responses(self):
        # A send to a reset socket must not raise SIGPIPE and kill the host.
        host = self.start_host()
        for _ in range(5):
            client = self.connect(host).greet()
            client.send(b"".join(b"a%d CAPABILITY\r\n" % i for i in range(3000)))
            client.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            client.sock.close()
        self.connect(host).greet().login()
