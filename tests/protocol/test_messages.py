"""FETCH, STORE, COPY and UID over the fixture host, with exact bytes."""

import os

from fixture import HostTestCase, check_inside_events
from imap_syntax import parse_fetch, split_responses

HEADER = b"From: Ann\r\nSubject: Hi\r\nDate: Tue, 1 Jul 2003 10:52:37 +0200\r\n"
HUNDRED = HEADER + b"\r\n" + b"b" * (100 - len(HEADER) - 4) + b"\r\n"
assert len(HUNDRED) == 100
# Two messages in one file, as a host keeping an mbox-like store serves them.
FIRST = b"Subject: first\r\n\r\nbody one\r\n"
SECOND = b"Subject: second\r\nX-Two: 2\r\n\r\nbody two\r\n"
NO_DATE = b"Subject: undated\r\n\r\nx\r\n"
BAD_DATE = b"Date: garbage\r\n\r\nx\r\n"
QUOTED = b'Subject: say "hi" \\ bye\r\nFrom: "Ann Lee" <ann@h>\r\n\r\nx\r\n'
MTIME = 1041379200 + 3600 * 5 + 7  # 1-Jan-2003 05:00:07 UTC
# A message that forwards another one as a message/rfc822 part; the inner one has two parts.
INNER = (b"Subject: inner\r\nContent-Type: multipart/alternative; boundary=in\r\n\r\n"
         b"--in\r\nContent-Type: text/plain\r\n\r\nplain text\r\n"
         b"--in\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--in--\r\n")
FORWARD = (b"Subject: fwd\r\nContent-Type: multipart/mixed; boundary=out\r\n\r\n"
           b"--out\r\nContent-Type: text/plain\r\n\r\nsee below\r\n"
           b"--out\r\nContent-Type: message/rfc822\r\n\r\n" + INNER +
           b"--out--\r\n")

FILES = {"hundred.eml": HUNDRED, "two.mbox": FIRST + SECOND, "nodate.eml": NO_DATE,
         "baddate.eml": BAD_DATE, "quoted.eml": QUOTED, "forward.eml": FORWARD}


def message(file, uid, flags=0, **more):
    return dict(more, file=file, uid=uid, flags=flags)


TREE = [
    {"name": "INBOX", "uid": 100, "nextuid": 10, "messages": [
        message("hundred.eml", 5, ["\\Seen", "\\Deleted"]),
        message("hundred.eml", 7, 64),  # a bit no flag name stands for
        message("quoted.eml", 9)]},
    {"name": "Range", "uid": 101, "nextuid": 3, "messages": [
        message("two.mbox", 1, end=len(FIRST)),
        message("two.mbox", 2, start=len(FIRST))]},
    {"name": "Dates", "uid": 102, "nextuid": 3, "messages": [
        message("nodate.eml", 1), message("baddate.eml", 2)]},
    {"name": "Archive", "uid": 103, "nextuid": 50},
    {"name": "Nested", "uid": 104, "nextuid": 2, "messages": [message("forward.eml", 1)]},
]

DATA = os.environ.get("KIVIMAP_TEST_DATA", os.path.join(os.path.dirname(__file__), "..", "data"))
CORPUS = sorted(os.path.join(DATA, "corpus", n) for n in os.listdir(os.path.join(DATA, "corpus"))
                if n.endswith(".eml"))


class MessageTestCase(HostTestCase):
    def start(self, folders=TREE, select=b"INBOX", **fixture):
        host = self.start_host(dict(fixture, folders=folders), files=FILES)
        folder = os.path.dirname(host.events_path)
        for name in ("nodate.eml", "baddate.eml"):
            os.utime(os.path.join(folder, name), (MTIME, MTIME))
        client = self.connect(host).greet().login()
        self.tags = 0
        if select:
            self.command(client, b"SELECT " + select)
        return host, client

    def command(self, client, text):
        self.tags += 1
        return client.command(b"c%d" % self.tags, text)

    def run_commands(self, client, cases):
        for command, untagged, completion in cases:
            with self.subTest(command=command):
                self.assertEqual(self.command(client, command), (untagged, completion))

    def fired(self, host, name, *keys):
        return [tuple(e[k] for k in keys) for e in host.events(name)]


