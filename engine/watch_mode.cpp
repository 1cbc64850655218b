#include "engine/watch_mode.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/run_stop.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/maildir_store.h"

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

MailWatch::MailWatch(const SettingsState& settings)
    : m_useSource(settings.useSource), m_poll(PollInterval(settings)) {
    if (IsMailboxFileKind(m_useSource)) {
        m_place = settings.localFileName;
        WatchFile(m_place);
    } else if (IsMaildirKind(m_useSource)) {
        m_place = WatchedMaildir(settings);
        WatchMaildir(m_place);
    }
    if (m_fd < 0)
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
    return PollInterval(settings) == m_poll;
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
