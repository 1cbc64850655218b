// The template wizard through the real window: the tests fill in its pages, click its
// buttons and read the template file it writes. Message boxes are scripted; the last case
// runs the real engine over a mailbox with the template the wizard made.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/template_choices.h"
#include "manager/template_edit.h"
#include "manager/template_wizard.h"
#include "manager/wizard_message_file.h"
#include "manager/wizard_procs.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/global_utils.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "tests/manager/manager_fixture.h"
#include "tests/support/engine_without_window.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

using namespace tallix;
using namespace tallix::manager;
namespace fs = std::filesystem;
using tallix::testing::DropFile;
using tallix::testing::DropUrls;
using tallix::testing::EngineWithoutWindow;
using tallix::testing::Names;
using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

namespace {

// The keys of one template file as written: "Section/Key" -> value.
std::map<std::string, std::string> Keys(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::string section;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        if (line.size() > 1 && line.front() == '[') {
            section = line.substr(1, line.size() - 2);
        } else if (const std::size_t eq = line.find('='); eq != std::string::npos) {
            keys[section + "/" + line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return keys;
}

// One manager with its main window over a private program directory and settings file; the
// wizard is driven by `fill` whenever DoWizard would show it.
struct Manager : tallix::testing::ManagerFixture {
    std::function<void(FrmWizard&)> fill;
    int wizardsShown = 0;
    std::vector<std::string> reviewed;  // the name the editor showed each time it opened

    Manager() {
        SetWizardRunner([this](FrmWizard& w) {
            ++wizardsShown;
            if (fill) fill(w);
        });
        // "Review Template After Creation" opens the real editor; it is closed at once.
        SetEditorRunner([this](FrmTemplateEdit& editor) {
            reviewed.push_back(editor.Draft().name);
            QVERIFY(!State().newTemplate);
        });
    }
    ~Manager() {
        SetWizardRunner({});
        SetEditorRunner({});
        FrmWizard::SetMessageFileChooser({});
        SetOutputFileChooser({});
    }

    std::map<std::string, std::string> Written(const std::string& name) const {
        return Keys(ReadFileBytes(TemplatePath(name)));
    }
    void AddTemplate(const std::string& name) {
        WriteFileBytes(TemplatePath(name), "[General]\r\nActive=False\r\nNum_Variables=0\r\n");
    }
};

// Walks to the last page and clicks Finish.
void Finish(FrmWizard& w) {
    for (int page = w.CurrentPage(); page < kWizardPageCount - 1; ++page) w.cmdNext->click();
    QCOMPARE(w.cmdNext->text(), QString("Finish"));
    w.cmdNext->click();
}

// The answers most cases share: a name, an output file, the given formatted text.
void FormattedText(FrmWizard& w, const std::string& name, const QString& text,
                   const QString& separator) {
    w.txtTemplateName->setText(QString::fromStdString(name));
    w.optCreate->setChecked(true);
    w.txtMsgText->setPlainText(text);
    w.txtDelimiter->setText(separator);
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void formattedLinesBecomeVariables_data();
    void formattedLinesBecomeVariables();
    void wizardWritesFormattedTextVariables_data();
    void wizardWritesFormattedTextVariables();
    void standardFieldsInOrderAndTabStillStoresCommas();
    void entireTextGivesOneVariable_data();
    void entireTextGivesOneVariable();
    void extractionOptionsSetEveryVariablesFlags_data();
    void extractionOptionsSetEveryVariablesFlags();
    void filterPageWritesTheFilter();
    void filterFieldOnlyTheWizardOffersSurvivesTheEditor();
    void newTemplateIsCsvWithFormulasGuardedAndFiltersAHeader();
    void existingNameIsRefusedAndTheWizardStays();
    void namePageRefusesANameThatCannotBeAFile_data();
    void namePageRefusesANameThatCannotBeAFile();
    void emptyOutputFileIsRefused();
    void tooManyVariablesForTheOutputLineAreRefused();
    void cancelAndEscapeWriteNothing();
    void unwritableTemplateKeepsTheWizardOpenWithEveryAnswer();
    void reviewOpensTheNewTemplateOnlyWhenAsked();
    void pagesCaptionsButtonsAndEnabling();
    void everyControlHasAMnemonic();
    void largerFontCutsNoText();
    void tabOrderFollowsEachPageTopToBottom();
    void outputFileDefaultsToTheDocumentsFolder();
    void missingOutputFolderIsWarnedAndCaughtBeforeFinish();
    void browseChecksTheChosenOutputFile();
    void loadFillsTheTextFromAMessageOrMailbox();
    void loadRefusesFilesWithoutAMessage();
    void loadReadsAtMostTheLimit();
    void selectedValuesBecomeTheVariables();
    void menuCommandOpensTheWizard();
    void wizardTemplateRunByTheEngineGivesTheOrderLine();
};

void WizardTest::formattedLinesBecomeVariables_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");
    // name=start pairs, ";"-separated
    QTest::addColumn<QString>("expected");
    QTest::newRow("space-equals-space") << "Company = Acme\nProduct = Widget"
                                        << " = "
                                        << "Company=Company =;Product=Product =";
    QTest::newRow("colon and blank") << "Name: John"
                                     << ":"
                                     << "Name=Name: ";
    // The spelled-out rule would take "Name:J" and lose every value's first letter.
    QTest::newRow("colon without blank") << "Name:John"
                                         << ":"
                                         << "Name=Name:";
    QTest::newRow("no separator anywhere") << "Hello there\nNothing to take"
                                           << ":"
                                           << "";
    QTest::newRow("blank separator") << "Name: John"
                                     << "   "
                                     << "";
    QTest::newRow("line ends of every kind, blanks and empty lines")
        << "  A: 1  \r\n\r\nB: 2\rC: 3\n\n"
        << ":"
        << "A=A: ;B=B: ;C=C: ";
    QTest::newRow("separator letters in any case") << "Total IS 5"
                                                   << " is "
                                                   << "Total=Total I";
    QTest::newRow("blanks leave the name") << "First Name: Ann"
                                           << ":"
                                           << "FirstName=First Name: ";
    QTest::newRow("commas leave the name") << "Qty, each: 5"
                                           << ":"
                                           << "Qtyeach=Qty, each: ";
    QTest::newRow("line starting with the separator") << ": orphan\nCity: Rome"
                                                      << ":"
                                                      << "City=City: ";
    QTest::newRow("semicolon cannot be stored") << "Qty; each: 5\nCity: Rome"
                                                << ":"
                                                << "City=City: ";
    QTest::newRow("same description twice") << "Name: a\nName: b\nname: c"
                                            << ":"
                                            << "Name=Name: ;Name2=Name: ;name3=name: ";
    QTest::newRow("line ending in the separator") << "Notes:"
                                                  << ":"
                                                  << "Notes=Notes:";
    QTest::newRow("running text is no description") << QString(250, 'x') + ": y\nCity: Rome"
                                                    << ":"
                                                    << "City=City: ";
}

void WizardTest::formattedLinesBecomeVariables() {
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(QString, expected);
    tallix::testing::ScriptedUi ui;
    clsTemplate t;
    ExtractionOptions options;
    const int created =
        ParseWizardText(t, options, text.toStdString(), separator.toStdString(), "ATTACHMENT");
    QStringList got;
    for (const auto& f : t.colFields()->NewEnum()) {
        got << QString::fromStdString(f->FieldName() + "=" + f->FindStart());
        QCOMPARE(f->FieldType(), std::string("ATTACHMENT"));
        QCOMPARE(f->FindStop(), std::string("{End of Line}"));
    }
    QCOMPARE(got.join(';'), expected);
    QCOMPARE(created, int(got.size()));
    QVERIFY(ui.boxes.empty());
}

void WizardTest::wizardWritesFormattedTextVariables_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("varLines");
    QTest::newRow("company and product")
        << "Company = Acme\r\nProduct = Widget"
        << " = "
        << QStringList{"Company;MSG_TEXT;Company =;{End of Line};0;0;0;0;0",
                       "Product;MSG_TEXT;Product =;{End of Line};0;0;0;0;0"};
    QTest::newRow("name with and without blank")
        << "Name: John\nAge:42"
        << ":"
        << QStringList{"Name;MSG_TEXT;Name:;{End of Line};0;0;0;0;0",
                       "Age;MSG_TEXT;Age:;{End of Line};0;0;0;0;0"};
    QTest::newRow("no separator creates no text variable") << "Hello\nWorld"
                                                           << ":" << QStringList{};
}

void WizardTest::wizardWritesFormattedTextVariables() {
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(QStringList, varLines);
    Manager m;
    m.fill = [&](FrmWizard& w) {
        FormattedText(w, "Orders", text, separator);
        w.txtOutputFile->setText(QString::fromStdString(m.env.ProgramDir() + "/orders.csv"));
        Finish(w);
    };
    DoWizard();
    QVERIFY2(m.ui.boxes.empty(), m.ui.boxes.empty() ? "" : m.ui.boxes[0].text.c_str());
    auto keys = m.Written("Orders");
    QCOMPARE(keys["General/Active"], std::string("True"));
    QCOMPARE(keys["General/Num_Variables"], std::to_string(varLines.size()));
    QStringList names;
    for (int i = 0; i < varLines.size(); ++i) {
        QCOMPARE(QString::fromStdString(keys["Variables/Var" + std::to_string(i + 1)]),
                 varLines[i]);
        names << varLines[i].section(';', 0, 0);
    }
    QVERIFY(!keys.count("Variables/Var" + std::to_string(varLines.size() + 1)));
    QCOMPARE(keys["Output/Output_Count"], std::string("1"));
    QCOMPARE(QString::fromStdString(keys["Output/Output1"]), names.join(','));
    QCOMPARE(keys["Output/File"], m.env.ProgramDir() + "/orders.csv");
    QCOMPARE(keys["Output/Delimiter"], std::string("COMMA"));
    QCOMPARE(keys["Filter/Command"], std::string("<NONE>"));
    QCOMPARE(keys["Filter/Find_String"], std::string());
    // The list shows the new template, selected.
    QCOMPARE(m.Rows(), QStringList{"Orders"});
    QCOMPARE(FrmMain::RowText(m.form->SelectedItem()), std::string("Orders"));
    QVERIFY(WizardCompleted());
}

void WizardTest::standardFieldsInOrderAndTabStillStoresCommas() {
    Manager m;
    m.fill = [&](FrmWizard& w) {
        FormattedText(w, "Everything", "Company: Acme", ":");
        for (QCheckBox* c : {w.chkSenderName, w.chkSendAddr, w.chkRecpName, w.chkRecpAddr,
                             w.chkMsgDate, w.chkMsgTime})
            c->setChecked(true);
        w.cboDelimiter->setCurrentText("TAB");
        Finish(w);
    };
    DoWizard();
    auto keys = m.Written("Everything");
    QCOMPARE(keys["Output/Delimiter"], std::string("TAB"));
    QCOMPARE(keys["Output/Output1"],
             std::string("SentDate,SentTime,ToAddr,ToName,FromAddr,FromName,Company"));
    QCOMPARE(keys["General/Num_Variables"], std::string("7"));
    const std::vector<std::string> expected = {
        "SentDate;MSG_SENT_DATE;", "SentTime;MSG_SENT_TIME;",  "ToAddr;RECIPIENT_ADDRESS;",
        "ToName;RECIPIENT_NAME;",  "FromAddr;SENDER_ADDRESS;", "FromName;SENDER_NAME;"};
    for (std::size_t i = 0; i < expected.size(); ++i)
        QCOMPARE(keys["Variables/Var" + std::to_string(i + 1)],
                 expected[i] + "{Beginning of Field};{End of Field};0;0;0;0;0");
    QCOMPARE(keys["Variables/Var7"],
             std::string("Company;MSG_TEXT;Company:;{End of Line};0;0;0;0;0"));
    // Read back the way the editor opens it: the stored list splits into every variable.
    auto t = std::make_shared<clsTemplate>();
    t->SetFileName(m.TemplatePath("Everything"));
    t->ReadTemplate();
    QCOMPARE(ParseOutput(t->colOutPutLines()->Item(1), ",").size(), std::size_t(7));
}

void WizardTest::entireTextGivesOneVariable_data() {
    QTest::addColumn<bool>("attachment");
    QTest::addColumn<QString>("varLine");
    QTest::newRow("body") << false
                          << "MessageText;MSG_TEXT;{Beginning of Field};{End of Field};0;0;0;0;0";
    QTest::newRow("attachment")
        << true << "AttachmentText;ATTACHMENT;{Beginning of Field};{End of Field};0;0;0;0;0";
}

void WizardTest::entireTextGivesOneVariable() {
    QFETCH(bool, attachment);
    QFETCH(QString, varLine);
    Manager m;
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Whole");
        // Text typed before switching back to the whole text does not count.
        w.optCreate->setChecked(true);
        w.txtMsgText->setPlainText("Name: John");
        w.optNoCreate->setChecked(true);
        (attachment ? w.optUseAttach : w.optUseMsg)->setChecked(true);
        Finish(w);
    };
    DoWizard();
    auto keys = m.Written("Whole");
    QCOMPARE(keys["General/Num_Variables"], std::string("1"));
    QCOMPARE(QString::fromStdString(keys["Variables/Var1"]), varLine);
    QCOMPARE(QString::fromStdString(keys["Output/Output1"]), varLine.section(';', 0, 0));
}

