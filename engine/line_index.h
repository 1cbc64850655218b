#pragma once
// The duplicate check's index of one output file: for each distinct line (trimmed of spaces) a
// 32-bit fingerprint and the line's number, 8 bytes in an open-addressed table, instead of the
// lines themselves. A fingerprint that matches is confirmed by reading the line from the file,
// so two lines that share a fingerprint never make a new line look written already.
//
// The index is fed the file's bytes in order, from the first byte, and splits them into lines
// as ForEachReadLine does (by default a line ends at CR LF or a lone CR; see LineSplit; a last
// line without an end counts too), whether the bytes come in one piece or many. Every 16th line's
// start offset is kept, so a line is found again by reading at most 15 lines past a kept start.

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

// How a file is read back into lines for the duplicate check: delimited lines end at CR LF or
// a lone CR (a lone LF is part of the line); JSON Lines end at LF; a CSV record ends at CR LF
// or a lone CR outside quotation marks.
enum class LineSplit { CrLf, Lf, CsvRecords };

class LineIndex {
  public:
    // The hash of a trimmed line; a test gives one that makes lines collide.
    using Hasher = std::uint64_t (*)(std::string_view text);
    static std::uint64_t DefaultHash(std::string_view text);

    explicit LineIndex(Hasher hash = DefaultHash) : m_hash(hash) {}

    // Forgets every line and frees the memory.
    void Clear();
    // How the bytes are split into lines (CR LF to begin with); set while the index is empty.
    void SetSplit(LineSplit split) { m_split = split; }
    LineSplit Split() const { return m_split; }
    // Indexes the bytes from Size() up to `size` of the file open for reading on `fd`; stops
    // early when the file ends sooner. 0, or the errno of the failure.
    int ReadFrom(int fd, std::uint64_t size);
    // Indexes `bytes`, the file's bytes that follow the first Size() ones; `fd` reads the
    // file to tell lines that share a fingerprint apart. 0, or the errno of the failure.
    int Feed(int fd, std::string_view bytes);
    // Sets `found` when a line of the indexed bytes, trimmed of spaces, equals `trimmed`
    // (which has no leading or trailing space). 0, or the errno of the failure.
    int Holds(int fd, std::string_view trimmed, bool& found);

    // How many of the file's bytes are indexed.
    std::uint64_t Size() const { return m_size; }
    // The indexed bytes end with a whole line: bytes fed next start a line of their own.
    bool AtLineStart() const { return m_lineStart == m_size && !m_afterCr && !m_quoted; }
    // Lines ended so far, distinct lines in the table, and the bytes the index holds.
    std::uint64_t Lines() const { return m_lines; }
    std::size_t Distinct() const { return m_used; }
    std::size_t MemoryBytes() const;

  private:
    // Past this length a line is not hashed: it is kept as a start offset and compared by
    // reading, so one huge line cannot take memory.
    static constexpr std::size_t kLongestHashedLine = 64 * 1024;
    static constexpr std::uint64_t kStride = 16;

    // Where the next line of `bytes` ends at or after `from` (npos: not in these bytes).
    std::size_t FindLineEnd(std::string_view bytes, std::size_t from);
    // Ends the open line; `whole` is the line when none of it is kept in m_open.
    int EndLine(int fd, std::string_view whole);
    int Insert(int fd, std::string_view text, std::uint32_t number);
    int Place(int fd, std::string_view text, std::uint32_t fingerprint, std::uint32_t number);
    // Lines are placed in the table in small batches, so the slots they go to are fetched
    // from memory together instead of one after the other.
    void Batch(std::string_view text, std::uint32_t number);
    int PlaceBatch(int fd);
    void Grow(std::size_t capacity);
    std::size_t Home(std::uint32_t fingerprint) const;
    std::uint32_t Fingerprint(std::string_view text) const;
    // Whether line `number` of the file, trimmed, equals `trimmed`.
    int LineEquals(int fd, std::uint32_t number, std::string_view trimmed, bool& equal) const;

    Hasher m_hash;
    // Slot: fingerprint in the high half, line number + 1 in the low half; 0 is empty.
    std::vector<std::uint64_t> m_slots;
    std::size_t m_used = 0;
    std::vector<std::uint64_t> m_strideStarts;  // start of lines 0, 16, 32, ...
    std::vector<std::uint64_t> m_longStarts;    // start of every line too long to hash
    std::uint64_t m_size = 0;
    std::uint64_t m_lines = 0;
    std::uint64_t m_lineStart = 0;  // start of the line not ended yet
    std::string m_open;             // its bytes so far, unless it is too long to hash
    bool m_openLong = false;
    LineSplit m_split = LineSplit::CrLf;
    bool m_afterCr = false;  // the last byte fed was a CR: an LF next belongs to it
    bool m_quoted = false;   // CSV records: the bytes fed end inside quotation marks
    bool m_tooManyLines = false;
    // Lines met lately, so a file that repeats a line does not read the file to confirm it.
    struct Recent {
        std::uint32_t fingerprint = 0;
        bool set = false;
        std::string text;
    };
    std::array<Recent, 64> m_recent;
    struct Batched {
        std::uint32_t fingerprint;
        std::uint32_t number;
        std::string_view text;
    };
    std::array<Batched, 16> m_batch{};
    std::size_t m_batched = 0;
};

}  // namespace tallix::engine
