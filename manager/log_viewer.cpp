#include <QDialogButtonBox>
#include <QFile>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <map>

#include "manager/manager_windows.h"
#include "settings/error_reporter.h"
#include "settings/run_time_error.h"
#include "ui/qt_printer.h"

namespace tallix::manager {
namespace {

// Logs are only ever appended to; a viewer shows at most their last part so a log of many
// years does not have to be held whole.
constexpr qint64 kLogViewLimitBytes = 8 * 1024 * 1024;

std::map<QString, FrmLogViewer*>& OpenViewers() {
    static std::map<QString, FrmLogViewer*> viewers;
    return viewers;
}

}  // namespace

FrmLogViewer::FrmLogViewer(const QString& path, const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window), m_path(path), m_watcher(new QFileSystemWatcher(this)) {
    setObjectName("frmLogViewer");
    CloseWithKeys(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName("txtLog");
    txtLog->setAccessibleName(title);
    txtLog->setReadOnly(true);
    txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(txtLog);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* print = buttons->addButton("&Print", QDialogButtonBox::ActionRole);
    print->setObjectName("cmdPrint");
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName("cmdClose");
    layout->addWidget(buttons);
    connect(print, &QPushButton::clicked, this, &FrmLogViewer::Print);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    const QFontMetrics fm(txtLog->font());
    resize(fm.horizontalAdvance(QString(100, 'x')), fm.height() * 30);
    m_watcher->addPath(path);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        Reload();
        // A log replaced by rename drops out of the watch; watch the new file.
        if (!m_watcher->files().contains(m_path)) m_watcher->addPath(m_path);
    });
    Reload();
}

void FrmLogViewer::Reload() {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return;
    if (file.size() > kLogViewLimitBytes) file.seek(file.size() - kLogViewLimitBytes);
    QString text = QString::fromUtf8(file.readAll());
    text.remove(QLatin1Char('\r'));
    txtLog->setPlainText(text);
    txtLog->verticalScrollBar()->setValue(txtLog->verticalScrollBar()->maximum());
}

void FrmLogViewer::Print() {
    Guard("frmLogViewer cmdPrint_Click", [&] {
        QPrinter printer(QPrinter::HighResolution);
        ui::ApplyPrintTarget(printer);
        if (!printer.isValid()) Raise(kErrDeviceUnavailable);
        printer.setDocName(windowTitle());
        txtLog->document()->print(&printer);
    });
}

FrmLogViewer* ShowLogViewer(const QString& path, const QString& title) {
    auto& viewers = OpenViewers();
    FrmLogViewer* viewer = nullptr;
    if (auto it = viewers.find(path); it != viewers.end()) {
        viewer = it->second;
        viewer->Reload();
    } else {
        viewer = new FrmLogViewer(path, title);
        viewers[path] = viewer;
        QObject::connect(viewer, &QObject::destroyed, [path] { OpenViewers().erase(path); });
    }
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return viewer;
}

}  // namespace tallix::manager
