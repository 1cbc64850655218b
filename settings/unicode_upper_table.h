#pragma once
// The upper-case mapping that case-insensitive searches use beyond ASCII, written by
// tools/make_unicode_upper_table.py: every character from `first` to `last` in steps of `step`
// becomes itself plus `delta`. Only mappings that keep the UTF-8 length are listed.

#include <cstddef>
#include <cstdint>

namespace tallix {

struct UpperRow {
    std::uint32_t first, last;
    std::uint32_t step;
    std::int32_t delta;
};
extern const UpperRow kUnicodeUpperRows[];
extern const std::size_t kUnicodeUpperRowCount;

}  // namespace tallix
