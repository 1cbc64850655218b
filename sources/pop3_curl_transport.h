#pragma once
// The POP3 transport: libcurl connects, secures the connection and logs in ("pop3s://" for
// Security TLS, TLS from the start; "pop3://" with STLS required for STARTTLS; "pop3://"
// without TLS only for None), and then leaves the connection to this transport, which speaks
// the rest of the session itself over libcurl's send and receive calls: libcurl sends one
// command per transfer and cannot pipeline RETRs. Certificates and host names are always
// verified against the system's CA bundle, plus the CA file named by the environment variable
// TALLIX_CA_FILE when it is set. TALLIX_POP3S_PORT names another port whose default Security
// is TLS (a server on an unprivileged port, the tests' own server).

#include <memory>
#include <string_view>

#include "sources/pop3_transport.h"

namespace tallix::sources {

inline constexpr std::string_view kCaFileVariable = "TALLIX_CA_FILE";
inline constexpr std::string_view kImplicitTlsPortVariable = "TALLIX_POP3S_PORT";
inline constexpr std::int32_t kImplicitTlsPort = 995;

// True for 995 and for the port TALLIX_POP3S_PORT names.
bool IsImplicitTlsPort(std::int32_t port);

class CurlPop3Transport final : public Pop3Transport {
  public:
    CurlPop3Transport();
    ~CurlPop3Transport() override;

    Pop3Result Open(const Pop3Endpoint& endpoint) override;
    Pop3Result Command(const std::string& command) override;
    Pop3Result Retrieve(std::int32_t number, std::int64_t announcedBytes,
                        const std::function<bool(std::string_view)>& sink) override;
    Pop3Result Listing(const std::string& command,
                       const std::function<void(std::string_view)>& line) override;
    void RetrieveMany(const std::vector<Pop3Retrieval>& wanted, bool pipelined,
                      const std::function<bool(std::size_t, std::string_view)>& sink,
                      std::vector<Pop3Result>& results) override;
    void Close() override;

  private:
    struct Session;
    std::unique_ptr<Session> m_session;
};

}  // namespace tallix::sources
