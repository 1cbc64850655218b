#include "sources/pop3_config.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>

#include "model/profile_file.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/run_time_error.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::sources {
namespace {

using profile::ProfileDocument;

// A line break in a name or value would start a stray line in the file; everything from the
// first one on is left out.
std::string FirstLine(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

std::string ConfigKey(std::int32_t position) {
    return std::string(kPop3KeyConfigPrefix) + std::to_string(position);
}

ProfileDocument LoadOrRaise(const std::string& path) {
    profile::ProfileStatus status;
    ProfileDocument doc = ProfileDocument::Load(path, &status);
    // A missing file is no error: every read then gives its default.
    if (!status.ok() && status.error != ENOENT) RaiseErrno(status.error, path);
    return doc;
}

void SaveOrRaise(const ProfileDocument& doc, const std::string& path) {
    profile::ProfileStatus status = doc.Save(path, kPop3ConfigMode);
    if (!status.ok()) RaiseErrno(status.error, path);
}

// The positions n (1 to nCount) for which NAMES holds a key "Config<n>". Looking at the keys
// that exist keeps a damaged count such as 999999999 from costing a billion lookups; the
// accounts found are the same as asking for every position in turn.
std::set<std::int32_t> StoredPositions(const ProfileDocument& doc, std::int32_t nCount) {
    std::set<std::int32_t> positions;
    const std::size_t prefix = kPop3KeyConfigPrefix.size();
    for (const std::string& key : doc.KeyNames(kPop3SectionNames)) {
        if (key.size() <= prefix || key.size() > prefix + 10) continue;
        if (!EqualsNoCase(std::string_view(key).substr(0, prefix), kPop3KeyConfigPrefix)) continue;
        std::string_view digits = std::string_view(key).substr(prefix);
        if (digits.front() == '0') continue;  // "Config01" is not the key "Config1"
        std::int64_t n = 0;
        bool numeric = true;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                numeric = false;
                break;
            }
            n = n * 10 + (c - '0');
        }
        if (numeric && n >= 1 && n <= nCount) positions.insert(static_cast<std::int32_t>(n));
    }
    return positions;
}

}  // namespace

std::string Pop3ConfigPath() {
    return JoinPath(ProgramDir(), kPop3ConfigFile);
}

std::string ImapConfigPath() {
    return JoinPath(ProgramDir(), kImapConfigFile);
}

std::optional<AccountSecurity> ParseSecurity(std::string_view text, std::int32_t port) {
    const std::string value = Trim(text);
    if (value.empty())
        return port == kImapsPort || port == kPop3sPort ? AccountSecurity::Tls
                                                        : AccountSecurity::StartTls;
    if (EqualsNoCase(value, kSecurityTls)) return AccountSecurity::Tls;
    if (EqualsNoCase(value, kSecurityStartTls)) return AccountSecurity::StartTls;
    if (EqualsNoCase(value, kSecurityNone)) return AccountSecurity::None;
    return std::nullopt;
}

std::optional<AccountAuth> ParseAuth(std::string_view text) {
    const std::string value = Trim(text);
    if (value.empty() || EqualsNoCase(value, kAuthPlain)) return AccountAuth::Plain;
    if (EqualsNoCase(value, kAuthXOAuth2)) return AccountAuth::XOAuth2;
    return std::nullopt;
}

std::string_view SecurityName(AccountSecurity security) {
    switch (security) {
        case AccountSecurity::Tls:
            return kSecurityTls;
        case AccountSecurity::StartTls:
            return kSecurityStartTls;
        case AccountSecurity::None:
            break;
    }
    return kSecurityNone;
}

// --- clsPOP3Config ---------------------------------------------------------------------------

clsPOP3Config::clsPOP3Config(std::string configFile) : m_configFile(std::move(configFile)) {}

std::string clsPOP3Config::Section() const {
    return FirstLine(Trim(m_id));
}

std::string clsPOP3Config::ReadValue(const ProfileDocument& doc, std::string_view key,
                                     std::string_view def) const {
    return StripNulls(doc.Get(Section(), key, def, kPop3ValueBuffer));
}

