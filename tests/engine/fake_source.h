#pragma once
// A mail source for engine tests: a list of messages handed over in order, with every call
// recorded.

#include <functional>
#include <string>
#include <vector>

#include "sources/mail_source.h"

namespace tallix::engine::testing {

class FakeSource final : public sources::MailSource {
  public:
    void Connect() override {
        calls.push_back("Connect");
        SetIsConnected(connects);
        SetTotalMessages(connects ? static_cast<std::int32_t>(messages.size()) : 0);
    }
    void GetFirstMsg() override {
        calls.push_back("GetFirstMsg");
        next = 0;
        Advance();
    }
    void GetNextMsg() override {
        calls.push_back("GetNextMsg");
        if (beforeNext) beforeNext(next);
        Advance();
    }
    void DoDeleteMessage() override {
        calls.push_back("DoDeleteMessage");
        ++deletes;
    }
    std::string ConvertAddress() override { return address; }
    void Disconnect() override { calls.push_back("Disconnect"); }

    bool connects = true;
    std::vector<std::shared_ptr<txMessage>> messages;
    std::string address = "sender@example.org";
    std::vector<std::string> calls;
    int deletes = 0;
    // Called before message `index` (0-based) is handed over by GetNextMsg.
    std::function<void(std::size_t index)> beforeNext;

  private:
    void Advance() { SetMessage(next < messages.size() ? messages[next++] : nullptr); }
    std::size_t next = 0;
};

// The sources of a test run, walked in order.
class FakeSourceList final : public sources::SourceList {
  public:
    explicit FakeSourceList(std::vector<FakeSource*> sources) : items(std::move(sources)) {}
    std::int32_t Count() const override { return static_cast<std::int32_t>(items.size()); }
    sources::MailSource* ItemAt(std::int32_t i) override { return items.at(i - 1); }
    std::vector<FakeSource*> items;
};

}  // namespace tallix::engine::testing
