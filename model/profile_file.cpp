#include "model/profile_file.h"

#include "model/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unordered_map>

namespace tallix::profile {
namespace {

constexpr std::string_view kLineBreak = "\r\n";

// Blanks inside the file: around section names, key names and values.
bool IsFileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

std::string_view TrimFileBlanks(std::string_view s) {
    while (!s.empty() && IsFileBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsFileBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Section and key arguments lose only their outer spaces; a tab or other control character
// in an argument is part of the name and then simply matches nothing.
std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

enum class LineKind { kOther, kSection, kComment, kKey };

struct LineInfo {
    LineKind kind = LineKind::kOther;
    std::string_view name;        // section or key name, blanks removed
    std::string_view rawValue;    // text after the first "=", untouched
    std::size_t valueOffset = 0;  // where rawValue starts in the line
};

// What one line is. Blank lines and text without "=" are kOther: they belong to the section
// they are in but are never keys.
LineInfo Classify(std::string_view line) {
    LineInfo info;
    std::size_t start = 0;
    while (start < line.size() && IsFileBlank(line[start])) ++start;
    if (start == line.size()) return info;
    if (line[start] == '[') {
        // The name ends at the first "]"; a missing "]" lets it run to the end of the line.
        // Anything after the "]" is ignored, so "[S]k=v" holds no key.
        std::string_view rest = line.substr(start + 1);
        std::size_t close = rest.find(']');
        if (close != std::string_view::npos) rest = rest.substr(0, close);
        info.kind = LineKind::kSection;
        info.name = TrimFileBlanks(rest);
        return info;
    }
    if (line[start] == ';') {
        info.kind = LineKind::kComment;
        return info;
    }
    std::size_t eq = line.find('=', start);
    if (eq == std::string_view::npos) return info;
    info.kind = LineKind::kKey;
    info.name = TrimFileBlanks(line.substr(start, eq - start));
    info.valueOffset = eq + 1;
    info.rawValue = line.substr(eq + 1);
    return info;
}

// A value as read: outer blanks removed, then one outer pair of matching quotes.
std::string_view CookValue(std::string_view raw) {
    std::string_view v = TrimFileBlanks(raw);
    if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Where the first section named `section` lies: [header, end) in line indices, end being the
// next header or the end of the file. Later sections of the same name are never looked at.
struct SectionRange {
    std::size_t header = 0;
    std::size_t end = 0;
    bool found = false;
};

SectionRange FindSection(const std::vector<std::string>& lines, std::string_view section) {
    SectionRange range;
    std::string_view wanted = TrimSpaces(section);
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        LineInfo info = Classify(lines[i]);
        if (info.kind == LineKind::kSection && EqualNoCase(info.name, wanted)) break;
    }
    if (i == lines.size()) return range;
    range.found = true;
    range.header = i;
    for (++i; i < lines.size(); ++i) {
        if (Classify(lines[i]).kind == LineKind::kSection) break;
    }
    range.end = i;
    return range;
}

// The first key line named `key` inside `range`, or npos.
std::size_t FindKeyLine(const std::vector<std::string>& lines, const SectionRange& range,
                        std::string_view key) {
    std::string_view wanted = TrimSpaces(key);
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        LineInfo info = Classify(lines[i]);
        if (info.kind == LineKind::kKey && EqualNoCase(info.name, wanted)) return i;
    }
    return std::string::npos;
}

std::string Folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = FoldAscii(c);
    return out;
}

}  // namespace

struct ProfileDocument::Index {
    std::unordered_map<std::string, std::unordered_map<std::string, std::size_t>> sections;
};

const ProfileDocument::Index& ProfileDocument::Lookup() const {
    if (m_index) return *m_index;
    auto index = std::make_shared<Index>();
    std::unordered_map<std::string, std::size_t>* current = nullptr;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        LineInfo info = Classify(m_lines[i]);
        if (info.kind == LineKind::kSection) {
            // Only the first section of a name is ever looked at.
            auto [it, added] = index->sections.try_emplace(Folded(info.name));
            current = added ? &it->second : nullptr;
        } else if (info.kind == LineKind::kKey && current) {
            current->try_emplace(Folded(info.name), i);
        }
    }
    m_index = std::move(index);
    return *m_index;
}

