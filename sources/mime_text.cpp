#include "sources/mime_text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include <qrmime/codec.h>

#include "model/html_text.h"
#include "settings/text_functions.h"

namespace tallix::sources {
namespace {

// Length of the well-formed UTF-8 sequence at bytes[i], 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view bytes, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF)
        len = 2;
    else if (b0 == 0xE0)
        len = 3, lo = 0xA0;
    else if (b0 == 0xED)
        len = 3, hi = 0x9F;
    else if (b0 >= 0xE1 && b0 <= 0xEF)
        len = 3;
    else if (b0 == 0xF0)
        len = 4, lo = 0x90;
    else if (b0 == 0xF4)
        len = 4, hi = 0x8F;
    else if (b0 >= 0xF1 && b0 <= 0xF3)
        len = 4;
    else
        return 0;
    if (i + len > bytes.size()) return 0;
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    if (b1 < lo || b1 > hi) return 0;
    for (std::size_t k = 2; k < len; ++k) {
        if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return 0;
    }
    return len;
}

// Declared UTF-8: each byte that starts no well-formed sequence becomes U+FFFD.
std::string Utf8WithReplacements(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t len = Utf8SequenceAt(bytes, i);
        if (len == 0) {
            out.append(kReplacementCharacter);
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

// 0x80 to 0x9F of Windows-1252; 0 where the set defines no character.
constexpr std::uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Sets whose 7-bit bytes are not ASCII text, so a 7-bit text in them still needs converting.
bool SevenBitNeedsConverting(std::string_view lowerCharset) {
    return lowerCharset.starts_with("utf-7") || lowerCharset.starts_with("utf-16") ||
           lowerCharset.starts_with("utf-32") || lowerCharset.starts_with("ucs") ||
           lowerCharset.starts_with("unicode");
}

std::string UnknownSetToUtf8(std::string_view bytes) {
    return ValidUtf8(bytes) ? std::string(bytes) : Windows1252ToUtf8(bytes);
}

// Conversion through iconv; nullopt when iconv does not know the set. A byte sequence the
// set cannot convert is one U+FFFD, and conversion goes on after its first byte.
std::optional<std::string> IconvToUtf8(std::string_view bytes, const std::string& charset) {
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::vector<char> buffer(bytes.size() * 3 + 64);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (true) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = inLeft == 0 ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                           : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
        if (rc != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) break;
            continue;
        }
        if (err == E2BIG) continue;
        // EILSEQ, or EINVAL for a sequence cut off at the end: one replacement, one byte on.
        out.append(kReplacementCharacter);
        if (inLeft == 0) break;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

std::string LowerTrimmed(std::string_view text) {
    return LCase(TrimView(text));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = UpperAscii(c);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// A parameter value: quotes removed with their escapes, or the bare token.
std::string ParameterText(std::string_view raw) {
    raw = TrimBlanks(raw);
    if (raw.empty() || raw.front() != '"') return std::string(raw);
    std::string out;
    for (std::size_t i = 1; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
            out.push_back(raw[++i]);
        } else if (raw[i] == '"') {
            break;
        } else {
            out.push_back(raw[i]);
        }
    }
    return out;
}

// The "name=value" pieces of a structured value after its first ";", split outside quotes.
std::vector<std::string_view> ParameterPieces(std::string_view value) {
    std::vector<std::string_view> pieces;
    bool quoted = false;
    std::size_t start = std::string_view::npos;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            if (start != std::string_view::npos) pieces.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start != std::string_view::npos && start < value.size())
        pieces.push_back(value.substr(start));
    return pieces;
}

// True when `text` equals `lower` (lower-case ASCII) without regard to case.
bool EqualsLower(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != lower[i]) return false;
    }
    return true;
}

// The raw value of the field whose name (`nameSize` bytes and the colon) starts the line at
// `line`: from after the colon through the line end of its last continuation line.
std::string_view FieldSpan(std::string_view header, std::size_t line, std::size_t nameSize) {
    const std::size_t from = line + nameSize + 1;
    std::size_t end = header.find('\n', from);
    while (end != std::string_view::npos && end + 1 < header.size() && IsBlank(header[end + 1]))
        end = header.find('\n', end + 1);
    if (end == std::string_view::npos) end = header.size();
    return header.substr(from, end - from);
}

// The raw value of the first field `name` (lower case; any case in the header, at a line
// start); nullopt without one.
std::optional<std::string_view> RawFieldValue(std::string_view header, std::string_view name) {
    std::size_t line = 0;
    while (line < header.size()) {
        std::size_t end = header.find('\n', line);
        if (end == std::string_view::npos) end = header.size();
        if (end - line > name.size() && header[line + name.size()] == ':' &&
            EqualsLower(header.substr(line, name.size()), name))
            return FieldSpan(header, line, name.size());
        line = end + 1;
    }
    return std::nullopt;
}

