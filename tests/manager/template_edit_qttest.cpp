// The template editor through the real dialog, opened by the main window's commands on the
// offscreen platform. Message boxes are scripted; every case looks at the template file
// written (or not written) as well as at the dialog.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "engine/processed_store.h"
#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/template_choices.h"
#include "manager/template_draft.h"
#include "manager/template_edit.h"
#include "manager/template_test_bench.h"
#include "model/profile_file.h"
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
namespace fs = std::filesystem;
using tallix::testing::EngineWithoutWindow;
using tallix::testing::Names;
using tallix::testing::ReadBack;
using tallix::testing::ReadFileBytes;
using tallix::testing::Texts;
using tallix::testing::WriteFileBytes;

namespace {

// A template with two variables, Code and Name, both in the output line.
std::string TwoVarTemplate(const std::string& outputFile, const std::string& delimiter = "COMMA") {
    return "[General]\r\nActive=True\r\nNum_Variables=2\r\nLast_Ran=Never\r\n"
           "[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=Order\r\n"
           "[Variables]\r\nVar1=Code;MSG_TEXT;Code:;{End of Line};0;0;1;0;0\r\n"
           "Var2=Name;SENDER_NAME;{Beginning of Field};{End of Field};0;0;0;0;0\r\n"
           "[Output]\r\nAllowDuplicate=False\r\nFile=" +
           outputFile + "\r\nDelimiter=" + delimiter +
           "\r\nOutput_Count=1\r\nOutput1=Code,Name\r\n"
           "[Scripts]\r\nrun=\r\n";
}

// The variable names of `d` as the variable list shows them.
QStringList Listed(const TemplateDraft& d) {
    QStringList out;
    for (const ListedVariable& v : ListedVariables(d.variables))
        out << QString::fromStdString(v.name);
    return out;
}

// TwoVarTemplate as the editor's draft.
TemplateDraft TwoVarDraft(const std::string& outputFile) {
    TemplateDraft d;
    d.name = "Orders";
    d.active = true;
    d.filterField = "MSG_SUBJECT";
    d.filterText = "Order";
    d.outputFile = outputFile;
    d.delimiter = "COMMA";
    d.variables = {
        {"Code", "MSG_TEXT", "Code:", "{End of Line}", "0", "0", "0", "1", "0", "", false},
        {"Name", "SENDER_NAME", "{Beginning of Field}", "{End of Field}", "0", "0", "0", "0", "0",
         "", false}};
    d.output = {"Code", "Name"};
    return d;
}

// A template holding every key the editor reads beyond the template object's: patterns (one
// with ";", one with blanks around it), a repeated variable, header fields, an attachment's
// name and the output options, with the semicolon delimiter.
std::string NewKeysTemplate(const std::string& outputFile) {
    return "[General]\r\nActive=True\r\nNum_Variables=4\r\nLast_Ran=Never\r\n"
           "[Filter]\r\nCommand=MSG_HEADER:List-Id\r\nFind_String=shop\r\n"
           "[Variables]\r\nVar1=Code;MSG_TEXT;Code:;{End of Line};0;0;1;0;0\r\n"
           "Var2=Item;MSG_TEXT;{Beginning of Field};{End of Field};0;0;0;0;0\r\n"
           "Var3=OrderId;MSG_HEADER:X-Order-Id;{Beginning of Field};{End of Field};0;0;0;0;0\r\n"
           "Var4=File;ATTACHMENT_NAME;{Beginning of Field};{End of Field};0;0;0;0;0\r\n"
           "[Output]\r\nAllowDuplicate=False\r\nFile=" +
           outputFile +
           "\r\nDelimiter=SEMICOLON\r\nOutput_Count=1\r\nOutput1=Code,Item,OrderId,File\r\n"
           "PerAttachment=True\r\nFormat=JSONL\r\nFormulaGuard=True\r\nBOM=True\r\n"
           "HeaderRow=True\r\nDateFormat=ISO\r\n"
           "[Scripts]\r\nrun=\r\n"
           "[Patterns]\r\nCode=Order\\s+#(\\d+);\r\nItem=\" Item: (.*) \"\r\n"
           "[Repeat]\r\nItems=Item\r\n";
}

// The value of a key of the file at `path` as a reader of template files gets it.
std::optional<std::string> StoredKey(const std::string& path, std::string_view section,
                                     std::string_view key) {
    return profile::ProfileDocument::Load(path).Find(section, key);
}

std::shared_ptr<clsExportField> FieldNamed(const clsTemplate& t, const std::string& name) {
    for (const auto& f : t.colFields()->NewEnum())
        if (f->FieldName() == name) return f;
    return nullptr;
}

void Type(QLineEdit* box, const QString& text) {
    box->selectAll();
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    else
        QTest::keyClicks(box, text);
}

void Choose(QComboBox* combo, const QString& text) {
    const int i = combo->findText(text);
    QVERIFY2(i >= 0, qPrintable(text));
    combo->setCurrentIndex(i);
}

void SelectEntry(QListWidget* list, const QString& text) {
    const auto found = list->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(text));
    list->setCurrentItem(found.first());
}

// Moves the focus from the widget that has it to `to`, as the Tab key would.
void FocusTo(QWidget* to) {
    to->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
}

// One manager with its main window, over a private program directory and settings file.
struct Manager : tallix::testing::ManagerFixture {
    Manager() { Settings().useSource = "NETSCAPE"; }
    ~Manager() {
        SetEditorRunner({});
        SetOutputFileChooser({});
    }

    std::string OutPath() const { return env.ProgramDir() + "/out.csv"; }
    void AddNewKeysTemplate(const std::string& name) {
        WriteFileBytes(TemplatePath(name), NewKeysTemplate(OutPath()));
    }
    void AddTemplate(const std::string& name, const std::string& delimiter = "COMMA") {
        WriteFileBytes(TemplatePath(name), TwoVarTemplate(OutPath(), delimiter));
    }

    // Opens the editor through `open` (a main window command) and runs `body` on the shown
    // dialog; a dialog still open afterwards is cancelled. False when no editor opened.
    bool Edit(const std::function<void()>& open,
              const std::function<void(FrmTemplateEdit&)>& body) {
        bool opened = false;
        SetEditorRunner([&](FrmTemplateEdit& d) {
            opened = true;
            d.show();
            if (!QTest::qWaitForWindowActive(&d)) qWarning("editor window not active");
            body(d);
            if (d.isVisible()) d.reject();
        });
        open();
        SetEditorRunner({});
        return opened;
    }
    // The template `name` as the editor gets it for an existing row: its row selected,
    // read from its file.
    std::shared_ptr<clsTemplate> OpenExisting(const std::string& name) {
        GetTempFiles();
        Select(name);
        State().newTemplate = false;
        return ReadBack(TemplatePath(name));
    }
    bool EditNew(const std::function<void(FrmTemplateEdit&)>& body) {
        return Edit([this] { form->mnuFileNew->trigger(); }, body);
    }
    bool EditExisting(const std::string& name, const std::function<void(FrmTemplateEdit&)>& body) {
        GetTempFiles();
        Select(name);
        return Edit([this] { form->mnuEditModify->trigger(); }, body);
    }
};

}  // namespace

class TemplateEditTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void draftHoldsWhatTheTemplateHolds();
    void outputListKeepsOnlyVariablesInOrder_data();
    void outputListKeepsOnlyVariablesInOrder();
    void savedTemplateHoldsTheDraft();
    void variableNameRule_data();
    void variableNameRule();
    void startAndStopChoicesForStoredText_data();
    void startAndStopChoicesForStoredText();
    void helpLineText_data();
    void helpLineText();
    void draftIsShownInTheControlsAndReadBack();
    void newTemplateOpensEmptyAndSavesOnOk();
    void cancelWritesNothing();
    void unwritableTemplateKeepsTheEditorOpen();
    void variableNameChecks_data();
    void variableNameChecks();
    void renameInOtherCaseFollowsIntoOutputLine();
    void nameConfirmedWithEnterIsCheckedBeforeSaving();
    void refreshKeepsOutputNamesHoldingTheDelimiter();
    void upOnFirstEntryChangesNothing();
    void tabDelimiterShowsTabsButSavesCommas();
    void delimiterChangeEnablesApply_data();
    void delimiterChangeEnablesApply();
    void startAndStopChoicesAreSavedAsMarkersOrText_data();
    void startAndStopChoicesAreSavedAsMarkersOrText();
    void outputFileCheck();
    void deletingAnIncludedVariable();
    void savingRenamesTheFileOfAnExistingTemplate();
    void savingKeepsTheSpellingOfTheExtension_data();
    void savingKeepsTheSpellingOfTheExtension();
    void renameOntoAnUnlistedFileIsRefused();
    void leavingTheNameBoxChecksTheName();
    void failedRenameKeepsOldFileAndValues();
    void newTemplateRenamedAfterApplyLeavesNoTwin();
    void helpLineDescribesTheVariable();
    void fieldListsFollowTheSource_data();
    void fieldListsFollowTheSource();
    void unlistedFieldTextsAreShownAndSavedAsTheyStand();
    void scriptListsFillFromScriptDirectory();
    void scriptListTakesOnlyFilesOfTheScriptExtension();
    void scriptRunListKeepsEveryPiece_data();
    void scriptRunListKeepsEveryPiece();
    void scriptRunListWithEmptyNameSavesUnchanged();
    void keyboardReachesTabsAndControls();
    void newKeysAreShownAndSavedAsEdited();
    void templatesWithoutTheNewKeysSaveByteForByte();
    void eachMessageOnceIsTheTemplatesChoiceOrTheSettings();
    void forgetClearsOnlyThisTemplatesRecordAfterAsking();
    void forgetNamesARecordThatCannotBeOpened();
    void newTemplatesWriteCsvWithFormulasGuarded();
    void patternIsCheckedAsTypedAndABrokenOneIsRefused();
    void patternsFollowTheirVariables();
    void copyKeepsPatternsRepeatsAndOutputOptions();
    void headerNameBoxTakesOnlyAHeaderName();
    void sampleLineShowsTheFormat_data();
    void sampleLineShowsTheFormat();
    void editsAreSignalledAndTheEditedTemplateIsACopy();
    void testTabTriesTheTemplateAsEdited();
    void testTabShowsEveryLineAndTheMatchOfAPattern();
    void builtInTheDialogRunByTheEngine();
};

void TemplateEditTest::draftHoldsWhatTheTemplateHolds() {
    Manager m;
    m.AddTemplate("Orders");
    auto t = ReadBack(m.TemplatePath("Orders"));
    t->SetScriptsToRun("Tidy,Check");
    TemplateDraft expected = TwoVarDraft(m.OutPath());
    expected.scripts = {"Tidy", "Check"};
    QVERIFY(DraftFromTemplate(*t, false) == expected);
    // A new template's name is taken as it is given.
    t->SetFileName("Untitled1");
    QCOMPARE(DraftFromTemplate(*t, true).name, std::string("Untitled1"));
    // The variable list shows the names sorted without regard to case, with positions.
    t->colFields()->Item(1)->SetFieldName("code");
    t->colFields()->Add()->SetFieldName("Amount");
    const auto listed = ListedVariables(DraftFromTemplate(*t, false).variables);
    QCOMPARE(listed.size(), std::size_t(3));
    QCOMPARE(listed[0].name, std::string("Amount"));
    QCOMPARE(listed[0].position, 3);
    QCOMPARE(listed[1].name, std::string("code"));
    QCOMPARE(listed[1].position, 1);
    QCOMPARE(listed[2].name, std::string("Name"));
    QVERIFY(m.ui.boxes.empty());
}

void TemplateEditTest::outputListKeepsOnlyVariablesInOrder_data() {
    QTest::addColumn<QString>("stored");  // the stored output line
    QTest::addColumn<QStringList>("included");
    QTest::addColumn<QStringList>("available");
    QTest::newRow("reversed") << "Name,Code" << QStringList({"Name", "Code"}) << QStringList();
    QTest::newRow("no variable dropped")
        << "Total,Name" << QStringList({"Name"}) << QStringList({"Code"});
    QTest::newRow("twice, once") << "Code,Code" << QStringList({"Code"}) << QStringList({"Name"});
    QTest::newRow("blanks around")
        << " Code , Name" << QStringList({"Code", "Name"}) << QStringList();
    QTest::newRow("empty") << "" << QStringList() << QStringList({"Code", "Name"});
    QTest::newRow("other case is another name")
        << "CODE" << QStringList() << QStringList({"Code", "Name"});
}

void TemplateEditTest::outputListKeepsOnlyVariablesInOrder() {
    QFETCH(QString, stored);
    QFETCH(QStringList, included);
    QFETCH(QStringList, available);
    Manager m;
    m.AddTemplate("Orders");
    auto t = ReadBack(m.TemplatePath("Orders"));
    t->colOutPutLines()->Remove(1);
    t->colOutPutLines()->Add(stored.toStdString());
    const TemplateDraft d = DraftFromTemplate(*t, false);
    QCOMPARE(Names(d.output), included);
    QCOMPARE(Names(SplitOutput({"Code", "Name"}, d.output).available), available);
}

