// The template manager through its real windows on the offscreen platform: message boxes
// are scripted, and every case looks at the files on disk as well as at the list.
#include <sys/stat.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "engine/processed_store.h"
#include "engine/run_lock.h"
#include "manager/client_procs.h"
#include "manager/geometry.h"
#include "manager/main_window.h"
#include "manager/manager_windows.h"
#include "manager/run_panel.h"
#include "manager/template_edit.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "tests/manager/manager_fixture.h"
#include "tests/support/engine_without_window.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

using namespace tallix;
using namespace tallix::manager;
using tallix::testing::ReadBack;
namespace fs = std::filesystem;
using tallix::testing::EngineWithoutWindow;
using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

namespace {

std::string TemplateText(bool active, const std::string& lastRan, const std::string& outputFile) {
    return std::string("[General]\r\nActive=") + (active ? "True" : "False") +
           "\r\nNum_Variables=1\r\nLast_Ran=" + lastRan +
           "\r\n[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=Order\r\n[Variables]\r\n"
           "Var1=Code;MSG_TEXT;Code:;{End of Line};0;0;1;0;0\r\n[Output]\r\nAllowDuplicate=True\r\n"
           "File=" +
           outputFile +
           "\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=Code\r\n"
           "[Scripts]\r\nrun=\r\n";
}

// One manager as Main leaves it, over a private program directory and settings file.
struct Manager : tallix::testing::ManagerFixture {
    Manager() {
        // Commands that open the template editor record its name and leave it unsaved.
        SetEditorRunner(
            [this](FrmTemplateEdit& editor) { editedNames.push_back(editor.Draft().name); });
    }
    ~Manager() { SetEditorRunner({}); }
    std::vector<std::string> editedNames;

    void AddTemplate(const std::string& name, bool active = true,
                     const std::string& lastRan = "Never") {
        WriteFileBytes(TemplatePath(name),
                       TemplateText(active, lastRan, env.ProgramDir() + "/out.csv"));
    }
    std::string SelectedName() const { return FrmMain::RowText(form->SelectedItem()); }
};

}  // namespace

class ManagerTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void startUpShowsMissingSourceAndFillsListInOrder();
    void firstStartMakesTheDefaultDirectoriesOnly();
    void emptyDirectoryCommandsShowTheirNoSelectionMessages();
    void copyNamesCountUpAndReuseAFreedNumber();
    void copyThatCannotBeWrittenIsNamedAndNotOpened();
    void newTemplateNameSkipsTakenNames_data();
    void newTemplateNameSkipsTakenNames();
    void templateNameChecks_data();
    void templateNameChecks();
    void toggleWritesFileAndRowAndKeepsTheEnginesStamp();
    void toggleOrCopyOfARemovedFileReportsAndRefills();
    void toggleOfAReadOnlyTemplateIsNamedAndTheRowKept();
    void lastMatchAndTheStoppedMatchingMarkComeFromTheRecord();
    void deleteAsksAndRemovesOnlyOnOk();
    void parseCurrentRunsTheEngineAndRefreshesLastRun();
    void parseCurrentPassesALongNameWhole();
    void missingEngineShowsMessageAndDoesNotRefill();
    void examplesModeRunsTheExamplesAndThePanelSummarises();
    void stopRunEndsTheEngineAfterTheCurrentMessage();
    void parseWhileAnotherRunHoldsTheLockSaysSo();
    void geometryIsStoredAndRestoredInTwips();
    void closingMinimizedKeepsStoredGeometry();
    void geometryBeyondTheScreenIsBroughtOnto();
    void narrowStoredWidthIsRaisedAtFirstResize();
    void printSendsTheTemplateTextToThePrinter();
    void logViewerShowsMissingMessageOrTheLog();
    void helpOpensContextPagesAndIndex();
    void examplesModeSwitchesOnlyAfterOk();
    void everyCommandIsEnabledAndEditOpensTheEditor();
    void splashAndAboutShowVersionAndNames();
};

void ManagerTest::startUpShowsMissingSourceAndFillsListInOrder() {
    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    SetProgramIdentity("tallix", "Tallix");
    ResetSettings();
    ResetManagerState();
    const std::string dir = env.ProgramDir() + "/templates";
    fs::create_directories(dir);
    for (const char* name : {"beta", "Alpha", "gamma"})
        WriteFileBytes(dir + "/" + name + ".txf", TemplateText(true, "Never", "x.csv"));
    WriteFileBytes(dir + "/notes.txt", "not a template");
    // Listed as the engine runs them: any case of the extension; no hidden file, no folder.
    WriteFileBytes(dir + "/Delta.TXF", TemplateText(true, "Never", "x.csv"));
    WriteFileBytes(dir + "/.hidden.txf", TemplateText(true, "Never", "x.csv"));
    fs::create_directories(dir + "/folder.txf");
    WriteFileBytes(env.ProgramDir() + "/POP3.CFG",
                   "[GENERAL]\r\nCount=2\r\n[NAMES]\r\nConfig1=Home\r\nConfig2=Work\r\n"
                   "[Home]\r\nHostName=pop.example.org\r\n[Work]\r\nHostName=mail.example.com\r\n");

    std::unique_ptr<FrmMain> form = Main();
    QVERIFY(form);
    QVERIFY(State().startupComplete);
    // The stored accounts are loaded, in the file's order.
    QVERIFY(State().pop3Configs);
    QCOMPARE(State().pop3Configs->Count(), 2);
    QCOMPARE(State().pop3Configs->Item(2)->HostName(), std::string("mail.example.com"));
    // The template directory was missing from the settings: its default is written back.
    QCOMPARE(GetRegData(kSettingsSection, "TemplateDir"), dir);
    QCOMPARE(State().pop3ConfigPath, env.ProgramDir() + "/POP3.CFG");
    QCOMPARE(ui.boxes.size(), std::size_t(1));
    QCOMPARE(ui.boxes[0].title, std::string("Error"));
    QCOMPARE(ui.boxes[0].text, std::string(kMsgSourceNotSet));
    QCOMPARE(form->lvMainList->topLevelItemCount(), 4);
    QCOMPARE(form->lvMainList->topLevelItem(0)->text(kColName), QString("Alpha"));
    QCOMPARE(form->lvMainList->topLevelItem(1)->text(kColName), QString("beta"));
    QCOMPARE(form->lvMainList->topLevelItem(2)->text(kColName), QString("Delta"));
    QCOMPARE(FrmMain::RowTag(form->lvMainList->topLevelItem(3)), dir + "/gamma.txf");
    QCOMPARE(form->lvMainList->topLevelItem(3)->text(kColActive), QString("True"));
    QCOMPARE(form->lvMainList->topLevelItem(3)->text(kColLastRun), QString("Never"));
    QCOMPARE(form->windowTitle(), QString("Tallix"));

    QVERIFY(!form->isVisible());
    ExitSplash();
    QVERIFY(form->isVisible());
    form->close();
    SetMainForm(nullptr);
}

