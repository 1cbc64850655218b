#pragma once
// The test bench of the template editor: the template being edited, tried on the messages of
// a message file or of the configured source through the engine's own trial (nothing is
// written, stamped, logged or deleted). A table lists the messages and whether the filter let
// each through; for the selected message it shows each variable's value, the output line as a
// run would write it (every line, when the message gives several: one per attachment or per
// repeated occurrence), and the message body with the text each variable was cut from
// marked, and the whole match of a variable's regular expression around it.
//
// The trial runs on a worker thread, one at a time: an edit (SetTemplate) or a new message
// choice cancels the trial in progress and starts a new one once the edits pause.
//
// The message view shows the subject, the sender, the body and each attachment's text. A value
// selected there makes a variable ("Make a variable from the selection", Ctrl+M): the bench
// works out its start and stop texts, name and options and hands it on (VariableMade) to whoever
// keeps the template (the editor adds it as if typed on its Variables tab); the next trial then
// counts, per variable, the matching messages that gave a value, and marks the messages where
// the new variable found none or a value of another shape. "Refine with another example" takes
// the same value selected in another message and narrows the start and stop texts
// (VariableRefined).

#include <QString>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/selection_variable.h"
#include "engine/template_trial.h"
#include "manager/template_draft.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QThread;
class QTimer;

namespace tallix {
class clsTemplate;
}

namespace tallix::manager {

// How long edits must pause before the bench tries the template again.
inline constexpr int kTestBenchDebounceMs = 300;

// What the bench says about a variable made from a selection.
inline constexpr std::string_view kPickSelectValue =
    "Select a value in one part of the message (the subject, the sender, the body or an "
    "attachment's text).";
inline constexpr std::string_view kPickMakeFirst =
    "Make a variable from a selection first, then select the same value in another message.";
inline constexpr std::string_view kPickSamePart = "Select the value in the same part (";
inline constexpr std::string_view kPickOtherMessage =
    "Select the same value in another message to refine the variable with.";
inline constexpr std::string_view kPickRepeatedBlock = " lines of this message begin with \"";
inline constexpr std::string_view kPickRepeatedQuestion =
    "\": make the variable a line item (one output line for each of them)?";
inline constexpr std::string_view kPickTitle = "Make a variable";

// The stretch of the message view that shows one field of the message.
struct ShownPart {
    std::string field;       // MSG_SUBJECT, SENDER_NAME, SENDER_ADDRESS, MSG_TEXT, ATTACHMENT
    std::int32_t index = 0;  // the attachment's number (from 1) for ATTACHMENT
    std::string text;        // the field's text as the run reads it
    int displayStart = 0;    // where it starts in the view
    int displayLength = 0;
};

class TemplateTestBench final : public QWidget {
    Q_OBJECT
  public:
    explicit TemplateTestBench(QWidget* parent = nullptr);
    ~TemplateTestBench() override;

    // The template to try (copied); the bench tries it again once edits pause.
    void SetTemplate(const clsTemplate& tpl);
    // Messages from this file (a mailbox file or one message) ...
    void SetMessageFile(const QString& path);
    // ... or from the source the settings name (read only).
    void UseConfiguredSource();

    // Starts a trial now (after cancelling the one in progress).
    void Refresh();
    // Stops the trial in progress; the messages tried so far stay listed.
    void Cancel();
    bool IsRunning() const { return m_thread != nullptr; }

    // The messages of the last trial, in order, as far as it went.
    const std::vector<engine::TrialMessage>& Messages() const { return m_messages; }

    // The gesture: a variable from the value selected in the message view, and a refinement
    // of it from the same value selected in another message. Each says in lblPick what it did
    // or why it could not.
    void MakeVariableFromSelection();
    void RefineWithSelection();
    // The parts of the message shown, in the view's order.
    const std::vector<ShownPart>& Parts() const { return m_parts; }

    // The controls, by the names the editor's other tabs use.
    QRadioButton* optMessageFile;
    QRadioButton* optSource;
    QLineEdit* txtMessageFile;
    QPushButton* cmdBrowse;
    QPushButton* cmdCancel;
    QProgressBar* prgTrial;
    QLabel* lblStatus;
    QTableWidget* tblMessages;
    QTableWidget* tblValues;
    QLineEdit* txtOutputLine;
    QTableWidget* tblLines;  // every line of the message, shown when it gives more than one
    QLabel* lblLineNote;
    QPlainTextEdit* txtBody;  // the message: subject, sender, body, attachments' texts
    QPushButton* cmdMakeVariable;
    QPushButton* cmdRefine;
    QLabel* lblPick;          // what the last gesture did, and the count it gives
    QTableWidget* tblCounts;  // per variable: matching messages with a value, other shapes

