#pragma once
// The stored POP3 accounts: POP3.CFG in the program directory, a profile file with a
// "GENERAL" section (the count), a "NAMES" section ("Config1", "Config2", ... naming the
// accounts in order) and one section per account with its host, port, login and password.
// The engine reads it at the start of a POP3 run; the template manager reads, edits and
// rewrites it. This library holds only the accounts' settings and their storage, so the
// manager links it without the mail sources or the MIME component.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/collection.h"

namespace tallix::profile {
class ProfileDocument;
}

namespace tallix::sources {

inline constexpr std::string_view kPop3ConfigFile = "POP3.CFG";
inline constexpr std::string_view kPop3SectionGeneral = "GENERAL";
inline constexpr std::string_view kPop3SectionNames = "NAMES";
inline constexpr std::string_view kPop3KeyCount = "Count";
inline constexpr std::string_view kPop3KeyConfigPrefix = "Config";
inline constexpr std::string_view kPop3KeyHostName = "HostName";
inline constexpr std::string_view kPop3KeyPort = "Port";
inline constexpr std::string_view kPop3KeyLoginName = "LoginName";
inline constexpr std::string_view kPop3KeyPassword = "Password";
inline constexpr std::string_view kNoValidName = "No valid name";

// Read buffers: a value comes back with at most 254 characters, the count with at most 9.
inline constexpr std::size_t kPop3ValueBuffer = 255;
inline constexpr std::size_t kPop3CountBuffer = 10;
inline constexpr std::int32_t kDefaultPop3Port = 110;
// POP3.CFG holds passwords: a new file is readable by its owner only.
inline constexpr unsigned kPop3ConfigMode = 0600;

// ProgramDir() + "/POP3.CFG".
std::string Pop3ConfigPath();

// One account: its name (also its section in the file) and its server settings.
class clsPOP3Config {
  public:
    // The file the account's storage operations use; POP3.CFG in the program directory
    // unless set.
    explicit clsPOP3Config(std::string configFile = Pop3ConfigPath());

    const std::string& ID() const { return m_id; }
    void SetID(std::string id) { m_id = std::move(id); }
    const std::string& HostName() const { return m_hostName; }
    void SetHostName(std::string host) { m_hostName = std::move(host); }
    std::int32_t Port() const { return m_port; }
    void SetPort(std::int32_t port) { m_port = port; }
    const std::string& LoginName() const { return m_loginName; }
    void SetLoginName(std::string name) { m_loginName = std::move(name); }
    const std::string& Password() const { return m_password; }
    void SetPassword(std::string password) { m_password = std::move(password); }
    const std::string& ConfigFile() const { return m_configFile; }

    // The whole section: host, port, login, password, in that order. An empty trimmed ID
    // shows "No valid name" and reads or writes nothing.
    void ReadConfig();
    void WriteConfig();
    // One key each; the Write forms update the file in place (atomically).
    void ReadHostName();
    void ReadPort();
    void ReadLoginName();
    void ReadPassword();
    void WriteHostName();
    void WritePort();
    void WriteLoginName();
    void WritePassword();

    // The same operations on a document already in memory (one load for many accounts,
    // one atomic save for a whole rewrite).
    void ReadConfig(const profile::ProfileDocument& doc);
    void WriteConfig(profile::ProfileDocument& doc) const;

  private:
    std::string Section() const;
    std::string ReadValue(const profile::ProfileDocument& doc, std::string_view key,
                          std::string_view def) const;
    template <class Change>
    void UpdateFile(std::string_view context, Change&& change);

    std::string m_configFile;
    std::string m_id;
    std::string m_hostName;
    std::int32_t m_port = kDefaultPop3Port;
    std::string m_loginName;
    std::string m_password;
};

// The accounts in file order, 1-based, with optional unique keys.
class colPop3Config {
  public:
    explicit colPop3Config(std::string configFile = Pop3ConfigPath());

    // A new account (using this list's file), appended under `key` when not empty.
    clsPOP3Config* Add(std::string_view key = {});
    // nullptr (reported) when the position or key does not exist.
    clsPOP3Config* Item(std::int32_t index);
    clsPOP3Config* Item(std::string_view key);
    std::int32_t Count() const { return m_items.Count(); }
    void Remove(std::int32_t index);
    void Remove(std::string_view key);
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

    // Replaces the list by the accounts stored in the file; a stored count of 0 or less
    // leaves the list as it was.
    void GetConfigs();
    // Rewrites the whole file from the list, replacing the old one in one step.
    void PutConfigs();
    // Appends the accounts named "Config1" .. "Config<nCount>"; empty names are skipped.
    void ReadConfigurations(std::int32_t nCount);
    // Empties the list; true unless that failed.
    bool DeleteConfigurations();

    const std::string& ConfigFile() const { return m_configFile; }

  private:
    std::string m_configFile;
    Collection<std::shared_ptr<clsPOP3Config>> m_items;
};

}  // namespace tallix::sources
