#pragma once
// The context text each engine procedure hands the error reporter: "Sub " + the procedure's
// name + ":", some with the blank after the colon that their reports have always carried.
// They stand here once, so a procedure cannot report under a mistyped name or another's; the
// checks below refuse an entry of any other shape when the engine is compiled.

#include <string_view>

namespace tallix::engine::context {

constexpr bool IsSubContext(std::string_view text) {
    if (!text.starts_with("Sub ") || text.size() < 6) return false;
    std::string_view name = text.substr(4);
    if (name.ends_with(": "))
        name.remove_suffix(2);
    else if (name.ends_with(':'))
        name.remove_suffix(1);
    else
        return false;
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return !name.empty();
}

#define TALLIX_SUB_CONTEXT(name, text)             \
    inline constexpr std::string_view name = text; \
    static_assert(IsSubContext(name), "an engine context is \"Sub \" + a name + \":\"")

TALLIX_SUB_CONTEXT(kCalcPrgValue, "Sub CalcPrgValue:");
TALLIX_SUB_CONTEXT(kChangeQuotes, "Sub ChangeQuotes:");
TALLIX_SUB_CONTEXT(kCreateOutputString, "Sub CreateOutputString:");
TALLIX_SUB_CONTEXT(kDeleteTempFiles, "Sub DeleteTempFiles:");
TALLIX_SUB_CONTEXT(kDoGUIStatus, "Sub DoGUIStatus:");
TALLIX_SUB_CONTEXT(kDoParsing, "Sub DoParsing:");
TALLIX_SUB_CONTEXT(kDoScripts, "Sub DoScripts: ");
TALLIX_SUB_CONTEXT(kErrStripHtml, "Sub errStripHtml: ");
TALLIX_SUB_CONTEXT(kFindStartPos, "Sub FindStartPos:");
TALLIX_SUB_CONTEXT(kFindStopPos, "Sub FindStopPos:");
TALLIX_SUB_CONTEXT(kGetCmdLnArgs, "Sub GetCmdLnArgs: ");
TALLIX_SUB_CONTEXT(kGetDateString, "Sub GetDateString:");
TALLIX_SUB_CONTEXT(kGetSources, "Sub GetSources:");
TALLIX_SUB_CONTEXT(kGetTemplateFiles, "Sub GetTemplateFiles:");
TALLIX_SUB_CONTEXT(kGetValue, "Sub GetValue:");
TALLIX_SUB_CONTEXT(kInitApp, "Sub InitApp:");
TALLIX_SUB_CONTEXT(kIsDuplicate, "Sub IsDuplicate:");
TALLIX_SUB_CONTEXT(kIsWholeWord, "Sub IsWholeWord: ");
TALLIX_SUB_CONTEXT(kLogSystem, "Sub LogSystem:");
TALLIX_SUB_CONTEXT(kMatchesFilter, "Sub MatchesFilter:");
TALLIX_SUB_CONTEXT(kParseMessage, "Sub ParseMessage:");
TALLIX_SUB_CONTEXT(kParseVariable, "Sub ParseVariable:");
TALLIX_SUB_CONTEXT(kRunSources, "Sub RunSources:");
TALLIX_SUB_CONTEXT(kSetDelimiter, "Sub SetDelimiter:");
TALLIX_SUB_CONTEXT(kSetLastRan, "Sub SetLastRan:");
TALLIX_SUB_CONTEXT(kStripExtras, "Sub StripExtras:");
TALLIX_SUB_CONTEXT(kStripLF, "Sub StripLF: ");
TALLIX_SUB_CONTEXT(kTryTemplate, "Sub TryTemplate:");

#undef TALLIX_SUB_CONTEXT

}  // namespace tallix::engine::context
