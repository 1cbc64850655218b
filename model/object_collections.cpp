#include "model/object_collections.h"

namespace tallix {
namespace {

constexpr CollectionContexts kExportFieldsContexts{
    "colExportFields - Add",    "colExportFields - Get Item", "colExportFields - Get Count",
    "colExportFields - Remove", "colExportFields - NewEnum",
};
constexpr CollectionContexts kFiltersContexts{
    "colFilters - Add",    "colFilters - Get Item", "colFilters - Get Count",
    "colFilters - Remove", "colFilters - NewEnum",
};

}  // namespace

colExportFields::colExportFields() : GuardedCollection(kExportFieldsContexts) {}

colExportFields::Pointer colExportFields::Add(std::string_view sKey) {
    return AddNew(sKey, [](clsExportField&) {});
}

colFilters::colFilters() : GuardedCollection(kFiltersContexts) {}

colFilters::Pointer colFilters::Add(std::string_view FileName, std::string_view MapiField,
                                    std::string_view FindString, std::string_view sKey) {
    return AddNew(sKey, [&](clsFilter& filter) {
        filter.SetFileName(FileName);
        filter.SetMapiField(MapiField);
        filter.SetFindString(FindString);
    });
}

}  // namespace tallix
