#include "engine/selection_variable.h"

#include <algorithm>

#include "engine/extraction_text.h"
#include "model/export_field.h"
#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

// A label longer than this is running text, not a label: only its end is kept.
constexpr std::size_t kMaxLabelBytes = 60;
// A start or stop text that holds this character cannot be stored in a variable line.
constexpr char kItemSeparator = ';';
constexpr std::string_view kHeaderFieldPrefix = "MSG_HEADER:";
constexpr std::string_view kMessageFieldPrefix = "MSG_";
constexpr std::string_view kLastResortName = "Value";

constexpr std::string_view kNoExample = "No value is selected.";
constexpr std::string_view kBlankSelection =
    "The selection holds no value: select the text the variable is to give.";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsSpace(char c) {
    return IsBlank(c) || c == '\r' || c == '\n';
}
bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsNonAscii(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}
// Letters, digits and every byte of a non-ASCII character make words.
bool IsWordByte(char c) {
    return IsAsciiLetter(c) || IsDigit(c) || IsNonAscii(c);
}
bool IsPunctuation(char c) {
    return !IsWordByte(c) && !IsSpace(c) && static_cast<unsigned char>(c) > 0x20 &&
           static_cast<unsigned char>(c) != 0x7F;
}
bool HasWord(std::string_view s) {
    return std::any_of(s.begin(), s.end(), IsWordByte);
}
bool HasLetter(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return IsAsciiLetter(c) || IsNonAscii(c); });
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

std::size_t LineStart(std::string_view text, std::size_t at) {
    while (at > 0 && !IsLineBreak(text[at - 1])) --at;
    return at;
}
std::size_t LineEnd(std::string_view text, std::size_t at) {
    while (at < text.size() && !IsLineBreak(text[at])) ++at;
    return at;
}
// Where the line before the one that starts at `lineStart` ends (CR LF, LF or CR counted as
// one break).
std::size_t PreviousLineEnd(std::string_view text, std::size_t lineStart) {
    std::size_t end = lineStart;
    if (end > 0 && text[end - 1] == '\n') --end;
    if (end > 0 && text[end - 1] == '\r') --end;
    return end;
}

// Where a label ends in a text that holds more: what the run's start search may take. The
// end of `context`, cut after its last ";", at most kMaxLabelBytes of whole words.
std::string LabelFrom(std::string_view context) {
    std::string_view t = TrimBlanks(context);
    if (const std::size_t semi = t.rfind(kItemSeparator); semi != std::string_view::npos)
        t = TrimBlanks(t.substr(semi + 1));
    if (t.size() > kMaxLabelBytes) {
        t = t.substr(t.size() - kMaxLabelBytes);
        // Start at the next word: never inside a word or a character.
        std::size_t i = 0;
        while (i < t.size() && !IsBlank(t[i])) ++i;
        t = TrimBlanks(t.substr(i));
    }
    return std::string(t);
}

// The labels a context offers, best first. A word with a digit in it is most likely a value
// of its own ("Order 4701 shipped on"): the words after the last such word are tried first,
// when they still hold a letter.
std::vector<std::string> LabelCandidates(std::string_view context) {
    std::vector<std::string> out;
    const std::string full = LabelFrom(context);
    if (full.empty()) return out;
    std::size_t lastNumberWordEnd = std::string::npos;
    for (std::size_t i = 0; i < full.size();) {
        while (i < full.size() && IsBlank(full[i])) ++i;
        const std::size_t wordStart = i;
        bool digit = false;
        while (i < full.size() && !IsBlank(full[i])) digit |= IsDigit(full[i++]);
        if (digit && i > wordStart) lastNumberWordEnd = i;
    }
    if (lastNumberWordEnd != std::string::npos) {
        const std::string after(TrimBlanks(std::string_view(full).substr(lastNumberWordEnd)));
        if (HasLetter(after)) out.push_back(after);
    }
    if (!full.empty()) out.push_back(full);
    return out;
}

