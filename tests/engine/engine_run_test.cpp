#include "engine/engine_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/extraction.h"
#include "engine/hosted_events.h"
#include "engine/run_context.h"
#include "engine/status_window.h"
#include "engine/template_cache.h"
#include "engine/template_files.h"
#include "engine/template_trial.h"
#include "model/message.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/settings_store.h"
#include "sources/pop3_curl_transport.h"
#include "sources/pop3_source.h"
#include "tests/engine/fake_run.h"
#include "tests/engine/fake_source.h"
#include "tests/support/pop3_script_server.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;
using testing::FakeSource;

std::shared_ptr<txMessage> Message(const std::string& subject, const std::string& body,
                                   std::vector<std::string> attachments = {}) {
    auto m = std::make_shared<txMessage>();
    m->SetSubject(subject);
    m->SetBody(body);
    m->SetSenderName("Ann Smith");
    auto list = std::make_shared<TextCollection>();
    for (auto& a : attachments) list->Add(a);
    m->SetAttachments(list);
    return m;
}

class EngineRun : public ::testing::Test {
  protected:
    void SetUp() override {
        SetProgramIdentity("txengine", "txEngine");
        ResetSettings();
        Settings().templateDir = env.ProgramDir() + "/templates";
        Settings().useSource = "FAKE";
        std::filesystem::create_directories(Settings().templateDir);
        first.SetID("Fake inbox");
    }
    void RunSources(const std::string& selection) { run.RunSources(selection); }

    // A template file: general, filter, variables ("Name;Type;Start;Stop;flags...") and output.
    void Template(const std::string& name, const std::string& active,
                  const std::string& filterField, const std::string& find,
                  const std::vector<std::string>& vars, const std::string& output,
                  const std::string& outputFile, const std::string& delimiter = "COMMA",
                  const std::string& allowDuplicate = "True", const std::string& outputKeys = "",
                  const std::string& sections = "") {
        std::string t = "[General]\r\nActive=" + active +
                        "\r\nNum_Variables=" + std::to_string(vars.size()) +
                        "\r\nLast_Ran=Never\r\n[Filter]\r\nCommand=" + filterField +
                        "\r\nFind_String=" + find + "\r\n[Variables]\r\n";
        for (std::size_t i = 0; i < vars.size(); ++i)
            t += "Var" + std::to_string(i + 1) + "=" + vars[i] + "\r\n";
        t += "[Output]\r\nAllowDuplicate=" + allowDuplicate + "\r\nFile=" + outputFile +
             "\r\nDelimiter=" + delimiter + "\r\n" + outputKeys +
             "Output_Count=1\r\nOutput1=" + output + "\r\n[Scripts]\r\nrun=\r\n" + sections;
        WriteFileBytes(Settings().templateDir + "/" + name, t);
    }
    std::string Out(const std::string& name) {
        return ReadFileBytes(env.ProgramDir() + "/" + name);
    }
    std::string OutPath(const std::string& name) { return env.ProgramDir() + "/" + name; }
    std::string SystemLog() { return env.ReadProgramFile(std::string(kSystemLog)); }
    std::string ErrorLog() { return env.ReadProgramFile(std::string(kErrorLog)); }

    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    FakeSource first;
    testing::FakeRun run{{&first}};
};

TEST_F(EngineRun, EveryMatchingMessageAppendsOneLine) {
    Template("Orders.txf", "True", "MSG_SUBJECT", "order",
             {"OrderNo;MSG_TEXT;Order no:;{End of Line};0;0;0;0;0",
              "Sender;SENDER_NAME;{Beginning of Field};{End of Field};1;0;0;0;0"},
             "OrderNo,Sender", OutPath("orders.csv"));
    Template("Unused.txf", "true", "<NONE>", "", {"All;MSG_TEXT;;;0;0;0;0;0"}, "All",
             OutPath("unused.csv"));
    first.messages = {Message("Your ORDER", "Hello\r\nOrder no: 4711\r\nBye"),
                      Message("Newsletter", "Order no: 1"),
                      Message("Order 2", "Order no:   99  \r\n")};
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "4711,\"Ann Smith\"\r\n99,\"Ann Smith\"\r\n");
    EXPECT_FALSE(std::filesystem::exists(OutPath("unused.csv")));  // "true" is not active
    std::string log = SystemLog();
    EXPECT_NE(log.find(" Connected to: Fake inbox\r\n"), std::string::npos);
    EXPECT_NE(log.find(" Parsed:3 of 3 with 2 of 2\r\n"), std::string::npos);
    EXPECT_NE(log.find(" Disconected: from Fake inbox\r\n"), std::string::npos);
    EXPECT_EQ(first.calls.front(), "Connect");
    EXPECT_EQ(first.calls.back(), "Disconnect");
    // The active template is stamped, the inactive one is not.
    EXPECT_EQ(ReadFileBytes(Settings().templateDir + "/Orders.txf").find("Last_Ran=Never"),
              std::string::npos);
    EXPECT_NE(ReadFileBytes(Settings().templateDir + "/Unused.txf").find("Last_Ran=Never"),
              std::string::npos);
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(EngineRun, ReadOnlyTemplateKeepsItsFileAndIsNamedOnce) {
    Template("Orders.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("a.csv"));
    const std::string path = Settings().templateDir + "/Orders.txf";
    const std::string before = ReadFileBytes(path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    first.messages = {Message("one", ""), Message("two", "")};
    RunSources("");
    // The lines are written; the file keeps its bytes, and why its stamp is missing is said.
    EXPECT_EQ(Out("a.csv"), "one\r\ntwo\r\n");
    EXPECT_EQ(ReadFileBytes(path), before);
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("last-run stamp could not be written"), std::string::npos) << log;
    EXPECT_NE(log.find("\n" + path + ": Permission denied"), std::string::npos) << log;
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Critical);
    // A later stamp of the run (its cache emptied, as a stamp of another second finds it) is
    // tried again but does not name the file again.
    clsTemplate tpl;
    tpl.SetFileName(path);
    ASSERT_TRUE(tpl.ReadTemplate());
    run.Context().templates.Clear();
    SetLastRan(run.Context(), tpl);
    EXPECT_EQ(tpl.LastWriteError(), EACCES);
    EXPECT_EQ(ErrorLog(), log);
    EXPECT_EQ(ReadFileBytes(path), before);
}

