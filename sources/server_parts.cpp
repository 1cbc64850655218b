#include "sources/server_parts.h"

#include <unistd.h>

#include "settings/app_info.h"
#include "settings/global_utils.h"
#include "settings/scratch_dir.h"
#include "settings/text_functions.h"
#include "sources/attachment_names.h"
#include "sources/message_builder.h"
#include "sources/mime_text.h"
#include "sources/pop3_source.h"

namespace tallix::sources {

void ServerPartNaming::Begin(std::string_view message, const std::string& decodeDir) {
    // The body file of an earlier message must not be read as this one's.
    m_files.assign(1, std::string());
    m_types.assign(1, std::string());
    m_namesGiven.clear();
    ::unlink(JoinPath(decodeDir, kScratchBodyFile).c_str());
    m_partNames.clear();
    m_partIndex = 0;
    if (const auto parts = TopLevelParts(message)) {
        for (const TopLevelPart& part : *parts) m_partNames.push_back(PartFileName(part.header));
    }
}

bool ServerPartNaming::Name(std::string& fileName, const std::string& contentType,
                            const std::string& decodeDir) {
    // The decoder reads a name from the Content-Type only; an attachment named in its
    // Content-Disposition or in the RFC 2231 form is named from the part's header.
    const std::size_t index = m_partIndex++;
    if (fileName.empty() && index < m_partNames.size() && UCase(Left(contentType, 5)) != "TEXT/")
        fileName = m_partNames[index];
    // A forwarded message without a name is an attachment all the same.
    if (fileName.empty() && MimeTypeOf(contentType) == "message/rfc822") fileName = "message.eml";
    if (!fileName.empty()) {
        // The part's own name comes from the message: only a safe base name, never one
        // already given in this message, and always inside the decode directory.
        fileName = JoinPath(decodeDir, AttachmentFileName(fileName, m_namesGiven));
    } else if (UCase(Left(contentType, 11)) == "TEXT/PLAIN") {
        fileName = JoinPath(decodeDir, kScratchBodyFile);
        m_files[0] = fileName;
        return false;
    } else if (UCase(Left(contentType, 10)) == "TEXT/HTML") {
        fileName = GetNewFilename(JoinPath(decodeDir, ""), ".html");
    } else {
        return false;
    }
    m_files.push_back(fileName);
    m_types.push_back(MimeTypeOf(contentType));
    return true;
}

}  // namespace tallix::sources
