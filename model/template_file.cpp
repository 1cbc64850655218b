// The template file: sections, keys, value encodings and the variable-definition line, and
// the clsTemplate operations that read and write them through the private-profile module.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "model/profile_file.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

using profile::ProfileDocument;

constexpr std::string_view kSectionGeneral = "General";
constexpr std::string_view kSectionFilter = "Filter";
constexpr std::string_view kSectionVariables = "Variables";
// CreateFileSections writes the output section's header as "Output"; the output keys are
// written under "OutPut", which names the same section because section names ignore case.
constexpr std::string_view kSectionOutputHeader = "Output";
constexpr std::string_view kSectionOutPut = "OutPut";
constexpr std::string_view kSectionScripts = "Scripts";
constexpr std::string_view kSectionPatterns = "Patterns";
constexpr std::string_view kSectionRepeat = "Repeat";

constexpr std::string_view kKeyActive = "Active";
constexpr std::string_view kKeyNumVariables = "Num_Variables";
constexpr std::string_view kKeyLastRan = "Last_Ran";
constexpr std::string_view kKeyCommand = "Command";
constexpr std::string_view kKeyFindString = "Find_String";
constexpr std::string_view kKeyVarPrefix = "Var";
constexpr std::string_view kKeyAllowDuplicate = "AllowDuplicate";
constexpr std::string_view kKeyFile = "File";
constexpr std::string_view kKeyDelimiter = "Delimiter";
constexpr std::string_view kKeyOutputCount = "Output_Count";
// The output line keys share their spelling with the section header ("Output1", ...).
constexpr std::string_view kKeyOutputPrefix = kSectionOutputHeader;
constexpr std::string_view kKeyRun = "run";
constexpr std::string_view kKeyFormat = "Format";
constexpr std::string_view kKeyPerAttachment = "PerAttachment";
constexpr std::string_view kKeyFormulaGuard = "FormulaGuard";
constexpr std::string_view kKeyBom = "BOM";
constexpr std::string_view kKeyHeaderRow = "HeaderRow";
constexpr std::string_view kKeyDateFormat = "DateFormat";
constexpr std::string_view kKeyItems = "Items";
constexpr std::string_view kKeyProcessOnce = "ProcessOnce";

constexpr std::string_view kTrue = kTrueText;
constexpr std::string_view kFalse = kFalseText;
constexpr std::string_view kNever = "Never";
constexpr std::string_view kZero = "0";
constexpr std::string_view kOldNoneMarker = "NONE";
constexpr char kItemSeparator = ';';

// Longest value read for each kind of key.
constexpr std::size_t kLongestFlag = 9;
constexpr std::size_t kLongestCount = 9;
constexpr std::size_t kLongestText = 254;
constexpr std::size_t kLongestVariableLine = 509;
constexpr std::size_t kLongestOutputLine = 2047;
constexpr std::size_t kLongestPattern = 4095;

// The numbered-key loops count with a 16-bit counter: past this round they fail with an
// overflow, which also bounds what a damaged count in a file can make the reader allocate.
constexpr long kMaxNumberedKeys = 32767;

constexpr std::string_view kNoFilenameDefined = "No filename defined";
constexpr std::string_view kVariableLineTooLong = "Variable line too long in template ";

