// Template files as they lie in the template directory: reading any bytes gives a template
// without a crash or a long loop (patterns that do not compile included), each variable's
// definition reads back the same from the text it is written as, and the template can be
// written to a new file and read again with the same output keys, repeats and patterns.

#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "model/export_field.h"
#include "model/object_collections.h"
#include "model/template.h"
#include "settings/error_reporter.h"

using namespace tallix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& sandbox = fuzz::Environment();
    fuzz::TrimLogs();
    const std::string path = sandbox.work + "/fuzzed.txf";
    fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

    clsTemplate read;
    read.SetFileName(path);
    read.ReadTemplate();
    const long count = read.colFields()->Count();
    for (long i = 1; i <= count; ++i) {
        const std::string text = read.MakeVarString(i);
        clsTemplate again;
        again.ParseFieldString(text);
        FUZZ_CHECK(again.colFields()->Count() == 1, text);
        FUZZ_CHECK(again.MakeVarString(1) == text, text);
    }

    // Writing a key looks through the lines already in the document, so a template of many
    // thousand variables takes minutes to write; that cost is known and is left out here so
    // that the search keeps moving.
    if (read.VariableCount() > 2000 || read.OutputLineCount() > 2000) {
        Err().Clear();
        return 0;
    }
    const std::string copy = sandbox.work + "/copy.txf";
    read.SetFileName(copy);
    read.WriteTemplateFile(true);
    clsTemplate reread;
    reread.SetFileName(copy);
    reread.ReadTemplate();
    FUZZ_CHECK(reread.VariableCount() == read.VariableCount(), copy);
    FUZZ_CHECK(reread.Active() == read.Active(), copy);
    FUZZ_CHECK(reread.OutputFormat() == read.OutputFormat(), copy);
    FUZZ_CHECK(reread.PerAttachment() == read.PerAttachment(), copy);
    FUZZ_CHECK(reread.FormulaGuard() == read.FormulaGuard(), copy);
    FUZZ_CHECK(reread.ByteOrderMark() == read.ByteOrderMark(), copy);
    FUZZ_CHECK(reread.HeaderRow() == read.HeaderRow(), copy);
    FUZZ_CHECK(reread.DateFormat() == read.DateFormat(), copy);
    FUZZ_CHECK(reread.RepeatItems() == read.RepeatItems(), copy);
    FUZZ_CHECK(reread.Patterns() == read.Patterns(), copy);
    FUZZ_CHECK(reread.PatternProblem() == read.PatternProblem(), copy);
    Err().Clear();
    return 0;
}