void WizardTest::extractionOptionsSetEveryVariablesFlags_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("flags");  // UseQuotes;RemoveLF;MatchCase;MatchWhole;StartOfLine
    QTest::newRow("none") << ""
                          << "0;0;0;0;0";
    QTest::newRow("quotes") << "chkUseQuotes"
                            << "1;0;0;0;0";
    QTest::newRow("returns") << "chkRemoveReturns"
                             << "0;1;0;0;0";
    QTest::newRow("case") << "chkMatchCase"
                          << "0;0;1;0;0";
    QTest::newRow("whole") << "chkMathWholeStr"
                           << "0;0;0;1;0";
    QTest::newRow("start of line") << "chkStartOfLineOnly"
                                   << "0;0;0;0;1";
}

void WizardTest::extractionOptionsSetEveryVariablesFlags() {
    QFETCH(QString, box);
    QFETCH(QString, flags);
    Manager m;
    m.fill = [&](FrmWizard& w) {
        FormattedText(w, "Flags", "City: Rome", ":");
        w.chkMsgDate->setChecked(true);
        if (!box.isEmpty()) w.findChild<QCheckBox*>(box)->setChecked(true);
        Finish(w);
    };
    DoWizard();
    auto keys = m.Written("Flags");
    QCOMPARE(QString::fromStdString(keys["Variables/Var1"]),
             "SentDate;MSG_SENT_DATE;{Beginning of Field};{End of Field};" + flags);
    QCOMPARE(QString::fromStdString(keys["Variables/Var2"]),
             "City;MSG_TEXT;City:;{End of Line};" + flags);
}

