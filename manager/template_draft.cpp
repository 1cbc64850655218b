#include "manager/template_draft.h"

#include <fcntl.h>
#include <QApplication>
#include <QString>
#include <QTreeWidget>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/template_choices.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "model/line_format.h"
#include "model/template.h"
#include "model/template_pattern.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
namespace {

std::string ProcCtx(std::string_view name) {
    return "modClientProcs - " + std::string(name);
}

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The same names without regard to order or case.
bool SameNames(std::vector<std::string> a, std::vector<std::string> b) {
    for (auto* list : {&a, &b}) {
        for (std::string& name : *list) name = LCase(name);
        std::sort(list->begin(), list->end());
    }
    return a == b;
}

std::string CutForHelp(const std::string& text) {
    return text.size() > kHelpTextShown ? text.substr(0, kHelpTextShown) + "..." : text;
}

// Renames `from` to `to` unless `to` exists; errno on failure, 0 when done.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the no-replace flag: check, then rename.
    std::error_code ec;
    if (std::filesystem::exists(to, ec)) return EEXIST;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The template extension as `path` spells it, or the usual one when it has none.
std::string TemplateExtensionOf(const std::string& path) {
    const std::size_t n = kTemplateExtension.size();
    if (path.size() > n && EqualsNoCase(path.substr(path.size() - n), kTemplateExtension))
        return path.substr(path.size() - n);
    return std::string(kTemplateExtension);
}

}  // namespace

TemplateDraft DraftFromTemplate(const clsTemplate& tpl, bool isNew) {
    return GuardValue(ProcCtx("SetEditCtrlValues"), TemplateDraft{}, [&] {
        TemplateDraft d;
        const std::string file = tpl.FileName();
        d.name = isNew ? file : JustFileName(file);
        d.active = tpl.Active();
        d.filterField = tpl.objFilter()->MapiField();
        d.filterText = tpl.objFilter()->FindString();
        for (const auto& f : tpl.colFields()->NewEnum())
            d.variables.push_back({f->FieldName(), f->FieldType(), f->FindStart(), f->FindStop(),
                                   f->UseQuotes(), f->RemoveLF(), f->MatchWholeString(),
                                   f->MatchCase(), f->StartOfLineOnly(),
                                   tpl.Pattern(f->FieldName()), false});
        for (const std::string& repeated : tpl.RepeatedVariables())
            for (VariableDraft& v : d.variables)
                if (EqualsNoCase(Trim(v.name), repeated)) v.repeat = true;
        const auto lines = tpl.colOutPutLines();
        const std::string outputList = lines && lines->Count() >= 1 ? lines->Item(1) : "";
        std::vector<std::string> listed;
        for (const ListedVariable& v : ListedVariables(d.variables)) listed.push_back(v.name);
        d.output = SplitOutput(listed, ParseOutput(outputList, ",")).included;
        d.outputFile = tpl.OutputFile();
        d.delimiter = tpl.OutputDeliminator();
        d.processOnce = tpl.ProcessOnce();
        d.allowDuplicate = tpl.AllowDuplicate();
        d.scripts = ScriptsUsedNames(tpl.ScriptsToRun());
        d.perAttachment = tpl.PerAttachment();
        d.format = FormatStored(FormatShown(tpl.OutputFormat()));
        d.formulaGuard = tpl.FormulaGuard();
        d.bom = tpl.ByteOrderMark();
        d.headerRow = tpl.HeaderRow();
        d.isoDates = EqualsNoCase(Trim(tpl.DateFormat()), kDateFormatIso);
        if (isNew) NewTemplateDefaults(d);
        return d;
    });
}

