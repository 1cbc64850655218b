#include "model/template.h"

#include <algorithm>

#include "model/template_pattern.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

// Context texts of the property procedures: what assigning and reading each member reports.
// Object members are assigned with Set.
constexpr PropertyContext kScriptsToRun{"clsTemplate - Let ScriptsToRun",
                                        "clsTemplate - Get ScriptsToRun"};
constexpr PropertyContext kLastRan{"clsTemplate - Let LastRun", "clsTemplate - Get LastRun"};
constexpr PropertyContext kAllowDuplicate{"clsTemplate - Let AllowDuplicate",
                                          "clsTemplate - Get AllowDuplicate"};
constexpr PropertyContext kColOutPutLines{"clsTemplate - Set colOutPutLines",
                                          "clsTemplate Get colOutPutLines"};
constexpr PropertyContext kOutputLineCount{"clsTemplate - Let OutputLineCount",
                                           "clsTemplate - Get OutputLineCount"};
constexpr PropertyContext kOutputDeliminator{"clsTemplate - Let OutputDeliminator",
                                             "clsTemplate - Get OutputDeliminator"};
constexpr PropertyContext kOutputFile{"clsTemplate - Let OutputFile",
                                      "clsTemplate - Get OutputFile"};
constexpr PropertyContext kColFields{"clsTemplate - Set colFields", "clsTemplate - Get colFields"};
constexpr PropertyContext kObjFilter{"clsTemplate - Set objFilter", "clsTemplate - Get objFilter"};
constexpr PropertyContext kVariableCount{"clsTemplate - Let VariableCount",
                                         "clsTemplate - Get VariableCount"};
constexpr PropertyContext kActive{"clsTemplate - Let Active", "clsTemplate - Get Active"};
constexpr PropertyContext kFileName{"clsTemplate - Let FileName", "clsTemplate - Get FileName"};

constexpr PropertyContext kOutputFormat{"clsTemplate - Let OutputFormat",
                                        "clsTemplate - Get OutputFormat"};
constexpr PropertyContext kPerAttachment{"clsTemplate - Let PerAttachment",
                                         "clsTemplate - Get PerAttachment"};
constexpr PropertyContext kFormulaGuard{"clsTemplate - Let FormulaGuard",
                                        "clsTemplate - Get FormulaGuard"};
constexpr PropertyContext kByteOrderMark{"clsTemplate - Let BOM", "clsTemplate - Get BOM"};
constexpr PropertyContext kHeaderRow{"clsTemplate - Let HeaderRow", "clsTemplate - Get HeaderRow"};
constexpr PropertyContext kDateFormat{"clsTemplate - Let DateFormat",
                                      "clsTemplate - Get DateFormat"};
constexpr PropertyContext kRepeatItems{"clsTemplate - Let RepeatItems",
                                       "clsTemplate - Get RepeatItems"};

constexpr std::string_view kGetValueByName = "clsTemplate - GetValueByName";
constexpr std::string_view kSetValueByName = "clsTemplate - SetValueByName";

}  // namespace

clsTemplate::clsTemplate()
    : m_colOutPutLines(std::make_shared<TextCollection>()),
      m_colFields(std::make_shared<colExportFields>()),
      m_objFilter(std::make_shared<clsFilter>()) {
    // A new template holds one empty output line.
    m_colOutPutLines->Add(std::string());
}

std::shared_ptr<clsTemplate> clsTemplate::Clone() const {
    auto copy = std::make_shared<clsTemplate>(*this);
    copy->m_colOutPutLines =
        m_colOutPutLines ? std::make_shared<TextCollection>(*m_colOutPutLines) : nullptr;
    copy->m_objFilter = m_objFilter ? std::make_shared<clsFilter>(*m_objFilter) : nullptr;
    if (m_colFields) {
        copy->m_colFields = std::make_shared<colExportFields>();
        for (const auto& field : m_colFields->NewEnum()) {
            if (auto added = copy->m_colFields->Add()) *added = *field;
        }
    } else {
        copy->m_colFields = nullptr;
    }
    return copy;
}

TALLIX_TEXT_PROPERTY(clsTemplate, ScriptsToRun, m_scriptsToRun, kScriptsToRun)
TALLIX_TEXT_PROPERTY(clsTemplate, LastRan, m_lastRan, kLastRan)
TALLIX_TEXT_PROPERTY(clsTemplate, OutputDeliminator, m_outputDeliminator, kOutputDeliminator)
TALLIX_TEXT_PROPERTY(clsTemplate, OutputFile, m_outputFile, kOutputFile)
TALLIX_TEXT_PROPERTY(clsTemplate, FileName, m_fileName, kFileName)
TALLIX_TEXT_PROPERTY(clsTemplate, OutputFormat, m_outputFormat, kOutputFormat)
TALLIX_TEXT_PROPERTY(clsTemplate, DateFormat, m_dateFormat, kDateFormat)
TALLIX_TEXT_PROPERTY(clsTemplate, RepeatItems, m_repeatItems, kRepeatItems)

