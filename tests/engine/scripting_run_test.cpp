// Template scripts through the engine's run, in both languages: which procedures run and in
// what order, what a script changes in the written line, and how failures are reported
// without stopping the run: a failed script fails its template for that message (no line, the
// message stays), whatever it was doing when it failed or was stopped.

#include "engine/scripting.h"

#include <gtest/gtest.h>

#include <chrono>
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
struct Overrun {
    const char* procedure;
    const char* piece;  // what the error names
};
struct Language {
    const char* name;
    const char* ext;
    const char* library;
    int boomLine;  // file line of the failing call in Boom
    // Procedures the interpreter's own check cannot stop: each would run 3 to 20 s or more.
    std::vector<Overrun> overruns;
    const char* binaryChunk;  // Lua: a procedure that loads altered precompiled code
    // What reading a file larger than the script's memory (procedure Slurp) fails with.
    const char* slurpFailure;
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
    "}\n"
    "function Sleeper() { System.Run('sleep 20'); }\n"
    "function Crash() { System.Run('kill -SEGV $PPID'); }\n"
    "function Sorter() { new Array(1000001).join('ab').split('').sort(); }\n"
    "function Slurp() { System.ReadFile(Template.OutputFile + '.big'); }\n"
    "function Finalizer() {\n"
    "  Kept = {};\n"
    "  Duktape.fin(Kept, function () {\n"
    "    var end = Date.now() + 20000; while (Date.now() < end) {}\n"
    "  });\n"
    "}\n",
    12,
    {{"Sleeper", "Procedure \"Sleeper\""},
     {"Sorter", "Procedure \"Sorter\""},
     {"Finalizer", "Closing the scripts"}},
    nullptr,
    "Error# 1003  Procedure \"Slurp\": Error: System.ReadFile: {big}: larger than the ",
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
    "end\n"
    "function Sleeper() os.execute('sleep 20') end\n"
    "function Crash() os.execute('kill -SEGV $PPID') end\n"
    "function Slurp() io.open(Template.OutputFile .. '.big'):read('a') end\n"
    "function Pattern() string.find(string.rep('a', 16), string.rep('a*', 16) .. 'b') end\n"
    "function Sorter()\n"
    "  local t = {string.rep('x', 100000):byte(1, -1)}\n"
    "  for i = 1, #t do t[i] = (i * 7919) % 100003 end\n"
    "  while #t < 6400000 do table.move(t, 1, #t, #t + 1) end\n"
    "  table.sort(t)\n"
    "end\n"
    "function Finalizer()\n"
    "  Kept = setmetatable({}, {__gc = function()\n"
    "    local stop = os.time() + 20 while os.time() < stop do end\n"
    "  end})\n"
    "end\n"
    "function Bytecode()\n"
    "  local code = string.dump(function() return 'abcdefgh' end, true)\n"
    "  local at = code:find('\\3\\0\\0\\0', 1, true)\n"
    "  local altered = code:sub(1, at - 1) .. '\\3\\0\\255\\255' .. code:sub(at + 4)\n"
    "  Trace('Bytecode')\n"
    "  assert(load(altered))()\n"
    "end\n",
    14,
    {{"Sleeper", "Procedure \"Sleeper\""},
     {"Pattern", "Procedure \"Pattern\""},
     {"Sorter", "Procedure \"Sorter\""},
     {"Finalizer", "Closing the scripts"}},
    "Bytecode",
    "Error# 7  Procedure \"Slurp\": stopped at the memory limit of a script (16 MB)",
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
        {"Main, Report", "Main\r\n", "", "Procedure \" Report\" is not defined by the scripts"},
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

// What the procedures after the failing one were to do is missing too: the template fails
// for the message, so with "DeleteFlag" 2 the message stays to be read again.
TEST_P(ScriptedRun, FailingProcedureStopsTheRestAndFailsTheTemplateForThatMessage) {
    Settings().deleteFlag = 2;
    OrdersTemplate("Main,Boom,Report");
    Messages(2);
    RunSources("");
    EXPECT_EQ(Trace(), "Main\r\nBoom\r\nMain\r\nBoom\r\n");
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(source.deletes, 0);
    const std::string log = ErrorLog();
    EXPECT_EQ(Count(log, "Sub DoScripts: \nError# 1003  Procedure \"Boom\": "), 2) << log;
    EXPECT_EQ(Count(log, "Message failed to parse correctly and was not deleted"), 2) << log;
    EXPECT_NE(log.find("notDefinedAnywhere"), std::string::npos) << log;
    EXPECT_NE(log.find(" at " + ScriptPath() + " line " + std::to_string(GetParam().boomLine)),
              std::string::npos)
        << log;
}

TEST_P(ScriptedRun, RunawayScriptIsStoppedAndTheNextMessageIsStillParsed) {
    script::SetLimitsForTesting({std::chrono::milliseconds(250), script::kScriptMemoryLimit});
    OrdersTemplate("Forever,Main");
    Messages(2);
    RunSources("");
    EXPECT_EQ(Trace(), "Forever\r\nForever\r\n");
    EXPECT_EQ(Output(), "");
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
    EXPECT_EQ(Output(), "");
}

TEST_P(ScriptedRun, OversizedScriptDirectoryIsReportedAndNotLoaded) {
    // Stray large files (a log, a mailbox) in the script directory: one over the limit on its
    // own is refused by its size, before it is read (it is sparse: 64 MiB of zeros in no space
    // on disk, kept small so that a build that reads it whole does no harm); several that are
    // only together too large are refused once read.
    const std::string stray = Settings().scriptDir + "/zz_stray.log";
    std::string part;
    const std::string line = std::string(99, 'x') + "\n";
    while (part.size() <= kMaxScriptCodeBytes / 2) part += line;
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"zz_stray.log"}, "The script file " + stray + " holds more than 16 MB"},
        {{"zz_part1.log", "zz_part2.log"},
         "The script files of " + Settings().scriptDir + " hold more than 16 MB"},
    };
    for (const auto& [files, reported] : cases) {
        SCOPED_TRACE(reported);
        for (const char* name : {"zz_stray.log", "zz_part1.log", "zz_part2.log"})
            std::filesystem::remove(Settings().scriptDir + "/" + name);
        std::filesystem::remove(env.ProgramDir() + "/" + std::string(kErrorLog));
        for (const std::string& name : files)
            WriteFileBytes(Settings().scriptDir + "/" + name, files.size() == 1 ? "" : part);
        if (files.size() == 1) std::filesystem::resize_file(stray, 64u << 20);
        run.Renew();
        OrdersTemplate("Main");
        source.messages.clear();
        Messages(1);
        RunSources("");
        const std::string log = ErrorLog();
        EXPECT_NE(log.find("clsScripting - GetScripts\nError# 6  " + reported), std::string::npos)
            << log.substr(0, 500);
        EXPECT_NE(log.find("Procedure \"Main\" is not defined by the scripts"), std::string::npos);
        EXPECT_EQ(Trace(), "<none>");
        EXPECT_EQ(Output(), "");
    }
}

