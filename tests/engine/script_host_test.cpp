// The script host on its own, in both languages: the Template object, the procedure list,
// error texts with file and line, and the time and memory limits.

#include "engine/script_host/script_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "model/template.h"
#include "settings/run_time_error.h"
#include "tests/support/test_env.h"

namespace tallix::script {
namespace {

using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

// The run-time error a call raises: number and description; number 0 when it raised none.
struct Raised {
    int number = 0;
    std::string description;
};
Raised RaisedBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const RunTimeError& e) {
        return {e.Number(), e.Description()};
    }
    return {};
}

// One language and the way its code says the same things.
struct Language {
    const char* name;
    const char* ext;
    const char* templateProbe;  // Main: writes what it reads of Template into "Out"
    const char* procedures;     // defines Main and Report, and one helper that is not global
    const char* failing;        // line 3 of the file fails when Report runs
    const char* brokenSecondLine;
    const char* forever;  // Forever loops; Sneaky catches the stop and loops on
    const char* hog;      // Hog allocates without end
    const char* acts;     // Act appends "a" to the file named by Template's OutputFile
};

const Language kJavaScript{
    "JavaScript",
    "js",
    "function Main() {\n"
    "  Template.SetValueByName('Out', [Template.FileName, Template.OutputDeliminator, "
    "Template.Active,\n"
    "    Template.VariableCount, Template.VariableNames.join(';'), Template.GetValueByName(' total "
    "'),\n"
    "    Template.FilterString, Template.OutputLine].join('|'));\n"
    "}\n",
    "var counter = 0;\nfunction Main() { counter++; }\nfunction Report() {}\n",
    "function Main() {}\nfunction Report() {\n  missingFunction();\n}\n",
    "function Main() {}\nfunction Report( {\n",
    "function Forever() { while (true) {} }\n"
    "function Sneaky() { for (;;) { try { while (true) {} } catch (e) {} } }\n"
    "function Main() { Template.SetValueByName('Out', 'ran'); }\n",
    "function Hog() { var a = [], s = 'x'; for (;;) { s = s + s; a.push(s); } }\n",
    "function Act() {\n"
    "  System.AppendLine(Template.OutputFile, 'a');\n"
    "  Template.SetValueByName('Out', System.ReadFile(Template.OutputFile) + System.Run('exit "
    "3'));\n"
    "}\n",
};

const Language kLua{
    "Lua",
    "lua",
    "function Main()\n"
    "  Template:SetValueByName('Out', table.concat({Template.FileName, "
    "Template.OutputDeliminator,\n"
    "    tostring(Template.Active), Template.VariableCount, table.concat(Template.VariableNames, "
    "';'),\n"
    "    Template.GetValueByName(' total '), Template.FilterString, Template.OutputLine}, '|'))\n"
    "end\n",
    "local function helper() end\ncounter = 0\nfunction Main() counter = counter + 1 end\nfunction "
    "Report() end\n",
    "function Main() end\nfunction Report()\n  missingFunction()\nend\n",
    "function Main() end\nfunction Report( \n",
    "function Forever() while true do end end\n"
    "function Sneaky() while true do pcall(function() while true do end end) end end\n"
    "function Main() Template:SetValueByName('Out', 'ran') end\n",
    "function Hog() local t, s = {}, 'x' while true do s = s .. s t[#t + 1] = s end end\n",
    "function Act()\n"
    "  local f = assert(io.open(Template.OutputFile, 'a')); f:write('a\\r\\n'); f:close()\n"
    "  local g = assert(io.open(Template.OutputFile, 'rb')); local text = g:read('a'); g:close()\n"
    "  local ok, how, code = os.execute('exit 3')\n"
    "  Template:SetValueByName('Out', text .. code)\n"
    "end\n",
};

std::shared_ptr<clsTemplate> ProbeTemplate(const std::string& outputFile = "/tmp/out.csv") {
    auto t = std::make_shared<clsTemplate>();
    t->SetFileName("/templates/Orders.txf");
    t->SetOutputDeliminator("COMMA");
    t->SetActive(true);
    t->SetOutputFile(outputFile);
    t->objFilter()->SetFindString("order");
    t->colOutPutLines()->Item(1) = "Total,Out";
    t->colFields()->Add("")->SetFieldName("Total");
    t->colFields()->Add("")->SetFieldName("Out");
    t->SetValueByName("Total", "12.50");
    return t;
}

// The line map of one file's code, joined as the engine joins it (a line break first).
LineMap MapOf(const std::string& file, int lines) {
    LineMap map{SourceLine{}};
    for (int i = 1; i <= lines; ++i) map.push_back({file, i});
    return map;
}
std::string Joined(const std::string& code) {
    std::string out;
    std::size_t pos = 0;
    while (pos < code.size()) {
        std::size_t end = code.find('\n', pos);
        out += "\r\n" + code.substr(pos, end - pos);
        pos = end + 1;
    }
    return out;
}
int LineCount(const std::string& code) {
    return static_cast<int>(std::count(code.begin(), code.end(), '\n'));
}

