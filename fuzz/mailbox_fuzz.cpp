// The mailbox-file source over any bytes: the walk ends, hands over at most the messages it
// counted (a standard mbox file ("FILE_OTHER"): exactly those), and every file it writes (the
// scratch message file, decoded attachments) lies inside the scratch directory. The first
// byte chooses the file format (bit 1: mbox; else bit 0: Eudora or Netscape).
// A second property uses the bytes as the content of a well-formed message with one
// attachment: that message keeps its attachment, with the same decoded bytes, whether it is
// the first, the last or the only message, with or without blank lines after it, in a CR LF
// or an LF file (in a Netscape or an mbox file, by the same bit).
// For mbox inputs two more: the framing puts every byte that is not a line end between two
// messages into exactly one message, in order; and messages whose bodies are made from the
// bytes (with "From " lines, ">" marks and blank lines in them), written the way an mbox
// writer quotes them, are read back with the same bodies, in LF and CR LF files.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/mime_host.h"
#include "fuzz/fuzz_support.h"
#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "sources/mailbox_reader.h"
#include "sources/mbox_framing.h"
#include "sources/netscape_source.h"

namespace fs = std::filesystem;
using namespace tallix;

namespace {

constexpr std::size_t kMaxContentBytes = 600;

// The input as base64 text in lines of 76 characters: a valid encoded body of any length.
std::string Base64Lines(std::string_view input) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string chars;
    for (const char c : input.substr(0, kMaxContentBytes)) {
        chars.push_back(kAlphabet[static_cast<unsigned char>(c) & 63]);
    }
    chars.append((4 - chars.size() % 4) % 4, 'A');
    if (chars.empty()) chars = "QQ==";
    std::string out;
    for (std::size_t at = 0; at < chars.size(); at += 76) out += chars.substr(at, 76) + "\r\n";
    return out;
}

