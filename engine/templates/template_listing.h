#pragma once
// Listing template and script files: file patterns with "*" and "?" matched without regard to
// case, so a name typed in any case finds its file; ordinary, visible files only; sorted by
// name without regard to case (ties in byte order) so runs are repeatable.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

// True when `name` matches `pattern` ("*" any run, "?" one character), ASCII case folded.
bool MatchesFilePattern(std::string_view pattern, std::string_view name);
// The names (no directory) of the ordinary files matching `pathPattern`, whose last
// component is the pattern and whose directory part is taken as it stands.
std::vector<std::string> ListMatchingFiles(const std::string& pathPattern);
// The stored name of the ordinary file `name` in `dir`, found without regard to case.
std::optional<std::string> FindFileNoCase(const std::string& dir, std::string_view name);

}  // namespace tallix::engine
