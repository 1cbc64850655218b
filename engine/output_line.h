#pragma once
// The record a template writes for a message: the values of its variables in the order of
// its output definition, appended to its output file (or printed, when the output file is the
// word "printer"). Delimited (values separated by the delimiter, CR LF), CSV (RFC 4180 with
// the template's delimiter, CR LF) or JSON Lines (an object of output names and values, LF).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_context.h"
#include "engine/templates/output_target.h"

namespace tallix::engine {

// The delimiter from the template's OutputDeliminator; unchanged for other words.
void SetDelimiter(TemplateWork& work);
// Builds the output line from the template's variables.
void CreateOutputString(TemplateWork& work);
// The place in the template's list of variables of each entry of the output definition, in
// order; -1 where no variable has the entry's name.
std::vector<std::int32_t> OutputFieldPlaces(const TemplateWork& work);
// How the template's lines are written: their end, how its file is read back into lines, and
// what a new file starts with (the byte-order mark, the header row).
LineForm FormOf(const TemplateWork& work);
// Writes the output line to the template's output file (or prints the record); false when the
// line could not be written (reported). A printer failure is raised to the caller.
bool AppendOutput(RunContext& run, const TemplateWork& work);
// The output line, trimmed, already stands in the output file as a line, trimmed (exact case).
bool IsDuplicate(RunContext& run, const TemplateWork& work, const std::string& path);
// Writes every line gathered for the output files (see OutputFiles). A batch that cannot be
// written is reported under the file's name, and the templates of `message` (when given) that
// write to that file fail for it. False when something could not be written.
bool FlushOutput(RunContext& run, MessageWork* message = nullptr);
// The same once the oldest gathered line has waited kBatchInterval.
void FlushOutputIfDue(RunContext& run);
// The record for the printer: every value followed by CR LF.
std::string CreatePrintString(const TemplateWork& work);

}  // namespace tallix::engine