void TemplateEditTest::savedTemplateHoldsTheDraft() {
    Manager m;
    TemplateDraft d = TwoVarDraft(m.OutPath());
    d.name = "  Invoices ";
    d.active = false;
    d.delimiter = "TAB";
    d.outputFile = " " + m.OutPath() + " ";
    // The variable Code deleted, a new one added and renamed, then put in the output.
    d.variables.erase(d.variables.begin());
    QCOMPARE(AddNewVariable(d.variables), 2);
    QCOMPARE(d.variables[1].name, std::string(kNewVarName));
    QCOMPARE(d.variables[1].useQuotes, std::string("0"));
    QCOMPARE(d.variables[1].field, std::string());
    d.variables[1].name = "Full Name";
    d.output = {"Full Name", "Name"};
    d.allowDuplicate = true;
    d.scripts = {"Check", "Tidy"};
    auto t = std::make_shared<clsTemplate>();
    GetEditCtrlValues(d, *t);
    QCOMPARE(t->FileName(), m.TemplatePath("Invoices"));
    QCOMPARE(t->OutputFile(), m.OutPath());
    t->WriteTemplateFile(true);
    const auto saved = ReadBack(m.TemplatePath("Invoices"));
    QCOMPARE(saved->Active(), false);
    QCOMPARE(saved->objFilter()->MapiField(), std::string("MSG_SUBJECT"));
    QCOMPARE(saved->objFilter()->FindString(), std::string("Order"));
    QCOMPARE(saved->VariableCount(), 2);
    QCOMPARE(saved->colFields()->Item(1)->FieldName(), std::string("Name"));
    QCOMPARE(saved->colFields()->Item(2)->FieldName(), std::string("Full Name"));
    QCOMPARE(saved->colFields()->Item(2)->FindStart(), std::string("{Beginning of Field}"));
    // The stored output line uses "," whatever the delimiter.
    QCOMPARE(saved->OutputDeliminator(), std::string("TAB"));
    QCOMPARE(saved->OutputLineCount(), 1);
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("Full Name,Name"));
    QCOMPARE(saved->AllowDuplicate(), true);
    QCOMPARE(saved->ScriptsToRun(), std::string("Check,Tidy"));
    // And the draft read again from it is the draft saved, but for the trimmed texts.
    d.name = "Invoices";
    d.outputFile = m.OutPath();
    d.variables[1].findStart = "{Beginning of Field}";
    d.variables[1].findStop = "{End of Field}";
    QVERIFY(DraftFromTemplate(*saved, false) == d);

    // Renaming follows into the output list (trimmed names compared exactly).
    std::vector<std::string> output = {"Code", " Name", "name"};
    ChangeIncludeList(output, "Name", "Sender");
    QCOMPARE(output, (std::vector<std::string>{"Code", "Sender", "name"}));
    QVERIFY(m.ui.boxes.empty());
}

void TemplateEditTest::variableNameRule_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("ownRow");  // in the list Code, Name, <NewVar>
    QTest::addColumn<QString>("message");
    QTest::newRow("left as <NewVar>")
        << "<NewVar>" << 2 << QString::fromLatin1(kMsgVarInvalid.data());
    QTest::newRow("typed <NewVar> with blanks")
        << " <NewVar> " << 0 << QString::fromLatin1(kMsgVarInvalid.data());
    QTest::newRow("blank") << "   " << 2 << QString::fromLatin1(kMsgVarBlank.data());
    QTest::newRow("other variable, other case")
        << "CODE" << 2 << QString::fromLatin1(kMsgVarExists.data());
    QTest::newRow("other variable after trimming")
        << " Name " << 0 << QString::fromLatin1(kMsgVarExists.data());
    QTest::newRow("own name, other case") << "CODE" << 0 << QString();
    QTest::newRow("good name") << "Total" << 2 << QString();
}

void TemplateEditTest::variableNameRule() {
    QFETCH(QString, typed);
    QFETCH(int, ownRow);
    QFETCH(QString, message);
    const std::string_view refusal =
        VarNameRefusal({"Code", "Name", "<NewVar>"}, ownRow, typed.toStdString());
    QCOMPARE(QString::fromUtf8(refusal.data(), qsizetype(refusal.size())), message);
}

void TemplateEditTest::startAndStopChoicesForStoredText_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("start");  // the start choice shown for it as FindStart
    QTest::addColumn<QString>("stop");   // the stop choice shown for it as FindStop
    QTest::newRow("empty") << ""
                           << "Beginning of Field"
                           << "End of Field";
    QTest::newRow("old NONE") << "NONE"
                              << "Beginning of Field"
                              << "End of Field";
    QTest::newRow("beginning marker, other case") << "{beginning of field}"
                                                  << "Beginning of Field"
                                                  << "Defined Text";
    QTest::newRow("end of field") << " {End of Field} "
                                  << "After Defined Text"
                                  << "End of Field";
    QTest::newRow("end of line") << "{End of Line}"
                                 << "After Defined Text"
                                 << "End of Line";
    QTest::newRow("text") << "Total:"
                          << "After Defined Text"
                          << "Defined Text";
}

void TemplateEditTest::startAndStopChoicesForStoredText() {
    QFETCH(QString, stored);
    QFETCH(QString, start);
    QFETCH(QString, stop);
    QCOMPARE(QString::fromStdString(SetStartComboStr(stored.toStdString())), start);
    QCOMPARE(QString::fromStdString(SetStopComboStr(stored.toStdString())), stop);
    // Taken back: a marker choice gives its marker whatever the box holds, a defined one the
    // box's text.
    QCOMPARE(FindTextFromChoice("End of Line", "xyz"), std::string("{End of Line}"));
    QCOMPARE(FindTextFromChoice("Beginning of Field", "Ref:"), std::string("{Beginning of Field}"));
    QCOMPARE(FindTextFromChoice("After Defined Text", "Ref:"), std::string("Ref:"));
    QCOMPARE(FindTextFromChoice("Defined Text", "."), std::string("."));
    QVERIFY(ShowVarStart("After Defined Text") && !ShowVarStart("Beginning of Field"));
    QVERIFY(ShowVarStop("Defined Text") && !ShowVarStop("End of Line"));
}

void TemplateEditTest::helpLineText_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("startText");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("stopText");
    QTest::addColumn<QString>("secondLine");
    QTest::newRow("markers") << "Beginning of Field"
                             << ""
                             << "End of Line"
                             << ""
                             << "Data starts at Beginning of Field and stops at End of Line.";
    QTest::newRow("texts") << "After Defined Text"
                           << "Code:"
                           << "Defined Text"
                           << ";"
                           << "Data starts after the text 'Code:' and stops at the text ';'";
    QTest::newRow("long texts cut")
        << "After Defined Text"
        << "0123456789abcdefXYZ"
        << "Defined Text"
        << "exactly15chars!"
        << "Data starts after the text '0123456789abcde...' and stops at the "
           "text 'exactly15chars!'";
    QTest::newRow("marker start, text stop")
        << "Beginning of Field"
        << "ignored"
        << "Defined Text"
        << "."
        << "Data starts at Beginning of Field and stops at '.'";
}

void TemplateEditTest::helpLineText() {
    QFETCH(QString, start);
    QFETCH(QString, startText);
    QFETCH(QString, stop);
    QFETCH(QString, stopText);
    QFETCH(QString, secondLine);
    const std::string line =
        HelpLine({" Name ", "SENDER_NAME", start.toStdString(), startText.toStdString(),
                  stop.toStdString(), stopText.toStdString()});
    QCOMPARE(QString::fromStdString(line),
             "Data for 'Name' is extracted from the message field: 'SENDER_NAME' .\n" + secondLine);
}

void TemplateEditTest::draftIsShownInTheControlsAndReadBack() {
    Manager m;
    Settings().useSource = "POP3";
    FrmTemplateEdit d(std::make_shared<clsTemplate>());
    TemplateDraft draft = TwoVarDraft(m.OutPath());
    draft.delimiter = "SPACE";
    draft.allowDuplicate = true;
    draft.scripts = {"Tidy", "Check"};
    // Shown first (sorted), so read back through its controls: as the controls show it.
    draft.variables.push_back(
        {"Amount", "REPLY_TO_NAME", "Total:", "{End of Line}", "1", "1", "0", "1", "1"});
    // Never shown: goes back as it came, flags and all.
    draft.variables[1].matchCase = "yes";
    draft.output = {"Name", "Amount"};
    d.SetDraft(draft);
    const std::vector<std::pair<const char*, QString>> texts = {
        {"txtTemplateName", "Orders"},
        {"txtFilterFindStr", "Order"},
        {"txtOutputFileName", QString::fromStdString(m.OutPath())},
        {"txtVarName", "Amount"},
        {"txtVarFindStr", "Total:"},
        {"txtVarStopStr", "{End of Line}"},
        {"txtOutputLine", "Name Amount"}};
    for (const auto& [name, text] : texts) {
        auto* box = d.findChild<QLineEdit*>(name);
        QVERIFY2(box, name);
        QCOMPARE(box->text(), text);
    }
    const std::vector<std::pair<const char*, QString>> combos = {
        {"cboFilterField", "MSG_SUBJECT"},    {"cboDelimiter", "SPACE"},
        {"cboVarMapiField", "REPLY_TO_NAME"}, {"cboStart", "After Defined Text"},
        {"cboStop", "End of Line"},           {"cboVarType", "MAPI"}};
    for (const auto& [name, text] : combos) {
        auto* combo = d.findChild<QComboBox*>(name);
        QVERIFY2(combo, name);
        QCOMPARE(combo->currentText(), text);
    }
    for (const auto& [name, on] :
         std::vector<std::pair<const char*, bool>>{{"chkActive", true},
                                                   {"chkAllowDuplicate", true},
                                                   {"chkUseQuote", true},
                                                   {"chkRemoveLF", true},
                                                   {"chkMatchString", false},
                                                   {"chkMatchCase", true},
                                                   {"chkStartOfLine", true}}) {
        auto* box = d.findChild<QCheckBox*>(name);
        QVERIFY2(box, name);
        QVERIFY2(box->isChecked() == on, name);
    }
    QCOMPARE(Texts(d.findChild<QListWidget*>("lstVars")), QStringList({"Amount", "Code", "Name"}));
    QCOMPARE(Texts(d.findChild<QListWidget*>("lstOutVars")), QStringList({"Code"}));
    QCOMPARE(Texts(d.findChild<QListWidget*>("lstUseScripts")), QStringList({"Tidy", "Check"}));
    QCOMPARE(d.DelimiterChar(), std::string(" "));
    QVERIFY(!d.Changed());

    // Read back: what was shown, the unshown variables untouched; the template is not.
    QVERIFY(d.Draft() == draft);
    QCOMPARE(d.Template()->VariableCount(), 0);
    // A value the controls cannot show comes back as what they show instead; a message
    // field they do not list is shown and comes back as it stands, a blank one as "<NONE>".
    draft.filterField = "NO SUCH FIELD";
    draft.delimiter = "PIPE";
    draft.variables[2].field = "";
    draft.variables[2].findStart = "";
    draft.variables[2].useQuotes = "";
    d.SetDraft(draft);
    const TemplateDraft shown = d.Draft();
    QCOMPARE(shown.filterField, std::string("NO SUCH FIELD"));
    QCOMPARE(d.cboFilterField->currentText(), QString("NO SUCH FIELD"));
    QCOMPARE(shown.delimiter, std::string("COMMA"));
    QCOMPARE(shown.variables[2].field, std::string("<NONE>"));
    QCOMPARE(shown.variables[2].findStart, std::string("{Beginning of Field}"));
    QCOMPARE(shown.variables[2].useQuotes, std::string("0"));
    QCOMPARE(shown.variables[1].matchCase, std::string("yes"));
    QVERIFY(m.ui.boxes.empty());
}

