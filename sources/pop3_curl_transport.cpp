#include "sources/pop3_curl_transport.h"

#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>

namespace tallix::sources {
namespace {

using Clock = std::chrono::steady_clock;

// Where the system keeps its CA bundle when libcurl does not say.
constexpr std::string_view kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";

// Windows Sockets codes minus 10000, the keys the engine's network error table uses.
constexpr std::int16_t kWsaNetUnreachable = 51;
constexpr std::int16_t kWsaConnReset = 54;
constexpr std::int16_t kWsaTimedOut = 60;
constexpr std::int16_t kWsaConnRefused = 61;
constexpr std::int16_t kWsaHostUnreachable = 65;
constexpr std::int16_t kWsaHostNotFound = 1001;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool ReadWhole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out.append(text.str());
    if (!out.empty() && out.back() != '\n') out += '\n';
    return true;
}

std::int16_t SocketErrorFromErrno(long err, std::int16_t fallback) {
    switch (err) {
        case ECONNREFUSED:
            return kWsaConnRefused;
        case ETIMEDOUT:
            return kWsaTimedOut;
        case EHOSTUNREACH:
            return kWsaHostUnreachable;
        case ENETUNREACH:
            return kWsaNetUnreachable;
        case ECONNRESET:
        case EPIPE:
            return kWsaConnReset;
        default:
            return fallback;
    }
}

// The longest status line read; a server that sends more without a line end is not one.
constexpr std::size_t kMaxStatusLineBytes = std::size_t{64} << 10;
// What is read from the socket at a time.
constexpr std::size_t kReadChunkBytes = std::size_t{64} << 10;
// How long QUIT may take: the session's work is done, and a server that does not answer
// must not hold the run.
constexpr std::int64_t kQuitLimitMs = 5000;

int MsLeft(Clock::time_point end) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

Pop3Result Failure(Pop3Outcome outcome, std::string detail, std::int16_t socketError = 0) {
    Pop3Result result;
    result.outcome = outcome;
    result.detail = std::move(detail);
    result.socketError = socketError;
    return result;
}

}  // namespace

bool IsImplicitTlsPort(std::int32_t port) {
    if (port == kImplicitTlsPort) return true;
    const char* extra = std::getenv(kImplicitTlsPortVariable.data());
    if (!extra || !*extra) return false;
    char* end = nullptr;
    const long value = std::strtol(extra, &end, 10);
    return *end == '\0' && value == port;
}

struct CurlPop3Transport::Session {
    CURL* curl = nullptr;
    CURLU* url = nullptr;
    Pop3Endpoint endpoint;
    // The connection libcurl opened and logged in; from then on the session is spoken here.
    curl_socket_t socket = CURL_SOCKET_BAD;
    // Set when the session can no longer be used: a time limit passed or the connection broke
    // in the middle of an answer, so what the server sends next can no longer be told apart.
    bool lost = false;
    std::string lastStatus;
    char errorText[CURL_ERROR_SIZE] = {0};
    // What was received and not yet read, from `at` on.
    std::string buffer;
    std::size_t at = 0;

