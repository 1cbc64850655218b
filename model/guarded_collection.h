#pragma once
// A keyed collection of shared objects whose operations each run under their own context
// text: a bad position or key, or a taken key, is reported under that text and the operation
// gives no object (nullptr, a count of 0, an empty list) instead of an error in the caller.
// An operation left without a text passes the run-time error on to its caller instead; that
// is how a collection raises a missing item.

#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "model/collection.h"
#include "settings/error_reporter.h"

namespace tallix {

// The context texts of a collection's operations; an empty one raises.
struct CollectionContexts {
    std::string_view add{};
    std::string_view item{};
    std::string_view count{};
    std::string_view remove{};
    std::string_view newEnum{};
};

template <class T>
class GuardedCollection {
  public:
    using Pointer = std::shared_ptr<T>;

    // `contexts` must outlive the collection (the texts are constants).
    explicit GuardedCollection(const CollectionContexts& contexts) : m_contexts(&contexts) {}

    // The item at a 1-based position or under a key.
    Pointer Item(long index) const {
        return Run(m_contexts->item, [&] { return m_items.Item(index); });
    }
    Pointer Item(std::string_view key) const {
        return Run(m_contexts->item, [&] { return m_items.Item(key); });
    }
    std::int32_t Count() const {
        return Run(m_contexts->count, [&] { return m_items.Count(); });
    }
    void Remove(long index) {
        Run(m_contexts->remove, [&] { m_items.Remove(index); });
    }
    void Remove(std::string_view key) {
        Run(m_contexts->remove, [&] { m_items.Remove(key); });
    }
    // The items in order, as they are now; removing items while visiting them is safe.
    std::vector<Pointer> NewEnum() const {
        return Run(m_contexts->newEnum, [&] { return m_items.Snapshot(); });
    }
    // Visits the items in order without a copy; the collection must not change meanwhile.
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

    // Appends a new item (keyed when `key` is not empty) and returns it. `fill` runs on the
    // new item before it is added, so a taken key leaves nothing half-added.
    template <class Fill>
    Pointer AddNew(std::string_view key, Fill&& fill) {
        return Run(m_contexts->add, [&] {
            auto item = std::make_shared<T>();
            fill(*item);
            m_items.Add(item, key);
            return item;
        });
    }

  private:
    // Runs `body` under `context`, or bare when there is no context. A reported failure
    // gives an empty value (nullptr, 0, no items).
    template <class Body>
    static auto Run(std::string_view context, Body&& body) {
        using Result = decltype(body());
        if (context.empty()) return body();
        if constexpr (std::is_void_v<Result>) {
            Guard(context, std::forward<Body>(body));
        } else {
            return GuardValue<Result>(context, Result{}, std::forward<Body>(body));
        }
    }

    const CollectionContexts* m_contexts;
    Collection<Pointer> m_items;
};

}  // namespace tallix