void TemplateEditTest::newTemplateOpensEmptyAndSavesOnOk() {
    Manager m;
    // "Untitled" is taken, so the new template is Untitled1.
    WriteFileBytes(m.TemplatePath("Untitled"), TwoVarTemplate(m.OutPath()));
    GetTempFiles();
    const bool opened = m.EditNew([&](FrmTemplateEdit& d) {
        QCOMPARE(d.windowTitle(), QString("Template Properties"));
        QCOMPARE(d.tabMain->currentIndex(), kEditorTabGeneral);
        QCOMPARE(d.Draft().name, std::string("Untitled1"));
        QVERIFY(d.Draft().variables.empty());
        QVERIFY(!d.frameProp->isEnabled());
        QVERIFY(!d.cmdDelete->isEnabled());
        QVERIFY(!d.cmdApply->isEnabled());
        QVERIFY(!d.Changed());
        QCOMPARE(d.Draft().delimiter, std::string("COMMA"));
        QCOMPARE(d.Draft().filterField, std::string("<NONE>"));
        // Scripts are off in these settings: the tab cannot be chosen.
        QVERIFY(!d.tabMain->isTabEnabled(kEditorTabScripting));
        d.chkActive->setChecked(true);
        QVERIFY(d.cmdApply->isEnabled());
        // Its output line lists nothing: OK asks first, and No keeps the editor open with
        // nothing written.
        for (QPushButton* save : {d.cmdOK, d.cmdApply}) {
            m.ui.boxes.clear();
            save->click();
            QCOMPARE(m.ui.boxes.size(), std::size_t(1));
            QCOMPARE(m.ui.boxes[0].text, std::string(kMsgEmptyOutputLine));
            QCOMPARE(m.ui.boxes[0].title, std::string("Warning"));
            QCOMPARE(m.ui.boxes[0].buttons, MsgButtons::YesNo);
            QCOMPARE(m.ui.boxes[0].defaultAnswer, MsgAnswer::No);
            QVERIFY(d.isVisible());
            QVERIFY(d.cmdApply->isEnabled());
            QVERIFY(!fs::exists(m.TemplatePath("Untitled1")));
        }
        m.ui.boxes.clear();
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    });
    QVERIFY(opened);
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    const auto saved = ReadBack(m.TemplatePath("Untitled1"));
    QCOMPARE(saved->Active(), true);
    QCOMPARE(saved->VariableCount(), 0);
    QCOMPARE(saved->OutputDeliminator(), std::string("COMMA"));
    QCOMPARE(saved->OutputLineCount(), 1);
    QCOMPARE(saved->objFilter()->MapiField(), std::string("<NONE>"));
    QCOMPARE(saved->LastRan(), std::string("Never"));
    // The list shows the new row, selected.
    QCOMPARE(FrmMain::RowText(m.form->SelectedItem()), std::string("Untitled1"));
}

void TemplateEditTest::unwritableTemplateKeepsTheEditorOpen() {
    Manager m;
    GetTempFiles();
    fs::remove_all(m.TemplateDir());
    const bool opened = m.EditNew([&](FrmTemplateEdit& d) {
        d.chkActive->setChecked(true);
        // (Saved without output variables: the question before it is answered Yes.)
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdOK->click();
        m.ui.boxes.erase(m.ui.boxes.begin());
        // Not written: the box names the file and the reason; the dialog and its values stay.
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, "Cannot save the current changes.\n" +
                                         m.TemplatePath("Untitled") +
                                         ": No such file or directory");
        QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Critical);
        QVERIFY(d.isVisible());
        QVERIFY(d.chkActive->isChecked());
        QVERIFY(State().newTemplate);
        // With the directory back the same OK saves and closes.
        fs::create_directories(m.TemplateDir());
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    });
    QVERIFY(opened);
    QCOMPARE(m.ui.boxes.size(), std::size_t(2));
    QCOMPARE(ReadBack(m.TemplatePath("Untitled"))->Active(), true);
    QCOMPARE(m.Rows(), QStringList{"Untitled"});
}

void TemplateEditTest::cancelWritesNothing() {
    Manager m;
    m.AddTemplate("Orders");
    const std::string before = ReadFileBytes(m.TemplatePath("Orders"));
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        Type(d.txtFilterFindStr, "Invoice");
        d.chkActive->setChecked(false);
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        d.cmdVarAdd->click();
        Type(d.txtVarName, "Extra");
        d.tabMain->setCurrentIndex(kEditorTabOutputFormat);
        d.cmdRemoveAll->click();
        QVERIFY(d.cmdApply->isEnabled());
        d.cmdCancel->click();
        QVERIFY(!d.isVisible());
    }));
    QCOMPARE(ReadFileBytes(m.TemplatePath("Orders")), before);
    // A new template cancelled leaves no file behind.
    QVERIFY(m.EditNew([&](FrmTemplateEdit& d) {
        d.chkActive->setChecked(true);
        d.cmdCancel->click();
    }));
    QCOMPARE(std::distance(fs::directory_iterator(m.TemplateDir()), fs::directory_iterator()), 1);
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
}

void TemplateEditTest::variableNameChecks_data() {
    // The rule itself is variableNameRule's; here how the dialog acts on its answers.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("left as <NewVar>") << QString() << QString::fromLatin1(kMsgVarInvalid.data());
    QTest::newRow("other variable, other case")
        << QString("CODE") << QString::fromLatin1(kMsgVarExists.data());
    QTest::newRow("good name") << QString("Total") << QString();
}

void TemplateEditTest::variableNameChecks() {
    QFETCH(QString, typed);
    QFETCH(QString, message);
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        d.cmdVarAdd->click();
        // The new variable is selected and its name box has the focus, text selected.
        QCOMPARE(d.lstVars->currentItem()->text(), QString("<NewVar>"));
        QVERIFY(d.frameProp->isEnabled());
        QCOMPARE(QApplication::focusWidget(), d.txtVarName);
        QCOMPARE(d.txtVarName->selectedText(), QString("<NewVar>"));
        if (!typed.isNull()) Type(d.txtVarName, typed);
        FocusTo(d.cboVarMapiField);
        if (message.isEmpty()) {
            QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
            QCOMPARE(Listed(d.Draft()), QStringList({"Code", "Name", "Total"}));
            QCOMPARE(QApplication::focusWidget(), d.cboVarMapiField);
        } else {
            QCOMPARE(m.ui.boxes.size(), std::size_t(1));
            QCOMPARE(QString::fromStdString(m.LastBoxText()), message);
            QCOMPARE(d.txtVarName->text(), QString("<NewVar>"));
            QTRY_COMPARE(QApplication::focusWidget(), d.txtVarName);
        }
        d.cmdApply->click();
    }));
    const auto saved = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(saved->VariableCount(), 3);
    // A refused name never reaches the file; the other variables keep theirs.
    QVERIFY(FieldNamed(*saved, "Code"));
    QVERIFY(FieldNamed(*saved, "Name"));
    QVERIFY(!FieldNamed(*saved, "CODE"));
    QVERIFY(FieldNamed(*saved, message.isEmpty() ? "Total" : "<NewVar>"));
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("Code,Name"));
}

void TemplateEditTest::renameInOtherCaseFollowsIntoOutputLine() {
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        d.txtVarName->setFocus();
        Type(d.txtVarName, "CODE");
        FocusTo(d.lstVars);
        QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
        QCOMPARE(Names(d.Draft().output), QStringList({"CODE", "Name"}));
        QCOMPARE(d.txtOutputLine->text(), QString("CODE,Name"));
        QVERIFY(d.cmdApply->isEnabled());
        d.cmdApply->click();
    }));
    const auto saved = ReadBack(m.TemplatePath("Orders"));
    const auto code = FieldNamed(*saved, "CODE");
    QVERIFY(code);
    // The rest of the variable came along unchanged.
    QCOMPARE(code->FieldType(), std::string("MSG_TEXT"));
    QCOMPARE(code->FindStart(), std::string("Code:"));
    QCOMPARE(code->FindStop(), std::string("{End of Line}"));
    QVERIFY(!FieldNamed(*saved, "Code"));
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("CODE,Name"));
}

void TemplateEditTest::nameConfirmedWithEnterIsCheckedBeforeSaving() {
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Name");
        d.txtVarName->setFocus();
        Type(d.txtVarName, "code");
        // Enter presses OK while the name box keeps the focus.
        QTest::keyClick(d.txtVarName, Qt::Key_Return);
        QCOMPARE(m.LastBoxText(), std::string(kMsgVarExists));
        QVERIFY(d.isVisible());
        QCOMPARE(d.txtVarName->text(), QString("Name"));
        Type(d.txtVarName, "Sender");
        QTest::keyClick(d.txtVarName, Qt::Key_Return);
        QVERIFY(!d.isVisible());
    }));
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    const auto saved = ReadBack(m.TemplatePath("Orders"));
    QVERIFY(FieldNamed(*saved, "Code"));
    QVERIFY(FieldNamed(*saved, "Sender"));
    QVERIFY(!FieldNamed(*saved, "code"));
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("Code,Sender"));
}

void TemplateEditTest::refreshKeepsOutputNamesHoldingTheDelimiter() {
    Manager m;
    std::string text = TwoVarTemplate(m.OutPath(), "SPACE");
    for (const char* from : {"Var2=Name;", "Output1=Code,Name"}) {
        const std::string f(from);
        std::string to = f;
        to.replace(to.find("Name"), 4, "Full Name");
        text.replace(text.find(f), f.size(), to);
    }
    WriteFileBytes(m.TemplatePath("Orders"), text);
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QCOMPARE(d.txtOutputLine->text(), QString("Code Full Name"));
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        d.cmdVarAdd->click();
        Type(d.txtVarName, "Extra");
        FocusTo(d.lstVars);
        QCOMPARE(Names(d.Draft().output), QStringList({"Code", "Full Name"}));
        d.cmdOK->click();
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    const auto saved = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(saved->VariableCount(), 3);
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("Code,Full Name"));
}

void TemplateEditTest::upOnFirstEntryChangesNothing() {
    Manager m;
    m.AddTemplate("Orders");
    const std::string before = ReadFileBytes(m.TemplatePath("Orders"));
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabOutputFormat);
        SelectEntry(d.lstVarIncluded, "Code");
        d.cmdMoveUp->click();
        QCOMPARE(Names(d.Draft().output), QStringList({"Code", "Name"}));
        QVERIFY(!d.Changed());
        QVERIFY(!d.cmdApply->isEnabled());
        // Down on the last entry neither; Down on the first swaps and keeps it selected.
        SelectEntry(d.lstVarIncluded, "Name");
        d.cmdMoveDown->click();
        QVERIFY(!d.Changed());
        SelectEntry(d.lstVarIncluded, "Code");
        d.cmdMoveDown->click();
        QCOMPARE(Names(d.Draft().output), QStringList({"Name", "Code"}));
        QCOMPARE(d.lstVarIncluded->currentItem()->text(), QString("Code"));
        QVERIFY(d.cmdApply->isEnabled());
        d.cmdApply->click();
        QVERIFY(!d.cmdApply->isEnabled());
    }));
    QVERIFY(before != ReadFileBytes(m.TemplatePath("Orders")));
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->colOutPutLines()->Item(1),
             std::string("Name,Code"));
}

void TemplateEditTest::tabDelimiterShowsTabsButSavesCommas() {
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QCOMPARE(d.txtOutputLine->text(), QString("Code,Name"));
        Choose(d.cboDelimiter, "TAB");
        QCOMPARE(d.txtOutputLine->text(), QString("Code\tName"));
        d.cmdApply->click();
    }));
    auto saved = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(saved->OutputDeliminator(), std::string("TAB"));
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("Code,Name"));
    // Opened again, the sample line is drawn with tabs from the start and the stored line
    // is read with commas.
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QCOMPARE(d.txtOutputLine->text(), QString("Code\tName"));
        QCOMPARE(Names(d.Draft().output), QStringList({"Code", "Name"}));
        QCOMPARE(d.DelimiterChar(), std::string("\t"));
        QVERIFY(!d.Changed());
        d.tabMain->setCurrentIndex(kEditorTabOutputFormat);
        d.cmdRemoveAll->click();
        QCOMPARE(Texts(d.lstOutVars), QStringList({"Code", "Name"}));
        SelectEntry(d.lstOutVars, "Name");
        d.cmdAddOne->click();
        SelectEntry(d.lstOutVars, "Code");
        d.cmdAddOne->click();
        QCOMPARE(d.txtOutputLine->text(), QString("Name\tCode"));
        d.cmdOK->click();
    }));
    saved = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("Name,Code"));
}

void TemplateEditTest::delimiterChangeEnablesApply_data() {
    QTest::addColumn<QString>("outputLine");  // so the sample line does not change
    QTest::newRow("one included") << "Code";
    QTest::newRow("none included") << "";
}

void TemplateEditTest::delimiterChangeEnablesApply() {
    QFETCH(QString, outputLine);
    Manager m;
    std::string text = TwoVarTemplate(m.OutPath());
    text.replace(text.find("Output1=Code,Name"), 17, "Output1=" + outputLine.toStdString());
    WriteFileBytes(m.TemplatePath("Orders"), text);
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QVERIFY(!d.Changed());
        QVERIFY(!d.cmdApply->isEnabled());
        Choose(d.cboDelimiter, "SPACE");
        QCOMPARE(d.txtOutputLine->text(), outputLine);
        QVERIFY(d.Changed());
        QVERIFY(d.cmdApply->isEnabled());
        if (outputLine.isEmpty()) m.ui.QueueAnswer(MsgAnswer::Yes);  // saved without outputs
        d.cmdApply->click();
        QVERIFY(!d.cmdApply->isEnabled());
    }));
    QCOMPARE(m.ui.boxes.size(), std::size_t(outputLine.isEmpty() ? 1 : 0));
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->OutputDeliminator(), std::string("SPACE"));
}

