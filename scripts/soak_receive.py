#!/usr/bin/env python3
"""Soak of the receive road: plumadex-cli receive and file, killed, cut off and starved of disk.

    scripts/soak_receive.py --cli build/src/plumadex-cli [--runs N] [--seed S] [--work DIR]

Runs as root: it starts Dovecot (POP3 over TLS, two accounts: one keeps its mail on the
server, one does not) and the loopback mail service (tests/peer/service_peer.py) on 127.0.0.1,
and puts the data root on a small tmpfs of its own. Each run delivers new mail to the three
accounts (the service sometimes twice, as a sender does whose upload was stored but never
confirmed), then does one of:

    kill-receive   plumadex-cli receive, killed (SIGKILL) at a random moment
    kill-file      receive --no-file, then plumadex-cli file killed at a random moment
    cut            the connections cut: POP3 through a relay that cuts after some bytes, the
                   service dropping a download or a confirmation half-way
    full-disk      receive with the disk filled up to a few kilobytes

At the end the faults are gone and receive runs until nothing is left to fetch or file. The
soak passes when every message delivered is filed exactly once, none is missing from both
the server and the documents (deleted on a server unfiled), and the spool and the quarantine
are empty. Exit status 0 on success, 1 on a failure, 77 when it cannot run here (not root,
no Dovecot).
"""
import argparse
import bz2
import json
import os
import random
import re
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP = 77


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(port, seconds=15):
    until = time.time() + seconds
    while time.time() < until:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


# ---- servers ------------------------------------------------------------------------------------