// The word that follows a value: after the blanks, one punctuation character, or the
// characters up to the next blank, punctuation or line end. "" when nothing follows or what
// follows cannot be stored.
std::string FollowingWord(std::string_view after) {
    std::size_t i = 0;
    while (i < after.size() && IsBlank(after[i])) ++i;
    if (i == after.size() || IsLineBreak(after[i])) return {};
    if (IsPunctuation(after[i]))
        return after[i] == kItemSeparator ? std::string() : std::string(1, after[i]);
    std::size_t j = i;
    while (j < after.size() && !IsSpace(after[j]) && !IsPunctuation(after[j]) &&
           j - i < kMaxLabelBytes)
        ++j;
    while (j < after.size() && j > i && (static_cast<unsigned char>(after[j]) & 0xC0) == 0x80)
        --j;  // never end inside a character
    return std::string(after.substr(i, j - i));
}

enum class LabelPlace { SameLine, LineAbove, None };

// What one example offers: the selected value and what stands round it.
struct Context {
    Span value;
    LabelPlace place = LabelPlace::None;
    std::string label;   // the text before the value on its line, or the line above it
    std::string follow;  // the word after the value
    bool endsLine = false;
};

Context ContextOf(std::string_view text, Span value) {
    Context c;
    c.value = value;
    const std::size_t lineStart = LineStart(text, value.begin);
    const std::string_view before = text.substr(lineStart, value.begin - lineStart);
    const std::size_t lineEnd = LineEnd(text, value.end);
    const std::string_view after = text.substr(value.end, lineEnd - value.end);
    c.endsLine = TrimBlanks(after).empty();
    if (!TrimBlanks(before).empty()) {
        c.place = LabelPlace::SameLine;
        c.label = std::string(TrimBlanks(before));
    } else {
        // The nearest line above that holds anything says what the value is (a heading such
        // as "Delivery address:"); blank lines between them are trimmed off the value.
        for (std::size_t start = lineStart; start > 0;) {
            const std::size_t end = PreviousLineEnd(text, start);
            start = LineStart(text, end);
            const std::string_view line = TrimBlanks(text.substr(start, end - start));
            if (line.empty()) continue;
            c.place = LabelPlace::LineAbove;
            c.label = std::string(line);
            break;
        }
    }
    if (!c.endsLine) {
        c.follow = FollowingWord(after);
    } else if (c.place == LabelPlace::LineAbove) {
        // The start is on the line above, so "the end of the line" would be the end of that
        // line: the value ends before the next line that holds anything.
        std::size_t at = lineEnd;
        while (at < text.size() && (IsSpace(text[at]))) ++at;
        c.follow = FollowingWord(text.substr(at, LineEnd(text, at) - at));
    }
    return c;
}

// The selection without the blanks and line breaks at its ends; empty when nothing is left.
Span Trimmed(std::string_view text, std::size_t start, std::size_t length) {
    Span s;
    s.begin = std::min(start, text.size());
    s.end = std::min(text.size(), s.begin + std::min(length, text.size() - s.begin));
    while (s.begin < s.end && IsSpace(text[s.begin])) ++s.begin;
    while (s.end > s.begin && IsSpace(text[s.end - 1])) --s.end;
    return s;
}

// The longest end the labels have in common (without regard to case), starting at a word
// start in each of them: a word that is only partly common is left out.
std::string CommonLabelEnd(const std::vector<Context>& contexts) {
    std::vector<std::string> upper;
    std::size_t shortest = std::string::npos;
    for (const Context& c : contexts) {
        upper.push_back(UpperCaseText(c.label));
        shortest = std::min(shortest, c.label.size());
    }
    std::size_t k = 0;
    while (k < shortest) {
        const char ch = upper[0][upper[0].size() - 1 - k];
        bool same = true;
        for (const std::string& u : upper) same = same && u[u.size() - 1 - k] == ch;
        if (!same) break;
        ++k;
    }
    // The label of an example that is all common is taken as it is written there.
    std::size_t from = 0;
    for (std::size_t i = 0; i < contexts.size(); ++i)
        if (contexts[i].label.size() == k) from = i;
    const std::string& label = contexts[from].label;
    std::string_view common = std::string_view(label).substr(label.size() - k);
    bool cutWord = false;
    for (const Context& c : contexts)
        cutWord = cutWord || (c.label.size() > k && IsWordByte(c.label[c.label.size() - k - 1]));
    if (cutWord)
        while (!common.empty() && IsWordByte(common.front())) common.remove_prefix(1);
    return std::string(TrimBlanks(common));
}

