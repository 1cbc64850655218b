// A variable made from a selected value: where it starts and stops, its name and options, the
// narrowing by further examples, repeated blocks, the shape check; and, through the trial, that
// the variable made gives the selected value when the run applies it.

#include "engine/selection_variable.h"

#include <gtest/gtest.h>

#include "engine/mime_host.h"
#include "engine/template_trial.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "model/template.h"
#include "settings/settings_store.h"
#include "sources/mail_source.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::engine {
namespace {

// The example of `text` with the `occurrence`-th (from 1) `value` selected.
ValueExample Select(const std::string& text, const std::string& value, int occurrence = 1) {
    std::size_t at = text.find(value);
    for (int i = 1; i < occurrence && at != std::string::npos; ++i) at = text.find(value, at + 1);
    EXPECT_NE(at, std::string::npos) << value;
    return {text, at == std::string::npos ? 0 : at, value.size()};
}

SelectionVariable Make(std::vector<ValueExample> examples, std::string field = "MSG_TEXT",
                       std::vector<std::string> taken = {}) {
    SelectionRequest r;
    r.field = std::move(field);
    r.examples = std::move(examples);
    r.takenNames = std::move(taken);
    return VariableFromSelection(r);
}

struct StartStopCase {
    const char* what;
    std::string text;
    std::string value;
    std::string start;
    std::string stop;
    std::string name;
};

TEST(SelectionVariable, StartsAndStopsByWhatStandsRoundTheValue) {
    const std::vector<StartStopCase> cases = {
        {"label on the line, value ends it", "Dear Bob,\r\n\r\nOrder number: 4701\r\nCustomer: Bob",
         "4701", "Order number:", "{End of Line}", "OrderNumber"},
        {"a word follows the value", "Total: 39.00 EUR\r\n", "39.00", "Total:", "EUR", "Total"},
        {"punctuation follows the value", "Ticket (T-100), opened\r\n", "T-100", "Ticket (", ")",
         "Ticket"},
        {"a number in the label is a value of its own", "Order 4701 shipped on 2026-03-03\r\n",
         "2026-03-03", "shipped on", "{End of Line}", "ShippedOn"},
        {"a \";\" cannot be stored: the label starts after it", "a;b Ref: X-1\n", "X-1",
         "b Ref:", "{End of Line}", "BRef"},
        {"value alone on its line: the line above says what it is",
         "Delivery address:\r\n\r\nAnn Smith\r\nPhone: 555", "Ann Smith",
         "Delivery address:", "Phone", "DeliveryAddress"},
        {"the line above, and the value is the end of the field", "Comment:\nNone at all",
         "None at all", "Comment:", "{End of Field}", "Comment"},
        {"nothing before the value in the field", "Order confirmation 4701", "Order confirmation",
         "{Beginning of Field}", "4701", "Subject"},
        {"the whole field", "Shop Orders", "Shop Orders", "{Beginning of Field}", "{End of Line}",
         "Subject"},
    };
    for (const StartStopCase& c : cases) {
        const SelectionVariable v = Make({Select(c.text, c.value)}, "MSG_SUBJECT");
        EXPECT_EQ(v.start, c.start) << c.what;
        EXPECT_EQ(v.stop, c.stop) << c.what;
        EXPECT_EQ(v.name, c.name) << c.what;
        EXPECT_EQ(v.confirmed, 1u) << c.what;
        ASSERT_EQ(v.values.size(), 1u) << c.what;
        EXPECT_EQ(v.values[0], c.value) << c.what;
        EXPECT_FALSE(v.matchCase) << c.what;
        EXPECT_FALSE(v.startOfLine) << c.what;
        EXPECT_FALSE(v.repeat) << c.what;
    }
}

// The label's first occurrence must be the one before the value: inside another word it is
// passed over by a whole-word start; a selection with blanks and line breaks round it is the
// value without them.
TEST(SelectionVariable, TheVariableCutsTheSelectedOccurrence) {
    const std::string text = "Subtotal: 30.00 EUR\r\nTotal: 39.00 EUR\r\n";
    SelectionVariable v = Make({Select(text, "39.00")});
    EXPECT_EQ(v.start, "Total:");
    EXPECT_TRUE(v.wholeWord);
    EXPECT_EQ(v.values.at(0), "39.00");

    const std::string order = "Order number: 4701\r\nCustomer: Bob\r\n";
    v = Make({{order, order.find(" 4701"), std::string(" 4701\r\n").size()}});
    EXPECT_EQ(v.selected.at(0), "4701");
    EXPECT_EQ(v.start, "Order number:");
    EXPECT_EQ(v.stop, "{End of Line}");
    EXPECT_FALSE(v.wholeWord);
}

TEST(SelectionVariable, NothingSelectedIsSaidAndMakesNoVariable) {
    const std::string text = "Order number: 4701\r\n\r\n";
    for (const ValueExample& e : std::vector<ValueExample>{
             {text, text.find("\r\n\r\n"), 4},  // line breaks only
             {text, 5, 0},                      // an empty selection
             {text, text.size() + 10, 3},       // past the end
         }) {
        const SelectionVariable v = Make({e});
        EXPECT_FALSE(v.problem.empty());
        EXPECT_TRUE(v.name.empty());
    }
    EXPECT_FALSE(Make({}).problem.empty());
    // A refining example that selects nothing is refused too.
    EXPECT_FALSE(Make({Select(text, "4701"), {text, 0, 0}}).problem.empty());
}

TEST(SelectionVariable, NamesComeFromTheLabelAndAreUnique) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"Order number:", "MSG_TEXT", "OrderNumber"},
        {"e-mail address", "MSG_TEXT", "EMailAddress"},
        {"Straße:", "MSG_TEXT", "Straße"},
        {"", "MSG_SUBJECT", "Subject"},
        {"", "SENDER_NAME", "SenderName"},
        {"", "MSG_HEADER:X-Order-Id", "XOrderId"},
        {"::", "ATTACHMENT", "Attachment"},
        {"", "", "Value"},
        // Whole words up to the limit; one longer word is cut.
        {"The reference number that the shop gave to this order", "MSG_TEXT",
         "TheReferenceNumberThatTheShopGaveToThis"},
        {std::string(50, 'x'), "MSG_TEXT", "X" + std::string(kMaxMadeNameBytes - 1, 'x')},
    };
    for (const auto& [label, field, name] : cases)
        EXPECT_EQ(NameFromLabel(label, field), name) << label;
    EXPECT_EQ(UniqueName("OrderNumber", {"Date", "ordernumber", " OrderNumber2 "}), "OrderNumber3");
    EXPECT_EQ(UniqueName("Total", {"Date"}), "Total");
    const std::string text = "Total: 39.00 EUR\r\n";
    EXPECT_EQ(Make({Select(text, "39.00")}, "MSG_TEXT", {"TOTAL"}).name, "Total2");
}