void clsPOP3Config::ReadConfig(const ProfileDocument& doc) {
    Guard("clsPOP3Config - ReadConfig", [&] {
        if (Section().empty()) {
            MsgBox(kNoValidName, MsgButtons::Ok);
            return;
        }
        Guard("clsPOP3Config - ReadHostName",
              [&] { m_hostName = ReadValue(doc, kPop3KeyHostName, ""); });
        Guard("clsPOP3Config - ReadPort", [&] {
            m_port = CLng(Val(ReadValue(doc, kPop3KeyPort, std::to_string(kDefaultPop3Port))));
        });
        Guard("clsPOP3Config - ReadLoginName",
              [&] { m_loginName = ReadValue(doc, kPop3KeyLoginName, ""); });
        Guard("clsPOP3Config - ReadPassword",
              [&] { m_password = ReadValue(doc, kPop3KeyPassword, ""); });
        m_security = ReadValue(doc, kPop3KeySecurity, "");
        m_passwordCommand = ReadValue(doc, kPop3KeyPasswordCommand, "");
        m_auth = ReadValue(doc, kPop3KeyAuth, "");
        m_folder = ReadValue(doc, kImapKeyFolder, "");
        m_moveTo = ReadValue(doc, kImapKeyMoveTo, "");
    });
}

void clsPOP3Config::WriteConfig(ProfileDocument& doc) const {
    Guard("clsPOP3Config - WriteConfig", [&] {
        const std::string section = Section();
        if (section.empty()) {
            MsgBox(kNoValidName, MsgButtons::Ok);
            return;
        }
        doc.Set(section, kPop3KeyHostName, FirstLine(Trim(m_hostName)));
        doc.Set(section, kPop3KeyPort, std::to_string(m_port));
        doc.Set(section, kPop3KeyLoginName, FirstLine(Trim(m_loginName)));
        doc.Set(section, kPop3KeyPassword, FirstLine(Trim(m_password)));
        const auto optional = [&](std::string_view key, const std::string& value) {
            const std::string line = FirstLine(Trim(value));
            if (!line.empty() || !doc.Get(section, key, "", kPop3ValueBuffer).empty())
                doc.Set(section, key, line);
        };
        optional(kPop3KeySecurity, m_security);
        optional(kPop3KeyPasswordCommand, m_passwordCommand);
        optional(kPop3KeyAuth, m_auth);
        optional(kImapKeyFolder, m_folder);
        optional(kImapKeyMoveTo, m_moveTo);
    });
}

void clsPOP3Config::ReadConfig() {
    Guard("clsPOP3Config - ReadConfig", [&] { ReadConfig(LoadOrRaise(m_configFile)); });
}

void clsPOP3Config::WriteConfig() {
    if (Trim(m_id).empty()) {
        MsgBox(kNoValidName, MsgButtons::Ok);
        return;
    }
    UpdateFile("clsPOP3Config - WriteConfig", [&](ProfileDocument& doc) { WriteConfig(doc); });
}

template <class Change>
void clsPOP3Config::UpdateFile(std::string_view context, Change&& change) {
    Guard(context, [&] {
        ProfileDocument doc = LoadOrRaise(m_configFile);
        change(doc);
        SaveOrRaise(doc, m_configFile);
    });
}

void clsPOP3Config::ReadHostName() {
    Guard("clsPOP3Config - ReadHostName",
          [&] { m_hostName = ReadValue(LoadOrRaise(m_configFile), kPop3KeyHostName, ""); });
}

void clsPOP3Config::ReadPort() {
    Guard("clsPOP3Config - ReadPort", [&] {
        m_port = CLng(Val(
            ReadValue(LoadOrRaise(m_configFile), kPop3KeyPort, std::to_string(kDefaultPop3Port))));
    });
}

void clsPOP3Config::ReadLoginName() {
    Guard("clsPOP3Config - ReadLoginName",
          [&] { m_loginName = ReadValue(LoadOrRaise(m_configFile), kPop3KeyLoginName, ""); });
}

void clsPOP3Config::ReadPassword() {
    Guard("clsPOP3Config - ReadPassword",
          [&] { m_password = ReadValue(LoadOrRaise(m_configFile), kPop3KeyPassword, ""); });
}

void clsPOP3Config::WriteHostName() {
    UpdateFile("clsPOP3Config - WriteHostName", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyHostName, FirstLine(Trim(m_hostName)));
    });
}

