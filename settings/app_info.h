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

// The program directory: $TALLIX_HOME when set and not empty, else the directory of the
// running executable; never with a trailing slash (the root directory stays "/").
const std::string& ProgramDir();
// Forgets the cached program directory (tests change TALLIX_HOME between cases).
void ResetProgramDir();

// dir + "/" + name, without doubling a slash that dir already ends with.
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace tallix
