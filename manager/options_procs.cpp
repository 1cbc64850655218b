#include "manager/options_procs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "manager/options_dialog.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix::manager {
namespace {

std::string Ctx(std::string_view procedure) {
    return "modClientProcs - " + std::string(procedure);
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
std::string S(const QLineEdit* box) {
    return box->text().toStdString();
}

DirectoryChooser& TheDirectoryChooser() {
    static DirectoryChooser chooser;
    return chooser;
}

FileChooser& TheFileChooser() {
    static FileChooser chooser;
    return chooser;
}

sources::clsPOP3Config* AccountAt(int row) {
    auto& configs = State().pop3Configs;
    if (!configs || row < 0 || row >= configs->Count()) return nullptr;
    return configs->Item(row + 1);
}

}  // namespace

void SetDirectoryChooser(DirectoryChooser chooser) {
    TheDirectoryChooser() = std::move(chooser);
}
void SetFileChooser(FileChooser chooser) {
    TheFileChooser() = std::move(chooser);
}

QString ChooseDirectory(QWidget* parent, const QString& title, const QString& start) {
    if (TheDirectoryChooser()) return TheDirectoryChooser()(parent, title, start);
    return QFileDialog::getExistingDirectory(parent, title, start);
}

QString ChooseFile(QWidget* parent, const QString& title, const QString& start,
                   const QString& filter) {
    if (TheFileChooser()) return TheFileChooser()(parent, title, start, filter);
    return QFileDialog::getOpenFileName(parent, title, start, filter);
}

FrmOptions* LoadOptions(QWidget* parent) {
    FrmOptions* form = nullptr;
    Guard(Ctx("InitOptions"), [&] {
        // The accounts are normally read at start-up; a manager that has none yet reads them
        // now, so that saving cannot replace the file with an empty list.
        if (State().pop3ConfigPath.empty()) State().pop3ConfigPath = sources::Pop3ConfigPath();
        if (!State().pop3Configs) GetPOP3Configurations();
        form = new FrmOptions(parent);
        SetOptionsCtrls(*form);
        SetScriptControls(*form);
        SetDeleteMsgControls(*form);
        form->MarkUnchanged();
    });
    return form;
}

void InitOptions() {
    Guard(Ctx("InitOptions"), [] {
        FrmOptions* form = LoadOptions(MainForm());
        if (!form) return;
        form->setAttribute(Qt::WA_DeleteOnClose);
        // Modal over the main window only: the help window, opened from the dialog, stays
        // usable.
        form->setWindowModality(Qt::WindowModal);
        form->exec();
    });
}

void SetOptionsCtrls(FrmOptions& form) {
    Guard(Ctx("SetOptionsCtrls"), [&] {
        SettingsState& s = Settings();
        form.txtFormatFile->setText(Q(s.localFileName));
        form.txtDirectory->setText(Q(s.templateDir));
        form.txtProfile->setText(Q(s.mapiProfile));
        form.chkHelpText->setChecked(s.showHelp);
        form.txtScriptDir->setText(Q(s.scriptDir));
        form.txtExtension->setText(Q(s.scriptExt));
        form.txtEngine->setText(Q(s.scriptEngine));
        form.chkUseScripting->setChecked(s.useScripts);

        // A manager that never had a source chosen starts on the default store, and stores
        // that choice at once.
        if (Trim(s.useSource).empty()) {
            s.useSource = kSourceSimpleMapi;
            PutUseSource();
        }

        if (s.deleteFlag != 0) {
            form.chkDelMessages->setChecked(true);
            if (s.deleteFlag == 1) form.chkPromptDelete->setChecked(true);
        }
        if (s.deleteUnused) form.chkUnusedMsgs->setChecked(true);

        // The kind is chosen before the source, so the source's tab opens on it.
        const std::string& source = s.useSource;
        if (source == kSourceExtendedMapi) {
            form.optExtMapi->setChecked(true);
            form.optMAPI->setChecked(true);
        } else if (source == kSourceSimpleMapi) {
            form.optSimpleMapi->setChecked(true);
            form.optMAPI->setChecked(true);
            form.txtProfile->setEnabled(false);
        } else if (source == kSourcePop3) {
            form.OptPop3->setChecked(true);
        } else if (source == kSourceNetscape) {
            form.OptFileNetscape->setChecked(true);
            form.OptFile->setChecked(true);
        } else if (source == kSourceEudora) {
            form.OptFileEudora->setChecked(true);
            form.OptFile->setChecked(true);
        } else if (source == kSourceFileOther) {
            form.OptFileOther->setChecked(true);
            form.OptFile->setChecked(true);
        }

        form.lstPOPName->clear();
        form.shownAccount = -1;
        if (auto& configs = State().pop3Configs; configs && configs->Count() > 0) {
            for (const auto& account : *configs) form.lstPOPName->addItem(Q(account->ID()));
            form.lstPOPName->setCurrentRow(0);  // shows the first account in the boxes
        }
    });
}

void SaveOptions(FrmOptions& form) {
    Guard(Ctx("SaveOptions"), [&] {
        SettingsState& s = Settings();
        s.mapiProfile = S(form.txtProfile);
        s.templateDir = S(form.txtDirectory);
        s.showHelp = form.chkHelpText->isChecked();
        s.useScripts = form.chkUseScripting->isChecked();
        s.scriptEngine = S(form.txtEngine);
        s.scriptDir = S(form.txtScriptDir);
        s.scriptExt = S(form.txtExtension);

        // The two dependent boxes count only while deletion is on, whatever they show.
        s.deleteFlag = 0;
        s.deleteUnused = false;
        if (form.chkDelMessages->isChecked()) {
            s.deleteFlag = form.chkPromptDelete->isChecked() ? 1 : 2;
            s.deleteUnused = form.chkUnusedMsgs->isChecked();
        }
        s.localFileName = S(form.txtFormatFile);

        PutShowHelp();
        PutTemplateDir();
        PutMapiProfile();
        PutUseScripts();
        PutScriptEngine();
        PutScriptDir();
        PutScriptExt();
        PutDeleteFlag();
        PutDeleteUnused();
        PutLocalFileName();

        if (const std::string_view source = SelectedSource(form); !source.empty())
            s.useSource = source;
        PutUseSource();

        PutPOP3Configs();

        GetMapiProfile();
        GetTemplateDir();
        GetUseSource();
        GetTempFiles();
    });
}

std::string_view SelectedSource(const FrmOptions& form) {
    if (form.optMAPI->isChecked())
        return form.optExtMapi->isChecked() ? kSourceExtendedMapi : kSourceSimpleMapi;
    if (form.OptPop3->isChecked()) return kSourcePop3;
    if (form.OptFile->isChecked()) {
        if (form.OptFileNetscape->isChecked()) return kSourceNetscape;
        if (form.OptFileEudora->isChecked()) return kSourceEudora;
        if (form.OptFileOther->isChecked()) return kSourceFileOther;
    }
    return {};
}

void SetDeleteMsgControls(FrmOptions& form) {
    Guard(Ctx("SetDeleteMsgControls"), [&] {
        const bool on = form.chkDelMessages->isChecked();
        form.chkPromptDelete->setEnabled(on);
        form.chkUnusedMsgs->setEnabled(on);
    });
}

void SetScriptControls(FrmOptions& form) {
    Guard(Ctx("SetScriptControls"), [&] {
        const bool on = form.chkUseScripting->isChecked();
        for (QWidget* w : std::initializer_list<QWidget*>{
                 form.txtScriptDir, form.txtEngine, form.txtExtension, form.cmdScriptBrowse,
                 form.lblScriptDir, form.lblEngine, form.lblExtension})
            w->setEnabled(on);
    });
}

void DoDirLookup(QLineEdit& box) {
    Guard(Ctx("DoDirLookup"), [&] {
        const QString chosen = ChooseDirectory(box.window(), Q(kChooseDirectoryTitle), box.text());
        if (!chosen.isEmpty()) box.setText(chosen);
    });
}

void ClearPop3Ctrl(FrmOptions& form) {
    Guard(Ctx("ClearPop3Ctrl"), [&] {
        for (QLineEdit* box :
             {form.txtPOPName, form.txtHostName, form.txtPort, form.txtLoginName, form.txtPassword})
            box->clear();
    });
}

void SetPop3Ctrls(FrmOptions& form) {
    Guard(Ctx("SetPop3Ctrls"), [&] {
        ClearPop3Ctrl(form);
        const int row = form.lstPOPName->currentRow();
        if (const sources::clsPOP3Config* account = AccountAt(row)) {
            form.txtPOPName->setText(Q(account->ID()));
            form.txtHostName->setText(Q(account->HostName()));
            form.txtPort->setText(QString::number(account->Port()));
            form.txtLoginName->setText(Q(account->LoginName()));
            form.txtPassword->setText(Q(account->Password()));
        }
        form.shownAccount = row;
    });
}

void GetPOP3Ctrls(FrmOptions& form) {
    Guard(Ctx("GetPOP3Ctrls"), [&] {
        sources::clsPOP3Config* account = AccountAt(form.shownAccount);
        if (!account) return;
        account->SetID(S(form.txtPOPName));
        account->SetHostName(S(form.txtHostName));
        account->SetLoginName(S(form.txtLoginName));
        account->SetPassword(S(form.txtPassword));
        account->SetPort(CLng(Val(S(form.txtPort))));
    });
}

void AddNewPOP3(FrmOptions& form) {
    Guard(Ctx("AddNewPOP3"), [&] {
        form.addingAccount = true;
        form.txtPOPName->setText(QString::fromUtf8(kNewAccountName));
        form.txtHostName->clear();
        form.txtLoginName->clear();
        form.txtPassword->clear();
        form.txtPort->setText(QString::number(sources::kDefaultPop3Port));
        for (QLineEdit* box :
             {form.txtPOPName, form.txtHostName, form.txtPort, form.txtLoginName, form.txtPassword})
            box->setEnabled(true);
        // The focus goes to the name before the list and its buttons are disabled, so it
        // never passes through another control on the way.
        form.txtPOPName->setFocus(Qt::OtherFocusReason);
        form.txtPOPName->selectAll();
        form.cmdVarAdd->setEnabled(false);
        form.cmdDelete->setEnabled(false);
        form.lstPOPName->setEnabled(false);
    });
}

void PutPOP3Configs() {
    Guard(Ctx("PutPOP3Configs"), [] {
        if (State().pop3Configs) State().pop3Configs->PutConfigs();
    });
}

bool ValidPOP3Name(const FrmOptions& form, const QString& name, int ownRow) {
    return GuardValue(Ctx("ValidPOP3Name"), false, [&] {
        const QString trimmed = name.trimmed();
        if (trimmed.isEmpty() || trimmed == QString::fromUtf8(kNewAccountName)) return false;
        for (int i = 0; i < form.lstPOPName->count(); ++i) {
            if (i == ownRow) continue;
            // Sections of the account file match without regard to case, so two names that
            // differ only in case would share one section and one account would be lost.
            if (EqualsNoCase(form.lstPOPName->item(i)->text().trimmed().toStdString(),
                             trimmed.toStdString()))
                return false;
        }
        return true;
    });
}

}  // namespace tallix::manager
