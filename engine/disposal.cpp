#include "engine/disposal.h"

#include <unistd.h>

#include <string_view>

#include "engine/procedure_contexts.h"
#include "engine/source_kinds.h"
#include "model/message.h"
#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/mail_source.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kFailedNotDeleted =
    "Message failed to parse correctly and was not deleted";
constexpr std::string_view kAskNotUsed =
    "The current message was not used by any templates\nWould you like to delete anyway?";
constexpr std::string_view kAskFailed =
    "The current message failed to parse correctly with at least one template\n"
    "Would you like to delete anyway";
constexpr std::string_view kAskParsed =
    "Current Message was parsed successfully\nWould you like to delete the message?";

}  // namespace

void DeleteTempFiles(const RunContext& run, const MessageWork& message) {
    Guard(context::kDeleteTempFiles, [&] {
        for (const std::string& path : message.openedFiles) RemoveScratchFile(path);
        const SourceKind* kind = FindSourceKind(run.settings.useSource);
        if (!kind || !kind->cleansScratchFiles) return;
        if (!message.source.Message()) return;
        auto attachments = message.source.Message()->Attachments();
        if (!attachments || attachments->Count() < 1) return;
        // A file already gone or in use is passed over.
        for (const std::string& path : *attachments) RemoveScratchFile(Trim(path));
        // The mailbox-file sources decode in memory and write neither of these.
        const std::string& kindName = run.settings.useSource;
        if (kindName == kSourceNetscape || kindName == kSourceFileOther) return;
        ::unlink(ScratchFile(kScratchMessageFile).c_str());
        ::unlink(ScratchFile(kScratchBodyFile).c_str());
    });
}

MessageOutcome OutcomeOf(const MessageWork& message) {
    MessageOutcome outcome;
    for (TemplateOutcome status : message.templateStatus) {
        if (status == TemplateOutcome::Failed) {
            outcome.failed = true;
            outcome.notUsed = false;
            break;
        }
        if (status != TemplateOutcome::NotUsed) outcome.notUsed = false;
    }
    return outcome;
}

void DeleteMessage(const RunContext& run, const MessageWork& message) {
    Guard("modGlobal - DeleteMessage", [&] {
        const SettingsState& settings = run.settings;
        if (settings.deleteFlag == 0) return;
        MessageOutcome outcome = OutcomeOf(message);
        if (outcome.notUsed && !settings.deleteUnused) return;
        if (settings.deleteFlag == 2) {
            if (!message.allParsedOK || outcome.failed) {
                ReportError(kFailedNotDeleted, true);
                return;
            }
        } else {
            const std::string_view question = outcome.notUsed  ? kAskNotUsed
                                              : outcome.failed ? kAskFailed
                                                               : kAskParsed;
            if (MsgBox(question, MsgButtons::YesNo, MsgIcon::Question, kDeleteTitle,
                       MsgAnswer::No) != MsgAnswer::Yes)
                return;
        }
        message.source.DoDeleteMessage();
    });
}

}  // namespace tallix::engine