TEST_F(EngineRun, SelectionRunsOneTemplateFoundWithoutRegardToCase) {
    Template("Orders.TXF", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("a.csv"));
    Template("Other.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("b.csv"));
    first.messages = {Message("one", "")};
    RunSources("orders");
    EXPECT_EQ(Out("a.csv"), "one\r\n");
    EXPECT_FALSE(std::filesystem::exists(OutPath("b.csv")));
}

TEST_F(EngineRun, EmptyMailboxIsLoggedAndStillDisconnected) {
    Template("T.txf", "True", "<NONE>", "", {}, "", OutPath("t.csv"));
    RunSources("");
    EXPECT_NE(SystemLog().find(" No messsages found.\r\n"), std::string::npos);
    EXPECT_EQ(first.calls, (std::vector<std::string>{"Connect", "Disconnect"}));
}

TEST_F(EngineRun, SourceThatDoesNotConnectIsShownAndTheNextOneRuns) {
    Template("T.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("t.csv"));
    FakeSource second;
    second.SetID("Second");
    second.messages = {Message("from second", "")};
    first.connects = false;
    run.sources.push_back(&second);
    SetSilentMode(true);
    RunSources("");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Unable to connect to mail source.");
    EXPECT_EQ(ui.boxes[0].title, "Error");
    EXPECT_EQ(Out("t.csv"), "from second\r\n");
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(EngineRun, UnknownSourceKindAndNoTemplatesEndTheRun) {
    Template("T.txf", "True", "<NONE>", "", {}, "", OutPath("t.csv"));
    Settings().useSource = "";
    EXPECT_THROW(RunSources(""), ProgramEndRequest);
    EXPECT_NE(ErrorLog().find("Unable to set source configuration\r\n"), std::string::npos);

    run.sources.clear();
    Settings().useSource = "FAKE";
    EXPECT_THROW(RunSources(""), ProgramEndRequest);
    EXPECT_NE(
        ErrorLog().find("No source configurations defined.\nCheck that the configurations are "
                        "correct in the system options\r\n"),
        std::string::npos);

    std::filesystem::remove(Settings().templateDir + "/T.txf");
    EXPECT_THROW(RunSources(""), ProgramEndRequest);
    EXPECT_NE(ErrorLog().find("txengine unable to locate template files.\n"), std::string::npos);
    // Where the templates were looked for, and why none was found there.
    EXPECT_NE(ErrorLog().find("\nNo file matches " + Settings().templateDir + "/*.txf\r\n"),
              std::string::npos)
        << ErrorLog();
    Settings().templateDir += "/gone";
    EXPECT_THROW(RunSources(""), ProgramEndRequest);
    EXPECT_NE(ErrorLog().find("\n" + Settings().templateDir + ": No such file or directory\r\n"),
              std::string::npos);
}

TEST_F(EngineRun, UnusableOutputFileIsReportedOnceAndBlocksDeletion) {
    Template("Bad.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", env.ProgramDir());
    Template("Good.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("good.csv"));
    first.messages = {Message("m1", ""), Message("m2", "")};
    Settings().deleteFlag = 2;
    SetSilentMode(true);
    RunSources("");
    EXPECT_EQ(Out("good.csv"), "m1\r\nm2\r\n");
    std::string log = ErrorLog();
    // The report's own line, and the file with the system's reason beside it.
    std::string bad =
        "Invalid Output file defined. in Bad.txf\n" + env.ProgramDir() + ": Is a directory\r\n";
    ASSERT_NE(log.find(bad), std::string::npos) << log;
    EXPECT_EQ(log.find(bad, log.find(bad) + 1), std::string::npos);
    EXPECT_NE(log.find("Message failed to parse correctly and was not deleted"), std::string::npos);
    EXPECT_EQ(first.deletes, 1);  // only the second message, once the template is skipped
    // The run's account gives the bad template its own reason, not the last one reported.
    const std::vector<TemplateTally>& tallies = run.Context().tallies;
    ASSERT_EQ(tallies.size(), 2u);
    EXPECT_EQ(tallies[0].reason,
              "Invalid Output file defined. in Bad.txf; " + env.ProgramDir() + ": Is a directory");
    EXPECT_EQ(tallies[1].failures, 0);
    EXPECT_FALSE(run.Context().nothingWritable);
}

// Reading a whole mail source to write nothing helps nobody: when every active template's
// output file fails to open, each is named with its reason and no message is read.
TEST_F(EngineRun, NoMessageIsReadWhenNoActiveTemplateCanWriteItsOutput) {
    const std::string missing = env.ProgramDir() + "/no-such-folder/";
    Template("A.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", missing + "a.csv");
    Template("B.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", "");
    Template("Off.txf", "False", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("off.csv"));
    first.messages = {Message("m1", "")};
    Settings().deleteFlag = 2;
    SetSilentMode(true);
    RunSources("");
    EXPECT_TRUE(first.calls.empty());  // not even connected
    EXPECT_TRUE(run.Context().nothingWritable);
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("Invalid Output file defined. in A.txf\n" + missing +
                       "a.csv: No such file or directory\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Invalid Output file defined. in B.txf\nNo output file is named.\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(
        SystemLog().find(" No message was read: no active template can write its output file.\r\n"),
        std::string::npos);

    // One template that can write is enough for the run to read the mail, as before.
    Template("Off.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("off.csv"));
    run.Renew();
    RunSources("");
    EXPECT_EQ(Out("off.csv"), "m1\r\n");
    EXPECT_FALSE(run.Context().nothingWritable);
    EXPECT_EQ(first.deletes, 0);  // the failing templates keep the message
}

// Each message once: a run over mail it has read before writes no line and disposes of
// nothing; a template whose line could not be written is offered the message again. The
// messages here have no header block, so they are told apart by what they hold.
TEST_F(EngineRun, ProcessOnceOffersEachMessageOnceAndRecordsOnlyWrittenLines) {
    Template("Good.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("good.csv"));
    Template("Later.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("later/later.csv"));
    first.messages = {Message("m1", "a"), Message("m2", "b")};
    Settings().processOnce = true;
    Settings().deleteFlag = 2;
    SetSilentMode(true);
    RunSources("");
    EXPECT_EQ(Out("good.csv"), "m1\r\nm2\r\n");
    EXPECT_EQ(first.deletes, 1);  // the first failed with Later.txf
    run.Renew();
    RunSources("");
    EXPECT_EQ(Out("good.csv"), "m1\r\nm2\r\n");
    EXPECT_EQ(first.deletes, 1);
    std::filesystem::create_directories(OutPath("later"));
    run.Renew();
    RunSources("");
    EXPECT_EQ(Out("later/later.csv"), "m1\r\nm2\r\n");
    EXPECT_EQ(Out("good.csv"), "m1\r\nm2\r\n");
    EXPECT_EQ(first.deletes, 3);
}

// A message's lines are in its output file, not only gathered, before the message is deleted
// or recorded as processed; the file is looked at as each message is deleted, and before the
// second message is fetched in a run that records.
TEST_F(EngineRun, LinesAreWrittenBeforeTheMessageIsDeletedOrRecorded) {
    Template("T.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("t.csv"));
    first.messages = {Message("m1", "a"), Message("m2", "b")};
    std::vector<std::string> atDeletion;
    first.onDelete = [&] { atDeletion.push_back(Out("t.csv")); };
    Settings().deleteFlag = 2;
    RunSources("");
    EXPECT_EQ(atDeletion, (std::vector<std::string>{"m1\r\n", "m1\r\nm2\r\n"}));

    first.messages = {Message("m3", "c"), Message("m4", "d")};
    std::string beforeSecond;
    first.beforeNext = [&](std::size_t index) {
        if (index == 1) beforeSecond = Out("t.csv");
    };
    Settings().deleteFlag = 0;
    Settings().processOnce = true;
    run.Renew();
    RunSources("");
    EXPECT_EQ(beforeSecond, "m1\r\nm2\r\nm3\r\n");
    EXPECT_EQ(Out("t.csv"), "m1\r\nm2\r\nm3\r\nm4\r\n");
}

// A variable line longer than the reader takes would lose its later items (here the stop
// text and flags) and give the whole field as the value: the template is reported once, by
// name and variable, and skipped; its messages are not deleted.
TEST_F(EngineRun, OverlongVariableLineSkipsItsTemplateForTheRun) {
    Template(
        "Long.txf", "True", "<NONE>", "",
        {"S;MSG_SUBJECT;;;0;0;0;0;0", "Code;MSG_TEXT;" + std::string(600, 's') + ";;0;0;0;0;0"},
        "S,Code", OutPath("long.csv"));
    Template("Good.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("good.csv"));
    first.messages = {Message("m1", ""), Message("m2", "")};
    Settings().deleteFlag = 2;
    SetSilentMode(true);
    RunSources("");
    EXPECT_EQ(Out("good.csv"), "m1\r\nm2\r\n");
    EXPECT_EQ(Out("long.csv"), "");
    const std::string log = ErrorLog();
    const std::string report = "Variable line too long in template " + Settings().templateDir +
                               "/Long.txf: Var2 is longer than 509";
    ASSERT_NE(log.find(report), std::string::npos) << log;
    EXPECT_EQ(log.find(report, log.find(report) + 1), std::string::npos);
    EXPECT_EQ(first.deletes, 0);
}

// Each message starts without failures: the last message of one source failing does not keep
// the first message of the next source from being deleted.
TEST_F(EngineRun, AFailedMessageDoesNotHoldBackTheNextSourcesFirst) {
    Template("Bad.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", env.ProgramDir());
    Template("Good.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S",
             OutPath("good.csv"));
    first.messages = {Message("m1", "")};
    FakeSource second;
    second.SetID("Second");
    second.messages = {Message("m2", "")};
    run.sources.push_back(&second);
    Settings().deleteFlag = 2;
    SetSilentMode(true);
    RunSources("");
    EXPECT_EQ(Out("good.csv"), "m1\r\nm2\r\n");
    EXPECT_EQ(first.deletes, 0);
    EXPECT_EQ(second.deletes, 1);
}

TEST_F(EngineRun, MissingTemplateFileSkipsTheRestOfTheMessage) {
    Template("A.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("a.csv"));
    Template("B.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("b.csv"));
    first.messages = {Message("m1", "")};
    SetSilentMode(true);
    run.Context().settings = Settings();
    GetTemplateFiles(run.Context(), "");
    std::filesystem::remove(Settings().templateDir + "/A.txf");
    first.GetFirstMsg();
    MessageWork message(first, run.Context().templateFiles.size());
    DoParsing(run.Context(), message);
    EXPECT_NE(ErrorLog().find("txengine unable to locate Template files.\n" +
                              Settings().templateDir + "/A.txf: No such file or directory"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(OutPath("b.csv")));
    EXPECT_EQ(message.templateStatus[0], TemplateOutcome::Failed);
    EXPECT_FALSE(message.allParsedOK);
}

TEST_F(EngineRun, OutputLineRules) {
    Template("T.txf", "True", "<NONE>", "",
             {"A;MSG_SUBJECT;;;1;0;0;0;0", "B;MSG_TEXT;Note:;{End of Field};0;1;0;0;0",
              "C;MSG_TEXT;Missing:;;0;0;0;0;0"},
             "A,C,B,Nobody", OutPath("t.csv"), "COMMA", "False");
    first.messages = {Message("  say  \"hi\"  ", "Note: line one\r\nline  two\r\n\r\nthree"),
                      Message("  say  \"hi\"  ", "Note: line one\r\nline  two\r\n\r\nthree"),
                      Message("  SAY  \"hi\"  ", "Note: x")};
    RunSources("");
    EXPECT_EQ(Out("t.csv"),
              "\"say 'hi'\",,line one line two three,\r\n"
              "\"SAY 'hi'\",,x,\r\n");
}

TEST_F(EngineRun, TemplateEditedDuringTheRunTakesEffectAtTheNextMessage) {
    Template("T.txf", "True", "<NONE>", "",
             {"A;MSG_SUBJECT;;;0;0;0;0;0", "B;MSG_TEXT;Code:;;0;0;0;0;0"}, "A,B", OutPath("t.csv"));
    first.messages = {Message("one", "Code: 1"), Message("two", "none"), Message("three", "none")};
    first.beforeNext = [&](std::size_t index) {
        if (index == 2)
            Template("T.txf", "True", "<NONE>", "",
                     {"A;MSG_SUBJECT;;;0;0;0;0;0", "B;MSG_TEXT;Code:;;0;0;0;0;0"}, "B,A",
                     OutPath("t.csv"));
    };
    RunSources("");
    // The second message's empty code does not inherit the first one's value.
    EXPECT_EQ(Out("t.csv"), "one,1\r\ntwo,\r\n,three\r\n");
}

TEST_F(EngineRun, DuplicatesAreCheckedAgainstLinesWrittenByOthersToo) {
    Template("T.txf", "True", "<NONE>", "", {"A;MSG_SUBJECT;;;0;0;0;0;0"}, "A", OutPath("t.csv"),
             "COMMA", "False");
    WriteFileBytes(OutPath("t.csv"), "  seen  \r\nold\r");
    first.messages = {Message("seen", ""), Message("new", ""), Message("new", ""),
                      Message("later", "")};
    first.beforeNext = [&](std::size_t index) {
        // Another program appends while the run goes on.
        if (index == 3) WriteFileBytes(OutPath("t.csv"), Out("t.csv") + "later\r\n");
    };
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "  seen  \r\nold\rnew\r\nlater\r\n");
}

// Another program's appends between two messages are seen by the next duplicate check: the
// batch the run gathered is written after them first, so an unfinished line of theirs is
// completed by the batch's first line, and a whole line of theirs makes the later messages'
// repeats of it duplicates. The batch's own lines count too ("o" is not written twice).
TEST_F(EngineRun, DuplicateCheckSeesAppendsBetweenMessages) {
    // The first line must still be gathered when the other program appends, however slow the
    // machine.
    run.Context().outputs.SetBatchInterval(std::chrono::hours(1));
    Template("T.txf", "True", "<NONE>", "", {"A;MSG_SUBJECT;;;0;0;0;0;0"}, "A", OutPath("t.csv"),
             "COMMA", "False");
    first.messages = {Message("one", ""), Message("o", ""),   Message("two", ""),
                      Message("o", ""),   Message("six", ""), Message("six", "")};
    const auto append = [&](std::string_view bytes) {
        std::ofstream(OutPath("t.csv"), std::ios::binary | std::ios::app) << bytes;
    };
    first.beforeNext = [&](std::size_t index) {
        if (index == 1) append("tw");       // joined by the batch's first line: "twone"
        if (index == 4) append("six\r\n");  // a whole line: the last two messages repeat it
    };
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "twone\r\nsix\r\no\r\ntwo\r\n");
}

// Lines end at CR LF or a lone CR; a lone LF is part of its line. A record with a line break
// inside is compared whole with each line, the same within a run and in the next run.
TEST_F(EngineRun, DuplicateCheckReadsLinesAsTheFileIsRead) {
    Template("T.txf", "True", "<NONE>", "", {"A;MSG_SUBJECT;;;0;0;0;0;0"}, "A", OutPath("t.csv"),
             "COMMA", "False");
    WriteFileBytes(OutPath("t.csv"), "joined\nline\r\nother\nhalf\r\n");
    const auto messages = [&] {
        return std::vector<std::shared_ptr<txMessage>>{
            Message("joined\nline", ""), Message("half", ""),        Message("two\r\nlines", ""),
            Message("two\r\nlines", ""), Message("bare\nbreak", ""), Message("bare\nbreak", "")};
    };
    first.messages = messages();
    RunSources("");
    const std::string once =
        "joined\nline\r\nother\nhalf\r\nhalf\r\ntwo\r\nlines\r\ntwo\r\nlines\r\nbare\nbreak\r\n";
    EXPECT_EQ(Out("t.csv"), once);

    // The next run finds the bare-LF record and again not the one split over two lines.
    run.Renew();
    first = testing::FakeSource{};
    first.SetID("Fake inbox");
    first.messages = messages();
    RunSources("");
    EXPECT_EQ(Out("t.csv"), once + "two\r\nlines\r\ntwo\r\nlines\r\n");
}

TEST_F(EngineRun, OutputFileIsCreatedAtTheFirstMessageEvenWithoutAMatch) {
    Template("T.txf", "True", "MSG_SUBJECT", "invoice", {"A;MSG_SUBJECT;;;0;0;0;0;0"}, "A",
             OutPath("t.csv"));
    Template("Empty.txf", "True", "<NONE>", "", {"A;MSG_SUBJECT;;;0;0;0;0;0"}, "",
             OutPath("empty.csv"));
    first.messages = {Message("no match here", ""), Message("nor here", "")};
    RunSources("");
    ASSERT_TRUE(std::filesystem::exists(OutPath("t.csv")));
    EXPECT_EQ(Out("t.csv"), "");
    // An empty output definition appends an empty line for every matching message.
    EXPECT_EQ(Out("empty.csv"), "\r\n\r\n");
}

TEST_F(EngineRun, HtmlAttachmentsLoseTheirTagsBeforeTheSearch) {
    std::string page = env.ProgramDir() + "/page.htm";
    WriteFileBytes(page, "<html><body><p>Total:&nbsp;<b>42</b> EUR</p></body></html>");
    Template("T.txf", "True", "ATTACHMENT", "total: 42", {"Total;ATTACHMENT;Total:;EUR;0;0;1;0;0"},
             "Total", OutPath("t.csv"));
    first.messages = {Message("s", "", {page})};
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "42\r\n");
}

TEST_F(EngineRun, SpaceDelimiterCollapsesEmptyValues) {
    Template("T.txf", "True", "<NONE>", "",
             {"A;MSG_SUBJECT;;;0;0;0;0;0", "B;SENDER_TYPE;;;0;0;0;0;0"}, "A,B,A", OutPath("t.txt"),
             "SPACE");
    first.messages = {Message("x", "")};
    RunSources("");
    EXPECT_EQ(Out("t.txt"), "x x\r\n");
}

TEST_F(EngineRun, VariableMatchingRules) {
    Template("T.txf", "True", "MSG_TEXT", "total",
             {"NoCase;MSG_TEXT;ORDER NO:;{END OF LINE};0;0;0;0;0",
              "Word;MSG_TEXT;Order;{End of Line};0;0;1;1;0",
              "Line;MSG_TEXT;Total:;{End of Line};0;0;1;0;1", "Sender;SENDER_ADDRESS;;;0;0;1;0;0",
              "Lower;msg_subject;;;0;0;1;0;0"},
             "NoCase,Word,Line,Sender,Lower", OutPath("t.csv"), "TAB");
    first.messages = {Message("Subj", "Order no: 4711\r\nOrders: 5\r\nOrder 6\r\nTotal: 12 EUR"),
                      Message("Subj", "Sub Total: 3\r\nTotal: 12")};
    RunSources("");
    EXPECT_EQ(Out("t.csv"),
              "4711\tno: 4711\t12 EUR\tsender@example.org\tSubj\r\n"
              // Leading empty values go with the line's trimmed tabs.
              "sender@example.org\tSubj\r\n");
}

TEST_F(EngineRun, AttachmentsAreSearchedInOrder) {
    std::string a1 = env.ProgramDir() + "/a1.txt", a2 = env.ProgramDir() + "/a2.txt",
                a3 = env.ProgramDir() + "/a3.txt";
    WriteFileBytes(a1, "nothing here");
    WriteFileBytes(a2, "Code: A-1 end");
    WriteFileBytes(a3, "Code: B-2 end");
    Template("T.txf", "True", "ATTACHMENT", "b-2", {"Code;ATTACHMENT;Code:;end;0;0;1;0;0"}, "Code",
             OutPath("t.csv"));
    first.messages = {Message("s", "", {a1, a2, a3}), Message("s", "", {})};
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "A-1\r\n");  // filter on the third, value from the second
}

// A filter on an attachment's name or type looks at every attachment, as one on its text does;
// the variable without a line per attachment takes the first attachment's.
TEST_F(EngineRun, AttachmentNameFilterLooksAtEveryAttachment) {
    const std::string notes = env.ProgramDir() + "/$$notes.txt",
                      invoice = env.ProgramDir() + "/$$invoice.pdf";
    WriteFileBytes(notes, "x");
    WriteFileBytes(invoice, "%PDF-1.4");
    Template("T.txf", "True", "ATTACHMENT_NAME", ".pdf",
             {"S;MSG_SUBJECT;;;0;0;0;0;0", "N;ATTACHMENT_NAME;;;0;0;0;0;0",
              "B;ATTACHMENT_SIZE;;;0;0;0;0;0"},
             "S,N,B", OutPath("t.csv"));
    first.messages = {Message("both", "", {notes, invoice}), Message("notes", "", {notes}),
                      Message("none", "", {})};
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "both,notes.txt,1\r\n");
}

// Status line 2 of a template comes before the template is read, and a damaged template is
// reported for every message that reaches it, not once per parse of its file.
TEST_F(EngineRun, DamagedTemplateIsReportedForEveryMessageAfterItsStatusLine) {
    struct LogAtStatus final : StatusWindow {
        std::function<std::string()> errorLog;
        std::vector<std::pair<std::string, std::size_t>>
            seen;  // status line 2, error log length then
        void Load() override {}
        void Show() override {}
        void Unload() override {}
        void EnableTimer() override {}
        void SetLineText(int line, const std::string& text) override {
            if (line == 2 && text.starts_with("Using")) seen.emplace_back(text, errorLog().size());
        }
        int ProgressMinimum(int) const override { return 0; }
        int ProgressMaximum(int) const override { return 100; }
        void SetProgress(int, int) override {}
    } window;
    window.errorLog = [&] { return ErrorLog(); };
    SetWindow(&window);
    WriteFileBytes(Settings().templateDir + "/Bad.txf",
                   "[General]\r\nActive=False\r\nNum_Variables=40000\r\n[Variables]\r\n");
    first.messages = {Message("one", ""), Message("two", "")};
    SetSilentMode(true);  // reports go to the log only
    RunSources("");
    SetSilentMode(false);
    SetWindow(nullptr);
    const std::string log = ErrorLog();
    std::size_t reports = 0;
    for (std::size_t at = log.find("Overflow"); at != std::string::npos;
         at = log.find("Overflow", at + 1))
        ++reports;
    EXPECT_EQ(reports, 2u) << log;
    ASSERT_EQ(window.seen.size(), 2u);
    // Each message's status line was shown before that message's report was written.
    EXPECT_EQ(window.seen[0].second, 0u);
    EXPECT_LT(window.seen[1].second, log.size());
    EXPECT_GT(window.seen[1].second, 0u);
}

// Files changed by other programs while the run goes on, with the run's file watch and with
// the checks it falls back to where a directory cannot be watched.
TEST_F(EngineRun, TwoPathsOfOneOutputFileKeepOrderAndDuplicates) {
    // B names A's file by another path and takes no duplicates: it must see A's lines.
    Template("A.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("t.csv"));
    Template("B.txf", "True", "<NONE>", "",
             {"S;MSG_SUBJECT;;;0;0;0;0;0", "N;SENDER_NAME;;;0;0;0;0;0"}, "S", OutPath("./t.csv"),
             "COMMA", "False");
    Template("C.txf", "True", "<NONE>", "", {"N;SENDER_NAME;;;0;0;0;0;0"}, "N",
             OutPath("sub/../t.csv"));
    std::filesystem::create_directories(OutPath("sub"));
    first.messages = {Message("one", ""), Message("two", "")};
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "one\r\nAnn Smith\r\ntwo\r\nAnn Smith\r\n");
}

TEST_F(EngineRun, WorkingTemplateCopyGetsItsValuesBackForEveryMessage) {
    Template("T.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("t.csv"));
    const std::string path = Settings().templateDir + "/T.txf";
    TemplateCache& cache = run.Context().templates;
    std::shared_ptr<clsTemplate> first = cache.Load(path, false);
    ASSERT_TRUE(first);
    first->colFields()->Item(1)->SetValue("left from the last message");
    first->SetLastRan("12/7/2026 6:00:00 PM");
    // Without scripts the same copy comes back, as the file gave it.
    std::shared_ptr<clsTemplate> again = cache.Load(path, false);
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->colFields()->Item(1)->Value(), "");
    EXPECT_EQ(again->LastRan(), "Never");
    // A script may change anything, so with scripts every message gets a copy of its own.
    std::shared_ptr<clsTemplate> scripted = cache.Load(path, true);
    EXPECT_NE(scripted, first);
    scripted->SetOutputFile("elsewhere.csv");
    scripted->colFields()->Item(1)->SetFieldName("Changed");
    std::shared_ptr<clsTemplate> after = cache.Load(path, false);
    EXPECT_EQ(after->OutputFile(), OutPath("t.csv"));
    EXPECT_EQ(after->colFields()->Item(1)->FieldName(), "S");
}

// The answers kept for a template's place in the run's list hold only while nothing changed.
TEST_F(EngineRun, TemplateAnswersKeptForItsPlaceGoWhenTheFileOrTheCacheChanges) {
    Template("T.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("t.csv"));
    const std::string dir = Settings().templateDir;
    TemplateCache& cache = run.Context().templates;
    FileWatch& watch = run.Context().watch;
    const auto load = [&] {
        watch.Poll();
        const std::optional<std::string> path = cache.Find(dir, "T.txf", 0);
        return path ? cache.Load(*path, false, 0) : nullptr;
    };
    const std::shared_ptr<clsTemplate> kept = load();
    ASSERT_TRUE(kept);
    EXPECT_EQ(load(), kept);
    // Written in place within the same second: the next look reads the new text.
    Template("T.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("u.csv"));
    const std::shared_ptr<clsTemplate> edited = load();
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->OutputFile(), OutPath("u.csv"));
    EXPECT_EQ(load(), edited);
    // The engine's own stamp makes the cache read the file again.
    cache.StampWritten(edited->FileName(), "12/8/2026 8:00:00 PM");
    EXPECT_NE(load(), edited);
    std::filesystem::remove(dir + "/T.txf");
    EXPECT_EQ(load(), nullptr);
}

class EngineRunWhileFilesChange : public EngineRun, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        EngineRun::SetUp();
        if (!GetParam()) run.Context().watch.Disable();
        // What these tests look at is where a batch goes when it is written at the end; on a
        // slow machine (under a sanitizer) it must not fall due between the messages.
        run.Context().outputs.SetBatchInterval(std::chrono::hours(1));
    }
};

TEST_P(EngineRunWhileFilesChange, OutputFileRemovedOrRenamedIsCreatedAgainAtItsPath) {
    Template("A.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("a.csv"));
    Template("B.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("b.csv"),
             "COMMA", "False");
    first.messages = {Message("one", ""), Message("two", ""), Message("three", ""),
                      Message("four", "")};
    first.beforeNext = [&](std::size_t index) {
        if (index == 1) {
            std::filesystem::remove(OutPath("a.csv"));
            std::filesystem::rename(OutPath("b.csv"), OutPath("b-old.csv"));
        }
        if (index == 3) {
            // Replaced by a file of another program that already holds the next line.
            WriteFileBytes(OutPath("b-new.csv"), "four\r\n");
            std::filesystem::rename(OutPath("b-new.csv"), OutPath("b.csv"));
        }
    };
    RunSources("");
    // The lines are gathered and written at the path as it is then: a.csv, removed before any
    // was written, is made again and gets them all; b.csv's file, renamed, gets none (the
    // file made again in its place got "one" and was replaced by the other program's file,
    // whose line counts as a duplicate).
    EXPECT_EQ(Out("a.csv"), "one\r\ntwo\r\nthree\r\nfour\r\n");
    EXPECT_EQ(Out("b-old.csv"), "");
    EXPECT_EQ(Out("b.csv"), "four\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(ErrorLog(), "");
}

TEST_P(EngineRunWhileFilesChange, TemplateEditedRemovedAndAddedBackTakesEffectAtTheNextMessage) {
    Template("T.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "S", OutPath("t.csv"));
    first.messages = {Message("one", ""), Message("two", ""), Message("three", ""),
                      Message("four", ""), Message("five", "")};
    first.beforeNext = [&](std::size_t index) {
        // Edited in place to a file of the same size.
        if (index == 2)
            Template("T.txf", "True", "<NONE>", "", {"S;MSG_SUBJECT;;;0;0;0;0;0"}, "X",
                     OutPath("t.csv"));
        if (index == 3)
            std::filesystem::rename(Settings().templateDir + "/T.txf", OutPath("T.saved"));
        if (index == 4)
            Template("T.txf", "True", "<NONE>", "",
                     {"S;MSG_SUBJECT;;;0;0;0;0;0", "X;SENDER_NAME;;;0;0;0;0;0"}, "X,S",
                     OutPath("t.csv"));
    };
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "one\r\ntwo\r\n\r\nAnn Smith,five\r\n");
    // The missing template is reported for the message that reached it.
    EXPECT_NE(ErrorLog().find("unable to locate Template files."), std::string::npos);
}

// What a run keeps of a template's output (its file, delimiter, format and header row) belongs to
// the template as it was read: an edit of any of them is used from the next message.
TEST_P(EngineRunWhileFilesChange, EditedOutputFileDelimiterAndFormatAreUsedFromTheNextMessage) {
    const std::vector<std::string> vars = {"S;MSG_SUBJECT;;;0;0;0;0;0",
                                           "X;SENDER_NAME;;;0;0;0;0;0"};
    Template("T.txf", "True", "<NONE>", "", vars, "S,X", OutPath("t.csv"));
    first.messages = {Message("one", ""), Message("two", ""), Message("three", ""),
                      Message("four", "")};
    first.beforeNext = [&](std::size_t index) {
        if (index == 1)
            Template("T.txf", "True", "<NONE>", "", vars, "S,X", OutPath("t.csv"), "TAB");
        if (index == 2)
            Template("T.txf", "True", "<NONE>", "", vars, "S,X", OutPath("t.csv"), "TAB", "True",
                     "Format=JSONL\r\n");
        if (index == 3)
            Template("T.txf", "True", "<NONE>", "", vars, "S,X", OutPath("u.csv"), "SEMICOLON",
                     "True", "HeaderRow=True\r\n");
    };
    RunSources("");
    EXPECT_EQ(Out("t.csv"),
              "one,Ann Smith\r\ntwo\tAnn Smith\r\n{\"S\":\"three\",\"X\":\"Ann Smith\"}\n");
    EXPECT_EQ(Out("u.csv"), "S;X\r\nfour;Ann Smith\r\n");
    EXPECT_EQ(ErrorLog(), "");
}

// The searches a run keeps per variable belong to the template as it was read: an edited start
// or stop text is searched for from the next message on.
TEST_P(EngineRunWhileFilesChange, EditedSearchTextsAreUsedFromTheNextMessage) {
    const auto write = [&](std::string_view start, std::string_view matchCase) {
        Template("T.txf", "True", "<NONE>", "",
                 {"C;MSG_TEXT;" + std::string(start) + ";{End of Line};0;0;" +
                  std::string(matchCase) + ";0;0"},
                 "C", OutPath("t.csv"), "COMMA", "True");
    };
    write("Code:", "0");
    const std::string body = "code: lower\r\nCode: upper\r\nRef: R-1\r\n";
    first.messages = {Message("1", body), Message("2", body), Message("3", body),
                      Message("4", body)};
    first.beforeNext = [&](std::size_t index) {
        if (index == 1) write("Code:", "1");  // now in exact case
        if (index == 2) write("Ref:", "1");
    };
    RunSources("");
    EXPECT_EQ(Out("t.csv"), "lower\r\nupper\r\nR-1\r\nR-1\r\n");
}

INSTANTIATE_TEST_SUITE_P(WatchedAndChecked, EngineRunWhileFilesChange, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Watched")
                                               : std::string("StatChecked");
                         });

// --- POP3 accounts on a server that misbehaves --------------------------------------------------

using tallix::testing::ScriptedPop3Message;
using tallix::testing::ScriptedPop3Offer;
using tallix::testing::ScriptedPop3Server;
using Delivery = ScriptedPop3Message::Delivery;

// An order message; `padding` lines come between its header and its order line.
std::string OrderMail(const std::string& code, std::size_t padding = 0) {
    std::string text = "From: Ann <ann@example.org>\r\nSubject: order " + code + "\r\n";
    for (std::size_t i = 0; i < padding; ++i)
        text += "X-Pad: a header line that keeps the order line far from the start\r\n";
    return text + "\r\nOrder no: " + code + "\r\nThanks\r\n";
}

// An order message longer than the POP3 size limit.
std::string HugeOrderMail(const std::string& code) {
    std::string text = OrderMail(code);
    const std::string filler(78, 'f');
    text.reserve(static_cast<std::size_t>(sources::kMaxPop3MessageBytes) + 1024);
    while (static_cast<std::int64_t>(text.size()) <= sources::kMaxPop3MessageBytes)
        text += filler + "\r\n";
    return text;
}

// Runs read one POP3 account, "Shop", on the scripted server, through the engine's own POP3
// source and client over libcurl, with the time limits the test gives; parsed messages are
// deleted without asking. The parameter: the server offers PIPELINING (the RETRs of a batch are
// sent together) or not (one at a time).
class EngineRunPop3 : public EngineRun, public ::testing::WithParamInterface<bool> {
  protected:
    void Serve(std::vector<ScriptedPop3Message> messages, sources::Pop3TimeLimits limits,
               ScriptedPop3Offer offer = {}) {
        offer.pipelining = GetParam();
        server.reset();
        server = std::make_unique<ScriptedPop3Server>(std::move(messages),
                                                      env.ProgramDir() + "/journal", offer);
        ASSERT_NE(server->Port(), 0);
        Settings().deleteFlag = 2;
        Template("Orders.txf", "True", "MSG_SUBJECT", "order",
                 {"OrderNo;MSG_TEXT;Order no:;{End of Line};0;0;0;0;0"}, "OrderNo",
                 OutPath("orders.csv"));
        m_limits = limits;
        UseServer();
    }
    // The next run reads the server (after run.Renew()).
    void UseServer() {
        run.Context().sourceFactory = [this](const std::string&) {
            sources::clsPOP3Config account;
            account.SetID("Shop");
            account.SetHostName("127.0.0.1");
            account.SetPort(server->Port());
            account.SetLoginName("ann");
            account.SetPassword("secret");
            // The scripted server speaks plain POP3 only.
            account.SetSecurity(std::string(sources::kSecurityNone));
            auto source = std::make_unique<sources::Pop3Source>(
                account,
                std::make_unique<sources::Pop3Client>(
                    std::make_unique<sources::CurlPop3Transport>(), &events),
                nullptr);
            source->SetTimeLimits(m_limits);
            auto list = std::make_unique<sources::Pop3SourceList>();
            list->Add(std::move(source));
            return std::unique_ptr<sources::SourceList>(std::move(list));
        };
    }
    // The commands the server received of `verb`.
    std::vector<std::string> Received(const std::string& verb) const {
        std::vector<std::string> lines;
        for (const std::string& line : server->Journal())
            if (line.rfind(verb, 0) == 0) lines.push_back(line);
        return lines;
    }
    bool Pipelined() const { return GetParam(); }

    EnginePop3Events events;
    std::unique_ptr<ScriptedPop3Server> server;
    sources::Pop3TimeLimits m_limits;
};

TEST_P(EngineRunPop3, AServerThatTricklesAMessageEndsTheAccountAtTheTimeLimit) {
    // At two bytes a second the second message would take about a minute.
    Serve({{OrderMail("A-1")}, {OrderMail("A-2"), Delivery::Trickle}, {OrderMail("A-3")}},
          {2000, 1 << 20});
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\n");
    const std::string log = ErrorLog();
    EXPECT_NE(
        log.find("POP3 account Shop: message 2 of 3 could not be retrieved; the rest of this "
                 "account is not read: The server did not finish within the time limit of 2 s"),
        std::string::npos)
        << log;
    EXPECT_EQ(Received("RETR"), (std::vector<std::string>{"RETR 1", "RETR 2"}));
    // The session was given up in the middle of a transfer: no QUIT, nothing deleted.
    EXPECT_EQ(server->Committed(), std::vector<int>{});
}

TEST_P(EngineRunPop3, AMessageCutOffByAClosedConnectionGivesNoLine) {
    Serve({{OrderMail("A-1")}, {OrderMail("A-2", 20), Delivery::CloseMidway}, {OrderMail("A-3")}},
          {});
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\n") << "no line for the half message";
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("message 2 of 3 could not be retrieved; the rest of this account is not "
                       "read: The connection ended before the end of the message"),
              std::string::npos)
        << log;
    // Pipelined, the connection was gone before the first message's lines were written, so
    // its deletion could not be sent; either way nothing was committed.
    EXPECT_EQ(Received("DELE"),
              Pipelined() ? std::vector<std::string>{} : std::vector<std::string>{"DELE 1"});
    EXPECT_EQ(server->Committed(), std::vector<int>{});
}

TEST_P(EngineRunPop3, ARefusedMessageIsLoggedWithTheServersOwnReply) {
    Serve({{OrderMail("A-1")}, {OrderMail("A-2"), Delivery::Refused}, {OrderMail("A-3")}}, {});
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\n");
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("message 2 of 3 could not be retrieved; the rest of this account is not "
                       "read: The server refused the command (-ERR message is locked by another "
                       "session)"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("+OK"), std::string::npos) << log;
    // The session was still whole: the first message's deletion was committed.
    EXPECT_EQ(server->Committed(), std::vector<int>{1});
}

TEST_P(EngineRunPop3, MessagesPastTheSizeLimitAreSkippedAndTheRestIsReadAndDeleted) {
#if defined(__SANITIZE_THREAD__)
    // 64 MiB through the scripted server take longer under ThreadSanitizer than the time
    // limit of a message that claims 1,000 bytes.
    GTEST_SKIP() << "too slow under ThreadSanitizer for the time limits it relies on";
#endif
    // The second one says how long it is, the third claims 1,000 bytes and sends more.
    const std::string huge = HugeOrderMail("A-2");
    Serve({{OrderMail("A-1")},
           {huge},
           {HugeOrderMail("A-3"), Delivery::Whole, 1000},
           {OrderMail("A-4")}},
          {});
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\nA-4\r\n");
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("POP3 account Shop: message 2 of 4 (" + std::to_string(huge.size()) +
                       " bytes) is longer than the limit of 67108864 bytes; it is skipped and "
                       "left on the server"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("message 3 of 4 ("), std::string::npos) << log;
    EXPECT_EQ(Received("RETR"), (std::vector<std::string>{"RETR 1", "RETR 3", "RETR 4"}))
        << "a message announced past the limit is not transferred";
    EXPECT_EQ(server->Committed(), (std::vector<int>{1, 4}));
}

// With ProcessOnce the server's unique ids name the messages: a second run writes nothing,
// a message added since gives exactly its lines, and the key does not depend on the message's
// place in the mailbox (the server renumbers after deletions) or on its header.
TEST_P(EngineRunPop3, UniqueIdsKeepEachMessageOnceAcrossRuns) {
    Settings().processOnce = true;
    // Two messages with one header (no Message-ID): their header digest is one key, their
    // unique ids are two.
    std::vector<ScriptedPop3Message> mailbox = {{OrderMail("A-1")}, {OrderMail("A-1")}};
    ScriptedPop3Offer offer;
    offer.ids = {"k1", "k2"};
    Serve(mailbox, {}, offer);
    Settings().deleteFlag = 0;
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\nA-1\r\n");
    EXPECT_EQ(Received("UIDL").size(), 1u) << "one UIDL per session";

    run.Renew();
    UseServer();
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\nA-1\r\n") << "the second run writes nothing";

    // A new message comes first in the mailbox: the old ones move up a number.
    mailbox.insert(mailbox.begin(), {OrderMail("B-7")});
    offer.ids = {"k3", "k1", "k2"};
    Serve(mailbox, {}, offer);
    Settings().deleteFlag = 0;
    run.Renew();
    UseServer();
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\nA-1\r\nB-7\r\n");
    EXPECT_EQ(ErrorLog().find("UIDL"), std::string::npos) << ErrorLog();
}

// A UIDL listing that gives one id to two messages, or a line that is not one, names neither
// message: they are told apart by their header (here equal for the first two, so the second
// is taken for the first), and one error-log line says how many.
TEST_P(EngineRunPop3, UnusableUniqueIdsFallBackToTheHeader) {
    Settings().processOnce = true;
    ScriptedPop3Offer offer;
    offer.uidlLines = {"1 same", "2 same", "3 has\x01control", "4 good"};
    Serve({{OrderMail("A-1")}, {OrderMail("A-1")}, {OrderMail("A-3")}, {OrderMail("A-4")}}, {},
          offer);
    Settings().deleteFlag = 0;
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\nA-3\r\nA-4\r\n");
    EXPECT_NE(ErrorLog().find("POP3 account Shop (127.0.0.1:" + std::to_string(server->Port()) +
                              "): the server's UIDL listing gave 3 of 4 messages no unique id"),
              std::string::npos)
        << ErrorLog();
    run.Renew();
    UseServer();
    RunSources("");
    EXPECT_EQ(Out("orders.csv"), "A-1\r\nA-3\r\nA-4\r\n");
}

INSTANTIATE_TEST_SUITE_P(OneAtATimeAndPipelined, EngineRunPop3, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Pipelined")
                                               : std::string("OneAtATime");
                         });

// The duplicate check reads a CSV file by records (a line break inside quotation marks is part
// of the value) and a JSON Lines file by LF, so a record written once is not written again,
// within a run or in the next one.
TEST_F(EngineRun, DuplicateCheckReadsRecordsAsTheirFormatWritesThem) {
    for (const std::string format : {"CSV", "JSONL"}) {
        const std::string file = "dup." + format;
        Template("T.txf", "True", "<NONE>", "", {"A;MSG_SUBJECT;;;0;0;0;0;0"}, "A", OutPath(file),
                 "COMMA", "False", "Format=" + format + "\r\nHeaderRow=True\r\n");
        first.messages = {Message("two\r\nlines, \"quoted\"", ""), Message("plain", ""),
                          Message("two\r\nlines, \"quoted\"", ""), Message("plain", "")};
        RunSources("");
        const std::string once = Out(file);
        const std::string want =
            format == "CSV"
                ? "A\r\n\"two\r\nlines, \"\"quoted\"\"\"\r\nplain\r\n"
                : "[\"A\"]\n{\"A\":\"two\\r\\nlines, \\\"quoted\\\"\"}\n{\"A\":\"plain\"}\n";
        EXPECT_EQ(once, want) << format;
        run.Renew();
        RunSources("");
        EXPECT_EQ(Out(file), once) << format;
    }
}

// A header is read from the message's header text whatever the source: the first of its name
// in any case, folded lines joined, encoded words decoded; a header of a part, after the blank
// line, is not the message's. The filter reads it as a variable does.
TEST_F(EngineRun, HeaderFieldsComeFromTheMessageHeader) {
    Template("T.txf", "True", "MSG_HEADER:list-id", "shop",
             {"Id;MSG_HEADER:X-Order-Id;;;0;0;0;0;0", "Tag;msg_header: x-tag ;;;0;0;0;0;0",
              "Part;MSG_HEADER:Content-Disposition;;;0;0;0;0;0"},
             "Id,Tag,Part", OutPath("h.csv"), "SEMICOLON");
    const auto withHeader = [](std::string header) {
        auto m = Message("s", "");
        m->SetHeader(header);
        return m;
    };
    first.messages = {
        withHeader("List-Id: <shop.example>\nX-ORDER-ID: =?ISO-8859-1?Q?Gr=FC=DFe?=\n\t 42\n"
                   "x-tag: one\r\nX-Tag: two\r\n\r\nContent-Disposition: attachment\r\n"),
        withHeader("List-Id: other\r\nX-Order-Id: 7\r\n"), withHeader("X-Order-Id: 8\r\n")};
    RunSources("");
    EXPECT_EQ(Out("h.csv"),
              "Gr\xC3\xBC\xC3\x9F"
              "e\t 42;one;\r\n");
}

// A pattern stopped by its limits in a trial is among the trial's reports; the error log is
// not written.
TEST_F(EngineRun, StoppedPatternInATrialIsReportedNotLogged) {
    Template("T.txf", "True", "<NONE>", "", {"A;MSG_TEXT;;;0;0;0;0;0"}, "A", OutPath("t.csv"),
             "COMMA", "True", "", "[Patterns]\r\nA=(x|xx)+\\d\r\n");
    clsTemplate tpl;
    tpl.SetFileName(Settings().templateDir + "/T.txf");
    ASSERT_TRUE(tpl.ReadTemplate());
    first.messages = {Message("s", std::string(20000, 'x'))};
    TrialMessage seen;
    TrySource(Settings(), tpl, first, [&](const TrialMessage& m, std::int32_t) {
        seen = m;
        return true;
    });
    ASSERT_EQ(seen.reports.size(), 1u);
    EXPECT_NE(seen.reports[0].find("variable A: the pattern was stopped"), std::string::npos);
    EXPECT_EQ(seen.lines, std::vector<std::string>{""});
    EXPECT_EQ(ErrorLog(), "");
}

}  // namespace
}  // namespace tallix::engine
