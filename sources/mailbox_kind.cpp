#include "sources/mailbox_kind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "settings/settings_store.h"

namespace tallix::sources {
namespace {

// Enough for the first line of any mailbox file; a longer first line is no separator line.
constexpr std::size_t kFirstBytes = 4096;

constexpr std::string_view kNetscapeLine = "From - ";
constexpr std::string_view kEudoraLine = "From ???@??? ";
constexpr std::string_view kFromLine = "From ";

bool IsDirectory(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}
bool IsRegularFile(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

// The first line of the file at `path` (without its line end), or nothing when it cannot be
// read; `empty` is set for a file without a byte.
bool FirstLine(const std::string& path, std::string& line, bool& empty, int& error) {
    // Non-blocking: a FIFO must not hang the dialog or the run.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return false;
    }
    char buffer[kFirstBytes];
    ssize_t n = 0;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    error = n < 0 ? errno : 0;
    ::close(fd);
    if (n < 0) return false;
    std::string_view bytes(buffer, static_cast<std::size_t>(n));
    empty = bytes.empty();
    line = std::string(bytes.substr(0, bytes.find_first_of("\r\n")));
    return true;
}

// "Name: value" with a name of printable characters other than ":": a header field.
bool IsHeaderLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    return std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                       [](char c) { return c > ' ' && c < 127; });
}

MailboxKind KindOfLine(std::string_view line) {
    // Netscape may write its first separator with a leading mark.
    std::string_view from = line.starts_with('>') ? line.substr(1) : line;
    if (from.starts_with(kNetscapeLine)) return MailboxKind::Netscape;
    if (from.starts_with(kEudoraLine)) return MailboxKind::Eudora;
    // "From sender weekday month day time year": a sender and then a date with digits.
    if (line.starts_with(kFromLine)) {
        std::string_view rest = line.substr(kFromLine.size());
        const std::size_t blank = rest.find(' ');
        if (blank != 0 && blank != std::string_view::npos &&
            rest.find_first_of("0123456789", blank) != std::string_view::npos)
            return MailboxKind::Mbox;
    }
    if (IsHeaderLine(line)) return MailboxKind::SingleMessage;
    return MailboxKind::Unknown;
}

bool IsProfile(const std::filesystem::path& dir) {
    return IsRegularFile(dir / "prefs.js") || IsDirectory(dir / "Mail") ||
           IsDirectory(dir / "ImapMail");
}

// The sorted entries of `dir` that `keep` accepts.
template <class Keep>
std::vector<std::filesystem::path> Entries(const std::filesystem::path& dir, Keep keep) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (keep(it->path())) found.push_back(it->path());
    std::sort(found.begin(), found.end());
    return found;
}

// A profile's local Inbox, else the Inbox of its first account (local or IMAP).
std::string ProfileMailFile(const std::filesystem::path& profile) {
    const std::filesystem::path local = profile / "Mail" / "Local Folders" / "Inbox";
    if (IsRegularFile(local)) return local.string();
    for (const char* root : {"Mail", "ImapMail"}) {
        for (const auto& account : Entries(profile / root, IsDirectory)) {
            for (const char* name : {"Inbox", "INBOX"}) {
                if (IsRegularFile(account / name)) return (account / name).string();
            }
        }
    }
    return {};
}

MailboxGuess RecogniseFolder(const std::filesystem::path& dir) {
    MailboxGuess guess;
    if (IsDirectory(dir / "cur") && IsDirectory(dir / "new")) {
        guess.kind = MailboxKind::Maildir;
        return guess;
    }
    std::filesystem::path profile = dir;
    if (!IsProfile(dir)) {
        // The folder of profiles (it holds profiles.ini): its first profile.
        guess.kind = MailboxKind::Folder;
        if (!IsRegularFile(dir / "profiles.ini")) return guess;
        const auto profiles = Entries(
            dir, [](const std::filesystem::path& p) { return IsDirectory(p) && IsProfile(p); });
        if (profiles.empty()) return guess;
        profile = profiles.front();
    }
    guess.kind = MailboxKind::ThunderbirdProfile;
    guess.useSource = std::string(kSourceNetscape);
    guess.mailFile = ProfileMailFile(profile);
    return guess;
}

}  // namespace

