#!/usr/bin/python3
# Writes the messages of this folder the way common mail programs shape them, with Python's
# email package, and the attached files beside them (originals/). expected.tsv lists, for each
# message, the parts the splitter must make: index, kind, name (UTF-8) and the original file.
# Run it again only to change the fixtures: ./make_fixtures.py
import base64, email.encoders, email.policy, os, random
from email.message import Message
from email.mime.multipart import MIMEMultipart
from email.mime.base import MIMEBase
from email.mime.text import MIMEText

HERE = os.path.dirname(os.path.abspath(__file__))
ORIG = os.path.join(HERE, "originals")
rng = random.Random(2026)
random.seed(2026)  # the boundaries the generator picks, so the fixtures come out the same each run
rows = []

def original(name, data):
    with open(os.path.join(ORIG, name), "wb") as f:
        f.write(data)
    return name

def crlf(text):
    return text.replace("\n", "\r\n").encode("utf-8")

def write(name, msg, fix=None):
    data = msg.as_bytes(policy=email.policy.SMTP)
    if fix:
        data = fix(data)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)

def text_part(text, subtype="plain", charset="utf-8", cte="7bit", **params):
    p = Message()
    p["Content-Type"] = f"text/{subtype}; charset={charset}" + "".join(f'; {k}="{v}"' for k, v in params.items())
    p["Content-Transfer-Encoding"] = cte
    if cte == "quoted-printable":
        import quopri
        p.set_payload(quopri.encodestring(text.encode(charset), quotetabs=False).decode("ascii"))
    elif cte == "base64":
        p.set_payload(base64.encodebytes(text.encode(charset)).decode("ascii"))
    else:
        p.set_payload(text)
    return p

def attach(part, disposition_name=None, raw_disposition=None):
    if raw_disposition:
        part["Content-Disposition"] = raw_disposition
    elif disposition_name is not None:
        part.add_header("Content-Disposition", "attachment", filename=disposition_name)
    return part

def binary(maintype, subtype, data, name_param=None):
    p = MIMEBase(maintype, subtype)
    if name_param:
        p.set_param("name", name_param)
    p.set_payload(data)
    email.encoders.encode_base64(p)
    return p

def headers(msg, sender, to, subject, date):
    msg["From"] = sender
    msg["To"] = to
    msg["Subject"] = subject
    msg["Date"] = date
    msg["Message-ID"] = f"<{rng.randrange(10**12)}@example.net>"
    msg["MIME-Version"] = "1.0"

png = b"\x89PNG\r\n\x1a\n" + bytes(rng.randrange(256) for _ in range(700))
pdf = b"%PDF-1.4\n" + bytes(rng.randrange(256) for _ in range(1500)) + b"\n%%EOF\n"
bmp = b"BM" + bytes(rng.randrange(256) for _ in range(333))

# A message as a desktop client with format=flowed writes it: text attachments 7bit, one without
# a final line break, a picture and a PDF whose UTF-8 name comes as an RFC 2231 parameter.
m = MIMEMultipart("mixed")
headers(m, "Anna Berg <anna@example.org>", "Ben <ben@example.com>", "Trip notes", "Tue, 01 Dec 2026 09:30:00 +0100")
m.attach(text_part("Hi Ben,\n\nnotes and photos attached.\n\nAnna\n", charset="UTF-8; format=flowed"))
todo = "buy tickets\nbook hotel\ncall Carl"  # no final line break
m.attach(attach(text_part(todo, charset="UTF-8", name="todo.txt"), "todo.txt"))
notes = "Day 1: museum\nDay 2: lake\n\n"  # ends with an empty line
m.attach(attach(text_part(notes, charset="UTF-8", name="notes.txt"), "notes.txt"))
m.attach(attach(binary("image", "png", png, "lake.png"), "lake.png"))
p = binary("application", "pdf", pdf)
p.add_header("Content-Disposition", "attachment", filename=("utf-8", "", "résumé.pdf"))
m.attach(p)
write("flowed_client.eml", m)
rows += [("flowed_client.eml", 1, "txt", "Trip notes", None),
         ("flowed_client.eml", 2, "txt", "todo.txt", original("todo.txt", crlf(todo))),
         ("flowed_client.eml", 3, "txt", "notes.txt", original("notes.txt", crlf(notes))),
         ("flowed_client.eml", 4, "png", "lake.png", original("lake.png", png)),
         ("flowed_client.eml", 5, "pdf", "résumé.pdf", original("resume.pdf", pdf))]

