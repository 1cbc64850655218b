#pragma once
// Watch mode's wait for new mail between runs. A mailbox file is watched with inotify (its
// directory, so a file replaced or created anew is seen too), a Maildir through its new/ and
// cur/ folders; each IMAP account of IMAP.CFG through a session of its own that examines the
// account's folder and idles (IDLE), so the server tells of a new message at once. A POP3
// account, an IMAP server without IDLE, and a source inotify cannot watch, are asked again
// after the poll interval. The watch is made before the run it follows, so mail that comes
// during the run is not missed. A stop request ends the wait at once.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace tallix::engine {

// Changes are waited on until none has come for this long: a message being appended is
// read whole.
inline constexpr std::chrono::milliseconds kSettleTime{300};
// The poll interval in seconds instead of PollMinutes (tests).
inline constexpr const char* kPollSecondsVariable = "TALLIX_POLL_SECONDS";
// An IDLE is ended and begun again after this long, before the 29 minutes after which a server
// may take a client that sent no command for gone (it may log it out after 30).
inline constexpr std::chrono::minutes kIdleRenewal{28};
// The renewal in seconds instead (tests).
inline constexpr const char* kIdleSecondsVariable = "TALLIX_IDLE_SECONDS";
// A watch session that was lost is opened again after 1 s, then after twice as long each time
// it fails, up to a minute.
inline constexpr std::chrono::seconds kFirstReconnect{1};
inline constexpr std::chrono::seconds kLongestReconnect{60};

class MailWatch {
  public:
    // Watches the source `settings` name.
    explicit MailWatch(const SettingsState& settings);
    ~MailWatch();  // out of line: ImapSession is complete only there
    MailWatch(const MailWatch&) = delete;
    MailWatch& operator=(const MailWatch&) = delete;

    // The source is still the one this watch was made for.
    bool Watches(const SettingsState& settings) const;
    // How new mail is noticed, for the log ("inotify on ..." or "a poll every N s").
    const std::string& How() const { return m_how; }
    // Returns once new mail may have come (after the poll interval when polling), or when a
    // stop was asked for.
    void Wait();

  private:
    struct ImapSession;
    void WatchFile(const std::string& path);
    void WatchMaildir(const std::string& dir);
    // Reads the events waiting; true when one concerns the source.
    bool Drain();
    void WatchImap();
    // Opens the session and starts its IDLE; false, logged, when it fails.
    bool OpenImap(ImapSession& session);
    // Ends a session that failed and sets the time of the next try.
    void LoseImap(ImapSession& session, const std::string& why);
    void WaitImap();

    std::string m_useSource;
    std::string m_place;
    int m_fd = -1;
    std::string m_fileName;  // the mailbox file's name in its directory; "" for a Maildir
    std::chrono::milliseconds m_poll;
    std::string m_how;
    std::vector<std::unique_ptr<ImapSession>> m_imap;
    std::string m_imapConfigStamp;  // IMAP.CFG as it was when the sessions were made
};

// The Maildir a "SIMPLE MAPI" or "EXTENDED MAPI" run reads: the profile, else $MAILDIR, else
// ~/Maildir.
std::string WatchedMaildir(const SettingsState& settings);

}  // namespace tallix::engine
