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

#include <QString>
#include <QWidget>
#include <atomic>
#include <memory>
#include <vector>

#include "engine/template_trial.h"

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
    QPlainTextEdit* txtBody;

  Q_SIGNALS:
    // A trial ended (finished or cancelled); the tables show its messages.
    void TrialFinished();

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
};

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
