#include "sources/mime_text.h"

#include <iconv.h>

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

}  // namespace

bool PlainSevenBit(std::string_view bytes) {
    // Eight bytes at a time: a high bit anywhere, or a byte equal to ESC (found as a zero byte
    // of the word XOR ESC in every lane), ends the answer.
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kEsc = 0x1B1B1B1B1B1B1B1Bull;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        const std::uint64_t esc = word ^ kEsc;
        if (((word | ((esc - kOnes) & ~esc)) & kHigh) != 0) return false;
    }
    for (; i < bytes.size(); ++i) {
        const auto u = static_cast<unsigned char>(bytes[i]);
        if (u >= 0x80 || u == 0x1B) return false;
    }
    return true;
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
    std::size_t line = 0;
    while (line < header.size()) {
        std::size_t end = header.find('\n', line);
        if (end == std::string_view::npos) end = header.size();
        const std::string_view text = header.substr(line, end - line);
        if (text.size() > name.size() && text[name.size()] == ':' &&
            EqualsNoCase(text.substr(0, name.size()), name)) {
            std::string value(text.substr(name.size() + 1));
            // Folded lines continue the value; the line end goes, the blank stays.
            std::size_t next = end + 1;
            while (next < header.size() && IsBlank(header[next])) {
                std::size_t nextEnd = header.find('\n', next);
                if (nextEnd == std::string_view::npos) nextEnd = header.size();
                if (!value.empty() && value.back() == '\r') value.pop_back();
                value.append(header.substr(next, nextEnd - next));
                next = nextEnd + 1;
            }
            return std::string(TrimBlanks(value));
        }
        line = end + 1;
    }
    return std::nullopt;
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
    qrmime::TransferEncoding encoding = qrmime::TransferEncoding::SevenBit;
    if (const std::optional<std::string> cte =
            HeaderFieldValue(partHeader, "Content-Transfer-Encoding")) {
        const std::string lower = LowerTrimmed(*cte);
        if (lower == "base64")
            encoding = qrmime::TransferEncoding::Base64;
        else if (lower == "quoted-printable")
            encoding = qrmime::TransferEncoding::QuotedPrintable;
    }
    std::string charset;
    if (const std::optional<std::string> type = HeaderFieldValue(partHeader, "Content-Type")) {
        charset = HeaderParameter(*type, "charset").value_or(std::string());
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
    const std::optional<std::string> type = HeaderFieldValue(partHeader, "Content-Type");
    return type && LowerTrimmed(type->substr(0, type->find(';'))) == "text/html";
}

}  // namespace tallix::sources
