"""The debug log: its start line, the received lines and the queued output, byte for byte."""

import os
import shutil
import tempfile
import time
import unittest

from fixture import DEFAULT_GREETING, TIMEOUT, HostTestCase

START_LINE = b"----------- NEW SESSION STARTED ------------\r\n"


def wait_for_log(path, expected):
    """The log's content once it has grown to len(expected) bytes (or at the deadline)."""
    deadline = time.monotonic() + TIMEOUT
    data = b""
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, "rb") as f:
                data = f.read()
            if len(data) >= len(expected):
                break
        time.sleep(0.01)
    return data


class DebugLogTest(HostTestCase):
    def start_logging_host(self, fixture=None):
        fixture = dict(fixture or {})
        folder = tempfile.mkdtemp(prefix="kivimap-debug-log-")
        self.addCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "debug.log")
        fixture["server"] = dict(fixture.get("server", {}), DebugFile=path)
        return self.start_host(fixture), path

    def test_conversation_is_logged(self):
        host, path = self.start_logging_host()
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\n")
        client.expect(b"a1 OK CAPABILITY completed\r\n")
        expected = START_LINE + DEFAULT_GREETING + b"a1 NOOP\r\na1 OK CAPABILITY completed\r\n"
        self.assertEqual(wait_for_log(path, expected), expected)

    def test_log_shows_the_line_as_received_not_as_replaced(self):
        host, path = self.start_logging_host({"script": [
            {"on": "Command", "do": "ReplaceCommand", "text": "z9 CAPABILITY"}]})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\n")
        client.expect(b"* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\nz9 OK CAPABILITY completed\r\n")
        expected = (START_LINE + DEFAULT_GREETING + b"a1 NOOP\r\n"
                    b"* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\nz9 OK CAPABILITY completed\r\n")
        self.assertEqual(wait_for_log(path, expected), expected)

    def test_large_response_is_logged_cut_but_sent_whole(self):
        host, path = self.start_logging_host()
        client = self.connect(host).greet()
        tag = b"x" * 32700
        client.send(tag + b"\r\nb1 NOOP\r\n")
        response = tag + b" BAD Missing Command\r\n"
        client.expect(response)
        client.expect(b"b1 OK CAPABILITY completed\r\n")
        expected = (START_LINE + DEFAULT_GREETING + tag + b"\r\n" + response[:16380] +
                    b"b1 NOOP\r\nb1 OK CAPABILITY completed\r\n")
        self.assertEqual(wait_for_log(path, expected), expected)

    def test_unwritable_log_is_ignored(self):
        host = self.start_host({"server": {"DebugFile": "/nonexistent-kivimap-dir/debug.log"}})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\n")
        client.expect(b"a1 OK CAPABILITY completed\r\n")


if __name__ == "__main__":
    unittest.main()
