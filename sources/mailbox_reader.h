#pragma once
// Read-only access to a mailbox file by offset, through one window of bounded size.
//
// The length is taken once, when the file is opened, and nothing past it is ever read: a
// message that a mail client appends during the run is not seen. The file stays open, so a
// folder that a client compacts into a new file and renames over the old one is still read
// as it was. A file cut shorter in place (truncated) cannot be read as it was; reading then
// raises "input past end of file" with a description that says so, and the walk ends with
// that report instead of the fault a memory mapping would take on the missing pages.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tallix::sources {

// Bytes of the file held at a time. Messages are cut out of the window when they fit in it,
// so a walk over small messages reads every byte of the file once.
inline constexpr std::size_t kMailboxWindowBytes = std::size_t{1} << 20;

inline constexpr std::string_view kMailboxShrank =
    "Input past end of file: the mailbox file became shorter during the run";

class MailboxReader {
  public:
    MailboxReader() = default;
    ~MailboxReader();
    MailboxReader(const MailboxReader&) = delete;
    MailboxReader& operator=(const MailboxReader&) = delete;

    // Opens `path` (a regular file) for reading; raises the run-time error that matches the
    // failure (file not found 53, permission denied 70, ...).
    void Open(const std::string& path);
    // Reads the file `other` has open, up to the length it saw at its Open, through a
    // descriptor of its own (a second reader of the same file, on another thread).
    void OpenSame(const MailboxReader& other);
    void Close();

    // The length seen at Open.
    std::size_t Size() const { return m_size; }

    // 0-based offset of the first `what` (not empty) that starts at or after `from`; npos when
    // there is none that starts before `before` and ends within the length seen at Open.
    std::size_t Find(std::size_t from, std::string_view what,
                     std::size_t before = std::string_view::npos);
    // How many times `what` (not empty) occurs, wherever it stands, counted from the front,
    // each search going on after the last occurrence. A large file is counted in two halves
    // at once, the second on a thread of its own, when `what` cannot overlap itself (the count
    // is then the same); a failure there is met again here, where it is raised.
    std::size_t Count(std::string_view what);
    // Appends the `length` bytes from `offset` (clipped to the length seen at Open) to `out`.
    void AppendTo(std::string& out, std::size_t offset, std::size_t length);
    // Hands the same bytes to `sink` in pieces of at most one window, in order.
    template <class Sink>
    void ForEachPiece(std::size_t offset, std::size_t length, Sink&& sink) {
        ForEachPieceImpl(offset, length, std::function<void(std::string_view)>(sink));
    }
    // The byte at `offset`, which must be below Size().
    char At(std::size_t offset);

    // Set once a read found the file shorter than at Open; every later read raises again.
    bool Shrank() const { return m_shrank; }

  private:
    // Makes the window start at `offset` and hold as much of the file as fits.
    void Load(std::size_t offset);
    // Reads exactly `length` bytes at `offset` into `dest`, or raises when the file shrank.
    void ReadExactly(char* dest, std::size_t offset, std::size_t length);
    std::string_view Window() const { return m_window; }
    void ForEachPieceImpl(std::size_t offset, std::size_t length,
                          const std::function<void(std::string_view)>& sink);

    int m_fd = -1;
    std::size_t m_size = 0;
    std::string m_window;
    std::size_t m_windowStart = 0;
    bool m_shrank = false;
};

}  // namespace tallix::sources
