// The engine's templates library on its own, as the template manager links it (without the
// engine core): the script directory read into a host and listed by procedure, and the
// listing rules it shares with the template files.

#include "engine/templates/script_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "engine/templates/template_listing.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/settings_store.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::IsolatedEnvironment;
using tallix::testing::ScriptedUi;
using tallix::testing::WriteFileBytes;
using Names = std::vector<std::string>;

class ScriptDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        SetProgramIdentity("tallix", "Tallix");
        ResetSettings();
        SetSilentMode(true);
        dir = env.ProgramDir() + "/scripts";
        std::filesystem::create_directories(dir + "/sub.lua");
        Settings().scriptEngine = "Lua";
        Settings().useScripts = true;
    }
    // The procedures the manager's editor lists for the directory.
    Names Procedures() {
        std::unique_ptr<clsScripting> runner = clsScripting::Create(Settings().scriptEngine);
        if (!runner) return {"<no runner>"};
        runner->SetDirectory(dir);
        return runner->ListProcedures();
    }
    std::string ErrorLog() { return env.ReadProgramFile(std::string(kErrorLog)); }

    IsolatedEnvironment env;
    ScriptedUi ui;
    std::string dir;
};

TEST_F(ScriptDirectory, ProceduresOfEveryOrdinaryVisibleFileWhateverItsName) {
    // Line ends of all three kinds; a file without a dot is a script file too.
    WriteFileBytes(dir + "/b.lua", "function Second()\rend\r\n");
    WriteFileBytes(dir + "/A.LUA", "function First()\nend\n");
    WriteFileBytes(dir + "/helpers", "function Third()\r\nend");
    WriteFileBytes(dir + "/.hidden.lua", "function Hidden() end");
    EXPECT_EQ(Procedures(), (Names{"First", "Second", "Third"}));
    EXPECT_EQ(ErrorLog(), "");
    EXPECT_TRUE(Settings().useScripts);
}

TEST_F(ScriptDirectory, ErrorNamesTheFileAndItsOwnLine) {
    // Files are joined in name order without their empty lines; the error still names the
    // line as it stands in its own file.
    WriteFileBytes(dir + "/a.lua", "\n\nfunction Fine()\nend\n");
    WriteFileBytes(dir + "/b.lua", "\r\n\r\nfunction Broken( \r\n");
    Procedures();
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("clsScripting - GetScripts\nError# 1002  Loading the scripts: "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" at " + dir + "/b.lua line 3"), std::string::npos) << log;
}

// The scripts' top-level code runs while they are listed: a script that waits for a program
// or crashes the interpreter there does not take the manager with it.
TEST_F(ScriptDirectory, ListingOutlastsScriptsThatHangOrCrashWhileLoading) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer catches the deliberate crash in the scripts' process and ends it with an exit
    // status of its own instead of the signal this test looks for.
    GTEST_SKIP() << "the crash is caught by the sanitizer";
#endif
    script::SetLimitsForTesting({std::chrono::milliseconds(300), script::kScriptMemoryLimit});
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"os.execute('sleep 20')",
         "Error# 1005  Loading the scripts: stopped after running 300 ms, the time limit of a "
         "script"},
        {"string.find(string.rep('a', 16), string.rep('a*', 16) .. 'b')",
         "Error# 1005  Loading the scripts: stopped after running 300 ms"},
        {"os.execute('kill -SEGV $PPID')",
         "Error# 1003  Loading the scripts: the script process ended with signal 11"},
    };
    for (const auto& [code, reported] : cases) {
        SCOPED_TRACE(code);
        std::filesystem::remove(env.ProgramDir() + "/" + std::string(kErrorLog));
        WriteFileBytes(dir + "/a.lua", "function Listed() end\n" + code + "\n");
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Procedures(), Names{});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
        EXPECT_NE(ErrorLog().find("clsScripting - ListProcedures\n" + reported), std::string::npos)
            << ErrorLog();
    }
    script::ResetLimitsForTesting();
}

TEST_F(ScriptDirectory, LanguageDecidesWhetherThereIsARunner) {
    Settings().scriptEngine = "  ";
    EXPECT_EQ(clsScripting::Create(Settings().scriptEngine), nullptr);
    EXPECT_TRUE(Settings().useScripts);  // the user's setting is the settings store's alone
    EXPECT_TRUE(ui.boxes.empty());

    Settings().scriptEngine = "VBScript";
    EXPECT_EQ(clsScripting::Create(Settings().scriptEngine), nullptr);
    EXPECT_TRUE(Settings().useScripts);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "Scripting engine for the defined script type could not be started\n"
              "Check the Script name in the options dialog.");

    Settings().scriptEngine = " javascript";
    std::unique_ptr<clsScripting> runner = clsScripting::Create(Settings().scriptEngine);
    ASSERT_NE(runner, nullptr);
    EXPECT_EQ(runner->sc()->Language(), " javascript");
    EXPECT_TRUE(Settings().useScripts);
    EXPECT_EQ(ErrorLog(), "");
}

TEST(TemplateListing, OrdinaryFilesOfThePatternInCaseFreeNameOrder) {
    IsolatedEnvironment env;
    const std::string dir = env.ProgramDir() + "/templates";
    std::filesystem::create_directories(dir + "/Folder.txf");
    for (const char* name : {"b.txf", "B.txf", "a.TXF", "notes", ".x.txf"})
        WriteFileBytes(dir + "/" + name, "");
    EXPECT_EQ(ListMatchingFiles(dir + "/*.txf"), (Names{"a.TXF", "B.txf", "b.txf"}));
    EXPECT_EQ(ListMatchingFiles(dir + "/*"), (Names{"a.TXF", "B.txf", "b.txf", "notes"}));
    EXPECT_EQ(ListMatchingFiles(dir + "/missing/*"), Names{});
}

}  // namespace
}  // namespace tallix::engine
