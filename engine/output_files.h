#pragma once
// The output files of a run: one append descriptor per file, kept open while its path still
// names the same file, and the index of its lines that the duplicate check asks.
//
// A path that is removed, renamed or replaced during the run is opened (created) again before
// the next message's lines, so no line goes to a file that no longer has that path. The run
// polls the watch once per message. Lines other programs append are seen by the duplicate
// check, which indexes the bytes past those it has indexed before it answers.

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "engine/file_watch.h"
#include "engine/line_index.h"
#include "model/file_identity.h"

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

// Where the lines of a run go: the output files (OutputFiles) or, in a trial, a collection
// that answers the duplicate check from the real files without writing them (TrialOutput).
// Each call gives 0 or the errno of the failure a run meets.
class OutputSink {
  public:
    virtual ~OutputSink() = default;
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
    explicit OutputFiles(FileWatch& watch) : m_watch(watch) {}
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // The file at `path` is open for appending (opened, or created, now if the path changed).
    // 0, or the errno of the failure.
    int Open(const std::string& path) override;
    // Appends `line` and the form's line end with one write (an empty file gets the form's
    // preamble in the same write). A write cut short (a full disk, the file size limit) is
    // taken back: the file is cut to its length before the write, so it ends with whole lines.
    // 0, or the errno of the failure.
    int Append(const std::string& path, std::string_view line, const LineForm& form = {}) override;
    // Sets `found` when a line of the file, trimmed of spaces, equals `trimmed`.
    // 0, or the errno of the failure.
    int HoldsLine(const std::string& path, const std::string& trimmed, bool& found,
                  const LineForm& form = {}) override;
    // Prints the record on the current printer and ends the document; no printer, or a
    // printer failure, is raised.
    void Print(const std::function<std::string()>& record) override;
    // Closes every file and forgets every index.
    void Clear();

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
    };
    void Close(File& file);
    int OpenForReading(const std::string& path, File& file);
    // Takes back what a failed append wrote of its line.
    void WriteFailed(File& file, off_t first, off_t end, bool contiguous);
    File& FileFor(const std::string& path);

    FileWatch& m_watch;
    std::unordered_map<std::string, File> m_files;  // elements stay where they are
    std::pair<const std::string, File>* m_last = nullptr;
};

}  // namespace tallix::engine
