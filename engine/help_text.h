#pragma once
// The command-line help: the switches and their descriptions, line by line.

#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

inline constexpr std::string_view kHelpCaption = "Command Line Options";
inline constexpr std::string_view kHelpCloseCaption = "Close";

// The two columns (switches, descriptions); line i of one belongs to line i of the other.
const std::vector<std::string>& HelpSwitchLines();
const std::vector<std::string>& HelpDescriptionLines();
// The columns joined with CR LF, as the help window's text boxes hold them.
std::string HelpSwitchText();
std::string HelpDescriptionText();
// Both columns side by side for a terminal, each line ended by "\n".
std::string HelpColumnsForConsole();

}  // namespace tallix::engine