    ~Session() {
        // QUIT was sent (or must not be) before this; the shutdown keeps libcurl from sending
        // one of its own and waiting for the answer.
        if (socket != CURL_SOCKET_BAD) ::shutdown(socket, SHUT_RDWR);
        if (curl) curl_easy_cleanup(curl);
        if (url) curl_url_cleanup(url);
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* session = static_cast<Session*>(self);
        std::string_view line(data, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        // Server status lines; the lines of a CAPA listing are not. A refusal is the answer
        // that counts: the "+OK" of the QUIT libcurl sends after it must not replace it.
        if (session->lastStatus.rfind("-ERR", 0) == 0) return size * count;
        if (line.rfind("+OK", 0) == 0 || line.rfind("-ERR", 0) == 0) session->lastStatus = line;
        return size * count;
    }

    // Classifies how libcurl's connect and login ended.
    Pop3Result Classify(CURLcode code) {
        Pop3Result result;
        result.reply = lastStatus;
        if (code == CURLE_OK) return result;
        result.detail = errorText[0] ? errorText : curl_easy_strerror(code);
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        switch (code) {
            case CURLE_COULDNT_RESOLVE_HOST:
                result.outcome = Pop3Outcome::Network;
                result.socketError = kWsaHostNotFound;
                break;
            case CURLE_COULDNT_CONNECT:
                result.outcome = Pop3Outcome::Network;
                result.socketError = SocketErrorFromErrno(osErrno, kWsaConnRefused);
                break;
            case CURLE_OPERATION_TIMEDOUT:
                result.outcome = Pop3Outcome::Network;
                result.socketError = kWsaTimedOut;
                break;
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
                result.outcome = Pop3Outcome::Network;
                result.socketError = SocketErrorFromErrno(osErrno, kWsaConnReset);
                break;
            case CURLE_LOGIN_DENIED:
                result.outcome = Pop3Outcome::LoginRefused;
                break;
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_SSL_CACERT_BADFILE:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_USE_SSL_FAILED:
                result.outcome = Pop3Outcome::Tls;
                break;
            case CURLE_WEIRD_SERVER_REPLY:
                if (lastStatus.rfind("-ERR", 0) == 0) {
                    // The server's own answer says more than libcurl's "Weird server reply".
                    result.outcome = Pop3Outcome::ServerError;
                    result.detail = "The server refused the command";
                } else {
                    result.outcome = Pop3Outcome::Failed;
                }
                break;
            default:
                result.outcome = Pop3Outcome::Failed;
                break;
        }
        return result;
    }

    Pop3Result Lose(Pop3Result result) {
        lost = true;
        return result;
    }

    // Waits until the socket is ready for `events`, at most until `deadline` (the time limit of
    // the command, `limitMs` long) and at most the idle limit.
    Pop3Result Wait(short events, Clock::time_point deadline, std::int64_t limitMs) {
        const Clock::time_point idleEnd =
            Clock::now() + std::chrono::milliseconds(std::max(1, endpoint.idleTimeoutMs));
        const Clock::time_point end = std::min(deadline, idleEnd);
        for (;;) {
            pollfd watch{static_cast<int>(socket), events, 0};
            const int ready = ::poll(&watch, 1, MsLeft(end));
            if (ready > 0) return {};
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0)
                return Lose(Failure(Pop3Outcome::Network, "The connection was lost",
                                    SocketErrorFromErrno(errno, kWsaConnReset)));
            if (deadline <= idleEnd)
                return Lose(Failure(Pop3Outcome::TimeLimit,
                                    "The server did not finish within the time limit of " +
                                        std::to_string((limitMs + 999) / 1000) + " s"));
            return Lose(Failure(Pop3Outcome::TimeLimit,
                                "The server sent nothing for " +
                                    std::to_string(std::max(1, endpoint.idleTimeoutMs) / 1000) +
                                    " s"));
        }
    }

    Pop3Result Send(std::string_view bytes, Clock::time_point deadline, std::int64_t limitMs) {
        while (!bytes.empty()) {
            size_t sent = 0;
            const CURLcode code = curl_easy_send(curl, bytes.data(), bytes.size(), &sent);
            if (code == CURLE_OK) {
                bytes.remove_prefix(sent);
                continue;
            }
            if (code == CURLE_AGAIN) {
                if (Pop3Result r = Wait(POLLOUT, deadline, limitMs); !r.ok()) return r;
                continue;
            }
            return Lose(Failure(
                Pop3Outcome::Network,
                std::string("The connection was lost while sending: ") + curl_easy_strerror(code),
                kWsaConnReset));
        }
        return {};
    }

    // Appends what arrives to the buffer; `closed` when the server closed the connection.
    Pop3Result Fill(Clock::time_point deadline, std::int64_t limitMs, bool& closed) {
        closed = false;
        if (at > 0) {
            buffer.erase(0, at);
            at = 0;
        }
        char chunk[kReadChunkBytes];
        for (;;) {
            size_t n = 0;
            const CURLcode code = curl_easy_recv(curl, chunk, sizeof chunk, &n);
            if (code == CURLE_OK) {
                if (n == 0) closed = true;
                buffer.append(chunk, n);
                return {};
            }
            if (code == CURLE_AGAIN) {
                if (Pop3Result r = Wait(POLLIN, deadline, limitMs); !r.ok()) return r;
                continue;
            }
            return Lose(Failure(Pop3Outcome::Network,
                                std::string("The connection was lost: ") + curl_easy_strerror(code),
                                kWsaConnReset));
        }
    }

