#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "engine/engine_log.h"
#include "engine/help_text.h"
#include "engine/hosted_events.h"
#include "engine/run_context.h"
#include "engine/startup.h"
#include "engine/status_window.h"
#include "engine/winsock_errors.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/run_time_error.h"
#include "settings/settings_store.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

using tallix::testing::IsolatedEnvironment;
using tallix::testing::ScriptedUi;

TEST(CommandLine, SelectionRules) {
    struct Case {
        const char* text;
        const char* selection;
        bool silent, noWindow, help;
    } cases[] = {
        {"", "", false, false, false},
        {"/f", "", false, false, false},
        {"/fALL", "ALL", false, false, false},
        {"ALL", "ALL", false, false, false},
        {"  Orders  ", "Orders", false, false, false},
        {"Orders /s", "Orders", true, false, false},
        {"/s Orders", "", true, false, false},
        {"/F My Orders /S", "My Orders", true, false, false},
        {"old /fnew", "new", false, false, false},
        {"/sx", "", true, true, false},
        {"/s x", "", true, true, false},
        {"/SX", "", true, true, false},
        {"/x Orders /s", "", true, false, false},
        {"/x Orders", "", false, false, false},
        {"Orders/", "Orders", false, false, false},
        {"/", "", false, false, false},
        {"/?", "", false, false, true},
        {"/h", "", false, false, true},
        {"/sx /fOrders", "Orders", true, true, false},
    };
    for (const auto& c : cases) {
        CommandLine cl = ParseCommandLine(c.text);
        EXPECT_EQ(cl.templateSelection, c.selection) << c.text;
        EXPECT_EQ(cl.silentMode, c.silent) << c.text;
        EXPECT_EQ(cl.noWindow, c.noWindow) << c.text;
        EXPECT_EQ(cl.helpRequested, c.help) << c.text;
    }
}

// "/watch" is a word: it neither ends the silent switch's window letter nor joins the
// selection, and a template named "/watchlist" is not watch mode.
TEST(CommandLine, WatchIsAWordOfItsOwn) {
    struct Case {
        const char* text;
        bool watch;
        const char* selection;
        bool noWindow;
    } cases[] = {
        {"/sx /watch", true, "", true},           {"/WATCH /sx", true, "", true},
        {"Orders /watch", true, "Orders", false}, {"/watch", true, "", false},
        {"/watchlist", false, "", false},         {"/fwatch", false, "watch", false},
        {"/s /watch x", true, "", false},
    };
    for (const auto& c : cases) {
        const CommandLine cl = ParseCommandLine(c.text);
        EXPECT_EQ(cl.watch, c.watch) << c.text;
        EXPECT_EQ(cl.templateSelection, c.selection) << c.text;
        EXPECT_EQ(cl.noWindow, c.noWindow) << c.text;
    }
}

TEST(CommandLine, ArgumentsAreJoinedWithSingleBlanks) {
    const char* argv[] = {"txengine", "My", "Orders", "/s"};
    EXPECT_EQ(ArgumentText(4, const_cast<char**>(argv)), "My Orders /s");
    EXPECT_EQ(ArgumentText(1, const_cast<char**>(argv)), "");
}

