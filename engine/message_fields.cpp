#include "engine/message_fields.h"

#include "settings/text_functions.h"

namespace tallix::engine {

void MessageFields::Use(const std::shared_ptr<txMessage>& message) {
    if (message == m_message) return;
    m_texts.clear();
    m_message = message;
}

const std::string* MessageFields::Find(std::string_view field, std::int32_t index) const {
    auto it = m_texts.find(std::pair<std::string, std::int32_t>(field, index));
    return it == m_texts.end() ? nullptr : &it->second.text;
}

const std::string& MessageFields::Keep(std::string_view field, std::int32_t index, std::string text,
                                       bool remember) {
    Texts& kept = remember ? m_texts[{std::string(field), index}] : m_passing;
    kept = Texts{std::move(text), {}, false};
    return kept.text;
}

const std::string& MessageFields::Upper(std::string_view field, std::int32_t index) {
    auto it = m_texts.find(std::pair<std::string, std::int32_t>(field, index));
    Texts& kept = it == m_texts.end() ? m_passing : it->second;
    if (!kept.upperMade) {
        kept.upper = UCase(kept.text);
        kept.upperMade = true;
    }
    return kept.upper;
}

void MessageFields::Clear() {
    m_texts.clear();
    m_passing = Texts{};
    m_message.reset();
}

}  // namespace tallix::engine
