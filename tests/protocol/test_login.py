"""LOGIN, LOGOUT and AUTHENTICATE as a client sees them, and the events they fire."""

import base64
import unittest

from fixture import DEFAULT_TEXT, HostTestCase, as_bytes


def b64(data):
    return base64.b64encode(data)


class LoginTest(HostTestCase):
    def setUp(self):
        self.host = self.start_host()
        self.client = self.connect(self.host).greet()

    def login_as(self, arguments, tag=b"a1"):
        self.client.send(tag + b" LOGIN " + arguments + b"\r\n")
        self.client.expect(tag + b" OK LOGIN completed\r\n")
        connected = self.host.wait_event("Connected")
        return connected["Username"], connected["Password"]

    def test_login_fires_connected_then_lists_the_root(self):
        self.assertEqual(self.login_as(b"joe secret"), ("joe", "secret"))
        connected = self.host.wait_event("Connected")
        self.assertEqual(connected["Action"], 0, "Connected is preset to Deny")
        self.assertEqual(connected["User"]["Username"], "joe")
        listing = self.host.wait_event("ListFolders")
        self.assertIsNone(listing["ParentFolder"])
        names = [e["event"] for e in self.host.events()
                 if e["event"] in ("Connected", "ListFolders")]
        self.assertEqual(names, ["Connected", "ListFolders"])

    def test_quoted_arguments_keep_their_blanks(self):
        self.assertEqual(self.login_as(b'"joe smith" "pass  word "'), ("joe smith", "pass  word "))

    def test_empty_quoted_arguments(self):
        self.assertEqual(self.login_as(b'"" ""'), ("", ""))

    def test_third_argument_is_ignored(self):
        self.assertEqual(self.login_as(b"joe pw extra (more)"), ("joe", "pw"))

    def test_literal_marker_is_an_ordinary_argument(self):
        self.assertEqual(self.login_as(b"{3} pw"), ("{3}", "pw"))

    def test_quote_inside_a_word_starts_a_new_argument(self):
        # No escapes: a quote anywhere toggles quoting and drops what came before it.
        self.assertEqual(self.login_as(b'ab"cd ef" pw'), ("cd ef", "pw"))

    def test_eight_bit_user_name_reaches_the_host(self):
        user, _ = self.login_as(b"j\xf6rg \xc3\xa9t\xe9")
        self.assertEqual(as_bytes(user), b"j\xf6rg")

    def test_parse_errors(self):
        for tag, arguments in ((b"p1", b""), (b"p2", b"joe"), (b"p3", b'"joe pw'),
                               (b"p4", b"(joe pw"), (b"p5", b"joe \"pw"), (b"p6", b"   joe   ")):
            self.client.send(tag + b" LOGIN " + arguments + b"\r\n")
            self.client.expect(tag + b" BAD LOGIN parse error\r\n")
        self.client.send(b"p7 LOGIN\r\n")
        self.client.expect(b"p7 BAD LOGIN parse error\r\n")
        self.assertEqual(self.host.events("Connected"), [])
        # Still not logged in.
        self.assertEqual(self.login_as(b"joe pw", tag=b"p8"), ("joe", "pw"))

    def test_second_login_is_refused(self):
        self.login_as(b"joe pw")
        self.client.send(b"a2 LOGIN other pw\r\n")
        self.client.expect(b"a2 BAD Command unrecognized\r\n")
        self.assertEqual(len(self.host.events("Connected")), 1)


class ConnectedActionTest(HostTestCase):
    def test_denied_connected_does_not_refuse_the_login(self):
        host = self.start_host({"actions": {"Connected": "Deny"}})
        client = self.connect(host).greet()
        client.login()
        client.send(b"a2 LOGIN x y\r\n")
        client.expect(b"a2 BAD Command unrecognized\r\n")


class LogoutTest(HostTestCase):
    def test_logout_says_goodbye_and_closes(self):
        host = self.start_host()
        client = self.connect(host).greet()
        client.send(b"a1 LOGOUT\r\n")
        client.expect(b"* BYE " + DEFAULT_TEXT + b" terminating connection\r\n"
                      b"a1 OK LOGOUT completed\r\n")
        client.expect_closed()
        self.assertEqual(len(host.wait_events("Disconnected")), 1)

    def test_custom_and_empty_goodbye(self):
        host = self.start_host({"server": {"GoodbyeMessage": "See you"}})
        client = self.connect(host).greet()
        client.send(b"a1 LOGOUT\r\n")
        client.expect(b"* BYE See you terminating connection\r\na1 OK LOGOUT completed\r\n")
        client.expect_closed()

        host = self.start_host({"server": {"GoodbyeMessage": ""}})
        client = self.connect(host).greet()
        client.login()
        client.send(b"a1 LOGOUT\r\n")
        client.expect(b"* BYE  terminating connection\r\na1 OK LOGOUT completed\r\n")
        client.expect_closed()

    def test_lines_after_logout_in_the_same_packet_are_answered(self):
        host = self.start_host()
        client = self.connect(host).greet()
        client.send(b"a1 LOGOUT\r\na2 NOOP\r\na3 LOGIN joe pw\r\n")
        client.expect(b"* BYE " + DEFAULT_TEXT + b" terminating connection\r\n"
                      b"a1 OK LOGOUT completed\r\n"
                      b"a2 OK CAPABILITY completed\r\n"
                      b"a3 OK LOGIN completed\r\n")
        client.expect_closed()
        host.wait_event("Disconnected")

    def test_peer_close_fires_disconnected(self):
        host = self.start_host()
        client = self.connect(host).greet()
        client.login()
        client.close()
        disconnected = host.wait_event("Disconnected")
        self.assertEqual(disconnected["User"]["Username"], "joe")


