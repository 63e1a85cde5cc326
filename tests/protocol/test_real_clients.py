"""Real clients log in and out: Python's imaplib (LOGIN, AUTHENTICATE PLAIN) and curl."""

import imaplib
import os
import shutil
import subprocess

from fixture import DEFAULT_GREETING, DEFAULT_TEXT, TIMEOUT, HostTestCase

DATA = os.environ.get("KIVIMAP_TEST_DATA", os.path.join(os.path.dirname(__file__), "..", "data"))


class RealClientTest(HostTestCase):
    def test_imaplib(self):
        host = self.start_host()
        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        self.assertEqual(conn.welcome, DEFAULT_GREETING.rstrip(b"\r\n"))
        self.assertIn("AUTH=LOGIN", conn.capabilities)
        self.assertEqual(conn.login("joe", "se cret"), ("OK", [b"LOGIN completed"]))
        self.assertEqual(conn.noop(), ("OK", [b"CAPABILITY completed"]))
        self.assertEqual(conn.logout(), ("BYE", [DEFAULT_TEXT + b" terminating connection"]))
        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        self.assertEqual(conn.authenticate("PLAIN", lambda _: b"\0ann\0pw"),
                         ("OK", [b"AUTHENTICATE completed"]))
        conn.logout()
        users = [(e["Username"], e["Password"]) for e in host.wait_events("Connected", 2)]
        self.assertEqual(users, [("joe", "se cret"), ("ann", "pw")])
        host.wait_events("Disconnected", 2)

    def test_curl_logs_in_with_authenticate_login(self):
        if not shutil.which("curl"):
            self.skipTest("curl is not installed (the CI script installs it)")
        host = self.start_host()
        proc = subprocess.run(["curl", "-v", "--max-time", str(int(TIMEOUT)),
                               "imap://127.0.0.1:%d/" % host.port, "-u", "a:b", "-X", "NOOP"],
                              capture_output=True, timeout=TIMEOUT * 2)
        trace = proc.stderr.decode("utf-8", "replace")
        self.assertEqual(proc.returncode, 0, trace)
        for text in ("AUTHENTICATE LOGIN", "OK AUTHENTICATE completed", "OK CAPABILITY completed"):
            self.assertIn(text, trace)
        connected = host.wait_event("Connected")
        self.assertEqual((connected["Username"], connected["Password"]), ("a", "b"))
        host.wait_event("Disconnected")

    def test_imaplib_mailboxes(self):
        # Lists, creates, selects, examines, checks status of, appends to and expunges
        # mailboxes, as a script using imaplib would.
        host = self.start_host({
            "folders": [{"name": "INBOX", "uid": 40, "nextuid": 1}, {"name": "Work", "uid": 41}],
            "actions": {"CreateFolder": "Allow", "CreateMessage": "Allow",
                        "DeleteMessage": "Allow"},
            "appenddir": "kept"})
        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        conn.login("joe", "secret")
        self.assertEqual(conn.create("Work/Reports"), ("OK", [b"CREATE completed"]))
        self.assertEqual(conn.list(), ("OK", [b'() "/" "INBOX"', b'() "/" "Work"',
                                              b'() "/" "Work/Reports"']))
        message = b"Subject: report\r\n\r\nnumbers\r\n"
        self.assertEqual(conn.append("Work/Reports", r"(\Deleted)", None, message),
                         ("OK", [b"APPEND completed"]))
        self.assertEqual(conn.append("Work/Reports", r"(\Seen)", None, message),
                         ("OK", [b"APPEND completed"]))
        self.assertEqual(conn.status("Work/Reports", "(MESSAGES UNSEEN UIDNEXT)"),
                         ("OK", [b'"Work/Reports" (MESSAGES 2 UNSEEN 1 UIDNEXT 3)']))
        self.assertEqual(conn.select("Work/Reports", readonly=True), ("OK", [b"2"]))
        self.assertEqual(conn.response("UNSEEN"), ("UNSEEN", [b"1"]))
        self.assertEqual(conn.select("Work/Reports"), ("OK", [b"2"]))
        self.assertEqual(conn.expunge(), ("OK", [b"1"]))
        self.assertEqual(conn.check(), ("OK", [b"CHECK completed"]))
        self.assertEqual(conn.close(), ("OK", [b"CLOSE completed"]))
        self.assertEqual(conn.status("Work/Reports", "(MESSAGES)"),
                         ("OK", [b'"Work/Reports" (MESSAGES 1)']))
        conn.logout()

    def test_curl_fetches_by_uid(self):
        # curl's URL names a UID, which it asks for with UID FETCH; the first message's UID is
        # below 42 and the second's sequence number is 2, so a mix-up shows.
        if not shutil.which("curl"):
            self.skipTest("curl is not installed (the CI script installs it)")
        with open(os.path.join(DATA, "corpus", "alternative_attachments_crlf.eml"), "rb") as f:
            report = f.read()
        host = self.start_host({"folders": [{"name": "INBOX", "uid": 5, "nextuid": 50,
                                             "messages": [{"file": "short.eml", "uid": 7},
                                                          {"file": "report.eml", "uid": 42}]}]},
                               files={"short.eml": b"Subject: short\r\n\r\nx\r\n",
                                      "report.eml": report})
        header = report[:report.index(b"\r\n\r\n") + 2]  # BODY[HEADER]: the fields' lines
        for path, expected in (("INBOX;UID=42", report), ("INBOX;UID=42;SECTION=HEADER", header),
                               ("INBOX;UID=7;SECTION=TEXT", b"x\r\n")):
            with self.subTest(path=path):
                proc = subprocess.run(["curl", "-sS", "--max-time", str(int(TIMEOUT)), "-u", "a:b",
                                       "imap://127.0.0.1:%d/%s" % (host.port, path)],
                                      capture_output=True, timeout=TIMEOUT * 2)
                self.assertEqual(proc.returncode, 0, proc.stderr.decode("utf-8", "replace"))
                self.assertEqual(proc.stdout, expected)
        self.assertEqual([e["Command"].split(" ", 1)[1] for e in host.events("Command")
                          if "FETCH" in e["Command"]],
                         ["UID FETCH 42 BODY[]", "UID FETCH 42 BODY[HEADER]",
                          "UID FETCH 7 BODY[TEXT]"])

    def test_imaplib_messages(self):
        # Fetches flags, sizes, UIDs, an envelope, a structure, a whole message, a range and a
        # header; stores flags and copies, as an imaplib script would.
        path = os.path.join(DATA, "corpus", "alternative_attachments_crlf.eml")
        with open(path, "rb") as f:
            content = f.read()
        host = self.start_host({
            "folders": [{"name": "INBOX", "uid": 40, "nextuid": 9,
                         "messages": [{"file": path, "uid": 7, "flags": ["\\Seen"]}]},
                        {"name": "Archive", "uid": 41, "nextuid": 1}],
            "actions": {"CopyMessage": "Allow"}})
        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        conn.login("joe", "secret")
        self.assertEqual(conn.select("INBOX"), ("OK", [b"1"]))
        self.assertEqual(conn.fetch("1", "(FLAGS UID RFC822.SIZE)"),
                         ("OK", [b"1 (FLAGS (\\Seen) UID 7 RFC822.SIZE %d)" % len(content)]))
        typ, data = conn.uid("FETCH", "7", "(ENVELOPE BODYSTRUCTURE)")
        self.assertEqual(typ, "OK")
        self.assertIn(b'"Quarterly report and photo"', data[0])
        self.assertIn(b'"alternative")("application" "pdf"', data[0])
        typ, data = conn.fetch("1", "(BODY.PEEK[] BODY.PEEK[]<10.20> BODY.PEEK[HEADER])")
        self.assertEqual(typ, "OK")
        header = content[:content.index(b"\r\n\r\n") + 2]
        self.assertEqual([part[1] for part in data if isinstance(part, tuple)],
                         [content, content[10:30], header])
        self.assertEqual(conn.store("1", "+FLAGS", r"(\Flagged \Answered)"),
                         ("OK", [b"1 (FLAGS (\\Flagged \\Seen \\Answered))"]))
        self.assertEqual(conn.copy("1", "Archive"), ("OK", [b"COPY 1 messages"]))
        self.assertEqual(conn.status("Archive", "(MESSAGES UIDNEXT)"),
                         ("OK", [b'"Archive" (MESSAGES 1 UIDNEXT 2)']))
        conn.logout()
