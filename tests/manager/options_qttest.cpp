// The options dialog "System Options" through the real dialog, opened from the main window's
// "&Options..." on the offscreen platform: message boxes and the folder and file pickers are
// scripted, and every case looks at the settings file and POP3.CFG it leaves behind.
#include <sys/stat.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/manager_windows.h"
#include "manager/options_dialog.h"
#include "manager/options_procs.h"
#include "manager/path_field_check.h"
#include "settings/app_info.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "tests/manager/manager_fixture.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

using namespace tallix;
using namespace tallix::manager;
namespace fs = std::filesystem;
using tallix::testing::ReadFileBytes;
using tallix::testing::Texts;
using tallix::testing::WriteFileBytes;

namespace {

const std::string kTwoAccounts =
    "[GENERAL]\r\nCount=2\r\n[NAMES]\r\nConfig1=Home\r\nConfig2=Work\r\n"
    "[Home]\r\nHostName=pop.home.example\r\nPort=110\r\nLoginName=me\r\nPassword=secret\r\n"
    "[Work]\r\nHostName=mail.work.example\r\nPort=995\r\nLoginName=jo\r\nPassword=pw2\r\n";

// A manager with its main window, over a private program directory and settings file, as
// start-up leaves it: settings and accounts read.
struct Manager : tallix::testing::ManagerFixture {
    std::vector<QString> pickerTitles;
    QString nextPick;  // what the next folder or file picker returns

    explicit Manager(const std::string& settings = "", const std::string& accounts = "") {
        fs::create_directories(env.ConfigDir() + "/Vantroy Technologies");
        WriteFileBytes(env.SettingsFile(),
                       "[Settings]\r\nTemplateDir=" + TemplateDir() + "\r\n" + settings);
        if (!accounts.empty()) WriteFileBytes(Pop3File(), accounts);
        GetGeneralSettings();
        GetUseSource();
        GetPOP3Configurations();
        GetRunSettings();
        SetDirectoryChooser([this](QWidget*, const QString& title, const QString&) {
            pickerTitles.push_back(title);
            return nextPick;
        });
        SetFileChooser(
            [this](QWidget*, const QString& title, const QString& start, const QString& filter) {
                pickerTitles.push_back(title + "|" + start + "|" + filter);
                return nextPick;
            });
    }
    ~Manager() {
        SetDirectoryChooser({});
        SetFileChooser({});
    }

    std::string Pop3File() const { return env.ProgramDir() + "/POP3.CFG"; }
    std::string Setting(const char* name) const { return GetRegData(kSettingsSection, name); }

    // Opens the dialog with "&Options..." and runs `steps` on it while it is shown modally;
    // a dialog the steps leave open is cancelled.
    void WithOptions(const std::function<void(FrmOptions&)>& steps) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<FrmOptions*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            ran = true;
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            steps(*dialog);
            if (dialog->isVisible()) dialog->reject();
        });
        form->mnuViewOptions->trigger();
        QVERIFY(ran);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QStringList AccountNames() {
    QStringList names;
    if (State().pop3Configs)
        for (const auto& a : *State().pop3Configs) names << QString::fromStdString(a->ID());
    return names;
}

// The accounts as the dialog has them so far (the manager's own change only when applied).
QStringList EditedNames(const FrmOptions& f) {
    QStringList names;
    for (const Pop3AccountValues& a : f.Values().accounts) names << QString::fromStdString(a.id);
    return names;
}

// The values every case of the mapping starts from: each text its own.
OptionsValues DistinctValues() {
    OptionsValues v;
    v.templateDir = "/srv/templates";
    v.showHelp = true;
    v.useScripts = true;
    v.scriptDir = "/srv/scripts";
    v.scriptEngine = "Lua";
    v.scriptExt = "lua";
    v.mapiProfile = "/srv/mail/me";
    v.localFileName = "/srv/mail/archive.mbox";
    v.accounts = {{"Home", "pop.home.example", 110, "me", "secret"},
                  {"Work", "mail.work.example", 995, "jo", "pw2"}};
    return v;
}

// Types `name` into the name box and leaves it with Tab, as a user does.
void TypeName(FrmOptions& f, const QString& name) {
    f.txtPOPName->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(f.txtPOPName->hasFocus());
    f.txtPOPName->selectAll();
    QTest::keyClick(f.txtPOPName, Qt::Key_Backspace);
    QTest::keyClicks(f.txtPOPName, name);
    QTest::keyClick(f.txtPOPName, Qt::Key_Tab);
}

unsigned FileMode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 0777;
}

}  // namespace

class OptionsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void firstOpeningStoresSimpleMapiEvenWhenCancelled();
    void storedSourceSelectsItsButtonsAndTab_data();
    void storedSourceSelectsItsButtonsAndTab();
    void chosenSourceIsStored_data();
    void chosenSourceIsStored();
    void deletionPolicyFollowsTheThreeBoxes_data();
    void deletionPolicyFollowsTheThreeBoxes();
    void loadedValuesAreTheSettingsAndAccounts();
    void saveStoresEverySettingInOrderAndRefillsTheList();
    void missingTemplateDirectoryIsStoredAndReported();
    void everyValueIsShownInItsControlAndReadBack_data();
    void everyValueIsShownInItsControlAndReadBack();
    void applyKeepsTheDialogOpenAndStoresWhatItShows();
    void scriptControlsFollowTheScriptingBox();
    void pickersFillTheirBoxes();
    void pathsAreCheckedAsTypedWithAFolderToMake();
    void mailboxFileKindIsSaidAndCanBeChosen();
    void accountsAreShownAndEditsKeptAcrossSelection();
    void accountNameRule_data();
    void accountNameRule();
    void newAccountNameChecks_data();
    void newAccountNameChecks();
    void renamingAnAccountRefusesDuplicates();
    void cancelAfterAddAndRemoveKeepsTheFile();
    void removeAsksFirst();
    void okWhileAddingDoesNotOverwriteTheShownAccount();
    void helpOpensTheOptionsTopic();
    void keyboardOrderAndMnemonics();
    void largerFontCutsNoCaption();
    void imapAccountsBesidePop3KeepEveryKey();
    void testConnectionAnswersBesideTheButton();
};

void OptionsTest::firstOpeningStoresSimpleMapiEvenWhenCancelled() {
    Manager m;
    const std::string before = ReadFileBytes(m.env.SettingsFile());
    QVERIFY(m.form->mnuViewOptions->isEnabled());
    m.WithOptions([&](FrmOptions& f) {
        QCOMPARE(f.windowTitle(), QString("System Options"));
        QCOMPARE(f.tbsOptions->currentIndex(), kTabGeneral);
        QVERIFY(f.optMAPI->isChecked());
        QVERIFY(f.optSimpleMapi->isChecked());
        QVERIFY(!f.txtProfile->isEnabled());
        QVERIFY(f.tbsOptions->isTabEnabled(kTabMapi));
        QVERIFY(!f.tbsOptions->isTabEnabled(kTabInternetMail));
        QVERIFY(!f.tbsOptions->isTabEnabled(kTabLocalFile));
        QVERIFY(!f.cmdApply->isEnabled());
        // Stored before anything was applied.
        QCOMPARE(m.Setting("UseSource"), std::string("SIMPLE MAPI"));
        f.cmdCancel->click();
    });
    // Cancel stores nothing else and writes no account file.
    QCOMPARE(ReadFileBytes(m.env.SettingsFile()), before + "UseSource=SIMPLE MAPI\r\n");
    QVERIFY(!fs::exists(m.Pop3File()));
    QVERIFY(m.ui.boxes.empty());
}

