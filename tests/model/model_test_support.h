#pragma once
// Shared helpers of the model tests: an isolated program directory whose error log the
// tests read, and member-by-member comparison of templates.

#include <gtest/gtest.h>

#include <string>

#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::testing {

// Reports are logged without boxes, as in an engine run; a test that looks at the boxes
// switches silent mode off.
class ModelTest : public ::testing::Test {
  protected:
    ModelTest() { SetSilentMode(true); }
    std::string ErrorLog() const { return env.ReadProgramFile(std::string(kErrorLog)); }
    bool Logged(std::string_view context) const {
        return ErrorLog().find(" " + std::string(context) + "\r\n") != std::string::npos ||
               ErrorLog().find(" " + std::string(context) + "\nError#") != std::string::npos;
    }
    IsolatedEnvironment env;
    ScriptedUi ui;
};

// Every member a template file carries, with the variables as their definition lines.
inline std::string Describe(const clsTemplate& t) {
    std::string d;
    d += "Active=" + std::to_string(t.Active()) + "\n";
    d += "AllowDuplicate=" + std::to_string(t.AllowDuplicate()) + "\n";
    d += "LastRan=" + t.LastRan() + "\n";
    d += "Scripts=" + t.ScriptsToRun() + "\n";
    d += "OutputFile=" + t.OutputFile() + "\n";
    d += "Delimiter=" + t.OutputDeliminator() + "\n";
    d += "OutputLineCount=" + std::to_string(t.OutputLineCount()) + "\n";
    d += "VariableCount=" + std::to_string(t.VariableCount()) + "\n";
    if (auto f = t.objFilter()) d += "Filter=" + f->MapiField() + "|" + f->FindString() + "\n";
    if (auto lines = t.colOutPutLines()) {
        for (const std::string& line : *lines) d += "Line=" + line + "\n";
    }
    for (const auto& v : t.colFields()->NewEnum()) {
        d += "Var=" + v->FieldName() + "|" + v->FieldType() + "|" + v->FindStart() + "|" +
             v->FindStop() + "|" + v->UseQuotes() + v->RemoveLF() + v->MatchCase() +
             v->MatchWholeString() + v->StartOfLineOnly() + "\n";
    }
    d += "Format=" + t.OutputFormat() + "|" + std::to_string(t.PerAttachment()) +
         std::to_string(t.FormulaGuard()) + std::to_string(t.ByteOrderMark()) +
         std::to_string(t.HeaderRow()) + "|" + t.DateFormat() + "\n";
    d += "Repeat=" + t.RepeatItems() + "\n";
    for (const auto& [name, pattern] : t.Patterns()) d += "Pattern=" + name + "|" + pattern + "\n";
    return d;
}

}  // namespace tallix::testing