// How a part is written: the raw values of its Content-Type and Content-Transfer-Encoding,
// found in one pass over its header lines.
struct PartForm {
    std::optional<std::string_view> type, encoding;
};

PartForm ReadPartForm(std::string_view header) {
    static constexpr std::string_view kType = "content-type";
    static constexpr std::string_view kEncoding = "content-transfer-encoding";
    PartForm form;
    std::size_t line = 0;
    while (line < header.size() && !(form.type && form.encoding)) {
        std::size_t end = header.find('\n', line);
        if (end == std::string_view::npos) end = header.size();
        const std::string_view text = header.substr(line, end - line);
        // Both names start with "Content-"; any other line is passed over at its first byte.
        if (!text.empty() && (text[0] == 'C' || text[0] == 'c')) {
            if (!form.type && text.size() > kType.size() && text[kType.size()] == ':' &&
                EqualsLower(text.substr(0, kType.size()), kType))
                form.type = FieldSpan(header, line, kType.size());
            else if (!form.encoding && text.size() > kEncoding.size() &&
                     text[kEncoding.size()] == ':' &&
                     EqualsLower(text.substr(0, kEncoding.size()), kEncoding))
                form.encoding = FieldSpan(header, line, kEncoding.size());
        }
        line = end + 1;
    }
    return form;
}

// The media type of a raw Content-Type value ("text/html" of " text/html;\r\n charset=x").
std::string_view MediaType(std::string_view rawType) {
    return TrimBlanks(rawType.substr(0, rawType.find(';')));
}

// A transfer encoding the content must be decoded from (anything else is read as written).
bool DecodedEncoding(std::string_view rawEncoding) {
    const std::string_view e = TrimBlanks(rawEncoding);
    return EqualsLower(e, "base64") || EqualsLower(e, "quoted-printable");
}

// True when a raw Content-Type value may name a set whose 7-bit bytes are not ASCII, or names
// its set in a form this quick look does not read (RFC 2231 sections).
bool MayNameWideSet(std::string_view rawType) {
    static constexpr std::string_view kCharset = "charset";
    for (std::size_t at = 0; at + kCharset.size() <= rawType.size(); ++at) {
        if ((rawType[at] != 'c' && rawType[at] != 'C') ||
            !EqualsLower(rawType.substr(at, kCharset.size()), kCharset))
            continue;
        std::string_view rest = rawType.substr(at + kCharset.size());
        rest = TrimBlanks(rest);
        if (rest.starts_with('*')) return true;
        if (!rest.starts_with('=')) continue;
        rest = TrimBlanks(rest.substr(1));
        if (rest.starts_with('"')) rest.remove_prefix(1);
        // Every such set starts with "u" and then "t", "c" or "n" ("us-ascii" does not).
        if (rest.size() < 3 || (rest[0] != 'u' && rest[0] != 'U')) continue;
        for (const std::string_view wide : {"utf-7", "utf-16", "utf-32", "ucs", "unicode"}) {
            if (EqualsLower(rest.substr(0, wide.size()), wide)) return true;
        }
    }
    return false;
}

}  // namespace

bool PlainSevenBit(std::string_view bytes) {
    // The high bits of 32 bytes at a time, gathered by OR; ESC is rare enough that the
    // library's vectorised search finds it fastest.
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    std::uint64_t any = 0;
    for (; left >= 32; p += 32, left -= 32) {
        std::uint64_t w[4];
        std::memcpy(w, p, 32);
        any |= w[0] | w[1] | w[2] | w[3];
    }
    for (; left >= 8; p += 8, left -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        any |= w;
    }
    for (; left > 0; ++p, --left) any |= static_cast<unsigned char>(*p);
    if ((any & kHigh) != 0) return false;
    return bytes.find('\x1B') == std::string_view::npos;
}

