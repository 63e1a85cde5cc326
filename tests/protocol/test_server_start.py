"""Starting the server; the fixture host's own contract (bad fixtures, the end of stdin)."""

import errno
import json
import socket

from fixture import TIMEOUT, HostTestCase

BIND_IP_ERROR = "ERROR 0x800A7531 An invalid argument was supplied in BindIP property."
BAD_FIXTURES = [
    ('{"server": {"Port": 1,}}', "line 1 column 23"),
    ('{"server":\n  {"Port": 01}}', "line 2 column"),
    ('{"a": 1} x', "unexpected text after the document"),
    ('{"server": {"GreetingMessage": "\\ud800"}}', "surrogate"),
    ('{"sink": false, "sink": true}', "duplicate member"),
    ('[' * 100 + ']' * 100, "nesting"),
    ('{"servr": {}}', 'unknown key "servr"'),
    ('{"server": {"Colour": "red"}}', "no such server property"),
    ('{"server": {"Port": "143"}}', "expected an integer"),
    ('{"server": {"Port": 4294967296}}', "does not fit in 32 bits"),
    ('{"server": {"Timeout": 1.5}}', "expected an integer"),
    ('{"actions": {"Command": "Allow"}}', "has no Action"),
    ('{"actions": {"Connecting": "Maybe"}}', '"Allow" or "Deny"'),
    ('{"script": [{"on": "Connectin", "do": "Deny"}]}', "no event named"),
    ('{"script": [{"on": "Command", "do": "ReplaceCommand"}]}', 'needs "text"'),
    ('{"script": [{"on": "Connecting", "do": "Deny", "nth": 0}]}', "counts from 1"),
    ('{"folders": [{"name": "INBOX", "messages": [{"file": "none.eml"}]}]}', "none.eml"),
    ('{"folders": [{"name": "INBOX", "messages": [{"file": "m.eml", "flags": ["\\\\Sen"]}]}]}',
     'unknown flag "\\Sen"'),
    ('{"folders": [{"uid": 5}]}', '"name" is required'),
]


class StartTest(HostTestCase):
    def test_start_errors(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            for server, line in (
                    ({"BindIP": "abc"}, BIND_IP_ERROR),
                    ({"BindIP": "255.255.255.255"}, BIND_IP_ERROR),
                    ({"Port": taken.getsockname()[1]},
                     "ERROR 0x%08X Could not bind socket." % (0x800A0000 + errno.EADDRINUSE))):
                with self.subTest(server=server):
                    code, out, err = self.run_to_exit(json.dumps({"server": server}))
                    self.assertEqual((code, out.split("\n")[0], err), (1, line, ""))

    def test_only_the_low_sixteen_bits_reach_the_socket(self):
        for _ in range(5):  # the free port may be taken before the host binds it
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                port = probe.getsockname()[1]
            host = self.start_host({"server": {"Port": 65536 + port}}, expect_port=False)
            if host.first_line == "PORT %d" % port:
                break
        self.assertEqual(host.first_line, "PORT %d" % port)
        self.connect(host).greet()

    def test_empty_bind_ip_listens_on_every_interface(self):
        self.connect(self.start_host({"server": {"BindIP": ""}})).greet()

    def test_end_of_stdin_stops_the_host_and_its_connections(self):
        host = self.start_host()
        client = self.connect(host).greet().login()
        host.proc.stdin.close()
        self.assertEqual(host.proc.wait(TIMEOUT), 0)
        client.expect_closed()
        self.assertEqual(host.events("Disconnected"), [], "Stop fires no Disconnected")

    def test_bad_fixtures(self):
        for text, fragment in BAD_FIXTURES:
            with self.subTest(fixture=text[:60]):
                code, out, err = self.run_to_exit(text, {"m.eml": b"Subject: x\r\n\r\nbody\r\n"})
                self.assertEqual((code, out), (2, ""), "nothing may start; stderr: %r" % err)
                self.assertIn(fragment, err)