void TemplateEditTest::startAndStopChoicesAreSavedAsMarkersOrText_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("startText");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("stopText");
    QTest::addColumn<QString>("savedStart");
    QTest::addColumn<QString>("savedStop");
    QTest::newRow("end of line ignores the box") << "After Defined Text"
                                                 << "Total:"
                                                 << "End of Line"
                                                 << "xyz"
                                                 << "Total:"
                                                 << "{End of Line}";
    QTest::newRow("markers both ends") << "Beginning of Field"
                                       << ""
                                       << "End of Field"
                                       << ""
                                       << "{Beginning of Field}"
                                       << "{End of Field}";
    QTest::newRow("defined texts") << "After Defined Text"
                                   << "Ref:"
                                   << "Defined Text"
                                   << "."
                                   << "Ref:"
                                   << ".";
}

void TemplateEditTest::startAndStopChoicesAreSavedAsMarkersOrText() {
    QFETCH(QString, start);
    QFETCH(QString, startText);
    QFETCH(QString, stop);
    QFETCH(QString, stopText);
    QFETCH(QString, savedStart);
    QFETCH(QString, savedStop);
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Name");
        QCOMPARE(d.cboStart->currentText(), QString("Beginning of Field"));
        QVERIFY(!d.txtVarFindStr->isEnabled());
        Choose(d.cboStart, start);
        // Choosing a defined start clears the marker from the box and opens it.
        QCOMPARE(d.txtVarFindStr->isEnabled(), start == "After Defined Text");
        if (start == "After Defined Text") QCOMPARE(d.txtVarFindStr->text(), QString());
        if (!startText.isEmpty()) Type(d.txtVarFindStr, startText);
        Choose(d.cboStop, stop);
        QCOMPARE(d.txtVarStopStr->isEnabled(), stop == "Defined Text");
        d.txtVarStopStr->setText(stopText);
        // Switching variables saves the one shown.
        SelectEntry(d.lstVars, "Code");
        QCOMPARE(d.cboStop->currentText(), QString("End of Line"));
        d.cmdApply->click();
    }));
    const auto name = FieldNamed(*ReadBack(m.TemplatePath("Orders")), "Name");
    QVERIFY(name);
    QCOMPARE(QString::fromStdString(name->FindStart()), savedStart);
    QCOMPARE(QString::fromStdString(name->FindStop()), savedStop);
}

void TemplateEditTest::outputFileCheck() {
    Manager m;
    m.AddTemplate("Orders");
    const fs::path cwd = fs::current_path();
    fs::current_path(m.env.ProgramDir());
    struct Case {
        std::string typed;
        bool accepted;
        bool fileCreated;
    };
    const std::string created = m.env.ProgramDir() + "/new-output.csv";
    const std::string unusable = m.env.ProgramDir() + "/missing-dir/out.csv";
    const std::vector<Case> cases = {
        {"printer", true, false},
        {created, true, true},
        {unusable, false, false},
    };
    for (const Case& c : cases) {
        m.ui.boxes.clear();
        QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
            d.txtOutputFileName->setFocus();
            Type(d.txtOutputFileName, QString::fromStdString(c.typed));
            // Beside the box as it is typed, before the box that leaving it gives.
            const QString warning =
                c.accepted ? QString()
                           : QString::fromStdString("The folder " + m.env.ProgramDir() +
                                                    "/missing-dir does not exist.");
            QCOMPARE(d.outputFileCheck->Warning(), warning);
            QCOMPARE(d.txtOutputFileName->accessibleDescription(), warning);
            QCOMPARE(d.outputFileCheck->CreateButton()->isHidden(), c.accepted);
            FocusTo(d.cboDelimiter);
            d.cmdApply->click();
        }));
        if (c.accepted) {
            QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
        } else {
            QCOMPARE(m.ui.boxes.size(), std::size_t(1));
            QCOMPARE(m.LastBoxText(), std::string(kMsgUnableToUseFile) + c.typed);
        }
        QCOMPARE(fs::exists(c.typed == "printer" ? m.env.ProgramDir() + "/printer" : c.typed),
                 c.fileCreated);
        // The name is stored either way: the engine reports an unusable file at its run.
        QCOMPARE(ReadBack(m.TemplatePath("Orders"))->OutputFile(), c.typed);
    }
    // Browse: the chosen file goes into the box, is checked, and counts as an edit.
    SetOutputFileChooser([&](const QString& current) {
        return current.endsWith("out.csv")
                   ? QString::fromStdString(m.env.ProgramDir() + "/chosen.txt")
                   : QString();
    });
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.cmdDirBrowse->click();
        QCOMPARE(d.Draft().outputFile, m.env.ProgramDir() + "/chosen.txt");
        QVERIFY(d.Changed());
        d.cmdOK->click();
    }));
    QVERIFY(fs::exists(m.env.ProgramDir() + "/chosen.txt"));
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->OutputFile(), m.env.ProgramDir() + "/chosen.txt");
    fs::current_path(cwd);
}

void TemplateEditTest::deletingAnIncludedVariable() {
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        // No keeps everything.
        m.ui.QueueAnswer(MsgAnswer::No);
        d.cmdDelete->click();
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, std::string(kMsgDeleteVariable));
        QCOMPARE(m.ui.boxes[0].title, std::string("Warning"));
        QCOMPARE(m.ui.boxes[0].buttons, MsgButtons::YesNo);
        QCOMPARE(m.ui.boxes[0].defaultAnswer, MsgAnswer::No);
        QCOMPARE(d.Draft().variables.size(), std::size_t(2));
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdDelete->click();
        QCOMPARE(Listed(d.Draft()), QStringList({"Name"}));
        QCOMPARE(Names(d.Draft().output), QStringList({"Name"}));
        QCOMPARE(d.txtOutputLine->text(), QString("Name"));
        // The last one: the properties close and the help line says there is none.
        SelectEntry(d.lstVars, "Name");
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdDelete->click();
        QVERIFY(d.Draft().variables.empty());
        QVERIFY(!d.frameProp->isEnabled());
        QVERIFY(!d.cmdDelete->isEnabled());
        QCOMPARE(d.HelpText(), QString::fromLatin1(kMsgNoVariable.data()));
        m.ui.QueueAnswer(MsgAnswer::Yes);  // saved without outputs
        d.cmdApply->click();
    }));
    auto saved = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(saved->VariableCount(), 0);
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string());

    // One deleted of two, saved.
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdDelete->click();
        d.cmdOK->click();
    }));
    saved = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(saved->VariableCount(), 1);
    QCOMPARE(saved->colFields()->Item(1)->FieldName(), std::string("Name"));
    QCOMPARE(saved->colFields()->Item(1)->FieldType(), std::string("SENDER_NAME"));
    QCOMPARE(saved->colOutPutLines()->Item(1), std::string("Name"));
}

void TemplateEditTest::savingRenamesTheFileOfAnExistingTemplate() {
    Manager m;
    m.AddTemplate("Orders");
    m.AddTemplate("Other");
    auto tpl = m.OpenExisting("Orders");
    TemplateDraft d = DraftFromTemplate(*tpl, false);
    d.filterText = "Invoice";
    QVERIFY(SaveDraft(d, tpl));
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->objFilter()->FindString(), std::string("Invoice"));
    // The name of another listed template is refused; nothing moves.
    d.name = "Other";
    QVERIFY(!SaveDraft(d, tpl));
    QCOMPARE(m.LastBoxText(), std::string(kMsgCannotSaveChanges) + std::string(kMsgNameExists));
    QCOMPARE(m.ui.boxes.back().icon, MsgIcon::Critical);
    QVERIFY(fs::exists(m.TemplatePath("Orders")));
    d.name = "Invoices";
    QVERIFY(SaveDraft(d, tpl));
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QVERIFY(!fs::exists(m.TemplatePath("Orders")));
    const auto moved = ReadBack(m.TemplatePath("Invoices"));
    QCOMPARE(moved->objFilter()->FindString(), std::string("Invoice"));
    QCOMPARE(moved->VariableCount(), 2);
    QCOMPARE(ReadBack(m.TemplatePath("Other"))->objFilter()->FindString(), std::string("Order"));
    QCOMPARE(FrmMain::RowText(m.form->SelectedItem()), std::string("Invoices"));
    QVERIFY(!m.form->FindRow("Orders"));
}

void TemplateEditTest::savingKeepsTheSpellingOfTheExtension_data() {
    QTest::addColumn<QString>("extension");
    QTest::newRow("upper case") << ".TXF";
    QTest::newRow("mixed case") << ".Txf";
}

void TemplateEditTest::savingKeepsTheSpellingOfTheExtension() {
    QFETCH(QString, extension);
    const std::string ext = extension.toStdString();
    Manager m;
    auto files = [&] {
        QStringList names;
        for (const auto& entry : fs::directory_iterator(m.TemplateDir()))
            names << QString::fromStdString(entry.path().filename().string());
        names.sort();
        return names;
    };
    WriteFileBytes(m.TemplateDir() + "/Orders" + ext, TwoVarTemplate(m.OutPath()));
    GetTempFiles();
    m.Select("Orders");
    State().newTemplate = false;
    auto tpl = ReadBack(m.TemplateDir() + "/Orders" + ext);
    TemplateDraft d = DraftFromTemplate(*tpl, false);
    QCOMPARE(d.name, std::string("Orders"));
    d.filterText = "Invoice";
    QVERIFY(SaveDraft(d, tpl));
    // Written back into the file it was read from, not beside it.
    QCOMPARE(files(), QStringList({"Orders" + extension}));
    QCOMPARE(ReadBack(m.TemplateDir() + "/Orders" + ext)->objFilter()->FindString(),
             std::string("Invoice"));
    QCOMPARE(m.form->lvMainList->topLevelItemCount(), 1);
    // A rename moves the file and keeps the extension as it was spelt.
    d.name = "Invoices";
    d.filterText = "Bill";
    QVERIFY(SaveDraft(d, tpl));
    QCOMPARE(files(), QStringList({"Invoices" + extension}));
    QCOMPARE(ReadBack(m.TemplateDir() + "/Invoices" + ext)->objFilter()->FindString(),
             std::string("Bill"));
    QCOMPARE(m.form->lvMainList->topLevelItemCount(), 1);
    QCOMPARE(FrmMain::RowText(m.form->SelectedItem()), std::string("Invoices"));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
}

void TemplateEditTest::renameOntoAnUnlistedFileIsRefused() {
    Manager m;
    m.AddTemplate("Orders");
    auto tpl = m.OpenExisting("Orders");
    // Another program writes a template after the list was filled.
    const std::string foreign = "[General]\r\nActive=False\r\n";
    WriteFileBytes(m.TemplatePath("Theirs"), foreign);
    TemplateDraft d = DraftFromTemplate(*tpl, false);
    d.name = "Theirs";
    QVERIFY(!SaveDraft(d, tpl));
    QCOMPARE(m.LastBoxText(), std::string(kMsgCannotSaveChanges) + std::string(kMsgNameExists));
    QCOMPARE(ReadFileBytes(m.TemplatePath("Theirs")), foreign);
    QCOMPARE(ReadFileBytes(m.TemplatePath("Orders")), TwoVarTemplate(m.OutPath()));
    // A new template is not written over such a file either.
    WriteFileBytes(m.TemplatePath("Mine"), foreign);
    m.ui.boxes.clear();
    State().newTemplate = true;
    d = DraftFromTemplate(clsTemplate(), true);
    d.name = "Mine";
    QVERIFY(!SaveDraft(d, std::make_shared<clsTemplate>()));
    QCOMPARE(m.LastBoxText(), std::string(kMsgCannotSaveChanges) + std::string(kMsgNameExists));
    QCOMPARE(ReadFileBytes(m.TemplatePath("Mine")), foreign);
}

