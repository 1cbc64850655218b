// The splash, the about window and its system information, the page setup, the web site.
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPushButton>
#include <QShortcut>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/manager_windows.h"
#include "settings/registry.h"

namespace tallix::manager {
namespace {

constexpr int kSplashTickMs = 100;
// The web address in the program string table.
constexpr int kResWebAddress = 1006;

QString Res(int id) {
    return QString::fromStdString(LoadResString(id));
}

}  // namespace

void CloseWithKeys(QWidget* window) {
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)}) {
        auto* shortcut = new QShortcut(key, window);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

QString VersionText(int major, int minor, int revision) {
    return QStringLiteral("Version %1.%2%3").arg(major).arg(minor).arg(revision);
}

QString ProgramVersionText() {
    return VersionText(TALLIX_VERSION_MAJOR, TALLIX_VERSION_MINOR, TALLIX_VERSION_PATCH);
}

FrmSplash::FrmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName("frmSplash");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    lblProductName = new QLabel(Res(kResShortProductName), this);
    QFont big = lblProductName->font();
    big.setPointSizeF(big.pointSizeF() * 2.5);
    big.setBold(true);
    lblProductName->setFont(big);
    lblVersion = new QLabel(ProgramVersionText(), this);
    lblCompany = new QLabel(Res(kResMakerName), this);
    layout->addWidget(lblProductName);
    layout->addWidget(lblVersion);
    layout->addWidget(lblCompany);
    tmrSplash = new QTimer(this);
    tmrSplash->setInterval(kSplashTickMs);
    connect(tmrSplash, &QTimer::timeout, this, [] {
        if (State().startupComplete) ExitSplash();
    });
}

FrmAbout::FrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    const QString product = Res(kResProductName);
    setWindowTitle("About " + product);
    auto* layout = new QVBoxLayout(this);
    lblTitle = new QLabel(product, this);
    QFont big = lblTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    lblTitle->setFont(big);
    lblVersion = new QLabel(ProgramVersionText(), this);
    lblCompany = new QLabel(Res(kResMakerName), this);
    layout->addWidget(lblTitle);
    layout->addWidget(lblVersion);
    layout->addWidget(lblCompany);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    QPushButton* sysInfo = buttons->addButton("&System Info...", QDialogButtonBox::ActionRole);
    sysInfo->setObjectName("cmdSysInfo");
    ok->setObjectName("cmdOK");
    ok->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    // No separate system-information program exists here: the versions that matter for a
    // report are shown in a small window of our own.
    connect(sysInfo, &QPushButton::clicked, this, [this] {
        QMessageBox box(QMessageBox::Information, "System Information", SystemInfoText(),
                        QMessageBox::Ok, this);
        box.setObjectName("frmSysInfo");
        box.setTextFormat(Qt::PlainText);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.exec();
    });
}

QString SystemInfoText() {
    return QStringLiteral("%1 %2\nQt %3 (built with %4)\n%5\n%6 %7")
        .arg(Res(kResProductName), ProgramVersionText(), QString::fromLatin1(qVersion()),
             QStringLiteral(QT_VERSION_STR), QSysInfo::prettyProductName(), QSysInfo::kernelType(),
             QSysInfo::kernelVersion());
}

void ShowAbout(QWidget* parent) {
    FrmAbout about(parent);
    about.exec();
}

void ShowPageSetup(FrmMain& main) {
    QPageSetupDialog dialog(&main.Printer(), &main);
    dialog.setWindowTitle("Page Setup");
    dialog.exec();
}

void OpenWebSite() {
    QDesktopServices::openUrl(QUrl(Res(kResWebAddress)));
}

}  // namespace tallix::manager
