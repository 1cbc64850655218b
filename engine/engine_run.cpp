#include "engine/engine_run.h"
#include "engine/attachment_parts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>

#include "engine/disposal.h"
#include "engine/engine_log.h"
#include "engine/extraction.h"
#include "engine/output_line.h"
#include "engine/procedure_contexts.h"
#include "engine/process_once.h"
#include "engine/run_stop.h"
#include "engine/run_summary.h"
#include "engine/script_host/script_process.h"
#include "engine/source_kinds.h"
#include "engine/status_window.h"
#include "engine/template_files.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/logs.h"
#include "settings/report_capture.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/mailbox_kind.h"
#include "sources/pop3_config.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kTemplateFileMissing = " unable to locate Template files.";
constexpr std::string_view kNoSourceKind = "Unable to set source configuration";
constexpr std::string_view kNoSources =
    "No source configurations defined.\nCheck that the configurations are correct in the system "
    "options";
constexpr std::string_view kCannotConnect = "Unable to connect to mail source.";
constexpr std::string_view kInvalidOutputFile = "Invalid Output file defined. in ";
constexpr std::string_view kStampNotWritten =
    "The template's last-run stamp could not be written; its lines are written all the same.";
constexpr std::string_view kNoOutputNamed = "No output file is named.";
constexpr std::string_view kNothingWritable =
    "No message was read: no active template can write its output file.";

void Status(long value, const std::string& text, int line) {
    DoGUIStatus(value, text, line);
}

// Today's short date and the long time now; formatted again only when the second changes.
const std::string& CurrentStamp(RunContext& run) {
    std::time_t now = std::time(nullptr);
    if (now != run.stampSecond) {
        run.stampSecond = now;
        run.stamp = FormatShortDate(Today()) + " " + FormatLongTime(Now());
    }
    return run.stamp;
}

// A source that waits on a server between messages: the lines of each message are written
// before the next is fetched, so none waits behind a slow server.
bool ServerSource(std::string_view useSource) {
    return useSource == kSourcePop3 || useSource == sources::kSourceImap;
}

bool MailboxFileKind(std::string_view useSource) {
    return useSource == kSourceNetscape || useSource == kSourceEudora ||
           useSource == kSourceFileOther;
}

// A relative output file is relative to the folder the engine runs in: named in full.
std::string FullPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}

// Whether `path` could be opened for appending, without creating it: 0, or the errno of the
// failure. A missing file needs a folder it can be made in.
int ProbeOutput(const std::string& path) {
    // Non-blocking, so a FIFO without a reader fails instead of hanging the run.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st {};
        const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        ::close(fd);
        return regular ? 0 : EINVAL;
    }
    if (errno != ENOENT) return errno;
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

// Why the output file `path` (trimmed) cannot take lines; empty when it can.
std::string OutputFaultAt(RunContext& run, const std::string& path) {
    if (path.empty()) return std::string(kNoOutputNamed);
    if (path == kPrinterOutput) return {};
    if (const int error = run.output->Open(path))
        return FileFaultLine(FullPath(path), SystemReason(error));
    return {};
}

// The report of a template whose output file cannot be written: the one line the run has
// always given, and the file with the system's reason beside it.
void ReportOutputFault(RunContext& run, std::size_t index, const std::string& name,
                       const std::string& fault) {
    run.badTemplates.push_back(name);
    const std::string text = std::string(kInvalidOutputFile) + name + "\n" + fault;
    NoteFailureReason(run, index, text);
    ReportError(text, true);
}

