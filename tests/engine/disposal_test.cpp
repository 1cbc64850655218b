#include "engine/disposal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/mime_host.h"
#include "engine/run_context.h"
#include "settings/logs.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "sources/pop3_source.h"
#include "tests/engine/fake_source.h"
#include "tests/sources/pop3_fake_transport.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

class Disposal : public ::testing::Test {
  protected:
    void SetUp() override { ResetSettings(); }
    // 0 not used, 1 parsed, 2 failed.
    void Statuses(const std::vector<int>& statuses) {
        message.templateStatus.clear();
        for (int s : statuses) message.templateStatus.push_back(static_cast<TemplateOutcome>(s));
    }
    // The message disposed of by a run with the settings as the test left them.
    void DeleteMessage() {
        RunContext run(Settings());
        engine::DeleteMessage(run, message);
    }
    void Policy(std::int16_t flag, bool unused) {
        Settings().deleteFlag = flag;
        Settings().deleteUnused = unused;
    }

    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    testing::FakeSource source;
    MessageWork message{source, 0};
};

TEST_F(Disposal, NeverDeletesWithFlagZero) {
    Policy(0, true);
    Statuses({1, 1});
    DeleteMessage();
    EXPECT_EQ(source.deletes, 0);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Disposal, WithoutAskingOnlyWhatParsedCleanly) {
    Policy(2, false);
    Statuses({0, 1});
    DeleteMessage();
    EXPECT_EQ(source.deletes, 1);

    Statuses({0, 0});  // not used, and unused messages are kept
    DeleteMessage();
    EXPECT_EQ(source.deletes, 1);
    Policy(2, true);
    DeleteMessage();
    EXPECT_EQ(source.deletes, 2);

    SetSilentMode(true);
    Statuses({1, 2});
    DeleteMessage();
    Statuses({1, 0});
    message.allParsedOK = false;  // a failure outside any template
    DeleteMessage();
    EXPECT_EQ(source.deletes, 2);
    std::string log = env.ReadProgramFile(std::string(kErrorLog));
    std::size_t first = log.find("Message failed to parse correctly and was not deleted");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("Message failed to parse correctly and was not deleted", first + 1),
              std::string::npos);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Disposal, AsksWithTheOutcomeAndNoAsDefault) {
    Policy(1, true);
    struct Case {
        std::vector<int> statuses;
        const char* text;
    } cases[] = {
        {{0, 0},
         "The current message was not used by any templates\nWould you like to delete anyway?"},
        {{1, 2},
         "The current message failed to parse correctly with at least one template\n"
         "Would you like to delete anyway"},
        {{0, 1}, "Current Message was parsed successfully\nWould you like to delete the message?"},
    };
    for (const auto& c : cases) {
        ui.boxes.clear();
        Statuses(c.statuses);
        DeleteMessage();  // no answer queued: the default, No, keeps the message
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].text, c.text);
        EXPECT_EQ(ui.boxes[0].title, "Tallix - Delete");
        EXPECT_EQ(ui.boxes[0].buttons, MsgButtons::YesNo);
        EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Question);
        EXPECT_EQ(ui.boxes[0].defaultAnswer, MsgAnswer::No);
    }
    EXPECT_EQ(source.deletes, 0);
    ui.QueueAnswer(MsgAnswer::Yes);
    DeleteMessage();
    EXPECT_EQ(source.deletes, 1);

    // Silent mode does not skip the question.
    SetSilentMode(true);
    ui.boxes.clear();
    DeleteMessage();
    EXPECT_EQ(ui.boxes.size(), 1u);
}

// The names left in a directory, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Disposal, APop3MessageWithAnAttachmentLeavesNoFileBehind) {
    ScratchScope scratch;
    SetSilentMode(true);
    sources::clsPOP3Config account;
    account.SetID("Home");
    account.SetHostName("pop.example.org");
    account.SetLoginName("ann");
    account.SetPassword("secret");
    auto transport = std::make_unique<sources::testing::FakeTransport>();
    transport->messages = {
        "From: Ann <ann@example.org>\r\nSubject: report\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
        "--b1\r\nContent-Type: text/plain\r\n\r\nPlain body\r\n"
        "--b1\r\nContent-Type: application/octet-stream; name=\"report.doc\"\r\n"
        "Content-Disposition: attachment; filename=\"report.doc\"\r\n\r\nreport\r\n"
        "--b1--\r\n"};
    sources::Pop3Source pop3(
        account, std::make_unique<sources::Pop3Client>(std::move(transport), nullptr), &MimeHost());
    pop3.Connect();
    pop3.GetFirstMsg();
    ASSERT_TRUE(pop3.Message());
    ASSERT_EQ(pop3.Message()->Body(), "Plain body");
    ASSERT_EQ(pop3.Message()->Attachments()->Count(), 1);
    // The engine's decoder works in memory: no message file, no body file, and the attachment
    // is held until the disposal.
    ASSERT_EQ(FilesIn(ScratchDir()), std::vector<std::string>{});
    const std::string attachment = ScratchFile("$$report.doc");
    ASSERT_EQ(pop3.Message()->Attachments()->Snapshot(), std::vector<std::string>{attachment});
    ASSERT_TRUE(KeptScratchFile(attachment));
    EXPECT_EQ(*KeptScratchFile(attachment), "report");

    Settings().useSource = std::string(kSourcePop3);
    RunContext run(Settings());
    MessageWork work{pop3, 0};
    DeleteTempFiles(run, work);
    EXPECT_EQ(FilesIn(ScratchDir()), std::vector<std::string>{});
    EXPECT_EQ(KeptScratchBytes(), 0u);
}

}  // namespace
}  // namespace tallix::engine
