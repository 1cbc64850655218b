#include "sources/encoded_words.h"

#include <optional>

#include <qrmime/codec.h>

#include "settings/text_functions.h"
#include "sources/mime_text.h"

namespace tallix::sources {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = UpperAscii(c);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The Q form: "_" is a blank, "=XX" a byte; anything else is itself.
std::string DecodeQ(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> ToUtf8(std::string_view charset, const std::string& bytes) {
    // A set nobody knows leaves the word as it was written.
    if (!KnownCharset(charset)) return std::nullopt;
    return CharsetToUtf8(bytes, charset);
}

struct Word {
    std::size_t end = 0;  // just after "?="
    std::string text;     // decoded, UTF-8
};

// The encoded word starting at `at` ("=?"), decoded; nullopt when there is none.
std::optional<Word> ReadWord(std::string_view s, std::size_t at) {
    const std::size_t q1 = s.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 + 2 >= s.size() || s[q1 + 2] != '?') return std::nullopt;
    const char encoding = UpperAscii(s[q1 + 1]);
    const std::size_t close = s.find("?=", q1 + 3);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view charset = s.substr(at + 2, q1 - at - 2);
    const std::string_view payload = s.substr(q1 + 3, close - q1 - 3);
    if (charset.empty() || payload.find_first_of(" \t\r\n") != std::string_view::npos)
        return std::nullopt;
    std::string bytes;
    if (encoding == 'B') {
        qrmime::StreamDecoder decoder(qrmime::TransferEncoding::Base64);
        decoder.Decode(payload, bytes);
        decoder.Finish(bytes);
    } else if (encoding == 'Q') {
        bytes = DecodeQ(payload);
    } else {
        return std::nullopt;
    }
    std::optional<std::string> text = ToUtf8(charset, bytes);
    if (!text) return std::nullopt;
    return Word{close + 2, std::move(*text)};
}

}  // namespace

std::string DecodeEncodedWords(std::string_view text) {
    // Raw 8-bit text outside the words has no declared set.
    const std::string undeclared = UndeclaredToUtf8(text);
    const std::string_view s = undeclared;
    if (s.find("=?") == std::string_view::npos) return undeclared;
    std::string out;
    out.reserve(s.size());
    std::size_t pos = 0;
    std::size_t lastWordEnd = std::string_view::npos;
    while (pos < s.size()) {
        const std::size_t at = s.find("=?", pos);
        if (at == std::string_view::npos) break;
        std::optional<Word> word = ReadWord(s, at);
        if (!word) {
            out.append(s.substr(pos, at + 2 - pos));
            pos = at + 2;
            lastWordEnd = std::string_view::npos;
            continue;
        }
        const std::string_view between = s.substr(pos, at - pos);
        const bool onlyBlanks = between.find_first_not_of(" \t\r\n") == std::string_view::npos;
        if (!(lastWordEnd == pos && onlyBlanks)) out.append(between);
        out.append(word->text);
        pos = word->end;
        lastWordEnd = pos;
    }
    out.append(s.substr(pos));
    return out;
}

}  // namespace tallix::sources