MailboxGuess RecogniseMailbox(const std::string& path) {
    MailboxGuess guess;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        guess.kind = MailboxKind::Missing;
        guess.reason = std::strerror(path.empty() ? ENOENT : errno);
        return guess;
    }
    if (S_ISDIR(st.st_mode)) return RecogniseFolder(path);
    if (!S_ISREG(st.st_mode)) return guess;  // a device or a pipe: no kind
    std::string line;
    bool empty = false;
    int error = 0;
    if (!FirstLine(path, line, empty, error)) {
        guess.kind = MailboxKind::Unreadable;
        guess.reason = std::strerror(error);
        return guess;
    }
    if (empty) {
        guess.kind = MailboxKind::Empty;
        return guess;
    }
    guess.kind = KindOfLine(line);
    switch (guess.kind) {
        case MailboxKind::Netscape:
            guess.useSource = std::string(kSourceNetscape);
            break;
        case MailboxKind::Eudora:
            guess.useSource = std::string(kSourceEudora);
            break;
        case MailboxKind::Mbox:
            guess.useSource = std::string(kSourceFileOther);
            break;
        default:
            break;
    }
    return guess;
}

std::string DescribeMailboxKind(const MailboxGuess& guess) {
    switch (guess.kind) {
        case MailboxKind::Empty:
            return "an empty file";
        case MailboxKind::Netscape:
            return "a Netscape or Thunderbird mail file";
        case MailboxKind::Eudora:
            return "a Eudora mail file";
        case MailboxKind::Mbox:
            return "a standard mbox file";
        case MailboxKind::SingleMessage:
            return "a single message, not a mailbox file";
        case MailboxKind::ThunderbirdProfile:
            return "a Thunderbird profile folder";
        case MailboxKind::Maildir:
            return "a Maildir folder";
        case MailboxKind::Folder:
            return "a folder, not a mail file";
        case MailboxKind::Unknown:
            return "a file of no mailbox kind known here";
        case MailboxKind::Missing:
        case MailboxKind::Unreadable:
            break;
    }
    return {};
}

std::string_view MailboxChoiceCaption(std::string_view useSource) {
    if (useSource == kSourceNetscape) return "Netscape";
    if (useSource == kSourceEudora) return "Eurdora";
    if (useSource == kSourceFileOther) return "Other - RFC 822 Compliant File";
    return {};
}

std::string MailboxKindAdvice(const MailboxGuess& guess, std::string_view useSource) {
    const std::string looks = "It looks like " + DescribeMailboxKind(guess);
    switch (guess.kind) {
        case MailboxKind::Netscape:
        case MailboxKind::Eudora:
        case MailboxKind::Mbox:
            if (guess.useSource == useSource) return {};
            return looks + ": choose the format \"" +
                   std::string(MailboxChoiceCaption(guess.useSource)) +
                   "\" for the local file in the system options.";
        case MailboxKind::ThunderbirdProfile:
            if (guess.mailFile.empty())
                return looks + ": choose one of its mail files (under Mail/ or ImapMail/).";
            return looks + ": choose one of its mail files, such as \"" + guess.mailFile +
                   "\", with the format \"Netscape\".";
        case MailboxKind::Maildir:
            return looks + ": choose \"MAPI Client\" with this folder in the system options.";
        case MailboxKind::SingleMessage:
        case MailboxKind::Folder:
            return looks + ".";
        case MailboxKind::Missing:
        case MailboxKind::Unreadable:
        case MailboxKind::Empty:
        case MailboxKind::Unknown:
            break;
    }
    return {};
}

}  // namespace tallix::sources
