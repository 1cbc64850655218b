// The engine's run in one process: generated messages through five templates of three
// variables each (every third template checks for duplicates). Prints messages per second
// and the cost per record for growing runs, to show that it stays flat.
//
//   run_bench [largest]            (default 100000 messages)
//   run_bench largest patterns     the same templates with a regular expression per variable
//                                  beside them, and the pattern run's speed as a share of the
//                                  start-and-stop run's

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
#include "engine/template_cache.h"
#include "model/message.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "tests/engine/fake_source.h"

using namespace tallix;
using namespace tallix::engine;

namespace {

// Hands over `count` generated order messages, one at a time.
std::unique_ptr<testing::FakeSourceList> GeneratedSource(int count) {
    auto source = std::make_unique<testing::FakeSource>(count, [](std::size_t i) {
        auto m = std::make_shared<txMessage>();
        m->SetSubject("Order confirmation " + std::to_string(100000 + i));
        m->SetSenderName("Customer " + std::to_string(i % 977));
        m->SetBody("Dear customer,\r\n\r\nOrder number: " + std::to_string(100000 + i) +
                   "\r\nItem: Article " + std::to_string(i % 53) + "\r\nTotal: " +
                   std::to_string(10 + i % 400) + ".00 EUR\r\n\r\nThank you for your order.\r\n");
        m->SetAttachments(std::make_shared<TextCollection>());
        return m;
    });
    source->SetID("generated");
    source->address = "buyer@example.org";
    source->recordCalls = false;
    return std::make_unique<testing::FakeSourceList>(std::move(source));
}

// With `patterns` each variable is found by a regular expression that takes the same value
// as its start and stop texts.
void WriteTemplates(const std::string& dir, const std::string& outDir, bool patterns) {
    for (int t = 1; t <= 5; ++t) {
        std::ofstream f(dir + "/T" + std::to_string(t) + ".txf", std::ios::binary);
        f << "[General]\r\nActive=True\r\nNum_Variables=3\r\nLast_Ran=Never\r\n"
          << "[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=Order\r\n[Variables]\r\n"
          << "Var1=OrderNo;MSG_TEXT;Order number:;{End of Line};0;0;1;0;1\r\n"
          << "Var2=Item;MSG_TEXT;Item:;{End of Line};1;0;1;0;1\r\n"
          << "Var3=Total;MSG_TEXT;TOTAL:;EUR;0;0;0;0;0\r\n"
          << "[Output]\r\nAllowDuplicate=" << (t % 3 == 0 ? "False" : "True")
          << "\r\nFile=" << outDir << "/out" << t
          << ".csv\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=OrderNo,Item,Total\r\n"
          << "[Scripts]\r\nrun=\r\n";
        if (patterns)
            f << "[Patterns]\r\nOrderNo=(?m)^Order number:[ \\t]*([^\\r\\n]*)\r\n"
              << "Item=(?m)^Item:[ \\t]*([^\\r\\n]*)\r\n"
              << "Total=TOTAL:(.*?)EUR\r\n";
    }
}

double RunOnce(int messages, bool patterns = false) {
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("tallix-run-bench-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "home" / "templates");
    fs::create_directories(root / "out");
    ::setenv("TALLIX_HOME", (root / "home").c_str(), 1);
    ResetProgramDir();
    ResetSettings();
    Settings().templateDir = (root / "home" / "templates").string();
    Settings().useSource = "GENERATED";
    WriteTemplates(Settings().templateDir, (root / "out").string(), patterns);
    RunContext run(Settings());
    run.sourceFactory = [messages](const std::string&) { return GeneratedSource(messages); };

    auto start = std::chrono::steady_clock::now();
    RunSources(run, "");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fs::remove_all(root);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    SetProgramIdentity("txengine", "txEngine");
    SetSilentMode(true);
    int largest = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (argc > 2 && std::string(argv[2]) == "patterns") {
        std::printf("%10s %14s %14s %8s\n", "messages", "start/stop/s", "patterns/s", "share");
        for (int n = 1000; n <= largest; n *= 10) {
            const double texts = RunOnce(n);
            const double patterns = RunOnce(n, true);
            std::printf("%10d %14.0f %14.0f %7.0f%%\n", n, n / texts, n / patterns,
                        100.0 * texts / patterns);
        }
        return 0;
    }
    std::printf("%10s %10s %12s %14s\n", "messages", "seconds", "messages/s", "us per record");
    for (int n = 1000; n <= largest; n *= 10) {
        double s = RunOnce(n);
        std::printf("%10d %10.3f %12.0f %14.2f\n", n, s, n / s, s * 1e6 / (n * 5.0));
    }
    return 0;
}
