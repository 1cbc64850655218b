// Making a variable by selecting its value on the template editor's Test tab, through the real
// dialog opened by the main window's Edit command: what the variable list and the output line
// get, what the bench then counts and marks, the refinement by a second example, the keyboard
// path, and the template file written on OK.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <optional>

#include "manager/client_procs.h"
#include "manager/template_edit.h"
#include "manager/template_test_bench.h"
#include "model/profile_file.h"
#include "model/template.h"
#include "tests/manager/manager_fixture.h"
#include "tests/support/test_env.h"

using namespace tallix;
using namespace tallix::manager;
namespace fs = std::filesystem;
using tallix::testing::ReadFileBytes;
using tallix::testing::Texts;
using tallix::testing::WriteFileBytes;

namespace {

constexpr int kTestTab = 4;

// Two variables, Code and Name, for the messages whose subject holds "Order".
std::string OrdersTemplate(const std::string& outputFile) {
    return "[General]\r\nActive=True\r\nNum_Variables=2\r\nLast_Ran=Never\r\n"
           "[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=Order\r\n"
           "[Variables]\r\nVar1=Code;MSG_TEXT;Code:;{End of Line};0;0;1;0;0\r\n"
           "Var2=Name;SENDER_NAME;{Beginning of Field};{End of Field};0;0;0;0;0\r\n"
           "[Output]\r\nAllowDuplicate=False\r\nFile=" +
           outputFile +
           "\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=Code,Name\r\n"
           "[Scripts]\r\nrun=\r\n";
}

// A mailbox message from `sender` with `subject` and `body` (LF line ends).
std::string Message(const std::string& sender, const std::string& subject,
                    const std::string& body) {
    return "From - Mon Mar  2 09:00:00 2026\nFrom: " + sender + "\nTo: Shop <shop@example.com>\n" +
           "Subject: " + subject + "\nDate: Mon, 02 Mar 2026 09:00:00 +0100\n\n" + body + "\n\n";
}

std::optional<std::string> StoredKey(const std::string& path, std::string_view section,
                                     std::string_view key) {
    return profile::ProfileDocument::Load(path).Find(section, key);
}

// Selects the `occurrence`-th `text` shown in the part of the message view that shows `field`.
void SelectShown(TemplateTestBench& bench, const QString& text, std::string_view field = "MSG_TEXT",
                 int occurrence = 1) {
    for (const ShownPart& part : bench.Parts()) {
        if (part.field != field) continue;
        const QString shown = bench.txtBody->toPlainText();
        int at = part.displayStart - 1;
        for (int i = 0; i < occurrence; ++i) at = shown.indexOf(text, at + 1);
        QVERIFY2(at >= part.displayStart && at < part.displayStart + part.displayLength,
                 qPrintable(text));
        QTextCursor c = bench.txtBody->textCursor();
        c.setPosition(at);
        c.setPosition(at + static_cast<int>(text.size()), QTextCursor::KeepAnchor);
        bench.txtBody->setTextCursor(c);
        return;
    }
    QFAIL(qPrintable("no part " + QString::fromUtf8(field.data(), qsizetype(field.size()))));
}

// The value variable `name` gave in each message of the bench's last trial ("-" where the
// filter did not let the message through).
QStringList ValuesOf(const TemplateTestBench& bench, const std::string& name) {
    QStringList values;
    for (const auto& m : bench.Messages()) {
        QString value = "-";
        for (const auto& v : m.variables)
            if (v.name == name) value = QString::fromStdString(v.value);
        values << value;
    }
    return values;
}

// The Check column of the message list, row by row.
QStringList Checks(const TemplateTestBench& bench) {
    QStringList checks;
    for (int r = 0; r < bench.tblMessages->rowCount(); ++r)
        checks << bench.tblMessages->item(r, 3)->text();
    return checks;
}

struct Editing : tallix::testing::ManagerFixture {
    std::string mailbox;

    Editing() {
        Settings().useSource = "NETSCAPE";
        WriteFileBytes(TemplatePath("Orders"), OrdersTemplate(OutPath()));
        mailbox = env.ProgramDir() + "/inbox.mbox";
    }
    ~Editing() { SetEditorRunner({}); }
    std::string OutPath() const { return env.ProgramDir() + "/out.csv"; }
    std::string Stored(std::string_view key) const {
        return StoredKey(TemplatePath("Orders"), "Variables", key).value_or("<none>");
    }
    std::string OutputLine() const {
        return StoredKey(TemplatePath("Orders"), "Output", "Output1").value_or("<none>");
    }

