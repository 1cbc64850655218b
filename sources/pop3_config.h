#pragma once
// The stored mail accounts: POP3.CFG (and IMAP.CFG, in the same layout) in the program
// directory, a profile file with a "GENERAL" section (the count), a "NAMES" section
// ("Config1", "Config2", ... naming the accounts in order) and one section per account with
// its host, port, login and password, and the keys both kinds share: how the connection is
// secured ("Security"), a command that prints the password ("PasswordCommand") and how the
// login is made ("Auth"); IMAP accounts add "Folder" and "MoveTo". The engine reads the file
// at the start of a run; the template manager reads, edits and rewrites it. This library
// holds only the accounts' settings and their storage, so the manager links it without the
// mail sources or the MIME component.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
inline constexpr std::string_view kPop3KeySecurity = "Security";
inline constexpr std::string_view kPop3KeyPasswordCommand = "PasswordCommand";
inline constexpr std::string_view kPop3KeyAuth = "Auth";
inline constexpr std::string_view kImapConfigFile = "IMAP.CFG";
// The "UseSource" value that reads the accounts of IMAP.CFG.
inline constexpr std::string_view kSourceImap = "IMAP";
inline constexpr std::string_view kImapKeyFolder = "Folder";
inline constexpr std::string_view kImapKeyMoveTo = "MoveTo";
inline constexpr std::string_view kNoValidName = "No valid name";

// The values of "Security" and "Auth" as stored.
inline constexpr std::string_view kSecurityTls = "TLS";
inline constexpr std::string_view kSecurityStartTls = "STARTTLS";
inline constexpr std::string_view kSecurityNone = "None";
inline constexpr std::string_view kAuthPlain = "PLAIN";
inline constexpr std::string_view kAuthXOAuth2 = "XOAUTH2";
inline constexpr std::string_view kDefaultImapFolder = "INBOX";
inline constexpr std::int32_t kDefaultImapPort = 143;
// The ports on which TLS starts with the connection unless "Security" says otherwise.
inline constexpr std::int32_t kImapsPort = 993;
inline constexpr std::int32_t kPop3sPort = 995;

// Read buffers: a value comes back with at most 254 characters, the count with at most 9.
inline constexpr std::size_t kPop3ValueBuffer = 255;
inline constexpr std::size_t kPop3CountBuffer = 10;
inline constexpr std::int32_t kDefaultPop3Port = 110;
// POP3.CFG holds passwords: a new file is readable by its owner only.
inline constexpr unsigned kPop3ConfigMode = 0600;

// ProgramDir() + "/POP3.CFG".
std::string Pop3ConfigPath();
// ProgramDir() + "/IMAP.CFG".
std::string ImapConfigPath();

// How a connection is secured. TLS: from the first byte. StartTls: plain at first, then
// STARTTLS (STLS for POP3), which the server must offer: a server that does not is refused
// before anything of the login is sent. None: plain text throughout.
enum class AccountSecurity { Tls, StartTls, None };
// How the login is made. Plain: the password (USER/PASS or LOGIN, or the SASL PLAIN
// mechanism). XOAuth2: the password is an OAuth 2 access token given with SASL XOAUTH2.
enum class AccountAuth { Plain, XOAuth2 };

// "TLS", "STARTTLS" or "None" (any case, blanks around ignored); an empty text is the default
// of the port: TLS on 993 and 995, STARTTLS elsewhere. nullopt for any other text.
std::optional<AccountSecurity> ParseSecurity(std::string_view text, std::int32_t port);
// "PLAIN" (also the empty text) or "XOAUTH2"; nullopt for any other text.
std::optional<AccountAuth> ParseAuth(std::string_view text);
std::string_view SecurityName(AccountSecurity security);

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
    // The keys POP3 and IMAP accounts share, as stored ("" when absent).
    const std::string& Security() const { return m_security; }
    void SetSecurity(std::string security) { m_security = std::move(security); }
    const std::string& PasswordCommand() const { return m_passwordCommand; }
    void SetPasswordCommand(std::string command) { m_passwordCommand = std::move(command); }
    const std::string& Auth() const { return m_auth; }
    void SetAuth(std::string auth) { m_auth = std::move(auth); }
    // IMAP accounts only: the folder read (empty: INBOX) and where deleted messages go.
    const std::string& Folder() const { return m_folder; }
    void SetFolder(std::string folder) { m_folder = std::move(folder); }
    const std::string& MoveTo() const { return m_moveTo; }
    void SetMoveTo(std::string moveTo) { m_moveTo = std::move(moveTo); }
    const std::string& ConfigFile() const { return m_configFile; }

    // The whole section: host, port, login, password, in that order, then the shared keys
    // (written only when not empty, so a file without them is rewritten as it was). An empty
    // trimmed ID shows "No valid name" and reads or writes nothing.
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
    std::string m_security, m_passwordCommand, m_auth, m_folder, m_moveTo;
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

// The warning logged at each connect of an account whose "Security" is None.
inline constexpr std::string_view kInClearWarning =
    "warning: Security=None, the login and the messages cross the network unencrypted";

// --- passwords that need not sit in the file ----------------------------------------------

// The longest a password command may take.
inline constexpr int kPasswordCommandSeconds = 10;

// `command` split into words as a POSIX shell splits them (blanks separate words; single
// quotes keep everything; in double quotes a backslash escapes only \\, ", $ and `; a
// backslash outside quotes keeps the next character), without any expansion: no variables,
// no globs, no ~, no command substitution. nullopt when a quote is left open or the command
// is empty.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view command);

struct PasswordCommandResult {
    bool ok = false;
    std::string password;  // the first line of the command's standard output
    std::string reason;    // why it failed; never holds anything the command printed
};
// Runs `command` without a shell (the first word looked up in PATH), standard input and error
// on /dev/null, and gives the first line of its standard output (without its line end). It
// fails when the command cannot be started, does not end within `seconds` (it and the
// processes it started are then killed), ends with a status other than 0 or by a signal, or
// prints nothing on that first line.
PasswordCommandResult RunPasswordCommand(std::string_view command,
                                         int seconds = kPasswordCommandSeconds);

// What an account logs in with.
struct AccountLogin {
    AccountSecurity security = AccountSecurity::StartTls;
    AccountAuth auth = AccountAuth::Plain;
    std::string password;
    // Empty when the account can log in; otherwise why not (a value of "Security" or "Auth"
    // that is none of the known ones, a password command that failed). Never holds the
    // password or anything a command printed.
    std::string failure;
};
// The account's "Security" (its default TLS when `tlsByDefault`, else as ParseSecurity says)
// and "Auth", and its password: "Password", or when that is empty and "PasswordCommand" is
// set, the first line the command prints (run here, with its time limit).
AccountLogin ResolveLogin(const clsPOP3Config& account, bool tlsByDefault,
                          int commandSeconds = kPasswordCommandSeconds);

}  // namespace tallix::sources
