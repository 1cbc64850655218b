#pragma once
// The output files of a run: one append descriptor per file, kept open while its path still
// names the same file, and the index of its lines that the duplicate check asks.
//
// Lines are written in batches: each file gathers whole lines in order and writes them when
// the batch is due (kBatchInterval after its first line, or kBatchBytes gathered), when the
// run asks (before a message is recorded or disposed of, at the end of a source) and when
// the collection goes. Before a batch is written the watch is read and the path checked, so
// a path that was removed, renamed or replaced gets the lines at a file created anew, never
// the old file. The duplicate check answers for the gathered lines too, and a file another
// program appended to since our last write gets our batch first, after its lines, so the
// index reads theirs as before. A batch goes out in writes that end at line ends and stay
// within one page of the file where they can, so a run killed at any moment leaves whole
// lines. What may differ from writing each line at once is only where another writer's
// lines fall among ours: at batch boundaries.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/file_watch.h"
#include "engine/line_index.h"
#include "model/file_identity.h"
#include "settings/coarse_clock.h"

namespace tallix::engine {

// How a template's lines are written: the end of each, the split its file is read with, and
// what an empty file gets before the first line (the byte-order mark, the header row).
struct LineForm {
    std::string_view end = "\r\n";
    LineSplit split = LineSplit::CrLf;
    std::string preamble;
};

// Calls `line` with each line of `bytes` as the duplicate check reads a file (see LineSplit);
// a last line without an end counts too.
template <class Line>
void ForEachReadLine(std::string_view bytes, Line&& line, LineSplit split = LineSplit::CrLf) {
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (split == LineSplit::CsvRecords && bytes[i] == '"') quoted = !quoted;
        if (split == LineSplit::Lf) {
            if (bytes[i] != '\n') continue;
            line(bytes.substr(start, i - start));
            start = i + 1;
            continue;
        }
        if (bytes[i] != '\r' || quoted) continue;
        line(bytes.substr(start, i - start));
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < bytes.size()) line(bytes.substr(start));
}

// Reported, followed by the file, when lines could not be written to it.
inline constexpr std::string_view kCouldNotWriteOutput = "Could not write to output file: ";
// How long a batch of lines may wait, and how many bytes one file gathers before it is written.
inline constexpr std::chrono::milliseconds kBatchInterval{250};
inline constexpr std::size_t kBatchBytes = 64 * 1024;

// A batch that could not be written: the file and the errno of the failure.
struct FlushFailure {
    std::string path;
    int error = 0;
};

// Where the lines of a run go: the output files (OutputFiles) or, in a trial, a collection
// that answers the duplicate check from the real files without writing them (TrialOutput).
// Each call gives 0 or the errno of the failure a run meets.
class OutputSink {
  public:
    virtual ~OutputSink() = default;
    // Writes every line gathered so far; what could not be written is added to `failures`.
    virtual void Flush(std::vector<FlushFailure>& failures) {}
    // Flush when the oldest gathered line has waited kBatchInterval.
    virtual void FlushIfDue(std::vector<FlushFailure>& failures) {}
    // Whether lines are gathered and not yet written.
    virtual bool HasPending() const { return false; }
    // The file can be appended to (a run opens, or creates, it now).
    virtual int Open(const std::string& path) = 0;
    // Sets `found` when a line of the file (read as `form` says), trimmed of spaces, equals
    // `trimmed`.
    virtual int HoldsLine(const std::string& path, const std::string& trimmed, bool& found,
                          const LineForm& form = {}) = 0;
    // Appends `line` and the form's line end; an empty file gets the form's preamble first.
    virtual int Append(const std::string& path, std::string_view line,
                       const LineForm& form = {}) = 0;
    // Prints the record `record` makes (a template whose output file is "printer"); a run
    // raises a missing printer before the record is made, and a printer failure, to its caller.
    virtual void Print(const std::function<std::string()>& record) = 0;
};