    // Opens the editor on Orders, shows its Test tab over the mailbox, selects message `row`
    // once the trial is done and runs `body`; then OK saves the template.
    bool Edit(int row, const std::function<void(FrmTemplateEdit&, TemplateTestBench&)>& body) {
        bool opened = false;
        SetEditorRunner([&](FrmTemplateEdit& d) {
            opened = true;
            d.show();
            if (!QTest::qWaitForWindowActive(&d)) qWarning("editor window not active");
            auto* bench = qobject_cast<TemplateTestBench*>(d.tabMain->widget(kTestTab));
            QVERIFY(bench);
            d.tabMain->setCurrentIndex(kTestTab);
            QSignalSpy finished(bench, &TemplateTestBench::TrialFinished);
            bench->SetMessageFile(QString::fromStdString(mailbox));
            QVERIFY(WaitFinished(finished));
            bench->tblMessages->selectRow(row);
            body(d, *bench);
            if (QTest::currentTestFailed()) return;
            QTest::mouseClick(d.cmdOK, Qt::LeftButton);
            QVERIFY(!d.isVisible());
        });
        GetTempFiles();
        Select("Orders");
        form->mnuEditModify->trigger();
        SetEditorRunner({});
        return opened;
    }
    static bool WaitFinished(QSignalSpy& spy, int count = 1) {
        for (int i = 0; i < 300 && spy.count() < count; ++i) spy.wait(100);
        return spy.count() >= count;
    }
};

// Waits for the trial the gesture started, then for the bench to say how the variable fared.
bool WaitForCount(TemplateTestBench& bench) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && !bench.lblPick->text().contains("found in")) QTest::qWait(50);
    return bench.lblPick->text().contains("found in");
}

}  // namespace

class PickVariableTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void orderNumberFromItsValue();
    void secondExampleDecidesTheStop_data();
    void secondExampleDecidesTheStop();
    void refineNarrowsALabelThatDiffersBetweenSenders();
    void keyboardMakesTheVariable();
    void everyPartOfTheMessageCanBeSelected();
    void repeatedBlockBecomesALineItem();
};

// "4701" after "Order number: " in an order mail of the example mailbox: the variable gets
// the label as its start, the line end as its stop, a name from the label and the end of the
// output line, and the bench finds a value in every order mail.
void PickVariableTest::orderNumberFromItsValue() {
    Editing e;
    fs::copy_file(
        std::string(qgetenv("TALLIX_TEST_DATA").constData()) + "/../../examples/sample-inbox.mbox",
        e.mailbox);
    QVERIFY(e.Edit(2, [&](FrmTemplateEdit& d, TemplateTestBench& bench) {
        QCOMPARE(bench.Messages().at(2).subject, std::string("Order confirmation 4701"));
        SelectShown(bench, "4701");
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        QCOMPARE(Texts(d.lstVars), QStringList({"Code", "Name", "OrderNumber"}));
        QCOMPARE(Texts(d.lstVarIncluded), QStringList({"Code", "Name", "OrderNumber"}));
        QVERIFY(d.Changed());
        QCOMPARE(d.tabMain->currentIndex(), kTestTab);
        QVERIFY(WaitForCount(bench));
        QVERIFY2(bench.lblPick->text().endsWith("It was found in 10 of 10 matching messages."),
                 qPrintable(bench.lblPick->text()));
        QStringList orders;
        for (const auto& m : bench.Messages()) {
            if (!m.matched) continue;
            QVERIFY(QString::fromStdString(m.subject).startsWith("Order confirmation "));
            orders << QString::fromStdString(m.subject).mid(19);
        }
        QCOMPARE(orders.size(), 10);
        QStringList found = ValuesOf(bench, "OrderNumber");
        found.removeAll("-");
        QCOMPARE(found, orders);
        QCOMPARE(Checks(bench).join(""), QString());  // nothing marked
        QCOMPARE(bench.tblCounts->item(2, 0)->text(), QString("OrderNumber"));
        QCOMPARE(bench.tblCounts->item(2, 1)->text(), QString("10 of 10"));
        QCOMPARE(bench.tblCounts->item(2, 2)->text(), QString("0"));
        // The value is marked in the body as the run cut it.
        bool marked = false;
        for (const auto& mark : bench.txtBody->extraSelections())
            marked |= mark.cursor.selectedText() == " 4701";
        QVERIFY(marked);
    }));
    QCOMPARE(e.Stored("Var3"),
             std::string("OrderNumber;MSG_TEXT;Order number:;{End of Line};0;0;0;0;0"));
    QCOMPARE(e.OutputLine(), std::string("Code,Name,OrderNumber"));
    QVERIFY(e.ui.boxes.empty());
}

