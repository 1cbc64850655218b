#include "engine/script_host/script_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/script_host/language_engine.h"
#include "engine/script_host/script_host.h"
#include "model/file_bytes.h"
#include "settings/run_time_error.h"

namespace tallix::script {
namespace {

using Clock = std::chrono::steady_clock;

// What the child writes on the pipe: a kind, the payload's length (four bytes, least
// significant first) and the payload.
constexpr char kFramePiece = 'P';
constexpr char kFrameResult = 'R';
constexpr std::size_t kFrameHead = 5;

// The write end of the pipe in a child; -1 in every other process. Set only in the child,
// which has one thread, after the fork.
int g_channel = -1;

void PutLength(std::string& out, std::size_t n) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

std::size_t LengthAt(std::string_view in) {
    std::size_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(in[i]);
    return n;
}

// A frame to the parent. A parent that is gone ends the child (SIGPIPE), which is right.
void SendFrame(char kind, std::string_view payload) {
    std::string frame(1, kind);
    PutLength(frame, payload.size());
    frame.append(payload);
    WriteAll(g_channel, frame);
}

// "signal 11 (Segmentation fault)" or "exit status 3".
std::string HowItEnded(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = strsignal(signal);
        return "signal " + std::to_string(signal) + (name ? " (" + std::string(name) + ")" : "");
    }
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    return "status " + std::to_string(status);
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 0;
    }
    return status;
}

[[noreturn]] void RunChild(int channel, const std::function<std::string()>& work) {
    ::setpgid(0, 0);
    g_channel = channel;
    // A crashing interpreter leaves no core file of the whole engine behind.
    const struct rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::string result;
    const bool done = WithoutExceptions([&] { result = work(); });
    // Files the scripts wrote through the C library are flushed; _exit would drop them.
    std::fflush(nullptr);
    if (done) SendFrame(kFrameResult, result);
    ::_exit(done ? 0 : 70);
}

}  // namespace

void PutText(std::string& out, std::string_view text) {
    PutLength(out, text.size());
    out.append(text);
}

bool TakeText(std::string_view& in, std::string& text) {
    if (in.size() < 4) return false;
    const std::size_t n = LengthAt(in);
    if (in.size() - 4 < n) return false;
    text.assign(in.substr(4, n));
    in.remove_prefix(4 + n);
    return true;
}

std::chrono::milliseconds StopAfter(std::chrono::milliseconds limit) {
    return limit + std::min<std::chrono::milliseconds>(limit / 4, std::chrono::seconds(1));
}

void PieceBegins(std::string_view piece) {
    if (g_channel >= 0) SendFrame(kFramePiece, piece);
}

ChildOutcome RunInChildProcess(const std::function<std::string()>& work) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) RaiseErrno(errno);
    // What the caller has buffered would otherwise be written by both processes.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        RaiseErrno(err);
    }
    if (pid == 0) {
        ::close(fds[0]);
        RunChild(fds[1], work);
    }
    ::setpgid(pid, pid);  // either process may come first; the group must exist for the kill
    ::close(fds[1]);

    ChildOutcome outcome;
    outcome.piece = std::string(kPieceReading);
    const std::chrono::milliseconds allowed = StopAfter(CurrentLimits().time);
    Clock::time_point deadline = Clock::now() + allowed;
    std::string received;
    bool haveResult = false;
    bool overran = false;
    bool closed = false;
    while (!haveResult && !closed) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            overran = true;
            break;
        }
        struct pollfd p {
            fds[0], POLLIN, 0
        };
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60'000)));
        if (ready < 0 && errno != EINTR) {
            closed = true;
            break;
        }
        if (ready <= 0) continue;
        char chunk[65536];
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            closed = true;
            break;
        }
        if (n == 0) {
            closed = true;
            break;
        }
        received.append(chunk, static_cast<std::size_t>(n));
        std::size_t at = 0;
        while (received.size() - at >= kFrameHead) {
            const std::size_t length = LengthAt(std::string_view(received).substr(at + 1));
            if (received.size() - at - kFrameHead < length) break;
            const char kind = received[at];
            std::string_view payload = std::string_view(received).substr(at + kFrameHead, length);
            if (kind == kFramePiece) {
                outcome.piece.assign(payload);
                deadline = Clock::now() + allowed;
            } else if (kind == kFrameResult) {
                outcome.result.assign(payload);
                haveResult = true;
            }
            at += kFrameHead + length;
        }
        received.erase(0, at);
    }
    ::close(fds[0]);
    // Programs the script started and left behind in the group go with it.
    if (overran) ::killpg(pid, SIGKILL);
    const int status = WaitFor(pid);
    if (haveResult) {
        outcome.ending = ChildEnding::Finished;
    } else if (overran) {
        outcome.ending = ChildEnding::TimeLimit;
    } else {
        outcome.ending = ChildEnding::Ended;
        outcome.cause = HowItEnded(status);
    }
    return outcome;
}

}  // namespace tallix::script
