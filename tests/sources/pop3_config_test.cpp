#include "sources/pop3_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "settings/error_reporter.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::sources {
namespace {

using testing::ReadFileBytes;
using testing::WriteFileBytes;

class Pop3Store : public ::testing::Test {
  protected:
    Pop3Store() { SetSilentMode(true); }
    std::string Path() const { return env.ProgramDir() + "/POP3.CFG"; }
    std::vector<std::string> Ids(const colPop3Config& list) const {
        std::vector<std::string> ids;
        for (const auto& account : list) ids.push_back(account->ID());
        return ids;
    }
    std::string ErrorLog() const { return env.ReadProgramFile("txError.Log"); }

    testing::IsolatedEnvironment env;
    testing::ScriptedUi ui;
};

TEST_F(Pop3Store, LivesInTheProgramDirectory) {
    EXPECT_EQ(Pop3ConfigPath(), Path());
    EXPECT_EQ(colPop3Config().ConfigFile(), Path());
}

TEST_F(Pop3Store, MissingFileGivesAnEmptyListAndCreatesNothing) {
    colPop3Config list;
    list.GetConfigs();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_NE(::access(Path().c_str(), F_OK), 0);
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(Pop3Store, PutConfigsWritesTheLayoutInOrder) {
    colPop3Config list;
    clsPOP3Config* home = list.Add();
    home->SetID("Home");
    home->SetHostName("  pop.example.org ");
    home->SetPort(995);
    home->SetLoginName("ann");
    home->SetPassword("  s3cret  ");
    clsPOP3Config* work = list.Add();
    work->SetID("Work");
    work->SetHostName("mail.example.com");
    work->SetLoginName("bob");
    work->SetPassword("pw");
    list.PutConfigs();
    EXPECT_EQ(
        ReadFileBytes(Path()),
        "[GENERAL]\r\nCount=2\r\n[NAMES]\r\nConfig1=Home\r\nConfig2=Work\r\n"
        "[Home]\r\nHostName=pop.example.org\r\nPort=995\r\nLoginName=ann\r\nPassword=s3cret\r\n"
        "[Work]\r\nHostName=mail.example.com\r\nPort=110\r\nLoginName=bob\r\nPassword=pw\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds passwords";

    colPop3Config again;
    again.GetConfigs();
    ASSERT_EQ(Ids(again), (std::vector<std::string>{"Home", "Work"}));
    EXPECT_EQ(again.Item(1)->HostName(), "pop.example.org");
    EXPECT_EQ(again.Item(1)->Port(), 995);
    EXPECT_EQ(again.Item(1)->Password(), "s3cret");
    EXPECT_EQ(again.Item(2)->Port(), 110);
}

TEST_F(Pop3Store, PutConfigsReplacesTheWholeFile) {
    WriteFileBytes(Path(),
                   "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=Old\r\n[Old]\r\nHostName=h\r\n"
                   "[Stray]\r\nKey=value\r\n");
    colPop3Config list;
    list.PutConfigs();
    EXPECT_EQ(ReadFileBytes(Path()), "[GENERAL]\r\nCount=0\r\n");
}

TEST_F(Pop3Store, ReadingEdgeCases) {
    struct Case {
        const char* what;
        std::string file;
        std::vector<std::string> ids;
    };
    const std::string longName(300, 'n');
    const std::vector<Case> cases = {
        {"Count 3 with Config2 missing",
         "[GENERAL]\r\nCount=3\r\n[NAMES]\r\nConfig1=A\r\nConfig3=C\r\n",
         {"A", "C"}},
        {"empty and blank names are skipped",
         "[GENERAL]\r\nCount=3\r\n[NAMES]\r\nConfig1=\r\nConfig2=   \r\nConfig3=C\r\n",
         {"C"}},
        {"only the first Count names",
         "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=A\r\nConfig2=B\r\n",
         {"A"}},
        {"Count rounds half to even",
         "[GENERAL]\r\nCount=1.5\r\n[NAMES]\r\nConfig1=A\r\nConfig2=B\r\n",
         {"A", "B"}},
        {"non-numeric Count reads 0", "[GENERAL]\r\nCount=two\r\n[NAMES]\r\nConfig1=A\r\n", {}},
        {"Count cut to 9 characters",
         "[GENERAL]\r\nCount=0000000012\r\n[NAMES]\r\nConfig1=A\r\nConfig2=B\r\n",
         {"A"}},
        {"a damaged huge count reads the names that exist",
         "[GENERAL]\r\nCount=999999999\r\n[NAMES]\r\nConfig2=B\r\nConfig999999999=Z\r\nConfig01="
         "X\r\n",
         {"B", "Z"}},
        {"names cut to 254 characters",
         "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=" + longName + "\r\n",
         {longName.substr(0, 254)}},
        {"name keys without regard to case",
         "[general]\r\ncount=1\r\n[names]\r\nCONFIG1=A\r\n",
         {"A"}},
    };
    for (const Case& c : cases) {
        WriteFileBytes(Path(), c.file);
        colPop3Config list;
        list.GetConfigs();
        EXPECT_EQ(Ids(list), c.ids) << c.what;
    }
}

TEST_F(Pop3Store, AccountValuesAndDefaults) {
    WriteFileBytes(
        Path(),
        "[GENERAL]\r\nCount=4\r\n[NAMES]\r\nConfig1=NoPort\r\nConfig2=Text\r\nConfig3=Spaces\r\n"
        "Config4=Twice\r\n"
        "[NoPort]\r\nHostName=h1\r\nLoginName=u1\r\nPassword=p1\r\n"
        "[Text]\r\nPort=pop3\r\n"
        "[Spaces]\r\nHostName=  h3  \r\nPort= 2110 \r\nPassword=\"  quoted  \"\r\n"
        "[Twice]\r\nPort=1\r\n[Twice]\r\nPort=2\r\n");
    colPop3Config list;
    list.GetConfigs();
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Item(1)->Port(), 110) << "missing Port";
    EXPECT_EQ(list.Item(1)->HostName(), "h1");
    EXPECT_EQ(list.Item(2)->Port(), 0) << "non-numeric Port";
    EXPECT_EQ(list.Item(2)->HostName(), "");
    EXPECT_EQ(list.Item(3)->HostName(), "h3");
    EXPECT_EQ(list.Item(3)->Port(), 2110);
    EXPECT_EQ(list.Item(3)->Password(), "quoted") << "read values are trimmed";
    EXPECT_EQ(list.Item(4)->Port(), 1) << "the first section of a name wins";
}

TEST_F(Pop3Store, EmptyNameShowsNoValidNameAndIsSkippedOnReading) {
    colPop3Config list;
    list.Add()->SetID("A");
    clsPOP3Config* unnamed = list.Add();
    unnamed->SetID("   ");
    unnamed->SetHostName("lost");
    list.Add()->SetID("C");
    list.PutConfigs();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "No valid name");
    const std::string file = ReadFileBytes(Path());
    EXPECT_NE(file.find("Config2=   \r\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("lost"), std::string::npos) << file;

    colPop3Config again;
    again.GetConfigs();
    EXPECT_EQ(Ids(again), (std::vector<std::string>{"A", "C"}));
}

TEST_F(Pop3Store, SameIdSharesOneSectionAndTheLaterValuesWin) {
    colPop3Config list;
    list.Add()->SetID("Dup");
    list.Item(1)->SetHostName("first");
    list.Add()->SetID("Dup");
    list.Item(2)->SetHostName("second");
    list.PutConfigs();
    colPop3Config again;
    again.GetConfigs();
    ASSERT_EQ(again.Count(), 2);
    EXPECT_EQ(again.Item(1)->HostName(), "second");
    EXPECT_EQ(again.Item(2)->HostName(), "second");
}

TEST_F(Pop3Store, LineBreaksInValuesDoNotStartNewLines) {
    colPop3Config list;
    clsPOP3Config* account = list.Add();
    account->SetID("A");
    account->SetHostName("host\r\n[GENERAL]\r\nCount=99");
    account->SetPassword("pw\nPort=1");
    list.PutConfigs();
    colPop3Config again;
    again.GetConfigs();
    ASSERT_EQ(again.Count(), 1);
    EXPECT_EQ(again.Item(1)->HostName(), "host");
    EXPECT_EQ(again.Item(1)->Password(), "pw");
    EXPECT_EQ(again.Item(1)->Port(), 110);
}

TEST_F(Pop3Store, GetConfigsReplacesTheListButACountOfZeroKeepsIt) {
    colPop3Config list;
    list.Add()->SetID("Kept");
    WriteFileBytes(Path(), "[GENERAL]\r\nCount=0\r\n");
    list.GetConfigs();
    EXPECT_EQ(Ids(list), (std::vector<std::string>{"Kept"}));
    WriteFileBytes(Path(), "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=New\r\n");
    list.GetConfigs();
    EXPECT_EQ(Ids(list), (std::vector<std::string>{"New"}));
    EXPECT_TRUE(list.DeleteConfigurations());
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(Pop3Store, SingleKeyOperationsUpdateOnlyTheirKey) {
    WriteFileBytes(
        Path(),
        "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=A\r\n[A]\r\nHostName=h\r\nPort=110\r\n");
    clsPOP3Config account(Path());
    account.SetID(" A ");
    account.SetPort(2995);
    account.WritePort();
    account.SetPassword(" new ");
    account.WritePassword();
    EXPECT_EQ(ReadFileBytes(Path()),
              "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=A\r\n"
              "[A]\r\nHostName=h\r\nPort=2995\r\nPassword=new\r\n");
    clsPOP3Config reader(Path());
    reader.SetID("A");
    reader.ReadPort();
    reader.ReadHostName();
    EXPECT_EQ(reader.Port(), 2995);
    EXPECT_EQ(reader.HostName(), "h");
}

TEST_F(Pop3Store, FailuresAreReportedWithTheirContext) {
    colPop3Config list;
    EXPECT_EQ(list.Item(3), nullptr);
    EXPECT_EQ(list.Item("none"), nullptr);
    list.Remove(1);
    // A port too large for 32 bits fails the read of that key only.
    WriteFileBytes(Path(),
                   "[GENERAL]\r\nCount=1\r\n[NAMES]\r\nConfig1=A\r\n[A]\r\nPort="
                   "99999999999\r\nHostName=h\r\n");
    list.GetConfigs();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Item(1)->HostName(), "h");
    // The file's directory is missing: the rewrite fails and says so.
    colPop3Config elsewhere(env.ProgramDir() + "/missing/POP3.CFG");
    elsewhere.PutConfigs();
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("colPOP3Config = Get Item"), std::string::npos) << log;
    EXPECT_NE(log.find("colPOP3Config - Remove"), std::string::npos) << log;
    EXPECT_NE(log.find("clsPOP3Config - ReadPort"), std::string::npos) << log;
    EXPECT_NE(log.find("colPOP3Config - PutConfigs"), std::string::npos) << log;
}

}  // namespace
}  // namespace tallix::sources

