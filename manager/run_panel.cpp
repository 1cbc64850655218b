#include "manager/run_panel.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/templates/output_target.h"

namespace tallix::manager {
namespace {

RunPanel::Opener& TheOpener() {
    static RunPanel::Opener opener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    return opener;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

std::int64_t LinesOf(const engine::RunReport& report) {
    std::int64_t lines = 0;
    for (const engine::TemplateTally& tally : report.templates) lines += tally.lines;
    return lines;
}

std::int64_t FailuresOf(const engine::RunReport& report) {
    std::int64_t failures = 0;
    for (const engine::TemplateTally& tally : report.templates) failures += tally.failures;
    return failures;
}

// The output file of a summary row as a full path (the engine ran in this program's working
// folder, so a relative name is relative to it); empty for the printer and for none.
QString FileOf(const QTreeWidgetItem* item) {
    if (!item) return {};
    const std::string path = item->data(kColSumOutput, Qt::UserRole).toString().toStdString();
    if (path.empty() || path == engine::kPrinterOutput) return {};
    return QFileInfo(QDir::current(), Text(path)).absoluteFilePath();
}

QString Counted(std::int64_t count, const char* one, const char* many) {
    return QString::number(count) + ' ' + (count == 1 ? one : many);
}

}  // namespace

QString RunStateText(const std::optional<engine::RunReport>& report, bool crashed, int exitCode) {
    // The engine gave up before it read anything (another run kept the run lock).
    if (report && report->state == engine::RunState::Refused && !report->reason.empty())
        return Text(report->reason) + QObject::tr(": the run did not start.");
    // Stop while the engine waited: it ends at once, as in the rest of its start-up.
    if (report && report->state == engine::RunState::Waiting && crashed)
        return QObject::tr("Stopped while waiting for another run to end: the run did not start.");
    if (!report || report->state == engine::RunState::Running ||
        report->state == engine::RunState::Waiting || report->state == engine::RunState::Refused) {
        return crashed ? QObject::tr("The run ended abnormally; see the error log.")
                       : QObject::tr(
                             "The run ended (exit status %1) without a summary; see the "
                             "error log.")
                             .arg(exitCode);
    }
    QString text = report->state == engine::RunState::Stopped
                       ? QObject::tr("Run stopped after message %1 of %2: ")
                             .arg(report->message)
                             .arg(report->total)
                       : QObject::tr("Run finished: ");
    text += Counted(LinesOf(*report), "line", "lines") + QObject::tr(" written");
    if (const std::int64_t failures = FailuresOf(*report); failures > 0)
        text += QObject::tr(", ") + Counted(failures, "failure", "failures") +
                QObject::tr(" (see the error log)");
    return text + '.';
}

RunPanel::RunPanel(QWidget* parent) : QDockWidget(tr("Run"), parent) {
    setObjectName("dockRun");
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);

    auto* stateRow = new QHBoxLayout;
    lblRunState = new QLabel(body);
    lblRunState->setObjectName("lblRunState");
    lblRunState->setWordWrap(true);
    lblRunState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stateRow->addWidget(lblRunState, 1);
    cmdStopRun = new QPushButton(tr("&Stop run"), body);
    cmdStopRun->setObjectName("cmdStopRun");
    cmdStopRun->setToolTip(tr("Stop the run after the message it is reading"));
    stateRow->addWidget(cmdStopRun);
    layout->addLayout(stateRow);

    pbRun = new QProgressBar(body);
    pbRun->setObjectName("pbRun");
    pbRun->setAccessibleName(tr("Run progress"));
    layout->addWidget(pbRun);