constexpr std::string_view kCtxReadActiveFlag = "clsTemplate - ReadActiveFlag";
constexpr std::string_view kCtxReadAllowDuplicate = "clsTemplate - ReadAllowDuplicate";
constexpr std::string_view kCtxReadFilter = "clsTemplate - ReadFilter";
constexpr std::string_view kCtxReadVariableCount = "clsTemplate - ReadVariableCount";
constexpr std::string_view kCtxReadVariables = "clsTemplate - ReadVariables";
constexpr std::string_view kCtxReadOutputFileName = "clsTemplate - ReadOutputFileName";
constexpr std::string_view kCtxReadOutputDelimiter = "clsTemplate - ReadOutputDelimiter";
constexpr std::string_view kCtxReadOutputLineCount = "clsTemplate - ReadOutputLineCount";
constexpr std::string_view kCtxReadOutPutLines = "clsTemplate - ReadOutPutLines";
constexpr std::string_view kCtxReadLastRan = "clsTemplate - ReadLastRan";
constexpr std::string_view kCtxReadScripts = "clsTemplate - ReadScripts";
constexpr std::string_view kCtxReadTemplate = "clsTemplate - ReadTemplate";
constexpr std::string_view kCtxWriteTemplateFile = "clsTemplate - WriteTemplateFile";
constexpr std::string_view kCtxWriteActiveFlag = "clsTemplate - WriteActiveFlag";
constexpr std::string_view kCtxWriteAllowDuplicate = "clsTemplate - WriteAllowFD";
constexpr std::string_view kCtxWriteFilter = "clsTemplate - WriteFilter";
constexpr std::string_view kCtxWriteVariableCount = "clsTemplate - WriteVariableCount";
constexpr std::string_view kCtxWriteVariables = "clsTemplate - WriteVariable";
constexpr std::string_view kCtxWriteOutputFileName = "clsTemplate - WriteOutputFileName";
constexpr std::string_view kCtxWriteOutputDelimiter = "clsTemplate - WriteOutputDelimiter";
constexpr std::string_view kCtxWriteOutputLineCount = "clsTemplate - WriteOutputLineCount";
constexpr std::string_view kCtxWriteOutPutLines = "clsTemplate - WriteOutPutLines";
constexpr std::string_view kCtxWriteLastRan = "clsTemplate - WriteLastRan";
constexpr std::string_view kCtxWriteScripts = "clsTemplate - WriteScripts";
constexpr std::string_view kCtxCreateFileSections = "clsTemplate - CreateFileSections";
constexpr std::string_view kCtxMakeVarString = "clsTemplate - MakeVarString";
constexpr std::string_view kCtxParseFieldString = "clsTemplate - ParseFieldString";
constexpr std::string_view kCtxReadNewKeys = "clsTemplate - ReadOutputOptions";
constexpr std::string_view kCtxWriteNewKeys = "clsTemplate - WriteOutputOptions";

std::string NumberedKey(std::string_view prefix, long i) {
    return std::string(prefix) + std::to_string(i);
}

// A value as read: at most `longest` characters, cut at the first NUL, trimmed.
std::string ReadText(const ProfileDocument& doc, std::string_view section, std::string_view key,
                     std::string_view def, std::size_t longest) {
    return StripNulls(doc.Get(section, key, def, longest + 1));
}

bool ReadBoolean(const ProfileDocument& doc, std::string_view section, std::string_view key) {
    return ReadText(doc, section, key, kFalse, kLongestFlag) == kTrue;
}

// The leading number of the text, rounded to a whole number.
std::int32_t ReadCount(const ProfileDocument& doc, std::string_view section, std::string_view key) {
    return CLng(Val(ReadText(doc, section, key, kZero, kLongestCount)));
}

// A line break inside a value would end the key line early and turn the rest of the value
// into stray lines of the file: values, and each item of a definition line, are stored up to
// their first line break.
std::string_view FirstLine(std::string_view value) {
    return value.substr(0, value.find_first_of("\r\n"));
}

void WriteText(ProfileDocument& doc, std::string_view section, std::string_view key,
               std::string_view value) {
    doc.Set(section, key, FirstLine(value));
}

std::string_view BooleanText(bool v) {
    return v ? kTrue : kFalse;
}

bool HasKey(const ProfileDocument& doc, std::string_view section, std::string_view key) {
    return doc.Find(section, key).has_value();
}

// A key a template made before it does not have: written when it holds something or the file
// has the key already; else the file is left without it.
void WriteOptional(ProfileDocument& doc, std::string_view section, std::string_view key,
                   std::string_view value, bool set) {
    if (set || HasKey(doc, section, key)) WriteText(doc, section, key, value);
}

// A pattern as its key stores it. A value loses its outer blanks and one outer pair of
// matching quotes when read, so a pattern that would lose either is written in quotes. A
// line break cannot stand in a key line: it is written as the escape that matches it.
std::string PatternValue(std::string_view pattern) {
    std::string v;
    for (const char c : pattern) {
        if (c == '\r')
            v += "\\r";
        else if (c == '\n')
            v += "\\n";
        else if (c != '\0')
            v += c;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const bool quoted =
        v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'');
    if (!v.empty() && (blank(v.front()) || blank(v.back()) || quoted)) v = '"' + v + '"';
    return v;
}

