#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "model/collection.h"
#include "model/object_collections.h"
#include "model/template.h"
#include "tests/model/model_test_support.h"

namespace tallix {
namespace {

std::vector<std::string> Names(const colExportFields& fields) {
    std::vector<std::string> names;
    for (const auto& f : fields.NewEnum()) names.push_back(f->FieldName());
    return names;
}

using TemplateModel = testing::ModelTest;

TEST_F(TemplateModel, NewTemplateHoldsOneEmptyOutputLineAndEmptyParts) {
    clsTemplate t;
    ASSERT_EQ(t.colOutPutLines()->Count(), 1);
    EXPECT_EQ(t.colOutPutLines()->Item(1), "");
    EXPECT_EQ(t.colFields()->Count(), 0);
    ASSERT_NE(t.objFilter(), nullptr);
    EXPECT_EQ(t.objFilter()->MapiField() + t.objFilter()->FindString(), "");
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(t.LastRan(), "");
}

TEST_F(TemplateModel, CollectionKeepsOrderPositionsAndKeys) {
    Collection<int> c;
    c.Add(10, "ten");
    c.Add(20);
    c.Add(30, "Thirty");
    c.Add(40, "");
    EXPECT_EQ(c.Count(), 4);
    EXPECT_EQ(c.Item(2), 20);
    EXPECT_EQ(c.Item("THIRTY"), 30);
    c.Remove("TEN");
    EXPECT_EQ(c.Item(1), 20);
    EXPECT_EQ(c.Item("thirty"), 30);  // keys follow their items down
    c.Remove(2);
    EXPECT_EQ(c.Count(), 2);
    EXPECT_EQ(c.Item(2), 40);
    EXPECT_EQ(c.TryItem("thirty"), nullptr);
    c.Add(50, "ten");  // a removed key is free again
    EXPECT_EQ(c.Item("Ten"), 50);
    std::vector<int> seen(c.begin(), c.end());
    EXPECT_EQ(seen, (std::vector<int>{20, 40, 50}));

    auto number = [](auto&& f) {
        try {
            f();
        } catch (const RunTimeError& e) {
            return e.Number();
        }
        return 0;
    };
    EXPECT_EQ(number([&] { c.Item(0); }), kErrSubscript);
    EXPECT_EQ(number([&] { c.Item(4); }), kErrSubscript);
    EXPECT_EQ(number([&] { c.Item(-1); }), kErrSubscript);
    EXPECT_EQ(number([&] { c.Item("nope"); }), kErrInvalidCall);
    EXPECT_EQ(number([&] { c.Add(1, "TEN"); }), kErrDuplicateKey);
    EXPECT_EQ(c.Count(), 3);
}

TEST_F(TemplateModel, ExportFieldsAddItemRemoveAndReportFailures) {
    colExportFields fields;
    auto a = fields.Add();
    auto b = fields.Add();
    EXPECT_NE(a, b);
    auto k = fields.Add("Key");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(fields.Add("KEY"), nullptr);
    EXPECT_TRUE(Logged("colExportFields - Add"));
    EXPECT_EQ(fields.Count(), 3);
    EXPECT_EQ(fields.Item("key"), k);
    EXPECT_EQ(fields.Item(1), a);

    EXPECT_EQ(fields.Item(9), nullptr);
    EXPECT_EQ(fields.Item("other"), nullptr);
    EXPECT_TRUE(Logged("colExportFields - Get Item"));
    fields.Remove(7);
    EXPECT_TRUE(Logged("colExportFields - Remove"));

    // A removed item lives on while it is held.
    a->SetFieldName("kept");
    fields.Remove(1);
    EXPECT_EQ(a->FieldName(), "kept");
    EXPECT_EQ(fields.Item(1), b);
    EXPECT_EQ(fields.Item(2), k);

    // Removing while enumerating visits every item once.
    int visits = 0;
    for (const auto& item : fields.NewEnum()) {
        ++visits;
        fields.Remove(1);
        EXPECT_NE(item, nullptr);
    }
    EXPECT_EQ(visits, 2);
    EXPECT_EQ(fields.Count(), 0);
}

// Each failing operation either reports under its own text and gives an empty result, or,
// when the collection has no text for it, raises to the caller; no other text is logged.
TEST_F(TemplateModel, GuardedCollectionReportsOnlyTheOperationsWithATextAndRaisesTheRest) {
    using Col = GuardedCollection<clsFilter>;
    struct Case {
        std::string_view CollectionContexts::*text;
        std::function<bool(Col&)> fails;  // true when the result is empty
    };
    const std::vector<Case> cases = {
        {&CollectionContexts::add,
         [](Col& c) { return c.AddNew("TAKEN", [](clsFilter&) {}) == nullptr; }},
        {&CollectionContexts::item, [](Col& c) { return c.Item(5) == nullptr; }},
        {&CollectionContexts::item, [](Col& c) { return c.Item("nope") == nullptr; }},
        {&CollectionContexts::remove, [](Col& c) { return (c.Remove(0), true); }},
        {&CollectionContexts::remove, [](Col& c) { return (c.Remove("nope"), true); }},
    };
    const CollectionContexts all{"T - Add", "T - Get Item", "T - Get Count", "T - Remove",
                                 "T - NewEnum"};
    const CollectionContexts itemOnly{.item = "T - Get Item"};
    const CollectionContexts none{};
    const std::string log = env.ProgramDir() + "/" + std::string(kErrorLog);
    for (const CollectionContexts* contexts : {&all, &itemOnly, &none}) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(i);
            std::filesystem::remove(log);
            Col col(*contexts);
            auto kept = col.AddNew("Taken", [](clsFilter& f) { f.SetFindString("kept"); });
            const std::string_view text = contexts->*cases[i].text;
            if (text.empty()) {
                EXPECT_THROW(cases[i].fails(col), RunTimeError);
                EXPECT_EQ(ErrorLog(), "");
            } else {
                EXPECT_TRUE(cases[i].fails(col));
                EXPECT_TRUE(Logged(text));
                EXPECT_EQ(ErrorLog().find("T - Get Count"), std::string::npos);
            }
            // The failure left the collection as it was.
            ASSERT_EQ(col.Count(), 1);
            EXPECT_EQ(col.Item(1), kept);
            EXPECT_EQ(col.NewEnum(), std::vector{kept});
        }
    }
}