class FetchTest(MessageTestCase):
    def test_items(self):
        _, client = self.start()
        ok = b"OK FETCH completed"
        self.run_commands(client, [
            (b"FETCH 1", b"", b"BAD FETCH parse error"),
            (b"UID FETCH 5", b"", b"BAD UID parse error"),
            (b"FETCH 1 (FLAGS)", b"* 1 FETCH (FLAGS (\\Seen \\Deleted))\r\n", ok),
            (b"fetch 1 (flags)", b"* 1 FETCH (FLAGS (\\Seen \\Deleted))\r\n", ok),
            (b"FETCH 2 (FLAGS)", b"* 2 FETCH (FLAGS ())\r\n", ok),
            (b"UID FETCH 7 (FLAGS)", b"* 2 FETCH (UID 7 FLAGS ())\r\n", ok),
            (b"uid fetch 7 (flags)", b"* 2 FETCH (UID 7 FLAGS ())\r\n", ok),
            (b"UID  Fetch 7 FLAGS", b"* 2 FETCH (UID 7 FLAGS ())\r\n", ok),
            # Nothing but the UID: no space before the closing parenthesis.
            (b"UID FETCH 7 (UID)", b"* 2 FETCH (UID 7)\r\n", ok),
            (b"FETCH 1 (UID RFC822.SIZE)", b"* 1 FETCH (UID 5 RFC822.SIZE 100)\r\n", ok),
            (b"FETCH 1 FLAGS UID", b"* 1 FETCH (FLAGS (\\Seen \\Deleted))\r\n", ok),
            (b"FETCH 1 (X-UNKNOWN)", b"* 1 FETCH ()\r\n", ok),
            (b"FETCH 2,1 (UID)", b"* 2 FETCH (UID 7)\r\n* 1 FETCH (UID 5)\r\n", ok),
            (b"FETCH 1:* (UID)", b"* 1 FETCH (UID 5)\r\n* 2 FETCH (UID 7)\r\n* 3 FETCH (UID 9)\r\n",
             ok),
            (b"FETCH 9 (FLAGS)", b"", ok),
            (b"UID FETCH 8 (FLAGS)", b"", ok),
            (b"UID SORT (DATE) UTF-8 ALL", b"", b"BAD Command unrecognized"),
            (b"UID", b"", b"BAD UID parse error"),
        ])

    def test_macros(self):
        _, client = self.start()
        fast = (b'* 1 FETCH (FLAGS (\\Seen \\Deleted) INTERNALDATE " 1-Jul-2003 10:52:37 +0200" '
                b"RFC822.SIZE 100)\r\n")
        self.run_commands(client, [
            (b"FETCH 1 FAST", fast, b"OK FETCH completed"),
            (b"FETCH 1 fast", fast, b"OK FETCH completed"),
            (b"FETCH 1 (FAST)", fast, b"OK FETCH completed"),
        ])
        for macro, names in ((b"ALL", [b"FLAGS", b"INTERNALDATE", b"RFC822.SIZE", b"ENVELOPE"]),
                             (b"FULL", [b"FLAGS", b"INTERNALDATE", b"RFC822.SIZE", b"ENVELOPE",
                                        b"BODY"])):
            data, completion = self.command(client, b"FETCH 1 " + macro)
            self.assertEqual(completion, b"OK FETCH completed")
            self.assertEqual(list(parse_fetch(data)[1]), names)

    def test_body_sections(self):
        host, client = self.start()
        ok = b"OK FETCH completed"
        body = HUNDRED[len(HEADER) + 2:]
        self.run_commands(client, [
            (b"FETCH 2 BODY.PEEK[]", b"* 2 FETCH (BODY[] {100}\r\n" + HUNDRED + b")\r\n", ok),
            (b"FETCH 2 BODY[]<0.10>", b"* 2 FETCH (BODY[]<0> {10}\r\n" + HUNDRED[:10] + b")\r\n",
             ok),
            (b"FETCH 2 BODY[]<90.50>", b"* 2 FETCH (BODY[]<90> {10}\r\n" + HUNDRED[90:] + b")\r\n",
             ok),
            (b"FETCH 2 BODY.PEEK[HEADER.FIELDS (FROM X-NONE)]",
             b"* 2 FETCH (BODY[HEADER.FIELDS (FROM X-NONE)] {13}\r\nFrom: Ann\r\n\r\n)\r\n", ok),
            (b"FETCH 2 BODY.PEEK[header.fields.not (from date)]",
             b"* 2 FETCH (BODY[HEADER.FIELDS.NOT (FROM DATE)] {15}\r\nSubject: Hi\r\n\r\n)\r\n", ok),
            (b"FETCH 2 BODY.PEEK[HEADER]",
             b"* 2 FETCH (BODY[HEADER] {%d}\r\n%s)\r\n" % (len(HEADER), HEADER), ok),
            (b"FETCH 2 BODY.PEEK[HEADER]<4.6>", b"* 2 FETCH (BODY[HEADER]<4> {6}\r\n: Ann\r)\r\n",
             ok),
            (b"FETCH 2 BODY.PEEK[TEXT]", b"* 2 FETCH (BODY[TEXT] {%d}\r\n%s)\r\n" % (len(body), body),
             ok),
            # A message without parts has one: its body.
            (b"FETCH 2 BODY.PEEK[1]", b"* 2 FETCH (BODY[1] {%d}\r\n%s)\r\n" % (len(body), body), ok),
            (b"FETCH 2 BODY.PEEK[2]", b"* 2 FETCH (BODY[2] {0}\r\n)\r\n", ok),
            (b"FETCH 2 (UID BODY.PEEK[]<98> FLAGS)",
             b"* 2 FETCH (UID 7 BODY[]<0> {100}\r\n" + HUNDRED + b" FLAGS (\\Seen))\r\n", ok),
        ])
        # BODY[ marks the message seen, each time; BODY.PEEK[ fires nothing.
        self.assertEqual(self.fired(host, "FlagChange", "Message", "NewFlags", "OldFlags"),
                         [(7, 66, 64), (7, 66, 66)])
        # One ReadMessage before every section is read.
        self.assertEqual(len(host.events("ReadMessage")), 11)

    def test_rfc822_items(self):
        host, client = self.start()
        text = HUNDRED[len(HEADER) + 2:]
        self.run_commands(client, [
            (b"FETCH 2 RFC822.HEADER",
             b"* 2 FETCH (RFC822.HEADER {%d}\r\n%s)\r\n" % (len(HEADER), HEADER),
             b"OK FETCH completed"),
            (b"FETCH 2 (FLAGS)", b"* 2 FETCH (FLAGS ())\r\n", b"OK FETCH completed"),
            (b"FETCH 2 RFC822.TEXT", b"* 2 FETCH (RFC822.TEXT {%d}\r\n%s)\r\n" % (len(text), text),
             b"OK FETCH completed"),
            (b"FETCH 2 (RFC822 FLAGS)",
             b"* 2 FETCH (RFC822 {100}\r\n" + HUNDRED + b" FLAGS (\\Seen))\r\n",
             b"OK FETCH completed"),
        ])
        self.assertEqual(self.fired(host, "FlagChange", "NewFlags", "OldFlags"),
                         [(66, 64), (66, 66)])

    def test_a_range_host_gets_each_message_of_a_shared_file(self):
        _, client = self.start(select=b"Range")
        ok = b"OK FETCH completed"
        self.run_commands(client, [
            (b"FETCH 2 (RFC822.SIZE BODY.PEEK[])",
             b"* 2 FETCH (RFC822.SIZE %d BODY[] {%d}\r\n%s)\r\n" % (len(SECOND), len(SECOND), SECOND),
             ok),
            (b"FETCH 2 BODY.PEEK[]<5.10>", b"* 2 FETCH (BODY[]<5> {10}\r\n%s)\r\n" % SECOND[5:15], ok),
            (b"FETCH 2 BODY.PEEK[HEADER]",
             b"* 2 FETCH (BODY[HEADER] {27}\r\nSubject: second\r\nX-Two: 2\r\n)\r\n", ok),
            (b"FETCH 1 BODY.PEEK[TEXT]", b"* 1 FETCH (BODY[TEXT] {10}\r\nbody one\r\n)\r\n", ok),
            (b"FETCH 1:2 ENVELOPE",
             b'* 1 FETCH (ENVELOPE (NIL "first" NIL NIL NIL NIL NIL NIL NIL "<?>"))\r\n'
             b'* 2 FETCH (ENVELOPE (NIL "second" NIL NIL NIL NIL NIL NIL NIL "<?>"))\r\n', ok),
        ])

    def test_sections_of_parts_and_of_a_message_inside_a_part(self):
        _, client = self.start(select=b"Nested")
        ok = b"OK FETCH completed"
        inner_header = b"Subject: inner\r\nContent-Type: multipart/alternative; boundary=in\r\n"
        # The line end before a delimiter belongs to the delimiter, not to the part.
        inner = INNER[:-2]
        inner_text = inner[len(inner_header) + 2:]

        def answer(section, data):
            return b"* 1 FETCH (BODY[%s] {%d}\r\n%s)\r\n" % (section, len(data), data)
        self.run_commands(client, [
            (b"FETCH 1 BODY.PEEK[1]", answer(b"1", b"see below"), ok),
            (b"FETCH 1 BODY.PEEK[1.MIME]", answer(b"1.MIME", b"Content-Type: text/plain\r\n\r\n"),
             ok),
            (b"FETCH 1 BODY.PEEK[2]", answer(b"2", inner), ok),
            (b"FETCH 1 BODY.PEEK[2.HEADER]", answer(b"2.HEADER", inner_header), ok),
            (b"FETCH 1 BODY.PEEK[2.TEXT]", answer(b"2.TEXT", inner_text), ok),
            (b"FETCH 1 BODY.PEEK[2.HEADER.FIELDS (SUBJECT)]",
             answer(b"2.HEADER.FIELDS (SUBJECT)", b"Subject: inner\r\n\r\n"), ok),
            (b"FETCH 1 BODY.PEEK[2.1]", answer(b"2.1", b"plain text"), ok),
            (b"FETCH 1 BODY.PEEK[2.2]<3.4>", b"* 1 FETCH (BODY[2.2]<3> {4}\r\nhtml)\r\n", ok),
            (b"FETCH 1 BODY.PEEK[1.HEADER]", answer(b"1.HEADER", b""), ok),
            (b"FETCH 1 BODY.PEEK[3]", answer(b"3", b""), ok),
            (b"FETCH 1 BODY.PEEK[2.3]", answer(b"2.3", b""), ok),
        ])

    def test_body_structure_of_a_corpus_message(self):
        path = os.path.join(DATA, "corpus", "alternative_attachments_crlf.eml")
        _, client = self.start([{"name": "INBOX", "uid": 1, "messages": [message(path, 1)]}])
        self.run_commands(client, [
            (b"FETCH 1 BODYSTRUCTURE",
             b'* 1 FETCH (BODYSTRUCTURE ((("text" "plain" ("charset" "us-ascii") NIL NIL '
             b'"quoted-printable" 161 9)("text" "html" ("charset" "us-ascii") NIL NIL '
             b'"quoted-printable" 181 6) "alternative")("application" "pdf" ("name" "report.pdf") '
             b'NIL NIL "base64" 1249)("image" "png" ("name" "photo.png") "<photo1@example.org>" '
             b'NIL "base64" 485) "mixed"))\r\n', b"OK FETCH completed"),
        ])

    def test_internaldate_is_always_a_date_time(self):
        _, client = self.start(select=b"Dates")
        # Without a Date field that reads as a date, the file's time (UTC) stands for it.
        self.run_commands(client, [
            (b"FETCH 1:2 INTERNALDATE",
             b'* 1 FETCH (INTERNALDATE " 1-Jan-2003 05:00:07 +0000")\r\n'
             b'* 2 FETCH (INTERNALDATE " 1-Jan-2003 05:00:07 +0000")\r\n', b"OK FETCH completed"),
        ])

    def test_envelope_strings_are_valid(self):
        _, client = self.start()
        self.run_commands(client, [
            (b"FETCH 3 ENVELOPE",
             b'* 3 FETCH (ENVELOPE (NIL "say \\"hi\\" \\\\ bye" (("Ann Lee" NIL "ann" "h")) '
             b'(("Ann Lee" NIL "ann" "h")) (("Ann Lee" NIL "ann" "h")) NIL NIL NIL NIL "<?>"))\r\n',
             b"OK FETCH completed"),
        ])

    def test_structures_of_the_corpus_parse_strictly(self):
        folders = [{"name": "INBOX", "uid": 1,
                    "messages": [message(path, n + 1) for n, path in enumerate(CORPUS)]}]
        _, client = self.start(folders)
        data, completion = self.command(
            client, b"FETCH 1:* (UID RFC822.SIZE INTERNALDATE ENVELOPE BODY BODYSTRUCTURE)")
        self.assertEqual(completion, b"OK FETCH completed")
        responses, rest = split_responses(data)
        self.assertEqual(rest, b"")
        self.assertEqual(len(responses), len(CORPUS))
        for response, path in zip(responses, CORPUS):
            with self.subTest(message=os.path.basename(path)):
                _, items = parse_fetch(response)
                self.assertEqual(int(items[b"RFC822.SIZE"]), os.path.getsize(path))
                self.assertEqual(len(items[b"ENVELOPE"]), 10)
                self.assertEqual(items[b"BODY"], items[b"BODYSTRUCTURE"])
        # The folded Subject goes out as a literal, byte for byte.
        eight_bit = CORPUS.index(os.path.join(DATA, "corpus", "headers_8bit_crlf.eml"))
        subject = parse_fetch(responses[eight_bit])[1][b"ENVELOPE"][1]
        self.assertEqual(subject, "Grüße aus München\r\n\tund noch eine Zeile".encode("latin-1"))

    def test_a_large_fetch_streams_every_byte_in_order(self):
        # 40 messages of 100 kB: far past the connection's high-water mark, so the command
        # parks and resumes while the client reads.
        files = {"big%d.eml" % n: (b"Subject: %d\r\n\r\n" % n) + bytes([65 + n % 26]) * 100000
                 for n in range(40)}
        folders = [{"name": "INBOX", "uid": 1,
                    "messages": [message("big%d.eml" % n, n + 1) for n in range(40)]}]
        host = self.start_host({"folders": folders}, files=files)
        client = self.connect(host).greet().login()
        self.tags = 0
        self.command(client, b"SELECT INBOX")
        data, completion = self.command(client, b"FETCH 1:* (UID BODY.PEEK[])")
        self.assertEqual(completion, b"OK FETCH completed")
        responses, rest = split_responses(data)
        self.assertEqual(rest, b"")
        for n, response in enumerate(responses):
            _, items = parse_fetch(response)
            self.assertEqual((items[b"UID"], items[b"BODY[]"]),
                             (b"%d" % (n + 1), files["big%d.eml" % n]))
        self.assertEqual(len(responses), 40)


