#!/usr/bin/env python3
"""Writes examples/sample-inbox.mbox: a Netscape-style mailbox of 30 messages (CR LF line ends)
covering plain text, HTML, multipart messages with attachments, a reply-to header and messages
that no example template matches. Deterministic: running it again gives the same bytes."""
import base64, os

days = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
customers = [("Ann Smith", "ann.smith@example.org"), ("Bob Jones", "bob@example.net"),
             ("Carla Diaz", "carla.diaz@example.com"), ("Dev Patel", "dev.patel@example.org"),
             ("Eva Novak", "eva@example.net"), ("Frank Moore", "frank.moore@example.com")]
products = ["Garden hose 20 m", "Rain barrel", "Pruning shears", "Seed set, vegetables",
            "Watering can", "Compost bin"]

def separator(i):
    day = 1 + i % 28
    # The C library's fixed date form pads a one-digit day with a blank.
    return "From - %s Mar %2d %02d:%02d:00 2026" % (days[i % 7], day, 8 + i % 10, (i * 7) % 60)

def date_header(i):
    day = 1 + i % 28
    return "Date: %s, %02d Mar 2026 %02d:%02d:00 +0100" % (days[i % 7], day, 8 + i % 10, (i * 7) % 60)

def message(i, headers, body):
    lines = [separator(i)] + headers + [date_header(i), "Message-ID: <%d.sample@shop.example>" % i, ""]
    return "\r\n".join(lines) + "\r\n" + body.replace("\n", "\r\n")

def order(i, n):
    n = (i // 6) * 2 + (i % 6 == 2)  # two orders in every six messages, numbered in turn
    name, addr = customers[n % len(customers)]
    qty = 1 + n % 3
    price = 12.5 + 7 * n
    return message(i, ["From: Shop Orders <orders@shop.example>", "To: %s <%s>" % (name, addr),
                       "Subject: Order confirmation %d" % (4700 + n),
                       "Content-Type: text/plain; charset=utf-8"],
                   "Dear %s,\n\nthank you for your order.\n\nOrder number: %d\nCustomer: %s\n"
                   "Item: %s\nQuantity: %d\nTotal: %.2f EUR\n\nKind regards\nThe garden shop\n"
                   % (name, 4700 + n, name, products[n % len(products)], qty, price * qty))

def contact(i, n):
    name, addr = customers[(n + 2) % len(customers)]
    return message(i, ["From: Web Form <noreply@shop.example>", "Reply-To: %s <%s>" % (name, addr),
                       "To: Shop Team <team@shop.example>", "Subject: Contact form: question",
                       "Content-Type: text/plain; charset=utf-8"],
                   "A visitor sent the contact form.\n\nName: %s\nEmail: %s\nPhone: +49 30 555 %04d\n"
                   "Message: Do you deliver on Saturdays?\nThanks!\n---\n" % (name, addr, 1000 + n * 37))

def html_support(i, n):
    name, addr = customers[(n + 4) % len(customers)]
    return message(i, ["From: %s <%s>" % (name, addr), "To: Support <support@shop.example>",
                       "Subject: Support request", "MIME-Version: 1.0",
                       "Content-Type: text/html; charset=utf-8"],
                   "<html><body><p>Hello,</p>\n<p>Ticket: <b>T-%03d</b></p>\n"
                   "<p>My <i>watering can</i> leaks.&nbsp;Please help.</p></body></html>\n" % (100 + n))

def signup(i, n):
    name, addr = customers[(n + 1) % len(customers)]
    attachment = "Newsletter sign-up\nName: %s\nEmail: %s\nTopics: roses, tools\n" % (name, addr)
    encoded = base64.encodebytes(attachment.replace("\n", "\r\n").encode()).decode()
    boundary = "----=_Part_%d_sample" % n
    body = ("This is a multi-part message in MIME format.\n\n--%s\nContent-Type: text/plain; charset=utf-8\n"
            "Content-Transfer-Encoding: 7bit\n\nA new sign-up is attached.\n\n--%s\n"
            "Content-Type: text/plain; name=\"signup-%d.txt\"\nContent-Transfer-Encoding: base64\n"
            "Content-Disposition: attachment; filename=\"signup-%d.txt\"\n\n%s\n--%s--\n"
            % (boundary, boundary, n, n, encoded, boundary))
    return message(i, ["From: Sign-up Service <signup@shop.example>", "To: Shop Team <team@shop.example>",
                       "Subject: New newsletter sign-up", "MIME-Version: 1.0",
                       "Content-Type: multipart/mixed;\r\n boundary=\"%s\"" % boundary], body)

def unrelated(i, n):
    subjects = ["Team lunch on Friday", "Invoice from the printer", "Re: holiday plans", "Your parcel is on its way"]
    return message(i, ["From: Colleague <colleague@shop.example>", "To: Shop Team <team@shop.example>",
                       "Subject: %s" % subjects[n % len(subjects)], "Content-Type: text/plain"],
                   "Just a note that has nothing to do with orders.\nSee you.\n")

kinds = [order, contact, order, html_support, signup, unrelated]
messages = [kinds[i % len(kinds)](i, i // len(kinds)) for i in range(30)]
out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample-inbox.mbox")
with open(out, "wb") as f:
    f.write("\r\n".join(messages).encode())
print(out)
