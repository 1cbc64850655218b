#include "sources/imap_wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "sources/pop3_curl_transport.h"

namespace tallix::sources {
namespace {

using Clock = std::chrono::steady_clock;

// Windows Sockets codes minus 10000, the keys the engine's network error table uses.
constexpr std::int16_t kWsaNetUnreachable = 51;
constexpr std::int16_t kWsaConnReset = 54;
constexpr std::int16_t kWsaTimedOut = 60;
constexpr std::int16_t kWsaConnRefused = 61;
constexpr std::int16_t kWsaHostUnreachable = 65;
constexpr std::int16_t kWsaHostNotFound = 1001;

std::int16_t SocketError(int err) {
    switch (err) {
        case ECONNREFUSED:
            return kWsaConnRefused;
        case ETIMEDOUT:
            return kWsaTimedOut;
        case EHOSTUNREACH:
            return kWsaHostUnreachable;
        case ENETUNREACH:
            return kWsaNetUnreachable;
        default:
            return kWsaConnReset;
    }
}

ImapResult NetworkFailure(std::int16_t code, std::string detail) {
    ImapResult result = ImapFailure(ImapOutcome::Network, std::move(detail));
    result.socketError = code;
    return result;
}

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// How often a wait looks at the stop request.
constexpr int kStopSliceMs = 100;

// Waits until `fd` is ready for `events` or the deadline passes (or `stop` says so); false on
// timeout or stop.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::function<bool()>& stop) {
    for (;;) {
        if (stop && stop()) return false;
        pollfd p{fd, events, 0};
        const int left = MsLeft(deadline);
        const int ready = ::poll(&p, 1, stop ? std::min(left, kStopSliceMs) : left);
        if (ready > 0) return true;
        if (ready == 0 && (!stop || left <= kStopSliceMs)) return false;
        if (ready < 0 && errno != EINTR) return true;  // the next call on the socket reports it
    }
}

ImapResult Stopped() {
    return ImapFailure(ImapOutcome::Failed, "Stopped while waiting for the server");
}

std::string OpenSslErrors() {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(e, buffer, sizeof buffer);
        if (!text.empty()) text += "; ";
        text += buffer;
    }
    return text;
}

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

}  // namespace

ImapResult ImapFailure(ImapOutcome outcome, std::string detail) {
    ImapResult result;
    result.outcome = outcome;
    result.detail = std::move(detail);
    return result;
}

// --- the connection ----------------------------------------------------------------------------

struct ImapStream::State {
    int fd = -1;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;

    ~State() {
        if (ssl) SSL_free(ssl);
        if (context) SSL_CTX_free(context);
        if (fd >= 0) ::close(fd);
    }
};

ImapStream::ImapStream() : m_state(new State) {}

ImapStream::~ImapStream() {
    delete m_state;
}

bool ImapStream::IsOpen() const {
    return m_state->fd >= 0;
}

bool ImapStream::Secured() const {
    return m_state->ssl != nullptr;
}

bool ImapStream::HasBuffered() const {
    return m_state->ssl && SSL_pending(m_state->ssl) > 0;
}

int ImapStream::Socket() const {
    return m_state->fd;
}

void ImapStream::Close() {
    delete m_state;
    m_state = new State;
}

ImapResult ImapStream::Connect(const std::string& host, std::int32_t port, int timeoutMs) {
    Close();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        return NetworkFailure(kWsaHostNotFound, "The host " + host + " was not found");
    int lastError = ECONNREFUSED;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            lastError = errno;
            ::close(fd);
            continue;
        }
        if (!WaitFor(fd, POLLOUT, deadline, m_stop)) {
            lastError = ETIMEDOUT;
            ::close(fd);
            break;
        }
        int err = 0;
        socklen_t length = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length);
        if (err != 0) {
            lastError = err;
            ::close(fd);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_state->fd = fd;
        break;
    }
    ::freeaddrinfo(found);
    if (m_state->fd < 0 && m_stop && m_stop()) return Stopped();
    if (m_state->fd < 0)
        return NetworkFailure(SocketError(lastError), std::string("Cannot connect to ") + host +
                                                          ":" + service + ": " +
                                                          std::strerror(lastError));
    return {};
}