void OptionsTest::storedSourceSelectsItsButtonsAndTab_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("checked");  // object names of the buttons that are checked
    QTest::addColumn<int>("openTab");
    QTest::newRow("extended") << "EXTENDED MAPI"
                              << "optMAPI optExtMapi optProtoPop3" << kTabMapi;
    QTest::newRow("simple") << "SIMPLE MAPI"
                            << "optMAPI optSimpleMapi optProtoPop3" << kTabMapi;
    QTest::newRow("pop3") << "POP3"
                          << "OptPop3 optProtoPop3" << kTabInternetMail;
    QTest::newRow("imap") << "IMAP"
                          << "OptPop3 optProtoImap" << kTabInternetMail;
    QTest::newRow("netscape") << "NETSCAPE"
                              << "OptFile OptFileNetscape optProtoPop3" << kTabLocalFile;
    QTest::newRow("eudora") << "EUDORA"
                            << "OptFile OptFileEudora optProtoPop3" << kTabLocalFile;
    QTest::newRow("other file") << "FILE_OTHER"
                                << "OptFile OptFileOther optProtoPop3" << kTabLocalFile;
    QTest::newRow("old MAPI") << "MAPI"
                              << "optMAPI optExtMapi optProtoPop3" << kTabMapi;
}

void OptionsTest::storedSourceSelectsItsButtonsAndTab() {
    QFETCH(QString, stored);
    QFETCH(QString, checked);
    QFETCH(int, openTab);
    Manager m("UseSource=" + stored.toStdString() + "\r\nProfile=/srv/mail/me\r\n");
    m.WithOptions([&](FrmOptions& f) {
        QStringList on;
        for (QRadioButton* b : f.findChildren<QRadioButton*>())
            if (b->isChecked()) on << b->objectName();
        on.sort();
        QStringList expected = checked.split(' ');
        expected.sort();
        QCOMPARE(on, expected);
        for (int tab : {kTabMapi, kTabInternetMail, kTabLocalFile})
            QCOMPARE(f.tbsOptions->isTabEnabled(tab), tab == openTab);
        QVERIFY(f.tbsOptions->isTabEnabled(kTabGeneral));
        // The folder box keeps its value except for the default store.
        const bool simple = f.optSimpleMapi->isChecked();
        QCOMPARE(f.Values().mapiProfile, simple ? std::string() : std::string("/srv/mail/me"));
        QCOMPARE(f.txtProfile->isEnabledTo(f.tbsOptions->widget(kTabMapi)), !simple);
        QVERIFY(!f.cmdApply->isEnabled());
    });
}

void OptionsTest::chosenSourceIsStored_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("clicks");  // buttons clicked, in order
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("profile");
    QTest::newRow("other file") << "POP3"
                                << "OptFile OptFileOther optProtoPop3"
                                << "FILE_OTHER"
                                << "/srv/mail/me";
    QTest::newRow("eudora") << "FILE_OTHER"
                            << "OptFileEudora"
                            << "EUDORA"
                            << "/srv/mail/me";
    QTest::newRow("file without a kind") << "POP3"
                                         << "OptFile"
                                         << "NETSCAPE"
                                         << "/srv/mail/me";
    QTest::newRow("pop3") << "NETSCAPE"
                          << "OptPop3"
                          << "POP3"
                          << "/srv/mail/me";
    QTest::newRow("extended") << "POP3"
                              << "optMAPI optExtMapi optProtoPop3"
                              << "EXTENDED MAPI"
                              << "/srv/mail/me";
    QTest::newRow("mapi without a kind") << "POP3"
                                         << "optMAPI"
                                         << "SIMPLE MAPI"
                                         << "/srv/mail/me";
    QTest::newRow("simple empties the folder") << "EXTENDED MAPI"
                                               << "optSimpleMapi"
                                               << "SIMPLE MAPI"
                                               << "";
    QTest::newRow("unknown kept") << "SOMETHING"
                                  << ""
                                  << "SOMETHING"
                                  << "/srv/mail/me";
}

void OptionsTest::chosenSourceIsStored() {
    QFETCH(QString, before);
    QFETCH(QString, clicks);
    QFETCH(QString, stored);
    QFETCH(QString, profile);
    Manager m("UseSource=" + before.toStdString() + "\r\nProfile=/srv/mail/me\r\n");
    m.WithOptions([&](FrmOptions& f) {
        for (const QString& name : clicks.split(' ', Qt::SkipEmptyParts)) {
            auto* b = f.findChild<QRadioButton*>(name);
            QVERIFY2(b, qPrintable(name));
            b->click();
        }
        if (!clicks.isEmpty()) QVERIFY(f.cmdApply->isEnabled());
        f.cmdOK->click();
        QVERIFY(!f.isVisible());
    });
    QCOMPARE(QString::fromStdString(m.Setting("UseSource")), stored);
    QCOMPARE(QString::fromStdString(Settings().useSource), stored);
    QCOMPARE(QString::fromStdString(m.Setting("Profile")), profile);
}

void OptionsTest::deletionPolicyFollowsTheThreeBoxes_data() {
    QTest::addColumn<QString>("before");  // DeleteFlag, DeleteUnused as stored
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("unused");
    QTest::newRow("unchecking delete") << "1 True"
                                       << "chkDelMessages"
                                       << "0"
                                       << "False";
    QTest::newRow("ask") << "0 False"
                         << "chkDelMessages chkPromptDelete"
                         << "1"
                         << "False";
    QTest::newRow("without asking, unused too") << "0 False"
                                                << "chkDelMessages chkUnusedMsgs"
                                                << "2"
                                                << "True";
    QTest::newRow("stop asking") << "1 True"
                                 << "chkPromptDelete"
                                 << "2"
                                 << "True";
    QTest::newRow("unchanged") << "2 True"
                               << ""
                               << "2"
                               << "True";
}

