// record_dump KIND PATH: prints every message record a source of KIND hands over, one block per
// message, with every member and the attachment files it names (their names within the scratch
// directory, sizes and contents). KIND is a "UseSource" value: NETSCAPE, EUDORA, FILE_OTHER
// (PATH is the mailbox file), "EXTENDED MAPI" (PATH is the Maildir), "SIMPLE MAPI" (PATH is
// the Maildir, given as $MAILDIR). Attachments are decoded by the engine's MIME component, as
// in a run. Comparing its output before and after a change of a source shows what changed.

#include <cstdlib>
#include <iostream>
#include <string>

#include "engine/mime_host.h"
#include "engine/run_context.h"
#include "engine/source_kinds.h"
#include "engine/template_trial.h"
#include "model/file_bytes.h"
#include "model/message.h"
#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"

namespace {

using namespace tallix;

// Control characters shown as the trial shows them.
std::string Shown(std::string_view text) {
    return engine::VisibleText(text);
}

void Dump(const txMessage& m) {
    std::cout << "  Subject: " << Shown(m.Subject()) << "\n"
              << "  SentDate: " << m.SentDate() << "\n"
              << "  SentTime: " << m.SentTime() << "\n"
              << "  ReceiveDate: " << m.ReceiveDate() << "\n"
              << "  ReceiveTime: " << m.ReceiveTime() << "\n"
              << "  SenderName: " << Shown(m.SenderName()) << "\n"
              << "  SenderAddress: " << Shown(m.SenderAddress()) << "\n"
              << "  SenderType: " << m.SenderType() << "\n"
              << "  ReplyToName: " << Shown(m.ReplyToName()) << "\n"
              << "  ReplyToAddress: " << Shown(m.ReplyToAddress()) << "\n"
              << "  ReceipentName: " << Shown(m.ReceipentName()) << "\n"
              << "  ReceipentAddress: " << Shown(m.ReceipentAddress()) << "\n"
              << "  ValidMessage: " << m.ValidMessage() << "\n"
              << "  Header: " << Shown(m.Header()) << "\n"
              << "  Body: " << Shown(m.Body()) << "\n";
    const std::string& scratch = ScratchDir();
    const auto attachments = m.Attachments();
    for (std::int32_t i = 1; i <= attachments->Count(); ++i) {
        std::string path = attachments->Item(i);
        std::string content;
        const int error = ReadRegularFile(path, content);
        if (!scratch.empty() && path.starts_with(scratch))
            path = "<scratch>" + path.substr(scratch.size());
        std::cout << "  Attachment: " << path << " ("
                  << (error ? "unreadable" : std::to_string(content.size()) + " bytes")
                  << "): " << Shown(content) << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: record_dump KIND PATH\n";
        return 2;
    }
    SetSilentMode(true);
    const std::string kind = argv[1];
    Settings().useSource = kind;
    Settings().localFileName = argv[2];
    Settings().mapiProfile = argv[2];
    ::setenv("MAILDIR", argv[2], 1);
    const engine::SourceKind* row = engine::FindSourceKind(kind);
    if (!row) {
        std::cerr << kind << ": no such source kind\n";
        return 2;
    }
    engine::RunContext run(Settings());
    run.decoder = &engine::MimeHost();
    auto list = row->make(run);
    for (std::int32_t s = 1; s <= list->Count(); ++s) {
        sources::MailSource* source = list->ItemAt(s);
        source->Connect();
        std::cout << source->ID() << ": connected=" << source->IsConnected()
                  << " total=" << source->TotalMessages() << "\n";
        if (!source->IsConnected()) continue;
        source->GetFirstMsg();
        for (int n = 1; source->Message(); ++n) {
            std::cout << "message " << n << "\n";
            Dump(*source->Message());
            source->GetNextMsg();
        }
        source->Disconnect();
    }
    RemoveScratchDir();
    return 0;
}
