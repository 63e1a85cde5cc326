"""The Maildir the real clients meet: user joe (password secret) with a few folders of ordinary
mail, some of it written with bare LF line ends as delivery agents write it, and helpers to run a
client with a time limit and to read the tree back."""

import os
import re
import shutil
import subprocess
import unittest

from daemon import DaemonTestCase

CLIENT_TIMEOUT = 60  # seconds for one client run; a session here takes about one


def crlf(data):
    return re.sub(rb"(?<!\r)\n", b"\r\n", data)


def text(headers, body, line_end=b"\r\n"):
    lines = [h.encode() for h in headers] + [b""] + body.encode().split(b"\n")
    return line_end.join(lines) + line_end


WELCOME = text(["From: Ann Lee <ann@example.org>", "To: Joe <joe@example.org>",
                "Subject: Welcome", "Date: Mon, 4 Mar 2024 10:00:00 +0000",
                "Message-ID: <welcome@example.org>", "Content-Type: text/plain; charset=us-ascii"],
               "Hello Joe,\n\nthis is your mailbox.\n\nAnn")
NUMBERS = text(["From: Bob Stone <bob@example.org>", "To: Joe <joe@example.org>",
                "Subject: Quarterly numbers", "Date: Tue, 5 Mar 2024 10:00:00 +0000",
                "Message-ID: <numbers@example.org>", "MIME-Version: 1.0",
                'Content-Type: multipart/mixed; boundary="b1"'],
               "--b1\nContent-Type: text/plain\n\nAttached.\n\n--b1\n"
               'Content-Type: text/csv; name="q1.csv"\n\nmonth,revenue\nJanuary,1200\n--b1--')
LUNCH = text(["From: Carla Diaz <carla@example.org>", "To: Joe <joe@example.org>",
              "Subject: Lunch on Friday?", "Date: Wed, 6 Mar 2024 10:00:00 +0000",
              "Message-ID: <lunch@example.org>"], "Shall we meet at noon?")
# Delivered by a local agent: bare LF line ends.
ALERT = text(["From: cron@example.org", "To: joe@example.org", "Subject: Disk nearly full",
              "Date: Thu, 7 Mar 2024 06:00:00 +0000", "Message-ID: <alert@example.org>"],
             "/var is 91% full.", line_end=b"\n")
REPLY = text(["From: Joe <joe@example.org>", "To: Carla Diaz <carla@example.org>",
              "Subject: Re: Lunch on Friday?", "Date: Wed, 6 Mar 2024 11:00:00 +0000",
              "Message-ID: <reply@example.org>", "In-Reply-To: <lunch@example.org>"],
             "Noon is fine.")
PLAN = text(["From: Bob Stone <bob@example.org>", "To: Joe <joe@example.org>",
             "Subject: Project plan", "Date: Mon, 4 Mar 2024 11:00:00 +0000",
             "Message-ID: <plan@example.org>"], "1. Serve.\n2. Sync.\n3. Check the disk.",
            line_end=b"\n")
OLD = text(["From: Ann Lee <ann@example.org>", "To: Joe <joe@example.org>",
            "Subject: Happy new year", "Date: Sat, 30 Dec 2023 12:00:00 +0000",
            "Message-ID: <newyear@example.org>"], "See you in 2024.")

# (folder directory, place/file name, content), INBOX first and in UID order within a folder.
TREE = [
    ("", "cur/1709546400.M1P1.mail:2,S", WELCOME),
    ("", "cur/1709632800.M2P1.mail:2,FS", NUMBERS),
    ("", "cur/1709719200.M3P1.mail:2,RS", LUNCH),
    ("", "new/1709791200.M4P1.mail", ALERT),
    (".Sent", "cur/1709722800.M5P1.mail:2,S", REPLY),
    (".Work.Projects", "cur/1709550000.M6P1.mail:2,S", PLAN),
    (".Archive.2023", "cur/1703937600.M7P1.mail:2,S", OLD),
]
FOLDERS = ["Archive", "Archive/2023", "INBOX", "Sent", "Work", "Work/Projects"]


class ClientTestCase(DaemonTestCase):
    """A fresh copy of TREE per test, served by kivimapd (self.daemon)."""

    def setUp(self):
        super().setUp()
        for dirname in ("", ".Sent", ".Work", ".Work.Projects", ".Archive.2023"):
            self.make_folder(dirname)
            if dirname:
                self.put(os.path.join(dirname, "maildirfolder"), b"")
        for dirname, name, content in TREE:
            self.put(os.path.join(dirname, name), content)
        self.daemon = self.start()

    def require(self, program):
        if not shutil.which(program):
            self.skipTest("%s is not installed (scripts/install-deps installs it)" % program)

    def run_client(self, args, name, check=True, **kwargs):
        """Runs a client to its end within CLIENT_TIMEOUT; its output goes to <name>.out, which
        a failure shows."""
        out_path = os.path.join(self.workdir, name + ".out")
        with open(out_path, "wb") as out:
            try:
                result = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=out,
                                        stderr=subprocess.STDOUT, timeout=CLIENT_TIMEOUT,
                                        cwd=self.workdir, **kwargs)
                code = result.returncode
            except subprocess.TimeoutExpired:
                code = "timed out"
        with open(out_path, "rb") as f:
            output = f.read().decode("utf-8", "replace")
        if check:
            self.assertEqual(code, 0, "%s failed:\n%s" % (name, output[-6000:]))
        return code, output

    def write(self, name, content, mode=0o600):
        path = os.path.join(self.workdir, name)
        with open(path, "w") as f:
            f.write(content)
        os.chmod(path, mode)
        return path

    # The server's tree.
    def messages(self, dirname=""):
        """{file name: bytes} of a folder's cur/ and new/, names with their place."""
        found = {}
        for sub in ("cur", "new"):
            for name in self.files(dirname, sub):
                with open(self.path(dirname, sub, name), "rb") as f:
                    found[sub + "/" + name] = f.read()
        return found

    def flags_of(self, dirname, content):
        """The info letters of the one file in the folder that holds content."""
        names = [n for n, data in self.messages(dirname).items() if data == content]
        self.assertEqual(len(names), 1, (dirname, names))
        return names[0].split(":2,")[1] if ":2," in names[0] else ""


def message_ids(data_list):
    return sorted(re.search(rb"(?im)^Message-ID: *(<[^>]*>)", d).group(1).decode()
                  for d in data_list)


def tree_ids(dirname):
    return message_ids([c for d, _, c in TREE if d == dirname])


def same_message(a, b):
    """Equal once line ends are the same and lines a client adds to the header are dropped."""
    def norm(data):
        data = crlf(data)
        return re.sub(rb"(?im)^(X-TUID|X-OfflineIMAP|Received|Status|X-Status): .*\r\n", b"", data)
    return norm(a) == norm(b)


__all__ = ["ClientTestCase", "CLIENT_TIMEOUT", "FOLDERS", "TREE", "crlf", "message_ids",
           "same_message", "text", "tree_ids", "unittest"]
