#!/usr/bin/env python3
"""Writes the messages of the cross-source test, one file each (CR LF line ends), into the
directory given, and beside them expected.txt: for each message the text its body, subject and
names must read as once decoded, so a run can be checked against what the mail says and not
only against the other sources.

Mail as it is written today: encoded words (B and Q, adjacent ones, in names), quoted-printable
and base64 bodies, Latin-1, Windows-1252, UTF-8 and Shift_JIS text, parts without a character
set, RFC 2231 attachment names, HTML-only mail, multipart/alternative (alone and inside multipart/mixed), an attached message and malformed
encodings. Every message has a number; its code "N-<number>" stands in its body so a
line of output can be told apart from the others.

Usage: encoded_mail.py DIR"""
import base64
import os
import quopri
import sys

SENDERS = [("Jürgen Müller", "juergen@example.de"), ("Ann Smith", "ann@example.org"),
           ("Zoë Ångström", "zoe@example.se"), ("山田太郎", "taro@example.jp"),
           ("François Dœuf", "francois@example.fr")]
RECIPIENTS = [("Shop Orders", "orders@shop.example"), ("Bestellung Café", "cafe@example.at"),
              ("Ёлка Team", "elka@example.ru")]
WORDS = ["Grüße für Jürgen", "Crème brûlée — €5", "naïve façade", "Smörgåsbord",
         "plain order"]


def q_word(text, charset="UTF-8"):
    raw = text.encode(charset)
    out = ""
    for b in raw:
        c = chr(b)
        if c == " ":
            out += "_"
        elif c.isalnum() and b < 0x80:
            out += c
        else:
            out += "=%02X" % b
    return "=?%s?Q?%s?=" % (charset, out)


def b_word(text, charset="UTF-8"):
    return "=?%s?B?%s?=" % (charset, base64.b64encode(text.encode(charset)).decode())


def qp(data):
    return quopri.encodestring(data.replace(b"\r\n", b"\n")).decode().replace("\n", "\r\n")


def b64(data):
    s = base64.b64encode(data).decode()
    return "\r\n".join(s[i:i + 76] for i in range(0, len(s), 76))


class Message:
    def __init__(self, n):
        self.n = n
        sender = SENDERS[n % len(SENDERS)]
        recipient = RECIPIENTS[n % len(RECIPIENTS)]
        self.sender, self.recipient = sender, recipient
        self.subject = "Order %d %s" % (n, WORDS[n % len(WORDS)])
        # How each header names its text: plain ASCII names stay as they are.
        style = n % 3
        enc = [lambda t: t if t.isascii() else q_word(t), lambda t: t if t.isascii() else b_word(t),
               lambda t: t if t.isascii() else q_word(t, "ISO-8859-1") if _latin1(t) else b_word(t)][style]
        self.head = [
            "From: \"%s\" <%s>" % (enc(sender[0]), sender[1]),
            "To: \"%s\" <%s>" % (enc(recipient[0]), recipient[1]),
            "Subject: %s" % enc_subject(self.subject, n),
            "Date: Mon, %02d Mar 2026 %02d:%02d:00 +0000" % (1 + n % 28, 8 + n % 10, n % 60),
            "Message-ID: <n%d@example.org>" % n,
        ]
        self.mime = []     # further header lines (MIME-Version, Content-Type, ...)
        self.body = ""     # the text after the blank line
        self.text = ""     # what the body must read as (line ends aside)
        self.attachment = ""  # the text of the first real attachment ("ATT:" ...)
        self.subject_text = self.subject

    def bytes(self):
        lines = self.head + self.mime
        return ("\r\n".join(lines) + "\r\n\r\n" + self.body).encode("latin-1")


def _latin1(t):
    try:
        t.encode("ISO-8859-1")
        return True
    except UnicodeEncodeError:
        return False


def enc_subject(subject, n):
    if subject.isascii():
        return subject
    # Every fifth subject is two adjacent encoded words, split inside the text.
    if n % 5 == 1:
        half = len(subject) // 2
        return q_word(subject[:half]) + " " + b_word(subject[half:])
    return q_word(subject) if n % 2 else b_word(subject)


