#include "engine/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/print_text.h"
#include "settings/error_reporter.h"
#include "settings/printer.h"
#include "settings/user_interface.h"

namespace tallix::engine {

OutputFiles::~OutputFiles() {
    Clear();
}

void OutputFiles::Print(const std::function<std::string()>& record) {
    Printer* printer = CurrentPrinter();
    if (!printer) Raise(kErrDeviceUnavailable);
    PrintText(record(), *printer);
    printer->EndDoc();
    LetEventsRun();
}

void OutputFiles::Close(File& file) {
    if (file.fd >= 0) ::close(file.fd);
    if (file.readFd >= 0) ::close(file.readFd);
    file.fd = -1;
    file.readFd = -1;
    file.indexed = false;
    file.index.Clear();
}

void OutputFiles::Clear() {
    for (auto& [path, file] : m_files) Close(file);
    m_files.clear();
    m_last = nullptr;
}

OutputFiles::File& OutputFiles::FileFor(const std::string& path) {
    // A line's duplicate check and its append ask for the same file one after the other.
    if (m_last && m_last->first == path) return m_last->second;
    auto it = m_files.try_emplace(path).first;
    m_last = &*it;
    return it->second;
}

int OutputFiles::Open(const std::string& path) {
    File& file = FileFor(path);
    if (file.fd >= 0) {
        if (file.watched && m_watch.Unchanged(path)) return 0;
        // Watch again before looking, so a change made while we look is reported later.
        file.watched = m_watch.Watch(path, FileWatch::Interest::Name);
        std::optional<FileIdentity> now = IdentifyRegularFile(path);
        if (now && now->SameFile(file.opened)) return 0;
        Close(file);
    } else {
        file.watched = m_watch.Watch(path, FileWatch::Interest::Name);
    }
    // Non-blocking, so a FIFO without a reader fails instead of hanging the run.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return error;
    }
    file.fd = fd;
    file.opened = IdentityOf(st);
    return 0;
}

void OutputFiles::WriteFailed(File& file, off_t first, off_t end, bool contiguous) {
    file.indexed = false;
    file.index.Clear();
    if (first < 0) return;  // nothing of the line was written
    // Our bytes are cut off only when they are the file's last bytes: whatever another program
    // appended after them stays.
    struct stat st {};
    if (contiguous && ::fstat(file.fd, &st) == 0 && st.st_size == end) {
        while (::ftruncate(file.fd, first) != 0 && errno == EINTR) {
        }
    }
}

int OutputFiles::Append(const std::string& path, std::string_view line, const LineForm& form) {
    if (int error = Open(path)) return error;
    File& file = FileFor(path);
    std::string bytes;
    if (!form.preamble.empty()) {
        // The byte-order mark and the header row start a new (empty) file only.
        const off_t size = ::lseek(file.fd, 0, SEEK_END);
        if (size < 0) return errno;
        if (size == 0) bytes = form.preamble;
    }
    bytes.reserve(bytes.size() + line.size() + form.end.size());
    bytes.append(line).append(form.end);
    // One write, so a run killed at any moment leaves whole lines. A write that stops short
    // (a full disk, the file size limit) is tried on, so the failure's own errno is known;
    // where each part landed is noted, so a line that cannot be finished is cut off again.
    std::string_view rest = bytes;
    off_t first = -1;  // where the first part landed
    off_t end = -1;    // the end of the last part
    bool contiguous = true;
    while (!rest.empty()) {
        const ssize_t n = ::write(file.fd, rest.data(), rest.size());
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            const int error = n < 0 ? errno : EIO;
            WriteFailed(file, first, end, contiguous);
            return error;
        }
        // With O_APPEND the offset is the end of what this write added.
        const off_t at = ::lseek(file.fd, 0, SEEK_CUR);
        if (at >= 0) {
            if (first < 0)
                first = at - n;
            else if (at - n != end)
                contiguous = false;
            end = at;
        } else {
            contiguous = false;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    // The index takes our line when it follows the indexed bytes directly; lines another
    // program appended before ours leave a gap, which the next duplicate check reads.
    if (file.indexed && contiguous && first >= 0 && file.index.Split() == form.split &&
        static_cast<std::uint64_t>(first) == file.index.Size()) {
        if (file.index.Feed(file.readFd, bytes) != 0) {
            file.indexed = false;
            file.index.Clear();
        }
    }
    return 0;
}

int OutputFiles::OpenForReading(const std::string& path, File& file) {
    if (file.readFd >= 0) return 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !IdentityOf(st).SameFile(file.opened)) {
        // The path was given to another file since it was opened for appending.
        ::close(fd);
        return ESTALE;
    }
    file.readFd = fd;
    return 0;
}

int OutputFiles::HoldsLine(const std::string& path, const std::string& trimmed, bool& found,
                           const LineForm& form) {
    found = false;
    if (int error = Open(path)) return error;
    File& file = FileFor(path);
    if (int error = OpenForReading(path, file)) return error;
    // Bytes past the indexed ones are lines another program appended: they are indexed now.
    // A file that became shorter is indexed again from its start; a file put in the path's
    // place is noticed by Open.
    struct stat st {};
    if (::fstat(file.readFd, &st) != 0) return errno;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // A template that reads its file as other lines (another format) indexes it anew.
    if (!file.indexed || size < file.index.Size() || file.index.Split() != form.split) {
        file.index.Clear();
        file.index.SetSplit(form.split);
        file.indexed = true;
    }
    if (size > file.index.Size()) {
        if (int error = file.index.ReadFrom(file.readFd, size)) {
            file.indexed = false;
            file.index.Clear();
            return error;
        }
    }
    return file.index.Holds(file.readFd, trimmed, found);
}

}  // namespace tallix::engine