void ManagerTest::firstStartMakesTheDefaultDirectoriesOnly() {
    // A fresh program directory: no settings, no template or script directory.
    {
        tallix::testing::IsolatedEnvironment env;
        tallix::testing::ScriptedUi ui;
        SetProgramIdentity("tallix", "Tallix");
        ResetSettings();
        ResetManagerState();
        SaveRegData(kSettingsSection, "UseSource", "NETSCAPE");
        std::unique_ptr<FrmMain> form = Main();
        QVERIFY(form);
        QVERIFY2(ui.boxes.empty(), ui.boxes.empty() ? "" : ui.boxes[0].text.c_str());
        for (const char* name : {"/templates", "/scripts"}) {
            const fs::path dir = env.ProgramDir() + name;
            QVERIFY2(fs::is_directory(dir), dir.c_str());
            QCOMPARE(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);
        }
        QCOMPARE(form->lvMainList->topLevelItemCount(), 0);
        // Options > OK with the default directory shows nothing either.
        form->close();
        SetMainForm(nullptr);
    }
    // Directories the user chose are not made: the missing template directory is reported.
    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    SetProgramIdentity("tallix", "Tallix");
    ResetSettings();
    ResetManagerState();
    const std::string templates = env.ProgramDir() + "/mine/templates";
    const std::string scripts = env.ProgramDir() + "/mine/scripts";
    SaveRegData(kSettingsSection, "UseSource", "NETSCAPE");
    SaveRegData(kSettingsSection, "TemplateDir", templates);
    SaveRegData(kSettingsSection, "ScriptDir", scripts);
    std::unique_ptr<FrmMain> form = Main();
    QCOMPARE(ui.boxes.size(), std::size_t(1));
    QCOMPARE(ui.boxes[0].text,
             std::string("The template directory could not be found.\n"
                         "Please define a valid directory in the System Options Dialog"));
    QVERIFY(!fs::exists(env.ProgramDir() + "/mine"));
    QVERIFY(!fs::exists(env.ProgramDir() + "/templates"));
    QVERIFY(!fs::exists(env.ProgramDir() + "/scripts"));
    form->close();
    SetMainForm(nullptr);
}

void ManagerTest::emptyDirectoryCommandsShowTheirNoSelectionMessages() {
    Manager m;
    GetTempFiles();
    QCOMPARE(m.form->lvMainList->topLevelItemCount(), 0);
    struct Case {
        std::function<void()> command;
        std::string text;
        std::string title;
        MsgIcon icon;
    };
    const std::vector<Case> cases = {
        {[&] { EditTemplate(false); }, std::string(kMsgSelectToEdit), "", MsgIcon::None},
        {[&] { m.form->mnuEditCopy->trigger(); }, std::string(kMsgSelectToEdit), "", MsgIcon::None},
        {[&] { m.form->mnuEditToggleActive->trigger(); }, std::string(kMsgSelectToEdit), "",
         MsgIcon::None},
        {[&] { m.form->mnuEditDelete->trigger(); }, std::string(kMsgNoTemplateSelected), "Error",
         MsgIcon::Exclamation},
        {[&] { m.form->mnuParseCurrent->trigger(); }, std::string(kMsgSelectTemplate), "",
         MsgIcon::None},
        {[&] { m.form->tbParse->trigger(); }, std::string(kMsgSelectTemplate), "", MsgIcon::None},
        {[&] { m.form->mnuFilePrint->trigger(); }, std::string(kMsgNoSelectedItem), "",
         MsgIcon::None},
    };
    for (const Case& c : cases) {
        m.ui.boxes.clear();
        c.command();
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, c.text);
        if (!c.title.empty()) QCOMPARE(m.ui.boxes[0].title, c.title);
        QCOMPARE(m.ui.boxes[0].icon, c.icon);
    }
    QVERIFY(fs::is_empty(m.TemplateDir()));
    QCOMPARE(m.form->lvMainList->topLevelItemCount(), 0);
}

void ManagerTest::copyNamesCountUpAndReuseAFreedNumber() {
    Manager m;
    m.AddTemplate("Orders", false, "3/1/2026 9:00:00 AM");
    GetTempFiles();
    m.Select("Orders");
    m.form->mnuEditCopy->trigger();
    QCOMPARE(m.SelectedName(), std::string("Copy (1) of Orders"));
    // The copy opens in the editor as an existing template.
    QCOMPARE(m.editedNames, std::vector<std::string>({"Copy (1) of Orders"}));
    QVERIFY(!State().newTemplate);
    m.Select("Orders");
    m.form->tbCopy->trigger();
    QCOMPARE(m.SelectedName(), std::string("Copy (2) of Orders"));
    QCOMPARE(m.Rows(), QStringList({"Copy (1) of Orders", "Copy (2) of Orders", "Orders"}));

    // The copy holds the template with a fresh last run.
    auto copy = ReadBack(m.TemplatePath("Copy (1) of Orders"));
    QCOMPARE(copy->LastRan(), std::string("Never"));
    QCOMPARE(copy->Active(), false);
    QCOMPARE(copy->VariableCount(), 1);
    QCOMPARE(copy->OutputFile(), m.env.ProgramDir() + "/out.csv");

    // Delete moves the file to the desktop's trash, from where it can be put back.
    m.Select("Copy (1) of Orders");
    m.ui.QueueAnswer(MsgAnswer::Ok);
    DoDelete();
    QVERIFY(!fs::exists(m.TemplatePath("Copy (1) of Orders")));
    QVERIFY(fs::exists(std::string(std::getenv("XDG_DATA_HOME")) +
                       "/Trash/files/Copy (1) of Orders.txf"));
    m.Select("Orders");
    CopyCurrentTemplate();
    QCOMPARE(m.SelectedName(), std::string("Copy (1) of Orders"));
    QVERIFY(fs::exists(m.TemplatePath("Copy (1) of Orders")));
    QCOMPARE(FileCopyNum("Orders"), std::string("Copy (3) of Orders"));
    QVERIFY(m.ui.boxes.size() == 1);  // only the delete question
}

