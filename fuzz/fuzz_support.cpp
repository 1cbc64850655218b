#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/settings_store.h"
#include "settings/user_interface.h"

namespace tallix::fuzz {

namespace fs = std::filesystem;

namespace {

// Message boxes take their default answer without a word: a box is no finding, and
// millions of them on standard error would drown the fuzzer's own output.
class QuietUi final : public UserInterface {
  public:
    MsgAnswer ShowMessage(const MessageBoxRequest& request) override {
        return request.defaultAnswer;
    }
    void ProcessPendingEvents() override {}
};

Sandbox MakeSandbox() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/tallixfuzzXXXXXX";
    if (!::mkdtemp(templ.data())) Fail("cannot create the sandbox directory");
    Sandbox s;
    s.root = templ;
    s.home = s.root + "/home";
    s.config = s.root + "/config";
    s.tmp = s.root + "/tmp";
    s.work = s.root + "/work";
    for (const std::string* d : {&s.home, &s.config, &s.tmp, &s.work}) fs::create_directories(*d);
    ::setenv("TALLIX_HOME", s.home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", s.config.c_str(), 1);
    ::setenv("TMPDIR", s.tmp.c_str(), 1);
    ResetProgramDir();
    SetProgramIdentity("txengine", "txEngine");
    ResetSettings();
    SetSilentMode(true);
    Err().Clear();
    SetEndProgramHandler([](int status) { throw ProgramEndRequest{status}; });
    static QuietUi ui;
    SetUi(&ui);
    return s;
}

struct SandboxRemover {
    ~SandboxRemover() {
        if (path.empty()) return;
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};

}  // namespace

const Sandbox& Environment() {
    static const Sandbox sandbox = MakeSandbox();
    static SandboxRemover remover{sandbox.root};
    return sandbox;
}

void TrimLogs() {
    const Sandbox& s = Environment();
    for (std::string_view name : {kErrorLog, kSystemLog}) {
        const std::string path = s.home + "/" + std::string(name);
        std::error_code ec;
        if (fs::file_size(path, ec) > (1u << 20) && !ec) fs::resize_file(path, 0, ec);
    }
}

std::vector<std::string_view> SplitInput(const std::uint8_t* data, std::size_t size,
                                         std::size_t count) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> out;
    while (out.size() + 1 < count) {
        const std::size_t cut = in.find('\x1f');
        if (cut == std::string_view::npos) break;
        out.push_back(in.substr(0, cut));
        in.remove_prefix(cut + 1);
    }
    out.push_back(in);
    out.resize(count);
    return out;
}

std::vector<std::string> FilesUnder(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) || it->is_symlink(ec)) out.push_back(it->path().string());
    }
    return out;
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail("cannot write", path);
}

void Fail(std::string_view what, std::string_view detail) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %.*s\n", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) {
        std::fprintf(stderr, "  detail: %.*s\n",
                     static_cast<int>(std::min<std::size_t>(detail.size(), 2000)), detail.data());
    }
    std::abort();
}

}  // namespace tallix::fuzz