# An office client: text and HTML alternatives, a picture whose type name differs from its file
# name, a quoted-printable log with trailing blanks and "=" signs, a name in an ISO-8859-1
# encoded word, and a closing boundary line with text after its "--" and an epilogue.
m = MIMEMultipart("mixed")
headers(m, "=?iso-8859-1?Q?Ren=E9_Dupont?= <rene@example.fr>", "team@example.com",
        "=?iso-8859-1?Q?R=E9union_lundi?=", "Wed, 02 Dec 2026 16:05:10 -0500")
alt = MIMEMultipart("alternative")
alt.attach(text_part("Bonjour,\n\nvoir pièces jointes.\n", charset="iso-8859-1", cte="quoted-printable"))
alt.attach(text_part("<p>Bonjour,</p><p>voir pi&egrave;ces jointes.</p>\n", subtype="html", charset="iso-8859-1", cte="quoted-printable"))
m.attach(alt)
m.attach(attach(binary("image", "bmp", bmp, "clock.bmp,69c"), "clock.bmp"))
log = "run 1: a=1  \nrun 2: b=2\t\nlast line with = sign\n"
m.attach(attach(text_part(log, charset="iso-8859-1", cte="quoted-printable", name="log.txt"), "log.txt"))
doc = bytes(rng.randrange(256) for _ in range(900))
p = binary("application", "msword", doc, "=?iso-8859-1?Q?r=E9sum=E9.doc?=")
p["Content-Disposition"] = 'attachment; filename="=?iso-8859-1?Q?r=E9sum=E9.doc?="'
m.attach(p)
def office_fix(data):
    b = m.get_boundary().encode()
    closing = b"--" + b + b"--"
    assert data.count(closing) == 1
    return data.replace(closing, closing + b">") + b"\r\nThis is the epilogue, not an attachment.\r\n"
write("office_client.eml", m, office_fix)
rows += [("office_client.eml", 1, "eml", "Réunion lundi", None),
         ("office_client.eml", 2, "bmp", "clock.bmp", original("clock.bmp", bmp)),
         ("office_client.eml", 3, "txt", "log.txt", original("log.txt", log.replace("\n", "\r\n").encode("iso-8859-1"))),
         ("office_client.eml", 4, "doc", "résumé.doc", original("resume.doc", doc))]

# A signed message: the detached signature must come out exactly as sent, or it cannot be
# checked against the text.
sig = ("-----BEGIN PGP SIGNATURE-----\n\niQEzBAEBCAAdFiEE" + "A" * 60 + "\n=abcd\n"
       "-----END PGP SIGNATURE-----\n")
m = MIMEMultipart("signed", protocol="application/pgp-signature", micalg="pgp-sha256")
headers(m, "Carl <carl@example.com>", "Anna <anna@example.org>", "Signed minutes", "Thu, 03 Dec 2026 11:00:00 +0000")
body = "Minutes of the meeting.\n-- \nCarl\n"
m.attach(text_part(body, charset="us-ascii"))
s = Message()
s["Content-Type"] = 'application/pgp-signature; name="signature.asc"'
s["Content-Description"] = "OpenPGP digital signature"
s["Content-Disposition"] = 'attachment; filename="signature.asc"'
s.set_payload(sig)
m.attach(s)
write("signed.eml", m)
rows += [("signed.eml", 1, "txt", "Signed minutes", original("minutes.txt", crlf(body))),
         ("signed.eml", 2, "asc", "signature.asc", original("signature.asc", crlf(sig)))]

