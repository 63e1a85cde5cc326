"""SEARCH and UID SEARCH over the fixture host, with exact bytes, and through real clients."""

import imaplib
import os
import shutil
import subprocess
import tempfile

from fixture import TIMEOUT, HostTestCase

DATA = os.environ.get("KIVIMAP_TEST_DATA", os.path.join(os.path.dirname(__file__), "..", "data"))


def data_file(name):
    return os.path.join(DATA, name)


# The folder every test searches: (file, UID, flags).
MESSAGES = [
    ("search/qp_latin1_crlf.eml", 3, ["\\Seen"]),
    ("search/base64_utf8_crlf.eml", 5, ["\\Flagged", "\\Recent"]),
    ("search/forwarded_lf.eml", 8, ["\\Answered", "\\Seen"]),
    ("corpus/headers_8bit_crlf.eml", 13, ["\\Deleted"]),
    ("corpus/alternative_attachments_crlf.eml", 21, ["\\Draft", "\\Recent", "\\Seen"]),
    ("corpus/nested_related_lf.eml", 34, []),
]
SIZES = [os.path.getsize(data_file(name)) for name, _, _ in MESSAGES]

TREE = [
    {"name": "INBOX", "uid": 200, "nextuid": 35,
     "messages": [{"file": data_file(name), "uid": uid, "flags": flags}
                  for name, uid, flags in MESSAGES]},
    {"name": "Empty", "uid": 201, "nextuid": 1},
]


def found(*numbers):
    return b"* SEARCH" + b"".join(b" %d" % n for n in numbers) + b"\r\n"


def numbers_where(predicate):
    return [n + 1 for n, size in enumerate(SIZES) if predicate(size)]


OK = b"OK SEARCH completed"
PARSE_ERROR = b"BAD SEARCH parse error"
UID_PARSE_ERROR = b"BAD UID parse error"
BAD_CHARSET = b"NO [BADCHARSET (US-ASCII UTF-8)] SEARCH failed"

