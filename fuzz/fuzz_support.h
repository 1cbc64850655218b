#pragma once
// What every fuzz target shares: one private sandbox per process (program directory,
// settings location and $TMPDIR all inside it), the logs kept small between inputs, a way
// to cut one input into several texts, and a check that a run wrote only where it may.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::fuzz {

struct Sandbox {
    std::string root;    // everything below lives here
    std::string home;    // TALLIX_HOME: the logs
    std::string config;  // XDG_CONFIG_HOME
    std::string tmp;     // TMPDIR: the engine's scratch directory is made here
    std::string work;    // files a target writes for the code under test to read
};

// Made on first call: directories created, environment pointed into them, silent mode on,
// an ending report turned into an exception (so a target can tell it apart from a crash).
const Sandbox& Environment();

// Empties the two logs once they have grown, so a long run does not fill the disk.
void TrimLogs();

// The input cut at each 0x1F byte into at most `count` texts; missing ones are empty.
std::vector<std::string_view> SplitInput(const std::uint8_t* data, std::size_t size,
                                         std::size_t count);

// Every regular file below `dir`, as paths.
std::vector<std::string> FilesUnder(const std::string& dir);

void WriteFile(const std::string& path, std::string_view bytes);

// Prints the message and aborts: a broken property is a finding like a crash.
[[noreturn]] void Fail(std::string_view what, std::string_view detail = {});

}  // namespace tallix::fuzz

#define FUZZ_CHECK(cond, detail)                            \
    do {                                                    \
        if (!(cond)) ::tallix::fuzz::Fail(#cond, (detail)); \
    } while (0)