  Q_SIGNALS:
    // A trial ended (finished or cancelled); the tables show its messages.
    void TrialFinished();
    // A variable made from a selection, and the same variable (by name) refined by another
    // example; for the keeper of the template to add or change.
    void VariableMade(const tallix::manager::VariableDraft& variable);
    void VariableRefined(const tallix::manager::VariableDraft& variable);

  private:
    struct Job {
        std::atomic<bool> cancel{false};
        int generation = 0;
    };
    void Start();
    void Schedule();
    void AddMessage(int generation, const engine::TrialMessage& message, int total);
    void Finish(int generation, const engine::TrialSummary& summary, const QString& problem);
    void ShowSelected();
    void Browse();
    // The message view for message `m`: its parts laid out, the marks of the values.
    void ShowMessage(const engine::TrialMessage& m);
    // The value selected in the view, as a part and bytes of its text; false (and why in
    // lblPick) when the selection is not inside one part.
    struct Selected {
        const ShownPart* part = nullptr;
        engine::ValueExample example;
    };
    bool SelectedValue(Selected& selected);
    engine::SelectionRequest Request(const Selected& selected) const;
    // The counts of each variable over the messages tried so far, and the marks of the
    // watched one.
    void Count(const engine::TrialMessage& m);
    void ShowCounts();
    void ShowCheck(int row);
    void Watch(const std::string& name, const std::string& sample);
    void SayPickCount();

    std::shared_ptr<clsTemplate> m_template;
    // The template the shown messages were tried with (m_template may have changed since).
    std::shared_ptr<clsTemplate> m_tried;
    QString m_messageFile;
    bool m_useSource = false;
    QTimer* m_debounce;
    QThread* m_thread = nullptr;
    std::shared_ptr<Job> m_job;
    bool m_restart = false;
    int m_generation = 0;
    int m_selectedRow = -1;
    std::vector<engine::TrialMessage> m_messages;
    std::vector<ShownPart> m_parts;

    // The variable the last gesture made: its examples (the first selection, then each
    // refinement) and the messages they were selected in.
    struct Gesture {
        std::string name;
        std::string field;
        bool repeat = false;
        std::vector<engine::ValueExample> examples;
        std::vector<std::int32_t> messages;
    };
    std::optional<Gesture> m_gesture;
    bool m_reportPick = false;  // lblPick says the count once the variable has been tried
    QString m_pickSaid;         // what lblPick says of the variable before the count
    // Per variable of the shown messages: how many matching messages gave a value, and how
    // many a value of another shape than its sample.
    struct VariableCount {
        std::string name;
        std::string sample;
        int found = 0;
        int otherShape = 0;
    };
    std::vector<VariableCount> m_counts;
    int m_countedMatched = 0;
    // The variable whose misses the message list marks, and the value it is compared with.
    std::string m_watch;
    std::string m_watchSample;
};

// The variable that `length` bytes at `start` of `text`, the text of `field`, make as the
// bench makes it from a selection (for the wizard's message page): `problem` says why none
// when nothing is selected. `delimiterName` is the output delimiter (COMMA, TAB...), `taken`
// the names the variable may not have.
struct MadeVariable {
    VariableDraft draft;
    QString description;  // where it starts and stops, as the bench says it
    std::size_t repeatedLines = 0;
    std::string problem;
};
MadeVariable MakeVariable(const std::string& text, std::size_t start, std::size_t length,
                          const std::string& field, const std::string& delimiterName,
                          const std::vector<std::string>& taken, bool repeat);
// The question asked when the value stands in one of `lines` lines that begin with `label`.
std::string RepeatedBlockQuestion(std::size_t lines, const std::string& label);

// The byte of `text` (UTF-8, CR LF line ends) at `position` of the view that shows it as
// DisplayText does: never inside a character or between CR and LF.
std::size_t ByteOffsetAt(const std::string& text, int position);

// The position in the text a QPlainTextEdit shows for `body` (line ends CR LF shown as one
// break) of the byte at `byteOffset` of `body` (UTF-8).
int DisplayPosition(const std::string& body, std::size_t byteOffset);
// `body` as the body view shows it.
QString DisplayText(const std::string& body);

// A stretch of bytes of a message body.
struct BodySpan {
    std::size_t start = 0;
    std::size_t length = 0;
    bool operator==(const BodySpan&) const = default;
};
// The whole matches of the pattern of variable `position` (from 1) of `tpl` in `body` that
// gave the values `found` records for it in the body, in order; none for a variable without a
// pattern. The search is the run's: the same options, each one after the previous match.
std::vector<BodySpan> PatternMatches(const clsTemplate& tpl, std::int32_t position,
                                     const std::string& body,
                                     const std::vector<engine::FoundText>& found);

}  // namespace tallix::manager
