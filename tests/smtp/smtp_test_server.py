#!/usr/bin/python3
"""A local SMTP server for the tests, on aiosmtpd.

Listens on 127.0.0.1 at a free port and prints "PORT <n>" once it accepts connections. Every
message it accepts is written to OUT as NNNN.eml (the bytes as received) and NNNN.json (sender,
recipients, the logged-in user), each placed only when complete. Ends when its standard input
closes or on SIGTERM.

Hostile behaviours for the tests: --refuse ADDRESS=CODE[xN] (reply CODE to that recipient, or
only to its first N RCPT commands, after which it is accepted: a mailbox busy for a while),
--close-on-mail N (reply 421 to the N-th MAIL FROM and hang up), --drop-after-data (hang up
instead of answering the message), --silent-data (never answer the message), --no-starttls.
"""
import argparse
import asyncio
import json
import os
import signal
import ssl
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--mode", choices=["tls", "starttls", "plain"], default="starttls")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--user", action="append", default=[], help="USER:PASSWORD")
    ap.add_argument("--refuse", action="append", default=[], help="ADDRESS=CODE")
    ap.add_argument("--close-on-mail", type=int, default=0)
    ap.add_argument("--drop-after-data", action="store_true")
    ap.add_argument("--silent-data", action="store_true")
    ap.add_argument("--no-starttls", action="store_true")
    args = ap.parse_args()

    os.makedirs(args.out, exist_ok=True)
    users = dict(u.split(":", 1) for u in args.user)
    refuse = {}
    for r in args.refuse:
        addr, code = r.rsplit("=", 1)
        times = None
        if "x" in code:
            code, times = code.split("x", 1)
            times = int(times)
        refuse[addr.lower()] = [int(code), times]
    state = {"mails": 0, "count": 0}

    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    def authenticator(server, session, envelope, mechanism, auth_data):
        try:
            login = auth_data.login.decode()
            password = auth_data.password.decode()
        except Exception:
            return AuthResult(success=False, handled=False)
        ok = users.get(login) == password
        return AuthResult(success=ok, handled=False, auth_data=login if ok else None)

    class Handler:
        async def handle_MAIL(self, server, session, envelope, address, options):
            state["mails"] += 1
            if args.close_on_mail and state["mails"] == args.close_on_mail:
                await server.push("421 4.3.2 Service shutting down")
                server.transport.close()
                return "421 4.3.2 Service shutting down"
            envelope.mail_from = address
            envelope.mail_options.extend(options)
            return "250 OK"

        async def handle_RCPT(self, server, session, envelope, address, options):
            rule = refuse.get(address.lower())
            if rule and (rule[1] is None or rule[1] > 0):
                if rule[1] is not None:
                    rule[1] -= 1
                if rule[0] < 500:
                    return "%d 4.2.1 Mailbox busy, try again later: %s" % (rule[0], address)
                return "%d 5.2.2 Mailbox full: %s" % (rule[0], address)
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if args.silent_data:
                await asyncio.sleep(3600)
            if args.drop_after_data:
                server.transport.abort()
                await asyncio.sleep(3600)
            state["count"] += 1
            base = os.path.join(args.out, "%04d" % state["count"])
            meta = {
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "user": session.auth_data if session.authenticated else None,
                "tls": server.transport.get_extra_info("sslcontext") is not None,
            }
            # The .json first: a reader takes a message as soon as its .eml is there.
            for ext, data in ((".json", json.dumps(meta).encode()),
                              (".eml", envelope.original_content)):
                with open(base + ext + ".tmp", "wb") as f:
                    f.write(data)
                os.rename(base + ext + ".tmp", base + ext)
            return "250 Message accepted"

    def factory():
        kw = dict(hostname="smtp.test", authenticator=authenticator,
                  auth_required=bool(users), auth_require_tls=args.mode == "starttls",
                  timeout=600, data_size_limit=200 * 1024 * 1024)
        if args.mode == "starttls" and context and not args.no_starttls:
            kw["tls_context"] = context
            kw["require_starttls"] = True
        smtp = SMTP(Handler(), **kw)
        return smtp

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        factory, "127.0.0.1", 0, ssl=context if args.mode == "tls" else None))
    port = server.sockets[0].getsockname()[1]
    print("PORT %d" % port, flush=True)

    def stop(*_):
        loop.call_soon_threadsafe(loop.stop)

    signal.signal(signal.SIGTERM, stop)

    def watch_stdin():
        try:
            sys.stdin.read()
        finally:
            stop()

    threading.Thread(target=watch_stdin, daemon=True).start()
    loop.run_forever()


if __name__ == "__main__":
    main()
