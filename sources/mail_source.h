#pragma once
// The contract every mail source keeps with the engine: connect to one mailbox, walk its
// messages one at a time, hand each over as a message record of its own, delete the current
// one where the source can, disconnect.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "model/guarded_collection.h"

namespace tallix {
class txMessage;
}

namespace tallix::sources {

class MailSource {
  public:
    virtual ~MailSource() = default;

    // Display name of the source in status texts and logs.
    const std::string& ID() const { return m_id; }
    void SetID(std::string id) { m_id = std::move(id); }
    bool IsConnected() const { return m_connected; }
    void SetIsConnected(bool connected) { m_connected = connected; }
    // Messages found at Connect; 0 when none or not connected.
    std::int32_t TotalMessages() const { return m_totalMessages; }
    void SetTotalMessages(std::int32_t total) { m_totalMessages = total; }
    std::int32_t MessageNumber() const { return m_messageNumber; }
    void SetMessageNumber(std::int32_t number) { m_messageNumber = number; }
    // The current message; nullptr when the walk is over.
    const std::shared_ptr<txMessage>& Message() const { return m_message; }
    void SetMessage(std::shared_ptr<txMessage> message) { m_message = std::move(message); }

    virtual void Connect() = 0;
    virtual void GetFirstMsg() = 0;
    virtual void GetNextMsg() = 0;
    virtual void DoDeleteMessage() = 0;
    // The sender's address of the current message as the output shows it.
    virtual std::string ConvertAddress() = 0;
    virtual void Disconnect() = 0;
    // What names the current message for good within this source (an IMAP UID with its
    // UIDVALIDITY, a Maildir file's unique name), so that a later run knows it again; "" when
    // the source has no such name (the engine then goes by the message's header).
    virtual std::string MessageKey() const { return {}; }
    // Asked, where the source can, with a message's header block before the rest of the
    // message is taken apart (its attachments decoded): true means every template has had the
    // message, and the source then hands over a record of that header block alone.
    void SetKnownMessage(std::function<bool(std::string_view header)> known) {
        m_known = std::move(known);
    }
    bool IsKnownMessage(std::string_view header) const { return m_known && m_known(header); }
    bool AsksKnownMessages() const { return static_cast<bool>(m_known); }
    // Asked, by a source that names its messages itself (MessageKey), with a message's key
    // before the message is fetched: true means every template has had the message, and the
    // source then hands over an empty record under that key without fetching it.
    void SetKnownKey(std::function<bool(std::string_view key)> known) {
        m_knownKey = std::move(known);
    }
    bool IsKnownKey(std::string_view key) const { return m_knownKey && m_knownKey(key); }
    // Whether keys are asked at all: a source then fetches the first message of its walk on
    // its own, since which messages are known is learnt from it.
    bool AsksKnownKeys() const { return static_cast<bool>(m_knownKey); }

  private:
    std::string m_id;
    bool m_connected = false;
    std::int32_t m_totalMessages = 0;
    std::int32_t m_messageNumber = 0;
    std::shared_ptr<txMessage> m_message;
    std::function<bool(std::string_view header)> m_known;
    std::function<bool(std::string_view key)> m_knownKey;
};

// The sources of one run, walked from item 1 to Count.
class SourceList {
  public:
    virtual ~SourceList() = default;
    virtual std::int32_t Count() const = 0;
    // The source at `index` (1-based), or nullptr.
    virtual MailSource* ItemAt(std::int32_t index) = 0;
};

// A collection of sources of one kind: Add creates a source, Item finds one by position or
// key, Remove drops one; enumeration walks them in order. Which operations report a missing
// or taken item, and which raise it to the caller, is set by the kind's context texts.
template <class Source>
class SourceCollection final : public SourceList {
  public:
    explicit SourceCollection(const CollectionContexts& contexts) : m_items(contexts) {}

    Source* Add(std::string_view key = {}) {
        return m_items.AddNew(key, [](Source&) {}).get();
    }
    Source* Item(std::int32_t index) { return m_items.Item(index).get(); }
    Source* Item(std::string_view key) { return m_items.Item(key).get(); }
    std::int32_t Count() const override { return m_items.Count(); }
    void Remove(std::int32_t index) { m_items.Remove(index); }
    void Remove(std::string_view key) { m_items.Remove(key); }
    MailSource* ItemAt(std::int32_t index) override { return Item(index); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

  private:
    GuardedCollection<Source> m_items;
};

}  // namespace tallix::sources