void AddCandidate(std::vector<std::string>& list, const std::string& candidate) {
    if (candidate.empty()) return;
    for (const std::string& c : list)
        if (EqualsNoCase(c, candidate)) return;
    list.push_back(candidate);
}

std::vector<std::string> StartCandidates(const std::vector<Context>& contexts) {
    std::vector<std::string> out;
    const LabelPlace place = contexts.front().place;
    const bool samePlace = std::all_of(contexts.begin(), contexts.end(),
                                       [&](const Context& c) { return c.place == place; });
    if (samePlace && place != LabelPlace::None) {
        const std::string common = CommonLabelEnd(contexts);
        if (HasWord(common))
            for (const std::string& l : LabelCandidates(common)) AddCandidate(out, l);
    }
    for (const Context& c : contexts)
        for (const std::string& l : LabelCandidates(c.label)) AddCandidate(out, l);
    AddCandidate(out, std::string(kBeginningOfField));
    return out;
}

std::vector<std::string> StopCandidates(const std::vector<Context>& contexts) {
    std::vector<std::string> out;
    const bool allEndLines = std::all_of(contexts.begin(), contexts.end(), [](const Context& c) {
        return c.endsLine && c.place != LabelPlace::LineAbove;
    });
    if (allEndLines) AddCandidate(out, std::string(kEndOfLine));
    for (const Context& c : contexts) AddCandidate(out, c.follow);
    AddCandidate(out, std::string(kEndOfLine));
    AddCandidate(out, std::string(kEndOfField));
    return out;
}

// One example as the searches see it: its text, upper-cased for searches without regard to
// case (the same byte positions), and the selection.
struct Prepared {
    std::string_view text;
    std::string upper;
    Span value;
};

std::vector<TextCut> Cuts(std::string_view start, std::string_view stop, std::string_view working,
                          const CutOptions& options) {
    std::vector<TextCut> cuts;
    // A blank field gives no value at all (the run looks no further).
    if (TrimView(working).empty()) return cuts;
    const std::string_view wholeWord = options.wholeWord ? kFlagOn : kFlagOff;
    std::size_t from = 0;
    while (from <= working.size()) {
        const std::string_view rest = working.substr(from);
        std::size_t s = FindStartPos(start, rest, wholeWord);
        if (options.startOfLine && from + s > start.size() + 1 &&
            !IsLineBreak(working[from + s - start.size() - 2]))
            s = 0;
        if (s == 0) break;
        const std::size_t e = FindStopPos(stop, rest, s);
        if (e <= s) break;
        cuts.push_back({from + s - 1, e - s});
        const std::size_t next = from + e - 1;
        if (!options.every || next <= from) break;
        from = next;
    }
    return cuts;
}

// A cut gives the selected value when it holds it with nothing else but blanks and line
// breaks round it (the run trims those off).
bool GivesSelection(std::string_view text, TextCut cut, Span value) {
    const std::size_t end = cut.start + cut.length;
    if (cut.start > value.begin || end < value.end) return false;
    return std::all_of(text.begin() + cut.start, text.begin() + value.begin, IsSpace) &&
           std::all_of(text.begin() + value.end, text.begin() + end, IsSpace);
}

std::string ValueOf(std::string_view text, TextCut cut) {
    return TrimLineBreaks(Trim(text.substr(cut.start, cut.length)));
}