ProfileDocument ProfileDocument::FromBytes(std::string_view bytes) {
    ProfileDocument doc;
    // Sized up front: a file of little but line breaks would otherwise copy its many short
    // lines over and over while the vector grows. Room for a new section's two lines too.
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bool crAlone = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
        if (bytes[i] == '\n' || crAlone) ++breaks;
    }
    doc.m_lines.reserve(breaks + 3);
    // CR LF, CR alone and LF alone each end one line.
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t brk = bytes.find_first_of("\r\n", pos);
        if (brk == std::string_view::npos) {
            doc.m_lines.emplace_back(bytes.substr(pos));
            doc.m_endsWithLineBreak = false;
            break;
        }
        doc.m_lines.emplace_back(bytes.substr(pos, brk - pos));
        pos = brk + 1;
        if (bytes[brk] == '\r' && pos < bytes.size() && bytes[pos] == '\n') ++pos;
    }
    return doc;
}

ProfileDocument ProfileDocument::Load(const std::string& path, ProfileStatus* status) {
    std::string bytes;
    int error = ReadRegularFile(path, bytes);
    if (status) status->error = error;
    return error ? ProfileDocument{} : FromBytes(bytes);
}

std::optional<std::string> ProfileDocument::Find(std::string_view section,
                                                 std::string_view key) const {
    const Index& index = Lookup();
    auto sectionIt = index.sections.find(Folded(TrimSpaces(section)));
    if (sectionIt == index.sections.end()) return std::nullopt;
    auto keyIt = sectionIt->second.find(Folded(TrimSpaces(key)));
    if (keyIt == sectionIt->second.end()) return std::nullopt;
    return std::string(CookValue(Classify(m_lines[keyIt->second]).rawValue));
}

std::string ProfileDocument::Get(std::string_view section, std::string_view key,
                                 std::string_view def, std::size_t bufferSize) const {
    std::string result;
    if (std::optional<std::string> value = Find(section, key)) {
        result = std::move(*value);
    } else {
        // Only spaces are dropped from the default, and only at its end.
        while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
        result.assign(def);
    }
    // The caller's buffer also holds the terminating NUL.
    if (bufferSize != kNoLimit && result.size() > bufferSize - 1) result.resize(bufferSize - 1);
    return result;
}

std::vector<std::string> ProfileDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const std::string& line : m_lines) {
        LineInfo info = Classify(line);
        if (info.kind == LineKind::kSection) names.emplace_back(info.name);
    }
    return names;
}

std::vector<std::string> ProfileDocument::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    SectionRange range = FindSection(m_lines, section);
    if (!range.found) return names;
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        LineInfo info = Classify(m_lines[i]);
        if (info.kind == LineKind::kKey) names.emplace_back(info.name);
    }
    return names;
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    m_index.reset();
    std::string_view sectionName = TrimSpaces(section);
    std::string_view keyName = TrimSpaces(key);
    std::string keyLine;
    keyLine.reserve(keyName.size() + 1 + value.size());
    keyLine.append(keyName).append("=").append(value);

    SectionRange range = FindSection(m_lines, sectionName);
    if (!range.found) {
        // A new section goes at the very end, straight after the last line; an unfinished last
        // line gets its line break first.
        std::string header;
        header.append("[").append(sectionName).append("]");
        m_lines.push_back(std::move(header));
        m_lines.push_back(std::move(keyLine));
    } else if (std::size_t at = FindKeyLine(m_lines, range, keyName); at != std::string::npos) {
        // In place: the line keeps everything up to its "=", so the stored spelling of the key
        // and its indentation stay; only the value is replaced.
        std::string& line = m_lines[at];
        line.resize(Classify(line).valueOffset);
        line.append(value);
    } else {
        // A new key follows the section's last key line, ahead of any comments or blank lines
        // that close the section, so keys added one after another stay in that order.
        std::size_t after = range.header;
        for (std::size_t i = range.header + 1; i < range.end; ++i) {
            if (Classify(m_lines[i]).kind == LineKind::kKey) after = i;
        }
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(after + 1),
                       std::move(keyLine));
    }
    // A file we change always ends with a line break.
    m_endsWithLineBreak = true;

    // Names and values are written as given. One holding a line break turns into several lines
    // in the file; reading our own bytes back keeps the document equal to what a later Load sees.
    if (HasLineBreak(sectionName) || HasLineBreak(keyName) || HasLineBreak(value)) {
        *this = FromBytes(Bytes());
    }
}

