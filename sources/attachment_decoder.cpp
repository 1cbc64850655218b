#include "sources/attachment_decoder.h"

#include <unistd.h>

#include "model/file_bytes.h"

namespace tallix::sources {

bool AttachmentDecoder::DecodeBytes(std::string_view bytes, const std::string& sourceFile,
                                    const std::string& destinationDir,
                                    std::vector<DecodedFile>& files,
                                    const DecodeCallbacks& callbacks) {
    files.clear();
    ::unlink(sourceFile.c_str());
    if (WriteNewFile(sourceFile, {bytes}) != 0) return false;
    return DecodeFile(sourceFile, destinationDir, callbacks);
}

}  // namespace tallix::sources