// The input as plain words and lines that never start a message.
std::string PlainText(std::string_view input) {
    std::string out;
    for (const char c : input.substr(0, kMaxContentBytes)) {
        const auto b = static_cast<unsigned char>(c);
        out += b % 16 == 0 ? std::string("\r\n") : std::string(1, static_cast<char>('a' + b % 26));
    }
    return out;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Attachments {
    std::size_t messages = 0;
    std::vector<std::string> contents;  // of the message at the index asked for
};

Attachments WalkFile(const std::string& path, const std::string& bytes, std::size_t index,
                     sources::AttachmentDecoder& decoder, std::string_view kind) {
    fuzz::WriteFile(path, bytes);
    Settings().useSource = kind;
    Settings().localFileName = path;
    Attachments out;
    sources::clsNetscape source;
    source.SetAttachmentDecoder(&decoder);
    source.Connect();
    source.GetFirstMsg();
    while (source.Message() && out.messages <= index + 1) {
        if (out.messages == index) {
            for (const std::string& file : source.Message()->Attachments()->Snapshot()) {
                out.contents.push_back(ReadAll(file));
            }
        }
        ++out.messages;
        source.Cleanup();
        source.GetNextMsg();
    }
    return out;
}

void CheckAttachmentKeptWhereverItStands(std::string_view input, const std::string& path,
                                         sources::AttachmentDecoder& decoder, bool mbox) {
    const std::string_view kind = mbox ? kSourceFileOther : kSourceNetscape;
    const std::string separator = mbox ? "From fuzz@example.org Fri Jan  8 12:34:56 1999\r\n"
                                       : "From - Fri Jan 08 12:34:56 1999\r\n";
    const std::string attached =
        separator +
        "From: a@example.com\r\nSubject: Attached\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"=_sep_7\"\r\n\r\n"
        "--=_sep_7\r\nContent-Type: text/plain\r\n\r\nSee the file.\r\n"
        "--=_sep_7\r\nContent-Type: application/octet-stream; name=\"code.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"code.bin\"\r\n\r\n" +
        Base64Lines(input) + "--=_sep_7--\r\n";
    const std::string plain =
        separator + "From: b@example.com\r\nSubject: Plain\r\n\r\n" + PlainText(input) + "\r\n";

    const Attachments reference = WalkFile(path, attached + "\r\n" + plain, 0, decoder, kind);
    FUZZ_CHECK(reference.messages == 2, "attachment message first: not two messages");
    FUZZ_CHECK(reference.contents.size() == 1, "attachment message first: attachment lost");
    struct Layout {
        std::string before;
        std::size_t index;
    };
    for (const Layout& layout : {Layout{plain + "\r\n", 1}, Layout{"", 0}}) {
        for (const char* tail : {"", "\r\n", "\r\n\r\n"}) {
            for (const bool lineFeeds : {false, true}) {
                std::string bytes = layout.before + attached + tail;
                if (lineFeeds) bytes = ReplaceAll(bytes, "\r\n", "\n");
                const Attachments got = WalkFile(path, bytes, layout.index, decoder, kind);
                const std::string where = std::string(layout.index ? "last" : "only") +
                                          " message, tail " +
                                          std::to_string(std::string(tail).size()) +
                                          (lineFeeds ? " bytes, LF" : " bytes, CR LF");
                FUZZ_CHECK(got.messages == layout.index + 1, where);
                FUZZ_CHECK(got.contents == reference.contents, where);
            }
        }
    }
}

// Every byte outside the messages the framing finds is a line end, the messages stand in file
// order without overlapping, and walking them gives the count.
void CheckMboxFramingCoversTheFile(const std::string& path, std::string_view bytes) {
    sources::MailboxReader reader;
    reader.Open(path);
    sources::MboxFraming framing(reader);
    std::size_t at = 0;
    std::size_t count = 0;
    while (const auto span = framing.Next(at)) {
        FUZZ_CHECK(span->start >= at && span->start < span->end && span->end <= bytes.size(),
                   "message span out of order or empty");
        for (std::size_t i = at; i < span->start; ++i) {
            FUZZ_CHECK(bytes[i] == '\n' || bytes[i] == '\r', "text between messages dropped");
        }
        at = span->end;
        FUZZ_CHECK(++count <= bytes.size(), "framing does not move on");
    }
    for (std::size_t i = at; i < bytes.size(); ++i) {
        FUZZ_CHECK(bytes[i] == '\n' || bytes[i] == '\r', "text after the last message dropped");
    }
    FUZZ_CHECK(count == framing.Count(), "count differs from the walk");
}

// Up to four message bodies from the input, in LF form: each byte picks a piece, and one
// piece moves on to the next body.
std::vector<std::string> MboxBodies(std::string_view input) {
    static constexpr std::string_view kPieces[] = {"From ", ">",       "\n",     "\n\n",   "x",
                                                   " ",     "From: y", ">From ", "From - "};
    std::vector<std::string> bodies(1);
    for (const char c : input.substr(0, kMaxContentBytes)) {
        const auto b = static_cast<unsigned char>(c);
        if (b % 10 == 9) {
            if (bodies.size() == 4) break;
            bodies.emplace_back();
        } else {
            bodies.back() += kPieces[b % 10];
        }
    }
    return bodies;
}

// A body line that is ">" signs and "From " gets one more ">", as an mbox writer stores it.
std::string QuoteFromLines(const std::string& body) {
    std::string out;
    std::size_t at = 0;
    while (at <= body.size()) {
        const std::size_t lf = body.find('\n', at);
        const std::string line =
            body.substr(at, lf == std::string::npos ? std::string::npos : lf - at);
        const std::size_t marks = line.find_first_not_of('>');
        if (marks != std::string::npos && line.compare(marks, 5, "From ") == 0) out += '>';
        out += line;
        if (lf == std::string::npos) break;
        out += '\n';
        at = lf + 1;
    }
    return out;
}

void CheckMboxBodiesComeBack(std::string_view input, const std::string& path, bool crlf) {
    const std::vector<std::string> bodies = MboxBodies(input);
    std::string file;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        file +=
            "From fuzz@example.org Fri Jan  8 12:34:56 1999\nFrom: a@example.com\n"
            "To: b@example.com\nDate: Fri, 08 Jan 99 12:34:56 -0500\nSubject: M" +
            std::to_string(i) + "\n\n" + QuoteFromLines(bodies[i]) + "\n\n";
    }
    if (crlf) file = ReplaceAll(file, "\n", "\r\n");
    fuzz::WriteFile(path, file);
    CheckMboxFramingCoversTheFile(path, file);
    Settings().useSource = kSourceFileOther;
    Settings().localFileName = path;
    sources::clsNetscape source;
    source.Connect();
    FUZZ_CHECK(source.TotalMessages() == static_cast<std::int32_t>(bodies.size()),
               "quoted bodies: message count " + std::to_string(source.TotalMessages()));
    source.GetFirstMsg();
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const std::string where = "quoted bodies: message " + std::to_string(i);
        FUZZ_CHECK(source.Message() != nullptr, where + " missing");
        FUZZ_CHECK(source.Message()->Subject() == "M" + std::to_string(i), where + " subject");
        FUZZ_CHECK(source.Message()->Body() == ReplaceAll(bodies[i], "\n", "\r\n"),
                   where + " body: " + source.Message()->Body());
        source.GetNextMsg();
    }
    FUZZ_CHECK(source.Message() == nullptr, "quoted bodies: more messages than written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto& sandbox = fuzz::Environment();
    fuzz::TrimLogs();
    static engine::EngineMimeHost& host = []() -> engine::EngineMimeHost& {
        engine::MimeHost().SetWaitLimit(std::chrono::seconds(20));
        return engine::MimeHost();
    }();
    const std::string scratch = ScratchDir();
    FUZZ_CHECK(!scratch.empty(), "no scratch directory");

    const std::string path = sandbox.work + "/mailbox";
    fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    const bool mbox = (data[0] & 2) != 0;
    Settings().useSource = mbox            ? kSourceFileOther
                           : (data[0] & 1) ? kSourceEudora
                                           : kSourceNetscape;
    Settings().localFileName = path;

    {
        sources::clsNetscape source;
        source.SetAttachmentDecoder(&host);
        source.Connect();
        std::int64_t handed = 0;
        if (source.IsConnected()) {
            source.GetFirstMsg();
            while (source.Message()) {
                ++handed;
                FUZZ_CHECK(handed <= source.TotalMessages(),
                           "more messages handed over than counted");
                (void)source.Message()->Body();
                source.Cleanup();
                source.GetNextMsg();
            }
            source.Cleanup();
            // Every message the framing finds is handed over, the damaged ones too.
            FUZZ_CHECK(!mbox || handed == source.TotalMessages(),
                       "mbox: fewer messages handed over than counted");
        }
        source.Disconnect();
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (mbox) {
        CheckMboxFramingCoversTheFile(path, input.substr(1));
        CheckMboxBodiesComeBack(input.substr(1), path, (data[0] & 4) != 0);
    }

    CheckAttachmentKeptWhereverItStands(input, path, host, mbox);

    for (const std::string& file : fuzz::FilesUnder(sandbox.root)) {
        const bool allowed = file == path || file.rfind(scratch + "/", 0) == 0 ||
                             file.rfind(sandbox.home + "/", 0) == 0 ||
                             file.rfind(sandbox.config + "/", 0) == 0;
        FUZZ_CHECK(allowed, file);
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(scratch, ec)) fs::remove_all(entry.path(), ec);
    Err().Clear();
    return 0;
}
