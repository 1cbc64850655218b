#include "sources/pop3_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