void OptionsTest::deletionPolicyFollowsTheThreeBoxes() {
    QFETCH(QString, before);
    QFETCH(QString, clicks);
    QFETCH(QString, flag);
    QFETCH(QString, unused);
    const QStringList stored = before.split(' ');
    Manager m("UseSource=POP3\r\nDeleteFlag=" + stored[0].toStdString() +
              "\r\nDeleteUnused=" + stored[1].toStdString() + "\r\n");
    m.WithOptions([&](FrmOptions& f) {
        const bool deleting = stored[0] != "0";
        QCOMPARE(f.chkDelMessages->isChecked(), deleting);
        QCOMPARE(f.chkPromptDelete->isChecked(), stored[0] == "1");
        QCOMPARE(f.chkUnusedMsgs->isChecked(), deleting && stored[1] == "True");
        QCOMPARE(f.chkPromptDelete->isEnabled(), deleting);
        QCOMPARE(f.chkUnusedMsgs->isEnabled(), deleting);
        for (const QString& name : clicks.split(' ', Qt::SkipEmptyParts)) {
            auto* box = f.findChild<QCheckBox*>(name);
            QVERIFY(box && box->isEnabled());
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
        }
        QCOMPARE(f.chkPromptDelete->isEnabled(), f.chkDelMessages->isChecked());
        QCOMPARE(f.chkUnusedMsgs->isEnabled(), f.chkDelMessages->isChecked());
        f.cmdOK->click();
    });
    QCOMPARE(QString::fromStdString(m.Setting("DeleteFlag")), flag);
    QCOMPARE(QString::fromStdString(m.Setting("DeleteUnused")), unused);
}

void OptionsTest::loadedValuesAreTheSettingsAndAccounts() {
    Manager m(
        "UseSource=NETSCAPE\r\nDeleteFlag=1\r\nDeleteUnused=True\r\nProfile=/srv/mail/me\r\n"
        "ShowHelpText=True\r\nUseScripts=True\r\nScriptDir=/srv/scripts\r\n"
        "ScriptEngine=Lua\r\nScriptExt=lua\r\nLocalFileName=/srv/mail/archive.mbox\r\n",
        kTwoAccounts);
    OptionsValues expected = DistinctValues();
    expected.templateDir = m.TemplateDir();
    expected.source = "NETSCAPE";
    expected.deleteFlag = 1;
    expected.deleteUnused = true;
    OptionsValues loaded;
    SetOptionsCtrls(loaded);
    QVERIFY(loaded == expected);
    QVERIFY(m.ui.boxes.empty());

    // No source stored: the default store, stored at once.
    Manager fresh;
    const std::string before = ReadFileBytes(fresh.env.SettingsFile());
    SetOptionsCtrls(loaded);
    QCOMPARE(loaded.source, std::string("SIMPLE MAPI"));
    QVERIFY(loaded.accounts.empty());
    QCOMPARE(ReadFileBytes(fresh.env.SettingsFile()), before + "UseSource=SIMPLE MAPI\r\n");
}

void OptionsTest::saveStoresEverySettingInOrderAndRefillsTheList() {
    // Only "UseSource" is stored before: every other value is new, so the file lists the
    // values in the order they were stored.
    Manager m("UseSource=POP3\r\n");
    WriteFileBytes(m.env.SettingsFile(), "[Settings]\r\nUseSource=POP3\r\n");
    const std::string otherDir = m.env.ProgramDir() + "/other templates";
    fs::create_directories(otherDir);
    WriteFileBytes(otherDir + "/Orders.txf", "[General]\r\nActive=True\r\n");
    OptionsValues v = DistinctValues();
    v.source = "POP3";
    v.templateDir = otherDir;
    v.showHelp = false;
    v.mapiProfile.clear();
    v.scriptDir = "  /srv/scripts  ";
    v.scriptExt = " lua ";
    v.accounts.clear();
    SaveOptions(v);
    QCOMPARE(m.form->lvMainList->topLevelItemCount(), 1);
    QCOMPARE(m.form->lvMainList->topLevelItem(0)->text(kColName), QString("Orders"));
    const std::string file = ReadFileBytes(m.env.SettingsFile());
    const std::vector<std::string> order = {"UseSource=POP3",
                                            "ShowHelpText=False",
                                            "TemplateDir=" + otherDir,
                                            "Profile=",
                                            "UseScripts=True",
                                            "ScriptEngine=Lua",
                                            "ScriptDir=/srv/scripts",
                                            "ScriptExt=lua",
                                            "DeleteFlag=0",
                                            "DeleteUnused=False",
                                            "LocalFileName=/srv/mail/archive.mbox"};
    std::size_t at = 0;
    for (const std::string& line : order) {
        const std::size_t found = file.find("\r\n" + line + "\r\n", at);
        QVERIFY2(found != std::string::npos, (line + " in order in:\n" + file).c_str());
        at = found + 1;
    }
    QCOMPARE(Settings().templateDir, otherDir);
    // No accounts: the account file holds the empty list, readable by its owner only.
    QCOMPARE(ReadFileBytes(m.Pop3File()), std::string("[GENERAL]\r\nCount=0\r\n"));
    QCOMPARE(FileMode(m.Pop3File()), 0600u);
    QVERIFY(m.ui.boxes.empty());

    // The deletion policy and the source as given; no source keeps the stored one.
    v.deleteFlag = 2;
    v.deleteUnused = true;
    v.source = "";
    v.accounts = DistinctValues().accounts;
    SaveOptions(v);
    QCOMPARE(m.Setting("DeleteFlag"), std::string("2"));
    QCOMPARE(m.Setting("DeleteUnused"), std::string("True"));
    QCOMPARE(m.Setting("UseSource"), std::string("POP3"));
    v.source = "EUDORA";
    SaveOptions(v);
    QCOMPARE(m.Setting("UseSource"), std::string("EUDORA"));
    QCOMPARE(Settings().useSource, std::string("EUDORA"));
    // The accounts in their order, and the manager's own list the same.
    QCOMPARE(ReadFileBytes(m.Pop3File()), kTwoAccounts);
    QCOMPARE(AccountNames(), QStringList({"Home", "Work"}));
    QCOMPARE(State().pop3Configs->Item(2)->Port(), 995);
}

void OptionsTest::missingTemplateDirectoryIsStoredAndReported() {
    Manager m("UseSource=POP3\r\n");
    const std::string missing = m.env.ProgramDir() + "/no such dir";
    OptionsValues v;
    SetOptionsCtrls(v);
    v.templateDir = missing;
    SaveOptions(v);
    QCOMPARE(m.Setting("TemplateDir"), missing);
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QVERIFY(m.ui.boxes[0].text.find("The template directory could not be found.") == 0);
    QCOMPARE(m.form->lvMainList->topLevelItemCount(), 0);
}

void OptionsTest::everyValueIsShownInItsControlAndReadBack_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("deleteFlag");
    QTest::addColumn<bool>("deleteUnused");
    QTest::addColumn<QString>("readSource");  // what the controls give back
    QTest::addColumn<bool>("readUnused");
    QTest::addColumn<QString>("readProfile");
    QTest::newRow("extended, ask")
        << "EXTENDED MAPI" << 1 << false << "EXTENDED MAPI" << false << "/srv/mail/me";
    QTest::newRow("default store empties the folder")
        << "SIMPLE MAPI" << 2 << true << "SIMPLE MAPI" << true << "";
    QTest::newRow("pop3, unused without deleting")
        << "POP3" << 0 << true << "POP3" << false << "/srv/mail/me";
    QTest::newRow("eudora") << "EUDORA" << 2 << false << "EUDORA" << false << "/srv/mail/me";
    QTest::newRow("other file") << "FILE_OTHER" << 0 << false << "FILE_OTHER" << false
                                << "/srv/mail/me";
    QTest::newRow("unknown shows no source")
        << "SOMETHING" << 0 << false << "" << false << "/srv/mail/me";
}

