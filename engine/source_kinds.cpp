#include "engine/source_kinds.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "engine/imap_sources.h"
#include "engine/pop3_sources.h"
#include "engine/run_context.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "sources/mapi_source.h"
#include "sources/netscape_source.h"
#include "sources/pop3_config.h"
#include "sources/simple_mapi_source.h"

namespace tallix::engine {
namespace {

sources::AttachmentDecoder& DecoderOf(const RunContext& run) {
    if (!run.decoder) Raise(kErrObjectRequired);
    return *run.decoder;
}

// "0" takes every message apart on the run's own thread, so a benchmark can compare.
constexpr const char* kReadAheadVariable = "TALLIX_READ_AHEAD";

std::unique_ptr<sources::SourceList> MailboxFileSources(const RunContext& run) {
    auto list = sources::NewColNetscape();
    if (sources::clsNetscape* source = list->Add()) {
        source->SetKind(run.settings.useSource);
        source->SetFilePath(run.settings.localFileName);
        source->SetAttachmentDecoder(&DecoderOf(run));
        source->SetReadAhead(SwitchedOn(kReadAheadVariable));
    }
    return list;
}

std::unique_ptr<sources::SourceList> Pop3Sources(const RunContext& run) {
    return MakePop3Sources(run.pop3ConfigPath, DecoderOf(run));
}

std::unique_ptr<sources::SourceList> ImapSources(const RunContext& run) {
    return MakeImapSources(sources::ImapConfigPath(), run.settings.deleteFlag == 0, DecoderOf(run));
}

std::unique_ptr<sources::SourceList> MapiSources(const RunContext& run) {
    return sources::MakeMapiSources(run.settings.mapiProfile);
}

std::unique_ptr<sources::SourceList> SimpleMapiSources(const RunContext&) {
    return sources::MakeSimpleMapiSources();
}

// A Eudora mailbox's attachments stay where Eudora keeps them; Netscape files and POP3
// messages leave scratch files behind. Of the local mail store, the Extended MAPI source's
// attachment files are removed after each message; the Simple MAPI control's stay until the
// run ends.
constexpr std::array kKinds{
    SourceKind{kSourceNetscape, &MailboxFileSources, true},
    SourceKind{kSourceEudora, &MailboxFileSources, false},
    SourceKind{kSourceFileOther, &MailboxFileSources, true},  // a standard mbox file
    SourceKind{kSourcePop3, &Pop3Sources, true},
    SourceKind{sources::kSourceImap, &ImapSources, true},
    SourceKind{kSourceExtendedMapi, &MapiSources, true},
    SourceKind{kSourceSimpleMapi, &SimpleMapiSources, false},
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

bool SwitchedOn(const char* name) {
    const char* text = std::getenv(name);
    return !text || std::string_view(text) != "0";
}

}  // namespace tallix::engine
