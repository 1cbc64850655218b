// The mailbox-file source over any bytes: the walk ends, hands over at most the messages it
// counted, and every file it writes (the scratch message file, decoded attachments) lies
// inside the scratch directory. The first byte chooses the file format.
// A second property uses the bytes as the content of a well-formed message with one
// attachment: that message keeps its attachment, with the same decoded bytes, whether it is
// the first, the last or the only message, with or without blank lines after it, in a CR LF
// or an LF file.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/mime_host.h"
#include "engine/run_state.h"
#include "fuzz/fuzz_support.h"
#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
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
                     sources::AttachmentDecoder& decoder) {
    fuzz::WriteFile(path, bytes);
    Settings().useSource = kSourceNetscape;
    Settings().localFileName = path;
    Attachments out;
    sources::clsNetscape source;
    source.SetAttachmentDecoder(&decoder);
    engine::CurrentRun().currentSource = &source;
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
    engine::CurrentRun().currentSource = nullptr;
    return out;
}

void CheckAttachmentKeptWhereverItStands(std::string_view input, const std::string& path,
                                         sources::AttachmentDecoder& decoder) {
    const std::string separator = "From - Fri Jan 08 12:34:56 1999\r\n";
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

    const Attachments reference = WalkFile(path, attached + "\r\n" + plain, 0, decoder);
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
                const Attachments got = WalkFile(path, bytes, layout.index, decoder);
                const std::string where = std::string(layout.index ? "last" : "only") +
                                          " message, tail " + std::to_string(std::string(tail).size()) +
                                          (lineFeeds ? " bytes, LF" : " bytes, CR LF");
                FUZZ_CHECK(got.messages == layout.index + 1, where);
                FUZZ_CHECK(got.contents == reference.contents, where);
            }
        }
    }
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
    Settings().useSource = (data[0] & 1) ? kSourceEudora : kSourceNetscape;
    Settings().localFileName = path;

    {
        sources::clsNetscape source;
        source.SetAttachmentDecoder(&host);
        engine::CurrentRun().currentSource = &source;
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
        }
        source.Disconnect();
        engine::CurrentRun().currentSource = nullptr;
    }

    CheckAttachmentKeptWhereverItStands(
        std::string_view(reinterpret_cast<const char*>(data), size), path, host);

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