class StoreTest(MessageTestCase):
    def test_store(self):
        host, client = self.start()
        ok = b"OK STORE completed"
        self.run_commands(client, [
            (b"STORE 3 +FLAGS (\\Seen)", b"* 3 FETCH (FLAGS (\\Seen))\r\n", ok),
            (b"STORE 3 +FLAGS (\\Seen)", b"* 3 FETCH (FLAGS (\\Seen))\r\n", ok),
            (b"STORE 1:2 -FLAGS.SILENT (\\Deleted)", b"", ok),
            (b"store 3 +flags (\\SEEN \\FLAGGED)", b"* 3 FETCH (FLAGS (\\Flagged \\Seen))\r\n", ok),
            (b"STORE 3 FLAGS (\\Seen)", b"", b"BAD STORE parse error"),
            (b"STORE 3 +FLAGS \\Seen", b"", b"BAD STORE parse error"),
            (b"STORE 3 +FLAGS.NOISY (\\Seen)", b"", b"BAD STORE parse error"),
            (b"STORE 3 +FLAGS", b"", b"BAD STORE parse error"),
            (b"STORE 3 +FLAGS ($Label1)", b"* 3 FETCH (FLAGS (\\Flagged \\Seen))\r\n", ok),
            (b"STORE 3 +FLAGS (\\Recent)", b"* 3 FETCH (FLAGS (\\Flagged \\Seen \\Recent))\r\n", ok),
            (b"UID STORE 7 +FLAGS (\\Deleted)", b"* 2 FETCH (FLAGS (\\Deleted))\r\n", ok),
            (b"UID STORE 7 FLAGS (\\Deleted)", b"", b"BAD UID parse error"),
            (b"STORE 9 +FLAGS (\\Seen)", b"", ok),
        ])
        self.assertEqual(self.fired(host, "FlagChange", "Message", "NewFlags", "OldFlags"),
                         [(9, 2, 0), (9, 2, 2), (5, 2, 10), (7, 64, 64), (9, 3, 2),
                          (9, 35, 3), (7, 72, 64)])
        # The store keeps what STORE changed: a later connection sees it (its SELECT took the
        # Recent flag).
        other = self.connect(host).greet().login()
        other.send(b"s1 SELECT INBOX\r\n")
        while not other.read_line().startswith(b"s1 "):
            pass
        other.send(b"f1 FETCH 1:3 FLAGS\r\n")
        other.expect(b"* 1 FETCH (FLAGS (\\Seen))\r\n* 2 FETCH (FLAGS (\\Deleted))\r\n"
                     b"* 3 FETCH (FLAGS (\\Flagged \\Seen))\r\nf1 OK FETCH completed\r\n")

    def test_after_examine_store_still_works(self):
        _, client = self.start(select=None)
        self.command(client, b"EXAMINE INBOX")
        self.run_commands(client, [
            (b"STORE 2 +FLAGS (\\Answered)", b"* 2 FETCH (FLAGS (\\Answered))\r\n",
             b"OK STORE completed"),
        ])


