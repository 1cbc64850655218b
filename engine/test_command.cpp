#include "engine/test_command.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "engine/engine_run.h"
#include "engine/mime_host.h"
#include "engine/startup.h"
#include "engine/template_files.h"
#include "engine/template_trial.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/global_utils.h"
#include "settings/registry.h"
#include "settings/report_capture.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "sources/mail_source.h"
#include "sources/pop3_config.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kUsage = "Usage: txengine /test NAME [FILE]";

// The template file for NAME, as a run selects it: NAME + ".txf" in the template directory
// without regard to case (a NAME that already ends in ".txf" is taken as it is).
std::string TemplatePath(const std::string& name) {
    const std::string& dir = Settings().templateDir;
    if (auto found = FindFileNoCase(dir, name + std::string(kTemplateExtension)))
        return JoinPath(dir, *found);
    const std::size_t ext = kTemplateExtension.size();
    if (name.size() > ext &&
        EqualsNoCase(std::string_view(name).substr(name.size() - ext), kTemplateExtension))
        if (auto found = FindFileNoCase(dir, name)) return JoinPath(dir, *found);
    return {};
}

void PrintReports(const std::vector<std::string>& reports, std::ostream& out, const char* indent) {
    for (const std::string& r : reports) out << indent << "Report: " << VisibleText(r) << '\n';
}

void PrintMessage(const TrialMessage& m, std::ostream& out) {
    out << "Message " << m.number << ": " << VisibleText(m.subject) << '\n';
    out << "  Filter: " << (m.matched ? "matched" : "not matched") << '\n';
    // What a template searches in each attachment: its first line, and how long it is.
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        const auto& [name, text] = m.attachments[i];
        const std::string first =
            text.substr(0, std::min(text.find_first_of("\r\n"), std::size_t{72}));
        out << "  Attachment " << i + 1 << " (" << VisibleText(name) << "): " << text.size()
            << " bytes of text" << (first.empty() ? "" : ", \"" + VisibleText(first) + "\"")
            << '\n';
    }
    for (const TrialVariable& v : m.variables)
        out << "  " << v.name << " = \"" << VisibleText(v.value) << "\"\n";
    if (m.matched) {
        // Every line the message gives: one per attachment or per repeated occurrence.
        for (std::size_t i = 0; i < m.lines.size(); ++i) {
            out << "  Line: " << VisibleText(m.lines[i]);
            if (i >= m.linesWritten.size() || !m.linesWritten[i])
                out << "  (not written: " << (m.failed ? "failed" : "a duplicate") << ")";
            out << '\n';
        }
        if (m.lines.empty()) out << "  No line (no attachment, or no occurrence)\n";
    }
    if (m.failed) out << "  Failed\n";
    for (const std::string& w : m.withheld) out << "  Not done: " << VisibleText(w) << '\n';
    PrintReports(m.reports, out, "  ");
}

// How the template writes its lines, and its patterns and repeated variables, when it has
// any of the keys that say so.
void PrintOutputForm(const clsTemplate& tpl, std::ostream& out) {
    const std::string format = Trim(tpl.OutputFormat());
    out << "Format: " << (format.empty() ? std::string(kFormatDelimited) : format);
    if (tpl.PerAttachment()) out << ", a line per attachment";
    if (tpl.FormulaGuard()) out << ", formula guard";
    if (tpl.ByteOrderMark()) out << ", byte-order mark";
    if (tpl.HeaderRow()) out << ", header row";
    if (!Trim(tpl.DateFormat()).empty()) out << ", dates " << Trim(tpl.DateFormat());
    out << '\n';
    for (const auto& [name, pattern] : tpl.Patterns())
        out << "Pattern " << name << ": " << VisibleText(pattern) << '\n';
    if (const std::vector<std::string> items = tpl.RepeatedVariables(); !items.empty()) {
        out << "Repeated:";
        for (const std::string& item : items) out << ' ' << item;
        out << '\n';
    }
}

struct Totals {
    std::int32_t messages = 0, matched = 0, written = 0, duplicates = 0, failed = 0;
};

void TrySourcePrinting(const clsTemplate& tpl, sources::MailSource& source, std::ostream& out,
                       Totals& totals) {
    out << "Source: " << source.ID() << '\n';
    TrialSummary s = TrySource(Settings(), tpl, source, [&](const TrialMessage& m, std::int32_t) {
        PrintMessage(m, out);
        if (m.matched && !m.failed)
            totals.duplicates += static_cast<std::int32_t>(
                std::count(m.linesWritten.begin(), m.linesWritten.end(), false));
        return true;
    });
    if (!s.connected) out << "  Not connected\n";
    PrintReports(s.reports, out, "  ");
    totals.messages += s.messages;
    totals.matched += s.matched;
    totals.written += s.written;
    totals.failed += s.failed;
}

}  // namespace

bool IsTestCommand(int argc, char** argv) {
    return argc > 1 && EqualsNoCase(argv[1], kTestSwitch);
}

int RunTestCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args.size() > 2 || Trim(args[0]).empty()) {
        err << kUsage << '\n';
        return kTestUsage;
    }
    // Whatever goes wrong is printed here, never logged or shown in a box.
    ReportCapture capture;
    SetRegistryWritesWithheld(true);
    ReadEngineSettings();
    const std::string name = Trim(args[0]);
    const std::string path = TemplatePath(name);
    if (path.empty()) {
        err << "No template " << name << " in " << Settings().templateDir << '\n';
        return kTestCannotRun;
    }
    clsTemplate tpl;
    tpl.SetFileName(path);
    tpl.ReadTemplate();
    out << "Template: " << path << '\n';
    out << "Output file: " << Trim(tpl.OutputFile())
        << (tpl.Active() ? "" : "  (inactive: a run skips it)") << '\n';
    PrintOutputForm(tpl, out);
    PrintReports(capture.Texts(), out, "");
    capture.Clear();

    Totals totals;
    if (args.size() == 2) {
        std::string problem;
        std::unique_ptr<sources::MailSource> source =
            OpenMessageFile(args[1], Settings(), MimeHost(), problem);
        if (!source) {
            err << problem << '\n';
            return kTestCannotRun;
        }
        TrySourcePrinting(tpl, *source, out, totals);
    } else {
        RunContext run(Settings());
        run.pop3ConfigPath = sources::Pop3ConfigPath();
        run.decoder = &MimeHost();
        std::unique_ptr<sources::SourceList> list = GetSources(run);
        if (!list) {
            err << "Unable to set source configuration (UseSource=" << Settings().useSource
                << ")\n";
            return kTestCannotRun;
        }
        for (std::int32_t i = 1; i <= list->Count(); ++i)
            if (sources::MailSource* source = list->ItemAt(i))
                TrySourcePrinting(tpl, *source, out, totals);
    }
    PrintReports(capture.Texts(), out, "");
    out << "Summary: " << totals.messages << " messages, " << totals.matched << " matched, "
        << totals.written << " lines, " << totals.duplicates << " duplicates, " << totals.failed
        << " failed; nothing was written\n";
    return kTestRan;
}

}  // namespace tallix::engine
