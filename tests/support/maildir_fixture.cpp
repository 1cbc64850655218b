#include "tests/support/maildir_fixture.h"

#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

namespace tallix::testing {
namespace {

std::string Name(int n, const char* dir, const char* flags = "") {
    return std::string(dir) + "/" + std::to_string(kFixtureFirstDelivery + 60 * (n - 1)) + ".M" +
           std::to_string(n) + "P100.fixture" + flags;
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void MakeDir(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + dir);
}

}  // namespace

const std::vector<FixtureMessage>& FixtureMessages() {
    static const std::vector<FixtureMessage> messages = {
        {Name(1, "new"),
         "From: \"Ann Smith\" <ann@example.org>\n"
         "To: Shop Orders <orders@shop.example>\n"
         "Date: Sun, 01 Mar 2026 09:30:00 +0000\n"
         "Subject: Order A-11\n"
         "\n"
         "Hello,\nCode: A-11\nThanks\n"},
        {Name(2, "cur", ":2,S"),
         "From: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <juergen@example.de>\n"
         "To: orders@shop.example\n"
         "Date: Mon, 02 Mar 2026 08:00:00 +0100\n"
         "Subject: =?UTF-8?B?T3JkZXIgZsO8ciBKw7xyZ2Vu?=\n"
         "MIME-Version: 1.0\n"
         "Content-Type: text/plain; charset=UTF-8\n"
         "Content-Transfer-Encoding: quoted-printable\n"
         "\n"
         "Code: =C3=9C-12\n"},
        {Name(3, "new"),
         "From: Bob <bob@example.net>\n"
         "To: Shop <orders@shop.example>\n"
         "Date: Mon, 02 Mar 2026 11:00:00 +0000\n"
         "Subject: order latin\n"
         "MIME-Version: 1.0\n"
         "Content-Type: text/plain; charset=ISO-8859-1\n"
         "Content-Transfer-Encoding: 8bit\n"
         "\n"
         "Code: B-13 Gr\xf6\xdf"
         "e\n"},
        {Name(4, "cur", ":2,"),
         "From: Web Shop <web@shop.example>\n"
         "To: Orders <orders@shop.example>\n"
         "Subject: Order html\n"
         "MIME-Version: 1.0\n"
         "Content-Type: text/html; charset=utf-8\n"
         "\n"
         "<html><head><title>Code: X-0</title><style>p {color: red}</style></head>\n"
         "<body><p>Code: <b>H-14</b></p><p>Bye &amp; thanks</p></body></html>\n"},
        {Name(5, "new"),
         "From: Carol <carol@example.com>\n"
         "Date: Mon, 02 Mar 2026 12:00:00 +0000\n"
         "Subject: Order no recipient\n"
         "\n"
         "Code: N-15\n"},
        {Name(6, "new"),
         "From: Dan <dan@example.org>\n"
         "To: Shop <orders@shop.example>\n"
         "Date: Mon, 02 Mar 2026 12:30:00 +0000\n"
         "Subject: Attachments\n"
         "MIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"b1\"\n"
         "\n"
         "--b1\n"
         "Content-Type: text/plain; charset=us-ascii\n"
         "\n"
         "See the attached files.\n"
         "--b1\n"
         "Content-Type: text/plain; name=\"codes.txt\"\n"
         "Content-Disposition: attachment; filename=\"codes.txt\"\n"
         "\n"
         "first: F-1\n"
         "--b1\n"
         "Content-Type: text/plain\n"
         "Content-Disposition: attachment;\n"
         " filename*=UTF-8''%C3%BCbersicht%20refs.txt\n"
         "Content-Transfer-Encoding: base64\n"
         "\n"
         "cmVmOiBSLTIyMzEK\n"
         "--b1\n"
         "Content-Type: text/plain; name=\"codes.txt\"\n"
         "Content-Disposition: attachment; filename=\"codes.txt\"\n"
         "\n"
         "dup: D-2\n"
         "--b1\n"
         "Content-Type: application/octet-stream\n"
         "Content-Disposition: attachment; filename=\"../../evil.txt\"\n"
         "\n"
         "evil: E-1\n"
         "--b1--\n"},
        {Name(7, "cur", ":2,S"),
         std::string("\x00\x01\x02\xff\xfe\x89PNG\r\n\x1a\n\x00\x00garbage\xc3\x28 bytes\x00", 31)},
        {Name(8, "new"),
         "From: Tom <tom@example.org>\n"
         "To: Shop <orders@shop.example>\n"
         "Date: Mon, 02 Mar 2026 13:00:00 +0000\n"
         "Subject: Order truncated\n"
         "MIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"cut\"\n"
         "\n"
         "--cut\n"
         "Content-Type: text/plain\n"
         "\n"
         "Code: T-18\n"
         "The rest is miss"},
        {Name(9, "new"),
         "From: News <news@list.example>\n"
         "To: orders@shop.example\n"
         "Date: Mon, 02 Mar 2026 14:00:00 +0000\n"
         "Subject: Weekly news\n"
         "\n"
         "Nothing to see here.\n"},
    };
    return messages;
}

void WriteMaildirFixture(const std::string& dir) {
    MakeDir(dir);
    for (const char* sub : {"/cur", "/new", "/tmp"}) MakeDir(dir + sub);
    for (const FixtureMessage& m : FixtureMessages()) Write(dir + "/" + m.file, m.bytes);
    // Neither of these is a message of the inbox.
    Write(dir + "/cur/.hidden", "From: x@example.org\n\nCode: NOT-ME\n");
    Write(dir + "/tmp/1772449999.M99P100.fixture",
          "From: x@example.org\nSubject: Order tmp\n\nCode: NOT-ME\n");
}

}  // namespace tallix::testing