    // The next status line: "+OK ..." is Ok, "-ERR ..." a ServerError (the session goes on),
    // anything else loses the session.
    Pop3Result Status(Clock::time_point deadline, std::int64_t limitMs) {
        for (;;) {
            const std::size_t lf = buffer.find('\n', at);
            if (lf != std::string::npos) {
                std::string_view line(buffer.data() + at, lf - at);
                at = lf + 1;
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                Pop3Result result;
                result.reply.assign(line);
                lastStatus = result.reply;
                if (StartsWith(line, "+OK")) return result;
                if (StartsWith(line, "-ERR")) {
                    result.outcome = Pop3Outcome::ServerError;
                    result.detail = "The server refused the command";
                    return result;
                }
                result.outcome = Pop3Outcome::Failed;
                result.detail =
                    "The server's answer is not POP3: " + std::string(line.substr(0, 80));
                result.reply.clear();
                return Lose(std::move(result));
            }
            if (buffer.size() - at > kMaxStatusLineBytes)
                return Lose(Failure(Pop3Outcome::Failed,
                                    "The server sent a status line longer than " +
                                        std::to_string(kMaxStatusLineBytes) + " bytes"));
            bool closed = false;
            if (Pop3Result r = Fill(deadline, limitMs, closed); !r.ok()) return r;
            if (closed)
                return Lose(Failure(Pop3Outcome::Failed, "The connection to the server was lost"));
        }
    }

    // The lines of a multi-line answer up to its closing ".", with the dot-stuffing undone,
    // passed to `sink` in pieces (whole lines where the bytes at hand allow). A sink that
    // returns false stops the reading in the middle of the answer, which loses the session.
    Pop3Result Body(const std::function<bool(std::string_view)>& sink, Clock::time_point deadline,
                    std::int64_t limitMs) {
        bool lineStart = true;
        for (;;) {
            const std::size_t have = buffer.size() - at;
            // A line that starts with "." is the end (".\r\n") or was stuffed (".." stands for
            // "."); up to three bytes tell which.
            const bool needMore = have == 0 || (lineStart && buffer[at] == '.' &&
                                                (have < 2 || (buffer[at + 1] == '\r' && have < 3)));
            if (needMore) {
                bool closed = false;
                if (Pop3Result r = Fill(deadline, limitMs, closed); !r.ok()) return r;
                if (closed)
                    return Lose(Failure(Pop3Outcome::Cut,
                                        "The connection ended before the end of the message"));
                continue;
            }
            if (lineStart && buffer[at] == '.') {
                const char next = buffer[at + 1];
                if (next == '\n') {
                    at += 2;
                    return {};
                }
                if (next == '\r' && buffer[at + 2] == '\n') {
                    at += 3;
                    return {};
                }
                ++at;  // the stuffed dot
                lineStart = false;
                continue;
            }
            // Up to the next line that starts with "." (its line end included), or all at hand.
            const std::size_t mark = buffer.find("\n.", at);
            const std::size_t end = mark == std::string::npos ? buffer.size() : mark + 1;
            const std::string_view piece(buffer.data() + at, end - at);
            lineStart = buffer[end - 1] == '\n';
            at = end;
            if (!sink(piece))
                return Lose(Failure(Pop3Outcome::Failed, "The transfer was given up"));
        }
    }

    Pop3Result Usable() const {
        if (lost) return Failure(Pop3Outcome::Failed, "The connection to the server was lost");
        return {};
    }
};

CurlPop3Transport::CurlPop3Transport() {
    GlobalInit();
}

CurlPop3Transport::~CurlPop3Transport() {
    Close();
}