namespace tallix::sources {
namespace {

TEST_F(Pop3Store, SharedKeysAreWrittenOnlyWhenSetAndReadBack) {
    colPop3Config list(env.ProgramDir() + "/IMAP.CFG");
    clsPOP3Config* work = list.Add();
    work->SetID("Work");
    work->SetHostName("imap.example.com");
    work->SetPort(993);
    work->SetLoginName("bob");
    work->SetPasswordCommand("pass show mail/work");
    work->SetAuth("XOAUTH2");
    work->SetFolder("Orders/2026");
    work->SetMoveTo("Done");
    clsPOP3Config* plain = list.Add();
    plain->SetID("Plain");
    plain->SetHostName("h");
    plain->SetSecurity("None");
    list.PutConfigs();
    EXPECT_EQ(ReadFileBytes(env.ProgramDir() + "/IMAP.CFG"),
              "[GENERAL]\r\nCount=2\r\n[NAMES]\r\nConfig1=Work\r\nConfig2=Plain\r\n"
              "[Work]\r\nHostName=imap.example.com\r\nPort=993\r\nLoginName=bob\r\nPassword=\r\n"
              "PasswordCommand=pass show mail/work\r\nAuth=XOAUTH2\r\nFolder=Orders/2026\r\n"
              "MoveTo=Done\r\n"
              "[Plain]\r\nHostName=h\r\nPort=110\r\nLoginName=\r\nPassword=\r\nSecurity=None\r\n");

    colPop3Config again(env.ProgramDir() + "/IMAP.CFG");
    again.GetConfigs();
    ASSERT_EQ(again.Count(), 2);
    EXPECT_EQ(again.Item(1)->PasswordCommand(), "pass show mail/work");
    EXPECT_EQ(again.Item(1)->Auth(), "XOAUTH2");
    EXPECT_EQ(again.Item(1)->Folder(), "Orders/2026");
    EXPECT_EQ(again.Item(1)->MoveTo(), "Done");
    EXPECT_EQ(again.Item(2)->Security(), "None");

    // A key emptied in the dialog is emptied in the file, not left with its old value.
    again.Item(1)->SetMoveTo("");
    again.Item(1)->WriteConfig();
    colPop3Config third(env.ProgramDir() + "/IMAP.CFG");
    third.GetConfigs();
    EXPECT_EQ(third.Item(1)->MoveTo(), "");
}

TEST(AccountKeys, SecurityAndAuthValues) {
    struct Case {
        const char* text;
        std::int32_t port;
        std::optional<AccountSecurity> want;
    };
    const Case cases[] = {
        {"", 993, AccountSecurity::Tls},
        {"", 995, AccountSecurity::Tls},
        {"", 143, AccountSecurity::StartTls},
        {"", 110, AccountSecurity::StartTls},
        {"", 40000, AccountSecurity::StartTls},
        {" tls ", 143, AccountSecurity::Tls},
        {"StartTLS", 993, AccountSecurity::StartTls},
        {"NONE", 993, AccountSecurity::None},
        {"SSL", 993, std::nullopt},
        {"yes", 143, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseSecurity(c.text, c.port), c.want) << c.text;
    EXPECT_EQ(ParseAuth(""), AccountAuth::Plain);
    EXPECT_EQ(ParseAuth("plain"), AccountAuth::Plain);
    EXPECT_EQ(ParseAuth("XOAuth2"), AccountAuth::XOAuth2);
    EXPECT_EQ(ParseAuth("CRAM-MD5"), std::nullopt);
}

TEST(PasswordCommand, SplitsLikeAShellWithoutExpanding) {
    using Words = std::vector<std::string>;
    struct Case {
        const char* command;
        std::optional<Words> want;
    };
    const Case cases[] = {
        {"secret-tool lookup tallix work", Words{"secret-tool", "lookup", "tallix", "work"}},
        {"  pass   show\tmail/work ", Words{"pass", "show", "mail/work"}},
        {"echo 'a b' \"c d\"", Words{"echo", "a b", "c d"}},
        {"echo it's", std::nullopt},
        {"echo \"open", std::nullopt},
        {"   ", std::nullopt},
        {"echo a\\ b", Words{"echo", "a b"}},
        {"echo \"q\\\"x\\n\"", Words{"echo", "q\"x\\n"}},
        {"echo '$HOME' $HOME ~ * `id` $(id)",
         Words{"echo", "$HOME", "$HOME", "~", "*", "`id`", "$(id)"}},
        {"echo ''", Words{"echo", ""}},
        {"echo a''b", Words{"echo", "ab"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.command), c.want) << c.command;
}

TEST(PasswordCommand, GivesTheFirstLineOrSaysWhyWithoutTheOutput) {
    const PasswordCommandResult works = RunPasswordCommand("printf 'hunter2\\r\\nsecond line\\n'");
    EXPECT_TRUE(works.ok) << works.reason;
    EXPECT_EQ(works.password, "hunter2");
    // No shell: the "$HOME" reaches the program as written.
    EXPECT_EQ(RunPasswordCommand("echo '$HOME'").password, "$HOME");

    struct Case {
        const char* command;
        const char* reason;
    };
    const Case failures[] = {
        {"sh -c 'echo leaked-secret; exit 3'", "ended with status 3"},
        {"sh -c 'echo leaked-secret; kill -9 $$'", "ended by a signal"},
        {"true", "printed no password"},
        {"printf '\\nleaked-secret\\n'", "printed no password"},
        {"/nonexistent/tallix-helper", "could not be started"},
        {"echo 'open", "quote that is not closed"},
    };
    for (const Case& c : failures) {
        const PasswordCommandResult r = RunPasswordCommand(c.command);
        EXPECT_FALSE(r.ok) << c.command;
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << c.command << ": " << r.reason;
        EXPECT_EQ(r.reason.find("leaked-secret"), std::string::npos) << r.reason;
        EXPECT_TRUE(r.password.empty());
    }
}

TEST(PasswordCommand, OneThatHangsIsStoppedWithWhatItStarted) {
    const auto start = std::chrono::steady_clock::now();
    // The command's own child keeps the output open after the command is killed.
    const PasswordCommandResult r = RunPasswordCommand("sh -c 'sleep 30 & sleep 30'", 1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("did not end within 1 seconds"), std::string::npos) << r.reason;
    EXPECT_LT(took, std::chrono::seconds(5));
    // A command that printed its line and ended is not held up by a process it left behind
    // with the output still open.
    const auto before = std::chrono::steady_clock::now();
    const PasswordCommandResult left = RunPasswordCommand("sh -c 'echo pw; sleep 30 &'", 5);
    EXPECT_TRUE(left.ok) << left.reason;
    EXPECT_EQ(left.password, "pw");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
}

TEST(PasswordCommand, TheStoredPasswordComesFirst) {
    clsPOP3Config account("unused");
    account.SetPort(143);
    account.SetPassword("stored");
    account.SetPasswordCommand("false");
    AccountLogin login = ResolveLogin(account, false);
    EXPECT_EQ(login.failure, "");
    EXPECT_EQ(login.password, "stored");
    EXPECT_EQ(login.security, AccountSecurity::StartTls);

    account.SetPassword("");
    EXPECT_NE(ResolveLogin(account, false).failure.find("the password command failed"),
              std::string::npos);
    account.SetPasswordCommand("echo from-command");
    EXPECT_EQ(ResolveLogin(account, true).password, "from-command");
    EXPECT_EQ(ResolveLogin(account, true).security, AccountSecurity::Tls);

    account.SetSecurity("ssl");
    EXPECT_NE(ResolveLogin(account, false).failure.find("\"Security=ssl\""), std::string::npos);
}

}  // namespace
}  // namespace tallix::sources
