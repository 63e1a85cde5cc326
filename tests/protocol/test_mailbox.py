"""SELECT, EXAMINE, STATUS, CHECK, CLOSE and EXPUNGE over the fixture host."""

from fixture import HostTestCase, check_inside_events

MESSAGE = b"Subject: x\r\n\r\nbody\r\n"
FILES = {"m.eml": MESSAGE}
FLAGS = b"* FLAGS (\\Seen \\Answered \\Deleted \\Flagged \\Draft \\Recent)\r\n"
READ_WRITE = b"* OK [PERMANENTFLAGS (\\Seen \\Answered \\Deleted \\Flagged \\Draft)]\r\n"
READ_ONLY = b"* OK [PERMANENTFLAGS ()] No permanent flags permitted\r\n"


def message(uid, *flags):
    return {"file": "m.eml", "uid": uid, "flags": list(flags)}


def folder(name, uid, messages=(), nextuid=1, **more):
    return dict(more, name=name, uid=uid, nextuid=nextuid, messages=list(messages))


# INBOX: {Recent}, {Seen, Recent}, {Seen}. Work: two seen messages. Empty: nothing.
TREE = [
    folder("INBOX", 1001, [message(1, "\\Recent"), message(2, "\\Seen", "\\Recent"),
                           message(3, "\\Seen")], nextuid=4),
    folder("Work", 1002, [message(7, "\\Seen"), message(8, "\\Seen", "\\Answered")], nextuid=9,
           folders=[folder("Sub", 1004)]),
    folder("Empty", 1003),
    folder('Say "hi"', 1005),
]


def selected(exists, recent, uidvalidity, unseen=None, read_write=True):
    lines = FLAGS + b"* %d EXISTS\r\n* %d RECENT\r\n" % (exists, recent)
    if unseen is not None:
        lines += b"* OK [UNSEEN %d] first unseen\r\n" % unseen
    lines += b"* OK [UIDVALIDITY %d] UIDs valid\r\n" % uidvalidity
    return lines + (READ_WRITE if read_write else READ_ONLY)


class MailboxTestCase(HostTestCase):
    def start(self, folders=TREE, **fixture):
        host = self.start_host(dict(fixture, folders=folders), files=FILES)
        return host, self.connect(host).greet().login()

    def run_commands(self, client, cases, tag_prefix=b"t"):
        # cases: (command, expected bytes before the completion, completion text after the tag).
        for n, (command, untagged, completion) in enumerate(cases):
            with self.subTest(command=command):
                tag = tag_prefix + b"%d" % n
                client.send(tag + b" " + command + b"\r\n")
                client.expect(untagged + tag + b" " + completion + b"\r\n")

    def fired(self, host, name, *keys):
        return [tuple(e[k] for k in keys) for e in host.events(name)]


