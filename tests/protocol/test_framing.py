"""How received bytes become command lines: line ends, long lines, NUL bytes, packets."""

import socket
import time
import unittest

from fixture import HostTestCase

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


if __name__ == "__main__":
    unittest.main()
