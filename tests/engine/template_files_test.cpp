#include "engine/template_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/run_context.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/settings_store.h"
#include "tests/engine/fake_source.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::IsolatedEnvironment;
using tallix::testing::ScriptedUi;
using tallix::testing::WriteFileBytes;
using Names = std::vector<std::string>;

TEST(FilePatterns, WildcardsWithoutRegardToCase) {
    EXPECT_TRUE(MatchesFilePattern("*.txf", "Orders.TXF"));
    EXPECT_TRUE(MatchesFilePattern("orders.txf", "Orders.txf"));
    EXPECT_TRUE(MatchesFilePattern("ord?rs*.txf", "ORDERS-2024.txf"));
    EXPECT_TRUE(MatchesFilePattern("*", ""));
    EXPECT_FALSE(MatchesFilePattern("*.txf", "Orders.txf.bak"));
    EXPECT_FALSE(MatchesFilePattern("?.txf", ".txf"));
    EXPECT_FALSE(MatchesFilePattern("orders.txf", "orders_txf"));
    // A hostile pattern stays fast.
    EXPECT_FALSE(MatchesFilePattern(std::string(200, '*') + "b", std::string(5000, 'a')));
}

class TemplateList : public ::testing::Test {
  protected:
    void SetUp() override {
        SetProgramIdentity("txengine", "txEngine");
        ResetSettings();
        Settings().templateDir = env.ProgramDir() + "/templates";
        std::filesystem::create_directories(Settings().templateDir + "/sub.txf");
        for (const char* name :
             {"b.txf", "A.TXF", "c.txf.bak", ".hidden.txf", "Orders.Txf", "a.txf"})
            WriteFileBytes(Settings().templateDir + "/" + name, "");
    }
    // Lists the templates as a run with the settings as the test left them.
    void GetTemplateFiles(const std::string& selection) {
        run.settings = Settings();
        engine::GetTemplateFiles(run, selection);
    }
    IsolatedEnvironment env;
    ScriptedUi ui;
    RunContext run;
};

TEST_F(TemplateList, EveryOrdinaryVisibleTemplateInNameOrder) {
    run.badTemplates = {"left over"};
    GetTemplateFiles("");
    EXPECT_TRUE(run.haveTemplateFiles);
    EXPECT_EQ(run.templateFiles, (Names{"A.TXF", "a.txf", "b.txf", "Orders.Txf"}));
    testing::FakeSource source;
    EXPECT_EQ(MessageWork(source, run.templateFiles.size()).templateStatus.size(), 4u);
    EXPECT_TRUE(run.badTemplates.empty());
}

TEST_F(TemplateList, SelectionFindsItsFileWithoutRegardToCase) {
    GetTemplateFiles(" orders ");
    EXPECT_EQ(run.templateFiles, (Names{"Orders.Txf"}));
    GetTemplateFiles("?");
    EXPECT_EQ(run.templateFiles, (Names{"A.TXF", "a.txf", "b.txf"}));
    EXPECT_EQ(FindFileNoCase(Settings().templateDir, "ORDERS.txf"), "Orders.Txf");
    EXPECT_EQ(FindFileNoCase(Settings().templateDir, "b.txf"), "b.txf");
    EXPECT_EQ(FindFileNoCase(Settings().templateDir, "sub.txf"), std::nullopt);
    EXPECT_EQ(FindFileNoCase(Settings().templateDir, "missing.txf"), std::nullopt);
}

TEST_F(TemplateList, NoTemplateIsReportedAndEndsTheProgram) {
    SetSilentMode(true);
    EXPECT_THROW(GetTemplateFiles("nothing"), ProgramEndRequest);
    EXPECT_FALSE(run.haveTemplateFiles);
    std::string log = env.ReadProgramFile(std::string(kErrorLog));
    EXPECT_NE(log.find("txengine unable to locate template files.\nCheck the system options to "
                       "ensure the path to the template files is correct.\nNo file matches " +
                       Settings().templateDir + "/nothing.txf\r\n"),
              std::string::npos)
        << log;
}

TEST(RunProgress, PercentagesRoundHalfToEven) {
    RunProgress run;
    struct Case {
        int messageNo, total, expected;
    } cases[] = {{1, 8, 12},  {3, 8, 38}, {1, 200, 0}, {3, 200, 2},
                 {5, 5, 100}, {0, 5, 0},  {3, 0, 0}};
    for (const auto& c : cases) {
        run.messageNo = c.messageNo;
        run.totalMessageCount = c.total;
        CalcPrgValue(run, ProgressKind::Messages);
        EXPECT_EQ(run.messageProgress, c.expected) << c.messageNo << "/" << c.total;
    }
    run.templateNo = 0;
    run.templateCount = 8;
    CalcPrgValue(run, ProgressKind::Templates);
    EXPECT_EQ(run.templateProgress, 12);  // 12.5 goes to the even neighbour
}

TEST(RunProgress, TemplateStatusAndBadTemplates) {
    testing::FakeSource source;
    MessageWork message(source, 3);
    message.templateStatus.assign(3, TemplateOutcome::Parsed);
    message.MarkTemplateFailed(1);
    EXPECT_EQ(message.templateStatus,
              (std::vector<TemplateOutcome>{TemplateOutcome::Parsed, TemplateOutcome::Failed,
                                            TemplateOutcome::Parsed}));
    EXPECT_FALSE(message.allParsedOK);
    message.ResetTemplateStatus();
    EXPECT_EQ(message.templateStatus, (std::vector<TemplateOutcome>(3, TemplateOutcome::NotUsed)));
    RunContext run;
    run.badTemplates = {" Orders.txf "};
    EXPECT_TRUE(IsBadTemplate(run, "Orders.txf  "));
    EXPECT_FALSE(IsBadTemplate(run, "orders.txf"));
}

}  // namespace
}  // namespace tallix::engine