struct Trial {
    std::size_t confirmed = 0;
    bool lastConfirmed = false;
    std::vector<std::string> values;
};

Trial TryOn(const std::vector<Prepared>& examples, const std::string& start,
            const std::string& stop, const CutOptions& options) {
    Trial t;
    const std::string startUpper = UpperCaseText(start);
    const std::string stopUpper = UpperCaseText(stop);
    for (std::size_t i = 0; i < examples.size(); ++i) {
        const Prepared& e = examples[i];
        const auto cuts = Cuts(startUpper, stopUpper, e.upper, options);
        const auto hit = std::find_if(cuts.begin(), cuts.end(), [&](TextCut c) {
            return GivesSelection(e.text, c, e.value);
        });
        const bool confirmed = hit != cuts.end();
        if (confirmed) ++t.confirmed;
        if (i + 1 == examples.size()) t.lastConfirmed = confirmed;
        t.values.push_back(confirmed      ? ValueOf(e.text, *hit)
                           : cuts.empty() ? std::string()
                                          : ValueOf(e.text, cuts.front()));
    }
    return t;
}

// Lines of `text` that begin (after blanks) with `label`, without regard to case.
std::size_t LinesStartingWith(std::string_view upperText, std::string_view label) {
    const std::string upperLabel = UpperCaseText(label);
    if (TrimView(upperLabel).empty()) return 0;
    std::size_t count = 0;
    for (std::size_t at = 0; at < upperText.size();) {
        const std::size_t end = LineEnd(upperText, at);
        if (TrimBlanks(upperText.substr(at, end - at)).starts_with(upperLabel)) ++count;
        at = end;
        while (at < upperText.size() && IsLineBreak(upperText[at])) ++at;
    }
    return count;
}

std::string Capitalised(std::string_view word, bool lowerRest) {
    std::string w(word);
    if (lowerRest) w = LCase(w);
    if (!w.empty()) w[0] = UpperAscii(w[0]);
    return w;
}

// The words of `text` joined with capitals, whole words only up to kMaxMadeNameBytes.
std::string CamelWords(std::string_view text, bool lowerRest) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        while (i < text.size() && !IsWordByte(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && IsWordByte(text[i])) ++i;
        if (i == start) break;
        std::string_view word = text.substr(start, i - start);
        if (out.size() + word.size() > kMaxMadeNameBytes) {
            if (!out.empty()) break;
            // One long word: cut, though not inside a character.
            std::size_t cut = kMaxMadeNameBytes;
            while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) --cut;
            word = word.substr(0, cut);
        }
        out += Capitalised(word, lowerRest);
    }
    return out;
}

}  // namespace

std::string NameFromLabel(std::string_view label, std::string_view field) {
    std::string name = CamelWords(label, false);
    if (!name.empty()) return name;
    std::string_view f = TrimView(field);
    if (f.size() >= kHeaderFieldPrefix.size() &&
        EqualsNoCase(f.substr(0, kHeaderFieldPrefix.size()), kHeaderFieldPrefix)) {
        name = CamelWords(f.substr(kHeaderFieldPrefix.size()), false);
    } else {
        if (f.size() >= kMessageFieldPrefix.size() &&
            EqualsNoCase(f.substr(0, kMessageFieldPrefix.size()), kMessageFieldPrefix))
            f.remove_prefix(kMessageFieldPrefix.size());
        name = CamelWords(f, true);
    }
    return name.empty() ? std::string(kLastResortName) : name;
}

std::string UniqueName(const std::string& name, const std::vector<std::string>& taken) {
    auto isTaken = [&](const std::string& candidate) {
        return std::any_of(taken.begin(), taken.end(),
                           [&](const std::string& t) { return EqualsNoCase(Trim(t), candidate); });
    };
    if (!isTaken(name)) return name;
    for (int n = 2;; ++n) {
        std::string candidate = name + std::to_string(n);
        if (!isTaken(candidate)) return candidate;
    }
}

