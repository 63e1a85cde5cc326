"""APPEND over the fixture host: the command line, the literal as it arrives, the events."""

import os
import time

from fixture import HostTestCase, check_inside_events

# 310 bytes, as a client uploads them.
MESSAGE = (b"From: Ann <ann@example.org>\r\nTo: bob@example.org\r\nSubject: \r\n"
           b"Date: Tue, 1 Jul 2003 10:52:37 +0200\r\n\r\n" + b"line of body text\r\n" * 11)
assert len(MESSAGE) == 310

TREE = [{"name": "INBOX", "uid": 500, "nextuid": 8},
        {"name": "Work", "uid": 501, "folders": [{"name": "Sub", "uid": 502}]}]
APPEND_LINE = b'APPEND INBOX (\\Seen \\Flagged) "01-Jul-2003 10:52:37 +0200" {310}\r\n'
READY = b"+ a1 Ready for append literal\r\n"


class AppendTestCase(HostTestCase):
    def start(self, folders=TREE, appenddir="kept", **fixture):
        fixture.setdefault("actions", {"CreateMessage": "Allow"})
        fixture = dict(fixture, folders=folders)
        if appenddir:
            fixture["appenddir"] = appenddir
        host = self.start_host(fixture)
        self.kept = os.path.join(os.path.dirname(host.events_path), appenddir or "none")
        return host, self.connect(host).greet().login()

    def kept_files(self):
        # The appended messages the host kept, by file name.
        if not os.path.isdir(self.kept):
            return {}
        result = {}
        for name in sorted(os.listdir(self.kept)):
            with open(os.path.join(self.kept, name), "rb") as f:
                result[name] = f.read()
        return result

    def status(self, client, tag, mailbox=b"INBOX"):
        client.send(tag + b" STATUS " + mailbox + b" (MESSAGES UIDNEXT)\r\n")
        line = client.read_line()
        client.expect(tag + b" OK STATUS completed\r\n")
        return line

    def tree_messages(self, host, nth=1):
        # The messages of INBOX as the DumpTree in WriteMessage saw them.
        tree = host.wait_event("Tree", nth)["folders"]
        return [m for f in tree if f["name"] == "INBOX" for m in f["messages"]]


