#pragma once
// Property procedures of the model classes: each read and each assignment runs under the
// guard with its own context text, so a failure is reported and leaves the member as it was.

#include <string_view>
#include <utility>

#include "settings/error_reporter.h"

namespace tallix {

// The two context texts of one property: its assignment and its reading.
struct PropertyContext {
    std::string_view let;
    std::string_view get;
};

template <class T>
T GetProperty(const PropertyContext& context, const T& member) {
    return GuardValue<T>(context.get, T{}, [&] { return member; });
}

template <class T, class V>
void LetProperty(const PropertyContext& context, T& member, V&& value) {
    Guard(context.let, [&] { member = std::forward<V>(value); });
}

}  // namespace tallix

// Defines the reader Name() and the assignment SetName(v) of a text member under `context`.
#define TALLIX_TEXT_PROPERTY(Class, Name, member, context) \
    std::string Class::Name() const {                      \
        return ::tallix::GetProperty(context, member);     \
    }                                                      \
    void Class::Set##Name(std::string_view v) {            \
        ::tallix::LetProperty(context, member, v);         \
    }