# A laptop client: a CSV without a final line break, a long quoted-printable text (soft line
# breaks), a script sent as octet-stream with a mode parameter.
m = MIMEMultipart("mixed")
headers(m, "Dora <dora@example.com>", "Ben <ben@example.com>", "Data", "Fri, 04 Dec 2026 18:45:00 +0100")
m.attach(text_part("Here is the data.\n", charset="us-ascii"))
csv = "a,b,c\n1,2,3\n4,5,6"
p = text_part(csv, subtype="csv", charset="us-ascii", name="data.csv")
m.attach(attach(p, raw_disposition='attachment;\n\tfilename=data.csv'))
longtext = ("Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
            "incididunt ut labore et dolore magna aliqua. Grüße aus Köln.\nShort line.\n")
m.attach(attach(text_part(longtext, charset="utf-8", cte="quoted-printable", name="readme.txt"), "readme.txt"))
script = b"#!/bin/sh\necho hello\n"
p = binary("application", "octet-stream", script)
p.set_param("x-unix-mode", "0755")
p.set_param("name", "hello.sh")
p.add_header("Content-Disposition", "attachment", filename="hello.sh")
m.attach(p)
write("laptop_client.eml", m)
rows += [("laptop_client.eml", 1, "txt", "Data", None),
         ("laptop_client.eml", 2, "csv", "data.csv", original("data.csv", crlf(csv))),
         ("laptop_client.eml", 3, "txt", "readme.txt", original("readme.txt", crlf(longtext))),
         ("laptop_client.eml", 4, "sh", "hello.sh", original("hello.sh", script))]

# A forwarded message attached whole: its own body and its attachment join the group.
inner = MIMEMultipart("mixed")
headers(inner, "Eve <eve@example.com>", "Dora <dora@example.com>", "Budget", "Mon, 30 Nov 2026 08:00:00 +0000")
inner_body = "Budget attached.\n"
inner.attach(text_part(inner_body, charset="us-ascii"))
xls = bytes(rng.randrange(256) for _ in range(1200))
inner.attach(attach(binary("application", "vnd.ms-excel", xls, "budget.xls"), "budget.xls"))
m = MIMEMultipart("mixed")
headers(m, "Dora <dora@example.com>", "Ben <ben@example.com>", "Fwd: Budget", "Sat, 05 Dec 2026 10:00:00 +0100")
m.attach(text_part("See below.\n", charset="us-ascii"))
from email.mime.message import MIMEMessage
fwd = MIMEMessage(inner)
fwd.add_header("Content-Disposition", "attachment")
m.attach(fwd)
write("forwarded_whole.eml", m)
rows += [("forwarded_whole.eml", 1, "txt", "Fwd: Budget", None),
         ("forwarded_whole.eml", 2, "txt", "Budget", original("budget-body.txt", crlf(inner_body))),
         ("forwarded_whole.eml", 3, "xls", "budget.xls", original("budget.xls", xls))]

# An HTML message with a picture in its text and a file attached beside it: the HTML with its
# picture stays one message document, the file comes out on its own.
m = MIMEMultipart("mixed")
headers(m, "Ben <ben@example.com>", "Anna <anna@example.org>", "Plan", "Sun, 06 Dec 2026 20:00:00 +0100")
rel = MIMEMultipart("related", type="multipart/alternative")
alt = MIMEMultipart("alternative")
alt.attach(text_part("The plan.\n", charset="utf-8", cte="quoted-printable"))
alt.attach(text_part('<p>The plan.</p><img src="cid:plan@x">\n', subtype="html", charset="utf-8", cte="quoted-printable"))
rel.attach(alt)
img = binary("image", "png", png, "plan.png")
img["Content-ID"] = "<plan@x>"
rel.attach(img)
m.attach(rel)
zipdata = b"PK\x03\x04" + bytes(rng.randrange(256) for _ in range(640))
m.attach(attach(binary("application", "zip", zipdata, "plan.zip"), "plan.zip"))
write("html_related.eml", m)
rows += [("html_related.eml", 1, "eml", "Plan", None),
         ("html_related.eml", 2, "zip", "plan.zip", original("plan.zip", zipdata))]

with open(os.path.join(HERE, "expected.tsv"), "w", encoding="utf-8") as f:
    f.write("# message\tpart\tkind\tname\toriginal\n")
    for msg, idx, kind, name, orig in rows:
        f.write(f"{msg}\t{idx}\t{kind}\t{name}\t{orig or ''}\n")
