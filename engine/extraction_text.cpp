#include "engine/extraction_text.h"

#include <cmath>

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

SearchMark StartMark(std::string_view start) {
    if (TrimView(start).empty() || EqualsNoCase(start, kBeginningOfField))
        return SearchMark::FieldStart;
    return SearchMark::Text;
}

SearchMark StopMark(std::string_view stop) {
    if (TrimView(stop).empty() || EqualsNoCase(stop, kEndOfField)) return SearchMark::FieldEnd;
    if (EqualsNoCase(stop, kEndOfLine)) return SearchMark::LineEnd;
    return SearchMark::Text;
}

std::size_t FindStartPos(std::string_view start, std::string_view text,
                         std::string_view wholeWord) {
    return FindStartPos(StartMark(start), start, text, wholeWord);
}

std::size_t FindStartPos(SearchMark mark, std::string_view start, std::string_view text,
                         std::string_view wholeWord) {
    return GuardValue<std::size_t>(context::kFindStartPos, 0, [&]() -> std::size_t {
        if (mark == SearchMark::FieldStart) return 1;
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
    return FindStopPos(StopMark(stop), stop, text, startPos);
}

std::size_t FindStopPos(SearchMark mark, std::string_view stop, std::string_view text,
                        std::size_t startPos) {
    return GuardValue<std::size_t>(context::kFindStopPos, 0, [&]() -> std::size_t {
        if (mark == SearchMark::FieldEnd) return text.size() + 1;
        if (mark == SearchMark::LineEnd) {
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
    if (outputDeliminator == kDelimiterSemicolon) return ";";
    return std::string(current);
}

namespace {

std::string TwoDigits(long long n) {
    std::string t = std::to_string(n);
    return t.size() < 2 ? "0" + t : t;
}

}  // namespace

std::string IsoDate(double dateValue) {
    // Days since 1899-12-30 to a civil date (days from 1970-01-01 first).
    long long z = static_cast<long long>(std::floor(dateValue)) - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    std::string y = std::to_string(year);
    while (y.size() < 4) y.insert(0, "0");
    return y + "-" + TwoDigits(month) + "-" + TwoDigits(day);
}

std::string IsoTime(double dateValue) {
    const double fraction = std::fabs(dateValue - std::trunc(dateValue));
    long long seconds = std::llround(fraction * 86400.0);
    if (seconds >= 86400) seconds = 86399;
    return TwoDigits(seconds / 3600) + ":" + TwoDigits(seconds / 60 % 60) + ":" +
           TwoDigits(seconds % 60);
}

}  // namespace tallix::engine
