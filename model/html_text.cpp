#include "model/html_text.h"

#include <algorithm>
#include <cctype>
#include <span>
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

// An entity the literal rules replace, matched without regard to case.
struct LiteralEntity {
    std::string_view text;
    char replacement;
};
// The record's body: the names without their ";".
constexpr LiteralEntity kBodyEntities[] = {{"&quot", '"'}, {"&nbsp", ' '}};
// An attachment's text: the non-breaking space with its ";".
constexpr LiteralEntity kAttachmentEntities[] = {{"&nbsp;", ' '}};

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

// The one tag scanner of the literal rules: walks the complete tags ("<" up to the next ">")
// from left to right and keeps the text without the tags for which `cut(inner)` is true.
// Either way the search goes on after the ">": a "<" inside a kept span is never a tag of its
// own. A "<" without a ">" after it (a lone "<" at the end included) ends the walk.
template <class Cut>
std::string RemoveTags(std::string_view text, Cut&& cut) {
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;  // text[0, copied) is settled and in `out`
    for (;;) {
        const std::size_t lt = text.find('<', copied);
        if (lt == std::string_view::npos) break;
        const std::size_t gt = text.find('>', lt);
        if (gt == std::string_view::npos) break;
        const bool goes = cut(text.substr(lt + 1, gt - lt - 1));
        out.append(text.substr(copied, (goes ? lt : gt + 1) - copied));
        copied = gt + 1;
    }
    out.append(text.substr(copied));
    return out;
}

// The one entity replacer of the literal rules: each occurrence of an entity of `entities`,
// left to right, becomes its replacement character.
std::string ReplaceEntities(std::string_view text, std::span<const LiteralEntity> entities) {
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t amp = text.find('&'); amp != std::string_view::npos;
         amp = text.find('&', amp)) {
        const LiteralEntity* found = nullptr;
        for (const LiteralEntity& e : entities) {
            if (text.size() - amp >= e.text.size() &&
                EqualsNoCase(text.substr(amp, e.text.size()), e.text)) {
                found = &e;
                break;
            }
        }
        if (!found) {
            ++amp;
            continue;
        }
        out.append(text.substr(copied, amp - copied));
        out.push_back(found->replacement);
        amp += found->text.size();
        copied = amp;
    }
    out.append(text.substr(copied));
    return out;
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
    return ReplaceEntities(RemoveTags(body, IsRecognisedTag), kBodyEntities);
}

std::string ReplaceHtmlEntities(std::string_view body) {
    if (OnlySpaces(body)) return std::string(body);
    return ReplaceEntities(body, kBodyEntities);
}

std::string StripAllTags(std::string_view text, const std::function<void()>& progress) {
    std::size_t removed = 0;
    std::string out = RemoveTags(text, [&](std::string_view) {
        if (++removed % kTagsPerProgress == 0 && progress) progress();
        return true;
    });
    if (removed && progress) progress();
    return ReplaceEntities(out, kAttachmentEntities);
}

// ---- The text a document shows ---------------------------------------------------------------

