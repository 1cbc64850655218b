#pragma once
// colExportFields and colFilters: the keyed collections of a template's variables and
// filters. Every operation reports under its own context text, so a bad position or key, or
// a duplicate key, gives no object (nullptr) instead of an error in the caller.

#include <string_view>

#include "model/export_field.h"
#include "model/guarded_collection.h"

namespace tallix {

class colExportFields : public GuardedCollection<clsExportField> {
  public:
    colExportFields();
    // A new variable with all members empty.
    Pointer Add(std::string_view sKey = {});
};

class colFilters : public GuardedCollection<clsFilter> {
  public:
    colFilters();
    // A new filter with its members assigned in the order FileName, MapiField, FindString.
    Pointer Add(std::string_view FileName, std::string_view MapiField, std::string_view FindString,
                std::string_view sKey = {});
};

}  // namespace tallix
