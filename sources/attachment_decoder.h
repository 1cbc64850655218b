#pragma once
// How a mail source has an encoded message part decoded to a file. The engine supplies the
// implementation (its MIME component); a source only asks and learns whether it worked.

#include <functional>
#include <string>

namespace tallix::sources {

// What a source does with the decoder's events during one decode.
struct DecodeCallbacks {
    // The decoder proposes `fileName` for a part before writing it; the source may change
    // it (a full path) or empty it (the part is skipped).
    std::function<void(std::string& fileName, const std::string& contentType,
                       const std::string& contentEncoding)>
        decodingFile;
    // One part has been finished.
    std::function<void()> decodingFinished;
};

class AttachmentDecoder {
public:
    virtual ~AttachmentDecoder() = default;
    // Decodes the MIME text in `sourceFile` into `destinationDir`, naming the output after the
    // part's name parameter, and returns once the decode has finished (events keep running
    // meanwhile). False when the decode could not be started, failed, or did not finish in time.
    virtual bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir) = 0;
    // The same decode with the source naming every part and hearing when each is finished.
    // Without an override the decode is refused.
    virtual bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir,
                            const DecodeCallbacks& callbacks) {
        return false;
    }
};

}  // namespace tallix::sources