// Before any message is read: when templates are active but none of them can write its
// lines, each is reported with its file and reason, and the run reads nothing (reading the
// whole mail source to write nothing helps nobody). When one can, the run goes on and the
// others are reported at the first message, as any template whose file goes missing.
bool SomeOutputWritable(RunContext& run) {
    std::vector<std::pair<std::size_t, std::string>> faults;
    bool active = false;
    for (std::size_t index = 0; index < run.templateFiles.size(); ++index) {
        const std::string name = Trim(run.templateFiles[index]);
        std::optional<std::string> path = run.templates.Find(run.settings.templateDir, name);
        if (!path) continue;
        // Only the two keys that matter here are read, quietly: what else is wrong with a
        // template is reported when the first message meets it, as before.
        clsTemplate tpl;
        {
            const ReportCapture quiet;
            tpl.SetFileName(*path);
            tpl.ReadActiveFlag();
            if (tpl.Active()) tpl.ReadOutputFileName();
        }
        if (!tpl.Active() || tpl.Refused()) continue;
        active = true;
        const std::string output = Trim(tpl.OutputFile());
        NoteOutputFile(run, index, output);
        // Nothing is created here: a template may still be left out at its first message.
        std::string fault;
        if (output.empty())
            fault = kNoOutputNamed;
        else if (output == kPrinterOutput)
            return true;
        else if (const int error = ProbeOutput(output))
            fault = FileFaultLine(FullPath(output), SystemReason(error));
        if (fault.empty()) return true;
        faults.emplace_back(index, std::move(fault));
    }
    if (!active) return true;
    for (const auto& [index, fault] : faults)
        ReportOutputFault(run, index, Trim(run.templateFiles[index]), fault);
    LogSystem(kNothingWritable);
    return false;
}

// The run ends early: said once in the system log, where it stopped.
void StopRun(RunContext& run) {
    if (run.stopped) return;
    run.stopped = true;
    LogSystem("Run stopped after message " + std::to_string(run.progress.messageNo) + " of " +
              std::to_string(run.progress.totalMessageCount));
}

}  // namespace

std::unique_ptr<sources::SourceList> GetSources(RunContext& run) {
    std::unique_ptr<sources::SourceList> list;
    Guard(
        context::kGetSources,
        [&] {
            const std::string& useSource = run.settings.useSource;
            if (run.sourceFactory) {
                list = run.sourceFactory(useSource);
            } else if (const SourceKind* kind = FindSourceKind(useSource)) {
                list = kind->make(run);
            }
        },
        kLoggedEnding);
    return list;
}

std::string OutputFault(RunContext& run, const clsTemplate& tpl) {
    return OutputFaultAt(run, Trim(tpl.OutputFile()));
}

bool CanWriteOutput(RunContext& run, const clsTemplate& tpl) {
    return OutputFault(run, tpl).empty();
}

void SetLastRan(RunContext& run, clsTemplate& tpl) {
    Guard(context::kSetLastRan, [&] {
        const std::string& stamp = CurrentStamp(run);
        tpl.SetLastRan(stamp);
        // The stamp changes once a second at most; a file that holds it already is left alone.
        if (run.templates.HoldsStamp(tpl.FileName(), stamp)) return;
        tpl.WriteLastRan();
        run.templates.StampWritten(tpl.FileName(), stamp);
        // A file that refuses its stamp (marked read-only, a full disk) is named once in the
        // run, not at every message; it is no failure of the template's lines.
        if (const int error = tpl.LastWriteError(); error != 0) {
            std::vector<std::string>& faults = run.stampFaults;
            if (std::find(faults.begin(), faults.end(), tpl.FileName()) != faults.end()) return;
            faults.push_back(tpl.FileName());
            ReportError(std::string(kStampNotWritten) + "\n" +
                            FileFaultLine(tpl.FileName(), SystemReason(error)),
                        true);
        }
    });
}

void ApplyTemplate(RunContext& run, MessageWork& message, TemplateWork& work,
                   const std::string& name) {
    if (IsBadTemplate(run, name)) return;
    clsTemplate& tpl = *work.tpl;
    // A pattern that does not compile was named when the template was read, and the run
    // leaves the template out from now on. A trial names it for every message it tries.
    if (const std::string problem = tpl.PatternProblem(); !problem.empty()) {
        message.MarkTemplateFailed(work.index);
        if (run.mode == ApplyMode::Trial)
            ReportError("Template " + name + ": " + problem, true);
        else
            run.badTemplates.push_back(name);
        return;
    }
    // What depends on the template alone is derived once while its file is unchanged.
    std::shared_ptr<const TemplateShape>* kept =
        run.templates.ShapeOf(tpl.FileName(), tpl, work.index);
    if (kept && *kept) work.shape = *kept;
    const std::string fault =
        work.shape ? OutputFaultAt(run, work.shape->outputFile) : OutputFault(run, tpl);
    if (!fault.empty()) {
        message.MarkTemplateFailed(work.index);
        ReportOutputFault(run, work.index, name, fault);
        return;
    }
    if (work.shape) {
        const TemplateShape& shape = *work.shape;
        NoteOutputFile(run, work.index, shape.outputFile);
        work.outputLine = shape.outputDefinition;
        work.delimiter = shape.delimiter;
        work.outputOrder = shape.outputOrder;
    } else {
        const std::uint64_t reportsBefore = ReportsOnThisThread();
        std::string outputFile = Trim(tpl.OutputFile());
        NoteOutputFile(run, work.index, outputFile);
        work.outputLine = tpl.colOutPutLines()->Item(1);
        work.delimiter = ",";
        work.outputOrder = ParseOutput(work.outputLine, work.delimiter);
        SetDelimiter(work);
        // Kept only when its making reported nothing, so a report is given again next time.
        if (kept && ReportsOnThisThread() == reportsBefore) {
            auto shape = std::make_shared<TemplateShape>();
            shape->outputFile = std::move(outputFile);
            shape->outputDefinition = work.outputLine;
            shape->outputOrder = work.outputOrder;
            shape->outputFields = OutputFieldPlaces(work);
            shape->delimiter = work.delimiter;
            shape->form = FormOf(work);
            *kept = shape;
            work.shape = std::move(shape);
        }
    }
    OpenContainerAttachments(message);
    ParseMessage(run, message, work);
    if (run.mode == ApplyMode::Run) SetLastRan(run, tpl);
}