void OptionsTest::everyValueIsShownInItsControlAndReadBack() {
    QFETCH(QString, source);
    QFETCH(int, deleteFlag);
    QFETCH(bool, deleteUnused);
    QFETCH(QString, readSource);
    QFETCH(bool, readUnused);
    QFETCH(QString, readProfile);
    Manager m;
    auto f = std::make_unique<FrmOptions>();
    OptionsValues v = DistinctValues();
    v.source = source.toStdString();
    v.deleteFlag = static_cast<std::int16_t>(deleteFlag);
    v.deleteUnused = deleteUnused;
    f->SetValues(v);
    const std::vector<std::pair<const char*, std::string>> texts = {
        {"txtDirectory", v.templateDir},
        {"txtScriptDir", v.scriptDir},
        {"txtEngine", v.scriptEngine},
        {"txtExtension", v.scriptExt},
        {"txtProfile", readProfile.toStdString()},
        {"txtFormatFile", v.localFileName},
        {"txtPOPName", "Home"},
        {"txtHostName", "pop.home.example"},
        {"txtPort", "110"},
        {"txtLoginName", "me"},
        {"txtPassword", "secret"}};
    for (const auto& [name, text] : texts) {
        auto* box = f->findChild<QLineEdit*>(name);
        QVERIFY2(box, name);
        QCOMPARE(box->text().toStdString(), text);
    }
    const std::vector<std::pair<const char*, bool>> checks = {{"chkHelpText", true},
                                                              {"chkUseScripting", true},
                                                              {"chkDelMessages", deleteFlag != 0},
                                                              {"chkPromptDelete", deleteFlag == 1},
                                                              {"chkUnusedMsgs", deleteUnused}};
    for (const auto& [name, on] : checks) {
        auto* box = f->findChild<QCheckBox*>(name);
        QVERIFY2(box, name);
        QVERIFY2(box->isChecked() == on, name);
    }
    QCOMPARE(Texts(f->lstPOPName), QStringList({"Home", "Work"}));

    OptionsValues expected = v;
    expected.source = readSource.toStdString();
    expected.deleteUnused = readUnused;
    expected.mapiProfile = readProfile.toStdString();
    const OptionsValues read = f->Values();
    QCOMPARE(QString::fromStdString(read.source), readSource);
    QCOMPARE(read.deleteFlag, v.deleteFlag);
    QCOMPARE(read.deleteUnused, readUnused);
    QVERIFY(read == expected);
    QVERIFY(m.ui.boxes.empty());
}

void OptionsTest::applyKeepsTheDialogOpenAndStoresWhatItShows() {
    Manager m("UseSource=POP3\r\n");
    const std::string otherDir = m.env.ProgramDir() + "/other templates";
    fs::create_directories(otherDir);
    WriteFileBytes(otherDir + "/Orders.txf", "[General]\r\nActive=True\r\n");
    m.WithOptions([&](FrmOptions& f) {
        QVERIFY(!f.cmdApply->isEnabled());
        f.txtDirectory->setFocus();
        f.txtDirectory->selectAll();
        QTest::keyClicks(f.txtDirectory, QString::fromStdString(otherDir));
        QVERIFY(f.cmdApply->isEnabled());  // typing enables Apply
        QTest::mouseClick(f.chkHelpText, Qt::LeftButton, {},
                          QPoint(4, f.chkHelpText->height() / 2));
        QVERIFY(!f.chkProcessOnce->isChecked());
        f.chkProcessOnce->click();
        f.cmdApply->click();
        QVERIFY(!f.cmdApply->isEnabled());
        QVERIFY(f.isVisible());  // Apply keeps the dialog open
        QCOMPARE(m.form->lvMainList->topLevelItemCount(), 1);
        f.cmdCancel->click();  // what was applied stays
    });
    QCOMPARE(m.Setting("TemplateDir"), otherDir);
    QCOMPARE(m.Setting("ShowHelpText"), std::string("False"));
    QCOMPARE(m.Setting("ProcessOnce"), std::string("True"));
    QCOMPARE(Settings().templateDir, otherDir);
    m.WithOptions([&](FrmOptions& f) {
        QVERIFY(f.chkProcessOnce->isChecked());
        f.chkProcessOnce->click();
        f.cmdOK->click();
    });
    QCOMPARE(m.Setting("ProcessOnce"), std::string("False"));
}

void OptionsTest::scriptControlsFollowTheScriptingBox() {
    Manager m("UseSource=POP3\r\nUseScripts=True\r\nScriptEngine=JScript\r\n");
    m.WithOptions([&](FrmOptions& f) {
        const QList<QWidget*> dependents = {f.txtScriptDir,    f.txtEngine,    f.txtExtension,
                                            f.cmdScriptBrowse, f.lblScriptDir, f.lblEngine,
                                            f.lblExtension};
        QVERIFY(f.chkUseScripting->isChecked());
        QCOMPARE(f.Values().scriptEngine, std::string("JScript"));
        for (bool expected : {true, false, true}) {
            for (QWidget* w : dependents)
                QVERIFY2(w->isEnabled() == expected, qPrintable(w->objectName()));
            f.chkUseScripting->click();
        }
        QVERIFY(f.chkUseScripting->text().contains("Lua"));
        f.cmdOK->click();
    });
    QCOMPARE(m.Setting("UseScripts"), std::string("False"));
}

void OptionsTest::pickersFillTheirBoxes() {
    Manager m("UseSource=NETSCAPE\r\nLocalFileName=/srv/old.mbox\r\nUseScripts=True\r\n");
    m.WithOptions([&](FrmOptions& f) {
        m.nextPick = "/srv/templates";
        f.cmdDirBrowse->click();
        QCOMPARE(f.Values().templateDir, std::string("/srv/templates"));
        m.nextPick = "";  // cancelled: the box keeps its text
        f.cmdScriptBrowse->click();
        QCOMPARE(f.Values().scriptDir, Settings().scriptDir);
        m.nextPick = "  /srv/mail/Inbox  ";
        f.cmdFileFormatDir->click();
        QCOMPARE(f.Values().localFileName, std::string("/srv/mail/Inbox"));
        m.nextPick = "   ";
        f.cmdFileFormatDir->click();
        QCOMPARE(f.Values().localFileName, std::string("/srv/mail/Inbox"));
        QVERIFY(f.cmdApply->isEnabled());
    });
    QCOMPARE(m.pickerTitles,
             std::vector<QString>({"Choose Directory", "Choose Directory",
                                   "Mail Source File|/srv/old.mbox|All files (*)",
                                   "Mail Source File|/srv/mail/Inbox|All files (*)"}));
    // Cancelled: nothing of it stored.
    QCOMPARE(m.Setting("LocalFileName"), std::string("/srv/old.mbox"));
}

