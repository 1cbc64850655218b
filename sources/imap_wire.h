#pragma once
// The wire under the IMAP client: one TCP connection, secured with TLS from the start or
// after STARTTLS (OpenSSL, the library libcurl uses here, so there is one TLS stack), and a
// reader that cuts what the server sends into responses, each a line with its literals.
//
// Certificates and host names are always verified against the system's CA store, plus the CA
// file named by TALLIX_CA_FILE when it is set. Every read and write waits at most the idle
// limit; every response and literal has a limit of size, so a server that sends without end,
// stops in the middle or lies about a length costs bounded time and memory.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::sources {

// The longest response line (without its literals) read; more is a failure of the session.
inline constexpr std::size_t kMaxImapLineBytes = std::size_t{1} << 20;
// The largest literal (a message) read.
inline constexpr std::size_t kMaxImapLiteralBytes = std::size_t{64} << 20;

enum class ImapOutcome {
    Ok,
    ServerError,   // the server answered NO or BAD
    LoginRefused,  // the server refused the login
    Network,       // a socket-level failure; `socketError` says which
    Tls,           // the secure connection failed or the server would not secure it
    Failed,        // anything else: not an IMAP server, session lost, a limit passed
};

struct ImapResult {
    ImapOutcome outcome = ImapOutcome::Ok;
    // With Network: the Windows Sockets code minus 10000 (refused 61, host not found 1001,
    // timed out 60, reset 54).
    std::int16_t socketError = 0;
    // The server's tagged answer ("NO [AUTHENTICATIONFAILED] ..."), without its line end.
    std::string reply;
    std::string detail;
    bool ok() const { return outcome == ImapOutcome::Ok; }
};

ImapResult ImapFailure(ImapOutcome outcome, std::string detail);

// One connection. Not copyable; closing is idempotent.
class ImapStream {
  public:
    ImapStream();
    ~ImapStream();
    ImapStream(const ImapStream&) = delete;
    ImapStream& operator=(const ImapStream&) = delete;

    // Connects to host:port within `timeoutMs`.
    ImapResult Connect(const std::string& host, std::int32_t port, int timeoutMs);
    // The TLS handshake on the open connection, verifying the certificate for `host`.
    ImapResult StartTls(const std::string& host, int timeoutMs);
    bool Secured() const;
    ImapResult Write(std::string_view bytes, int idleMs);
    // Appends what arrives (at least one byte) to `into`, waiting at most `idleMs`.
    ImapResult ReadSome(std::string& into, int idleMs);
    void Close();
    bool IsOpen() const;
    // Bytes TLS has decrypted and not handed out yet (the socket may show nothing to read).
    bool HasBuffered() const;
    // The connection's socket, for a caller that waits on several at once; -1 when closed.
    int Socket() const;
    // Asked while waiting: true ends the wait at once with a failure (a stop of the program).
    void SetStop(std::function<bool()> stop) { m_stop = std::move(stop); }

  private:
    struct State;
    State* m_state;
    std::function<bool()> m_stop;
};

// A response: its text with each literal left as its "{n}" marker, and the literals' bytes in
// order.
struct ImapResponse {
    std::string text;
    std::vector<std::string> literals;
};

// Cuts the stream's bytes into responses.
class ImapReader {
  public:
    explicit ImapReader(ImapStream& stream) : m_stream(stream) {}
    // The next whole response, waiting at most `idleMs` for each piece of it.
    ImapResult Next(ImapResponse& out, int idleMs);
    // Forgets what was read and not yet handed out (after STARTTLS, bytes the server sent in
    // clear behind its answer must not be read as if they had come secured).
    void Reset() {
        m_buffer.clear();
        m_at = 0;
    }
    // Something was received and not yet handed out.
    bool HasBuffered() const { return m_at < m_buffer.size() || m_stream.HasBuffered(); }

  private:
    ImapResult Fill(int idleMs);

    ImapStream& m_stream;
    std::string m_buffer;
    std::size_t m_at = 0;
};

// The tokens of a response, in order: atoms (anything between blanks and parentheses,
// "BODY[]" and "[UIDVALIDITY" included), quoted strings (unescaped), literals and parentheses.
struct ImapToken {
    enum Kind { End, Atom, String, Literal, Open, Close, Nil };
    Kind kind = End;
    std::string text;         // an atom or a string
    std::size_t literal = 0;  // with Literal: the index into the response's literals
};
class ImapTokens {
  public:
    explicit ImapTokens(const ImapResponse& response, std::size_t from = 0)
        : m_response(response), m_at(from) {}
    ImapToken Next();
    // Skips one value: an atom, a string, a literal or a parenthesised list with all inside.
    void SkipValue(const ImapToken& first);
    std::size_t Position() const { return m_at; }

  private:
    const ImapResponse& m_response;
    std::size_t m_at;
    std::size_t m_literal = 0;
};

// A folder name as IMAP sends it: the modified UTF-7 of RFC 3501 (non-ASCII runs as "&...-",
// "&" as "&-"), as a quoted string. nullopt when the name holds a line break or a NUL.
std::optional<std::string> ImapMailboxArgument(std::string_view utf8);
// The modified UTF-7 of a name turned back into UTF-8 (a name that is not valid modified
// UTF-7 comes back as it was).
std::string DecodeModifiedUtf7(std::string_view name);
// An IMAP string for a login name or password: quoted when it is plain printable ASCII
// without a line break, else nullopt (the caller then sends it as a literal).
std::optional<std::string> ImapQuoted(std::string_view text);
// The LOGIN command with its two arguments quoted where they can be and as literals where not
// (a password in UTF-8). The first piece is the command line; each further piece is what
// follows the server's continuation request for a synchronising literal. With LITERAL+ the
// literals do not wait for the server and the command is one piece. nullopt when an argument
// holds a line break or a NUL, which no string of LOGIN carries.
std::optional<std::vector<std::string>> ImapLoginPieces(std::string_view user,
                                                        std::string_view password,
                                                        bool literalPlus);

}  // namespace tallix::sources
