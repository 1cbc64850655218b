// Private-profile files: whatever bytes a template file or POP3.CFG holds, reading it,
// writing it back and reading that again gives the same sections, keys and values; so does
// a change made through Set, DeleteKey and DeleteSection, and a save to disk.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "model/profile_file.h"

using tallix::profile::ProfileDocument;

namespace {

void ExpectSameValues(const ProfileDocument& a, const ProfileDocument& b) {
    const auto sections = a.SectionNames();
    FUZZ_CHECK(sections == b.SectionNames(), a.Bytes());
    for (const std::string& section : sections) {
        const auto keys = a.KeyNames(section);
        FUZZ_CHECK(keys == b.KeyNames(section), section);
        for (const std::string& key : keys) {
            FUZZ_CHECK(a.Find(section, key) == b.Find(section, key), key);
            FUZZ_CHECK(a.Get(section, key, "x", 255) == b.Get(section, key, "x", 255), key);
        }
    }
}

// A name or value as a writer passes it: a line break, "=" in a key or "]" in a section
// name cannot be stored on one line, and a NUL ends the text for the platform functions,
// so callers never pass them.
std::string Clean(std::string_view text, std::string_view banned) {
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n' && c != '\0' && banned.find(c) == std::string_view::npos)
            out += c;
    }
    return out;
}

// A name that a written key is found by again: not blank, no control characters (a tab or
// other control character in an argument is part of the name, but not of the name read
// back, and matches nothing).
bool Findable(const std::string& name) {
    if (name.find_first_not_of(' ') == std::string::npos) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& sandbox = tallix::fuzz::Environment();
    const auto parts = tallix::fuzz::SplitInput(data, size, 4);
    const std::string section = Clean(parts[1], "[]");
    const std::string key = Clean(parts[2], "=[");
    const std::string value = Clean(parts[3], "");

    ProfileDocument doc = ProfileDocument::FromBytes(parts[0]);
    ExpectSameValues(doc, ProfileDocument::FromBytes(doc.Bytes()));

    doc.Set(section, key, value);
    ExpectSameValues(doc, ProfileDocument::FromBytes(doc.Bytes()));
    if (Findable(section) && Findable(key) && key[key.find_first_not_of(' ')] != ';') {
        FUZZ_CHECK(doc.Find(section, key).has_value(), doc.Bytes());
    }

    // Through the disk for one input in 32: a save is slow next to the rest.
    if (size % 32 == 0) {
        const std::string path = sandbox.work + "/profile.ini";
        FUZZ_CHECK(doc.Save(path, 0600).ok(), path);
        tallix::profile::ProfileStatus status;
        ExpectSameValues(doc, ProfileDocument::Load(path, &status));
        FUZZ_CHECK(status.ok(), path);
    }

    doc.DeleteKey(section, key);
    ExpectSameValues(doc, ProfileDocument::FromBytes(doc.Bytes()));
    doc.DeleteSection(section);
    ExpectSameValues(doc, ProfileDocument::FromBytes(doc.Bytes()));
    return 0;
}
