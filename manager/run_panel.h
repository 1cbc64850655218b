#pragma once
// The "Run" panel of the main window: while the engine runs, how far it has come (read from
// its report file) and a "Stop run" button; after the run, what each template wrote, with
// buttons that open an output file or its folder.

#include <QDockWidget>
#include <functional>
#include <optional>

#include "engine/templates/run_report.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QUrl;

namespace tallix::manager {

// Summary columns.
inline constexpr int kColSumTemplate = 0;
inline constexpr int kColSumLines = 1;
inline constexpr int kColSumOutput = 2;
inline constexpr int kColSumFailures = 3;

class RunPanel final : public QDockWidget {
    Q_OBJECT
  public:
    explicit RunPanel(QWidget* parent = nullptr);

    // A run begins; `stop` asks the engine to stop after its current message.
    void BeginRun(std::function<void()> stop);
    void ShowProgress(const engine::RunReport& report);
    // The run ended: its last report (none when the engine wrote none), whether the engine
    // crashed, and its exit status.
    void FinishRun(const std::optional<engine::RunReport>& report, bool crashed, int exitCode);

    // How "Open" and "Open folder" open a file or folder (the desktop's handler by default;
    // tests record the address instead).
    using Opener = std::function<void(const QUrl&)>;
    static void SetOpener(Opener opener);

    QLabel* lblRunState;
    QProgressBar* pbRun;
    QPushButton* cmdStopRun;
    QTreeWidget* lvSummary;
    QPushButton* cmdOpenOutput;
    QPushButton* cmdOpenFolder;

  private:
    void FillSummary(const engine::RunReport& report);
    void UpdateButtons();
    void OpenSelected(bool folder);

    std::function<void()> m_stop;
};

// The panel's first line for a report.
QString RunStateText(const std::optional<engine::RunReport>& report, bool crashed, int exitCode);

}  // namespace tallix::manager
