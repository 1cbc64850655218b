#pragma once
// The framing of a standard mbox file, the form most Linux mail programs and mail exports write.
//
// A message starts at a line beginning "From " (the "From " line: sender and delivery date)
// that stands at the very start of the file or right after a blank line; it ends before the
// line end and the blank line ahead of the next such line, or at the end of the file (where
// the same line end and blank line are left out). Lines end with LF or CR LF.
//
// Writers put ">" in front of every body line that begins with "From " or with ">" signs
// followed by "From ", so no body line can start a message; reading takes one ">" off again
// (">From " becomes "From ", ">>From " becomes ">From ").
//
// Text ahead of the first "From " line that holds more than line ends is a message of its
// own, without a "From " line: a file holding a single message and no "From " line at all is
// read as that one message, and no byte of a file that is not quite an mbox is dropped.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "sources/mailbox_reader.h"

namespace tallix::sources {

inline constexpr std::string_view kMboxFromLine = "From ";

// One message: bytes [start, end) of the file, counted from 0.
struct MboxSpan {
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const MboxSpan&, const MboxSpan&) = default;
};

// Finds the messages of an mbox file through the reader (so a file cut shorter during the run
// raises the reader's error instead of being read past its end).
class MboxFraming {
  public:
    explicit MboxFraming(MailboxReader& file) : m_file(file) {}

    // The first message that starts at or after byte `from`; none when only line ends are left.
    std::optional<MboxSpan> Next(std::size_t from);
    // The number of messages in the whole file: what walking it with Next hands over.
    std::size_t Count();
    // Whether the "From " at byte `at` starts a message (file start, or a blank line before).
    bool StartsMessage(std::size_t at);

  private:
    // The first "From " at or after `from` that starts a message; npos when none.
    std::size_t NextFromLine(std::size_t from);
    // The first byte at or after `from` (below `limit`) that is not a line end; `limit` when
    // there is none.
    std::size_t SkipLineEnds(std::size_t from, std::size_t limit);
    // `end` moved back over one line end (LF or CR LF), never below `start`.
    std::size_t BackOverLineEnd(std::size_t end, std::size_t start);

    MailboxReader& m_file;
};

// Takes one ">" off every line of `text`, from byte `from` on, that is one or more ">"
// followed by "From ". `from` must be 0 or just after a line end.
void UnquoteFromLines(std::string& text, std::size_t from);

}  // namespace tallix::sources
