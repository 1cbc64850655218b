#include "engine/source_kinds.h"

#include <array>

#include "engine/pop3_sources.h"
#include "settings/settings_store.h"
#include "sources/mapi_source.h"
#include "sources/netscape_source.h"
#include "sources/simple_mapi_source.h"

namespace tallix::engine {
namespace {

std::unique_ptr<sources::SourceList> MailboxFileSources(sources::AttachmentDecoder& decoder) {
    auto list = sources::NewColNetscape();
    if (sources::clsNetscape* source = list->Add()) source->SetAttachmentDecoder(&decoder);
    return list;
}

// A Eudora mailbox's attachments stay where Eudora keeps them; Netscape files and POP3
// messages leave scratch files behind. Of the local mail store, the Extended MAPI source's
// attachment files are removed after each message; the Simple MAPI control's stay until the
// run ends.
constexpr std::array kKinds{
    SourceKind{kSourceNetscape, &MailboxFileSources, true},
    SourceKind{kSourceEudora, &MailboxFileSources, false},
    SourceKind{kSourceFileOther, &MailboxFileSources, true},  // a standard mbox file
    SourceKind{kSourcePop3, &MakePop3Sources, true},
    SourceKind{kSourceExtendedMapi, &sources::MakeMapiSources, true},
    SourceKind{kSourceSimpleMapi, &sources::MakeSimpleMapiSources, false},
};

}  // namespace

std::span<const SourceKind> SourceKinds() {
    return kKinds;
}

const SourceKind* FindSourceKind(std::string_view useSource) {
    for (const SourceKind& kind : kKinds)
        if (kind.useSource == useSource) return &kind;
    return nullptr;
}

}  // namespace tallix::engine