// A folder box warns while its path cannot serve (beside the box, and as the box's
// accessible description), and offers to make a missing folder.
void OptionsTest::pathsAreCheckedAsTypedWithAFolderToMake() {
    Manager m("UseSource=POP3\r\nUseScripts=True\r\n");
    const std::string missing = m.env.ProgramDir() + "/new/templates";
    m.WithOptions([&](FrmOptions& f) {
        QVERIFY(f.templateDirCheck->WarningLabel()->isHidden());  // the stored folder is there
        f.txtDirectory->setFocus();
        f.txtDirectory->selectAll();
        QTest::keyClicks(f.txtDirectory, QString::fromStdString(missing));
        QCOMPARE(f.templateDirCheck->Warning(), QString("The folder does not exist."));
        QCOMPARE(f.txtDirectory->accessibleDescription(), QString("The folder does not exist."));
        QPushButton* make = f.templateDirCheck->CreateButton();
        QVERIFY(make->isVisible());
        make->click();
        QVERIFY(fs::is_directory(missing));
        QVERIFY(f.templateDirCheck->WarningLabel()->isHidden());
        QVERIFY(make->isHidden());

        WriteFileBytes(m.env.ProgramDir() + "/afile", "x");
        f.txtScriptDir->setText(QString::fromStdString(m.env.ProgramDir() + "/afile"));
        QCOMPARE(f.scriptDirCheck->Warning(), QString("This is a file, not a folder."));
        QVERIFY(f.scriptDirCheck->CreateButton()->isHidden());  // nothing to make

        // The Maildir folder must hold a Maildir; the one made here does not yet.
        f.tbsOptions->setCurrentIndex(kTabMapi);
        const std::string store = m.env.ProgramDir() + "/Mail";
        fs::create_directories(store);
        f.txtProfile->setEnabled(true);
        f.txtProfile->setText(QString::fromStdString(store));
        QCOMPARE(f.profileCheck->Warning(),
                 QString("It holds no Maildir (no cur and new folders)."));
        fs::create_directories(store + "/cur");
        fs::create_directories(store + "/new");
        f.txtProfile->setText(QString::fromStdString(store + "/"));
        QCOMPARE(f.profileCheck->Warning(), QString());
        f.txtProfile->clear();
        f.cmdOK->click();
    });
    QCOMPARE(m.Setting("TemplateDir"), missing);
}

// The mailbox file's box says what the file looks like and offers the format that reads it;
// a Thunderbird profile folder offers its Inbox.
void OptionsTest::mailboxFileKindIsSaidAndCanBeChosen() {
    Manager m("UseSource=NETSCAPE\r\n");
    const std::string mbox = m.env.ProgramDir() + "/archive.mbox";
    WriteFileBytes(mbox, "From ann@example.org Mon Mar  2 09:00:00 2026\nSubject: a\n\nb\n");
    const std::string inbox = m.env.ProgramDir() + "/profile/Mail/Local Folders/Inbox";
    fs::create_directories(fs::path(inbox).parent_path());
    WriteFileBytes(inbox, "From - Mon Mar  2 09:00:00 2026\nSubject: a\n\nb\n");
    WriteFileBytes(m.env.ProgramDir() + "/profile/prefs.js", "");
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabLocalFile);
        PathFieldCheck& check = *f.localFileCheck;
        f.findChild<QLineEdit*>("txtFormatFile")->setText(QString::fromStdString(mbox + "x"));
        QCOMPARE(check.Warning(), QString("The file does not exist."));

        // Dropped on the box from a file manager, the file is checked as a typed one.
        auto* box = f.findChild<QLineEdit*>("txtFormatFile");
        QVERIFY(tallix::testing::DropFile(box, mbox));
        QCOMPARE(box->text(), QString::fromStdString(mbox));
        QCOMPARE(check.Warning(),
                 QString("It looks like a standard mbox file: choose the format \"Other - RFC "
                         "822 Compliant File\" for the local file in the system options."));
        QPushButton* offer = check.ActionButton();
        QVERIFY(offer->isVisible());
        QCOMPARE(offer->text(), QString("Read as Other - RFC 822 Compliant File"));
        offer->click();
        QCOMPARE(f.Values().source, std::string("FILE_OTHER"));
        QCOMPARE(check.Warning(), QString("It looks like a standard mbox file."));
        QVERIFY(offer->isHidden());

        f.findChild<QLineEdit*>("txtFormatFile")
            ->setText(QString::fromStdString(m.env.ProgramDir() + "/profile"));
        QVERIFY(
            check.Warning().startsWith("This is a folder, not a file.\nIt looks like a "
                                       "Thunderbird profile folder"));
        QCOMPARE(offer->text(), QString("Use Its Inbox"));
        offer->click();
        QCOMPARE(f.Values().localFileName, inbox);
        QCOMPARE(f.Values().source, std::string("NETSCAPE"));
        QCOMPARE(check.Warning(), QString("It looks like a Netscape or Thunderbird mail file."));
        f.cmdOK->click();
    });
    QCOMPARE(m.Setting("UseSource"), std::string("NETSCAPE"));
    QCOMPARE(m.Setting("LocalFileName"), inbox);
}

void OptionsTest::accountsAreShownAndEditsKeptAcrossSelection() {
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    ::chmod(m.Pop3File().c_str(), 0600);
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabInternetMail);
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home", "Work"}));
        QCOMPARE(f.lstPOPName->currentRow(), 0);
        QCOMPARE(f.txtHostName->text(), QString("pop.home.example"));
        QCOMPARE(f.txtPassword->text(), QString("secret"));
        QCOMPARE(f.txtPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(f.txtPort->text(), QString("110"));
        QVERIFY(!f.cmdApply->isEnabled());

        f.lstPOPName->setCurrentRow(1);
        QCOMPARE(f.txtPOPName->text(), QString("Work"));
        QCOMPARE(f.txtPort->text(), QString("995"));
        f.txtHostName->setText("pop.new-work.example");
        f.txtPort->selectAll();
        QTest::keyClicks(f.txtPort, "99x5");  // the box takes digits only
        QCOMPARE(f.txtPort->text(), QString("995"));
        f.txtPassword->setText("  new pw  ");
        f.lstPOPName->setCurrentRow(0);  // the edits go into Work first
        QCOMPARE(f.txtHostName->text(), QString("pop.home.example"));
        f.lstPOPName->setCurrentRow(1);
        QCOMPARE(f.txtHostName->text(), QString("pop.new-work.example"));
        f.cmdOK->click();
    });
    QCOMPARE(
        ReadFileBytes(m.Pop3File()),
        std::string("[GENERAL]\r\nCount=2\r\n[NAMES]\r\nConfig1=Home\r\nConfig2=Work\r\n"
                    "[Home]\r\nHostName=pop.home.example\r\nPort=110\r\nLoginName=me\r\n"
                    "Password=secret\r\n[Work]\r\nHostName=pop.new-work.example\r\nPort=995\r\n"
                    "LoginName=jo\r\nPassword=new pw\r\n"));
    QCOMPARE(FileMode(m.Pop3File()), 0600u);
}

