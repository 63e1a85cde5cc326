#!/usr/bin/env python3
"""Checks that imapload refuses wrong answers: runs it against a scripted loopback server that
answers right, then wrong in one way at a time, and expects success only for the right one.

    bench/loadgen/selftest.py path/to/imapload

bench/compare-core runs it whenever it has just compiled the tool.
"""

import socket
import socketserver
import subprocess
import sys
import threading

GOOD = {
    "greeting": b"* OK [CAPABILITY IMAP4rev1] ready\r\n",
    "LOGIN": b"* CAPABILITY IMAP4rev1 IDLE\r\n{tag} OK [CAPABILITY IMAP4rev1] Logged in\r\n",
    "NOOP": b"{tag} OK NOOP completed\r\n",
    "LOGOUT": b"* BYE Logging out\r\n{tag} OK LOGOUT completed\r\n",
    "close_after_logout": True,
}

# name -> (changes to GOOD, modes that must fail); every other mode must still pass.
CASES = {
    "right answers": ({}, ()),
    "greeting not OK": ({"greeting": b"* NO busy\r\n"}, ("churn", "noop", "idle")),
    "greeting OKAY": ({"greeting": b"* OKAY\r\n"}, ("churn", "noop", "idle")),
    "LOGIN refused": ({"LOGIN": b"{tag} NO denied\r\n"}, ("churn", "noop", "idle")),
    "LOGIN OK under another tag": ({"LOGIN": b"x{tag} OK in\r\n"}, ("churn", "noop", "idle")),
    "LOGIN answer with a control byte": ({"LOGIN": b"{tag} OK in\x01\r\n"},
                                         ("churn", "noop", "idle")),
    "LOGIN answer ending in a bare LF": ({"LOGIN": b"{tag} OK in\n"}, ("churn", "noop", "idle")),
    "untagged line without a word": ({"LOGIN": b"*  \r\n{tag} OK in\r\n"},
                                     ("churn", "noop", "idle")),
    "literal in an answer": ({"LOGIN": b"* CAPABILITY {3}\r\n{tag} OK in\r\n"},
                             ("churn", "noop", "idle")),
    "closed instead of LOGIN's answer": ({"LOGIN": None}, ("churn", "noop", "idle")),
    "NOOP BAD": ({"NOOP": b"{tag} BAD what\r\n"}, ("noop", "idle")),
    "NOOP answered twice": ({"NOOP": b"{tag} OK\r\n{tag} OK\r\n"}, ("noop", "idle")),
    "LOGOUT without BYE": ({"LOGOUT": b"{tag} OK bye\r\n"}, ("churn", "noop")),
    "bytes after LOGOUT's OK": ({"LOGOUT": b"* BYE x\r\n{tag} OK bye\r\n* 1 EXISTS\r\n"},
                                ("churn", "noop")),
    "no close after LOGOUT": ({"close_after_logout": False}, ("churn", "noop")),
}


def serve(behaviour):
    class Handler(socketserver.BaseRequestHandler):
        def handle(self):
            s = self.request
            s.settimeout(10)
            s.sendall(behaviour["greeting"])
            buf = b""
            try:
                while True:
                    while b"\r\n" not in buf:
                        chunk = s.recv(4096)
                        if not chunk:
                            return
                        buf += chunk
                    line, buf = buf.split(b"\r\n", 1)
                    tag, command = (line.split(b" ") + [b""])[:2]
                    answer = behaviour.get(command.decode().upper())
                    if answer is None:
                        return
                    s.sendall(answer.replace(b"{tag}", tag))
                    if command.upper() == b"LOGOUT":
                        if behaviour["close_after_logout"]:
                            return
                        s.recv(1)  # hold the connection open until the client gives up
            except OSError:
                return

    class Server(socketserver.ThreadingTCPServer):
        daemon_threads = True
        allow_reuse_address = True
        request_queue_size = 256

    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def run(tool, mode, port):
    args = [tool, mode, "--port", str(port), "--session-timeout", "1"]
    if mode == "churn":
        args += ["--clients", "2", "--seconds", "0.2", "--warmup", "0", "--max-sessions", "20"]
    elif mode == "noop":
        args += ["--clients", "2", "--seconds", "0.2", "--warmup", "0", "--max-sessions", "20",
                 "--max-noops", "20"]
    else:
        args += ["--steps", "3,6", "--step-timeout", "5"]
    proc = subprocess.run(args, input="next\nnext\n", stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=30)
    return proc.returncode == 0, (proc.stdout + proc.stderr).strip()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().split("\n\n")[1])
    tool = sys.argv[1]
    passed = failed = 0
    for name, (changes, must_fail) in CASES.items():
        server = serve(dict(GOOD, **changes))
        port = server.server_address[1]
        for mode in ("churn", "noop", "idle"):
            ok, output = run(tool, mode, port)
            # A refusal must come from checking the answer, not from failing to reach the server.
            refused_for_answer = "imapload: FAIL" in output and "connect:" not in output
            if (ok and mode not in must_fail) or (not ok and mode in must_fail and
                                                  refused_for_answer):
                passed += 1
            else:
                failed += 1
                print("%s, %s: expected %s, got: %s" % (
                    name, mode, "failure" if mode in must_fail else "success", output[-300:]))
        server.shutdown()
        server.server_close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
