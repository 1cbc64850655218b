#include "engine/extraction_text.h"

#include "engine/procedure_contexts.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "model/html_text.h"
#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

bool IsLineBreakOrTab(char c) {
    return c == '\r' || c == '\n' || c == '\t';
}

}  // namespace

std::size_t FindStartPos(std::string_view start, std::string_view text,
                         std::string_view wholeWord) {
    return GuardValue<std::size_t>(context::kFindStartPos, 0, [&]() -> std::size_t {
        if (TrimView(start).empty() || EqualsNoCase(start, kBeginningOfField)) return 1;
        std::size_t p = 0;  // 0-based search position
        while (true) {
            std::size_t q = text.find(start, p);
            if (q == std::string_view::npos) return 0;
            if (wholeWord == "0" || IsWholeWord(q + 1, start.size(), text))
                return q + 1 + start.size();
            p = q + start.size();
            // The next search would begin at or beyond the last character.
            if (p + 1 >= text.size()) return 0;
        }
    });
}

std::size_t FindStopPos(std::string_view stop, std::string_view text, std::size_t startPos) {
    return GuardValue<std::size_t>(context::kFindStopPos, 0, [&]() -> std::size_t {
        if (TrimView(stop).empty() || EqualsNoCase(stop, kEndOfField)) return text.size() + 1;
        if (EqualsNoCase(stop, kEndOfLine)) {
            if (startPos > text.size()) return startPos;
            std::size_t from = startPos == 0 ? 0 : startPos - 1;
            std::size_t at = text.find_first_of("\r\n", from);
            return at == std::string_view::npos ? text.size() + 1 : at + 1;
        }
        return startPos == 0 ? 0 : InStr(startPos, text, stop);
    });
}

bool IsWholeWord(std::size_t position, std::size_t length, std::string_view text) {
    return GuardValue(context::kIsWholeWord, false, [&] {
        if (position == 0) return false;
        if (position > 1 && !IsMagicChar(text[position - 2], position - 1)) return false;
        std::size_t after = position + length;  // 1-based position of the next character
        if (after <= text.size() && !IsMagicChar(text[after - 1], after)) return false;
        return true;
    });
}

bool IsMagicChar(char c, std::size_t position) {
    return c == '\n' || c == '\r' || (position > 0 && c == ' ');
}

bool IsLineBreak(char c) {
    return c == '\n' || c == '\r';
}

std::string TrimLineBreaks(std::string_view text) {
    std::string_view t = TrimView(text);
    while (!t.empty() && IsLineBreakOrTab(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsLineBreakOrTab(t.back())) t.remove_suffix(1);
    return std::string(t);
}

std::string ChangeQuotes(std::string_view text) {
    return GuardValue<std::string>(context::kChangeQuotes, std::string(text), [&] {
        std::string out(text);
        for (char& c : out)
            if (c == '"') c = '\'';
        return out;
    });
}

void errStripHtml(std::string& text) {
    Guard(context::kErrStripHtml, [&] {
        if (text.empty()) return;
        text = StripAllTags(text, [] { LetEventsRun(); });
    });
}

std::string DatePart(std::string_view dateText) {
    std::string t = Trim(dateText);
    std::size_t blank = t.find(' ');
    return blank == std::string::npos ? t : Trim(std::string_view(t).substr(0, blank + 1));
}

std::string StripLF(std::string_view text) {
    return GuardValue<std::string>(context::kStripLF, "", [&] {
        std::string out;
        out.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            if (!IsLineBreak(c)) {
                out.push_back(c);
                continue;
            }
            if (i + 1 < text.size() && IsLineBreak(text[i + 1])) ++i;
            if (out.empty() || out.back() != ' ') out.push_back(' ');
        }
        return out;
    });
}

std::string StripExtras(std::string_view text) {
    return GuardValue<std::string>(context::kStripExtras, "", [&] {
        std::string_view t = TrimView(text);
        std::string out;
        out.reserve(t.size());
        bool inRun = false;
        for (char c : t) {
            if (c == ' ') {
                if (!inRun) out.push_back(c);
                inRun = true;
            } else {
                out.push_back(c);
                if (!IsLineBreakOrTab(c)) inRun = false;
            }
        }
        return out;
    });
}

std::string DelimiterFor(std::string_view outputDeliminator, std::string_view current) {
    if (outputDeliminator == kDelimiterComma) return ",";
    if (outputDeliminator == kDelimiterSpace) return " ";
    if (outputDeliminator == kDelimiterTab) return "\t";
    return std::string(current);
}

}  // namespace tallix::engine
