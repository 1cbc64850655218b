#include "model/html_text.h"

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
constexpr NamedEntity kNamedEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},     {"quot", '"'},    {"apos", '\''},
    {"nbsp", ' '},     {"copy", 0xA9},    {"reg", 0xAE},   {"euro", 0x20AC}, {"hellip", 0x2026},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"laquo", 0xAB}, {"raquo", 0xBB},  {"trade", 0x2122},
};

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
    const std::string lower = LCase(body);
    for (const NamedEntity& e : kNamedEntities) {
        if (lower == e.name) {
            AppendUtf8(out, e.codePoint);
            return semi - at + 1;
        }
    }
    return 0;
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
