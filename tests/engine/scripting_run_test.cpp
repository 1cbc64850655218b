// Template scripts through the engine's run, in both languages: which procedures run and in
// what order, what a script changes in the written line, and how failures are reported
// without stopping the run.

#include "engine/scripting.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_run.h"
#include "engine/run_context.h"
#include "model/message.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/settings_store.h"
#include "tests/engine/fake_run.h"
#include "tests/engine/fake_source.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;
using testing::FakeSource;

TEST(SplitScriptNames, TwoCharacterRuleEmptyNameEndsNamesKeepBlanks) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"Main,Report", {"Main", "Report"}},
        {"Main, Report", {"Main", " Report"}},
        {"Main,X", {"Main"}},
        {"X", {}},
        {"Main,,Report", {"Main"}},
        {",Main", {}},
        {"Main,", {"Main"}},
        {"  ,Main", {}},
        {"Main , Report ,", {"Main ", " Report "}},
        {"", {}},
        {"AB", {"AB"}},
        {"Main,AB", {"Main", "AB"}},
    };
    for (const auto& [text, names] : cases)
        EXPECT_EQ(SplitScriptNames(text), names) << "'" << text << "'";
}

// Every procedure appends its name to the output file's ".trace" file, so the order shows.
struct Language {
    const char* name;
    const char* ext;
    const char* library;
    int boomLine;  // file line of the failing call in Boom
};

const Language kJavaScript{
    "JScript",
    "js",
    "function Trace(name) { System.AppendLine(Template.OutputFile + '.trace', name); }\n"
    "function Main() { Trace('Main'); }\n"
    "\n"
    "function Report() { Trace('Report'); }\n"
    "function X() { Trace('X'); }\n"
    "function Change() {\n"
    "  Trace('Change');\n"
    "  Template.SetValueByName('Total', 'changed ' + Template.GetValueByName('Total'));\n"
    "}\n"
    "function Boom() {\n"
    "  Trace('Boom');\n"
    "  notDefinedAnywhere();\n"
    "}\n"
    "function Forever() { Trace('Forever'); while (true) {} }\n"
    "function Reshape() {\n"
    "  if (Template.GetValueByName('Total') != '12.50') return;\n"
    "  Template.OutputFile = Template.OutputFile + '.other';\n"
    "  Template.OutputDeliminator = 'TAB';\n"
    "  Template.OutputLine = 'Total,Total';\n"
    "}\n"
    "function Unique() {\n"
    "  Template.Active = false;\n"
    "  if (Template.GetValueByName('Total') == '12.50') Template.AllowDuplicate = false;\n"
    "}\n",
    12,
};

const Language kLua{
    "lua",
    "lua",
    "local function Trace(name)\n"
    "  local f = assert(io.open(Template.OutputFile .. '.trace', 'a')) f:write(name, '\\r\\n') "
    "f:close()\n"
    "end\n"
    "function Main() Trace('Main') end\n"
    "\n"
    "function Report() Trace('Report') end\n"
    "function X() Trace('X') end\n"
    "function Change()\n"
    "  Trace('Change')\n"
    "  Template:SetValueByName('Total', 'changed ' .. Template:GetValueByName('Total'))\n"
    "end\n"
    "function Boom()\n"
    "  Trace('Boom')\n"
    "  notDefinedAnywhere()\n"
    "end\n"
    "function Forever() Trace('Forever') while true do end end\n"
    "function Reshape()\n"
    "  if Template:GetValueByName('Total') ~= '12.50' then return end\n"
    "  Template.OutputFile = Template.OutputFile .. '.other'\n"
    "  Template.OutputDeliminator = 'TAB'\n"
    "  Template.OutputLine = 'Total,Total'\n"
    "end\n"
    "function Unique()\n"
    "  Template.Active = false\n"
    "  if Template:GetValueByName('Total') == '12.50' then Template.AllowDuplicate = false end\n"
    "end\n",
    14,
};

