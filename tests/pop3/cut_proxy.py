#!/usr/bin/python3
"""A TCP relay that breaks connections on purpose, put in front of a real POP3 server.

    cut_proxy.py --target PORT (--cut-after BYTES | --drop-quit) [--port PORT]

--cut-after: the connection is cut once the server has sent BYTES bytes (TLS or not).
--drop-quit: a plain-text client's QUIT is swallowed and the connection cut, so the server
never commits the deletions.
Only the first connection is broken; later ones are relayed whole.
The relay prints its port on the first line of standard output and serves until killed.
"""
import argparse
import socket
import threading


def relay(client, args):
    server = socket.create_connection(("127.0.0.1", args.target))
    done = threading.Event()

    def cut():
        done.set()
        for s in (client, server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def upstream():
        pending = b""
        while not done.is_set():
            data = client.recv(65536)
            if not data:
                break
            if args.drop_quit:
                pending = (pending + data)[-64:]
                if b"QUIT\r\n" in pending.upper():
                    cut()
                    return
            server.sendall(data)
        cut()

    def downstream():
        sent = 0
        while not done.is_set():
            data = server.recv(65536)
            if not data:
                break
            if args.cut_after and sent + len(data) >= args.cut_after:
                client.sendall(data[: args.cut_after - sent])
                cut()
                return
            sent += len(data)
            client.sendall(data)
        cut()

    threads = [threading.Thread(target=f, daemon=True) for f in (upstream, downstream)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    client.close()
    server.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--target", type=int, required=True)
    p.add_argument("--cut-after", type=int, default=0)
    p.add_argument("--drop-quit", action="store_true")
    p.add_argument("--port", type=int, default=0, help="port to listen on (0: a free one)")
    args = p.parse_args()
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(4)
    print(srv.getsockname()[1], flush=True)
    whole = argparse.Namespace(target=args.target, cut_after=0, drop_quit=False)
    first = True
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=relay, args=(conn, args if first else whole), daemon=True).start()
        first = False


if __name__ == "__main__":
    main()