void PickVariableTest::secondExampleDecidesTheStop_data() {
    QTest::addColumn<QString>("second");  // the total line of the second order
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("count");
    QTest::newRow("the unit follows again") << "Total: 12.50 EUR"
                                            << "EUR"
                                            << "found in 2 of 3";
    QTest::newRow("the value ends the line") << "Total: 12.50"
                                             << "{End of Line}"
                                             << "found in 3 of 3";
}

// "39.00" in "Total: 39.00 EUR" stops at "EUR"; a second example keeps "EUR" when it has it
// too and takes the line end when its value ends the line.
void PickVariableTest::secondExampleDecidesTheStop() {
    QFETCH(QString, second);
    QFETCH(QString, stop);
    QFETCH(QString, count);
    Editing e;
    WriteFileBytes(e.mailbox,
                   Message("Shop <a@shop.example>", "Order 1", "Total: 39.00 EUR\nThanks") +
                       Message("Shop <a@shop.example>", "Order 2",
                               second.toStdString() + "\nThanks, prices in EUR") +
                       Message("Shop <a@shop.example>", "Order 3", "Total: 7.00\nThanks"));
    QVERIFY(e.Edit(0, [&](FrmTemplateEdit&, TemplateTestBench& bench) {
        SelectShown(bench, "39.00");
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        QVERIFY(WaitForCount(bench));
        QVERIFY2(bench.lblPick->text().contains("up to EUR"), qPrintable(bench.lblPick->text()));
        QCOMPARE(ValuesOf(bench, "Total").at(0), QString("39.00"));
        QVERIFY(bench.cmdRefine->isEnabled());
        bench.tblMessages->selectRow(1);
        SelectShown(bench, "12.50");
        QTest::mouseClick(bench.cmdRefine, Qt::LeftButton);
        QVERIFY(WaitForCount(bench));
        QVERIFY2(bench.lblPick->text().startsWith("Refined with message 2."),
                 qPrintable(bench.lblPick->text()));
        QVERIFY2(bench.lblPick->text().contains(count), qPrintable(bench.lblPick->text()));
        QCOMPARE(ValuesOf(bench, "Total").at(1), QString("12.50"));
    }));
    QCOMPARE(e.Stored("Var3"), "Total;MSG_TEXT;Total:;" + stop.toStdString() + ";0;0;0;0;0");
}

// One shop writes "Your order number:", the other "Order number:". Made from the first, the
// variable misses the other's mails, which the list marks; refined with one of them it takes
// the label both have in common and finds every number.
void PickVariableTest::refineNarrowsALabelThatDiffersBetweenSenders() {
    Editing e;
    WriteFileBytes(e.mailbox,
                   Message("Shop A <a@a.example>", "Order 1", "Hello,\nYour order number: 5120\n") +
                       Message("Shop B <b@b.example>", "Order 2", "Order number: 4701\nThanks") +
                       Message("Shop A <a@a.example>", "Order 3", "Your order number: 5121") +
                       Message("Shop B <b@b.example>", "Order 4", "Order number: 4702\nThanks"));
    QVERIFY(e.Edit(0, [&](FrmTemplateEdit& d, TemplateTestBench& bench) {
        SelectShown(bench, "5120");
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        QVERIFY(WaitForCount(bench));
        QVERIFY2(bench.lblPick->text().contains("found in 2 of 4 matching messages; 2 marked"),
                 qPrintable(bench.lblPick->text()));
        QCOMPARE(Checks(bench), QStringList({"", "no YourOrderNumber", "", "no YourOrderNumber"}));
        bench.tblMessages->selectRow(3);
        SelectShown(bench, "4702");
        QTest::mouseClick(bench.cmdRefine, Qt::LeftButton);
        QCOMPARE(Texts(d.lstVars), QStringList({"Code", "Name", "YourOrderNumber"}));
        QVERIFY(WaitForCount(bench));
        QVERIFY2(bench.lblPick->text().contains("found in 4 of 4 matching messages."),
                 qPrintable(bench.lblPick->text()));
        QCOMPARE(ValuesOf(bench, "YourOrderNumber"), QStringList({"5120", "4701", "5121", "4702"}));
        QCOMPARE(Checks(bench), QStringList({"", "", "", ""}));
        // The same message again is no second example.
        SelectShown(bench, "4702");
        QTest::mouseClick(bench.cmdRefine, Qt::LeftButton);
        QCOMPARE(bench.lblPick->text().toStdString(), std::string(kPickOtherMessage));
    }));
    QCOMPARE(e.Stored("Var3"),
             std::string("YourOrderNumber;MSG_TEXT;Order number:;{End of Line};0;0;0;0;0"));
}

