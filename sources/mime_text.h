#pragma once
// Text of a message as UTF-8: the transfer encoding of a text part undone, its character set
// converted, and the parameters of a header field read (RFC 2231 forms included).
//
// Mail is written by strangers: nothing here fails. A character set nobody knows is read as
// UTF-8 when the bytes are valid UTF-8 and as Windows-1252 otherwise; a byte the declared set
// cannot convert becomes U+FFFD and the rest of the text is kept.
//
// Plain 7-bit text with nothing to decode is by far the most common case; every function
// here hands it back unchanged after one scan of its bytes, and PartAsWritten tells it apart
// without decoding anything.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::sources {

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// True when every byte is below 0x80 and none is ESC (which starts the shifts of the 7-bit
// ISO-2022 sets).
bool PlainSevenBit(std::string_view bytes);
// Well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool ValidUtf8(std::string_view bytes);
// Each byte read as Windows-1252 (the five bytes that set leaves undefined as U+FFFD).
std::string Windows1252ToUtf8(std::string_view bytes);

// `bytes` in `charset` as UTF-8, by the rules above. An empty charset counts as unknown.
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);
// True when CharsetToUtf8 converts from `charset` itself rather than guessing.
bool KnownCharset(std::string_view charset);
// Text of unknown character set (raw 8-bit header text): itself when valid UTF-8, else read
// as Windows-1252.
std::string UndeclaredToUtf8(std::string_view bytes);

// The value of the first field named `name` (any case, at a line start) in `header`, folded
// lines joined; nullopt without one. Lines may end in CR LF or LF.
std::optional<std::string> HeaderFieldValue(std::string_view header, std::string_view name);

// Parameter `name` of a structured field value ("text/plain; charset=utf-8"), any case,
// quotes removed. The RFC 2231 forms (name*=charset'lang'%XX, name*0=, name*1*=) are joined
// and decoded to UTF-8 and win over the plain form.
std::optional<std::string> HeaderParameter(std::string_view value, std::string_view name);

// The content of one text part as UTF-8: its Content-Transfer-Encoding (quoted-printable,
// base64) undone and its Content-Type's charset converted, both read from `partHeader`.
std::string DecodePartText(std::string_view partHeader, std::string_view content);

// The file name a part's header gives: Content-Disposition's filename, else Content-Type's
// name, in any of their forms (quoted, RFC 2231, encoded words left for the caller); empty
// when there is none.
std::string PartFileName(std::string_view partHeader);

// True when the text part that `partHeader` opens is HTML.
bool IsHtmlPart(std::string_view partHeader);
// True when the part that `partHeader` opens is itself multipart.
bool IsMultipartHeader(std::string_view partHeader);

// True when a part's content is its text as written: no transfer encoding to undo (none,
// 7bit, 8bit or binary), only 7-bit bytes without ESC, and no character set whose 7-bit bytes
// are not ASCII (UTF-7, UTF-16 and the like). Such a part is its own text, byte for byte.
bool PartAsWritten(std::string_view partHeader, std::string_view content);

// The text one part gives the body, UTF-8 with CR LF line ends: the content as it stands when
// the part is written as its text (PartAsWritten), else its decoded text (DecodePartText) with
// line ends made CR LF; for an HTML part then HtmlPartBody's rule.
std::string PartBodyText(std::string_view partHeader, std::string_view content, bool html);

// The body an HTML part gives: the record strips its tags itself (the literal rule that 7-bit
// HTML has always been read by), so the text as written stays as it is; a part that had to be
// decoded (`decoded`) also has its character references turned into UTF-8 and its line ends
// made CR LF.
std::string HtmlPartBody(std::string_view html, bool decoded);

// Every line end (CR LF, LF or CR alone) as CR LF.
std::string ToCrLf(std::string_view text);

// The parts of a multipart body between its boundary lines ("--" and `boundary` at a line
// start), each as header lines (through the line end of the last one) and content (up to the
// line end before the next boundary line). A part without a blank line after its header is
// left out; the walk ends at the closing boundary or where no further boundary line follows.
struct MimePart {
    std::string_view header;
    std::string_view content;
};
std::vector<MimePart> SplitMultipart(std::string_view body, std::string_view boundary);

}  // namespace tallix::sources
