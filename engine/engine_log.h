#pragma once
// The engine's system-log entries.

#include <string_view>

namespace tallix::engine {

// Writes `text` to txSystem.Log, prefixed by the bare name of `fileName` and a blank when
// that name is not blank; then lets window events run.
void LogSystem(std::string_view text, std::string_view fileName = {});

}  // namespace tallix::engine