    lvSummary = new QTreeWidget(body);
    lvSummary->setObjectName("lvSummary");
    lvSummary->setAccessibleName(tr("What each template wrote"));
    lvSummary->setRootIsDecorated(false);
    lvSummary->setAllColumnsShowFocus(true);
    lvSummary->setHeaderLabels({tr("Template"), tr("Lines"), tr("Output File"), tr("Failures")});
    lvSummary->header()->setStretchLastSection(true);
    layout->addWidget(lvSummary, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cmdOpenOutput = new QPushButton(tr("&Open"), body);
    cmdOpenOutput->setObjectName("cmdOpenOutput");
    cmdOpenOutput->setToolTip(tr("Open the selected template's output file"));
    cmdOpenFolder = new QPushButton(tr("Open &folder"), body);
    cmdOpenFolder->setObjectName("cmdOpenFolder");
    cmdOpenFolder->setToolTip(tr("Open the folder of the selected template's output file"));
    buttons->addWidget(cmdOpenOutput);
    buttons->addWidget(cmdOpenFolder);
    layout->addLayout(buttons);
    setWidget(body);

    connect(cmdStopRun, &QPushButton::clicked, this, [this] {
        cmdStopRun->setEnabled(false);
        lblRunState->setText(tr("Stopping after the current message..."));
        if (m_stop) m_stop();
    });
    connect(lvSummary, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });
    connect(lvSummary, &QTreeWidget::itemActivated, this, [this] { OpenSelected(false); });
    connect(cmdOpenOutput, &QPushButton::clicked, this, [this] { OpenSelected(false); });
    connect(cmdOpenFolder, &QPushButton::clicked, this, [this] { OpenSelected(true); });
    UpdateButtons();
}

void RunPanel::SetOpener(Opener opener) {
    TheOpener() =
        opener ? std::move(opener) : [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

void RunPanel::BeginRun(std::function<void()> stop) {
    m_stop = std::move(stop);
    lblRunState->setText(tr("Starting the run..."));
    pbRun->setRange(0, 0);  // busy until the engine says how many messages there are
    pbRun->show();
    cmdStopRun->show();
    cmdStopRun->setEnabled(true);
    lvSummary->clear();
    UpdateButtons();
    show();
    raise();
}

void RunPanel::ShowProgress(const engine::RunReport& report) {
    if (report.state == engine::RunState::Waiting) {
        if (cmdStopRun->isEnabled()) lblRunState->setText(tr("Waiting for another run to end..."));
        return;
    }
    if (cmdStopRun->isEnabled()) {
        lblRunState->setText(report.total > 0 ? tr("Reading message %1 of %2 from %3")
                                                    .arg(report.message)
                                                    .arg(report.total)
                                                    .arg(Text(report.source))
                                              : tr("Connecting to %1").arg(Text(report.source)));
    }
    if (report.total > 0) {
        pbRun->setRange(0, 1000);
        pbRun->setValue(static_cast<int>(report.message * 1000 / report.total));
    }
    FillSummary(report);
}

void RunPanel::FinishRun(const std::optional<engine::RunReport>& report, bool crashed,
                         int exitCode) {
    m_stop = nullptr;
    pbRun->hide();
    cmdStopRun->hide();
    lblRunState->setText(RunStateText(report, crashed, exitCode));
    if (report) FillSummary(*report);
    if (lvSummary->topLevelItemCount() > 0 && !lvSummary->currentItem())
        lvSummary->setCurrentItem(lvSummary->topLevelItem(0));
    UpdateButtons();
    show();
}

void RunPanel::FillSummary(const engine::RunReport& report) {
    const QString current =
        lvSummary->currentItem() ? lvSummary->currentItem()->text(kColSumTemplate) : QString();
    lvSummary->clear();
    for (const engine::TemplateTally& tally : report.templates) {
        auto* item = new QTreeWidgetItem(lvSummary);
        item->setText(kColSumTemplate, Text(tally.name));
        item->setText(kColSumLines, QString::number(tally.lines));
        item->setTextAlignment(kColSumLines, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(kColSumOutput, QDir::toNativeSeparators(Text(tally.outputFile)));
        item->setData(kColSumOutput, Qt::UserRole, Text(tally.outputFile));
        QString failures = QString::number(tally.failures);
        if (!tally.reason.empty()) failures += ": " + Text(tally.reason);
        item->setText(kColSumFailures, failures);
        item->setToolTip(kColSumFailures, Text(tally.reason));
        if (item->text(kColSumTemplate) == current) lvSummary->setCurrentItem(item);
    }
    UpdateButtons();
}

void RunPanel::UpdateButtons() {
    const QString path = FileOf(lvSummary->currentItem());
    cmdOpenOutput->setEnabled(!path.isEmpty() && QFileInfo::exists(path));
    cmdOpenFolder->setEnabled(!path.isEmpty() && QFileInfo(path).absoluteDir().exists());
}

void RunPanel::OpenSelected(bool folder) {
    const QString path = FileOf(lvSummary->currentItem());
    if (path.isEmpty()) return;
    const QString target = folder ? QFileInfo(path).absolutePath() : path;
    if (!QFileInfo::exists(target)) return;
    TheOpener()(QUrl::fromLocalFile(target));
}

}  // namespace tallix::manager
