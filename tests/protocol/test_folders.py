"""LIST, LSUB, SUBSCRIBE, UNSUBSCRIBE, CREATE, DELETE and RENAME over the fixture host."""

from fixture import HostTestCase, check_inside_events

TREE = [
    {"name": "Work", "folders": [
        {"name": "Projects", "folders": [{"name": "Q1", "subscribed": True}]}]},
]


def list_lines(*paths, verb=b"LIST"):
    return b"".join(b"* " + verb + b' () "/" ' + p + b"\r\n" for p in paths)


def lsub_lines(*paths):
    return list_lines(*paths, verb=b"LSUB")


class FolderTestCase(HostTestCase):
    def start(self, folders=TREE, **fixture):
        host = self.start_host(dict(fixture, folders=folders))
        return host, self.connect(host).greet().login()

    def run_commands(self, client, cases):
        # cases: (command, expected bytes before the completion, completion text after the tag).
        for n, (command, untagged, completion) in enumerate(cases):
            with self.subTest(command=command):
                tag = b"t%d" % n
                client.send(tag + b" " + command + b"\r\n")
                client.expect(untagged + tag + b" " + completion + b"\r\n")

    def fired(self, host, name, *keys):
        return [tuple(e[k] for k in keys) for e in host.events(name)]


class ListTest(FolderTestCase):
    def test_references_and_patterns(self):
        host, client = self.start()
        w, p, q = b'"Work"', b'"Work/Projects"', b'"Work/Projects/Q1"'
        self.run_commands(client, [
            (b'LIST "" "*"', list_lines(w, p, q), b"OK LIST completed"),
            (b'LIST "" *', list_lines(w, p, q), b"OK LIST completed"),
            (b'LIST "" "%"', list_lines(w), b"OK LIST completed"),
            (b'LIST "" "work/%"', list_lines(p), b"OK LIST completed"),
            (b'LIST "" "WORK/*"', list_lines(p, q), b"OK LIST completed"),
            (b'LIST "" "%/%/q?"', list_lines(q), b"OK LIST completed"),
            (b'LIST "" "%/%s"', list_lines(p), b"OK LIST completed"),
            (b'LIST "" "%s"', b"", b"OK LIST completed"),
            (b'LIST "/" "*"', list_lines(w), b"OK LIST completed"),
            (b'LIST "/work" "*"', list_lines(p), b"OK LIST completed"),
            (b'LIST "Work/" "*"', b"", b"OK LIST completed"),
            (b'LIST "" "Nothing"', b"", b"OK LIST completed"),
            (b'LIST "" ""', b'* LIST (\\Noselect) "/" ""\r\n', b"OK LIST completed"),
            (b'LIST "*"', b"", b"BAD LIST parse error"),
            (b"LIST", b"", b"BAD LIST parse error"),
        ])

    def test_every_walk_fires_list_folders_once_per_folder(self):
        host, client = self.start()
        self.run_commands(client, [(b'LIST "/" "Work"', list_lines(b'"Work"'),
                                    b"OK LIST completed")])
        # The root at login, then every folder of the tree, a parent before its children.
        self.assertEqual(self.fired(host, "ListFolders", "ParentFolder"),
                         [(None,), ("/Work",), ("/Work/Projects",), ("/Work/Projects/Q1",)])

    def test_names_are_written_as_imap_strings(self):
        names = ['Say "hi"', "back\\slash", "two\r\nlines", "caf\u00e9 & more", "x" * 9000]
        host, client = self.start([{"name": n, "folders": [{"name": "in"}]} for n in names])
        expected = b""
        for raw in (n.encode() for n in names):
            for path in (raw, raw + b"/in"):
                if b"\r" in path:
                    expected += list_lines(b"{%d}\r\n%s" % (len(path), path))
                else:
                    expected += list_lines(b'"' + path.replace(b"\\", b"\\\\")
                                           .replace(b'"', b'\\"') + b'"')
        self.run_commands(client, [(b'LIST "" "*"', expected, b"OK LIST completed")])


