#include "engine/templates/template_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "settings/app_info.h"
#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

bool IsOrdinaryFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Names in `dir` that pass `keep`, sorted without regard to case, ties in byte order.
template <class Keep>
std::vector<std::string> ListDirectory(const std::string& dir, Keep&& keep) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "." : dir.c_str()), ::closedir);
    if (!d) return names;
    while (const dirent* e = ::readdir(d.get())) {
        std::string name = e->d_name;
        // Names beginning with "." are the hidden files of this system.
        if (name.empty() || name[0] == '.') continue;
        if (keep(name) && IsOrdinaryFile(JoinPath(dir, name))) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        std::string la = LCase(a), lb = LCase(b);
        return la != lb ? la < lb : a < b;
    });
    return names;
}

}  // namespace

bool MatchesFilePattern(std::string_view pattern, std::string_view name) {
    // Iterative wildcard match with one backtrack point: linear in practice, never exponential.
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> ListMatchingFiles(const std::string& pathPattern) {
    std::size_t slash = pathPattern.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : pathPattern.substr(0, slash);
    if (slash == 0) dir = "/";
    std::string pattern = slash == std::string::npos ? pathPattern : pathPattern.substr(slash + 1);
    return ListDirectory(
        dir, [&](const std::string& name) { return MatchesFilePattern(pattern, name); });
}

std::optional<std::string> FindFileNoCase(const std::string& dir, std::string_view name) {
    if (name.empty()) return std::nullopt;
    std::string exact = JoinPath(dir, name);
    if (name.find('/') == std::string_view::npos && IsOrdinaryFile(exact)) return std::string(name);
    auto found = ListDirectory(dir, [&](const std::string& n) { return EqualsNoCase(n, name); });
    if (found.empty()) return std::nullopt;
    return found.front();
}

}  // namespace tallix::engine
