#pragma once
// Finding the decodable parts of a file that holds one MIME entity (a whole message or a
// single part, headers included). Only the first kScanWindow bytes decide whether the file
// is MIME at all and which boundary separates its parts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qrmime/codec.h"
#include "qrmime/export.h"

namespace qrmime {

// The window that must hold "Content-Type: " and, for a multipart entity, its boundary.
inline constexpr std::size_t kScanWindow = 8192;
// Limits on what a message can make the scan hold. Going past one is reported in the
// scan's notes; the part concerned is skipped (or, for kMaxParts, the scan stops).
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;  // one part's header block
inline constexpr std::size_t kMaxParts = 4096;             // parts of one entity
inline constexpr std::size_t kMaxNameLength = 4096;        // a part's file name, in bytes

enum class ScanStatus {
    Ok,
    SourceUnreadable,    // the file cannot be opened or read
    NotMime,             // no "Content-Type: " in the first kScanWindow bytes
    BadBoundary,         // multipart without a usable boundary parameter
    NoTransferEncoding,  // a single part without a Content-Transfer-Encoding header
};

// One part as the scan found it, before the host names its file.
struct ScannedPart {
    std::string fileName;      // from the content type's name parameter; may be empty
    std::string contentType;   // parameters removed
    std::string encodingText;  // the raw Content-Transfer-Encoding text
    bool decodable = false;    // the encoding is one the decoders know
    TransferEncoding encoding = TransferEncoding::SevenBit;
    std::uint64_t bodyStart = 0;  // offset of the body in the file
    std::uint64_t bodyEnd = 0;    // exclusive
};

// Something the scan tolerated or refused, with the byte offset where it was found.
struct ScanNote {
    std::uint64_t offset = 0;
    std::string text;
};

struct ScanResult {
    ScanStatus status = ScanStatus::Ok;
    bool multipart = false;
    std::vector<ScannedPart> parts;  // in file order, decodable or not
    std::vector<ScanNote> notes;
};

// Scans the file at `path`. Reads only the scan window and the header blocks of the parts,
// never whole bodies.
QRMIME_API ScanResult ScanEntity(const std::string& path);

// The same scan over bytes already in memory.
QRMIME_API ScanResult ScanEntityBytes(std::string_view bytes);

// A file name that came from a message, made safe to join to a directory: the text after
// the last "/" or "\", without control characters, at most 255 bytes (cut on a character
// boundary, keeping the extension when it can), never "." or "..", never empty
// ("attachment" then).
QRMIME_API std::string SafeBaseName(std::string_view name, std::size_t maxBytes = 255);

}  // namespace qrmime
