#include "engine/engine_run.h"

#include <ctime>
#include <string_view>

#include "engine/disposal.h"
#include "engine/engine_log.h"
#include "engine/extraction.h"
#include "engine/mime_host.h"
#include "engine/output_line.h"
#include "engine/run_state.h"
#include "engine/source_kinds.h"
#include "engine/status_window.h"
#include "engine/template_files.h"
#include "engine/template_trial.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/settings_store.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kTemplateFileMissing = " unable to locate Template files.";
constexpr std::string_view kNoSourceKind = "Unable to set source configuration";
constexpr std::string_view kNoSources =
    "No source configurations defined.\nCheck that the configurations are correct in the system "
    "options";
constexpr std::string_view kCannotConnect = "Unable to connect to mail source.";
constexpr std::string_view kInvalidOutputFile = "Invalid Output file defined. in ";

void Status(long value, const std::string& text, int line) {
    DoGUIStatus(value, text, line);
}

// Today's short date and the long time now; formatted again only when the second changes.
const std::string& CurrentStamp() {
    static std::time_t second = -1;
    static std::string stamp;
    std::time_t now = std::time(nullptr);
    if (now != second) {
        second = now;
        stamp = FormatShortDate(Today()) + " " + FormatLongTime(Now());
    }
    return stamp;
}

}  // namespace

std::unique_ptr<sources::SourceList> GetSources() {
    std::unique_ptr<sources::SourceList> list;
    Guard(
        "Sub GetSources:",
        [&] {
            const std::string& useSource = Settings().useSource;
            if (const SourceListFactory& replaced = CurrentRun().sourceFactory) {
                list = replaced(useSource);
            } else if (const SourceKind* kind = FindSourceKind(useSource)) {
                list = kind->make(MimeHost());
            }
        },
        kLoggedEnding);
    return list;
}

bool CanWriteOutput() {
    std::string path = Trim(CurrentRun().currentTemplate->OutputFile());
    if (path.empty()) return false;
    if (path == kPrinterOutput) return true;
    if (TrialOutput* trial = CurrentRun().trialOutput) return trial->Open(path) == 0;
    return CurrentRun().outputs.Open(path) == 0;
}

void SetLastRan() {
    Guard("Sub SetLastRan:", [] {
        clsTemplate& tpl = *CurrentRun().currentTemplate;
        const std::string& stamp = CurrentStamp();
        tpl.SetLastRan(stamp);
        // The stamp changes once a second at most; a file that holds it already is left alone.
        TemplateCache& templates = CurrentRun().templates;
        if (templates.HoldsStamp(tpl.FileName(), stamp)) return;
        tpl.WriteLastRan();
        templates.StampWritten(tpl.FileName(), stamp);
    });
}

void ApplyTemplate(const std::string& name, ApplyMode mode) {
    RunState& run = CurrentRun();
    if (IsBadTemplate(name)) return;
    if (!CanWriteOutput()) {
        run.badTemplates.push_back(name);
        MarkTemplateFailed();
        ReportError(std::string(kInvalidOutputFile) + name, true);
        return;
    }
    const std::shared_ptr<clsTemplate>& tpl = run.currentTemplate;
    run.outputLine = tpl->colOutPutLines()->Item(1);
    run.delimiter = ",";
    run.outputOrder = ParseOutput(run.outputLine, run.delimiter);
    SetDelimiter();
    ParseMessage();
    if (mode == ApplyMode::Run) SetLastRan();
}

void DoParsing() {
    bool finished = Guard("Sub DoParsing:", [] {
        RunState& run = CurrentRun();
        // What happened to template and output files since the last message.
        run.watch.Poll();
        run.templateCount = static_cast<std::int32_t>(run.templateFiles.size());
        run.templateNo = 0;
        const std::string& dir = Settings().templateDir;
        for (std::size_t i = 0; i < run.templateFiles.size(); ++i) {
            run.currentTemplateIndex = static_cast<std::int16_t>(i);
            const std::string name = Trim(run.templateFiles[i]);
            std::optional<std::string> path = run.templates.Find(dir, name);
            if (!path) {
                MarkTemplateFailed();
                ReportError(ExeName() + std::string(kTemplateFileMissing), true);
                return;  // the remaining templates are not applied to this message
            }
            CalcPrgValue(ProgressKind::Templates);
            Status(run.templateProgress,
                   "Using Template: " + std::to_string(run.templateNo + 1) + " of " +
                       std::to_string(run.templateCount),
                   2);
            ++run.templateNo;

            std::shared_ptr<clsTemplate> tpl = run.templates.Load(*path, Settings().useScripts);
            if (!tpl) {
                // Gone between the look-up and the reading.
                MarkTemplateFailed();
                ReportError(ExeName() + std::string(kTemplateFileMissing), true);
                return;
            }
            run.currentTemplate = tpl;
            if (tpl->Active()) ApplyTemplate(name, ApplyMode::Run);
            LetEventsRun();
        }
    });
    if (!finished) MarkTemplateFailed();
}

void RunSources(const std::string& selection) {
    RunState& run = CurrentRun();
    run.allParsedOK = true;
    GetTemplateFiles(selection);
    LetEventsRun();
    if (!run.haveTemplateFiles) {
        ReportError(ExeName() + std::string(kTemplateFileMissing), true);
        return;
    }
    std::unique_ptr<sources::SourceList> sourceList = GetSources();
    if (!sourceList) {
        ReportError(kNoSourceKind, true, true);
        return;
    }
    if (sourceList->Count() == 0) {
        ReportError(kNoSources, true, true);
        return;
    }
    for (std::int32_t i = 1; i <= sourceList->Count(); ++i) {
        sources::MailSource* source = sourceList->ItemAt(i);
        run.currentSource = source;
        if (!source) break;
        const std::string id = source->ID();
        Status(0, "Templates...", 2);
        Status(0, "Messages...", 3);
        Status(0, "Connecting To: " + id, 1);
        source->Connect();
        if (!source->IsConnected()) {
            MsgBox(kCannotConnect, MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
            continue;
        }
        LogSystem("Connected to: " + id);
        Status(0, "Connected To: " + id, 1);
        run.totalMessageCount = source->TotalMessages();
        if (run.totalMessageCount <= 0) {
            LogSystem("No messsages found.");
            Status(0, "No messages...", 3);
        } else {
            run.messageNo = 0;
            source->GetFirstMsg();
            if (source->Message()) run.messageNo = 1;
            while (source->Message()) {
                ResetTemplateStatus();
                CalcPrgValue(ProgressKind::Messages);
                Status(run.messageProgress,
                       "Parsing message: " + std::to_string(run.messageNo) + " of " +
                           std::to_string(run.totalMessageCount),
                       3);
                Status(0, "Templates...", 2);
                DoParsing();
                LetEventsRun();
                DeleteTempFiles();
                DeleteMessage();
                source->GetNextMsg();
                if (source->Message()) {
                    run.allParsedOK = true;
                    ++run.messageNo;
                }
            }
            Status(0, "Disconnecting From: " + id, 1);
            LogSystem("Parsed:" + std::to_string(run.messageNo) + " of " +
                      std::to_string(run.totalMessageCount) + " with " +
                      std::to_string(run.templateNo) + " of " + std::to_string(run.templateCount));
        }
        source->Disconnect();
        LogSystem("Disconected: from " + id);
    }
    run.currentSource = nullptr;
}

}  // namespace tallix::engine
