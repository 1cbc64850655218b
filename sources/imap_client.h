#pragma once
// The IMAP client the IMAP source drives: one session with one server. Open connects,
// secures the connection as the account says (STARTTLS required when asked for: a server
// that does not offer it is left before anything of the login is sent) and logs in (LOGIN or
// AUTHENTICATE PLAIN, whichever the server offers, or AUTHENTICATE XOAUTH2 with an access
// token). Then a folder is selected (or examined, when nothing may change), its messages
// listed by UID with their sizes, fetched whole with BODY.PEEK[] (which leaves \Seen alone)
// many to a command, and flagged, moved or expunged by UID.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sources/imap_wire.h"
#include "sources/pop3_config.h"

namespace tallix::sources {

// At most this many messages, and this many bytes by their sizes, are fetched by one command.
inline constexpr std::size_t kImapBatchMessages = 100;
inline constexpr std::uint64_t kImapBatchBytes = std::uint64_t{16} << 20;
// What one fetch may bring in all, whatever the sizes said.
inline constexpr std::uint64_t kMaxImapBatchBytes = std::uint64_t{80} << 20;

struct ImapEndpoint {
    std::string host;
    std::int32_t port = kDefaultImapPort;
    std::string user;
    std::string password;
    AccountSecurity security = AccountSecurity::StartTls;
    AccountAuth auth = AccountAuth::Plain;
    int connectTimeoutMs = 30000;
    // A server that sends nothing for this long is given up.
    int idleTimeoutMs = 30000;
};

// A message of the selected folder: its UID and its size as the server gave it.
struct ImapListed {
    std::uint32_t uid = 0;
    std::uint64_t size = 0;
};

class ImapClient {
  public:
    ImapClient() : m_reader(m_stream) {}
    ~ImapClient() { Logout(); }

    ImapResult Open(const ImapEndpoint& endpoint);
    bool IsOpen() const { return m_stream.IsOpen(); }
    bool Has(std::string_view capability) const;

    // SELECT, or EXAMINE with `readOnly`; a folder that does not exist is a ServerError.
    ImapResult Select(std::string_view folder, bool readOnly);
    std::uint32_t UidValidity() const { return m_uidValidity; }
    std::uint32_t Exists() const { return m_exists; }
    // The selected folder's messages in order, by sequence numbers 1 to Exists(); a server
    // whose list does not have that many messages fails.
    ImapResult List(std::vector<ImapListed>& messages);
    // The whole messages of `uids` (BODY.PEEK[]) in one command, into `bodies` by UID. A UID
    // the server does not answer for fails the fetch.
    ImapResult Fetch(const std::vector<std::uint32_t>& uids,
                     std::map<std::uint32_t, std::string>& bodies);
    // UID STORE +FLAGS.SILENT (\Deleted).
    ImapResult FlagDeleted(std::uint32_t uid);
    // UID EXPUNGE of exactly `uids` (needs UIDPLUS).
    ImapResult Expunge(const std::set<std::uint32_t>& uids);
    // UID MOVE, when the server offers MOVE.
    ImapResult Move(std::uint32_t uid, std::string_view folder);
    // UID COPY.
    ImapResult Copy(std::uint32_t uid, std::string_view folder);
    // The names of every folder (LIST "" "*"), in UTF-8.
    ImapResult Folders(std::vector<std::string>& names);
    // LOGOUT and close; nothing when no session is open.
    void Logout();

    // Asked while waiting for the server: true ends the wait at once with a failure.
    void SetStop(std::function<bool()> stop) { m_stream.SetStop(std::move(stop)); }
    // NOOP: the server tells what changed in the selected folder.
    ImapResult Noop() { return Command("NOOP"); }
    // IDLE: between StartIdle and StopIdle the server tells of changes to the selected folder
    // as they happen. ReadIdle reads one response it sent; call it when Socket() is readable or
    // HasBuffered(). A server that ends the IDLE itself leaves Idling() false. A failure other
    // than a refused IDLE closes the session.
    ImapResult StartIdle();
    ImapResult ReadIdle();
    ImapResult StopIdle();
    bool Idling() const { return m_idling; }
    int Socket() const { return m_stream.Socket(); }
    bool HasBuffered() const { return m_reader.HasBuffered(); }
    // A message was added to the selected folder (an EXISTS above the count known, expunged
    // messages taken off) since the folder was selected or this was last asked.
    bool TakeArrived() { return std::exchange(m_arrived, false); }

  private:
    using Untagged = std::function<ImapResult(const ImapResponse&)>;
    using Continuation = std::function<std::string(const ImapResponse&)>;
    // Sends one command and reads up to its tagged answer; untagged responses go to `untagged`
    // (EXISTS, UIDVALIDITY and CAPABILITY are noted in any case), continuation requests to
    // `more`, whose answer is sent as a line. A failure other than NO or BAD closes the
    // session: its responses can no longer be told apart.
    ImapResult Command(const std::string& command, const Untagged& untagged = {},
                       const Continuation& more = {});
    ImapResult Capabilities();
    // An untagged response (noted) while idling; a BYE or anything else fails.
    ImapResult ReadUntagged(const ImapResponse& response);
    ImapResult Login(const ImapEndpoint& endpoint);
    void Note(const ImapResponse& response);

    ImapStream m_stream;
    ImapReader m_reader;
    ImapEndpoint m_endpoint;
    std::set<std::string> m_capabilities;
    std::uint32_t m_uidValidity = 0;
    std::uint32_t m_exists = 0;
    std::uint32_t m_tag = 0;
    bool m_arrived = false;
    bool m_idling = false;
    std::string m_idleTag;
};

// "1,2,5" for the UIDs in order.
std::string UidSet(const std::vector<std::uint32_t>& uids);

}  // namespace tallix::sources
