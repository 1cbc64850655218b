#include "sources/attachment_names.h"

#include <qrmime/entity.h>

#include <cctype>

#include "sources/encoded_words.h"

namespace tallix::sources {

std::string SafeBaseName(std::string_view name) {
    return qrmime::SafeBaseName(name, kMaxAttachmentNameBytes);
}

std::string UniqueName(const std::string& name, std::set<std::string>& taken) {
    std::string candidate = name;
    const std::size_t dot = name.find('.');
    const std::string stem = name.substr(0, dot);
    const std::string rest = dot == std::string::npos ? std::string() : name.substr(dot);
    for (int n = 2; taken.count(candidate) != 0; ++n) {
        candidate = stem + "-" + std::to_string(n) + rest;
    }
    taken.insert(candidate);
    return candidate;
}

std::string AttachmentFileName(std::string_view source, std::set<std::string>& taken) {
    // The name may be written in encoded words; the file is named with the decoded text.
    return std::string(kAttachmentPrefix) +
           UniqueName(SafeBaseName(DecodeEncodedWords(source)), taken);
}

std::string MimeTypeOf(std::string_view contentType) {
    std::string_view t = contentType;
    constexpr std::string_view kField = "content-type:";
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!t.empty() && blank(t.front())) t.remove_prefix(1);
    if (t.size() >= kField.size()) {
        bool field = true;
        for (std::size_t i = 0; i < kField.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(t[i])) != kField[i]) field = false;
        if (field) t.remove_prefix(kField.size());
    }
    while (!t.empty() && blank(t.front())) t.remove_prefix(1);
    std::string type;
    for (const char c : t) {
        if (c == ';' || blank(c)) break;
        type += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return type.find('/') == std::string::npos ? std::string() : type;
}

}  // namespace tallix::sources
