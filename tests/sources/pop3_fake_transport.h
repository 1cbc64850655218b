#pragma once
// A scripted POP3 transport: a mailbox of messages in memory, answers chosen per step, and a
// record of every call, so the client's and the source's logic are tested without a server.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "sources/pop3_transport.h"

namespace tallix::sources::testing {

class FakeTransport final : public Pop3Transport {
  public:
    Pop3Result Open(const Pop3Endpoint& endpoint) override {
        calls.push_back("OPEN " + endpoint.user + "@" + endpoint.host + ":" +
                        std::to_string(endpoint.port));
        opened = endpoint;
        if (openResult.ok()) open = true;
        return openResult;
    }
    Pop3Result Command(const std::string& command) override {
        calls.push_back(command);
        if (!open) return Lost();
        if (auto it = commandResults.find(command); it != commandResults.end()) return it->second;
        Pop3Result ok;
        if (command == "STAT")
            ok.reply = "+OK " + std::to_string(messages.size()) + " 1000";
        else if (command.rfind("LIST ", 0) == 0)
            ok.reply = "+OK " + command.substr(5) + " " + std::to_string(SizeOf(command.substr(5)));
        else
            ok.reply = "+OK";
        return ok;
    }
    Pop3Result Retrieve(std::int32_t number, std::int64_t announcedBytes,
                        const std::function<bool(std::string_view)>& sink) override {
        calls.push_back("RETR " + std::to_string(number));
        announced.push_back(announcedBytes);
        if (!open) return Lost();
        if (auto it = retrieveResults.find(number); it != retrieveResults.end()) return it->second;
        const std::string& text = messages.at(static_cast<std::size_t>(number - 1));
        // Handed over in small pieces, as a network delivers it.
        for (std::size_t at = 0; at < text.size(); at += 7) {
            if (!sink(std::string_view(text).substr(at, 7))) {
                Pop3Result aborted;
                aborted.outcome = Pop3Outcome::Failed;
                aborted.detail = "aborted by the sink";
                return aborted;
            }
        }
        Pop3Result ok;
        ok.reply = "+OK message follows";
        return ok;
    }
    Pop3Result Listing(const std::string& command,
                       const std::function<void(std::string_view)>& line) override {
        calls.push_back(command);
        if (!open) return Lost();
        if (auto it = commandResults.find(command); it != commandResults.end()) return it->second;
        std::vector<std::string> lines;
        if (auto it = listings.find(command); it != listings.end()) {
            lines = it->second;
        } else if (command == "CAPA") {
            lines = capabilities;
        } else if (command == "LIST" || command == "UIDL") {
            for (std::size_t n = 1; n <= messages.size(); ++n) {
                const std::string number = std::to_string(n);
                lines.push_back(
                    number + " " +
                    (command == "LIST" ? std::to_string(SizeOf(number)) : "id-" + number));
            }
        }
        for (const std::string& l : lines) line(l);
        Pop3Result ok;
        ok.reply = "+OK";
        return ok;
    }
    void RetrieveMany(const std::vector<Pop3Retrieval>& wanted, bool pipelined,
                      const std::function<bool(std::size_t, std::string_view)>& sink,
                      std::vector<Pop3Result>& results) override {
        calls.push_back(std::string(pipelined ? "PIPELINED" : "BATCH") + " " +
                        std::to_string(wanted.front().number) + "-" +
                        std::to_string(wanted.back().number));
        Pop3Transport::RetrieveMany(wanted, pipelined, sink, results);
    }
    void Close() override {
        calls.push_back("CLOSE");
        open = false;
    }

    // The size LIST announces for message `number`: the one set in `sizes`, else its length.
    std::int64_t SizeOf(const std::string& number) const {
        const int n = std::atoi(number.c_str());
        if (auto it = sizes.find(n); it != sizes.end()) return it->second;
        if (n < 1 || n > static_cast<int>(messages.size())) return 0;
        return static_cast<std::int64_t>(messages[static_cast<std::size_t>(n - 1)].size());
    }

    static Pop3Result Lost() {
        Pop3Result lost;
        lost.outcome = Pop3Outcome::Failed;
        lost.detail = "no session";
        return lost;
    }

    std::vector<std::string> messages;
    // What CAPA lists; UIDL and LIST list every message ("n id-n", "n size") unless `listings`
    // gives the lines of a command.
    std::vector<std::string> capabilities = {"USER"};
    std::map<std::string, std::vector<std::string>> listings;
    std::map<int, std::int64_t> sizes;    // LIST sizes other than the messages' lengths
    std::vector<std::int64_t> announced;  // the size each RETR was given
    Pop3Result openResult;
    std::map<std::string, Pop3Result> commandResults;
    std::map<std::int32_t, Pop3Result> retrieveResults;
    std::vector<std::string> calls;
    Pop3Endpoint opened;
    bool open = false;
};

inline Pop3Result Outcome(Pop3Outcome outcome, std::string reply = {},
                          std::int16_t socketError = 0) {
    Pop3Result result;
    result.outcome = outcome;
    result.reply = std::move(reply);
    result.socketError = socketError;
    result.detail = "scripted failure";
    return result;
}

}  // namespace tallix::sources::testing