TEST_P(ScriptedRun, EmptyScriptDirectoryFailsEveryRunOncePerMessage) {
    std::filesystem::remove(ScriptPath());
    OrdersTemplate("Main,Report");
    Messages(2);
    RunSources("");
    EXPECT_EQ(Count(ErrorLog(), "Sub DoScripts: "), 2) << ErrorLog();
    EXPECT_EQ(Output(), "");
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

// Long native calls, programs a script waits for and finalizers at the interpreter's teardown
// are out of reach of the interpreter's own check; the scripts' process is stopped at the
// limit instead, the template fails for that message and the run goes on.
TEST_P(ScriptedRun, NativeCallsProgramsAndFinalizersAreStoppedAtTheTimeLimit) {
    script::SetLimitsForTesting({std::chrono::milliseconds(300), script::kScriptMemoryLimit});
    Settings().deleteFlag = 2;
    for (const Overrun& c : GetParam().overruns) {
        SCOPED_TRACE(c.procedure);
        std::filesystem::remove(env.ProgramDir() + "/" + std::string(kErrorLog));
        run.Renew();
        source.messages.clear();
        source.deletes = 0;
        OrdersTemplate(std::string(c.procedure) + ",Main");
        Messages(2);
        const auto started = std::chrono::steady_clock::now();
        RunSources("");
        // Two messages, each stopped shortly after 300 ms; left alone each takes 3 s or more.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
        EXPECT_EQ(Output(), "");
        EXPECT_EQ(source.deletes, 0);
        const std::string log = ErrorLog();
        EXPECT_EQ(Count(log, "Sub DoScripts: \nError# 1005  " + std::string(c.piece) +
                                 ": stopped after running 300 ms, the time limit of a script"),
                  2)
            << log;
        EXPECT_NE(env.ReadProgramFile(std::string(kSystemLog)).find("Parsed:2 of 2"),
                  std::string::npos);
    }
}

// Lua does not verify precompiled code, and altered code crashes the interpreter: no way of
// loading a chunk takes anything but text, so the procedure fails and the run goes on.
// The interpreter's process crashing (here by a signal from a program the script runs) ends
// that process only; the template fails for that message and the run goes on.
TEST_P(ScriptedRun, CrashOfTheScriptsEndsOnlyTheirProcess) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer catches the deliberate crash in the scripts' process and ends it with an exit
    // status of its own instead of the signal this test looks for.
    GTEST_SKIP() << "the crash is caught by the sanitizer";
#endif
    Settings().deleteFlag = 2;
    OrdersTemplate("Crash,Main");
    Messages(2);
    RunSources("");
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(source.deletes, 0);
    EXPECT_EQ(Count(ErrorLog(),
                    "Sub DoScripts: \nError# 1003  Procedure \"Crash\": the script "
                    "process ended with signal 11 (Segmentation fault)"),
              2)
        << ErrorLog();
    EXPECT_NE(env.ReadProgramFile(std::string(kSystemLog)).find("Parsed:2 of 2"),
              std::string::npos);
}

