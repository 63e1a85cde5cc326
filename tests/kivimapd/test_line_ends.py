"""Message files with bare LF line ends are served with CRLF, from copies in the folder's
kivimapd-crlf directory; the user's files stay as they are."""

import os
import re
import time

from daemon import DaemonTestCase

LF_MESSAGE = (b"From: ann@example.org\nTo: joe@example.org\nSubject: written by an MDA\n"
              b"Date: Mon, 4 Mar 2024 10:00:00 +0000\n\nLine one\nLine two\n")


def crlf(data):
    return re.sub(rb"(?<!\r)\n", b"\r\n", data)


class LineEndTest(DaemonTestCase):
    def setUp(self):
        super().setUp()
        self.make_folder("")
        self.make_folder(".Work")

    def copies(self, dirname=""):
        path = self.path(dirname, "kivimapd-crlf")
        return sorted(os.listdir(path)) if os.path.isdir(path) else []

    def fetch_whole(self, conn, number):
        typ, data = conn.fetch(number, "(RFC822.SIZE BODY.PEEK[])")
        self.assertEqual(typ, "OK", data)
        size = int(re.search(rb"RFC822\.SIZE (\d+)", data[0][0]).group(1))
        return size, data[0][1]

    def test_each_kind_of_file(self):
        mixed = b"Subject: mixed\r\nX: 1\r\n\r\nbare\nlone\rcr\r\n"
        # (file name, content, served, copied)
        cases = [
            ("cur/1000.M1.host:2,S", LF_MESSAGE, crlf(LF_MESSAGE), True),
            ("cur/1001.M1.host:2,", crlf(LF_MESSAGE), crlf(LF_MESSAGE), False),
            ("cur/1002.M1.host:2,", mixed, b"Subject: mixed\r\nX: 1\r\n\r\nbare\r\nlone\rcr\r\n",
             True),
            ("cur/1003.M1.host:2,", b"", b"", False),
            # Dovecot's sizes in the name decide without a read: W above S means bare LFs...
            ("cur/1004.M1.host,S=%d,W=%d:2," % (len(LF_MESSAGE), len(crlf(LF_MESSAGE))),
             LF_MESSAGE, crlf(LF_MESSAGE), True),
            # ...and a name whose S is not the file's size is not believed.
            ("cur/1005.M1.host,S=1,W=1:2,", LF_MESSAGE, crlf(LF_MESSAGE), True),
            ("new/1006.M1.host", LF_MESSAGE, crlf(LF_MESSAGE), True),
        ]
        for name, content, _, _ in cases:
            self.put(name, content)
        conn = self.imap(self.start())
        conn.select("INBOX")
        for number, (name, content, served, copied) in enumerate(cases, 1):
            with self.subTest(name=name):
                self.assertEqual(self.fetch_whole(conn, str(number)), (len(served), served))
                unique = name[4:].split(":")[0]
                place = self.files("", "cur")
                on_disk = [f for f in place if f.startswith(unique + ":")]
                with open(self.path("cur", on_disk[0]), "rb") as f:
                    self.assertEqual(f.read(), content)  # the user's file is untouched
                made = [c for c in self.copies() if c.startswith(unique + ":")]
                self.assertEqual(len(made), 1 if copied else 0, self.copies())
                if copied:
                    self.assertTrue(made[0].endswith(":%d" % len(served)), made)

    def test_a_copy_follows_its_message(self):
        self.put("cur/1000.M1.host:2,", LF_MESSAGE)
        self.put("cur/1001.M1.host:2,", LF_MESSAGE.replace(b"MDA", b"MDA, second"))
        source = self.path("cur", "1000.M1.host:2,")
        os.utime(source, (1700000000, 1700000000))
        daemon = self.start()
        conn = self.imap(daemon)
        conn.select("INBOX")
        # Flags rename the user's file; the copy serves on, with the source's time.
        self.assertEqual(conn.store("1", "+FLAGS", r"(\Flagged)")[0], "OK")
        self.assertIn("1000.M1.host:2,F", self.files("", "cur"))
        self.assertEqual(self.fetch_whole(conn, "1"), (len(crlf(LF_MESSAGE)), crlf(LF_MESSAGE)))
        copy = [c for c in self.copies() if c.startswith("1000.")][0]
        self.assertEqual(os.stat(self.path("kivimapd-crlf", copy)).st_mtime, 1700000000)

        # A copy removed by hand is made again when the message is read.
        os.unlink(self.path("kivimapd-crlf", copy))
        self.assertEqual(self.fetch_whole(conn, "1")[1], crlf(LF_MESSAGE))

        # COPY links the user's file; the other folder serves its own copy.
        self.assertEqual(conn.copy("1", "Work")[0], "OK")
        work = self.files(".Work", "cur")
        with open(self.path(".Work", "cur", work[0]), "rb") as f:
            self.assertEqual(f.read(), LF_MESSAGE)
        other = self.imap(daemon)
        other.select("Work")
        self.assertEqual(self.fetch_whole(other, "1")[1], crlf(LF_MESSAGE))
        self.assertEqual(len(self.copies(".Work")), 1)

        # EXPUNGE removes the message's copy with it.
        conn.store("1", "+FLAGS", r"(\Deleted)")
        conn.expunge()
        self.assertEqual([c.split(":")[0] for c in self.copies()], ["1001.M1.host"])

    def test_copies_of_gone_or_changed_files_are_swept(self):
        self.put("cur/1000.M1.host:2,", LF_MESSAGE)
        self.put("cur/1001.M1.host:2,", LF_MESSAGE)
        daemon = self.start()
        self.imap(daemon).select("INBOX")
        self.assertEqual(len(self.copies()), 2)
        # Another program removes one file and rewrites the other under the same name.
        os.unlink(self.path("cur", "1000.M1.host:2,"))
        changed = LF_MESSAGE + b"Line three\n"
        self.put("cur/1001.M1.host:2,", changed)
        old = os.path.getmtime(self.path("cur", "1001.M1.host:2,"))
        os.utime(self.path("cur", "1001.M1.host:2,"), (old + 5, old + 5))
        time.sleep(2.5)  # older than the sweep's margin
        conn = self.imap(daemon)
        conn.select("INBOX")
        self.assertEqual(self.fetch_whole(conn, "1"), (len(crlf(changed)), crlf(changed)))
        made = self.copies()
        self.assertEqual(len(made), 1)
        self.assertTrue(made[0].endswith(":%d" % len(crlf(changed))), made)