class OutputFiles final : public OutputSink {
  public:
    explicit OutputFiles(FileWatch& watch);
    // Writes what is gathered (a failure then is written to the error log).
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // The file at `path` is open for appending (opened, or created, now if the path changed).
    // 0, or the errno of the failure.
    int Open(const std::string& path) override;
    // Gathers `line` and the form's line end for the file's next batch (a file that is
    // empty gets the form's preamble first); the batch is written when it is due. A write cut
    // short (a full disk, the file size limit) is taken back: the file is cut to its length
    // before that write, so it ends with whole lines. 0, or the errno of the failure (opening
    // the file, or writing a batch that was due).
    int Append(const std::string& path, std::string_view line, const LineForm& form = {}) override;
    // Sets `found` when a line of the file or of its gathered batch, trimmed of spaces,
    // equals `trimmed`. 0, or the errno of the failure.
    int HoldsLine(const std::string& path, const std::string& trimmed, bool& found,
                  const LineForm& form = {}) override;
    // Prints the record on the current printer and ends the document; no printer, or a
    // printer failure, is raised.
    void Print(const std::function<std::string()>& record) override;
    void Flush(std::vector<FlushFailure>& failures) override;
    void FlushIfDue(std::vector<FlushFailure>& failures) override;
    bool HasPending() const override { return m_pendingFiles > 0; }
    // How long a batch may wait: kBatchInterval, unless a test that must not depend on the
    // machine's speed makes it longer.
    void SetBatchInterval(std::chrono::milliseconds interval) { m_batchInterval = interval; }
    // Writes what is gathered, closes every file and forgets every index.
    void Clear();
    // Writes what every live collection of the process has gathered (the program is ending
    // without unwinding, as an error report that ends it does).
    static void FlushAllForExit();

  private:
    struct File {
        int fd = -1;
        FileIdentity opened;  // the file the descriptor is open on
        bool watched = false;
        // The duplicate check reads the file through a descriptor of its own, open on the same
        // file; its index holds the lines of the file's first index.Size() bytes.
        int readFd = -1;
        bool indexed = false;
        LineIndex index;
        // The batch: whole lines not yet written, in order. `preamble` is what the file gets
        // before them when it turns out to be empty as the batch is written (a file created
        // again meanwhile), unless the batch starts with it already.
        std::string pending;
        std::vector<std::size_t> pendingEnds;  // where each line of `pending` ends
        std::string preamble;
        bool startsWithPreamble = false;
        // The file's size after our last write or look, -1 when not known: a file whose size
        // is not this has been written by someone else since.
        off_t knownEnd = -1;
        // The file is on a local file system and no other path of the run leads to it, so the
        // watch reports every write to it and its size need not be asked while none was.
        bool writesReported = false;
        // The batch's lines as the duplicate check reads them, trimmed, while `pendingSplit`
        // is the index's split and the batch starts at a line start of the indexed bytes;
        // otherwise the batch is written before the check.
        std::unordered_set<std::string> pendingLines;
        bool pendingLinesValid = true;
        LineSplit pendingSplit = LineSplit::CrLf;
    };
    void Close(File& file);
    // Whether the watch may answer for the size of `file`, just opened.
    void NoteWritesReported(File& file);
    int OpenForReading(const std::string& path, File& file);
    // Writes the file's batch at its path. 0, or the errno of the failure.
    int FlushFile(const std::string& path, File& file);
    // Writes `bytes` (whole lines) in writes that end at line ends; takes back what a write
    // that failed left of its lines. Sets `first` where the first write landed.
    // `shift`: bytes before the batch's own in `bytes` (a preamble put before it).
    int WriteLines(File& file, std::string_view bytes, std::size_t shift, off_t& first,
                   bool& contiguous);
    // Takes back what a failed write left of its lines.
    void WriteFailed(File& file, off_t first, off_t end, bool contiguous);
    void AddPendingLines(File& file, std::string_view bytes);
    // Writes the batches gathered under other paths that lead to the same file as `file`.
    int FlushSameFile(const File& file);
    File& FileFor(const std::string& path);

    FileWatch& m_watch;
    std::unordered_map<std::string, File> m_files;  // elements stay where they are
    std::pair<const std::string, File>* m_last = nullptr;
    std::size_t m_pendingFiles = 0;  // files with a batch gathered
    std::chrono::time_point<CoarseClock> m_batchStart;
    std::chrono::milliseconds m_batchInterval = kBatchInterval;
};

}  // namespace tallix::engine
