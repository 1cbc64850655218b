#pragma once
// colExportFields and colFilters: the keyed collections of a template's variables and
// filters. Both wrap the one general-purpose Collection; each operation runs under the
// guard with its own context text, so a bad position or key, or a duplicate key, is
// reported and gives no object (nullptr) instead of an error in the caller.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "model/collection.h"
#include "model/export_field.h"

namespace tallix {

struct CollectionContexts {
    std::string_view add;
    std::string_view item;
    std::string_view count;
    std::string_view remove;
    std::string_view newEnum;
};

template <class T>
class ObjectCollection {
  public:
    using Pointer = std::shared_ptr<T>;

    // The item at a 1-based position or under a key; nullptr (reported) when there is none.
    Pointer Item(long index) const {
        return GuardValue<Pointer>(m_context->item, nullptr, [&] { return m_items.Item(index); });
    }
    Pointer Item(std::string_view key) const {
        return GuardValue<Pointer>(m_context->item, nullptr, [&] { return m_items.Item(key); });
    }
    std::int32_t Count() const {
        return GuardValue<std::int32_t>(m_context->count, 0, [&] { return m_items.Count(); });
    }
    void Remove(long index) {
        Guard(m_context->remove, [&] { m_items.Remove(index); });
    }
    void Remove(std::string_view key) {
        Guard(m_context->remove, [&] { m_items.Remove(key); });
    }
    // The items in order, as they are now; removing items while visiting them is safe.
    std::vector<Pointer> NewEnum() const {
        return GuardValue<std::vector<Pointer>>(m_context->newEnum, {},
                                                [&] { return m_items.Snapshot(); });
    }

  protected:
    explicit ObjectCollection(const CollectionContexts& context) : m_context(&context) {}

    // Appends `item` (keyed when `key` is not empty) and returns it; nullptr when the key is
    // taken. `fill` runs on the new item before it is added.
    template <class Fill>
    Pointer AddNew(std::string_view key, Fill&& fill) {
        return GuardValue<Pointer>(m_context->add, nullptr, [&] {
            auto item = std::make_shared<T>();
            fill(*item);
            m_items.Add(item, key);
            return item;
        });
    }

  private:
    const CollectionContexts* m_context;
    Collection<Pointer> m_items;
};

class colExportFields : public ObjectCollection<clsExportField> {
  public:
    colExportFields();
    // A new variable with all members empty.
    Pointer Add(std::string_view sKey = {});
};

class colFilters : public ObjectCollection<clsFilter> {
  public:
    colFilters();
    // A new filter with its members assigned in the order FileName, MapiField, FindString.
    Pointer Add(std::string_view FileName, std::string_view MapiField, std::string_view FindString,
                std::string_view sKey = {});
};

}  // namespace tallix
