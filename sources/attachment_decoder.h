#pragma once
// How a mail source has an encoded message part decoded to a file. The engine supplies the
// implementation (its MIME component); a source only asks and learns whether it worked.

#include <string>

namespace tallix::sources {

class AttachmentDecoder {
public:
    virtual ~AttachmentDecoder() = default;
    // Decodes the MIME text in `sourceFile` into `destinationDir`, naming the output after the
    // part's name parameter, and returns once the decode has finished (events keep running
    // meanwhile). False when the decode could not be started, failed, or did not finish in time.
    virtual bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir) = 0;
};

}  // namespace tallix::sources