Pop3Result CurlPop3Transport::Open(const Pop3Endpoint& endpoint) {
    Close();
    auto session = std::make_unique<Session>();
    session->endpoint = endpoint;
    session->curl = curl_easy_init();
    session->url = curl_url();
    Pop3Result failed;
    failed.outcome = Pop3Outcome::Failed;
    if (!session->curl || !session->url) {
        failed.detail = "libcurl could not be set up";
        return failed;
    }
    const bool implicitTls = endpoint.security == AccountSecurity::Tls;
    const std::string port = std::to_string(endpoint.port);
    // An IPv6 address goes into a URL in brackets.
    std::string host = endpoint.host;
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    if (curl_url_set(session->url, CURLUPART_SCHEME, implicitTls ? "pop3s" : "pop3", 0) !=
            CURLUE_OK ||
        curl_url_set(session->url, CURLUPART_HOST, host.c_str(), 0) != CURLUE_OK ||
        curl_url_set(session->url, CURLUPART_PORT, port.c_str(), 0) != CURLUE_OK ||
        curl_url_set(session->url, CURLUPART_PATH, "/", 0) != CURLUE_OK) {
        failed.detail = "Not a usable host name and port: " + endpoint.host + ":" + port;
        return failed;
    }
    CURL* curl = session->curl;
    curl_easy_setopt(curl, CURLOPT_CURLU, session->url);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, session->errorText);
    curl_easy_setopt(curl, CURLOPT_USERNAME, endpoint.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, endpoint.password.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "pop3,pop3s");
    // libcurl connects, secures the connection and logs in, and stops there.
    curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
    // STARTTLS is required, never tried: a server (or whoever answers in its place) that does
    // not offer it gets neither the user name nor the password.
    if (endpoint.security == AccountSecurity::StartTls)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    if (endpoint.auth == AccountAuth::XOAuth2) {
        curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
        curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, endpoint.password.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    const char* extraCa = std::getenv(kCaFileVariable.data());
    std::string bundle;
    if (extraCa && *extraCa) {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        const std::string systemCa(info && info->cainfo ? std::string_view(info->cainfo)
                                                        : kSystemCaBundle);
        ReadWhole(systemCa, bundle);  // a machine without a bundle trusts only the extra CA
        if (!ReadWhole(extraCa, bundle)) {
            failed.outcome = Pop3Outcome::Tls;
            failed.detail = std::string("Cannot read the CA file ") + extraCa;
            return failed;
        }
        curl_blob blob{bundle.data(), bundle.size(), CURL_BLOB_COPY};
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    }
    const long idleSeconds = std::max<long>(1, endpoint.idleTimeoutMs / 1000);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max(1, endpoint.connectTimeoutMs)));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, idleSeconds);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Session::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, session.get());
    // The connection has its own limit, the greeting and the login the floor.
    const std::int64_t limitMs =
        std::int64_t{std::max(1, endpoint.connectTimeoutMs)} + endpoint.limits.floorMs;
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::clamp<std::int64_t>(limitMs, 1, LONG_MAX)));
    Pop3Result result = session->Classify(curl_easy_perform(curl));
    if (!result.ok()) return result;
    if (curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &session->socket) != CURLE_OK ||
        session->socket == CURL_SOCKET_BAD) {
        failed.detail = "libcurl kept no connection";
        return failed;
    }
    m_session = std::move(session);
    return result;
}

Pop3Result CurlPop3Transport::Command(const std::string& command) {
    if (!m_session) return Failure(Pop3Outcome::Failed, "No session is open");
    Session& s = *m_session;
    if (Pop3Result r = s.Usable(); !r.ok()) return r;
    const std::int64_t limitMs = s.endpoint.limits.floorMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    if (Pop3Result r = s.Send(command + "\r\n", deadline, limitMs); !r.ok()) return r;
    return s.Status(deadline, limitMs);
}