void ManagerTest::copyThatCannotBeWrittenIsNamedAndNotOpened() {
    Manager m;
    m.AddTemplate("Orders");
    // Something that is no template file holds the copy's name (folders are not listed).
    fs::create_directories(m.TemplatePath("Copy (1) of Orders"));
    GetTempFiles();
    m.Select("Orders");
    m.form->mnuEditCopy->trigger();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.ui.boxes[0].text, "Cannot save the current changes.\n" +
                                     m.TemplatePath("Copy (1) of Orders") + ": Is a directory");
    QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Critical);
    QVERIFY(m.editedNames.empty());
    QCOMPARE(m.Rows(), QStringList{"Orders"});
    QVERIFY(fs::is_directory(m.TemplatePath("Copy (1) of Orders")));
}

void ManagerTest::newTemplateNameSkipsTakenNames_data() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty list") << QStringList{} << "Untitled";
    QTest::newRow("free") << QStringList{"Orders"} << "Untitled";
    QTest::newRow("taken once") << QStringList{"Untitled"} << "Untitled1";
    QTest::newRow("taken twice") << QStringList{"Untitled", "Untitled1"} << "Untitled12";
    QTest::newRow("other case is another name") << QStringList{"untitled"} << "Untitled";
}

void ManagerTest::newTemplateNameSkipsTakenNames() {
    QFETCH(QStringList, rows);
    QFETCH(QString, expected);
    Manager m;
    for (const QString& r : rows) m.AddTemplate(r.toStdString());
    GetTempFiles();
    QCOMPARE(QString::fromStdString(NewTemplateName()), expected);
}

void ManagerTest::templateNameChecks_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("anyRow");
    QTest::addColumn<bool>("good");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("blank") << "   " << true << false << "File name cannot be blank."
                           << "";
    QTest::newRow("placeholder") << "<Untitled>" << true << false << "Invalid template name"
                                 << "<Untitled>";
    QTest::newRow("path") << "../../etc/Orders" << true << false << "Invalid template name"
                          << "../../etc/Orders";
    QTest::newRow("folder") << "new/Orders" << true << false << "Invalid template name"
                            << "new/Orders";
    QTest::newRow("hidden") << " .Orders" << true << false << "Invalid template name"
                            << ".Orders";
    // The engine would read these as its options instead of a template to run.
    QTest::newRow("short switch") << "-h" << true << false << "Invalid template name"
                                  << "-h";
    QTest::newRow("long switch") << " --help " << false << false << "Invalid template name"
                                 << "--help";
    QTest::newRow("version switch") << "--version" << true << false << "Invalid template name"
                                    << "--version";
    QTest::newRow("dash inside") << "Orders-2024" << true << true << ""
                                 << "Orders-2024";
    QTest::newRow("taken") << " Orders " << true << false << "This template name already exist"
                           << "Orders";
    QTest::newRow("other case") << "orders" << true << true << ""
                                << "orders";
    QTest::newRow("own row selected") << "Orders" << false << true << ""
                                      << "Orders";
    QTest::newRow("another row") << "Invoices" << false << false
                                 << "This template name already exist"
                                 << "Invoices";
    QTest::newRow("new name") << "Receipts" << true << true << ""
                              << "Receipts";
}

void ManagerTest::templateNameChecks() {
    QFETCH(QString, name);
    QFETCH(bool, anyRow);
    QFETCH(bool, good);
    QFETCH(QString, message);
    QFETCH(QString, trimmed);
    Manager m;
    m.AddTemplate("Orders");
    m.AddTemplate("Invoices");
    GetTempFiles();
    m.Select("Orders");
    std::string n = name.toStdString(), msg = "stale";
    QCOMPARE(IsGoodFileName(n, msg, anyRow), good);
    QCOMPARE(QString::fromStdString(msg), message);
    QCOMPARE(QString::fromStdString(n), trimmed);
    QCOMPARE(MakeFileName(" Orders "), m.TemplatePath("Orders"));
}

void ManagerTest::toggleWritesFileAndRowAndKeepsTheEnginesStamp() {
    Manager m;
    m.AddTemplate("Orders", true);
    GetTempFiles();
    m.Select("Orders");
    // The engine stamps the file after the list was filled; the row still shows "Never".
    WriteFileBytes(m.TemplatePath("Orders"),
                   TemplateText(true, "3/2/2026 10:00:00", m.env.ProgramDir() + "/out.csv"));
    m.form->mnuEditToggleActive->trigger();
    auto t = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(t->Active(), false);
    QCOMPARE(t->LastRan(), std::string("3/2/2026 10:00:00"));
    QCOMPARE(t->VariableCount(), 1);
    QTreeWidgetItem* row = m.form->FindRow("Orders");
    QCOMPARE(row->text(kColActive), QString("False"));
    QCOMPARE(row->text(kColLastRun), QString("3/2/2026 10:00:00"));

    m.form->tbToggleActive->trigger();
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->Active(), true);
    QCOMPARE(row->text(kColActive), QString("True"));
    QVERIFY(m.ui.boxes.empty());
}

void ManagerTest::toggleOrCopyOfARemovedFileReportsAndRefills() {
    for (int command = 0; command < 2; ++command) {
        Manager m;
        m.AddTemplate("Orders");
        m.AddTemplate("Gone");
        GetTempFiles();
        m.Select("Gone");
        fs::remove(m.TemplatePath("Gone"));
        if (command == 0)
            ToggleActivityFlag();
        else
            CopyCurrentTemplate();
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QVERIFY(m.LastBoxText().find(kMsgTemplateGone) == 0);
        QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
        // Nothing written from an empty template, and the list shows what is there.
        QVERIFY(!fs::exists(m.TemplatePath("Gone")));
        QVERIFY(!fs::exists(m.TemplatePath("Copy (1) of Gone")));
        QCOMPARE(m.Rows(), QStringList({"Orders"}));
    }
}