// Only the whole argument text is such an option; anything longer is scanned as before, so
// "-h" inside a template name or after a switch is text like any other.
TEST(CommandLine, LinuxHelpAndVersionOptions) {
    SetProgramIdentity("txengine", "txEngine");
    struct Case {
        const char* text;
        CommonOption option;
        bool help;  // for text that is no such option: the scan asks for the help
        const char* selection;
    } cases[] = {
        {"--help", CommonOption::Help, false, ""},
        {"-h", CommonOption::Help, false, ""},
        {"-?", CommonOption::Help, false, ""},
        {"  --help ", CommonOption::Help, false, ""},
        {"--version", CommonOption::Version, false, ""},
        {"/?", CommonOption::None, true, ""},
        {"-H", CommonOption::None, false, "-H"},
        {"--help Orders", CommonOption::None, false, "--help Orders"},
        {"Orders -h", CommonOption::None, false, "Orders -h"},
        {"/s -h", CommonOption::None, false, ""},
        {"-", CommonOption::None, false, "-"},
        // A template named so by hand is still run through /f.
        {"/f --help", CommonOption::None, false, "--help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CommonOptionOf(c.text), c.option);
        switch (c.option) {
            case CommonOption::Help:
                EXPECT_EQ(CommonOptionOutput(c.option), HelpColumnsForConsole());
                break;
            case CommonOption::Version:
                EXPECT_EQ(CommonOptionOutput(c.option), VersionText() + "\n");
                break;
            case CommonOption::None: {
                EXPECT_EQ(CommonOptionOutput(c.option), "");
                const CommandLine cl = ParseCommandLine(c.text);
                EXPECT_EQ(cl.helpRequested, c.help);
                EXPECT_EQ(cl.templateSelection, c.selection);
                break;
            }
        }
    }
    EXPECT_TRUE(std::regex_match(VersionText(), std::regex("txEngine [0-9]+\\.[0-9]+\\.[0-9]+")))
        << VersionText();
}

TEST(CommandLine, ScanSwitchesSilentModeOnAndLetsEventsRun) {
    IsolatedEnvironment env;
    ScriptedUi ui;
    RunContext run;
    InitApp(run);
    GetCmdLnArgs(run, "a /s");
    EXPECT_TRUE(SilentMode());
    EXPECT_EQ(run.commandLine.templateSelection, "a");
    EXPECT_EQ(ui.eventRuns, 3);  // "a", " ", and "/s" taken together
    InitApp(run);
    EXPECT_FALSE(SilentMode());
    EXPECT_EQ(run.commandLine.templateSelection, "");
}

TEST(WinsockErrors, TableKeysAreCodesMinus10000) {
    struct Case {
        int key;
        const char* name;
        const char* description;
    } cases[] = {
        {61, "WSAECONNREFUSED", "Connection refused"},
        {4, "WSAEINTR", "Interrupted system call"},
        {1001, "WSAHOST_NOT_FOUND", "Host not found"},
        {1004, "WSANO_DATA or WSANO_ADDRESS",
         "Valid name, no data record of requested type *OR* No address, look for MX record"},
        {-10000, "WSABASEERR", "No Error"},
        {93, "WSANOTINITIALISED", "Successful WSASTARTUP not yet performed"},
        {10061, "", "Unknown Error"},
        {0, "", "Unknown Error"},
        {1005, "", "Unknown Error"},
    };
    for (const auto& c : cases) {
        std::string name = "stale";
        EXPECT_EQ(WinsockErrorText(static_cast<std::int16_t>(c.key), &name), c.description)
            << c.key;
        EXPECT_EQ(name, c.name) << c.key;
    }
    EXPECT_EQ(WinsockErrorText(61), "Connection refused");
}

TEST(HostedEvents, SocketErrorIsLoggedAndNotShown) {
    IsolatedEnvironment env;
    ScriptedUi ui;
    EnginePop3Events events;
    events.Error(61);
    events.Status("+OK ready");
    std::string log = env.ReadProgramFile(std::string(kErrorLog));
    std::regex line(R"(\S+ \S+ [AP]M WinSock error 61, WSAECONNREFUSED: Connection refused\r\n)");
    EXPECT_TRUE(std::regex_match(log, line)) << log;
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(env.ReadProgramFile(std::string(kSystemLog)), "");
}

// Records what the run does to the window.
class RecordingWindow final : public StatusWindow {
  public:
    void Load() override { loaded = true; }
    void Show() override { shown = true; }
    void Unload() override {
        loaded = false;
        ++unloads;
    }
    void EnableTimer() override { timer = true; }
    void SetLineText(int line, const std::string& text) override {
        if (!loaded) loadedHidden = true;
        lines[line] = text;
        updates.push_back(line);
    }
    int ProgressMinimum(int) const override { return 0; }
    int ProgressMaximum(int) const override { return 100; }
    void SetProgress(int line, int value) override { progress[line] = value; }

    bool loaded = false, loadedHidden = false, shown = false, timer = false;
    int unloads = 0;
    std::string lines[4];
    int progress[4] = {-1, -1, -1, -1};
    std::vector<int> updates;
};

class EngineStartup : public ::testing::Test {
  protected:
    void SetUp() override {
        SetProgramIdentity("txengine", "txEngine");
        ResetSettings();
        std::filesystem::create_directories(env.ProgramDir() + "/templates");
        SetWindow(&window);
    }
    void TearDown() override { SetWindow(nullptr); }
    IsolatedEnvironment env;
    ScriptedUi ui;
    RecordingWindow window;
};

TEST_F(EngineStartup, DoGUIStatusMovesTheBarOnlyWithinItsRange) {
    DoGUIStatus(40, "Using Template: 1 of 2", 2);
    EXPECT_EQ(window.lines[2], "Using Template: 1 of 2");
    EXPECT_EQ(window.progress[2], 40);
    DoGUIStatus(101, "Using Template: 2 of 2", 2);
    DoGUIStatus(-1, "still", 3);
    EXPECT_EQ(window.lines[2], "Using Template: 2 of 2");
    EXPECT_EQ(window.progress[2], 40);
    EXPECT_EQ(window.lines[3], "still");
    EXPECT_EQ(window.progress[3], -1);
    DoGUIStatus(50, "ignored", 4);
    DoGUIStatus(50, "ignored", 0);
    EXPECT_EQ(window.updates.size(), 3u);
    DoGUIStatus(50, "Connected To: x", 1);
    EXPECT_EQ(window.progress[1], -1);  // line 1 has no bar
}

TEST_F(EngineStartup, HelpEndsBeforeTheRunAfterReadingSettings) {
    bool helpShown = false, ran = false;
    EngineHooks hooks;
    hooks.showHelp = [&] { helpShown = true; };
    hooks.runSources = [&](RunContext&, const std::string&) { ran = true; };
    EXPECT_EQ(EngineMain("/?", hooks), 0);
    EXPECT_TRUE(helpShown);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(window.shown);
    EXPECT_FALSE(window.timer);
    EXPECT_EQ(Settings().templateDir, env.ProgramDir() + "/templates");
}

TEST_F(EngineStartup, RunGetsTheSelectionAndTheWindowIsShownUnlessNoWindow) {
    struct Case {
        const char* args;
        const char* selection;
        bool shown;
    } cases[] = {
        {"Orders", "Orders", true},
        {"/fALL", "", true},
        {"all", "all", true},
        {"/sx Orders", "", false},
        {"Orders /sx", "Orders", false},
    };
    for (const auto& c : cases) {
        window = RecordingWindow{};
        std::string selection = "unset";
        EngineHooks hooks;
        hooks.runSources = [&](RunContext& run, const std::string& s) {
            selection = s;
            // The run carries what start-up read: the account file's path and the settings.
            EXPECT_EQ(run.pop3ConfigPath, env.ProgramDir() + "/POP3.CFG");
            EXPECT_EQ(run.settings.templateDir, env.ProgramDir() + "/templates");
            EXPECT_NE(run.decoder, nullptr);
        };
        EXPECT_EQ(EngineMain(c.args, hooks), 0);
        EXPECT_EQ(selection, c.selection) << c.args;
        EXPECT_EQ(window.shown, c.shown) << c.args;
        EXPECT_TRUE(window.timer);
        EXPECT_EQ(window.lines[1], "Initializing application...");
        EXPECT_EQ(window.lines[2], "Templates...");
        EXPECT_EQ(window.lines[3], "Messages...");
        EXPECT_EQ(window.unloads, 1);
    }
}

TEST_F(EngineStartup, FirstStartMakesTheDefaultDirectoriesWithoutABox) {
    namespace fs = std::filesystem;
    fs::remove_all(env.ProgramDir() + "/templates");
    bool ran = false;
    EngineHooks hooks;
    hooks.runSources = [&](RunContext&, const std::string&) { ran = true; };
    EXPECT_EQ(EngineMain("/sx", hooks), 0);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
    for (const char* name : {"/templates", "/scripts"}) {
        const fs::path dir = env.ProgramDir() + name;
        EXPECT_TRUE(fs::is_directory(dir)) << dir;
        EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all) << dir;
    }
}

