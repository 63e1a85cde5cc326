"""One session: the greeting, how received bytes become command lines, and the dispatcher."""

import socket
import threading
import time

from fixture import CAPABILITY, DEFAULT_GREETING, GREETING, HostTestCase, noop_ok

EIGHT_BIT = b"Gr\xfc\xdfe \xc3\xa9t\xe9"  # Latin-1 bytes and a UTF-8 sequence, mixed
GREETINGS = [(None, DEFAULT_GREETING), ("Hello", GREETING % b"Hello"),
             ("", GREETING % b""),  # both blanks stay
             (EIGHT_BIT.decode("utf-8", "surrogateescape"), GREETING % EIGHT_BIT)]
UNRECOGNIZED = b" BAD Command unrecognized\r\n"
CAPABILITY_OK = CAPABILITY + b"%s OK CAPABILITY completed\r\n"

# What the client sends, what it must get back, and the lines the Command event sees (when not
# given: the line sent, without its CR LF).
EXCHANGES = [
    (b"a1 NOOP\n", noop_ok(b"a1"), ["a1 NOOP"]),
    (b"a2 NOOP\r\n", noop_ok(b"a2")),
    # One carriage return stays: the command name is "NOOP\r", which is no command.
    (b"a3 NOOP\r\r\n", b"a3" + UNRECOGNIZED, ["a3 NOOP\r"]),
    (b"\r\n\n", b"* BAD Null command\r\n" * 2, ["", ""]),
    (b"a4 NOOP\r\na5 CAPABILITY\r\n", noop_ok(b"a4") + CAPABILITY_OK % b"a5",
     ["a4 NOOP", "a5 CAPABILITY"]),
    # A NUL byte ends what the dispatcher sees of a line.
    (b"a6 NOOP\x00a7 CAPABILITY\r\n", noop_ok(b"a6"), ["a6 NOOP"]),
    (b"\x00a8 NOOP\r\na9 NOOP\r\n", b"* BAD Null command\r\n" + noop_ok(b"a9"), ["", "a9 NOOP"]),
    # A tag alone echoes what reached the dispatcher: the first 32700 bytes of a 40000-byte
    # line, in a response far longer than the 8192-byte formatting buffer.
    (b"x" * 40000 + b"\r\n", b"x" * 32700 + b" BAD Missing Command\r\n", ["x" * 32700]),
    (b"T" * 9000 + b" NOOP\r\n", noop_ok(b"T" * 9000)),
    (b"".join(b"t%d NOOP\r\n" % i for i in range(200)),
     b"".join(noop_ok(b"t%d" % i) for i in range(200)), ["t%d NOOP" % i for i in range(200)]),
    # The dispatcher's three errors.
    (b" a1 NOOP\r\n", b"* BAD Null command\r\n"),
    (b"a1\r\n", b"a1 BAD Missing Command\r\n"),
    (b"a2 \r\n", b"a2 BAD Missing Command\r\n"),
    (b"a3  NOOP\r\n", b"a3 BAD Missing Command\r\n"),
    (b"a4 FOO\r\n", b"a4" + UNRECOGNIZED),
    (b"a5 NOOPX\r\n", b"a5" + UNRECOGNIZED),
    # Command names ignore case; tags keep theirs and are not validated.
    (b"Ab1 noop\r\n", noop_ok(b"Ab1")),
    (b"aB2 CaPaBiLiTy\r\n", CAPABILITY_OK % b"aB2"),
    (b"* NOOP\r\n", noop_ok(b"*")),
    (b"+{3} NOOP\r\n", noop_ok(b"+{3}")),
    # The arguments of CAPABILITY and NOOP are ignored.
    (b"a6 NOOP (unbalanced \"quote\r\n", noop_ok(b"a6")),
    (b"a7 CAPABILITY  x y\r\n", CAPABILITY_OK % b"a7"),
] + [(b"n1 " + c + b"\r\n", b"n1" + UNRECOGNIZED)  # commands of later states
     for c in (b"SELECT INBOX", b"LIST \"\" *", b"FETCH 1 FLAGS", b"STORE 1 +FLAGS (\\Seen)",
               b"CLOSE", b"EXPUNGE", b"SEARCH ALL", b"UID FETCH 1 FLAGS")] + [
    (b"L1 LOGIN joe pw\r\n", b"L1 OK LOGIN completed\r\n"),
    (b"a8 CAPABILITY\r\n", CAPABILITY_OK % b"a8"),
] + [(b"s1 " + c + b"\r\n", b"s1" + UNRECOGNIZED)  # commands of other states
     for c in (b"LOGIN a b", b"AUTHENTICATE LOGIN", b"FETCH 1 FLAGS", b"SEARCH ALL", b"CHECK")]


