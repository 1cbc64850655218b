// The template editor's test bench on the offscreen platform: the trial runs on its worker
// thread over the example mailbox, the shown values follow edits of the template, and the
// bench leaves the template file, the mailbox and the output file as they were.
#include <sys/stat.h>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QtTest>
#include <cmath>
#include <filesystem>

#include "manager/template_test_bench.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/settings_store.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

using namespace tallix;
using namespace tallix::manager;
namespace fs = std::filesystem;
using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

namespace {

std::string Examples() {
    return std::string(qgetenv("TALLIX_TEST_DATA").constData()) + "/../../examples";
}

// The value the values table shows for a variable, or a text saying it is not there.
QString ShownValue(const TemplateTestBench& bench, const QString& name) {
    for (int r = 0; r < bench.tblValues->rowCount(); ++r)
        if (bench.tblValues->item(r, 0)->text() == name) return bench.tblValues->item(r, 2)->text();
    return "<no " + name + ">";
}

// The contrast ratio of two colours as the accessibility guidelines define it (1 to 21; 4.5
// is the least for text of ordinary size).
double ContrastRatio(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark colour scheme as desktops offer it: light text on dark pages, a blue selection
// with dark text on it.
QPalette DarkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(53, 53, 53));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(35, 35, 35));
    p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    p.setColor(QPalette::Button, QColor(53, 53, 53));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, QColor(20, 20, 20));
    return p;
}

