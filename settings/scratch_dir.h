#pragma once
// The engine's private scratch directory: created on first use with mode 0700 under $TMPDIR
// (or /tmp), removed with its contents when the process ends. Its path holds no "." and no
// "HTM" in any case, because the attachment rules look at whole paths.

#include <string>
#include <string_view>

namespace tallix {

inline constexpr std::string_view kScratchMessageFile = "$$tallix.tmp";
inline constexpr std::string_view kScratchBodyFile = "$$body.txt";

// The directory, created when first asked for; "" when it cannot be created.
const std::string& ScratchDir();
// ScratchDir() + "/" + name.
std::string ScratchFile(std::string_view name);
// Removes the directory and its contents now (also done at exit).
void RemoveScratchDir();

}  // namespace tallix