void TemplateEditTest::leavingTheNameBoxChecksTheName() {
    Manager m;
    m.AddTemplate("Orders");
    m.AddTemplate("Other");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        struct Case {
            QString typed;
            QWidget* next;
            std::string message;  // empty: no box
        };
        const std::vector<Case> cases = {
            {"Other", d.chkActive, std::string(kMsgNameExists)},
            {"", d.chkActive, std::string(kMsgBlankName)},
            {"<Untitled>", d.txtFilterFindStr, std::string(kMsgInvalidName)},
            {"--version", d.chkActive, std::string(kMsgInvalidName)},  // an engine option
            {"Other", d.cmdCancel, ""},   // leaving for Cancel checks nothing
            {"Orders", d.chkActive, ""},  // its own name
            {"orders", d.chkActive, ""},  // another case is another name
        };
        for (const Case& c : cases) {
            m.ui.boxes.clear();
            d.txtTemplateName->setFocus();
            QCoreApplication::processEvents();
            Type(d.txtTemplateName, c.typed);
            FocusTo(c.next);
            if (c.message.empty()) {
                QVERIFY2(m.ui.boxes.empty(), qPrintable(c.typed));
            } else {
                QCOMPARE(m.ui.boxes.size(), std::size_t(1));
                QCOMPARE(m.ui.boxes[0].text, c.message);
                QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
                QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Critical);
            }
        }
        // Saving under such a name is refused too.
        m.ui.boxes.clear();
        Type(d.txtTemplateName, "-h");
        d.cmdApply->click();
        QCOMPARE(m.LastBoxText(),
                 std::string(kMsgCannotSaveChanges) + std::string(kMsgInvalidName));
        d.cmdCancel->click();
    }));
    QCOMPARE(ReadFileBytes(m.TemplatePath("Orders")), TwoVarTemplate(m.OutPath()));
    QVERIFY(!fs::exists(m.TemplatePath("orders")));
    QVERIFY(!fs::exists(m.TemplatePath("-h")));
}

void TemplateEditTest::failedRenameKeepsOldFileAndValues() {
    Manager m;
    m.AddTemplate("Orders");
    // A name the file system refuses (longer than a file name may be).
    const std::string tooLong(300, 'x');
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        Type(d.txtFilterFindStr, "Invoice");
        Type(d.txtTemplateName, QString::fromStdString(tooLong));
        d.cmdOK->click();
        QVERIFY(d.isVisible());
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QVERIFY(m.LastBoxText().rfind(std::string(kMsgRenameFailed), 0) == 0);
        QVERIFY(m.LastBoxText().find(std::string(kMsgRenameNothingSaved)) != std::string::npos);
        // The dialog keeps what was typed, ready for a better name.
        QCOMPARE(d.Draft().filterText, std::string("Invoice"));
        QVERIFY(d.Changed());
        Type(d.txtTemplateName, "Invoices");
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    }));
    QVERIFY(!fs::exists(m.TemplatePath("Orders")));
    QCOMPARE(ReadBack(m.TemplatePath("Invoices"))->objFilter()->FindString(),
             std::string("Invoice"));
    // Before the second try the old file was untouched: check it with a fresh failure.
    m.AddTemplate("Orders");
    m.ui.boxes.clear();
    auto tpl = m.OpenExisting("Orders");
    TemplateDraft d = DraftFromTemplate(*tpl, false);
    d.filterText = "Changed";
    d.name = tooLong;
    QVERIFY(!SaveDraft(d, tpl));
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QVERIFY(m.LastBoxText().rfind(std::string(kMsgRenameFailed), 0) == 0);
    QVERIFY(m.LastBoxText().find(std::string(kMsgRenameNothingSaved)) != std::string::npos);
    QCOMPARE(ReadFileBytes(m.TemplatePath("Orders")), TwoVarTemplate(m.OutPath()));
    QCOMPARE(std::distance(fs::directory_iterator(m.TemplateDir()), fs::directory_iterator()), 2);
    // The template keeps its file's name for the next try.
    QCOMPARE(tpl->FileName(), m.TemplatePath("Orders"));
}

void TemplateEditTest::newTemplateRenamedAfterApplyLeavesNoTwin() {
    Manager m;
    State().newTemplate = true;
    auto tpl = std::make_shared<clsTemplate>();
    TemplateDraft d = TwoVarDraft(m.OutPath());
    d.name = "First";
    QVERIFY(SaveDraft(d, tpl));
    QVERIFY(fs::exists(m.TemplatePath("First")));
    QVERIFY(!State().newTemplate);
    // Its own name again is no clash now that it is in the list.
    d.active = true;
    QVERIFY(SaveDraft(d, tpl));
    d.name = "Second";
    QVERIFY(SaveDraft(d, tpl));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QVERIFY(!fs::exists(m.TemplatePath("First")));
    QCOMPARE(ReadBack(m.TemplatePath("Second"))->Active(), true);
}

void TemplateEditTest::helpLineDescribesTheVariable() {
    // The line's wording is helpLineText's; here it follows the shown variable's controls.
    const QString start = "After Defined Text";
    const QString startText = "0123456789abcdefXYZ";
    const QString stop = "Defined Text";
    const QString stopText = "exactly15chars!";
    const QString secondLine =
        "Data starts after the text '0123456789abcde...' and stops at the text 'exactly15chars!'";
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Name");
        Choose(d.cboStart, start);
        d.txtVarFindStr->setText(startText);
        Choose(d.cboStop, stop);
        d.txtVarStopStr->setText(stopText);
        SelectEntry(d.lstVars, "Code");
        SelectEntry(d.lstVars, "Name");
        QCOMPARE(
            d.HelpText(),
            "Data for 'Name' is extracted from the message field: 'SENDER_NAME' .\n" + secondLine);
        QVERIFY(d.lblHelp->isVisibleTo(&d));
    }));
}

void TemplateEditTest::fieldListsFollowTheSource_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("filters");
    const QStringList head = {"<NONE>",          "ATTACHMENT", "ATTACHMENT_NAME", "ATTACHMENT_SIZE",
                              "ATTACHMENT_TYPE", "MSG_TEXT",   "MSG_SUBJECT"};
    const QStringList tail = {"SENDER_NAME", "SENDER_ADDRESS", "SENDER_TYPE", "RECIPIENT_NAME",
                              "RECIPIENT_ADDRESS"};
    const QStringList sent = {"MSG_SENT_DATE", "MSG_SENT_TIME"};
    const QStringList received = {"MSG_RECEIVE_DATE", "MSG_RECEIVE_TIME"};
    const QStringList replyTo = {"REPLY_TO_NAME", "REPLY_TO_ADDRESS"};
    // Any header by name, last in both lists.
    const QStringList header = {"Header..."};
    QTest::newRow("POP3") << "POP3" << head + sent + replyTo + tail + header
                          << head + tail + replyTo + header;
    QTest::newRow("SIMPLE MAPI") << "SIMPLE MAPI" << head + received + tail + header
                                 << head + tail + header;
    QTest::newRow("NETSCAPE") << "NETSCAPE" << head + sent + received + tail + header
                              << head + tail + header;
    QTest::newRow("EXTENDED MAPI")
        << "EXTENDED MAPI" << head + sent + received + tail + header << head + tail + header;
}

void TemplateEditTest::fieldListsFollowTheSource() {
    QFETCH(QString, source);
    QFETCH(QStringList, variables);
    QFETCH(QStringList, filters);
    QCOMPARE(Names(MapiFieldChoices(source.toStdString())), variables);
    QCOMPARE(Names(MapiFilterFieldChoices(source.toStdString())), filters);
    // The editor's two lists are these, for the source in force.
    Manager m;
    Settings().useSource = source.toStdString();
    FrmTemplateEdit d(std::make_shared<clsTemplate>());
    for (const auto& [name, expected] :
         {std::pair{"cboVarMapiField", variables}, std::pair{"cboFilterField", filters}}) {
        auto* combo = d.findChild<QComboBox*>(name);
        QVERIFY2(combo, name);
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
        QCOMPARE(shown, expected);
    }
}

void TemplateEditTest::unlistedFieldTextsAreShownAndSavedAsTheyStand() {
    Manager m;
    // Under POP3 the variable list has no MSG_RECEIVE_DATE; no list has X-Spam-Flag.
    Settings().useSource = "POP3";
    std::string text = TwoVarTemplate(m.OutPath());
    const auto swap = [&](const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
    };
    swap("Command=MSG_SUBJECT", "Command=X-Spam-Flag");
    swap("Var2=Name;SENDER_NAME;", "Var2=Name;MSG_RECEIVE_DATE;");
    WriteFileBytes(m.TemplatePath("Orders"), text);
    const int variableEntries = int(MapiFieldChoices("POP3").size());
    const int filterEntries = int(MapiFilterFieldChoices("POP3").size());
    // What the two combo boxes showed: the text and the number of entries.
    QString shownFilter;
    int filterCount = 0;
    QStringList shownFields;
    QList<int> fieldCounts;
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        shownFilter = d.cboFilterField->currentText();
        filterCount = d.cboFilterField->count();
        QVERIFY(!d.cmdApply->isEnabled());
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        // The extra entry belongs to the variable shown: it goes with the next one.
        for (const char* variable : {"Name", "Code", "Name"}) {
            SelectEntry(d.lstVars, variable);
            shownFields << d.cboVarMapiField->currentText();
            fieldCounts << d.cboVarMapiField->count();
        }
        // An edit of something else, then Enter in the match string box presses OK.
        d.tabMain->setCurrentIndex(kEditorTabGeneral);
        d.txtFilterFindStr->setFocus();
        Type(d.txtFilterFindStr, "Urgent");
        QVERIFY(d.cmdApply->isEnabled());
        QTest::keyClick(d.txtFilterFindStr, Qt::Key_Return);
        QVERIFY(!d.isVisible());
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    const auto saved = ReadBack(m.TemplatePath("Orders"));
    QCOMPARE(QString::fromStdString(saved->objFilter()->MapiField()), QString("X-Spam-Flag"));
    QCOMPARE(saved->objFilter()->FindString(), std::string("Urgent"));
    const auto name = FieldNamed(*saved, "Name");
    QVERIFY(name);
    QCOMPARE(QString::fromStdString(name->FieldType()), QString("MSG_RECEIVE_DATE"));
    QCOMPARE(FieldNamed(*saved, "Code")->FieldType(), std::string("MSG_TEXT"));
    // The editor showed each stored text as one entry beside its list.
    QCOMPARE(shownFilter, QString("X-Spam-Flag"));
    QCOMPARE(filterCount, filterEntries + 1);
    QCOMPARE(shownFields, QStringList({"MSG_RECEIVE_DATE", "MSG_TEXT", "MSG_RECEIVE_DATE"}));
    QCOMPARE(fieldCounts, QList<int>({variableEntries + 1, variableEntries, variableEntries + 1}));
}

void TemplateEditTest::scriptListsFillFromScriptDirectory() {
    Manager m;
    const std::string scripts = m.env.ProgramDir() + "/scripts";
    fs::create_directories(scripts);
    WriteFileBytes(scripts + "/a.js", "function Tidy() {}\nfunction addTax() {}\n");
    WriteFileBytes(scripts + "/b.js", "function Check() {}\n");
    Settings().useScripts = true;
    Settings().scriptDir = scripts;
    Settings().scriptEngine = "JScript";
    WriteFileBytes(m.TemplatePath("Orders"),
                   TwoVarTemplate(m.OutPath())
                       .replace(TwoVarTemplate(m.OutPath()).find("run="), 4, "run=Tidy"));
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QVERIFY(d.tabMain->isTabEnabled(kEditorTabScripting));
        d.tabMain->setCurrentIndex(kEditorTabScripting);
        QCOMPARE(Texts(d.lstScripts), QStringList({"addTax", "Check"}));
        QCOMPARE(Names(d.Draft().scripts), QStringList({"Tidy"}));
        SelectEntry(d.lstScripts, "Check");
        d.cmdScriptAddOne->click();
        SelectEntry(d.lstUseScripts, "Check");
        d.cmdScriptUp->click();
        QCOMPARE(Names(d.Draft().scripts), QStringList({"Check", "Tidy"}));
        // Back to the available list, in its sorted place.
        SelectEntry(d.lstUseScripts, "Tidy");
        d.cmdScriptRemoveOne->click();
        QCOMPARE(Texts(d.lstScripts), QStringList({"addTax", "Tidy"}));
        d.cmdOK->click();
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->ScriptsToRun(), std::string("Check"));
    // Listing the scripts left the setting as it was.
    QVERIFY(Settings().useScripts);
}

void TemplateEditTest::scriptListTakesOnlyFilesOfTheScriptExtension() {
    Manager m;
    const std::string scripts = m.env.ProgramDir() + "/scripts";
    fs::create_directories(scripts);
    WriteFileBytes(scripts + "/a.js", "function Tidy() {}\n");
    WriteFileBytes(scripts + "/b.JS", "function Check() {}\n");
    // Neither is JavaScript: loaded with the rest, they would fail the whole code text.
    WriteFileBytes(scripts + "/README", "Scripts for the order templates.\n");
    WriteFileBytes(scripts + "/c.lua", "function Lua() end\n");
    Settings().useScripts = true;
    Settings().scriptDir = scripts;
    Settings().scriptEngine = "JScript";
    Settings().scriptExt = "js";
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QCOMPARE(Texts(d.lstScripts), QStringList({"Check", "Tidy"}));
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    // Without an extension every file is loaded, and the stray ones spoil the list.
    Settings().scriptExt = "";
    m.ui.QueueAnswer(MsgAnswer::No);  // carry on after the load-error box
    QVERIFY(m.EditExisting(
        "Orders", [&](FrmTemplateEdit& d) { QCOMPARE(Texts(d.lstScripts), QStringList()); }));
    QVERIFY(!m.ui.boxes.empty());
}

