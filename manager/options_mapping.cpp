// The one mapping between the options dialog's controls and the values it edits.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include "manager/options_dialog.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"

namespace tallix::manager {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QLineEdit* box) {
    return box->text().toStdString();
}

// A stored key's value in its choice box: a value the box does not offer is shown as it
// stands (and so written back unchanged), never replaced by another.
void ShowChoice(QComboBox* box, const std::string& stored) {
    int at = box->findData(Q(stored));
    if (at < 0) {
        for (int i = 0; i < box->count() && at < 0; ++i)
            if (EqualsNoCase(box->itemData(i).toString().toStdString(), Trim(stored))) at = i;
    }
    if (at < 0) {
        box->addItem(Q(stored), Q(stored));
        at = box->count() - 1;
    }
    box->setCurrentIndex(at);
}

}  // namespace

void FrmOptions::SetValues(const OptionsValues& values) {
    Guard("modClientProcs - SetOptionsCtrls", [&] {
        txtFormatFile->setText(Q(values.localFileName));
        txtDirectory->setText(Q(values.templateDir));
        txtProfile->setText(Q(values.mapiProfile));
        chkHelpText->setChecked(values.showHelp);
        txtScriptDir->setText(Q(values.scriptDir));
        txtExtension->setText(Q(values.scriptExt));
        txtEngine->setText(Q(values.scriptEngine));
        chkUseScripting->setChecked(values.useScripts);

        chkDelMessages->setChecked(values.deleteFlag != 0);
        chkPromptDelete->setChecked(values.deleteFlag == 1);
        chkUnusedMsgs->setChecked(values.deleteUnused);
        chkProcessOnce->setChecked(values.processOnce);

        // The kind is chosen before the source, so the source's tab opens on it. Choosing
        // the default store empties the folder box: it names no folder.
        const std::string& source = values.source;
        if (source == kSourceExtendedMapi) {
            optExtMapi->setChecked(true);
            optMAPI->setChecked(true);
        } else if (source == kSourceSimpleMapi) {
            optSimpleMapi->setChecked(true);
            optMAPI->setChecked(true);
            txtProfile->setEnabled(false);
        } else if (source == kSourcePop3) {
            OptPop3->setChecked(true);
        } else if (source == sources::kSourceImap) {
            optProtoImap->setChecked(true);
            OptPop3->setChecked(true);
        } else if (source == kSourceNetscape) {
            OptFileNetscape->setChecked(true);
            OptFile->setChecked(true);
        } else if (source == kSourceEudora) {
            OptFileEudora->setChecked(true);
            OptFile->setChecked(true);
        } else if (source == kSourceFileOther) {
            OptFileOther->setChecked(true);
            OptFile->setChecked(true);
        }

        lstPOPName->clear();
        shownAccount = -1;
        m_accounts = ImapShown() ? values.imapAccounts : values.accounts;
        m_otherAccounts = ImapShown() ? values.accounts : values.imapAccounts;
        if (!m_accounts.empty()) {
            for (const Pop3AccountValues& account : m_accounts) lstPOPName->addItem(Q(account.id));
            lstPOPName->setCurrentRow(0);  // shows the first account in the boxes
        }
    });
    SetScriptControls();
    SetDeleteMsgControls();
}

OptionsValues FrmOptions::Values() const {
    OptionsValues values;
    values.source = SelectedSource();
    // The two dependent boxes count only while deletion is on, whatever they show.
    if (chkDelMessages->isChecked()) {
        values.deleteFlag = chkPromptDelete->isChecked() ? 1 : 2;
        values.deleteUnused = chkUnusedMsgs->isChecked();
    }
    values.processOnce = chkProcessOnce->isChecked();
    values.templateDir = S(txtDirectory);
    values.showHelp = chkHelpText->isChecked();
    values.useScripts = chkUseScripting->isChecked();
    values.scriptDir = S(txtScriptDir);
    values.scriptEngine = S(txtEngine);
    values.scriptExt = S(txtExtension);
    values.mapiProfile = S(txtProfile);
    values.localFileName = S(txtFormatFile);
    values.accounts = ImapShown() ? m_otherAccounts : m_accounts;
    values.imapAccounts = ImapShown() ? m_accounts : m_otherAccounts;
    return values;
}

std::string FrmOptions::SelectedSource() const {
    if (optMAPI->isChecked())
        return std::string(optExtMapi->isChecked() ? kSourceExtendedMapi : kSourceSimpleMapi);
    if (OptPop3->isChecked()) return std::string(ImapShown() ? sources::kSourceImap : kSourcePop3);
    if (OptFile->isChecked()) {
        if (OptFileNetscape->isChecked()) return std::string(kSourceNetscape);
        if (OptFileEudora->isChecked()) return std::string(kSourceEudora);
        if (OptFileOther->isChecked()) return std::string(kSourceFileOther);
    }
    return {};
}

Pop3AccountValues FrmOptions::AccountBoxes() const {
    Pop3AccountValues account{S(txtPOPName), S(txtHostName), CLng(Val(S(txtPort))), S(txtLoginName),
                              S(txtPassword)};
    account.security = cboSecurity->currentData().toString().toStdString();
    account.auth = cboAuth->currentData().toString().toStdString();
    account.passwordCommand = S(txtPasswordCommand);
    // A POP3 account has no folders: what an IMAP account would show is not written for it.
    if (ImapShown()) {
        account.folder = S(txtFolder);
        account.moveTo = S(txtMoveTo);
    }
    return account;
}

void FrmOptions::ShowAccountBoxes(const Pop3AccountValues& account) {
    txtPOPName->setText(Q(account.id));
    txtHostName->setText(Q(account.hostName));
    txtPort->setText(QString::number(account.port));
    txtLoginName->setText(Q(account.loginName));
    txtPassword->setText(Q(account.password));
    txtPasswordCommand->setText(Q(account.passwordCommand));
    ShowChoice(cboSecurity, account.security);
    ShowChoice(cboAuth, account.auth);
    txtFolder->setText(Q(account.folder));
    txtMoveTo->setText(Q(account.moveTo));
}

QStringList FrmOptions::ListedNames() const {
    QStringList names;
    for (int i = 0; i < lstPOPName->count(); ++i) names << lstPOPName->item(i)->text();
    return names;
}

}  // namespace tallix::manager
