"""FETCH responses read by a strict client: imapflow's own response path on Node (its stream
splitter, parser and message formatter), for every message of tests/data/corpus and for
Subjects that need escapes or a literal."""

import base64
import json
import os
import shutil
import subprocess

from fixture import TIMEOUT, HostTestCase

HERE = os.path.dirname(os.path.abspath(__file__))
NODE_DIR = os.path.join(HERE, "..", "js")  # node_modules/imapflow, from scripts/install-deps
SCRIPT = os.path.join(HERE, "imapflow_parse.cjs")
DATA = os.environ.get("KIVIMAP_TEST_DATA", os.path.join(HERE, "..", "data"))
CORPUS = os.path.join(DATA, "corpus")

QUOTED = (b'From: "Lee, Ann" <ann@example.org>\r\nSubject: say "hi" \\ to C:\\temp\r\n'
          b"Date: Tue, 1 Jul 2003 10:52:37 +0200\r\n\r\nbody\r\n")
# Folded with a tab: the store reads a line that starts with a tab as a continuation.
FOLDED = (b"From: bob@example.net\r\nSubject: a subject long enough\r\n\tto be folded\r\n"
          b"Date: Tue, 1 Jul 2003 10:52:37 +0200\r\n\r\nbody\r\n")


def corpus_messages():
    """(name, bytes, fixture entry) for each message: the .eml files whole, the mbox's two
    messages as ranges of the one file (without their envelope lines)."""
    out = []
    for name in sorted(os.listdir(CORPUS)):
        path = os.path.join(CORPUS, name)
        with open(path, "rb") as f:
            data = f.read()
        if name.endswith(".eml"):
            out.append((name, data, {"file": path}))
        elif name.endswith(".mbox"):
            starts = [0] + [i + 1 for i in range(len(data)) if data.startswith(b"\nFrom ", i)]
            for n, start in enumerate(starts):
                body = data.index(b"\n", start) + 1
                end = starts[n + 1] - 1 if n + 1 < len(starts) else len(data)  # the blank line
                out.append(("%s#%d" % (name, n + 1), data[body:end],
                            {"file": path, "start": body, "end": end}))
    return out


MESSAGES = corpus_messages() + [("quoted.eml", QUOTED, {"file": "quoted.eml"}),
                                ("folded.eml", FOLDED, {"file": "folded.eml"})]


def header_block(data):
    end = data.find(b"\r\n\r\n")
    lf = data.find(b"\n\n")
    return data[:end + 4] if end >= 0 and (lf < 0 or end < lf) else data[:lf + 2]


def unbytes(value):
    if isinstance(value, dict) and "bytes" in value:
        return base64.b64decode(value["bytes"])
    return value


