#include "model/html_codes.h"

#include <cstring>
#include <vector>

#include "settings/text_functions.h"

namespace tallix {
namespace {

constexpr std::array<std::string_view, kHtmlCodeCount> kHtmlCodes{
    "ABBREV",   "ACRONYM", "ADDRESS",  "APP",     "APPLET",  "AREA",     "AU",        "B",
    "BANNER",   "BASE",    "BASEFONT", "BDO",     "BGSOUND", "BIG",      "BLINK",     "BLOCKQUOTE",
    "BODY",     "BQ",      "BR",       "CAPTION", "CENTER",  "CITE",     "CODE",      "COL",
    "COLGROUP", "CREDIT",  "DD",       "DEL",     "DFN",     "DIR",      "DIV",       "DL",
    "DT",       "EM",      "EMBED",    "FN",      "FIG",     "FONT",     "FORM",      "FRAME",
    "FRAMESET", "H1",      "H2",       "H3",      "H4",      "H5",       "H6",        "HEAD",
    "HP",       "HR",      "HTML",     "I",       "IMG",     "INPUT",    "INS",       "ISINDEX",
    "KBD",      "LANG",    "LH",       "LI",      "LINK",    "LISTING",  "MAP",       "MARQUEE",
    "MENU",     "META",    "NEXTID",   "NOBR",    "NOEMBED", "NOFRAMES", "NOTE",      "OL",
    "OPTION",   "OVERLAY", "P",        "PARAM",   "PERSON",  "phrase",   "PLAINTEXT", "PRE",
    "Q",        "S",       "SAMP",     "SELECT",  "SMALL",   "SPAN",     "STRIKE",    "STRONG",
    "SUB",      "SUP",     "TAB",      "TABLE",   "TBODY",   "TD",       "TEXTAREA",  "TFOOT",
    "TH",       "THEAD",   "TITLE",    "TR",      "TT",      "U",        "UL",        "URL",
    "VAR",      "WBR",     "XMP",
};

constexpr std::string_view kEntityQuot = "&quot";
constexpr std::string_view kEntityNbsp = "&nbsp";
static_assert(kEntityQuot.size() == kEntityNbsp.size());

// The table names grouped by their upper-cased first letter, so that recognising a tag
// compares only the names that can match.
class TagIndex {
  public:
    TagIndex() {
        for (std::string_view name : kHtmlCodes) {
            m_byFirst[static_cast<unsigned char>(UpperAscii(name.front()))].push_back(name);
        }
    }
    bool StartsWithName(std::string_view text) const {
        if (text.empty()) return false;
        for (std::string_view name :
             m_byFirst[static_cast<unsigned char>(UpperAscii(text.front()))]) {
            if (name.size() <= text.size() && EqualsNoCase(text.substr(0, name.size()), name)) {
                return true;
            }
        }
        return false;
    }

  private:
    std::array<std::vector<std::string_view>, 256> m_byFirst;
};

const TagIndex& Index() {
    static const TagIndex index;
    return index;
}

bool OnlySpaces(std::string_view s) {
    return s.find_first_not_of(' ') == std::string_view::npos;
}

}  // namespace

const std::array<std::string_view, kHtmlCodeCount>& HtmlCodeTable() {
    return kHtmlCodes;
}

bool IsRecognisedTag(std::string_view inner) {
    std::size_t i = 0;
    while (i < inner.size() && inner[i] == ' ') ++i;
    if (i < inner.size() && inner[i] == '/') ++i;
    return Index().StartsWithName(inner.substr(i));
}

std::string StripHtml(std::string_view body) {
    if (OnlySpaces(body)) return std::string(body);
    std::string out;
    out.reserve(body.size());
    std::size_t copied = 0;  // body[0, copied) is settled and in `out`
    const std::size_t n = body.size();
    for (;;) {
        const std::size_t lt = body.find('<', copied);
        // No "<", or a lone "<" that ends the text: nothing more to cut.
        if (lt == std::string_view::npos || lt + 1 == n) break;
        const std::size_t gt = body.find('>', lt);
        if (gt == std::string_view::npos) break;
        // Text before the tag stays; a recognised tag goes, an unrecognised one stays whole.
        // Either way the search goes on after the ">": a "<" inside an unrecognised span is
        // never a tag of its own.
        const bool cut = IsRecognisedTag(body.substr(lt + 1, gt - lt - 1));
        out.append(body.substr(copied, (cut ? lt : gt + 1) - copied));
        copied = gt + 1;
    }
    out.append(body.substr(copied));
    return ReplaceHtmlEntities(out);
}

std::string ReplaceHtmlEntities(std::string_view body) {
    if (OnlySpaces(body)) return std::string(body);
    std::string out;
    out.reserve(body.size());
    std::size_t copied = 0;
    const std::size_t n = body.size();
    const std::size_t len = kEntityQuot.size();
    for (std::size_t amp = body.find('&'); amp != std::string_view::npos;
         amp = body.find('&', amp)) {
        if (n - amp < len) break;
        std::string_view candidate = body.substr(amp, len);
        char replacement = 0;
        if (EqualsNoCase(candidate, kEntityQuot)) {
            replacement = '"';
        } else if (EqualsNoCase(candidate, kEntityNbsp)) {
            replacement = ' ';
        }
        if (replacement == 0) {
            ++amp;
            continue;
        }
        out.append(body.substr(copied, amp - copied));
        out.push_back(replacement);
        amp += len;
        copied = amp;
    }
    out.append(body.substr(copied));
    return out;
}

}  // namespace tallix
