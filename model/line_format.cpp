#include "model/line_format.h"

namespace tallix {
namespace {

// The length of the well-formed UTF-8 sequence at `i`, 0 when the bytes there are not one.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = b(i);
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    if (b(i + 1) < low || b(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

void AppendCsvField(std::string& out, std::string_view value, std::string_view delimiter,
                    bool always) {
    const bool quote = always || value.find_first_of("\"\r\n") != std::string_view::npos ||
                       (!delimiter.empty() && value.find(delimiter) != std::string_view::npos);
    if (!quote) {
        out.append(value);
        return;
    }
    out += '"';
    for (const char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    out.reserve(out.size() + text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            // A byte that is not part of UTF-8 would make the whole line unreadable to a JSON
            // reader: it becomes the replacement character.
            if (const std::size_t n = Utf8Length(text, i)) {
                out.append(text.substr(i, n));
                i += n - 1;
            } else {
                out += "\\ufffd";
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    out += "\\u00";
                    out += kHex[u >> 4];
                    out += kHex[u & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

}  // namespace

std::string CsvField(std::string_view value, std::string_view delimiter, bool always) {
    std::string out;
    AppendCsvField(out, value, delimiter, always);
    return out;
}

std::string CsvRecord(const std::vector<std::string>& values, std::string_view delimiter,
                      const std::vector<bool>& alwaysQuote) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out.append(delimiter);
        AppendCsvField(out, values[i], delimiter, i < alwaysQuote.size() && alwaysQuote[i]);
    }
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

std::string JsonObject(const std::vector<std::string>& names,
                       const std::vector<std::string>& values) {
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        AppendJsonString(out, i < names.size() ? std::string_view(names[i]) : std::string_view());
        out += ':';
        AppendJsonString(out, values[i]);
    }
    out += '}';
    return out;
}

std::string JsonArray(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        AppendJsonString(out, values[i]);
    }
    out += ']';
    return out;
}

std::string GuardFormula(std::string value) {
    if (!value.empty() && (value.front() == '=' || value.front() == '+' || value.front() == '-' ||
                           value.front() == '@' || value.front() == '\t' || value.front() == '\r'))
        value.insert(0, 1, '\'');
    return value;
}

}  // namespace tallix