TEST(SelectionVariable, QuotesAndLineBreaksFollowTheValue) {
    const std::string text = "Customer: Jones, Bob\r\nAddress:\r\n12 High St\r\nLeeds\r\nEnd";
    SelectionRequest r;
    r.field = "MSG_TEXT";
    r.examples = {Select(text, "Jones, Bob")};
    EXPECT_TRUE(VariableFromSelection(r).useQuotes);
    r.delimiter = ";";
    EXPECT_FALSE(VariableFromSelection(r).useQuotes);
    r.examples = {Select(text, "12 High St\r\nLeeds")};
    const SelectionVariable v = VariableFromSelection(r);
    EXPECT_TRUE(v.removeLF);
    EXPECT_EQ(v.start, "Address:");
    EXPECT_EQ(v.stop, "End");
    EXPECT_EQ(v.confirmed, 1u);
}

// A second example narrows the label to the words both examples end it with, and where they
// share none the newer example decides. (The stop decided by a second example, and labels
// that differ between senders, are shown through the editor in pick_variable_qttest.)
TEST(SelectionVariable, AnotherExampleNarrowsTheLabel) {
    SelectionVariable v = Make({Select("Border no: 1\r\n", "1"), Select("Order no: 2\r\n", "2")});
    EXPECT_EQ(v.start, "no:");  // "order" is only partly common
    EXPECT_EQ(v.confirmed, 2u);
    v = Make({Select("Ref: A-1\r\n", "A-1"), Select("Code: B-2\r\n", "B-2")});
    EXPECT_EQ(v.start, "Code:");
    EXPECT_EQ(v.confirmed, 1u);
    EXPECT_EQ(v.values, (std::vector<std::string>{"", "B-2"}));
}

TEST(SelectionVariable, RepeatedBlockIsFoundAndCutAsALineItem) {
    const std::string text = "Order 7\r\nItem: Hose\r\n  item: Barrel\r\nItem: Can\r\nTotal: 3\r\n";
    SelectionRequest r;
    r.field = "MSG_TEXT";
    r.examples = {Select(text, "Barrel")};
    SelectionVariable v = VariableFromSelection(r);
    EXPECT_EQ(v.start, "item:");
    EXPECT_EQ(v.repeatedLines, 3u);
    EXPECT_EQ(v.confirmed, 0u);  // taken once, the variable gives the first item
    EXPECT_EQ(v.values.at(0), "Hose");
    r.repeat = true;
    v = VariableFromSelection(r);
    EXPECT_TRUE(v.repeat);
    EXPECT_EQ(v.confirmed, 1u);
    EXPECT_EQ(v.values.at(0), "Barrel");
    // One labelled line is no block.
    EXPECT_EQ(Make({Select(text, "3")}).repeatedLines, 1u);
}

