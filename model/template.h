#pragma once
// clsTemplate: which messages matter (the filter), what to lift out of them (the variables)
// and the one output line, as stored in a template file (.txf). Members are read with X()
// and assigned with SetX(v); object members are shared references. Every property and
// operation traps its own failures and reports them with its context text.
//
// The file operations (template_file.cpp) work on the file named by FileName. Each one reads
// the file afresh; ReadTemplate and WriteTemplateFile read it once for all their steps and
// write it once at the end, so another program never sees half a template.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/collection.h"
#include "model/export_field.h"
#include "model/object_collections.h"

namespace tallix::profile {
class ProfileDocument;
}

namespace tallix {

// The words of [Output] Format and DateFormat.
inline constexpr std::string_view kFormatDelimited = "DELIMITED";
inline constexpr std::string_view kFormatCsv = "CSV";
inline constexpr std::string_view kFormatJsonl = "JSONL";
inline constexpr std::string_view kDateFormatIso = "ISO";

// The [General] ProcessOnce value of the template file at `path`, read without a report:
// unset when the key is missing or the file cannot be read.
std::optional<bool> ReadProcessOnceKey(const std::string& path);

class clsTemplate {
  public:
    clsTemplate();

    std::string ScriptsToRun() const;
    void SetScriptsToRun(std::string_view v);
    std::string LastRan() const;
    void SetLastRan(std::string_view v);
    bool AllowDuplicate() const;
    void SetAllowDuplicate(bool v);
    std::shared_ptr<TextCollection> colOutPutLines() const;
    void SetcolOutPutLines(std::shared_ptr<TextCollection> v);
    std::int32_t OutputLineCount() const;
    void SetOutputLineCount(std::int32_t v);
    std::string OutputDeliminator() const;
    void SetOutputDeliminator(std::string_view v);
    std::string OutputFile() const;
    void SetOutputFile(std::string_view v);
    std::shared_ptr<colExportFields> colFields() const;
    void SetcolFields(std::shared_ptr<colExportFields> v);
    std::shared_ptr<clsFilter> objFilter() const;
    void SetobjFilter(std::shared_ptr<clsFilter> v);
    std::int32_t VariableCount() const;
    void SetVariableCount(std::int32_t v);
    bool Active() const;
    void SetActive(bool v);
    std::string FileName() const;
    void SetFileName(std::string_view v);

    // Keys a template made before them does not have. Each is written only when its meaning
    // in the file differs from the template's (a missing key means off, or empty), so a
    // template without them, or saved unchanged, keeps its bytes. An empty DateFormat, an
    // empty RepeatItems and the last pattern removed take their key (and the section left
    // empty) out of the file.
    // [Output] Format: "" (missing: delimited as always), "DELIMITED", "CSV" or "JSONL".
    std::string OutputFormat() const;
    void SetOutputFormat(std::string_view v);
    // [Output] PerAttachment: one line for each attachment of a matching message.
    bool PerAttachment() const;
    void SetPerAttachment(bool v);
    // [Output] FormulaGuard: a value that begins with = + - @ TAB or CR is written after "'".
    bool FormulaGuard() const;
    void SetFormulaGuard(bool v);
    // [Output] BOM: a new output file starts with the UTF-8 byte-order mark.
    bool ByteOrderMark() const;
    void SetByteOrderMark(bool v);
    // [Output] HeaderRow: a new output file starts with a line of the output names.
    bool HeaderRow() const;
    void SetHeaderRow(bool v);
    // [Output] DateFormat: "" (the system's short forms) or "ISO".
    std::string DateFormat() const;
    void SetDateFormat(std::string_view v);
    // [General] ProcessOnce: unset (the setting of the same name decides), or whether each
    // message is offered to this template once only. The key is written only while set.
    std::optional<bool> ProcessOnce() const { return m_processOnce; }
    void SetProcessOnce(std::optional<bool> v) { m_processOnce = v; }
    // [Repeat] Items: the names of the variables taken at every occurrence, comma-separated.
    std::string RepeatItems() const;
    void SetRepeatItems(std::string_view v);
    // The names of RepeatItems, trimmed, empty ones left out.
    std::vector<std::string> RepeatedVariables() const;
    // [Patterns]: a regular expression per variable name, searched instead of the start and
    // stop texts. Names compare without regard to case; an empty pattern removes the entry.
    std::string Pattern(std::string_view variableName) const;
    void SetPattern(std::string_view variableName, std::string_view pattern);
    const std::vector<std::pair<std::string, std::string>>& Patterns() const { return m_patterns; }
    // Why the template cannot run: the first pattern that does not compile, named with its
    // variable and the position in the pattern; "" when every pattern compiles.
    std::string PatternProblem() const;

