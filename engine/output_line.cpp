#include "engine/output_line.h"

#include <algorithm>
#include <string_view>

#include "engine/extraction_text.h"
#include "engine/procedure_contexts.h"
#include "engine/run_summary.h"
#include "model/line_format.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

enum class Format { Delimited, Csv, Jsonl };

Format FormatOf(const clsTemplate& tpl) {
    // Asked for every line: compared without making upper-cased copies.
    // A word with a byte above 0x7F takes the full upper-casing, which folds beyond ASCII.
    const std::string format = tpl.OutputFormat();
    std::string_view word = TrimView(format);
    std::string upper;
    if (std::any_of(word.begin(), word.end(), [](char c) { return c & 0x80; })) {
        upper = UCase(word);
        word = upper;
    }
    if (EqualsNoCase(word, kFormatCsv)) return Format::Csv;
    if (EqualsNoCase(word, kFormatJsonl)) return Format::Jsonl;
    return Format::Delimited;
}

// The format of the template being applied: from its kept shape when there is one.
Format FormatOf(const TemplateWork& work) {
    if (!work.shape) return FormatOf(*work.tpl);
    switch (work.shape->form.split) {
        case LineSplit::Lf:
            return Format::Jsonl;
        case LineSplit::CsvRecords:
            return Format::Csv;
        case LineSplit::CrLf:
            break;
    }
    return Format::Delimited;
}

// The variable the output definition's entry names, or nullptr.
const clsExportField* VariableFor(const std::vector<colExportFields::Pointer>& fields,
                                  std::string_view entry) {
    const std::string_view wanted = TrimView(entry);
    for (const auto& field : fields) {
        if (TrimView(field->FieldNameRef()) == wanted) return field.get();
        LetEventsRun();
    }
    return nullptr;
}

// The variable of the output definition's entry `k`: from the places the template's kept shape
// found, else looked for by name.
const clsExportField* VariableAt(const TemplateWork& work,
                                 const std::vector<colExportFields::Pointer>& fields,
                                 std::size_t k) {
    if (!work.shape || k >= work.shape->outputFields.size())
        return VariableFor(fields, work.outputOrder[k]);
    const std::int32_t place = work.shape->outputFields[k];
    return place >= 0 && static_cast<std::size_t>(place) < fields.size() ? fields[place].get()
                                                                         : nullptr;
}

// The value of a variable as the line holds it: trimmed, flattened as its variable says,
// guarded against formulas when the template says; in quotes as the variable says only in
// the delimited format (CSV quotes by its own rule, JSON always).
std::string ValueText(const clsExportField* field, Format format, bool guard) {
    if (!field) return {};
    std::string text(TrimView(field->ValueRef()));
    if (guard) text = GuardFormula(std::move(text));
    if (format == Format::Delimited && field->UseQuotesRef() == "1") text = "\"" + text + "\"";
    if (field->RemoveLFRef() == "1") text = StripLF(text);
    return text;
}

// Every value of the definition followed by `separator` (the delimited format, and the
// printed record).
void BuildRecord(const TemplateWork& work, std::string& out, const std::string& separator) {
    out.clear();
    const auto fields = work.tpl->colFields()->NewEnum();
    const bool guard = work.tpl->FormulaGuard();
    for (std::size_t k = 0; k < work.outputOrder.size(); ++k) {
        out += ValueText(VariableAt(work, fields, k), Format::Delimited, guard);
        out += separator;
        LetEventsRun();
    }
}

// One line of `texts` in the template's format: `names` are the JSON keys (none: the texts
// are the output names of a header row).
std::string FormatLine(const TemplateWork& work, Format format,
                       const std::vector<std::string>& texts, const std::vector<std::string>* names,
                       const std::vector<bool>& alwaysQuote) {
    if (format == Format::Jsonl) return names ? JsonObject(*names, texts) : JsonArray(texts);
    return CsvRecord(texts, work.delimiter, alwaysQuote);
}

std::vector<std::string> OutputNames(const TemplateWork& work) {
    std::vector<std::string> names;
    for (const std::string& entry : work.outputOrder) names.push_back(Trim(entry));
    return names;
}

}  // namespace

void SetDelimiter(TemplateWork& work) {
    Guard(context::kSetDelimiter,
          [&] { work.delimiter = DelimiterFor(work.tpl->OutputDeliminator(), work.delimiter); });
}

void CreateOutputString(TemplateWork& work) {
    Guard(context::kCreateOutputString, [&] {
        const Format format = FormatOf(work);
        if (format == Format::Delimited) {
            BuildRecord(work, work.outputLine, work.delimiter);
            if (!work.outputLine.empty()) {
                work.outputLine.pop_back();  // the delimiter after the last value
                work.outputLine = StripExtras(TrimLineBreaks(work.outputLine));
            }
            return;
        }
        const auto fields = work.tpl->colFields()->NewEnum();
        const bool guard = work.tpl->FormulaGuard();
        std::vector<std::string> texts;
        std::vector<bool> always;
        for (std::size_t k = 0; k < work.outputOrder.size(); ++k) {
            const clsExportField* field = VariableAt(work, fields, k);
            texts.push_back(ValueText(field, format, guard));
            always.push_back(field && field->UseQuotesRef() == "1");
            LetEventsRun();
        }
        const std::vector<std::string> names = OutputNames(work);
        work.outputLine = FormatLine(work, format, texts, &names, always);
    });
}

