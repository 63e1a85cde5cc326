"""Shared by the benchmarks: the fixture host, a private Dovecot, and the processes behind each."""

import grp
import json
import os
import platform
import pwd
import resource
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

USER = "bench"
PASSWORD = "benchpw"
# Dovecot runs no mail process as root: the bench user's mail processes take this account's uid
# and gid, and its Maildir is created owned by it.
MAIL_ACCOUNT = "nobody"

# Logged by Dovecot's master when a spare imap process it told to end (idle_kill) has not ended
# by its next check, as happens on a busy machine after thousands of connections closed at once:
# housekeeping, not a session that was turned away.
BENIGN_DOVECOT_ERRORS = ("is ignoring idle SIGINT",)


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


# ------------------------------------------------------------------------------------------------
# Processes and their memory


def proc_stat(pid):
    """(ppid, starttime) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[1]), int(fields[19])
    except (OSError, IndexError, ValueError):
        return None


def process_tree(root):
    """The root pid and all its descendants, with their start times (to tell a reused pid)."""
    children = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            st = proc_stat(int(name))
            if st:
                children.setdefault(st[0], []).append((int(name), st[1]))
    root_stat = proc_stat(root)
    if root_stat is None:
        return []
    tree, todo = [(root, root_stat[1])], [root]
    while todo:
        for pid, start in children.get(todo.pop(), []):
            tree.append((pid, start))
            todo.append(pid)
    return tree


def comm(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return ""


def pss_kib(pids):
    """PSS summed over the processes, from /proc/PID/smaps_rollup; processes gone are skipped."""
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
                        break
        except OSError:
            pass
    return total


def cpu_seconds(pids):
    """User plus system CPU time of the processes (all their threads), from /proc/PID/stat;
    processes gone are skipped."""
    ticks = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ticks += int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    return ticks / os.sysconf("SC_CLK_TCK")


def rss_kib(pids):
    """VmRSS summed over the processes; processes gone are skipped."""
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
                        break
        except OSError:
            pass
    return total


def kill_tree(tree, deadline_s=10):
    """SIGKILLs what is left of a recorded process tree (pids checked against their start times)."""
    for pid, start in tree:
        st = proc_stat(pid)
        if st and st[1] == start:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
    end = time.monotonic() + deadline_s
    while time.monotonic() < end:
        if not any((proc_stat(p) or (0, None))[1] == s for p, s in tree):
            return
        time.sleep(0.05)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def raise_fd_limit(needed):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard != resource.RLIM_INFINITY and hard < needed:
        if os.geteuid() != 0:
            raise Failure("need %d open files, the hard limit is %d" % (needed, hard))
        hard = needed
    if soft == resource.RLIM_INFINITY or soft < needed:
        resource.setrlimit(resource.RLIMIT_NOFILE, (needed, hard))


# ------------------------------------------------------------------------------------------------
# A private Dovecot


def dovecot_binary(name):
    return shutil.which(name) or next(
        (p for p in ("/usr/sbin/" + name, "/usr/bin/" + name) if os.access(p, os.X_OK)), None)


def ensure_dovecot():
    """Installs Debian's dovecot-imapd when missing, without letting its service start."""
    if dovecot_binary("dovecot") and os.path.exists("/usr/lib/dovecot/imap"):
        return
    if os.geteuid() != 0:
        raise Failure("Dovecot is not installed: run as root to install dovecot-imapd")
    # The package's scripts start the system service unless policy-rc.d forbids it; a policy
    # that already exists is left as it is.
    policy = "/usr/sbin/policy-rc.d"
    own_policy = not os.path.exists(policy)
    if own_policy:
        with open(policy, "w") as f:
            f.write("#!/bin/sh\n# kivimap bench: no service starts during install\n"
                    "exit 101\n")
        os.chmod(policy, 0o755)
    try:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        install = ["apt-get", "install", "-y", "-q", "--no-install-recommends", "dovecot-imapd"]
        log("installing dovecot-imapd")
        if subprocess.run(install, env=env, timeout=600).returncode != 0:
            subprocess.run(["apt-get", "update", "-q"], env=env, timeout=600)
            if subprocess.run(install, env=env, timeout=600).returncode != 0:
                raise Failure("apt-get install dovecot-imapd failed")
    finally:
        if own_policy:
            os.unlink(policy)
    if not dovecot_binary("dovecot"):
        raise Failure("dovecot-imapd installed, but no dovecot binary found")