void ManagerTest::toggleOfAReadOnlyTemplateIsNamedAndTheRowKept() {
    Manager m;
    m.AddTemplate("Orders", true);
    const std::string path = m.TemplatePath("Orders");
    const std::string before = ReadFileBytes(path);
    QCOMPARE(::chmod(path.c_str(), 0444), 0);
    GetTempFiles();
    m.Select("Orders");
    m.form->mnuEditToggleActive->trigger();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.LastBoxText(),
             "Cannot save the current changes.\n" + path + ": " + std::strerror(EACCES));
    QCOMPARE(ReadFileBytes(path), before);
    QCOMPARE(m.form->FindRow("Orders")->text(kColActive), QString("True"));
}

void ManagerTest::lastMatchAndTheStoppedMatchingMarkComeFromTheRecord() {
    Manager m;
    for (const char* name : {"Orders", "Parts", "Fresh", "Quiet"}) m.AddTemplate(name);
    const std::string record = m.env.ProgramDir() + "/Processed.db";
    // Without a record every template shows "Never", and none is made by looking.
    GetTempFiles();
    QCOMPARE(m.form->FindRow("Orders")->text(kColLastMatch), QString("Never"));
    QVERIFY(!fs::exists(record));

    const std::time_t day = 1772409600;  // 2026-03-02 00:00:00 UTC
    {
        engine::ProcessedStore store;
        QCOMPARE(store.Open(record), std::string());
        // Orders matched in three runs and then in none; Parts matches still; Quiet never did.
        for (int run = 0; run < 4; ++run)
            QCOMPARE(store.NoteRun("Orders.txf", {day + run * 3600, 5, run < 3 ? 2 : 0}),
                     std::string());
        QCOMPARE(store.NoteRun("Parts.txf", {day + 100, 3, 0}), std::string());
        QCOMPARE(store.NoteRun("Parts.txf", {day + 200, 3, 1}), std::string());
        QCOMPARE(store.NoteRun("Quiet.txf", {day + 300, 3, 0}), std::string());
        // Read while a run has the record open.
        QCOMPARE(store.SelectSource("NETSCAPE", "/mail/inbox"), std::string());
        GetTempFiles();
    }
    QCOMPARE(m.Rows(), QStringList({"Fresh", "Orders", "Parts", "Quiet"}));
    const auto cell = [&](const char* name) {
        return m.form->FindRow(name)->text(kColLastMatch).toStdString();
    };
    QCOMPARE(QString::fromStdString(cell("Orders")),
             QString::fromStdString(ShownRunTime(day + 2 * 3600)));
    QCOMPARE(cell("Parts"), ShownRunTime(day + 200));
    QCOMPARE(cell("Quiet"), std::string("Never"));
    QCOMPARE(cell("Fresh"), std::string("Never"));
    QVERIFY(ShownRunTime(day + 200).find("/2026 ") != std::string::npos);
    // Only the template that stopped matching is marked, with the reason in its tips.
    const QTreeWidgetItem* orders = m.form->FindRow("Orders");
    QVERIFY(!orders->icon(kColName).isNull());
    QCOMPARE(orders->toolTip(kColName).toStdString(), std::string(kTipStoppedMatching));
    QCOMPARE(orders->toolTip(kColLastMatch).toStdString(), std::string(kTipStoppedMatching));
    for (const char* name : {"Parts", "Quiet", "Fresh"}) {
        QVERIFY2(m.form->FindRow(name)->icon(kColName).isNull(), name);
        QVERIFY2(m.form->FindRow(name)->toolTip(kColName).isEmpty(), name);
    }
    QCOMPARE(m.form->FindRow("Fresh")->toolTip(kColLastMatch).toStdString(),
             std::string(kTipNoRunRecorded));

    // A damaged record is named in the column's tips instead.
    fs::remove(record + "-wal");
    fs::remove(record + "-shm");
    WriteFileBytes(record, std::string(4096, 'x'));
    GetTempFiles();
    QCOMPARE(cell("Orders"), std::string());
    QVERIFY(m.form->FindRow("Orders")->icon(kColName).isNull());
    const std::string tip = m.form->FindRow("Orders")->toolTip(kColLastMatch).toStdString();
    QVERIFY2(tip.rfind(std::string(kMsgRecordUnreadable) + record + ": ", 0) == 0, tip.c_str());
    QVERIFY(m.ui.boxes.empty());
}

void ManagerTest::deleteAsksAndRemovesOnlyOnOk() {
    Manager m;
    m.AddTemplate("Orders");
    m.AddTemplate("Keep");
    GetTempFiles();
    m.Select("Orders");
    m.ui.QueueAnswer(MsgAnswer::Cancel);
    m.form->mnuEditDelete->trigger();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.ui.boxes[0].text, std::string("Delete the selected file"));
    QCOMPARE(m.ui.boxes[0].title, std::string("Tallix"));
    QCOMPARE(m.ui.boxes[0].buttons, MsgButtons::OkCancel);
    QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Question);
    QVERIFY(fs::exists(m.TemplatePath("Orders")));
    QCOMPARE(m.Rows().size(), 2);

    m.ui.QueueAnswer(MsgAnswer::Ok);
    m.form->tbDelete->trigger();
    QVERIFY(!fs::exists(m.TemplatePath("Orders")));
    QVERIFY(fs::exists(m.TemplatePath("Keep")));
    QCOMPARE(m.Rows(), QStringList({"Keep"}));
}

namespace {

// Settings and a one-message mailbox for the real engine.
void PrepareEngineRun(Manager& m) {
    m.LinkEngine(TALLIX_BIN_DIR);
    m.PrepareMailboxRun(
        "From - Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\nTo: Shop "
        "<shop@example.com>\nSubject: Order 7\nDate: Mon, 02 Mar 2026 09:00:00 +0100\n\nCode: "
        "Z-7\n\n");
}

}  // namespace

