// The Maildir message reader over any bytes: it never fails, hands back at most the parts its
// limits allow, and the text it gives the record is UTF-8 in CR LF lines. The HTML-to-text
// step and the character-set conversion get the same bytes on their own.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "model/html_text.h"
#include "sources/maildir_reader.h"

using namespace tallix::sources::maildir;

namespace {

bool BareLineFeedOrCr(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return true;
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)tallix::fuzz::Environment();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const ParsedMessage m = ParseMessageBytes(bytes);
    FUZZ_CHECK(m.attachments.size() <= kMaxMessageParts, "more attachments than the part limit");
    FUZZ_CHECK(m.notes.size() <= 3, "a note repeated");
    FUZZ_CHECK(!BareLineFeedOrCr(m.text), "text with a line end that is not CR LF");
    FUZZ_CHECK(ToUtf8(m.text, "utf-8") == m.text, "text that is not UTF-8");
    FUZZ_CHECK(m.parsed || m.attachments.empty(), "attachments from bytes that are no message");

    const std::string html = tallix::HtmlShownText(bytes);
    // An entity never writes more than it takes (at most four bytes for "&#1;"-like ones).
    FUZZ_CHECK(html.size() <= bytes.size() + 1, "HTML text longer than the HTML");
    const std::string latin = ToUtf8(bytes, "iso-8859-1");
    FUZZ_CHECK(latin.size() <= 2 * bytes.size(), "ISO-8859-1 grew past two bytes a character");
    FUZZ_CHECK(ToUtf8(bytes, "windows-1252").size() <= 3 * bytes.size(),
               "windows-1252 grew too much");
    return 0;
}