void clsPOP3Config::WritePort() {
    UpdateFile("clsPOP3Config - WritePort", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyPort, std::to_string(m_port));
    });
}

void clsPOP3Config::WriteLoginName() {
    UpdateFile("clsPOP3Config - WriteLoginName", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyLoginName, FirstLine(Trim(m_loginName)));
    });
}

void clsPOP3Config::WritePassword() {
    UpdateFile("clsPOP3Config - WritePassword", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyPassword, FirstLine(Trim(m_password)));
    });
}

// --- colPop3Config ---------------------------------------------------------------------------

colPop3Config::colPop3Config(std::string configFile) : m_configFile(std::move(configFile)) {}

clsPOP3Config* colPop3Config::Add(std::string_view key) {
    return GuardValue<clsPOP3Config*>("colPOP3Config - Add", nullptr, [&] {
        auto account = std::make_shared<clsPOP3Config>(m_configFile);
        m_items.Add(account, key);
        return account.get();
    });
}

clsPOP3Config* colPop3Config::Item(std::int32_t index) {
    return GuardValue<clsPOP3Config*>("colPOP3Config = Get Item", nullptr,
                                      [&] { return m_items.Item(index).get(); });
}

clsPOP3Config* colPop3Config::Item(std::string_view key) {
    return GuardValue<clsPOP3Config*>("colPOP3Config = Get Item", nullptr,
                                      [&] { return m_items.Item(key).get(); });
}

void colPop3Config::Remove(std::int32_t index) {
    Guard("colPOP3Config - Remove", [&] { m_items.Remove(index); });
}

void colPop3Config::Remove(std::string_view key) {
    Guard("colPOP3Config - Remove", [&] { m_items.Remove(key); });
}

void colPop3Config::GetConfigs() {
    Guard("colPop3Config", [&] {
        ProfileDocument doc = LoadOrRaise(m_configFile);
        const std::int32_t count = CLng(
            Val(StripNulls(doc.Get(kPop3SectionGeneral, kPop3KeyCount, "0", kPop3CountBuffer))));
        if (count <= 0) return;
        if (DeleteConfigurations()) ReadConfigurations(count);
    });
}

void colPop3Config::ReadConfigurations(std::int32_t nCount) {
    Guard("colPOP3Config - ReadConfigurations", [&] {
        ProfileDocument doc = LoadOrRaise(m_configFile);
        for (std::int32_t position : StoredPositions(doc, nCount)) {
            std::string name =
                StripNulls(doc.Get(kPop3SectionNames, ConfigKey(position), "", kPop3ValueBuffer));
            if (name.empty()) continue;
            clsPOP3Config* account = Add();
            if (!account) Raise(kErrInternal, "The account could not be added");
            account->SetID(name);
            account->ReadConfig(doc);
        }
    });
}

bool colPop3Config::DeleteConfigurations() {
    return Guard("colPOP3Config - DeleteConfigurations", [&] {
        while (m_items.Count() > 0) m_items.Remove(m_items.Count());
    });
}

void colPop3Config::PutConfigs() {
    Guard("colPOP3Config - PutConfigs", [&] {
        // The new file is built whole and then replaces the old one, so a failure on the way
        // leaves the accounts that were stored before.
        ProfileDocument doc;
        const std::int32_t count = m_items.Count();
        doc.Set(kPop3SectionGeneral, kPop3KeyCount, std::to_string(count));
        for (std::int32_t i = 1; i <= count; ++i) {
            doc.Set(kPop3SectionNames, ConfigKey(i), FirstLine(m_items.Item(i)->ID()));
        }
        for (std::int32_t i = 1; i <= count; ++i) m_items.Item(i)->WriteConfig(doc);
        SaveOrRaise(doc, m_configFile);
    });
}

}  // namespace tallix::sources

