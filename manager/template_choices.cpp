#include "manager/template_choices.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStandardPaths>
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
    out.emplace_back(kHeaderChoice);
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
    out.emplace_back(kHeaderChoice);
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

bool IsHeaderNameText(std::string_view name) {
    // A header name is printable US-ASCII without the colon (RFC 5322 ftext).
    for (char c : name)
        if (c < '!' || c > '~' || c == ':') return false;
    return true;
}

std::optional<std::string> HeaderNameOfField(std::string_view field) {
    if (!field.starts_with(kFieldMsgHeaderPrefix)) return std::nullopt;
    const std::string_view name = field.substr(kFieldMsgHeaderPrefix.size());
    if (name.empty() || !IsHeaderNameText(name)) return std::nullopt;
    return std::string(name);
}

QLineEdit* NewHeaderNameBox(QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[!-9;-~]*")), box));
    box->setPlaceholderText(QStringLiteral("Header name"));
    return box;
}

void SelectFieldChoice(QComboBox* combo, QLineEdit* headerBox, const std::string& text) {
    const std::optional<std::string> header = HeaderNameOfField(Trim(text));
    const int headerEntry =
        combo->findText(QString::fromUtf8(kHeaderChoice.data(), qsizetype(kHeaderChoice.size())));
    if (header && headerEntry >= 0) {
        SelectFieldText(combo, std::string(kHeaderChoice));
        headerBox->setText(QString::fromStdString(*header));
    } else {
        SelectFieldText(combo, text);
        headerBox->clear();
    }
    EnableHeaderBox(combo, headerBox);
}

std::string ChosenField(const QComboBox* combo, const QLineEdit* headerBox) {
    std::string chosen = combo->currentText().toStdString();
    if (chosen == kHeaderChoice)
        return std::string(kFieldMsgHeaderPrefix) + headerBox->text().toStdString();
    return chosen;
}

void EnableHeaderBox(const QComboBox* combo, QLineEdit* headerBox) {
    headerBox->setEnabled(combo->currentText().toStdString() == kHeaderChoice);
}

QString DefaultOutputFile() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty()) dir = QDir::homePath();
    return QDir(dir).filePath(
        QString::fromUtf8(kDefaultOutputFileName.data(), qsizetype(kDefaultOutputFileName.size())));
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
