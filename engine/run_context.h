#pragma once
// What one engine run works with, handed to every procedure as a parameter: the run (made once
// at start-up: the settings values it read, the command line, the template list, the sources'
// factory, the files it keeps between messages), the message being processed, and the template
// being applied to it. Nothing of a run is process-wide: a trial of a template on one thread and
// a run on another share nothing mutable.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/file_watch.h"
#include "engine/message_fields.h"
#include "engine/output_files.h"
#include "engine/processed_store.h"
#include "engine/template_cache.h"
#include "engine/templates/run_report.h"
#include "engine/variable_search.h"
#include "settings/coarse_clock.h"
#include "settings/settings_store.h"

namespace tallix {
class clsTemplate;
class txMessage;
}  // namespace tallix
namespace tallix::sources {
class AttachmentDecoder;
class MailSource;
class SourceList;
}  // namespace tallix::sources

namespace tallix::engine {

// What a command line asks for.
struct CommandLine {
    std::string templateSelection;  // trimmed; empty selects every template
    bool silentMode = false;        // /s
    bool noWindow = false;          // /s followed by an X before the next switch
    bool helpRequested = false;     // /h or /?
    bool watch = false;             // /watch: run again whenever new mail comes
};

// Reads the argument text. "/" followed by a letter makes that letter (upper-cased) the
// current switch; "/F" also empties the selection, "/S" sets silent mode, "/H" and "/?"
// ask for help. Other characters go to the selection while the switch is F (the start),
// and an X while the switch is S also switches the window off. A "/" at the very end
// stops the scan. Each character may call `perCharacter` (the engine lets window events
// run there).
CommandLine ParseCommandLine(std::string_view argumentText, void (*perCharacter)() = nullptr);

// The argument text: the program's arguments joined with single blanks.
std::string ArgumentText(int argc, char** argv);

// What one template made of the current message.
enum class TemplateOutcome : std::int16_t {
    NotUsed = 0,  // inactive, or its filter did not match
    Parsed = 1,   // its filter matched and its line was made
    Failed = 2,   // something went wrong with it
};

// Builds the sources of a run for a "UseSource" value in place of the source-kind table
// (tests and benchmarks).
using SourceListFactory = std::function<std::unique_ptr<sources::SourceList>(const std::string&)>;

// Where a variable's value was cut from: `length` bytes from `start` (0-based) of the text
// of `field` (attachment `index`, 0 for other fields) of the message.
struct FoundText {
    std::int32_t variable = 0;  // the variable's position in the template, from 1
    std::string field;
    std::int32_t index = 0;
    std::size_t start = 0;
    std::size_t length = 0;
};

// The message and template counters the status window shows.
struct RunProgress {
    std::int32_t messageNo = 0;
    std::int32_t totalMessageCount = 0;
    std::int32_t templateNo = 0;
    std::int32_t templateCount = 0;
    std::int32_t messageProgress = 0;
    std::int32_t templateProgress = 0;
};

// A run stamps its templates; a trial leaves them as they are and writes nothing.
enum class ApplyMode { Run, Trial };

// Everything one engine run holds.
struct RunContext {
    // A run over `settings` (a copy: what the run reads was fixed at start-up) whose lines go
    // to the output files.
    explicit RunContext(SettingsState settings = {});
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    SettingsState settings;  // the run switches scripts off here when the language will not start
    ApplyMode mode = ApplyMode::Run;
    CommandLine commandLine;
    std::string pop3ConfigPath;  // POP3.CFG of the program directory
    // Builds the sources instead of the source-kind table when set (tests, benchmarks).
    SourceListFactory sourceFactory;
    // Decodes message parts for the sources (the engine's MIME component); not owned.
    sources::AttachmentDecoder* decoder = nullptr;

    std::vector<std::string> templateFiles;
    bool haveTemplateFiles = false;
    std::vector<std::string> badTemplates;
    RunProgress progress;

    // What each template of the run did, in the order of `templateFiles`; the file the program
    // that started the run reads it from (empty: nobody asked) and when it is next written.
    std::vector<TemplateTally> tallies;
    std::string reportPath;
    CoarseClock::time_point reportDue{};
    std::string sourceId;  // the source being read
    bool stopped = false;  // a stop request ended the run before its last message
    // No active template could write its output file, so no message was read.
    bool nothingWritable = false;

