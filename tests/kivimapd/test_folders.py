"""Folders are the directories of a Maildir++ tree: LIST reads them, CREATE, RENAME and DELETE
change them, and no mailbox name ever reaches outside the user's Maildir."""

import os

from daemon import DaemonTestCase, message, recv_until


def names(listing):
    return [line.split(b'"/" ', 1)[1].strip(b'"').decode() for line in listing[1]]


class FolderTest(DaemonTestCase):
    def test_list_reads_an_existing_tree(self):
        for folder in ("", ".Sent", ".Work.Projects", ".INBOX.Later"):
            self.make_folder(folder)
        outside = os.path.join(self.workdir, "outside")
        os.makedirs(os.path.join(outside, "cur"))
        self.put("cur/1.M1.host:2,S", message("mine"))
        with open(os.path.join(outside, "cur", "2.M2.host:2,"), "wb") as f:
            f.write(message("not yours"))
        os.symlink(outside, self.path(".Link"))  # a folder that leads outside
        os.makedirs(self.path(".Trap", "cur"))
        os.makedirs(self.path(".Trap", "new"))
        os.symlink(outside, self.path(".Trap", "tmp"))  # where uploads would be written
        os.makedirs(self.path(".odd..name", "cur"))
        self.put(".hidden-file", b"")
        daemon = self.start()
        conn = self.imap(daemon)
        # Work is there only through Work/Projects, as Dovecot shows such a level.
        self.assertEqual(names(conn.list()),
                         ["INBOX", "INBOX/Later", "Sent", "Trap", "Work", "Work/Projects"])
        self.assertEqual(conn.select("Link")[0], "NO")
        for target in ("Link", "Trap"):
            self.assertEqual(conn.append(target, None, None, message("x"))[0], "NO")
        conn.select("INBOX")
        self.assertEqual(conn.copy("1", "Trap")[0], "NO")
        self.assertEqual(sorted(os.listdir(outside)), ["cur"])
        self.assertEqual(os.listdir(os.path.join(outside, "cur")), ["2.M2.host:2,"])
        log = daemon.wait_log("symbolic link is never followed")
        self.assertIn("not a usable folder name", log)
        self.assertEqual(conn.select("Work"), ("OK", [b"0"]))

    def test_create_rename_delete_on_disk(self):
        daemon = self.start()
        conn = self.imap(daemon)
        ok = lambda result: self.assertEqual(result[0], "OK", result)
        ok(conn.create("Archive"))
        ok(conn.create("Work/Projects/2024"))  # the missing levels first, one by one
        for folder in (".Archive", ".Work", ".Work.Projects", ".Work.Projects.2024"):
            self.assertEqual(sorted(os.listdir(self.path(folder))),
                             ["cur", "maildirfolder", "new", "tmp"], folder)
        ok(conn.append("Work/Projects", None, None, message("plan")))
        ok(conn.subscribe("Work/Projects/2024"))

        ok(conn.rename("Work/Projects", "Work/Old"))  # the sub-folders move with it
        self.assertFalse(os.path.exists(self.path(".Work.Projects")))
        self.assertEqual(len(self.files(".Work.Old", "new")), 1)
        self.assertTrue(os.path.isdir(self.path(".Work.Old.2024")))
        with open(self.path("kivimapd-subscriptions")) as f:
            self.assertEqual(f.read(), "Work/Old/2024\n")
        self.assertEqual(conn.lsub(), ("OK", [b'() "/" "Work/Old/2024"']))
        ok(conn.rename("Archive", "Work/Archive"))  # into another parent
        self.assertTrue(os.path.isdir(self.path(".Work.Archive")))

        self.assertEqual(conn.delete("Work/Old")[0], "NO")  # it has sub-folders
        ok(conn.delete("Work/Old/2024"))
        ok(conn.delete("Work/Old"))
        self.assertEqual(names(conn.list()), ["INBOX", "Work", "Work/Archive"])
        self.assertEqual(sorted(e for e in os.listdir(self.path()) if e.startswith(".")),
                         [".Work", ".Work.Archive"])

        # What cannot be done on disk is refused, and nothing changes.
        for result in (conn.delete("INBOX"), conn.rename("INBOX", "Work/Inbox"),
                       conn.create("Work"), conn.create("work"), conn.create("inbox"),
                       conn.rename("Work/Archive", "INBOX/..")):
            self.assertEqual(result[0], "NO", result)
        self.assertEqual(names(conn.list()), ["INBOX", "Work", "Work/Archive"])

    def test_folders_created_elsewhere_show_up(self):
        daemon = self.start()
        first, second = self.imap(daemon), self.imap(daemon)
        self.assertEqual(names(first.list()), ["INBOX"])
        second.create("News")
        self.make_folder(".Delivered")  # by a mail delivery agent
        self.assertEqual(names(first.list()), ["INBOX", "Delivered", "News"])
        second.delete("News")
        self.assertEqual(names(first.list()), ["INBOX", "Delivered"])

    def test_unsafe_names_are_refused(self):
        self.make_folder(".Sent")
        daemon = self.start()
        conn = self.imap(daemon)
        before = sorted(os.listdir(self.path())), sorted(os.listdir(self.workdir))
        sock = self.raw(daemon)
        recv_until(sock, b"\r\n")
        sock.sendall(b"L LOGIN joe secret\r\n")
        recv_until(sock, b"L OK LOGIN completed\r\n")
        # Each is refused with NO (so a CREATE of several levels stops at the bad one).
        unsafe = [b"a.b", b"..", b".hidden", b"../escape", b"...", b"Sent/..", b"Sent/x.y",
                  b"a\x01b", b"tab\tname", b"caf\xc3\xa9", b"x" * 300, b"INBOX", b"sent"]
        for n, name in enumerate(unsafe):
            with self.subTest(name=name):
                sock.sendall(b'c%d CREATE "%s"\r\n' % (n, name))
                answer = recv_until(sock, b"\r\n")
                self.assertTrue(answer.startswith(b"c%d NO" % n), answer)
                if name in (b"INBOX", b"sent"):
                    continue  # fine names below INBOX
                sock.sendall(b'r%d RENAME "Sent" "INBOX/%s"\r\n' % (n, name))
                answer = recv_until(sock, b"\r\n")
                self.assertTrue(answer.startswith(b"r%d NO" % n), answer)
        self.assertEqual((sorted(os.listdir(self.path())), sorted(os.listdir(self.workdir))),
                         before)
        self.assertGreaterEqual(daemon.log().count("refused"), len(unsafe))
        self.assertEqual(names(conn.list()), ["INBOX", "Sent"])