class ScriptHostTest : public ::testing::TestWithParam<Language> {
  protected:
    void TearDown() override { ResetLimitsForTesting(); }
    // A host of the parameter's language with `code` loaded from "file.<ext>".
    std::unique_ptr<ScriptHost> Load(const std::string& code,
                                     std::shared_ptr<clsTemplate> t = ProbeTemplate()) {
        auto host = std::make_unique<ScriptHost>();
        host->SetLanguage(GetParam().name);
        host->AddObject("Template", t);
        host->SetLineMap(MapOf(File(), LineCount(code)));
        host->AddCode(Joined(code));
        return host;
    }
    std::string File() const { return std::string("file.") + GetParam().ext; }
};

TEST(ScriptLanguages, NamesMatchWithoutRegardToCaseAndOthersAreRejectedWith380) {
    for (const char* known : {"JScript", "javascript", "JAVASCRIPT", "Lua", "lua", " Lua "}) {
        EXPECT_TRUE(IsKnownLanguage(known)) << known;
        ScriptHost host;
        EXPECT_EQ(RaisedBy([&] { host.SetLanguage(known); }).number, 0) << known;
        EXPECT_EQ(host.Language(), known);
    }
    for (const char* unknown : {"VBScript", "", "Python", "J Script", "lua5.4"}) {
        EXPECT_FALSE(IsKnownLanguage(unknown)) << unknown;
        ScriptHost host;
        EXPECT_EQ(RaisedBy([&] { host.SetLanguage(unknown); }).number, kErrInvalidProperty)
            << unknown;
        EXPECT_EQ(host.Language(), "");
        // Without a language every other operation fails too, with its own number.
        EXPECT_EQ(RaisedBy([&] { host.AddCode("x"); }).number, kErrNoLanguage);
    }
}

TEST_P(ScriptHostTest, TemplateOffersItsMembersAndValuesByName) {
    auto t = ProbeTemplate();
    auto host = Load(GetParam().templateProbe, t);
    host->Run("Main");
    EXPECT_EQ(t->GetValueByName("Out"),
              "/templates/Orders.txf|COMMA|true|2|Total;Out|12.50|order|Total,Out");
}

TEST_P(ScriptHostTest, TemplateMembersThatDescribeTheOutputCanBeAssigned) {
    auto t = ProbeTemplate();
    const bool js = GetParam().ext == std::string("js");
    const std::string code =
        js ? "function Main() {\n"
             "  'use strict';\n"
             "  Template.OutputFile = '/tmp/other.csv'; Template.OutputDeliminator = 'TAB';\n"
             "  Template.AllowDuplicate = true; Template.Active = false;\n"
             "  Template.ScriptsToRun = 'Main,Report'; Template.OutputLine = 'Out,Total';\n"
             "  Template.SetValueByName('Out', [Template.OutputFile, Template.AllowDuplicate,\n"
             "    Template.Active, Template.OutputLine].join('|'));\n"
             "}\n"
           : "function Main()\n"
             "  Template.OutputFile = '/tmp/other.csv'; Template.OutputDeliminator = 'TAB'\n"
             "  Template.AllowDuplicate = true; Template.Active = false\n"
             "  Template.ScriptsToRun = 'Main,Report'; Template.OutputLine = 'Out,Total'\n"
             "  Template:SetValueByName('Out', table.concat({Template.OutputFile,\n"
             "    tostring(Template.AllowDuplicate), tostring(Template.Active),\n"
             "    Template.OutputLine}, '|'))\n"
             "end\n";
    auto host = Load(code, t);
    EXPECT_EQ(RaisedBy([&] { host->Run("Main"); }).number, 0);
    EXPECT_EQ(t->OutputFile(), "/tmp/other.csv");
    EXPECT_EQ(t->OutputDeliminator(), "TAB");
    EXPECT_TRUE(t->AllowDuplicate());
    EXPECT_FALSE(t->Active());
    EXPECT_EQ(t->ScriptsToRun(), "Main,Report");
    EXPECT_EQ(t->colOutPutLines()->Item(1), "Out,Total");
    EXPECT_EQ(t->GetValueByName("Out"), "/tmp/other.csv|true|false|Out,Total")
        << "the script reads back what it assigned";
}