    // Each message once: the record of processed messages, open when the run uses it (the
    // setting, a template's key, or watch mode, which turns it on for every template); per
    // template, how many messages it was offered in this run.
    std::unique_ptr<ProcessedStore> processed;
    bool processOnceForAll = false;
    std::vector<std::int64_t> offered;
    // What each template was at the last message: not known yet, not offered messages
    // (inactive, left out), offered them with the record, or without it.
    enum class RecordUse : std::int8_t { Unknown, NotOffered, WithRecord, WithoutRecord };
    std::vector<RecordUse> recordUse;

    // Kept between messages: the watch over template and output files, the parsed templates
    // and the stamps written into them, the open output files with their duplicate indexes,
    // the current message's field texts, the variables' prepared searches.
    FileWatch watch;
    TemplateCache templates{watch};
    OutputFiles outputs{watch};
    MessageFields fields;
    VariableSearches searches;
    OutputSink* output = &outputs;  // a trial points this at its own collection

    // The last-run stamp: today's short date and the long time, made again when the second
    // changes.
    std::time_t stampSecond = -1;
    std::string stamp;
    // Template files whose stamp could not be written, reported once each in the run.
    std::vector<std::string> stampFaults;
};

// One message of a run: its source, and what each template of the run made of it.
struct MessageWork {
    MessageWork(sources::MailSource& source, std::size_t templateCount);

    // The record the source holds for this message; raises "object required" when the source
    // has moved on.
    txMessage& Message() const;
    // `allParsedOK` false, and the template at `index` failed (an index outside the list only
    // clears `allParsedOK`).
    void MarkTemplateFailed(std::size_t index);
    // Every template back to "not used".
    void ResetTemplateStatus();

    sources::MailSource& source;
    std::vector<TemplateOutcome> templateStatus;
    bool allParsedOK = true;
    // A trial notes here where each variable's value was cut from; nullptr in a run.
    std::vector<FoundText>* found = nullptr;
    // The message's key in the record of processed messages, made when first asked for; the
    // templates offered it that record it once its lines are written; whether a template
    // passed it over because it had it already.
    std::optional<std::string> recordKey;
    std::vector<std::size_t> toRecord;
    bool passedOver = false;
    // Whether the attachments that hold attachments were opened, and the files that wrote
    // (and a winmail.dat their files replaced), removed with the message's scratch files.
    bool containersOpened = false;
    std::vector<std::string> openedFiles;
};

// What a template alone decides about its lines: its output file (trimmed), its output
// definition, that definition's variable names and where those variables stand in the
// template, the delimiter, and the line form. Made at the first message that applies the
// template and kept while its file is unchanged, unless scripts run (a script may change any of
// it for one message).
struct TemplateShape {
    std::string outputFile;
    std::string outputDefinition;
    std::vector<std::string> outputOrder;
    std::vector<std::int32_t> outputFields;  // see OutputFieldPlaces
    std::string delimiter;
    LineForm form;
};

// One template applied to one message: the template (a working copy), its place in the run's
// list, and the output line, first its definition and then the line built.
struct TemplateWork {
    TemplateWork(std::shared_ptr<clsTemplate> applied, std::size_t position)
        : tpl(std::move(applied)), index(position) {}

    std::shared_ptr<clsTemplate> tpl;
    std::size_t index = 0;
    std::string outputLine;
    std::vector<std::string> outputOrder;  // variable names of the definition, in order
    std::string delimiter = ",";
    // The attachment the line is made for (from 1) when the template writes a line per
    // attachment; 0 otherwise (the attachment fields then give the first attachment's).
    std::int32_t attachment = 0;
    // Every line made for the message, in order (a message may give several).
    std::vector<std::string> lines;
    // The template's kept shape; nullptr when the fields above are derived from `tpl`.
    std::shared_ptr<const TemplateShape> shape;
};

// The template selection and the three switches back to their start values.
void InitApp(RunContext& run);
// Scans the argument text into the run, letting window events run per character; silent
// mode also switches on the error reporter's silent flag.
void GetCmdLnArgs(RunContext& run, std::string_view argumentText);

enum class ProgressKind : std::int16_t { Templates = 2, Messages = 3 };
// The message (MessageNo of TotalMessageCount) or template (TemplateNo + 1 of TemplateCount)
// percentage, rounded half to even; 0 when either number is 0.
void CalcPrgValue(RunProgress& progress, ProgressKind kind);
// The name, trimmed, is one of the run's bad templates, trimmed (exact case).
bool IsBadTemplate(const RunContext& run, std::string_view name);

}  // namespace tallix::engine
