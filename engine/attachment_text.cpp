#include "engine/attachment_text.h"

#include <sys/resource.h>
#include <unistd.h>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/attachment_parts.h"
#include "engine/script_host/script_process.h"
#include "model/file_bytes.h"
#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

// The child takes at most `extra` bytes of address space more than it had when it began. The
// sanitizers reserve their shadow memory as address space, so under them no limit is set.
void LimitMemory(std::size_t extra) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    unsigned long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const rlim_t have = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
    const struct rlimit limit { have + extra, have + extra };
    ::setrlimit(RLIMIT_AS, &limit);
#else
    (void)extra;
#endif
}

void Quiet(const std::string&, void*) {}

// The PDF library reads its tables and the character conversions load their modules on first
// use. Done once here, each conversion's process starts with them instead of reading them again;
// the page read is one the program holds, not a stranger's file.
void ReadyThePdfLibrary() {
    static const bool ready = [] {
        poppler::set_debug_error_function(Quiet, nullptr);
        static constexpr std::string_view kPage =
            "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
            "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
            "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 9 9]>>endobj\ntrailer<</Root 1 0 R>>\n";
        std::vector<char> bytes(kPage.begin(), kPage.end());
        const std::unique_ptr<poppler::document> document(
            poppler::document::load_from_data(&bytes));
        if (document && document->pages() > 0) {
            const std::unique_ptr<poppler::page> page(document->create_page(0));
            if (page) (void)page->text(page->page_rect(), poppler::page::physical_layout).to_utf8();
        }
        return true;
    }();
    (void)ready;
}

}  // namespace

AttachmentKind KindOfAttachment(const std::string& path, std::string_view head,
                                std::string_view type) {
    if (ContainerOf(path, type) == ContainerKind::ForwardedMessage) return AttachmentKind::Message;
    head = head.substr(0, 1024);
    if (head.find("%PDF-") != std::string_view::npos) return AttachmentKind::Pdf;
    if (head.starts_with(std::string_view("PK\x03\x04", 4))) return KindOfZip(path);
    if (head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") && EndsWithNoCase(path, ".xls"))
        return AttachmentKind::Xls;
    return AttachmentKind::Other;
}

ConvertedText ConvertAttachment(const std::string& path, AttachmentKind kind) {
    ConvertedText converted;
    const bool finished = RunCatching([&] {
        switch (kind) {
            case AttachmentKind::Pdf:
                converted = PdfText(path);
                break;
            case AttachmentKind::Xlsx:
                converted = XlsxText(path);
                break;
            case AttachmentKind::Ods:
                converted = OdsText(path);
                break;
            case AttachmentKind::Xls:
                converted = XlsText(path);
                break;
            case AttachmentKind::Message:
                converted = MessageText(path);
                break;
            case AttachmentKind::BinaryWorkbook:
                converted.problem = "a binary workbook (.xlsb) is not read";
                break;
            case AttachmentKind::Other:
                converted.problem = "not a kind of file that is converted";
                break;
        }
    });
    if (!finished) {
        converted = {};
        converted.problem = Err().description;
        Err().Clear();
    }
    if (converted.ok && converted.text.size() > kMaxConvertedBytes)
        converted.text.resize(kMaxConvertedBytes);
    return converted;
}

ConvertedText RunConversionApart(const std::function<ConvertedText()>& work,
                                 const ConversionLimits& limits) {
    script::ChildOutcome outcome;
    const bool started = RunCatching([&] {
        outcome = script::RunInChildProcess(
            [&] {
                LimitMemory(limits.memoryBytes);
                const ConvertedText converted = work();
                std::string result;
                script::PutText(result, converted.ok ? "1" : "0");
                script::PutText(result, converted.ok ? converted.text : converted.problem);
                return result;
            },
            limits.time);
    });
    ConvertedText converted;
    if (!started) {
        converted.problem = "the conversion could not be started: " + Err().description;
        Err().Clear();
        return converted;
    }
    switch (outcome.ending) {
        case script::ChildEnding::TimeLimit:
            converted.problem = "the conversion was stopped after " +
                                std::to_string(limits.time.count()) + " ms, its time limit";
            return converted;
        case script::ChildEnding::Ended:
            converted.problem = "the conversion ended with " + outcome.cause;
            return converted;
        case script::ChildEnding::Finished:
            break;
    }
    std::string_view in = outcome.result;
    std::string flag, text;
    if (!script::TakeText(in, flag) || !script::TakeText(in, text)) {
        converted.problem = "the conversion gave no answer";
        return converted;
    }
    converted.ok = flag == "1";
    (converted.ok ? converted.text : converted.problem) = std::move(text);
    return converted;
}

ConvertedText ConvertAttachmentApart(const std::string& path, AttachmentKind kind,
                                     const ConversionLimits& limits) {
    // A forwarded message is read by the program's own MIME code, in its own process.
    if (kind == AttachmentKind::Message) return ConvertAttachment(path, kind);
    if (kind == AttachmentKind::Pdf) ReadyThePdfLibrary();
    return RunConversionApart([&] { return ConvertAttachment(path, kind); }, limits);
}

ConvertedText PdfText(const std::string& path) {
    ConvertedText converted;
    // The library's complaints about a damaged file would go to the engine's standard error.
    poppler::set_debug_error_function(Quiet, nullptr);
    const std::unique_ptr<poppler::document> document(poppler::document::load_from_file(path));
    if (!document) {
        converted.problem = "not a PDF that can be read";
        return converted;
    }
    // A PDF encrypted with an owner password only opens without one; a user password is
    // needed to read the rest.
    if (document->is_locked()) document->unlock("", "");  // says whether it is still locked
    if (document->is_locked()) {
        converted.problem = "the PDF is protected by a password";
        return converted;
    }
    const int pages = document->pages();
    for (int i = 0; i < pages && converted.text.size() < kMaxConvertedBytes; ++i) {
        const std::unique_ptr<poppler::page> page(document->create_page(i));
        if (!page) continue;
        const std::vector<char> utf8 =
            page->text(page->page_rect(), poppler::page::physical_layout).to_utf8();
        // Lines as the page lays them out, each ended by CR LF; a page break is a line break.
        std::string_view text(utf8.data(), utf8.size());
        while (!text.empty() && (text.back() == '\f' || text.back() == '\n' ||
                                 text.back() == '\r' || text.back() == ' '))
            text.remove_suffix(1);
        for (char c : text) {
            if (c == '\r') continue;
            if (c == '\f') c = '\n';
            if (c == '\n') converted.text += '\r';
            converted.text += c;
        }
        if (!text.empty()) converted.text += "\r\n";
    }
    converted.ok = true;
    return converted;
}

ConvertedText MessageText(const std::string& path) {
    ConvertedText converted;
    if (const std::string* kept = KeptScratchFile(path)) {
        converted.text = ForwardedMessageText(*kept);
        converted.ok = true;
        return converted;
    }
    std::string bytes;
    if (const int error = ReadRegularFile(path, bytes, kMaxConvertedBytes)) {
        converted.problem = SystemReason(error);
        return converted;
    }
    converted.text = ForwardedMessageText(bytes);
    converted.ok = true;
    return converted;
}

std::string PlainNumber(std::string_view text) {
    if (text.find_first_of("eE") == std::string_view::npos) return std::string(text);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::string(text);
    const double magnitude = std::fabs(value);
    if (value != 0 && (magnitude < 1e-7 || magnitude >= 1e21)) return std::string(text);
    char digits[64];
    const auto written =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
    if (written.ec != std::errc()) return std::string(text);
    return std::string(digits, written.ptr);
}

}  // namespace tallix::engine
