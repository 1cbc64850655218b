#include "manager/options_procs.h"

#include <QFileDialog>
#include <QFileInfo>

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

DirectoryChooser& TheDirectoryChooser() {
    static DirectoryChooser chooser;
    return chooser;
}

FileChooser& TheFileChooser() {
    static FileChooser chooser;
    return chooser;
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
        if (!State().pop3Configs || !State().imapConfigs) GetPOP3Configurations();
        form = new FrmOptions(parent);
        OptionsValues values;
        SetOptionsCtrls(values);
        form->SetValues(values);
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

void SetOptionsCtrls(OptionsValues& values) {
    Guard(Ctx("SetOptionsCtrls"), [&] {
        SettingsState& s = Settings();
        // A manager that never had a source chosen starts on the default store, and stores
        // that choice at once.
        if (Trim(s.useSource).empty()) {
            s.useSource = kSourceSimpleMapi;
            PutUseSource();
        }
        values.source = s.useSource;
        values.deleteFlag = s.deleteFlag;
        values.deleteUnused = s.deleteUnused;
        values.processOnce = s.processOnce;
        values.templateDir = s.templateDir;
        values.showHelp = s.showHelp;
        values.useScripts = s.useScripts;
        values.scriptDir = s.scriptDir;
        values.scriptEngine = s.scriptEngine;
        values.scriptExt = s.scriptExt;
        values.mapiProfile = s.mapiProfile;
        values.localFileName = s.localFileName;
        const auto fill = [](const std::shared_ptr<sources::colPop3Config>& configs,
                             std::vector<Pop3AccountValues>& accounts) {
            accounts.clear();
            if (!configs) return;
            for (const auto& a : *configs)
                accounts.push_back({a->ID(), a->HostName(), a->Port(), a->LoginName(),
                                    a->Password(), a->Security(), a->Auth(), a->PasswordCommand(),
                                    a->Folder(), a->MoveTo()});
        };
        fill(State().pop3Configs, values.accounts);
        fill(State().imapConfigs, values.imapAccounts);
    });
}

void SaveOptions(const OptionsValues& values) {
    Guard(Ctx("SaveOptions"), [&] {
        SettingsState& s = Settings();
        s.mapiProfile = values.mapiProfile;
        s.templateDir = values.templateDir;
        s.showHelp = values.showHelp;
        s.useScripts = values.useScripts;
        s.scriptEngine = values.scriptEngine;
        s.scriptDir = values.scriptDir;
        s.scriptExt = values.scriptExt;
        s.deleteFlag = values.deleteFlag;
        s.deleteUnused = values.deleteUnused;
        s.localFileName = values.localFileName;

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

        if (!values.source.empty()) s.useSource = values.source;
        PutUseSource();
        // Written only when changed: a settings file that never had the key keeps its bytes.
        if (values.processOnce != s.processOnce) {
            s.processOnce = values.processOnce;
            PutProcessOnce();
        }

        SetPOP3Configs(State().pop3Configs.get(), values.accounts);
        SetPOP3Configs(State().imapConfigs.get(), values.imapAccounts);
        PutPOP3Configs();

        GetMapiProfile();
        GetTemplateDir();
        GetUseSource();
        GetTempFiles();
    });
}

void GetPOP3Ctrls(std::vector<Pop3AccountValues>& accounts, int shown,
                  const Pop3AccountValues& boxes) {
    Guard(Ctx("GetPOP3Ctrls"), [&] {
        if (shown < 0 || shown >= static_cast<int>(accounts.size())) return;
        accounts[static_cast<std::size_t>(shown)] = boxes;
    });
}

Pop3AccountValues AddNewPOP3(std::int32_t port) {
    Pop3AccountValues account;
    account.id = kNewAccountName;
    account.port = port;
    return account;
}

void SetPOP3Configs(sources::colPop3Config* configs,
                    const std::vector<Pop3AccountValues>& accounts) {
    Guard(Ctx("SetPOP3Configs"), [&] {
        if (!configs) return;
        while (configs->Count() > 0) configs->Remove(configs->Count());
        for (const Pop3AccountValues& values : accounts) {
            sources::clsPOP3Config* account = configs->Add();
            if (!account) return;
            account->SetID(values.id);
            account->SetHostName(values.hostName);
            account->SetPort(values.port);
            account->SetLoginName(values.loginName);
            account->SetPassword(values.password);
            account->SetSecurity(values.security);
            account->SetAuth(values.auth);
            account->SetPasswordCommand(values.passwordCommand);
            account->SetFolder(values.folder);
            account->SetMoveTo(values.moveTo);
        }
    });
}

void PutPOP3Configs() {
    Guard(Ctx("PutPOP3Configs"), [] {
        if (State().pop3Configs) State().pop3Configs->PutConfigs();
        // An IMAP.CFG is made only for accounts: a POP3 user gets no empty file.
        if (State().imapConfigs &&
            (State().imapConfigs->Count() > 0 ||
             QFileInfo::exists(QString::fromStdString(State().imapConfigs->ConfigFile()))))
            State().imapConfigs->PutConfigs();
    });
}

bool ValidPOP3Name(const QStringList& names, const QString& name, int ownRow) {
    return GuardValue(Ctx("ValidPOP3Name"), false, [&] {
        const QString trimmed = name.trimmed();
        if (trimmed.isEmpty() || trimmed == QString::fromUtf8(kNewAccountName)) return false;
        for (int i = 0; i < names.size(); ++i) {
            if (i == ownRow) continue;
            // Sections of the account file match without regard to case, so two names that
            // differ only in case would share one section and one account would be lost.
            if (EqualsNoCase(names[i].trimmed().toStdString(), trimmed.toStdString())) return false;
        }
        return true;
    });
}

}  // namespace tallix::manager
