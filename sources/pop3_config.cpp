#include "sources/pop3_config.h"

#include <set>

#include "model/profile_file.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/run_time_error.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::sources {
namespace {

using profile::ProfileDocument;

// A line break in a name or value would start a stray line in the file; everything from the
// first one on is left out.
std::string FirstLine(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

std::string ConfigKey(std::int32_t position) {
    return std::string(kPop3KeyConfigPrefix) + std::to_string(position);
}

ProfileDocument LoadOrRaise(const std::string& path) {
    profile::ProfileStatus status;
    ProfileDocument doc = ProfileDocument::Load(path, &status);
    // A missing file is no error: every read then gives its default.
    if (!status.ok() && status.error != ENOENT) RaiseErrno(status.error);
    return doc;
}

void SaveOrRaise(const ProfileDocument& doc, const std::string& path) {
    profile::ProfileStatus status = doc.Save(path, kPop3ConfigMode);
    if (!status.ok()) RaiseErrno(status.error);
}

// The positions n (1 to nCount) for which NAMES holds a key "Config<n>". Looking at the keys
// that exist keeps a damaged count such as 999999999 from costing a billion lookups; the
// accounts found are the same as asking for every position in turn.
std::set<std::int32_t> StoredPositions(const ProfileDocument& doc, std::int32_t nCount) {
    std::set<std::int32_t> positions;
    const std::size_t prefix = kPop3KeyConfigPrefix.size();
    for (const std::string& key : doc.KeyNames(kPop3SectionNames)) {
        if (key.size() <= prefix || key.size() > prefix + 10) continue;
        if (!EqualsNoCase(std::string_view(key).substr(0, prefix), kPop3KeyConfigPrefix)) continue;
        std::string_view digits = std::string_view(key).substr(prefix);
        if (digits.front() == '0') continue;  // "Config01" is not the key "Config1"
        std::int64_t n = 0;
        bool numeric = true;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                numeric = false;
                break;
            }
            n = n * 10 + (c - '0');
        }
        if (numeric && n >= 1 && n <= nCount) positions.insert(static_cast<std::int32_t>(n));
    }
    return positions;
}

}  // namespace

std::string Pop3ConfigPath() {
    return JoinPath(ProgramDir(), kPop3ConfigFile);
}

// --- clsPOP3Config ---------------------------------------------------------------------------

clsPOP3Config::clsPOP3Config(std::string configFile) : m_configFile(std::move(configFile)) {}

std::string clsPOP3Config::Section() const {
    return FirstLine(Trim(m_id));
}

std::string clsPOP3Config::ReadValue(const ProfileDocument& doc, std::string_view key,
                                     std::string_view def) const {
    return StripNulls(doc.Get(Section(), key, def, kPop3ValueBuffer));
}

void clsPOP3Config::ReadConfig(const ProfileDocument& doc) {
    Guard("clsPOP3Config - ReadConfig", [&] {
        if (Section().empty()) {
            MsgBox(kNoValidName, MsgButtons::Ok);
            return;
        }
        Guard("clsPOP3Config - ReadHostName",
              [&] { m_hostName = ReadValue(doc, kPop3KeyHostName, ""); });
        Guard("clsPOP3Config - ReadPort", [&] {
            m_port = CLng(Val(ReadValue(doc, kPop3KeyPort, std::to_string(kDefaultPop3Port))));
        });
        Guard("clsPOP3Config - ReadLoginName",
              [&] { m_loginName = ReadValue(doc, kPop3KeyLoginName, ""); });
        Guard("clsPOP3Config - ReadPassword",
              [&] { m_password = ReadValue(doc, kPop3KeyPassword, ""); });
    });
}

void clsPOP3Config::WriteConfig(ProfileDocument& doc) const {
    Guard("clsPOP3Config - WriteConfig", [&] {
        const std::string section = Section();
        if (section.empty()) {
            MsgBox(kNoValidName, MsgButtons::Ok);
            return;
        }
        doc.Set(section, kPop3KeyHostName, FirstLine(Trim(m_hostName)));
        doc.Set(section, kPop3KeyPort, std::to_string(m_port));
        doc.Set(section, kPop3KeyLoginName, FirstLine(Trim(m_loginName)));
        doc.Set(section, kPop3KeyPassword, FirstLine(Trim(m_password)));
    });
}

void clsPOP3Config::ReadConfig() {
    Guard("clsPOP3Config - ReadConfig", [&] { ReadConfig(LoadOrRaise(m_configFile)); });
}

void clsPOP3Config::WriteConfig() {
    if (Trim(m_id).empty()) {
        MsgBox(kNoValidName, MsgButtons::Ok);
        return;
    }
    UpdateFile("clsPOP3Config - WriteConfig", [&](ProfileDocument& doc) { WriteConfig(doc); });
}

template <class Change>
void clsPOP3Config::UpdateFile(std::string_view context, Change&& change) {
    Guard(context, [&] {
        ProfileDocument doc = LoadOrRaise(m_configFile);
        change(doc);
        SaveOrRaise(doc, m_configFile);
    });
}

