// Keyboard and screen-reader access through every window of the manager: the main window, the
// options dialog, the template editor with each tab, the wizard with each page, the help
// window and the log viewer. Each input control must have a name a screen reader can say, and
// no two controls shown together on one page may answer the same Alt key (Qt then only moves
// the focus between them, and neither is pressed).
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <map>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/manager_windows.h"
#include "manager/options_dialog.h"
#include "manager/options_procs.h"
#include "manager/template_choices.h"
#include "manager/template_edit.h"
#include "manager/template_test_bench.h"
#include "manager/template_wizard.h"
#include "manager/wizard_procs.h"
#include "model/field_vocabulary.h"
#include "settings/settings_store.h"
#include "tests/manager/manager_fixture.h"
#include "tests/support/test_env.h"

using namespace tallix;
using namespace tallix::manager;
namespace fs = std::filesystem;
using tallix::testing::WriteFileBytes;

namespace {

// The controls a user moves to and types into or presses; the editor inside a combo or a
// spin box is spoken as part of it, and a header is no stop of the focus.
bool IsInputControl(const QWidget* w) {
    if (w->focusPolicy() == Qt::NoFocus || qobject_cast<const QHeaderView*>(w)) return false;
    if (qobject_cast<const QLineEdit*>(w))
        return !qobject_cast<const QComboBox*>(w->parentWidget()) &&
               !qobject_cast<const QAbstractSpinBox*>(w->parentWidget());
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w);
}

// A text a screen reader can say: the mnemonic marks gone, at least one letter or digit
// (a button captioned ">>" says nothing).
QString Sayable(const QString& caption) {
    QString text = caption;
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    text = text.trimmed();
    for (const QChar c : text)
        if (c.isLetterOrNumber()) return text;
    return {};
}

// The name a screen reader gives `w`: its accessible name, else the text of a label that
// names it as its buddy (the accessibility bridge looks for such a label only among the
// control's siblings), else its own caption.
QString SpokenName(const QWidget* w) {
    if (!Sayable(w->accessibleName()).isEmpty()) return w->accessibleName();
    if (const QWidget* parent = w->parentWidget())
        for (const QLabel* l : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            if (l->buddy() == w && !Sayable(l->text()).isEmpty()) return Sayable(l->text());
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return Sayable(b->text());
    return {};
}

QString Describe(const QWidget* w) {
    if (!w->objectName().isEmpty()) return w->objectName();
    const QWidget* parent = w->parentWidget();
    return QString("%1 in %2")
        .arg(w->metaObject()->className(), parent ? parent->objectName() : QString());
}

// Hidden by the window for the state it is in (a button shown only with a warning), not
// merely on a page or tab not shown now.
bool HiddenItself(const QWidget* w) {
    return w->isHidden() && w->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

// The input controls of `window` (on every page, shown or not) without a spoken name.
QStringList Unnamed(QWidget* window) {
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window && IsInputControl(w) && !HiddenItself(w) &&
            SpokenName(w).isEmpty())
            out << Describe(w);
    return out;
}

// The Alt keys of what `window` shows now, each with the captions that answer it: buttons,
// labels that lead to an enabled buddy, group boxes, every enabled tab of a tab bar, the
// menu bar's menus.
std::map<QString, QStringList> MnemonicsShown(QWidget* window) {
    std::map<QString, QStringList> keys;
    auto add = [&](const QString& caption, const QString& owner) {
        const QKeySequence key = QKeySequence::mnemonic(caption);
        if (!key.isEmpty()) keys[key.toString()] << QString("%1 \"%2\"").arg(owner, caption);
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisible() || !w->isEnabled()) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            add(b->text(), Describe(b));
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            if (l->buddy() && l->buddy()->isEnabled())
                add(l->text(), "label of " + Describe(l->buddy()));
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            add(g->title(), Describe(g));
        } else if (auto* bar = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < bar->count(); ++i)
                if (bar->isTabEnabled(i) && bar->isTabVisible(i)) add(bar->tabText(i), "tab");
        } else if (auto* menus = qobject_cast<QMenuBar*>(w)) {
            for (QAction* a : menus->actions())
                if (a->isVisible() && a->isEnabled()) add(a->text(), "menu");
        }
    }
    return keys;
}

QStringList Clashes(QWidget* window) {
    QStringList out;
    for (const auto& [key, owners] : MnemonicsShown(window))
        if (owners.size() > 1) out << key + ": " + owners.join(", ");
    return out;
}

// One manager whose every window the walk opens, each in the state that enables the most
// controls: scripts on (the editor's Scripting tab), a template with a variable, output
// and script folders that do not exist yet (their "Create Folder" buttons shown).
struct Walk : tallix::testing::ManagerFixture {
    // Called for each window once, and for each page of it with that page shown.
    std::function<void(const QString& window, QWidget*)> window;
    std::function<void(const QString& page, QWidget*)> page;

    Walk() {
        Settings().useSource = "NETSCAPE";
        Settings().useScripts = true;
        Settings().scriptDir = env.ProgramDir() + "/scripts";
        Settings().scriptEngine = "JScript";
        fs::create_directories(Settings().scriptDir);
        WriteFileBytes(Settings().scriptDir + "/a.js", "function Main() {}\n");
        WriteFileBytes(TemplatePath("Orders"),
                       "[General]\r\nActive=True\r\nNum_Variables=1\r\n[Filter]\r\nCommand="
                       "<NONE>\r\n[Variables]\r\nVar1=Code;MSG_TEXT;Code:;{End of Line};0;0;1;0;"
                       "0\r\n[Output]\r\nFile=" +
                           env.ProgramDir() +
                           "/missing/out.csv\r\nDelimiter=COMMA\r\n"
                           "Output_Count=1\r\nOutput1=Code\r\n[Scripts]\r\nrun=\r\n");
        GetTempFiles();
    }
    ~Walk() {
        SetEditorRunner({});
        SetWizardRunner({});
    }

