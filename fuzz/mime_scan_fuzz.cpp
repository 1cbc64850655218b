// The MIME scan and the stream decoders over any bytes: every part lies inside the input
// and within the named limits, a decoder's output does not depend on how its input was cut,
// and a name from a message is always made into a safe base name.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "qrmime/codec.h"
#include "qrmime/entity.h"

namespace {

using qrmime::TransferEncoding;

std::string DecodeWhole(TransferEncoding encoding, std::string_view in) {
    qrmime::StreamDecoder d(encoding);
    std::string out;
    d.Decode(in, out);
    d.Finish(out);
    return out;
}

// Cut into pieces of 1, 2, ... `maxPiece` bytes in turn.
std::string DecodeCut(TransferEncoding encoding, std::string_view in, std::size_t maxPiece) {
    qrmime::StreamDecoder d(encoding);
    std::string out;
    std::size_t piece = 1;
    while (!in.empty()) {
        const std::size_t n = std::min(piece, in.size());
        d.Decode(in.substr(0, n), out);
        in.remove_prefix(n);
        piece = piece % maxPiece + 1;
    }
    d.Finish(out);
    return out;
}

void CheckSafeName(std::string_view name) {
    const std::string safe = qrmime::SafeBaseName(name);
    FUZZ_CHECK(!safe.empty() && safe != "." && safe != "..", safe);
    FUZZ_CHECK(safe.size() <= 255, safe);
    FUZZ_CHECK(safe.find_first_of("/\\") == std::string::npos, safe);
    for (unsigned char c : safe) FUZZ_CHECK(c >= 0x20 && c != 0x7f, safe);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const qrmime::ScanResult scan = qrmime::ScanEntityBytes(in);
    FUZZ_CHECK(scan.parts.size() <= qrmime::kMaxParts, in.substr(0, 200));
    std::size_t decoded = 0;
    for (const qrmime::ScannedPart& part : scan.parts) {
        FUZZ_CHECK(part.bodyStart <= part.bodyEnd && part.bodyEnd <= size, part.fileName);
        FUZZ_CHECK(part.fileName.size() <= qrmime::kMaxNameLength, part.fileName.substr(0, 200));
        CheckSafeName(part.fileName);
        if (part.decodable && decoded < 4) {
            ++decoded;
            const std::string_view body = in.substr(part.bodyStart, part.bodyEnd - part.bodyStart);
            FUZZ_CHECK(DecodeWhole(part.encoding, body) == DecodeCut(part.encoding, body, 7), body);
        }
    }
    for (const qrmime::ScanNote& note : scan.notes) FUZZ_CHECK(note.offset <= size, note.text);

    const std::string_view head = in.substr(0, 65536);
    for (TransferEncoding e : {TransferEncoding::SevenBit, TransferEncoding::Base64,
                               TransferEncoding::QuotedPrintable}) {
        const std::string whole = DecodeWhole(e, head);
        FUZZ_CHECK(whole == DecodeCut(e, head, 1), head);
        FUZZ_CHECK(whole == DecodeCut(e, head, 13), head);
    }
    CheckSafeName(in.substr(0, 1024));
    return 0;
}