class ScriptedRun : public ::testing::TestWithParam<Language> {
  protected:
    void SetUp() override {
        SetProgramIdentity("txengine", "txEngine");
        ResetSettings();
        SetSilentMode(true);
        Settings().templateDir = env.ProgramDir() + "/templates";
        Settings().scriptDir = env.ProgramDir() + "/scripts";
        Settings().useSource = "FAKE";
        Settings().useScripts = true;
        Settings().scriptEngine = GetParam().name;
        std::filesystem::create_directories(Settings().templateDir);
        std::filesystem::create_directories(Settings().scriptDir);
        WriteFileBytes(ScriptPath(), GetParam().library);
        source.SetID("Fake inbox");
    }
    void TearDown() override { script::ResetLimitsForTesting(); }
    void RunSources(const std::string& selection) { run.RunSources(selection); }

    std::string ScriptPath() const { return Settings().scriptDir + "/main." + GetParam().ext; }

    // One template: every message whose subject holds "order" gives its total.
    void OrdersTemplate(const std::string& scriptsToRun) {
        WriteFileBytes(Settings().templateDir + "/Orders.txf",
                       "[General]\r\nActive=True\r\nNum_Variables=1\r\nLast_Ran=Never\r\n"
                       "[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=order\r\n"
                       "[Variables]\r\nVar1=Total;MSG_TEXT;Total:;{End of Line};0;0;0;0;0\r\n"
                       "[Output]\r\nAllowDuplicate=True\r\nFile=" +
                           OutPath() +
                           "\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=Total\r\n"
                           "[Scripts]\r\nrun=" +
                           scriptsToRun + "\r\n");
    }
    void Messages(int n) {
        for (int i = 1; i <= n; ++i) {
            auto m = std::make_shared<txMessage>();
            m->SetSubject("order " + std::to_string(i));
            m->SetBody("Total: " + std::to_string(i) + "2.50\r\n");
            m->SetAttachments(std::make_shared<TextCollection>());
            source.messages.push_back(m);
        }
    }
    std::string OutPath() const { return env.ProgramDir() + "/orders.csv"; }
    std::string Output() const { return ReadFileBytes(OutPath()); }
    std::string Trace() const {
        std::error_code ec;
        return std::filesystem::exists(OutPath() + ".trace", ec)
                   ? ReadFileBytes(OutPath() + ".trace")
                   : "<none>";
    }
    std::string ErrorLog() const { return env.ReadProgramFile(std::string(kErrorLog)); }
    int Count(const std::string& text, const std::string& part) const {
        int n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1))
            ++n;
        return n;
    }

    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    FakeSource source;
    testing::FakeRun run{{&source}, "FAKE"};
};