    void Run() {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        window("main window", form.get());
        page("main window", form.get());
        Options();
        Editor();
        Wizard();
        Help();
        LogViewer();
    }

    void Options() {
        std::unique_ptr<FrmOptions> f(LoadOptions(form.get()));
        QVERIFY(f);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.get()));
        window("options dialog", f.get());
        f->optProtoImap->click();  // IMAP enables the folders and the connection test
        if (!f->chkDelMessages->isChecked()) f->chkDelMessages->click();
        if (!f->chkUseScripting->isChecked()) f->chkUseScripting->click();
        f->txtScriptDir->setText(QString::fromStdString(env.ProgramDir() + "/none/scripts"));
        QVERIFY(f->cmdApply->isEnabled());
        for (int tab = 0; tab < f->tbsOptions->count(); ++tab) {
            f->tbsOptions->setTabEnabled(tab, true);
            f->tbsOptions->setCurrentIndex(tab);
            QApplication::processEvents();
            page("options dialog, tab " + f->tbsOptions->tabText(tab), f.get());
        }
        f->reject();
    }

    void Editor() {
        bool opened = false;
        SetEditorRunner([&](FrmTemplateEdit& d) {
            opened = true;
            d.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            window("template editor", &d);
            d.lstVars->setCurrentRow(0);
            d.chkActive->click();  // an edit: Apply enabled
            QVERIFY(d.cmdApply->isEnabled());
            // The bench's own buttons as while a trial runs.
            auto* bench = d.findChild<TemplateTestBench*>();
            QVERIFY(bench);
            bench->cmdCancel->setEnabled(true);
            for (int tab = 0; tab < d.tabMain->count(); ++tab) {
                QVERIFY2(d.tabMain->isTabEnabled(tab), qPrintable(d.tabMain->tabText(tab)));
                d.tabMain->setCurrentIndex(tab);
                QApplication::processEvents();
                page("template editor, tab " + d.tabMain->tabText(tab), &d);
            }
            d.reject();
        });
        Select("Orders");
        form->mnuEditModify->trigger();
        QVERIFY(opened);
    }

    void Wizard() {
        FrmWizard w(form.get());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        window("wizard", &w);
        w.optFilter->setChecked(true);
        w.optCreate->setChecked(true);
        SetComboIndex(w.cboMsgField, std::string(kHeaderChoice));
        w.txtOutputFile->setText(QString::fromStdString(env.ProgramDir() + "/none/out.csv"));
        for (int p = 0; p < kWizardPageCount; ++p) {
            w.ShowPage(p);
            QApplication::processEvents();
            page(QString("wizard, page %1 (%2)").arg(p + 1).arg(w.windowTitle()), &w);
        }
        w.reject();
    }

    void Help() {
        fs::copy(TALLIX_HELP_SOURCE, env.ProgramDir() + "/help");
        ShowHelpContents();
        FrmHelp* help = HelpWindow();
        QVERIFY(help);
        QVERIFY(QTest::qWaitForWindowExposed(help));
        window("help window", help);
        for (int tab = 0; tab < help->tabs->count(); ++tab) {
            help->tabs->setCurrentIndex(tab);
            QApplication::processEvents();
            page("help window, tab " + help->tabs->tabText(tab), help);
        }
        help->close();
    }

    void LogViewer() {
        const std::string log = env.ProgramDir() + "/txSystem.Log";
        WriteFileBytes(log, "3/2/2026 9:00:00 AM first\r\n");
        FrmLogViewer* viewer = ShowLogViewer(QString::fromStdString(log), "System Log");
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        window("log viewer", viewer);
        page("log viewer", viewer);
        viewer->close();
    }
};

}  // namespace

class KeyboardAccessTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void everyInputControlHasASpokenName();
    void noTwoControlsOnAPageShareAnAltKey();
};

void KeyboardAccessTest::everyInputControlHasASpokenName() {
    Walk walk;
    QStringList windows;
    QStringList faults;
    walk.window = [&](const QString& name, QWidget* w) {
        windows << name;
        const QStringList unnamed = Unnamed(w);
        if (!unnamed.isEmpty()) faults << name + ": " + unnamed.join(", ");
    };
    walk.page = [](const QString&, QWidget*) {};
    walk.Run();
    QCOMPARE(windows, QStringList({"main window", "options dialog", "template editor", "wizard",
                                   "help window", "log viewer"}));
    QVERIFY2(faults.isEmpty(), qPrintable("\n" + faults.join("\n")));
}

void KeyboardAccessTest::noTwoControlsOnAPageShareAnAltKey() {
    Walk walk;
    QStringList pages;
    QStringList faults;
    walk.window = [](const QString&, QWidget*) {};
    walk.page = [&](const QString& name, QWidget* w) {
        pages << name;
        const QStringList clashes = Clashes(w);
        if (!clashes.isEmpty()) faults << name + ": " + clashes.join("; ");
    };
    walk.Run();
    // Every tab and page was walked.
    QCOMPARE(pages.filter("options dialog, tab").size(), 4);
    QCOMPARE(pages.filter("template editor, tab").size(), 5);
    QCOMPARE(pages.filter("wizard, page").size(), kWizardPageCount);
    QCOMPARE(pages.filter("help window, tab").size(), 2);
    QVERIFY2(faults.isEmpty(), qPrintable("\n" + faults.join("\n")));
}

QTEST_MAIN(KeyboardAccessTest)
#include "keyboard_access_qttest.moc"