void ManagerTest::parseCurrentRunsTheEngineAndRefreshesLastRun() {
    Manager m;
    EngineWithoutWindow windowless;
    PrepareEngineRun(m);
    m.AddTemplate("Orders");
    WriteFileBytes(m.TemplatePath("Other"),
                   TemplateText(true, "Never", m.env.ProgramDir() + "/other.csv"));
    GetTempFiles();
    m.Select("Orders");
    m.form->mnuParseCurrent->trigger();
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QVERIFY(m.form->isEnabled());
    QCOMPARE(ReadFileBytes(m.env.ProgramDir() + "/out.csv"), std::string("Z-7\r\n"));
    // Only the selected template ran.
    QVERIFY(!fs::exists(m.env.ProgramDir() + "/other.csv"));
    QCOMPARE(m.SelectedName(), std::string("Orders"));
    const QString lastRun = m.form->FindRow("Orders")->text(kColLastRun);
    QVERIFY2(lastRun != "Never" && !lastRun.isEmpty(), qPrintable(lastRun));
    QCOMPARE(m.form->FindRow("Other")->text(kColLastRun), QString("Never"));
}

void ManagerTest::parseCurrentPassesALongNameWhole() {
    Manager m;
    EngineWithoutWindow windowless;
    PrepareEngineRun(m);
    // With the program directory in front, the engine's command line is far longer than 255
    // characters; the name must arrive whole or another template (or none) would run.
    const std::string longName = std::string(230, 'n') + " with blanks";
    m.AddTemplate(longName);
    WriteFileBytes(m.TemplatePath(std::string(230, 'n')),
                   TemplateText(true, "Never", m.env.ProgramDir() + "/wrong.csv"));
    GetTempFiles();
    m.Select(longName);
    QVERIFY(EnginePath().size() + 1 + longName.size() > 255);
    ParseCurrent();
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(ReadFileBytes(m.env.ProgramDir() + "/out.csv"), std::string("Z-7\r\n"));
    QVERIFY(!fs::exists(m.env.ProgramDir() + "/wrong.csv"));
    QCOMPARE(m.SelectedName(), longName);
}

void ManagerTest::examplesModeRunsTheExamplesAndThePanelSummarises() {
    Manager m;
    EngineWithoutWindow windowless;
    PrepareEngineRun(m);
    m.AddTemplate("Mine");
    const std::string sample = m.env.ProgramDir() + "/sample.csv";
    fs::create_directories(m.env.ProgramDir() + "/Examples");
    WriteFileBytes(m.env.ProgramDir() + "/Examples/Sample.txf",
                   TemplateText(true, "Never", sample));
    m.ui.QueueAnswer(MsgAnswer::Ok);
    m.form->mnuHelpExamples->trigger();
    m.Select("Sample");
    m.form->mnuParseCurrent->trigger();
    QVERIFY2(m.ui.boxes.size() == 1, m.LastBoxText().c_str());  // the switch's own box
    QCOMPARE(ReadFileBytes(sample), std::string("Z-7\r\n"));
    m.form->mnuParseAll->trigger();
    QCOMPARE(ReadFileBytes(sample), std::string("Z-7\r\nZ-7\r\n"));
    // The user's own template never ran, though the settings name its directory.
    QVERIFY(!fs::exists(m.env.ProgramDir() + "/out.csv"));

    // The panel: the run's result, and the output file and its folder one click away.
    RunPanel& panel = *m.form->dockRun;
    QVERIFY(panel.isVisible() || !m.form->isVisible());
    QCOMPARE(panel.lblRunState->text(), QString("Run finished: 1 line written."));
    QCOMPARE(panel.lvSummary->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = panel.lvSummary->topLevelItem(0);
    QCOMPARE(row->text(kColSumTemplate), QString("Sample.txf"));
    QCOMPARE(row->text(kColSumLines), QString("1"));
    QCOMPARE(row->text(kColSumFailures), QString("0"));
    std::vector<QUrl> opened;
    RunPanel::SetOpener([&](const QUrl& url) { opened.push_back(url); });
    panel.cmdOpenOutput->click();
    panel.cmdOpenFolder->click();
    RunPanel::SetOpener({});
    QCOMPARE(opened.size(), std::size_t(2));
    QCOMPARE(opened[0].toLocalFile().toStdString(), sample);
    QCOMPARE(opened[1].toLocalFile().toStdString(), m.env.ProgramDir());
}

void ManagerTest::stopRunEndsTheEngineAfterTheCurrentMessage() {
    Manager m;
    EngineWithoutWindow windowless;
    m.LinkEngine(TALLIX_BIN_DIR);
    constexpr int kMessages = 300000;
    std::string mailbox;
    for (int i = 0; i < kMessages; ++i)
        mailbox +=
            "From - Mon Mar  2 09:00:00 2026\nFrom: Ann <ann@example.org>\nTo: Shop "
            "<shop@example.com>\nSubject: Order " +
            std::to_string(i) + "\n\nCode: Z-" + std::to_string(i) + "\n\n";
    m.PrepareMailboxRun(mailbox);
    m.AddTemplate("Orders");
    GetTempFiles();

    // Stop as soon as the panel shows the engine reading messages.
    RunPanel& panel = *m.form->dockRun;
    QTimer watch;
    watch.setInterval(20);
    bool stopped = false;
    connect(&watch, &QTimer::timeout, [&] {
        if (!stopped && panel.cmdStopRun->isEnabled() &&
            panel.lblRunState->text().startsWith("Reading message")) {
            QVERIFY(!m.form->mnuParseAll->isEnabled());  // no second run meanwhile
            panel.cmdStopRun->click();
            stopped = true;
        }
    });
    watch.start();
    m.form->mnuParseAll->trigger();
    watch.stop();
    QVERIFY(stopped);
    const QString state = panel.lblRunState->text();
    QVERIFY2(state.startsWith("Run stopped after message "), qPrintable(state));
    const int n = state.section(' ', 4, 4).toInt();
    QVERIFY2(n > 0 && n < kMessages, qPrintable(state));
    // Every message up to the stop wrote its whole line; none after it.
    const std::string out = ReadFileBytes(m.env.ProgramDir() + "/out.csv");
    QCOMPARE(std::count(out.begin(), out.end(), '\n'), std::ptrdiff_t(n));
    QVERIFY(out.size() >= 2 && out.substr(out.size() - 2) == "\r\n");
    QVERIFY(m.form->mnuParseAll->isEnabled());
    QVERIFY(m.form->lvMainList->isEnabled());
}

void ManagerTest::parseWhileAnotherRunHoldsTheLockSaysSo() {
    Manager m;
    EngineWithoutWindow windowless;
    PrepareEngineRun(m);
    m.AddTemplate("Orders");
    GetTempFiles();
    // Another engine, watching the mailbox, holds the run lock until it is told to end.
    QProcess other;
    other.setProgram(QString::fromStdString(EnginePath()));
    other.setArguments({"/sx", "/watch"});
    other.start();
    QVERIFY(other.waitForStarted());
    const std::string lock = m.env.ProgramDir() + "/txengine.lock";
    QTRY_VERIFY_WITH_TIMEOUT(
        engine::RunLock().Take(lock, std::chrono::milliseconds(0)) == engine::kAnotherRun, 10000);
    // The other engine's own run.
    const std::string written = "Z-7\r\n";
    QTRY_COMPARE_WITH_TIMEOUT(ReadFileBytes(m.env.ProgramDir() + "/out.csv"), written, 10000);

    qputenv(engine::kRunLockWaitVariable, "1");
    RunPanel& panel = *m.form->dockRun;
    QStringList states;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, [&] {
        if (states.isEmpty() || states.back() != panel.lblRunState->text())
            states << panel.lblRunState->text();
    });
    watch.start();
    m.Select("Orders");
    m.form->mnuParseCurrent->trigger();
    watch.stop();
    qunsetenv(engine::kRunLockWaitVariable);
    QVERIFY2(states.contains("Waiting for another run to end..."), qPrintable(states.join('|')));
    QCOMPARE(panel.lblRunState->text(),
             QString("Another run is in progress: the run did not start."));
    QCOMPARE(ReadFileBytes(m.env.ProgramDir() + "/out.csv"), written);
    QVERIFY(m.form->mnuParseAll->isEnabled());

    // Stop while it waits ends the engine then, and says so.
    connect(&watch, &QTimer::timeout, [&] {
        if (panel.cmdStopRun->isEnabled() &&
            panel.lblRunState->text() == "Waiting for another run to end...")
            panel.cmdStopRun->click();
    });
    watch.start();
    m.form->mnuParseAll->trigger();
    watch.stop();
    QCOMPARE(panel.lblRunState->text(),
             QString("Stopped while waiting for another run to end: the run did not start."));
    QCOMPARE(ReadFileBytes(m.env.ProgramDir() + "/out.csv"), written);

    other.terminate();  // SIGTERM to that process alone
    QVERIFY(other.waitForFinished(10000));
    QCOMPARE(other.exitCode(), 0);
}

