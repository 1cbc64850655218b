#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "engine/startup.h"
#include "engine/status_window.h"
#include "engine/ui/help_window.h"
#include "engine/ui/main_window.h"
#include "engine/ui/mime_windows.h"
#include "settings/app_info.h"
#include "tests/support/test_env.h"
#include "ui/qt_user_interface.h"

using namespace tallix;
using namespace tallix::engine;

class EngineWindowsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void statusWindowShowsLinesAndKeepsBarsInRange();
    void cancelUnloadsAndTheNextUpdateReloadsHidden();
    void minimizeHidesTheWindow();
    void helpWindowFromTheEntryPathClosesWithClose();
    void mimeProgressWindowShowsCaptionLinesAndBar();
};

void EngineWindowsTest::mimeProgressWindowShowsCaptionLinesAndBar() {
    QtMimeWindows windows;
    auto progress = windows.OpenProgress("Decoding...", "/tmp/in.eml", "TO /tmp/out.txt", 1, 100);
    QWidget* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "mimeProgress" && w->isVisible()) shown = w;
    QVERIFY(shown);
    QCOMPARE(shown->windowTitle(), QString("Decoding..."));
    auto labels = shown->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels[1]->text(), QString("TO /tmp/out.txt"));
    auto* bar = shown->findChild<QProgressBar*>();
    QCOMPARE(bar->minimum(), 1);
    QCOMPARE(bar->maximum(), 100);
    progress->SetValue(42);
    QCOMPARE(bar->value(), 42);
    progress.reset();
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(w->objectName() != "mimeProgress");
}

void EngineWindowsTest::statusWindowShowsLinesAndKeepsBarsInRange() {
    QtStatusWindow window;
    SetWindow(&window);
    window.Load();
    FrmMain* form = window.Form();
    QVERIFY(form);
    QCOMPARE(form->windowTitle(), QString("Parsing Messages"));
    QCOMPARE(form->cmdCancel->text(), QString("&Cancel"));
    QCOMPARE(form->sysTimer->interval(), 500);
    QVERIFY(!form->isVisible());

    DoGUIStatus(0, "Connecting To: inbox", 1);
    // A count and a text take turns on one line; the last one set is shown.
    DoGUICount(30, "Using Template: ", 1, 3, 2);
    DoGUIStatus(150, "Using Template: 2 of 3", 2);
    DoGUIStatus(0, "Messages...", 3);
    DoGUICount(75, "Parsing message: ", 3, 4, 3);
    // Updates in quick succession reach the widgets together, once the paint interval is over,
    // without a further update to carry them.
    QTRY_COMPARE(form->lblTemplateStautus->text(), QString("Using Template: 2 of 3"));
    QCOMPARE(form->lblConnection->text(), QString("Connecting To: inbox"));
    QCOMPARE(form->prgTemplates->value(), 30);
    QCOMPARE(form->lblMsgStatus->text(), QString("Parsing message: 3 of 4"));
    QTRY_COMPARE(form->prgMsg->value(), 75);
    window.EnableTimer();
    QVERIFY(form->sysTimer->isActive());
    window.Show();
    QVERIFY(form->isVisible());
    SetWindow(nullptr);
}

void EngineWindowsTest::cancelUnloadsAndTheNextUpdateReloadsHidden() {
    QtStatusWindow window;
    SetWindow(&window);
    window.Show();
    QPointer<FrmMain> first = window.Form();
    QTest::mouseClick(first->cmdCancel, Qt::LeftButton);
    QVERIFY(window.Form() == nullptr);
    QTRY_VERIFY(first.isNull());  // deleted once control is back in the event loop

    DoGUIStatus(10, "Parsing message: 2 of 9", 3);
    QVERIFY(window.Form() != nullptr);
    QVERIFY(!window.Form()->isVisible());
    QTRY_COMPARE(window.Form()->lblMsgStatus->text(), QString("Parsing message: 2 of 9"));
    QTRY_COMPARE(window.Form()->prgMsg->value(), 10);
    SetWindow(nullptr);
}

void EngineWindowsTest::minimizeHidesTheWindow() {
    QtStatusWindow window;
    window.Show();
    FrmMain* form = window.Form();
    QVERIFY(form->isVisible());
    form->setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!form->isVisible());
    QVERIFY(!(form->windowState() & Qt::WindowMinimized));
    // Status updates do not bring it back.
    SetWindow(&window);
    DoGUIStatus(0, "Connected To: inbox", 1);
    QVERIFY(!form->isVisible());
    SetWindow(nullptr);
}

void EngineWindowsTest::helpWindowFromTheEntryPathClosesWithClose() {
    tallix::testing::IsolatedEnvironment env;
    std::filesystem::create_directories(env.ProgramDir() + "/templates");
    SetProgramIdentity("txengine", "txEngine");
    QtStatusWindow window;
    SetWindow(&window);
    tallix::ui::QtUserInterface ui;
    SetUi(&ui);

    // The help window appears once start-up has read the settings and the command line;
    // a polling timer finds it, reads it and presses Close.
    QString caption, switches, descriptions, button;
    bool readOnly = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* help = qobject_cast<FrmHelp*>(w);
            if (!help || !help->isVisible()) continue;
            poll.stop();
            caption = help->windowTitle();
            switches = help->Text1->toPlainText();
            descriptions = help->txtInfo->toPlainText();
            button = help->cmdOK->text();
            readOnly = help->Text1->isReadOnly() && help->txtInfo->isReadOnly() && help->isModal();
            QTest::mouseClick(help->cmdOK, Qt::LeftButton);
            return;
        }
    });
    poll.start();
    bool ran = false;
    EngineHooks hooks;
    hooks.showHelp = [] {
        FrmHelp help;
        help.exec();
    };
    hooks.runSources = [&](RunContext&, const std::string&) { ran = true; };
    QCOMPARE(EngineMain("/?", hooks), 0);
    QVERIFY(!ran);
    QVERIFY(readOnly);
    QCOMPARE(caption, QString("Command Line Options"));
    QCOMPARE(button, QString("Close"));
    QCOMPARE(switches, QString("/?\n/s\n\n/sx\n\n/f<filename>\n\n\n/test NAME [FILE]\n\n\n\n"
                               "/watch\n\n\n/forget NAME\n\n\nExit status\n\n\n"));
    QVERIFY(descriptions.startsWith("Displays this dialog\nRuns in silent mode. Does not show \n"));
    QVERIFY(descriptions.contains("Without this parameter all templates are \nran.\n"));
    QVERIFY(descriptions.contains("extracts. Writes and deletes nothing.\n"));
    QVERIFY(descriptions.endsWith("2: wrong arguments (/test, /forget)."));
    SetUi(nullptr);
    SetWindow(nullptr);
}

QTEST_MAIN(EngineWindowsTest)
#include "engine_windows_qttest.moc"
