#!/usr/bin/python3
"""Writes the POP3 benchmark's mailbox: COUNT messages (fixed seed) of 2 to 200 KB, one in a
hundred of 5 MB, as plain RFC 822 files with CR LF line ends, into DIR.

    pop3_mailbox.py DIR [COUNT=2000] [SEED=1]
"""
import base64
import os
import random
import sys


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    os.makedirs(out, exist_ok=True)
    words = ["lorem", "ipsum", "dolor", "sit", "amet", "consectetur", "adipiscing", "elit",
             "sed", "do", "eiusmod", "tempor", ".dot", "incididunt", "ut", "labore"]
    for n in range(1, count + 1):
        size = 5 * 1024 * 1024 if rng.random() < 0.01 else rng.randint(2 * 1024, 200 * 1024)
        head = ("From: Sender %d <sender%d@example.org>\r\nTo: user@example.org\r\n"
                "Subject: Benchmark message %d\r\nMessage-ID: <%d.bench@example.org>\r\n"
                "Date: Thu, 10 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                "Content-Type: multipart/mixed; boundary=\"b%d\"\r\n\r\n" % (n, n % 97, n, n, n))
        text_size = min(size // 3, 4096 + rng.randint(0, 8192))
        lines = []
        total = 0
        while total < text_size:
            line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 14)))
            lines.append(line)
            total += len(line) + 2
        binary = rng.randbytes(max(0, (size - len(head) - total) * 3 // 4))
        b64 = base64.encodebytes(binary).decode().replace("\n", "\r\n")
        body = ("--b%d\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n%s\r\n"
                "--b%d\r\nContent-Type: application/octet-stream; name=\"data%d.bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n%s--b%d--\r\n"
                % (n, "\r\n".join(lines), n, n, b64, n))
        with open(os.path.join(out, "%05d.eml" % n), "wb") as f:
            f.write((head + body).encode("ascii"))


if __name__ == "__main__":
    main()
