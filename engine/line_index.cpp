#include "engine/line_index.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>

#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

// Line numbers are kept in 32 bits (with 0 meaning an empty slot).
constexpr std::uint64_t kMostLines = std::numeric_limits<std::uint32_t>::max() - 1;
// The table grows past this share of used slots; linear probing stays short below it.
constexpr double kFullest = 0.85;
constexpr std::size_t kSmallestTable = 1024;
constexpr std::size_t kLongestRecent = 512;
constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();

// Reads a file byte by byte from an offset up to an end, through a buffer.
class FileCursor {
  public:
    FileCursor(int fd, std::uint64_t at, std::uint64_t end) : m_fd(fd), m_at(at), m_end(end) {}

    // The next byte; false at the end or on a failure (then Error() is set).
    bool Get(char& c) {
        if (!Fill()) return false;
        c = m_buffer[m_next++];
        return true;
    }
    bool Peek(char& c) {
        if (!Fill()) return false;
        c = m_buffer[m_next];
        return true;
    }
    int Error() const { return m_error; }

  private:
    bool Fill() {
        if (m_next < m_filled) return true;
        if (m_error || m_at >= m_end) return false;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size(), m_end - m_at));
        ssize_t n;
        do {
            n = ::pread(m_fd, m_buffer.data(), want, static_cast<off_t>(m_at));
        } while (n < 0 && errno == EINTR);
        if (n < 0) m_error = errno;
        if (n <= 0) return false;
        m_at += static_cast<std::uint64_t>(n);
        m_filled = static_cast<std::size_t>(n);
        m_next = 0;
        return true;
    }

    int m_fd;
    std::uint64_t m_at;
    std::uint64_t m_end;
    std::array<char, 8192> m_buffer{};
    std::size_t m_filled = 0;
    std::size_t m_next = 0;
    int m_error = 0;
};

// The byte that ends a line (outside quotation marks, for CSV records).
char LineEnd(LineSplit split) {
    return split == LineSplit::Lf ? '\n' : '\r';
}

// Moves the cursor past the line it is at, and past the LF of a CR LF.
void SkipLine(FileCursor& cursor, LineSplit split) {
    const char end = LineEnd(split);
    bool quoted = false;
    char c = 0;
    while (cursor.Get(c)) {
        if (split == LineSplit::CsvRecords && c == '"') quoted = !quoted;
        if (c == end && !quoted) break;
    }
    if (split != LineSplit::Lf && cursor.Peek(c) && c == '\n') cursor.Get(c);
}

// Whether the line at the cursor, trimmed of spaces, equals `trimmed`; the line ends at its
// end byte (a CR, or an LF for JSON Lines) or at the cursor's end. Reads no further than the
// first byte that decides.
int LineAtCursorEquals(FileCursor& cursor, std::string_view trimmed, bool& equal, LineSplit split) {
    equal = false;
    const char end = LineEnd(split);
    // In a CSV record an end byte inside quotation marks belongs to a value.
    bool quoted = false;
    char c = 0;
    bool more = cursor.Get(c);
    while (more && c == ' ') more = cursor.Get(c);
    for (char wanted : trimmed) {
        // The line ends before the text does: the text holds a line end the file's lines
        // cannot hold.
        if (!more || c != wanted || (c == end && !quoted)) return cursor.Error();
        if (split == LineSplit::CsvRecords && c == '"') quoted = !quoted;
        more = cursor.Get(c);
    }
    while (more && c == ' ') more = cursor.Get(c);
    if (cursor.Error()) return cursor.Error();
    equal = !more || (c == end && !quoted);
    return 0;
}

}  // namespace

std::uint64_t LineIndex::DefaultHash(std::string_view text) {
    return std::hash<std::string_view>{}(text);
}

void LineIndex::Clear() {
    std::vector<std::uint64_t>().swap(m_slots);
    std::vector<std::uint64_t>().swap(m_strideStarts);
    std::vector<std::uint64_t>().swap(m_longStarts);
    std::string().swap(m_open);
    m_used = 0;
    m_size = 0;
    m_lines = 0;
    m_lineStart = 0;
    m_openLong = false;
    m_afterCr = false;
    m_quoted = false;
    m_tooManyLines = false;
    m_recent = {};
    m_batched = 0;
}

std::size_t LineIndex::MemoryBytes() const {
    return m_slots.capacity() * sizeof(std::uint64_t) +
           (m_strideStarts.capacity() + m_longStarts.capacity()) * sizeof(std::uint64_t) +
           m_open.capacity() + sizeof(*this);
}