class GreetingTest(HostTestCase):
    def test_greeting_texts(self):
        for text, expected in GREETINGS:
            with self.subTest(text=text):
                server = {} if text is None else {"GreetingMessage": text}
                host = self.start_host({"server": server})
                self.connect(host).greet(expected)
        connecting = host.wait_event("Connecting")
        self.assertEqual((connecting["User"]["Hostname"], connecting["Action"]), ("127.0.0.1", 1))
        change = host.wait_event("StateChange")  # to waiting for the user name
        self.assertEqual((change["NewState"], change["OldState"]), (2, 1))

    def test_connecting_denied_closes_without_greeting(self):
        host = self.start_host({"actions": {"Connecting": "Deny"}, "script": [
            {"on": "Connecting", "nth": 3, "do": "DumpUsers"},
            {"on": "Connecting", "nth": 3, "do": "Allow"}]})
        self.connect(host).expect_closed()
        self.connect(host).expect_closed()
        self.connect(host).greet()
        # The denied users never joined the collection, and were never served.
        self.assertEqual(host.wait_event("Users")["Count"], 0)
        self.assertEqual(len(host.wait_events("StateChange")), 1)
        self.assertEqual(host.events("Disconnected"), [])

    def test_no_sink_accepts_and_logs_in(self):
        host = self.start_host({"sink": False})
        self.connect(host).greet().login()
        self.assertEqual(host.events(), [])


class CommandLineTest(HostTestCase):
    def setUp(self):
        self.host = self.start_host()
        self.client = self.connect(self.host).greet()

    def test_exchanges(self):
        for sent, expected, *commands in EXCHANGES:
            with self.subTest(sent=sent[:40]):
                seen = len(self.host.events("Command"))
                self.client.send(sent)
                self.client.expect(expected)
                commands = commands[0] if commands else [sent[:-2].decode()]
                events = self.host.wait_events("Command", seen + len(commands))
                self.assertEqual([e["Command"] for e in events[seen:]], commands)
        self.assertEqual(events[0]["User"]["Hostname"], "127.0.0.1")

    def test_command_split_over_packets(self):
        self.client.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for byte in b"a1 NO":
            self.client.send(bytes([byte]))
            time.sleep(0.01)
        self.client.send(b"OP\r")
        time.sleep(0.05)
        self.client.send(b"\na2 NOOP\r\n")
        self.client.expect(noop_ok(b"a1") + noop_ok(b"a2"))

    def test_megabyte_without_line_feed_then_more_commands(self):
        self.client.send(b"a1 NOOP ")
        for _ in range(16):
            self.client.send(b"y" * 65536)
        self.client.send(b"\r\na2 NOOP\r\n")
        self.client.expect(noop_ok(b"a1") + noop_ok(b"a2"))

    def test_megabyte_of_answers_to_a_slow_reader_arrives_whole_and_in_order(self):
        # A small receive buffer makes the server's sends stall and resume many times; a thread
        # sends, so that neither side can block the other.
        slow = socket.socket()
        self.addCleanup(slow.close)
        slow.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        slow.settimeout(30)
        slow.connect(("127.0.0.1", self.host.port))
        requests = b"".join(b"c%d CAPABILITY\r\n" % i for i in range(20000))
        expected = DEFAULT_GREETING + b"".join(CAPABILITY_OK % b"c%d" % i for i in range(20000))
        self.assertGreater(len(expected), 1000000)
        sender = threading.Thread(target=slow.sendall, args=(requests,))
        sender.start()
        received = bytearray()
        while len(received) < len(expected):
            chunk = slow.recv(4096)
            if not chunk:
                break
            received += chunk
            if len(received) < 256 * 1024:
                time.sleep(0.001)  # read slowly for a while, then drain
        sender.join()
        self.assertEqual(len(received), len(expected))
        self.assertTrue(received == expected, "answers out of order or damaged")

    def test_replaced_command_is_what_runs(self):
        host = self.start_host({"script": [
            {"on": "Command", "nth": 1, "do": "ReplaceCommand", "text": "z9 CAPABILITY"},
            {"on": "Command", "nth": 2, "do": "ReplaceCommand", "text": ""},
            {"on": "Command", "nth": 3, "do": "ReplaceCommand", "text": "q1 LOGIN alice pw"}]})
        client = self.connect(host).greet()
        for tag, expected in ((b"a1", CAPABILITY_OK % b"z9"), (b"a2", b"* BAD Null command\r\n"),
                              (b"a3", b"q1 OK LOGIN completed\r\n")):
            client.send(tag + b" NOOP\r\n")
            client.expect(expected)
        connected = host.wait_event("Connected")
        self.assertEqual((connected["Username"], connected["Password"]), ("alice", "pw"))
        # The log shows the line as the sink received it, before the replacement.
        self.assertEqual([e["Command"] for e in host.events("Command")],
                         ["a1 NOOP", "a2 NOOP", "a3 NOOP"])
