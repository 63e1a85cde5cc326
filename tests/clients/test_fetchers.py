"""Clients that take mail away: fetchmail and getmail6 hand each message to a delivery command
(a file per message here) and, when told to, remove it from the server."""

import glob
import os

from mailtree import ClientTestCase, TREE, message_ids, text, tree_ids, unittest

DELIVER = "cat > {out}/msg.$$"  # the shell's pid names each delivery


class DeliveredMixin:
    def setUp(self):
        super().setUp()
        self.out = os.path.join(self.workdir, "delivered")
        os.mkdir(self.out)

    def delivered(self):
        found = []
        for path in sorted(glob.glob(os.path.join(self.out, "msg.*"))):
            with open(path, "rb") as f:
                found.append(f.read())
        return found

    def assert_delivered(self, dirnames):
        got = self.delivered()
        self.assertEqual(message_ids(got), sorted(sum((tree_ids(d) for d in dirnames), [])))
        # Each message whole: its body, and its header lines among those the client added.
        def parts(data):
            head, body = data.replace(b"\r\n", b"\n").split(b"\n\n", 1)
            return set(head.split(b"\n")), body
        for dirname, _, content in TREE:
            if dirname in dirnames:
                head, body = parts(content)
                self.assertEqual(sum(parts(g)[1] == body and head <= parts(g)[0] for g in got),
                                 1, content)


FETCHMAIL_CONFIG = """\
set no bouncemail
poll 127.0.0.1 service {port} protocol IMAP auth password timeout 20
  user joe password secret is root here
  folder INBOX
  sslproto ''
  fetchall
  mda "/bin/sh -c '{deliver}'"
"""


class FetchmailTest(DeliveredMixin, ClientTestCase):
    def test_fetch_and_remove(self):
        self.require("fetchmail")
        config = self.write("fetchmailrc", FETCHMAIL_CONFIG.format(
            port=self.daemon.port, deliver=DELIVER.format(out=self.out)))
        env = dict(os.environ, HOME=self.workdir)  # its id and lock files stay here
        code, output = self.run_client(
            ["fetchmail", "-f", config, "-v", "--nodetach", "--nosyslog", "--idfile",
             os.path.join(self.workdir, "fetchids")], "fetchmail", check=False, env=env)
        self.assertIn(code, (0, 1), output)  # 1: nothing new, which a second run would say
        self.assert_delivered([""])
        self.assertEqual(self.messages(""), {})  # taken away: every file of INBOX removed
        self.assertEqual(len(self.messages(".Sent")), 1)


GETMAIL_CONFIG = """\
[retriever]
type = SimpleIMAPRetriever
server = 127.0.0.1
port = {port}
username = joe
password = secret
mailboxes = ("INBOX", "Work/Projects")
timeout = 20

[destination]
type = MDA_external
path = /bin/sh
arguments = ("-c", "{deliver}")
allow_root_commands = true

[options]
verbose = 2
read_all = false
delete = {delete}
"""


class GetmailTest(DeliveredMixin, ClientTestCase):
    def getmail(self, name, delete=False):
        self.require("getmail")
        self.write("getmailrc", GETMAIL_CONFIG.format(
            port=self.daemon.port, deliver=DELIVER.format(out=self.out),
            delete="true" if delete else "false"))
        return self.run_client(["getmail", "--getmaildir", self.workdir, "--rcfile",
                                "getmailrc"], "getmail-" + name)

    def test_fetch_new_mail_and_keep_it(self):
        before = {d: self.messages(d) for d in ("", ".Work.Projects")}
        self.getmail("first")
        self.assert_delivered(["", ".Work.Projects"])
        # Read with PEEK: the server's files are as they were (new/ moved to cur/ at SELECT).
        self.assertEqual(sorted(self.messages("").values()), sorted(before[""].values()))
        self.assertEqual(self.messages(".Work.Projects"), before[".Work.Projects"])
        # Only mail that arrived since is fetched next time.
        arrived = text(["From: dan@example.org", "Subject: Later", "Message-ID: <later@x>"],
                       "Arrived between two runs.", line_end=b"\n")
        self.put("new/1709900000.M9P1.mail", arrived)
        for path in glob.glob(os.path.join(self.out, "msg.*")):
            os.unlink(path)
        self.getmail("second")
        self.assertEqual(message_ids(self.delivered()), ["<later@x>"])

    # getmail removes a message with UID STORE n FLAGS (\Deleted \Seen), the replacing form
    # kivimapd's protocol level serves.
    def test_fetch_and_remove(self):
        self.getmail("delete", delete=True)
        self.assert_delivered(["", ".Work.Projects"])
        self.assertEqual(self.messages(""), {})
