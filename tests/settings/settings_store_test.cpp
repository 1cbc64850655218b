#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "model/profile_file.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/registry.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix {
namespace {

using testing::IsolatedEnvironment;
using testing::ScriptedUi;

class SettingsStore : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetSettings();
        std::filesystem::create_directories(env.ProgramDir() + "/templates");
    }
    void Store(const char* name, const std::string& value) {
        SaveRegData(kSettingsSection, name, value);
    }
    std::optional<std::string> Stored(const char* name) {
        return profile::ProfileDocument::Load(env.SettingsFile()).Find(kSettingsSection, name);
    }
    void ReadAllEngineAndManagerSettings() {
        GetMapiProfile();
        GetTemplateDir();
        GetUseSource();
        GetUseScripts();
        GetScriptEngine();
        GetScriptDir();
        GetDeleteFlag();
        GetLocalFileName();
        GetScriptExt();
        GetShowHelp();
    }

    IsolatedEnvironment env;
    ScriptedUi ui;
};

TEST_F(SettingsStore, FirstStartWritesOnlyDirectoriesAndDeleteFlag) {
    ReadAllEngineAndManagerSettings();
    auto doc = profile::ProfileDocument::Load(env.SettingsFile());
    EXPECT_EQ(doc.KeyNames(kSettingsSection),
              (std::vector<std::string>{"TemplateDir", "ScriptDir", "DeleteFlag"}));
    EXPECT_EQ(Stored("TemplateDir"), env.ProgramDir() + "/templates");
    EXPECT_EQ(Stored("ScriptDir"), env.ProgramDir() + "/scripts");
    EXPECT_EQ(Stored("DeleteFlag"), "0");
    const auto& s = Settings();
    EXPECT_TRUE(s.showHelp);
    EXPECT_FALSE(s.useScripts);
    EXPECT_FALSE(s.deleteUnused);
    EXPECT_EQ(s.deleteFlag, 0);
    EXPECT_TRUE(ui.boxes.empty());  // the default template directory exists

    struct stat st {};
    ASSERT_EQ(::stat(env.SettingsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A stored flag outside 0 to 2 reads as 0 and is rewritten as "0"; one that is not a 16-bit
// number at all is an overflow: reported, the flag 0 (never delete), the stored text left for
// the user to see and correct.
TEST_F(SettingsStore, DeleteFlagOutOfRangeReadsAsZero) {
    // Logged without the question whether to end the program.
    SetSilentMode(true);
    struct Case {
        const char* stored;
        int flag;
        const char* rewritten;  // nullptr: left as stored
        bool overflow;
    } cases[] = {
        {"7", 0, "0", false},           {"-1", 0, "0", false},       {"1.6", 2, nullptr, false},
        {"1", 1, nullptr, false},       {"2.5", 2, nullptr, false},  {"abc", 0, nullptr, false},
        {"32767", 0, "0", false},       {"-32768", 0, "0", false},   {"32768", 0, nullptr, true},
        {"99999999", 0, nullptr, true}, {"1e300", 0, nullptr, true}, {"-40000", 0, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Store("DeleteFlag", "2");
        Store("DeleteUnused", "True");
        GetDeleteFlag();
        ASSERT_EQ(Settings().deleteFlag, 2);
        const std::string logBefore = env.ReadProgramFile(std::string(kErrorLog));

        Store("DeleteFlag", c.stored);
        GetDeleteFlag();
        EXPECT_EQ(Settings().deleteFlag, c.flag);
        EXPECT_EQ(Stored("DeleteFlag"), c.rewritten ? c.rewritten : c.stored);
        const std::string logged =
            env.ReadProgramFile(std::string(kErrorLog)).substr(logBefore.size());
        EXPECT_EQ(logged.find("modGlobal - GetDeleteFlag") != std::string::npos, c.overflow)
            << logged;
        EXPECT_EQ(logged.find("Error# 6 ") != std::string::npos, c.overflow) << logged;
        if (c.overflow) {
            EXPECT_FALSE(Settings().deleteUnused);
        }
    }
}

TEST_F(SettingsStore, DeleteUnusedIsReadOnlyWithADeleteFlag) {
    Store("DeleteFlag", "0");
    GetDeleteFlag();
    EXPECT_FALSE(Stored("DeleteUnused"));

    Store("DeleteFlag", "1");
    GetDeleteFlag();
    EXPECT_EQ(Stored("DeleteUnused"), "False");
    EXPECT_FALSE(Settings().deleteUnused);

    Store("DeleteUnused", "True");
    GetDeleteFlag();
    EXPECT_TRUE(Settings().deleteUnused);

    Store("DeleteUnused", "true");
    GetDeleteFlag();
    EXPECT_FALSE(Settings().deleteUnused);

    Store("DeleteUnused", "True");
    Store("DeleteFlag", "0");
    GetDeleteFlag();
    EXPECT_FALSE(Settings().deleteUnused);
}

TEST_F(SettingsStore, BooleansAcceptOnlyTheirExactText) {
    Store("UseScripts", "True");
    Store("ShowHelpText", "False");
    GetUseScripts();
    GetShowHelp();
    EXPECT_TRUE(Settings().useScripts);
    EXPECT_FALSE(Settings().showHelp);

    Store("UseScripts", "TRUE");
    Store("ShowHelpText", "false");
    GetUseScripts();
    GetShowHelp();
    EXPECT_FALSE(Settings().useScripts);
    EXPECT_TRUE(Settings().showHelp);
}

TEST_F(SettingsStore, StoredMapiSourceIsUpgraded) {
    Store("UseSource", "MAPI");
    GetUseSource();
    EXPECT_EQ(Settings().useSource, "EXTENDED MAPI");
    EXPECT_EQ(Stored("UseSource"), "EXTENDED MAPI");

    Store("UseSource", "mapi");
    GetUseSource();
    EXPECT_EQ(Settings().useSource, "mapi");
    EXPECT_EQ(Stored("UseSource"), "mapi");
}

TEST_F(SettingsStore, ValuesThatDoNotFitTheReadBufferReadAsEmpty) {
    Store("LocalFileName", std::string(254, 'a'));
    GetLocalFileName();
    EXPECT_EQ(Settings().localFileName.size(), 254u);
    Store("LocalFileName", std::string(255, 'a'));
    GetLocalFileName();
    EXPECT_EQ(Settings().localFileName, "");
}

TEST_F(SettingsStore, ValueNamesMatchWithoutRegardToCaseAndScriptExtIsTrimmed) {
    Store("scriptext", "  js  ");
    GetScriptExt();
    EXPECT_EQ(Settings().scriptExt, "js");
}

TEST_F(SettingsStore, PuttersTrimAndCutAtALineBreak) {
    Settings().mapiProfile = "  /home/u/Maildir  ";
    PutMapiProfile();
    EXPECT_EQ(Stored("Profile"), "/home/u/Maildir");

    Settings().localFileName = "/mail/inbox\n[Settings]\nDeleteFlag=2";
    PutLocalFileName();
    EXPECT_EQ(Stored("LocalFileName"), "/mail/inbox");
    EXPECT_FALSE(Stored("DeleteFlag"));
}

TEST_F(SettingsStore, MissingTemplateDirectoryIsReportedAndKept) {
    Store("TemplateDir", env.ProgramDir() + "/nowhere");
    SetProgramIdentity("txengine", "txEngine");
    GetTemplateDir();
    EXPECT_EQ(Settings().templateDir, env.ProgramDir() + "/nowhere");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "The template directory could not be found.\n"
              "Please define a valid directory in the System Options Dialog");
    EXPECT_EQ(ui.boxes[0].title, "txengine");
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(Stored("TemplateDir"), env.ProgramDir() + "/nowhere");
}

TEST_F(SettingsStore, DefaultTemplateDirectoryThatCannotBeMadeIsNamedWithTheReason) {
    // The program directory is a file: nothing can be made inside it.
    const std::string programDir = env.ProgramDir() + "/file";
    tallix::testing::WriteFileBytes(programDir, "not a directory");
    setenv("TALLIX_HOME", programDir.c_str(), 1);
    ResetProgramDir();
    SetProgramIdentity("txengine", "txEngine");
    GetTemplateDir();
    GetScriptDir();
    setenv("TALLIX_HOME", env.ProgramDir().c_str(), 1);
    ResetProgramDir();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "The template directory could not be found.\n"
              "Please define a valid directory in the System Options Dialog\n" +
                  programDir + "/templates: Not a directory");
    EXPECT_EQ(Settings().templateDir, programDir + "/templates");
}

// A settings file that is there but cannot be read was read as empty and then replaced by the
// defaults the getters store. It is named once with the reason, and left as it is.
TEST_F(SettingsStore, UnreadableSettingsFileIsNamedOnceAndNotReplaced) {
    std::filesystem::create_directories(env.SettingsFile());
    SetSilentMode(true);
    ReadAllEngineAndManagerSettings();
    Store("UseSource", "NETSCAPE");
    const std::string log = env.ReadProgramFile(std::string(kErrorLog));
    const std::string named = env.SettingsFile() + ": Is a directory\r\n";
    ASSERT_NE(log.find("Declares - GetRegData\nError# 75  Path/File access error\n" + named),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(named, log.find(named) + 1), std::string::npos) << log;
    EXPECT_TRUE(std::filesystem::is_directory(env.SettingsFile()));
    EXPECT_EQ(Settings().templateDir, env.ProgramDir() + "/templates");  // defaults still hold
}

TEST(Registry, ConvertStringDropsOneTrailingNul) {
    EXPECT_EQ(ConvertString(std::string("abc\0", 4), 4), "abc");
    EXPECT_EQ(ConvertString("abcd", 4), "abcd");
    EXPECT_EQ(ConvertString("abcd", 2), "ab");
    EXPECT_EQ(ConvertString("", 0), "");
}

}  // namespace
}  // namespace tallix
