#include "sources/pop3_curl_transport.h"

#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>

namespace tallix::sources {
namespace {

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
    // Set once the session is logged in: from then on no new connection may be opened, so a
    // lost connection fails the next command instead of starting a fresh session whose
    // message numbers would no longer match.
    bool established = false;
    bool refusedReconnect = false;
    std::string lastStatus;
    char errorText[CURL_ERROR_SIZE] = {0};
    const std::function<bool(std::string_view)>* sink = nullptr;

    ~Session() {
        // With a live connection this sends QUIT, which commits the session's deletions.
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

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* session = static_cast<Session*>(self);
        if (!session->sink) return size * count;
        return (*session->sink)(std::string_view(data, size * count)) ? size * count : 0;
    }

    static curl_socket_t OnOpenSocket(void* self, curlsocktype, struct curl_sockaddr* address) {
        auto* session = static_cast<Session*>(self);
        if (session->established) {
            session->refusedReconnect = true;
            return CURL_SOCKET_BAD;
        }
        return ::socket(address->family, address->socktype, address->protocol);
    }

    Pop3Result Classify(CURLcode code, std::int64_t limitMs) {
        Pop3Result result;
        result.reply = lastStatus;
        if (code == CURLE_OK) return result;
        if (code == CURLE_OPERATION_TIMEDOUT && established) {
            result.outcome = Pop3Outcome::TimeLimit;
            result.detail = "The server did not finish within the time limit of " +
                            std::to_string((limitMs + 999) / 1000) + " s";
            return result;
        }
        result.detail = errorText[0] ? errorText : curl_easy_strerror(code);
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        switch (code) {
            case CURLE_COULDNT_RESOLVE_HOST:
                result.outcome = Pop3Outcome::Network;
                result.socketError = kWsaHostNotFound;
                break;
            case CURLE_COULDNT_CONNECT:
                if (refusedReconnect) {
                    result.outcome = Pop3Outcome::Failed;
                    result.detail = "The connection to the server was lost";
                } else {
                    result.outcome = Pop3Outcome::Network;
                    result.socketError = SocketErrorFromErrno(osErrno, kWsaConnRefused);
                }
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

    // True while the connection is still open and has nothing unread: after a message, a
    // server that closed the connection (or sent more than the message) has cut it short,
    // because libcurl ends a transfer at a closed connection as it ends one at the closing ".".
    bool ConnectionIntact() {
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
            socket == CURL_SOCKET_BAD)
            return false;
        pollfd watch{static_cast<int>(socket), POLLIN | POLLRDHUP, 0};
        const int ready = ::poll(&watch, 1, 0);
        return ready == 0;
    }

    // Runs one transfer for `path` with `command` (nullptr: RETR of the number in the path),
    // given at most `limitMs`.
    Pop3Result Perform(const std::string& path, const char* command, std::int64_t limitMs) {
        lastStatus.clear();
        errorText[0] = 0;
        if (curl_url_set(url, CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK) {
            Pop3Result result;
            result.outcome = Pop3Outcome::Failed;
            result.detail = "Bad message path " + path;
            return result;
        }
        curl_easy_setopt(curl, CURLOPT_CURLU, url);
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, command);
        // Commands with a one-line answer must not wait for a multi-line body.
        curl_easy_setopt(curl, CURLOPT_NOBODY, command ? 1L : 0L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS,
                         static_cast<long>(std::clamp<std::int64_t>(limitMs, 1, LONG_MAX)));
        return Classify(curl_easy_perform(curl), limitMs);
    }
};

CurlPop3Transport::CurlPop3Transport() {
    GlobalInit();
}

CurlPop3Transport::~CurlPop3Transport() = default;

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
        curl_url_set(session->url, CURLUPART_PORT, port.c_str(), 0) != CURLUE_OK) {
        failed.detail = "Not a usable host name and port: " + endpoint.host + ":" + port;
        return failed;
    }
    CURL* curl = session->curl;
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, session->errorText);
    curl_easy_setopt(curl, CURLOPT_USERNAME, endpoint.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, endpoint.password.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "pop3,pop3s");
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
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Session::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, session.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Session::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, session.get());
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Session::OnOpenSocket);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, session.get());

    // libcurl connects and logs in on the first command of the session: the connection has
    // its own limit, the greeting and the login the floor.
    Pop3Result result = session->Perform(
        "/", "NOOP",
        std::int64_t{std::max(1, endpoint.connectTimeoutMs)} + endpoint.limits.floorMs);
    if (!result.ok()) return result;
    session->established = true;
    m_session = std::move(session);
    return result;
}

Pop3Result CurlPop3Transport::Command(const std::string& command) {
    if (!m_session) {
        Pop3Result result;
        result.outcome = Pop3Outcome::Failed;
        result.detail = "No session is open";
        return result;
    }
    return m_session->Perform("/", command.c_str(), m_session->endpoint.limits.floorMs);
}

Pop3Result CurlPop3Transport::Retrieve(std::int32_t number, std::int64_t announcedBytes,
                                       const std::function<bool(std::string_view)>& sink) {
    if (!m_session) {
        Pop3Result result;
        result.outcome = Pop3Outcome::Failed;
        result.detail = "No session is open";
        return result;
    }
    m_session->sink = &sink;
    Pop3Result result = m_session->Perform("/" + std::to_string(number), nullptr,
                                           m_session->endpoint.limits.ForBytes(announcedBytes));
    m_session->sink = nullptr;
    if (result.ok() && !m_session->ConnectionIntact()) {
        result.outcome = Pop3Outcome::Cut;
        result.detail = "The connection ended before the end of the message";
    }
    return result;
}

void CurlPop3Transport::Close() {
    m_session.reset();
}

}  // namespace tallix::sources