DOVECOT_CONF = """\
# Private instance for kivimap's benchmarks: nothing here refers to /etc/dovecot or the system's
# run and state directories.
instance_name = {instance}
base_dir = {dir}/run
state_dir = {dir}/state
log_path = {dir}/dovecot.log
# The fixture host logs nothing per session either; warnings and errors still go to log_path.
info_log_path = /dev/null
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
mail_location = {mail_location}

passdb {{
  driver = passwd-file
  args = scheme=PLAIN {dir}/passwd
}}
# Mail processes may not run as root: they take the uid/gid of an unprivileged account that owns
# the mail folder.
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={dir}/mail/%u
}}

protocol imap {{
  mail_max_userip_connections = {connections}
}}

# Every logged-in connection's imap process holds connections to stats, log and anvil.
default_client_limit = {connections}
default_process_limit = 100

# Login processes: Debian's default is Dovecot's high-security mode (a new login process per
# connection: service_count 1); the tuned profile uses high-performance mode (long-lived login
# processes, one per CPU, each handing its logged-in connections to imap processes).
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener imaps {{
    port = 0
  }}
  service_count = {login_service_count}
  process_min_avail = {login_spare}
  process_limit = {login_processes}
  client_limit = {login_clients}
}}

# client_limit connections per imap process (1: Dovecot's default, a process per connection).
# service_count 0 lets a process whose session ended take the next one, with a few kept ready;
# service_count 1 forks and executes a new imap process for every session.
service imap {{
  process_limit = {imap_processes}
  client_limit = {imap_clients}
  service_count = {imap_service_count}
  process_min_avail = {imap_spare}
  idle_kill = 1 secs
}}

service auth {{
  client_limit = {auth_clients}
}}

service anvil {{
  client_limit = {anvil_clients}
}}
"""