// The keyboard alone: Tab reaches the message view, Shift with the arrows selects, Ctrl+M makes
// the variable, Tab goes on to the two buttons; each says what it does.
void PickVariableTest::keyboardMakesTheVariable() {
    Editing e;
    WriteFileBytes(e.mailbox, Message("Shop <a@shop.example>", "Order 1",
                                      "Ref: Q-77\nComment:\nPlease hurry"));
    QVERIFY(e.Edit(0, [&](FrmTemplateEdit& d, TemplateTestBench& bench) {
        bench.txtOutputLine->setFocus(Qt::TabFocusReason);
        QWidget* w = QApplication::focusWidget();
        for (int i = 0; i < 10 && w != bench.txtBody; ++i) {
            QTest::keyClick(w, Qt::Key_Tab);
            w = QApplication::focusWidget();
        }
        QCOMPARE(w, static_cast<QWidget*>(bench.txtBody));
        QTextCursor c = bench.txtBody->textCursor();
        c.setPosition(bench.txtBody->toPlainText().indexOf("Q-77"));
        bench.txtBody->setTextCursor(c);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(bench.txtBody, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(bench.txtBody->textCursor().selectedText(), QString("Q-77"));
        QTest::keyClick(bench.txtBody, Qt::Key_M, Qt::ControlModifier);
        QCOMPARE(Texts(d.lstVars), QStringList({"Code", "Name", "Ref"}));
        QTest::keyClick(bench.txtBody, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(bench.cmdMakeVariable));
        QTest::keyClick(bench.cmdMakeVariable, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(bench.cmdRefine));
        QCOMPARE(bench.cmdMakeVariable->text(), QString("Ma&ke a variable from the selection"));
        QCOMPARE(bench.cmdRefine->text(), QString("Refine &with another example"));
        QVERIFY(WaitForCount(bench));
        SelectShown(bench, "Please hurry");
        // Alt+K from anywhere on the tab presses the button.
        QTest::keyClick(&d, Qt::Key_K, Qt::AltModifier);
        QTRY_COMPARE(Texts(d.lstVars), QStringList({"Code", "Comment", "Name", "Ref"}));
    }));
    QCOMPARE(e.Stored("Var3"), std::string("Ref;MSG_TEXT;Ref:;{End of Line};0;0;0;0;0"));
    // A value alone on its line starts after the line above; nothing follows it.
    QCOMPARE(e.Stored("Var4"), std::string("Comment;MSG_TEXT;Comment:;{End of Field};0;0;0;0;0"));
}

// The view shows the subject, the sender and each attachment's text besides the body, and a
// value selected in any of them makes a variable of that field; a selection across two parts
// or in a heading makes none.
void PickVariableTest::everyPartOfTheMessageCanBeSelected() {
    Editing e;
    WriteFileBytes(
        e.mailbox,
        "From - Mon Mar  2 10:00:00 2026\nFrom: Bob Ray <bob@example.org>\nTo: Shop "
        "<shop@example.com>\nSubject: Order 8 urgent\nDate: Mon, 02 Mar 2026 10:00:00 +0100\n"
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
        "Content-Type: text/plain\n\nSee the file.\n\n--b\n"
        "Content-Type: application/octet-stream; name=\"order.txt\"\n"
        "Content-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment; "
        "filename=\"order.txt\"\n\nSW52b2ljZTogSU5WLTksIHBhaWQNCg==\n\n"
        "--b--\n\n");
    QVERIFY(e.Edit(0, [&](FrmTemplateEdit& d, TemplateTestBench& bench) {
        const QString shown = bench.txtBody->toPlainText();
        for (const char* text :
             {"Subject: Order 8 urgent", "From: Bob Ray <bob@example.org>", "See the file.",
              "Attachment 1: order.txt", "Invoice: INV-9, paid"})
            QVERIFY2(shown.contains(text), qPrintable(shown));
        // Across the subject and the sender: no variable.
        QTextCursor c = bench.txtBody->textCursor();
        c.setPosition(shown.indexOf("urgent"));
        c.setPosition(shown.indexOf("Bob Ray") + 3, QTextCursor::KeepAnchor);
        bench.txtBody->setTextCursor(c);
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        QCOMPARE(bench.lblPick->text().toStdString(), std::string(kPickSelectValue));
        QCOMPARE(d.lstVars->count(), 2);

        SelectShown(bench, "INV-9", "ATTACHMENT");
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        SelectShown(bench, "urgent", "MSG_SUBJECT");
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        SelectShown(bench, "bob@example.org", "SENDER_ADDRESS");
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        QCOMPARE(Texts(d.lstVars),
                 QStringList({"Code", "Invoice", "Name", "Order8", "SenderAddress"}));
        // Refining takes the same part only.
        SelectShown(bench, "See", "MSG_TEXT");
        QTest::mouseClick(bench.cmdRefine, Qt::LeftButton);
        QVERIFY2(bench.lblPick->text().startsWith(QString::fromUtf8(kPickSamePart.data())),
                 qPrintable(bench.lblPick->text()));
        QVERIFY(WaitForCount(bench));
        QCOMPARE(ValuesOf(bench, "Invoice"), QStringList({"INV-9"}));
        QCOMPARE(ValuesOf(bench, "Order8"), QStringList({"urgent"}));
        QCOMPARE(ValuesOf(bench, "SenderAddress"), QStringList({"bob@example.org"}));
        // Values cut from the subject, the sender and the attachment are marked there too.
        QStringList marked;
        for (const auto& mark : bench.txtBody->extraSelections())
            marked << mark.cursor.selectedText();
        for (const char* text : {" INV-9", " urgent", "bob@example.org", "Bob Ray"})
            QVERIFY2(marked.contains(text), qPrintable(marked.join('|')));
    }));
    QCOMPARE(e.Stored("Var3"), std::string("Invoice;ATTACHMENT;Invoice:;,;0;0;0;0;0"));
    QCOMPARE(e.Stored("Var4"), std::string("Order8;MSG_SUBJECT;Order 8;{End of Line};0;0;0;0;0"));
    QCOMPARE(
        e.Stored("Var5"),
        std::string("SenderAddress;SENDER_ADDRESS;{Beginning of Field};{End of Line};0;0;0;0;0"));
}

// A value in one of several "Item:" lines: asked, the variable becomes a line item, and every
// item gives a line.
void PickVariableTest::repeatedBlockBecomesALineItem() {
    Editing e;
    WriteFileBytes(e.mailbox, Message("Shop <a@shop.example>", "Order 1",
                                      "Item: Hose\nItem: Barrel\nItem: Can\nTotal: 3"));
    e.ui.QueueAnswer(MsgAnswer::Yes);
    QVERIFY(e.Edit(0, [&](FrmTemplateEdit& d, TemplateTestBench& bench) {
        SelectShown(bench, "Barrel");
        QTest::mouseClick(bench.cmdMakeVariable, Qt::LeftButton);
        QCOMPARE(e.ui.boxes.size(), std::size_t(1));
        QCOMPARE(e.ui.boxes[0].text,
                 std::string("3 lines of this message begin with \"Item:\": make the variable a "
                             "line item (one output line for each of them)?"));
        QVERIFY(d.chkRepeat->isChecked());
        QVERIFY(WaitForCount(bench));
        bench.tblMessages->selectRow(0);
        QCOMPARE(bench.tblLines->rowCount(), 3);
    }));
    QCOMPARE(e.Stored("Var3"), std::string("Item;MSG_TEXT;Item:;{End of Line};0;0;0;0;0"));
    QCOMPARE(StoredKey(e.TemplatePath("Orders"), "Repeat", "Items").value_or(""),
             std::string("Item"));
}

QTEST_MAIN(PickVariableTest)
#include "pick_variable_qttest.moc"
