#include "settings/text_functions.h"

#include "settings/run_time_error.h"

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