class AppendTest(AppendTestCase):
    def test_one_chunk(self):
        host, client = self.start(script=[{"on": "WriteMessage", "do": "DumpTree"}])
        client.send(b"a1 " + APPEND_LINE)
        client.expect(READY)
        client.send(MESSAGE + b"\r\n")
        client.expect(b"a1 OK APPEND completed\r\n")
        self.assertEqual(self.kept_files(), {"500-8.eml": MESSAGE})
        create = host.events("CreateMessage")[0]
        self.assertEqual((create["Folder"], create["Message"], create["Action"]), ("/INBOX", 8, 0))
        write = host.events("WriteMessage")[0]
        self.assertEqual((write["Folder"], write["Message"], write["Action"]), ("/INBOX", 8, 1))
        # Seen and Flagged; the date-time is not kept.
        self.assertEqual(self.tree_messages(host), [{"uid": 8, "flags": 3, "size": 310}])
        self.assertEqual(self.status(client, b"s1"), b'* STATUS "INBOX" (MESSAGES 1 UIDNEXT 9)\r\n')

    def test_chunks_and_early_bytes_give_the_same_message(self):
        # Three chunks after the continuation; everything in one packet before it; and the
        # literal split inside its closing line end, with the next command right behind it.
        cases = {
            "three chunks": [MESSAGE[:1], MESSAGE[1:200], MESSAGE[200:] + b"\r\n"],
            "before the continuation": None,
            "split line end": [MESSAGE + b"\r", b"\n"],
        }
        for name, chunks in cases.items():
            with self.subTest(name):
                host, client = self.start()
                if chunks is None:
                    client.send(b"a1 " + APPEND_LINE + MESSAGE + b"\r\na2 NOOP\r\n")
                    client.expect(READY + b"a1 OK APPEND completed\r\na2 OK CAPABILITY completed\r\n")
                else:
                    client.send(b"a1 " + APPEND_LINE)
                    client.expect(READY)
                    for chunk in chunks:
                        client.send(chunk)
                        time.sleep(0.02)
                    client.send(b"a2 NOOP\r\n")
                    client.expect(b"a1 OK APPEND completed\r\na2 OK CAPABILITY completed\r\n")
                self.assertEqual(self.kept_files(), {"500-8.eml": MESSAGE})
                # Not one byte of the literal was read as a command.
                self.assertEqual([e["Command"] for e in host.events("Command")][1:],
                                 ["a1 " + APPEND_LINE[:-2].decode(), "a2 NOOP"])

    def test_a_literal_with_command_lookalikes_and_bare_line_feeds(self):
        body = b"x1 LOGOUT\r\n\r\n\n* BYE\r\n" + bytes(range(256)) + b"\r\nend"
        host, client = self.start()
        client.send(b"a1 APPEND Work/Sub {%d}\r\n" % len(body) + body + b"\r\n")
        client.expect(READY + b"a1 OK APPEND completed\r\n")
        self.assertEqual(self.kept_files(), {"502-1.eml": body})

    def test_a_large_literal_goes_to_the_file_whole(self):
        body = b"".join(b"%08d\r\n" % i for i in range(400000))  # 4 MB
        host, client = self.start()
        client.send(b"a1 APPEND INBOX {%d}\r\n" % len(body))
        client.expect(READY)
        client.send(body + b"\r\n")
        client.expect(b"a1 OK APPEND completed\r\n")
        self.assertEqual(self.kept_files(), {"500-8.eml": body})

    def test_flag_names(self):
        host, client = self.start(script=[{"on": "WriteMessage", "nth": n, "do": "DumpTree"}
                                          for n in (1, 2, 3)])
        for n, flags in enumerate([b"(\\seen $Keyword \\Seen)", b"(\\Deleted \\Draft \\Recent \\Answered)",
                                   b"()"]):
            tag = b"f%d" % n
            client.send(tag + b" APPEND INBOX " + flags + b" {3}\r\n")
            client.expect(b"+ " + tag + b" Ready for append literal\r\n")
            client.send(b"abc\r\n")
            client.expect(tag + b" OK APPEND completed\r\n")
        self.assertEqual([self.tree_messages(host, n)[-1]["flags"] for n in (1, 2, 3)],
                         [2, 8 | 16 | 32 | 4, 0])

    def test_refusals_leave_the_uid(self):
        host, client = self.start()
        cases = [
            (b"APPEND INBOX {0}", b"NO APPEND failed"),
            (b"APPEND INBOX {-5}", b"NO APPEND failed"),
            (b"APPEND INBOX {x}", b"NO APPEND failed"),
            (b"APPEND INBOX {99999999999}", b"NO APPEND failed"),
            (b"APPEND INBOX (\\Seen)", b"NO APPEND failed"),
            (b'APPEND INBOX "01-Jul-2003 10:52:37 +0200"', b"NO APPEND failed"),
            (b"APPEND Nothing {5}", b"NO [TRYCREATE] APPEND failed"),
            (b"APPEND INBOX", b"BAD APPEND parse error"),
            (b"APPEND", b"BAD APPEND parse error"),
        ]
        for n, (command, completion) in enumerate(cases):
            with self.subTest(command=command):
                client.send(b"r%d " % n + command + b"\r\n")
                client.expect(b"r%d " % n + completion + b"\r\n")
        self.assertEqual(host.events("CreateMessage"), [])
        self.assertEqual(self.status(client, b"s1"), b'* STATUS "INBOX" (MESSAGES 0 UIDNEXT 8)\r\n')

    def test_create_message_denied_or_unhandled(self):
        for fixture in ({"actions": {}}, {"sink": False}):
            with self.subTest(fixture=fixture):
                if fixture.get("sink") is False:
                    # Without a sink nobody fills the tree: there is no mailbox to append to.
                    host, client = self.start(folders=[], appenddir=None, **fixture)
                    client.send(b"a1 APPEND INBOX {5}\r\n")
                    client.expect(b"a1 NO [TRYCREATE] APPEND failed\r\n")
                    continue
                host, client = self.start(**fixture)
                client.send(b"a1 " + APPEND_LINE)
                client.expect(b"a1 NO APPEND failed\r\n")
                self.assertEqual(len(host.events("CreateMessage")), 1)
                self.assertEqual(self.status(client, b"s1"),
                                 b'* STATUS "INBOX" (MESSAGES 0 UIDNEXT 8)\r\n')

    def test_write_message_denied_keeps_the_message_here(self):
        host, client = self.start(script=[{"on": "WriteMessage", "do": "Deny"}])
        client.send(b"a1 " + APPEND_LINE)
        client.expect(READY)
        client.send(MESSAGE + b"\r\n")
        client.expect(b"a1 NO APPEND failed\r\n")
        self.assertEqual(self.kept_files(), {})
        self.assertEqual(self.status(client, b"s1"), b'* STATUS "INBOX" (MESSAGES 1 UIDNEXT 9)\r\n')

    def test_without_appenddir_the_message_lives_in_a_temporary_file(self):
        host, client = self.start(appenddir=None,
                                  script=[{"on": "WriteMessage", "do": "DumpTree"}])
        client.send(b"a1 " + APPEND_LINE + MESSAGE + b"\r\n")
        client.expect(READY + b"a1 OK APPEND completed\r\n")
        self.assertEqual(self.tree_messages(host), [{"uid": 8, "flags": 3, "size": 310}])

    def test_a_connection_lost_inside_the_literal(self):
        host, client = self.start()
        client.send(b"a1 " + APPEND_LINE + MESSAGE[:100])
        client.expect(READY)
        client.sock.close()
        host.wait_event("Disconnected")
        self.assertEqual(host.events("WriteMessage"), [])
        # The server goes on serving.
        other = self.connect(host).greet().login()
        self.assertEqual(self.status(other, b"s1"), b'* STATUS "INBOX" (MESSAGES 0 UIDNEXT 9)\r\n')


class InsideEventsTest(AppendTestCase):
    def test_release_or_disconnect(self):
        # Only WriteMessage fires after the continuation request.
        ready = b"+ c1 Ready for append literal\r\n"
        command = APPEND_LINE + MESSAGE
        cases = [(command, "ListFolders", 2, b""), (command, "CreateMessage", 1, b""),
                 (command, "WriteMessage", 1, ready)]
        check_inside_events(self, cases, lambda command, event, nth, do: self.start(
            script=[{"on": event, "nth": nth, "do": do}]))