#pragma once
// Who the running program is and where it lives.

#include <string>
#include <string_view>

namespace tallix {

// Set once by each program's main(): the executable's name without extension
// ("txengine", "tallix") and the product name used in error boxes ("txEngine", "Tallix").
void SetProgramIdentity(std::string exeName, std::string productName);
const std::string& ExeName();
const std::string& ProductName();

// The program directory, where the programs write (logs, POP3.CFG, templates, scripts):
// $TALLIX_HOME when set and not empty; else, for an installed copy, $XDG_DATA_HOME/tallix
// (default ~/.local/share/tallix, created 0700); else the directory of the running
// executable. Never with a trailing slash (the root directory stays "/").
const std::string& ProgramDir();
// The directory of the running executable.
std::string ExecutableDir();
// An installed copy: the executable's directory holds no "Examples", and either it is not
// writable or <its parent>/share/tallix exists.
bool IsInstalledCopy();
// Where the shipped files are read (Examples, the help set, extensions.txt): the program
// directory when it holds "Examples", else the installed data directory
// (<prefix>/share/tallix beside the executable's bin directory) when that exists, else the
// program directory.
std::string DataDir();
// Forgets the cached program directory (tests change TALLIX_HOME between cases).
void ResetProgramDir();

// dir + "/" + name, without doubling a slash that dir already ends with.
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace tallix