std::vector<std::int32_t> OutputFieldPlaces(const TemplateWork& work) {
    std::vector<std::int32_t> places;
    const auto fields = work.tpl->colFields()->NewEnum();
    for (const std::string& entry : work.outputOrder) {
        const clsExportField* field = VariableFor(fields, entry);
        const auto at = std::find_if(fields.begin(), fields.end(),
                                     [&](const auto& item) { return item.get() == field; });
        places.push_back(
            field && at != fields.end() ? static_cast<std::int32_t>(at - fields.begin()) : -1);
    }
    return places;
}

LineForm FormOf(const TemplateWork& work) {
    if (work.shape) return work.shape->form;
    LineForm form;
    const Format format = FormatOf(*work.tpl);
    form.split = format == Format::Jsonl ? LineSplit::Lf
                 : format == Format::Csv ? LineSplit::CsvRecords
                                         : LineSplit::CrLf;
    form.end = format == Format::Jsonl ? "\n" : "\r\n";
    if (work.tpl->ByteOrderMark()) form.preamble = "\xEF\xBB\xBF";
    if (work.tpl->HeaderRow()) {
        const std::vector<std::string> names = OutputNames(work);
        if (format == Format::Delimited) {
            std::string row;
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (i) row += work.delimiter;
                row += names[i];
            }
            form.preamble += row;
        } else {
            form.preamble += FormatLine(work, format, names, nullptr, {});
        }
        form.preamble += form.end;
    }
    return form;
}

std::string CreatePrintString(const TemplateWork& work) {
    std::string record;
    Guard(context::kCreateOutputString, [&] { BuildRecord(work, record, "\r\n"); });
    return record;
}

namespace {

bool IsDuplicate(RunContext& run, const TemplateWork& work, const std::string& path,
                 const LineForm& form) {
    return GuardValue(context::kIsDuplicate, false, [&] {
        bool found = false;
        if (int error = run.output->HoldsLine(path, Trim(work.outputLine), found, form))
            RaiseErrno(error);
        return found;
    });
}

// Reports each batch that could not be written; a template of `message` whose output file
// it was fails for the message, so the message is neither recorded for it nor disposed of.
bool ReportFlushFailures(RunContext& run, MessageWork* message,
                         const std::vector<FlushFailure>& failures) {
    for (const FlushFailure& failure : failures) {
        Guard(std::string(kCouldNotWriteOutput) + failure.path, [&] { RaiseErrno(failure.error); });
        if (!message) continue;
        for (std::size_t index = 0; index < message->templateStatus.size(); ++index) {
            if (index < run.tallies.size() && run.tallies[index].outputFile == failure.path &&
                message->templateStatus[index] != TemplateOutcome::NotUsed)
                message->MarkTemplateFailed(index);
        }
    }
    return failures.empty();
}

}  // namespace

bool IsDuplicate(RunContext& run, const TemplateWork& work, const std::string& path) {
    return IsDuplicate(run, work, path, FormOf(work));
}

bool AppendOutput(RunContext& run, const TemplateWork& work) {
    std::string derivedPath;
    const std::string& path =
        work.shape ? work.shape->outputFile : (derivedPath = Trim(work.tpl->OutputFile()));
    if (path.empty()) return true;
    if (path == kPrinterOutput) {
        run.output->Print([&] { return CreatePrintString(work); });
        return true;
    }
    const bool written = Guard(std::string(kCouldNotWriteOutput) + path, [&] {
        LineForm derivedForm;
        const LineForm& form = work.shape ? work.shape->form : (derivedForm = FormOf(work));
        bool write = work.tpl->AllowDuplicate() || !IsDuplicate(run, work, path, form);
        if (write) {
            if (int error = run.output->Append(path, work.outputLine, form)) RaiseErrno(error);
            CountLine(run, work.index);
        }
        LetEventsRun();
    });
    FlushOutputIfDue(run);
    return written;
}

bool FlushOutput(RunContext& run, MessageWork* message) {
    if (!run.output->HasPending()) return true;
    std::vector<FlushFailure> failures;
    run.output->Flush(failures);
    return ReportFlushFailures(run, message, failures);
}

void FlushOutputIfDue(RunContext& run) {
    if (!run.output->HasPending()) return;
    std::vector<FlushFailure> failures;
    run.output->FlushIfDue(failures);
    ReportFlushFailures(run, nullptr, failures);
}

}  // namespace tallix::engine