bool ValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t len = Utf8SequenceAt(bytes, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 && u < 0xA0) {
            const std::uint16_t cp = kWindows1252High[u - 0x80];
            if (cp == 0)
                out.append(kReplacementCharacter);
            else
                AppendUtf8(out, cp);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::string CharsetToUtf8(std::string_view bytes, std::string_view charset) {
    std::string set = LowerTrimmed(charset);
    // A language suffix ("utf-8*en") is not part of the set's name.
    set = set.substr(0, set.find('*'));
    if (PlainSevenBit(bytes) && !SevenBitNeedsConverting(set)) return std::string(bytes);
    if (set == "utf-8" || set == "utf8") return Utf8WithReplacements(bytes);
    // Mail declared as ASCII that holds 8-bit bytes is mislabelled: read as if undeclared.
    if (set.empty() || set == "us-ascii" || set == "ascii") return UnknownSetToUtf8(bytes);
    if (set == "iso-8859-1" || set == "latin1" || set == "iso_8859-1") return Latin1ToUtf8(bytes);
    if (set == "windows-1252" || set == "cp1252") return Windows1252ToUtf8(bytes);
    if (std::optional<std::string> converted = IconvToUtf8(bytes, set)) return *converted;
    return UnknownSetToUtf8(bytes);
}

bool KnownCharset(std::string_view charset) {
    std::string set = LowerTrimmed(charset);
    set = set.substr(0, set.find('*'));
    if (set.empty()) return false;
    if (set == "utf-8" || set == "utf8" || set == "us-ascii" || set == "ascii" ||
        set == "iso-8859-1" || set == "latin1" || set == "iso_8859-1" || set == "windows-1252" ||
        set == "cp1252")
        return true;
    iconv_t cd = iconv_open("UTF-8", set.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

std::string UndeclaredToUtf8(std::string_view bytes) {
    if (PlainSevenBit(bytes)) return std::string(bytes);
    return UnknownSetToUtf8(bytes);
}

std::optional<std::string> HeaderFieldValue(std::string_view header, std::string_view name) {
    const std::optional<std::string_view> raw = RawFieldValue(header, LCase(name));
    if (!raw) return std::nullopt;
    // Folded lines continue the value; the line end goes, the blank stays.
    std::string value;
    value.reserve(raw->size());
    for (const char c : *raw) {
        if (c != '\r' && c != '\n') value.push_back(c);
    }
    return std::string(TrimBlanks(value));
}

std::optional<std::string> HeaderParameter(std::string_view value, std::string_view name) {
    std::optional<std::string> plain;
    std::optional<std::string> extended;  // name*=
    // name*N and name*N*: the sections of a continued value, by number.
    std::map<int, std::pair<std::string, bool>> sections;
    for (const std::string_view piece : ParameterPieces(value)) {
        const std::size_t eq = piece.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = TrimBlanks(piece.substr(0, eq));
        const std::string_view raw = piece.substr(eq + 1);
        if (key.size() < name.size() || !EqualsNoCase(key.substr(0, name.size()), name)) continue;
        const std::string_view rest = key.substr(name.size());
        if (rest.empty()) {
            if (!plain) plain = ParameterText(raw);
        } else if (rest == "*") {
            if (!extended) extended = ParameterText(raw);
        } else if (rest.front() == '*') {
            std::string_view number = rest.substr(1);
            const bool encoded = number.ends_with('*');
            if (encoded) number.remove_suffix(1);
            if (number.empty() || number.size() > 3 ||
                number.find_first_not_of("0123456789") != std::string_view::npos)
                continue;
            const int n = std::stoi(std::string(number));
            sections.try_emplace(n, ParameterText(raw), encoded);
        }
    }
    // charset'language'%XX...: the value in the named set.
    const auto decodeExtended = [](std::string_view text, std::string_view tail) {
        const std::size_t q1 = text.find('\'');
        const std::size_t q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
        if (q2 == std::string_view::npos)
            return CharsetToUtf8(PercentDecode(text) + std::string(tail), "");
        return CharsetToUtf8(PercentDecode(text.substr(q2 + 1)) + std::string(tail),
                             text.substr(0, q1));
    };
    if (extended) return decodeExtended(*extended, "");
    if (!sections.empty() && sections.begin()->first == 0) {
        // Sections count up from 0 without a gap; the first encoded one carries the set.
        std::string first;
        std::string tail;
        int expected = 0;
        const bool encoded = sections.begin()->second.second;
        for (const auto& [n, section] : sections) {
            if (n != expected++) break;
            if (n == 0)
                first = section.first;
            else
                tail += section.second ? PercentDecode(section.first) : section.first;
        }
        if (encoded) return decodeExtended(first, tail);
        return CharsetToUtf8(first + tail, "");
    }
    return plain;
}

std::string DecodePartText(std::string_view partHeader, std::string_view content) {
    const PartForm form = ReadPartForm(partHeader);
    qrmime::TransferEncoding encoding = qrmime::TransferEncoding::SevenBit;
    if (form.encoding) {
        const std::string_view e = TrimBlanks(*form.encoding);
        if (EqualsNoCase(e, "base64"))
            encoding = qrmime::TransferEncoding::Base64;
        else if (EqualsNoCase(e, "quoted-printable"))
            encoding = qrmime::TransferEncoding::QuotedPrintable;
    }
    std::string charset;
    if (form.type) {
        std::string type(*form.type);
        std::erase_if(type, [](char c) { return c == '\r' || c == '\n'; });
        charset = HeaderParameter(type, "charset").value_or(std::string());
    }
    if (encoding == qrmime::TransferEncoding::SevenBit) return CharsetToUtf8(content, charset);
    std::string bytes;
    qrmime::StreamDecoder decoder(encoding);
    decoder.Decode(content, bytes);
    decoder.Finish(bytes);
    return CharsetToUtf8(bytes, charset);
}

std::string PartFileName(std::string_view partHeader) {
    if (const std::optional<std::string> disposition =
            HeaderFieldValue(partHeader, "Content-Disposition")) {
        if (std::optional<std::string> name = HeaderParameter(*disposition, "filename");
            name && !name->empty())
            return *name;
    }
    if (const std::optional<std::string> type = HeaderFieldValue(partHeader, "Content-Type")) {
        if (std::optional<std::string> name = HeaderParameter(*type, "name")) return *name;
    }
    return {};
}

bool IsHtmlPart(std::string_view partHeader) {
    const PartForm form = ReadPartForm(partHeader);
    return form.type && EqualsLower(MediaType(*form.type), "text/html");
}

bool IsMultipartHeader(std::string_view partHeader) {
    const PartForm form = ReadPartForm(partHeader);
    return form.type && EqualsLower(MediaType(*form.type).substr(0, 10), "multipart/");
}

bool PartAsWritten(std::string_view partHeader, std::string_view content) {
    const PartForm form = ReadPartForm(partHeader);
    if (form.encoding && DecodedEncoding(*form.encoding)) return false;
    if (!PlainSevenBit(content)) return false;
    return !(form.type && MayNameWideSet(*form.type));
}

std::string PartBodyText(std::string_view partHeader, std::string_view content, bool html) {
    const PartForm form = ReadPartForm(partHeader);
    const bool encoded = form.encoding && DecodedEncoding(*form.encoding);
    const bool sevenBit = PlainSevenBit(content);
    if (!encoded && sevenBit && !(form.type && MayNameWideSet(*form.type)))
        return std::string(content);
    std::string text = DecodePartText(partHeader, content);
    // A set the quick look could not rule out may still have left the text as it was.
    if (!encoded && sevenBit && text == content) return text;
    return html ? HtmlPartBody(text, true) : ToCrLf(text);
}

std::string HtmlPartBody(std::string_view html, bool decoded) {
    if (!decoded) return std::string(html);
    return ToCrLf(DecodeCharacterReferences(html));
}

std::string ToCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    // Whole runs between line ends are copied at once.
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, end - at));
        out.append("\r\n");
        at = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return out;
}