void WizardTest::filterPageWritesTheFilter() {
    Manager m;
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Filtered");
        w.optFilter->setChecked(true);
        w.txtFilterString->setText(" New order");
        w.cboMsgField->setCurrentText("SENDER_ADDRESS");
        Finish(w);
    };
    DoWizard();
    auto keys = m.Written("Filtered");
    QCOMPARE(keys["Filter/Command"], std::string("SENDER_ADDRESS"));
    QCOMPARE(keys["Filter/Find_String"], std::string(" New order"));

    // Text typed into the filter and then switched off is not kept.
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Unfiltered");
        w.optFilter->setChecked(true);
        w.txtFilterString->setText("Order");
        w.optNoFilter->setChecked(true);
        Finish(w);
    };
    DoWizard();
    keys = m.Written("Unfiltered");
    QCOMPARE(keys["Filter/Command"], std::string("<NONE>"));
    QCOMPARE(keys["Filter/Find_String"], std::string());
}

void WizardTest::filterFieldOnlyTheWizardOffersSurvivesTheEditor() {
    Manager m;
    // The wizard's filter list holds the date and time fields, the editor's does not.
    QVERIFY(!Names(MapiFilterFieldChoices(Settings().useSource)).contains("MSG_SENT_DATE"));
    bool reviewed = false;
    QString shown;
    SetEditorRunner([&](FrmTemplateEdit& editor) {
        reviewed = true;
        editor.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        shown = editor.cboFilterField->currentText();
        // Enter presses OK, which saves the template whatever changed.
        QTest::keyClick(editor.focusWidget() ? editor.focusWidget() : &editor, Qt::Key_Return);
        QVERIFY(!editor.isVisible());
    });
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Dated");
        w.optFilter->setChecked(true);
        w.txtFilterString->setText("2026");
        w.cboMsgField->setCurrentText("MSG_SENT_DATE");
        w.chkReview->setChecked(true);
        Finish(w);
    };
    DoWizard();
    QVERIFY(reviewed);
    const auto keys = m.Written("Dated");
    QCOMPARE(QString::fromStdString(keys.at("Filter/Command")), QString("MSG_SENT_DATE"));
    QCOMPARE(keys.at("Filter/Find_String"), std::string("2026"));
    QCOMPARE(shown, QString("MSG_SENT_DATE"));
}

void WizardTest::newTemplateIsCsvWithFormulasGuardedAndFiltersAHeader() {
    Manager m;
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Lists");
        w.optFilter->setChecked(true);
        w.txtFilterString->setText("shop");
        QVERIFY(!w.txtHeaderName->isEnabled());
        w.cboMsgField->setCurrentText("Header...");
        QVERIFY(w.txtHeaderName->isEnabled());
        w.cboDelimiter->setCurrentText("SEMICOLON");
        // A header without a name is refused; the wizard stays on its last page.
        Finish(w);
        QCOMPARE(m.LastBoxText(), std::string(kMsgNoHeaderName));
        QVERIFY(!WizardCompleted());
        QVERIFY(!std::filesystem::exists(m.TemplatePath("Lists")));
        w.txtHeaderName->setText("List-Id");
        w.cmdNext->click();
        QVERIFY(WizardCompleted());
    };
    DoWizard();
    const auto keys = m.Written("Lists");
    QCOMPARE(keys.at("Filter/Command"), std::string("MSG_HEADER:List-Id"));
    QCOMPARE(keys.at("Output/Delimiter"), std::string("SEMICOLON"));
    QCOMPARE(keys.at("Output/Format"), std::string("CSV"));
    QCOMPARE(keys.at("Output/FormulaGuard"), std::string("True"));
    QVERIFY(QString::fromStdString(keys.at("Output/File")).endsWith("/mylist.csv"));
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
}

void WizardTest::existingNameIsRefusedAndTheWizardStays() {
    for (bool selected : {false, true}) {
        Manager m;
        m.AddTemplate("Orders");
        m.AddTemplate("Other");
        GetTempFiles();
        if (selected) m.form->lvMainList->setCurrentItem(m.form->FindRow("Orders"));
        const std::string before = ReadFileBytes(m.TemplatePath("Orders"));
        m.fill = [&](FrmWizard& w) {
            w.txtTemplateName->setText("  Orders ");
            w.cmdNext->click();
            // Refused on the name page, with the reason under the name.
            QCOMPARE(w.CurrentPage(), 0);
            QCOMPARE(w.lblNameProblem->text(), QString("This template name already exist"));
            QVERIFY(m.ui.boxes.empty());
            // A free name goes through.
            w.txtTemplateName->setText("Orders 2");
            Finish(w);
            QVERIFY(WizardCompleted());
        };
        DoWizard();
        QCOMPARE(ReadFileBytes(m.TemplatePath("Orders")), before);
        QVERIFY(fs::exists(m.TemplatePath("Orders 2")));
        QCOMPARE(m.Rows(), QStringList({"Orders 2", "Orders", "Other"}));
    }
    // A file another program put there after the list was filled is not written over, when
    // it is there before the name page is left or only at Finish.
    for (bool before : {true, false}) {
        Manager m;
        GetTempFiles();
        if (before) m.AddTemplate("Unlisted");
        m.fill = [&](FrmWizard& w) {
            w.txtTemplateName->setText("Unlisted");
            w.cmdNext->click();
            QCOMPARE(w.CurrentPage(), before ? 0 : 1);
            if (before) {
                QCOMPARE(w.lblNameProblem->text(), QString("This template name already exist"));
                w.cmdCancel->click();
                return;
            }
            m.AddTemplate("Unlisted");
            Finish(w);
            QCOMPARE(m.ui.boxes.size(), std::size_t(1));
            QCOMPARE(
                m.ui.boxes[0].text,
                std::string("Cannot save the current changes.\nThis template name already exist"));
            QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
            QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Critical);
            QCOMPARE(w.CurrentPage(), kWizardPageCount - 1);
            QVERIFY(!WizardCompleted());
            QVERIFY(w.result() != QDialog::Accepted);
            w.cmdCancel->click();
        };
        DoWizard();
        QCOMPARE(m.Written("Unlisted")["General/Active"], std::string("False"));
    }
}