class SubscriptionTest(FolderTestCase):
    def test_lsub_lists_a_subscribed_folder_under_an_unsubscribed_parent(self):
        host, client = self.start()
        self.run_commands(client, [
            (b'LSUB "" "*"', lsub_lines(b'"Work/Projects/Q1"'), b"OK LSUB completed"),
            (b'LSUB "" "%"', b"", b"OK LSUB completed"),
            (b'LSUB "" ""', b"", b"OK LSUB completed"),
            (b"LSUB x", b"", b"BAD LSUB parse error"),
        ])

    def test_subscribe_everything_then_unsubscribe_one_folder(self):
        host, client = self.start()
        every = lsub_lines(b'"Work"', b'"Work/Projects"', b'"Work/Projects/Q1"')
        self.run_commands(client, [
            (b"SUBSCRIBE *", b"", b"OK SUBSCRIBE completed"),
            (b'LSUB "" "*"', every, b"OK LSUB completed"),
            (b"UNSUBSCRIBE Work", b"", b"OK UNSUBSCRIBE completed"),
            (b'LSUB "" "*"', lsub_lines(b'"Work/Projects"', b'"Work/Projects/Q1"'),
             b"OK LSUB completed"),
            (b"UNSUBSCRIBE Nothing", b"", b"OK UNSUBSCRIBE completed"),
            (b"SUBSCRIBE", b"", b"BAD SUBSCRIBE parse error"),
            (b"UNSUBSCRIBE", b"", b"BAD UNSUBSCRIBE parse error"),
        ])
        self.assertEqual(self.fired(host, "SubscribeFolder", "Folder"),
                         [("/Work",), ("/Work/Projects",), ("/Work/Projects/Q1",), ("/Work",)])


class CreateTest(FolderTestCase):
    def test_parent_resolution(self):
        host, client = self.start(actions={"CreateFolder": "Allow"})
        self.run_commands(client, [
            (b"CREATE Work/New", b"", b"OK CREATE completed"),
            (b"CREATE work/projects/New", b"", b"OK CREATE completed"),
            (b"CREATE Top", b"", b"OK CREATE completed"),
            (b"CREATE /Other", b"", b"OK CREATE completed"),
            (b"CREATE", b"", b"BAD CREATE parse error"),
        ])
        self.assertEqual(self.fired(host, "CreateFolder", "ParentFolder", "Name", "Action"),
                         [("/Work", "New", 0), ("/Work/Projects", "New", 0), (None, "Top", 0),
                          (None, "Other", 0)])

    def test_a_denied_create_answers_no(self):
        host, client = self.start()
        self.run_commands(client, [(b"CREATE Work/New", b"", b"NO CREATE failed")])
        self.assertEqual(self.fired(host, "CreateFolder", "ParentFolder", "Name"),
                         [("/Work", "New")])

    def test_missing_levels_are_created_from_the_top(self):
        # Refused at the first missing level: nothing else is asked.
        host, client = self.start()
        self.run_commands(client, [(b"CREATE Work/Missing/Deeper/New", b"", b"NO CREATE failed")])
        self.assertEqual(self.fired(host, "CreateFolder", "ParentFolder", "Name"),
                         [("/Work", "Missing")])

    def test_missing_levels_allowed(self):
        host, client = self.start(actions={"CreateFolder": "Allow"})
        self.run_commands(client, [(b"CREATE Missing/New", b"", b"OK CREATE completed")])
        self.assertEqual(self.fired(host, "CreateFolder", "ParentFolder", "Name"),
                         [(None, "Missing"), ("/Missing", "New")])


class DeleteTest(FolderTestCase):
    def test_delete(self):
        host, client = self.start(actions={"DeleteFolder": "Allow"})
        self.run_commands(client, [
            (b"DELETE work/projects", b"", b"OK DELETE completed"),
            (b"DELETE Work", b"", b"OK DELETE completed"),
            (b"DELETE Nothing", b"", b"NO DELETE failed"),
            (b"DELETE", b"", b"BAD DELETE parse error"),
        ])
        self.assertEqual(self.fired(host, "DeleteFolder", "ParentFolder", "Folder", "Action"),
                         [("/Work", "/Work/Projects", 0), (None, "/Work", 0)])

    def test_without_a_handler_or_with_the_preset(self):
        for fixture in ({"sink": False}, {}):
            with self.subTest(fixture=fixture):
                _, client = self.start(**fixture)
                self.run_commands(client, [(b"DELETE Work", b"", b"NO DELETE failed")])