class SelectTest(MailboxTestCase):
    def test_select_reports_and_clears_recent(self):
        host, client = self.start()
        self.run_commands(client, [
            (b"SELECT INBOX", selected(3, 2, 1001, unseen=1), b"OK [READ-WRITE] SELECT completed"),
            # Recent went to the first selection only.
            (b"SELECT inbox", selected(3, 0, 1001, unseen=1), b"OK [READ-WRITE] SELECT completed"),
        ])
        self.assertEqual(self.fired(host, "FlagChange", "Folder", "Message", "NewFlags", "OldFlags"),
                         [("/INBOX", 1, 0, 32), ("/INBOX", 2, 2, 34)])
        self.assertEqual(self.fired(host, "ListMessages", "Folder"), [("/INBOX",), ("/INBOX",)])

    def test_unseen_line_only_when_a_message_lacks_seen(self):
        _, client = self.start()
        self.run_commands(client, [
            (b"SELECT Work", selected(2, 0, 1002), b"OK [READ-WRITE] SELECT completed"),
            (b"SELECT Empty", selected(0, 0, 1003), b"OK [READ-WRITE] SELECT completed"),
            (b'SELECT "Say \\"hi\\""', b"", b"NO SELECT No such mailbox"),
            (b"SELECT Work/Sub", selected(0, 0, 1004), b"OK [READ-WRITE] SELECT completed"),
        ])

    def test_examine_announces_read_only_yet_changes_stay_allowed(self):
        folders = [folder("INBOX", 9, [message(1, "\\Deleted", "\\Seen")], nextuid=2)]
        host, client = self.start(folders, actions={"DeleteMessage": "Allow"})
        self.run_commands(client, [
            (b"EXAMINE INBOX", selected(1, 0, 9, read_write=False),
             b"OK [READ-ONLY] EXAMINE completed"),
            (b"EXPUNGE", b"* 1 EXPUNGE\r\n", b"OK EXPUNGE completed"),
        ])

    def test_failures_keep_the_selection(self):
        _, client = self.start()
        self.run_commands(client, [
            (b"CLOSE", b"", b"BAD Command unrecognized"),
            (b"SELECT Nothing", b"", b"NO SELECT No such mailbox"),
            (b"EXAMINE Nothing", b"", b"NO EXAMINE No such mailbox"),
            (b"SELECT", b"", b"BAD SELECT parse error"),
            (b"EXAMINE", b"", b"BAD EXAMINE parse error"),
            (b"SELECT Work", selected(2, 0, 1002), b"OK [READ-WRITE] SELECT completed"),
            (b"SELECT Nothing", b"", b"NO SELECT No such mailbox"),
            (b"CHECK", b"", b"OK CHECK completed"),
            (b"CLOSE", b"", b"OK CLOSE completed"),
            # Back in the authenticated state.
            (b"CHECK", b"", b"BAD Command unrecognized"),
            (b"EXPUNGE", b"", b"BAD Command unrecognized"),
        ])

    def test_before_login_nothing_is_selected(self):
        host = self.start_host({"folders": TREE}, files=FILES)
        client = self.connect(host).greet()
        client.send(b"a SELECT INBOX\r\nb STATUS INBOX (MESSAGES)\r\nc APPEND INBOX {1}\r\n")
        client.expect(b"a BAD Command unrecognized\r\nb BAD Command unrecognized\r\n"
                      b"c BAD Command unrecognized\r\n")
        self.assertEqual(host.events("ListMessages"), [])


class StatusTest(MailboxTestCase):
    def test_items_in_the_clients_order(self):
        host, client = self.start()
        self.run_commands(client, [
            (b"STATUS Work (UIDNEXT MESSAGES)", b'* STATUS "Work" (UIDNEXT 9 MESSAGES 2)\r\n',
             b"OK STATUS completed"),
            (b"STATUS inbox (messages recent unseen uidvalidity uidnext)",
             b'* STATUS "inbox" (MESSAGES 3 RECENT 2 UNSEEN 1 UIDVALIDITY 1001 UIDNEXT 4)\r\n',
             b"OK STATUS completed"),
            # STATUS changes no flags: Recent is still there for the next look.
            (b"STATUS INBOX (RECENT RECENT)", b'* STATUS "INBOX" (RECENT 2 RECENT 2)\r\n',
             b"OK STATUS completed"),
            (b"STATUS Work (X-UNKNOWN)", b'* STATUS "Work" ()\r\n', b"OK STATUS completed"),
            (b"STATUS Work (X-UNKNOWN UNSEEN)", b'* STATUS "Work" (UNSEEN 0)\r\n',
             b"OK STATUS completed"),
            (b"STATUS Work MESSAGES", b'* STATUS "Work" (MESSAGES 2)\r\n', b"OK STATUS completed"),
            (b"STATUS Empty ()", b'* STATUS "Empty" ()\r\n', b"OK STATUS completed"),
            (b'STATUS "Say \\"hi\\"" (MESSAGES)', b"", b"NO STATUS failed"),
            (b"STATUS Nothing (MESSAGES)", b"", b"NO STATUS failed"),
            (b"STATUS Work", b"", b"BAD STATUS parse error"),
            (b"STATUS", b"", b"BAD STATUS parse error"),
        ])
        self.assertEqual(len(host.events("FlagChange")), 0)

    def test_the_echoed_name_is_a_valid_string(self):
        # A name is also a pattern, in which a backslash quotes the next character: the client
        # names this folder with two backslashes, and the echo carries both, escaped.
        _, client = self.start([folder("back\\slash", 6)])
        self.run_commands(client, [
            (b"STATUS back\\\\slash (UIDVALIDITY)",
             b'* STATUS "back\\\\\\\\slash" (UIDVALIDITY 6)\r\n', b"OK STATUS completed"),
            (b"STATUS back* (UIDVALIDITY)", b'* STATUS "back*" (UIDVALIDITY 6)\r\n',
             b"OK STATUS completed"),
        ])