void WizardTest::namePageRefusesANameThatCannotBeAFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << ""
                           << "File name cannot be blank.";
    QTest::newRow("blanks") << "   "
                            << "File name cannot be blank.";
    QTest::newRow("slash") << "Web/Orders"
                           << "Invalid template name\nA name cannot hold \"/\": it becomes the "
                              "template's file name.";
    QTest::newRow("option") << "--help"
                            << "Invalid template name\nA name cannot start with \"-\": the "
                               "engine would take it for an option.";
    QTest::newRow("hidden") << ".orders"
                            << "Invalid template name\nA name cannot start with \".\": the "
                               "template's file would be hidden.";
}

void WizardTest::namePageRefusesANameThatCannotBeAFile() {
    QFETCH(QString, name);
    QFETCH(QString, reason);
    Manager m;
    m.fill = [&](FrmWizard& w) {
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.txtTemplateName->setText(name);
        w.cmdNext->click();
        // Next stays on the name page: the reason under the name, said with it to a screen
        // reader, and the focus back in it.
        QCOMPARE(w.CurrentPage(), 0);
        QVERIFY(w.lblNameProblem->isVisible());
        QCOMPARE(w.lblNameProblem->text(), reason);
        QCOMPARE(w.txtTemplateName->accessibleDescription(), reason);
        QCOMPARE(QApplication::focusWidget(), w.txtTemplateName);
        QVERIFY(m.ui.boxes.empty());
        // The reason follows the typing and goes once the name can be taken.
        w.txtTemplateName->selectAll();
        QTest::keyClicks(w.txtTemplateName, "Web");
        QVERIFY(!w.lblNameProblem->isVisible());
        QCOMPARE(w.txtTemplateName->accessibleDescription(), QString());
        w.cmdNext->click();
        QCOMPARE(w.CurrentPage(), 1);
        Finish(w);
    };
    DoWizard();
    QVERIFY(WizardCompleted());
    QCOMPARE(m.Rows(), QStringList{"Web"});
    QVERIFY(m.ui.boxes.empty());
}

void WizardTest::emptyOutputFileIsRefused() {
    Manager m;
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("NoOutput");
        w.txtOutputFile->setText("   ");
        Finish(w);
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, std::string("No output file has been defined."));
        QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
        QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Exclamation);
        QVERIFY(!WizardCompleted());
        w.cmdCancel->click();
    };
    DoWizard();
    QVERIFY(fs::is_empty(m.TemplateDir()));
}

void WizardTest::tooManyVariablesForTheOutputLineAreRefused() {
    Manager m;
    QString text;
    for (int i = 0; i < 300; ++i) text += QString("Field number %1: value\n").arg(i);
    m.fill = [&](FrmWizard& w) {
        FormattedText(w, "Huge", text, ":");
        Finish(w);
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, std::string(kMsgTooManyVariables));
        QVERIFY(!WizardCompleted());
        // With fewer lines the output line fits and the template is written.
        w.txtMsgText->setPlainText(text.left(text.indexOf("Field number 100:")));
        w.cmdNext->click();
    };
    DoWizard();
    auto keys = m.Written("Huge");
    QCOMPARE(keys["General/Num_Variables"], std::string("100"));
    QVERIFY(keys["Output/Output1"].size() <= kMaxOutputLineChars);
    QVERIFY(keys["Output/Output1"].rfind("Fieldnumber0,Fieldnumber1,", 0) == 0);
}

void WizardTest::cancelAndEscapeWriteNothing() {
    for (int how = 0; how < 2; ++how) {
        Manager m;
        m.AddTemplate("Kept");
        GetTempFiles();
        m.fill = [&](FrmWizard& w) {
            w.txtTemplateName->setText("Never Written");
            while (w.CurrentPage() < kWizardPageCount - 1) w.cmdNext->click();
            if (how == 0)
                w.cmdCancel->click();
            else
                QTest::keyClick(&w, Qt::Key_Escape);
        };
        DoWizard();
        QCOMPARE(m.wizardsShown, 1);
        QVERIFY(!WizardCompleted());
        QCOMPARE(m.Rows(), QStringList{"Kept"});
        QCOMPARE(std::distance(fs::directory_iterator(m.TemplateDir()), fs::directory_iterator()),
                 1);
        QVERIFY(m.ui.boxes.empty());
        QVERIFY(m.reviewed.empty());
    }
}

void WizardTest::unwritableTemplateKeepsTheWizardOpenWithEveryAnswer() {
    Manager m;
    // The template directory is gone (a fresh install without it, or removed since the start).
    fs::remove_all(m.TemplateDir());
    const std::string path = m.TemplatePath("Orders");
    m.fill = [&](FrmWizard& w) {
        FormattedText(w, "Orders", "Order: 1\nCustomer: Ann\n", ":");
        w.txtOutputFile->setText("/home/ann/orders.csv");
        w.chkSenderName->setChecked(true);
        Finish(w);
        // Not written: the box names the file and the reason, and the wizard stays.
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text,
                 "Cannot save the current changes.\n" + path + ": No such file or directory");
        QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
        QCOMPARE(m.ui.boxes[0].icon, MsgIcon::Critical);
        QVERIFY(!WizardCompleted());
        QVERIFY(w.result() != QDialog::Accepted);
        QCOMPARE(w.CurrentPage(), kWizardPageCount - 1);
        QCOMPARE(w.txtTemplateName->text(), QString("Orders"));
        QCOMPARE(w.txtMsgText->toPlainText(), QString("Order: 1\nCustomer: Ann\n"));
        QCOMPARE(w.txtOutputFile->text(), QString("/home/ann/orders.csv"));
        QVERIFY(w.chkSenderName->isChecked());
        // Once the directory is there, the same Finish writes what was entered.
        fs::create_directories(m.TemplateDir());
        w.cmdNext->click();
        QVERIFY(WizardCompleted());
    };
    DoWizard();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    const auto keys = m.Written("Orders");
    QCOMPARE(keys.at("Output/File"), std::string("/home/ann/orders.csv"));
    QCOMPARE(keys.at("Output/Output1"), std::string("FromName,Order,Customer"));
    QCOMPARE(m.Rows(), QStringList{"Orders"});
}

