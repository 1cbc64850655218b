#pragma once
// Incremental transfer-encoding codecs. A decoder keeps what a chunk leaves unfinished
// (an incomplete base64 group, a quoted-printable escape cut by the chunk's end) until the
// next call, so the output never depends on how the input was cut into chunks.

#include <cstdint>
#include <string>
#include <string_view>

#include "qrmime/export.h"

namespace qrmime {

// The transfer encodings a part can be decoded from. The numbers are the part record's
// values; "8bit" and "binary" bodies are copied like 7bit ones.
enum class TransferEncoding : std::uint8_t { SevenBit = 0, Base64 = 1, QuotedPrintable = 2 };

// Classifies a Content-Transfer-Encoding text by the first keyword it contains: "7BIT",
// "BASE64", "QUOTED-PRINTABLE", then "8BIT" and "BINARY" (copied), case-insensitively.
// False for any other text.
QRMIME_API bool ClassifyTransferEncoding(std::string_view text, TransferEncoding& encoding);

// Decodes one body in any number of Decode calls followed by one Finish call. Output is
// appended to `out`.
class QRMIME_API StreamDecoder {
  public:
    explicit StreamDecoder(TransferEncoding encoding = TransferEncoding::SevenBit);

    // Starts a new body with `encoding`; forgets anything pending.
    void Reset(TransferEncoding encoding);
    TransferEncoding Encoding() const { return m_encoding; }

    void Decode(std::string_view in, std::string& out);
    // Ends the body: a pending base64 group of two or three characters becomes one or two
    // bytes; a pending quoted-printable tail is a soft line break when it is a bare "=" or
    // "=" CR, and is written unchanged otherwise.
    void Finish(std::string& out);

  private:
    void DecodeBase64(std::string_view in, std::string& out);
    void DecodeQuotedPrintable(std::string_view in, std::string& out);

    TransferEncoding m_encoding;
    // Base64: the bits of the incomplete group and how many characters it holds (0 to 3).
    std::uint32_t m_bits = 0;
    int m_count = 0;
    // Quoted-printable: the unprocessed tail, an "=" with at most one character after it.
    char m_tail[2] = {0, 0};
    int m_tailLength = 0;
};

// Appends the base64 form of `data` to `out` with CR LF after every 76 output characters,
// completing the last group with "=". `data` is taken to start at the beginning of an
// output line, so chunks whose sizes are multiples of 57 bytes join into the same lines as
// one call over the whole input. Returns the number of CR LF written.
QRMIME_API std::int64_t AppendBase64Lines(std::string_view data, std::string& out);

// Bytes of input per base64 output line.
inline constexpr std::size_t kBase64LineInput = 57;
inline constexpr std::size_t kBase64LineOutput = 76;

}  // namespace qrmime
