#pragma once
// The text of attachments that are not text themselves: what a PDF shows, line by line, and
// the cells of a spreadsheet (.xlsx, .ods, .xls) as CSV. A template then searches them as it
// searches a text attachment. Each conversion runs in a process of its own with a time limit
// and a memory limit, and every size it reads is capped, so a hostile file (a PDF that loops,
// a zip bomb posing as a workbook) can neither stall nor sink a run.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tallix::engine {

enum class AttachmentKind {
    Other,           // read as it stands
    Pdf,             // "%PDF-" near the start
    Xlsx,            // a zip holding xl/workbook.xml (.xlsx, .xlsm)
    Ods,             // a zip whose "mimetype" is an OpenDocument spreadsheet
    Xls,             // an OLE2 compound file named .xls
    BinaryWorkbook,  // a zip holding xl/workbook.bin (.xlsb): not read, gives empty text
    Message,         // a forwarded message (message/rfc822, .eml): its text
};

// What the attachment file is, from its MIME type `type` where the source knows it, its
// first bytes `head` (1 KiB is enough) and, for a zip, the names it holds.
AttachmentKind KindOfAttachment(const std::string& path, std::string_view head,
                                std::string_view type = {});

// The most bytes a conversion reads of one part of a container and the most text it gives.
inline constexpr std::size_t kMaxConvertedBytes = std::size_t{64} << 20;

struct ConvertedText {
    bool ok = false;
    std::string text;     // with ok: lines ended by CR LF
    std::string problem;  // without: why there is no text
};

// Converts the file in the calling process: the conversion itself, without limits of time or
// memory (those are ConvertAttachmentApart's). Never raises.
ConvertedText ConvertAttachment(const std::string& path, AttachmentKind kind);

struct ConversionLimits {
    std::chrono::milliseconds time{5000};
    std::size_t memoryBytes = std::size_t{768} << 20;  // beyond what the process had
};
// Runs `work` in a child process that ends at the time limit and cannot take more than the
// memory limit. Never raises: a conversion that overruns or crashes has a problem text.
ConvertedText RunConversionApart(const std::function<ConvertedText()>& work,
                                 const ConversionLimits& limits);
// Converts the file in such a process (a forwarded message, read by the program's own code,
// in the calling one).
ConvertedText ConvertAttachmentApart(const std::string& path, AttachmentKind kind,
                                     const ConversionLimits& limits = {});

// A zip file: the kind of workbook it holds (Other when none).
AttachmentKind KindOfZip(const std::string& path);

// The parts of the conversion, on a file already known to be of their kind.
ConvertedText PdfText(const std::string& path);
ConvertedText XlsxText(const std::string& path);
ConvertedText OdsText(const std::string& path);
ConvertedText XlsText(const std::string& path);
ConvertedText MessageText(const std::string& path);

// A number as a spreadsheet shows it in a cell without a format: the text when it has no
// exponent, else the shortest decimal without one where that is exact and of a sane length.
std::string PlainNumber(std::string_view text);

}  // namespace tallix::engine