Pop3Result CurlPop3Transport::Listing(const std::string& command,
                                      const std::function<void(std::string_view)>& line) {
    if (!m_session) return Failure(Pop3Outcome::Failed, "No session is open");
    Session& s = *m_session;
    if (Pop3Result r = s.Usable(); !r.ok()) return r;
    const std::int64_t limitMs = s.endpoint.limits.floorMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    if (Pop3Result r = s.Send(command + "\r\n", deadline, limitMs); !r.ok()) return r;
    Pop3Result status = s.Status(deadline, limitMs);
    if (!status.ok()) return status;
    std::string pending;
    std::size_t total = 0;
    Pop3Result result = s.Body(
        [&](std::string_view piece) {
            total += piece.size();
            if (total > kMaxPop3ListingBytes) return false;
            while (!piece.empty()) {
                const std::size_t lf = piece.find('\n');
                if (lf == std::string_view::npos) {
                    pending.append(piece);
                    break;
                }
                pending.append(piece.substr(0, lf));
                if (!pending.empty() && pending.back() == '\r') pending.pop_back();
                line(pending);
                pending.clear();
                piece.remove_prefix(lf + 1);
            }
            return true;
        },
        deadline, limitMs);
    if (total > kMaxPop3ListingBytes)
        result.detail = "The server's answer to " + command + " is longer than " +
                        std::to_string(kMaxPop3ListingBytes) + " bytes";
    if (result.ok() && !pending.empty()) line(pending);
    result.reply = status.reply;
    return result;
}

Pop3Result CurlPop3Transport::Retrieve(std::int32_t number, std::int64_t announcedBytes,
                                       const std::function<bool(std::string_view)>& sink) {
    if (!m_session) return Failure(Pop3Outcome::Failed, "No session is open");
    Session& s = *m_session;
    if (Pop3Result r = s.Usable(); !r.ok()) return r;
    const std::int64_t limitMs = s.endpoint.limits.ForBytes(announcedBytes);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    if (Pop3Result r = s.Send("RETR " + std::to_string(number) + "\r\n", deadline, limitMs);
        !r.ok())
        return r;
    Pop3Result status = s.Status(deadline, limitMs);
    if (!status.ok()) return status;
    Pop3Result result = s.Body(sink, deadline, limitMs);
    result.reply = status.reply;
    return result;
}

void CurlPop3Transport::RetrieveMany(const std::vector<Pop3Retrieval>& wanted, bool pipelined,
                                     const std::function<bool(std::size_t, std::string_view)>& sink,
                                     std::vector<Pop3Result>& results) {
    if (!pipelined || !m_session) {
        Pop3Transport::RetrieveMany(wanted, false, sink, results);
        return;
    }
    results.clear();
    Session& s = *m_session;
    if (Pop3Result r = s.Usable(); !r.ok()) {
        results.push_back(r);
        return;
    }
    // The commands go in one write: the server answers them in order.
    std::string commands;
    for (const Pop3Retrieval& w : wanted) commands += "RETR " + std::to_string(w.number) + "\r\n";
    {
        const std::int64_t limitMs = s.endpoint.limits.floorMs;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        if (Pop3Result r = s.Send(commands, deadline, limitMs); !r.ok()) {
            results.push_back(r);
            return;
        }
    }
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        // Each answer has the time its size allows, from the moment it is waited for.
        const std::int64_t limitMs = s.endpoint.limits.ForBytes(wanted[i].announcedBytes);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        Pop3Result status = s.Status(deadline, limitMs);
        if (!status.ok()) {
            results.push_back(status);
            if (status.outcome == Pop3Outcome::ServerError) continue;
            return;
        }
        Pop3Result result =
            s.Body([&](std::string_view piece) { return sink(i, piece); }, deadline, limitMs);
        result.reply = status.reply;
        results.push_back(result);
        if (!result.ok()) return;
    }
}

void CurlPop3Transport::Close() {
    if (!m_session) return;
    Session& s = *m_session;
    if (!s.lost) {
        // QUIT commits the session's deletions; a lost session ends without it, so the server
        // keeps every message.
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kQuitLimitMs);
        if (s.Send("QUIT\r\n", deadline, kQuitLimitMs).ok()) s.Status(deadline, kQuitLimitMs);
    }
    m_session.reset();
}

}  // namespace tallix::sources