TEST_F(TemplateModel, FiltersAddAssignsTheThreeMembers) {
    colFilters filters;
    auto f = filters.Add("/t/a.txf", "MSG_SUBJECT", "Order", "first");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->FileName(), "/t/a.txf");
    EXPECT_EQ(f->MapiField(), "MSG_SUBJECT");
    EXPECT_EQ(f->FindString(), "Order");
    EXPECT_EQ(filters.Add("", "", "", "FIRST"), nullptr);
    EXPECT_TRUE(Logged("colFilters - Add"));
    EXPECT_EQ(filters.Item("First"), f);
    EXPECT_EQ(filters.Item(2), nullptr);
    EXPECT_TRUE(Logged("colFilters - Get Item"));
}

TEST_F(TemplateModel, ValueByNameUsesTrimmedCaselessFirstMatch) {
    clsTemplate t;
    for (const char* name : {" Order ", "total", "ORDER"}) t.colFields()->Add()->SetFieldName(name);
    t.colFields()->Item(1)->SetValue("first");
    t.colFields()->Item(3)->SetValue("third");

    EXPECT_EQ(t.GetValueByName("order"), "first");
    EXPECT_EQ(t.GetValueByName("  ORDER  "), "first");
    EXPECT_EQ(t.GetValueByName("missing"), "");
    EXPECT_EQ(t.GetValueByName("   "), "");

    t.SetValueByName(" oRDER", "  new value  ");
    EXPECT_EQ(t.colFields()->Item(1)->Value(), "new value");
    EXPECT_EQ(t.colFields()->Item(3)->Value(), "third");
    t.SetValueByName("order", "    ");
    EXPECT_EQ(t.colFields()->Item(1)->Value(), "new value");
    t.SetValueByName("  ", "x");
    t.SetValueByName("nothing", "x");
    EXPECT_EQ(Names(*t.colFields()), (std::vector<std::string>{" Order ", "total", "ORDER"}));
    EXPECT_EQ(t.colFields()->Item(2)->Value(), "");

    // Without a variable collection both report and change nothing.
    t.SetcolFields(nullptr);
    EXPECT_EQ(t.GetValueByName("order"), "");
    t.SetValueByName("order", "x");
    EXPECT_TRUE(Logged("clsTemplate - GetValueByName"));
    EXPECT_TRUE(Logged("clsTemplate - SetValueByName"));
}

}  // namespace
}  // namespace tallix