class Dovecot:
    name = "Dovecot"

    def __init__(self, max_connections, imap_clients, fork_per_session, profile="debian",
                 mail_location="maildir:{dir}/mail/%u/Maildir"):
        """mail_location is Dovecot's setting; {dir} stands for the instance's folder, whose
        mail/ sub-folder belongs to MAIL_ACCOUNT (the user's home is mail/%u)."""
        self.binary = dovecot_binary("dovecot")
        self.version = subprocess.run([self.binary, "--version"], stdout=subprocess.PIPE,
                                      text=True, timeout=30).stdout.strip()
        self.profile = profile
        # Debian's shipped configuration: a process per login and a new imap process per session.
        if profile == "debian":
            imap_clients, fork_per_session = 1, True
        self.imap_clients = imap_clients
        self.fork_per_session = fork_per_session
        self.imap_spare = 0 if fork_per_session else 4
        self.proc = None
        self.tree = []
        self.dir = tempfile.mkdtemp(prefix="kivimap-bench-dovecot-")
        # The mail processes run as MAIL_ACCOUNT and must get through to their mail folder.
        os.chmod(self.dir, 0o711)
        account = pwd.getpwnam(MAIL_ACCOUNT)
        os.mkdir(os.path.join(self.dir, "mail"))
        os.chown(os.path.join(self.dir, "mail"), account.pw_uid, account.pw_gid)
        with open(os.path.join(self.dir, "passwd"), "w") as f:
            f.write("%s:{PLAIN}%s\n" % (USER, PASSWORD))
        # The auth process runs as Dovecot's internal user (default_internal_user = dovecot).
        os.chown(os.path.join(self.dir, "passwd"), 0, grp.getgrnam("dovecot").gr_gid)
        os.chmod(os.path.join(self.dir, "passwd"), 0o640)
        self.conf = os.path.join(self.dir, "dovecot.conf")
        self.max_connections = max_connections
        self.mail_location = mail_location.replace("{dir}", self.dir)

    def start(self):
        account = pwd.getpwnam(MAIL_ACCOUNT)
        cpus = len(os.sched_getaffinity(0))
        connections = self.max_connections + 1000
        imap_clients = self.imap_clients
        for attempt in range(5):
            self.port = free_port()
            with open(self.conf, "w") as f:
                f.write(DOVECOT_CONF.format(
                    instance="kivimap-bench-%d" % os.getpid(), dir=self.dir,
                    mail_location=self.mail_location, uid=account.pw_uid,
                    gid=account.pw_gid, port=self.port, cpus=cpus, connections=connections,
                    login_service_count=1 if self.profile == "debian" else 0,
                    login_spare=0 if self.profile == "debian" else cpus,
                    login_processes=connections if self.profile == "debian" else cpus,
                    login_clients=1 if self.profile == "debian" else 1024,
                    imap_clients=imap_clients,
                    imap_processes=connections // imap_clients + 100,
                    imap_service_count=1 if self.fork_per_session else 0,
                    imap_spare=self.imap_spare,
                    auth_clients=connections + connections // imap_clients + 200,
                    anvil_clients=2 * connections + 200))
            if self._start():
                return
            log("Dovecot did not start on port %d, retrying:\n%s" % (self.port, self.log_tail(3)))
        raise Failure("Dovecot did not start:\n" + self.log_tail())

    def _start(self):
        out = open(os.path.join(self.dir, "master.out"), "w")
        # Its own session: a Ctrl-C reaches this script, which then stops the instance in order.
        self.proc = subprocess.Popen([self.binary, "-F", "-c", self.conf], stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        out.close()
        end = time.monotonic() + 30
        while time.monotonic() < end:
            if self.proc.poll() is not None:
                return False
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
                    if s.recv(512).startswith(b"* OK "):
                        self.tree = process_tree(self.proc.pid)
                        return True
            except OSError:
                time.sleep(0.1)
        self._stop()
        return False

    def log_tail(self, lines=20):
        text = ""
        for name in ("master.out", "dovecot.log"):
            try:
                with open(os.path.join(self.dir, name), errors="replace") as f:
                    text += "".join(f.readlines()[-lines:])
            except OSError:
                pass
        return text

    def problems(self):
        """Warnings and errors from its log (info lines go nowhere), the shutdown's own left out."""
        try:
            with open(os.path.join(self.dir, "dovecot.log"), errors="replace") as f:
                return [line.rstrip("\n") for line in f
                        if ": Info: " not in line and "Killed with signal 15" not in line]
        except OSError:
            return []

    def pids(self):
        tree = process_tree(self.proc.pid)
        self.tree = list({p: s for p, s in self.tree + tree}.items())
        return [pid for pid, _ in tree]

    def imap_processes(self):
        return [pid for pid in self.pids() if comm(pid) == "imap"]

    def settle(self, deadline_s):
        """Waits until only the spare imap processes are left from the closed connections."""
        if self.proc.poll() is not None:
            raise Failure("Dovecot exited:\n" + self.log_tail())
        end = time.monotonic() + deadline_s
        while len(self.imap_processes()) > self.imap_spare:
            if time.monotonic() > end:
                raise Failure("Dovecot still has %d imap processes %d s after the connections "
                              "closed" % (len(self.imap_processes()), deadline_s))
            time.sleep(0.1)

    def check_connections(self, n):
        count = len(self.imap_processes())
        needed = -(-n // self.imap_clients)
        if count < needed:
            raise Failure("%d connections logged in but Dovecot runs only %d imap processes "
                          "(expected at least %d)" % (n, count, needed))

    def _stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.pids()
            self.proc.send_signal(signal.SIGTERM)  # what "doveadm stop" asks of the master
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        kill_tree(self.tree)
        self.tree = []

    def restart(self):
        self._stop()
        self.start()

    def close(self):
        self._stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    nproc = subprocess.run(["nproc"], stdout=subprocess.PIPE, text=True).stdout.strip()
    return "%s CPUs (nproc), %s, Linux %s" % (nproc, model, platform.release())




# ------------------------------------------------------------------------------------------------
# The fixture host


DEFAULT_HOST = "build/release/kivimap-fixture-host"


def host_path(argument):
    path = argument or os.environ.get("KIVIMAP_FIXTURE_HOST") or DEFAULT_HOST
    if not os.access(path, os.X_OK):
        sys.exit("no fixture host at %s: build the kivimap-fixture-host target first, or pass "
                 "its path (or set KIVIMAP_FIXTURE_HOST)" % path)
    return path


class FixtureHost:
    """A fixture host serving the given fixture on a free loopback port."""

    def __init__(self, binary, fixture):
        self.dir = tempfile.TemporaryDirectory(prefix="kivimap-bench-")
        path = os.path.join(self.dir.name, "fixture.json")
        with open(path, "w") as f:
            json.dump(fixture, f)
        self.proc = subprocess.Popen([binary, "--fixture", path], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
        line = self._first_line(timeout=30)
        if not line.startswith("PORT "):
            self.close()
            sys.exit("the fixture host did not start: %r" % line)
        self.port = int(line[5:])

    def _first_line(self, timeout):
        fd = self.proc.stdout.fileno()
        poll = select.poll()  # the benchmark may hold more than FD_SETSIZE descriptors
        poll.register(fd, select.POLLIN)
        data = b""
        deadline = time.monotonic() + timeout
        while b"\n" not in data and time.monotonic() < deadline:
            if not poll.poll(max(0, deadline - time.monotonic()) * 1000):
                break
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            data += chunk
        return data.split(b"\n", 1)[0].decode("utf-8", "replace")

    def rss_kib(self):
        """Resident set size of the host process, from /proc."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmRSS in /proc/%d/status" % self.proc.pid)

    def close(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()
        self.dir.cleanup()


def expect(sock, expected, timeout):
    """Reads exactly the expected bytes from a blocking socket or exits with what came instead."""
    sock.settimeout(timeout)
    data = b""
    while len(data) < len(expected):
        chunk = sock.recv(len(expected) - len(data))
        if not chunk:
            break
        data += chunk
    if data != expected:
        sys.exit("expected %r, got %r" % (expected[:200], data[:200]))
