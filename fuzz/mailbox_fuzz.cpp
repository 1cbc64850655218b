// The mailbox-file source over any bytes: the walk ends, hands over at most the messages it
// counted, and every file it writes (the scratch message file, decoded attachments) lies
// inside the scratch directory. The first byte chooses the file format.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/mime_host.h"
#include "engine/run_state.h"
#include "fuzz/fuzz_support.h"
#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "sources/netscape_source.h"

namespace fs = std::filesystem;
using namespace tallix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto& sandbox = fuzz::Environment();
    fuzz::TrimLogs();
    static engine::EngineMimeHost& host = []() -> engine::EngineMimeHost& {
        engine::MimeHost().SetWaitLimit(std::chrono::seconds(20));
        return engine::MimeHost();
    }();
    const std::string scratch = ScratchDir();
    FUZZ_CHECK(!scratch.empty(), "no scratch directory");

    const std::string path = sandbox.work + "/mailbox";
    fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    Settings().useSource = (data[0] & 1) ? kSourceEudora : kSourceNetscape;
    Settings().localFileName = path;

    {
        sources::clsNetscape source;
        source.SetAttachmentDecoder(&host);
        engine::CurrentRun().currentSource = &source;
        source.Connect();
        std::int64_t handed = 0;
        if (source.IsConnected()) {
            source.GetFirstMsg();
            while (source.Message()) {
                ++handed;
                FUZZ_CHECK(handed <= source.TotalMessages(),
                           "more messages handed over than counted");
                (void)source.Message()->Body();
                source.Cleanup();
                source.GetNextMsg();
            }
            source.Cleanup();
        }
        source.Disconnect();
        engine::CurrentRun().currentSource = nullptr;
    }

    for (const std::string& file : fuzz::FilesUnder(sandbox.root)) {
        const bool allowed = file == path || file.rfind(scratch + "/", 0) == 0 ||
                             file.rfind(sandbox.home + "/", 0) == 0 ||
                             file.rfind(sandbox.config + "/", 0) == 0;
        FUZZ_CHECK(allowed, file);
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(scratch, ec)) fs::remove_all(entry.path(), ec);
    Err().Clear();
    return 0;
}
