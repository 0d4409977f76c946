#!/usr/bin/env python3
"""A loopback stand-in for the Plumadex mail service, for tests and benchmarks.

It serves the service's requests over HTTPS on 127.0.0.1 with a certificate made at start by the
`openssl` command (the CA goes to STATE/ca.pem), keeps a mailbox per user under STATE/mail/USER/,
and logs every request it handles (STATE/log.jsonl, and GET /_test/log).

Faults are set per request kind over a test-only request, without authentication:
    GET /_test/fault?kind=KIND&fault=FAULT[&count=N][&bytes=N][&status=N][&seconds=S][&rate=R]
    GET /_test/fault?clear=1
KIND is one of: putmail, index, getfile, confirm, accounttest, keys, pass, version, register.
FAULT is one of:
    drop_after     read (uploads) or send (replies) BYTES bytes, then drop the connection
    store_then_drop  do the work (store the upload, delete the confirmed file), then drop
    wrong_size     reply to an upload with a wrong byte count; send a getfile reply one byte short
    status         reply with HTTP STATUS (401, 404, 500, ...) and do nothing
    delay          wait SECONDS, then answer normally
    trickle        send the reply at RATE bytes per second
    listing        (index only) reply with a hostile listing, VARIANT one of:
                     nodecl  the listing without its XML declaration
                     names   the listing with extra entries whose names hold "&", "../", CR LF
                     huge    a listing of BYTES bytes (default 70 MiB) of padding
                     badxml  a listing that does not parse
Stored records can also be put into a mailbox as they are (damaged ones included):
    POST /_test/store?user=NAME[&from=..][&subject=..][&ext=..][&messageid=..][&currpart=..]
         [&size=N]   the body is the record; SIZE overrides the size the listing gives
The key server's store can be read and set:
    GET /_test/key                the published keys as JSON (user name -> armoured text)
    POST /_test/key?user=NAME     the body becomes what "listkey" answers for NAME (empty: none)
Each fault applies COUNT times (default 1), in the order they were added for that kind. New
kinds of request add a handler and an entry in HANDLERS; faults then work for them unchanged.
"""
import argparse
import bz2
import json
import os
import re
import signal
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SERVICE_DOMAIN = "plumadex.net"


# ---- certificates --------------------------------------------------------------------------------