namespace tallix::sources {

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else if (c == '\'') {
            const std::size_t close = command.find('\'', i + 1);
            if (close == std::string_view::npos) return std::nullopt;
            word.append(command.substr(i + 1, close - i - 1));
            i = close;
            inWord = true;
        } else if (c == '"') {
            std::size_t j = i + 1;
            for (; j < command.size() && command[j] != '"'; ++j) {
                if (command[j] == '\\' && j + 1 < command.size() &&
                    std::string_view("\\\"$`").find(command[j + 1]) != std::string_view::npos)
                    ++j;
                word += command[j];
            }
            if (j >= command.size()) return std::nullopt;
            i = j;
            inWord = true;
        } else if (c == '\\') {
            if (i + 1 < command.size()) word += command[++i];
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    if (words.empty()) return std::nullopt;
    return words;
}

namespace {

// Reads the child's standard output up to its first line end (the rest is read and dropped
// until the output ends) and reaps the child, both within `deadline`. True once the child
// has ended and its first line is known; false when the deadline passed first. `exited`
// tells whether the child was reaped.
bool CollectFirstLine(int fd, pid_t pid, std::chrono::steady_clock::time_point deadline,
                      std::string& line, int& status, bool& exited) {
    // More than a password can be is never kept.
    constexpr std::size_t kLongestLine = 64 * 1024;
    bool lineDone = false;
    bool eof = false;
    char buffer[4096];
    for (;;) {
        if (!exited) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid || (done < 0 && errno != EINTR)) exited = true;
        }
        // A process the command left behind may hold the output open: once the command
        // itself has ended, its first line is all that is waited for.
        if (exited && (eof || lineDone)) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        const int wait = static_cast<int>(std::min<long long>(left.count(), 20));
        if (eof) {
            ::usleep(static_cast<useconds_t>(wait) * 1000);
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready <= 0) continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof = true;
            continue;
        }
        if (lineDone) continue;
        const std::string_view piece(buffer, static_cast<std::size_t>(n));
        const std::size_t lf = piece.find('\n');
        line.append(piece.substr(0, lf));
        if (line.size() > kLongestLine) {
            line.clear();
            lineDone = true;
        } else if (lf != std::string_view::npos) {
            lineDone = true;
        }
    }
}

}  // namespace

PasswordCommandResult RunPasswordCommand(std::string_view command, int seconds) {
    PasswordCommandResult result;
    const std::optional<std::vector<std::string>> words = SplitCommandLine(command);
    if (!words) {
        result.reason = "the command is empty or has a quote that is not closed";
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& word : *words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        result.reason = "no pipe could be made";
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so a command that hangs is stopped with whatever it started.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        result.reason = "the program " + (*words)[0] + " could not be started";
        return result;
    }
    std::string line;
    int status = 0;
    bool exited = false;
    const bool finished = CollectFirstLine(
        out[0], pid, std::chrono::steady_clock::now() + std::chrono::seconds(seconds), line, status,
        exited);
    ::close(out[0]);
    if (!finished) {
        ::kill(-pid, SIGKILL);
        if (!exited) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        result.reason = "the command did not end within " + std::to_string(seconds) + " seconds";
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.reason = WIFEXITED(status)
                            ? "the command ended with status " + std::to_string(WEXITSTATUS(status))
                            : "the command was ended by a signal";
        return result;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
        result.reason = "the command printed no password";
        return result;
    }
    result.ok = true;
    result.password = std::move(line);
    return result;
}

AccountLogin ResolveLogin(const clsPOP3Config& account, bool tlsByDefault, int commandSeconds) {
    AccountLogin login;
    const std::optional<AccountSecurity> security =
        Trim(account.Security()).empty() && tlsByDefault
            ? AccountSecurity::Tls
            : ParseSecurity(account.Security(), account.Port());
    if (!security) {
        login.failure = "\"" + std::string(kPop3KeySecurity) + "=" + account.Security() +
                        "\" is not one of TLS, STARTTLS or None";
        return login;
    }
    login.security = *security;
    const std::optional<AccountAuth> auth = ParseAuth(account.Auth());
    if (!auth) {
        login.failure = "\"" + std::string(kPop3KeyAuth) + "=" + account.Auth() +
                        "\" is not one of PLAIN or XOAUTH2";
        return login;
    }
    login.auth = *auth;
    login.password = account.Password();
    if (login.password.empty() && !Trim(account.PasswordCommand()).empty()) {
        PasswordCommandResult result =
            RunPasswordCommand(account.PasswordCommand(), commandSeconds);
        if (!result.ok) {
            login.failure = "the password command failed: " + result.reason;
            return login;
        }
        login.password = std::move(result.password);
    }
    return login;
}

}  // namespace tallix::sources
