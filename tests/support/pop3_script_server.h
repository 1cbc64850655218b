#pragma once
// A small POP3 server on 127.0.0.1 for tests that need a server misbehaving on purpose: each
// message says how RETR delivers it (whole, a few bytes a second, cut off by a closed
// connection, refused with -ERR) and what LIST announces. The server runs in a child process
// started by the constructor and stopped by its process id in Stop or the destructor. It
// accepts one session after the other, and writes every command it receives to a journal
// file, so a test can tell which deletions a QUIT committed.

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace tallix::testing {

struct ScriptedPop3Message {
    enum class Delivery {
        Whole,        // the message and the closing "."
        Trickle,      // two bytes a second, then the closing "."
        CloseMidway,  // half of the message, then the connection is closed
        Refused,      // "-ERR" instead of the message
    };
    std::string text;  // lines ended by CR LF
    Delivery delivery = Delivery::Whole;
    // What LIST and STAT announce; below 0, the text's size.
    std::int64_t announced = -1;
};

// What the server offers besides USER: UIDL (message n has the id `ids[n - 1]`, else "u" and
// its number; or the listing is the lines of `uidlLines`) and PIPELINING; commands sent together
// are answered in order either way.
struct ScriptedPop3Offer {
    bool uidl = true;
    bool pipelining = false;
    std::vector<std::string> ids;
    std::vector<std::string> uidlLines;
};

class ScriptedPop3Server {
  public:
    ScriptedPop3Server(std::vector<ScriptedPop3Message> messages, std::string journalPath,
                       ScriptedPop3Offer offer = {});
    ~ScriptedPop3Server();
    ScriptedPop3Server(const ScriptedPop3Server&) = delete;
    ScriptedPop3Server& operator=(const ScriptedPop3Server&) = delete;

    // The port it listens on; 0 when it could not be started.
    int Port() const { return m_port; }
    void Stop();
    // Every command received, in order ("PASS" without its argument).
    std::vector<std::string> Journal() const;
    // The message numbers deleted for good: those of DELE commands in sessions that ended
    // with QUIT, in order.
    std::vector<int> Committed() const;

  private:
    std::string m_journal;
    int m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace tallix::testing