void OptionsTest::accountNameRule_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("ownRow");  // -1 for an account being added
    QTest::addColumn<bool>("accepted");
    QTest::newRow("left as <New>") << "<New>" << -1 << false;
    QTest::newRow("<New> with blanks") << "  <New> " << -1 << false;
    QTest::newRow("empty") << "" << -1 << false;
    QTest::newRow("blanks") << "   " << -1 << false;
    QTest::newRow("same as an entry") << "Work" << -1 << false;
    QTest::newRow("same as an entry after trimming") << " Home  " << -1 << false;
    // Sections of the account file match without regard to case: "HOME" would share the
    // section of "Home".
    QTest::newRow("differs only in case") << "HOME" << -1 << false;
    QTest::newRow("differs only in case after trimming") << " wORK " << -1 << false;
    QTest::newRow("new name") << "Office" << -1 << true;
    QTest::newRow("own name in another case") << "WORK" << 1 << true;
    QTest::newRow("own name") << "Work" << 1 << true;
    QTest::newRow("another's name when renaming") << " Home " << 1 << false;
    QTest::newRow("another's name in another case") << "HOME" << 1 << false;
    QTest::newRow("blank when renaming") << "" << 1 << false;
}

void OptionsTest::accountNameRule() {
    QFETCH(QString, name);
    QFETCH(int, ownRow);
    QFETCH(bool, accepted);
    QCOMPARE(ValidPOP3Name({"Home", "Work"}, name, ownRow), accepted);
}

void OptionsTest::newAccountNameChecks_data() {
    // The rule itself is accountNameRule's; here how the dialog acts on each answer.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("left as <New>") << "<New>" << false;
    QTest::newRow("same as an entry after trimming") << " Home  " << false;
    QTest::newRow("differs only in case") << "HOME" << false;
    QTest::newRow("new name") << "Office" << true;
}

void OptionsTest::newAccountNameChecks() {
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabInternetMail);
        f.cmdVarAdd->click();
        QVERIFY(f.addingAccount);
        QCOMPARE(f.txtPOPName->text(), QString::fromUtf8(kNewAccountName));
        QCOMPARE(f.txtPort->text(), QString("110"));
        QVERIFY(f.txtHostName->text().isEmpty());
        QVERIFY(f.txtPOPName->hasFocus());
        QCOMPARE(f.txtPOPName->selectedText(), QString::fromUtf8(kNewAccountName));
        QVERIFY(!f.lstPOPName->isEnabled());
        QVERIFY(!f.cmdVarAdd->isEnabled());
        QVERIFY(!f.cmdDelete->isEnabled());

        TypeName(f, name);
        if (!accepted) {
            QCOMPARE(m.ui.boxes.size(), std::size_t(1));
            QCOMPARE(m.ui.boxes[0].text, std::string("Invalid Name"));
            QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
            QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Exclamation);
            QCOMPARE(Texts(f.lstPOPName), QStringList({"Home", "Work"}));
            QVERIFY(f.addingAccount);
            // The focus comes back to the name, all of it selected.
            QTRY_VERIFY(f.txtPOPName->hasFocus());
            QCOMPARE(f.txtPOPName->selectedText(), f.txtPOPName->text());
            // Leaving for "&Cancel" checks nothing.
            QTest::mouseClick(f.cmdCancel, Qt::LeftButton);
            QCOMPARE(m.ui.boxes.size(), std::size_t(1));
            return;
        }
        QVERIFY(m.ui.boxes.empty());
        QVERIFY(!f.addingAccount);
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home", "Work", name}));
        QCOMPARE(f.lstPOPName->currentRow(), 2);
        QVERIFY(f.lstPOPName->isEnabled() && f.cmdVarAdd->isEnabled() && f.cmdDelete->isEnabled());
        QVERIFY(f.txtHostName->hasFocus());
        QTest::keyClicks(f.txtHostName, "pop.office.example");
        f.txtLoginName->setText("boss");
        f.cmdOK->click();
    });
    if (!accepted) {
        QCOMPARE(ReadFileBytes(m.Pop3File()), kTwoAccounts);
        QCOMPARE(AccountNames(), QStringList({"Home", "Work"}));
        return;
    }
    QCOMPARE(AccountNames(), QStringList({"Home", "Work", name}));
    const std::string file = ReadFileBytes(m.Pop3File());
    const std::string n = name.toStdString();
    QVERIFY2(file.find("[GENERAL]\r\nCount=3\r\n") == 0, file.c_str());
    QVERIFY2(file.find("Config3=" + n + "\r\n") != std::string::npos, file.c_str());
    QVERIFY2(
        file.find(
            "[" + n +
            "]\r\nHostName=pop.office.example\r\nPort=110\r\nLoginName=boss\r\nPassword=\r\n") !=
            std::string::npos,
        file.c_str());
    QVERIFY2(file.find("[Home]\r\nHostName=pop.home.example\r\n") != std::string::npos,
             file.c_str());
}

void OptionsTest::renamingAnAccountRefusesDuplicates() {
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabInternetMail);
        f.lstPOPName->setCurrentRow(1);
        // Another account's name: refused without a word, the box shows the old name again.
        TypeName(f, " Home ");
        QCOMPARE(f.txtPOPName->text(), QString("Work"));
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home", "Work"}));
        // Nor one that differs from it only in case (the file's sections would be shared).
        TypeName(f, "HOME");
        QCOMPARE(f.txtPOPName->text(), QString("Work"));
        // Its own name in another case is a rename.
        TypeName(f, "WORK");
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home", "WORK"}));
        TypeName(f, "Office");
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home", "Office"}));
        TypeName(f, "");
        QCOMPARE(f.txtPOPName->text(), QString("Office"));
        QVERIFY(m.ui.boxes.empty());
        f.cmdApply->click();
        f.cmdCancel->click();
    });
    QCOMPARE(AccountNames(), QStringList({"Home", "Office"}));
    const std::string file = ReadFileBytes(m.Pop3File());
    QVERIFY2(file.find("Config2=Office\r\n") != std::string::npos, file.c_str());
    QVERIFY2(
        file.find("[Office]\r\nHostName=mail.work.example\r\nPort=995\r\n") != std::string::npos,
        file.c_str());
    QVERIFY2(file.find("[Home]\r\nHostName=pop.home.example\r\n") != std::string::npos,
             file.c_str());
}