void WizardTest::reviewOpensTheNewTemplateOnlyWhenAsked() {
    Manager m;
    m.AddTemplate("Zebra");
    GetTempFiles();
    m.form->lvMainList->setCurrentItem(m.form->FindRow("Zebra"));
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Reviewed");
        w.chkReview->setChecked(true);
        Finish(w);
    };
    DoWizard();
    QCOMPARE(m.reviewed, std::vector<std::string>{"Reviewed"});
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Unreviewed");
        Finish(w);
    };
    DoWizard();
    QCOMPARE(m.reviewed.size(), std::size_t(1));
    QCOMPARE(FrmMain::RowText(m.form->SelectedItem()), std::string("Unreviewed"));
}

void WizardTest::pagesCaptionsButtonsAndEnabling() {
    Manager m;  // Next checks the name against the main window's list
    FrmWizard w;
    const QStringList captions = {"The Template Wizard",         "The Message Filter",
                                  "The Created Output File",     "The Standard Message Fields",
                                  "The Message Text Field",      "Ready to create the template",
                                  "Ready to create the template"};
    QCOMPARE(w.CurrentPage(), 0);
    QVERIFY(!w.cmdBack->isEnabled());
    QCOMPARE(w.txtTemplateName->text(), QString("My Mailing List"));
    for (int page = 0; page < kWizardPageCount; ++page) {
        QCOMPARE(w.CurrentPage(), page);
        QCOMPARE(w.windowTitle(), captions[page]);
        QCOMPARE(w.cmdBack->isEnabled(), page > 0);
        QCOMPARE(w.cmdNext->text(), QString(page == kWizardPageCount - 1 ? "Finish" : "&Next"));
        for (QLabel* advice : {w.txtInfo, w.txtTip, w.txtPit}) QVERIFY(!advice->text().isEmpty());
        if (page < kWizardPageCount - 1) w.cmdNext->click();
    }
    QCOMPARE(w.chkReview->text(), QString("&Review Template After Creation"));
    w.cmdBack->click();
    QCOMPARE(w.CurrentPage(), kWizardPageCount - 2);
    while (w.CurrentPage() > 0) w.cmdBack->click();
    w.cmdBack->click();  // disabled in effect: nothing before the first page
    QCOMPARE(w.CurrentPage(), 0);

    // Lists and defaults.
    QStringList delimiters;
    for (int i = 0; i < w.cboDelimiter->count(); ++i) delimiters << w.cboDelimiter->itemText(i);
    QCOMPARE(delimiters, QStringList({"COMMA", "SPACE", "TAB", "SEMICOLON"}));
    QCOMPARE(w.cboMsgField->count(), int(MapiFieldChoices(Settings().useSource).size()));
    // The box's hint is a placeholder: the box holds no text of its own.
    QCOMPARE(w.txtMsgText->placeholderText(), QString("The pasted form text will be in here..."));
    QCOMPARE(w.txtMsgText->toPlainText(), QString());
    QVERIFY(w.optNoFilter->isChecked() && w.optNoCreate->isChecked() && w.optUseMsg->isChecked());

    // The filter frame and the formatted-text controls follow their options.
    QVERIFY(!w.txtFilterString->isEnabled() && !w.cboMsgField->isEnabled());
    w.optFilter->setChecked(true);
    QVERIFY(w.txtFilterString->isEnabled() && w.cboMsgField->isEnabled());
    w.optNoFilter->setChecked(true);
    QVERIFY(!w.txtFilterString->isEnabled());
    for (QWidget* c :
         std::initializer_list<QWidget*>{w.txtMsgText, w.txtDelimiter, w.cmdLoadMessage})
        QVERIFY(!c->isEnabled());
    w.optCreate->setChecked(true);
    for (QWidget* c :
         std::initializer_list<QWidget*>{w.txtMsgText, w.txtDelimiter, w.cmdLoadMessage})
        QVERIFY(c->isEnabled());
    QVERIFY(w.optUseMsg->isEnabled() && w.optUseAttach->isEnabled());
}

void WizardTest::everyControlHasAMnemonic() {
    tallix::testing::IsolatedEnvironment env;
    ResetSettings();
    FrmWizard w;
    auto mnemonic = [](const QString& text) {
        const int at = text.indexOf('&');
        return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
    };
    // (That no two of them share a letter is checked for every window in
    // keyboard_access_qttest.)
    for (int page = 0; page < kWizardPageCount; ++page) {
        QWidget* shown = w.WizFrame->widget(page);
        for (QAbstractButton* b : shown->findChildren<QAbstractButton*>())
            QVERIFY2(!mnemonic(b->text()).isNull(), qPrintable(b->text()));
        for (QLabel* l : shown->findChildren<QLabel*>()) {
            if (!l->buddy()) continue;
            QVERIFY2(!mnemonic(l->text()).isNull(), qPrintable(l->text()));
        }
        // Every input control can be reached through a label's mnemonic.
        for (QWidget* input : shown->findChildren<QWidget*>()) {
            if (!qobject_cast<QLineEdit*>(input) && !qobject_cast<QComboBox*>(input) &&
                !qobject_cast<QPlainTextEdit*>(input))
                continue;
            if (qobject_cast<QLineEdit*>(input) && qobject_cast<QComboBox*>(input->parent()))
                continue;
            bool labelled = false;
            for (QLabel* l : shown->findChildren<QLabel*>()) labelled |= l->buddy() == input;
            QVERIFY2(labelled, qPrintable(input->objectName()));
        }
    }
    // Alt+B goes back from the page with the output file's Browse button.
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.ShowPage(2);
    QTest::keyClick(&w, Qt::Key_B, Qt::AltModifier);
    QTRY_COMPARE(w.CurrentPage(), 1);
}

