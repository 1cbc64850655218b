// The text routines of extraction and of the output line over any field text and any start
// and stop strings: positions stay inside the text, a start position follows a real
// occurrence, and the filters leave what they promise.

#include <cstdint>
#include <string>

#include "engine/extraction_text.h"
#include "fuzz/fuzz_support.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"

using namespace tallix::engine;

namespace {

bool IsBreakOrTab(char c) {
    return c == '\r' || c == '\n' || c == '\t';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tallix::fuzz::Environment();
    tallix::fuzz::TrimLogs();
    const auto parts = tallix::fuzz::SplitInput(data, size, 4);
    const std::string_view start = parts[0], text = parts[1], stop = parts[2];

    for (std::string_view whole : {"0", "1"}) {
        const std::size_t s = FindStartPos(start, text, whole);
        FUZZ_CHECK(s <= text.size() + 1, text);
        const bool marker =
            tallix::TrimView(start).empty() || tallix::EqualsNoCase(start, "{Beginning of Field}");
        if (s > 0 && !marker) {
            FUZZ_CHECK(s > start.size() && text.substr(s - 1 - start.size(), start.size()) == start,
                       text);
            if (whole == "1") FUZZ_CHECK(IsWholeWord(s - start.size(), start.size(), text), text);
        }
        const std::size_t e = FindStopPos(stop, text, s);
        FUZZ_CHECK(e == 0 || e <= text.size() + 1, text);
    }

    const std::string lf = StripLF(text);
    FUZZ_CHECK(lf.find_first_of("\r\n") == std::string::npos, lf);
    const std::string extras = StripExtras(text);
    FUZZ_CHECK(extras.find("  ") == std::string::npos, extras);
    FUZZ_CHECK(extras.empty() || (extras.front() != ' ' && extras.back() != ' '), extras);
    FUZZ_CHECK(StripExtras(extras) == extras, extras);
    const std::string trimmed = TrimLineBreaks(text);
    FUZZ_CHECK(trimmed.empty() || (!IsBreakOrTab(trimmed.front()) && !IsBreakOrTab(trimmed.back())),
               trimmed);
    FUZZ_CHECK(ChangeQuotes(text).find('"') == std::string::npos, text);

    std::string html(text);
    errStripHtml(html);
    FUZZ_CHECK(html.size() <= text.size(), html);
    FUZZ_CHECK(tallix::InStr(1, html, "&nbsp;", tallix::Compare::Text) == 0, html);
    FUZZ_CHECK(tallix::Err().number == 0, tallix::Err().description);
    (void)DatePart(text);
    (void)DelimiterFor(parts[3], ",");
    return 0;
}
