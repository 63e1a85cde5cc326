"""imapflow on Node: a whole session (list, fetch, flags, copy, append, delete), checked on
disk. imapflow comes from the npm packages of tests/js (KIVIMAP_NODE_MODULES elsewhere)."""

import json
import os
import shutil

from mailtree import (LUNCH, NUMBERS, TREE, WELCOME, ClientTestCase, FOLDERS, crlf, text)

HERE = os.path.dirname(os.path.abspath(__file__))


def node_modules():
    for candidate in (os.environ.get("KIVIMAP_NODE_MODULES"),
                      os.path.join(HERE, "..", "js", "node_modules")):
        if candidate and os.path.isdir(os.path.join(candidate, "imapflow")):
            return os.path.abspath(candidate)
    return None


class ImapflowTest(ClientTestCase):
    def test_session(self):
        modules = node_modules()
        if not shutil.which("node") or not modules:
            self.skipTest("node or imapflow is not installed (scripts/install-deps, tests/js)")
        note = text(["From: Joe <joe@example.org>", "Subject: Sent with imapflow"], "Hi.")
        env = dict(os.environ, NODE_PATH=modules, APPEND_MESSAGE=note.decode())
        code, output = self.run_client(
            ["node", os.path.join(HERE, "imapflow_session.js"), str(self.daemon.port)],
            "imapflow", env=env)
        seen = json.loads(output.strip().splitlines()[-1])
        self.assertEqual(seen["folders"], FOLDERS)
        inbox = [c for d, _, c in TREE if d == ""]
        self.assertEqual(seen["exists"], len(inbox))
        self.assertEqual([m["source"].encode("latin1") for m in seen["messages"]],
                         [crlf(c) for c in inbox])
        self.assertEqual([m["size"] for m in seen["messages"]], [len(crlf(c)) for c in inbox])
        self.assertEqual(seen["messages"][1]["subject"], "Quarterly numbers")
        self.assertEqual(seen["messages"][0]["flags"], ["\\Seen"])
        self.assertTrue(seen["flagged"] and seen["copied"] and seen["appended"]
                        and seen["deleted"], seen)
        self.assertEqual(self.flags_of("", WELCOME), "FS")
        self.assertEqual(list(self.messages(".Work").values()), [NUMBERS])
        self.assertEqual(self.flags_of(".Sent", note), "S")
        self.assertNotIn(LUNCH, self.messages("").values())
