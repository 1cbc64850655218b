#pragma once
// Watch mode's wait for new mail between runs. A mailbox file is watched with inotify (its
// directory, so a file replaced or created anew is seen too), a Maildir through its new/ and
// cur/ folders; a POP3 or IMAP account, and a source inotify cannot watch, is asked again
// after the poll interval. The watch is made before the run it follows, so mail that comes
// during the run is not missed. A stop request ends the wait at once.

#include <chrono>
#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace tallix::engine {

// Changes are waited on until none has come for this long: a message being appended is
// read whole.
inline constexpr std::chrono::milliseconds kSettleTime{300};
// The poll interval in seconds instead of PollMinutes (tests).
inline constexpr const char* kPollSecondsVariable = "TALLIX_POLL_SECONDS";

class MailWatch {
  public:
    // Watches the source `settings` name.
    explicit MailWatch(const SettingsState& settings);
    ~MailWatch();
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
    void WatchFile(const std::string& path);
    void WatchMaildir(const std::string& dir);
    // Reads the events waiting; true when one concerns the source.
    bool Drain();

    std::string m_useSource;
    std::string m_place;
    int m_fd = -1;
    std::string m_fileName;  // the mailbox file's name in its directory; "" for a Maildir
    std::chrono::milliseconds m_poll;
    std::string m_how;
};

// The Maildir a "SIMPLE MAPI" or "EXTENDED MAPI" run reads: the profile, else $MAILDIR, else
// ~/Maildir.
std::string WatchedMaildir(const SettingsState& settings);

}  // namespace tallix::engine