ImapResult ImapStream::StartTls(const std::string& host, int timeoutMs) {
    State& s = *m_state;
    if (s.fd < 0) return ImapFailure(ImapOutcome::Failed, "No connection is open");
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ERR_clear_error();
    s.context = SSL_CTX_new(TLS_client_method());
    if (!s.context) return ImapFailure(ImapOutcome::Tls, "TLS could not be set up");
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(s.context);
    const char* extraCa = std::getenv(kCaFileVariable.data());
    if (extraCa && *extraCa && SSL_CTX_load_verify_locations(s.context, extraCa, nullptr) != 1)
        return ImapFailure(ImapOutcome::Tls, std::string("Cannot read the CA file ") + extraCa);
    SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, nullptr);
    s.ssl = SSL_new(s.context);
    if (!s.ssl) return ImapFailure(ImapOutcome::Tls, "TLS could not be set up");
    SSL_set_fd(s.ssl, s.fd);
    // The certificate must name the host as it was given: an address by its IP entry, a name
    // by its DNS entries (and the name is sent, for servers that hold several certificates).
    in6_addr address6{};
    in_addr address4{};
    const bool isAddress = ::inet_pton(AF_INET, host.c_str(), &address4) == 1 ||
                           ::inet_pton(AF_INET6, host.c_str(), &address6) == 1;
    X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
    if (isAddress) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(s.ssl, host.c_str());
        SSL_set_tlsext_host_name(s.ssl, host.c_str());
    }
    for (;;) {
        const int done = SSL_connect(s.ssl);
        if (done == 1) break;
        const int why = SSL_get_error(s.ssl, done);
        if (why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE) {
            if (!WaitFor(s.fd, why == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, m_stop))
                return m_stop && m_stop()
                           ? Stopped()
                           : NetworkFailure(kWsaTimedOut, "The TLS handshake timed out");
            continue;
        }
        const long verified = SSL_get_verify_result(s.ssl);
        std::string detail = verified != X509_V_OK
                                 ? std::string("The server's certificate is not trusted: ") +
                                       X509_verify_cert_error_string(verified)
                                 : "The TLS handshake failed: " + OpenSslErrors();
        return ImapFailure(ImapOutcome::Tls, std::move(detail));
    }
    return {};
}

ImapResult ImapStream::Write(std::string_view bytes, int idleMs) {
    State& s = *m_state;
    if (s.fd < 0) return ImapFailure(ImapOutcome::Failed, "The connection is closed");
    while (!bytes.empty()) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(idleMs);
        ssize_t n;
        short wait = POLLOUT;
        if (s.ssl) {
            ERR_clear_error();
            const int w = SSL_write(s.ssl, bytes.data(), static_cast<int>(bytes.size()));
            if (w > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(w));
                continue;
            }
            const int why = SSL_get_error(s.ssl, w);
            if (why == SSL_ERROR_WANT_READ)
                wait = POLLIN;
            else if (why != SSL_ERROR_WANT_WRITE)
                return NetworkFailure(kWsaConnReset, "The connection was lost while sending");
        } else {
            n = ::send(s.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return NetworkFailure(SocketError(errno), "The connection was lost while sending");
        }
        if (!WaitFor(s.fd, wait, deadline, m_stop))
            return m_stop && m_stop()
                       ? Stopped()
                       : NetworkFailure(kWsaTimedOut, "The server took no data for too long");
    }
    return {};
}

ImapResult ImapStream::ReadSome(std::string& into, int idleMs) {
    State& s = *m_state;
    if (s.fd < 0) return ImapFailure(ImapOutcome::Failed, "The connection is closed");
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(idleMs);
    char buffer[64 * 1024];
    for (;;) {
        short wait = POLLIN;
        if (s.ssl) {
            ERR_clear_error();
            const int n = SSL_read(s.ssl, buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, static_cast<std::size_t>(n));
                return {};
            }
            const int why = SSL_get_error(s.ssl, n);
            if (why == SSL_ERROR_ZERO_RETURN)
                return ImapFailure(ImapOutcome::Failed, "The server closed the connection");
            if (why == SSL_ERROR_WANT_WRITE)
                wait = POLLOUT;
            else if (why != SSL_ERROR_WANT_READ)
                return ImapFailure(ImapOutcome::Failed, "The server closed the connection");
        } else {
            const ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                into.append(buffer, static_cast<std::size_t>(n));
                return {};
            }
            if (n == 0) return ImapFailure(ImapOutcome::Failed, "The server closed the connection");
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return NetworkFailure(SocketError(errno), "The connection was lost");
        }
        if (!WaitFor(s.fd, wait, deadline, m_stop))
            return m_stop && m_stop()
                       ? Stopped()
                       : NetworkFailure(kWsaTimedOut, "The server sent nothing for " +
                                                          std::to_string(idleMs / 1000) +
                                                          " seconds");
    }
}

// --- responses -------------------------------------------------------------------------------

ImapResult ImapReader::Fill(int idleMs) {
    // What was read is kept from the first byte not yet handed out.
    if (m_at > 0 && m_at * 2 >= m_buffer.size()) {
        m_buffer.erase(0, m_at);
        m_at = 0;
    }
    return m_stream.ReadSome(m_buffer, idleMs);
}

