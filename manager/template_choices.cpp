#include "manager/template_choices.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <fstream>

#include "engine/templates/output_target.h"
#include "model/field_vocabulary.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::manager {
namespace {

bool OfferedFor(Offered offered, std::string_view source) {
    const std::string src = Trim(source);
    switch (offered) {
        case Offered::Always:
            return true;
        case Offered::ExceptSimpleMapi:
            return src != kSourceSimpleMapi;
        case Offered::ExceptPop3:
            return src != kSourcePop3;
        case Offered::OnlyPop3:
            return src == kSourcePop3;
        case Offered::Never:
            return false;
    }
    return false;
}

void Fill(QComboBox* combo, const std::vector<std::string>& entries) {
    combo->clear();
    for (const std::string& e : entries) combo->addItem(QString::fromStdString(e));
}

// Marks the entry SelectFieldText added for a text the list does not hold.
constexpr int kExtraEntryRole = Qt::UserRole + 1;

OutputFileChooser& Chooser() {
    static OutputFileChooser chooser;
    return chooser;
}

}  // namespace

std::vector<std::string> MapiFieldChoices(std::string_view source) {
    std::vector<std::string> out;
    for (const FieldName& f : kFieldVocabulary)
        if (OfferedFor(f.forVariables, source)) out.emplace_back(f.name);
    return out;
}

std::vector<std::string> MapiFilterFieldChoices(std::string_view source) {
    // The filter list shows the reply-to fields last, after the recipient.
    std::vector<std::string> out, pop3Only;
    for (const FieldName& f : kFieldVocabulary) {
        if (!OfferedFor(f.forFilters, source)) continue;
        (f.forFilters == Offered::OnlyPop3 ? pop3Only : out).emplace_back(f.name);
    }
    out.insert(out.end(), pop3Only.begin(), pop3Only.end());
    return out;
}

void FillMapiCombo(QComboBox* combo) {
    Guard("modClientProcs - FillMapiCombo",
          [&] { Fill(combo, MapiFieldChoices(Settings().useSource)); });
}

void FillMapiFilterCombo(QComboBox* combo) {
    Guard("modClientProcs - FillMapiFilterCombo",
          [&] { Fill(combo, MapiFilterFieldChoices(Settings().useSource)); });
}

void SelectFieldText(QComboBox* combo, const std::string& text) {
    Guard("modClientProcs - SetComboIndex", [&] {
        for (int i = combo->count() - 1; i >= 0; --i)
            if (combo->itemData(i, kExtraEntryRole).toBool()) combo->removeItem(i);
        if (combo->count() == 0) return;
        combo->setCurrentIndex(0);
        const std::string wanted = Trim(text);
        if (wanted.empty()) return;
        for (int i = 0; i < combo->count(); ++i) {
            if (Trim(combo->itemText(i).toStdString()) == wanted) {
                combo->setCurrentIndex(i);
                return;
            }
        }
        combo->addItem(QString::fromStdString(text));
        combo->setItemData(combo->count() - 1, true, kExtraEntryRole);
        combo->setCurrentIndex(combo->count() - 1);
    });
}

bool CanUseOutputFile(const std::string& path) {
    const std::string name = Trim(path);
    if (name.empty() || name == engine::kPrinterOutput) return true;
    std::ofstream file(name, std::ios::app | std::ios::binary);
    return file.is_open();
}

bool CheckOutputFile(const std::string& path) {
    if (CanUseOutputFile(path)) return true;
    MsgBox(std::string(kMsgUnableToUseFile) + Trim(path));
    return false;
}

QString ChooseOutputFile(QWidget* parent, const QString& current) {
    if (Chooser()) return Chooser()(current);
    const QString start =
        current.trimmed().isEmpty() ? QString::fromStdString(ProgramDir()) : current.trimmed();
    QFileDialog dialog(parent, QString::fromLatin1(kOutputFileDialogTitle.data(),
                                                   qsizetype(kOutputFileDialogTitle.size())));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromLatin1(kOutputFileDefaultSuffix.data(),
                                                qsizetype(kOutputFileDefaultSuffix.size())));
    dialog.setNameFilters(
        QString::fromLatin1(kOutputFileFilters.data(), qsizetype(kOutputFileFilters.size()))
            .split(QStringLiteral(";;")));
    // Appending to an existing file is the normal case, so no overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (QFileInfo(start).isDir())
        dialog.setDirectory(start);
    else
        dialog.selectFile(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

void SetOutputFileChooser(OutputFileChooser chooser) {
    Chooser() = std::move(chooser);
}

}  // namespace tallix::manager
