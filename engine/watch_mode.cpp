#include "engine/watch_mode.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/engine_log.h"
#include "engine/run_stop.h"
#include "settings/logs.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/imap_client.h"
#include "sources/imap_source.h"
#include "sources/maildir_store.h"
#include "sources/pop3_config.h"

namespace tallix::engine {
namespace {

// How often the wait looks at the stop request and lets window events run.
constexpr int kSliceMs = 100;
constexpr std::int32_t kSecondsPerMinute = 60;

std::chrono::milliseconds PollInterval(const SettingsState& settings) {
    if (const char* text = std::getenv(kPollSecondsVariable); text && *text) {
        char* end = nullptr;
        const double seconds = std::strtod(text, &end);
        if (end != text && seconds > 0 && seconds <= 86400)
            return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
    return std::chrono::minutes(settings.pollMinutes > 0 ? settings.pollMinutes
                                                         : kDefaultPollMinutes);
}

bool IsMailboxFileKind(const std::string& kind) {
    return kind == kSourceNetscape || kind == kSourceEudora || kind == kSourceFileOther;
}

bool IsMaildirKind(const std::string& kind) {
    return kind == kSourceExtendedMapi || kind == kSourceSimpleMapi;
}

using Clock = std::chrono::steady_clock;

// The limits of a watch session's commands.
constexpr int kImapWatchLimitMs = 30000;

std::chrono::milliseconds IdleRenewal() {
    if (const char* text = std::getenv(kIdleSecondsVariable); text && *text) {
        char* end = nullptr;
        const double seconds = std::strtod(text, &end);
        if (end != text && seconds > 0 && seconds <= 86400)
            return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
    return kIdleRenewal;
}

// What the watch knows IMAP.CFG by: its modification time and size, so a changed account file
// makes the sessions anew.
std::string FileStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "missing";
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "/" +
           std::to_string(st.st_size);
}

// Sleeps up to `ms`, in slices, letting window events run; false when a stop was asked for.
bool Pause(std::chrono::milliseconds ms) {
    const auto end = std::chrono::steady_clock::now() + ms;
    while (std::chrono::steady_clock::now() < end) {
        if (StopRequested()) return false;
        LetEventsRun();
        ::usleep(kSliceMs * 1000);
    }
    return !StopRequested();
}

}  // namespace

std::string WatchedMaildir(const SettingsState& settings) {
    if (settings.useSource == kSourceExtendedMapi && !Trim(settings.mapiProfile).empty())
        return Trim(settings.mapiProfile);
    return sources::maildir::DefaultMaildir();
}

struct MailWatch::ImapSession {
    sources::clsPOP3Config account;
    sources::ImapClient client;
    bool idles = false;  // the server offers IDLE
    Clock::time_point idleSince;
    Clock::time_point retryAt;
    std::chrono::seconds backoff{0};
    bool lost = false;  // lost, and not opened again since

