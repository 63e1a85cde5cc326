"""How received bytes become command lines: line ends, long lines, NUL bytes, packets."""

import socket
import threading
import time
import unittest

from fixture import DEFAULT_GREETING, HostTestCase

NOOP_OK = b" OK CAPABILITY completed\r\n"


class LineEndTest(HostTestCase):
    def setUp(self):
        self.host = self.start_host()
        self.client = self.connect(self.host).greet()

    def test_lf_and_crlf_end_a_line(self):
        self.client.send(b"a1 NOOP\n")
        self.client.expect(b"a1" + NOOP_OK)
        self.client.send(b"a2 NOOP\r\n")
        self.client.expect(b"a2" + NOOP_OK)
        commands = [e["Command"] for e in self.host.wait_events("Command", 2)]
        self.assertEqual(commands, ["a1 NOOP", "a2 NOOP"])

    def test_cr_cr_lf_keeps_one_carriage_return(self):
        self.client.send(b"a1 NOOP\r\r\n")
        # The command name is "NOOP\r", which is no command.
        self.client.expect(b"a1 BAD Command unrecognized\r\n")
        self.assertEqual(self.host.wait_event("Command")["Command"], "a1 NOOP\r")

    def test_empty_lines(self):
        self.client.send(b"\r\n\n")
        self.client.expect(b"* BAD Null command\r\n* BAD Null command\r\n")
        self.assertEqual([e["Command"] for e in self.host.wait_events("Command", 2)], ["", ""])

    def test_line_is_cut_at_a_nul_byte(self):
        self.client.send(b"a1 NOOP\x00a2 CAPABILITY\r\n")
        self.client.expect(b"a1" + NOOP_OK)
        self.client.send(b"\x00a3 NOOP\r\na4 NOOP\r\n")
        self.client.expect(b"* BAD Null command\r\na4" + NOOP_OK)

    def test_two_commands_in_one_packet(self):
        self.client.send(b"a1 NOOP\r\na2 CAPABILITY\r\n")
        self.client.expect(b"a1" + NOOP_OK +
                           b"* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\na2 OK CAPABILITY completed\r\n")

    def test_many_commands_in_one_packet_answered_in_order(self):
        self.client.send(b"".join(b"t%d NOOP\r\n" % i for i in range(200)))
        self.client.expect(b"".join(b"t%d" % i + NOOP_OK for i in range(200)))

    def test_command_split_over_packets(self):
        self.client.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for byte in b"a1 NO":
            self.client.send(bytes([byte]))
            time.sleep(0.01)
        self.client.send(b"OP\r")
        time.sleep(0.05)
        self.client.send(b"\na2 NOOP\r\n")
        self.client.expect(b"a1" + NOOP_OK + b"a2" + NOOP_OK)


class LongLineTest(HostTestCase):
    def setUp(self):
        self.host = self.start_host()
        self.client = self.connect(self.host).greet()

    def test_40000_byte_line_reaches_the_dispatcher_as_32700(self):
        # A tag alone: its echo shows exactly what reached the dispatcher, and the response
        # (far longer than 8192 bytes) must arrive whole.
        self.client.send(b"x" * 40000 + b"\r\nb1 NOOP\r\n")
        self.client.expect(b"x" * 32700 + b" BAD Missing Command\r\n")
        self.client.expect(b"b1" + NOOP_OK)
        command = self.host.wait_event("Command")["Command"]
        self.assertEqual(len(command), 32700)

    def test_long_tag_echoed_whole_in_a_completion(self):
        tag = b"T" * 9000
        self.client.send(tag + b" NOOP\r\n")
        self.client.expect(tag + NOOP_OK)

    def test_megabyte_without_line_feed_then_more_commands(self):
        self.client.send(b"a1 NOOP ")
        chunk = b"y" * 65536
        for _ in range(16):
            self.client.send(chunk)
        self.client.send(b"\r\na2 NOOP\r\n")
        self.client.expect(b"a1" + NOOP_OK + b"a2" + NOOP_OK)


class SendPathTest(HostTestCase):
    def test_megabyte_of_answers_to_a_slow_reader_arrives_whole_and_in_order(self):
        # The client's small receive buffer makes the server's sends stall and resume many
        # times; a thread sends, so that neither side can block the other.
        host = self.start_host()
        slow = socket.socket()
        self.addCleanup(slow.close)
        slow.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        slow.settimeout(30)
        slow.connect(("127.0.0.1", host.port))
        count = 20000
        requests = b"".join(b"c%d CAPABILITY\r\n" % i for i in range(count))
        expected = b"".join(b"* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\nc%d OK CAPABILITY completed\r\n"
                            % i for i in range(count))
        self.assertGreater(len(expected), 1000000)
        sender = threading.Thread(target=slow.sendall, args=(requests,))
        sender.start()
        received = bytearray()
        want = len(DEFAULT_GREETING) + len(expected)
        while len(received) < want:
            chunk = slow.recv(4096)
            if not chunk:
                break
            received += chunk
            if len(received) < 256 * 1024:
                time.sleep(0.001)  # read slowly for a while, then drain
        sender.join()
        self.assertEqual(len(received), want)
        self.assertTrue(received == DEFAULT_GREETING + expected, "answers out of order or damaged")


if __name__ == "__main__":
    unittest.main()
