// Decoding a whole file into a directory the way the engine does it: whatever the message
// says about its parts and their names, every file written lies inside the destination
// directory, and the decode ends.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/mime_host.h"
#include "fuzz/fuzz_support.h"
#include "qrmime/control.h"
#include "settings/error_reporter.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& sandbox = tallix::fuzz::Environment();
    tallix::fuzz::TrimLogs();
    static tallix::engine::EngineMimeHost& host = []() -> tallix::engine::EngineMimeHost& {
        tallix::engine::MimeHost().SetWaitLimit(std::chrono::seconds(20));
        return tallix::engine::MimeHost();
    }();

    const std::string inbox = sandbox.work + "/in";
    const std::string dest = sandbox.work + "/out/dest";
    std::error_code ec;
    fs::remove_all(sandbox.work, ec);
    fs::create_directories(inbox);
    fs::create_directories(dest);
    const std::string source = inbox + "/message";
    tallix::fuzz::WriteFile(source, std::string_view(reinterpret_cast<const char*>(data), size));

    host.DecodeFile(source, dest);
    FUZZ_CHECK(!host.Control().IsBusy(), "decode still running after the wait");

    for (const std::string& path : tallix::fuzz::FilesUnder(sandbox.root)) {
        const bool allowed = path == source || path.rfind(dest + "/", 0) == 0 ||
                             path.rfind(sandbox.home + "/", 0) == 0 ||
                             path.rfind(sandbox.config + "/", 0) == 0;
        FUZZ_CHECK(allowed, path);
    }
    fs::remove_all(sandbox.work, ec);
    tallix::Err().Clear();
    return 0;
}