namespace {

struct NamedEntity {
    std::string_view name;
    std::uint32_t codePoint;
};
// The named character references of HTML 4 (252), by name in exact case.
constexpr NamedEntity kNamedEntities[] = {
    {"AElig", 0xC6},     {"Aacute", 0xC1},    {"Acirc", 0xC2},    {"Agrave", 0xC0},
    {"Alpha", 0x391},    {"Aring", 0xC5},     {"Atilde", 0xC3},   {"Auml", 0xC4},
    {"Beta", 0x392},     {"Ccedil", 0xC7},    {"Chi", 0x3A7},     {"Dagger", 0x2021},
    {"Delta", 0x394},    {"ETH", 0xD0},       {"Eacute", 0xC9},   {"Ecirc", 0xCA},
    {"Egrave", 0xC8},    {"Epsilon", 0x395},  {"Eta", 0x397},     {"Euml", 0xCB},
    {"Gamma", 0x393},    {"Iacute", 0xCD},    {"Icirc", 0xCE},    {"Igrave", 0xCC},
    {"Iota", 0x399},     {"Iuml", 0xCF},      {"Kappa", 0x39A},   {"Lambda", 0x39B},
    {"Mu", 0x39C},       {"Ntilde", 0xD1},    {"Nu", 0x39D},      {"OElig", 0x152},
    {"Oacute", 0xD3},    {"Ocirc", 0xD4},     {"Ograve", 0xD2},   {"Omega", 0x3A9},
    {"Omicron", 0x39F},  {"Oslash", 0xD8},    {"Otilde", 0xD5},   {"Ouml", 0xD6},
    {"Phi", 0x3A6},      {"Pi", 0x3A0},       {"Prime", 0x2033},  {"Psi", 0x3A8},
    {"Rho", 0x3A1},      {"Scaron", 0x160},   {"Sigma", 0x3A3},   {"THORN", 0xDE},
    {"Tau", 0x3A4},      {"Theta", 0x398},    {"Uacute", 0xDA},   {"Ucirc", 0xDB},
    {"Ugrave", 0xD9},    {"Upsilon", 0x3A5},  {"Uuml", 0xDC},     {"Xi", 0x39E},
    {"Yacute", 0xDD},    {"Yuml", 0x178},     {"Zeta", 0x396},    {"aacute", 0xE1},
    {"acirc", 0xE2},     {"acute", 0xB4},     {"aelig", 0xE6},    {"agrave", 0xE0},
    {"alefsym", 0x2135}, {"alpha", 0x3B1},    {"amp", 0x26},      {"and", 0x2227},
    {"ang", 0x2220},     {"aring", 0xE5},     {"asymp", 0x2248},  {"atilde", 0xE3},
    {"auml", 0xE4},      {"bdquo", 0x201E},   {"beta", 0x3B2},    {"brvbar", 0xA6},
    {"bull", 0x2022},    {"cap", 0x2229},     {"ccedil", 0xE7},   {"cedil", 0xB8},
    {"cent", 0xA2},      {"chi", 0x3C7},      {"circ", 0x2C6},    {"clubs", 0x2663},
    {"cong", 0x2245},    {"copy", 0xA9},      {"crarr", 0x21B5},  {"cup", 0x222A},
    {"curren", 0xA4},    {"dArr", 0x21D3},    {"dagger", 0x2020}, {"darr", 0x2193},
    {"deg", 0xB0},       {"delta", 0x3B4},    {"diams", 0x2666},  {"divide", 0xF7},
    {"eacute", 0xE9},    {"ecirc", 0xEA},     {"egrave", 0xE8},   {"empty", 0x2205},
    {"emsp", 0x2003},    {"ensp", 0x2002},    {"epsilon", 0x3B5}, {"equiv", 0x2261},
    {"eta", 0x3B7},      {"eth", 0xF0},       {"euml", 0xEB},     {"euro", 0x20AC},
    {"exist", 0x2203},   {"fnof", 0x192},     {"forall", 0x2200}, {"frac12", 0xBD},
    {"frac14", 0xBC},    {"frac34", 0xBE},    {"frasl", 0x2044},  {"gamma", 0x3B3},
    {"ge", 0x2265},      {"gt", 0x3E},        {"hArr", 0x21D4},   {"harr", 0x2194},
    {"hearts", 0x2665},  {"hellip", 0x2026},  {"iacute", 0xED},   {"icirc", 0xEE},
    {"iexcl", 0xA1},     {"igrave", 0xEC},    {"image", 0x2111},  {"infin", 0x221E},
    {"int", 0x222B},     {"iota", 0x3B9},     {"iquest", 0xBF},   {"isin", 0x2208},
    {"iuml", 0xEF},      {"kappa", 0x3BA},    {"lArr", 0x21D0},   {"lambda", 0x3BB},
    {"lang", 0x2329},    {"laquo", 0xAB},     {"larr", 0x2190},   {"lceil", 0x2308},
    {"ldquo", 0x201C},   {"le", 0x2264},      {"lfloor", 0x230A}, {"lowast", 0x2217},
    {"loz", 0x25CA},     {"lrm", 0x200E},     {"lsaquo", 0x2039}, {"lsquo", 0x2018},
    {"lt", 0x3C},        {"macr", 0xAF},      {"mdash", 0x2014},  {"micro", 0xB5},
    {"middot", 0xB7},    {"minus", 0x2212},   {"mu", 0x3BC},      {"nabla", 0x2207},
    {"nbsp", 0xA0},      {"ndash", 0x2013},   {"ne", 0x2260},     {"ni", 0x220B},
    {"not", 0xAC},       {"notin", 0x2209},   {"nsub", 0x2284},   {"ntilde", 0xF1},
    {"nu", 0x3BD},       {"oacute", 0xF3},    {"ocirc", 0xF4},    {"oelig", 0x153},
    {"ograve", 0xF2},    {"oline", 0x203E},   {"omega", 0x3C9},   {"omicron", 0x3BF},
    {"oplus", 0x2295},   {"or", 0x2228},      {"ordf", 0xAA},     {"ordm", 0xBA},
    {"oslash", 0xF8},    {"otilde", 0xF5},    {"otimes", 0x2297}, {"ouml", 0xF6},
    {"para", 0xB6},      {"part", 0x2202},    {"permil", 0x2030}, {"perp", 0x22A5},
    {"phi", 0x3C6},      {"pi", 0x3C0},       {"piv", 0x3D6},     {"plusmn", 0xB1},
    {"pound", 0xA3},     {"prime", 0x2032},   {"prod", 0x220F},   {"prop", 0x221D},
    {"psi", 0x3C8},      {"quot", 0x22},      {"rArr", 0x21D2},   {"radic", 0x221A},
    {"rang", 0x232A},    {"raquo", 0xBB},     {"rarr", 0x2192},   {"rceil", 0x2309},
    {"rdquo", 0x201D},   {"real", 0x211C},    {"reg", 0xAE},      {"rfloor", 0x230B},
    {"rho", 0x3C1},      {"rlm", 0x200F},     {"rsaquo", 0x203A}, {"rsquo", 0x2019},
    {"sbquo", 0x201A},   {"scaron", 0x161},   {"sdot", 0x22C5},   {"sect", 0xA7},
    {"shy", 0xAD},       {"sigma", 0x3C3},    {"sigmaf", 0x3C2},  {"sim", 0x223C},
    {"spades", 0x2660},  {"sub", 0x2282},     {"sube", 0x2286},   {"sum", 0x2211},
    {"sup", 0x2283},     {"sup1", 0xB9},      {"sup2", 0xB2},     {"sup3", 0xB3},
    {"supe", 0x2287},    {"szlig", 0xDF},     {"tau", 0x3C4},     {"there4", 0x2234},
    {"theta", 0x3B8},    {"thetasym", 0x3D1}, {"thinsp", 0x2009}, {"thorn", 0xFE},
    {"tilde", 0x2DC},    {"times", 0xD7},     {"trade", 0x2122},  {"uArr", 0x21D1},
    {"uacute", 0xFA},    {"uarr", 0x2191},    {"ucirc", 0xFB},    {"ugrave", 0xF9},
    {"uml", 0xA8},       {"upsih", 0x3D2},    {"upsilon", 0x3C5}, {"uuml", 0xFC},
    {"weierp", 0x2118},  {"xi", 0x3BE},       {"yacute", 0xFD},   {"yen", 0xA5},
    {"yuml", 0xFF},      {"zeta", 0x3B6},     {"zwj", 0x200D},    {"zwnj", 0x200C},
};
// Those whose name is also recognised in any case ("&AMP;"), as mail programs do.
constexpr std::string_view kAnyCaseEntities[] = {"amp",   "lt",    "gt",    "quot",  "apos",
                                                 "nbsp",  "copy",  "reg",   "euro",  "hellip",
                                                 "ndash", "mdash", "laquo", "raquo", "trade"};

// Decodes the entity that starts at html[at] ('&'); returns the bytes consumed (0: not one).
std::size_t DecodeEntity(std::string_view html, std::size_t at, std::string& out) {
    // Entity names and numbers are short; only the next few bytes are looked at, so a text
    // full of "&" without ";" stays linear.
    constexpr std::size_t kLongestEntity = 10;
    const std::size_t near = html.substr(at + 1, kLongestEntity).find(';');
    if (near == std::string_view::npos) return 0;
    const std::size_t semi = at + 1 + near;
    const std::string_view body = html.substr(at + 1, semi - at - 1);
    if (body.size() >= 2 && body[0] == '#') {
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        std::uint32_t cp = 0;
        for (const char c : digits) {
            int v;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            else
                return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
            if (cp > 0x10FFFF) cp = 0x110000;  // stays out of range, no overflow
        }
        // "&#0;" is not a character a document can show.
        AppendUtf8(out, cp == 0 ? 0xFFFD : cp);
        return semi - at + 1;
    }
    const auto named = [&](std::string_view name) -> std::uint32_t {
        const auto* end = std::end(kNamedEntities);
        const auto* it =
            std::lower_bound(std::begin(kNamedEntities), end, name,
                             [](const NamedEntity& e, std::string_view n) { return e.name < n; });
        return it != end && it->name == name ? it->codePoint : 0;
    };
    std::uint32_t cp = named(body);
    if (cp == 0) {
        const std::string lower = LCase(body);
        for (const std::string_view e : kAnyCaseEntities) {
            if (lower == e) cp = named(e);
        }
    }
    if (cp == 0) return 0;
    // A no-break space shows as a blank.
    AppendUtf8(out, cp == 0xA0 ? ' ' : cp);
    return semi - at + 1;
}

bool IsBlockTag(std::string_view name) {
    static constexpr std::string_view kBlocks[] = {
        "br", "p",     "div",        "tr",  "li", "h1", "h2", "h3", "h4", "h5",
        "h6", "table", "blockquote", "pre", "hr", "ul", "ol", "dt", "dd"};
    for (const std::string_view b : kBlocks) {
        if (name == b) return true;
    }
    return false;
}

}  // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string DecodeCharacterReferences(std::string_view text) {
    std::size_t amp = text.find('&');
    if (amp == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (; amp != std::string_view::npos; amp = text.find('&', amp)) {
        out.append(text.substr(copied, amp - copied));
        const std::size_t used = DecodeEntity(text, amp, out);
        if (used == 0) {
            out.push_back('&');
            ++amp;
        } else {
            amp += used;
        }
        copied = amp;
    }
    out.append(text.substr(copied));
    return out;
}