void clsPOP3Config::ReadHostName() {
    Guard("clsPOP3Config - ReadHostName",
          [&] { m_hostName = ReadValue(LoadOrRaise(m_configFile), kPop3KeyHostName, ""); });
}

void clsPOP3Config::ReadPort() {
    Guard("clsPOP3Config - ReadPort", [&] {
        m_port = CLng(Val(
            ReadValue(LoadOrRaise(m_configFile), kPop3KeyPort, std::to_string(kDefaultPop3Port))));
    });
}

void clsPOP3Config::ReadLoginName() {
    Guard("clsPOP3Config - ReadLoginName",
          [&] { m_loginName = ReadValue(LoadOrRaise(m_configFile), kPop3KeyLoginName, ""); });
}

void clsPOP3Config::ReadPassword() {
    Guard("clsPOP3Config - ReadPassword",
          [&] { m_password = ReadValue(LoadOrRaise(m_configFile), kPop3KeyPassword, ""); });
}

void clsPOP3Config::WriteHostName() {
    UpdateFile("clsPOP3Config - WriteHostName", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyHostName, FirstLine(Trim(m_hostName)));
    });
}

void clsPOP3Config::WritePort() {
    UpdateFile("clsPOP3Config - WritePort", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyPort, std::to_string(m_port));
    });
}

void clsPOP3Config::WriteLoginName() {
    UpdateFile("clsPOP3Config - WriteLoginName", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyLoginName, FirstLine(Trim(m_loginName)));
    });
}

void clsPOP3Config::WritePassword() {
    UpdateFile("clsPOP3Config - WritePassword", [&](ProfileDocument& doc) {
        doc.Set(Section(), kPop3KeyPassword, FirstLine(Trim(m_password)));
    });
}

// --- colPop3Config ---------------------------------------------------------------------------

colPop3Config::colPop3Config(std::string configFile) : m_configFile(std::move(configFile)) {}

clsPOP3Config* colPop3Config::Add(std::string_view key) {
    return GuardValue<clsPOP3Config*>("colPOP3Config - Add", nullptr, [&] {
        auto account = std::make_shared<clsPOP3Config>(m_configFile);
        m_items.Add(account, key);
        return account.get();
    });
}

clsPOP3Config* colPop3Config::Item(std::int32_t index) {
    return GuardValue<clsPOP3Config*>("colPOP3Config = Get Item", nullptr,
                                      [&] { return m_items.Item(index).get(); });
}

clsPOP3Config* colPop3Config::Item(std::string_view key) {
    return GuardValue<clsPOP3Config*>("colPOP3Config = Get Item", nullptr,
                                      [&] { return m_items.Item(key).get(); });
}

void colPop3Config::Remove(std::int32_t index) {
    Guard("colPOP3Config - Remove", [&] { m_items.Remove(index); });
}

void colPop3Config::Remove(std::string_view key) {
    Guard("colPOP3Config - Remove", [&] { m_items.Remove(key); });
}

void colPop3Config::GetConfigs() {
    Guard("colPop3Config", [&] {
        ProfileDocument doc = LoadOrRaise(m_configFile);
        const std::int32_t count = CLng(
            Val(StripNulls(doc.Get(kPop3SectionGeneral, kPop3KeyCount, "0", kPop3CountBuffer))));
        if (count <= 0) return;
        if (DeleteConfigurations()) ReadConfigurations(count);
    });
}

void colPop3Config::ReadConfigurations(std::int32_t nCount) {
    Guard("colPOP3Config - ReadConfigurations", [&] {
        ProfileDocument doc = LoadOrRaise(m_configFile);
        for (std::int32_t position : StoredPositions(doc, nCount)) {
            std::string name =
                StripNulls(doc.Get(kPop3SectionNames, ConfigKey(position), "", kPop3ValueBuffer));
            if (name.empty()) continue;
            clsPOP3Config* account = Add();
            if (!account) Raise(kErrInternal, "The account could not be added");
            account->SetID(name);
            account->ReadConfig(doc);
        }
    });
}

bool colPop3Config::DeleteConfigurations() {
    return Guard("colPOP3Config - DeleteConfigurations", [&] {
        while (m_items.Count() > 0) m_items.Remove(m_items.Count());
    });
}

void colPop3Config::PutConfigs() {
    Guard("colPOP3Config - PutConfigs", [&] {
        // The new file is built whole and then replaces the old one, so a failure on the way
        // leaves the accounts that were stored before.
        ProfileDocument doc;
        const std::int32_t count = m_items.Count();
        doc.Set(kPop3SectionGeneral, kPop3KeyCount, std::to_string(count));
        for (std::int32_t i = 1; i <= count; ++i) {
            doc.Set(kPop3SectionNames, ConfigKey(i), FirstLine(m_items.Item(i)->ID()));
        }
        for (std::int32_t i = 1; i <= count; ++i) m_items.Item(i)->WriteConfig(doc);
        SaveOrRaise(doc, m_configFile);
    });
}

}  // namespace tallix::sources