std::string FileState(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "absent";
    return ReadFileBytes(path) + "|" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

class TemplateTestBenchTest : public QObject {
    Q_OBJECT
  private:
    tallix::testing::IsolatedEnvironment* env = nullptr;
    tallix::testing::ScriptedUi* ui = nullptr;
    std::string dir, templateFile, mailbox;

    clsTemplate Orders() {
        clsTemplate tpl;
        tpl.SetFileName(templateFile);
        tpl.ReadTemplate();
        return tpl;
    }
    static bool WaitFinished(QSignalSpy& spy, int count = 1) {
        for (int i = 0; i < 300 && spy.count() < count; ++i) spy.wait(100);
        return spy.count() >= count;
    }

  private Q_SLOTS:
    void init() {
        env = new tallix::testing::IsolatedEnvironment;
        ui = new tallix::testing::ScriptedUi;
        SetProgramIdentity("tallix", "Tallix");
        ResetSettings();
        dir = env->ProgramDir();
        templateFile = dir + "/Orders.txf";
        mailbox = dir + "/inbox.mbox";
        fs::copy_file(Examples() + "/Orders.txf", templateFile);
        fs::copy_file(Examples() + "/sample-inbox.mbox", mailbox);
        fs::current_path(dir);
    }
    void cleanup() {
        delete ui;
        delete env;
    }

    // Editing a variable's start text changes the value shown for the selected message, and
    // the selected message stays selected across the new trial.
    void editingStartTextChangesShownValue() {
        const std::string before =
            FileState(templateFile) + FileState(mailbox) + FileState(dir + "/orders.csv");
        TemplateTestBench bench;
        QSignalSpy finished(&bench, &TemplateTestBench::TrialFinished);
        clsTemplate tpl = Orders();
        bench.SetTemplate(tpl);
        bench.SetMessageFile(QString::fromStdString(mailbox));
        QVERIFY(WaitFinished(finished));
        QCOMPARE(bench.tblMessages->rowCount(), 30);
        QCOMPARE(bench.tblMessages->item(0, 1)->text(), QString("Order confirmation 4700"));
        QCOMPARE(bench.tblMessages->item(0, 2)->text(), QString("Yes"));
        QCOMPARE(bench.tblMessages->item(1, 2)->text(), QString("No"));
        QVERIFY(bench.lblStatus->text().startsWith("30 messages, 10 matched, 10 lines"));

        bench.tblMessages->selectRow(2);  // Order confirmation 4701
        QCOMPARE(ShownValue(bench, "OrderNo"), QString("4701"));
        QCOMPARE(bench.txtOutputLine->text(),
                 QString("4701,3/3/2026,\"Bob Jones\",\"Rain barrel\",39.00"));

        tpl.colFields()->Item(1)->SetFindStart("Customer:");
        bench.SetTemplate(tpl);
        QVERIFY(WaitFinished(finished, 2));
        QTRY_COMPARE(ShownValue(bench, "OrderNo"), QString("Bob Jones"));
        QVERIFY(bench.txtOutputLine->text().startsWith("Bob Jones,"));
        // The text the start and stop strings found is marked in the body.
        bool marked = false;
        for (const auto& mark : bench.txtBody->extraSelections())
            marked |= mark.cursor.selectedText().contains("Bob Jones");
        QVERIFY(marked);

        QCOMPARE(FileState(templateFile) + FileState(mailbox) + FileState(dir + "/orders.csv"),
                 before);
        QVERIFY(ui->boxes.empty());
        QVERIFY(!fs::exists(dir + "/txError.Log"));
    }

    // Edits in quick succession make one trial, of the last edit.
    void editsAreDebounced() {
        TemplateTestBench bench;
        QSignalSpy finished(&bench, &TemplateTestBench::TrialFinished);
        bench.SetMessageFile(QString::fromStdString(mailbox));
        clsTemplate tpl = Orders();
        for (const char* start : {"Item:", "Total:", "Customer:"}) {
            tpl.colFields()->Item(1)->SetFindStart(start);
            bench.SetTemplate(tpl);
            QTest::qWait(20);
        }
        QVERIFY(WaitFinished(finished));
        QTest::qWait(kTestBenchDebounceMs + 200);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(bench.Messages().front().variables.front().value, std::string("Ann Smith"));
    }

    // A large mailbox shows progress and can be cancelled part way.
    void largeMailboxCancels() {
        const int count = 4000;
        std::string big;
        for (int i = 0; i < count; ++i)
            big +=
                "From - Mon Mar  1 08:00:00 2026\r\nFrom: a@b.example\r\nTo: "
                "c@d.example\r\nSubject: Order confirmation " +
                std::to_string(i) +
                "\r\nDate: Mon, 1 Mar 2026 08:00:00 +0000\r\n\r\nOrder number: " +
                std::to_string(i) + "\r\nCustomer: X\r\n\r\n";
        WriteFileBytes(dir + "/big.mbox", big);
        TemplateTestBench bench;
        QSignalSpy finished(&bench, &TemplateTestBench::TrialFinished);
        bench.SetTemplate(Orders());
        bench.SetMessageFile(QString::fromStdString(dir + "/big.mbox"));
        QTRY_VERIFY_WITH_TIMEOUT(bench.tblMessages->rowCount() > 0, 20000);
        QVERIFY(bench.cmdCancel->isEnabled());
        QCOMPARE(bench.prgTrial->maximum(), count);
        QTest::mouseClick(bench.cmdCancel, Qt::LeftButton);
        QVERIFY(WaitFinished(finished));
        QVERIFY(bench.lblStatus->text().startsWith("Cancelled"));
        QVERIFY(bench.tblMessages->rowCount() < count);
        QVERIFY(!bench.cmdCancel->isEnabled());
    }

    // The marks in the body take their colours from the palette: under a dark scheme (and a
    // light one) the marked text stands out from its mark as much as ordinary text must, and
    // the marks from the page.
    void marksAreReadableUnderTheColourScheme_data() {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("dark") << DarkPalette();
        QPalette light;
        light.setColor(QPalette::Base, Qt::white);
        light.setColor(QPalette::Text, Qt::black);
        light.setColor(QPalette::Highlight, QColor(48, 140, 198));
        light.setColor(QPalette::HighlightedText, Qt::white);
        QTest::newRow("light") << light;
    }
    void marksAreReadableUnderTheColourScheme() {
        QFETCH(QPalette, palette);
        TemplateTestBench bench;
        bench.setPalette(palette);
        QSignalSpy finished(&bench, &TemplateTestBench::TrialFinished);
        clsTemplate tpl = Orders();
        // One variable by its start text, one by a pattern: both kinds of mark.
        tpl.SetPattern("OrderNo", "Order number: ([0-9]+)");
        bench.SetTemplate(tpl);
        bench.SetMessageFile(QString::fromStdString(mailbox));
        QVERIFY(WaitFinished(finished));
        bench.tblMessages->selectRow(2);
        const QList<QTextEdit::ExtraSelection> marks = bench.txtBody->extraSelections();
        QStringList marked;
        for (const auto& mark : marks) marked << mark.cursor.selectedText();
        QVERIFY2(marked.contains("Order number: 4701") && marked.contains("4701") &&
                     marked.contains(" Bob Jones"),
                 qPrintable(marked.join("|")));
        const QColor page = bench.txtBody->palette().color(QPalette::Base);
        const QColor ordinary = bench.txtBody->palette().color(QPalette::Text);
        for (const auto& mark : marks) {
            const QColor back = mark.format.background().color();
            const QColor text = mark.format.hasProperty(QTextFormat::ForegroundBrush)
                                    ? mark.format.foreground().color()
                                    : ordinary;
            const QString what = mark.cursor.selectedText();
            QVERIFY2(ContrastRatio(back, text) >= 4.5,
                     qPrintable(what + ": " + back.name() + " under " + text.name()));
            QVERIFY2(ContrastRatio(back, page) >= 1.3, qPrintable(what + ": " + back.name()));
        }
    }

    void unreadableFileIsReported() {
        TemplateTestBench bench;
        QSignalSpy finished(&bench, &TemplateTestBench::TrialFinished);
        bench.SetTemplate(Orders());
        bench.SetMessageFile(QString::fromStdString(dir + "/missing.mbox"));
        QVERIFY(WaitFinished(finished));
        QCOMPARE(bench.tblMessages->rowCount(), 0);
        QVERIFY2(bench.lblStatus->text().contains("Cannot read"),
                 qPrintable(bench.lblStatus->text()));
        QVERIFY(ui->boxes.empty());
    }

    // Byte offsets of the body (CR LF line ends, UTF-8) as positions in the body view.
    void displayPositions() {
        struct Case {
            std::string body;
            std::size_t offset;
            int position;
        };
        const std::vector<Case> cases = {
            {"abc", 2, 2},         {"a\r\nb", 3, 2},         // after the line end: one break shown
            {"a\r\nb\r\nc", 6, 4}, {"caf\xc3\xa9 x", 6, 5},  // two bytes, one character
            {"x", 9, 1},                                     // past the end: the end
        };
        for (const auto& c : cases) QCOMPARE(DisplayPosition(c.body, c.offset), c.position);
        QCOMPARE(DisplayText("a\r\nb"), QString("a\nb"));
        // And back, for a selection in the view: each position to the byte it shows, never
        // inside a character (position 8 lies between the two halves of the parcel sign) or
        // between CR and LF.
        const std::string text = "a\r\ncaf\xc3\xa9 \xf0\x9f\x93\xa6 x\r\n";
        const std::vector<std::size_t> bytes = {0, 1, 3, 4, 5, 6, 8, 9, 13, 13, 14, 15, 17, 17};
        for (int position = 0; position < static_cast<int>(bytes.size()); ++position)
            QCOMPARE(ByteOffsetAt(text, position), bytes[static_cast<std::size_t>(position)]);
    }
};

QTEST_MAIN(TemplateTestBenchTest)
#include "template_test_bench_qttest.moc"
