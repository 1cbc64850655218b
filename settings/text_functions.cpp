#include "settings/text_functions.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "settings/run_time_error.h"
#include "settings/unicode_upper_table.h"

namespace tallix {

std::string_view TrimView(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

std::string Trim(std::string_view s) {
    return std::string(TrimView(s));
}

std::string LTrim(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && s[b] == ' ') ++b;
    return std::string(s.substr(b));
}

std::string RTrim(std::string_view s) {
    std::size_t e = s.size();
    while (e > 0 && s[e - 1] == ' ') --e;
    return std::string(s.substr(0, e));
}

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string UCase(std::string_view s) {
    std::string r(s);
    // Without a branch, so the compiler can work on many bytes at once: whole message bodies
    // are upper-cased for searches that ignore case.
    for (char& c : r) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(u - (static_cast<unsigned char>(u - 'a') < 26u ? 32 : 0));
    }
    return r;
}

namespace {

std::uint32_t UpperCodePoint(std::uint32_t cp) {
    const UpperRow* rows = kUnicodeUpperRows;
    std::size_t lo = 0, hi = kUnicodeUpperRowCount;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (rows[mid].last < cp)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == kUnicodeUpperRowCount || cp < rows[lo].first) return cp;
    const UpperRow& row = rows[lo];
    if ((cp - row.first) % row.step != 0) return cp;
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(cp) + row.delta);
}

// The upper case of every two-byte character (U+0080 to U+07FF), looked up once: text beyond
// ASCII is mostly such letters, and binary attachments are full of byte pairs that read as
// them.
const std::array<std::uint16_t, 0x800>& TwoByteUpper() {
    static const std::array<std::uint16_t, 0x800> table = [] {
        std::array<std::uint16_t, 0x800> t{};
        for (std::uint32_t cp = 0; cp < t.size(); ++cp) {
            const std::uint32_t up = UpperCodePoint(cp);
            t[cp] = static_cast<std::uint16_t>(up >= 0x80 && up < 0x800 ? up : cp);
        }
        return t;
    }();
    return table;
}

}  // namespace

std::string UpperCaseText(std::string_view s) {
    std::string r = UCase(s);
    // Most texts are ASCII: one look for a byte above 0x7F decides, eight bytes at a time.
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 8 <= r.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, r.data() + i, 8);
        any |= word;
    }
    for (; i < r.size(); ++i) any |= static_cast<unsigned char>(r[i]);
    if ((any & 0x8080808080808080ull) == 0) return r;
    // Length of the UTF-8 sequence each byte starts: 1 for ASCII, 0 for a byte that starts
    // none (a continuation byte, C0, C1, F5 to FF). Binary attachments are searched too, so a
    // byte that starts nothing costs a look-up and no more.
    static constexpr std::array<std::uint8_t, 256> kLength = [] {
        std::array<std::uint8_t, 256> t{};
        for (unsigned b = 0; b < 256; ++b)
            t[b] = b < 0x80                 ? 1
                   : b >= 0xC2 && b <= 0xDF ? 2
                   : b >= 0xE0 && b <= 0xEF ? 3
                   : b >= 0xF0 && b <= 0xF4 ? 4
                                            : 0;
        return t;
    }();
    const std::array<std::uint16_t, 0x800>& twoByteUpper = TwoByteUpper();
    const std::size_t n = r.size();
    for (std::size_t i = 0; i < n;) {
        // Only a byte with its two high bits set (0xC0 and up) can start a character beyond
        // ASCII; eight bytes at a time are passed over up to the next such byte.
        if constexpr (std::endian::native == std::endian::little) {
            std::uint64_t starts = 0;
            for (std::uint64_t word; i + 8 <= n; i += 8) {
                std::memcpy(&word, r.data() + i, 8);
                starts = word & (word << 1) & 0x8080808080808080ull;
                if (starts != 0) break;
            }
            if (starts != 0) i += static_cast<std::size_t>(std::countr_zero(starts)) / 8;
        }
        if (i >= n) break;
        const auto b0 = static_cast<unsigned char>(r[i]);
        const std::size_t len = kLength[b0];
        if (len <= 1 || i + len > n || (static_cast<unsigned char>(r[i + 1]) & 0xC0) != 0x80) {
            ++i;
            continue;
        }
        const auto b1 = static_cast<unsigned char>(r[i + 1]);
        if (len == 2) {
            const std::uint16_t up = twoByteUpper[((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu)];
            r[i] = static_cast<char>(0xC0 | (up >> 6));
            r[i + 1] = static_cast<char>(0x80 | (up & 0x3F));
            i += 2;
            continue;
        }
        std::uint32_t cp = (b0 & (0xFFu >> (len + 1))) << 6 | (b1 & 0x3Fu);
        bool ok = true;
        for (std::size_t k = 2; k < len; ++k) {
            const auto b = static_cast<unsigned char>(r[i + k]);
            ok = ok && (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!ok) {
            ++i;
            continue;
        }
        const std::uint32_t up = UpperCodePoint(cp);
        if (up != cp) {
            // Same length by the table's making; the lead byte keeps its length marks.
            for (std::size_t k = len - 1; k > 0; --k) {
                r[i + k] = static_cast<char>(0x80 | ((up >> (6 * (len - 1 - k))) & 0x3F));
            }
            r[i] = static_cast<char>((b0 & ~(0xFF >> (len + 1))) | (up >> (6 * (len - 1))));
        }
        i += len;
    }
    return r;
}

std::string LCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = LowerAscii(c);
    return r;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    }
    return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && EqualsNoCase(text.substr(text.size() - end.size()), end);
}

