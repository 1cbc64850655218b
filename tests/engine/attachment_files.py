#!/usr/bin/env python3
"""Attachments that are not text, made without any library beyond Python's own.

    attachment_files.py DIR

Writes into DIR: invoice.pdf (two pages, a table laid out in columns), loop.pdf (its page tree
holds itself), locked.pdf (a user password) and owner.pdf (an owner password only), both
made by qpdf, orders.xlsx and orders.ods (two sheets: numbers, dates, a time, a cell holding a
comma, a shared and an inline string), bomb.xlsx (a sheet that inflates to 200 MiB) and
binary.xlsb, orders.xls (a copy of tests/data/e2e/orders.xls, saved by an office suite from
orders.fods beside it), winmail.dat (a TNEF stream with a body text and a CSV file) and
forward.eml (a forwarded order with a CSV attachment and a forwarded message of its own). Then a
Netscape mailbox DIR/mail.mbox with one message per file, each file as a base64 attachment
(forward.eml as a message/rfc822 part as written), the subject naming the file.
"""
import base64
import os
import shutil
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def pdf(pages):
    """A PDF whose pages show the given lines: each line a list of (x, y, text)."""
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", None,
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    kids = []
    for runs in pages:
        stream = "".join("BT /F1 11 Tf %d %d Td (%s) Tj ET\n" % run for run in runs)
        objects.append("<< /Length %d >>\nstream\n%sendstream" % (len(stream), stream))
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                       "/Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>" % len(objects))
        kids.append("%d 0 R" % len(objects))
    objects[1] = "<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join(kids), len(kids))
    return assemble(objects)


def assemble(objects):
    out = b"%PDF-1.4\n"
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (i, body.encode("latin-1"))
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return out


def loop_pdf():
    return assemble(["<< /Type /Catalog /Pages 2 0 R >>",
                     "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 1000000 >>",
                     "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R 3 0 R] /Count 1000000 >>"])


SHEET = ('<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org'
         '/spreadsheetml/2006/main"><sheetData>%s</sheetData></worksheet>')


def xlsx(path):
    rows1 = ('<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>'
             '<c r="C1" t="inlineStr"><is><t>Date</t></is></c></row>'
             '<row r="2"><c r="A2" t="s"><v>2</v></c><c r="B2"><v>1.25E+3</v></c>'
             '<c r="C2" s="1"><v>46364</v></c><c r="E2" t="b"><v>1</v></c></row>'
             '<row r="5"><c r="A5" t="s"><v>3</v></c><c r="B5"><v>0.1</v></c>'
             '<c r="C5" s="2"><v>46364.5</v></c><c r="D5" s="3"><v>0.75</v></c></row>')
    rows2 = '<row r="1"><c r="A1" t="str"><v>Total</v></c><c r="B1"><v>1250.1</v></c></row>'
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", "<Types/>")
        z.writestr("xl/workbook.xml",
                   '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                   'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                   '<sheets><sheet name="Orders" sheetId="1" r:id="rId1"/>'
                   '<sheet name="Sum &amp; more" sheetId="2" r:id="rId2"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<Relationships><Relationship Id="rId1" Target="worksheets/sheet1.xml"/>'
                   '<Relationship Id="rId2" Target="/xl/worksheets/sheet2.xml"/></Relationships>')
        z.writestr("xl/sharedStrings.xml",
                   '<sst><si><t>Item</t></si><si><t>Amount</t></si>'
                   '<si><r><t>Seed set, </t></r><r><t>vegetables</t></r></si>'
                   '<si><t>Say "hi"</t></si></sst>')
        z.writestr("xl/styles.xml",
                   '<styleSheet><numFmts><numFmt numFmtId="164" formatCode="yyyy-mm-dd hh:mm"/>'
                   '</numFmts><cellXfs><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/>'
                   '<xf numFmtId="20"/></cellXfs></styleSheet>')
        z.writestr("xl/worksheets/sheet1.xml", SHEET % rows1)
        z.writestr("xl/worksheets/sheet2.xml", SHEET % rows2)


