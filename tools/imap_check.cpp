// imap_check ACCOUNT [FILE]: what the options dialog's "Test connection" does for the IMAP
// account named ACCOUNT of FILE (IMAP.CFG in the program directory by default): logs in, lists
// the folders and says how many messages the account's folder holds, or why it could not.
// No message is read and nothing changes. Exit status 0 when the check passed, 1 when not,
// 2 when there is no such account.

#include <iostream>
#include <string>

#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "sources/imap_source.h"
#include "sources/pop3_config.h"

int main(int argc, char** argv) {
    using namespace tallix;
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: imap_check ACCOUNT [IMAP.CFG]\n";
        return 2;
    }
    SetSilentMode(true);
    sources::colPop3Config accounts(argc == 3 ? argv[2] : sources::ImapConfigPath());
    accounts.GetConfigs();
    for (const auto& account : accounts) {
        if (!EqualsNoCase(account->ID(), argv[1])) continue;
        const sources::ImapAccountCheck check = sources::CheckImapAccount(*account);
        std::cout << sources::DescribeImapCheck(check) << "\n";
        return check.ok ? 0 : 1;
    }
    std::cerr << "imap_check: no account " << argv[1] << " in " << accounts.ConfigFile() << "\n";
    return 2;
}
