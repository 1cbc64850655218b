#!/usr/bin/env python3
"""Writes settings/unicode_upper_table.cpp: the simple upper-case mapping of every character
whose upper-case form is one character of the same UTF-8 length. Case-insensitive searches
upper-case a text and cut the value out of the original at the same byte positions, so a
mapping that changes the length (a dotless i, a long s) is left out.

Run from the source root, then lay the file out:
    python3 tools/make_unicode_upper_table.py && clang-format -i settings/unicode_upper_table.cpp"""
import sys
import unicodedata

pairs = []
for cp in range(0x80, 0x110000):
    if 0xD800 <= cp <= 0xDFFF:
        continue
    up = chr(cp).upper()
    if len(up) != 1 or up == chr(cp):
        continue
    if len(chr(cp).encode()) != len(up.encode()):
        continue
    pairs.append((cp, ord(up)))

# Runs of characters that share one offset and one step are one row.
rows = []
for cp, up in pairs:
    if rows:
        first, last, step, delta = rows[-1]
        if up - cp == delta and (step == 0 and cp == last + 1 or cp == last + step) and (
                step or cp == last + 1):
            if step == 0:
                step = cp - last
            rows[-1] = (first, cp, step, delta)
            continue
        if up - cp == delta and step == 0 and cp == last + 2:
            rows[-1] = (first, cp, 2, delta)
            continue
    rows.append((cp, cp, 0, up - cp))

out = sys.stdout if len(sys.argv) > 1 and sys.argv[1] == "-" else open(
    "settings/unicode_upper_table.cpp", "w")
out.write("// Written by tools/make_unicode_upper_table.py (Unicode %s); do not edit.\n"
          % unicodedata.unidata_version)
out.write('#include "settings/unicode_upper_table.h"\n\nnamespace tallix {\n\n')
out.write("const UpperRow kUnicodeUpperRows[] = {\n")
for first, last, step, delta in rows:
    out.write("    {0x%X, 0x%X, %d, %d},\n" % (first, last, max(step, 1), delta))
out.write("};\nconst std::size_t kUnicodeUpperRowCount = sizeof(kUnicodeUpperRows) / "
          "sizeof(kUnicodeUpperRows[0]);\n\n}  // namespace tallix\n")
