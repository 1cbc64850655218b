#include "qrmime/codec.h"

#include <array>
#include <cstring>
#include <string_view>

namespace qrmime {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kNotBase64 = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = kNotBase64;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    return table;
}
constexpr auto kDecodeTable = MakeDecodeTable();

// Only digits and upper-case letters count as hexadecimal digits: "=3d" stays as it is.
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ContainsNoCase(std::string_view text, std::string_view upperWord) {
    if (upperWord.size() > text.size()) return false;
    for (std::size_t i = 0; i + upperWord.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < upperWord.size()) {
            char c = text[i + k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c != upperWord[k]) break;
            ++k;
        }
        if (k == upperWord.size()) return true;
    }
    return false;
}

}  // namespace

bool ClassifyTransferEncoding(std::string_view text, TransferEncoding& encoding) {
    if (ContainsNoCase(text, "7BIT")) {
        encoding = TransferEncoding::SevenBit;
    } else if (ContainsNoCase(text, "BASE64")) {
        encoding = TransferEncoding::Base64;
    } else if (ContainsNoCase(text, "QUOTED-PRINTABLE")) {
        encoding = TransferEncoding::QuotedPrintable;
    } else if (ContainsNoCase(text, "8BIT") || ContainsNoCase(text, "BINARY")) {
        // Bodies in these encodings are not encoded at all, so they are copied like 7bit.
        encoding = TransferEncoding::SevenBit;
    } else {
        return false;
    }
    return true;
}

StreamDecoder::StreamDecoder(TransferEncoding encoding) : m_encoding(encoding) {}

void StreamDecoder::Reset(TransferEncoding encoding) {
    m_encoding = encoding;
    m_bits = 0;
    m_count = 0;
    m_tailLength = 0;
}

void StreamDecoder::Decode(std::string_view in, std::string& out) {
    switch (m_encoding) {
        case TransferEncoding::SevenBit:
            out.append(in);
            break;
        case TransferEncoding::Base64:
            DecodeBase64(in, out);
            break;
        case TransferEncoding::QuotedPrintable:
            DecodeQuotedPrintable(in, out);
            break;
    }
}

void StreamDecoder::Finish(std::string& out) {
    if (m_encoding == TransferEncoding::Base64) {
        // A group of two or three characters is read as if padded with "=".
        if (m_count == 2) {
            out.push_back(static_cast<char>(m_bits >> 4));
        } else if (m_count == 3) {
            out.push_back(static_cast<char>(m_bits >> 10));
            out.push_back(static_cast<char>(m_bits >> 2));
        }
    } else if (m_encoding == TransferEncoding::QuotedPrintable && m_tailLength > 0) {
        // "=" at the very end (or "=" CR, a soft line break cut short) ends the text; any
        // other unfinished escape is not an escape and keeps its characters.
        bool softBreak = m_tailLength == 1 || m_tail[1] == '\r' || m_tail[1] == '\n';
        if (!softBreak) out.append(m_tail, m_tailLength);
    }
    Reset(m_encoding);
}

void StreamDecoder::DecodeBase64(std::string_view in, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    std::size_t base = out.size();
    out.resize(base + (in.size() / 4 + 1) * 3);
    auto* o = reinterpret_cast<unsigned char*>(out.data()) + base;

    std::uint32_t bits = m_bits;
    int count = m_count;
    while (p < end) {
        // Fast path: four alphabet characters at a group boundary.
        if (count == 0) {
            while (end - p >= 4) {
                std::uint32_t a = kDecodeTable[p[0]], b = kDecodeTable[p[1]],
                              c = kDecodeTable[p[2]], d = kDecodeTable[p[3]];
                if ((a | b | c | d) == kNotBase64 || ((a | b | c | d) & 0xC0)) break;
                std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
                o[0] = static_cast<unsigned char>(v >> 16);
                o[1] = static_cast<unsigned char>(v >> 8);
                o[2] = static_cast<unsigned char>(v);
                o += 3;
                p += 4;
            }
            if (p == end) break;
        }
        // Slow path: one character at a time; anything outside the alphabet, "=" included,
        // is skipped.
        std::uint32_t v = kDecodeTable[*p++];
        if (v == kNotBase64) continue;
        bits = (bits << 6) | v;
        if (++count == 4) {
            o[0] = static_cast<unsigned char>(bits >> 16);
            o[1] = static_cast<unsigned char>(bits >> 8);
            o[2] = static_cast<unsigned char>(bits);
            o += 3;
            bits = 0;
            count = 0;
        }
    }
    m_bits = bits;
    m_count = count;
    out.resize(static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data())));
}

