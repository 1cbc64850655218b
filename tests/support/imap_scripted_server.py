#!/usr/bin/env python3
"""A small IMAP server for what a real server will not do, on 127.0.0.1 in plain text.

    imap_scripted_server.py PORTFILE LOGFILE [SPOOLDIR]

Listens on a free port (written to PORTFILE once it listens), serves each connection on a
thread of its own and appends every command line it receives to LOGFILE as "user: line".
The login name picks the behaviour; every mailbox holds one small order message (UID 7):

    good       answers as a server should (UIDPLUS, MOVE)
    nouidplus  as good, without UIDPLUS
    lying      says the folder holds 5 messages and lists 1
    endless    announces a literal of 1000 bytes, sends 10 and then nothing
    closing    closes the connection in the middle of the message
    huge       sends a response line of 100 MB

With SPOOLDIR, a user that has a folder SPOOLDIR/NAME holds the files of that folder instead,
in name order (UIDs 101, 102, ...), read anew at each command, so a test delivers a message by
writing a file there. Such users idle: IDLE sends "* n EXISTS" as soon as a file comes, and
logs "NAME: DONE" when the client ends it. Two of them behave apart:

    dropper    closes the connection 0.5 s into its first IDLE
    noidle...  (any name starting so) is offered no IDLE

It offers AUTH=XOAUTH2 (with SASL-IR) and not AUTH=PLAIN: a client that logs in with a
password uses LOGIN, one with an access token AUTHENTICATE XOAUTH2, whose decoded form is
logged as "user: XOAUTH2 user=NAME token=TOKEN". A literal in a command is logged as a quoted
string in its place.
"""
import base64
import os
import re
import select
import socket
import sys
import threading
import time

MESSAGE = (b"From: Ann <ann@example.org>\r\nSubject: order H-1\r\n"
           b"Date: Fri, 08 Jan 2021 12:34:56 +0000\r\n\r\nCode: H-1\r\n")
log_lock = threading.Lock()
spool = None
dropped = set()


def spooled(user):
    """The user's messages as (uid, bytes), or None when the user has no spool folder."""
    folder = os.path.join(spool, user) if spool else None
    if not folder or not os.path.isdir(folder):
        return None
    messages = []
    for i, name in enumerate(sorted(os.listdir(folder))):
        with open(os.path.join(folder, name), "rb") as f:
            messages.append((101 + i, f.read()))
    return messages