void WizardTest::largerFontCutsNoText() {
    tallix::testing::IsolatedEnvironment env;
    ResetSettings();
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSizeF(before.pointSizeF() * 1.75);
    QApplication::setFont(large);
    {
        FrmWizard w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The offscreen screen is small; a real one takes the size the window asks for.
        w.resize(w.sizeHint());
        for (int page = 0; page < kWizardPageCount; ++page) {
            w.ShowPage(page);
            QApplication::processEvents();
            for (QWidget* c : w.findChildren<QWidget*>()) {
                if (!c->isVisible()) continue;
                const QString what = QString("page %1: %2").arg(page).arg(c->objectName());
                auto* label = qobject_cast<QLabel*>(c);
                if (label && label->wordWrap()) {
                    QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                             qPrintable(what));
                } else if (label || qobject_cast<QAbstractButton*>(c)) {
                    QVERIFY2(c->width() >= c->minimumSizeHint().width() &&
                                 c->height() >= c->minimumSizeHint().height(),
                             qPrintable(what + " " + (label ? label->text() : "")));
                }
            }
        }
    }
    QApplication::setFont(before);
}

void WizardTest::tabOrderFollowsEachPageTopToBottom() {
    tallix::testing::IsolatedEnvironment env;
    ResetSettings();
    FrmWizard w;
    w.optFilter->setChecked(true);
    w.optCreate->setChecked(true);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (int page = 0; page < kWizardPageCount; ++page) {
        w.ShowPage(page);
        QWidget* shown = w.WizFrame->currentWidget();
        // The page's controls in the order Tab visits them, with where they stand.
        std::vector<std::pair<QPoint, QString>> visited;
        for (QWidget* c = w.nextInFocusChain(); c != &w; c = c->nextInFocusChain()) {
            if (!shown->isAncestorOf(c) || !c->isVisible() || !(c->focusPolicy() & Qt::TabFocus))
                continue;
            if (qobject_cast<QComboBox*>(c->parent())) continue;  // a combo box's own editor
            visited.emplace_back(c->mapTo(&w, QPoint(0, 0)), c->objectName());
        }
        QVERIFY2(!visited.empty(), qPrintable(QString::number(page)));
        for (std::size_t i = 1; i < visited.size(); ++i) {
            const auto& [before, a] = visited[i - 1];
            const auto& [after, b] = visited[i];
            // Lower on the page, or on the same line further right.
            const bool inOrder = after.y() > before.y() + 2 ||
                                 (std::abs(after.y() - before.y()) <= 2 && after.x() > before.x());
            QVERIFY2(inOrder, qPrintable(QString("page %1: %2 before %3").arg(page).arg(a, b)));
        }
    }
}

void WizardTest::outputFileDefaultsToTheDocumentsFolder() {
    tallix::testing::IsolatedEnvironment env;
    ResetSettings();
    // The desktop's own setting of the documents folder is followed.
    const std::string docs = env.ProgramDir() + "/My Papers";
    fs::create_directories(docs);
    WriteFileBytes(env.ConfigDir() + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + docs + "\"\n");
    FrmWizard w;
    QCOMPARE(w.txtOutputFile->text(), QString::fromStdString(docs + "/mylist.csv"));
}

// The first output file offered lies in the documents folder, which a new account may not
// have: the field warns as soon as it shows such a path, and Finish asks to make the folder
// instead of writing a template whose every run fails to open its file.
void WizardTest::missingOutputFolderIsWarnedAndCaughtBeforeFinish() {
    Manager m;
    const std::string docs = m.env.ProgramDir() + "/Documents";
    const std::string output = docs + "/mylist.csv";
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Orders");
        w.txtOutputFile->setText(QString::fromStdString(output));
        QLabel* warning = w.outputFileCheck->WarningLabel();
        QVERIFY(!warning->isHidden());
        const QString said = QString::fromStdString("The folder " + docs + " does not exist.");
        QCOMPARE(warning->text(), said);
        QCOMPARE(w.txtOutputFile->accessibleDescription(), said);  // said with the field
        QVERIFY(!w.outputFileCheck->CreateButton()->isHidden());

        // No: the wizard stays, on the output page, and nothing is written.
        m.ui.QueueAnswer(MsgAnswer::No);
        Finish(w);
        QVERIFY(!WizardCompleted());
        QCOMPARE(w.CurrentPage(), 2);
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, "Unable to create or use the file: " + output + "\n" +
                                         said.toStdString() + "\nCreate the folder now?");
        QVERIFY(!fs::exists(docs));

        // A file that is a folder cannot be mended by making one: said, and refused.
        fs::create_directories(m.env.ProgramDir() + "/taken.csv");
        w.txtOutputFile->setText(QString::fromStdString(m.env.ProgramDir() + "/taken.csv"));
        QCOMPARE(warning->text(), QString("This is a folder, not a file."));
        QVERIFY(w.outputFileCheck->CreateButton()->isHidden());
        Finish(w);
        QVERIFY(!WizardCompleted());
        QCOMPARE(m.ui.boxes.size(), std::size_t(2));

        // The button beside the field makes the folder; Finish then goes through.
        w.txtOutputFile->setText(QString::fromStdString(output));
        w.outputFileCheck->CreateButton()->click();
        QVERIFY(fs::is_directory(docs));
        QVERIFY(warning->isHidden());
        QCOMPARE(w.txtOutputFile->accessibleDescription(), QString());
        Finish(w);
        QVERIFY(WizardCompleted());
    };
    DoWizard();
    QCOMPARE(m.Written("Orders")["Output/File"], output);

    // Yes at Finish makes the folder there and then.
    const std::string other = m.env.ProgramDir() + "/Papers/list.csv";
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Second");
        w.txtOutputFile->setText(QString::fromStdString(other));
        m.ui.QueueAnswer(MsgAnswer::Yes);
        Finish(w);
        QVERIFY(WizardCompleted());
    };
    DoWizard();
    QVERIFY(fs::is_directory(m.env.ProgramDir() + "/Papers"));
    QCOMPARE(m.Written("Second")["Output/File"], other);
}

void WizardTest::browseChecksTheChosenOutputFile() {
    Manager m;
    QString offered;
    QString answer;
    SetOutputFileChooser([&](const QString& current) {
        offered = current;
        return answer;
    });
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Browsed");
        w.txtOutputFile->setText("/start/here.txt");
        answer = QString();  // cancelled: nothing changes
        w.cmdOutputFile->click();
        QCOMPARE(offered, QString("/start/here.txt"));
        QCOMPARE(w.txtOutputFile->text(), QString("/start/here.txt"));
        answer = QString::fromStdString(m.env.ProgramDir() + "/no such dir/out.txt");
        w.cmdOutputFile->click();
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QCOMPARE(m.ui.boxes[0].text, "Unable to create or use the file: " + m.env.ProgramDir() +
                                         "/no such dir/out.txt");
        answer = QString::fromStdString(m.env.ProgramDir() + "/chosen.csv");
        w.cmdOutputFile->click();
        QCOMPARE(m.ui.boxes.size(), std::size_t(1));
        QVERIFY(fs::exists(m.env.ProgramDir() + "/chosen.csv"));
        Finish(w);
    };
    DoWizard();
    QCOMPARE(m.Written("Browsed")["Output/File"], m.env.ProgramDir() + "/chosen.csv");
}

