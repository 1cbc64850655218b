#include "qrmime/entity.h"

#include <algorithm>
#include <memory>

#include "scan_file.h"

namespace qrmime {
namespace {

// The bytes being scanned: a file read by offset, or a buffer.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    virtual bool Read(std::uint64_t offset, std::size_t length, std::string& out) const = 0;
    // The bytes themselves when they are in memory, so searches need not copy them.
    virtual const std::string_view* Bytes() const { return nullptr; }
};

class FileSource final : public ByteSource {
  public:
    explicit FileSource(detail::InputFile& file) : m_file(file) {}
    std::uint64_t Size() const override { return m_file.Size(); }
    bool Read(std::uint64_t offset, std::size_t length, std::string& out) const override {
        // Nothing is asked past the size the scan works with, so a read that reaches the end
        // needs no second call to find it.
        const std::uint64_t size = m_file.Size();
        if (offset < size)
            length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
        return m_file.ReadAt(offset, length, out);
    }

  private:
    detail::InputFile& m_file;
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    std::uint64_t Size() const override { return m_bytes.size(); }
    bool Read(std::uint64_t offset, std::size_t length, std::string& out) const override {
        out.assign(offset < m_bytes.size() ? m_bytes.substr(offset, length) : std::string_view{});
        return true;
    }
    const std::string_view* Bytes() const override { return &m_bytes; }

