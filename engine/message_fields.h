#pragma once
// The texts of the current message's fields as the extraction reads them, taken once per
// message and kept until the message changes: every template and variable of one message
// asks for the same few fields (the body above all), and case-insensitive searches ask for
// their upper-cased form. Taking them anew for each variable copied and upper-cased the whole
// body many times per message.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace tallix {
class txMessage;
}

namespace tallix::engine {

class MessageFields {
  public:
    // Forgets the kept texts when `message` is not the message they were taken from. The
    // message is held, so its address cannot be taken by a later one while texts are kept.
    void Use(const std::shared_ptr<txMessage>& message);
    // The kept text of a field (and attachment index), or nullptr when it was not taken yet.
    const std::string* Find(std::string_view field, std::int32_t index) const;
    // Keeps `text` as the text of the field; with `remember` false (the text could not be
    // read whole) only until the next call, so the field is read again next time.
    const std::string& Keep(std::string_view field, std::int32_t index, std::string text,
                            bool remember);
    // The upper-cased form of the text last kept for the field (made on first use).
    const std::string& Upper(std::string_view field, std::int32_t index);
    void Clear();

  private:
    struct Texts {
        std::string field;
        std::int32_t index = 0;
        std::string text;
        std::string upper;
        bool upperMade = false;
    };
    const Texts* Kept(std::string_view field, std::int32_t index) const;
    Texts* Kept(std::string_view field, std::int32_t index);

    std::shared_ptr<txMessage> m_message;
    Texts m_passing;  // a text kept only until the next call
    // A message's templates ask for a handful of fields: a short list searched in order beats
    // a map whose every lookup builds a key. A deque, so a kept text stays where it is while
    // later ones are added.
    std::deque<Texts> m_texts;
};

}  // namespace tallix::engine
