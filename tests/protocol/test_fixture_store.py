"""The fixture host's mail store: the folder tree a user's object model receives, and what one
connection's changes leave for the next.

The root level is filled at login. Deeper levels and messages are filled when LIST and SELECT
fire ListFolders and ListMessages; those tests skip themselves while the server does not know
the commands yet.
"""

import unittest

from fixture import HostTestCase

M1 = b"Subject: one\r\nFrom: a@example.org\r\n\r\nHello\r\n"
M2 = b"Subject: two\r\n\r\nSecond message body\r\n"

FOLDERS = [
    {"name": "INBOX", "uid": 1000, "nextuid": 5, "subscribed": True,
     "messages": [{"file": "m1.eml", "flags": ["\\Seen", "\\Flagged"], "uid": 3},
                  {"file": "mail/m2.eml", "start": 2, "end": 10, "flags": 40}]},
    {"name": "Work", "folders": [{"name": "Sent", "uid": 77, "messages": [{"file": "m1.eml"}]}]},
]
FILES = {"m1.eml": M1, "mail/m2.eml": M2}


def strip_uids(folders):
    """The tree without the folder UIDs the component picked itself."""
    return [dict(f, uid=None, folders=strip_uids(f["folders"])) for f in folders]


class Session:
    def __init__(self, client):
        self.client = client
        self.n = 0

    def command(self, text):
        """Sends a command, returns (untagged lines, tagged completion)."""
        self.n += 1
        tag = b"c%d" % self.n
        self.client.send(tag + b" " + text + b"\r\n")
        untagged = []
        while True:
            line = self.client.read_line()
            if line.startswith(tag + b" "):
                return untagged, line
            untagged.append(line)


class RootLevelTest(HostTestCase):
    def test_login_fills_the_root_level(self):
        host = self.start_host({"folders": FOLDERS,
                                "script": [{"on": "ListFolders", "nth": 1, "do": "DumpTree"}]},
                               files=FILES)
        self.connect(host).greet().login()
        tree = host.wait_event("Tree")
        self.assertEqual(tree["User"]["Username"], "joe")
        folders = tree["folders"]
        self.assertEqual(folders[0], {"name": "INBOX", "path": "/INBOX", "uid": 1000,
                                      "nextuid": 5, "subscribed": True, "messages": [],
                                      "folders": []})
        self.assertEqual(strip_uids(folders[1:]), [{"name": "Work", "path": "/Work", "uid": None,
                                                    "nextuid": 1, "subscribed": False,
                                                    "messages": [], "folders": []}])

    def test_every_user_gets_the_same_tree_and_folder_uids(self):
        host = self.start_host({"folders": FOLDERS, "script": [
            {"on": "ListFolders", "nth": 1, "do": "DumpTree"},
            {"on": "ListFolders", "nth": 2, "do": "DumpTree"},
        ]}, files=FILES)
        first = self.connect(host).greet().login(b"ann")
        self.connect(host).greet().login(b"bob")
        trees = host.wait_events("Tree", 2)
        self.assertEqual([t["User"]["Username"] for t in trees], ["ann", "bob"])
        self.assertEqual(trees[0]["folders"], trees[1]["folders"])
        first.close()

    def test_no_folders_key_gives_an_empty_root(self):
        host = self.start_host({"script": [{"on": "ListFolders", "do": "DumpTree"}]})
        self.connect(host).greet().login()
        self.assertEqual(host.wait_event("Tree")["folders"], [])


class DeeperLevelsTest(HostTestCase):
    def start(self, script):
        host = self.start_host({"folders": FOLDERS, "script": script}, files=FILES)
        session = Session(self.connect(host).greet().login())
        return host, session

    def require(self, session, command):
        untagged, done = session.command(command)
        if done.endswith(b" BAD Command unrecognized\r\n"):
            self.skipTest("the server does not know %s yet" % command.split()[0].decode())
        return untagged, done

    def test_list_fills_every_level_once(self):
        host, session = self.start([{"on": "Command", "nth": 4, "do": "DumpTree"}])
        self.require(session, b'LIST "" "*"')
        session.command(b'LIST "" "*"')  # a second walk must not add anything
        session.command(b"NOOP")  # the fourth command (LOGIN was the first): dump
        tree = host.wait_event("Tree")["folders"]
        self.assertEqual([f["path"] for f in tree], ["/INBOX", "/Work"])
        self.assertEqual([(f["path"], f["uid"], f["messages"]) for f in tree[1]["folders"]],
                         [("/Work/Sent", 77, [])])
        self.assertEqual(tree[0]["folders"], [])

    def test_select_fills_messages_with_ranges_flags_and_uids(self):
        host, session = self.start([{"on": "ListMessages", "nth": 1, "do": "DumpTree"}])
        self.require(session, b"SELECT INBOX")
        inbox = host.wait_event("Tree")["folders"][0]
        # The second message had no uid: it took the folder's next UID, which moved on.
        self.assertEqual(inbox["messages"], [{"uid": 3, "flags": 3, "size": len(M1)},
                                             {"uid": 5, "flags": 40, "size": 8}])
        self.assertEqual(inbox["nextuid"], 6)

    def test_flag_changes_reach_later_connections(self):
        host, session = self.start([{"on": "ListMessages", "nth": 2, "do": "DumpTree"}])
        self.require(session, b"SELECT INBOX")  # clears \Recent of the second message
        self.require(session, b"STORE 1 +FLAGS (\\Answered)")
        second = Session(self.connect(host).greet().login(b"other"))
        second.command(b"SELECT INBOX")
        inbox = host.wait_event("Tree")["folders"][0]
        self.assertEqual([(m["uid"], m["flags"]) for m in inbox["messages"]], [(3, 7), (5, 8)])
        self.assertEqual(inbox["nextuid"], 6)


if __name__ == "__main__":
    unittest.main()