void ProfileDocument::DeleteKey(std::string_view section, std::string_view key) {
    m_index.reset();
    SectionRange range = FindSection(m_lines, section);
    if (!range.found) return;
    std::size_t at = FindKeyLine(m_lines, range, key);
    if (at == std::string::npos) return;
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(at));
    m_endsWithLineBreak = true;
}

void ProfileDocument::DeleteSection(std::string_view section) {
    m_index.reset();
    SectionRange range = FindSection(m_lines, section);
    if (!range.found) return;
    // Comment lines survive the section they stood in; the header, the keys, blank lines and
    // other text of the section go with it.
    auto first = m_lines.begin() + static_cast<std::ptrdiff_t>(range.header);
    auto last = m_lines.begin() + static_cast<std::ptrdiff_t>(range.end);
    auto kept = std::stable_partition(first, last, [](const std::string& line) {
        return Classify(line).kind == LineKind::kComment;
    });
    m_lines.erase(kept, last);
    m_endsWithLineBreak = true;
}

std::string ProfileDocument::Bytes() const {
    std::size_t total = 0;
    for (const std::string& line : m_lines) total += line.size() + kLineBreak.size();
    std::string out;
    out.reserve(total);
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        out.append(m_lines[i]);
        if (i + 1 < m_lines.size() || m_endsWithLineBreak) out.append(kLineBreak);
    }
    return out;
}

ProfileStatus ProfileDocument::Save(const std::string& path, mode_t newFileMode) const {
    if (path.empty()) return {ENOENT};
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // The temporary name must still fit the file system's name limit for a long target name.
    constexpr std::size_t kMaxBaseInTempName = 200;
    if (base.size() > kMaxBaseInTempName) base.resize(kMaxBaseInTempName);
    if (dir.back() != '/') dir += '/';
    std::string temp = dir + "." + base + ".XXXXXX";

    mode_t mode = newFileMode & 07777;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;

    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return {errno};

    auto fail = [&](int error) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        return ProfileStatus{error};
    };
    if (int error = WriteAll(fd, Bytes())) return fail(error);
    if (::fchmod(fd, mode) != 0) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(errno);

    // Make the rename itself durable; the file is already complete, so a failure here is not
    // reported as a failed save.
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, std::size_t bufferSize,
                                    const std::string& path) {
    // An unreadable or missing file reads as an empty one: every lookup gives the default.
    return ProfileDocument::Load(path).Get(section, key, def, bufferSize);
}

ProfileStatus WritePrivateProfileString(std::string_view section,
                                        std::optional<std::string_view> key,
                                        std::optional<std::string_view> value,
                                        const std::string& path, mode_t newFileMode) {
    ProfileStatus loaded;
    ProfileDocument doc = ProfileDocument::Load(path, &loaded);
    bool exists = loaded.ok();
    // A file that exists but cannot be read must not be replaced by what little we know of it.
    if (!exists && loaded.error != ENOENT) return loaded;

    std::string before = exists ? doc.Bytes() : std::string();
    if (!key) {
        doc.DeleteSection(section);
    } else if (!value) {
        doc.DeleteKey(section, *key);
    } else {
        doc.Set(section, *key, *value);
    }
    // An existing file the call did not change stays exactly as it was (its line ends too).
    // A missing file is always created, even by a deletion, which leaves it empty.
    if (exists && doc.Bytes() == before) return {};
    return doc.Save(path, newFileMode);
}

}  // namespace tallix::profile
