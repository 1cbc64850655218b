#!/usr/bin/env python3
"""A small IMAP server for what a real server will not do, on 127.0.0.1 in plain text.

    imap_scripted_server.py PORTFILE LOGFILE

Listens on a free port (written to PORTFILE once it listens), serves each connection on a
thread of its own and appends every command line it receives to LOGFILE as "user: line".
The login name picks the behaviour; every mailbox holds one small order message (UID 7):

    good       answers as a server should (UIDPLUS, MOVE)
    nouidplus  as good, without UIDPLUS
    lying      says the folder holds 5 messages and lists 1
    endless    announces a literal of 1000 bytes, sends 10 and then nothing
    closing    closes the connection in the middle of the message
    huge       sends a response line of 100 MB

It offers AUTH=XOAUTH2 (with SASL-IR) and not AUTH=PLAIN: a client that logs in with a
password uses LOGIN, one with an access token AUTHENTICATE XOAUTH2, whose decoded form is
logged as "user: XOAUTH2 user=NAME token=TOKEN". A literal in a command is logged as a quoted
string in its place.
"""
import base64
import re
import socket
import sys
import threading

MESSAGE = (b"From: Ann <ann@example.org>\r\nSubject: order H-1\r\n"
           b"Date: Fri, 08 Jan 2021 12:34:56 +0000\r\n\r\nCode: H-1\r\n")
log_lock = threading.Lock()


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
            if word == "CAPABILITY":
                shown = caps.replace(" UIDPLUS", "") if user == "nouidplus" else caps
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
    port_file, log_path = sys.argv[1], sys.argv[2]
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
