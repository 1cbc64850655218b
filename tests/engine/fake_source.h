#pragma once
// A mail source for engine tests, benchmarks and fuzz targets: messages handed over in order,
// either from a list or made one at a time by a generator (a long walk then holds one message
// at a time), with every call recorded unless recording is switched off.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/message.h"
#include "sources/mail_source.h"

namespace tallix::engine::testing {

class FakeSource final : public sources::MailSource {
  public:
    FakeSource() = default;
    // `count` messages, message i (0-based) made by `make` when it is handed over.
    FakeSource(std::size_t count, std::function<std::shared_ptr<txMessage>(std::size_t)> make)
        : generate(std::move(make)), generated(count) {}

    void Connect() override {
        Note("Connect");
        SetIsConnected(connects);
        SetTotalMessages(connects ? static_cast<std::int32_t>(Count()) : 0);
    }
    void GetFirstMsg() override {
        Note("GetFirstMsg");
        next = 0;
        Advance();
    }
    void GetNextMsg() override {
        Note("GetNextMsg");
        if (beforeNext) beforeNext(next);
        Advance();
    }
    void DoDeleteMessage() override {
        Note("DoDeleteMessage");
        ++deletes;
        if (onDelete) onDelete();
    }
    std::string ConvertAddress() override { return address; }
    void Disconnect() override { Note("Disconnect"); }

    bool connects = true;
    std::vector<std::shared_ptr<txMessage>> messages;
    // When set, the source hands over `generated` messages made by it instead of `messages`.
    std::function<std::shared_ptr<txMessage>(std::size_t index)> generate;
    std::size_t generated = 0;
    std::string address = "sender@example.org";
    // Off where the calls would only cost time (benchmarks, fuzzing).
    bool recordCalls = true;
    std::vector<std::string> calls;
    int deletes = 0;
    // Called before message `index` (0-based) is handed over by GetNextMsg.
    std::function<void(std::size_t index)> beforeNext;
    // Called when the current message is deleted.
    std::function<void()> onDelete;

  private:
    std::size_t Count() const { return generate ? generated : messages.size(); }
    void Note(const char* call) {
        if (recordCalls) calls.push_back(call);
    }
    void Advance() {
        if (next >= Count()) {
            SetMessage(nullptr);
            return;
        }
        const std::size_t index = next++;
        SetMessage(generate ? generate(index) : messages[index]);
    }
    std::size_t next = 0;
};

// The sources of a test run, walked in order; the list may own them.
class FakeSourceList final : public sources::SourceList {
  public:
    explicit FakeSourceList(std::vector<FakeSource*> sources) : items(std::move(sources)) {}
    explicit FakeSourceList(std::unique_ptr<FakeSource> source) : owned(std::move(source)) {
        items.push_back(owned.get());
    }
    std::int32_t Count() const override { return static_cast<std::int32_t>(items.size()); }
    sources::MailSource* ItemAt(std::int32_t i) override { return items.at(i - 1); }
    std::vector<FakeSource*> items;

  private:
    std::unique_ptr<FakeSource> owned;
};

}  // namespace tallix::engine::testing
