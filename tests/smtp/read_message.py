#!/usr/bin/python3
"""Reads a received message with Python's email package and prints what it found as JSON:
the decoded headers, the defects, and every leaf part with its type, file name, charset and the
SHA-256 and length of its decoded content; "body" is the text of the first text/plain part."""
import email
import email.policy
import hashlib
import json
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    out = {"headers": {}, "parts": [], "defects": [str(d) for d in msg.defects],
           "max_line": max((len(l) for l in raw.split(b"\r\n")), default=0),
           "bare_lf": b"\n" in raw.replace(b"\r\n", b""),
           "content_type": msg.get_content_type()}
    for name in ("From", "To", "Cc", "Bcc", "Subject", "Message-ID", "In-Reply-To", "References",
                 "Date", "MIME-Version"):
        if name in msg:
            out["headers"][name] = str(msg[name])
    if "Date" in msg:
        out["date_ok"] = msg["Date"].datetime is not None
    body = msg.get_body(preferencelist=("plain",))
    out["body"] = body.get_content() if body is not None else None
    for part in msg.walk():
        if part.is_multipart():
            out["parts"].append({"type": part.get_content_type(), "multipart": True})
            continue
        payload = part.get_payload(decode=True) or b""
        out["parts"].append({
            "type": part.get_content_type(),
            "filename": part.get_filename(),
            "charset": part.get_content_charset(),
            "content_id": part.get("Content-ID"),
            "cte": part.get("Content-Transfer-Encoding"),
            "sha256": hashlib.sha256(payload).hexdigest(),
            "size": len(payload),
            "defects": [str(d) for d in part.defects],
        })
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