# Each key on its own, then in combination; (command, untagged, completion).
KEYS = [
    (b"SEARCH ALL", found(1, 2, 3, 4, 5, 6), OK),
    (b"search all", found(1, 2, 3, 4, 5, 6), OK),
    (b"SEARCH ANSWERED", found(3), OK),
    (b"SEARCH UNANSWERED", found(1, 2, 4, 5, 6), OK),
    (b"SEARCH DELETED", found(4), OK),
    (b"SEARCH UNDELETED", found(1, 2, 3, 5, 6), OK),
    (b"SEARCH DRAFT", found(5), OK),
    (b"SEARCH UNDRAFT", found(1, 2, 3, 4, 6), OK),
    (b"SEARCH FLAGGED", found(2), OK),
    (b"SEARCH UNFLAGGED", found(1, 3, 4, 5, 6), OK),
    (b"SEARCH SEEN", found(1, 3, 5), OK),
    (b"SEARCH UNSEEN", found(2, 4, 6), OK),
    (b"SEARCH KEYWORD $Forwarded", found(), OK),
    (b"SEARCH UNKEYWORD $Forwarded", found(1, 2, 3, 4, 5, 6), OK),
    (b"SEARCH BCC hidden-list", found(2), OK),
    (b"SEARCH CHARSET UTF-8 CC \"Zo\xc3\xab\"", found(1), OK),
    (b"SEARCH FROM \"ann lee\"", found(5), OK),
    (b"SEARCH CHARSET UTF-8 FROM J\xc3\xbcrgen", found(4), OK),
    (b"SEARCH TO dave", found(6), OK),
    (b"SEARCH SUBJECT report", found(5), OK),
    (b"SEARCH CHARSET UTF-8 SUBJECT \"R\xc3\xa9sum\xc3\xa9 de la r\xc3\xa9union\"", found(1), OK),
    (b"SEARCH CHARSET UTF-8 SUBJECT \"konzert in z\xc3\xbcrich\"", found(2), OK),
    (b"SEARCH CHARSET UTF-8 SUBJECT \"Gr\xc3\xbc\xc3\x9f" b"e aus M\xc3\xbcnchen\"", found(4), OK),
    (b"SEARCH HEADER Message-ID 20030701", found(5), OK),
    (b"SEARCH HEADER MIME-Version \"\"", found(1, 2, 5, 6), OK),
    (b"SEARCH HEADER Content-Type \"boundary=\\\"mixed-boundary\\\"\"", found(6), OK),
    (b"SEARCH CHARSET UTF-8 BODY \"caf\xc3\xa9 sera servi\"", found(1), OK),
    (b"SEARCH CHARSET UTF-8 BODY \"pr\xc3\xa9sence\"", found(1), OK),
    (b"SEARCH CHARSET UTF-8 BODY \"aus Z\xc3\xbcrich\"", found(2), OK),
    (b"SEARCH BODY \"approved\"", found(3), OK),
    (b"SEARCH BODY secret-attachment-word", found(), OK),
    (b"SEARCH BODY \"Thursday.\"", found(5), OK),
    (b"SEARCH CHARSET UTF-8 BODY Sch\xc3\xb6ne", found(4), OK),
    (b"SEARCH TEXT newsletter", found(6), OK),
    (b"SEARCH TEXT example.fr", found(1, 4), OK),
    (b"SEARCH BEFORE 1-Mar-2025", found(1, 5), OK),
    (b"SEARCH ON 1-Jul-2003", found(5), OK),
    (b"SEARCH ON 14-Feb-2025", found(1), OK),  # 23:45 -0800: the day as written
    (b"SEARCH SINCE \"2-Mar-2025\"", found(3, 4, 6), OK),
    (b"SEARCH SENTBEFORE 2-MAR-2025", found(1, 2, 5), OK),
    (b"SEARCH SENTON 5-Dec-2026", found(4), OK),
    (b"SEARCH SENTSINCE 3-Mar-2025", found(4, 6), OK),
    (b"SEARCH LARGER %d" % SIZES[2], found(*numbers_where(lambda s: s > SIZES[2])), OK),
    (b"SEARCH SMALLER %d" % SIZES[2], found(*numbers_where(lambda s: s < SIZES[2])), OK),
    # Sets inside keys: "*" is the highest number, ranges run either way, and one that starts
    # past the highest still reaches it.
    (b"SEARCH 1:3", found(1, 2, 3), OK),
    (b"SEARCH 5:*", found(5, 6), OK),
    (b"SEARCH *", found(6), OK),
    (b"SEARCH 4:2,6", found(2, 3, 4, 6), OK),
    (b"SEARCH 9:*", found(6), OK),
    (b"SEARCH 7:9", found(), OK),
    (b"SEARCH UID 8:13", found(3, 4), OK),
    (b"SEARCH UID 100:*", found(6), OK),
    (b"SEARCH UID 14:20", found(), OK),
    # Nesting.
    (b"SEARCH NOT (OR SEEN DELETED)", found(2, 6), OK),
    (b"SEARCH OR NOT SEEN (DRAFT SEEN)", found(2, 4, 5, 6), OK),
    (b"SEARCH NOT NOT (OR 1 UID 34)", found(1, 6), OK),
    (b"SEARCH (SEEN (OR ANSWERED (DRAFT)))", found(3, 5), OK),
    (b"SEARCH OR (UNSEEN BODY Konzert) (SEEN SUBJECT report) NOT DELETED", found(2, 5), OK),
    (b"SEARCH SUBJECT nothing-like-this", b"* SEARCH\r\n", OK),
    # UID SEARCH answers with UIDs.
    (b"UID SEARCH ALL", found(3, 5, 8, 13, 21, 34), OK),
    (b"uid search unseen", found(5, 13, 34), OK),
    (b"UID SEARCH 2:3", found(5, 8), OK),
    (b"UID SEARCH UID 35:*", found(34), OK),
    (b"UID SEARCH UID 9:1 BODY approved", found(8), OK),
    (b"UID SEARCH CHARSET UTF-8 BODY Z\xc3\xbcrich", found(5), OK),
    (b"UID SEARCH FLAGGED DELETED", found(), OK),
    # Errors.
    (b"SEARCH", b"", PARSE_ERROR),
    (b"SEARCH FOO", b"", PARSE_ERROR),
    (b"SEARCH SEEN FOO", b"", PARSE_ERROR),
    (b"SEARCH (SEEN", b"", PARSE_ERROR),
    (b"SEARCH OR SEEN", b"", PARSE_ERROR),
    (b"SEARCH 0", b"", PARSE_ERROR),
    (b"SEARCH UID 1:x", b"", PARSE_ERROR),
    (b"SEARCH LARGER big", b"", PARSE_ERROR),
    (b"SEARCH BEFORE 32-Jan-2020", b"", PARSE_ERROR),
    (b"SEARCH SUBJECT \"open", b"", PARSE_ERROR),
    (b"SEARCH SUBJECT \"\\n\"", b"", PARSE_ERROR),
    (b"SEARCH SUBJECT \"R\xc3\xa9sum\xc3\xa9\"", b"", PARSE_ERROR),  # 8-bit without CHARSET
    (b"SEARCH SUBJECT {6}", b"", PARSE_ERROR),  # no literal is awaited
    (b"UID SEARCH", b"", UID_PARSE_ERROR),
    (b"UID SEARCH FOO", b"", UID_PARSE_ERROR),
    (b"SEARCH CHARSET KOI8-R ALL", b"", BAD_CHARSET),
    (b"UID SEARCH CHARSET ISO-8859-1 BODY x", b"", BAD_CHARSET),
]


