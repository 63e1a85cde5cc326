"""Real clients log in and out: Python's imaplib and curl."""

import imaplib
import shutil
import subprocess
import unittest

from fixture import DEFAULT_GREETING, DEFAULT_TEXT, TIMEOUT, HostTestCase


class ImaplibTest(HostTestCase):
    def test_login_and_logout(self):
        host = self.start_host()
        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        self.assertEqual(conn.welcome, DEFAULT_GREETING.rstrip(b"\r\n"))
        self.assertIn("AUTH=LOGIN", conn.capabilities)
        self.assertEqual(conn.login("joe", "se cret"), ("OK", [b"LOGIN completed"]))
        self.assertEqual(conn.noop(), ("OK", [b"CAPABILITY completed"]))
        self.assertEqual(conn.logout(),
                         ("BYE", [DEFAULT_TEXT + b" terminating connection"]))
        connected = host.wait_event("Connected")
        self.assertEqual((connected["Username"], connected["Password"]), ("joe", "se cret"))
        host.wait_event("Disconnected")

    def test_authenticate_login_and_plain(self):
        host = self.start_host()
        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        challenges = []

        def answer(challenge):
            challenges.append(challenge)
            return {b"Username:": b"joe", b"Password:": b"pw"}[challenge]

        self.assertEqual(conn.authenticate("LOGIN", answer), ("OK", [b"AUTHENTICATE completed"]))
        self.assertEqual(challenges, [b"Username:", b"Password:"])
        conn.logout()

        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        self.assertEqual(conn.authenticate("PLAIN", lambda _: b"\0ann\0pw2"),
                         ("OK", [b"AUTHENTICATE completed"]))
        conn.logout()
        users = [(e["Username"], e["Password"]) for e in host.wait_events("Connected", 2)]
        self.assertEqual(users, [("joe", "pw"), ("ann", "pw2")])


class CurlTest(HostTestCase):
    def test_curl_logs_in_with_authenticate_login(self):
        curl = shutil.which("curl")
        if not curl:
            self.skipTest("curl is not installed (the CI script installs it)")
        host = self.start_host()
        url = "imap://127.0.0.1:%d/" % host.port
        proc = subprocess.run([curl, "-v", "--max-time", str(int(TIMEOUT)), url, "-u", "a:b",
                               "-X", "NOOP"], capture_output=True, timeout=TIMEOUT * 2)
        trace = proc.stderr.decode("utf-8", "replace")
        self.assertEqual(proc.returncode, 0, trace)
        self.assertIn("AUTHENTICATE LOGIN", trace)
        self.assertIn("OK AUTHENTICATE completed", trace)
        self.assertIn("OK CAPABILITY completed", trace)  # the answer to NOOP
        connected = host.wait_event("Connected")
        self.assertEqual((connected["Username"], connected["Password"]), ("a", "b"))
        host.wait_event("Disconnected")


if __name__ == "__main__":
    unittest.main()