void DoParsing(RunContext& run, MessageWork& message) {
    std::size_t index = 0;  // the template being applied
    bool finished = Guard(context::kDoParsing, [&] {
        RunProgress& progress = run.progress;
        // What happened to template and output files since the last message.
        run.watch.Poll();
        progress.templateCount = static_cast<std::int32_t>(run.templateFiles.size());
        progress.templateNo = 0;
        const std::string& dir = run.settings.templateDir;
        const bool showsStatus = Window().ShowsText();
        for (index = 0; index < run.templateFiles.size(); ++index) {
            const std::string name = Trim(run.templateFiles[index]);
            std::optional<std::string> path = run.templates.Find(dir, name, index);
            if (!path) {
                NoteRecordUse(run, index, RunContext::RecordUse::Unknown);
                message.MarkTemplateFailed(index);
                ReportError(ExeName() + std::string(kTemplateFileMissing) + "\n" +
                                FileFaultLine(JoinPath(dir, name), SystemReason(ENOENT)),
                            true);
                return;  // the remaining templates are not applied to this message
            }
            CalcPrgValue(progress, ProgressKind::Templates);
            if (showsStatus)
                DoGUICount(progress.templateProgress, "Using Template: ", progress.templateNo + 1,
                           progress.templateCount, 2);
            ++progress.templateNo;
            // A template the run left out is not read again.
            if (IsBadTemplate(run, name)) {
                NoteRecordUse(run, index, RunContext::RecordUse::NotOffered);
                continue;
            }

            std::shared_ptr<clsTemplate> tpl =
                run.templates.Load(*path, run.settings.useScripts, index);
            if (!tpl) {
                // Gone between the look-up and the reading.
                NoteRecordUse(run, index, RunContext::RecordUse::Unknown);
                message.MarkTemplateFailed(index);
                ReportError(ExeName() + std::string(kTemplateFileMissing) + "\n" +
                                FileFaultLine(*path, SystemReason(ENOENT)),
                            true);
                return;
            }
            if (tpl->Refused() && tpl->Active()) {
                // Reported when read: what it would write is not what its file says, and the
                // message keeps its mail for a corrected template.
                NoteRecordUse(run, index, RunContext::RecordUse::Unknown);
                message.MarkTemplateFailed(index);
                continue;
            }
            if (!tpl->Active()) NoteRecordUse(run, index, RunContext::RecordUse::NotOffered);
            if (tpl->Active()) {
                if (PassOver(run, message, index, *tpl, name)) continue;
                TemplateWork work(std::move(tpl), index);
                ApplyTemplate(run, message, work, name);
            }
            LetEventsRun();
        }
    });
    if (!finished) message.MarkTemplateFailed(index);
}

bool ForEachMessage(sources::MailSource& source, const SourceWalk& walk) {
    source.Connect();
    if (!source.IsConnected()) return false;
    const std::int32_t total = source.TotalMessages();
    if (walk.connected) walk.connected(total);
    if (total > 0) {
        std::int32_t number = 0;
        source.GetFirstMsg();
        while (source.Message()) {
            if (!walk.message(++number)) break;
            source.GetNextMsg();
        }
        if (walk.walked) walk.walked(number);
    }
    source.Disconnect();
    return true;
}

