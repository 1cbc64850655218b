#pragma once
// One variable of a template (clsExportField) and the template's filter (clsFilter): plain
// text members read with X() and assigned with SetX(v). The markers and flag texts that
// variable definitions use are declared here once.

#include <string>
#include <string_view>

#include "model/property.h"

namespace tallix {

inline constexpr std::string_view kBeginningOfField = "{Beginning of Field}";
inline constexpr std::string_view kEndOfField = "{End of Field}";
inline constexpr std::string_view kEndOfLine = "{End of Line}";
// Template flags.
inline constexpr std::string_view kFlagOn = "1";
inline constexpr std::string_view kFlagOff = "0";

class clsExportField {
  public:
    std::string StartOfLineOnly() const;
    void SetStartOfLineOnly(std::string_view v);
    std::string MatchWholeString() const;
    void SetMatchWholeString(std::string_view v);
    std::string MatchCase() const;
    void SetMatchCase(std::string_view v);
    std::string RemoveLF() const;
    void SetRemoveLF(std::string_view v);
    std::string Value() const;
    void SetValue(std::string_view v);
    std::string FindStop() const;
    void SetFindStop(std::string_view v);
    std::string FindStart() const;
    void SetFindStart(std::string_view v);
    std::string FieldType() const;
    void SetFieldType(std::string_view v);
    std::string FieldName() const;
    void SetFieldName(std::string_view v);
    std::string UseQuotes() const;
    void SetUseQuotes(std::string_view v);

    // Direct access for code that only reads many values in a loop (every line reads them).
    const std::string& FieldNameRef() const { return m_fieldName; }
    const std::string& ValueRef() const { return m_value; }
    const std::string& UseQuotesRef() const { return m_useQuotes; }
    const std::string& RemoveLFRef() const { return m_removeLF; }

  private:
    std::string m_startOfLineOnly;
    std::string m_matchWholeString;
    std::string m_matchCase;
    std::string m_removeLF;
    std::string m_value;
    std::string m_findStop;
    std::string m_findStart;
    std::string m_fieldType;
    std::string m_fieldName;
    std::string m_useQuotes;
};

class clsFilter {
  public:
    std::string FindString() const;
    void SetFindString(std::string_view v);
    std::string MapiField() const;
    void SetMapiField(std::string_view v);
    std::string FileName() const;
    void SetFileName(std::string_view v);

  private:
    std::string m_findString;
    std::string m_mapiField;
    std::string m_fileName;
};

}  // namespace tallix
