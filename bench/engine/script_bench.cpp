// The cost of template scripts in the engine's run: generated order messages through one
// template of three variables, without scripts and with a script procedure that reads two
// values and sets a third, in JavaScript and in Lua. Every matching message gets a fresh
// script host that loads the script directory, so the difference is the per-message cost
// of scripting.
//
//   script_bench [messages]     (default 10000)

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/engine_run.h"
#include "engine/run_context.h"
#include "model/message.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "tests/engine/fake_source.h"

using namespace tallix;
using namespace tallix::engine;

namespace {

// Hands over `count` generated order messages, one at a time.
std::unique_ptr<testing::FakeSourceList> GeneratedOrders(int count) {
    auto source = std::make_unique<testing::FakeSource>(count, [](std::size_t i) {
        auto m = std::make_shared<txMessage>();
        m->SetSubject("Order confirmation " + std::to_string(100000 + i));
        m->SetBody("Order number: " + std::to_string(100000 + i) +
                   "\r\nTotal: " + std::to_string(10 + i % 400) + ".00 EUR\r\n");
        m->SetAttachments(std::make_shared<TextCollection>());
        return m;
    });
    source->SetID("generated");
    source->address = "buyer@example.org";
    source->recordCalls = false;
    return std::make_unique<testing::FakeSourceList>(std::move(source));
}

struct Mode {
    const char* label;
    const char* language;  // "" runs without scripts
    const char* file;
    const char* code;
};

const Mode kModes[] = {
    {"no scripts", "", "", ""},
    {"JavaScript", "JavaScript", "orders.js",
     "function Classify() {\n"
     "  var total = parseFloat(Template.GetValueByName('Total'));\n"
     "  Template.SetValueByName('Size', total >= 100 ? 'large' : 'small');\n"
     "}\n"},
    {"Lua", "Lua", "orders.lua",
     "function Classify()\n"
     "  local total = tonumber(Template:GetValueByName('Total')) or 0\n"
     "  Template:SetValueByName('Size', total >= 100 and 'large' or 'small')\n"
     "end\n"},
};

double RunOnce(const Mode& mode, int messages) {
    namespace fs = std::filesystem;
    fs::path root =
        fs::temp_directory_path() / ("tallix-script-bench-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "home" / "templates");
    fs::create_directories(root / "home" / "scripts");
    fs::create_directories(root / "out");
    ::setenv("TALLIX_HOME", (root / "home").c_str(), 1);
    ResetProgramDir();
    ResetSettings();
    Settings().templateDir = (root / "home" / "templates").string();
    Settings().scriptDir = (root / "home" / "scripts").string();
    Settings().useSource = "GENERATED";
    Settings().useScripts = *mode.language != '\0';
    Settings().scriptEngine = mode.language;
    if (*mode.file)
        std::ofstream(root / "home" / "scripts" / mode.file, std::ios::binary) << mode.code;
    std::ofstream(root / "home" / "templates" / "Orders.txf", std::ios::binary)
        << "[General]\r\nActive=True\r\nNum_Variables=3\r\nLast_Ran=Never\r\n"
        << "[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=Order\r\n[Variables]\r\n"
        << "Var1=OrderNo;MSG_TEXT;Order number:;{End of Line};0;0;1;0;0\r\n"
        << "Var2=Total;MSG_TEXT;Total:;EUR;0;0;1;0;0\r\n"
        << "Var3=Size;<NONE>;;;0;0;0;0;0\r\n"
        << "[Output]\r\nAllowDuplicate=True\r\nFile=" << (root / "out" / "orders.csv").string()
        << "\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=OrderNo,Total,Size\r\n"
        << "[Scripts]\r\nrun=" << (*mode.language ? "Classify" : "") << "\r\n";
    RunContext run(Settings());
    run.sourceFactory = [messages](const std::string&) { return GeneratedOrders(messages); };

    auto start = std::chrono::steady_clock::now();
    RunSources(run, "");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A run whose scripts failed would measure the wrong thing.
    if (fs::exists(root / "home" / "txError.Log")) {
        std::fprintf(stderr, "%s: errors were logged, see %s\n", mode.label,
                     (root / "home" / "txError.Log").c_str());
        std::exit(1);
    }
    fs::remove_all(root);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    SetProgramIdentity("txengine", "txEngine");
    SetSilentMode(true);
    int messages = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (messages <= 0) messages = 10000;
    std::printf("%-12s %10s %10s %12s %16s\n", "scripts", "messages", "seconds", "messages/s",
                "us per message");
    double plain = 0;
    for (const Mode& mode : kModes) {
        double s = RunOnce(mode, messages);
        if (!*mode.language) plain = s;
        std::printf("%-12s %10d %10.3f %12.0f %16.1f", mode.label, messages, s, messages / s,
                    s * 1e6 / messages);
        if (*mode.language)
            std::printf("   (+%.1f us per message for the script)", (s - plain) * 1e6 / messages);
        std::printf("\n");
    }
    return 0;
}
