#include "engine/output_line.h"


#include <sys/stat.h>

#include <unordered_map>
#include <unordered_set>

#include "engine/extraction_text.h"
#include "engine/print_text.h"
#include "engine/run_state.h"
#include "model/file_bytes.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr const char* kCouldNotWrite = "Could not write to output file: ";
constexpr const char* kCreateOutputContext = "Sub CreateOutputString:";

// The value the output definition's entry names, quoted and flattened as its variable says;
// "" when no variable has that name.
std::string ValueFor(const std::vector<colExportFields::Pointer>& fields, const std::string& entry) {
    std::string wanted = Trim(entry);
    for (const auto& field : fields) {
        if (Trim(field->FieldName()) != wanted) {
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
        out += ValueFor(fields, entry) + separator;
        LetEventsRun();
    }
}

// The lines of an output file, trimmed, as the duplicate check needs them. Filled once per
// file and kept in step with our own appends; read again only when the file changed behind
// our back (its size or modification time is not what we left).
struct OutputLines {
    bool valid = false;
    off_t size = 0;
    timespec modified{};
    bool endsWithBreak = true;
    std::unordered_set<std::string> trimmed;
};

std::unordered_map<std::string, OutputLines>& LineIndex() {
    static std::unordered_map<std::string, OutputLines> index;
    return index;
}

bool SameState(const OutputLines& lines, const struct stat& st) {
    return lines.valid && lines.size == st.st_size && lines.modified.tv_sec == st.st_mtim.tv_sec &&
           lines.modified.tv_nsec == st.st_mtim.tv_nsec;
}

const OutputLines& LinesOf(const std::string& path) {
    OutputLines& lines = LineIndex()[path];
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        lines = OutputLines{};
        return lines;
    }
    if (SameState(lines, st)) return lines;
    lines = OutputLines{};
    std::string content;
    if (int error = ReadRegularFile(path, content)) RaiseErrno(error);
    // Lines end at CR LF, LF or a lone CR; a last line without an end counts too.
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        char c = content[i];
        if (c != '\r' && c != '\n') continue;
        lines.trimmed.insert(Trim(std::string_view(content).substr(start, i - start)));
        if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
        start = i + 1;
        if (lines.trimmed.size() % 4096 == 0) LetEventsRun();
    }
    if (start < content.size()) lines.trimmed.insert(Trim(std::string_view(content).substr(start)));
    lines.endsWithBreak = content.empty() || content.back() == '\r' || content.back() == '\n';
    lines.valid = true;
    lines.size = st.st_size;
    lines.modified = st.st_mtim;
    return lines;
}

// Our own append of `line` (`bytes` long with its CR LF) to `path`, which left the file as
// `st` says: the index takes the line when the file is exactly what we left plus what we wrote.
void Appended(const std::string& path, const std::string& line, off_t bytes, const struct stat& st) {
    auto it = LineIndex().find(path);
    if (it == LineIndex().end()) return;
    OutputLines& lines = it->second;
    if (!lines.valid || !lines.endsWithBreak || st.st_size != lines.size + bytes) {
        lines.valid = false;
        return;
    }
    lines.trimmed.insert(Trim(line));
    lines.size = st.st_size;
    lines.modified = st.st_mtim;
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
        const OutputLines& lines = LinesOf(path);
        return lines.trimmed.count(Trim(CurrentRun().outputLine)) != 0;
    });
}

void AppendOutput() {
    RunState& run = CurrentRun();
    const std::string path = Trim(run.currentTemplate->OutputFile());
    if (path.empty()) return;
    if (path == kPrinterOutput) {
        // A printer failure is the caller's to report.
        Printer* printer = CurrentPrinter();
        if (!printer) Raise(kErrDeviceUnavailable);
        PrintText(CreatePrintString(), *printer);
        printer->EndDoc();
        LetEventsRun();
        return;
    }
    bool written = Guard(kCouldNotWrite + path, [&] {
        bool write = run.currentTemplate->AllowDuplicate() || !IsDuplicate(path);
        if (write) {
            struct stat after {};
            if (int error = AppendToFile(path, run.outputLine + "\r\n", &after)) RaiseErrno(error);
            Appended(path, run.outputLine, static_cast<off_t>(run.outputLine.size() + 2), after);
        }
        LetEventsRun();
    });
    if (!written) MarkTemplateFailed();
}

}  // namespace tallix::engine
