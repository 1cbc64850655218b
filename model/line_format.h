#pragma once
// How values are written in a line of the CSV and JSON Lines output formats: CSV quoting,
// JSON strings, the guard against values a spreadsheet reads as formulas, and the records
// made of them. The engine writes its lines with these and the template editor its sample
// line, so the sample shows what a run writes.

#include <string>
#include <string_view>
#include <vector>

namespace tallix {

// A CSV field (RFC 4180): quoted when `always` or when it holds the delimiter, a quotation
// mark, CR or LF; quotation marks inside doubled.
std::string CsvField(std::string_view value, std::string_view delimiter, bool always);
// The CSV fields of `values` joined by the delimiter; value i is always quoted where
// `alwaysQuote` holds true at i.
std::string CsvRecord(const std::vector<std::string>& values, std::string_view delimiter,
                      const std::vector<bool>& alwaysQuote = {});

// A JSON string literal of `text` (UTF-8 passed through; control characters escaped).
std::string JsonString(std::string_view text);
// A JSON object with `names` as its keys, in order, and `values` as their strings.
std::string JsonObject(const std::vector<std::string>& names,
                       const std::vector<std::string>& values);
// A JSON array of `values` as strings.
std::string JsonArray(const std::vector<std::string>& values);

// `value` after "'" when it begins with = + - @ TAB or CR (a spreadsheet would read it as a
// formula).
std::string GuardFormula(std::string value);

}  // namespace tallix
