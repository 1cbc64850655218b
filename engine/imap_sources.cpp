#include "engine/imap_sources.h"

#include "sources/imap_source.h"
#include "sources/pop3_config.h"

namespace tallix::engine {

std::unique_ptr<sources::SourceList> MakeImapSources(const std::string& configFile, bool readOnly,
                                                     sources::AttachmentDecoder& decoder) {
    sources::colPop3Config accounts(configFile);
    accounts.GetConfigs();
    auto list = std::make_unique<sources::ImapSourceList>();
    for (const auto& account : accounts)
        list->Add(std::make_unique<sources::ImapSource>(*account, readOnly, &decoder));
    return list;
}

}  // namespace tallix::engine