class CopyTest(MessageTestCase):
    def test_copy(self):
        host, client = self.start(actions={"CopyMessage": "Allow"})
        self.run_commands(client, [
            (b"COPY 1:2 Archive", b"", b"OK COPY 2 messages"),
            (b"UID COPY 9 archive", b"", b"OK COPY 1 messages"),
            (b"COPY 9 Archive", b"", b"NO COPY no such message"),
            (b"COPY 1 NoSuch", b"", b"NO such mailbox"),
            (b"COPY 1", b"", b"BAD COPY parse error"),
            (b"UID COPY 5", b"", b"BAD UID parse error"),
            (b"STATUS Archive (MESSAGES UIDNEXT)", b'* STATUS "Archive" (MESSAGES 3 UIDNEXT 53)\r\n',
             b"OK STATUS completed"),
            (b"SELECT Archive", None, None),
            (b"FETCH 1:* (UID FLAGS RFC822.SIZE)",
             b"* 1 FETCH (UID 50 FLAGS (\\Seen \\Deleted) RFC822.SIZE 100)\r\n"
             b"* 2 FETCH (UID 51 FLAGS () RFC822.SIZE 100)\r\n"
             b"* 3 FETCH (UID 52 FLAGS () RFC822.SIZE %d)\r\n" % len(QUOTED),
             b"OK FETCH completed"),
        ][:7])
        self.assertEqual(self.fired(host, "CopyMessage", "Folder", "Message", "Destination"),
                         [("/INBOX", 5, "/Archive"), ("/INBOX", 7, "/Archive"),
                          ("/INBOX", 9, "/Archive")])
        self.command(client, b"SELECT Archive")
        self.assertEqual(self.command(client, b"FETCH 1:* (UID FLAGS RFC822.SIZE)"), (
            b"* 1 FETCH (UID 50 FLAGS (\\Seen \\Deleted) RFC822.SIZE 100)\r\n"
            b"* 2 FETCH (UID 51 FLAGS () RFC822.SIZE 100)\r\n"
            b"* 3 FETCH (UID 52 FLAGS () RFC822.SIZE %d)\r\n" % len(QUOTED), b"OK FETCH completed"))

    def test_a_refusal_ends_the_command_with_one_completion(self):
        host, client = self.start(actions={"CopyMessage": "Allow"},
                                  script=[{"on": "CopyMessage", "nth": 2, "do": "Deny"}])
        client.send(b"a1 COPY 1:3 Archive\r\na2 CHECK\r\n")
        client.expect(b"a1 NO COPY message copy failed\r\na2 OK CHECK completed\r\n")
        self.assertEqual(len(host.events("CopyMessage")), 2)

    def test_the_preset_denies(self):
        host, client = self.start()
        self.run_commands(client, [(b"COPY 1 Archive", b"", b"NO COPY message copy failed")])


# Each command with the event it fires inside and how often that event fired by then. Nothing
# of the command reaches the client.
INSIDE_EVENTS = [
    (b"FETCH 1:2 BODY.PEEK[]", "ReadMessage", 2, b""),
    (b"FETCH 1 (BODY[HEADER] FLAGS)", "FlagChange", 1, b""),
    (b"FETCH 1 RFC822", "ReadMessage", 1, b""),
    (b"STORE 1:2 +FLAGS (\\Seen)", "FlagChange", 2, b""),
    (b"COPY 1:3 Archive", "CopyMessage", 2, b""),
]


class InsideEventsTest(MessageTestCase):
    def test_release_or_disconnect(self):
        check_inside_events(self, INSIDE_EVENTS, lambda command, event, nth, do: self.start(
            actions={"CopyMessage": "Allow"}, script=[{"on": event, "nth": nth, "do": do}]))