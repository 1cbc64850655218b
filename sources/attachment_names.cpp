#include "sources/attachment_names.h"

#include "settings/text_functions.h"

namespace tallix::sources {

std::string SafeBaseName(std::string_view name) {
    if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) continue;
        // No "..": a dot directly after a dot is dropped.
        if (c == '.' && !out.empty() && out.back() == '.') continue;
        out.push_back(c);
    }
    out = Trim(out);
    if (out.size() > kMaxAttachmentNameBytes) {
        std::size_t cut = kMaxAttachmentNameBytes;
        // Back off to the start of a UTF-8 sequence so that no character is split.
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        out = Trim(out);
    }
    if (out.empty() || out == ".") out = kFallbackAttachmentName;
    return out;
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

}  // namespace tallix::sources
