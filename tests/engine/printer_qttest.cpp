// The "printer" output: one document per record, read back from the PDF stand-in.
#include <QtTest>
#include <filesystem>

#include "engine/engine_run.h"
#include "engine/run_context.h"
#include "model/message.h"
#include "settings/app_info.h"
#include "settings/settings_store.h"
#include "tests/engine/fake_source.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"
#include "ui/qt_printer.h"

using namespace tallix;
using namespace tallix::engine;

class PrinterTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void printerOutputWritesOneDocumentPerRecord();
};

void PrinterTest::printerOutputWritesOneDocumentPerRecord() {
    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    SetProgramIdentity("txengine", "txEngine");
    ResetSettings();
    Settings().templateDir = env.ProgramDir() + "/templates";
    Settings().useSource = "FAKE";
    std::filesystem::create_directories(Settings().templateDir);
    tallix::testing::WriteFileBytes(Settings().templateDir + "/P.txf",
                                    "[General]\r\nActive=True\r\nNum_Variables=1\r\n[Filter]"
                                    "\r\nCommand=<NONE>\r\n[Variables]\r\n"
                                    "Var1=S;MSG_SUBJECT;;;0;0;0;0;0\r\n[Output]\r\nFile="
                                    "printer\r\nOutput_Count=1\r\nOutput1=S\r\n");
    const std::string pdf = env.ProgramDir() + "/print.pdf";
    qputenv("TALLIX_PRINT_PDF", QByteArray::fromStdString(pdf));

    tallix::ui::QtPrinter printer;
    SetPrinter(&printer);
    tallix::engine::testing::FakeSource source;
    auto message = std::make_shared<txMessage>();
    message->SetSubject(std::string(200, 'w') + " long subject wraps");
    message->SetAttachments(std::make_shared<TextCollection>());
    source.messages = {message};
    RunContext run(Settings());
    run.sourceFactory = ([&](const std::string&) {
        return std::make_unique<tallix::engine::testing::FakeSourceList>(
            std::vector<tallix::engine::testing::FakeSource*>{&source});
    });
    RunSources(run, "");
    SetPrinter(nullptr);
    qunsetenv("TALLIX_PRINT_PDF");

    QVERIFY(std::filesystem::exists(pdf));
    std::string bytes = tallix::testing::ReadFileBytes(pdf);
    QVERIFY(bytes.rfind("%PDF", 0) == 0);
    // One record, one page.
    std::size_t pages = 0;
    for (std::size_t at = bytes.find("/Type /Page\n"); at != std::string::npos;
         at = bytes.find("/Type /Page\n", at + 1))
        ++pages;
    QCOMPARE(pages, std::size_t(1));
    QVERIFY(ui.boxes.empty());
}

QTEST_MAIN(PrinterTest)
#include "printer_qttest.moc"