TEST_F(EngineStartup, FailureASourcePassesOnEndsTheRunReported) {
    EngineHooks hooks;
    hooks.runSources = [&](RunContext&, const std::string&) { Raise(kErrDeviceIo); };
    try {
        EngineMain("/sx", hooks);
        ADD_FAILURE() << "the run did not end";
    } catch (const ProgramEndRequest& end) {
        EXPECT_EQ(end.status, 1);
    }
    const std::string log = env.ReadProgramFile(std::string(kErrorLog));
    EXPECT_NE(log.find("Sub RunSources:"), std::string::npos) << log;
}

TEST(ConsoleStatus, OneLineWithSourceMessageAndTemplate) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        ConsoleStatusWindow console(fds[1], true);
        console.SetLineText(1, "Connected To: inbox");
        console.SetLineText(2, "Using Template: 1 of 2");
        console.SetLineText(3, "Parsing message: 3 of 9\r\n");
        EXPECT_EQ(console.CurrentLine(),
                  "Connected To: inbox | Parsing message: 3 of 9   | Using Template: 1 of 2");
        console.SetLineText(1, std::string(100, 'x') + "é");
        EXPECT_LE(console.CurrentLine().size(), 79u);
        console.Unload();
    }
    ::close(fds[1]);
    char buffer[4096];
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    ::close(fds[0]);
    std::string written(buffer, n > 0 ? n : 0);
    EXPECT_EQ(written.find('\n'), std::string::npos);
    EXPECT_EQ(written.rfind("\r\x1b[K"), written.size() - 4);

    ConsoleStatusWindow quiet(fds[1], false);  // not a terminal: writes nothing
    quiet.SetLineText(1, "x");
    quiet.Unload();
}

