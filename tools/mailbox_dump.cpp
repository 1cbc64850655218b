// mailbox_dump FILE [--eudora]: prints what the mailbox file source makes of a mailbox, one
// block per message: the values handed over and the attachment parts it found. Error reports
// go to txError.Log in the program directory, as in a run. Attachments are not decoded; the
// first line of each part the decoder would receive is listed instead.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "settings/error_reporter.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "sources/netscape_source.h"

namespace {

using namespace tallix;

// Names each part after the first line of the rebuilt text the decoder would read.
class ListingDecoder final : public sources::AttachmentDecoder {
  public:
    bool DecodeFile(const std::string& sourceFile, const std::string&,
                    const sources::DecodeCallbacks&) override {
        std::FILE* f = std::fopen(sourceFile.c_str(), "rb");
        std::string first;
        for (int c; f && (c = std::fgetc(f)) != EOF && c != '\r' && c != '\n';)
            first.push_back(static_cast<char>(c));
        if (f) std::fclose(f);
        std::cout << "  part for decoder: " << first << "\n";
        return false;  // nothing is written
    }
};

std::string Shown(const std::string& text, std::size_t limit = 200) {
    std::string out;
    for (char c : text.substr(0, limit)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return text.size() > limit ? out + "..." : out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: mailbox_dump FILE [--eudora]\n";
        return 2;
    }
    SetSilentMode(true);
    Settings().useSource =
        argc > 2 && std::strcmp(argv[2], "--eudora") == 0 ? kSourceEudora : kSourceNetscape;
    Settings().localFileName = argv[1];
    ListingDecoder decoder;
    sources::clsNetscape source;
    source.SetAttachmentDecoder(&decoder);
    source.Connect();
    std::cout << source.ID() << ": connected=" << source.IsConnected()
              << " separators=" << source.TotalMessages() << " lf-only=" << source.LineFeedOnly()
              << " leading-mark=" << source.LeadingMark() << "\n";
    if (!source.IsConnected()) return 1;
    source.GetFirstMsg();
    while (source.Message()) {
        const txMessage& m = *source.Message();
        std::cout << "message " << source.MessageIndex() << " (read position "
                  << source.ReadPosition() << ")\n"
                  << "  sender:    " << m.SenderName() << " <" << m.SenderAddress() << ">\n"
                  << "  reply-to:  " << m.ReplyToName() << " <" << m.ReplyToAddress() << ">\n"
                  << "  recipient: " << m.ReceipentName() << " <" << m.ReceipentAddress() << ">\n"
                  << "  subject:   " << m.Subject() << "\n"
                  << "  sent:      " << m.SentDate() << " " << m.SentTime() << "\n"
                  << "  received:  " << m.ReceiveDate() << " " << m.ReceiveTime() << "\n"
                  << "  multipart: " << source.Multipart() << " boundary=" << source.Boundary()
                  << "\n"
                  << "  body:      " << Shown(m.Body()) << "\n";
        source.GetNextMsg();
    }
    source.Disconnect();
    RemoveScratchDir();
    return 0;
}