void OptionsTest::cancelAfterAddAndRemoveKeepsTheFile() {
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    for (const bool byEscape : {false, true}) {
        m.WithOptions([&](FrmOptions& f) {
            f.tbsOptions->setCurrentIndex(kTabInternetMail);
            f.cmdVarAdd->click();
            TypeName(f, "Office");
            QCOMPARE(EditedNames(f), QStringList({"Home", "Work", "Office"}));
            QCOMPARE(AccountNames(), QStringList({"Home", "Work"}));
            f.lstPOPName->setCurrentRow(0);
            m.ui.QueueAnswer(MsgAnswer::Yes);
            f.cmdDelete->click();
            QCOMPARE(Texts(f.lstPOPName), QStringList({"Work", "Office"}));
            QCOMPARE(EditedNames(f), QStringList({"Work", "Office"}));
            f.txtHostName->setText("changed");
            if (byEscape)
                QTest::keyClick(&f, Qt::Key_Escape);
            else
                f.cmdCancel->click();
            QVERIFY(!f.isVisible());
        });
        QCOMPARE(ReadFileBytes(m.Pop3File()), kTwoAccounts);
        QCOMPARE(AccountNames(), QStringList({"Home", "Work"}));
        QCOMPARE(State().pop3Configs->Item(1)->HostName(), std::string("pop.home.example"));
    }
}

void OptionsTest::removeAsksFirst() {
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabInternetMail);
        f.lstPOPName->setCurrentRow(1);
        m.ui.QueueAnswer(MsgAnswer::No);
        f.cmdDelete->click();
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, std::string("Delete the following: Work"));
        QCOMPARE(m.ui.boxes[0].title, std::string("Confirmation"));
        QCOMPARE(m.ui.boxes[0].buttons, MsgButtons::YesNo);
        QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Question);
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home", "Work"}));
        QCOMPARE(f.txtPOPName->text(), QString("Work"));

        m.ui.QueueAnswer(MsgAnswer::Yes);
        f.cmdDelete->click();
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home"}));
        // The boxes are emptied, not filled from the entry left selected.
        QCOMPARE(f.lstPOPName->currentRow(), -1);
        QVERIFY(f.txtPOPName->text().isEmpty() && f.txtHostName->text().isEmpty());
        QVERIFY(!f.txtHostName->isEnabled());
        QVERIFY(!f.cmdDelete->isEnabled());
        // The file changes only on Apply.
        QCOMPARE(ReadFileBytes(m.Pop3File()), kTwoAccounts);
        f.cmdApply->click();
    });
    const std::string file = ReadFileBytes(m.Pop3File());
    QVERIFY2(file.find("[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Home\r\n[Home]\r\n") == 0,
             file.c_str());
    QVERIFY(file.find("Work") == std::string::npos);
}

void OptionsTest::okWhileAddingDoesNotOverwriteTheShownAccount() {
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabInternetMail);
        f.cmdVarAdd->click();
        QVERIFY(f.txtPOPName->hasFocus());
        // Enter presses the default button, OK, with the name still "<New>".
        QTest::keyClick(f.txtPOPName, Qt::Key_Return);
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, std::string("Invalid Name"));
        QVERIFY(f.isVisible());
        QCOMPARE(ReadFileBytes(m.Pop3File()), kTwoAccounts);
        // A good name then goes in with what the boxes hold.
        f.txtPOPName->setText("Office");
        f.txtHostName->setText("pop.office.example");
        QTest::keyClick(f.txtPOPName, Qt::Key_Return);
        QVERIFY(!f.isVisible());
    });
    QCOMPARE(AccountNames(), QStringList({"Home", "Work", "Office"}));
    QCOMPARE(State().pop3Configs->Item(1)->HostName(), std::string("pop.home.example"));
    QCOMPARE(State().pop3Configs->Item(3)->HostName(), std::string("pop.office.example"));
    const std::string file = ReadFileBytes(m.Pop3File());
    QVERIFY2(file.find("[Home]\r\nHostName=pop.home.example\r\n") != std::string::npos,
             file.c_str());
    QVERIFY2(file.find("[Office]\r\nHostName=pop.office.example\r\n") != std::string::npos,
             file.c_str());
}

void OptionsTest::helpOpensTheOptionsTopic() {
    Manager m("UseSource=POP3\r\n");
    fs::copy(TALLIX_HELP_SOURCE, m.env.ProgramDir() + "/help");
    m.WithOptions([&](FrmOptions& f) {
        f.cmdHelp->click();
        FrmHelp* help = HelpWindow();
        QVERIFY(help->browser->source().toLocalFile().endsWith("/options.html"));
        QVERIFY(help->browser->toPlainText().contains("Maildir"));
        help->close();
    });
    QVERIFY(m.ui.boxes.empty());
}

void OptionsTest::keyboardOrderAndMnemonics() {
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    const std::string before = ReadFileBytes(m.env.SettingsFile());
    m.WithOptions([&](FrmOptions& f) {
        QCOMPARE(f.tbsOptions->tabText(0), QString("&General"));
        QCOMPARE(f.tbsOptions->tabText(1), QString("&MAPI Client"));
        QCOMPARE(f.tbsOptions->tabText(2), QString("&Internet Mail"));
        QCOMPARE(f.tbsOptions->tabText(3), QString("&Local File"));
        QCOMPARE(f.cmdVarAdd->text(), QString("A&dd"));
        QCOMPARE(f.cmdDelete->text(), QString("&Remove"));
        // Alt+I opens the Internet Mail tab.
        QTest::keyClick(&f, Qt::Key_I, Qt::AltModifier);
        QCOMPARE(f.tbsOptions->currentIndex(), kTabInternetMail);
        // Tab walks the page as it is laid out, then the dialog's buttons.
        // (The folders and the connection test are IMAP's: disabled for POP3, passed over.)
        const QList<QWidget*> order = {f.lstPOPName,   f.cmdVarAdd,   f.cmdDelete,
                                       f.txtPOPName,   f.txtHostName, f.txtPort,
                                       f.txtLoginName, f.txtPassword, f.txtPasswordCommand,
                                       f.cboSecurity,  f.cboAuth,     f.cmdOK,
                                       f.cmdCancel,    f.cmdHelp};
        f.lstPOPName->setFocus(Qt::TabFocusReason);
        for (int i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY2(QApplication::focusWidget() == order[i],
                     qPrintable(order[i]->objectName() + " expected, focus on " +
                                QApplication::focusWidget()->objectName()));
        }
        // The General tab, with every box enabled, from the first choice to the last box.
        QTest::keyClick(&f, Qt::Key_G, Qt::AltModifier);
        QCOMPARE(f.tbsOptions->currentIndex(), kTabGeneral);
        f.chkDelMessages->click();
        f.chkUseScripting->click();
        const QList<QWidget*> general = {
            f.chkDelMessages, f.chkPromptDelete, f.chkUnusedMsgs, f.chkProcessOnce,
            f.txtDirectory,   f.cmdDirBrowse,    f.chkHelpText,   f.chkUseScripting,
            f.txtScriptDir,   f.cmdScriptBrowse, f.txtEngine,     f.txtExtension,
            f.cmdOK};
        f.chkDelMessages->setFocus(Qt::TabFocusReason);
        for (int i = 1; i < general.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY2(QApplication::focusWidget() == general[i],
                     qPrintable(general[i]->objectName() + " expected, focus on " +
                                QApplication::focusWidget()->objectName()));
        }
        // Alt+C is "&Cancel".
        QTest::keyClick(&f, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(!f.isVisible());
    });
    QCOMPARE(ReadFileBytes(m.env.SettingsFile()), before);
}

void OptionsTest::largerFontCutsNoCaption() {
    Manager m("UseSource=POP3\r\n", kTwoAccounts);
    const QFont before = QApplication::font();
    QFont big = before;
    big.setPointSizeF(before.pointSizeF() * 2);
    QApplication::setFont(big);
    std::unique_ptr<FrmOptions> f(LoadOptions(nullptr));
    QVERIFY(f);
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.get()));
    // Every page at its laid-out size: no caption gets less room than its text needs.
    for (int tab = 0; tab < f->tbsOptions->count(); ++tab) {
        f->tbsOptions->setTabEnabled(tab, true);
        f->tbsOptions->setCurrentIndex(tab);
        QApplication::processEvents();
        for (QAbstractButton* b : f->tbsOptions->widget(tab)->findChildren<QAbstractButton*>())
            // A button shown only beside a path's warning is not laid out while hidden.
            if (b->isVisibleTo(f.get()))
                QVERIFY2(b->width() >= b->minimumSizeHint().width() &&
                             b->height() >= b->sizeHint().height(),
                         qPrintable(b->objectName()));
        for (QLabel* l : f->tbsOptions->widget(tab)->findChildren<QLabel*>())
            if (!l->wordWrap())
                QVERIFY2(l->width() >= l->sizeHint().width(), qPrintable(l->text()));
    }
    for (QPushButton* b : {f->cmdOK, f->cmdCancel, f->cmdApply, f->cmdHelp})
        QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
    f->hide();
    f.reset();
    QApplication::setFont(before);
    QVERIFY(m.ui.boxes.empty());
}

