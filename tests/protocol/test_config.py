"""The configuration text form through the fixture host: a "config" file loaded before Start, and
the SaveConfig script action whose file a later host loads."""

import json
import os

from fixture import GREETING, TIMEOUT_LINE, HostTestCase

MALFORMED = 0x800A753A
GENERAL_FAILURE = 0x80004005

HEADING = (b"# kivimap server configuration: one Name = value a line (BindIP, Port, GreetingMessage, "
           b"GoodbyeMessage, Timeout)\n")


class ConfigFileTest(HostTestCase):
    def test_the_file_configures_the_server_and_the_fixture_keys_come_after_it(self):
        conf = (b"\xef\xbb\xbf# written by hand\r\n"
                b"GreetingMessage = Hello \xc3\xa9t\xc3\xa9  \r\n"
                b"goodbyemessage=Later\n"
                b"\n"
                b"TIMEOUT = 1\n"
                b"BindIP = 10.9.9.9\n"
                b"Port = 1\n"
                b"maildir = /srv/mail\n")
        # BindIP and Port in the file give way to the host's loopback address and free port.
        host = self.start_host({"config": "server.conf"}, {"server.conf": conf})
        self.connect(host).greet(GREETING % "Hello été  ".encode()).expect_closed(TIMEOUT_LINE)
        client = self.connect(host).greet(GREETING % "Hello été  ".encode())
        client.send(b"a1 LOGOUT\r\n")
        client.expect_closed(b"* BYE Later terminating connection\r\na1 OK LOGOUT completed\r\n")

        host = self.start_host({"config": "server.conf", "server": {"GreetingMessage": "Fixture"}},
                               {"server.conf": conf})
        self.connect(host).greet(GREETING % b"Fixture")

    def test_a_malformed_file_stops_the_host_before_it_listens(self):
        code, out, err = self.run_to_exit(json.dumps({"config": "server.conf"}),
                                          {"server.conf": b"Port = 1143\nTimeout = soon\n"})
        line = 'Configuration line 2: Timeout must be a decimal integer of 32 bits, not "soon".'
        self.assertEqual((code, out, err), (1, "ERROR 0x%08X %s\n" % (MALFORMED, line), ""))
        for fixture, fragment in (
                ('{"config": "missing.conf"}', '"config": '),
                ('{"script": [{"on": "Connecting", "do": "SaveConfig"}]}', 'SaveConfig needs "text"'),
        ):
            with self.subTest(fixture=fixture):
                code, out, err = self.run_to_exit(fixture)
                self.assertEqual((code, out), (2, ""))
                self.assertIn(fragment, err)


class SaveConfigTest(HostTestCase):
    def test_a_saved_file_starts_a_later_host_with_the_same_configuration(self):
        host = self.start_host({
            "server": {"GreetingMessage": "Saved \u00e9t\u00e9", "GoodbyeMessage": "", "Timeout": 300,
                       "DebugFile": ""},
            "script": [{"on": "Connecting", "do": "SaveConfig", "text": "saved.conf"}]})
        self.connect(host).greet(GREETING % "Saved été".encode())
        self.assertEqual(host.wait_event("Script")["Status"], 0)
        saved = os.path.join(os.path.dirname(host.events_path), "saved.conf")
        with open(saved, "rb") as f:
            self.assertEqual(f.read(), HEADING + b"BindIP = 127.0.0.1\nPort = 0\n"
                             b"GreetingMessage = Saved \xc3\xa9t\xc3\xa9\nGoodbyeMessage =\n"
                             b"Timeout = 300\n")

        later = self.start_host({"config": saved})
        client = self.connect(later).greet(GREETING % "Saved été".encode())
        client.send(b"a1 LOGOUT\r\n")
        client.expect_closed(b"* BYE  terminating connection\r\na1 OK LOGOUT completed\r\n")

    def test_a_file_that_cannot_be_written_shows_in_the_status(self):
        host = self.start_host({"script": [
            {"on": "Connecting", "do": "SaveConfig", "text": "no/such/folder/saved.conf"}]})
        self.connect(host)
        self.assertEqual(host.wait_event("Script")["Status"], GENERAL_FAILURE)