std::vector<MimePart> SplitMultipart(std::string_view body, std::string_view boundary) {
    std::vector<MimePart> parts;
    if (boundary.empty()) return parts;
    const std::string marker = "--" + std::string(boundary);
    // The boundary line at `from` or later that starts a line: its position, npos without one.
    const auto nextBoundary = [&](std::size_t from) {
        for (std::size_t at = body.find(marker, from); at != std::string_view::npos;
             at = body.find(marker, at + 1)) {
            if (at == 0 || body[at - 1] == '\n') return at;
        }
        return std::string_view::npos;
    };
    std::size_t at = nextBoundary(0);
    while (at != std::string_view::npos) {
        const std::size_t after = at + marker.size();
        if (body.substr(after, 2) == "--") break;  // the closing boundary
        const std::size_t lineEnd = body.find('\n', after);
        if (lineEnd == std::string_view::npos) break;
        const std::size_t next = nextBoundary(lineEnd + 1);
        if (next == std::string_view::npos) break;
        // The part runs to the line end before the next boundary line, which is not its text.
        std::size_t end = next;
        if (end > lineEnd + 1 && body[end - 1] == '\n') --end;
        if (end > lineEnd + 1 && body[end - 1] == '\r') --end;
        const std::string_view part = body.substr(lineEnd + 1, end - lineEnd - 1);
        if (part.starts_with("\r\n") || part.starts_with("\n")) {
            parts.push_back({std::string_view(), part.substr(part[0] == '\r' ? 2 : 1)});
        } else {
            // The blank line that ends the header: the first empty line.
            const std::size_t blank = std::min(part.find("\n\r\n"), part.find("\n\n"));
            if (blank != std::string_view::npos) {
                const std::size_t contentAt = blank + (part[blank + 1] == '\r' ? 3 : 2);
                parts.push_back({part.substr(0, blank + 1), part.substr(contentAt)});
            }
        }
        at = next;
    }
    return parts;
}

}  // namespace tallix::sources
