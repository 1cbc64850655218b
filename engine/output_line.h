#pragma once
// The record a template writes for a message: the values of its variables in the order of
// its output definition, separated by its delimiter, appended to its output file with CR LF
// (or printed, when the output file is the word "printer").

#include <string>
#include <string_view>

#include "engine/templates/output_target.h"

namespace tallix::engine {

// The delimiter from the current template's OutputDeliminator; unchanged for other words.
void SetDelimiter();
// Builds OutputLine from the current template's variables.
void CreateOutputString();
// Writes OutputLine to the current template's output file (or prints the record).
void AppendOutput();
// OutputLine, trimmed, already stands in the output file as a line, trimmed (exact case).
bool IsDuplicate(const std::string& path);
// The record for the printer: every value followed by CR LF.
std::string CreatePrintString();

}  // namespace tallix::engine
