"""Starting the server: refusals reported through the error record, and the port it listens on.

Also the fixture host's own contract: a bad fixture exits 2 with a message and starts nothing.
"""

import errno
import json
import socket
import unittest

from fixture import DEFAULT_GREETING, HostTestCase, free_port, run_host_to_exit

BIND_IP_ERROR = "ERROR 0x800A7531 An invalid argument was supplied in BindIP property."
BIND_ERROR = "ERROR 0x%08X Could not bind socket." % (0x800A0000 + errno.EADDRINUSE)


class StartErrorTest(HostTestCase):
    def assert_start_error(self, fixture, line):
        code, out, err = run_host_to_exit(json.dumps(fixture))
        self.assertEqual(out.split("\n")[0], line, "stderr: %s" % err)
        self.assertEqual(code, 1)
        self.assertEqual(err, "")

    def test_bind_ip_that_does_not_parse(self):
        self.assert_start_error({"server": {"BindIP": "abc"}}, BIND_IP_ERROR)

    def test_bind_ip_all_ones(self):
        self.assert_start_error({"server": {"BindIP": "255.255.255.255"}}, BIND_IP_ERROR)

    def test_port_in_use(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            port = taken.getsockname()[1]
            self.assert_start_error({"server": {"Port": port}}, BIND_ERROR)


class PortTest(HostTestCase):
    def test_only_the_low_sixteen_bits_reach_the_socket(self):
        for _ in range(5):  # the free port may be taken before the host binds it
            port = free_port()
            host = self.start_host({"server": {"Port": 65536 + port}}, expect_port=False)
            if host.first_line == "PORT %d" % port:
                break
        self.assertEqual(host.first_line, "PORT %d" % port)
        self.connect(host).greet(DEFAULT_GREETING)

    def test_empty_bind_ip_listens_on_every_interface(self):
        host = self.start_host({"server": {"BindIP": ""}})
        self.connect(host).greet(DEFAULT_GREETING)

    def test_port_zero_picks_a_free_port_per_host(self):
        first = self.start_host()
        second = self.start_host()
        self.assertNotEqual(first.port, second.port)
        self.connect(first).greet()
        self.connect(second).greet()


class HostProcessTest(HostTestCase):
    def test_end_of_stdin_stops_the_host_and_its_connections(self):
        host = self.start_host()
        client = self.connect(host).greet()
        client.login()
        host.proc.stdin.close()
        self.assertEqual(host.wait_exit(), 0)
        client.expect_closed()
        self.assertEqual(host.events("Disconnected"), [], "Stop fires no Disconnected")


class BadFixtureTest(HostTestCase):
    def assert_rejected(self, text, fragment, files=None):
        code, out, err = run_host_to_exit(text, files)
        self.assertEqual(code, 2, "stdout: %r stderr: %r" % (out, err))
        self.assertEqual(out, "", "nothing may start for a bad fixture")
        self.assertIn(fragment, err)

    def test_syntax_errors_name_line_and_column(self):
        self.assert_rejected('{"server": {"Port": 1,}}', "line 1 column 23")
        self.assert_rejected('{"server":\n  {"Port": 01}}', "line 2 column")
        self.assert_rejected('{"a": 1} x', "unexpected text after the document")
        self.assert_rejected('{"server": {"GreetingMessage": "\\ud800"}}', "surrogate")
        self.assert_rejected('{"sink": false, "sink": true}', "duplicate member")
        self.assert_rejected('[' * 100 + ']' * 100, "nesting")

    def test_unknown_or_mistyped_keys(self):
        self.assert_rejected('{"servr": {}}', 'unknown key "servr"')
        self.assert_rejected('{"server": {"Colour": "red"}}', "no such server property")
        self.assert_rejected('{"server": {"Port": "143"}}', "expected an integer")
        self.assert_rejected('{"server": {"Port": 4294967296}}', "does not fit in 32 bits")
        self.assert_rejected('{"server": {"Timeout": 1.5}}', "expected an integer")
        self.assert_rejected('{"actions": {"Command": "Allow"}}', "has no Action")
        self.assert_rejected('{"actions": {"Connecting": "Maybe"}}', '"Allow" or "Deny"')
        self.assert_rejected('{"script": [{"on": "Connectin", "do": "Deny"}]}', "no event named")
        self.assert_rejected('{"script": [{"on": "Command", "do": "ReplaceCommand"}]}',
                             'needs "text"')
        self.assert_rejected('{"script": [{"on": "Connecting", "do": "Deny", "nth": 0}]}',
                             "counts from 1")

    def test_folder_errors(self):
        self.assert_rejected('{"folders": [{"name": "INBOX", "messages": [{"file": "none.eml"}]}]}',
                             "none.eml")
        self.assert_rejected(
            '{"folders": [{"name": "INBOX", "messages": [{"file": "m.eml", "flags": ["\\\\Sen"]}]}]}',
            'unknown flag "\\Sen"', files={"m.eml": b"Subject: x\r\n\r\nbody\r\n"})
        self.assert_rejected('{"folders": [{"uid": 5}]}', '"name" is required')


if __name__ == "__main__":
    unittest.main()
