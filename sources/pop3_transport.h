#pragma once
// The wire under the POP3 client: one session with one server, driven a command at a time, or
// with several RETRs sent together where the server allows it. The client keeps its logic
// (what to send when, what a reply means for the caller) above this interface;
// CurlPop3Transport speaks to real servers (libcurl connects and logs in) and the tests put a
// scripted fake in its place.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/pop3_config.h"

namespace tallix::sources {

// How long the server may take. Every command must be answered within the floor; a message
// may take the floor plus its announced size at the minimum rate, so a server that trickles
// its answer a few bytes a second cannot hold the run.
struct Pop3TimeLimits {
    std::int32_t floorMs = 30000;
    std::int32_t minBytesPerSecond = 16384;
    // The limit for a transfer of `bytes`, in milliseconds.
    std::int64_t ForBytes(std::int64_t bytes) const {
        const std::int64_t rate = minBytesPerSecond > 0 ? minBytesPerSecond : 1;
        return floorMs + (bytes > 0 ? bytes : 0) * 1000 / rate;
    }
};

struct Pop3Endpoint {
    std::string host;
    std::int32_t port = 110;
    std::string user;
    std::string password;
    // How the connection is secured and the login made (the account's "Security" and
    // "Auth", resolved).
    AccountSecurity security = AccountSecurity::StartTls;
    AccountAuth auth = AccountAuth::Plain;
    std::int32_t connectTimeoutMs = 30000;
    // A session that receives nothing for this long is given up.
    std::int32_t idleTimeoutMs = 30000;
    Pop3TimeLimits limits;
};

enum class Pop3Outcome {
    Ok,
    ServerError,   // the server answered the command with -ERR
    LoginRefused,  // the server refused the user name or password
    Network,       // a socket-level failure; `socketError` says which
    Tls,           // the secure connection failed (certificate not trusted, handshake)
    Failed,        // anything else: not a POP3 server, session lost, local file trouble
    TimeLimit,     // the server did not finish within the time limit; the session is lost
    Cut,           // the session ended in the middle of a message; the session is lost
};

struct Pop3Result {
    Pop3Outcome outcome = Pop3Outcome::Ok;
    // With Network: the Windows Sockets code minus 10000 (refused 61, host not found 1001,
    // timed out 60).
    std::int16_t socketError = 0;
    // The server's last status line ("+OK 2 320", "-ERR [AUTH] Authentication failed."),
    // without its line end.
    std::string reply;
    // The transport's own description of a failure.
    std::string detail;
    bool ok() const { return outcome == Pop3Outcome::Ok; }
};

// One message of a batch of RETRs: its number and the size LIST announced for it.
struct Pop3Retrieval {
    std::int32_t number = 0;
    std::int64_t announcedBytes = 0;
};

// The largest multi-line answer to a listing command (CAPA, UIDL, LIST) read; a longer one
// fails and loses the session.
inline constexpr std::size_t kMaxPop3ListingBytes = std::size_t{64} << 20;

class Pop3Transport {
  public:
    virtual ~Pop3Transport() = default;
    // Connects, secures the connection as `endpoint.security` says (with StartTls a server
    // that does not offer STLS is refused before the login) and logs in. Everything after runs on
    // this one connection: a session that is lost is not opened again behind the caller's back,
    // because message numbers and pending deletions belong to the session.
    virtual Pop3Result Open(const Pop3Endpoint& endpoint) = 0;
    // A command with a one-line reply ("STAT", "LIST 2", "DELE 3", "RSET", "NOOP"), answered
    // within the floor of the time limits.
    virtual Pop3Result Command(const std::string& command) = 0;
    // RETR `number`: the message's lines (dot-stuffing undone, without the closing ".") are
    // passed to `sink` in pieces; `sink` returns false to abort the transfer (which loses the
    // session). The whole message must arrive within the limit for `announcedBytes`; one that
    // ends without its closing line is Cut.
    virtual Pop3Result Retrieve(std::int32_t number, std::int64_t announcedBytes,
                                const std::function<bool(std::string_view)>& sink) = 0;
    // A command with a multi-line answer ("CAPA", "UIDL", "LIST"): each line of the listing
    // (dot-stuffing undone, without its line end and without the closing ".") is passed to
    // `line`. At most kMaxPop3ListingBytes, within the floor of the time limits.
    virtual Pop3Result Listing(const std::string& command,
                               const std::function<void(std::string_view)>& line) = 0;
    // RETR of each message of `wanted`, the answers read in order; the pieces of message i go to
    // `sink(i, piece)`. With `pipelined` every command is sent before the first answer is read
    // (the server offers PIPELINING); otherwise one at a time. `results` receives one result per
    // message whose answer was read: a message the server refused (-ERR) does not stop the
    // batch, any other failure does, and the messages after it have no result.
    virtual void RetrieveMany(const std::vector<Pop3Retrieval>& wanted, bool pipelined,
                              const std::function<bool(std::size_t, std::string_view)>& sink,
                              std::vector<Pop3Result>& results) {
        (void)pipelined;
        results.clear();
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            results.push_back(Retrieve(wanted[i].number, wanted[i].announcedBytes,
                                       [&](std::string_view piece) { return sink(i, piece); }));
            if (!results.back().ok() && results.back().outcome != Pop3Outcome::ServerError) break;
        }
    }
    // Ends the session with QUIT (which commits the deletions) and closes the connection;
    // nothing when no session is open.
    virtual void Close() = 0;
};

}  // namespace tallix::sources
