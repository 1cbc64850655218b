#pragma once
// A variable's regular expression (PCRE2): compiled once, searched with a match limit, a
// depth limit and a heap limit so that no pattern can stall a run, with JIT where the
// library has it. Patterns and texts are UTF-8; a text that is not valid UTF-8 is searched
// all the same (an invalid sequence never matches).

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallix {

// Why a pattern does not compile: PCRE2's message and the 0-based offset in the pattern
// where it stopped.
struct PatternError {
    std::size_t offset = 0;
    std::string message;
};

class CompiledPattern {
  public:
    // The compiled pattern, or nullptr with `error` set.
    static std::unique_ptr<CompiledPattern> Compile(std::string_view pattern, bool ignoreCase,
                                                    PatternError& error);
    ~CompiledPattern();
    CompiledPattern(const CompiledPattern&) = delete;
    CompiledPattern& operator=(const CompiledPattern&) = delete;

    enum class Outcome { Found, NotFound, LimitHit, Failed };
    struct Match {
        Outcome outcome = Outcome::NotFound;
        std::size_t valueStart = 0;  // the first capture group, or the whole match
        std::size_t valueLength = 0;
        std::size_t matchStart = 0;  // where the whole match begins
        std::size_t matchEnd = 0;    // where the whole match ends (a repeat goes on from here)
        std::string problem;         // PCRE2's text for LimitHit and Failed
    };
    // The first match in `text` at or after byte `from`. Not for two threads at once: the
    // match data is kept between calls.
    Match Find(std::string_view text, std::size_t from) const;

  private:
    CompiledPattern() = default;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Nothing when `pattern` compiles, else why not.
std::optional<PatternError> CheckPattern(std::string_view pattern);

// The limits of one search: how many backtracking steps, how deep, and how much memory.
inline constexpr unsigned kPatternMatchLimit = 10'000'000;
inline constexpr unsigned kPatternDepthLimit = 100'000;
inline constexpr unsigned kPatternHeapLimitKiB = 64 * 1024;

}  // namespace tallix