class SearchTestCase(HostTestCase):
    def start(self, folders=TREE, select=b"INBOX", **fixture):
        host = self.start_host(dict(fixture, folders=folders))
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

    def read_messages(self, host):
        return [e["Message"] for e in host.events("ReadMessage")]


class SearchTest(SearchTestCase):
    def test_keys(self):
        _, client = self.start()
        self.run_commands(client, KEYS)

    def test_recent(self):
        _, client = self.start()
        self.run_commands(client, [
            # The selection took \Recent from messages 2 and 5 as it reported them.
            (b"SEARCH RECENT", found(), OK),
            (b"SEARCH OLD", found(1, 2, 3, 4, 5, 6), OK),
            (b"STORE 2,5 +FLAGS.SILENT (\\Recent)", b"", b"OK STORE completed"),
            (b"SEARCH RECENT", found(2, 5), OK),
            (b"SEARCH OLD", found(1, 3, 4, 6), OK),
            (b"SEARCH NEW", found(2), OK),
            (b"UID SEARCH NOT NEW", found(3, 8, 13, 21, 34), OK),
        ])

    def test_an_empty_folder_matches_nothing(self):
        _, client = self.start(select=b"Empty")
        self.run_commands(client, [(command, b"* SEARCH\r\n", OK) for command in (
            b"SEARCH ALL", b"SEARCH 1:*", b"SEARCH *", b"UID SEARCH UID 1:*", b"UID SEARCH ALL",
            b"SEARCH NOT 1")])

    def test_read_message_fires_only_for_messages_whose_file_is_read(self):
        host, client = self.start()
        self.run_commands(client, [
            (b"SEARCH UNSEEN", found(2, 4, 6), OK),
            (b"UID SEARCH OR 1:2 UID 30:* NOT FLAGGED", found(3, 34), OK),
        ])
        self.assertEqual(self.read_messages(host), [])
        # The cheap key first: only the seen messages are read, once each.
        self.run_commands(client, [(b"SEARCH BODY approved SEEN TEXT zzzz", found(), OK)])
        self.assertEqual(self.read_messages(host), [3, 8, 21])
        self.run_commands(client, [(b"SEARCH SUBJECT x", found(), OK)])
        self.assertEqual(self.read_messages(host)[3:], [3, 5, 8, 13, 21, 34])

    def test_a_large_answer_streams_in_order(self):
        # 60 000 UIDs of 6 digits: more than the connection's high-water mark, so the answer
        # parks and resumes while the client reads; the next command waits for it.
        count = 60000
        messages = [{"file": data_file("search/forwarded_lf.eml"), "uid": 100000 + n}
                    for n in range(count)]
        _, client = self.start([{"name": "INBOX", "uid": 1, "nextuid": 100000 + count,
                                 "messages": messages}])
        client.send(b"u1 UID SEARCH ALL\r\nu2 NOOP\r\n")
        client.expect(found(*range(100000, 100000 + count)) + b"u1 OK SEARCH completed\r\n"
                      + b"u2 OK CAPABILITY completed\r\n")


class InsideReadMessageTest(SearchTestCase):
    def run_case(self, do):
        host, _ = self.start(script=[{"on": "ReadMessage", "nth": 2, "do": do}])
        client = self.connect(host).greet().login()
        client.send(b"s1 SELECT INBOX\r\n")
        while not client.read_line().startswith(b"s1 OK"):
            pass
        client.send(b"s2 SEARCH BODY nothing\r\ns3 NOOP\r\n")
        # Nothing of the search reaches the client: it ends inside the event.
        client.expect_closed(b"")
        host.wait_event("Script")
        self.assertEqual(self.read_messages(host), [3, 5])
        return host

    def test_release_server(self):
        self.assert_server_gone(self.run_case("ReleaseServer"))

    def test_disconnect(self):
        host = self.run_case("Disconnect")
        self.assertEqual(len(host.wait_events("Disconnected")), 1)


