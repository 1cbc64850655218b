#pragma once
// Member templates of SourceCollection.

#include "settings/error_reporter.h"
#include "sources/mail_source.h"

namespace tallix::sources {

template <class Source>
Source* SourceCollection<Source>::Add(std::string_view key) {
    auto source = std::make_shared<Source>();
    m_items.Add(source, key);
    return source.get();
}

template <class Source>
template <class Find>
Source* SourceCollection<Source>::Lookup(Find&& find) {
    if (m_missing == MissingItem::Raise) return find();
    return GuardValue<Source*>(m_itemContext, nullptr, std::forward<Find>(find));
}

}  // namespace tallix::sources