void TemplateEditTest::scriptRunListKeepsEveryPiece_data() {
    QTest::addColumn<QString>("stored");  // ScriptsToRun
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("two") << "Main,Report" << QStringList({"Main", "Report"});
    QTest::newRow("empty between") << "Main,,Report" << QStringList({"Main", "", "Report"});
    QTest::newRow("blank between") << "Main, ,Report" << QStringList({"Main", " ", "Report"});
    QTest::newRow("leading comma") << ",Main" << QStringList({"", "Main"});
    QTest::newRow("blank kept") << "Main, Report" << QStringList({"Main", " Report"});
    QTest::newRow("one-character last") << "Main,X" << QStringList({"Main"});
    QTest::newRow("one character") << "X" << QStringList();
    QTest::newRow("empty") << "" << QStringList();
}

void TemplateEditTest::scriptRunListKeepsEveryPiece() {
    QFETCH(QString, stored);
    QFETCH(QStringList, shown);
    QCOMPARE(Names(ScriptsUsedNames(stored.toStdString())), shown);
    clsTemplate t;
    t.SetScriptsToRun(stored.toStdString());
    QCOMPARE(Names(DraftFromTemplate(t, false).scripts), shown);
}

void TemplateEditTest::scriptRunListWithEmptyNameSavesUnchanged() {
    Manager m;
    const std::string scripts = m.env.ProgramDir() + "/scripts";
    fs::create_directories(scripts);
    WriteFileBytes(scripts + "/a.js", "function Main() {}\nfunction Report() {}\n");
    Settings().useScripts = true;
    Settings().scriptDir = scripts;
    Settings().scriptEngine = "JScript";
    std::string text = TwoVarTemplate(m.OutPath());
    text.replace(text.find("run="), 4, "run=Main,,Report");
    WriteFileBytes(m.TemplatePath("Orders"), text);
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QCOMPARE(Texts(d.lstUseScripts), QStringList({"Main", "", "Report"}));
        // Both named procedures are in the run list, so none is left to choose.
        QCOMPARE(Texts(d.lstScripts), QStringList());
        d.findChild<QCheckBox*>("chkAllowDuplicate")->click();
        d.cmdOK->click();
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->ScriptsToRun(), std::string("Main,,Report"));
}

void TemplateEditTest::keyboardReachesTabsAndControls() {
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QStringList captions;
        for (int i = 0; i < d.tabMain->count(); ++i) captions << d.tabMain->tabText(i);
        QCOMPARE(captions,
                 QStringList({"&General", "&Variables", "Output &Format", "Sc&ripting", "&Test"}));
        // The tab mnemonics switch pages, from the Test tab too (no control there takes
        // the tabs' letters).
        QTest::keyClick(&d, Qt::Key_T, Qt::AltModifier);
        QCOMPARE(d.tabMain->currentIndex(), 4);
        QTest::keyClick(&d, Qt::Key_F, Qt::AltModifier);
        QCOMPARE(d.tabMain->currentIndex(), kEditorTabOutputFormat);
        QTest::keyClick(&d, Qt::Key_V, Qt::AltModifier);
        QCOMPARE(d.tabMain->currentIndex(), kEditorTabVariables);
        QTest::keyClick(&d, Qt::Key_G, Qt::AltModifier);
        QCOMPARE(d.tabMain->currentIndex(), kEditorTabGeneral);
        // The focus order of the General tab follows its layout.
        d.txtTemplateName->setFocus();
        QList<QWidget*> order;
        for (QWidget* w = d.txtTemplateName; order.size() < 10; w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(&d)) order << w;
        const QList<QWidget*> expected = {
            d.txtTemplateName, d.chkActive,           d.cboProcessOnce,   d.cmdForget,
            d.cboFilterField,  d.txtFilterHeaderName, d.txtFilterFindStr, d.txtOutputFileName,
            d.cmdDirBrowse,    d.cboDelimiter};
        QCOMPARE(order, expected);
        // Alt+D adds a variable from the Variables tab; Escape closes without saving.
        QTest::keyClick(&d, Qt::Key_V, Qt::AltModifier);
        QTest::keyClick(&d, Qt::Key_D, Qt::AltModifier);
        // A button's mnemonic clicks it the way a mouse would, a moment later.
        QTRY_COMPARE(d.lstVars->count(), 3);
        QTRY_COMPARE(QApplication::focusWidget(), d.txtVarName);
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(!d.isVisible());
    }));
    QCOMPARE(ReadBack(m.TemplatePath("Orders"))->VariableCount(), 2);
}

void TemplateEditTest::editsAreSignalledAndTheEditedTemplateIsACopy() {
    Manager m;
    m.AddTemplate("Orders");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        int edits = 0;
        QObject::connect(&d, &FrmTemplateEdit::templateEdited, [&] { ++edits; });
        Type(d.txtFilterFindStr, "Inv");
        QVERIFY(edits >= 3);
        const int before = edits;
        Choose(d.cboDelimiter, "SPACE");
        QVERIFY(edits > before);
        auto edited = d.EditedTemplate();
        QVERIFY(edited);
        QCOMPARE(edited->objFilter()->FindString(), std::string("Inv"));
        QCOMPARE(edited->OutputDeliminator(), std::string("SPACE"));
        QCOMPARE(edited->colOutPutLines()->Item(1), std::string("Code,Name"));
        edited->SetOutputFile("elsewhere");
        QCOMPARE(d.Template()->OutputFile(), m.OutPath());
        // The test bench follows the four tabs; a page added later sits after it.
        QCOMPARE(d.tabMain->tabText(4), QString("&Test"));
        QCOMPARE(d.AddTab(new QWidget, "More"), 5);
    }));
    // Nothing was written.
    QCOMPARE(ReadFileBytes(m.TemplatePath("Orders")), TwoVarTemplate(m.OutPath()));
}

void TemplateEditTest::testTabTriesTheTemplateAsEdited() {
    Manager m;
    m.AddTemplate("Orders");
    const std::string mailbox = m.env.ProgramDir() + "/inbox.mbox";
    WriteFileBytes(
        mailbox,
        "From - Mon Mar  2 09:00:00 2026\nFrom: Ann Lee <ann@example.org>\nSubject: Order 7\n"
        "Date: Mon, 02 Mar 2026 09:00:00 +0100\n\nCode: Z-7\nRef: R-9\n\n");
    const std::string templateBefore = ReadFileBytes(m.TemplatePath("Orders"));
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        auto* bench = qobject_cast<TemplateTestBench*>(d.tabMain->widget(4));
        QVERIFY(bench);
        d.tabMain->setCurrentIndex(4);
        // The mailbox is dropped on the tab (here on its message list) from a file manager.
        QVERIFY(tallix::testing::DropFile(bench->tblMessages, mailbox));
        QCOMPARE(bench->txtMessageFile->text(), QString::fromStdString(mailbox));
        QVERIFY(bench->optMessageFile->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(bench->tblMessages->rowCount(), 1, 20000);
        bench->tblMessages->selectRow(0);
        QTRY_COMPARE_WITH_TIMEOUT(bench->txtOutputLine->text(), QString("Z-7,Ann Lee"), 20000);
        // An edit on the Variables tab is tried again without saving.
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        Type(d.txtVarFindStr, "Ref:");
        QTRY_COMPARE_WITH_TIMEOUT(bench->txtOutputLine->text(), QString("R-9,Ann Lee"), 20000);
    }));
    QCOMPARE(ReadFileBytes(m.TemplatePath("Orders")), templateBefore);
    QVERIFY(!fs::exists(m.OutPath()));
}

// The texts the body view of the Test tab marks.
QStringList Marked(const TemplateTestBench& bench) {
    QStringList texts;
    for (const auto& mark : bench.txtBody->extraSelections()) texts << mark.cursor.selectedText();
    return texts;
}

// The lines the Test tab lists for the selected message.
QStringList ListedLines(const TemplateTestBench& bench) {
    QStringList lines;
    for (int r = 0; r < bench.tblLines->rowCount(); ++r)
        lines << bench.tblLines->item(r, 0)->text();
    return lines;
}

void TemplateEditTest::testTabShowsEveryLineAndTheMatchOfAPattern() {
    Manager m;
    m.AddTemplate("Orders");
    const std::string mailbox = m.env.ProgramDir() + "/inbox.mbox";
    WriteFileBytes(
        mailbox,
        "From - Mon Mar  2 09:00:00 2026\nFrom: Ann Lee <ann@example.org>\nTo: Shop "
        "<shop@example.com>\nSubject: Order 7\nDate: Mon, 02 Mar 2026 09:00:00 +0100\n\n"
        "Item #A-1 x2\nItem #B-2 x5\nItem #C-3 x1\n\n"
        "From - Mon Mar  2 10:00:00 2026\nFrom: Bob Ray <bob@example.org>\nTo: Shop "
        "<shop@example.com>\nSubject: Order 8\nDate: Mon, 02 Mar 2026 10:00:00 +0100\n"
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
        "Content-Type: text/plain\n\nSee the files.\n\n--b\n"
        "Content-Type: application/octet-stream; name=\"one.txt\"\nContent-Transfer-Encoding: "
        "base64\n"
        "Content-Disposition: attachment; filename=\"one.txt\"\n\nZmlyc3QNCg==\n\n--b\n"
        // The boundary's letter stands in this part's base64 text.
        "Content-Type: application/octet-stream; name=\"two.txt\"\nContent-Transfer-Encoding: "
        "base64\n"
        "Content-Disposition: attachment; filename=\"two.txt\"\n\nc2Vjb25kDQo=\n\n--b--\n\n");
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        auto* bench = qobject_cast<TemplateTestBench*>(d.tabMain->widget(4));
        QVERIFY(bench);
        bench->SetMessageFile(QString::fromStdString(mailbox));
        // A repeated variable with a pattern: a line per occurrence, each whole match marked
        // with the value inside it.
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        Choose(d.cboStart, "Regular Expression");
        Type(d.txtVarPattern, "Item #([A-Z]-\\d)");
        d.chkRepeat->setChecked(true);
        d.tabMain->setCurrentIndex(4);
        QTRY_COMPARE_WITH_TIMEOUT(bench->tblMessages->rowCount(), 2, 20000);
        bench->tblMessages->selectRow(0);
        QTRY_COMPARE_WITH_TIMEOUT(
            ListedLines(*bench), QStringList({"A-1,Ann Lee", "B-2,Ann Lee", "C-3,Ann Lee"}), 20000);
        QVERIFY(bench->tblLines->isVisible());
        QCOMPARE(bench->tblMessages->item(0, 2)->text(), QString("Yes (3 lines)"));
        QCOMPARE(bench->tblLines->item(2, 1)->text(), QString("Yes"));
        const QStringList marked = Marked(*bench);
        for (const char* text : {"Item #A-1", "Item #B-2", "Item #C-3", "A-1", "B-2", "C-3"})
            QVERIFY2(marked.contains(text), qPrintable(marked.join('|')));
        QVERIFY2(!marked.contains("Item #A-1 x2"), qPrintable(marked.join('|')));

        // One line per attachment, as a run writes them: none for the message without one.
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        d.chkRepeat->setChecked(false);
        Choose(d.cboVarMapiField, "ATTACHMENT");
        Choose(d.cboStart, "Beginning of Field");
        Choose(d.cboStop, "End of Line");
        d.tabMain->setCurrentIndex(kEditorTabOutputFormat);
        d.chkPerAttachment->setChecked(true);
        d.tabMain->setCurrentIndex(4);
        QTRY_COMPARE_WITH_TIMEOUT(bench->tblMessages->rowCount() == 2 &&
                                      bench->tblMessages->item(0, 2)->text() == "Yes (0 lines)",
                                  true, 20000);
        bench->tblMessages->selectRow(0);
        QVERIFY(!bench->tblLines->isVisible());
        QVERIFY(bench->lblLineNote->text().startsWith("No line:"));
        bench->tblMessages->selectRow(1);
        QTRY_COMPARE_WITH_TIMEOUT(ListedLines(*bench),
                                  QStringList({"first,Bob Ray", "second,Bob Ray"}), 20000);
        QVERIFY(bench->tblLines->isVisible());
        QCOMPARE(bench->tblMessages->item(1, 2)->text(), QString("Yes (2 lines)"));
    }));
    QVERIFY(!fs::exists(m.OutPath()));
}

