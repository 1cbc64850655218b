#include "settings/error_reporter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <regex>

#include "settings/app_info.h"
#include "settings/logs.h"
#include "settings/system_rules.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix {
namespace {

using testing::IsolatedEnvironment;
using testing::ScriptedUi;

class ErrorReporter : public ::testing::Test {
  protected:
    void SetUp() override {
        SetProgramIdentity("txengine", "txEngine");
        SetUnloadStatusWindowHook([this] { ++unloads; });
    }
    std::string ErrorLog() { return env.ReadProgramFile(std::string(kErrorLog)); }
    void MakePending(int number, const std::string& description) {
        Err().number = number;
        Err().description = description;
    }
    IsolatedEnvironment env;
    ScriptedUi ui;
    int unloads = 0;
};

TEST_F(ErrorReporter, LogLineIsShortDateLongTimeTextCrLf) {
    ASSERT_TRUE(WriteLog(kSystemLog, "Connected to: inbox"));
    std::string log = env.ReadProgramFile(std::string(kSystemLog));
    std::regex line(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M Connected to: inbox\r\n)");
    EXPECT_TRUE(std::regex_match(log, line)) << log;
    ASSERT_TRUE(WriteLog(kSystemLog, "second"));
    EXPECT_EQ(env.ReadProgramFile(std::string(kSystemLog)).rfind("second\r\n"),
              env.ReadProgramFile(std::string(kSystemLog)).size() - 8);
    // Blank names and texts write nothing and count as done.
    EXPECT_TRUE(WriteLog("  ", "text"));
    EXPECT_TRUE(WriteLog(kErrorLog, "   "));
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(ErrorReporter, ControlCharactersCannotForgeOrRedrawLogLines) {
    // A report keeps its own line feeds; a carriage return, an escape sequence or a NUL is
    // written escaped, and a name passed through LogSafe keeps its line feed on the line.
    const std::string name = "inbox\n12/8/2026 7:00:00 AM Parsed:9 of 9";
    ASSERT_TRUE(WriteLog(kErrorLog, "In message file: " + LogSafe(name) +
                                        "\nError# 53  gone\r\x1b[2K" + std::string(1, '\0') +
                                        "\t."));
    const std::string log = ErrorLog();
    EXPECT_NE(log.find(" In message file: inbox\\n12/8/2026 7:00:00 AM Parsed:9 of 9\n"
                       "Error# 53  gone\\r\\x1B[2K\\x00\\t.\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 1);
    EXPECT_EQ(LogSafe("a\x7f\x01"
                      "b"),
              "a\\x7F\\x01b");
}

TEST_F(ErrorReporter, WithoutPendingErrorLogsAndShowsTheMessage) {
    ReportError("Invalid Output file defined. in a.txf", true);
    EXPECT_NE(ErrorLog().find(" Invalid Output file defined. in a.txf\r\n"), std::string::npos);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Invalid Output file defined. in a.txf");
    EXPECT_EQ(ui.boxes[0].title, "Error");
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(ui.boxes[0].buttons, MsgButtons::Ok);
}

TEST_F(ErrorReporter, PendingErrorAddsNumberToLogAndOffersShutdown) {
    MakePending(53, "File not found");
    ui.QueueAnswer(MsgAnswer::No);
    ReportError("Sub AppendOutput:", true);
    EXPECT_NE(ErrorLog().find(" Sub AppendOutput:\nError# 53  File not found\r\n"),
              std::string::npos);
    ASSERT_EQ(ui.boxes.size(), 1u);
    const auto& box = ui.boxes[0];
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.icon, MsgIcon::None);
    EXPECT_EQ(box.title, "Error");
    EXPECT_EQ(box.text.rfind("The following unexpected error occurred.\n\nErr Number: 53\n"
                             "Err Description: File not found\n\n"
                             "Please report this error via E-mail to support@tallix.example "
                             "by attaching the following file < " +
                                 env.ProgramDir() + "/txError.Log > to your email message.",
                             0),
              0u);
    EXPECT_NE(box.text.find("will not allow txEngine to operate correctly."), std::string::npos);
    EXPECT_EQ(box.text.find("Sub AppendOutput:"), std::string::npos);
    EXPECT_EQ(Err().number, 0);  // cleared after the report
    EXPECT_EQ(unloads, 0);
}

TEST_F(ErrorReporter, YesToShutdownUnloadsTheWindowAndEnds) {
    MakePending(70, "Permission denied");
    ui.QueueAnswer(MsgAnswer::Yes);
    try {
        ReportError("Sub AppendOutput:", true);
        FAIL() << "the program did not end";
    } catch (const ProgramEndRequest& end) {
        EXPECT_EQ(end.status, 1);
    }
    EXPECT_EQ(unloads, 1);
}

TEST_F(ErrorReporter, SilentModeHidesLoggedReportsOnly) {
    SetSilentMode(true);
    ReportError("logged and hidden", true);
    EXPECT_TRUE(ui.boxes.empty());
    ReportError("not logged, still shown", false);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "not logged, still shown");
    EXPECT_NE(ErrorLog().find("logged and hidden"), std::string::npos);
    EXPECT_EQ(ErrorLog().find("still shown"), std::string::npos);
}

TEST_F(ErrorReporter, EndFlagEndsEvenInSilentMode) {
    SetSilentMode(true);
    EXPECT_THROW(ReportError("Unable to set source configuration", true, true), ProgramEndRequest);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_NE(ErrorLog().find("Unable to set source configuration"), std::string::npos);
    EXPECT_EQ(unloads, 1);

    // The manager has no status window to unload.
    SetProgramIdentity("tallix", "Tallix");
    EXPECT_THROW(ReportError("x", true, true), ProgramEndRequest);
    EXPECT_EQ(unloads, 1);
    SetProgramIdentity("txengine", "txEngine");
}

TEST_F(ErrorReporter, UnwritableLogIsShownEvenInSilentMode) {
    // A directory in the log's place cannot be appended to, even by root.
    ASSERT_EQ(::mkdir((env.ProgramDir() + "/txError.Log").c_str(), 0700), 0);
    SetSilentMode(true);
    MakePending(13, "Type mismatch");
    ReportError("Sub DoParsing:", true);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Unable to write to error log: txError.Log");
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(Err().number, 0);
}

TEST_F(ErrorReporter, GuardReportsTheFailureWithItsContextAndCarriesOn) {
    ui.QueueAnswer(MsgAnswer::No);
    ui.QueueAnswer(MsgAnswer::No);
    bool after = false;
    bool finished = Guard("Sub GetTemplateFiles:", [] { Raise(kErrFileNotFound); });
    after = true;
    EXPECT_FALSE(finished);
    EXPECT_TRUE(after);
    EXPECT_NE(ErrorLog().find("Sub GetTemplateFiles:\nError# 53  File not found"),
              std::string::npos);
    EXPECT_EQ(GuardValue(
                  "modGlobal - X", 7, []() -> int { throw std::out_of_range("x"); }, kNotLogged),
              7);
    EXPECT_EQ(ErrorLog().find("modGlobal - X"), std::string::npos);
    EXPECT_EQ(ui.boxes.size(), 2u);
}

// A failure that concerns a file names it and the system's reason on a line of its own, in
// the log and in the box, beside the error's number and description.
TEST_F(ErrorReporter, AFileFailureNamesTheFileAndTheSystemsReason) {
    ui.QueueAnswer(MsgAnswer::No);
    Guard("clsNetscape - NSGetMessages", [] { RaiseErrno(ENOENT, "/home/ann/mail/inbox"); });
    EXPECT_NE(ErrorLog().find(" clsNetscape - NSGetMessages\nError# 53  File not found\n"
                              "/home/ann/mail/inbox: No such file or directory\r\n"),
              std::string::npos)
        << ErrorLog();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("Err Description: File not found\n"
                                    "/home/ann/mail/inbox: No such file or directory\n\n"),
              std::string::npos)
        << ui.boxes[0].text;
    EXPECT_EQ(Err().file, "");  // cleared with the rest of the pending error

    // A body that knows only which file it works on names it for what it calls; a failure
    // that named its file already keeps it; a line feed in a name stays on its line.
    SetSilentMode(true);
    Guard("clsPOP3Config - ReadConfig",
          [] { ConcerningFile("/home/ann/POP3.CFG", [] { RaiseErrno(EISDIR); }); });
    Guard("Sub X:", [] {
        ConcerningFile("/outer", [] { RaiseForFile(kErrPathNotFound, "/tmp\nx", "gone"); });
    });
    Guard("Sub Y:", [] { ConcerningFile("/plain", [] { Raise(kErrPathFileAccess); }); });
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("Error# 75  Path/File access error\n/home/ann/POP3.CFG: Is a directory\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Error# 76  Path not found\n/tmp\\nx: gone\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\n/plain: Path/File access error\r\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace tallix