void WizardTest::loadFillsTheTextFromAMessageOrMailbox() {
    Manager m;
    const std::string eml = m.env.ProgramDir() + "/order.eml";
    WriteFileBytes(eml,
                   "From: Shop <shop@example.com>\r\nTo: ann@example.org\r\nSubject: Order\r\n"
                   "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                   "Customer: Ren=E9e\r\nProduct: Very long product name that is folded onto=\r\n"
                   " two lines\r\n");
    const std::string mbox = m.env.ProgramDir() + "/Inbox";
    WriteFileBytes(mbox,
                   "From - Mon Mar  2 09:00:00 2026\nFrom: a@example.org\nSubject: First\n\n"
                   "Order Number: 1\n\nFrom - Mon Mar  2 10:00:00 2026\nFrom: b@example.org\n"
                   "Subject: Second\n\nOrder Number: 2\n");
    QString path;
    FrmWizard::SetMessageFileChooser([&] { return path; });
    m.fill = [&](FrmWizard& w) {
        FormattedText(w, "Loaded", "unchanged", ":");
        path = QString();  // cancelled
        w.cmdLoadMessage->click();
        QCOMPARE(w.txtMsgText->toPlainText(), QString("unchanged"));
        path = QString::fromStdString(eml);
        w.cmdLoadMessage->click();
        QCOMPARE(w.txtMsgText->toPlainText(),
                 QString::fromUtf8("Customer: Renée\nProduct: Very long product name that is "
                                   "folded onto two lines\n"));
        // A file dropped on the box, or anywhere on its page, is loaded the same way, and its
        // text is what the variables are made from.
        w.ShowPage(4);
        w.optNoCreate->setChecked(true);
        w.txtMsgText->setPlainText("unchanged");
        QVERIFY(DropFile(w.txtMsgText->viewport(), mbox));
        QVERIFY(w.optCreate->isChecked());
        QCOMPARE(w.txtMsgText->toPlainText().trimmed(), QString("Order Number: 1"));
        // Two files, or one that is not on this machine, are not taken.
        w.txtMsgText->setPlainText("unchanged");
        QVERIFY(!DropUrls(w.WizFrame->currentWidget(),
                          {QUrl::fromLocalFile(QString::fromStdString(eml)),
                           QUrl::fromLocalFile(QString::fromStdString(mbox))}));
        QVERIFY(!DropUrls(w.txtMsgText->viewport(), {QUrl("https://example.com/order.eml")}));
        QCOMPARE(w.txtMsgText->toPlainText(), QString("unchanged"));
        QVERIFY(DropFile(w.WizFrame->currentWidget(), mbox));
        QCOMPARE(w.txtMsgText->toPlainText().trimmed(), QString("Order Number: 1"));
        Finish(w);
    };
    DoWizard();
    QVERIFY2(m.ui.boxes.empty(), m.ui.boxes.empty() ? "" : m.ui.boxes[0].text.c_str());
    QCOMPARE(m.Written("Loaded")["Variables/Var1"],
             std::string("OrderNumber;MSG_TEXT;Order Number:;{End of Line};0;0;0;0;0"));
}

void WizardTest::loadRefusesFilesWithoutAMessage() {
    Manager m;
    const std::string binary = m.env.ProgramDir() + "/picture.png";
    WriteFileBytes(binary, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    const std::string noText = m.env.ProgramDir() + "/empty.eml";
    WriteFileBytes(noText, "From: a@example.org\r\nSubject: nothing\r\n\r\n \r\n");
    const std::string missing = m.env.ProgramDir() + "/gone.eml";
    const std::string directory = m.env.ProgramDir();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {binary, "The file does not hold a mail message: " + binary},
        {noText, "The message has no text: " + noText},
        {missing, "Unable to read the message file: " + missing + "\nFile not found"},
        {directory, "Unable to read the message file: " + directory},
    };
    QString path;
    FrmWizard::SetMessageFileChooser([&] { return path; });
    m.fill = [&](FrmWizard& w) {
        w.optCreate->setChecked(true);
        w.txtMsgText->setPlainText("mine");
        for (const auto& [file, text] : cases) {
            m.ui.boxes.clear();
            path = QString::fromStdString(file);
            w.cmdLoadMessage->click();
            QCOMPARE(m.ui.boxes.size(), std::size_t(1));
            QVERIFY2(m.ui.boxes[0].text.rfind(text, 0) == 0, m.ui.boxes[0].text.c_str());
            QCOMPARE(m.ui.boxes[0].title, std::string("Error"));
            QCOMPARE(w.txtMsgText->toPlainText(), QString("mine"));
        }
        w.cmdCancel->click();
    };
    DoWizard();
    // Each one is in the error log as well.
    const std::string log = m.env.ReadProgramFile("txError.Log");
    for (const auto& [file, text] : cases)
        QVERIFY2(log.find(file) != std::string::npos, file.c_str());
}

void WizardTest::loadReadsAtMostTheLimit() {
    tallix::testing::IsolatedEnvironment env;
    const std::string path = env.ProgramDir() + "/huge.eml";
    const std::string line(79, 'x');
    std::string bytes = "From: a@example.org\r\nSubject: big\r\n\r\nFirst: 1\r\n";
    while (bytes.size() < kMaxWizardMessageBytes + (1 << 20)) bytes += line + "\r\n";
    WriteFileBytes(path, bytes + "Last: 2\r\n");
    const MessageFileText loaded = ReadMessageFileText(path);
    QVERIFY(loaded.ok);
    QVERIFY(loaded.text.rfind("First: 1\n", 0) == 0);
    QVERIFY(loaded.text.size() <= kMaxWizardMessageBytes);
    QVERIFY(loaded.text.find("Last: 2") == std::string::npos);
}

void WizardTest::menuCommandOpensTheWizard() {
    Manager m;
    QVERIFY(m.form->mnuFileWizard->isEnabled());
    QCOMPARE(m.form->mnuFileWizard->text(), QString("New Template &Wizard..."));
    m.fill = [&](FrmWizard& w) {
        QCOMPARE(w.parentWidget(), static_cast<QWidget*>(m.form.get()));
        QVERIFY(w.isModal());
        w.txtTemplateName->setText("From The Menu");
        Finish(w);
    };
    m.form->mnuFileWizard->trigger();
    QCOMPARE(m.wizardsShown, 1);
    QVERIFY(fs::exists(m.TemplatePath("From The Menu")));
    QCOMPARE(FrmMain::RowText(m.form->SelectedItem()), std::string("From The Menu"));
}

