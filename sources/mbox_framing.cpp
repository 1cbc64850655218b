#include "sources/mbox_framing.h"

#include <algorithm>

namespace tallix::sources {
namespace {

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

}  // namespace

bool MboxFraming::StartsMessage(std::size_t at) {
    if (at == 0) return true;
    if (m_file.At(at - 1) != '\n') return false;
    // The line before is empty: the file starts with it, or it ends right after another LF
    // (LF files) or is a lone CR LF (CR LF files).
    if (at == 1) return true;
    const char before = m_file.At(at - 2);
    if (before == '\n') return true;
    return before == '\r' && (at == 2 || m_file.At(at - 3) == '\n');
}

std::size_t MboxFraming::NextFromLine(std::size_t from) {
    for (std::size_t at = m_file.Find(from, kMboxFromLine); at != std::string_view::npos;
         at = m_file.Find(at + 1, kMboxFromLine)) {
        if (StartsMessage(at)) return at;
    }
    return std::string_view::npos;
}

std::size_t MboxFraming::SkipLineEnds(std::size_t from, std::size_t limit) {
    while (from < limit && IsLineEnd(m_file.At(from))) ++from;
    return from;
}

std::size_t MboxFraming::BackOverLineEnd(std::size_t end, std::size_t start) {
    if (end > start && m_file.At(end - 1) == '\n') {
        --end;
        if (end > start && m_file.At(end - 1) == '\r') --end;
    }
    return end;
}

std::optional<MboxSpan> MboxFraming::Next(std::size_t from) {
    const std::size_t size = m_file.Size();
    if (from >= size) return std::nullopt;
    const std::size_t fromLine = NextFromLine(from);
    const std::size_t limit = fromLine == std::string_view::npos ? size : fromLine;
    // Anything but line ends ahead of the "From " line is a message without one.
    std::size_t start = SkipLineEnds(from, limit);
    if (start == limit) {
        if (fromLine == std::string_view::npos) return std::nullopt;
        start = fromLine;
    }
    const std::size_t next = NextFromLine(start + 1);
    // Before the next "From " line: its blank line, then the line end of the message's last
    // line. At the end of the file: the last line end and the blank line writers leave there.
    std::size_t end = next == std::string_view::npos ? size : next;
    end = BackOverLineEnd(BackOverLineEnd(end, start), start);
    return MboxSpan{start, end};
}

std::size_t MboxFraming::Count() {
    const std::size_t size = m_file.Size();
    std::size_t at = NextFromLine(0);
    const std::size_t limit = at == std::string_view::npos ? size : at;
    std::size_t count = SkipLineEnds(0, limit) < limit ? 1 : 0;  // text ahead of the first
    for (; at != std::string_view::npos; at = NextFromLine(at + 1)) ++count;
    return count;
}

void UnquoteFromLines(std::string& text, std::size_t from) {
    // Most messages hold no quoted line at all.
    if (text.find(">From ", from) == std::string::npos) return;
    // One pass with a write position that falls behind by one byte for every ">" taken off.
    std::size_t write = from;
    std::size_t read = from;
    const std::size_t size = text.size();
    while (read < size) {
        // `read` is at a line start.
        std::size_t marks = read;
        while (marks < size && text[marks] == '>') ++marks;
        if (marks > read &&
            std::string_view(text).substr(marks, kMboxFromLine.size()) == kMboxFromLine) {
            ++read;
        }
        const std::size_t lf = text.find('\n', read);
        const std::size_t lineEnd = lf == std::string::npos ? size : lf + 1;
        // The write position is never ahead of the read position, so a forward copy is safe.
        if (write != read)
            std::copy(text.begin() + read, text.begin() + lineEnd, text.begin() + write);
        write += lineEnd - read;
        read = lineEnd;
    }
    text.resize(write);
}

}  // namespace tallix::sources
