#pragma once
// How a mail source has an encoded message part decoded to a file. The engine supplies the
// implementation (its MIME component); a source only asks and learns whether it worked.

#include <functional>
#include <string>

namespace tallix::sources {

// What the asking source wants to hear during one decode. Each is optional.
struct DecodeCallbacks {
    // The component proposes `fileName` for a decoded part; the source may change it. Without
    // this callback the proposed name, reduced to a safe base name, is placed inside the
    // destination directory.
    std::function<void(std::string& fileName, const std::string& contentType,
                       const std::string& contentEncoding)>
        decodingFile;
    // The decode has ended (whether or not every part was written).
    std::function<void()> decodingFinished;
};

class AttachmentDecoder {
  public:
    virtual ~AttachmentDecoder() = default;
    // Decodes the MIME text in `sourceFile` into `destinationDir`, naming the output after the
    // part's name parameter, and returns once the decode has finished (events keep running
    // meanwhile). False when the decode could not be started, failed, or did not finish in time.
    // The callbacks are called on the caller's thread, before DecodeFile returns.
    virtual bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir,
                            const DecodeCallbacks& callbacks = {}) = 0;
};

}  // namespace tallix::sources
