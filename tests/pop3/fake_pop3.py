#!/usr/bin/python3
"""A scripted POP3 server for the faults a real server will not produce.

The mailbox is a folder (--mailbox): one file per message, in name order, the file name being
its UIDL. It is read at every log-in; deleted messages' files are removed only when QUIT
commits the deletions, as a real server does. The server prints its port on the first line of standard output and serves one
connection after the other until it is killed.

Faults (--fault NAME, --at K for the message it concerns):
  none            a well-behaved server
  no-uidl         no UIDL (CAPA does not list it, the command fails)
  cut-retr        the connection closes in the middle of RETR K
  cut-quit        the connection closes when QUIT arrives, nothing committed
  silent-quit     QUIT is never answered (nothing committed)
  dele-err        DELE K is refused
  endless-line    RETR K sends a line that never ends
  long-line       RETR K holds a 3 MiB line, then ends properly
  long-retr       RETR K sends far more than LIST said, then ends properly
  big-top         TOP K sends a header of 3 MiB
  slow            every RETR waits 0.5 s before it answers
  drip            RETR K sends its reply one byte at a time, --drip-rate bytes a second
  bad-pass        PASS is always refused
"""
import argparse
import os
import socket
import sys
import time


def load(folder):
    messages = []
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            messages.append({"uid": name, "data": f.read().decode("latin-1")})
    return messages


def commit(folder, messages, deleted):
    for i, m in enumerate(messages, 1):
        if i in deleted:
            os.remove(os.path.join(folder, m["uid"]))


def stuffed(data):
    out = []
    for line in data.split("\r\n"):
        out.append("." + line if line.startswith(".") else line)
    body = "\r\n".join(out)
    if not body.endswith("\r\n"):
        body += "\r\n"
    return body


def serve(conn, args):
    f = conn.makefile("rb")
    slow = False

    def send(text):
        conn.sendall(text.encode("latin-1"))

    messages = load(args.mailbox)
    deleted = set()
    send("+OK fake ready\r\n")
    while True:
        raw = f.readline()
        if not raw:
            return
        line = raw.decode("latin-1").rstrip("\r\n")
        parts = line.split(" ")
        cmd = parts[0].upper()
        arg = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        if cmd == "CAPA":
            caps = ["USER", "TOP"] + ([] if args.fault == "no-uidl" else ["UIDL"])
            send("+OK\r\n" + "".join(c + "\r\n" for c in caps) + ".\r\n")
        elif cmd == "USER":
            send("+OK\r\n")
        elif cmd == "PASS":
            if args.fault == "bad-pass" or parts[1:] != [args.password]:
                send("-ERR [AUTH] Authentication failed.\r\n")
            else:
                messages = load(args.mailbox)
                send("+OK logged in\r\n")
                slow = args.fault == "slow"
        elif cmd == "STAT":
            live = [m for i, m in enumerate(messages, 1) if i not in deleted]
            send("+OK %d %d\r\n" % (len(live), sum(len(m["data"]) for m in live)))
        elif cmd == "LIST":
            rows = "".join("%d %d\r\n" % (i, len(m["data"]))
                           for i, m in enumerate(messages, 1) if i not in deleted)
            send("+OK\r\n" + rows + ".\r\n")
        elif cmd == "UIDL":
            if args.fault == "no-uidl":
                send("-ERR no UIDL here\r\n")
            else:
                rows = "".join("%d %s\r\n" % (i, m["uid"])
                               for i, m in enumerate(messages, 1) if i not in deleted)
                send("+OK\r\n" + rows + ".\r\n")
        elif cmd == "TOP":
            data = messages[arg - 1]["data"]
            if args.fault == "big-top" and arg == args.at:
                send("+OK\r\n")
                chunk = "X-Filler: " + "y" * 1000 + "\r\n"
                for _ in range(3 * 1024):
                    send(chunk)
                send(".\r\n")
                continue
            head = data.split("\r\n\r\n", 1)[0] + "\r\n\r\n"
            send("+OK\r\n" + stuffed(head) + ".\r\n")
        elif cmd == "RETR":
            data = messages[arg - 1]["data"]
            if slow:
                time.sleep(0.5)
            if arg == args.at and args.fault == "cut-retr":
                send("+OK\r\n" + stuffed(data)[: len(data) // 2])
                conn.shutdown(socket.SHUT_RDWR)
                return
            if arg == args.at and args.fault == "endless-line":
                send("+OK\r\nSubject: endless\r\n\r\n")
                try:
                    while True:
                        conn.sendall(b"z" * 65536)
                except OSError:
                    return
            if arg == args.at and args.fault == "drip":
                reply = ("+OK %d octets\r\n" % len(data) + stuffed(data) + ".\r\n").encode("latin-1")
                try:
                    for i in range(len(reply)):
                        conn.sendall(reply[i:i + 1])
                        time.sleep(1.0 / args.drip_rate)
                except OSError:
                    return
                continue
            if arg == args.at and args.fault == "long-line":
                send("+OK\r\nSubject: long line\r\n\r\n" + "w" * (3 * 1024 * 1024) + "\r\n.\r\n")
                continue
            if arg == args.at and args.fault == "long-retr":
                send("+OK\r\n" + stuffed(data) + ("filler line\r\n" * 200000) + ".\r\n")
                continue
            send("+OK %d octets\r\n" % len(data) + stuffed(data) + ".\r\n")
        elif cmd == "DELE":
            if args.fault == "dele-err" and arg == args.at:
                send("-ERR cannot delete that one\r\n")
            else:
                deleted.add(arg)
                send("+OK deleted\r\n")
        elif cmd == "NOOP":
            send("+OK\r\n")
        elif cmd == "RSET":
            deleted.clear()
            send("+OK\r\n")
        elif cmd == "QUIT":
            if args.fault == "cut-quit":
                conn.shutdown(socket.SHUT_RDWR)
                return
            if args.fault == "silent-quit":
                while f.readline():
                    pass
                return
            commit(args.mailbox, messages, deleted)
            send("+OK bye\r\n")
            return
        else:
            send("-ERR unknown command\r\n")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mailbox", required=True)
    p.add_argument("--password", default="secret")
    p.add_argument("--fault", default="none")
    p.add_argument("--at", type=int, default=0)
    p.add_argument("--drip-rate", type=float, default=1.0)
    p.add_argument("--port", type=int, default=0)
    args = p.parse_args()
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(4)
    print(srv.getsockname()[1], flush=True)
    while True:
        conn, _ = srv.accept()
        try:
            serve(conn, args)
        except (OSError, IndexError, ValueError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass


if __name__ == "__main__":
    sys.exit(main())
