#include "engine/output_line.h"

#include <string_view>

#include "engine/extraction_text.h"
#include "engine/print_text.h"
#include "engine/run_state.h"
#include "engine/template_trial.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kCouldNotWrite = "Could not write to output file: ";
constexpr std::string_view kCreateOutputContext = "Sub CreateOutputString:";

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
void BuildRecord(std::string& out, const std::string& separator) {
    RunState& run = CurrentRun();
    out.clear();
    const auto fields = run.currentTemplate->colFields()->NewEnum();
    for (const std::string& entry : run.outputOrder) {
        out += ValueFor(fields, entry);
        out += separator;
        LetEventsRun();
    }
}

}  // namespace

void SetDelimiter() {
    Guard("Sub SetDelimiter:", [] {
        RunState& run = CurrentRun();
        run.delimiter = DelimiterFor(run.currentTemplate->OutputDeliminator(), run.delimiter);
    });
}

void CreateOutputString() {
    Guard(kCreateOutputContext, [] {
        RunState& run = CurrentRun();
        BuildRecord(run.outputLine, run.delimiter);
        if (!run.outputLine.empty()) {
            run.outputLine.pop_back();  // the delimiter after the last value
            run.outputLine = StripExtras(TrimLineBreaks(run.outputLine));
        }
    });
}

std::string CreatePrintString() {
    std::string record;
    Guard(kCreateOutputContext, [&] { BuildRecord(record, "\r\n"); });
    return record;
}

bool IsDuplicate(const std::string& path) {
    return GuardValue("Sub IsDuplicate:", false, [&] {
        bool found = false;
        RunState& run = CurrentRun();
        const std::string trimmed = Trim(run.outputLine);
        // A trial asks its own output, which answers from the real file without changing it.
        if (int error = run.trialOutput ? run.trialOutput->HoldsLine(path, trimmed, found)
                                        : run.outputs.HoldsLine(path, trimmed, found))
            RaiseErrno(error);
        return found;
    });
}

void AppendOutput() {
    RunState& run = CurrentRun();
    const std::string path = Trim(run.currentTemplate->OutputFile());
    if (path.empty()) return;
    if (path == kPrinterOutput && run.trialOutput) {
        run.trialOutput->Print(CreatePrintString());
        return;
    }
    if (path == kPrinterOutput) {
        // A printer failure is the caller's to report.
        Printer* printer = CurrentPrinter();
        if (!printer) Raise(kErrDeviceUnavailable);
        PrintText(CreatePrintString(), *printer);
        printer->EndDoc();
        LetEventsRun();
        return;
    }
    bool written = Guard(std::string(kCouldNotWrite) + path, [&] {
        bool write = run.currentTemplate->AllowDuplicate() || !IsDuplicate(path);
        if (write) {
            if (int error = run.trialOutput ? run.trialOutput->Append(path, run.outputLine)
                                            : run.outputs.Append(path, run.outputLine))
                RaiseErrno(error);
        }
        LetEventsRun();
    });
    if (!written) MarkTemplateFailed();
}

}  // namespace tallix::engine