class RealClientSearchTest(SearchTestCase):
    def test_imaplib(self):
        host = self.start_host({"folders": TREE})
        conn = imaplib.IMAP4("127.0.0.1", host.port, timeout=TIMEOUT)
        conn.login("joe", "secret")
        self.assertEqual(conn.select("INBOX"), ("OK", [b"6"]))
        self.assertEqual(conn.search(None, "UNSEEN"), ("OK", [b"2 4 6"]))
        self.assertEqual(conn.search(None, "(OR FLAGGED DELETED)", 'SUBJECT "aus"'),
                         ("OK", [b"4"]))
        self.assertEqual(conn.search("UTF-8", b'BODY "Z\xc3\xbcrich"'), ("OK", [b"2"]))
        self.assertEqual(conn.uid("SEARCH", "UID", "35:*"), ("OK", [b"34"]))
        self.assertEqual(conn.uid("SEARCH", "SINCE", "1-Mar-2025"), ("OK", [b"5 8 13 34"]))
        self.assertEqual(conn.search(None, "TEXT", '"no such text"'), ("OK", [b""]))
        self.assertEqual(conn.search("KOI8-R", "ALL"),
                         ("NO", [b"[BADCHARSET (US-ASCII UTF-8)] SEARCH failed"]))
        conn.logout()

    def test_curl_search_url(self):
        if not shutil.which("curl"):
            self.skipTest("curl is not installed (the CI script installs it)")
        host = self.start_host({"folders": TREE})
        for query, answer in ((b"UNSEEN", b"* SEARCH 2 4 6\r\n"),
                              (b"SUBJECT%20report", b"* SEARCH 5\r\n")):
            proc = subprocess.run(["curl", "-sS", "--max-time", str(int(TIMEOUT)),
                                   "imap://127.0.0.1:%d/INBOX?%s" % (host.port, query.decode()),
                                   "-u", "a:b"], capture_output=True, timeout=TIMEOUT * 2)
            self.assertEqual((proc.returncode, proc.stdout), (0, answer),
                             proc.stderr.decode("utf-8", "replace"))

    def test_fetchmail_asks_for_unseen_mail(self):
        # Not installed by the CI script: runs where a developer has it.
        if not shutil.which("fetchmail"):
            self.skipTest("fetchmail is not installed")
        host = self.start_host({"folders": TREE})
        work = tempfile.mkdtemp(prefix="kivimap-fetchmail-")
        self.addCleanup(shutil.rmtree, work, True)
        rc = os.path.join(work, "fetchmailrc")
        with open(rc, "w") as f:
            f.write('poll 127.0.0.1 with proto IMAP port %d auth password\n'
                    '  user "joe" there with password "secret" is "root" here\n'
                    "  options keep sslproto '' mda \"/bin/sh -c 'cat >> %s/mbox'\"\n"
                    % (host.port, work))
        os.chmod(rc, 0o600)
        proc = subprocess.run(["fetchmail", "-f", rc, "-v", "--nosyslog", "--nodetach",
                               "--pidfile", os.path.join(work, "pid")],
                              capture_output=True, timeout=TIMEOUT * 4,
                              env=dict(os.environ, HOME=work))
        trace = (proc.stdout + proc.stderr).decode("utf-8", "replace")
        self.assertIn("SEARCH UNSEEN UNDELETED\n", trace)
        self.assertIn("IMAP< * SEARCH 2 6\n", trace)
        self.assertEqual(proc.returncode, 0, trace)

    def test_offlineimap_searches_by_age(self):
        if not shutil.which("offlineimap"):
            self.skipTest("offlineimap is not installed")
        # Messages its own header handling copes with (it fails on 8-bit header text).
        folder = [{"file": data_file(name), "uid": uid}
                  for name, uid, _ in (MESSAGES[2], MESSAGES[4], MESSAGES[5])]
        host = self.start_host({"folders": [{"name": "INBOX", "uid": 9, "messages": folder}]})
        work = tempfile.mkdtemp(prefix="kivimap-offlineimap-")
        self.addCleanup(shutil.rmtree, work, True)
        rc = os.path.join(work, "offlineimaprc")
        with open(rc, "w") as f:
            f.write("[general]\naccounts = T\nmetadata = %s/meta\n"
                    "[Account T]\nlocalrepository = L\nremoterepository = R\nmaxage = 4000\n"
                    "[Repository L]\ntype = Maildir\nlocalfolders = %s/mail\n"
                    "[Repository R]\ntype = IMAP\nremotehost = 127.0.0.1\nremoteport = %d\n"
                    "ssl = no\nstarttls = no\nremoteuser = joe\nremotepass = secret\n"
                    "readonly = True\nfolderfilter = lambda f: f == 'INBOX'\n"
                    % (work, work, host.port))
        proc = subprocess.run(["offlineimap", "-c", rc, "-o", "-u", "basic", "-d", "imap"],
                              capture_output=True, timeout=TIMEOUT * 4,
                              env=dict(os.environ, HOME=work))
        trace = (proc.stdout + proc.stderr).decode("utf-8", "replace")
        self.assertIn(" SEARCH (SINCE ", trace)
        self.assertIn("< b'* SEARCH 1 3\\r\\n'", trace)  # 4000 days back: not the one of 2003
        # Then everything from the oldest UID in that range on, the 2003 message included.
        self.assertIn(" SEARCH (UID 8:*)", trace)
        self.assertIn("< b'* SEARCH 1 2 3\\r\\n'", trace)
        self.assertEqual(proc.returncode, 0, trace)
        inbox = os.path.join(work, "mail", "INBOX")
        self.assertEqual(sum(len(os.listdir(os.path.join(inbox, d))) for d in ("new", "cur")), 3,
                         trace)