std::string HtmlShownText(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    bool pendingBlank = false;  // runs of white space show as one blank
    auto lineBreak = [&] {
        while (!out.empty() && out.back() == ' ') out.pop_back();
        out += '\n';
        pendingBlank = false;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                const std::size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            const std::size_t close = html.find('>', i + 1);
            if (close == std::string_view::npos) break;  // an unfinished tag ends the text
            std::size_t n = i + 1;
            const bool closing = n < close && html[n] == '/';
            if (closing) ++n;
            std::size_t nameEnd = n;
            while (nameEnd < close && std::isalnum(static_cast<unsigned char>(html[nameEnd])))
                ++nameEnd;
            const std::string name = LCase(html.substr(n, nameEnd - n));
            i = close + 1;
            if (!closing &&
                (name == "head" || name == "style" || name == "script" || name == "title")) {
                // What these hold is never shown; skip to their end tag.
                const std::size_t end = InStr(i + 1, html, "</" + name, Compare::Text);
                if (end == 0) break;
                const std::size_t endClose = html.find('>', end - 1);
                i = endClose == std::string_view::npos ? html.size() : endClose + 1;
                continue;
            }
            // A line break always ends a line; other blocks end the line they follow, once.
            if (name == "br" || (IsBlockTag(name) && !out.empty() && out.back() != '\n'))
                lineBreak();
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            if (!out.empty() && out.back() != '\n') pendingBlank = true;
            ++i;
            continue;
        }
        if (pendingBlank) {
            out += ' ';
            pendingBlank = false;
        }
        if (c == '&') {
            if (const std::size_t used = DecodeEntity(html, i, out); used != 0) {
                i += used;
                continue;
            }
        }
        out.push_back(c);
        ++i;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
    return out;
}

}  // namespace tallix