class LuaScriptedRun : public ScriptedRun {};

TEST_P(LuaScriptedRun, AlteredPrecompiledCodeIsRefusedNotRun) {
    Settings().deleteFlag = 2;
    OrdersTemplate(GetParam().binaryChunk);
    Messages(2);
    RunSources("");
    EXPECT_EQ(Trace(), "Bytecode\r\nBytecode\r\n");
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(source.deletes, 0);
    EXPECT_EQ(Count(ErrorLog(), "attempt to load a binary chunk (mode is 't')"), 2) << ErrorLog();
}

// A file larger than the memory a script has left is not read whole first (the file is sparse:
// 64 MiB of zeros in no space on disk, four times the limit; kept small so that a build that
// reads it whole does no harm).
TEST_P(ScriptedRun, FileLargerThanTheScriptsMemoryIsNotReadWhole) {
    script::SetLimitsForTesting({script::kScriptTimeLimit, 16u * 1024u * 1024u});
    const std::string big = OutPath() + ".big";
    WriteFileBytes(big, "");
    std::filesystem::resize_file(big, 64u << 20);
    OrdersTemplate("Slurp");
    Messages(1);
    RunSources("");
    std::string failure = GetParam().slurpFailure;
    if (const std::size_t at = failure.find("{big}"); at != std::string::npos)
        failure.replace(at, 5, big);
    EXPECT_NE(ErrorLog().find(failure), std::string::npos) << ErrorLog();
    EXPECT_EQ(Output(), "");
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, ScriptedRun, ::testing::Values(kJavaScript, kLua),
                         [](const auto& info) { return std::string(info.param.ext); });
INSTANTIATE_TEST_SUITE_P(Lua, LuaScriptedRun, ::testing::Values(kLua),
                         [](const auto& info) { return std::string(info.param.ext); });

}  // namespace
}  // namespace tallix::engine
