#include "sources/attachment_names.h"

#include <qrmime/entity.h>

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

}  // namespace tallix::sources
