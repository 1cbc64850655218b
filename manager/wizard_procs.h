#pragma once
// The procedures behind the template wizard: DoWizard runs the wizard and turns its answers
// into a new template file; StdFieldFromWizard and ParseWizardText create the variables.
// Each traps its own failures and reports them under "modClientProcs - " + its name.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "manager/template_draft.h"
#include "model/template.h"

namespace tallix::manager {

class FrmWizard;

// Texts the user sees, once each.
inline constexpr std::string_view kMsgNoOutputFile = "No output file has been defined.";

// Names and message fields of the variables the wizard's choices create.
inline constexpr std::string_view kVarSentDate = "SentDate";
inline constexpr std::string_view kVarSentTime = "SentTime";
inline constexpr std::string_view kVarToAddr = "ToAddr";
inline constexpr std::string_view kVarToName = "ToName";
inline constexpr std::string_view kVarFromAddr = "FromAddr";
inline constexpr std::string_view kVarFromName = "FromName";
inline constexpr std::string_view kVarMessageText = "MessageText";
inline constexpr std::string_view kVarAttachmentText = "AttachmentText";

// The output line holds at most this many characters when a template is read back; the
// wizard creates no variable whose name would not fit in it.
inline constexpr std::size_t kMaxOutputLineChars = 2047;

// The extraction options the wizard applies to every variable it creates.
struct ExtractionOptions {
    bool startOfLineOnly = false;
    bool matchCase = false;
    bool matchWholeString = false;
    bool useQuotes = false;
    bool removeReturns = false;
};

// Everything the wizard asks, as the pages leave it.
struct WizardAnswers {
    std::string templateName;
    bool useFilter = false;
    std::string filterString;
    std::string filterField;
    std::string outputFile;
    std::string delimiter;  // "COMMA", "SPACE", "TAB" or "SEMICOLON"
    bool senderName = false;
    bool senderAddress = false;
    bool recipientName = false;
    bool recipientAddress = false;
    bool sentDate = false;
    bool sentTime = false;
    bool createFromText = false;  // one variable per line of `formattedText`
    bool useAttachment = false;   // the attachment instead of the message body
    std::string formattedText;
    std::string textSeparator;
    // Variables made from values selected in the text; when there are any they are the
    // text's variables instead of its "Description: value" lines.
    std::vector<VariableDraft> picked;
    ExtractionOptions options;
    bool review = false;
};

// Appends a variable to `t`: with an empty start text it takes the whole field, otherwise
// the rest of the line after the start text.
void StdFieldFromWizard(clsTemplate& t, const ExtractionOptions& options, std::string_view name,
                        std::string_view field, std::string_view startText);
// One variable per line of `text` that holds `separator`, named after the description
// before it. Returns the number of variables created.
int ParseWizardText(clsTemplate& t, const ExtractionOptions& options, std::string_view text,
                    std::string_view separator, std::string_view field);
// Appends the variables made from selected values to `t`, reading `field`, with the options
// added to their own (a name taken already gets a number); a repeated one joins [Repeat].
void PickedVariables(clsTemplate& t, const ExtractionOptions& options,
                     const std::vector<VariableDraft>& picked, std::string_view field);
// The template the answers describe, for the template file `fileName`; not written.
std::shared_ptr<clsTemplate> BuildWizardTemplate(const WizardAnswers& answers,
                                                 const std::string& fileName);

// Finish's write: makes the answers the current template and writes its file as a new one,
// with what every new template starts with (NewTemplateDefaults: CSV, formulas guarded).
// False, after a box naming the file and the reason, when it could not be written: the wizard
// then stays open with every answer.
bool WriteWizardTemplate(const WizardAnswers& answers);

// Runs the wizard modally; after Finish writes the new template, refills the list, selects
// its row and, when asked, opens it for review.
void DoWizard();

// True once Finish passed its checks; false while the wizard runs and after Cancel.
bool WizardCompleted();
void SetWizardCompleted(bool done);

// Tests drive the real wizard instead of waiting in its modal loop: while set, DoWizard
// calls the runner with the wizard where it would show it. An empty function restores exec().
using WizardRunner = std::function<void(FrmWizard& wizard)>;
void SetWizardRunner(WizardRunner runner);

}  // namespace tallix::manager
