// The body clean-up: the one-pass tag and entity removal gives the same bytes as the slow
// loops it replaces (find the first match, rebuild the text, search again).

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "model/html_text.h"
#include "model/message.h"
#include "settings/text_functions.h"
#include "tests/support/literal_html.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The literal loops are quadratic; longer bodies only slow the search down.
    if (size > 8192) return 0;
    tallix::fuzz::Environment();
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::string stripped = tallix::StripHtml(body);
    FUZZ_CHECK(stripped == tallix::testing::LiteralStrip(body), body);
    FUZZ_CHECK(tallix::ReplaceHtmlEntities(body) == tallix::testing::LiteralReplace(body), body);
    tallix::txMessage m;
    m.SetBody(body);
    FUZZ_CHECK(m.Body() == stripped, body);
    return 0;
}