def code(n):
    return "Code: N-%d" % n


def make(n):
    m = Message(n)
    kind = n % 12
    text = "%s\r\nDear %s,\r\nyour order: %s.\r\n" % (code(n), m.recipient[0], WORDS[n % len(WORDS)])
    if kind == 0:  # plain 7-bit
        text = "%s\r\nPlain text only, order %d.\r\n" % (code(n), n)
        m.body, m.text = text, text
    elif kind == 1:  # quoted-printable UTF-8
        m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain; charset=UTF-8",
                  "Content-Transfer-Encoding: quoted-printable"]
        m.body, m.text = qp(text.encode("utf-8")), text
    elif kind == 2:  # base64 UTF-8
        m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain; charset=\"utf-8\"",
                  "Content-Transfer-Encoding: base64"]
        m.body, m.text = b64(text.encode("utf-8")) + "\r\n", text
    elif kind == 3:  # Latin-1, 8bit
        t = "%s\r\nGrüße aus Köln, Straße %d.\r\n" % (code(n), n)
        m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain; charset=ISO-8859-1",
                  "Content-Transfer-Encoding: 8bit"]
        m.body, m.text = t.encode("latin-1").decode("latin-1"), t
    elif kind == 4:  # Windows-1252 quoted-printable, then undeclared 8-bit text
        t = "%s\r\n„Quoted“ – costs €%d…\r\n" % (code(n), n)
        if n % 24 == 4:
            m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain; charset=windows-1252",
                      "Content-Transfer-Encoding: quoted-printable"]
            m.body = qp(t.encode("cp1252"))
        else:
            # No character set and not UTF-8: read as Windows-1252.
            m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain",
                      "Content-Transfer-Encoding: 8bit"]
            m.body = t.encode("cp1252").decode("latin-1")
        m.text = t
    elif kind == 5:  # Shift_JIS base64
        t = "%s\r\nご注文ありがとうございます。番号%d\r\n" % (code(n), n)
        m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain; charset=Shift_JIS",
                  "Content-Transfer-Encoding: base64"]
        m.body, m.text = b64(t.encode("shift_jis")) + "\r\n", t
    elif kind == 6:  # undeclared 8-bit UTF-8
        t = "%s\r\nSchöne Grüße, ½ price ✓\r\n" % code(n)
        m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain",
                  "Content-Transfer-Encoding: 8bit"]
        m.body, m.text = t.encode("utf-8").decode("latin-1"), t
    elif kind == 7:  # RFC 2231 / encoded-word attachment names
        name = ["Rechnung März.pdf", "façade plan.bin", "報告書.dat"][n % 3]
        att = ("ATT:A-%d Anhang\r\n" % n).encode("utf-8")
        if n % 2:
            disp = "attachment; filename*=UTF-8''%s" % "".join(
                c if c.isascii() and c.isalnum() or c == "." else "".join("%%%02X" % b for b in c.encode())
                for c in name)
        else:
            disp = "attachment;\r\n filename*0*=UTF-8''%s;\r\n filename*1=\"%s\"" % (
                "".join("%%%02X" % b for b in name[:3].encode()), name[3:])
        m.mime = ["MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"b%d\"" % n]
        m.body = ("--b%d\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                  "Content-Transfer-Encoding: quoted-printable\r\n\r\n%s\r\n"
                  "--b%d\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Disposition: %s\r\nContent-Transfer-Encoding: base64\r\n\r\n%s\r\n"
                  "--b%d--\r\n") % (n, qp(text.encode()), n, disp, b64(att), n)
        m.text, m.attachment = text, att.decode()
    elif kind == 8:  # HTML only, quoted-printable, character references
        html = ("<html><head><style>p{}</style></head><body>\r\n<p>%s</p>\r\n"
                "<p>Gr&uuml;&szlig;e &amp; &#8364;%d &#x2713; f\u00fcr J\u00fcrgen</p></body></html>\r\n") % (code(n), n)
        m.mime = ["MIME-Version: 1.0", "Content-Type: text/html; charset=utf-8",
                  "Content-Transfer-Encoding: quoted-printable"]
        m.body = qp(html.encode("utf-8"))
        m.text = "p{}\r\n%s\r\nGrüße & €%d ✓ für Jürgen\r\n" % (code(n), n)
    elif kind == 9:  # multipart/alternative, Latin-1 plain and UTF-8 HTML
        m.mime = ["MIME-Version: 1.0",
                  "Content-Type: multipart/alternative; boundary=\"alt%d\"" % n]
        m.body = ("--alt%d\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                  "Content-Transfer-Encoding: quoted-printable\r\n\r\n%s\r\n"
                  "--alt%d\r\nContent-Type: text/html; charset=utf-8\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n%s\r\n--alt%d--\r\n") % (
            n, qp(text.encode("latin-1", "replace")), n,
            b64(("<p>%s</p>" % text).encode()), n)
        m.text = text.encode("latin-1", "replace").decode("latin-1")
        if n % 24 == 21:
            # The alternative inside a multipart/mixed, and the subject folded onto a second
            # line: the plain part is still the body, the subject still reads whole.
            m.mime[1] = "Content-Type: multipart/mixed; boundary=\"mix%d\"" % n
            m.body = ("This is a multi-part message in MIME format.\r\n--mix%d\r\n"
                      "Content-Type: multipart/alternative; boundary=\"alt%d\"\r\n\r\n%s"
                      "\r\n--mix%d--\r\n") % (n, n, m.body, n)
            m.head[2] = m.head[2].replace("Subject: ", "Subject:\r\n ", 1)
    elif kind == 10:  # an attached message and an attachment with an encoded-word name
        inner = ("From: Inner <inner@example.org>\r\nSubject: =?UTF-8?Q?Inneres_=C3=9C?=\r\n"
                 "Content-Type: text/plain; charset=UTF-8\r\n\r\nInner text only\r\n")
        att = ("ATT:M-%d\r\n" % n).encode()
        m.mime = ["MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"m%d\"" % n]
        m.body = ("--m%d\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n%s\r\n"
                  "--m%d\r\nContent-Type: application/octet-stream; name=\"%s\"\r\n"
                  "Content-Disposition: attachment; filename=\"%s\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n%s\r\n"
                  "--m%d\r\nContent-Type: message/rfc822\r\n\r\n%s\r\n--m%d--\r\n") % (
            n, b64(text.encode()), n, b_word("Übersicht.bin"), b_word("Übersicht.bin"),
            b64(att), n, inner, n)
        m.text, m.attachment = text, att.decode()
    else:  # malformed: bad QP escapes, bad UTF-8 bytes, a broken encoded word
        raw = ("%s\r\nbroken =ZZ escape, bad byte " % code(n)).encode() + b"\xff" + b" end\r\n"
        m.mime = ["MIME-Version: 1.0", "Content-Type: text/plain; charset=utf-8",
                  "Content-Transfer-Encoding: quoted-printable"]
        m.body = raw.replace(b"\xff", b"=FF").decode("latin-1")
        m.text = raw.decode("utf-8", "replace")
        m.head[2] = "Subject: Order %d =?UTF-8?Q?unfinished" % n
        m.subject_text = "Order %d =?UTF-8?Q?unfinished" % n
    return m


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "expected.txt"), "w", encoding="utf-8") as expected:
        for n in range(1, 61):
            m = make(n)
            with open(os.path.join(out, "%02d.eml" % n), "wb") as f:
                f.write(m.bytes())
            # One line per message: its code, then the values as they must read.
            body = " ".join(line.strip() for line in m.text.split("\r\n") if line.strip())
            expected.write("N-%d\t%s\t%s\t%s\t%s\t%s\t%s\n" % (
                n, m.subject_text, m.sender[0], m.sender[1], m.recipient[0], m.recipient[1],
                body))


if __name__ == "__main__":
    main()