std::size_t InStr(std::size_t start, std::string_view s, std::string_view find, Compare compare) {
    if (start < 1) Raise(kErrInvalidCall);
    if (start > s.size()) return 0;
    if (find.empty()) return start;
    if (compare == Compare::Binary) {
        std::size_t p = s.find(find, start - 1);
        return p == std::string_view::npos ? 0 : p + 1;
    }
    if (find.size() > s.size()) return 0;
    for (std::size_t i = start - 1; i + find.size() <= s.size(); ++i) {
        std::size_t k = 0;
        while (k < find.size() && UpperAscii(s[i + k]) == UpperAscii(find[k])) ++k;
        if (k == find.size()) return i + 1;
    }
    return 0;
}

std::size_t InStrLast(std::string_view s, std::string_view find) {
    std::size_t p = s.rfind(find);
    return p == std::string_view::npos ? 0 : p + 1;
}

std::string Mid(std::string_view s, std::size_t start) {
    if (start < 1) Raise(kErrInvalidCall);
    if (start > s.size()) return {};
    return std::string(s.substr(start - 1));
}

std::string Mid(std::string_view s, std::size_t start, std::size_t length) {
    if (start < 1) Raise(kErrInvalidCall);
    if (start > s.size()) return {};
    return std::string(s.substr(start - 1, length));
}

std::string Left(std::string_view s, std::size_t length) {
    return std::string(s.substr(0, length));
}

std::string Right(std::string_view s, std::size_t length) {
    if (length >= s.size()) return std::string(s);
    return std::string(s.substr(s.size() - length));
}

std::vector<std::string> Split(std::string_view s, std::string_view delimiter) {
    std::vector<std::string> parts;
    if (s.empty()) return parts;
    if (delimiter.empty()) {
        parts.emplace_back(s);
        return parts;
    }
    std::size_t pos = 0;
    for (;;) {
        std::size_t p = s.find(delimiter, pos);
        if (p == std::string_view::npos) {
            parts.emplace_back(s.substr(pos));
            return parts;
        }
        parts.emplace_back(s.substr(pos, p - pos));
        pos = p + delimiter.size();
    }
}

std::string Join(const std::vector<std::string>& parts, std::string_view delimiter) {
    std::string r;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) r += delimiter;
        r += parts[i];
    }
    return r;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(s);
    std::string r;
    r.reserve(s.size());
    std::size_t pos = 0;
    for (;;) {
        std::size_t p = s.find(from, pos);
        if (p == std::string_view::npos) break;
        r.append(s.substr(pos, p - pos));
        r.append(to);
        pos = p + from.size();
    }
    r.append(s.substr(pos));
    return r;
}

}  // namespace tallix
