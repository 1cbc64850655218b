#pragma once
// A scripted POP3 transport: a mailbox of messages in memory, answers chosen per step, and a
// record of every call, so the client's and the source's logic are tested without a server.

#include <cstdint>
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
        else
            ok.reply = "+OK";
        return ok;
    }
    Pop3Result Retrieve(std::int32_t number,
                        const std::function<bool(std::string_view)>& sink) override {
        calls.push_back("RETR " + std::to_string(number));
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
    void Close() override {
        calls.push_back("CLOSE");
        open = false;
    }

    static Pop3Result Lost() {
        Pop3Result lost;
        lost.outcome = Pop3Outcome::Failed;
        lost.detail = "no session";
        return lost;
    }

    std::vector<std::string> messages;
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