def serve(conn, log_path):
    user = "?"
    reader = conn.makefile("rb")

    def send(data):
        conn.sendall(data)

    def log(line):
        with log_lock, open(log_path, "a", encoding="utf-8") as f:
            f.write(user + ": " + line + "\n")

    caps = "IMAP4rev1 LITERAL+ SASL-IR AUTH=XOAUTH2 UIDPLUS MOVE"
    try:
        send(b"* OK scripted server ready\r\n")
        while True:
            raw = reader.readline()
            if not raw:
                return
            line = raw.decode("latin-1").rstrip("\r\n")
            # A literal ("{n}" waits for "+", "{n+}" does not) is read and shown quoted.
            while True:
                literal = re.search(r"\{(\d+)(\+?)\}$", line)
                if not literal:
                    break
                if not literal.group(2):
                    send(b"+ go on\r\n")
                data = reader.read(int(literal.group(1)))
                rest = reader.readline().decode("latin-1").rstrip("\r\n")
                line = line[:literal.start()] + '"' + data.decode("utf-8", "replace") + '"' + rest
            log(line)
            parts = line.split(" ")
            tag, cmd = parts[0], " ".join(parts[1:3]).upper()
            word = parts[1].upper() if len(parts) > 1 else ""
            mine = spooled(user)
            if word == "CAPABILITY":
                shown = caps.replace(" UIDPLUS", "") if user == "nouidplus" else caps
                if mine is not None and not user.startswith("noidle"):
                    shown += " IDLE"
                send(b"* CAPABILITY " + shown.encode() + b"\r\n" + tag.encode() + b" OK done\r\n")
            elif word == "AUTHENTICATE" and len(parts) == 4 and parts[2].upper() == "XOAUTH2":
                fields = base64.b64decode(parts[3]).decode("latin-1").split("\x01")
                user = fields[0][len("user="):]
                token = fields[1][len("auth=Bearer "):] if len(fields) > 1 else ""
                log("XOAUTH2 user=" + user + " token=" + token + " ends=" + repr(fields[2:]))
                send(tag.encode() + b" OK logged in\r\n")
            elif word == "LOGIN":
                user = parts[2].strip('"')
                send(tag.encode() + b" OK logged in\r\n")
            elif mine is not None and word in ("SELECT", "EXAMINE"):
                send(b"* %d EXISTS\r\n* OK [UIDVALIDITY 43] ok\r\n%s OK done\r\n"
                     % (len(mine), tag.encode()))
            elif mine is not None and word == "FETCH":
                for n, (uid, body) in enumerate(mine, 1):
                    send(b"* %d FETCH (UID %d RFC822.SIZE %d)\r\n" % (n, uid, len(body)))
                send(tag.encode() + b" OK done\r\n")
            elif mine is not None and cmd == "UID FETCH":
                wanted = {int(u) for u in parts[3].split(",")}
                for n, (uid, body) in enumerate(mine, 1):
                    if uid in wanted:
                        send(b"* %d FETCH (UID %d BODY[] {%d}\r\n" % (n, uid, len(body)) + body + b")\r\n")
                send(tag.encode() + b" OK done\r\n")
            elif mine is not None and word == "IDLE" and not user.startswith("noidle"):
                send(b"+ idling\r\n")
                known, started = len(mine), time.time()
                while True:
                    if user == "dropper" and user not in dropped and time.time() - started > 0.5:
                        dropped.add(user)
                        log("dropped while idling")
                        return
                    ready, _, _ = select.select([conn], [], [], 0.1)
                    if ready:
                        done = reader.readline().decode("latin-1").rstrip("\r\n")
                        log(done)
                        if not done:
                            return
                        send(tag.encode() + b" OK idle done\r\n")
                        break
                    count = len(spooled(user))
                    if count != known:
                        known = count
                        send(b"* %d EXISTS\r\n" % count)
            elif word in ("SELECT", "EXAMINE"):
                exists = 5 if user == "lying" else 1
                send(b"* %d EXISTS\r\n* OK [UIDVALIDITY 42] ok\r\n%s OK [READ-WRITE] done\r\n"
                     % (exists, tag.encode()))
            elif word == "FETCH":
                send(b"* 1 FETCH (UID 7 RFC822.SIZE %d)\r\n%s OK done\r\n" % (len(MESSAGE), tag.encode()))
            elif cmd == "UID FETCH":
                if user == "endless":
                    send(b"* 1 FETCH (UID 7 BODY[] {1000}\r\n" + MESSAGE[:10])
                    threading.Event().wait(120)
                    return
                if user == "closing":
                    send(b"* 1 FETCH (UID 7 BODY[] {%d}\r\n" % len(MESSAGE) + MESSAGE[:30])
                    return
                if user == "huge":
                    send(b"* 1 FETCH (UID 7 BODY[] ")
                    chunk = b"x" * (1 << 20)
                    for _ in range(100):
                        send(chunk)
                    send(b")\r\n" + tag.encode() + b" OK done\r\n")
                    continue
                send(b"* 1 FETCH (UID 7 BODY[] {%d}\r\n" % len(MESSAGE) + MESSAGE + b")\r\n"
                     + tag.encode() + b" OK done\r\n")
            elif word == "LOGOUT":
                send(b"* BYE bye\r\n" + tag.encode() + b" OK done\r\n")
                return
            else:
                send(tag.encode() + b" OK done\r\n")
    except OSError:
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def main():
    global spool
    port_file, log_path = sys.argv[1], sys.argv[2]
    spool = sys.argv[3] if len(sys.argv) > 3 else None
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.getsockname()[1]))
    import os
    os.rename(port_file + ".tmp", port_file)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn, log_path), daemon=True).start()


if __name__ == "__main__":
    main()