def bomb(path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("xl/workbook.xml", '<workbook><sheets><sheet name="A" r:id="r1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels", '<Relationships/>')
        with z.open("xl/sharedStrings.xml", "w", force_zip64=True) as f:
            for _ in range(200):
                f.write(b" " * (1 << 20))


def ods(path):
    ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"')
    cell = '<table:table-cell%s><text:p>%s</text:p></table:table-cell>'
    sheet1 = ('<table:table table:name="Orders">'
              '<table:table-row>' + cell % ("", "Item") + cell % ("", "Amount") + '</table:table-row>'
              '<table:table-row>' + cell % ("", "Seed set, vegetables")
              + cell % (' office:value-type="float" office:value="1250"', "1,250.00")
              + cell % (' office:value-type="date" office:date-value="2026-12-08"', "08.12.26")
              + cell % (' office:value-type="time" office:time-value="PT18H00M00S"', "6 PM")
              + '<table:table-cell table:number-columns-repeated="16380"/></table:table-row>'
              '<table:table-row table:number-rows-repeated="1048570"><table:table-cell/></table:table-row>'
              '</table:table>')
    sheet2 = ('<table:table table:name="Notes"><table:table-row>'
              '<table:table-cell><text:p>two<text:s text:c="2"/>spaces</text:p>'
              '<text:p>second line</text:p></table:table-cell></table:table-row></table:table>')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet",
                   zipfile.ZIP_STORED)
        z.writestr("content.xml", '<office:document-content %s><office:body><office:spreadsheet>'
                   '%s%s</office:spreadsheet></office:body></office:document-content>'
                   % (ns, sheet1, sheet2))


def tnef():
    """A TNEF stream as Outlook sends it: a body text in code page 1252 and one attached file."""
    def attribute(level, att, data):
        return struct.pack("<BII", level, att, len(data)) + data + struct.pack("<H", sum(data) & 0xFFFF)
    out = struct.pack("<IH", 0x223E9F78, 1)
    out += attribute(1, 0x00089006, struct.pack("<I", 0x00010000))  # version
    out += attribute(1, 0x00069007, struct.pack("<II", 1252, 0))  # code page
    out += attribute(1, 0x00078008, b"IPM.Microsoft Mail.Note\0")
    out += attribute(1, 0x0002800C, "Order 5120 from K\xf6ln\r\nTotal: 18.40 EUR\0".encode("cp1252"))
    out += attribute(2, 0x00069002, b"\x01\x00\xff\xff\xff\xff\x01\x00\x01\x00\x00\x00\x00\x00")
    out += attribute(2, 0x00018010, b"lines.csv\0")
    out += attribute(2, 0x0006800F, b"Item,Qty\r\nHoe,3\r\n")
    return out


def forwarded():
    """A forwarded order: its text, a CSV attachment, and a forwarded message inside it."""
    inner = (b"From: Bo <bo@example.net>\r\nSubject: Note\r\nContent-Type: text/plain\r\n\r\n"
             b"Deliver after 5 pm.\r\n")
    return (b"From: Cy <cy@example.com>\r\nSubject: Order 4702\r\nMIME-Version: 1.0\r\n"
            b"Content-Type: multipart/mixed; boundary=\"=_inner_boundary_3\"\r\n\r\n"
            b"--=_inner_boundary_3\r\nContent-Type: text/plain; charset=utf-8\r\n"
            b"Content-Transfer-Encoding: quoted-printable\r\n\r\n"
            b"Order number: 4702\r\nShip to: M=C3=BCnster\r\n"
            b"--=_inner_boundary_3\r\nContent-Type: text/csv; name=\"items.csv\"\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\n"
            + base64.b64encode(b"Item,Qty\r\nRake,1\r\n") + b"\r\n"
            b"--=_inner_boundary_3\r\nContent-Type: message/rfc822\r\n\r\n" + inner
            + b"--=_inner_boundary_3--\r\n")


def mailbox(directory, names):
    out = b""
    for name in names:
        data = open(os.path.join(directory, name), "rb").read()
        # winmail.dat comes alone: its text is the message's.
        out += (b"From - Tue Dec 08 10:00:00 2026\r\nFrom: Ann <ann@example.org>\r\n"
                b"Subject: file %s\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                b"To: shop@example.com\r\nContent-Type: multipart/mixed; boundary=\"=_part_boundary_7\"\r\n\r\n--=_part_boundary_7\r\n"
                b"%s--=_part_boundary_7\r\n" % (name.encode(), b"" if name == "winmail.dat" else
                b"Content-Type: text/plain\r\n\r\nSee the attachment.\r\n"))
        if name.endswith(".eml"):
            out += (b"Content-Type: message/rfc822; name=\"%s\"\r\n"
                    b"Content-Disposition: attachment; filename=\"%s\"\r\n\r\n" % (name.encode(), name.encode()))
            out += data
        else:
            out += (b"Content-Type: application/octet-stream; name=\"%s\"\r\n"
                    b"Content-Disposition: attachment; filename=\"%s\"\r\n"
                    b"Content-Transfer-Encoding: base64\r\n\r\n" % (name.encode(), name.encode()))
            b64 = base64.b64encode(data)
            out += b"".join(b64[i:i + 76] + b"\r\n" for i in range(0, len(b64), 76))
        out += b"--=_part_boundary_7--\r\n\r\n"
    open(os.path.join(directory, "mail.mbox"), "wb").write(out)


def main():
    d = sys.argv[1]
    page1 = [(72, 720, "Invoice number: INV-2041"), (72, 690, "Item"), (300, 690, "Qty"),
             (72, 672, "Seed set"), (300, 672, "2"), (72, 654, "Rake"), (300, 654, "1")]
    page2 = [(72, 720, "Total due: 41.90 EUR")]
    open(os.path.join(d, "invoice.pdf"), "wb").write(pdf([page1, page2]))
    open(os.path.join(d, "loop.pdf"), "wb").write(loop_pdf())
    xlsx(os.path.join(d, "orders.xlsx"))
    ods(os.path.join(d, "orders.ods"))
    bomb(os.path.join(d, "bomb.xlsx"))
    with zipfile.ZipFile(os.path.join(d, "binary.xlsb"), "w") as z:
        z.writestr("xl/workbook.bin", b"\x00\x01binary")
    shutil.copy(os.path.join(HERE, "..", "data", "e2e", "orders.xls"), os.path.join(d, "orders.xls"))
    open(os.path.join(d, "winmail.dat"), "wb").write(tnef())
    open(os.path.join(d, "forward.eml"), "wb").write(forwarded())
    names = ["invoice.pdf", "loop.pdf", "orders.xlsx", "orders.ods", "bomb.xlsx", "binary.xlsb",
             "orders.xls", "winmail.dat", "forward.eml"]
    for name, user in (("locked.pdf", "secret"), ("owner.pdf", "")):
        subprocess.run(["qpdf", "--encrypt", user, "owner-pw", "256", "--",
                        os.path.join(d, "invoice.pdf"), os.path.join(d, name)], check=True)
        names.append(name)
    mailbox(d, names)


if __name__ == "__main__":
    main()