void TemplateEditTest::builtInTheDialogRunByTheEngine() {
    Manager m;
    m.LinkEngine(TALLIX_BIN_DIR);
    m.PrepareMailboxRun(
        "From - Mon Mar  2 09:00:00 2026\nFrom: Ann Lee <ann@example.org>\nTo: Shop "
        "<shop@example.com>\nSubject: Order 7\nDate: Mon, 02 Mar 2026 09:00:00 +0100\n\n"
        "Code: Z-7\nQty: 3 boxes\n\n"
        "From - Mon Mar  2 10:00:00 2026\nFrom: Bob <bob@example.org>\nTo: Shop "
        "<shop@example.com>\nSubject: Hello\nDate: Mon, 02 Mar 2026 10:00:00 +0100\n\n"
        "Code: NOT-THIS\n\n");

    auto addVariable = [&](FrmTemplateEdit& d, const QString& name, const QString& field,
                           const QString& start, const QString& stop) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        d.cmdVarAdd->click();
        Type(d.txtVarName, name);
        FocusTo(d.cboVarMapiField);
        Choose(d.cboVarMapiField, field);
        if (start.isEmpty()) {
            Choose(d.cboStart, "Beginning of Field");
        } else {
            Choose(d.cboStart, "After Defined Text");
            Type(d.txtVarFindStr, start);
        }
        Choose(d.cboStop, stop.isEmpty() ? "End of Field" : "End of Line");
    };
    QVERIFY(m.EditNew([&](FrmTemplateEdit& d) {
        Type(d.txtTemplateName, "Orders");
        d.chkActive->setChecked(true);
        Choose(d.cboFilterField, "MSG_SUBJECT");
        Type(d.txtFilterFindStr, "Order");
        Type(d.txtOutputFileName, QString::fromStdString(m.OutPath()));
        addVariable(d, "Code", "MSG_TEXT", "Code:", "eol");
        addVariable(d, "Qty", "MSG_TEXT", "Qty:", "eol");
        addVariable(d, "Who", "SENDER_NAME", "", "");
        d.tabMain->setCurrentIndex(kEditorTabOutputFormat);
        for (const char* name : {"Who", "Code", "Qty"}) {
            SelectEntry(d.lstOutVars, name);
            d.cmdAddOne->click();
        }
        Choose(d.cboDelimiter, "TAB");
        d.cmdOK->click();
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(FrmMain::RowText(m.form->SelectedItem()), std::string("Orders"));
    {
        EngineWithoutWindow windowless;
        m.form->mnuParseCurrent->trigger();
    }
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(ReadFileBytes(m.OutPath()), std::string("Ann Lee\tZ-7\t3 boxes\r\n"));
}

void TemplateEditTest::newKeysAreShownAndSavedAsEdited() {
    Manager m;
    m.AddNewKeysTemplate("Orders");
    const std::string path = m.TemplatePath("Orders");
    const std::string before = ReadFileBytes(path);
    // Shown as stored, and saved unchanged by OK without an edit.
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QCOMPARE(d.cboFilterField->currentText(), QString("Header..."));
        QCOMPARE(d.txtFilterHeaderName->text(), QString("List-Id"));
        QVERIFY(d.txtFilterHeaderName->isEnabled());
        QCOMPARE(d.cboDelimiter->currentText(), QString("SEMICOLON"));
        QCOMPARE(d.DelimiterChar(), std::string(";"));
        for (QCheckBox* c :
             {d.chkPerAttachment, d.chkFormulaGuard, d.chkBom, d.chkHeaderRow, d.chkIsoDates})
            QVERIFY2(c->isChecked(), qPrintable(c->objectName()));
        QCOMPARE(d.cboFormat->currentText(), QString("JSON Lines"));
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        QCOMPARE(d.cboStart->currentText(), QString("Regular Expression"));
        QCOMPARE(d.txtVarPattern->text(), QString("Order\\s+#(\\d+);"));
        QVERIFY(d.txtVarPattern->isEnabled());
        QVERIFY(!d.cboStop->isEnabled());
        QCOMPARE(d.lblPatternCheck->text(), QString("The regular expression is valid."));
        QVERIFY(!d.chkRepeat->isChecked());
        SelectEntry(d.lstVars, "Item");
        QCOMPARE(d.txtVarPattern->text(), QString(" Item: (.*) "));
        QVERIFY(d.chkRepeat->isChecked());
        SelectEntry(d.lstVars, "OrderId");
        QCOMPARE(d.cboVarMapiField->currentText(), QString("Header..."));
        QCOMPARE(d.txtVarHeaderName->text(), QString("X-Order-Id"));
        QCOMPARE(d.cboStart->currentText(), QString("Beginning of Field"));
        QVERIFY(!d.txtVarPattern->isEnabled());
        // The attachment fields are entries of the list, not a text shown beside it.
        SelectEntry(d.lstVars, "File");
        QCOMPARE(d.cboVarMapiField->currentText(), QString("ATTACHMENT_NAME"));
        QCOMPARE(d.cboVarMapiField->count(), int(MapiFieldChoices(Settings().useSource).size()));
        QVERIFY(!d.cmdApply->isEnabled());
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(ReadFileBytes(path), before);

    // Every new control changed, then saved.
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        Type(d.txtFilterHeaderName, "Reply-To");
        Choose(d.cboDelimiter, "COMMA");
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        Type(d.txtVarPattern, "'#(\\d+)'");
        d.chkRepeat->setChecked(true);
        SelectEntry(d.lstVars, "Item");
        Choose(d.cboStart, "After Defined Text");
        Type(d.txtVarFindStr, "Item:");
        Choose(d.cboStop, "End of Line");
        d.chkRepeat->setChecked(false);
        SelectEntry(d.lstVars, "OrderId");
        Type(d.txtVarHeaderName, "X-Ref");
        SelectEntry(d.lstVars, "File");
        Choose(d.cboVarMapiField, "ATTACHMENT_SIZE");
        d.tabMain->setCurrentIndex(kEditorTabOutputFormat);
        for (QCheckBox* c : {d.chkPerAttachment, d.chkBom, d.chkHeaderRow, d.chkIsoDates})
            c->setChecked(false);
        Choose(d.cboFormat, "CSV");
        QCOMPARE(d.txtOutputLine->text(), QString("Code,Item,OrderId,File"));
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(StoredKey(path, "Filter", "Command"),
             std::optional<std::string>("MSG_HEADER:Reply-To"));
    QCOMPARE(StoredKey(path, "Output", "Delimiter"), std::optional<std::string>("COMMA"));
    QCOMPARE(StoredKey(path, "Variables", "Var3"),
             std::optional<std::string>(
                 "OrderId;MSG_HEADER:X-Ref;{Beginning of Field};{End of Field};0;0;0;0;0"));
    QCOMPARE(StoredKey(path, "Variables", "Var4"),
             std::optional<std::string>(
                 "File;ATTACHMENT_SIZE;{Beginning of Field};{End of Field};0;0;0;0;0"));
    // The pattern keeps its start text; the one whose pattern went has its texts again.
    QCOMPARE(StoredKey(path, "Variables", "Var1"),
             std::optional<std::string>("Code;MSG_TEXT;Code:;{End of Line};0;0;1;0;0"));
    QCOMPARE(StoredKey(path, "Variables", "Var2"),
             std::optional<std::string>("Item;MSG_TEXT;Item:;{End of Line};0;0;0;0;0"));
    QCOMPARE(StoredKey(path, "Patterns", "Code"), std::optional<std::string>("'#(\\d+)'"));
    QCOMPARE(StoredKey(path, "Patterns", "Item"), std::nullopt);
    QCOMPARE(StoredKey(path, "Repeat", "Items"), std::optional<std::string>("Code"));
    for (const char* off : {"PerAttachment", "BOM", "HeaderRow"})
        QCOMPARE(StoredKey(path, "Output", off), std::optional<std::string>("False"));
    QCOMPARE(StoredKey(path, "Output", "FormulaGuard"), std::optional<std::string>("True"));
    QCOMPARE(StoredKey(path, "Output", "Format"), std::optional<std::string>("CSV"));
    QCOMPARE(StoredKey(path, "Output", "DateFormat"), std::nullopt);

    // Read back, the template is what the dialog showed when it was saved.
    TemplateDraft shown;
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) { shown = d.Draft(); }));
    const TemplateDraft read = DraftFromTemplate(*ReadBack(path), false);
    QVERIFY(read == shown);
    QCOMPARE(read.variables[0].pattern, std::string("'#(\\d+)'"));
    QVERIFY(read.variables[0].repeat);
    QCOMPARE(read.format, std::string("CSV"));
    QVERIFY(read.formulaGuard && !read.perAttachment && !read.bom && !read.headerRow &&
            !read.isoDates);
}

void TemplateEditTest::templatesWithoutTheNewKeysSaveByteForByte() {
    Manager m;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(TALLIX_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".txf") continue;
        fs::copy_file(entry.path(), m.TemplateDir() + "/" + entry.path().filename().string());
        names.push_back(entry.path().stem().string());
    }
    QVERIFY(names.size() >= 3);
    for (const std::string& name : names) {
        const std::string path = m.TemplatePath(name);
        const std::string before = ReadFileBytes(path);
        // What the template object itself writes back: the same bytes, but for an empty
        // start or stop text, which it writes as its marker.
        const std::string copy = m.env.ProgramDir() + "/copy.txf";
        WriteFileBytes(copy, before);
        ReadBack(copy)->WriteTemplateFile(false);
        const std::string rewritten = ReadFileBytes(copy);
        if (name == "Orders") QCOMPARE(rewritten, before);
        // Through every tab and variable, then OK.
        QVERIFY(m.EditExisting(name, [&](FrmTemplateEdit& d) {
            d.tabMain->setCurrentIndex(kEditorTabVariables);
            for (int i = 0; i < d.lstVars->count(); ++i) d.lstVars->setCurrentRow(i);
            d.tabMain->setCurrentIndex(kEditorTabOutputFormat);
            QCOMPARE(d.cboFormat->currentText(), QString("Delimited"));
            d.cmdOK->click();
            QVERIFY(!d.isVisible());
        }));
        QCOMPARE(QString::fromStdString(ReadFileBytes(path)), QString::fromStdString(rewritten));
        // An edit of another key adds none of the new ones.
        QVERIFY(m.EditExisting(name, [&](FrmTemplateEdit& d) {
            Type(d.txtFilterFindStr, "Changed");
            d.cmdOK->click();
        }));
        std::string expected = rewritten;
        const std::size_t at = expected.find("Find_String=");
        QVERIFY(at != std::string::npos);
        const std::size_t end = expected.find("\r\n", at);
        expected.replace(at, end - at, "Find_String=Changed");
        QCOMPARE(QString::fromStdString(ReadFileBytes(path)), QString::fromStdString(expected));
    }
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
}

void TemplateEditTest::eachMessageOnceIsTheTemplatesChoiceOrTheSettings() {
    Manager m;
    Settings().processOnce = true;
    m.AddTemplate("Orders");
    const std::string path = m.TemplatePath("Orders");
    // Set both ways, then back to the setting, which takes the key out again.
    const std::vector<std::pair<QString, std::optional<std::string>>> steps = {
        {"Yes", "True"}, {"No", "False"}, {"As in System Options (on)", std::nullopt}};
    QString shown = "As in System Options (on)";
    for (const auto& [choice, stored] : steps) {
        QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
            QCOMPARE(d.cboProcessOnce->currentText(), shown);
            QVERIFY(!d.cmdApply->isEnabled());
            Choose(d.cboProcessOnce, choice);
            QVERIFY(d.cmdApply->isEnabled());
            d.cmdOK->click();
            QVERIFY(!d.isVisible());
        }));
        QCOMPARE(StoredKey(path, "General", "ProcessOnce"), stored);
        QCOMPARE(ReadBack(path)->ProcessOnce(),
                 stored ? std::optional<bool>(*stored == "True") : std::nullopt);
        shown = choice;
    }
    QCOMPARE(ReadFileBytes(path), TwoVarTemplate(m.OutPath()));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
}

