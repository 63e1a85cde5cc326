"""Python's imaplib and curl, each a whole session against kivimapd, checked on disk."""

import imaplib
import os
import re

from mailtree import (ALERT, LUNCH, NUMBERS, TREE, WELCOME, ClientTestCase, FOLDERS, crlf,
                      text)


class ImaplibTest(ClientTestCase):
    def test_session(self):
        conn = imaplib.IMAP4("127.0.0.1", self.daemon.port, timeout=30)
        conn.login("joe", "secret")
        typ, listed = conn.list()
        self.assertEqual(typ, "OK")
        self.assertEqual(sorted(re.search(rb'"([^"]*)"$', l).group(1).decode() for l in listed),
                         FOLDERS)
        self.assertEqual(conn.select("INBOX"), ("OK", [b"4"]))

        typ, data = conn.fetch("1:*", "(UID FLAGS RFC822.SIZE BODY.PEEK[])")
        bodies = [d[1] for d in data if isinstance(d, tuple)]
        inbox = [c for d, _, c in TREE if d == ""]
        self.assertEqual(bodies, [crlf(c) for c in inbox])  # bare LFs reach the client as CRLF
        sizes = [int(re.search(rb"RFC822\.SIZE (\d+)", d[0]).group(1)) for d in data
                 if isinstance(d, tuple)]
        self.assertEqual(sizes, [len(crlf(c)) for c in inbox])

        self.assertEqual(conn.store("1", "+FLAGS", r"(\Flagged)")[0], "OK")
        self.assertEqual(self.flags_of("", WELCOME), "FS")
        self.assertEqual(conn.store("4", "+FLAGS", r"(\Seen \Answered)")[0], "OK")
        self.assertEqual(self.flags_of("", ALERT), "RS")
        self.assertEqual(conn.copy("2:3", "Work")[0], "OK")
        work = self.messages(".Work")
        self.assertEqual(sorted(work.values()), sorted([NUMBERS, LUNCH]))
        self.assertEqual(conn.store("3", "+FLAGS", r"(\Deleted)")[0], "OK")
        self.assertEqual(conn.expunge(), ("OK", [b"3"]))
        self.assertNotIn(LUNCH, self.messages("").values())
        self.assertIn(LUNCH, self.messages(".Work").values())  # the copy stays

        note = text(["From: Joe <joe@example.org>", "Subject: Note to self"], "Buy milk.")
        self.assertEqual(conn.append("Sent", r"(\Seen)", None, note)[0], "OK")
        self.assertEqual(self.flags_of(".Sent", note), "S")
        typ, data = conn.logout()
        self.assertEqual(typ, "BYE")


class CurlTest(ClientTestCase):
    def curl(self, *args, name="curl"):
        self.require("curl")
        url = "imap://127.0.0.1:%d/" % self.daemon.port
        code, output = self.run_client(
            ["curl", "--silent", "--show-error", "--max-time", "30", "-u", "joe:secret"] +
            [a.replace("URL/", url) for a in args], name)
        return output

    def test_session(self):
        listed = self.curl("URL/", name="list")
        self.assertEqual(sorted(re.findall(r'"([^"]*)"\r?$', listed, re.M)), FOLDERS)
        for uid, content in ((1, WELCOME), (4, ALERT)):
            with self.subTest(uid=uid):
                out = os.path.join(self.workdir, "uid%d" % uid)
                self.curl("URL/INBOX;UID=%d" % uid, "-o", out, name="fetch%d" % uid)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), crlf(content))
        upload = text(["From: Joe <joe@example.org>", "Subject: Uploaded with curl"],
                      "Sent with -T.")
        path = os.path.join(self.workdir, "upload.eml")
        with open(path, "wb") as f:
            f.write(upload)
        self.curl("-T", path, "URL/Work", name="append")
        work = self.messages(".Work")
        self.assertEqual(list(work.values()), [upload])
        self.assertEqual(self.flags_of(".Work", upload), "S")  # curl appends as Seen