TEST(SelectionVariable, ShapeDiffersForOtherKindsAndTenfoldLengths) {
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"4701", "4702", false},
        {"4701", "Bob Jones", true},   // letters where the sample was a number
        {"Ann Smith", "12", true},     // a number where the sample had letters
        {"39.00", "39.00 EUR", true},  // the unit came along
        {"Garden hose 20 m", "Rain barrel", false},
        {"A-1", "B-22", false},
        {"Bob", std::string(30, 'x'), true},  // ten times as long
        {std::string(30, 'x'), "Bob", true},
        {"Bob", std::string(29, 'x'), false},
        {"4701", "", false},  // nothing found is not a shape
        {"Straße", "Strasse", false},
    };
    for (const auto& [sample, value, differs] : cases)
        EXPECT_EQ(ShapeDiffers(sample, value), differs) << sample << " / " << value;
}

// The variables made from the values of the example mailbox's order mails give those values
// when a trial of the run applies them: the searches tried on the example are the run's.
TEST(SelectionVariable, TheRunGivesTheSelectedValue) {
    tallix::testing::IsolatedEnvironment env;
    tallix::testing::ScriptedUi ui;
    ResetSettings();
    const std::string mailbox =
        std::string(std::getenv("TALLIX_TEST_DATA")) + "/../../examples/sample-inbox.mbox";
    std::string problem;
    auto source = OpenMessageFile(mailbox, Settings(), MimeHost(), problem);
    ASSERT_TRUE(source) << problem;
    clsTemplate none;
    std::vector<TrialMessage> messages;
    TrySource(Settings(), none, *source, [&](const TrialMessage& m, std::int32_t) {
        messages.push_back(m);
        return true;
    });
    ASSERT_EQ(messages.size(), 30u);
    const TrialMessage& order = messages[2];
    ASSERT_EQ(order.subject, "Order confirmation 4701");

    struct Pick {
        std::string field;
        std::string text;
        std::string value;
    };
    const std::vector<Pick> picks = {
        {"MSG_TEXT", order.body, "4701"},
        {"MSG_TEXT", order.body, "Bob Jones"},
        {"MSG_TEXT", order.body, "Rain barrel"},
        {"MSG_TEXT", order.body, "39.00"},
        {"MSG_TEXT", order.body, "2"},
        {"MSG_TEXT", order.body, "garden shop"},
        {"MSG_SUBJECT", order.subject, "4701"},
        {"SENDER_NAME", order.senderName, "Shop Orders"},
        {"SENDER_ADDRESS", order.senderAddress, "orders@shop.example"},
    };
    clsTemplate tpl;
    std::vector<std::string> names;
    for (const Pick& p : picks) {
        SelectionRequest r;
        r.field = p.field;
        r.examples = {Select(p.text, p.value)};
        r.takenNames = names;
        const SelectionVariable v = VariableFromSelection(r);
        EXPECT_EQ(v.confirmed, 1u) << p.value;
        auto field = tpl.colFields()->Add();
        field->SetFieldName(v.name);
        field->SetFieldType(v.field);
        field->SetFindStart(v.start);
        field->SetFindStop(v.stop);
        field->SetUseQuotes(v.useQuotes ? kFlagOn : kFlagOff);
        field->SetRemoveLF(kFlagOff);
        field->SetMatchCase(kFlagOff);
        field->SetMatchWholeString(v.wholeWord ? kFlagOn : kFlagOff);
        field->SetStartOfLineOnly(kFlagOff);
        names.push_back(v.name);
    }
    tpl.SetVariableCount(tpl.colFields()->Count());
    tpl.SetOutputFile(env.ProgramDir() + "/out.csv");
    auto again = OpenMessageFile(mailbox, Settings(), MimeHost(), problem);
    ASSERT_TRUE(again) << problem;
    std::vector<TrialMessage> tried;
    TrySource(Settings(), tpl, *again, [&](const TrialMessage& m, std::int32_t) {
        tried.push_back(m);
        return true;
    });
    ASSERT_EQ(tried.size(), 30u);
    ASSERT_EQ(tried[2].variables.size(), picks.size());
    for (std::size_t i = 0; i < picks.size(); ++i)
        EXPECT_EQ(tried[2].variables[i].value, picks[i].value) << names[i];
}

}  // namespace
}  // namespace tallix::engine
