#pragma once
// How a mail source has an encoded message part decoded, to a file or in memory. The engine
// supplies the implementation (its MIME component); a source only asks and learns whether it
// worked.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// A part decoded in memory: the path DecodeFile would have written it to, and its bytes.
struct DecodedFile {
    std::string path;
    std::string bytes;
};

class AttachmentDecoder {
  public:
    virtual ~AttachmentDecoder() = default;
    // Decodes the MIME text `bytes` as DecodeFile decodes a file that holds them: the same
    // parts, named through the same callbacks, decodingFinished after each. A decoder that can
    // decode in memory gives the parts in `files` (in order; where two have one path, the
    // later one is what the file would hold) and writes no file; one that cannot writes
    // `bytes` to `sourceFile`, decodes that file into `destinationDir` and gives no parts
    // (they are on disk). `sourceFile` also names the text in notes. False as for DecodeFile.
    virtual bool DecodeBytes(std::string_view bytes, const std::string& sourceFile,
                             const std::string& destinationDir, std::vector<DecodedFile>& files,
                             const DecodeCallbacks& callbacks = {});
    // Decodes the MIME text in `sourceFile` into `destinationDir`, naming the output after the
    // part's name parameter, and returns once the decode has finished (events keep running
    // meanwhile). False when the decode could not be started, failed, or did not finish in time.
    // The callbacks are called on the caller's thread, before DecodeFile returns.
    virtual bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir,
                            const DecodeCallbacks& callbacks = {}) = 0;
};

}  // namespace tallix::sources
