#pragma once
// Private-profile (INI) files, read and written by these rules: section and key
// names without regard to case, blanks around keys and values, one outer quote pair, first
// duplicate wins, comment lines, the buffer cut and the default; in-place replacement that
// keeps the stored key spelling and position, new keys after the section's last key, new
// sections at the end. Template files, POP3.CFG and the settings file all use it.
//
// A file is read whole into a ProfileDocument, looked up and changed in memory, and written
// back whole by replacing the file atomically (a temporary file in the same directory, then
// a rename), so a reader in another process never sees a torn file. Lines are written with
// CR LF; files with LF, CR LF or CR line ends read alike.

#include <sys/types.h>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::profile {

// errno of the failed file operation; 0 on success.
struct ProfileStatus {
    int error = 0;
    bool ok() const { return error == 0; }
};

inline constexpr std::size_t kNoLimit = 0;

class ProfileDocument {
  public:
    ProfileDocument() = default;
    static ProfileDocument FromBytes(std::string_view bytes);
    // Reads `path`. A missing file gives an empty document and ENOENT in the status.
    static ProfileDocument Load(const std::string& path, ProfileStatus* status = nullptr);

    // The value of `key` in the first section named `section`, after the value rules
    // (trimmed, one outer quote pair removed); nullopt when there is no such key.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // GetPrivateProfileString for one key: the value, or `def` without its trailing spaces,
    // cut to bufferSize - 1 characters when bufferSize is not kNoLimit.
    std::string Get(std::string_view section, std::string_view key, std::string_view def,
                    std::size_t bufferSize = kNoLimit) const;

    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // WritePrivateProfileString: replace in place or add; remove a key; remove a section.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    void DeleteKey(std::string_view section, std::string_view key);
    void DeleteSection(std::string_view section);

    // The file's bytes as they would be written.
    std::string Bytes() const;
    // Writes the document to `path` atomically with the given mode for a new file
    // (an existing file keeps its mode).
    ProfileStatus Save(const std::string& path, mode_t newFileMode = 0644) const;

  private:
    // First section of each name, first key of each name in it, by folded names: built on
    // the first lookup after a change, so reading many keys costs one pass over the file.
    struct Index;
    const Index& Lookup() const;

    std::vector<std::string> m_lines;  // without line ends
    mutable std::shared_ptr<const Index> m_index;
    bool m_endsWithLineBreak = true;
};

// One-call forms: each loads the file, does one lookup, and returns what it found.
// GetPrivateProfileString(section, key, default, nSize, file): the text copied.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, std::size_t bufferSize,
                                    const std::string& path);
// WritePrivateProfileString: key nullopt removes the section, value nullopt removes the key.
ProfileStatus WritePrivateProfileString(std::string_view section,
                                        std::optional<std::string_view> key,
                                        std::optional<std::string_view> value,
                                        const std::string& path, mode_t newFileMode = 0644);

}  // namespace tallix::profile
