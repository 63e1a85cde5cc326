"""LOGIN, LOGOUT and AUTHENTICATE as a client sees them, and the events they fire."""

import base64

from fixture import DEFAULT_TEXT, HostTestCase, noop_ok


def as_bytes(text):  # a string from the events log as the 8-bit text it stands for
    return text.encode("utf-8", "surrogateescape")


# LOGIN's arguments and the user name and password the host receives.
LOGINS = [
    (b"joe secret", b"joe", b"secret"),
    (b'"joe smith" "pass  word "', b"joe smith", b"pass  word "),
    (b'"" ""', b"", b""),
    (b"joe pw extra (more)", b"joe", b"pw"),
    (b"{3} pw", b"{3}", b"pw"),  # a literal marker is an ordinary argument
    (b'ab"cd ef" pw', b"cd ef", b"pw"),  # no escapes: a quote drops what came before it
    (b"j\xf6rg \xc3\xa9t\xe9", b"j\xf6rg", b"\xc3\xa9t\xe9"),
]
LOGIN_PARSE_ERRORS = [b"", b" ", b" joe", b' "joe pw', b" (joe pw", b' joe "pw', b"    joe   "]

# One SASL exchange per row: (client line, server answer) steps, then who is logged in.
b64 = base64.b64encode
AUTH_LOGIN = (b"a1 AUTHENTICATE LOGIN\r\n", b"+ VXNlcm5hbWU6\r\n")
AUTH_PLAIN = (b"a1 AUTHENTICATE PLAIN\r\n", b"+ \r\n")
AUTH_OK = b"a1 OK AUTHENTICATE completed\r\n"
AUTH_PARSE_ERROR = b"a1 BAD AUTHENTICATE parse error\r\n"
EXCHANGES = [
    ([AUTH_LOGIN, (b64(b"joe") + b"\r\n", b"+ UGFzc3dvcmQ6\r\n"),
      (b64(b"se cret") + b"\r\n", AUTH_OK)], ("joe", "se cret")),
    ([(b"a1 AUTHENTICATE PLAIN " + b64(b"\0joe\0pw") + b"\r\n", AUTH_OK)], ("joe", "pw")),
    ([AUTH_PLAIN, (b64(b"admin\0joe\0pw") + b"\r\n", AUTH_OK)], ("joe", "pw")),
    # A pipelined response is no command; the command after it is one.
    ([(b"a1 AUTHENTICATE PLAIN\r\n" + b64(b"\0joe\0pw") + b"\r\na2 NOOP\r\n",
       b"+ \r\n" + AUTH_OK + noop_ok(b"a2"))], ("joe", "pw")),
    ([AUTH_LOGIN, (b"*\r\n", b"a1 BAD AUTHENTICATE cancelled\r\n")], None),
    ([AUTH_PLAIN, (b"*\r\n", b"a1 BAD AUTHENTICATE cancelled\r\n")], None),
    ([AUTH_LOGIN, (b"!!!notbase64\r\n", AUTH_PARSE_ERROR)], None),
    ([(b"a1 AUTHENTICATE PLAIN ###\r\n", AUTH_PARSE_ERROR)], None),
    ([(b"a1 AUTHENTICATE PLAIN " + b64(b"joe pw") + b"\r\n", AUTH_PARSE_ERROR)], None),
    ([(b"a1 AUTHENTICATE PLAIN " + b64(b"\0joe") + b"\r\n", AUTH_PARSE_ERROR)], None),
    ([(b"a1 AUTHENTICATE CRAM-MD5\r\n", b"a1 NO AUTHENTICATE failed\r\n")], None),
    ([(b"a1 AUTHENTICATE\r\n", b"a1 NO AUTHENTICATE failed\r\n")], None),
]


class LoginTest(HostTestCase):
    def test_login_arguments(self):
        host = self.start_host()
        for n, (arguments, user, password) in enumerate(LOGINS, 1):
            with self.subTest(arguments=arguments):
                self.connect(host).greet().login(arguments)
                connected = host.wait_event("Connected", n)
                self.assertEqual((as_bytes(connected["Username"]), as_bytes(connected["Password"])),
                                 (user, password))
        self.assertEqual(connected["Action"], 0, "Connected is preset to Deny")
        self.assertEqual(as_bytes(connected["User"]["Username"]), LOGINS[-1][1])

    def test_parse_errors_then_login_once(self):
        host = self.start_host()
        client = self.connect(host).greet()
        for arguments in LOGIN_PARSE_ERRORS:
            with self.subTest(arguments=arguments):
                client.send(b"p1 LOGIN" + arguments + b"\r\n")
                client.expect(b"p1 BAD LOGIN parse error\r\n")
        self.assertEqual(host.events("Connected"), [])
        client.login()
        client.send(b"a2 LOGIN other pw\r\n")
        client.expect(b"a2 BAD Command unrecognized\r\n")
        self.assertEqual(len(host.events("Connected")), 1)

    def test_authenticate(self):
        host = self.start_host()
        for n, (steps, logged_in) in enumerate(EXCHANGES, 1):
            with self.subTest(first=steps[0][0]):
                client = self.connect(host).greet()
                commands = len(host.events("Command"))
                for line, answer in steps:
                    client.send(line)
                    client.expect(answer)
                # Logged in, a second login is refused; otherwise it succeeds.
                client.send(b"z1 LOGIN x y\r\n")
                client.expect(b"z1 BAD Command unrecognized\r\n" if logged_in else
                              b"z1 OK LOGIN completed\r\n")
                connected = host.wait_event("Connected", n)
                self.assertEqual((connected["Username"], connected["Password"]),
                                 logged_in or ("x", "y"))
                self.assertIsNone(host.wait_event("ListFolders", n)["ParentFolder"])
                # SASL responses (the lines without a blank) fire no Command event.
                sent = b"".join(line for line, _ in steps).split(b"\r\n")
                self.assertEqual([e["Command"] for e in host.events("Command")[commands:]],
                                 [l.decode() for l in sent if b" " in l] + ["z1 LOGIN x y"])


class LogoutTest(HostTestCase):
    def test_goodbye_texts_and_lines_after_logout(self):
        for text, expected in ((None, DEFAULT_TEXT), ("See you", b"See you"), ("", b"")):
            with self.subTest(text=text):
                host = self.start_host({} if text is None else {"server": {"GoodbyeMessage": text}})
                client = self.connect(host).greet()
                # The lines after LOGOUT in the same packet are still answered.
                client.send(b"a1 LOGOUT\r\na2 NOOP\r\na3 LOGIN joe pw\r\n")
                client.expect_closed(b"* BYE " + expected + b" terminating connection\r\n"
                                     b"a1 OK LOGOUT completed\r\n" + noop_ok(b"a2") +
                                     b"a3 OK LOGIN completed\r\n")
                self.assertEqual(len(host.wait_events("Disconnected")), 1)

    def test_peer_close_fires_disconnected(self):
        host = self.start_host()
        self.connect(host).greet().login().sock.close()
        self.assertEqual(host.wait_event("Disconnected")["User"]["Username"], "joe")
