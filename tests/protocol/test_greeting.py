"""Accepting a connection: the greeting, Connecting, and the move to waiting-for-username."""

import unittest

from fixture import DEFAULT_GREETING, HostTestCase, greeting


class GreetingTest(HostTestCase):
    def test_default_greeting(self):
        host = self.start_host()
        self.connect(host).greet(DEFAULT_GREETING)

    def test_custom_greeting(self):
        host = self.start_host({"server": {"GreetingMessage": "Hello"}})
        self.connect(host).greet(b"* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] Hello ready.\r\n")

    def test_empty_greeting_keeps_both_blanks(self):
        host = self.start_host({"server": {"GreetingMessage": ""}})
        self.connect(host).greet(b"* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN]  ready.\r\n")

    def test_eight_bit_greeting_goes_out_byte_for_byte(self):
        text = b"Gr\xfc\xdfe \xc3\xa9t\xe9"  # Latin-1 bytes and a UTF-8 sequence, mixed
        host = self.start_host({"server": {"GreetingMessage": text.decode("utf-8", "surrogateescape")}})
        self.connect(host).greet(greeting(text))

    def test_greeting_then_state_change_to_waiting_username(self):
        host = self.start_host()
        self.connect(host).greet()
        connecting = host.wait_event("Connecting")
        self.assertEqual(connecting["User"]["Hostname"], "127.0.0.1")
        self.assertEqual(connecting["Action"], 1, "Connecting is preset to Allow")
        change = host.wait_event("StateChange")
        self.assertEqual((change["NewState"], change["OldState"]), (2, 1))

    def test_connecting_denied_closes_without_greeting(self):
        host = self.start_host({
            "script": [
                {"on": "Connecting", "nth": 1, "do": "Deny"},
                {"on": "Connecting", "nth": 2, "do": "DumpUsers"},
            ]
        })
        self.connect(host).expect_closed()
        # The denied user never joined the collection: during the next Connecting it is empty.
        self.connect(host).greet()
        users = host.wait_event("Users")
        self.assertEqual(users["Count"], 0)
        self.assertEqual(len(host.wait_events("StateChange")), 1, "only the second user was greeted")
        self.assertEqual(host.events("Disconnected"), [])

    def test_connecting_denied_by_actions_for_every_connection(self):
        host = self.start_host({"actions": {"Connecting": "Deny"}})
        for _ in range(3):
            self.connect(host).expect_closed()
        self.assertEqual(len(host.wait_events("Connecting", 3)), 3)
        self.assertEqual(host.events("StateChange"), [])

    def test_users_collection_in_acceptance_order(self):
        host = self.start_host({"script": [{"on": "Connecting", "nth": 3, "do": "DumpUsers"}]})
        first = self.connect(host).greet()
        second = self.connect(host).greet()
        first.login(b"first", b"x")
        second.login(b"second", b"x")
        self.connect(host).greet()
        users = host.wait_event("Users")
        self.assertEqual(users["Count"], 2)
        self.assertEqual([(u["Username"], u["Index"]) for u in users["Users"]],
                         [("first", 0), ("second", 1)])

    def test_no_sink_accepts_and_logs_in(self):
        host = self.start_host({"sink": False})
        client = self.connect(host).greet()
        client.login()
        self.assertEqual(host.events(), [])


if __name__ == "__main__":
    unittest.main()
