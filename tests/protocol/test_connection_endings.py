"""How connections end when a client is still receiving: LOGOUT and a half-close after megabytes
of unread answers, the idle timeout under a slow download, and a line cut at the framing limit
offered as SASL credentials. Regressions: each of these used to lose answers or log in."""

import base64
import socket
import threading
import time

from fixture import CAPABILITY, DEFAULT_TEXT, TIMEOUT_LINE, HostTestCase, noop_ok

COUNT = 100000  # about 6 MB of answers


def capabilities(count):
    return b"".join(b"a%d CAPABILITY\r\n" % i for i in range(count))


def capability_answers(count):
    return b"".join(CAPABILITY + b"a%d OK CAPABILITY completed\r\n" % i for i in range(count))


def send_in_background(sock, data, then=None):
    # The server stops reading while its answers pile up, so the client's send blocks until the
    # test reads: send from a thread.
    def run():
        try:
            sock.sendall(data)
            if then:
                then()
        except OSError:
            pass
    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


def blocks(n):
    # What XSTREAM sends: numbered 16-byte blocks, cut to n bytes.
    out = bytearray()
    i = 0
    while len(out) < n:
        out += b"%015d\n" % i
        i += 1
    return bytes(out[:n])


class EndingsTest(HostTestCase):
    def test_logout_after_megabytes_of_unread_answers_delivers_every_byte(self):
        host = self.start_host()
        client = self.connect(host).greet()
        writer = send_in_background(client.sock, capabilities(COUNT) + b"z LOGOUT\r\n")
        time.sleep(2)
        expected = (capability_answers(COUNT) + b"* BYE " + DEFAULT_TEXT +
                    b" terminating connection\r\nz OK LOGOUT completed\r\n")
        client.expect_closed(expected)
        writer.join(5)
        host.wait_events("Disconnected")

    def test_half_close_after_megabytes_of_unread_answers_delivers_every_byte(self):
        host = self.start_host()
        client = self.connect(host).greet()
        writer = send_in_background(client.sock, capabilities(COUNT),
                                    then=lambda: client.sock.shutdown(socket.SHUT_WR))
        time.sleep(2)
        client.expect_closed(capability_answers(COUNT))
        writer.join(5)
        host.wait_events("Disconnected")

    def test_lines_after_logout_in_the_same_write_are_still_answered(self):
        host = self.start_host()
        client = self.connect(host).greet()
        client.send(b"z LOGOUT\r\na2 NOOP\r\n")
        client.expect_closed(b"* BYE " + DEFAULT_TEXT + b" terminating connection\r\n"
                             b"z OK LOGOUT completed\r\n" + noop_ok(b"a2"))

    def test_a_slow_download_is_not_cut_by_the_idle_timeout_but_silence_is(self):
        host = self.start_host({"server": {"Timeout": 2}})
        client = self.connect(host).greet()
        client.send(b"s1 XSTREAM 0\r\n")
        first = client.read_line()
        if b"unrecognized" in first:
            self.skipTest("the host was built without the test commands")
        client.expect(b"\r\ns1 OK XSTREAM completed\r\n")
        total = 6 << 20
        client.send(b"s2 XSTREAM %d\r\n" % total)
        client.expect(b"* XSTREAM {%d}\r\n" % total)
        received = bytearray(client.pending[:total])
        client.pending = client.pending[total:]
        started = time.monotonic()
        while len(received) < total:  # about 1.3 MB/s: the download lasts about 5 s
            chunk = client.sock.recv(min(65536, total - len(received)))
            self.assertTrue(chunk, "closed after %d of %d bytes" % (len(received), total))
            received += chunk
            time.sleep(len(chunk) / 1.3e6)
        self.assertGreater(time.monotonic() - started, 3)
        self.assertTrue(bytes(received) == blocks(total), "the stream arrived intact")
        client.expect(b"\r\ns2 OK XSTREAM completed\r\n")
        # Now nothing moves either way: the timeout ends the connection.
        client.expect_closed(TIMEOUT_LINE)

    def test_a_parked_command_whose_client_stops_reading_ends_at_the_idle_timeout(self):
        host = self.start_host({"server": {"Timeout": 2}})
        client = self.connect(host).greet()
        client.send(b"s0 XSTREAM 0\r\n")
        if b"unrecognized" in client.read_line():
            self.skipTest("the host was built without the test commands")
        client.expect(b"\r\ns0 OK XSTREAM completed\r\n")
        client.send(b"s1 XSTREAM %d\r\n" % (200 << 20))
        # Reads nothing: the command stays parked and, once the kernel buffers are full (which
        # takes a moment on a loaded machine), nothing moves.
        time.sleep(6)
        # What the kernel buffers held, and no more: the stream does not go on.
        received = client.read_until_closed(limit=64 << 20)
        self.assertTrue(received.startswith(b"* XSTREAM {%d}\r\n" % (200 << 20)))
        other = self.connect(host).greet()  # the server goes on
        other.send(b"a1 NOOP\r\n")
        other.expect(noop_ok(b"a1"))

    def test_a_response_line_cut_at_the_limit_never_logs_in(self):
        host = self.start_host()
        client = self.connect(host).greet()
        # 53 340 base64 characters: cut at 32 700, a multiple of 4, they would still decode.
        response = base64.b64encode(b"\0joe\0" + b"p" * 40000)
        client.send(b"a1 AUTHENTICATE PLAIN\r\n")
        client.expect(b"+ \r\n")
        client.send(response + b"\r\n")
        client.expect(b"a1 BAD AUTHENTICATE parse error\r\n")
        client.send(b"a2 AUTHENTICATE PLAIN " + response + b"\r\n")
        client.expect(b"a2 BAD AUTHENTICATE parse error\r\n")
        client.login()  # still not logged in: LOGIN is accepted
        self.assertEqual(host.events("Connected")[0]["Password"], "secret")


class HostEndsTheUserTest(HostTestCase):
    def test_disconnect_inside_connected_ends_the_login_there(self):
        # Regression: LOGIN used to complete, and ListFolders to fire, for a user the host had
        # already been told was disconnected.
        host = self.start_host({"script": [{"on": "Connected", "nth": 1, "do": "Disconnect"}]})
        client = self.connect(host).greet()
        client.send(b"a1 LOGIN joe secret\r\na2 NOOP\r\n")
        client.expect_closed(b"")
        host.wait_events("Disconnected")
        names = [e["event"] for e in host.events()]
        self.assertEqual(names[names.index("Connected"):], ["Connected", "Disconnected", "Script"])

    def test_a_connection_ends_with_its_server(self):
        host = self.start_host({"script": [{"on": "Command", "nth": 1, "do": "ReleaseServer"}]})
        client = self.connect(host).greet()
        client.send(b"a1 NOOP\r\n")
        client.expect_closed(b"")
        self.assert_server_gone(host)