void WizardTest::wizardTemplateRunByTheEngineGivesTheOrderLine() {
    Manager m;
    // A web-shop order mail, and a message that merely talks about orders.
    m.PrepareMailboxRun(
        "From - Mon Mar  2 09:00:00 2026\nFrom: Web Shop <orders@shop.example>\n"
        "To: Sales <sales@example.com>\nSubject: New order 1042\n"
        "Date: Mon, 02 Mar 2026 09:00:00 +0100\n\n"
        "A new order came in through the web site.\n\n"
        "Order Number: 1042\nCustomer Name: Ann Smith\nEmail: ann@example.org\n"
        "Quantity: 3\nProduct: Blue Widget\n\n"
        "From - Mon Mar  2 10:00:00 2026\nFrom: Bob <bob@example.net>\n"
        "To: Sales <sales@example.com>\nSubject: Question\n"
        "Date: Mon, 02 Mar 2026 10:00:00 +0100\n\nOrder Number: 7 was late.\n\n");
    const std::string output = m.env.ProgramDir() + "/orders.csv";

    // The form pasted from an earlier order mail.
    m.fill = [&](FrmWizard& w) {
        FormattedText(w, "Web Orders",
                      "Order Number: 1001\nCustomer Name: Bob Jones\nEmail: bob@example.net\n"
                      "Quantity: 1\nProduct: Red Widget\n",
                      ":");
        w.optFilter->setChecked(true);
        w.txtFilterString->setText("new order");
        w.cboMsgField->setCurrentText("MSG_SUBJECT");
        w.txtOutputFile->setText(QString::fromStdString(output));
        w.chkSendAddr->setChecked(true);
        Finish(w);
    };
    DoWizard();
    QVERIFY(fs::exists(m.TemplatePath("Web Orders")));

    EngineWithoutWindow windowless;
    QProcess engine;
    engine.setProgram(QString(TALLIX_BIN_DIR) + "/txengine");
    engine.setArguments({"/sx"});
    engine.setWorkingDirectory(QString::fromStdString(m.env.ProgramDir()));
    engine.start();
    QVERIFY(engine.waitForFinished(60000));
    QCOMPARE(engine.exitCode(), 0);
    QCOMPARE(ReadFileBytes(output),
             std::string("orders@shop.example,1042,Ann Smith,ann@example.org,3,Blue Widget\r\n"));
}

// A sample message loaded, its values selected one by one: each becomes a variable with a
// start and stop text of its own instead of the "Description: value" lines; a value among
// several "Item:" lines becomes a line item when the user agrees.
void WizardTest::selectedValuesBecomeTheVariables() {
    Manager m;
    const std::string eml = m.env.ProgramDir() + "/order.eml";
    WriteFileBytes(eml,
                   "From: Shop <shop@example.com>\r\nTo: ann@example.org\r\nSubject: Order\r\n"
                   "Content-Type: text/plain; charset=utf-8\r\n\r\n"
                   "Dear Ren\xc3\xa9"
                   "e,\r\n\r\nOrder number: 4701\r\nCustomer: Ren\xc3\xa9"
                   "e Smith\r\n"
                   "Item: Hose\r\nItem: Barrel\r\nTotal: 39.00 EUR\r\n");
    FrmWizard::SetMessageFileChooser([&] { return QString::fromStdString(eml); });
    m.ui.QueueAnswer(MsgAnswer::Yes);  // the "Item:" lines: a line item
    m.fill = [&](FrmWizard& w) {
        w.txtTemplateName->setText("Picked");
        w.show();  // for Ctrl+M
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.ShowPage(4);
        w.optCreate->setChecked(true);
        w.cmdLoadMessage->click();
        auto select = [&w](const QString& value) {
            const int at = w.txtMsgText->toPlainText().indexOf(value);
            QVERIFY2(at >= 0, qPrintable(value));
            QTextCursor c = w.txtMsgText->textCursor();
            c.setPosition(at);
            c.setPosition(at + static_cast<int>(value.size()), QTextCursor::KeepAnchor);
            w.txtMsgText->setTextCursor(c);
        };
        w.cmdPickValue->click();  // nothing selected
        QVERIFY(w.lblPickNote->isVisibleTo(&w));
        QCOMPARE(w.lstPicked->count(), 0);
        select("4701");
        w.txtMsgText->setFocus();
        QTest::keyClick(w.txtMsgText, Qt::Key_M, Qt::ControlModifier);
        QVERIFY(!w.lblPickNote->isVisibleTo(&w));
        select(
            QString::fromUtf8("Ren\xc3\xa9"
                              "e Smith"));
        w.cmdPickValue->click();
        select("Ren");  // in "Dear Renée,": made, then removed again
        w.cmdPickValue->click();
        QCOMPARE(w.lstPicked->count(), 3);
        w.lstPicked->setCurrentRow(2);
        w.cmdRemovePicked->click();
        select("39.00");
        w.cmdPickValue->click();
        select("Barrel");
        w.cmdPickValue->click();
        QCOMPARE(w.lstPicked->count(), 4);
        QVERIFY2(w.lstPicked->item(1)->text().startsWith("Customer: after \"Customer:\""),
                 qPrintable(w.lstPicked->item(1)->text()));
        w.chkMatchCase->setChecked(true);
        Finish(w);
    };
    DoWizard();
    QCOMPARE(m.ui.boxes.size(), std::size_t(1));
    QCOMPARE(m.ui.boxes[0].text,
             std::string("2 lines of this message begin with \"Item:\": make the "
                         "variable a line item (one output line for each of "
                         "them)?"));
    auto written = m.Written("Picked");
    QCOMPARE(written["General/Num_Variables"], std::string("4"));
    QCOMPARE(written["Variables/Var1"],
             std::string("OrderNumber;MSG_TEXT;Order number:;{End of Line};0;0;1;0;0"));
    QCOMPARE(written["Variables/Var2"],
             std::string("Customer;MSG_TEXT;Customer:;{End of Line};0;0;1;0;0"));
    QCOMPARE(written["Variables/Var3"], std::string("Total;MSG_TEXT;Total:;EUR;0;0;1;0;0"));
    QCOMPARE(written["Variables/Var4"], std::string("Item;MSG_TEXT;Item:;{End of Line};0;0;1;0;0"));
    QCOMPARE(written["Output/Output1"], std::string("OrderNumber,Customer,Total,Item"));
    QCOMPARE(written["Repeat/Items"], std::string("Item"));
}

QTEST_MAIN(WizardTest)
#include "wizard_qttest.moc"
