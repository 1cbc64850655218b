#include "engine/output_files.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "engine/print_text.h"
#include "settings/coarse_clock.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/printer.h"
#include "settings/run_time_error.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {

namespace {

// A write that stays within one page of the file is copied by the kernel in one step, which a
// signal cannot cut short: a batch goes out in writes of whole lines that stay within the page
// where the file ends, so a kill between or during them leaves whole lines.
constexpr std::size_t kPage = 4096;

// The live collections, for the flush when the program ends without unwinding.
std::mutex& LiveMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::vector<OutputFiles*>& Live() {
    static auto* live = new std::vector<OutputFiles*>;
    return *live;
}

// Whether the file system of the open file `fd` reports every write to its files: it keeps
// them on this machine, where a network file system's other clients write unseen.
bool WritesReportedFor(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case F2FS_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

void ReportFailures(const std::vector<FlushFailure>& failures) {
    for (const FlushFailure& failure : failures)
        Guard(std::string(kCouldNotWriteOutput) + failure.path, [&] { RaiseErrno(failure.error); });
}

}  // namespace

OutputFiles::OutputFiles(FileWatch& watch) : m_watch(watch) {
    std::lock_guard lock(LiveMutex());
    static const bool registered = [] { return std::atexit(&OutputFiles::FlushAllForExit) == 0; }();
    (void)registered;
    Live().push_back(this);
}

OutputFiles::~OutputFiles() {
    {
        std::lock_guard lock(LiveMutex());
        std::erase(Live(), this);
    }
    Clear();
}

void OutputFiles::FlushAllForExit() {
    std::lock_guard lock(LiveMutex());
    for (OutputFiles* files : Live()) {
        std::vector<FlushFailure> failures;
        files->Flush(failures);
        // The program is ending already: a failure goes to the error log only (a report
        // could ask to end the program a second time).
        for (const FlushFailure& failure : failures)
            WriteLog(kErrorLog, std::string(kCouldNotWriteOutput) + failure.path + "\n" +
                                    SystemReason(failure.error));
    }
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
    file.knownEnd = -1;
}

void OutputFiles::Clear() {
    std::vector<FlushFailure> failures;
    Flush(failures);
    ReportFailures(failures);
    for (auto& [path, file] : m_files) Close(file);
    m_files.clear();
    m_last = nullptr;
    m_pendingFiles = 0;
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
        // The batch stays: its lines go to the file that has the path now.
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
    file.knownEnd = st.st_size;
    NoteWritesReported(file);
    return 0;
}

void OutputFiles::NoteWritesReported(File& file) {
    file.writesReported = WritesReportedFor(file.fd);
    // Our own writes under another path to the same file change its size too.
    for (auto& [otherPath, other] : m_files) {
        if (&other == &file || other.fd < 0 || !other.opened.SameFile(file.opened)) continue;
        other.writesReported = false;
        file.writesReported = false;
    }
}

void OutputFiles::WriteFailed(File& file, off_t first, off_t end, bool contiguous) {
    file.indexed = false;
    file.index.Clear();
    file.knownEnd = -1;
    if (first < 0) return;  // nothing of the lines was written
    // Our bytes are cut off only when they are the file's last bytes: whatever another program
    // appended after them stays.
    struct stat st {};
    if (contiguous && ::fstat(file.fd, &st) == 0 && st.st_size == end) {
        while (::ftruncate(file.fd, first) != 0 && errno == EINTR) {
        }
    }
}

void OutputFiles::AddPendingLines(File& file, std::string_view bytes) {
    if (!file.pendingLinesValid) return;
    // Nobody asked whether the file holds a line yet: the first check writes the batch first.
    if (!file.indexed) {
        file.pendingLinesValid = false;
        return;
    }
    const LineSplit split = file.pendingSplit;
    // The lines are taken as the index would read them only when `bytes` end where a line
    // ends (and, for CSV records, outside quotation marks).
    const bool ends = split == LineSplit::Lf ? bytes.ends_with('\n')
                                             : bytes.ends_with("\r\n") || bytes.ends_with('\r');
    bool quoted = false;
    if (split == LineSplit::CsvRecords)
        for (char c : bytes) quoted ^= c == '"';
    if (!ends || quoted) {
        file.pendingLinesValid = false;
        return;
    }
    ForEachReadLine(
        bytes, [&](std::string_view line) { file.pendingLines.emplace(TrimView(line)); }, split);
}

int OutputFiles::FlushSameFile(const File& file) {
    // Nothing but this file's own batch is gathered: the common case costs one comparison.
    if (m_pendingFiles == 0 || (m_pendingFiles == 1 && !file.pending.empty())) return 0;
    int first = 0;
    for (auto& [path, other] : m_files) {
        if (&other == &file || other.pending.empty() || !other.opened.SameFile(file.opened))
            continue;
        m_watch.Poll();
        if (int error = FlushFile(path, other); error && !first) first = error;
    }
    return first;
}

int OutputFiles::Append(const std::string& path, std::string_view line, const LineForm& form) {
    if (int error = Open(path)) return error;
    File& file = FileFor(path);
    // Another path to the same file writes its batch first, so the file keeps the order.
    if (int error = FlushSameFile(file)) return error;
    const bool starting = file.pending.empty();
    if (starting) {
        file.preamble = form.preamble;
        file.startsWithPreamble = false;
        file.pendingLines.clear();
        file.pendingLinesValid = true;
        file.pendingSplit = file.index.Split();
        file.pendingEnds.clear();
        if (!form.preamble.empty()) {
            // The byte-order mark and the header row start a new (empty) file only.
            const off_t size = ::lseek(file.fd, 0, SEEK_END);
            if (size < 0) return errno;
            if (size == 0) {
                file.pending = form.preamble;
                file.startsWithPreamble = true;
            }
        }
    }
    const std::size_t from = starting ? 0 : file.pending.size();
    file.pending.append(line).append(form.end);
    file.pendingEnds.push_back(file.pending.size());
    AddPendingLines(file, std::string_view(file.pending).substr(from));
    if (starting && m_pendingFiles++ == 0) m_batchStart = CoarseClock::now();
    if (file.pending.size() >= kBatchBytes) {
        m_watch.Poll();
        return FlushFile(path, file);
    }
    return 0;
}

int OutputFiles::WriteLines(File& file, std::string_view bytes, std::size_t shift, off_t& first,
                            bool& contiguous) {
    first = -1;
    contiguous = true;
    off_t end = -1;  // the end of the last write
    off_t at = ::lseek(file.fd, 0, SEEK_END);
    if (at < 0) at = 0;
    std::size_t start = 0;
    std::size_t next = 0;  // the next line end to reach, in file.pendingEnds
    while (start < bytes.size()) {
        // Whole lines from `start` that stay within the page the file ends in; at least one.
        const std::size_t room = kPage - static_cast<std::size_t>(at) % kPage;
        std::size_t stop = file.pendingEnds[next] + shift;
        ++next;
        while (next < file.pendingEnds.size() && file.pendingEnds[next] + shift - start <= room) {
            stop = file.pendingEnds[next] + shift;
            ++next;
        }
        // A write that stops short (a full disk, the file size limit) is tried on, so the
        // failure's own errno is known; where each part landed is noted, so lines that cannot
        // be finished are cut off again.
        std::string_view rest = bytes.substr(start, stop - start);
        off_t groupFirst = -1;
        off_t groupEnd = -1;
        bool groupContiguous = true;
        while (!rest.empty()) {
            const ssize_t n = ::write(file.fd, rest.data(), rest.size());
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                const int error = n < 0 ? errno : EIO;
                WriteFailed(file, groupFirst, groupEnd, groupContiguous);
                return error;
            }
            // With O_APPEND the offset is the end of what this write added.
            const off_t landed = ::lseek(file.fd, 0, SEEK_CUR);
            if (landed >= 0) {
                if (groupFirst < 0)
                    groupFirst = landed - n;
                else if (landed - n != groupEnd)
                    groupContiguous = false;
                groupEnd = landed;
            } else {
                groupContiguous = false;
            }
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        if (first < 0)
            first = groupFirst;
        else if (groupFirst != end)
            contiguous = false;
        if (!groupContiguous || groupEnd < 0) contiguous = false;
        end = groupEnd;
        at = groupEnd >= 0 ? groupEnd : at + static_cast<off_t>(stop - start);
        start = stop;
    }
    file.knownEnd = contiguous ? end : -1;
    return 0;
}

int OutputFiles::FlushFile(const std::string& path, File& file) {
    if (file.pending.empty()) return 0;
    struct Done {
        OutputFiles& files;
        File& file;
        ~Done() {
            // Written or not (a failure is reported once), the batch is over.
            if (file.pending.capacity() > 4 * kBatchBytes) std::string().swap(file.pending);
            file.pending.clear();
            file.pendingEnds.clear();
            file.pendingLines.clear();
            file.pendingLinesValid = true;
            file.preamble.clear();
            file.startsWithPreamble = false;
            if (files.m_pendingFiles > 0) --files.m_pendingFiles;
        }
    } done{*this, file};
    // The path must still lead to the open file (the watch was read just before): a file
    // removed, renamed or replaced is created again at the path.
    if (int error = Open(path)) return error;
    std::string_view bytes = file.pending;
    std::string withPreamble;
    std::size_t shift = 0;
    if (!file.startsWithPreamble && !file.preamble.empty()) {
        const off_t size = ::lseek(file.fd, 0, SEEK_END);
        if (size < 0) return errno;
        if (size == 0) {
            withPreamble = file.preamble + file.pending;
            bytes = withPreamble;
            shift = file.preamble.size();
        }
    }
    // The first line end is after the preamble a batch starts with: the preamble goes with it.
    off_t first = -1;
    bool contiguous = true;
    if (int error = WriteLines(file, bytes, shift, first, contiguous)) return error;
    // The index takes our lines when they follow the indexed bytes directly; lines another
    // program appended before ours leave a gap, which the next duplicate check reads.
    if (file.indexed && contiguous && first >= 0 &&
        static_cast<std::uint64_t>(first) == file.index.Size()) {
        if (file.index.Feed(file.readFd, bytes) != 0) {
            file.indexed = false;
            file.index.Clear();
        }
    }
    return 0;
}

void OutputFiles::Flush(std::vector<FlushFailure>& failures) {
    if (m_pendingFiles == 0) return;
    // What happened to the output files' paths since the last look.
    m_watch.Poll();
    for (auto& [path, file] : m_files) {
        if (file.pending.empty()) continue;
        if (int error = FlushFile(path, file)) failures.push_back({path, error});
    }
    m_pendingFiles = 0;
}

void OutputFiles::FlushIfDue(std::vector<FlushFailure>& failures) {
    if (m_pendingFiles == 0) return;
    if (CoarseClock::now() - m_batchStart < m_batchInterval) return;
    Flush(failures);
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
    // Lines gathered under another path to the same file are written, so the index sees them.
    if (int error = FlushSameFile(file)) return error;
    // The file's size: as our last write or look left it while the watch reported no write
    // since (the run reads the watch before each message), otherwise asked of the open
    // descriptor (cheaper than fstat).
    off_t end = file.knownEnd;
    if (end < 0 || !file.writesReported || !m_watch.Unwritten(path)) {
        if (file.writesReported && !m_watch.WatchWrites(path)) file.writesReported = false;
        end = ::lseek(file.readFd, 0, SEEK_END);
        if (end < 0) return errno;
    }
    // The batch is answered for from memory while the file is as our last write left it and
    // the batch's lines were taken as this check reads them; otherwise it is written now, after
    // whatever another program appended, and the index reads both.
    if (!file.pending.empty() &&
        (end != file.knownEnd || !file.pendingLinesValid || !file.indexed ||
         file.index.Split() != form.split || file.index.Size() != static_cast<std::uint64_t>(end) ||
         !file.index.AtLineStart())) {
        m_watch.Poll();
        if (int error = FlushFile(path, file)) return error;
        if (int error = OpenForReading(path, file)) return error;
        end = ::lseek(file.readFd, 0, SEEK_END);
        if (end < 0) return errno;
    }
    // Bytes past the indexed ones are lines another program appended: they are indexed now.
    // A file that became shorter is indexed again from its start; a file put in the path's
    // place is noticed by Open.
    const auto size = static_cast<std::uint64_t>(end);
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
    if (file.pending.empty()) file.knownEnd = end;
    if (int error = file.index.Holds(file.readFd, trimmed, found)) return error;
    if (!found && !file.pending.empty()) found = file.pendingLines.contains(trimmed);
    return 0;
}

}  // namespace tallix::engine