    // Reading and writing the template file.
    void WriteAllowDuplicate();
    void ReadAllowDuplicate();
    void ParseFieldString(std::string_view sVal);
    void ReadScripts();
    void ReadLastRan();
    void ReadOutputLineCount();
    void ReadOutputDelimiter();
    void ReadOutputFileName();
    void ReadVariables();
    void ReadFilter();
    void ReadVariableCount();
    void ReadActiveFlag();
    // Reads every key; false when any step of the reading reported a fault.
    bool ReadTemplate();
    // The last reading met a line too long to read whole, or a file that could not be read
    // (reported): the template as read is not what its file says, and a run does not apply it.
    bool Refused() const { return m_refused; }
    void ReadOutPutLines();
    void WriteTemplateFile(bool bNew);
    // The system's error number of the last write of the file (WriteTemplateFile or a single
    // Write operation) that could not save it: an unreadable file is not replaced, nor is one
    // marked read-only (EACCES); 0 when it was saved or had nothing to change.
    int LastWriteError() const { return m_lastWriteError; }
    void WriteScripts();
    void WriteActiveFlag();
    void WriteFilter();
    void WriteVariableCount();
    void WriteVariables();
    void WriteOutputFileName();
    void WriteOutputDelimiter();
    void WriteOutputLineCount();
    void WriteOutPutLines();
    void WriteLastRan();
    std::string MakeVarString(long iIndex);
    void CreateFileSections();

    // A copy that shares nothing with this template: its variables, filter and output lines
    // are copies too, so values set on one never show in the other.
    std::shared_ptr<clsTemplate> Clone() const;

    // Value of the first variable whose trimmed name matches `sName` without regard to case.
    std::string GetValueByName(std::string_view sName) const;
    void SetValueByName(std::string_view sName, std::string_view sVal);

  private:
    using Document = profile::ProfileDocument;

    // Each file operation on a document that the caller loads and saves.
    void ReadAllowDuplicateFrom(const Document& doc);
    void ReadScriptsFrom(const Document& doc);
    void ReadLastRanFrom(const Document& doc);
    void ReadOutputLineCountFrom(const Document& doc);
    void ReadOutputDelimiterFrom(const Document& doc);
    void ReadOutputFileNameFrom(const Document& doc);
    void ReadVariablesFrom(const Document& doc);
    void ReadFilterFrom(const Document& doc);
    void ReadVariableCountFrom(const Document& doc);
    void ReadActiveFlagFrom(const Document& doc);
    void ReadOutPutLinesFrom(const Document& doc);
    void WriteAllowDuplicateTo(Document& doc) const;
    void WriteScriptsTo(Document& doc) const;
    void WriteActiveFlagTo(Document& doc) const;
    void WriteFilterTo(Document& doc) const;
    void WriteVariableCountTo(Document& doc) const;
    void WriteVariablesTo(Document& doc);
    void WriteOutputFileNameTo(Document& doc) const;
    void WriteOutputDelimiterTo(Document& doc) const;
    void WriteOutputLineCountTo(Document& doc) const;
    void WriteOutPutLinesTo(Document& doc) const;
    void WriteLastRanTo(Document& doc) const;
    void CreateFileSectionsIn(Document& doc) const;
    void ReadNewKeysFrom(const Document& doc);
    void WriteNewKeysTo(Document& doc) const;

    template <class Op>
    void ReadFromFile(Op op);
    template <class Op>
    void WriteToFile(Op op);

    std::string m_scriptsToRun;
    std::string m_lastRan;
    bool m_allowDuplicate = false;
    std::shared_ptr<TextCollection> m_colOutPutLines;
    std::int32_t m_outputLineCount = 0;
    std::string m_outputDeliminator;
    std::string m_outputFile;
    std::shared_ptr<colExportFields> m_colFields;
    std::shared_ptr<clsFilter> m_objFilter;
    std::int32_t m_variableCount = 0;
    bool m_active = false;
    std::string m_fileName;
    int m_lastWriteError = 0;
    std::string m_outputFormat;
    bool m_perAttachment = false;
    bool m_formulaGuard = false;
    bool m_byteOrderMark = false;
    bool m_headerRow = false;
    std::string m_dateFormat;
    std::string m_repeatItems;
    std::optional<bool> m_processOnce;
    std::vector<std::pair<std::string, std::string>> m_patterns;
    // PatternProblem's answer, made once for the patterns as they stand.
    mutable std::optional<std::string> m_patternProblem;
    bool m_refused = false;
};

}  // namespace tallix