void StreamDecoder::DecodeQuotedPrintable(std::string_view in, std::string& out) {
    // The pending tail goes in front of the new text. It is at most two characters, so it
    // is completed from the new text on its own and the rest is decoded in place.
    if (m_tailLength > 0) {
        char joined[3];
        std::memcpy(joined, m_tail, m_tailLength);
        std::size_t take = std::min<std::size_t>(3 - m_tailLength, in.size());
        std::memcpy(joined + m_tailLength, in.data(), take);
        std::size_t have = m_tailLength + take;
        m_tailLength = 0;
        if (have < 3) {
            // Still too short: a soft line break "=" LF can already be told apart.
            if (have == 2 && joined[1] == '\n') {
                in.remove_prefix(take);
            } else {
                std::memcpy(m_tail, joined, have);
                m_tailLength = static_cast<int>(have);
                return;
            }
        } else {
            std::string_view whole(joined, 3);
            std::size_t used;
            if (whole[1] == '\r' && whole[2] == '\n') {
                used = 3;
            } else if (whole[1] == '\n') {
                used = 2;
            } else {
                int hi = HexValue(whole[1]), lo = HexValue(whole[2]);
                if (hi >= 0 && lo >= 0) {
                    out.push_back(static_cast<char>(hi * 16 + lo));
                } else {
                    out.append(whole);
                }
                used = 3;
            }
            // `used` counts the tail too; only the part taken from `in` is consumed.
            in.remove_prefix(used - (3 - take));
        }
    }

    std::size_t pos = 0;
    const std::size_t n = in.size();
    while (pos < n) {
        std::size_t eq = in.find('=', pos);
        if (eq == std::string_view::npos) {
            out.append(in.substr(pos));
            return;
        }
        out.append(in.substr(pos, eq - pos));
        std::size_t left = n - eq;
        if (left >= 2 && in[eq + 1] == '\n') {
            pos = eq + 2;  // soft line break with a bare line feed
            continue;
        }
        if (left < 3) {
            std::memcpy(m_tail, in.data() + eq, left);
            m_tailLength = static_cast<int>(left);
            return;
        }
        if (in[eq + 1] == '\r' && in[eq + 2] == '\n') {
            pos = eq + 3;  // soft line break
            continue;
        }
        int hi = HexValue(in[eq + 1]), lo = HexValue(in[eq + 2]);
        if (hi >= 0 && lo >= 0) {
            out.push_back(static_cast<char>(hi * 16 + lo));
        } else {
            out.append(in.substr(eq, 3));
        }
        pos = eq + 3;
    }
}

std::int64_t AppendBase64Lines(std::string_view data, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t n = data.size();
    const std::size_t fullLines = n / kBase64LineInput;
    const std::size_t rest = n % kBase64LineInput;
    std::size_t size = fullLines * (kBase64LineOutput + 2) + (rest + 2) / 3 * 4;
    std::size_t base = out.size();
    out.resize(base + size);
    char* o = out.data() + base;

    auto encodeGroups = [&](const unsigned char* src, std::size_t groups) {
        for (std::size_t g = 0; g < groups; ++g, src += 3, o += 4) {
            std::uint32_t v = (std::uint32_t{src[0]} << 16) | (std::uint32_t{src[1]} << 8) | src[2];
            o[0] = kAlphabet[v >> 18];
            o[1] = kAlphabet[(v >> 12) & 63];
            o[2] = kAlphabet[(v >> 6) & 63];
            o[3] = kAlphabet[v & 63];
        }
    };
    for (std::size_t line = 0; line < fullLines; ++line) {
        encodeGroups(p, kBase64LineInput / 3);
        p += kBase64LineInput;
        *o++ = '\r';
        *o++ = '\n';
    }
    encodeGroups(p, rest / 3);
    p += rest / 3 * 3;
    if (rest % 3 == 1) {
        std::uint32_t v = std::uint32_t{p[0]} << 16;
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (rest % 3 == 2) {
        std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = '=';
    }
    return static_cast<std::int64_t>(fullLines);
}

}  // namespace qrmime