TEST_P(ScriptedRun, ProcedureListsRunInOrderBeforeTheLineIsWritten) {
    struct Case {
        std::string scriptsToRun;
        std::string trace;
        std::string output;
        std::string logged;  // part of the error log ("" when nothing is logged)
    };
    const std::vector<Case> cases = {
        {"Main,Report", "Main\r\nReport\r\n", "12.50\r\n", ""},
        {"Main, Report", "Main\r\n", "12.50\r\n",
         "Procedure \" Report\" is not defined by the scripts"},
        {"Main,X", "Main\r\n", "12.50\r\n", ""},
        {"X", "<none>", "12.50\r\n", ""},
        {"Main,,Report", "Main\r\n", "12.50\r\n", ""},
        {",Main,Report", "<none>", "12.50\r\n", ""},
        {"Change", "Change\r\n", "changed 12.50\r\n", ""},
        {"Report,Main", "Report\r\nMain\r\n", "12.50\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scriptsToRun);
        std::filesystem::remove(OutPath());
        std::filesystem::remove(OutPath() + ".trace");
        std::filesystem::remove(env.ProgramDir() + "/" + std::string(kErrorLog));
        run.Renew();
        source.messages.clear();
        OrdersTemplate(c.scriptsToRun);
        Messages(1);
        RunSources("");
        EXPECT_EQ(Trace(), c.trace);
        EXPECT_EQ(Output(), c.output);
        if (c.logged.empty()) {
            EXPECT_EQ(ErrorLog(), "");
        } else {
            EXPECT_EQ(Count(ErrorLog(), "Sub DoScripts: \nError# "), 1) << ErrorLog();
            EXPECT_NE(ErrorLog().find(c.logged), std::string::npos) << ErrorLog();
        }
        EXPECT_TRUE(Settings().useScripts);
    }
    EXPECT_TRUE(ui.boxes.empty());
}

// The script extension setting narrows only the manager's list of procedures.
TEST_P(ScriptedRun, RunLoadsEveryFileWhateverTheScriptExtension) {
    Settings().scriptExt = "none";
    OrdersTemplate("Main,Report");
    Messages(1);
    RunSources("");
    EXPECT_EQ(Trace(), "Main\r\nReport\r\n");
    EXPECT_EQ(ErrorLog(), "");
}

TEST_P(ScriptedRun, FailingSecondProcedureStopsTheRestButNotTheLine) {
    OrdersTemplate("Main,Boom,Report");
    Messages(2);
    RunSources("");
    EXPECT_EQ(Trace(), "Main\r\nBoom\r\nMain\r\nBoom\r\n");
    EXPECT_EQ(Output(), "12.50\r\n22.50\r\n");
    const std::string log = ErrorLog();
    EXPECT_EQ(Count(log, "Sub DoScripts: \nError# 1003  Procedure \"Boom\": "), 2) << log;
    EXPECT_NE(log.find("notDefinedAnywhere"), std::string::npos) << log;
    EXPECT_NE(log.find(" at " + ScriptPath() + " line " + std::to_string(GetParam().boomLine)),
              std::string::npos)
        << log;
    // The template did not fail: the run counts both messages as parsed.
    EXPECT_NE(env.ReadProgramFile(std::string(kSystemLog)).find("Parsed:2 of 2"),
              std::string::npos);
}

TEST_P(ScriptedRun, RunawayScriptIsStoppedAndTheNextMessageIsStillParsed) {
    script::SetLimitsForTesting({std::chrono::milliseconds(250), script::kScriptMemoryLimit});
    OrdersTemplate("Forever,Main");
    Messages(2);
    RunSources("");
    EXPECT_EQ(Trace(), "Forever\r\nForever\r\n");
    EXPECT_EQ(Output(), "12.50\r\n22.50\r\n");
    EXPECT_EQ(Count(ErrorLog(), "Error# 1005  Procedure \"Forever\": stopped after running 250 ms"),
              2)
        << ErrorLog();
}

TEST_P(ScriptedRun, SyntaxErrorIsReportedWhileLoadingAndEachProcedureThenFails) {
    WriteFileBytes(Settings().scriptDir + "/zz_broken." + GetParam().ext,
                   "\r\n\r\nfunction Broken( \r\n");
    OrdersTemplate("Main");
    Messages(1);
    RunSources("");
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("clsScripting - GetScripts\nError# 1002  Loading the scripts: "),
              std::string::npos)
        << log;
    // Empty lines are dropped from the joined code; the position still names the file's line.
    EXPECT_NE(log.find(" at " + Settings().scriptDir + "/zz_broken." + GetParam().ext + " line 3"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Procedure \"Main\" is not defined by the scripts"), std::string::npos)
        << log;
    EXPECT_EQ(Output(), "12.50\r\n");
}

TEST_P(ScriptedRun, OversizedScriptDirectoryIsReportedAndNotLoaded) {
    // A stray large file (a log, a mailbox) in the script directory.
    std::string big;
    const std::string line = std::string(99, 'x') + "\n";
    while (big.size() <= kMaxScriptCodeBytes) big += line;
    WriteFileBytes(Settings().scriptDir + "/zz_stray.log", big);
    OrdersTemplate("Main");
    Messages(1);
    RunSources("");
    const std::string log = ErrorLog();
    EXPECT_NE(log.find("clsScripting - GetScripts\nError# 6  The script files of " +
                       Settings().scriptDir + " hold more than 16 MB"),
              std::string::npos)
        << log.substr(0, 500);
    EXPECT_NE(log.find("Procedure \"Main\" is not defined by the scripts"), std::string::npos);
    EXPECT_EQ(Trace(), "<none>");
    EXPECT_EQ(Output(), "12.50\r\n");
}

