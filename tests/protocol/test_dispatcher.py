"""The dispatcher: tags, command names, its three errors, states, and the Command event."""

import unittest

from fixture import HostTestCase

CAPABILITY = b"* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\n"


class DispatcherErrorTest(HostTestCase):
    def setUp(self):
        self.host = self.start_host()
        self.client = self.connect(self.host).greet()

    def exchange(self, line, expected):
        self.client.send(line)
        self.client.expect(expected)

    def test_null_command(self):
        self.exchange(b"\r\n", b"* BAD Null command\r\n")
        self.exchange(b" a1 NOOP\r\n", b"* BAD Null command\r\n")

    def test_missing_command(self):
        self.exchange(b"a1\r\n", b"a1 BAD Missing Command\r\n")
        self.exchange(b"a2 \r\n", b"a2 BAD Missing Command\r\n")
        self.exchange(b"a3  NOOP\r\n", b"a3 BAD Missing Command\r\n")

    def test_command_unrecognized(self):
        self.exchange(b"a1 FOO\r\n", b"a1 BAD Command unrecognized\r\n")
        self.exchange(b"a2 NOOPX\r\n", b"a2 BAD Command unrecognized\r\n")

    def test_command_names_ignore_case_and_tags_keep_it(self):
        self.exchange(b"Ab1 noop\r\n", b"Ab1 OK CAPABILITY completed\r\n")
        self.exchange(b"aB2 CaPaBiLiTy\r\n", CAPABILITY + b"aB2 OK CAPABILITY completed\r\n")

    def test_tag_is_not_validated(self):
        self.exchange(b"* NOOP\r\n", b"* OK CAPABILITY completed\r\n")
        self.exchange(b"+{3} NOOP\r\n", b"+{3} OK CAPABILITY completed\r\n")

    def test_arguments_of_capability_and_noop_are_ignored(self):
        self.exchange(b"a1 NOOP (unbalanced \"quote\r\n", b"a1 OK CAPABILITY completed\r\n")
        self.exchange(b"a2 CAPABILITY  x y\r\n", CAPABILITY + b"a2 OK CAPABILITY completed\r\n")

    def test_commands_outside_their_state(self):
        for command in (b"SELECT INBOX", b"LIST \"\" *", b"FETCH 1 FLAGS", b"STORE 1 +FLAGS (\\Seen)",
                        b"CLOSE", b"EXPUNGE", b"SEARCH ALL", b"UID FETCH 1 FLAGS"):
            self.exchange(b"n1 " + command + b"\r\n", b"n1 BAD Command unrecognized\r\n")
        self.client.login()
        for command in (b"LOGIN a b", b"AUTHENTICATE LOGIN", b"FETCH 1 FLAGS", b"SEARCH ALL",
                        b"CHECK"):
            self.exchange(b"s1 " + command + b"\r\n", b"s1 BAD Command unrecognized\r\n")

    def test_capability_is_the_same_after_login(self):
        self.exchange(b"a1 CAPABILITY\r\n", CAPABILITY + b"a1 OK CAPABILITY completed\r\n")
        self.client.login()
        self.exchange(b"a2 CAPABILITY\r\n", CAPABILITY + b"a2 OK CAPABILITY completed\r\n")


class CommandEventTest(HostTestCase):
    def test_command_event_sees_every_line(self):
        host = self.start_host()
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\na2 foo bar\r\n\r\n")
        client.expect(b"a1 OK CAPABILITY completed\r\na2 BAD Command unrecognized\r\n"
                      b"* BAD Null command\r\n")
        events = host.wait_events("Command", 3)
        self.assertEqual([e["Command"] for e in events], ["a1 NOOP", "a2 foo bar", ""])
        self.assertEqual(events[0]["User"]["Hostname"], "127.0.0.1")

    def test_replaced_command_is_what_runs(self):
        host = self.start_host({"script": [
            {"on": "Command", "nth": 1, "do": "ReplaceCommand", "text": "z9 CAPABILITY"},
            {"on": "Command", "nth": 2, "do": "ReplaceCommand", "text": ""},
            {"on": "Command", "nth": 3, "do": "ReplaceCommand", "text": "q1 LOGIN alice pw"},
        ]})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\n")
        client.expect(CAPABILITY + b"z9 OK CAPABILITY completed\r\n")
        client.send(b"a2 NOOP\r\n")
        client.expect(b"* BAD Null command\r\n")
        client.send(b"a3 NOOP\r\n")
        client.expect(b"q1 OK LOGIN completed\r\n")
        connected = host.wait_event("Connected")
        self.assertEqual((connected["Username"], connected["Password"]), ("alice", "pw"))
        # The log shows the line as the sink received it, before the replacement.
        self.assertEqual([e["Command"] for e in host.events("Command")],
                         ["a1 NOOP", "a2 NOOP", "a3 NOOP"])


if __name__ == "__main__":
    unittest.main()