TEST_P(ScriptHostTest, TemplateMembersThatDescribeTheTemplateFileCannotBeAssigned) {
    const bool js = GetParam().ext == std::string("js");
    std::vector<std::string> members = {"FileName",     "LastRan",       "FilterField",
                                        "FilterString", "VariableCount", "VariableNames"};
    // A JavaScript object takes new properties; a Lua table refuses every other name.
    if (!js) members.push_back("NoSuchMember");
    for (const std::string& member : members) {
        SCOPED_TRACE(member);
        auto t = ProbeTemplate();
        const std::string code =
            js ? std::string("function Main() { 'use strict'; Template.") + member + " = 'x'; }\n"
               : std::string("function Main() Template.") + member + " = 'x' end\n";
        auto host = Load(code, t);
        const Raised raised = RaisedBy([&] { host->Run("Main"); });
        EXPECT_EQ(raised.number, kErrScriptRunTime);
        if (!js) {
            EXPECT_NE(raised.description.find(
                          "Template members cannot be assigned; use Template:SetValueByName"),
                      std::string::npos)
                << raised.description;
        }
        EXPECT_EQ(t->FileName(), "/templates/Orders.txf");
        EXPECT_EQ(t->objFilter()->FindString(), "order");
    }
}

TEST(LuaHost, TemplateFlagsTakeBooleansAndTextsTakeStringsOrNumbers) {
    auto t = ProbeTemplate();
    ScriptHost host;
    host.SetLanguage("Lua");
    host.AddObject("Template", t);
    host.AddCode(
        "function Flag() Template.AllowDuplicate = 1 end\n"
        "function Table() Template.OutputFile = {} end\n"
        "function Number() Template.OutputDeliminator = 42 end\n");
    EXPECT_NE(RaisedBy([&] {
                  host.Run("Flag");
              }).description.find("Template.AllowDuplicate takes true or false"),
              std::string::npos);
    EXPECT_FALSE(t->AllowDuplicate());
    EXPECT_NE(
        RaisedBy([&] { host.Run("Table"); }).description.find("Template.OutputFile takes a text"),
        std::string::npos);
    EXPECT_EQ(t->OutputFile(), "/tmp/out.csv");
    EXPECT_EQ(RaisedBy([&] { host.Run("Number"); }).number, 0);
    EXPECT_EQ(t->OutputDeliminator(), "42");
}

TEST_P(ScriptHostTest, ListsTheProceduresTheCodeDefines) {
    auto host = Load(GetParam().procedures);
    EXPECT_EQ(host->Procedures(), (std::vector<std::string>{"Main", "Report"}));
}

TEST_P(ScriptHostTest, RunUsesTheExactNameAndFailsForOneNotDefined) {
    auto host = Load(GetParam().procedures);
    EXPECT_EQ(RaisedBy([&] { host->Run("Main"); }).number, 0);
    Raised r = RaisedBy([&] { host->Run(" Report"); });
    EXPECT_EQ(r.number, kErrNoSuchProcedure);
    EXPECT_EQ(r.description, "Procedure \" Report\" is not defined by the scripts");
    EXPECT_EQ(RaisedBy([&] { host->Run("main"); }).number, kErrNoSuchProcedure);
}

TEST_P(ScriptHostTest, RunTimeErrorNamesProcedureFileAndLine) {
    auto host = Load(GetParam().failing);
    Raised r = RaisedBy([&] { host->Run("Report"); });
    EXPECT_EQ(r.number, kErrScriptRunTime);
    EXPECT_EQ(r.description.rfind("Procedure \"Report\": ", 0), 0u) << r.description;
    EXPECT_NE(r.description.find("missingFunction"), std::string::npos) << r.description;
    EXPECT_NE(r.description.find(" at " + File() + " line 3"), std::string::npos) << r.description;
}

TEST_P(ScriptHostTest, SyntaxErrorNamesFileAndLine) {
    auto host = std::make_unique<ScriptHost>();
    host->SetLanguage(GetParam().name);
    // The first file is fine; the second fails on its own line 2.
    const std::string first = "x = 1\n";
    const std::string second = GetParam().brokenSecondLine;
    LineMap map = MapOf("first", 1);
    for (int i = 1; i <= LineCount(second); ++i) map.push_back({"second", i});
    host->SetLineMap(map);
    Raised r = RaisedBy([&] { host->AddCode(Joined(first) + Joined(second)); });
    EXPECT_EQ(r.number, kErrScriptSyntax);
    EXPECT_EQ(r.description.rfind("Loading the scripts: ", 0), 0u) << r.description;
    EXPECT_NE(r.description.find(" at second line 2"), std::string::npos) << r.description;
}

