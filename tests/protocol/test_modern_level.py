"""The modern protocol level (fixture key "protocol": "modern"): where the described dialect
departs from RFC 3501 on purpose, RFC 3501's behaviour. The described level is what every other
protocol test checks."""

from fixture import DEFAULT_GREETING, DEFAULT_TEXT, GREETING, HostTestCase

MODERN_GREETING = (GREETING % DEFAULT_TEXT).replace(b"AUTH=LOGIN]", b"AUTH=LOGIN UIDPLUS]")

FILES = {"m.eml": b"Subject: x\r\n\r\nbody\r\n"}


def message(uid, *flags):
    return {"file": "m.eml", "uid": uid, "flags": list(flags)}


# UIDs 4, 7, 9 and 12; messages 2 and 4 marked \Deleted; 64 is a bit of the host's own.
FOLDERS = [{"name": "INBOX", "uid": 10, "nextuid": 13, "messages": [
    message(4, "\\Seen"), message(7, "\\Deleted"), message(9), message(12, "\\Deleted")]},
    {"name": "Archive", "uid": 20, "nextuid": 30}]


class ModernLevelTest(HostTestCase):
    def start(self, **fixture):
        host = self.start_host(dict({"folders": FOLDERS, "protocol": "modern"}, **fixture),
                               files=FILES)
        modern = fixture.get("protocol", "modern") == "modern"
        client = self.connect(host).greet(MODERN_GREETING if modern else DEFAULT_GREETING).login()
        client.send(b"s1 SELECT INBOX\r\n")
        while not client.read_line().startswith(b"s1 "):
            pass
        return host, client

    def run_commands(self, client, cases):
        for n, (command, untagged, completion) in enumerate(cases):
            with self.subTest(command=command):
                tag = b"t%d" % n
                client.send(tag + b" " + command + b"\r\n")
                client.expect(untagged + tag + b" " + completion + b"\r\n")

    def test_message_sets_are_rfc_3501_sets(self):
        _, client = self.start()
        ok = b"OK FETCH completed"
        self.run_commands(client, [
            (b"FETCH * (UID)", b"* 4 FETCH (UID 12)\r\n", ok),
            (b"UID FETCH * (FLAGS)", b"* 4 FETCH (UID 12 FLAGS (\\Deleted))\r\n", ok),
            # Above the highest UID, "n:*" still names the last message.
            (b"UID FETCH 100:* (UID)", b"* 4 FETCH (UID 12)\r\n", ok),
            (b"FETCH 3:2,2,1 (UID)", b"* 1 FETCH (UID 4)\r\n* 2 FETCH (UID 7)\r\n"
                                      b"* 3 FETCH (UID 9)\r\n", ok),
            (b"UID FETCH 5:9 (UID)", b"* 2 FETCH (UID 7)\r\n* 3 FETCH (UID 9)\r\n", ok),
            (b"FETCH 1:x (UID)", b"", b"BAD FETCH parse error"),
            (b"UID STORE 0 +FLAGS (\\Seen)", b"", b"BAD UID parse error"),
            (b"COPY abc INBOX", b"", b"BAD COPY parse error"),
        ])

    def test_store_replaces_flags(self):
        host, client = self.start()
        self.run_commands(client, [
            (b"STORE 1:2 FLAGS (\\Flagged \\Answered)",
             b"* 1 FETCH (FLAGS (\\Flagged \\Answered))\r\n* 2 FETCH (FLAGS (\\Flagged \\Answered))\r\n",
             b"OK STORE completed"),
            (b"UID STORE 9 FLAGS.SILENT ()", b"", b"OK STORE completed"),
            (b"STORE 3 +FLAGS (\\Seen)", b"* 3 FETCH (FLAGS (\\Seen))\r\n", b"OK STORE completed"),
        ])
        self.assertEqual([(e["Message"], e["NewFlags"], e["OldFlags"])
                          for e in host.events("FlagChange")],
                         [(4, 5, 2), (7, 5, 8), (9, 0, 0), (9, 2, 0)])

    def test_close_removes_deleted_messages_silently(self):
        host, client = self.start(actions={"DeleteMessage": "Allow"},
                                  script=[{"on": "DeleteMessage", "nth": 2, "do": "Deny"}])
        self.run_commands(client, [
            (b"CLOSE", b"", b"OK CLOSE completed"),
            (b"CHECK", b"", b"BAD Command unrecognized"),
            (b"STATUS INBOX (MESSAGES)", b'* STATUS "INBOX" (MESSAGES 3)\r\n',
             b"OK STATUS completed"),
        ])
        self.assertEqual([e["Message"] for e in host.events("DeleteMessage")], [7, 12])

    def test_uidplus(self):
        host, client = self.start(actions={"DeleteMessage": "Allow", "CopyMessage": "Allow",
                                           "CreateMessage": "Allow"})
        self.run_commands(client, [
            (b"CAPABILITY", b"* CAPABILITY IMAP4REV1 AUTH=LOGIN UIDPLUS\r\n",
             b"OK CAPABILITY completed"),
        ])
        # The copies arrive in a destination listed on this connection: their UIDs are known.
        client.send(b"s2 STATUS Archive (UIDNEXT)\r\n")
        client.expect(b'* STATUS "Archive" (UIDNEXT 30)\r\ns2 OK STATUS completed\r\n')
        self.run_commands(client, [
            (b"UID COPY 9,4 Archive", b"", b"OK [COPYUID 20 4,9 30,31] COPY 2 messages"),
            (b"UID EXPUNGE 1:8", b"* 2 EXPUNGE\r\n", b"OK EXPUNGE completed"),
            (b"UID EXPUNGE x", b"", b"BAD UID parse error"),
        ])
        self.assertEqual([e["Message"] for e in host.events("DeleteMessage")], [7])
        client.send(b"a1 APPEND Archive {5}\r\n")
        client.expect(b"+ a1 Ready for append literal\r\n")
        client.send(b"hello\r\n")
        client.expect(b"a1 OK [APPENDUID 20 32] APPEND completed\r\n")

    def test_the_described_level_stays_the_default(self):
        host, client = self.start(protocol="described", actions={"DeleteMessage": "Allow"})
        self.run_commands(client, [
            (b"FETCH * (UID)", b"* 1 FETCH (UID 4)\r\n* 2 FETCH (UID 7)\r\n* 3 FETCH (UID 9)\r\n"
                               b"* 4 FETCH (UID 12)\r\n", b"OK FETCH completed"),
            (b"STORE 1 FLAGS (\\Seen)", b"", b"BAD STORE parse error"),
            (b"CLOSE", b"", b"OK CLOSE completed"),
            (b"CAPABILITY", b"* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\n", b"OK CAPABILITY completed"),
            (b"UID EXPUNGE 1:*", b"", b"BAD Command unrecognized"),
        ])
        self.assertEqual(host.events("DeleteMessage"), [])

    def test_a_fixture_with_another_level_is_refused(self):
        code, out, err = self.run_to_exit('{"protocol": "rfc9051"}')
        self.assertEqual((code, out), (2, ""))
        self.assertIn('"protocol"', err)
