#!/usr/bin/env python3
"""The yardstick for bench/run_speed.sh: a plain Python program (standard library only) that
reads the benchmark's generated Netscape mailbox and writes the five output files of the
benchmark's templates, doing the same work in the simplest fast way: the whole file read at
once, split at the separator lines, each message cut into headers and body, start strings
found without regard to case in a lower-cased copy made once per field, base64 attachments
decoded, and duplicates kept out with a set per output file.

    python3 bench/fast_route.py MAILBOX OUTDIR

It knows only what the generated mailbox holds (plain, HTML and multipart messages in
US-ASCII, one attachment at most); it is no general mail reader. The templates it carries out
are the ones run_speed.sh writes:
  Orders      subject contains "Order": order number, customer, total, sender name, sent date
  Quantities  body contains "Quantity:": order number, quantity
  Sheets      an attachment contains "sku": its first line, the order number (duplicates kept)
  AllMail     every message: subject, sender address, received date
  Lunch       subject contains "Lunch": the body's first line (duplicates kept)
"""

import base64
import os
import re
import sys

MONTHS = {m: i for i, m in enumerate(
    ("jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"), 1)}
TAG = re.compile(r"<[^>]*>")
BLANKS = re.compile(r" {2,}")


def after(text, lowered, start):
    """The text after `start` (found without regard to case) up to the end of its line."""
    at = lowered.find(start)
    if at < 0:
        return ""
    at += len(start)
    end = len(text)
    for stop in ("\r", "\n"):
        e = text.find(stop, at)
        if 0 <= e < end:
            end = e
    return text[at:end].strip(" ").strip("\r\n\t")


def first_line(text):
    text = text.strip(" ").lstrip("\r\n\t")
    for i, c in enumerate(text):
        if c in "\r\n":
            return text[:i].strip(" ")
    return text.strip(" ")


def short_date(day, month, year):
    """A date as the engine writes it: month/day/year without leading zeros."""
    return "%d/%d/%s" % (MONTHS.get(month.lower()[:3], 0), int(day), year)


def headers_of(block):
    fields = {}
    name = None
    for line in block.split("\r\n"):
        if line[:1] in (" ", "\t") and name:
            fields[name] += " " + line.strip()
            continue
        colon = line.find(":")
        if colon > 0:
            name = line[:colon].strip().lower()
            if name not in fields:
                fields[name] = line[colon + 1:].strip()
    return fields


def parse(message):
    """(headers, separator line, body text, attachment texts) of one message."""
    head_end = message.find("\r\n\r\n")
    if head_end < 0:
        head_end = len(message)
    separator, _, header_block = message[:head_end].partition("\r\n")
    fields = headers_of(header_block)
    body = message[head_end + 4:]
    attachments = []
    ctype = fields.get("content-type", "text/plain").lower()
    if ctype.startswith("multipart/"):
        m = re.search(r'boundary="([^"]*)"', fields.get("content-type", ""), re.I)
        parts = body.split("\r\n--" + m.group(1)) if m else [body]
        text = ""
        for part in parts[1:]:
            part = part[2:] if part.startswith("\r\n") else part
            p_end = part.find("\r\n\r\n")
            if p_end < 0:
                continue
            p_fields = headers_of(part[:p_end])
            p_body = part[p_end + 4:]
            if "attachment" in p_fields.get("content-disposition", "").lower():
                if "base64" in p_fields.get("content-transfer-encoding", "").lower():
                    p_body = base64.b64decode(p_body).decode("latin-1")
                attachments.append(p_body)
            elif not text:
                text = p_body
        body = text
    elif ctype.startswith("text/html"):
        body = TAG.sub("", body).replace("&nbsp;", " ")
    return fields, separator, body, attachments


def name_and_address(value):
    """Display name and address of a From field; the engine drops double quotes and
    apostrophes from both (Bob O'Neil becomes Bob ONeil)."""
    value = value.replace('"', "").replace("'", "")
    lt = value.find("<")
    if lt >= 0:
        gt = value.find(">", lt)
        return value[:lt].strip(), value[lt + 1:gt if gt >= 0 else len(value)].strip()
    return value.strip(), value.strip()


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: fast_route.py MAILBOX OUTDIR\n")
        return 2
    mailbox, outdir = sys.argv[1:3]
    with open(mailbox, "rb") as f:
        data = f.read().decode("latin-1")
    names = ("Orders", "Quantities", "Sheets", "AllMail", "Lunch")
    lines = {name: [] for name in names}
    seen = {name: set() for name in names}

    def emit(name, values, unique):
        line = BLANKS.sub(" ", ",".join(values).strip(" ").strip("\r\n\t"))
        if unique:
            if line.strip() in seen[name]:
                return
            seen[name].add(line.strip())
        lines[name].append(line)

    start = data.find("From - ")
    if start < 0:
        start = len(data)
    for message in data[start:].split("\r\nFrom - "):
        if not message.startswith("From - "):
            message = "From - " + message
        message = message.rstrip("\r\n")
        fields, separator, body, attachments = parse(message)
        subject = fields.get("subject", "")
        sender_name, sender_address = name_and_address(fields.get("from", ""))
        lowered_subject = subject.lower()
        lowered_body = body.lower()
        order_no = after(body, lowered_body, "order number:")

        if "order" in lowered_subject:
            d = fields.get("date", "").split()
            sent = short_date(d[1], d[2], d[3]) if len(d) >= 4 else ""
            emit("Orders", (order_no, after(body, lowered_body, "customer:"),
                            after(body, lowered_body, "total:"), sender_name, sent), True)
        if "quantity:" in lowered_body:
            emit("Quantities", (order_no, after(body, lowered_body, "quantity:")), True)
        for attachment in attachments:
            if "sku" in attachment.lower():
                emit("Sheets", (first_line(attachment), order_no), False)
                break
        r = separator.split()  # From - Weekday Month Day Time Year
        received = short_date(r[4], r[3], r[6]) if len(r) >= 7 else ""
        emit("AllMail", (subject, sender_address, received), True)
        if "lunch" in lowered_subject:
            emit("Lunch", (first_line(body),), False)

    for name in names:
        with open(os.path.join(outdir, name + ".csv"), "w", encoding="latin-1", newline="") as f:
            f.write("".join(line + "\r\n" for line in lines[name]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
