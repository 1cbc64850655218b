#include "engine/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/print_text.h"
#include "model/file_bytes.h"
#include "settings/error_reporter.h"
#include "settings/printer.h"
#include "settings/text_functions.h"
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
    file.fd = -1;
    file.indexed = false;
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
    bytes.append(line).append(form.end);
    // One write, so a run killed at any moment leaves whole lines; a short write (a full disk)
    // goes on from where it stopped.
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const ssize_t n = ::write(file.fd, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            file.indexed = false;
            return error;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (!file.indexed) return 0;
    // The index takes our own line when our first byte cannot join the line before it. Lines
    // another program appended before or after ours make the file's size differ from the
    // one counted here, which the next duplicate check notices before it uses the index.
    using Tail = File::Tail;
    const bool startsLine =
        form.split == LineSplit::Lf
            ? file.tail == Tail::Empty || file.tail == Tail::LineEnd || file.tail == Tail::LfEnd
            : file.tail == Tail::Empty || file.tail == Tail::LineEnd ||
                  (file.tail == Tail::LoneCr && bytes.front() != '\n');
    if (!startsLine || form.split != file.split) {
        file.indexed = false;
        return 0;
    }
    ForEachReadLine(
        bytes, [&](std::string_view l) { file.lines.insert(Trim(l)); }, form.split);
    file.size += static_cast<off_t>(bytes.size());
    file.tail = bytes.ends_with("\r\n") ? Tail::LineEnd : Tail::LfEnd;
    return 0;
}

int OutputFiles::Reindex(const std::string& path, File& file, LineSplit split) {
    file.indexed = false;
    file.lines.clear();
    file.split = split;
    std::string content;
    if (int error = ReadRegularFile(path, content)) return error;
    ForEachReadLine(
        content, [&](std::string_view l) { file.lines.insert(Trim(l)); }, split);
    const off_t size = ::lseek(file.fd, 0, SEEK_END);
    if (size < 0) return errno;
    // Indexed only when nothing was added while we read.
    if (static_cast<std::size_t>(size) != content.size()) return 0;
    file.size = size;
    using Tail = File::Tail;
    if (content.empty())
        file.tail = Tail::Empty;
    else if (content.ends_with("\r\n"))
        file.tail = Tail::LineEnd;
    else if (content.back() == '\n')
        file.tail = Tail::LfEnd;
    else
        file.tail = content.back() == '\r' ? Tail::LoneCr : Tail::OpenLine;
    file.indexed = true;
    return 0;
}

int OutputFiles::HoldsLine(const std::string& path, const std::string& trimmed, bool& found,
                           const LineForm& form) {
    found = false;
    if (int error = Open(path)) return error;
    File& file = FileFor(path);
    // The size tells whether another program appended since the index was made; a file put
    // in the path's place is noticed by Open.
    const off_t size = ::lseek(file.fd, 0, SEEK_END);
    if (size < 0) return errno;
    if (!file.indexed || size != file.size || file.split != form.split) {
        if (int error = Reindex(path, file, form.split)) return error;
        if (!file.indexed) {
            // The file grew while it was read: answer from what was read.
            found = file.lines.count(trimmed) != 0;
            return 0;
        }
    }
    found = file.lines.count(trimmed) != 0;
    return 0;
}

}  // namespace tallix::engine
