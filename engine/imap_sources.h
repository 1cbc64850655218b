#pragma once
// The sources of an IMAP run: one per account stored in IMAP.CFG, in file order.

#include <memory>
#include <string>

#include "sources/attachment_decoder.h"
#include "sources/mail_source.h"

namespace tallix::engine {

// `readOnly`: no message may be changed in this run (DeleteFlag 0), so folders are examined.
std::unique_ptr<sources::SourceList> MakeImapSources(const std::string& configFile, bool readOnly,
                                                     sources::AttachmentDecoder& decoder);

}  // namespace tallix::engine
