#include "engine/pop3_sources.h"

#include "engine/hosted_events.h"
#include "engine/source_kinds.h"
#include "sources/pop3_config.h"
#include "sources/pop3_curl_transport.h"
#include "sources/pop3_source.h"

namespace tallix::engine {
namespace {

// "0" keeps every session to one RETR at a time even where the server offers PIPELINING, so
// a benchmark can compare the two on one server.
constexpr const char* kPipeliningVariable = "TALLIX_POP3_PIPELINING";

// The one POP3 control of the engine window receives the events of every session.
EnginePop3Events& Pop3Events() {
    static EnginePop3Events events;
    return events;
}

}  // namespace

std::unique_ptr<sources::SourceList> MakePop3Sources(const std::string& configFile,
                                                     sources::AttachmentDecoder& decoder) {
    sources::colPop3Config accounts(configFile);
    accounts.GetConfigs();
    auto list = std::make_unique<sources::Pop3SourceList>();
    for (const auto& account : accounts) {
        auto client = std::make_unique<sources::Pop3Client>(
            std::make_unique<sources::CurlPop3Transport>(), &Pop3Events());
        client->SetPipeliningAllowed(SwitchedOn(kPipeliningVariable));
        list->Add(std::make_unique<sources::Pop3Source>(*account, std::move(client), &decoder));
    }
    return list;
}

}  // namespace tallix::engine
