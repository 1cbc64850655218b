#include "tests/support/pop3_script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace tallix::testing {
namespace {

using Delivery = ScriptedPop3Message::Delivery;

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The message as RETR sends it: lines that start with "." get another one.
std::string DotStuffed(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

class Session {
  public:
    Session(int fd, const std::vector<ScriptedPop3Message>& messages,
            const ScriptedPop3Offer& offer, std::FILE* journal)
        : m_fd(fd), m_messages(messages), m_offer(offer), m_journal(journal) {}

    void Run() {
        if (!SendAll(m_fd, "+OK scripted server ready\r\n")) return;
        std::string line;
        while (ReadLine(line)) {
            const std::string verb = line.substr(0, line.find(' '));
            Journal(verb == "PASS" ? verb : line);
            if (!Answer(verb, line)) return;
        }
    }

  private:
    bool ReadLine(std::string& line) {
        line.clear();
        for (;;) {
            const std::size_t lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                line = m_buffer.substr(0, lf);
                m_buffer.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return true;
            }
            char chunk[512];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void Journal(const std::string& line) {
        std::fprintf(m_journal, "%s\n", line.c_str());
        std::fflush(m_journal);
    }

    std::int64_t Announced(const ScriptedPop3Message& m) const {
        return m.announced >= 0 ? m.announced : static_cast<std::int64_t>(m.text.size());
    }

    // The message a command's argument names, or nullptr.
    const ScriptedPop3Message* Numbered(const std::string& line, int& number) const {
        number = std::atoi(line.c_str() + line.find(' ') + 1);
        if (line.find(' ') == std::string::npos || number < 1 ||
            number > static_cast<int>(m_messages.size()))
            return nullptr;
        return &m_messages[static_cast<std::size_t>(number - 1)];
    }

    // False when the session is over.
    bool Answer(const std::string& verb, const std::string& line) {
        int number = 0;
        if (verb == "CAPA")
            return SendAll(m_fd, std::string("+OK\r\nUSER\r\n") + (m_offer.uidl ? "UIDL\r\n" : "") +
                                     (m_offer.pipelining ? "PIPELINING\r\n" : "") + ".\r\n");
        if (verb == "UIDL" && line == "UIDL" && m_offer.uidl) {
            std::string listing = "+OK\r\n";
            if (!m_offer.uidlLines.empty()) {
                for (const std::string& l : m_offer.uidlLines) listing += l + "\r\n";
            } else {
                for (std::size_t n = 1; n <= m_messages.size(); ++n) {
                    listing +=
                        std::to_string(n) + " " +
                        (n <= m_offer.ids.size() ? m_offer.ids[n - 1] : "u" + std::to_string(n)) +
                        "\r\n";
                }
            }
            return SendAll(m_fd, listing + ".\r\n");
        }
        if (verb == "LIST" && line == "LIST") {
            std::string listing = "+OK\r\n";
            for (std::size_t n = 1; n <= m_messages.size(); ++n)
                listing +=
                    std::to_string(n) + " " + std::to_string(Announced(m_messages[n - 1])) + "\r\n";
            return SendAll(m_fd, listing + ".\r\n");
        }
        if (verb == "USER" || verb == "PASS" || verb == "NOOP" || verb == "RSET")
            return SendAll(m_fd, "+OK\r\n");
        if (verb == "STAT") {
            std::int64_t total = 0;
            for (const auto& m : m_messages) total += Announced(m);
            return SendAll(m_fd, "+OK " + std::to_string(m_messages.size()) + " " +
                                     std::to_string(total) + "\r\n");
        }
        if (verb == "LIST") {
            const ScriptedPop3Message* m = Numbered(line, number);
            if (!m) return SendAll(m_fd, "-ERR no such message\r\n");
            return SendAll(m_fd, "+OK " + std::to_string(number) + " " +
                                     std::to_string(Announced(*m)) + "\r\n");
        }
        if (verb == "DELE") return SendAll(m_fd, Numbered(line, number) ? "+OK\r\n" : "-ERR\r\n");
        if (verb == "QUIT") {
            SendAll(m_fd, "+OK bye\r\n");
            return false;
        }
        if (verb == "RETR") {
            const ScriptedPop3Message* m = Numbered(line, number);
            if (!m) return SendAll(m_fd, "-ERR no such message\r\n");
            return Deliver(*m);
        }
        return SendAll(m_fd, "-ERR unknown command\r\n");
    }

    bool Deliver(const ScriptedPop3Message& m) {
        const std::string body = DotStuffed(m.text);
        switch (m.delivery) {
            case Delivery::Whole:
                return SendAll(m_fd, "+OK message follows\r\n" + body + ".\r\n");
            case Delivery::Refused:
                return SendAll(m_fd, "-ERR message is locked by another session\r\n");
            case Delivery::CloseMidway:
                SendAll(m_fd, "+OK message follows\r\n" + body.substr(0, body.size() / 2));
                return false;
            case Delivery::Trickle:
                if (!SendAll(m_fd, "+OK message follows\r\n")) return false;
                for (std::size_t at = 0; at < body.size(); at += 2) {
                    if (!SendAll(m_fd, body.substr(at, 2))) return false;
                    ::sleep(1);
                }
                return SendAll(m_fd, ".\r\n");
        }
        return false;
    }

    int m_fd;
    const std::vector<ScriptedPop3Message>& m_messages;
    const ScriptedPop3Offer& m_offer;
    std::FILE* m_journal;
    std::string m_buffer;
};

[[noreturn]] void Serve(int listener, const std::vector<ScriptedPop3Message>& messages,
                        const ScriptedPop3Offer& offer, const std::string& journalPath) {
    std::FILE* journal = std::fopen(journalPath.c_str(), "a");
    if (!journal) ::_exit(1);
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        Session(fd, messages, offer, journal).Run();
        std::fprintf(journal, "--\n");  // the session is over
        std::fflush(journal);
        ::close(fd);
    }
}

}  // namespace

ScriptedPop3Server::ScriptedPop3Server(std::vector<ScriptedPop3Message> messages,
                                       std::string journalPath, ScriptedPop3Offer offer)
    : m_journal(std::move(journalPath)) {
    std::ofstream(m_journal, std::ios::trunc).flush();
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener);
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) Serve(listener, messages, offer, m_journal);
    ::close(listener);
    if (m_pid > 0) m_port = ntohs(address.sin_port);
}

ScriptedPop3Server::~ScriptedPop3Server() {
    Stop();
}

void ScriptedPop3Server::Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::vector<std::string> ScriptedPop3Server::Journal() const {
    std::ifstream in(m_journal);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<int> ScriptedPop3Server::Committed() const {
    std::vector<int> committed, pending;
    for (const std::string& line : Journal()) {
        if (line.rfind("DELE ", 0) == 0) pending.push_back(std::atoi(line.c_str() + 5));
        if (line == "QUIT") committed.insert(committed.end(), pending.begin(), pending.end());
        if (line == "--" || line == "QUIT") pending.clear();
    }
    return committed;
}

}  // namespace tallix::testing
