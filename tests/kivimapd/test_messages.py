"""Messages are Maildir files: SELECT and FETCH read them, STORE renames them (flags live in the
name's info part), SELECT moves new/ to cur/, COPY and APPEND deliver through the disk, EXPUNGE
unlinks."""

import os
import re

from daemon import DaemonTestCase, message


def fetch_flags(conn, what="1:*"):
    typ, data = conn.fetch(what, "(UID FLAGS)")
    assert typ == "OK", data
    return [(int(re.search(rb"UID (\d+)", d).group(1)),
             re.search(rb"FLAGS \(([^)]*)\)", d).group(1).decode()) for d in data]


class MessageTest(DaemonTestCase):
    def setUp(self):
        super().setUp()
        self.make_folder("")
        self.make_folder(".Work")
        self.put("cur/1000.M1P1.host:2,S", message("seen"))
        self.put("cur/1001.M1P1.host:2,FRa", message("flagged, with keyword a"))
        self.put("new/1002.M1P1.host", message("new mail", body="x" * 5000))

    def test_select_fetch_and_recent(self):
        daemon = self.start()
        conn = self.imap(daemon)
        self.assertEqual(conn.select("INBOX"), ("OK", [b"3"]))
        self.assertEqual(conn.response("RECENT"), ("RECENT", [b"1"]))
        self.assertEqual(fetch_flags(conn),
                         [(1, "\\Seen"), (2, "\\Flagged \\Answered"), (3, "")])
        # Reported as Recent once, then in cur/ with an (empty) info part.
        self.assertEqual(self.files("", "new"), [])
        self.assertIn("1002.M1P1.host:2,", self.files("", "cur"))
        typ, data = conn.fetch("3", "(BODY.PEEK[] RFC822.SIZE)")
        self.assertEqual(data[0][1], message("new mail", body="x" * 5000))
        typ, data = conn.fetch("2", "(BODY[HEADER.FIELDS (SUBJECT)])")
        self.assertIn(b"flagged, with keyword a", data[0][1])
        # A non-peeking fetch sets Seen on disk too.
        self.assertIn("1001.M1P1.host:2,FRSa", self.files("", "cur"))
        other = self.imap(daemon)
        self.assertEqual(other.select("INBOX"), ("OK", [b"3"]))
        self.assertEqual(other.response("RECENT"), ("RECENT", [b"0"]))

    def test_store_renames_the_file(self):
        daemon = self.start()
        conn = self.imap(daemon)
        conn.select("INBOX")
        cases = [
            ("1", "+FLAGS", r"(\Flagged \Answered)", "1000.M1P1.host:2,FRS"),
            ("1", "-FLAGS", r"(\Seen \Answered)", "1000.M1P1.host:2,F"),
            ("2", "-FLAGS", r"(\Flagged \Answered)", "1001.M1P1.host:2,a"),  # keyword kept
            ("2", "+FLAGS", r"(\Draft \Deleted \Seen)", "1001.M1P1.host:2,DSTa"),
            ("3", "+FLAGS.SILENT", r"(\Seen)", "1002.M1P1.host:2,S"),
        ]
        for number, item, flags, expected in cases:
            with self.subTest(item=item, flags=flags):
                self.assertEqual(conn.store(number, item, flags)[0], "OK")
                self.assertIn(expected, self.files("", "cur"))
                self.assertEqual(len(self.files("", "cur")), 3)
        # A second connection reads the flags from the names.
        other = self.imap(daemon)
        other.select("INBOX", readonly=True)
        self.assertEqual(fetch_flags(other), [(1, "\\Flagged"), (2, "\\Seen \\Deleted \\Draft"),
                                              (3, "\\Seen")])

    def test_renamed_elsewhere_still_reads(self):
        daemon = self.start()
        conn = self.imap(daemon)
        conn.select("INBOX")
        # Another program (or connection) changes the flags: the name changes under us.
        os.rename(self.path("cur", "1000.M1P1.host:2,S"), self.path("cur", "1000.M1P1.host:2,RS"))
        typ, data = conn.fetch("1", "(BODY[])")
        self.assertEqual(data[0][1], message("seen"))
        conn.store("1", "+FLAGS", r"(\Flagged)")
        self.assertIn("1000.M1P1.host:2,FS", self.files("", "cur"))

    def test_copy_expunge_append(self):
        daemon = self.start()
        conn = self.imap(daemon)
        conn.select("INBOX")
        self.assertEqual(conn.status("Work", "(UIDNEXT)"), ("OK", [b'"Work" (UIDNEXT 1)']))
        # UIDPLUS: the copies' UIDs in Work (the UIDVALIDITY is the folder's own).
        typ, data = conn.copy("1:2", "Work")
        self.assertEqual(typ, "OK")
        self.assertRegex(data[0], rb"^\[COPYUID \d+ 1,2 1,2\] COPY 2 messages$")
        copies = self.files(".Work", "cur")
        self.assertEqual([c.split(":2,")[1] for c in copies], ["S", "FRa"])
        with open(self.path(".Work", "cur", copies[0]), "rb") as f:
            self.assertEqual(f.read(), message("seen"))
        _, next_uid, entries = self.uid_list(".Work")
        self.assertEqual((next_uid, sorted(entries.values())), (3, [1, 2]))

        conn.store("1:2", "+FLAGS", r"(\Deleted)")
        self.assertEqual(conn.expunge(), ("OK", [b"1", b"1"]))
        self.assertEqual(self.files("", "cur"), ["1002.M1P1.host:2,"])
        self.assertEqual(len(self.files(".Work", "cur")), 2)  # the copies stay

        for flags, place in ((None, "new"), (r"(\Seen \Flagged)", "cur")):
            with self.subTest(flags=flags):
                text = message("appended %s" % flags)
                typ, data = conn.append("Work", flags, None, text)
                self.assertEqual(typ, "OK")
                self.assertEqual(self.files(".Work", "tmp"), [])
                validity, _, entries = self.uid_list(".Work")
                unique = max(entries, key=entries.get)
                # UIDPLUS: the UID the upload got, as the folder's UID list keeps it.
                self.assertEqual(data, [b"[APPENDUID %d %d] APPEND completed"
                                        % (validity, entries[unique])])
                delivered = [f for f in self.files(".Work", place) if f.startswith(unique)]
                self.assertEqual(len(delivered), 1)
                if flags:
                    self.assertTrue(delivered[0].endswith(":2,FS"), delivered)
                with open(self.path(".Work", place, delivered[0]), "rb") as f:
                    self.assertEqual(f.read(), text)
        conn.select("Work")
        self.assertEqual([uid for uid, _ in fetch_flags(conn)], [1, 2, 3, 4])

    def test_odd_files_are_skipped(self):
        self.put("cur/.editor-backup", message("hidden"))
        self.put("cur/bad\nname:2,", message("newline"))
        os.makedirs(self.path("cur", "a-directory"))
        os.symlink("/etc/hostname", self.path("cur", "9999.M9.host:2,S"))
        daemon = self.start()
        conn = self.imap(daemon)
        self.assertEqual(conn.select("INBOX"), ("OK", [b"3"]))
        log = daemon.wait_log("not a regular file")
        self.assertIn("control characters", log)
        self.assertNotIn("editor-backup", log)  # hidden names are Maildir's own convention
        _, _, entries = self.uid_list()
        self.assertEqual(sorted(entries), ["1000.M1P1.host", "1001.M1P1.host", "1002.M1P1.host"])