void GetEditCtrlValues(const TemplateDraft& draft, clsTemplate& tpl) {
    Guard(ProcCtx("GetEditCtrlValues"), [&] {
        tpl.SetFileName(MakeFileName(Trim(draft.name)));
        tpl.SetActive(draft.active);
        tpl.objFilter()->SetFindString(draft.filterText);
        tpl.objFilter()->SetMapiField(draft.filterField);
        auto fields = std::make_shared<colExportFields>();
        for (const VariableDraft& v : draft.variables) {
            auto field = fields->Add();
            if (!field) return;
            field->SetFieldName(v.name);
            field->SetFieldType(v.field);
            field->SetFindStart(v.findStart);
            field->SetFindStop(v.findStop);
            field->SetUseQuotes(v.useQuotes);
            field->SetRemoveLF(v.removeLF);
            field->SetMatchWholeString(v.matchWholeString);
            field->SetMatchCase(v.matchCase);
            field->SetStartOfLineOnly(v.startOfLineOnly);
        }
        tpl.SetcolFields(fields);
        tpl.SetVariableCount(static_cast<std::int32_t>(draft.variables.size()));
        tpl.SetOutputFile(Trim(draft.outputFile));
        tpl.SetOutputDeliminator(draft.delimiter);
        tpl.SetProcessOnce(draft.processOnce);
        tpl.SetOutputLineCount(1);
        auto lines = std::make_shared<TextCollection>();
        lines->Add(Trim(Join(draft.output, ",")));
        tpl.SetcolOutPutLines(lines);
        tpl.SetAllowDuplicate(draft.allowDuplicate);
        tpl.SetScriptsToRun(Join(draft.scripts, ","));

        // The patterns are exactly those of the draft's variables.
        const auto stale = tpl.Patterns();
        for (const auto& entry : stale) tpl.SetPattern(entry.first, "");
        std::vector<std::string> repeated;
        for (const VariableDraft& v : draft.variables) {
            if (!v.pattern.empty()) tpl.SetPattern(v.name, v.pattern);
            if (v.repeat) repeated.push_back(Trim(v.name));
        }
        if (!SameNames(tpl.RepeatedVariables(), repeated)) tpl.SetRepeatItems(Join(repeated, ","));

        tpl.SetPerAttachment(draft.perAttachment);
        tpl.SetFormulaGuard(draft.formulaGuard);
        tpl.SetByteOrderMark(draft.bom);
        tpl.SetHeaderRow(draft.headerRow);
        // A format or date format the editor does not offer stays as it is spelt.
        if (FormatStored(FormatShown(tpl.OutputFormat())) != draft.format)
            tpl.SetOutputFormat(draft.format);
        if (EqualsNoCase(Trim(tpl.DateFormat()), kDateFormatIso) != draft.isoDates)
            tpl.SetDateFormat(draft.isoDates ? kDateFormatIso : "");
    });
}

void NewTemplateDefaults(TemplateDraft& draft) {
    draft.format = kFormatCsv;
    draft.formulaGuard = true;
    if (Trim(draft.outputFile).empty()) draft.outputFile = DefaultOutputFile().toStdString();
}

void NewTemplateDefaults(clsTemplate& tpl) {
    TemplateDraft defaults;
    NewTemplateDefaults(defaults);
    tpl.SetOutputFormat(defaults.format);
    tpl.SetFormulaGuard(defaults.formulaGuard);
}

bool SaveDraft(const TemplateDraft& draft, const std::shared_ptr<clsTemplate>& tpl) {
    return GuardValue("frmTemplateEdit cmdApply_Click", false, [&] {
        const bool isNew = State().newTemplate;
        std::string name = draft.name;
        std::string message;
        auto refuse = [&](const std::string& why) {
            QApplication::beep();
            MsgBox(std::string(kMsgCannotSaveChanges) + why, MsgButtons::Ok, MsgIcon::Critical,
                   kErrorTitle);
            return false;
        };
        if (!IsGoodFileName(name, message, isNew)) return refuse(message);
        if (const std::string why = DraftKeyRefusal(draft); !why.empty()) return refuse(why);

        FrmMain* form = MainForm();
        QTreeWidgetItem* row = form && !isNew ? form->SelectedItem() : nullptr;
        const std::string oldPath = FrmMain::RowTag(row);
        const bool renamed = row && Trim(FrmMain::RowText(row)) != name;
        // An existing template goes back to the file it came from, whose extension may be
        // spelt in any case (the list takes them all); a rename keeps that spelling, so the
        // file is never written again beside itself under a second spelling.
        std::string newPath = MakeFileName(name);
        if (!oldPath.empty())
            newPath = renamed ? (std::filesystem::path(oldPath).parent_path() /
                                 (name + TemplateExtensionOf(oldPath)))
                                    .string()
                              : oldPath;
        // A file under the new name that is not this template's own (another program made
        // it, so it is not in the list) is never overwritten.
        std::error_code ec;
        if (std::filesystem::exists(newPath, ec) &&
            (oldPath.empty() || !std::filesystem::equivalent(oldPath, newPath, ec)))
            return refuse(std::string(kMsgNameExists));
        // A run of such a template writes a line of nothing for every message it reads; it is
        // stored only when the user says so (a template may be saved before it is finished).
        if (draft.output.empty() &&
            MsgBox(kMsgEmptyOutputLine, MsgButtons::YesNo, MsgIcon::Exclamation, kWarningTitle,
                   MsgAnswer::No) != MsgAnswer::Yes)
            return false;

        GetEditCtrlValues(draft, *tpl);
        tpl->SetFileName(newPath);
        if (renamed) {
            if (const int error = RenameNoReplace(oldPath, newPath)) {
                // The old file stays as it was and nothing is written under either name.
                tpl->SetFileName(oldPath);
                QApplication::beep();
                MsgBox(std::string(kMsgRenameFailed) + oldPath + " to " + newPath + ": " +
                           std::strerror(error) + "\n" + std::string(kMsgRenameNothingSaved),
                       MsgButtons::Ok, MsgIcon::Critical, kErrorTitle);
                return false;
            }
        }
        State().currentTemplate = tpl;
        // Unsaved, the editor stays open with everything the user entered; a file renamed
        // before the failed write is still listed under its new name.
        const bool written = SaveCurrentFile(isNew);
        if (!written && !renamed) return false;
        // From now on the editor edits the file just written: a later rename moves it.
        State().newTemplate = false;
        GetTempFiles();
        if (form) {
            if (QTreeWidgetItem* listed = form->FindRow(name)) {
                form->lvMainList->clearSelection();
                form->lvMainList->setCurrentItem(listed);
                listed->setSelected(true);
                form->lvMainList->scrollToItem(listed);
            }
        }
        return written;
    });
}

