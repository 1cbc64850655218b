#include "engine/output_line.h"

#include <string_view>

#include "engine/extraction_text.h"
#include "engine/procedure_contexts.h"
#include "engine/run_summary.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kCouldNotWrite = "Could not write to output file: ";

// The value the output definition's entry names, quoted and flattened as its variable says;
// "" when no variable has that name.
std::string ValueFor(const std::vector<colExportFields::Pointer>& fields, std::string_view entry) {
    const std::string_view wanted = TrimView(entry);
    for (const auto& field : fields) {
        if (TrimView(field->FieldNameRef()) != wanted) {
            LetEventsRun();
            continue;
        }
        std::string text = Trim(field->Value());
        if (field->UseQuotes() == "1") text = "\"" + text + "\"";
        if (field->RemoveLF() == "1") text = StripLF(text);
        return text;
    }
    return {};
}

// Every value of the definition followed by `separator`.
void BuildRecord(const TemplateWork& work, std::string& out, const std::string& separator) {
    out.clear();
    const auto fields = work.tpl->colFields()->NewEnum();
    for (const std::string& entry : work.outputOrder) {
        out += ValueFor(fields, entry);
        out += separator;
        LetEventsRun();
    }
}

}  // namespace

void SetDelimiter(TemplateWork& work) {
    Guard(context::kSetDelimiter,
          [&] { work.delimiter = DelimiterFor(work.tpl->OutputDeliminator(), work.delimiter); });
}

void CreateOutputString(TemplateWork& work) {
    Guard(context::kCreateOutputString, [&] {
        BuildRecord(work, work.outputLine, work.delimiter);
        if (!work.outputLine.empty()) {
            work.outputLine.pop_back();  // the delimiter after the last value
            work.outputLine = StripExtras(TrimLineBreaks(work.outputLine));
        }
    });
}

std::string CreatePrintString(const TemplateWork& work) {
    std::string record;
    Guard(context::kCreateOutputString, [&] { BuildRecord(work, record, "\r\n"); });
    return record;
}

bool IsDuplicate(RunContext& run, const TemplateWork& work, const std::string& path) {
    return GuardValue(context::kIsDuplicate, false, [&] {
        bool found = false;
        if (int error = run.output->HoldsLine(path, Trim(work.outputLine), found))
            RaiseErrno(error);
        return found;
    });
}

bool AppendOutput(RunContext& run, const TemplateWork& work) {
    const std::string path = Trim(work.tpl->OutputFile());
    if (path.empty()) return true;
    if (path == kPrinterOutput) {
        run.output->Print([&] { return CreatePrintString(work); });
        return true;
    }
    return Guard(std::string(kCouldNotWrite) + path, [&] {
        bool write = work.tpl->AllowDuplicate() || !IsDuplicate(run, work, path);
        if (write) {
            if (int error = run.output->Append(path, work.outputLine)) RaiseErrno(error);
            CountLine(run, work.index);
        }
        LetEventsRun();
    });
}

}  // namespace tallix::engine
