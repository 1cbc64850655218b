#include "model/export_field.h"

namespace tallix {
namespace {

// Context texts of the property procedures: what assigning and reading each member reports.
constexpr PropertyContext kStartOfLineOnly{"clsExportField - Let StartOfLineOnly",
                                           "clsExportField - Get StartOfLineOnly"};
constexpr PropertyContext kMatchWholeString{"clsExportField - Let MatchWholeString",
                                            "clsExportField - Get MatchWhole String"};
constexpr PropertyContext kMatchCase{"clsExportField - Let MatchCase",
                                     "clsExportField - Get MatchCase"};
constexpr PropertyContext kRemoveLF{"clsExportField - Let RemoveLF",
                                    "clsExportField - Get RemoveLF"};
constexpr PropertyContext kValue{"clsExportField - Let Value", "clsExportField - Get Value"};
constexpr PropertyContext kFindStop{"clsExportField - Let FindStop", "clsExportField - FindStop"};
constexpr PropertyContext kFindStart{"clsExportField - Let FindStart",
                                     "clsExportField - Get FindStart"};
constexpr PropertyContext kFieldType{"clsExportField - Let FieldType",
                                     "clsExportField - Get FieldType"};
constexpr PropertyContext kFieldName{"clsExportField - Let FieldName",
                                     "clsExportField - Get FieldName"};
constexpr PropertyContext kUseQuotes{"clsExportField - Let UseQuotes",
                                     "clsExportField - Get UseQuotes"};

constexpr PropertyContext kFindString{"clsFilter - Let FindString", "clsFilter - Get FindString"};
constexpr PropertyContext kMapiField{"clsFilter Let MapiField", "clsFilter - Get MapiField"};
constexpr PropertyContext kFilterFileName{"clsFilter - Let FileName", "clsFilter - Get FileName"};

}  // namespace

TALLIX_TEXT_PROPERTY(clsExportField, StartOfLineOnly, m_startOfLineOnly, kStartOfLineOnly)
TALLIX_TEXT_PROPERTY(clsExportField, MatchWholeString, m_matchWholeString, kMatchWholeString)
TALLIX_TEXT_PROPERTY(clsExportField, MatchCase, m_matchCase, kMatchCase)
TALLIX_TEXT_PROPERTY(clsExportField, RemoveLF, m_removeLF, kRemoveLF)
TALLIX_TEXT_PROPERTY(clsExportField, Value, m_value, kValue)
TALLIX_TEXT_PROPERTY(clsExportField, FindStop, m_findStop, kFindStop)
TALLIX_TEXT_PROPERTY(clsExportField, FindStart, m_findStart, kFindStart)
TALLIX_TEXT_PROPERTY(clsExportField, FieldType, m_fieldType, kFieldType)
TALLIX_TEXT_PROPERTY(clsExportField, FieldName, m_fieldName, kFieldName)
TALLIX_TEXT_PROPERTY(clsExportField, UseQuotes, m_useQuotes, kUseQuotes)

TALLIX_TEXT_PROPERTY(clsFilter, FindString, m_findString, kFindString)
TALLIX_TEXT_PROPERTY(clsFilter, MapiField, m_mapiField, kMapiField)
TALLIX_TEXT_PROPERTY(clsFilter, FileName, m_fileName, kFilterFileName)

}  // namespace tallix
