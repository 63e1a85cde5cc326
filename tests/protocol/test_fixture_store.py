"""The fixture host's mail store: the tree each user receives, kept across connections."""
# The root level is filled at login; deeper levels and messages when LIST and SELECT fire
# ListFolders and ListMessages. Those tests skip themselves while the server lacks the commands.

from fixture import HostTestCase

M1 = b"Subject: one\r\nFrom: a@example.org\r\n\r\nHello\r\n"
FILES = {"m1.eml": M1, "mail/m2.eml": b"Subject: two\r\n\r\nSecond message body\r\n"}
FOLDERS = [
    {"name": "INBOX", "uid": 1000, "nextuid": 5, "subscribed": True,
     "messages": [{"file": "m1.eml", "flags": ["\\Seen", "\\Flagged"], "uid": 3},
                  {"file": "mail/m2.eml", "start": 2, "end": 10, "flags": 40}]},
    {"name": "Work", "folders": [{"name": "Sent", "uid": 77, "messages": [{"file": "m1.eml"}]}]},
]


class StoreTest(HostTestCase):
    def start(self, script):
        host = self.start_host({"folders": FOLDERS, "script": script}, files=FILES)
        self.tags = 0
        return host, self.connect(host).greet().login()

    def command(self, client, text):
        # Sends a command; skips the test when the server does not know it yet.
        self.tags += 1
        tag = b"c%d " % self.tags
        client.send(tag + text + b"\r\n")
        while True:
            line = client.read_line()
            if line == tag + b"BAD Command unrecognized\r\n":
                self.skipTest("the server does not know %s yet" % text.split()[0].decode())
            if line.startswith(tag):
                return line

    def test_every_login_fills_the_root_level_alike(self):
        host, _ = self.start([{"on": "ListFolders", "nth": 1, "do": "DumpTree"},
                              {"on": "ListFolders", "nth": 2, "do": "DumpTree"}])
        self.connect(host).greet().login(b"bob pw")
        first, second = host.wait_events("Tree", 2)
        self.assertEqual([first["User"]["Username"], second["User"]["Username"]], ["joe", "bob"])
        inbox, work = first["folders"]
        self.assertEqual(inbox, {"name": "INBOX", "path": "/INBOX", "uid": 1000, "nextuid": 5,
                                 "subscribed": True, "messages": [], "folders": []})
        self.assertEqual(dict(work, uid=None), {"name": "Work", "path": "/Work", "uid": None,
                                                "nextuid": 1, "subscribed": False,
                                                "messages": [], "folders": []})
        # The UID the component picked for Work is kept for every later user.
        self.assertEqual(first["folders"], second["folders"])

    def test_list_fills_every_level_once(self):
        host, client = self.start([{"on": "Command", "nth": 4, "do": "DumpTree"}])
        self.command(client, b'LIST "" "*"')
        self.command(client, b'LIST "" "*"')  # a second walk must not add anything
        self.command(client, b"NOOP")  # the fourth command (LOGIN was the first): dump
        tree = host.wait_event("Tree")["folders"]
        self.assertEqual([f["path"] for f in tree], ["/INBOX", "/Work"])
        self.assertEqual([(f["path"], f["uid"], f["messages"]) for f in tree[1]["folders"]],
                         [("/Work/Sent", 77, [])])
        self.assertEqual(tree[0]["folders"], [])

    def test_select_fills_messages_with_ranges_flags_and_uids(self):
        host, client = self.start([{"on": "ListMessages", "nth": 1, "do": "DumpTree"}])
        self.command(client, b"SELECT INBOX")
        inbox = host.wait_event("Tree")["folders"][0]
        # The second message had no uid: it took the folder's next UID, which moved on.
        self.assertEqual(inbox["messages"], [{"uid": 3, "flags": 3, "size": len(M1)},
                                             {"uid": 5, "flags": 40, "size": 8}])
        self.assertEqual(inbox["nextuid"], 6)

    def test_flag_changes_reach_later_connections(self):
        host, client = self.start([{"on": "ListMessages", "nth": 2, "do": "DumpTree"}])
        self.command(client, b"SELECT INBOX")  # clears \Recent of the second message
        self.command(client, b"STORE 1 +FLAGS (\\Answered)")
        self.command(self.connect(host).greet().login(b"other pw"), b"SELECT INBOX")
        inbox = host.wait_event("Tree")["folders"][0]
        self.assertEqual([(m["uid"], m["flags"]) for m in inbox["messages"]], [(3, 7), (5, 8)])
        self.assertEqual(inbox["nextuid"], 6)

