#include "engine/run_summary.h"

#include <chrono>

#include "engine/engine_log.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

constexpr std::chrono::milliseconds kReportInterval{250};

// A report's lines joined with "; ", for one line of a log or a table.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n')
            out += "; ";
        else
            out += c;
    }
    return out;
}

TemplateTally* TallyAt(RunContext& run, std::size_t index) {
    return index < run.tallies.size() ? &run.tallies[index] : nullptr;
}

RunReport ReportOf(const RunContext& run, RunState state) {
    RunReport report;
    report.state = state;
    report.message = run.progress.messageNo;
    report.total = run.progress.totalMessageCount;
    report.source = run.sourceId;
    report.templates = run.tallies;
    return report;
}

void WriteReport(const RunContext& run, RunState state) {
    if (run.reportPath.empty()) return;
    // The report is a courtesy to the program that started the run: a report that cannot be
    // written is no reason to stop reading mail.
    (void)WriteRunReport(run.reportPath, ReportOf(run, state));
}

}  // namespace

void StartTallies(RunContext& run) {
    run.tallies.clear();
    for (const std::string& name : run.templateFiles) {
        TemplateTally tally;
        tally.name = Trim(name);
        run.tallies.push_back(std::move(tally));
    }
}

void NoteOutputFile(RunContext& run, std::size_t index, const std::string& path) {
    if (TemplateTally* tally = TallyAt(run, index)) tally->outputFile = path;
}

void CountLine(RunContext& run, std::size_t index) {
    if (TemplateTally* tally = TallyAt(run, index)) ++tally->lines;
}

void NoteFailureReason(RunContext& run, std::size_t index, const std::string& reason) {
    if (TemplateTally* tally = TallyAt(run, index); tally && tally->reason.empty())
        tally->reason = OneLine(reason);
}

void CountFailures(RunContext& run, const MessageWork& message, std::uint64_t reportsBefore) {
    if (message.allParsedOK) return;
    for (std::size_t i = 0; i < message.templateStatus.size(); ++i) {
        if (message.templateStatus[i] != TemplateOutcome::Failed) continue;
        TemplateTally* tally = TallyAt(run, i);
        if (!tally) continue;
        ++tally->failures;
        if (tally->reason.empty() && ReportsOnThisThread() != reportsBefore)
            tally->reason = OneLine(LastReportOnThisThread());
    }
}

void PublishProgress(RunContext& run) {
    if (run.reportPath.empty()) return;
    const CoarseClock::time_point now = CoarseClock::now();
    if (now < run.reportDue) return;
    run.reportDue = now + kReportInterval;
    WriteReport(run, RunState::Running);
}

std::string TallyLogLine(const TemplateTally& tally) {
    std::string line = "Template " + tally.name + ": " + std::to_string(tally.lines) +
                       (tally.lines == 1 ? " line" : " lines") + " written";
    if (!tally.outputFile.empty()) line += " to " + tally.outputFile;
    if (tally.failures > 0) {
        line += ", failed on " + std::to_string(tally.failures) +
                (tally.failures == 1 ? " message" : " messages");
        if (!tally.reason.empty()) line += " (" + tally.reason + ")";
    }
    return line;
}

void FinishRunReport(RunContext& run) {
    for (const TemplateTally& tally : run.tallies) LogSystem(TallyLogLine(tally));
    WriteReport(run, run.stopped ? RunState::Stopped : RunState::Done);
}

}  // namespace tallix::engine