class AuthenticateTest(HostTestCase):
    def setUp(self):
        self.host = self.start_host()
        self.client = self.connect(self.host).greet()

    def assert_logged_in_as(self, user, password):
        connected = self.host.wait_event("Connected")
        self.assertEqual((connected["Username"], connected["Password"]), (user, password))
        self.assertIsNone(self.host.wait_event("ListFolders")["ParentFolder"])
        self.client.send(b"z1 LOGIN x y\r\n")
        self.client.expect(b"z1 BAD Command unrecognized\r\n")

    def assert_not_logged_in(self):
        self.assertEqual(self.host.events("Connected"), [])
        self.client.send(b"z2 LOGIN x y\r\n")
        self.client.expect(b"z2 OK LOGIN completed\r\n")

    def test_login_mechanism(self):
        self.client.send(b"a1 AUTHENTICATE LOGIN\r\n")
        self.client.expect(b"+ VXNlcm5hbWU6\r\n")
        self.client.send(b64(b"joe") + b"\r\n")
        self.client.expect(b"+ UGFzc3dvcmQ6\r\n")
        self.client.send(b64(b"se cret") + b"\r\n")
        self.client.expect(b"a1 OK AUTHENTICATE completed\r\n")
        self.assert_logged_in_as("joe", "se cret")
        # The two responses were no commands.
        self.assertEqual([e["Command"] for e in self.host.events("Command")][:1],
                         ["a1 AUTHENTICATE LOGIN"])
        self.assertEqual(len(self.host.events("Command")), 2)

    def test_plain_with_initial_response(self):
        self.client.send(b"a1 AUTHENTICATE PLAIN " + b64(b"\0joe\0pw") + b"\r\n")
        self.client.expect(b"a1 OK AUTHENTICATE completed\r\n")
        self.assert_logged_in_as("joe", "pw")

    def test_plain_after_empty_challenge_with_authorization_id(self):
        self.client.send(b"a1 AUTHENTICATE PLAIN\r\n")
        self.client.expect(b"+ \r\n")
        self.client.send(b64(b"admin\0joe\0pw") + b"\r\n")
        self.client.expect(b"a1 OK AUTHENTICATE completed\r\n")
        self.assert_logged_in_as("joe", "pw")

    def test_cancel(self):
        self.client.send(b"a1 AUTHENTICATE LOGIN\r\n")
        self.client.expect(b"+ VXNlcm5hbWU6\r\n")
        self.client.send(b"*\r\n")
        self.client.expect(b"a1 BAD AUTHENTICATE cancelled\r\n")
        self.client.send(b"a2 AUTHENTICATE PLAIN\r\n")
        self.client.expect(b"+ \r\n")
        self.client.send(b"*\r\n")
        self.client.expect(b"a2 BAD AUTHENTICATE cancelled\r\n")
        self.assert_not_logged_in()

    def test_bad_base64(self):
        self.client.send(b"a1 AUTHENTICATE LOGIN\r\n")
        self.client.expect(b"+ VXNlcm5hbWU6\r\n")
        self.client.send(b"!!!notbase64\r\n")
        self.client.expect(b"a1 BAD AUTHENTICATE parse error\r\n")
        self.client.send(b"a2 AUTHENTICATE PLAIN ###\r\n")
        self.client.expect(b"a2 BAD AUTHENTICATE parse error\r\n")
        self.assert_not_logged_in()

    def test_malformed_plain_message(self):
        self.client.send(b"a1 AUTHENTICATE PLAIN " + b64(b"joe pw") + b"\r\n")
        self.client.expect(b"a1 BAD AUTHENTICATE parse error\r\n")
        self.client.send(b"a2 AUTHENTICATE PLAIN " + b64(b"\0joe") + b"\r\n")
        self.client.expect(b"a2 BAD AUTHENTICATE parse error\r\n")
        self.assert_not_logged_in()

    def test_other_mechanisms_fail(self):
        self.client.send(b"a1 AUTHENTICATE CRAM-MD5\r\n")
        self.client.expect(b"a1 NO AUTHENTICATE failed\r\n")
        self.client.send(b"a2 AUTHENTICATE\r\n")
        self.client.expect(b"a2 NO AUTHENTICATE failed\r\n")
        self.assert_not_logged_in()

    def test_pipelined_response_is_not_a_command(self):
        self.client.send(b"a1 AUTHENTICATE PLAIN\r\n" + b64(b"\0joe\0pw") + b"\r\na2 NOOP\r\n")
        self.client.expect(b"+ \r\na1 OK AUTHENTICATE completed\r\na2 OK CAPABILITY completed\r\n")
        self.assert_logged_in_as("joe", "pw")


if __name__ == "__main__":
    unittest.main()
