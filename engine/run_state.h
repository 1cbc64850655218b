#pragma once
// The engine's run state and its command line.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_watch.h"
#include "engine/message_fields.h"
#include "engine/output_files.h"
#include "engine/template_cache.h"

namespace tallix {
class clsTemplate;
}
namespace tallix::sources {
class MailSource;
class SourceList;
}  // namespace tallix::sources

namespace tallix::engine {

class TrialOutput;
struct FoundText;

// What a command line asks for.
struct CommandLine {
    std::string templateSelection;  // trimmed; empty selects every template
    bool silentMode = false;        // /s
    bool noWindow = false;          // /s followed by an X before the next switch
    bool helpRequested = false;     // /h or /?
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

// Everything one engine run holds: what it was asked, where it is, and the state it keeps
// about files between messages.
struct RunState {
    RunState() = default;
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    // Back to the state before a run: every list, counter, kept parse, open output file and
    // watch is dropped. What the run was asked (the command line, a replaced source factory)
    // stays.
    void Reset();

    CommandLine commandLine;
    SourceListFactory sourceFactory;
    std::string pop3ConfigPath;
    std::vector<std::string> templateFiles;
    bool haveTemplateFiles = false;
    std::vector<std::string> badTemplates;
    std::vector<TemplateOutcome> templateStatus;  // what each template made of the current message
    bool allParsedOK = true;
    sources::MailSource* currentSource = nullptr;  // the source being walked
    std::shared_ptr<clsTemplate> currentTemplate;  // the template being applied
    std::int16_t currentTemplateIndex = 0;
    std::int32_t messageNo = 0;
    std::int32_t totalMessageCount = 0;
    std::int32_t templateNo = 0;
    std::int32_t templateCount = 0;
    std::int32_t messageProgress = 0;
    std::int32_t templateProgress = 0;
    // The output line of the current template: first its definition, then the built line.
    std::string outputLine;
    std::vector<std::string> outputOrder;  // variable names of the definition, in order
    std::string delimiter = ",";

    // Kept between messages: the watch over template and output files, the parsed templates
    // and the stamps written into them, the open output files with their duplicate indexes.
    FileWatch watch;
    TemplateCache templates{watch};
    OutputFiles outputs{watch};
    MessageFields fields;  // the current message's field texts

    // A trial of a template (engine/template_trial.h): its lines go here instead of the
    // output files, and the text each variable was cut from is noted. Not owned; nullptr
    // in a real run.
    TrialOutput* trialOutput = nullptr;
    std::vector<FoundText>* foundTexts = nullptr;
};

// The run state of the calling thread: the process's one run state, or the one a
// RunStateScope installed on this thread.
RunState& CurrentRun();

// Makes `state` the calling thread's run state for the scope's lifetime, so a trial works
// on a state of its own and leaves the process's run (and any other thread) untouched.
class RunStateScope {
  public:
    explicit RunStateScope(RunState& state);
    ~RunStateScope();
    RunStateScope(const RunStateScope&) = delete;
    RunStateScope& operator=(const RunStateScope&) = delete;

  private:
    RunState* m_previous;
};

// The selection and the three switches back to their start values.
void InitApp();
// Scans the argument text into the run state, letting window events run per character;
// silent mode also switches on the error reporter's silent flag.
void GetCmdLnArgs(std::string_view argumentText);

}  // namespace tallix::engine

namespace tallix::engine {

enum class ProgressKind : std::int16_t { Templates = 2, Messages = 3 };
// The message (MessageNo of TotalMessageCount) or template (TemplateNo + 1 of TemplateCount)
// percentage, rounded half to even; 0 when either number is 0. Stored in the run state.
void CalcPrgValue(ProgressKind kind);
// The name, trimmed, is one of BadTemplates, trimmed (exact case).
bool IsBadTemplate(std::string_view name);
void ResetTemplateStatus();
// The current message failed with the current template.
void MarkTemplateFailed();

}  // namespace tallix::engine