class RenameTest(FolderTestCase):
    def test_rename(self):
        # The preset Deny stands, so that every row sees the same tree.
        host, client = self.start()
        self.run_commands(client, [
            (b"RENAME Work/Projects Work/Plans", b"", b"NO RENAME failed"),
            (b"RENAME Work/Projects/Q1 work/Q2", b"", b"NO RENAME failed"),
            (b"RENAME Work/Projects Work/projects", b"", b"NO RENAME failed"),
            (b"RENAME Work/Projects Work/Projects", b"",
             b"NO RENAME failed - no changes requested"),
            (b"RENAME work/projects WORK/Projects", b"",
             b"NO RENAME failed - no changes requested"),
            (b"RENAME Work Archive", b"", b"NO RENAME failed"),
            (b"RENAME Nothing Work/X", b"", b"NO RENAME failed"),
            (b"RENAME Work/Projects Missing/X", b"", b"NO RENAME failed"),
            # Into itself or below itself.
            (b"RENAME Work Work/X", b"", b"NO RENAME failed"),
            (b"RENAME Work Work/Projects/X", b"", b"NO RENAME failed"),
            (b"RENAME Work", b"", b"BAD RENAME parse error"),
        ])
        self.assertEqual(
            self.fired(host, "MoveFolder", "ParentFolder", "Folder", "DestinationFolder",
                       "DestinationName"),
            [("/Work", "/Work/Projects", "/Work", "Plans"),
             ("/Work/Projects", "/Work/Projects/Q1", "/Work", "Q2"),
             ("/Work", "/Work/Projects", "/Work", "projects")])

    def test_an_allowed_rename_answers_ok(self):
        host, client = self.start(actions={"MoveFolder": "Allow"})
        self.run_commands(client, [(b"RENAME Work/Projects Work/Plans", b"",
                                    b"OK RENAME completed")])
        self.assertEqual(self.fired(host, "MoveFolder", "Action"), [(0,)])


# Each command with the event it fires, how often the event fired by then, and what the client
# has received when it fires.
INSIDE_EVENTS = [
    (b'LIST "" "*"', "ListFolders", 2, list_lines(b'"Work"')),
    (b'LIST "" "*"', "ListFolders", 3, list_lines(b'"Work"', b'"Work/Projects"')),
    (b'LSUB "" "*"', "ListFolders", 4, b""),
    (b"SUBSCRIBE *", "SubscribeFolder", 1, b""),
    (b"SUBSCRIBE *", "ListFolders", 2, b""),
    (b"CREATE Work/New", "CreateFolder", 1, b""),
    (b"CREATE Missing/New", "CreateFolder", 1, b""),
    (b"DELETE Work", "DeleteFolder", 1, b""),
    (b"RENAME Work/Projects Work/Plans", "MoveFolder", 1, b""),
    (b"RENAME Work/Projects Work/Plans", "ListFolders", 5, b""),
]


class InsideEventsTest(FolderTestCase):
    def test_release_or_disconnect(self):
        actions = {"CreateFolder": "Allow", "DeleteFolder": "Allow", "MoveFolder": "Allow"}
        check_inside_events(self, INSIDE_EVENTS, lambda command, event, nth, do: self.start(
            actions=actions, script=[{"on": event, "nth": nth, "do": do}]))

class TreeChangesTest(FolderTestCase):
    # A host that carries out what it allows: clients see the folders come and go.
    def test_allowed_changes_show_in_list(self):
        _, client = self.start(actions={"CreateFolder": "Allow", "DeleteFolder": "Allow",
                                        "MoveFolder": "Allow"})
        self.run_commands(client, [
            (b"CREATE Missing/Deeper/New", b"", b"OK CREATE completed"),
            (b"RENAME Work/Projects Missing/Plans", b"", b"OK RENAME completed"),
            (b"DELETE Work", b"", b"OK DELETE completed"),
            (b'LIST "" "*"', list_lines(b'"Missing"', b'"Missing/Deeper"',
                                        b'"Missing/Deeper/New"', b'"Missing/Plans"',
                                        b'"Missing/Plans/Q1"'), b"OK LIST completed"),
            (b"RENAME Missing/Plans Missing/Plans", b"",
             b"NO RENAME failed - no changes requested"),
        ])