bool ShapeDiffers(std::string_view sample, std::string_view value) {
    auto trimmed = [](std::string_view v) {
        while (!v.empty() && IsSpace(v.front())) v.remove_prefix(1);
        while (!v.empty() && IsSpace(v.back())) v.remove_suffix(1);
        return v;
    };
    sample = trimmed(sample);
    value = trimmed(value);
    if (sample.empty() || value.empty()) return false;
    auto number = [](std::string_view v) {
        return std::any_of(v.begin(), v.end(), IsDigit) && !HasLetter(v);
    };
    if (number(sample) != number(value)) return true;
    auto characters = [](std::string_view v) {
        return static_cast<std::size_t>(std::count_if(v.begin(), v.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    };
    const std::size_t a = characters(sample);
    const std::size_t b = characters(value);
    return b >= 10 * a || a >= 10 * b;
}

std::vector<TextCut> CutsOf(std::string_view start, std::string_view stop, std::string_view text,
                            const CutOptions& options) {
    if (options.matchCase) return Cuts(start, stop, text, options);
    return Cuts(UpperCaseText(start), UpperCaseText(stop), UpperCaseText(text), options);
}

SelectionVariable VariableFromSelection(const SelectionRequest& request) {
    SelectionVariable v;
    v.field = request.field;
    v.repeat = request.repeat;
    if (request.examples.empty()) {
        v.problem = kNoExample;
        return v;
    }
    std::vector<Prepared> examples;
    std::vector<Context> contexts;
    for (const ValueExample& e : request.examples) {
        const Span value = Trimmed(e.text, e.start, e.length);
        if (value.begin == value.end) {
            v.problem = kBlankSelection;
            return v;
        }
        examples.push_back({e.text, UpperCaseText(e.text), value});
        contexts.push_back(ContextOf(e.text, value));
        v.selected.emplace_back(e.text.substr(value.begin, value.end - value.begin));
    }

    // The first candidate pair that gives the most selected values wins, the newest example
    // deciding between equals; a whole-word start is tried where a plain one finds an earlier
    // occurrence inside another word ("Total:" in "Subtotal:").
    const std::vector<std::string> starts = StartCandidates(contexts);
    const std::vector<std::string> stops = StopCandidates(contexts);
    Trial best;
    bool chosen = false;
    auto consider = [&](const std::string& start, const std::string& stop, bool wholeWord) {
        CutOptions options;
        options.wholeWord = wholeWord;
        options.every = request.repeat;
        Trial t = TryOn(examples, start, stop, options);
        const bool better =
            !chosen || t.confirmed > best.confirmed ||
            (t.confirmed == best.confirmed && t.lastConfirmed && !best.lastConfirmed);
        if (better) {
            best = std::move(t);
            chosen = true;
            v.start = start;
            v.stop = stop;
            v.wholeWord = wholeWord;
        }
        return best.confirmed == examples.size();
    };
    [&] {
        for (const std::string& start : starts)
            for (const std::string& stop : stops)
                for (const bool wholeWord : {false, true})
                    if (consider(start, stop, wholeWord)) return;
    }();
    v.values = best.values;
    v.confirmed = best.confirmed;

    const bool label = !EqualsNoCase(v.start, kBeginningOfField);
    if (label && contexts.front().place == LabelPlace::SameLine)
        v.repeatedLines = LinesStartingWith(examples.front().upper, v.start);
    v.name = request.name.empty()
                 ? UniqueName(NameFromLabel(label ? v.start : std::string(), request.field),
                              request.takenNames)
                 : request.name;
    for (const std::string& s : v.selected) {
        v.useQuotes = v.useQuotes || (!request.delimiter.empty() &&
                                      s.find(request.delimiter) != std::string::npos);
        v.removeLF = v.removeLF || s.find_first_of("\r\n") != std::string::npos;
    }
    return v;
}

}  // namespace tallix::engine