void RunSources(RunContext& run, const std::string& selection) {
    // A conversion that takes seconds does not hold back the lines gathered before it.
    const script::WhileChildRuns writing([&run] { FlushOutputIfDue(run); });
    GetTemplateFiles(run, selection);
    LetEventsRun();
    if (!run.haveTemplateFiles) {
        ReportError(ExeName() + std::string(kTemplateFileMissing), true);
        return;
    }
    StartTallies(run);
    if (!SomeOutputWritable(run)) {
        run.nothingWritable = true;
        return;
    }
    if (!OpenRecordIfUsed(run)) return;
    std::unique_ptr<sources::SourceList> sourceList = GetSources(run);
    if (!sourceList) {
        ReportError(kNoSourceKind, true, true);
        return;
    }
    if (sourceList->Count() == 0) {
        ReportError(kNoSources, true, true);
        return;
    }
    RunProgress& progress = run.progress;
    for (std::int32_t i = 1; i <= sourceList->Count(); ++i) {
        if (StopRequested()) {
            StopRun(run);
            break;
        }
        sources::MailSource* source = sourceList->ItemAt(i);
        if (!source) break;
        const std::string id = source->ID();
        run.sourceId = id;
        Status(0, "Templates...", 2);
        Status(0, "Messages...", 3);
        Status(0, "Connecting To: " + id, 1);
        SourceWalk walk;
        walk.connected = [&](std::int32_t total) {
            LogSystem("Connected to: " + id);
            Status(0, "Connected To: " + id, 1);
            progress.totalMessageCount = total;
            progress.messageNo = 0;
            if (total <= 0) {
                LogSystem("No messsages found.");
                Status(0, "No messages...", 3);
            }
            // A mailbox file read as another kind than it is gives no messages, or wrong
            // ones: what it looks like is said beside.
            if (MailboxFileKind(run.settings.useSource)) {
                const std::string advice = sources::MailboxKindAdvice(
                    sources::RecogniseMailbox(run.settings.localFileName), run.settings.useSource);
                if (!advice.empty()) LogSystem(LogSafe(run.settings.localFileName) + ": " + advice);
            }
        };
        walk.message = [&](std::int32_t number) {
            progress.messageNo = number;
            MessageWork message(*source, run.templateFiles.size());
            CalcPrgValue(progress, ProgressKind::Messages);
            if (Window().ShowsText()) {
                DoGUICount(progress.messageProgress, "Parsing message: ", progress.messageNo,
                           progress.totalMessageCount, 3);
                Status(0, "Templates...", 2);
            }
            const std::uint64_t reportsBefore = ReportsOnThisThread();
            DoParsing(run, message);
            LetEventsRun();
            // Its lines are written (not only gathered) before it is recorded or disposed of;
            // a template whose lines could not be written fails for it.
            if (run.processed || run.settings.deleteFlag != 0 ||
                ServerSource(run.settings.useSource))
                FlushOutput(run, &message);
            else
                FlushOutputIfDue(run);
            // Recorded once its lines are written, before it is disposed of; a message that
            // could not be recorded is left where it is and the run ends.
            const bool recorded = RecordProcessed(run, message);
            DeleteTempFiles(run, message);
            if (recorded && !PassedOverWhole(message)) DeleteMessage(run, message);
            CountFailures(run, message, reportsBefore);
            PublishProgress(run);
            if (!recorded) {
                StopRun(run);
                return false;
            }
            // A stop asked for while this message was read ends the walk after it.
            if (StopRequested()) {
                StopRun(run);
                return false;
            }
            return true;
        };
        walk.walked = [&](std::int32_t) {
            FlushOutput(run);
            Status(0, "Disconnecting From: " + id, 1);
            LogSystem("Parsed:" + std::to_string(progress.messageNo) + " of " +
                      std::to_string(progress.totalMessageCount) + " with " +
                      std::to_string(progress.templateNo) + " of " +
                      std::to_string(progress.templateCount));
        };
        SelectRecordSource(run, *source);
        if (!ForEachMessage(*source, walk)) {
            MsgBox(kCannotConnect, MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
            continue;
        }
        LogSystem("Disconected: from " + id);
        if (run.stopped) break;
    }
    FlushOutput(run);
    NoteTemplateRuns(run);
}

}  // namespace tallix::engine
