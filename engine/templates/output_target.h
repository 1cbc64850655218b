#pragma once
// The output file name that sends a template's records to the printer instead of a file. The
// engine prints with it and the manager's output-file check lets it pass.

#include <string_view>

namespace tallix::engine {

inline constexpr std::string_view kPrinterOutput = "printer";

}  // namespace tallix::engine