    std::string Name() const {
        return "IMAP account " + LogSafe(account.ID()) + " (" + LogSafe(account.HostName()) + ":" +
               std::to_string(account.Port()) + ")";
    }
};

MailWatch::MailWatch(const SettingsState& settings)
    : m_useSource(settings.useSource), m_poll(PollInterval(settings)) {
    if (IsMailboxFileKind(m_useSource)) {
        m_place = settings.localFileName;
        WatchFile(m_place);
    } else if (IsMaildirKind(m_useSource)) {
        m_place = WatchedMaildir(settings);
        WatchMaildir(m_place);
    } else if (m_useSource == sources::kSourceImap) {
        WatchImap();
    }
    if (m_fd < 0 && m_imap.empty())
        m_how = "a poll every " + std::to_string(m_poll.count() / 1000) + " s" +
                (m_how.empty() ? std::string() : " (" + m_how + ")");
}

MailWatch::~MailWatch() {
    if (m_fd >= 0) ::close(m_fd);
}

bool MailWatch::Watches(const SettingsState& settings) const {
    if (settings.useSource != m_useSource) return false;
    if (IsMailboxFileKind(m_useSource)) return settings.localFileName == m_place;
    if (IsMaildirKind(m_useSource)) return WatchedMaildir(settings) == m_place;
    if (m_useSource == sources::kSourceImap &&
        FileStamp(sources::ImapConfigPath()) != m_imapConfigStamp)
        return false;
    return PollInterval(settings) == m_poll;
}

void MailWatch::WatchImap() {
    const std::string path = sources::ImapConfigPath();
    m_imapConfigStamp = FileStamp(path);
    sources::colPop3Config accounts(path);
    accounts.GetConfigs();
    std::string idling, polled;
    for (const auto& account : accounts) {
        auto session = std::make_unique<ImapSession>();
        session->account = *account;
        session->client.SetStop([] { return StopRequested(); });
        OpenImap(*session);
        std::string& list = session->idles || session->lost ? idling : polled;
        list += (list.empty() ? "" : ", ") + session->account.ID();
        m_imap.push_back(std::move(session));
    }
    if (m_imap.empty()) return;
    m_how = "IMAP IDLE on " + (idling.empty() ? std::string("no account") : idling);
    if (!polled.empty())
        m_how += "; a poll every " + std::to_string(m_poll.count() / 1000) + " s for " + polled +
                 " (no IDLE)";
}

bool MailWatch::OpenImap(ImapSession& session) {
    // Examined: the watch never changes the folder.
    const sources::ImapOpened opened = sources::OpenImapFolder(
        session.account, session.client, true, kImapWatchLimitMs, kImapWatchLimitMs);
    if (!opened.failure.empty()) {
        LoseImap(session, opened.failure);
        return false;
    }
    session.idles = session.client.Has("IDLE");
    if (session.idles) {
        const sources::ImapResult r = session.client.StartIdle();
        if (!r.ok() && r.outcome != sources::ImapOutcome::ServerError) {
            LoseImap(session, "IDLE failed: " + r.detail);
            return false;
        }
        session.idles = r.ok();
        session.idleSince = Clock::now();
    }
    if (!session.idles) {
        // Nothing to wait on: the account is asked again after the poll interval, by the run.
        session.client.Logout();
        session.retryAt = Clock::time_point::max();
    }
    if (session.lost) LogSystem("Watching for new mail: " + session.Name() + " is watched again");
    session.lost = false;
    session.backoff = std::chrono::seconds(0);
    return true;
}

void MailWatch::LoseImap(ImapSession& session, const std::string& why) {
    session.client.Logout();
    if (StopRequested()) return;
    session.backoff = session.backoff.count() == 0
                          ? kFirstReconnect
                          : std::min<std::chrono::seconds>(session.backoff * 2, kLongestReconnect);
    session.retryAt = Clock::now() + session.backoff;
    session.lost = true;
    WriteLog(kErrorLog, "Watch mode: " + session.Name() + ": " + LogSafe(why) +
                            "; trying again in " + std::to_string(session.backoff.count()) + " s");
}

void MailWatch::WaitImap() {
    const Clock::time_point pollEnd = Clock::now() + m_poll;
    const std::chrono::milliseconds renewal = IdleRenewal();
    while (!StopRequested()) {
        const Clock::time_point now = Clock::now();
        bool arrived = false, reopened = false, polls = false;
        for (auto& s : m_imap) {
            sources::ImapClient& client = s->client;
            if (!client.IsOpen() && now >= s->retryAt) {
                const bool wasLost = s->lost;
                // Mail may have come while the session was away.
                if (OpenImap(*s) && wasLost) reopened = true;
            }
            if (client.IsOpen() && s->idles && now - s->idleSince >= renewal) {
                sources::ImapResult r = client.StopIdle();
                if (r.ok()) r = client.StartIdle();
                s->idleSince = now;
                if (!r.ok()) LoseImap(*s, "IDLE could not be renewed: " + r.detail);
            } else if (client.IsOpen() && s->idles && !client.Idling()) {
                // The server ended the IDLE itself.
                const sources::ImapResult r = client.StartIdle();
                s->idleSince = now;
                if (!r.ok()) LoseImap(*s, "IDLE could not be started again: " + r.detail);
            }
            if (!client.Idling()) polls = true;
            if (client.TakeArrived()) arrived = true;
        }
        if (arrived || reopened || StopRequested()) return;
        if (polls && now >= pollEnd) return;
        std::vector<pollfd> fds;
        std::vector<ImapSession*> owners;
        bool buffered = false;
        for (auto& s : m_imap) {
            if (!s->client.Idling()) continue;
            buffered = buffered || s->client.HasBuffered();
            fds.push_back({s->client.Socket(), POLLIN, 0});
            owners.push_back(s.get());
        }
        if (fds.empty()) {
            ::usleep(kSliceMs * 1000);
        } else if (!buffered && ::poll(fds.data(), fds.size(), kSliceMs) < 0 && errno != EINTR) {
            ::usleep(kSliceMs * 1000);
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            ImapSession& s = *owners[i];
            if (!fds[i].revents && !s.client.HasBuffered()) continue;
            const sources::ImapResult r = s.client.ReadIdle();
            if (!r.ok())
                LoseImap(s, "the connection was lost while waiting for new mail: " + r.detail +
                                (r.reply.empty() ? "" : " (" + r.reply + ")"));
        }
        LetEventsRun();
    }
}

void MailWatch::WatchFile(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    m_fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0 ||
        ::inotify_add_watch(m_fd, dir.c_str(),
                            IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_ATTRIB) < 0) {
        m_how = "inotify cannot watch " + dir + ": " + std::strerror(errno);
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_how = "inotify on " + path;
}

void MailWatch::WatchMaildir(const std::string& dir) {
    m_fileName.clear();
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const char* sub : {"/new", "/cur"}) {
        if (m_fd < 0) break;
        if (::inotify_add_watch(m_fd, (dir + sub).c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
            m_how = "inotify cannot watch " + dir + sub + ": " + std::strerror(errno);
            ::close(m_fd);
            m_fd = -1;
        }
    }
    if (m_fd >= 0) m_how = "inotify on " + dir;
}

bool MailWatch::Drain() {
    alignas(inotify_event) char buffer[16 * 1024];
    bool relevant = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // A full queue lost events: whatever they were, look again.
            if (event->mask & IN_Q_OVERFLOW) relevant = true;
            if (event->len == 0) continue;
            const std::string_view name(event->name);
            // In a Maildir every new file is a message; names starting with "." are not.
            if (m_fileName.empty() ? name.front() != '.' : name == m_fileName) relevant = true;
        }
    }
    return relevant;
}

void MailWatch::Wait() {
    if (!m_imap.empty()) {
        WaitImap();
        return;
    }
    if (m_fd < 0) {
        Pause(m_poll);
        return;
    }
    bool seen = Drain();  // what came during the run
    while (!StopRequested()) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, seen ? static_cast<int>(kSettleTime.count()) : kSliceMs);
        if (ready > 0) {
            seen = Drain() || seen;
            continue;
        }
        if (ready < 0 && errno != EINTR) {
            // The watch failed: from now on the source is asked again after the interval.
            ::close(m_fd);
            m_fd = -1;
            Pause(m_poll);
            return;
        }
        // Quiet for the settle time after a change: the mail is there whole.
        if (seen && ready == 0) return;
        LetEventsRun();
    }
}

}  // namespace tallix::engine
