#pragma once
// How the parts of a server message (POP3 or IMAP) are named as the decoder reports them: a
// part's own name (read from its header where the decoder finds none; "message.eml" for a
// forwarded message without one, as the local store names it) made a safe base name, unique in
// the message, in the decode directory; the plain-text part the body file; an HTML part the next
// free "MailMessage<n>.html".

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::sources {

class ServerPartNaming {
  public:
    // Starts a message whose text is `message`: its top-level parts' names are read, the names
    // given so far forgotten and an earlier message's body file removed from `decodeDir`.
    void Begin(std::string_view message, const std::string& decodeDir);
    // Names the part the decoder reports, inside `decodeDir`; true when it became an attachment
    // (a new entry of Files()).
    bool Name(std::string& fileName, const std::string& contentType, const std::string& decodeDir);

    // Slot 0 the plain-text body, then the attachments; the MIME type of each.
    const std::vector<std::string>& Files() const { return m_files; }
    const std::vector<std::string>& Types() const { return m_types; }

  private:
    std::vector<std::string> m_files;
    std::vector<std::string> m_types;
    std::set<std::string> m_namesGiven;
    std::vector<std::string> m_partNames;  // the name each top-level part's header gives
    std::size_t m_partIndex = 0;
};

}  // namespace tallix::sources
