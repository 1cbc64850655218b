#pragma once
// The general-purpose collection the model's collection classes are built on: 1-based
// positions, insertion order, optional text keys that are unique within the collection and
// compared without regard to case (ASCII letters fold, as every name comparison in the
// product does). Misuse raises run-time errors: a bad
// position is error 9, an unknown key error 5, a duplicate key error 457. Callers inside a
// procedure run it under their guard; TryItem gives a pointer instead.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "settings/run_time_error.h"
#include "settings/text_functions.h"

namespace tallix {

inline constexpr int kErrDuplicateKey = 457;
inline constexpr std::string_view kDuplicateKeyDescription =
    "This key is already associated with an element of this collection";

template <class V>
class Collection {
  public:
    // Appends `value`, under `key` when it is not empty.
    void Add(V value, std::string_view key = {}) {
        std::string folded;
        if (!key.empty()) {
            folded = UCase(key);
            if (m_keys.count(folded) != 0) {
                Raise(kErrDuplicateKey, std::string(kDuplicateKeyDescription));
            }
        }
        m_entries.push_back(Entry{std::move(value), folded});
        if (!folded.empty()) m_keys.emplace(std::move(folded), m_entries.size() - 1);
    }

    std::int32_t Count() const { return static_cast<std::int32_t>(m_entries.size()); }

    const V& Item(long index) const { return m_entries[CheckedIndex(index)].value; }
    V& Item(long index) { return m_entries[CheckedIndex(index)].value; }
    const V& Item(std::string_view key) const { return m_entries[KeyIndex(key)].value; }
    V& Item(std::string_view key) { return m_entries[KeyIndex(key)].value; }

    // nullptr for a bad position or an unknown key.
    const V* TryItem(long index) const {
        return index >= 1 && index <= Count()
                   ? &m_entries[static_cast<std::size_t>(index - 1)].value
                   : nullptr;
    }
    const V* TryItem(std::string_view key) const {
        auto it = m_keys.find(UCase(key));
        return it == m_keys.end() ? nullptr : &m_entries[it->second].value;
    }

    // Later items move down one position.
    void Remove(long index) { EraseAt(CheckedIndex(index)); }
    void Remove(std::string_view key) { EraseAt(KeyIndex(key)); }

    // Visits the values in order.
    auto begin() const { return Values().begin(); }
    auto end() const { return Values().end(); }
    std::vector<V> Snapshot() const {
        std::vector<V> out;
        out.reserve(m_entries.size());
        for (const Entry& e : m_entries) out.push_back(e.value);
        return out;
    }

  private:
    struct Entry {
        V value;
        std::string foldedKey;  // empty: no key
    };

    std::size_t CheckedIndex(long index) const {
        if (index < 1 || index > Count()) Raise(kErrSubscript);
        return static_cast<std::size_t>(index - 1);
    }
    std::size_t KeyIndex(std::string_view key) const {
        auto it = m_keys.find(UCase(key));
        if (it == m_keys.end()) Raise(kErrInvalidCall);
        return it->second;
    }
    void EraseAt(std::size_t at) {
        if (!m_entries[at].foldedKey.empty()) m_keys.erase(m_entries[at].foldedKey);
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(at));
        for (auto& [key, position] : m_keys) {
            if (position > at) --position;
        }
    }

    // A light view over the values for range-for.
    struct ValueView {
        const std::vector<Entry>* entries;
        struct Iter {
            using iterator_category = std::forward_iterator_tag;
            using value_type = V;
            using difference_type = std::ptrdiff_t;
            using pointer = const V*;
            using reference = const V&;
            typename std::vector<Entry>::const_iterator it;
            const V& operator*() const { return it->value; }
            Iter& operator++() {
                ++it;
                return *this;
            }
            Iter operator++(int) {
                Iter old = *this;
                ++it;
                return old;
            }
            bool operator!=(const Iter& o) const { return it != o.it; }
            bool operator==(const Iter& o) const { return it == o.it; }
        };
        Iter begin() const { return Iter{entries->begin()}; }
        Iter end() const { return Iter{entries->end()}; }
    };
    ValueView Values() const { return ValueView{&m_entries}; }

    std::vector<Entry> m_entries;
    std::unordered_map<std::string, std::size_t> m_keys;  // folded key -> index
};

// A collection of text (output lines, attachment paths).
using TextCollection = Collection<std::string>;

}  // namespace tallix