  private:
    std::string_view m_bytes;
};

constexpr std::size_t kFirstSearchBlock = 4 * 1024;
constexpr std::size_t kSearchBlock = 64 * 1024;
constexpr std::uint64_t kNotFound = ~std::uint64_t{0};

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

bool StartsWithNoCase(std::string_view text, std::string_view upperWord) {
    return text.size() >= upperWord.size() && Upper(text.substr(0, upperWord.size())) == upperWord;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

// A parameter value after "KEY=" at `start` of `text`: a quoted value runs to the next
// double quote (`closed` false when there is none); an unquoted one to ";", a blank or a
// line end.
std::string_view ParameterValue(std::string_view text, std::size_t start, bool& closed) {
    closed = true;
    if (start < text.size() && text[start] == '"') {
        std::size_t close = text.find('"', start + 1);
        if (close == std::string_view::npos) {
            closed = false;
            return {};
        }
        return text.substr(start + 1, close - start - 1);
    }
    std::size_t end = start;
    while (end < text.size() && text[end] != ';' && !IsSpace(text[end])) ++end;
    return text.substr(start, end - start);
}

// First occurrence of `needle` at or after `from`, reading the source block by block. The
// blocks start small and grow, because the next boundary is usually close by.
std::uint64_t Find(const ByteSource& source, std::string_view needle, std::uint64_t from) {
    if (const auto* memory = source.Bytes()) {
        std::size_t hit =
            from < memory->size() ? memory->find(needle, from) : std::string_view::npos;
        return hit == std::string_view::npos ? kNotFound : hit;
    }
    std::string block;
    const std::uint64_t size = source.Size();
    std::size_t blockSize = kFirstSearchBlock;
    while (from < size) {
        std::size_t length = static_cast<std::size_t>(
            std::min<std::uint64_t>(blockSize + needle.size(), size - from));
        if (!source.Read(from, length, block) || block.size() < needle.size()) return kNotFound;
        std::size_t hit = block.find(needle);
        if (hit != std::string::npos) return from + hit;
        if (block.size() < length) return kNotFound;
        from += block.size() - needle.size() + 1;
        blockSize = std::min(blockSize * 2, kSearchBlock);
    }
    return kNotFound;
}

// What a header block says about its part.
struct HeaderBlock {
    bool complete = false;  // an empty line ended it
    bool tooLong = false;   // no empty line within kMaxHeaderBytes
    std::uint64_t bodyStart = 0;
    bool hasContentType = false;
    std::string contentType;  // the raw value, parameters included
    bool hasEncoding = false;
    std::string encoding;
};

// The value of a header line after its field name: past the colon and the blanks after it
// (a missing blank after the colon costs no character of the value).
std::string_view FieldValue(std::string_view line, std::size_t nameLength) {
    std::size_t colon = line.find(':', nameLength);
    std::size_t start = colon == std::string_view::npos ? nameLength : colon + 1;
    if (start > line.size()) start = line.size();
    return Trim(line.substr(start));
}

// Reads header lines from `start` up to the first empty line, never past `end`. A line
// runs to the next line feed (with or without a CR before it); a line followed by one
// that starts with a blank is folded into it, line ends included.
HeaderBlock ReadHeaders(const ByteSource& source, std::uint64_t start, std::uint64_t end) {
    HeaderBlock block;
    std::string buffer;
    std::size_t window =
        static_cast<std::size_t>(std::min<std::uint64_t>(kMaxHeaderBytes + 2, end - start));
    if (!source.Read(start, window, buffer)) return block;
    std::string_view text(buffer);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lineEnd = text.find('\n', pos);
        while (lineEnd != std::string_view::npos && lineEnd + 1 < text.size() &&
               IsBlank(text[lineEnd + 1]))
            lineEnd = text.find('\n', lineEnd + 1);
        if (lineEnd == std::string_view::npos) break;  // a line cut by the window or the end
        std::string_view line = text.substr(pos, lineEnd - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = lineEnd + 1;
        if (line.empty()) {
            block.complete = true;
            block.bodyStart = start + pos;
            return block;
        }
        if (StartsWithNoCase(line, "CONTENT-TYPE:")) {
            block.hasContentType = true;
            block.contentType = FieldValue(line, 12);
        } else if (StartsWithNoCase(line, "CONTENT-TRANSFER-ENCODING")) {
            block.hasEncoding = true;
            block.encoding = FieldValue(line, 25);
        }
    }
    block.tooLong = window < end - start || buffer.size() > kMaxHeaderBytes;
    return block;
}

// Fills the name, the cut content type and the encoding of a part from its header block.
void DescribePart(const HeaderBlock& headers, std::uint64_t bodyEnd, ScannedPart& part,
                  ScanResult& result, std::uint64_t headerOffset) {
    part.bodyStart = headers.complete ? headers.bodyStart : bodyEnd;
    part.bodyEnd = std::max(part.bodyStart, bodyEnd);
    std::string_view type = part.contentType;
    std::string upper = Upper(type);
    std::size_t name = upper.find("NAME=");
    if (name != std::string::npos) {
        bool closed;
        part.fileName = ParameterValue(type, name + 5, closed);
        if (!closed) {
            result.notes.push_back({headerOffset, "name parameter without its closing quote"});
            part.fileName.clear();
        }
    }
    part.contentType = std::string(Trim(type.substr(0, type.find(';'))));
    part.decodable = ClassifyTransferEncoding(part.encodingText, part.encoding);
    if (!part.decodable) {
        result.notes.push_back({headerOffset, "unknown transfer encoding \"" + part.encodingText +
                                                  "\"; part skipped"});
    }
    if (part.fileName.size() > kMaxNameLength) {
        result.notes.push_back(
            {headerOffset,
             "file name longer than " + std::to_string(kMaxNameLength) + " bytes; part skipped"});
        part.fileName.clear();
        part.decodable = false;
    }
}

void ScanMultipart(const ByteSource& source, std::string_view head, ScanResult& result) {
    std::string upper = Upper(head);
    std::size_t key = upper.find("BOUNDARY=");
    if (key == std::string::npos) {
        result.status = ScanStatus::BadBoundary;
        return;
    }
    bool closed;
    std::string_view boundary = ParameterValue(head, key + 9, closed);
    if (!closed || boundary.empty()) {
        result.status = ScanStatus::BadBoundary;
        return;
    }
    std::uint64_t pos = key + 9 + boundary.size() + (head[key + 9] == '"' ? 2 : 0);

    // A boundary line starts after a line feed; the CR before it, when there is one,
    // belongs to the line end that ends the part before it.
    const std::string separator = "\n--" + std::string(boundary);
    const std::uint64_t size = source.Size();
    std::string line;
    while (pos < size) {
        std::uint64_t sep = Find(source, separator, pos);
        if (sep == kNotFound) break;
        std::uint64_t lineEnd = Find(source, "\n", sep + separator.size());
        if (lineEnd == kNotFound) break;
        std::uint64_t headersStart = lineEnd + 1;
        std::uint64_t next = Find(source, separator, headersStart);
        if (next == kNotFound) break;
        std::uint64_t partEnd = next;
        if (partEnd > headersStart && source.Read(partEnd - 1, 1, line) && line == "\r") --partEnd;
        pos = partEnd;

        if (result.parts.size() == kMaxParts) {
            result.notes.push_back({headersStart, "more than " + std::to_string(kMaxParts) +
                                                      " parts; the rest are not decoded"});
            break;
        }
        HeaderBlock headers = ReadHeaders(source, headersStart, partEnd);
        ScannedPart part;
        if (headers.tooLong) {
            result.notes.push_back({headersStart, "part header longer than " +
                                                      std::to_string(kMaxHeaderBytes) +
                                                      " bytes; part skipped"});
            part.bodyStart = part.bodyEnd = partEnd;
            result.parts.push_back(std::move(part));
            continue;
        }
        part.contentType = headers.hasContentType ? headers.contentType : "text/plain";
        part.encodingText = headers.hasEncoding ? headers.encoding : "7bit";
        DescribePart(headers, partEnd, part, result, headersStart);
        result.parts.push_back(std::move(part));
    }
}

ScanResult Scan(const ByteSource& source) {
    ScanResult result;
    std::string head;
    if (!source.Read(0, kScanWindow, head)) {
        result.status = ScanStatus::SourceUnreadable;
        return result;
    }
    std::string upper = Upper(head);
    std::size_t type = upper.find("CONTENT-TYPE: ");
    if (type == std::string::npos) {
        result.status = ScanStatus::NotMime;
        return result;
    }
    if (upper.compare(type + 14, 10, "MULTIPART/") == 0) {
        result.multipart = true;
        ScanMultipart(source, head, result);
        return result;
    }

    HeaderBlock headers = ReadHeaders(source, 0, source.Size());
    if (headers.tooLong) {
        result.notes.push_back(
            {0, "header longer than " + std::to_string(kMaxHeaderBytes) + " bytes"});
        result.status = ScanStatus::NoTransferEncoding;
        return result;
    }
    if (!headers.hasEncoding) {
        result.status = ScanStatus::NoTransferEncoding;
        return result;
    }
    ScannedPart part;
    part.contentType = headers.contentType;
    part.encodingText = headers.encoding;
    DescribePart(headers, source.Size(), part, result, 0);
    result.parts.push_back(std::move(part));
    return result;
}

}  // namespace

namespace detail {

ScanResult ScanOpenFile(InputFile& file) {
    try {
        return Scan(FileSource(file));
    } catch (...) {
        ScanResult result;
        result.status = ScanStatus::SourceUnreadable;
        return result;
    }
}

}  // namespace detail

ScanResult ScanEntity(const std::string& path) {
    detail::InputFile file;
    if (!file.Open(path)) {
        ScanResult result;
        result.status = ScanStatus::SourceUnreadable;
        return result;
    }
    return detail::ScanOpenFile(file);
}

ScanResult ScanEntityBytes(std::string_view bytes) {
    try {
        return Scan(MemorySource(bytes));
    } catch (...) {
        ScanResult result;
        result.status = ScanStatus::SourceUnreadable;
        return result;
    }
}

std::string SafeBaseName(std::string_view name, std::size_t maxBytes) {
    std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string result;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) continue;
        result.push_back(c);
    }
    std::string_view trimmed = Trim(result);
    result = std::string(trimmed);
    if (result.size() > maxBytes) {
        std::size_t dot = result.rfind('.');
        std::string ext;
        if (dot != std::string::npos && result.size() - dot <= 16 && result.size() - dot < maxBytes)
            ext = result.substr(dot);
        std::size_t keep = maxBytes - ext.size();
        // Never cut inside a UTF-8 sequence: back up over continuation bytes.
        while (keep > 0 && (static_cast<unsigned char>(result[keep]) & 0xC0) == 0x80) --keep;
        result = result.substr(0, keep) + ext;
    }
    if (result.empty() || result == "." || result == "..") result = "attachment";
    return result;
}

}  // namespace qrmime