std::vector<std::string> ScriptsUsedNames(std::string_view scriptsToRun) {
    // Unlike the run, an empty piece does not end the list: the editor shows what is stored
    // and writes it back unchanged.
    std::vector<std::string> names;
    std::string_view rest = scriptsToRun;
    while (rest.size() >= 2) {
        const std::size_t comma = rest.find(',');
        names.emplace_back(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return names;
}

bool SortsBefore(std::string_view a, std::string_view b) {
    const QString qa = Q(a);
    const QString qb = Q(b);
    const int c = QString::compare(qa, qb, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : qa < qb;
}

std::vector<ListedVariable> ListedVariables(const std::vector<VariableDraft>& variables) {
    std::vector<ListedVariable> listed;
    for (std::size_t i = 0; i < variables.size(); ++i) {
        // After the names it equals, so variables of one name keep the template's order.
        auto at = listed.begin();
        while (at != listed.end() && !SortsBefore(variables[i].name, at->name)) ++at;
        listed.insert(at, {variables[i].name, static_cast<int>(i + 1)});
    }
    return listed;
}

OutputLists SplitOutput(const std::vector<std::string>& listed,
                        const std::vector<std::string>& wanted) {
    OutputLists lists{listed, {}};
    for (const std::string& name : wanted) {
        const QString trimmed = Q(Trim(name));
        for (auto it = lists.available.begin(); it != lists.available.end(); ++it) {
            if (Q(Trim(*it)) != trimmed) continue;
            lists.included.push_back(*it);
            lists.available.erase(it);
            break;
        }
    }
    return lists;
}

int AddNewVariable(std::vector<VariableDraft>& variables) {
    VariableDraft v;
    v.name = kNewVarName;
    // A new variable's flags are off, as its check boxes show them.
    for (std::string* flag :
         {&v.useQuotes, &v.removeLF, &v.matchWholeString, &v.matchCase, &v.startOfLineOnly})
        *flag = kFlagOff;
    variables.push_back(std::move(v));
    return static_cast<int>(variables.size());
}

std::string_view VarNameRefusal(const std::vector<std::string>& listed, int ownRow,
                                const std::string& newName) {
    const std::string name = Trim(newName);
    if (name.empty()) return kMsgVarBlank;
    if (name == kNewVarName) return kMsgVarInvalid;
    for (std::size_t i = 0; i < listed.size(); ++i)
        if (static_cast<int>(i) != ownRow && EqualsNoCase(Trim(listed[i]), name))
            return kMsgVarExists;
    return {};
}

void ChangeIncludeList(std::vector<std::string>& output, const std::string& oldName,
                       const std::string& newName) {
    for (std::string& entry : output)
        if (Trim(entry) == oldName) entry = newName;
}

std::string SetStartComboStr(const std::string& findStart) {
    const std::string v = Trim(findStart);
    if (v.empty() || v == "NONE" || EqualsNoCase(v, kBeginningOfField))
        return std::string(kStartBeginning);
    return std::string(kStartAfterText);
}

std::string SetStopComboStr(const std::string& findStop) {
    const std::string v = Trim(findStop);
    if (v.empty() || v == "NONE" || EqualsNoCase(v, kEndOfField))
        return std::string(kStopEndOfField);
    if (EqualsNoCase(v, kEndOfLine)) return std::string(kStopEndOfLine);
    return std::string(kStopDefinedText);
}

std::string FindTextFromChoice(const std::string& choice, const std::string& boxText) {
    if (LCase(choice).find(LCase(std::string(kStopDefinedText))) == std::string::npos)
        return "{" + choice + "}";
    return boxText;
}

bool ShowVarStart(const std::string& choice) {
    return choice == kStartAfterText;
}
bool ShowVarStop(const std::string& choice) {
    return choice == kStopDefinedText;
}

std::string DelimiterCharacter(std::string_view delimiterName) {
    if (delimiterName == kDelimiterSemicolon) return ";";
    if (delimiterName == kDelimiterSpace) return " ";
    if (delimiterName == kDelimiterTab) return "\t";
    return ",";
}

std::string HelpLine(const HelpLineParts& parts) {
    std::string text = "Data for '" + Trim(parts.name) +
                       "' is extracted from the message field: '" + parts.field + "' .\n";
    if (parts.startChoice == kStartRegex) {
        text += "Data is the first match of the regular expression '" + CutForHelp(parts.pattern) +
                "' (its first group, when it has one).";
    } else {
        if (ShowVarStart(parts.startChoice))
            text += "Data starts after the text '" + CutForHelp(parts.startText) +
                    "' and stops at the text ";
        else
            text += "Data starts at " + parts.startChoice + " and stops at ";
        if (ShowVarStop(parts.stopChoice))
            text += "'" + CutForHelp(parts.stopText) + "'";
        else
            text += parts.stopChoice + ".";
    }
    if (parts.repeat) text += "\nEvery occurrence gives an output line of its own.";
    return text;
}

PatternCheck CheckPattern(std::string_view pattern, bool matchCase) {
    PatternCheck check;
    // Compiled as a run compiles it.
    PatternError error;
    if (CompiledPattern::Compile(pattern, !matchCase, error)) {
        check.ok = true;
        return check;
    }
    check.message = error.message;
    // The offset counts bytes; the user counts characters (continuation bytes do not start one).
    const std::size_t end = std::min<std::size_t>(error.offset, pattern.size());
    for (std::size_t i = 0; i < end; ++i)
        if ((static_cast<unsigned char>(pattern[i]) & 0xC0) != 0x80) ++check.position;
    return check;
}

std::string PatternCheckText(std::string_view pattern, bool matchCase) {
    if (pattern.empty()) return std::string(kPatternEmpty);
    const PatternCheck check = CheckPattern(pattern, matchCase);
    if (check.ok) return std::string(kPatternGood);
    return std::string(kPatternErrorAt) + std::to_string(check.position) + ": " + check.message;
}

namespace {

// What the JSON Lines sample shows for each value.
constexpr std::string_view kSampleValue = "...";

constexpr std::pair<std::string_view, std::string_view> kFormats[] = {
    {kFormatDelimited, kFormatDelimitedShown},
    {kFormatCsv, kFormatCsvShown},
    {kFormatJsonl, kFormatJsonlShown},
};

// A variable name that [Patterns] can hold as a key: read back as the same key.
bool CanBeKey(std::string_view name) {
    return !name.empty() && name.find('=') == std::string_view::npos && name.front() != '[' &&
           name.front() != ';';
}

}  // namespace

std::string FormatShown(std::string_view stored) {
    const std::string trimmed = Trim(stored);
    if (trimmed.empty()) return std::string(kFormatDelimitedShown);
    for (const auto& [value, shown] : kFormats)
        if (EqualsNoCase(trimmed, value)) return std::string(shown);
    return std::string(stored);
}

std::string FormatStored(std::string_view shown) {
    for (const auto& [value, text] : kFormats)
        if (shown == text) return std::string(value);
    return std::string(shown);
}

std::string SampleLine(const std::vector<std::string>& names, std::string_view delimiter,
                       std::string_view format) {
    const std::string stored = FormatStored(FormatShown(format));
    if (stored == kFormatJsonl)
        return JsonObject(names, std::vector<std::string>(names.size(), std::string(kSampleValue)));
    if (stored != kFormatCsv) return Join(names, delimiter);
    return CsvRecord(names, delimiter);
}

std::string DraftKeyRefusal(const TemplateDraft& draft) {
    for (const VariableDraft& v : draft.variables) {
        const std::string name = Trim(v.name);
        if (!v.pattern.empty()) {
            const std::string about = std::string(kMsgPatternVariable) + name;
            if (!CanBeKey(name)) return about + std::string(kMsgPatternKeyName);
            if (v.pattern.find_first_of("\r\n") != std::string::npos)
                return about + std::string(kMsgPatternLineBreak);
            const PatternCheck check = CheckPattern(v.pattern, Trim(v.matchCase) != kFlagOff);
            if (!check.ok)
                return about + std::string(kMsgPatternAt) + std::to_string(check.position) + ": " +
                       check.message;
        }
        if (v.repeat && name.find(',') != std::string::npos)
            return std::string(kMsgRepeatVariable) + name + std::string(kMsgRepeatComma);
    }
    return {};
}

}  // namespace tallix::manager
