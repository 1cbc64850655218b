#include "engine/message_fields.h"

#include <utility>

#include "settings/text_functions.h"

namespace tallix::engine {

void MessageFields::Use(const std::shared_ptr<txMessage>& message) {
    if (message == m_message) return;
    m_texts.clear();
    m_message = message;
}

const MessageFields::Texts* MessageFields::Kept(std::string_view field, std::int32_t index) const {
    for (const Texts& kept : m_texts)
        if (kept.index == index && kept.field == field) return &kept;
    return nullptr;
}

MessageFields::Texts* MessageFields::Kept(std::string_view field, std::int32_t index) {
    return const_cast<Texts*>(std::as_const(*this).Kept(field, index));
}

const std::string* MessageFields::Find(std::string_view field, std::int32_t index) const {
    const Texts* kept = Kept(field, index);
    return kept ? &kept->text : nullptr;
}

const std::string& MessageFields::Keep(std::string_view field, std::int32_t index, std::string text,
                                       bool remember) {
    Texts* kept = &m_passing;
    if (remember) {
        kept = Kept(field, index);
        if (!kept) kept = &m_texts.emplace_back();
    }
    *kept = Texts{std::string(field), index, std::move(text), {}, false};
    return kept->text;
}

const std::string& MessageFields::Upper(std::string_view field, std::int32_t index) {
    Texts* found = Kept(field, index);
    Texts& kept = found ? *found : m_passing;
    if (!kept.upperMade) {
        kept.upper = UpperCaseText(kept.text);
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
