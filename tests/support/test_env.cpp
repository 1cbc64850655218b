#include "tests/support/test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "settings/app_info.h"
#include "settings/error_reporter.h"

namespace tallix::testing {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/tallixtestXXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    m_path = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

IsolatedEnvironment::IsolatedEnvironment() {
    m_home = m_root.File("home");
    m_config = m_root.File("config");
    std::filesystem::create_directories(m_home);
    std::filesystem::create_directories(m_config);
    ::setenv("TALLIX_HOME", m_home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", m_config.c_str(), 1);
    // The desktop's trash and other data of the user go below the private root too.
    ::setenv("XDG_DATA_HOME", m_root.File("data").c_str(), 1);
    ResetProgramDir();
    SetSilentMode(false);
    Err().Clear();
    SetEndProgramHandler([](int status) { throw ProgramEndRequest{status}; });
}

IsolatedEnvironment::~IsolatedEnvironment() {
    SetEndProgramHandler(nullptr);
    SetUnloadStatusWindowHook(nullptr);
    SetSilentMode(false);
    Err().Clear();
    ::unsetenv("TALLIX_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    ResetProgramDir();
}

std::string IsolatedEnvironment::SettingsFile() const {
    return m_config + "/Vantroy Technologies/Tallix.ini";
}

std::string IsolatedEnvironment::ReadProgramFile(const std::string& name) const {
    return ReadFileBytes(m_home + "/" + name);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace tallix::testing