class ImapflowParserTest(HostTestCase):
    def setUp(self):
        node = shutil.which("node")
        installed = os.path.exists(os.path.join(NODE_DIR, "node_modules", "imapflow"))
        if not (node and installed):
            text = "Node.js or imapflow is missing: run scripts/install-deps"
            if os.environ.get("CI"):
                self.fail(text)
            self.skipTest(text)

    def fetch_all(self, items):
        """Runs FETCH 1:* items over the messages; returns the untagged bytes."""
        folders = [{"name": "INBOX", "uid": 1, "nextuid": 100, "messages": [
            dict(entry, uid=10 + n, flags=["\\Seen"] if n % 2 else [])
            for n, (_, _, entry) in enumerate(MESSAGES)]}]
        host = self.start_host({"folders": folders},
                               files={"quoted.eml": QUOTED, "folded.eml": FOLDED})
        client = self.connect(host).greet().login()
        client.send(b"s1 EXAMINE INBOX\r\n")
        while not client.read_line().startswith(b"s1 "):
            pass
        client.send(b"f1 FETCH 1:* " + items + b"\r\n")
        data = b""
        while True:
            line = client.read_line()
            if line.startswith(b"f1 "):
                self.assertEqual(line, b"f1 OK FETCH completed\r\n")
                return data
            data += line
            if line.endswith(b"}\r\n"):
                data += client._take(int(line[line.rindex(b"{") + 1:-3]), "a literal")

    def parse(self, data):
        """imapflow's reading of the responses, one dict per message, each FETCH response."""
        proc = subprocess.run(["node", SCRIPT, NODE_DIR], input=data, capture_output=True,
                              timeout=TIMEOUT * 4)
        out = [json.loads(line) for line in proc.stdout.decode().splitlines()]
        self.assertEqual(proc.returncode, 0, "imapflow refused a response: %s\n%s"
                         % (out[-1:] or "", proc.stderr.decode()[-2000:]))
        self.assertEqual([(r["tag"], r["kind"], r["command"]) for r in out],
                         [("*", "FETCH", str(n + 1)) for n in range(len(MESSAGES))])
        for r in out:
            r["items"] = {name: unbytes(value) for name, value in r["items"]}
        return out

    def test_every_response_parses(self):
        # Each item set over every message; the bytes and numbers imapflow hands its user
        # are the message's.
        item_sets = [
            b"(UID FLAGS RFC822.SIZE INTERNALDATE ENVELOPE BODYSTRUCTURE BODY)",
            b"FULL",
            b"(BODY.PEEK[] BODY.PEEK[HEADER] BODY.PEEK[TEXT] BODY.PEEK[1] BODY.PEEK[1.MIME] "
            b"BODY.PEEK[2] BODY.PEEK[1.1] BODY.PEEK[HEADER.FIELDS (SUBJECT FROM)] "
            b"BODY.PEEK[HEADER.FIELDS.NOT (SUBJECT)] BODY.PEEK[]<0.20> BODY.PEEK[TEXT]<2.5>)",
            b"(RFC822.HEADER RFC822.SIZE UID)",
        ]
        for items in item_sets:
            with self.subTest(items=items):
                out = self.parse(self.fetch_all(items))
                for n, ((name, data, _), r) in enumerate(zip(MESSAGES, out)):
                    message, got = r["message"], r["items"]
                    text = data[len(header_block(data)):]
                    with self.subTest(message=name):
                        if b"UID" in items:
                            self.assertEqual(message["uid"], 10 + n)
                        if b"SIZE" in items or items == b"FULL":
                            self.assertEqual(message["size"], len(data))
                        if b"BODYSTRUCTURE" in items:
                            self.assertEqual(message["flags"], ["\\Seen"] if n % 2 else [])
                            if b"\nDate:" in data:
                                self.assertIn("date", message["envelope"])
                            self.assertTrue(message["bodyStructure"]["type"])
                            # BODY goes through the same structure reader.
                            self.assertEqual(r["body"], message["bodyStructure"])
                        if items == b"FULL":
                            self.assertIn("envelope", message)
                            self.assertIn("type", r["body"])
                        if b"BODY.PEEK[]" in items:
                            self.assertEqual(got["BODY[]"], data)
                            self.assertEqual(got["BODY[]<0>"], data[:20])
                            self.assertEqual(got["BODY[TEXT]"], text)
                            self.assertEqual(got["BODY[TEXT]<2>"], text[2:7])
                            self.assertTrue(data.startswith(got["BODY[HEADER]"]))
                            for part in ("1", "1.MIME", "2", "1.1"):
                                self.assertIsInstance(got["BODY[%s]" % part], bytes)
                        if b"RFC822.HEADER" in items:
                            self.assertTrue(data.startswith(got["RFC822.HEADER"]))

    def test_fields_as_imapflow_reads_them(self):
        out = self.parse(self.fetch_all(
            b"(ENVELOPE BODYSTRUCTURE BODY.PEEK[HEADER.FIELDS (SUBJECT FROM)])"))
        by_name = {name: r for (name, _, _), r in zip(MESSAGES, out)}
        ann = [{"name": "Ann Lee", "address": "ann.lee@example.org"}]
        report = by_name["alternative_attachments_crlf.eml"]["message"]
        envelope = report["envelope"]
        self.assertEqual(
            (envelope["date"], envelope["subject"], envelope["from"], envelope["sender"],
             envelope["replyTo"], [a["address"] for a in envelope["to"]], envelope["messageId"]),
            ("2003-07-01T08:52:37.000Z", "Quarterly report and photo", ann, ann, ann,
             ["bob@example.net"], "<20030701085237.GA1234@example.org>"))

        def shape(node):
            # What a client walks to show a message: part numbers, types, names, ids, encodings.
            keep = {k: node[k] for k in ("part", "type", "id", "encoding", "parameters")
                    if k in node}
            if "childNodes" in node:
                keep["childNodes"] = [shape(child) for child in node["childNodes"]]
            return keep

        self.assertEqual(shape(report["bodyStructure"]), {
            "type": "multipart/mixed", "childNodes": [
                {"part": "1", "type": "multipart/alternative", "childNodes": [
                    {"part": "1.1", "type": "text/plain", "parameters": {"charset": "us-ascii"},
                     "encoding": "quoted-printable"},
                    {"part": "1.2", "type": "text/html", "parameters": {"charset": "us-ascii"},
                     "encoding": "quoted-printable"}]},
                {"part": "2", "type": "application/pdf", "parameters": {"name": "report.pdf"},
                 "encoding": "base64"},
                {"part": "3", "type": "image/png", "parameters": {"name": "photo.png"},
                 "id": "<photo1@example.org>", "encoding": "base64"}]})

        def types(node):
            return [node.get("part"), node["type"], node.get("id"),
                    [types(child) for child in node.get("childNodes", [])]]

        nested = by_name["nested_related_lf.eml"]["message"]["bodyStructure"]
        self.assertEqual(types(nested), [None, "multipart/mixed", None, [
            ["1", "multipart/related", None, [
                ["1.1", "multipart/alternative", None, [
                    ["1.1.1", "text/plain", None, []], ["1.1.2", "text/html", None, []]]],
                ["1.2", "image/gif", "<logo>", []]]],
            ["2", "text/calendar", None, []]]])

        # A Subject with quotes and backslashes, and a folded one, arrive whole.
        quoted = by_name["quoted.eml"]
        self.assertEqual(quoted["message"]["envelope"]["subject"], 'say "hi" \\ to C:\\temp')
        self.assertEqual(quoted["message"]["envelope"]["from"],
                         [{"name": "Lee, Ann", "address": "ann@example.org"}])
        self.assertEqual(quoted["items"]["BODY[HEADER.FIELDS (SUBJECT FROM)]"],
                         b'Subject: say "hi" \\ to C:\\temp\r\n'
                         b'From: "Lee, Ann" <ann@example.org>\r\n\r\n')
        folded = by_name["folded.eml"]
        self.assertEqual(folded["message"]["envelope"]["subject"],
                         "a subject long enough\r\n\tto be folded")
        self.assertEqual(folded["items"]["BODY[HEADER.FIELDS (SUBJECT FROM)]"],
                         b"Subject: a subject long enough\r\n\tto be folded\r\n"
                         b"From: bob@example.net\r\n\r\n")
