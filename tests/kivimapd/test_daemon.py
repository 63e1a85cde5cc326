"""kivimapd as an administrator meets it: logins against the users file, --add-user, the
configuration file, signals."""

import base64
import imaplib
import os
import signal
import stat

from daemon import TIMEOUT, DaemonTestCase, recv_until


class LoginTest(DaemonTestCase):
    def test_login_accepted_or_refused(self):
        daemon = self.start()
        b64 = lambda text: base64.b64encode(text).decode()
        # (command, user the log names, accepted)
        cases = [
            ("a1 LOGIN joe secret", "joe", True),
            ("a1 LOGIN joe wrong", "joe", False),
            ("a1 LOGIN nobody secret", "nobody", False),
            ('a1 LOGIN "../joe" secret', "../joe", False),
            ('a1 LOGIN "" ""', "", False),
            ("a1 AUTHENTICATE PLAIN " + b64(b"\0joe\0secret"), "joe", True),
            ("a1 AUTHENTICATE PLAIN " + b64(b"\0joe\0secreT"), "joe", False),
        ]
        for line, user, accepted in cases:
            with self.subTest(line=line):
                sock = self.raw(daemon)
                recv_until(sock, b"\r\n")
                sock.sendall(line.encode() + b"\r\n")
                verb = line.split()[1].encode()
                if accepted:
                    self.assertEqual(recv_until(sock, b"\r\n"), b"a1 OK " + verb + b" completed\r\n")
                    sock.sendall(b"a2 LOGOUT\r\n")
                else:
                    # The client reads NO for its command, then the connection ends.
                    self.assertEqual(recv_until(sock, b"never"),
                                     b"a1 NO [AUTHENTICATIONFAILED] " + verb + b" failed\r\n")
                    daemon.wait_log('login refused for "%s"' % user)
        # Only an accepted login makes the user's Maildir.
        self.assertEqual(os.listdir(self.root), ["joe"])
        self.assertEqual(sorted(os.listdir(self.path())), ["cur", "new", "tmp"])

    def test_imaplib_sees_a_refused_login_as_an_error(self):
        daemon = self.start()
        conn = self.imap(daemon, user=None)
        with self.assertRaisesRegex(imaplib.IMAP4.error, "AUTHENTICATIONFAILED"):
            conn.login("joe", "wrong")

    def test_add_user_adds_and_replaces_one_line(self):
        with open(self.users, "a") as f:
            f.write("# staff\n")
        self.assertEqual(self.add_user("ann", "first").returncode, 0)
        self.assertEqual(self.add_user("ann", "second").returncode, 0)
        with open(self.users) as f:
            lines = f.read().splitlines()
        self.assertEqual([line.split(":")[0] for line in lines], ["joe", "# staff", "ann"])
        self.assertTrue(lines[2].split(":", 1)[1].startswith(("$y$", "$6$")))
        self.assertEqual(stat.S_IMODE(os.stat(self.users).st_mode), 0o600)
        daemon = self.start()
        with self.assertRaises(imaplib.IMAP4.error):
            self.imap(daemon, "ann", "first")
        self.imap(daemon, "ann", "second").logout()
        for name, password in (("../ann", "pw"), ("a b", "pw"), (".ann", "pw"), ("ann", "")):
            with self.subTest(name=name, password=password):
                result = self.add_user(name, password)
                self.assertEqual(result.returncode, 1, result.stderr)

    def test_sighup_reads_the_users_file_again(self):
        daemon = self.start()
        with self.assertRaises(imaplib.IMAP4.error):
            self.imap(daemon, "ann", "pw")
        self.add_user("ann", "pw")
        daemon.proc.send_signal(signal.SIGHUP)
        daemon.wait_log("users file read again: 2 users")
        self.imap(daemon, "ann", "pw").logout()
        # A users file that cannot be read keeps the users read before.
        os.rename(self.users, self.users + ".gone")
        daemon.proc.send_signal(signal.SIGHUP)
        daemon.wait_log("the users read before stay")
        self.imap(daemon, "ann", "pw").logout()


class ConfigurationTest(DaemonTestCase):
    def write_config(self, text):
        path = os.path.join(self.workdir, "kivimapd.conf")
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_config_file_and_command_line(self):
        config = self.write_config(
            "# kivimapd\nMaildir = %s  \nusers=%s\n  GreetingMessage = Mail for you\n"
            "Timeout = 300\nBindIP = 127.0.0.1\nPORT = 1\nLogLevel = debug\n"
            % (self.root, self.users))
        # --listen (given by start) wins over BindIP and Port; the file gives the rest.
        daemon = self.start("--config", config)
        self.assertRegex(daemon.first_line, r"^listening on 127\.0\.0\.1:\d+$")
        conn = self.imap(daemon, user=None)
        self.assertEqual(conn.welcome,
                         b"* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN UIDPLUS] Mail for you ready.")
        conn.login("joe", "secret")
        conn.logout()
        daemon.wait_log("debug: ")

    def test_bad_configuration_stops_before_listening(self):
        # The server's loader reads its five names; kivimapd reads what it hands back.
        for text, expected in (
                ("Port = abc\n", "line 1: Port must be a decimal integer"),
                ("\nColour = blue\n", "line 2: unknown name Colour"),
                ("Maildir /x\n", "line 1: expected Name = value"),
                ("LogLevel = loud\n", "line 1: LogLevel is one of"),
                ("Timeout = 60\n# again\ntimeout = 90\n", "line 3: Timeout is given twice"),
                ("users = /a\nUsers = /b\n", "line 2: Users is given twice (first on line 1)")):
            with self.subTest(text=text):
                daemon = self.start("--config", self.write_config(text), check=False)
                self.assertEqual(daemon.exit_code(), 2)
                self.assertIn(expected, daemon.log())

    def test_sigint_stops_with_exit_0(self):
        daemon = self.start()
        conn = self.imap(daemon)
        conn.select("INBOX")
        self.assertEqual(daemon.stop(signal.SIGINT), 0)
        self.assertIn("stopping on signal %d" % signal.SIGINT, daemon.log())

    def test_port_in_use_fails_to_start(self):
        first = self.start()
        daemon = self.start("--listen", "127.0.0.1:%d" % first.port, check=False)
        self.assertEqual(daemon.exit_code(), 1)
        self.assertIn("cannot start", daemon.log())
