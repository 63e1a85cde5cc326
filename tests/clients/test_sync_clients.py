"""Synchronising clients: mbsync (isync) and offlineimap keep a local Maildir in step with
kivimapd, both ways; the server's tree is checked after each run."""

import os
import shutil

from mailtree import (ALERT, FOLDERS, LUNCH, TREE, WELCOME, ClientTestCase, message_ids,
                      same_message, text, tree_ids, unittest)


class LocalMaildir:
    """The client's side: one Maildir per folder under root, folders named as on the wire."""

    def __init__(self, root):
        self.root = root

    def folders(self):
        return sorted(os.path.relpath(dirpath, self.root)
                      for dirpath, dirnames, _ in os.walk(self.root) if "cur" in dirnames)

    def messages(self, folder):
        found = {}
        for sub in ("cur", "new"):
            directory = os.path.join(self.root, folder, sub)
            for name in sorted(os.listdir(directory)):
                with open(os.path.join(directory, name), "rb") as f:
                    found[os.path.join(directory, name)] = f.read()
        return found

    def find(self, folder, content):
        paths = [p for p, data in self.messages(folder).items() if same_message(data, content)]
        assert len(paths) == 1, (folder, paths)
        return paths[0]

    def set_info(self, folder, content, info):
        path = self.find(folder, content)
        directory, name = os.path.split(path)
        new = os.path.join(os.path.dirname(directory), "cur", name.split(":2,")[0] + ":2," + info)
        os.rename(path, new)

    def deliver(self, folder, name, content):
        with open(os.path.join(self.root, folder, "cur", name), "wb") as f:
            f.write(content)


NOTE = text(["From: Joe <joe@example.org>", "To: Bob Stone <bob@example.org>",
             "Subject: Written offline", "Date: Fri, 8 Mar 2024 09:00:00 +0000",
             "Message-ID: <offline@example.org>"], "Uploaded by the next sync.", line_end=b"\n")


class SyncCases:
    """What each synchronising client is put through; a subclass runs the client."""

    def sync(self, name):
        raise NotImplementedError

    def check_first_sync(self, local):
        self.assertEqual(local.folders(), FOLDERS)
        for dirname, _, content in TREE:
            folder = dirname.lstrip(".").replace(".", "/") or "INBOX"
            self.assertEqual(message_ids(local.messages(folder).values()), tree_ids(dirname))
            local.find(folder, content)  # the same bytes, line ends aside

    def test_pull_then_push_flags(self):
        local = self.sync("first")
        self.check_first_sync(local)
        self.assertEqual(self.flags_of("", ALERT), "")  # read with PEEK, now in cur/
        local.set_info("INBOX", WELCOME, "FS")
        local.set_info("INBOX", ALERT, "S")
        self.sync("second")
        self.assertEqual(self.flags_of("", WELCOME), "FS")
        self.assertEqual(self.flags_of("", ALERT), "S")

    def test_push_a_deletion(self):
        local = self.sync("first")
        os.unlink(local.find("INBOX", LUNCH))
        self.sync("second")
        self.assertNotIn(LUNCH, self.messages("").values())

    def test_push_a_new_message(self):
        local = self.sync("first")
        local.deliver("Work", "1709888400.local1.client:2,S", NOTE)
        self.sync("second")
        uploaded = [data for data in self.messages(".Work").values() if same_message(data, NOTE)]
        self.assertEqual(len(uploaded), 1, self.messages(".Work"))
        self.assertEqual(self.flags_of(".Work", uploaded[0]), "S")
        # A third run has nothing left to do: the upload is known by its UID.
        self.sync("third")
        self.assertEqual(len(local.messages("Work")), 1)


MBSYNC_CONFIG = """\
IMAPAccount kivimapd
Host 127.0.0.1
Port {port}
User joe
Pass secret
SSLType None
AuthMechs LOGIN
Timeout 20

IMAPStore far
Account kivimapd

MaildirStore near
Path {local}/
Inbox {local}/INBOX
SubFolders Verbatim

Channel all
Far :far:
Near :near:
Patterns *
Create Both
Expunge Both
SyncState *
"""


class MbsyncTest(SyncCases, ClientTestCase):
    def setUp(self):
        self.require("mbsync")
        super().setUp()
        self.local = os.path.join(self.workdir, "local")
        os.mkdir(self.local)
        self.config = self.write("mbsyncrc", MBSYNC_CONFIG.format(port=self.daemon.port,
                                                                  local=self.local))

    def sync(self, name):
        self.run_client(["mbsync", "-c", self.config, "-V", "-D", "all"], "mbsync-" + name)
        return LocalMaildir(self.local)



OFFLINEIMAP_CONFIG = """\
[general]
accounts = kivimapd
metadata = {workdir}/offlineimap-state
ui = basic

[Account kivimapd]
localrepository = near
remoterepository = far

[Repository near]
type = Maildir
localfolders = {local}
sep = /

[Repository far]
type = IMAP
remotehost = 127.0.0.1
remoteport = {port}
remoteuser = joe
remotepass = secret
ssl = no
starttls = no
timeout = 20
maxconnections = 1
"""


class OfflineimapTest(SyncCases, ClientTestCase):
    def setUp(self):
        self.require("offlineimap")
        super().setUp()
        self.local = os.path.join(self.workdir, "local")
        os.mkdir(self.local)
        self.config = self.write("offlineimaprc", OFFLINEIMAP_CONFIG.format(
            port=self.daemon.port, local=self.local, workdir=self.workdir))

    def sync(self, name):
        code, output = self.run_client(["offlineimap", "-c", self.config, "-o", "-d", "imap"],
                                       "offlineimap-" + name)
        self.assertNotIn("ERROR", output)  # offlineimap exits 0 after folder errors
        return LocalMaildir(self.local)