// [General] ProcessOnce as the file says it: unset when missing; "True" in any case is on.
std::optional<bool> ProcessOnceIn(const ProfileDocument& doc) {
    const std::optional<std::string> stored = doc.Find(kSectionGeneral, kKeyProcessOnce);
    if (!stored) return std::nullopt;
    return EqualsNoCase(Trim(*stored), kTrue);
}

// The names of a comma list, trimmed, in capitals and sorted; empty ones left out.
std::vector<std::string> SortedNames(std::string_view list) {
    std::vector<std::string> names;
    for (const std::string& piece : Split(list, ","))
        if (!Trim(piece).empty()) names.push_back(UCase(Trim(piece)));
    std::sort(names.begin(), names.end());
    return names;
}

// Two comma lists of the same names, without regard to order or case.
bool SameNames(std::string_view a, std::string_view b) {
    return SortedNames(a) == SortedNames(b);
}

// Removes a section that was left without keys.
void DropIfEmpty(ProfileDocument& doc, std::string_view section) {
    if (doc.KeyNames(section).empty()) doc.DeleteSection(section);
}

std::string FlagFromItem(std::string_view item) {
    return std::string(Trim(item) == kFlagOn ? kFlagOn : kFlagOff);
}

}  // namespace

// ---- Loading and saving ---------------------------------------------------------------------

template <class Op>
void clsTemplate::ReadFromFile(Op op) {
    // A missing file reads as an empty one: every key gives its default.
    profile::ProfileStatus loaded;
    const ProfileDocument doc = ProfileDocument::Load(m_fileName, &loaded);
    if (!loaded.ok() && loaded.error != ENOENT) {
        // A file that is there but cannot be read is not an empty template: it is named with
        // the reason and refused. What its flags say is unknown, so it counts as active: a
        // run then keeps the mail it might have wanted instead of deleting it.
        m_refused = true;
        m_active = true;
        RaiseErrno(loaded.error, m_fileName);
    }
    op(doc);
}