std::uint32_t LineIndex::Fingerprint(std::string_view text) const {
    const std::uint64_t h = m_hash(text);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// The table is ordered by fingerprint: a slot's home is the fingerprint scaled to the table's
// size, so growing the table needs nothing but the fingerprints it already holds.
std::size_t LineIndex::Home(std::uint32_t fingerprint) const {
    return static_cast<std::size_t>((std::uint64_t{fingerprint} * m_slots.size()) >> 32);
}

void LineIndex::Grow(std::size_t capacity) {
    std::vector<std::uint64_t> old;
    old.swap(m_slots);
    m_slots.assign(std::max(capacity, kSmallestTable), 0);
    for (std::uint64_t slot : old) {
        if (slot == 0) continue;
        std::size_t i = Home(static_cast<std::uint32_t>(slot >> 32));
        while (m_slots[i] != 0) i = i + 1 == m_slots.size() ? 0 : i + 1;
        m_slots[i] = slot;
    }
}

int LineIndex::LineEquals(int fd, std::uint32_t number, std::string_view trimmed,
                          bool& equal) const {
    // An indexed line ends with its end byte in the file, so the reading needs no bound of its
    // own.
    FileCursor cursor(fd, m_strideStarts[number / kStride], kNoEnd);
    for (std::uint32_t skip = number % kStride; skip > 0; --skip) SkipLine(cursor, m_split);
    if (cursor.Error()) return cursor.Error();
    return LineAtCursorEquals(cursor, trimmed, equal, m_split);
}

int LineIndex::Insert(int fd, std::string_view text, std::uint32_t number) {
    return Place(fd, text, Fingerprint(text), number);
}

void LineIndex::Batch(std::string_view text, std::uint32_t number) {
    const std::uint32_t fingerprint = Fingerprint(text);
    // The slot is fetched from memory while the next lines are hashed.
    if (!m_slots.empty()) __builtin_prefetch(&m_slots[Home(fingerprint)]);
    m_batch[m_batched++] = Batched{fingerprint, number, text};
}

int LineIndex::PlaceBatch(int fd) {
    const std::size_t count = m_batched;
    m_batched = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const Batched& b = m_batch[k];
        if (int error = Place(fd, b.text, b.fingerprint, b.number)) return error;
    }
    return 0;
}

int LineIndex::Place(int fd, std::string_view text, std::uint32_t fingerprint,
                     std::uint32_t number) {
    Recent& recent = m_recent[fingerprint % m_recent.size()];
    if (recent.set && recent.fingerprint == fingerprint && recent.text == text) return 0;
    if (static_cast<double>(m_used + 1) > static_cast<double>(m_slots.size()) * kFullest)
        Grow(m_slots.size() + m_slots.size() / 2);
    std::size_t i = Home(fingerprint);
    for (;;) {
        const std::uint64_t slot = m_slots[i];
        if (slot == 0) break;
        if (static_cast<std::uint32_t>(slot >> 32) == fingerprint) {
            bool equal = false;
            const auto held = static_cast<std::uint32_t>(slot) - 1;
            if (int error = LineEquals(fd, held, text, equal)) return error;
            if (equal) {
                // A line that repeats is likely to come again soon.
                if (text.size() <= kLongestRecent) {
                    recent.fingerprint = fingerprint;
                    recent.set = true;
                    recent.text.assign(text);
                }
                return 0;
            }
        }
        i = i + 1 == m_slots.size() ? 0 : i + 1;
    }
    m_slots[i] = (std::uint64_t{fingerprint} << 32) | (std::uint64_t{number} + 1);
    ++m_used;
    return 0;
}

int LineIndex::EndLine(int fd, std::string_view whole) {
    const std::uint64_t number = m_lines;
    if (number > kMostLines) {
        m_tooManyLines = true;
    } else {
        if (number % kStride == 0) m_strideStarts.push_back(m_lineStart);
        const auto n = static_cast<std::uint32_t>(number);
        if (m_openLong) {
            m_longStarts.push_back(m_lineStart);
        } else if (m_open.empty()) {
            // The line lies in the bytes being fed, which stay until the batch is placed.
            Batch(TrimView(whole), n);
            if (m_batched == m_batch.size())
                if (int error = PlaceBatch(fd)) return error;
        } else if (int error = Insert(fd, TrimView(m_open), n)) {
            return error;
        }
    }
    ++m_lines;
    m_open.clear();
    m_openLong = false;
    return 0;
}