void ManagerTest::missingEngineShowsMessageAndDoesNotRefill() {
    Manager m;
    m.AddTemplate("Orders");
    GetTempFiles();
    m.AddTemplate("Later");  // a refill would show it
    m.Select("Orders");
    m.form->mnuParseCurrent->trigger();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.ui.boxes[0].text, std::string("Unable to run the Tallix."));
    QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
    QCOMPARE(m.Rows(), QStringList({"Orders"}));
    QVERIFY(m.form->isEnabled());

    m.ui.boxes.clear();
    m.form->mnuParseAll->trigger();
    QCOMPARE(m.LastBoxText(), std::string("Unable to run the Tallix."));
    QCOMPARE(m.Rows(), QStringList({"Orders"}));
}

void ManagerTest::geometryIsStoredAndRestoredInTwips() {
    Manager m;
    const double dpi = m.form->logicalDpiX();
    // Defaults when nothing is stored.
    QCOMPARE(m.form->size(),
             QSize(TwipsToPixels(kDefaultMainWidth, dpi), TwipsToPixels(kDefaultMainHeight, dpi)));
    QCOMPARE(m.form->pos(),
             QPoint(TwipsToPixels(kDefaultMainLeft, dpi), TwipsToPixels(kDefaultMainTop, dpi)));
    // Closing unchanged keeps the stored numbers exactly, though 6500 twips is no whole
    // number of pixels: the size does not creep from one session to the next.
    m.form->show();
    m.form->close();
    QCOMPARE(GetRegData(kSettingsSection, "MainWidth"), std::string("6500"));
    QCOMPARE(GetRegData(kSettingsSection, "MainLeft"), std::string("1000"));
    m.form.reset();

    SaveRegData(kSettingsSection, "MainLeft", "1500");
    SaveRegData(kSettingsSection, "MainTop", "750");
    SaveRegData(kSettingsSection, "MainWidth", "9000");
    SaveRegData(kSettingsSection, "MainHeight", "6000 ");
    m.form = std::make_unique<FrmMain>();
    SetMainForm(m.form.get());
    QCOMPARE(m.form->pos(), QPoint(TwipsToPixels(1500, dpi), TwipsToPixels(750, dpi)));
    QCOMPARE(m.form->size(), QSize(TwipsToPixels(9000, dpi), TwipsToPixels(6000, dpi)));
    m.form->show();
    m.form->move(200, 80);
    m.form->resize(500, 350);
    m.form->mnuFileExit->trigger();
    QVERIFY(!m.form->isVisible());
    QCOMPARE(GetRegData(kSettingsSection, "MainLeft"), std::to_string(PixelsToTwips(200, dpi)));
    QCOMPARE(GetRegData(kSettingsSection, "MainTop"), std::to_string(PixelsToTwips(80, dpi)));
    QCOMPARE(GetRegData(kSettingsSection, "MainWidth"), std::to_string(PixelsToTwips(500, dpi)));
    QCOMPARE(GetRegData(kSettingsSection, "MainHeight"), std::to_string(PixelsToTwips(350, dpi)));
    // 15 twips to the pixel at 96 dpi, 10 at 144 dpi.
    QCOMPARE(PixelsToTwips(200, 96), 3000);
    QCOMPARE(TwipsToPixels(1500, 144), 150);
    QCOMPARE(PixelsToTwips(150, 144), 1500);
}

