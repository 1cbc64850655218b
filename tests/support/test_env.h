#pragma once
// A private program directory and settings location for one test, restored afterwards.

#include <string>

namespace tallix::testing {

// Creates a fresh temporary directory with mode 0700 and removes it with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

// Points TALLIX_HOME and XDG_CONFIG_HOME into a TempDir for the test's lifetime, resets the
// silent flag and the pending error, and makes an ending report throw ProgramEndRequest.
class IsolatedEnvironment {
  public:
    IsolatedEnvironment();
    ~IsolatedEnvironment();
    const std::string& ProgramDir() const { return m_home; }
    std::string ConfigDir() const { return m_config; }
    std::string SettingsFile() const;
    std::string ReadProgramFile(const std::string& name) const;

  private:
    TempDir m_root;
    std::string m_home;
    std::string m_config;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace tallix::testing
