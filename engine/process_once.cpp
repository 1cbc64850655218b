#include "engine/process_once.h"

#include <ctime>

#include "engine/disposal.h"
#include "engine/engine_log.h"
#include "engine/status_window.h"
#include "model/message.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "sources/mail_source.h"

namespace tallix::engine {
namespace {

// What the record knows a source by: its kind and, for the kinds read from a file or folder
// the settings name, that file or folder, so that two mailbox files are two sources.
std::string RecordSourceId(const RunContext& run, const sources::MailSource& source) {
    const std::string& kind = run.settings.useSource;
    if (kind == kSourceNetscape || kind == kSourceEudora || kind == kSourceFileOther)
        return run.settings.localFileName;
    if (kind == kSourceExtendedMapi) return source.ID() + "|" + run.settings.mapiProfile;
    return source.ID();
}

std::string MessageKeyOf(const MessageWork& message) {
    std::string key = message.source.MessageKey();
    if (!key.empty()) return key;
    const txMessage& record = message.Message();
    const std::string header = record.Header();
    if (!Trim(header).empty()) return HeaderMessageKey(header);
    // A record without its header block: every such message would have the one key of the
    // empty header, and all but the first would be passed over. What the record holds names it.
    return DigestKey(record.Subject() + '\n' + record.SentDate() + ' ' + record.SentTime() + '\n' +
                     record.SenderAddress() + '\n' + record.Body());
}

bool TemplateFileAsks(RunContext& run, const std::string& name) {
    // Found as the run will find it; a missing file is reported when the run reaches it.
    std::optional<std::string> path = run.templates.Find(run.settings.templateDir, name);
    return path && ReadProcessOnceKey(*path).value_or(false);
}

// Every template of the run, as it was at the last message, either takes no messages or has
// had the message of this key.
bool HadByEveryTemplate(const RunContext& run, const std::string& key) {
    if (key.empty() || !run.processed) return false;
    for (std::size_t i = 0; i < run.recordUse.size(); ++i) {
        switch (run.recordUse[i]) {
            case RunContext::RecordUse::NotOffered:
                continue;
            case RunContext::RecordUse::WithRecord:
                if (run.processed->Has(key, Trim(run.templateFiles[i]))) continue;
                return false;
            default:
                return false;
        }
    }
    return !run.recordUse.empty();
}

}  // namespace

void NoteRecordUse(RunContext& run, std::size_t index, RunContext::RecordUse use) {
    if (index < run.recordUse.size()) run.recordUse[index] = use;
}

bool UsesRecord(const RunContext& run, const clsTemplate& tpl) {
    if (run.processOnceForAll) return true;
    return tpl.ProcessOnce().value_or(run.settings.processOnce);
}

bool OpenRecordIfUsed(RunContext& run) {
    run.offered.assign(run.templateFiles.size(), 0);
    run.recordUse.assign(run.templateFiles.size(), RunContext::RecordUse::Unknown);
    bool used = run.processOnceForAll || run.settings.processOnce;
    for (std::size_t i = 0; !used && i < run.templateFiles.size(); ++i)
        used = TemplateFileAsks(run, Trim(run.templateFiles[i]));
    if (!used) return true;
    const std::string path = JoinPath(ProgramDir(), kProcessedFileName);
    auto store = std::make_unique<ProcessedStore>();
    if (const std::string error = store->Open(path); !error.empty()) {
        ReportError(std::string(kRecordUnusable) + path + ": " + error, true, true);
        return false;
    }
    run.processed = std::move(store);
    return true;
}

void SelectRecordSource(RunContext& run, sources::MailSource& source) {
    source.SetKnownMessage(nullptr);
    source.SetKnownKey(nullptr);
    if (!run.processed) return;
    // A source that names its messages itself is asked by key, before it fetches a message;
    // the others by header, before they take a message apart.
    source.SetKnownMessage([&run, &source](std::string_view header) {
        return source.MessageKey().empty() && !Trim(header).empty() &&
               HadByEveryTemplate(run, HeaderMessageKey(header));
    });
    source.SetKnownKey(
        [&run](std::string_view key) { return HadByEveryTemplate(run, std::string(key)); });
    const std::string error =
        run.processed->SelectSource(run.settings.useSource, RecordSourceId(run, source));
    if (!error.empty())
        ReportError(std::string(kRecordUnusable) + JoinPath(ProgramDir(), kProcessedFileName) +
                        ": " + error,
                    true, true);
}

bool PassOver(RunContext& run, MessageWork& message, std::size_t index, const clsTemplate& tpl,
              const std::string& name) {
    const bool withRecord = run.processed && UsesRecord(run, tpl);
    NoteRecordUse(
        run, index,
        withRecord ? RunContext::RecordUse::WithRecord : RunContext::RecordUse::WithoutRecord);
    if (withRecord) {
        if (!message.recordKey) message.recordKey = MessageKeyOf(message);
        if (run.processed->Has(*message.recordKey, name)) {
            message.passedOver = true;
            return true;
        }
        message.toRecord.push_back(index);
    }
    if (index < run.offered.size()) ++run.offered[index];
    return false;
}

bool RecordProcessed(RunContext& run, const MessageWork& message) {
    if (!run.processed || message.toRecord.empty() || !message.recordKey) return true;
    std::vector<std::string> names;
    for (std::size_t index : message.toRecord) {
        // A template that failed may not have written its lines: it is offered the message
        // again next time.
        if (index >= message.templateStatus.size() ||
            message.templateStatus[index] == TemplateOutcome::Failed)
            continue;
        names.push_back(Trim(run.templateFiles[index]));
    }
    const std::string error = run.processed->Record(*message.recordKey, names);
    if (error.empty()) return true;
    ReportError(std::string(kRecordNotWritten) + error, true);
    return false;
}

bool PassedOverWhole(const MessageWork& message) {
    return message.passedOver && OutcomeOf(message).notUsed;
}

std::string StaleTemplateWarning(std::string_view name) {
    return "Template " + std::string(name) + " matched no message in this run; it matched in " +
           "each of its last " + std::to_string(kMatchingRunsBefore) + " runs";
}

void NoteTemplateRuns(RunContext& run) {
    if (!run.processed) return;
    const std::time_t now = std::time(nullptr);
    for (std::size_t i = 0; i < run.tallies.size() && i < run.offered.size(); ++i) {
        // A run that offered the template nothing new says nothing about its filter.
        if (run.offered[i] == 0) continue;
        const TemplateTally& tally = run.tallies[i];
        std::string error;
        const std::vector<TemplateRun> before =
            run.processed->LastRuns(tally.name, kMatchingRunsBefore, error);
        if (error.empty() && StoppedMatching(tally.lines, before)) {
            const std::string warning = StaleTemplateWarning(tally.name);
            LogSystem(warning);
            DoGUIStatus(0, warning, 3);
        }
        if (error.empty())
            error = run.processed->NoteRun(tally.name, {now, run.offered[i], tally.lines});
        if (!error.empty()) ReportError(std::string(kRecordNotWritten) + error, true);
    }
}

}  // namespace tallix::engine
