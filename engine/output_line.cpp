#include "engine/output_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "engine/extraction_text.h"
#include "engine/print_text.h"
#include "engine/run_state.h"
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
std::string ValueFor(const clsTemplate& tpl, const std::string& entry) {
    std::string wanted = Trim(entry);
    for (const auto& field : tpl.colFields()->NewEnum()) {
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
    for (const std::string& entry : run.outputOrder) {
        out += ValueFor(*run.currentTemplate, entry) + separator;
        LetEventsRun();
    }
}

// Appends `line` + CR LF in one write; errno on failure.
int AppendLine(const std::string& path, const std::string& line) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    std::string bytes = line + "\r\n";
    std::string_view rest = bytes;
    int error = 0;
    while (!rest.empty()) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
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
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        const std::string wanted = Trim(CurrentRun().outputLine);
        // Lines end at CR LF, LF or a lone CR.
        std::string line;
        char c;
        auto matches = [&] {
            bool same = Trim(line) == wanted;
            line.clear();
            LetEventsRun();
            return same;
        };
        while (in.get(c)) {
            if (c == '\r' || c == '\n') {
                if (c == '\r' && in.peek() == '\n') in.get(c);
                if (matches()) return true;
            } else {
                line.push_back(c);
            }
        }
        return !line.empty() && matches();
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
            if (int error = AppendLine(path, run.outputLine)) RaiseErrno(error);
        }
        LetEventsRun();
    });
    if (!written) MarkTemplateFailed();
}

}  // namespace tallix::engine
