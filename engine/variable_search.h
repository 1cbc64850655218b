#pragma once
// The search of a variable, prepared once from its start and stop texts and flags.

#include <memory>
#include <string>
#include <unordered_map>

#include "engine/extraction_text.h"

namespace tallix {
class clsExportField;
class clsTemplate;
class CompiledPattern;
}  // namespace tallix

namespace tallix::engine {

// A variable's search as the extraction runs it. When case does not matter the search
// strings are upper-cased and the field's upper-cased text is searched; the value is then cut
// from the text as it stands (upper-casing keeps every position).
struct VariableSearch {
    std::string field;
    bool ignoreCase = false;
    std::string start;
    std::string stop;
    SearchMark startMark = SearchMark::Text;  // what `start` and `stop` stand for
    SearchMark stopMark = SearchMark::Text;
    std::string wholeWord;       // "0": the start string may stand inside a word
    bool lineStartOnly = false;  // only a start string that begins a line counts
    // The variable's regular expression, searched instead of the start and stop texts (the
    // field's own text, "Match Case" compiled in); `patternText` set and `pattern` null when
    // it does not compile.
    std::string patternText;
    std::shared_ptr<const CompiledPattern> pattern;
};

// The searches of the variables in use, each made once per variable: without scripts one copy
// of each template serves every message, and reading and upper-casing its search texts again
// for every message was a good part of the extraction's time. An entry counts only while its
// variable lives; a template read again, or copied for scripts or a trial, brings new
// variables.
class VariableSearches {
  public:
    // The search of `variable` of `tpl` (its pattern, and how its dates are written, are the
    // template's).
    const VariableSearch& For(const std::shared_ptr<clsExportField>& variable,
                              const clsTemplate& tpl);

  private:
    struct Kept {
        std::weak_ptr<clsExportField> variable;
        VariableSearch search;
    };
    std::unordered_map<const clsExportField*, Kept> m_kept;
};

}  // namespace tallix::engine