std::size_t LineIndex::FindLineEnd(std::string_view bytes, std::size_t from) {
    if (m_split != LineSplit::CsvRecords) {
        const void* at = std::memchr(bytes.data() + from, LineEnd(m_split), bytes.size() - from);
        return at ? static_cast<std::size_t>(static_cast<const char*>(at) - bytes.data())
                  : std::string_view::npos;
    }
    // A CR inside quotation marks belongs to the value; the state goes on into the next bytes.
    for (std::size_t k = from; k < bytes.size(); ++k) {
        if (bytes[k] == '"')
            m_quoted = !m_quoted;
        else if (bytes[k] == '\r' && !m_quoted)
            return k;
    }
    return std::string_view::npos;
}

int LineIndex::Feed(int fd, std::string_view bytes) {
    const std::uint64_t base = m_size;
    std::size_t i = 0;
    if (m_afterCr && !bytes.empty() && bytes.front() == '\n') {
        i = 1;
        m_lineStart = base + 1;
    }
    if (!bytes.empty()) m_afterCr = false;
    while (i < bytes.size()) {
        const std::size_t found = FindLineEnd(bytes, i);
        const bool cr = found != std::string_view::npos;
        const std::size_t end = cr ? found : bytes.size();
        const std::string_view piece = bytes.substr(i, end - i);
        // A line that begins and ends in these bytes is taken where it is; only one that
        // goes on past them is kept until its end comes.
        std::string_view whole;
        if (!m_openLong) {
            if (m_open.size() + piece.size() > kLongestHashedLine) {
                m_openLong = true;
                m_open.clear();
            } else if (cr && m_open.empty()) {
                whole = piece;
            } else {
                m_open.append(piece);
            }
        }
        if (!cr) break;
        if (int error = EndLine(fd, whole)) {
            m_batched = 0;
            m_size = base + end;  // what was indexed; the caller starts again
            return error;
        }
        std::size_t next = end + 1;
        // A CR's line takes the LF after it; an LF (JSON Lines) ends its line by itself.
        if (m_split != LineSplit::Lf) {
            if (next == bytes.size())
                m_afterCr = true;
            else if (bytes[next] == '\n')
                ++next;
        }
        m_lineStart = base + next;
        i = next;
    }
    m_size = base + bytes.size();
    return PlaceBatch(fd);
}

int LineIndex::ReadFrom(int fd, std::uint64_t size) {
    std::string buffer(kReadChunk, '\0');
    bool sized = false;
    while (m_size < size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - m_size));
        const ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(m_size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;  // the file became shorter meanwhile
        if (int error = Feed(fd, std::string_view(buffer.data(), static_cast<std::size_t>(n))))
            return error;
        // After the first piece the share of lines per byte tells how large the table must
        // be for the whole file, so it is made once instead of growing step by step.
        if (!sized && m_size < size && m_size > 0) {
            sized = true;
            const double expected = static_cast<double>(m_used) * static_cast<double>(size) /
                                    static_cast<double>(m_size) * 1.05;
            const auto capacity = static_cast<std::size_t>(expected / 0.8);
            if (capacity > m_slots.size()) Grow(capacity);
        }
    }
    return 0;
}

int LineIndex::Holds(int fd, std::string_view trimmed, bool& found) {
    found = false;
    if (m_tooManyLines) return EFBIG;
    if (trimmed.size() <= kLongestHashedLine && !m_slots.empty()) {
        const std::uint32_t fingerprint = Fingerprint(trimmed);
        for (std::size_t i = Home(fingerprint);; i = i + 1 == m_slots.size() ? 0 : i + 1) {
            const std::uint64_t slot = m_slots[i];
            if (slot == 0) break;
            if (static_cast<std::uint32_t>(slot >> 32) != fingerprint) continue;
            bool equal = false;
            if (int error = LineEquals(fd, static_cast<std::uint32_t>(slot) - 1, trimmed, equal))
                return error;
            if (equal) {
                found = true;
                return 0;
            }
        }
    }
    // Lines too long to hash may still trim to the text (spaces around it).
    for (std::uint64_t start : m_longStarts) {
        FileCursor cursor(fd, start, kNoEnd);
        if (int error = LineAtCursorEquals(cursor, trimmed, found, m_split)) return error;
        if (found) return 0;
    }
    // The last line, not ended yet.
    if (m_openLong) {
        FileCursor cursor(fd, m_lineStart, m_size);
        return LineAtCursorEquals(cursor, trimmed, found, m_split);
    }
    found = !m_open.empty() && TrimView(m_open) == trimmed;
    return 0;
}

}  // namespace tallix::engine