TEST_P(ScriptedRun, EmptyScriptDirectoryFailsEveryRunOncePerMessage) {
    std::filesystem::remove(ScriptPath());
    OrdersTemplate("Main,Report");
    Messages(2);
    RunSources("");
    EXPECT_EQ(Count(ErrorLog(), "Sub DoScripts: "), 2) << ErrorLog();
    EXPECT_EQ(Output(), "12.50\r\n22.50\r\n");
}

TEST_P(ScriptedRun, EmptyLanguageSwitchesScriptsOffWithoutAWord) {
    Settings().scriptEngine = "   ";
    OrdersTemplate("Main");
    Messages(2);
    RunSources("");
    // Switched off for the rest of the run; the user's setting stays as it was.
    EXPECT_FALSE(run.Context().settings.useScripts);
    EXPECT_TRUE(Settings().useScripts);
    EXPECT_EQ(Trace(), "<none>");
    EXPECT_EQ(Output(), "12.50\r\n22.50\r\n");
    EXPECT_EQ(ErrorLog(), "");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_P(ScriptedRun, RejectedLanguageShowsItsBoxOnceEvenWhenSilent) {
    Settings().scriptEngine = "VBScript";
    OrdersTemplate("Main");
    Messages(2);
    RunSources("");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text,
              "Scripting engine for the defined script type could not be started\n"
              "Check the Script name in the options dialog.");
    EXPECT_EQ(ui.boxes[0].title, "Error");
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Information);
    EXPECT_FALSE(run.Context().settings.useScripts);
    EXPECT_EQ(Trace(), "<none>");
    EXPECT_EQ(Output(), "12.50\r\n22.50\r\n");
    EXPECT_EQ(ErrorLog(), "");
}

TEST_P(ScriptedRun, ScriptChangesDoNotReachTheTemplateFileOrTheNextMessage) {
    OrdersTemplate("Change");
    Messages(2);
    RunSources("");
    // Each message starts from its own extracted value, not from the last one's change.
    EXPECT_EQ(Output(), "changed 12.50\r\nchanged 22.50\r\n");
    EXPECT_EQ(ReadFileBytes(Settings().templateDir + "/Orders.txf").find("changed"),
              std::string::npos);
}

TEST_P(ScriptedRun, AssignedMembersShapeTheCurrentMessagesLineOnly) {
    OrdersTemplate("Reshape");
    Messages(2);
    RunSources("");
    // The first message's line goes to the file, in the form and with the delimiter the script
    // chose; the second message is written as the template file says.
    EXPECT_EQ(ReadFileBytes(OutPath() + ".other"), "12.50\t12.50\r\n");
    EXPECT_EQ(Output(), "22.50\r\n");
    EXPECT_EQ(ErrorLog(), "");
    const std::string file = ReadFileBytes(Settings().templateDir + "/Orders.txf");
    EXPECT_EQ(file.find(".other"), std::string::npos);
    EXPECT_EQ(file.find("TAB"), std::string::npos);
}

TEST_P(ScriptedRun, AssignedDuplicateFlagHoldsForTheCurrentMessageOnly) {
    // The template file allows duplicates; the script forbids them for totals of 12.50.
    OrdersTemplate("Unique");
    for (const char* total : {"12.50", "12.50", "32.50", "32.50"}) {
        auto m = std::make_shared<txMessage>();
        m->SetSubject("order");
        m->SetBody(std::string("Total: ") + total + "\r\n");
        m->SetAttachments(std::make_shared<TextCollection>());
        source.messages.push_back(m);
    }
    RunSources("");
    // The script's Active = false does not stop this template for the messages after it.
    EXPECT_EQ(Output(), "12.50\r\n32.50\r\n32.50\r\n");
    EXPECT_EQ(ErrorLog(), "");
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, ScriptedRun, ::testing::Values(kJavaScript, kLua),
                         [](const auto& info) { return std::string(info.param.ext); });

}  // namespace
}  // namespace tallix::engine