def run_openssl(args, cwd):
    subprocess.run(["openssl"] + args, cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(state, host_name, expired):
    """CA (kept when present) and a fresh leaf for host_name; an expired leaf on request."""
    pki = os.path.join(state, "pki")
    os.makedirs(pki, exist_ok=True)
    ca_pem = os.path.join(state, "ca.pem")
    ca_key = os.path.join(pki, "ca.key")
    if not (os.path.exists(ca_pem) and os.path.exists(ca_key)):
        run_openssl(["req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-keyout", ca_key, "-out", ca_pem, "-days", "3650",
                     "-subj", "/CN=Plumadex Test Root",
                     "-addext", "basicConstraints=critical,CA:TRUE",
                     "-addext", "keyUsage=critical,keyCertSign,cRLSign"], pki)
    key = os.path.join(pki, "server.key")
    csr = os.path.join(pki, "server.csr")
    crt = os.path.join(pki, "server.pem")
    run_openssl(["req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + host_name], pki)
    san = "IP:" + host_name if re.fullmatch(r"[0-9.]+", host_name) else "DNS:" + host_name
    if host_name == "localhost":
        san += ",IP:127.0.0.1"
    with open(os.path.join(pki, "ext.cnf"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=serverAuth\nsubjectAltName=%s\n" % san)
    with open(os.path.join(pki, "index.txt"), "w"):
        pass
    with open(os.path.join(pki, "serial"), "w") as f:
        f.write("%016X\n" % (int(time.time() * 1000) & 0xFFFFFFFFFFFF))
    with open(os.path.join(pki, "ca.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca=d\n[d]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n"
                "default_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncommonName=supplied\n")
    if expired:
        dates = ["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"]
    else:
        now = time.gmtime(time.time() - 3600)
        dates = ["-startdate", time.strftime("%Y%m%d%H%M%SZ", now), "-days", "30"]
    run_openssl(["ca", "-batch", "-notext", "-config", "ca.cnf", "-cert", ca_pem, "-keyfile", ca_key,
                 "-in", csr, "-out", crt, "-extfile", "ext.cnf"] + dates, pki)
    return crt, key


# ---- stored mail ---------------------------------------------------------------------------------

def parse_record(data):
    """(envelope text, file length) of one upload record; raises ValueError when malformed."""
    if len(data) < 12:
        raise ValueError("record shorter than its header")
    clen, tlen, flen = struct.unpack_from("<III", data, 0)
    if 12 + clen > len(data):
        raise ValueError("envelope runs past the record")
    envelope = bz2.decompress(data[12:12 + clen])
    if len(envelope) != tlen:
        raise ValueError("envelope length %d, header says %d" % (len(envelope), tlen))
    dec = bz2.BZ2Decompressor()
    got = 0
    body = data[12 + clen:]
    step = 1 << 20
    for i in range(0, len(body), step):
        got += len(dec.decompress(body[i:i + step]))
    if not dec.eof or dec.unused_data:
        raise ValueError("file stream is not one whole bzip2 stream")
    if got != flen:
        raise ValueError("file length %d, header says %d" % (got, flen))
    return envelope.decode("latin-1"), flen


def attr(text, element, name):
    m = re.search(r"<%s\b[^>]*\b%s=\"([^\"]*)\"" % (element, name), text)
    return m.group(1) if m else ""


def attrs_all(text, element, name):
    return re.findall(r"<%s\b[^>]*\b%s=\"([^\"]*)\"" % (element, name), text)


def unescape(s):
    s = re.sub(r"&#(\d+);", lambda m: chr(int(m.group(1))), s)
    return (s.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"")
             .replace("&apos;", "'").replace("&amp;", "&"))


def bare_address(entry):
    entry = unescape(entry).strip()
    m = re.search(r"<([^>]*)>", entry)
    addr = (m.group(1) if m else entry).strip().strip("\"").lower()
    if addr.endswith("@" + SERVICE_DOMAIN):
        addr = addr[:-len(SERVICE_DOMAIN) - 1]
    return addr


def xml_attr(s):
    return (s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
             .replace("\"", "&quot;"))


class Service:
    def __init__(self, state, users):
        self.state = state
        self.users = dict(users)
        self.lock = threading.Lock()
        self.faults = {}
        self.log = []
        self.counter = 0
        self.keys = {}
        os.makedirs(os.path.join(state, "mail"), exist_ok=True)
        self.log_file = open(os.path.join(state, "log.jsonl"), "a", buffering=1)

    def record(self, entry):
        with self.lock:
            entry["time"] = time.time()
            self.log.append(entry)
            self.log_file.write(json.dumps(entry) + "\n")

    def take_fault(self, kind):
        with self.lock:
            queue = self.faults.get(kind) or []
            while queue:
                f = queue[0]
                if f["count"] <= 0:
                    queue.pop(0)
                    continue
                f["count"] -= 1
                if f["count"] <= 0:
                    queue.pop(0)
                return dict(f)
            return None

    def mailbox(self, user):
        path = os.path.join(self.state, "mail", user)
        os.makedirs(path, exist_ok=True)
        return path

    def new_file_name(self):
        with self.lock:
            self.counter += 1
            return "%d%06d.pxm" % (int(time.time()), self.counter)

    def store(self, user, record, meta):
        name = self.new_file_name()
        box = self.mailbox(user)
        tmp = os.path.join(box, "." + name)
        with open(tmp, "wb") as f:
            f.write(record)
        with open(os.path.join(box, name + ".json"), "w") as f:
            json.dump(meta, f)
        os.rename(tmp, os.path.join(box, name))
        return name

    def deliver(self, sender, record):
        envelope, flen = parse_record(record)
        delivered_to = attr(envelope, "Delivered-To", "addr")
        if delivered_to:
            recipients = [bare_address(delivered_to)]
        else:
            recipients = [bare_address(a) for el in ("To", "Cc", "Bcc") for a in attrs_all(envelope, el, "addr")]
        meta = {
            "from": unescape(attr(envelope, "From", "addr")) or sender,
            "to": ", ".join(unescape(a) for a in attrs_all(envelope, "To", "addr")),
            "subject": unescape((re.search(r"<Subject>(.*?)</Subject>", envelope, re.S) or [None, ""])[1]),
            "ext": unescape(attr(envelope, "Fileinfo", "ext")),
            "charset": attr(envelope, "Fileinfo", "charset"),
            "messageid": attr(envelope, "msgid", "messageid"),
            "currpart": attr(envelope, "msgid", "currpart"),
            "parts": attr(envelope, "msgid", "parts"),
            "received": time.strftime("%m/%d/%y %H:%M:%S", time.gmtime()),
            "size": len(record),
            "filesize": flen,
        }
        stored = []
        for r in dict.fromkeys(recipients):
            if "@" in r or r not in self.users:
                continue  # mail for the Internet or unknown users is not this peer's business
            stored.append([r, self.store(r, record, meta)])
        return meta, stored

    def listing(self, user):
        box = self.mailbox(user)
        out = ["<?xml version=\"1.0\"?>", "<mail>"]
        for name in sorted(os.listdir(box)):
            if name.startswith(".") or name.endswith(".json"):
                continue
            try:
                with open(os.path.join(box, name + ".json")) as f:
                    m = json.load(f)
            except OSError:
                continue
            size = m.get("listed_size", os.path.getsize(os.path.join(box, name)))
            out.append("<message>")
            out.append("<From addr=\"%s\"/>" % xml_attr(m.get("from", "")))
            out.append("<To addr=\"%s\"/>" % xml_attr(m.get("to", "")))
            out.append("<file name=\"%s\" size=\"%d\"/>" % (name, size))
            out.append("<Fileinfo ext=\"%s\" charset=\"%s\"/>" % (xml_attr(m.get("ext", "")), xml_attr(m.get("charset", ""))))
            out.append("<Subject>%s</Subject>" % xml_attr(m.get("subject", "")))
            out.append("<msgid messageid=\"%s\" currpart=\"%s\"/>" % (xml_attr(m.get("messageid", "")), m.get("currpart", "")))
            out.append("<Date received=\"%s\"/>" % m.get("received", ""))
            out.append("</message>")
        out.append("</mail>")
        return ("\r\n".join(out) + "\r\n").encode("latin-1", "replace")

    def receipt(self, user, to, msgid, subject):
        """A delivery receipt for `to`, a user of this service."""
        to = bare_address(to)
        if to not in self.users:
            return
        text = "\r\n".join([
            "<?xml version=\"1.0\"?>", "<!DOCTYPE pxmailfile>", "<pxmailfile>", "<Header>",
            "<version ver=\"3.01\"/>", "<From addr=\"%s\" user=\"%s\"/>" % (xml_attr(user), user),
            "<To addr=\"%s\"/>" % xml_attr(to), "<Subject>%s</Subject>" % xml_attr(subject),
            "<Fileinfo filename=\"receipt\" ext=\"$$$r\"/>", "<msgid messageid=\"%s\"/>" % xml_attr(msgid),
            "</Header>", "</pxmailfile>", ""]).encode("latin-1", "replace")
        cenv = bz2.compress(text, 1)
        cfile = bz2.compress(b"", 1)
        record = struct.pack("<III", len(cenv), len(text), 0) + cenv + cfile
        meta = {"from": user, "to": to, "subject": subject, "ext": "$$$r", "charset": "",
                "messageid": msgid, "currpart": "", "received": time.strftime("%m/%d/%y %H:%M:%S", time.gmtime())}
        self.store(to, record, meta)


# ---- requests ------------------------------------------------------------------------------------

class DropConnection(Exception):
    pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "PlumadexPeer/1"
    service = None  # set by main

    def log_message(self, fmt, *args):
        pass

    def setup(self):
        super().setup()
        try:
            self.connection.do_handshake()
        except (ssl.SSLError, OSError) as e:
            self.service.record({"kind": "tls", "error": str(e)})
            raise DropConnection()

    def handle(self):
        try:
            super().handle()
        except (DropConnection, ConnectionError, ssl.SSLError, socket.timeout):
            self.close_connection = True

    # -- helpers --
    def authorised_user(self):
        value = self.headers.get("Authorization", "")
        if not value.startswith("Basic "):
            return None
        try:
            import base64
            user, _, password = base64.b64decode(value[6:]).decode("latin-1").partition(":")
        except Exception:
            return None
        user = bare_address(user)
        return user if self.service.users.get(user) == password else None

    def drop(self):
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        raise DropConnection()

    def read_body(self, fault):
        length = int(self.headers.get("Content-Length", "0") or 0)
        if fault and fault["fault"] == "drop_after":
            self.rfile.read(min(length, fault["bytes"]))
            self.drop()
        data = bytearray()
        while len(data) < length:
            chunk = self.rfile.read(min(1 << 20, length - len(data)))
            if not chunk:
                self.drop()
            data += chunk
        return bytes(data)

    def reply(self, status, body, fault, content_type="text/plain"):
        if isinstance(body, str):
            body = body.encode("latin-1", "replace")
        if fault and fault["fault"] == "store_then_drop":
            self.drop()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if fault and fault["fault"] == "drop_after":
            self.wfile.write(body[:fault["bytes"]])
            self.wfile.flush()
            self.drop()
        if fault and fault["fault"] == "trickle":
            rate = max(1, int(fault.get("rate", 100)))
            for i in range(0, len(body), rate):
                self.wfile.write(body[i:i + rate])
                self.wfile.flush()
                time.sleep(1)
            return
        self.wfile.write(body)

    def refuse(self, status, text=""):
        body = text.encode() if text else b""
        self.send_response(status)
        if status == 401:
            self.send_header("WWW-Authenticate", "Basic realm=\"Plumadex\"")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def dispatch(self, method):
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        if path.startswith("/_test/"):
            return self.test_request(path, query)
        for kind, (m, prefix, fn) in HANDLERS.items():
            if m == method and (path == prefix or (prefix.endswith("/") and path.startswith(prefix))
                                or path.startswith(prefix + "/")):
                fault = self.service.take_fault(kind)
                entry = {"kind": kind, "path": path}
                if fault:
                    entry["fault"] = fault["fault"]
                if fault and fault["fault"] == "delay":
                    time.sleep(float(fault.get("seconds", 1)))
                    fault = None
                if fault and fault["fault"] == "status":
                    if method == "POST":
                        self.read_body(None)
                    self.service.record(entry)
                    return self.refuse(int(fault.get("status", 500)))
                return fn(self, url, query, fault, entry)
        self.service.record({"kind": "unknown", "path": path})
        self.refuse(404)

    def do_GET(self):
        self.dispatch("GET")

    def do_POST(self):
        self.dispatch("POST")

    def test_request(self, path, query):
        q = {k: v[0] for k, v in query.items()}
        if path == "/_test/fault":
            with self.service.lock:
                if q.get("clear"):
                    self.service.faults.clear()
                else:
                    f = {"fault": q["fault"], "count": int(q.get("count", 1)), "bytes": int(q.get("bytes", 0)),
                         "status": int(q.get("status", 500)), "seconds": float(q.get("seconds", 1)),
                         "rate": int(q.get("rate", 100)), "variant": q.get("variant", "")}
                    self.service.faults.setdefault(q["kind"], []).append(f)
            return self.refuse(200, "OK")
        if path == "/_test/store":
            body = self.read_body(None)
            meta = {"from": q.get("from", "sender"), "to": q.get("user", ""), "subject": q.get("subject", ""),
                    "ext": q.get("ext", "txt"), "charset": "", "messageid": q.get("messageid", ""),
                    "currpart": q.get("currpart", ""),
                    "received": time.strftime("%m/%d/%y %H:%M:%S", time.gmtime())}
            if "size" in q:
                meta["listed_size"] = int(q["size"])
            name = self.service.store(q.get("user", ""), body, meta)
            return self.refuse(200, name)
        if path == "/_test/log":
            with self.service.lock:
                body = json.dumps(self.service.log)
            return self.refuse(200, body)
        if path == "/_test/key":
            # POST sets what "listkey" answers for USER (any text: a key, an HTML page, another
            # user's key); GET returns the published keys as JSON.
            if self.command == "POST":
                body = self.read_body(None).decode("utf-8", "replace")
                with self.service.lock:
                    if body:
                        self.service.keys[q.get("user", "").lower()] = body
                    else:
                        self.service.keys.pop(q.get("user", "").lower(), None)
                return self.refuse(200, "OK")
            with self.service.lock:
                body = json.dumps(self.service.keys)
            return self.refuse(200, body)
        self.refuse(404)

    # -- the service's requests --
    def put_mail(self, url, query, fault, entry):
        user = self.authorised_user()
        if user is None:
            self.read_body(None)
            self.service.record(dict(entry, status=401))
            return self.refuse(401)
        data = self.read_body(fault)
        entry["user"] = user
        entry["bytes"] = len(data)
        m = re.search(r"/files=([0-9,]+)$", url.path)
        lengths = [int(x) for x in m.group(1).split(",") if x] if m else [len(data)]
        if sum(lengths) != len(data):
            entry["error"] = "record lengths do not add up"
            self.service.record(entry)
            return self.refuse(400, "BAD LENGTHS")
        records, pos = [], 0
        for n in lengths:
            records.append(data[pos:pos + n])
            pos += n
        parts = []
        try:
            for r in records:
                parse_record(r)  # all records sound before anything is delivered
            for r in records:
                meta, stored = self.service.deliver(user, r)
                parts.append({"messageid": meta["messageid"], "currpart": meta["currpart"],
                              "parts": meta["parts"], "subject": meta["subject"],
                              "filesize": meta["filesize"], "stored": stored})
        except (ValueError, OSError, EOFError) as e:
            entry["error"] = str(e)
            self.service.record(entry)
            return self.refuse(400, "BAD RECORD")
        entry["records"] = parts
        self.service.record(entry)
        answer = len(data) + 1 if fault and fault["fault"] == "wrong_size" else len(data)
        self.reply(200, "%d\r\n" % answer, fault)

    def index(self, url, query, fault, entry):
        user = self.authorised_user()
        if user is None:
            self.service.record(dict(entry, status=401))
            return self.refuse(401)
        entry["user"] = user
        self.service.record(entry)
        body = self.service.listing(user)
        if fault and fault["fault"] == "listing":
            body = hostile_listing(body, fault.get("variant", ""), fault.get("bytes", 0))
            fault = None
        self.reply(200, body, fault, "text/xml")

    def stored_path(self, user, query):
        name = query.get("filename", [""])[0]
        if not re.fullmatch(r"[0-9]+\.pxm", name):
            return None, name
        return os.path.join(self.service.mailbox(user), name), name

    def getfile(self, url, query, fault, entry):
        user = self.authorised_user()
        if user is None:
            self.service.record(dict(entry, status=401))
            return self.refuse(401)
        path, name = self.stored_path(user, query)
        entry.update(user=user, filename=name)
        self.service.record(entry)
        if not path or not os.path.exists(path):
            return self.refuse(404)
        with open(path, "rb") as f:
            body = f.read()
        if fault and fault["fault"] == "wrong_size":
            body = body[:-1]
            fault = None
        self.reply(200, body, fault, "application/octet-stream")

    def confirm(self, url, query, fault, entry):
        user = self.authorised_user()
        if user is None:
            self.service.record(dict(entry, status=401))
            return self.refuse(401)
        path, name = self.stored_path(user, query)
        q = {k: v[0] for k, v in query.items()}
        entry.update(user=user, filename=name, query=sorted(query.keys()), nodel=q.get("nodel", ""))
        if path and os.path.exists(path) and q.get("nodel") != "1":
            os.remove(path)
            try:
                os.remove(path + ".json")
            except OSError:
                pass
            entry["deleted"] = True
        if q.get("to") and q.get("msgid"):
            self.service.receipt(user, q["to"], q["msgid"], q.get("subject", ""))
            entry["receipt"] = q["to"]
        self.service.record(entry)
        self.reply(200, "OK", fault)

    def account_test(self, url, query, fault, entry):
        user = self.authorised_user()
        self.service.record(dict(entry, user=user, status=200 if user else 401))
        if user is None:
            return self.refuse(401)
        self.reply(200, "OK", fault)

    def key_server(self, url, query, fault, entry):
        user = self.authorised_user()
        body = self.read_body(fault)
        if user is None:
            self.service.record(dict(entry, status=401))
            return self.refuse(401)
        fields = parse_form(self.headers.get("Content-Type", ""), body)
        op = fields.get("type", "")
        entry.update(user=user, op=op)
        self.service.record(entry)
        if op == "addkey":
            self.service.keys[user] = fields.get("key", "")
            return self.reply(200, "OK", fault)
        if op == "delkey":
            self.service.keys.pop(user, None)
            return self.reply(200, "OK", fault)
        if op == "listkey":
            return self.reply(200, self.service.keys.get(bare_address(fields.get("who", "")), ""), fault)
        self.reply(200, "", fault)

    def password(self, url, query, fault, entry):
        q = {k: v[0] for k, v in query.items()}
        user = bare_address(q.get("id", ""))
        entry["user"] = user  # never the passwords
        if user not in self.service.users:
            text = "ERROR - NO SUCH USER"
        elif self.service.users[user] != q.get("pass", ""):
            text = "ERROR - OLD PASSWORD IS WRONG"
        elif not q.get("newpass"):
            text = "ERROR - FAILED"
        else:
            self.service.users[user] = q["newpass"]
            text = "OK - PASSWORD CHANGED"
        entry["reply"] = text
        self.service.record(entry)
        self.reply(200, "<HTML><HEAD><TITLE>%s</TITLE></HEAD><BODY></BODY></HTML>" % text, fault, "text/html")

    def register(self, url, query, fault, entry):
        """New address: a user name of 2 to 20 allowed characters that is not taken yet."""
        q = {k: v[0] for k, v in query.items()}
        user = q.get("id", "").strip().lower()
        entry.update(user=user, name=q.get("name", ""), question=q.get("question", ""),
                     has_answer=bool(q.get("answer")), authorization="Authorization" in self.headers)  # never the password or the answer
        if user in self.service.users:
            text = "PLUMADEX REGISTRATION - ALREADY USED"
        elif not re.fullmatch(r"[a-z0-9][a-z0-9_.]{1,19}", user) or not q.get("pass"):
            text = "PLUMADEX REGISTRATION - FAILED"
        else:
            self.service.users[user] = q["pass"]
            text = "PLUMADEX REGISTRATION - OK"
        entry["reply"] = text
        self.service.record(entry)
        self.reply(200, "<HTML><HEAD><TITLE>%s</TITLE></HEAD><BODY></BODY></HTML>" % text.lower(), fault,
                   "text/html")

    def version(self, url, query, fault, entry):
        q = {k: v[0] for k, v in query.items()}
        entry.update(user=q.get("username", ""), version=q.get("version", ""), release=q.get("release", ""),
                     password_is_placeholder=q.get("password", "") != self.service.users.get(q.get("username", ""), None))
        self.service.record(entry)
        self.reply(200, "OK", fault)


def hostile_listing(listing, variant, size):
    """A listing as a broken or malicious service might send it."""
    if variant == "nodecl":
        return listing.split(b"\r\n", 1)[1]
    if variant == "names":
        extra = []
        for name in ("1.pxm&nodel=1", "../../etc/passwd", "12.pxm\r\nX: y", "&lt;&amp;"):
            extra.append("<message><From addr=\"evil\"/><file name=\"%s\" size=\"10\"/>"
                         "<Fileinfo ext=\"txt\"/><Subject>a\r\nb</Subject>"
                         "<msgid messageid=\"1&amp;nodel=1\" currpart=\"1\"/></message>" % xml_attr(name))
        return listing.replace(b"<mail>", b"<mail>" + "".join(extra).encode("latin-1"), 1)
    if variant == "huge":
        size = size or 70 * 1024 * 1024
        return b"<?xml version=\"1.0\"?><mail><!--" + b"x" * size + b"--></mail>"
    if variant == "badxml":
        return b"<?xml version=\"1.0\"?><mail><message><From addr=\"a\"></mail>"
    return listing


def parse_form(content_type, body):
    m = re.search(r"boundary=\"?([^\";]+)\"?", content_type)
    if not m:
        return {k: v[0] for k, v in urllib.parse.parse_qs(body.decode("latin-1")).items()}
    fields = {}
    for part in body.split(b"--" + m.group(1).encode()):
        head, sep, value = part.partition(b"\r\n\r\n")
        if not sep:
            continue
        n = re.search(rb"name=\"([^\"]*)\"", head)
        if n:
            fields[n.group(1).decode("latin-1")] = value[:-2].decode("latin-1") if value.endswith(b"\r\n") else value.decode("latin-1")
    return fields


# kind -> (method, path, handler). A path ending in "/" takes everything below it.
HANDLERS = {
    "putmail": ("POST", "/putmail/data", Handler.put_mail),
    "index": ("GET", "/checkmail/index.ttml", Handler.index),
    "getfile": ("GET", "/checkmail/getfile.ttml", Handler.getfile),
    "confirm": ("GET", "/checkmail/confirm.ttml", Handler.confirm),
    "accounttest": ("GET", "/checkmail/index.tcl", Handler.account_test),
    "keys": ("POST", "/keys/key_server.ws3", Handler.key_server),
    "pass": ("GET", "/newuser/pass.phtml", Handler.password),
    "version": ("GET", "/cgibin/version.tcl", Handler.version),
    "register": ("GET", "/newuser/regit.ws3", Handler.register),
}


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass


def main():
    p = argparse.ArgumentParser(description="Loopback Plumadex mail service for tests and benchmarks.")
    p.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: a free one)")
    p.add_argument("--state", required=True, help="folder for the CA (ca.pem), mailboxes and the log")
    p.add_argument("--user", action="extend", nargs="+", default=[], metavar="NAME:PASSWORD",
                   help="a user of the service (repeatable)")
    p.add_argument("--host-name", default="localhost",
                   help="name the server certificate is made for (default localhost, also valid for 127.0.0.1)")
    p.add_argument("--expired", action="store_true", help="serve a certificate that has expired")
    p.add_argument("--key", action="append", default=[], metavar="NAME=FILE",
                   help="a key published for user NAME from the start (armoured text in FILE; repeatable)")
    args = p.parse_args()

    users = {}
    for u in args.user:
        name, sep, password = u.partition(":")
        if not sep or not name:
            p.error("--user takes NAME:PASSWORD")
        users[name.lower()] = password
    state = os.path.abspath(args.state)
    os.makedirs(state, exist_ok=True)
    crt, key = make_certificates(state, args.host_name, args.expired)

    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(crt, key)
    Handler.service = Service(state, users)
    for k in args.key:
        name, sep, path = k.partition("=")
        if not sep or not name:
            p.error("--key takes NAME=FILE")
        with open(path, encoding="utf-8", errors="replace") as f:
            Handler.service.keys[name.lower()] = f.read()
    server = Server(("127.0.0.1", args.port), Handler)
    server.socket = ctx.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    signal.signal(signal.SIGTERM, lambda *a: threading.Thread(target=server.shutdown).start())
    print("listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    server.server_close()


if __name__ == "__main__":
    main()