// The protocol buttons show either file's accounts; the keys an account has beyond host, login
// and password (a password command, the security, the folders) survive the dialog, and
// choosing IMAP stores the IMAP source.
void OptionsTest::imapAccountsBesidePop3KeepEveryKey() {
    const std::string pop3 =
        "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Home\r\n[Home]\r\nHostName=pop.home."
        "example\r\nPort=995\r\nLoginName=me\r\nPassword=\r\nSecurity=TLS\r\n"
        "PasswordCommand=pass show mail\r\nAuth=Weird\r\n";
    Manager m("UseSource=POP3\r\n", pop3);
    const std::string imapFile = m.env.ProgramDir() + "/IMAP.CFG";
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabInternetMail);
        QVERIFY(f.optProtoPop3->isChecked());
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home"}));
        QCOMPARE(f.txtPasswordCommand->text(), QString("pass show mail"));
        // A value the box does not offer is shown as it is stored.
        QCOMPARE(f.cboAuth->currentText(), QString("Weird"));
        QVERIFY(!f.txtFolder->isEnabled());
        QVERIFY(!f.cmdTestConnection->isEnabled());

        QTest::keyClick(&f, Qt::Key_P, Qt::AltModifier);
        QTRY_VERIFY(f.optProtoImap->isChecked());
        QCOMPARE(f.lstPOPName->count(), 0);
        f.cmdVarAdd->click();
        QCOMPARE(f.txtPort->text(), QString("143"));
        TypeName(f, "Office");
        f.txtHostName->setText("imap.office.example");
        f.txtLoginName->setText("ann@office.example");
        f.txtPasswordCommand->setText("oauth2-helper --user ann");
        f.cboSecurity->setCurrentIndex(f.cboSecurity->findData("STARTTLS"));
        f.cboAuth->setCurrentIndex(f.cboAuth->findData("XOAUTH2"));
        f.txtFolder->setText("Auftr\xc3\xa4ge");
        f.txtMoveTo->setText("Done");
        QVERIFY(f.cmdTestConnection->isEnabled());
        f.cmdOK->click();
        QVERIFY(!f.isVisible());
    });
    QCOMPARE(m.Setting("UseSource"), std::string("IMAP"));
    QCOMPARE(ReadFileBytes(m.Pop3File()), pop3);
    QCOMPARE(ReadFileBytes(imapFile),
             std::string("[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Office\r\n[Office]\r\n"
                         "HostName=imap.office.example\r\nPort=143\r\nLoginName=ann@office."
                         "example\r\nPassword=\r\nSecurity=STARTTLS\r\nPasswordCommand=oauth2-"
                         "helper --user ann\r\nAuth=XOAUTH2\r\nFolder=Auftr\xc3\xa4ge\r\n"
                         "MoveTo=Done\r\n"));
    QCOMPARE(FileMode(imapFile), 0600u);
    m.WithOptions([&](FrmOptions& f) {
        QVERIFY(f.optProtoImap->isChecked());
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Office"}));
        QCOMPARE(f.txtMoveTo->text(), QString("Done"));
        QCOMPARE(f.cboSecurity->currentData().toString(), QString("STARTTLS"));
        f.optProtoPop3->click();
        QCOMPARE(Texts(f.lstPOPName), QStringList({"Home"}));
        QCOMPARE(f.Values().source, std::string("POP3"));
    });
}

// "Test connection" checks the account as the boxes show it, saved or not, against a server
// on this machine, and says what it found beside the button.
void OptionsTest::testConnectionAnswersBesideTheButton() {
    Manager m("UseSource=IMAP\r\n");
    m.LinkEngine(TALLIX_BIN_DIR, "imap_check");
    const std::string portFile = m.env.ProgramDir() + "/server.port";
    QProcess server;
    server.start("python3", {TALLIX_SOURCE_DIR "/tests/support/imap_scripted_server.py",
                             QString::fromStdString(portFile),
                             QString::fromStdString(m.env.ProgramDir() + "/server.log")});
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(portFile), 10000);
    const QString port = QString::fromStdString(ReadFileBytes(portFile));
    m.WithOptions([&](FrmOptions& f) {
        f.tbsOptions->setCurrentIndex(kTabInternetMail);
        f.cmdVarAdd->click();
        TypeName(f, "Local");
        f.txtHostName->setText("127.0.0.1");
        f.txtPort->setText(port);
        f.txtLoginName->setText("good");
        f.txtPassword->setText("pw");
        f.cboSecurity->setCurrentIndex(f.cboSecurity->findData("None"));
        f.cmdTestConnection->click();
        QVERIFY(!f.cmdTestConnection->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(f.lblTestResult->text().contains("INBOX holds 1 messages"), 30000);
        QVERIFY(f.cmdTestConnection->isEnabled());
        f.txtPassword->clear();
        f.txtPasswordCommand->setText("false");
        f.cmdTestConnection->click();
        QTRY_VERIFY_WITH_TIMEOUT(f.lblTestResult->text().contains("password command failed"),
                                 30000);
    });
    server.kill();
    server.waitForFinished();
    // Nothing was stored: the check used a file of its own.
    QVERIFY(!fs::exists(m.env.ProgramDir() + "/IMAP.CFG"));
}

QTEST_MAIN(OptionsTest)
#include "options_qttest.moc"