TEST(HelpText, ColumnsLineByLine) {
    ASSERT_EQ(HelpSwitchLines().size(), HelpDescriptionLines().size());
    EXPECT_EQ(HelpSwitchText(),
              "/?\r\n/s\r\n\r\n/sx\r\n\r\n/f<filename>\r\n\r\n\r\n/test NAME [FILE]\r\n\r\n\r\n\r\n"
              "/watch\r\n\r\n\r\n/forget NAME\r\n\r\n\r\nExit status\r\n\r\n\r\n");
    EXPECT_EQ(HelpDescriptionLines()[1], "Runs in silent mode. Does not show ");
    EXPECT_EQ(HelpDescriptionLines()[7], "ran.");
    EXPECT_EQ(HelpDescriptionLines()[8], "Tries template NAME on the messages of ");
    std::string console = HelpColumnsForConsole();
    EXPECT_NE(console.find("/sx                 Runs in silent mode and without a main\n"
                           "                    window.\n"),
              std::string::npos);
}

TEST(LogSystem, PrefixesTheBareTemplateName) {
    IsolatedEnvironment env;
    ScriptedUi ui;
    LogSystem("No messsages found.");
    LogSystem("matched", "/t/Orders.txf");
    std::string log = env.ReadProgramFile(std::string(kSystemLog));
    EXPECT_NE(log.find(" No messsages found.\r\n"), std::string::npos);
    EXPECT_NE(log.find(" Orders matched\r\n"), std::string::npos);
    EXPECT_EQ(ui.eventRuns, 2);
}

}  // namespace
}  // namespace tallix::engine
