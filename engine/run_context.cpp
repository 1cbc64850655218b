#include "engine/run_context.h"

#include "engine/procedure_contexts.h"
#include "model/message.h"
#include "sources/mail_source.h"
#include "sources/pop3_config.h"

#include "settings/error_reporter.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {

CommandLine ParseCommandLine(std::string_view argumentText, void (*perCharacter)()) {
    CommandLine cl;
    std::string_view text = TrimView(argumentText);
    char current = 'F';
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '/') {
            if (i + 1 == text.size()) break;
            // "/watch" is a word of its own; any other letter after "/" is a switch.
            constexpr std::string_view kWatch = "watch";
            const std::string_view rest = text.substr(i + 1);
            if (rest.size() >= kWatch.size() &&
                EqualsNoCase(rest.substr(0, kWatch.size()), kWatch) &&
                (rest.size() == kWatch.size() || rest[kWatch.size()] == ' ')) {
                cl.watch = true;
                current = 'W';
                i += kWatch.size();
                if (perCharacter) perCharacter();
                continue;
            }
            current = UpperAscii(text[++i]);
            switch (current) {
                case 'F':
                    cl.templateSelection.clear();
                    break;
                case 'S':
                    cl.silentMode = true;
                    break;
                case 'H':
                case '?':
                    cl.helpRequested = true;
                    break;
                default:
                    break;
            }
        } else if (current == 'F') {
            cl.templateSelection.push_back(c);
        } else if (current == 'S' && UpperAscii(c) == 'X') {
            cl.noWindow = true;
        }
        if (perCharacter) perCharacter();
    }
    cl.templateSelection = Trim(cl.templateSelection);
    return cl;
}

std::string ArgumentText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text.push_back(' ');
        text += argv[i];
    }
    return text;
}

RunContext::RunContext(SettingsState values)
    : settings(std::move(values)), pop3ConfigPath(sources::Pop3ConfigPath()) {}

MessageWork::MessageWork(sources::MailSource& from, std::size_t templateCount)
    : source(from), templateStatus(templateCount, TemplateOutcome::NotUsed) {}

txMessage& MessageWork::Message() const {
    if (!source.Message()) Raise(kErrObjectRequired);
    return *source.Message();
}

void MessageWork::MarkTemplateFailed(std::size_t index) {
    allParsedOK = false;
    if (index < templateStatus.size()) templateStatus[index] = TemplateOutcome::Failed;
}

void MessageWork::ResetTemplateStatus() {
    for (auto& status : templateStatus) status = TemplateOutcome::NotUsed;
}

void InitApp(RunContext& run) {
    Guard(context::kInitApp, [&] {
        run.commandLine = CommandLine{};
        SetSilentMode(false);
    });
}

void GetCmdLnArgs(RunContext& run, std::string_view argumentText) {
    Guard(context::kGetCmdLnArgs, [&] {
        run.commandLine = ParseCommandLine(argumentText, &LetEventsRun);
        if (run.commandLine.silentMode) SetSilentMode(true);
    });
}

}  // namespace tallix::engine

namespace tallix::engine {

void CalcPrgValue(RunProgress& progress, ProgressKind kind) {
    Guard(context::kCalcPrgValue, [&] {
        bool messages = kind == ProgressKind::Messages;
        double numerator = messages ? progress.messageNo : progress.templateNo + 1.0;
        double denominator = messages ? progress.totalMessageCount : progress.templateCount;
        std::int32_t value = 0;
        if (numerator != 0 && denominator != 0) value = CLng(numerator / denominator * 100.0);
        (messages ? progress.messageProgress : progress.templateProgress) = value;
    });
}

bool IsBadTemplate(const RunContext& run, std::string_view name) {
    std::string wanted = Trim(name);
    for (const std::string& bad : run.badTemplates)
        if (Trim(bad) == wanted) return true;
    return false;
}

}  // namespace tallix::engine
