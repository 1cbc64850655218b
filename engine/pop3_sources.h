#pragma once
// The sources of a POP3 run: one per account stored in POP3.CFG, in file order, each with
// its own POP3 client over libcurl whose events go to the engine window's handlers.

#include <memory>

#include "sources/attachment_decoder.h"
#include "sources/mail_source.h"

namespace tallix::engine {

std::unique_ptr<sources::SourceList> MakePop3Sources(const std::string& configFile,
                                                     sources::AttachmentDecoder& decoder);

}  // namespace tallix::engine