void TemplateEditTest::forgetClearsOnlyThisTemplatesRecordAfterAsking() {
    Manager m;
    m.AddTemplate("Orders");
    const std::string record = m.env.ProgramDir() + "/Processed.db";
    // A new template has no file the record could know it by; no record is made by opening.
    QVERIFY(m.EditNew([&](FrmTemplateEdit& d) { QVERIFY(!d.cmdForget->isEnabled()); }));
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QVERIFY(d.cmdForget->isEnabled());
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdForget->click();
    }));
    QCOMPARE(QString::fromStdString(m.LastBoxText()),
             QString::fromStdString("Removed 0 entries of template Orders.txf from " + record));
    QVERIFY(!fs::exists(record));

    {
        engine::ProcessedStore store;
        QCOMPARE(store.Open(record), std::string());
        QCOMPARE(store.SelectSource("NETSCAPE", "/mail/inbox"), std::string());
        QCOMPARE(store.Record("<1@x>", {"Orders.txf", "Parts.txf"}), std::string());
        QCOMPARE(store.Record("<2@x>", {"Orders.txf"}), std::string());
        QCOMPARE(store.NoteRun("Orders.txf", {100, 2, 2}), std::string());
    }
    const auto recorded = [&](const std::string& key, const std::string& name) {
        engine::ProcessedStore store;
        if (!store.Open(record).empty() || !store.SelectSource("NETSCAPE", "/mail/inbox").empty())
            return false;
        return store.Has(key, name);
    };
    m.ui.boxes.clear();
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        // No keeps the record; Yes clears the template's entries and runs, and says how many.
        m.ui.QueueAnswer(MsgAnswer::No);
        d.cmdForget->click();
        QVERIFY(recorded("<2@x>", "Orders.txf"));
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdForget->click();
        QVERIFY(!d.Changed());  // nothing of the template itself was edited
    }));
    QCOMPARE(m.ui.boxes.size(), std::size_t(3));
    QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Question);
    QVERIFY2(m.ui.boxes[0].text.find("Orders.txf") != std::string::npos,
             m.ui.boxes[0].text.c_str());
    QCOMPARE(m.ui.boxes[2].text, "Removed 2 entries of template Orders.txf from " + record);
    QCOMPARE(m.ui.boxes[2].icon, MsgIcon::Information);
    QVERIFY(!recorded("<1@x>", "Orders.txf"));
    QVERIFY(!recorded("<2@x>", "Orders.txf"));
    QVERIFY(recorded("<1@x>", "Parts.txf"));
    std::string error;
    engine::ProcessedStore store;
    QCOMPARE(store.Open(record), std::string());
    QVERIFY(store.LastRuns("Orders.txf", 10, error).empty());
}

void TemplateEditTest::forgetNamesARecordThatCannotBeOpened() {
    Manager m;
    m.AddTemplate("Orders");
    const std::string record = m.env.ProgramDir() + "/Processed.db";
    const std::string damaged(4096, 'x');
    WriteFileBytes(record, damaged);
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        m.ui.QueueAnswer(MsgAnswer::Yes);
        d.cmdForget->click();
        QVERIFY(d.isVisible());
    }));
    QCOMPARE(m.ui.boxes.size(), std::size_t(2));
    // The record, and SQLite's reason after it.
    const std::string text = m.ui.boxes[1].text;
    const std::string named = "The record of processed messages cannot be used: " + record + ": ";
    QVERIFY2(text.rfind(named, 0) == 0 && text.size() > named.size(), text.c_str());
    QCOMPARE(m.ui.boxes[1].icon, MsgIcon::Critical);
    QCOMPARE(ReadFileBytes(record), damaged);
}

void TemplateEditTest::newTemplatesWriteCsvWithFormulasGuarded() {
    Manager m;
    GetTempFiles();
    QVERIFY(m.EditNew([&](FrmTemplateEdit& d) {
        QVERIFY(QString::fromStdString(d.Draft().outputFile).endsWith(".csv"));
        QCOMPARE(d.cboFormat->currentText(), QString("CSV"));
        QVERIFY(d.chkFormulaGuard->isChecked());
        m.ui.QueueAnswer(MsgAnswer::Yes);  // saved without outputs
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    }));
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    const std::string path = m.TemplatePath("Untitled");
    QVERIFY(QString::fromStdString(StoredKey(path, "Output", "File").value_or(""))
                .endsWith("/mylist.csv"));
    QCOMPARE(StoredKey(path, "Output", "Format"), std::optional<std::string>("CSV"));
    QCOMPARE(StoredKey(path, "Output", "FormulaGuard"), std::optional<std::string>("True"));
    // Options left at their defaults are not written.
    for (const char* key : {"PerAttachment", "BOM", "HeaderRow", "DateFormat"})
        QCOMPARE(StoredKey(path, "Output", key), std::nullopt);
    QCOMPARE(ReadFileBytes(path).find("[Patterns]"), std::string::npos);
    QCOMPARE(ReadFileBytes(path).find("[Repeat]"), std::string::npos);
}

void TemplateEditTest::patternIsCheckedAsTypedAndABrokenOneIsRefused() {
    // The position counts characters, not bytes.
    const PatternCheck broken = CheckPattern("Prix é (\\d+", true);
    QVERIFY(!broken.ok);
    QCOMPARE(broken.position, std::size_t(11));
    QVERIFY(!broken.message.empty());
    QVERIFY(CheckPattern("Order\\s+#(\\d+);", false).ok);
    QCOMPARE(PatternCheckText("", true), std::string(kPatternEmpty));

    Manager m;
    m.AddTemplate("Orders");
    const std::string path = m.TemplatePath("Orders");
    const std::string before = ReadFileBytes(path);
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Code");
        QVERIFY(!d.lblPatternCheck->isVisible());
        Choose(d.cboStart, "Regular Expression");
        QVERIFY(d.lblPatternCheck->isVisible());
        QCOMPARE(d.lblPatternCheck->text(), QString("Enter a regular expression."));
        Type(d.txtVarPattern, "Code: (\\w+");
        QCOMPARE(d.lblPatternCheck->text(),
                 QString("Error at character 10: ") +
                     QString::fromStdString(CheckPattern("Code: (\\w+", true).message));
        QVERIFY(d.HelpText().contains("regular expression 'Code: (\\w+'"));
        // Refused on OK: the dialog stays and the file is as it was.
        d.cmdOK->click();
        QVERIFY(d.isVisible());
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QVERIFY2(m.LastBoxText().starts_with(
                     "Cannot save the current changes.\nThe regular expression of the variable "
                     "'Code' has an error at character 10: "),
                 m.LastBoxText().c_str());
        QCOMPARE(ReadFileBytes(path), before);
        Type(d.txtVarPattern, "Code: (\\w+)");
        QCOMPARE(d.lblPatternCheck->text(), QString("The regular expression is valid."));
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    }));
    QCOMPARE(StoredKey(path, "Patterns", "Code"), std::optional<std::string>("Code: (\\w+)"));
}

void TemplateEditTest::patternsFollowTheirVariables() {
    Manager m;
    m.AddNewKeysTemplate("Orders");
    const std::string path = m.TemplatePath("Orders");
    // A key for a name that is no variable goes with the next save.
    {
        std::string text = ReadFileBytes(path);
        text.replace(text.find("[Repeat]"), 0, "Gone=x\r\n");
        WriteFileBytes(path, text);
    }
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Item");
        Type(d.txtVarName, "Line");
        FocusTo(d.cboVarMapiField);
        QCOMPARE(d.txtVarPattern->text(), QString(" Item: (.*) "));
        d.cmdApply->click();
    }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    QCOMPARE(StoredKey(path, "Patterns", "Item"), std::nullopt);
    QCOMPARE(StoredKey(path, "Patterns", "Gone"), std::nullopt);
    QCOMPARE(StoredKey(path, "Patterns", "Line"), std::optional<std::string>(" Item: (.*) "));
    QCOMPARE(StoredKey(path, "Repeat", "Items"), std::optional<std::string>("Line"));

    // Without variables, no pattern and no repeat is left, and neither are their sections.
    for (int i = 0; i < 5; ++i) m.ui.answers.push_back(MsgAnswer::Yes);  // 4 deletes, the save
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        while (d.lstVars->count() > 0) {
            d.lstVars->setCurrentRow(0);
            d.cmdDelete->click();
        }
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    }));
    const std::string text = ReadFileBytes(path);
    QVERIFY2(
        text.find("[Patterns]") == std::string::npos && text.find("[Repeat]") == std::string::npos,
        text.c_str());

    // A name that cannot be a key of the pattern section is refused with a pattern.
    TemplateDraft draft = TwoVarDraft(m.OutPath());
    draft.variables[0].name = "a=b";
    draft.variables[0].pattern = "x";
    QVERIFY(QString::fromStdString(DraftKeyRefusal(draft)).contains("'a=b' cannot be stored"));
    draft.variables[0].pattern.clear();
    QCOMPARE(DraftKeyRefusal(draft), std::string());
    draft.variables[0].name = "a,b";
    draft.variables[0].repeat = true;
    QVERIFY(QString::fromStdString(DraftKeyRefusal(draft)).contains("'a,b' cannot repeat"));
}

void TemplateEditTest::copyKeepsPatternsRepeatsAndOutputOptions() {
    Manager m;
    m.AddNewKeysTemplate("Orders");
    GetTempFiles();
    m.Select("Orders");
    // Edit > Copy opens the editor on the copy; the Test tab gets EditedTemplate().
    std::shared_ptr<clsTemplate> edited;
    QVERIFY(m.Edit([&] { m.form->mnuEditCopy->trigger(); },
                   [&](FrmTemplateEdit& d) {
                       edited = d.EditedTemplate();
                       d.cmdOK->click();
                       QVERIFY(!d.isVisible());
                   }));
    QVERIFY2(m.ui.boxes.empty(), m.LastBoxText().c_str());
    const std::string original = m.TemplatePath("Orders");
    const std::string copy = m.TemplatePath("Copy (1) of Orders");
    const std::pair<const char*, const char*> keys[] = {
        {"Output", "Format"}, {"Output", "PerAttachment"}, {"Output", "FormulaGuard"},
        {"Output", "BOM"},    {"Output", "HeaderRow"},     {"Output", "DateFormat"},
        {"Patterns", "Code"}, {"Patterns", "Item"},        {"Repeat", "Items"}};
    for (const auto& [section, key] : keys) {
        QVERIFY2(StoredKey(original, section, key).has_value(), key);
        QCOMPARE(StoredKey(copy, section, key), StoredKey(original, section, key));
    }
    const auto read = ReadBack(original);
    QVERIFY(edited);
    QVERIFY(edited->Patterns() == read->Patterns());
    QCOMPARE(edited->RepeatedVariables(), read->RepeatedVariables());
    QCOMPARE(edited->OutputFormat(), read->OutputFormat());
    QCOMPARE(edited->DateFormat(), read->DateFormat());
    QVERIFY(edited->PerAttachment() && edited->FormulaGuard() && edited->ByteOrderMark() &&
            edited->HeaderRow());
}

void TemplateEditTest::headerNameBoxTakesOnlyAHeaderName() {
    Manager m;
    // A header field spelt otherwise than the editor writes it is shown and saved as it stands.
    std::string text = TwoVarTemplate(m.OutPath());
    text.replace(text.find("Command=MSG_SUBJECT"), 19, "Command=msg_header:List-Id");
    WriteFileBytes(m.TemplatePath("Orders"), text);
    QVERIFY(m.EditExisting("Orders", [&](FrmTemplateEdit& d) {
        QCOMPARE(d.cboFilterField->currentText(), QString("msg_header:List-Id"));
        QVERIFY(!d.txtFilterHeaderName->isEnabled());
        d.tabMain->setCurrentIndex(kEditorTabVariables);
        SelectEntry(d.lstVars, "Name");
        Choose(d.cboVarMapiField, "Header...");
        QVERIFY(d.txtVarHeaderName->isEnabled());
        d.txtVarHeaderName->setFocus();
        Type(d.txtVarHeaderName, "X Order:Id");
        QCOMPARE(d.txtVarHeaderName->text(), QString("XOrderId"));
        QVERIFY(d.HelpText().contains("'MSG_HEADER:XOrderId'"));
        d.cmdOK->click();
        QVERIFY(!d.isVisible());
    }));
    const std::string path = m.TemplatePath("Orders");
    QCOMPARE(StoredKey(path, "Filter", "Command"),
             std::optional<std::string>("msg_header:List-Id"));
    QCOMPARE(FieldNamed(*ReadBack(path), "Name")->FieldType(), std::string("MSG_HEADER:XOrderId"));
    QCOMPARE(HeaderNameOfField("MSG_HEADER:"), std::nullopt);
    QCOMPARE(HeaderNameOfField("MSG_HEADER: X"), std::nullopt);
}

void TemplateEditTest::sampleLineShowsTheFormat_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("sample");
    QTest::newRow("delimited as before") << "DELIMITED"
                                         << " "
                                         << "Full Name Code";
    QTest::newRow("no format stored") << ""
                                      << ","
                                      << "Full Name,Code";
    QTest::newRow("csv quotes what holds the delimiter") << "CSV"
                                                         << " "
                                                         << "\"Full Name\" Code";
    QTest::newRow("csv quotes quotation marks") << "csv"
                                                << ";"
                                                << "Full Name;\"Co\"\"de\"";
    QTest::newRow("json lines") << "JSONL"
                                << ","
                                << "{\"Full Name\":\"...\",\"Code\":\"...\"}";
    QTest::newRow("unknown format as delimited") << "XML"
                                                 << ","
                                                 << "Full Name,Code";
}

void TemplateEditTest::sampleLineShowsTheFormat() {
    QFETCH(QString, format);
    QFETCH(QString, delimiter);
    QFETCH(QString, sample);
    const std::vector<std::string> names = {"Full Name",
                                            QString(sample).contains("\"\"") ? "Co\"de" : "Code"};
    QCOMPARE(
        QString::fromStdString(SampleLine(names, delimiter.toStdString(), format.toStdString())),
        sample);
}

QTEST_MAIN(TemplateEditTest)
#include "template_edit_qttest.moc"