TEST_P(ScriptHostTest, RunawayProcedureIsStoppedAtTheTimeLimitEvenWhenItCatches) {
    SetLimitsForTesting({std::chrono::milliseconds(200), kScriptMemoryLimit});
    auto t = ProbeTemplate();
    auto host = Load(GetParam().forever, t);
    for (const char* name : {"Forever", "Sneaky"}) {
        auto start = std::chrono::steady_clock::now();
        Raised r = RaisedBy([&] { host->Run(name); });
        EXPECT_EQ(r.number, kErrScriptTimeLimit) << name << ": " << r.description;
        EXPECT_NE(r.description.find("stopped after running 200 ms"), std::string::npos)
            << r.description;
        EXPECT_NE(r.description.find(" at " + File() + " line "), std::string::npos)
            << r.description;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << name;
    }
    // The host is still usable and the next procedure gets its own time.
    EXPECT_EQ(RaisedBy([&] { host->Run("Main"); }).number, 0);
    EXPECT_EQ(t->GetValueByName("Out"), "ran");
}

TEST_P(ScriptHostTest, TopLevelCodeThatNeverEndsIsStoppedToo) {
    SetLimitsForTesting({std::chrono::milliseconds(200), kScriptMemoryLimit});
    ScriptHost host;
    host.SetLanguage(GetParam().name);
    const std::string code =
        GetParam().ext == std::string("js") ? "while (true) {}" : "while true do end";
    EXPECT_EQ(RaisedBy([&] { host.AddCode(code); }).number, kErrScriptTimeLimit);
}

TEST_P(ScriptHostTest, AllocatingWithoutEndIsStoppedAtTheMemoryLimit) {
    SetLimitsForTesting({std::chrono::milliseconds(60'000), 16u * 1024u * 1024u});
    auto host = Load(GetParam().hog);
    Raised r = RaisedBy([&] { host->Run("Hog"); });
    EXPECT_EQ(r.number, kErrOutOfMemory) << r.description;
    EXPECT_NE(r.description.find("memory limit of a script (16 MB)"), std::string::npos)
        << r.description;
}

TEST_P(ScriptHostTest, ScriptsCanWriteAndReadFilesAndRunPrograms) {
    tallix::testing::TempDir dir;
    auto t = ProbeTemplate(dir.File("acts.txt"));
    auto host = Load(GetParam().acts, t);
    host->Run("Act");
    host->Run("Act");
    EXPECT_EQ(ReadFileBytes(dir.File("acts.txt")), "a\r\na\r\n");
    EXPECT_EQ(t->GetValueByName("Out"), "a\r\na\r\n3");
}

TEST(LuaHost, ScriptsCannotEndTheEngine) {
    ScriptHost host;
    host.SetLanguage("Lua");
    host.AddCode("function Quit() os.exit(0) end");
    Raised r = RaisedBy([&] { host.Run("Quit"); });
    EXPECT_EQ(r.number, kErrScriptRunTime);
    EXPECT_NE(r.description.find("os.exit is not available"), std::string::npos) << r.description;
}

TEST(LuaHost, PrecompiledChunksAreRefused) {
    ScriptHost host;
    host.SetLanguage("Lua");
    EXPECT_EQ(RaisedBy([&] { host.AddCode(std::string("\x1bLua\x54", 5)); }).number,
              kErrScriptSyntax);
}

// Precompiled code is not verified by Lua and can crash it: every way a script can load a chunk
// takes text only, and text still loads each way.
TEST(LuaHost, EveryWayOfLoadingAChunkTakesTextOnly) {
    tallix::testing::TempDir dir;
    const std::string text = "return 'text'";
    WriteFileBytes(dir.File("text_module.lua"), text);
    ScriptHost host;
    host.SetLanguage("Lua");
    host.AddCode("local dir = '" + dir.File("") +
                 "'\n"
                 "package.path = dir .. '?.lua'\n"
                 "local f = assert(io.open(dir .. 'binary_module.lua', 'wb'))\n"
                 "f:write(string.dump(function() return 'binary' end)) f:close()\n"
                 "function Load(kind, name)\n"
                 "  local file = dir .. name .. '.lua'\n"
                 "  local chunk = io.open(file, 'rb'):read('a')\n"
                 "  if kind == 'load' then return assert(load(chunk, 'c', 'b'))() end\n"
                 "  if kind == 'loadfile' then return assert(loadfile(file, 'bt'))() end\n"
                 "  if kind == 'dofile' then return dofile(file) end\n"
                 "  return require(name)\n"
                 "end\n");
    for (const char* kind : {"load", "loadfile", "dofile", "require"}) {
        SCOPED_TRACE(kind);
        host.AddCode(std::string("function Binary() Load('") + kind +
                     "', 'binary_module') end\n"
                     "function Text() assert(Load('" +
                     kind + "', 'text_module') == 'text') end\n");
        Raised r = RaisedBy([&] { host.Run("Binary"); });
        EXPECT_EQ(r.number, kErrScriptRunTime);
        EXPECT_NE(r.description.find("attempt to load a binary chunk (mode is 't')"),
                  std::string::npos)
            << r.description;
        host.Run("Text");
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, ScriptHostTest, ::testing::Values(kJavaScript, kLua),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallix::script