template <class Op>
void clsTemplate::WriteToFile(Op op) {
    profile::ProfileStatus loaded;
    ProfileDocument doc = ProfileDocument::Load(m_fileName, &loaded);
    const std::string before = loaded.ok() ? doc.Bytes() : std::string();
    op(doc);
    // A file that exists but cannot be read is not replaced by what little is known of it, an
    // unchanged file is left as it is, and a failed save leaves the old file without a report;
    // the caller that must not lose the user's work asks LastWriteError.
    m_lastWriteError = 0;
    if (!loaded.ok() && loaded.error != ENOENT) {
        m_lastWriteError = loaded.error;
        return;
    }
    if (loaded.ok() && doc.Bytes() == before) return;
    // A file marked read-only (no write permission for anyone) is the user's wish that it
    // stays as it is; the atomic save would replace it all the same, for root too.
    struct stat st {};
    if (loaded.ok() && ::stat(m_fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        m_lastWriteError = EACCES;
        return;
    }
    m_lastWriteError = doc.Save(m_fileName).error;
}

// ---- Whole template ---------------------------------------------------------------------------

bool clsTemplate::ReadTemplate() {
    if (m_fileName.empty()) {
        ReportError(kNoFilenameDefined, true);
        return false;
    }
    const std::uint64_t reportsBefore = ReportsOnThisThread();
    m_refused = false;
    Guard(kCtxReadTemplate, [&] {
        ReadFromFile([&](const ProfileDocument& doc) {
            ReadActiveFlagFrom(doc);
            ReadAllowDuplicateFrom(doc);
            ReadFilterFrom(doc);
            ReadVariableCountFrom(doc);
            if (m_variableCount > 0) ReadVariablesFrom(doc);
            ReadOutputFileNameFrom(doc);
            ReadOutputDelimiterFrom(doc);
            ReadOutputLineCountFrom(doc);
            if (m_outputLineCount > 0) ReadOutPutLinesFrom(doc);
            ReadLastRanFrom(doc);
            ReadScriptsFrom(doc);
            ReadNewKeysFrom(doc);
        });
    });
    // A pattern that does not compile would fail on every message: the template is named
    // now, and the run leaves it out.
    if (const std::string problem = PatternProblem(); !problem.empty())
        ReportError("Template " + m_fileName + ": " + problem, true);
    return ReportsOnThisThread() == reportsBefore;
}

void clsTemplate::WriteTemplateFile(bool bNew) {
    m_lastWriteError = 0;
    if (m_fileName.empty()) {
        ReportError(kNoFilenameDefined, true);
        return;
    }
    Guard(kCtxWriteTemplateFile, [&] {
        WriteToFile([&](ProfileDocument& doc) {
            if (bNew) CreateFileSectionsIn(doc);
            WriteActiveFlagTo(doc);
            WriteAllowDuplicateTo(doc);
            WriteFilterTo(doc);
            WriteVariableCountTo(doc);
            if (m_variableCount > 0) WriteVariablesTo(doc);
            WriteOutputFileNameTo(doc);
            WriteOutputDelimiterTo(doc);
            WriteOutputLineCountTo(doc);
            if (m_outputLineCount > 0) WriteOutPutLinesTo(doc);
            WriteLastRanTo(doc);
            WriteScriptsTo(doc);
            WriteNewKeysTo(doc);
        });
    });
}

void clsTemplate::CreateFileSectionsIn(ProfileDocument& doc) const {
    Guard(kCtxCreateFileSections, [&] {
        for (std::string_view section : {kSectionGeneral, kSectionFilter, kSectionVariables,
                                         kSectionOutputHeader, kSectionScripts}) {
            bool exists = false;
            for (const std::string& name : doc.SectionNames()) {
                if (EqualsNoCase(name, section)) exists = true;
            }
            if (exists) {
                // Every key line goes, duplicates included (each deletion takes the first).
                for (const std::string& key : doc.KeyNames(section)) doc.DeleteKey(section, key);
            } else {
                // A section is created with one key and left with none: its header alone
                // stays, at the end of the file. The section is new, so the key is ours.
                doc.Set(section, "", "");
                doc.DeleteKey(section, "");
            }
        }
    });
}

// ---- Keys of output formats, patterns and repeats -------------------------------------------

void clsTemplate::ReadNewKeysFrom(const ProfileDocument& doc) {
    Guard(kCtxReadNewKeys, [&] {
        m_outputFormat = UCase(ReadText(doc, kSectionOutPut, kKeyFormat, "", kLongestText));
        m_perAttachment = ReadBoolean(doc, kSectionOutPut, kKeyPerAttachment);
        m_formulaGuard = ReadBoolean(doc, kSectionOutPut, kKeyFormulaGuard);
        m_byteOrderMark = ReadBoolean(doc, kSectionOutPut, kKeyBom);
        m_headerRow = ReadBoolean(doc, kSectionOutPut, kKeyHeaderRow);
        m_dateFormat = UCase(ReadText(doc, kSectionOutPut, kKeyDateFormat, "", kLongestText));
        m_repeatItems = ReadText(doc, kSectionRepeat, kKeyItems, "", kLongestOutputLine);
        m_processOnce = ProcessOnceIn(doc);
        m_patterns.clear();
        m_patternProblem.reset();
        long count = 0;
        for (const std::string& name : doc.KeyNames(kSectionPatterns)) {
            if (++count > kMaxNumberedKeys) Raise(kErrOverflow);
            // Cut at a NUL but not trimmed: blanks a pattern was written with in quotes count.
            std::string pattern = doc.Get(kSectionPatterns, name, "", kLongestPattern + 1);
            pattern.resize(std::min(pattern.size(), pattern.find('\0')));
            if (!Trim(name).empty() && !pattern.empty()) SetPattern(name, pattern);
        }
    });
}

void clsTemplate::WriteNewKeysTo(ProfileDocument& doc) const {
    Guard(kCtxWriteNewKeys, [&] {
        // A key whose meaning in the file is already the template's is left as it is spelt,
        // so a template saved unchanged keeps its bytes.
        const auto flag = [&](std::string_view key, bool on) {
            if (ReadBoolean(doc, kSectionOutPut, key) != on)
                WriteText(doc, kSectionOutPut, key, BooleanText(on));
        };
        const auto word = [&](std::string_view key, const std::string& value) {
            const std::string stored = ReadText(doc, kSectionOutPut, key, "", kLongestText);
            if (!EqualsNoCase(stored, Trim(value)))
                WriteOptional(doc, kSectionOutPut, key, value, true);
        };
        word(kKeyFormat, m_outputFormat);
        if (ProcessOnceIn(doc) != m_processOnce) {
            if (m_processOnce)
                WriteText(doc, kSectionGeneral, kKeyProcessOnce, BooleanText(*m_processOnce));
            else
                doc.DeleteKey(kSectionGeneral, kKeyProcessOnce);
        }
        flag(kKeyPerAttachment, m_perAttachment);
        flag(kKeyFormulaGuard, m_formulaGuard);
        flag(kKeyBom, m_byteOrderMark);
        flag(kKeyHeaderRow, m_headerRow);
        // Without ISO dates the key goes: a missing key is the system's short forms.
        const std::string dates = ReadText(doc, kSectionOutPut, kKeyDateFormat, "", kLongestText);
        if (!EqualsNoCase(dates, Trim(m_dateFormat))) {
            if (Trim(m_dateFormat).empty())
                doc.DeleteKey(kSectionOutPut, kKeyDateFormat);
            else
                WriteText(doc, kSectionOutPut, kKeyDateFormat, m_dateFormat);
        }

        // The repeated variables: the same names in another order or case mean the same.
        const std::string stored = ReadText(doc, kSectionRepeat, kKeyItems, "", kLongestOutputLine);
        if (!SameNames(stored, m_repeatItems)) {
            if (RepeatedVariables().empty()) {
                doc.DeleteKey(kSectionRepeat, kKeyItems);
                DropIfEmpty(doc, kSectionRepeat);
            } else {
                WriteText(doc, kSectionRepeat, kKeyItems, m_repeatItems);
            }
        }

        // The patterns section holds exactly the template's patterns, and goes with the last.
        bool dropped = false;
        for (const std::string& key : doc.KeyNames(kSectionPatterns)) {
            const bool kept = std::any_of(m_patterns.begin(), m_patterns.end(), [&](const auto& p) {
                return EqualsNoCase(p.first, Trim(key));
            });
            if (kept) continue;
            doc.DeleteKey(kSectionPatterns, key);
            dropped = true;
        }
        if (dropped) DropIfEmpty(doc, kSectionPatterns);
        for (const auto& [name, pattern] : m_patterns)
            if (doc.Find(kSectionPatterns, name) != pattern)
                doc.Set(kSectionPatterns, name, PatternValue(pattern));
    });
}

// ---- Single keys ------------------------------------------------------------------------------

void clsTemplate::ReadActiveFlagFrom(const ProfileDocument& doc) {
    Guard(kCtxReadActiveFlag, [&] { m_active = ReadBoolean(doc, kSectionGeneral, kKeyActive); });
}

void clsTemplate::ReadAllowDuplicateFrom(const ProfileDocument& doc) {
    Guard(kCtxReadAllowDuplicate,
          [&] { m_allowDuplicate = ReadBoolean(doc, kSectionOutPut, kKeyAllowDuplicate); });
}

void clsTemplate::ReadFilterFrom(const ProfileDocument& doc) {
    Guard(kCtxReadFilter, [&] {
        m_objFilter = std::make_shared<clsFilter>();
        m_objFilter->SetFileName(m_fileName);
        m_objFilter->SetMapiField(ReadText(doc, kSectionFilter, kKeyCommand, "", kLongestText));
        m_objFilter->SetFindString(ReadText(doc, kSectionFilter, kKeyFindString, "", kLongestText));
    });
}

void clsTemplate::ReadVariableCountFrom(const ProfileDocument& doc) {
    Guard(kCtxReadVariableCount,
          [&] { m_variableCount = ReadCount(doc, kSectionGeneral, kKeyNumVariables); });
}

void clsTemplate::ReadVariablesFrom(const ProfileDocument& doc) {
    Guard(kCtxReadVariables, [&] {
        m_refused = false;
        for (long i = 1; i <= m_variableCount; ++i) {
            if (i > kMaxNumberedKeys) Raise(kErrOverflow);
            const std::string key = NumberedKey(kKeyVarPrefix, i);
            // One character more than the reader takes tells a line that is too long: cut to
            // the limit it would lose its later items, and the texts it keeps would be wrong.
            std::string line = doc.Get(kSectionVariables, key, "", kLongestVariableLine + 2);
            line.resize(std::min(line.size(), line.find('\0')));
            if (line.size() > kLongestVariableLine) {
                m_refused = true;
                ReportError(std::string(kVariableLineTooLong) + m_fileName + ": " + key +
                                " is longer than " + std::to_string(kLongestVariableLine) +
                                " characters; the template is not used",
                            true);
                line.resize(kLongestVariableLine);
            }
            // A missing or empty definition still holds its place in the list: it reads as
            // blanks, which make a variable with empty texts and every flag "0".
            ParseFieldString(line.empty() ? std::string_view(" ") : std::string_view(line));
        }
    });
}

void clsTemplate::ReadOutputFileNameFrom(const ProfileDocument& doc) {
    Guard(kCtxReadOutputFileName,
          [&] { m_outputFile = ReadText(doc, kSectionOutPut, kKeyFile, "", kLongestText); });
}

void clsTemplate::ReadOutputDelimiterFrom(const ProfileDocument& doc) {
    Guard(kCtxReadOutputDelimiter, [&] {
        m_outputDeliminator = ReadText(doc, kSectionOutPut, kKeyDelimiter, "", kLongestText);
    });
}

void clsTemplate::ReadOutputLineCountFrom(const ProfileDocument& doc) {
    Guard(kCtxReadOutputLineCount,
          [&] { m_outputLineCount = ReadCount(doc, kSectionOutPut, kKeyOutputCount); });
}

void clsTemplate::ReadOutPutLinesFrom(const ProfileDocument& doc) {
    Guard(kCtxReadOutPutLines, [&] {
        for (long i = 1; i <= m_outputLineCount; ++i) {
            if (i > kMaxNumberedKeys) Raise(kErrOverflow);
            std::string line = ReadText(doc, kSectionOutPut, NumberedKey(kKeyOutputPrefix, i), "",
                                        kLongestOutputLine);
            if (!m_colOutPutLines) Raise(kErrObjectRequired);
            // Only the first line is used, so the collection keeps one: the last one read.
            m_colOutPutLines->Remove(1);
            m_colOutPutLines->Add(std::move(line));
        }
    });
}

void clsTemplate::ReadLastRanFrom(const ProfileDocument& doc) {
    Guard(kCtxReadLastRan, [&] {
        std::string v = ReadText(doc, kSectionGeneral, kKeyLastRan, kNever, kLongestText);
        m_lastRan = v.empty() ? std::string(kNever) : std::move(v);
    });
}

void clsTemplate::ReadScriptsFrom(const ProfileDocument& doc) {
    Guard(kCtxReadScripts,
          [&] { m_scriptsToRun = ReadText(doc, kSectionScripts, kKeyRun, "", kLongestText); });
}

void clsTemplate::WriteActiveFlagTo(ProfileDocument& doc) const {
    Guard(kCtxWriteActiveFlag,
          [&] { WriteText(doc, kSectionGeneral, kKeyActive, BooleanText(m_active)); });
}

void clsTemplate::WriteAllowDuplicateTo(ProfileDocument& doc) const {
    Guard(kCtxWriteAllowDuplicate, [&] {
        WriteText(doc, kSectionOutPut, kKeyAllowDuplicate, BooleanText(m_allowDuplicate));
    });
}

void clsTemplate::WriteFilterTo(ProfileDocument& doc) const {
    Guard(kCtxWriteFilter, [&] {
        if (!m_objFilter) return;
        WriteText(doc, kSectionFilter, kKeyCommand, m_objFilter->MapiField());
        WriteText(doc, kSectionFilter, kKeyFindString, m_objFilter->FindString());
    });
}

void clsTemplate::WriteVariableCountTo(ProfileDocument& doc) const {
    Guard(kCtxWriteVariableCount, [&] {
        WriteText(doc, kSectionGeneral, kKeyNumVariables, std::to_string(m_variableCount));
    });
}

void clsTemplate::WriteVariablesTo(ProfileDocument& doc) {
    Guard(kCtxWriteVariables, [&] {
        for (long i = 1; i <= m_variableCount; ++i) {
            if (i > kMaxNumberedKeys) Raise(kErrOverflow);
            WriteText(doc, kSectionVariables, NumberedKey(kKeyVarPrefix, i), MakeVarString(i));
        }
    });
}

void clsTemplate::WriteOutputFileNameTo(ProfileDocument& doc) const {
    Guard(kCtxWriteOutputFileName,
          [&] { WriteText(doc, kSectionOutPut, kKeyFile, Trim(m_outputFile)); });
}

void clsTemplate::WriteOutputDelimiterTo(ProfileDocument& doc) const {
    Guard(kCtxWriteOutputDelimiter,
          [&] { WriteText(doc, kSectionOutPut, kKeyDelimiter, m_outputDeliminator); });
}

void clsTemplate::WriteOutputLineCountTo(ProfileDocument& doc) const {
    Guard(kCtxWriteOutputLineCount, [&] {
        WriteText(doc, kSectionOutPut, kKeyOutputCount, std::to_string(m_outputLineCount));
    });
}

void clsTemplate::WriteOutPutLinesTo(ProfileDocument& doc) const {
    Guard(kCtxWriteOutPutLines, [&] {
        if (!m_colOutPutLines) Raise(kErrObjectRequired);
        WriteText(doc, kSectionOutPut, NumberedKey(kKeyOutputPrefix, 1), m_colOutPutLines->Item(1));
    });
}

void clsTemplate::WriteLastRanTo(ProfileDocument& doc) const {
    Guard(kCtxWriteLastRan, [&] { WriteText(doc, kSectionGeneral, kKeyLastRan, Trim(m_lastRan)); });
}

void clsTemplate::WriteScriptsTo(ProfileDocument& doc) const {
    Guard(kCtxWriteScripts,
          [&] { WriteText(doc, kSectionScripts, kKeyRun, Trim(m_scriptsToRun)); });
}

// Each operation on its own reads the file afresh, and a write saves it at once.
#define TALLIX_READ_OPERATION(Name, context)                                                \
    void clsTemplate::Name() {                                                              \
        Guard(context,                                                                      \
              [&] { ReadFromFile([&](const ProfileDocument& doc) { Name##From(doc); }); }); \
    }
#define TALLIX_WRITE_OPERATION(Name, Body, context)                                     \
    void clsTemplate::Name() {                                                          \
        Guard(context, [&] { WriteToFile([&](ProfileDocument& doc) { Body(doc); }); }); \
    }

TALLIX_READ_OPERATION(ReadActiveFlag, kCtxReadActiveFlag)
TALLIX_READ_OPERATION(ReadAllowDuplicate, kCtxReadAllowDuplicate)
TALLIX_READ_OPERATION(ReadFilter, kCtxReadFilter)
TALLIX_READ_OPERATION(ReadVariableCount, kCtxReadVariableCount)
TALLIX_READ_OPERATION(ReadVariables, kCtxReadVariables)
TALLIX_READ_OPERATION(ReadOutputFileName, kCtxReadOutputFileName)
TALLIX_READ_OPERATION(ReadOutputDelimiter, kCtxReadOutputDelimiter)
TALLIX_READ_OPERATION(ReadOutputLineCount, kCtxReadOutputLineCount)
TALLIX_READ_OPERATION(ReadOutPutLines, kCtxReadOutPutLines)
TALLIX_READ_OPERATION(ReadLastRan, kCtxReadLastRan)
TALLIX_READ_OPERATION(ReadScripts, kCtxReadScripts)
TALLIX_WRITE_OPERATION(WriteActiveFlag, WriteActiveFlagTo, kCtxWriteActiveFlag)
TALLIX_WRITE_OPERATION(WriteAllowDuplicate, WriteAllowDuplicateTo, kCtxWriteAllowDuplicate)
TALLIX_WRITE_OPERATION(WriteFilter, WriteFilterTo, kCtxWriteFilter)
TALLIX_WRITE_OPERATION(WriteVariableCount, WriteVariableCountTo, kCtxWriteVariableCount)
TALLIX_WRITE_OPERATION(WriteVariables, WriteVariablesTo, kCtxWriteVariables)
TALLIX_WRITE_OPERATION(WriteOutputFileName, WriteOutputFileNameTo, kCtxWriteOutputFileName)
TALLIX_WRITE_OPERATION(WriteOutputDelimiter, WriteOutputDelimiterTo, kCtxWriteOutputDelimiter)
TALLIX_WRITE_OPERATION(WriteOutputLineCount, WriteOutputLineCountTo, kCtxWriteOutputLineCount)
TALLIX_WRITE_OPERATION(WriteOutPutLines, WriteOutPutLinesTo, kCtxWriteOutPutLines)
TALLIX_WRITE_OPERATION(WriteLastRan, WriteLastRanTo, kCtxWriteLastRan)
TALLIX_WRITE_OPERATION(WriteScripts, WriteScriptsTo, kCtxWriteScripts)
TALLIX_WRITE_OPERATION(CreateFileSections, CreateFileSectionsIn, kCtxCreateFileSections)

#undef TALLIX_READ_OPERATION
#undef TALLIX_WRITE_OPERATION

// ---- The variable-definition line -------------------------------------------------------------

std::string clsTemplate::MakeVarString(long iIndex) {
    return GuardValue<std::string>(kCtxMakeVarString, std::string(), [&] {
        if (iIndex <= 0) return std::string();
        if (!m_colFields) Raise(kErrObjectRequired);
        auto field = m_colFields->Item(iIndex);
        if (!field) Raise(kErrObjectRequired);
        std::string start = Trim(FirstLine(field->FindStart()));
        std::string stop = Trim(FirstLine(field->FindStop()));
        if (start.empty()) start = kBeginningOfField;
        if (stop.empty()) stop = kEndOfField;
        std::vector<std::string> items = {field->FieldName(),
                                          field->FieldType(),
                                          start,
                                          stop,
                                          field->UseQuotes(),
                                          field->RemoveLF(),
                                          field->MatchCase(),
                                          field->MatchWholeString(),
                                          field->StartOfLineOnly()};
        for (std::string& item : items) item.resize(FirstLine(item).size());
        return Join(items, std::string(1, kItemSeparator));
    });
}

void clsTemplate::ParseFieldString(std::string_view sVal) {
    Guard(kCtxParseFieldString, [&] {
        if (sVal.empty()) return;
        if (!m_colFields) Raise(kErrObjectRequired);
        auto field = m_colFields->Add();
        if (!field) Raise(kErrObjectRequired);

        std::string_view rest = sVal;
        // The next item up to a separator; false (rest unchanged) when there is none.
        auto next = [&rest](std::string_view& item) {
            std::size_t at = rest.find(kItemSeparator);
            if (at == std::string_view::npos) return false;
            item = rest.substr(0, at);
            rest.remove_prefix(at + 1);
            return true;
        };

        // Name, type, start and stop: an item without a separator after it stays empty.
        std::string_view item;
        if (next(item)) field->SetFieldName(Trim(item));
        if (next(item)) field->SetFieldType(Trim(item));
        if (next(item)) {
            std::string start = Trim(item);
            field->SetFindStart(start == kOldNoneMarker ? kBeginningOfField : start);
        }
        if (next(item)) {
            // The older "NONE" stop marker (exactly, untrimmed) follows the start string.
            std::string stop(item);
            if (item == kOldNoneMarker) {
                const std::string start = field->FindStart();
                if (start == kBeginningOfField) {
                    stop = kEndOfField;
                } else if (!start.empty()) {
                    stop = kEndOfLine;
                }
            }
            field->SetFindStop(Trim(stop));
        }

        // The five flags: "1" or "0". The rest without a separator is the last item read;
        // every flag after it is "0", and text after the ninth item is ignored.
        using Setter = void (clsExportField::*)(std::string_view);
        constexpr Setter kFlags[] = {&clsExportField::SetUseQuotes, &clsExportField::SetRemoveLF,
                                     &clsExportField::SetMatchCase,
                                     &clsExportField::SetMatchWholeString,
                                     &clsExportField::SetStartOfLineOnly};
        bool ended = false;
        for (Setter set : kFlags) {
            if (ended) {
                ((*field).*set)(kFlagOff);
            } else if (next(item)) {
                ((*field).*set)(FlagFromItem(item));
            } else {
                ((*field).*set)(FlagFromItem(rest));
                ended = true;
            }
        }
    });
}

std::optional<bool> ReadProcessOnceKey(const std::string& path) {
    profile::ProfileStatus status;
    const ProfileDocument doc = ProfileDocument::Load(path, &status);
    if (!status.ok()) return std::nullopt;
    return ProcessOnceIn(doc);
}

}  // namespace tallix