class ExpungeTest(MailboxTestCase):
    # Positions 2, 3 and 5 (from 1) are marked Deleted.
    FOLDERS = [folder("INBOX", 7, [message(10, "\\Seen"), message(11, "\\Deleted"),
                                   message(12, "\\Deleted", "\\Seen"), message(13),
                                   message(14, "\\Deleted")], nextuid=15)]

    def test_all_allowed(self):
        host, client = self.start(self.FOLDERS, actions={"DeleteMessage": "Allow"})
        self.run_commands(client, [
            (b"SELECT INBOX", selected(5, 0, 7, unseen=2), b"OK [READ-WRITE] SELECT completed"),
            (b"EXPUNGE", b"* 2 EXPUNGE\r\n* 2 EXPUNGE\r\n* 3 EXPUNGE\r\n", b"OK EXPUNGE completed"),
            (b"EXPUNGE", b"", b"OK EXPUNGE completed"),
            (b"STATUS INBOX (MESSAGES UIDNEXT)", b'* STATUS "INBOX" (MESSAGES 2 UIDNEXT 15)\r\n',
             b"OK STATUS completed"),
        ])
        self.assertEqual(self.fired(host, "DeleteMessage", "Folder", "Message", "Action"),
                         [("/INBOX", 11, 0), ("/INBOX", 12, 0), ("/INBOX", 14, 0)])

    def test_the_second_denied(self):
        host, client = self.start(self.FOLDERS, actions={"DeleteMessage": "Allow"},
                                  script=[{"on": "DeleteMessage", "nth": 2, "do": "Deny"}])
        self.run_commands(client, [
            (b"SELECT INBOX", selected(5, 0, 7, unseen=2), b"OK [READ-WRITE] SELECT completed"),
            (b"EXPUNGE", b"* 2 EXPUNGE\r\n* 4 EXPUNGE\r\n", b"OK EXPUNGE completed"),
            # The denied message keeps its place and its mark; the next EXPUNGE offers it again.
            (b"EXPUNGE", b"* 2 EXPUNGE\r\n", b"OK EXPUNGE completed"),
        ])
        self.assertEqual(self.fired(host, "DeleteMessage", "Message"), [(11,), (12,), (14,), (12,)])

    def test_without_a_handler_nothing_goes(self):
        # The preset Deny stands when the host leaves Action alone.
        _, client = self.start(self.FOLDERS)
        self.run_commands(client, [
            (b"SELECT INBOX", selected(5, 0, 7, unseen=2), b"OK [READ-WRITE] SELECT completed"),
            (b"EXPUNGE", b"", b"OK EXPUNGE completed"),
            (b"STATUS INBOX (MESSAGES)", b'* STATUS "INBOX" (MESSAGES 5)\r\n',
             b"OK STATUS completed"),
        ])

    def test_close_deletes_nothing(self):
        host, client = self.start(self.FOLDERS, actions={"DeleteMessage": "Allow"})
        self.run_commands(client, [
            (b"SELECT INBOX", selected(5, 0, 7, unseen=2), b"OK [READ-WRITE] SELECT completed"),
            (b"CLOSE", b"", b"OK CLOSE completed"),
            (b"STATUS INBOX (MESSAGES)", b'* STATUS "INBOX" (MESSAGES 5)\r\n',
             b"OK STATUS completed"),
        ])
        self.assertEqual(host.events("DeleteMessage"), [])


# Each command with the event it fires inside, how often that event fired by then, and what the
# client has received when it fires.
INSIDE_EVENTS = [
    (b"SELECT INBOX", "ListMessages", 1, b""),
    (b"EXAMINE INBOX", "FlagChange", 1, b""),
    (b"SELECT INBOX", "FlagChange", 2, b""),
    (b"STATUS INBOX (MESSAGES)", "ListMessages", 1, b""),
    (b"EXPUNGE", "DeleteMessage", 1, b""),
    (b"EXPUNGE", "DeleteMessage", 2, b""),
]


class InsideEventsTest(MailboxTestCase):
    FOLDERS = [folder("INBOX", 7, [message(1, "\\Recent", "\\Deleted"),
                                   message(2, "\\Recent", "\\Deleted")], nextuid=3)]

    def start_case(self, command, event, nth, do):
        host, client = self.start(self.FOLDERS, actions={"DeleteMessage": "Allow"},
                                  script=[{"on": event, "nth": nth, "do": do}])
        if command == b"EXPUNGE":
            # A first selection (ListMessages and two FlagChange) picks the folder.
            client.send(b"s1 SELECT INBOX\r\n")
            while not client.read_line().startswith(b"s1 "):
                pass
        return host, client

    def test_release_or_disconnect(self):
        check_inside_events(self, INSIDE_EVENTS, self.start_case)