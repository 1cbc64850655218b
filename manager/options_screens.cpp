// options_screens OUT_DIR: saves one picture of each tab of the options dialog, filled from
// the settings and accounts of the program directory in force, as
// OUT_DIR/screenshot-options-<tab>.png; the Internet Mail tab twice, with the POP3 accounts
// and with the IMAP accounts, the second after "Test connection" has answered for the first
// IMAP account. scripts/screenshots.sh runs it under Xvfb.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <cstdio>
#include <string_view>

#include "manager/client_procs.h"
#include "manager/options_dialog.h"
#include "manager/options_procs.h"
#include "settings/app_info.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "ui/qt_user_interface.h"

using namespace tallix;
using namespace tallix::manager;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: options_screens OUT_DIR\n");
        return 2;
    }
    SetProgramIdentity("tallix", "Tallix");
    QApplication app(argc, argv);
    ui::UseScreenshotPalette(app);
    ui::QtWindowScope windowScope;
    GetGeneralSettings();
    GetPOP3Configurations();
    GetRunSettings();

    // Each source tab opens only for its own source: each picture is taken with that source
    // chosen.
    struct Shot {
        int tab;
        std::string_view source;
        const char* name;
        bool testConnection = false;
    };
    int status = 0;
    for (const Shot& shot :
         {Shot{kTabGeneral, kSourcePop3, "general"}, Shot{kTabMapi, kSourceExtendedMapi, "mapi"},
          Shot{kTabInternetMail, kSourcePop3, "internet-mail"},
          Shot{kTabInternetMail, sources::kSourceImap, "internet-mail-imap", true},
          Shot{kTabLocalFile, kSourceFileOther, "local-file"}}) {
        SaveRegData(kSettingsSection, "UseSource", shot.source);
        GetUseSource();
        FrmOptions* form = LoadOptions(nullptr);
        if (!form) return 1;
        form->tbsOptions->setCurrentIndex(shot.tab);
        form->show();
        form->activateWindow();
        if (shot.testConnection) {
            form->cmdTestConnection->click();
            // The check has its own time limit of 30 s; the answer replaces the waiting text.
            for (int i = 0; i < 1400 && form->lblTestResult->text().endsWith("..."); ++i) {
                QApplication::processEvents();
                QThread::msleep(25);
            }
        }
        for (int i = 0; i < 20; ++i) {
            QApplication::processEvents();
            QThread::msleep(25);
        }
        const QString path =
            QDir(QString::fromLocal8Bit(argv[1]))
                .filePath(QStringLiteral("screenshot-options-%1.png").arg(shot.name));
        if (!form->grab().save(path, "PNG")) {
            std::fprintf(stderr, "options_screens: could not save %s\n", qPrintable(path));
            status = 1;
        } else {
            std::printf("wrote %s\n", qPrintable(path));
        }
        form->hide();
        delete form;
    }
    return status;
}