class Dovecot:
    USERS = ("keep", "nokeep")

    def __init__(self, work):
        self.dir = os.path.join(work, "dovecot")
        os.makedirs(self.dir)
        os.chmod(self.dir, 0o755)
        d = self.dir
        for args in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
                      "-days", "2", "-subj", "/CN=Soak CA"],
                     ["req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                      "-subj", "/CN=localhost"]):
            subprocess.run(["openssl"] + args, cwd=d, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        with open(os.path.join(d, "ext.cnf"), "w") as f:
            f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
        subprocess.run(["openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                        "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "ext.cnf"],
                       cwd=d, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        import pwd
        nobody = pwd.getpwnam("nobody")
        self.uid, self.gid = nobody.pw_uid, nobody.pw_gid
        with open(os.path.join(d, "passwd"), "w") as f:
            for u in self.USERS:
                f.write("%s:{PLAIN}pw-%s\n" % (u, u))
                for sub in ("new", "cur", "tmp"):
                    os.makedirs(self.maildir(u, sub))
        for base, dirs, files in os.walk(os.path.join(d, "mail")):
            os.chown(base, self.uid, self.gid)
        self.port = free_port()
        with open(os.path.join(d, "dovecot.conf"), "w") as f:
            f.write("""base_dir = {d}/run
state_dir = {d}/state
log_path = {d}/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = yes
ssl_cert = <{d}/server.crt
ssl_key = <{d}/server.key
auth_mechanisms = plain
auth_failure_delay = 0
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {d}/passwd
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={d}/mail/%u
}}
mail_location = maildir:~/Maildir
first_valid_uid = 1
first_valid_gid = 1
default_internal_user = dovecot
default_login_user = dovenull
pop3_uidl_format = %08Xu%08Xv
service pop3-login {{
  inet_listener pop3 {{
    port = 0
  }}
  inet_listener pop3s {{
    port = {port}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
}}
""".format(d=d, uid=self.uid, gid=self.gid, port=self.port))
        self.proc = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", os.path.join(d, "dovecot.conf")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(self.port):
            raise RuntimeError("Dovecot did not start")
        self.sequence = 0

    def maildir(self, user, sub=""):
        return os.path.join(self.dir, "mail", user, "Maildir", sub)

    def put(self, user, data):
        self.sequence += 1
        name = "%d.M%dP1.soak" % (1000000000 + self.sequence, self.sequence)
        tmp = os.path.join(self.maildir(user, "tmp"), name)
        with open(tmp, "wb") as f:
            f.write(data)
        os.chown(tmp, self.uid, self.gid)
        os.rename(tmp, os.path.join(self.maildir(user, "new"), name))

    def subjects(self, user):
        out = []
        for sub in ("new", "cur"):
            for n in os.listdir(self.maildir(user, sub)):
                with open(os.path.join(self.maildir(user, sub), n), "rb") as f:
                    m = re.search(rb"\r\nSubject: ([^\r\n]*)", b"\r\n" + f.read())
                    if m:
                        out.append(m.group(1).decode())
        return out

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Peer:
    def __init__(self, work, user, password):
        self.state = os.path.join(work, "peer")
        os.makedirs(self.state)
        self.user = user
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tests/peer/service_peer.py"), "--port", "0", "--state", self.state,
             "--user", "%s:%s" % (user, password)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline().strip()
        prefix = "listening on 127.0.0.1:"
        if not line.startswith(prefix):
            raise RuntimeError("the service peer did not start: " + line)
        self.port = int(line[len(prefix):])
        self.ca = os.path.join(self.state, "ca.pem")
        self.ctx = ssl.create_default_context(cafile=self.ca)

    def request(self, path, data=None):
        req = urllib.request.Request("https://localhost:%d%s" % (self.port, path), data=data,
                                     method="POST" if data is not None else "GET")
        with urllib.request.urlopen(req, context=self.ctx, timeout=10) as r:
            return r.read()

    def fault(self, kind, query):
        self.request("/_test/fault?kind=%s&%s" % (kind, query))

    def clear_faults(self):
        self.request("/_test/fault?clear=1")

    def put(self, sender, subject, messageid, copies=1):
        envelope = ('<?xml version="1.0"?>\r\n<!DOCTYPE pxmailfile>\r\n<pxmailfile>\r\n<Header>\r\n'
                    '<version ver="3.01"/>\r\n<From addr="%s" user="%s"/>\r\n<To addr="%s"/>\r\n'
                    '<Date sent="Tue, 4 Mar 2003 10:00:00 +0100" received="03/04/03 09:00:00"/>\r\n'
                    '<Subject>%s</Subject>\r\n<Fileinfo filename="x" ext="txt"/>\r\n'
                    '<msgid messageid="%s"/>\r\n</Header>\r\n</pxmailfile>\r\n'
                    % (sender, sender, self.user, subject, messageid)).encode()
        body = ("Soak message %s\r\n" % subject).encode() * 20
        ez, bz = bz2.compress(envelope), bz2.compress(body)
        record = struct.pack("<III", len(ez), len(envelope), len(body)) + ez + bz
        q = "user=%s&from=%s&subject=%s&ext=txt&messageid=%s" % (self.user, sender, subject, messageid)
        for _ in range(copies):
            self.request("/_test/store?" + q, record)

    def subjects(self):
        box = os.path.join(self.state, "mail", self.user)
        out = []
        if not os.path.isdir(box):
            return out
        for n in os.listdir(box):
            if n.endswith(".json"):
                with open(os.path.join(box, n)) as f:
                    out.append(json.load(f).get("subject", ""))
        return out

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class CutRelay:
    """tests/pop3/cut_proxy.py in front of Dovecot on a fixed port (the accounts' server names
    never change): the first connection is cut after BYTES (0: never)."""

    def __init__(self, target, port, cut_after=0):
        for _ in range(50):
            self.proc = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests/pop3/cut_proxy.py"), "--target",
                                          str(target), "--port", str(port), "--cut-after", str(cut_after)],
                                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            line = self.proc.stdout.readline().strip()
            if line.isdigit():
                self.port = int(line)
                return
            self.proc.wait()
            time.sleep(0.1)
        raise RuntimeError("the relay cannot listen on port %d" % port)

    def stop(self):
        self.proc.kill()
        self.proc.wait()


# ---- the program under test -----------------------------------------------------------------------

class Desk:
    def __init__(self, cli, home, env):
        self.cli, self.home, self.env = cli, home, env

    def run(self, args, kill_after=None, stdin=None, timeout=120):
        p = subprocess.Popen([self.cli] + args, env=self.env, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if stdin:
            p.stdin.write(stdin.encode())
            p.stdin.close()
        killed = False
        if kill_after is not None:
            try:
                p.wait(kill_after)
            except subprocess.TimeoutExpired:
                p.send_signal(signal.SIGKILL)
                killed = True
        try:
            p.wait(timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            raise RuntimeError("plumadex-cli %s did not finish in %d s" % (" ".join(args), timeout))
        err = p.stderr.read().decode(errors="replace")
        return p.returncode, killed, err

    def where(self):
        out = subprocess.run([self.cli, "where"], env=self.env, capture_output=True, text=True).stdout
        folders = {}
        for line in out.splitlines():
            if ":" in line:
                k, v = line.split(":", 1)
                folders[k.strip().lower()] = v.strip()
        return folders


def filed_subjects(documents):
    """Subject -> how many documents carry it ("soak-..." names; " (2)" and the like folded)."""
    count = {}
    for base, dirs, files in os.walk(documents):
        for n in files:
            m = re.match(r"^(soak-[a-z]+-\d+)( \(\d+\))?\.txt$", n)
            if m:
                count[m.group(1)] = count.get(m.group(1), 0) + 1
    return count


def files_in(folder):
    if not os.path.isdir(folder):
        return []
    return [n for n in os.listdir(folder) if not n.startswith(".")]


# ---- the soak -------------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--runs", type=int, default=200)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--work", default=None)
    ap.add_argument("--per-run", type=int, default=6, help="messages delivered to each account per run")
    ap.add_argument("--disk-mb", type=int, default=96)
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    args = ap.parse_args()
    if os.getuid() != 0:
        print("soak_receive: runs as root (Dovecot, tmpfs)")
        return SKIP
    if not os.access("/usr/sbin/dovecot", os.X_OK) or not shutil.which("openssl"):
        print("soak_receive: Dovecot or openssl is missing (scripts/install-deps.sh installs them)")
        return SKIP
    seed = args.seed if args.seed is not None else int(time.time())
    rnd = random.Random(seed)
    work = args.work or tempfile.mkdtemp(prefix="px-soak-")
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % args.disk_mb, "tmpfs", home]).returncode != 0:
        print("soak_receive: cannot mount a tmpfs")
        return SKIP
    dovecot = peer = relay = None
    stats = {"runs": 0, "kill-receive": 0, "kill-file": 0, "cut": 0, "full-disk": 0, "killed": 0,
             "delivered": 0, "service repeats sent": 0}
    try:
        dovecot = Dovecot(work)
        peer = Peer(work, "soakuser", "soakpw")
        env = dict(os.environ, PLUMADEX_HOME=home, SSL_CERT_FILE=os.path.join(dovecot.dir, "ca.crt"),
                   PLUMADEX_SERVICE_CA=peer.ca, QT_QPA_PLATFORM="offscreen")
        desk = Desk(args.cli, home, env)
        rc, _, err = desk.run(["service", "set", "--user", "soakuser", "--server", "localhost:%d" % peer.port,
                               "--password-stdin"], stdin="soakpw\n")
        if rc != 0:
            raise RuntimeError("service set: " + err)

        def set_pop3(port):
            for u in Dovecot.USERS:
                extra = ["--keep"] if u == "keep" else []
                desk.run(["accounts", "remove", u + "@soak.test"])
                rc, _, err = desk.run(["accounts", "add", u + "@soak.test", "--server", "localhost:%d" % port,
                                       "--user", u, "--password-stdin", "--security", "tls"] + extra,
                                      stdin="pw-%s\n" % u)
                if rc != 0:
                    raise RuntimeError("accounts add: " + err)

        relay_port = free_port()
        relay = CutRelay(dovecot.port, relay_port)
        set_pop3(relay_port)
        folders = desk.where()
        documents = folders.get("documents") or os.path.join(home, "Documents")
        data_root = folders.get("data root") or folders.get("data") or home
        delivered = {"keep": [], "nokeep": [], "service": []}
        serial = 0
        filler = os.path.join(home, "filler")

        def deliver():
            nonlocal serial
            for _ in range(args.per_run):
                for u in Dovecot.USERS:
                    serial += 1
                    s = "soak-%s-%d" % (u, serial)
                    msg = ("From: Soak <soak@example.org>\r\nTo: %s@soak.test\r\nSubject: %s\r\n"
                           "Message-ID: <%s@soak.test>\r\n\r\n" % (u, s, s)) + ("Soak body line\r\n" * 40)
                    dovecot.put(u, msg.encode())
                    delivered[u].append(s)
                serial += 1
                s = "soak-service-%d" % serial
                copies = 2 if rnd.random() < 0.3 else 1
                peer.put("ann", s, "S%d" % serial, copies)
                stats["service repeats sent"] += copies - 1
                delivered["service"].append(s)
                stats["delivered"] += 3

        def fill_disk(leave):
            with open(filler, "wb") as f:
                chunk = b"\0" * 65536
                while True:
                    st = os.statvfs(home)
                    if st.f_bavail * st.f_frsize <= leave + len(chunk):
                        break
                    try:
                        f.write(chunk)
                        f.flush()
                    except OSError:
                        break

        for run in range(args.runs):
            stats["runs"] += 1
            deliver()
            mode = rnd.choice(["kill-receive", "kill-file", "cut", "full-disk"])
            stats[mode] += 1
            if mode == "kill-receive":
                _, killed, _ = desk.run(["receive", "--quiet"], kill_after=rnd.uniform(0.02, 0.8))
                stats["killed"] += killed
            elif mode == "kill-file":
                desk.run(["receive", "--no-file", "--quiet"])
                _, killed, _ = desk.run(["file", "--quiet"], kill_after=rnd.uniform(0.0, 0.15))
                stats["killed"] += killed
            elif mode == "cut":
                relay.stop()
                relay = CutRelay(dovecot.port, relay_port, rnd.randint(2000, 12000))
                peer.fault(rnd.choice(["getfile", "confirm"]),
                           rnd.choice(["fault=drop_after&bytes=%d" % rnd.randint(0, 300), "fault=store_then_drop",
                                       "fault=status&status=500"]))
                desk.run(["receive", "--quiet"])
                relay.stop()
                relay = CutRelay(dovecot.port, relay_port)
                peer.clear_faults()
            else:
                fill_disk(rnd.choice([16, 64, 256]) * 1024)
                desk.run(["receive", "--quiet"])
                os.unlink(filler)
            if (run + 1) % 20 == 0:
                print("soak_receive: %d runs" % (run + 1), flush=True)

        # The faults are gone: what is left is fetched and filed.
        for _ in range(4):
            rc, _, err = desk.run(["receive", "--quiet"])
            if rc != 0:
                print("soak_receive: the last receive runs: " + err.strip()[:2000])
        spool = folders.get("spool") or os.path.join(data_root, "Inbox")
        quarantine = os.path.join(data_root, "Quarantine")
        filed = filed_subjects(documents)
        on_server = {"keep": set(dovecot.subjects("keep")), "nokeep": set(dovecot.subjects("nokeep")),
                     "service": set(peer.subjects())}
        twice = sorted(s for s, n in filed.items() if n > 1)
        missing, lost = [], []
        for src, subjects in delivered.items():
            for s in subjects:
                if filed.get(s, 0) == 0:
                    missing.append(s)
                    if s not in on_server[src]:
                        lost.append(s)
        left_on_servers = len(on_server["nokeep"]) + len(on_server["service"])
        stats.update({"filed once": sum(1 for n in filed.values() if n == 1), "filed twice or more": len(twice),
                      "not filed": len(missing), "deleted on a server unfiled": len(lost),
                      "left on servers without keep": left_on_servers,
                      "spool files left": len(files_in(spool)), "quarantined": len(files_in(quarantine))})
        print("soak_receive: seed %d" % seed)
        for k, v in stats.items():
            print("  %-30s %d" % (k, v))
        ok = not twice and not missing and not lost and not files_in(spool) and not files_in(quarantine) \
            and left_on_servers == 0 and len(filed) == stats["delivered"]
        if not ok:
            print("soak_receive: FAILED; twice: %s; not filed: %s; spool: %s; quarantine: %s" %
                  (twice[:10], missing[:10], files_in(spool)[:10], files_in(quarantine)[:10]))
            shutil.copytree(home, os.path.join(work, "home-at-end"), symlinks=True, dirs_exist_ok=True)
            print("soak_receive: work folder kept: " + work)
            args.keep = True
        return 0 if ok else 1
    finally:
        if relay:
            relay.stop()
        if peer:
            peer.stop()
        if dovecot:
            dovecot.stop()
        subprocess.run(["umount", "-l", home])
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