bool clsTemplate::PerAttachment() const {
    return GetProperty(kPerAttachment, m_perAttachment);
}
void clsTemplate::SetPerAttachment(bool v) {
    LetProperty(kPerAttachment, m_perAttachment, v);
}
bool clsTemplate::FormulaGuard() const {
    return GetProperty(kFormulaGuard, m_formulaGuard);
}
void clsTemplate::SetFormulaGuard(bool v) {
    LetProperty(kFormulaGuard, m_formulaGuard, v);
}
bool clsTemplate::ByteOrderMark() const {
    return GetProperty(kByteOrderMark, m_byteOrderMark);
}
void clsTemplate::SetByteOrderMark(bool v) {
    LetProperty(kByteOrderMark, m_byteOrderMark, v);
}
bool clsTemplate::HeaderRow() const {
    return GetProperty(kHeaderRow, m_headerRow);
}
void clsTemplate::SetHeaderRow(bool v) {
    LetProperty(kHeaderRow, m_headerRow, v);
}

std::vector<std::string> clsTemplate::RepeatedVariables() const {
    std::vector<std::string> names;
    std::string_view rest = m_repeatItems;
    while (true) {
        const std::size_t comma = rest.find(',');
        std::string name = Trim(rest.substr(0, comma));
        if (!name.empty()) names.push_back(std::move(name));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return names;
}

std::string clsTemplate::Pattern(std::string_view variableName) const {
    const std::string_view wanted = TrimView(variableName);
    for (const auto& [name, pattern] : m_patterns)
        if (EqualsNoCase(name, wanted)) return pattern;
    return {};
}

void clsTemplate::SetPattern(std::string_view variableName, std::string_view pattern) {
    m_patternProblem.reset();
    const std::string name = Trim(variableName);
    if (name.empty()) return;
    auto it = std::find_if(m_patterns.begin(), m_patterns.end(),
                           [&](const auto& entry) { return EqualsNoCase(entry.first, name); });
    if (pattern.empty()) {
        if (it != m_patterns.end()) m_patterns.erase(it);
    } else if (it != m_patterns.end()) {
        it->second = pattern;
    } else {
        m_patterns.emplace_back(name, std::string(pattern));
    }
}

std::string clsTemplate::PatternProblem() const {
    if (m_patternProblem) return *m_patternProblem;
    m_patternProblem.emplace();
    for (const auto& [name, pattern] : m_patterns) {
        if (std::optional<PatternError> error = CheckPattern(pattern)) {
            *m_patternProblem = "the pattern of variable " + name +
                                " does not compile at position " +
                                std::to_string(error->offset + 1) + ": " + error->message;
            break;
        }
    }
    return *m_patternProblem;
}

bool clsTemplate::AllowDuplicate() const {
    return GetProperty(kAllowDuplicate, m_allowDuplicate);
}
void clsTemplate::SetAllowDuplicate(bool v) {
    LetProperty(kAllowDuplicate, m_allowDuplicate, v);
}

std::shared_ptr<TextCollection> clsTemplate::colOutPutLines() const {
    return GetProperty(kColOutPutLines, m_colOutPutLines);
}
void clsTemplate::SetcolOutPutLines(std::shared_ptr<TextCollection> v) {
    LetProperty(kColOutPutLines, m_colOutPutLines, std::move(v));
}

std::int32_t clsTemplate::OutputLineCount() const {
    return GetProperty(kOutputLineCount, m_outputLineCount);
}
void clsTemplate::SetOutputLineCount(std::int32_t v) {
    LetProperty(kOutputLineCount, m_outputLineCount, v);
}

std::shared_ptr<colExportFields> clsTemplate::colFields() const {
    return GetProperty(kColFields, m_colFields);
}
void clsTemplate::SetcolFields(std::shared_ptr<colExportFields> v) {
    LetProperty(kColFields, m_colFields, std::move(v));
}

std::shared_ptr<clsFilter> clsTemplate::objFilter() const {
    return GetProperty(kObjFilter, m_objFilter);
}
void clsTemplate::SetobjFilter(std::shared_ptr<clsFilter> v) {
    LetProperty(kObjFilter, m_objFilter, std::move(v));
}

std::int32_t clsTemplate::VariableCount() const {
    return GetProperty(kVariableCount, m_variableCount);
}
void clsTemplate::SetVariableCount(std::int32_t v) {
    LetProperty(kVariableCount, m_variableCount, v);
}

bool clsTemplate::Active() const {
    return GetProperty(kActive, m_active);
}
void clsTemplate::SetActive(bool v) {
    LetProperty(kActive, m_active, v);
}

std::string clsTemplate::GetValueByName(std::string_view sName) const {
    return GuardValue<std::string>(kGetValueByName, std::string(), [&] {
        const std::string wanted = UCase(Trim(sName));
        if (wanted.empty()) return std::string();
        if (!m_colFields) Raise(kErrObjectRequired);
        for (const auto& field : m_colFields->NewEnum()) {
            if (UCase(Trim(field->FieldNameRef())) == wanted) return field->Value();
        }
        return std::string();
    });
}

void clsTemplate::SetValueByName(std::string_view sName, std::string_view sVal) {
    Guard(kSetValueByName, [&] {
        const std::string wanted = UCase(Trim(sName));
        const std::string value = Trim(sVal);
        if (wanted.empty() || value.empty()) return;
        if (!m_colFields) Raise(kErrObjectRequired);
        for (const auto& field : m_colFields->NewEnum()) {
            if (UCase(Trim(field->FieldNameRef())) == wanted) {
                field->SetValue(value);
                return;
            }
        }
    });
}

}  // namespace tallix