void ManagerTest::geometryBeyondTheScreenIsBroughtOnto() {
    // A size stored on a larger screen (or grown at a larger font) opens wholly on this one.
    Manager m;
    SaveRegData(kSettingsSection, "MainLeft", "90000");
    SaveRegData(kSettingsSection, "MainTop", "-4000");
    SaveRegData(kSettingsSection, "MainWidth", "400000");
    SaveRegData(kSettingsSection, "MainHeight", "6000");
    m.form = std::make_unique<FrmMain>();
    SetMainForm(m.form.get());
    const QRect area = m.form->screen()->availableGeometry();
    const QRect placed(m.form->pos(), m.form->size());
    QVERIFY2(area.contains(placed), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                   .arg(placed.x())
                                                   .arg(placed.y())
                                                   .arg(placed.width())
                                                   .arg(placed.height())));
    QCOMPARE(m.form->width(), area.width());
    QCOMPARE(m.form->height(), TwipsToPixels(6000, m.form->logicalDpiX()));

    QCOMPARE(FitSpan({-30, 50}, {0, 800}).start, 0);
    QCOMPARE(FitSpan({790, 50}, {0, 800}).start, 750);
    QCOMPARE(FitSpan({10, 900}, {20, 800}).length, 800);
    QCOMPARE(FitSpan({10, 900}, {0, 0}).length, 900);
}

void ManagerTest::closingMinimizedKeepsStoredGeometry() {
    Manager m;
    SaveRegData(kSettingsSection, "MainWidth", "8000");
    m.form = std::make_unique<FrmMain>();
    SetMainForm(m.form.get());
    m.form->showMinimized();
    m.form->close();
    QCOMPARE(GetRegData(kSettingsSection, "MainWidth"), std::string("8000"));
    QCOMPARE(GetRegData(kSettingsSection, "MainLeft"), std::string());
}

void ManagerTest::narrowStoredWidthIsRaisedAtFirstResize() {
    Manager m;
    SaveRegData(kSettingsSection, "MainWidth", "2000");
    SaveRegData(kSettingsSection, "MainHeight", "3000");
    m.form = std::make_unique<FrmMain>();
    SetMainForm(m.form.get());
    const double dpi = m.form->logicalDpiX();
    QCOMPARE(m.form->width(), TwipsToPixels(2000, dpi));
    m.form->show();
    QTRY_COMPARE(m.form->width(), TwipsToPixels(kMinMainWidth, dpi));
    QCOMPARE(PixelsToTwips(m.form->width(), dpi), kMinMainWidth);
    QVERIFY(PixelsToTwips(m.form->height(), dpi) >= kMinMainHeight);
    QVERIFY(m.form->height() <= TwipsToPixels(kMinMainHeight, dpi) + 1);
    m.form->resize(TwipsToPixels(9000, dpi), TwipsToPixels(8000, dpi));
    QCOMPARE(m.form->width(), TwipsToPixels(9000, dpi));
}

void ManagerTest::printSendsTheTemplateTextToThePrinter() {
    Manager m;
    m.AddTemplate("Orders");
    GetTempFiles();
    const std::string pdf = m.env.ProgramDir() + "/print.pdf";
    qputenv("TALLIX_PRINT_PDF", QByteArray::fromStdString(pdf));
    m.form = std::make_unique<FrmMain>();  // the printer is made with the window
    SetMainForm(m.form.get());
    GetTempFiles();
    m.Select("Orders");
    m.form->tbPrint->trigger();
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    const std::string bytes = ReadFileBytes(pdf);
    QVERIFY(bytes.rfind("%PDF", 0) == 0);

    // A file that vanished is reported through the error reporter with its context.
    fs::remove(m.TemplatePath("Orders"));
    m.ui.QueueAnswer(MsgAnswer::No);  // carry on after the unexpected-error box
    m.form->mnuFilePrint->trigger();
    qunsetenv("TALLIX_PRINT_PDF");
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
    QVERIFY(m.env.ReadProgramFile("txError.Log").find("Unable to print the template file") !=
            std::string::npos);
}

void ManagerTest::logViewerShowsMissingMessageOrTheLog() {
    Manager m;
    m.form->mnuViewSysLog->trigger();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.ui.boxes[0].text, std::string("There is no System Log"));
    QCOMPARE(m.ui.boxes[0].title, std::string("tallix"));
    m.form->mnuViewErrLog->trigger();
    QCOMPARE(m.LastBoxText(), std::string("There is no Error Log"));
    QVERIFY(!fs::exists(m.env.ProgramDir() + "/txSystem.Log"));

    WriteFileBytes(m.env.ProgramDir() + "/txSystem.Log", "3/2/2026 9:00:00 AM first\r\n");
    m.ui.boxes.clear();
    m.form->mnuViewSysLog->trigger();
    QVERIFY(m.ui.boxes.empty());
    FrmLogViewer* viewer =
        ShowLogViewer(QString::fromStdString(m.env.ProgramDir() + "/txSystem.Log"), "System Log");
    QCOMPARE(viewer->windowTitle(), QString("System Log"));
    QVERIFY(viewer->txtLog->isReadOnly());
    QCOMPARE(viewer->txtLog->toPlainText(), QString("3/2/2026 9:00:00 AM first\n"));
    WriteFileBytes(m.env.ProgramDir() + "/txSystem.Log",
                   "3/2/2026 9:00:00 AM first\r\n3/2/2026 9:00:01 AM second\r\n");
    QTRY_VERIFY(viewer->txtLog->toPlainText().contains("second"));
    const std::string pdf = m.env.ProgramDir() + "/log.pdf";
    qputenv("TALLIX_PRINT_PDF", QByteArray::fromStdString(pdf));
    viewer->findChild<QPushButton*>("cmdPrint")->click();
    qunsetenv("TALLIX_PRINT_PDF");
    QVERIFY(ReadFileBytes(pdf).rfind("%PDF", 0) == 0);
    viewer->close();
}

