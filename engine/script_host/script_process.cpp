#include "engine/script_host/script_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/script_host/language_engine.h"
#include "engine/script_host/script_host.h"
#include "model/file_bytes.h"
#include "settings/run_time_error.h"

namespace tallix::script {
namespace {

using Clock = std::chrono::steady_clock;

// What the child writes on the pipe, once, at its end: the result's length (four bytes, least
// significant first) and the result.
constexpr std::size_t kLengthBytes = 4;

// The piece of code the child is running, in a page both processes share. The child writes it
// at the start of each piece; the parent reads the start time when its clock runs out (so a
// piece costs no exchange between the processes) and the name once the child is gone.
struct PieceBoard {
    std::atomic<std::int64_t> began;  // steady clock, nanoseconds
    std::uint32_t length;
    char name[500];
};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

// The board in a child; nullptr in every other process. Set only in the child, which has one
// thread, after the fork.
PieceBoard* g_board = nullptr;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void PutLength(std::string& out, std::size_t n) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

std::size_t LengthAt(std::string_view in) {
    std::size_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(in[i]);
    return n;
}

// The result to the parent. A parent that is gone ends the child (SIGPIPE), which is right.
void SendResult(int channel, std::string_view result) {
    std::string frame;
    PutLength(frame, result.size());
    frame.append(result);
    WriteAll(channel, frame);
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

[[noreturn]] void RunChild(int channel, PieceBoard* board, pid_t parent,
                           const std::function<std::string()>& work) {
    ::setpgid(0, 0);
    // A caller that is killed takes the work with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(70);
    g_board = board;
    // A crashing interpreter leaves no core file of the whole engine behind.
    const struct rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::string result;
    const bool done = WithoutExceptions([&] { result = work(); });
    // Files the scripts wrote through the C library are flushed; _exit would drop them.
    std::fflush(nullptr);
    if (done) SendResult(channel, result);
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

void PutTexts(std::string& out, const std::vector<std::string>& texts) {
    PutText(out, std::to_string(texts.size()));
    for (const std::string& text : texts) PutText(out, text);
}

bool TakeTexts(std::string_view& in, std::vector<std::string>& texts) {
    std::string count;
    if (!TakeText(in, count)) return false;
    for (unsigned long n = std::strtoul(count.c_str(), nullptr, 10); n > 0; --n) {
        std::string text;
        if (!TakeText(in, text)) return false;
        texts.push_back(std::move(text));
    }
    return true;
}

std::chrono::milliseconds StopAfter(std::chrono::milliseconds limit) {
    return limit + std::min<std::chrono::milliseconds>(limit / 4, std::chrono::seconds(1));
}

void PieceBegins(std::string_view piece) {
    if (!g_board) return;
    const std::size_t n = std::min(piece.size(), sizeof g_board->name);
    std::memcpy(g_board->name, piece.data(), n);
    g_board->length = static_cast<std::uint32_t>(n);
    g_board->began.store(Now());
}

namespace {
thread_local WhileChildRuns* t_whileChildRuns = nullptr;
}  // namespace

WhileChildRuns::WhileChildRuns(std::function<void()> work)
    : m_work(std::move(work)), m_outer(t_whileChildRuns) {
    t_whileChildRuns = this;
}

WhileChildRuns::~WhileChildRuns() {
    t_whileChildRuns = m_outer;
}

ChildOutcome RunInChildProcess(const std::function<std::string()>& work) {
    return RunInChildProcess(work, CurrentLimits().time);
}

ChildOutcome RunInChildProcess(const std::function<std::string()>& work,
                               std::chrono::milliseconds limit) {
    void* page = ::mmap(nullptr, sizeof(PieceBoard), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) RaiseErrno(errno);
    auto* board = new (page) PieceBoard{};
    board->began.store(Now());
    board->length = static_cast<std::uint32_t>(kPieceReading.size());
    std::memcpy(board->name, kPieceReading.data(), kPieceReading.size());
    struct Unmap {
        void* page;
        ~Unmap() { ::munmap(page, sizeof(PieceBoard)); }
    } unmap{page};

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) RaiseErrno(errno);
    // What the caller has buffered would otherwise be written by both processes.
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        RaiseErrno(err);
    }
    if (pid == 0) {
        // The parent's waiting work (writing its output lines) is not the child's to do.
        t_whileChildRuns = nullptr;
        ::close(fds[0]);
        RunChild(fds[1], board, parent, work);
    }
    ::setpgid(pid, pid);  // either process may come first; the group must exist for the kill
    ::close(fds[1]);

    ChildOutcome outcome;
    const std::int64_t allowed =
        std::chrono::duration_cast<std::chrono::nanoseconds>(StopAfter(limit)).count();
    std::string received;
    bool haveResult = false;
    bool overran = false;
    bool closed = false;
    const std::function<void()>* whileWaiting =
        t_whileChildRuns ? &t_whileChildRuns->m_work : nullptr;
    const std::int64_t workEvery =
        std::chrono::duration_cast<std::chrono::nanoseconds>(kWaitingWorkInterval).count();
    std::int64_t workDue = Now() + workEvery;
    while (!haveResult && !closed) {
        if (whileWaiting && Now() >= workDue) {
            (*whileWaiting)();
            workDue = Now() + workEvery;
        }
        const std::int64_t left = board->began.load() + allowed - Now();
        if (left <= 0) {
            overran = true;
            break;
        }
        struct pollfd p {
            fds[0], POLLIN, 0
        };
        std::int64_t wait = std::min<std::int64_t>(left / 1'000'000 + 1, 60'000);
        if (whileWaiting)
            wait = std::clamp<std::int64_t>((workDue - Now()) / 1'000'000 + 1, 1, wait);
        const int ready = ::poll(&p, 1, static_cast<int>(wait));
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
        if (received.size() >= kLengthBytes &&
            received.size() - kLengthBytes >= LengthAt(received)) {
            outcome.result = received.substr(kLengthBytes, LengthAt(received));
            haveResult = true;
        }
    }
    ::close(fds[0]);
    // Programs the script started and left behind in the group go with it.
    if (overran) ::killpg(pid, SIGKILL);
    const int status = WaitFor(pid);
    if (haveResult) {
        outcome.ending = ChildEnding::Finished;
        return outcome;
    }
    // The child is gone: the board holds the piece it was running.
    outcome.piece.assign(board->name, std::min<std::size_t>(board->length, sizeof board->name));
    if (overran) {
        outcome.ending = ChildEnding::TimeLimit;
    } else {
        outcome.ending = ChildEnding::Ended;
        outcome.cause = HowItEnded(status);
    }
    return outcome;
}

}  // namespace tallix::script