ImapResult ImapReader::Next(ImapResponse& out, int idleMs) {
    out.text.clear();
    out.literals.clear();
    // Bytes after m_at already searched for a line end.
    std::size_t searched = 0;
    for (;;) {
        const std::size_t lf = m_buffer.find('\n', m_at + searched);
        if (lf == std::string::npos) {
            if (out.text.size() + (m_buffer.size() - m_at) > kMaxImapLineBytes)
                return ImapFailure(ImapOutcome::Failed, "The server sent a line longer than " +
                                                            std::to_string(kMaxImapLineBytes) +
                                                            " bytes");
            searched = m_buffer.size() - m_at;
            if (ImapResult r = Fill(idleMs); !r.ok()) return r;
            continue;
        }
        std::string_view line(m_buffer.data() + m_at, lf - m_at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (out.text.size() + line.size() > kMaxImapLineBytes)
            return ImapFailure(ImapOutcome::Failed, "The server sent a line longer than " +
                                                        std::to_string(kMaxImapLineBytes) +
                                                        " bytes");
        out.text.append(line);
        m_at = lf + 1;
        searched = 0;
        // A line that ends in "{n}" (or "{n+}") is followed by n bytes of literal.
        std::size_t length = 0;
        bool literal = false;
        if (!line.empty() && line.back() == '}') {
            const std::size_t open = line.rfind('{');
            std::string_view digits =
                open == std::string_view::npos ? "" : line.substr(open + 1, line.size() - open - 2);
            if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
            if (!digits.empty() && digits.size() <= 12 &&
                digits.find_first_not_of("0123456789") == std::string_view::npos) {
                literal = true;
                for (char c : digits) length = length * 10 + static_cast<std::size_t>(c - '0');
            }
        }
        if (!literal) return {};
        if (length > kMaxImapLiteralBytes)
            return ImapFailure(ImapOutcome::Failed, "The server announced " +
                                                        std::to_string(length) +
                                                        " bytes, more than the limit of " +
                                                        std::to_string(kMaxImapLiteralBytes));
        std::string bytes;
        bytes.reserve(std::min<std::size_t>(length, std::size_t{1} << 20));
        while (bytes.size() < length) {
            if (m_at >= m_buffer.size()) {
                m_buffer.clear();
                m_at = 0;
                if (ImapResult r = Fill(idleMs); !r.ok()) return r;
            }
            const std::size_t take = std::min(length - bytes.size(), m_buffer.size() - m_at);
            bytes.append(m_buffer, m_at, take);
            m_at += take;
        }
        out.literals.push_back(std::move(bytes));
        searched = 0;
    }
}

// --- tokens ----------------------------------------------------------------------------------

ImapToken ImapTokens::Next() {
    const std::string& t = m_response.text;
    while (m_at < t.size() && t[m_at] == ' ') ++m_at;
    ImapToken token;
    if (m_at >= t.size()) return token;
    const char c = t[m_at];
    if (c == '(') {
        ++m_at;
        token.kind = ImapToken::Open;
        return token;
    }
    if (c == ')') {
        ++m_at;
        token.kind = ImapToken::Close;
        return token;
    }
    if (c == '"') {
        token.kind = ImapToken::String;
        for (++m_at; m_at < t.size() && t[m_at] != '"'; ++m_at) {
            if (t[m_at] == '\\' && m_at + 1 < t.size()) ++m_at;
            token.text += t[m_at];
        }
        if (m_at < t.size()) ++m_at;
        return token;
    }
    if (c == '{') {
        const std::size_t close = t.find('}', m_at);
        if (close != std::string::npos && m_literal < m_response.literals.size()) {
            m_at = close + 1;
            token.kind = ImapToken::Literal;
            token.literal = m_literal++;
            return token;
        }
    }
    token.kind = ImapToken::Atom;
    // Brackets belong to the atom with what they hold ("BODY[]", "BODY[HEADER.FIELDS (X)]").
    int depth = 0;
    while (m_at < t.size()) {
        const char d = t[m_at];
        if (d == '[') ++depth;
        if (d == ']' && depth > 0) --depth;
        if (depth == 0 && (d == ' ' || d == '(' || d == ')')) break;
        token.text += d;
        ++m_at;
    }
    if (token.text == "NIL") token.kind = ImapToken::Nil;
    return token;
}

void ImapTokens::SkipValue(const ImapToken& first) {
    if (first.kind != ImapToken::Open) return;
    int depth = 1;
    while (depth > 0) {
        const ImapToken t = Next();
        if (t.kind == ImapToken::End) return;
        if (t.kind == ImapToken::Open) ++depth;
        if (t.kind == ImapToken::Close) --depth;
    }
}

// --- names -----------------------------------------------------------------------------------

std::optional<std::string> ImapMailboxArgument(std::string_view utf8) {
    if (utf8.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return std::nullopt;
    std::string encoded;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c < 0x7f) {
            encoded += c == '&' ? "&-" : std::string(1, static_cast<char>(c));
            ++i;
            continue;
        }
        // A run of other characters: UTF-16 code units, base64 with "," for "/", no padding.
        std::u16string units;
        while (i < utf8.size()) {
            const unsigned char b = static_cast<unsigned char>(utf8[i]);
            if (b >= 0x20 && b < 0x7f) break;
            char32_t cp = 0xfffd;
            std::size_t len = 1;
            if (b >= 0xf0) {
                len = 4;
                cp = (b & 0x07u) << 18;
            } else if (b >= 0xe0) {
                len = 3;
                cp = (b & 0x0fu) << 12;
            } else if (b >= 0xc0) {
                len = 2;
                cp = (b & 0x1fu) << 6;
            }
            if (i + len > utf8.size()) {
                len = 1;
                cp = 0xfffd;
            } else if (len > 1) {
                for (std::size_t k = 1; k < len; ++k) {
                    const unsigned char cont = static_cast<unsigned char>(utf8[i + k]);
                    cp |= static_cast<char32_t>(cont & 0x3fu) << (6 * (len - 1 - k));
                }
            } else {
                cp = b;  // a control character or a stray byte: kept as its own code
            }
            i += len;
            if (cp >= 0x10000) {
                cp -= 0x10000;
                units += static_cast<char16_t>(0xd800 + (cp >> 10));
                units += static_cast<char16_t>(0xdc00 + (cp & 0x3ff));
            } else {
                units += static_cast<char16_t>(cp);
            }
        }
        encoded += '&';
        std::uint32_t bits = 0;
        int count = 0;
        for (char16_t u : units) {
            bits = (bits << 16) | u;
            count += 16;
            while (count >= 6) {
                count -= 6;
                encoded += kBase64Alphabet[(bits >> count) & 0x3f];
            }
        }
        if (count > 0) encoded += kBase64Alphabet[(bits << (6 - count)) & 0x3f];
        encoded += '-';
    }
    std::string quoted = "\"";
    for (char c : encoded) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string DecodeModifiedUtf7(std::string_view name) {
    std::string out;
    std::size_t i = 0;
    while (i < name.size()) {
        if (name[i] != '&') {
            out += name[i++];
            continue;
        }
        const std::size_t end = name.find('-', i);
        if (end == std::string_view::npos) return std::string(name);
        if (end == i + 1) {
            out += '&';
            i = end + 1;
            continue;
        }
        std::uint32_t bits = 0;
        int count = 0;
        std::u16string units;
        for (std::size_t k = i + 1; k < end; ++k) {
            const std::size_t v = kBase64Alphabet.find(name[k]);
            if (v == std::string_view::npos) return std::string(name);
            bits = (bits << 6) | static_cast<std::uint32_t>(v);
            count += 6;
            if (count >= 16) {
                count -= 16;
                units += static_cast<char16_t>((bits >> count) & 0xffff);
            }
        }
        for (std::size_t k = 0; k < units.size(); ++k) {
            char32_t cp = units[k];
            if (cp >= 0xd800 && cp < 0xdc00 && k + 1 < units.size()) {
                cp = 0x10000 + ((cp - 0xd800) << 10) + (units[++k] - 0xdc00);
            }
            if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x800) {
                out += static_cast<char>(0xc0 | (cp >> 6));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            } else if (cp < 0x10000) {
                out += static_cast<char>(0xe0 | (cp >> 12));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            } else {
                out += static_cast<char>(0xf0 | (cp >> 18));
                out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            }
        }
        i = end + 1;
    }
    return out;
}

std::optional<std::string> ImapQuoted(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f) return std::nullopt;
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::optional<std::vector<std::string>> ImapLoginPieces(std::string_view user,
                                                        std::string_view password,
                                                        bool literalPlus) {
    std::vector<std::string> pieces{"LOGIN"};
    for (const std::string_view argument : {user, password}) {
        pieces.back() += ' ';
        if (const std::optional<std::string> quoted = ImapQuoted(argument)) {
            pieces.back() += *quoted;
            continue;
        }
        if (argument.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            return std::nullopt;
        pieces.back() += "{" + std::to_string(argument.size()) + (literalPlus ? "+}\r\n" : "}");
        if (literalPlus)
            pieces.back() += argument;
        else
            pieces.emplace_back(argument);
    }
    return pieces;
}

}  // namespace tallix::sources