void ManagerTest::helpOpensContextPagesAndIndex() {
    Manager m;
    fs::copy(TALLIX_HELP_SOURCE, m.env.ProgramDir() + "/help");
    const std::vector<std::pair<int, QString>> contexts = {
        {kHelpContextGettingStarted, "getting-started.html"},
        {kHelpContextSupport, "support.html"},
        {kHelpContextOrdering, "ordering.html"},
        {kHelpContextEditor, "editor.html"},
        {kHelpContextOptions, "options.html"}};
    for (const auto& [context, page] : contexts) {
        DoHelp(kHelpCommandContext, context);
        QVERIFY(m.ui.boxes.empty());
        FrmHelp* help = HelpWindow();
        QVERIFY2(help->browser->source().toLocalFile().endsWith("/" + page), qPrintable(page));
        QVERIFY(!help->browser->toPlainText().isEmpty());
    }
    m.form->mnuHelpContents->trigger();
    FrmHelp* help = HelpWindow();
    QVERIFY(help->browser->source().toLocalFile().endsWith("/contents.html"));
    QVERIFY(help->tvContents->topLevelItemCount() >= 5);
    // Every contents entry names a page of the set.
    for (int i = 0; i < help->tvContents->topLevelItemCount(); ++i) {
        const QString page = help->tvContents->topLevelItem(i)->data(0, Qt::UserRole).toString();
        QVERIFY2(QFileInfo::exists(HelpDirectory() + "/" + page), qPrintable(page));
    }
    m.form->mnuHelpSearchForHelpOn->trigger();
    QCOMPARE(help->tabs->currentIndex(), 1);
    QVERIFY(help->lstKeywords->count() > 10);
    help->txtKeyword->setText("error l");
    QVERIFY(help->lstKeywords->currentItem());
    QCOMPARE(help->lstKeywords->currentItem()->text(), QString("error log"));
    help->close();

    // A help set that is missing is said, not shown as an empty window.
    fs::remove_all(m.env.ProgramDir() + "/help");
    DoHelp(kHelpCommandContext, kHelpContextSupport);
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
}

void ManagerTest::examplesModeSwitchesOnlyAfterOk() {
    Manager m;
    m.AddTemplate("Mine");
    fs::create_directories(m.env.ProgramDir() + "/Examples");
    WriteFileBytes(m.env.ProgramDir() + "/Examples/Sample.txf",
                   TemplateText(true, "Never", "s.csv"));
    GetTempFiles();

    m.ui.QueueAnswer(MsgAnswer::Cancel);
    m.form->mnuHelpExamples->trigger();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Information);
    QCOMPARE(m.ui.boxes[0].title, std::string("Tallix"));
    QVERIFY(m.ui.boxes[0].text.find("Tallix will now switch to the examples directory.\n") == 0);
    QCOMPARE(m.Rows(), QStringList({"Mine"}));
    QVERIFY(!m.form->mnuHelpExamples->isChecked());

    m.ui.QueueAnswer(MsgAnswer::Ok);
    m.form->mnuHelpExamples->trigger();
    QCOMPARE(m.Rows(), QStringList({"Sample"}));
    QVERIFY(m.form->mnuHelpExamples->isChecked());
    // Never stored: the settings still name the user's own directory.
    QCOMPARE(GetRegData(kSettingsSection, "TemplateDir"), std::string());

    SaveRegData(kSettingsSection, "TemplateDir", m.TemplateDir());
    m.form->mnuHelpExamples->trigger();
    QCOMPARE(m.ui.boxes.size(), std::size_t(2));  // switching back asks nothing
    QCOMPARE(m.Rows(), QStringList({"Mine"}));
    QVERIFY(!m.form->mnuHelpExamples->isChecked());
}

void ManagerTest::everyCommandIsEnabledAndEditOpensTheEditor() {
    Manager m;
    for (QAction* a : {m.form->mnuFileNew, m.form->mnuFileWizard, m.form->mnuEditModify,
                       m.form->mnuViewOptions, m.form->tbNew, m.form->tbProperties}) {
        QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
        QVERIFY2(!a->toolTip().contains("not part of this version"), qPrintable(a->objectName()));
    }
    for (const char* name : {"mnuPopupNew", "mnuPopupEdit", "mnuPopupCopy", "mnuPopupDelete",
                             "mnuPopupToggle", "mnuPopupParse", "mnuPopupPrint"}) {
        auto* item = m.form->mnuPopup->findChild<QAction*>(name);
        QVERIFY2(item && item->isEnabled(), name);
    }
    // The editor opens from New, Edit, the toolbar, Enter and a double click on a row.
    m.AddTemplate("Orders");
    GetTempFiles();
    m.Select("Orders");
    m.form->mnuFileNew->trigger();
    QVERIFY(State().newTemplate);
    m.form->tbProperties->trigger();
    QVERIFY(!State().newTemplate);
    QTest::keyClick(m.form->lvMainList, Qt::Key_Return);
    Q_EMIT m.form->lvMainList->itemDoubleClicked(m.form->FindRow("Orders"), 0);
    m.form->tbNew->trigger();
    QCOMPARE(m.editedNames,
             std::vector<std::string>({"Untitled", "Orders", "Orders", "Orders", "Untitled"}));
    QVERIFY(m.ui.boxes.empty());
}

void ManagerTest::splashAndAboutShowVersionAndNames() {
    QCOMPARE(VersionText(1, 8, 2), QString("Version 1.82"));
    QCOMPARE(VersionText(2, 0, 11), QString("Version 2.011"));
    FrmSplash splash;
    QCOMPARE(splash.lblVersion->text(), ProgramVersionText());
    QCOMPARE(splash.lblProductName->text(), QString("Tallix"));
    QCOMPARE(splash.lblCompany->text(), QString("Vantroy Technologies"));
    FrmAbout about;
    QCOMPARE(about.lblVersion->text(), ProgramVersionText());
    QCOMPARE(about.windowTitle(), QString("About Tallix"));
    auto* sysInfo = about.findChild<QPushButton*>("cmdSysInfo");
    QVERIFY(sysInfo);
    QCOMPARE(sysInfo->text(), QString("&System Info..."));
    QVERIFY(SystemInfoText().contains(QString::fromLatin1(qVersion())));
    QVERIFY(SystemInfoText().contains(ProgramVersionText()));
}

QTEST_MAIN(ManagerTest)
#include "manager_qttest.moc"
