#pragma once
// The engine's MIME component and what it does with the component's events: a decode's end
// is passed to the asking source, and each part's file name is that source's to choose (where
// it passes a naming callback) or the proposed name made safe inside the decode
// directory. Sources reach the component through the AttachmentDecoder interface.

#include <chrono>
#include <memory>
#include <string>

#include "sources/attachment_decoder.h"

namespace qrmime {
class QRMIMECtrl;
class HostWindows;
}  // namespace qrmime

namespace tallix::engine {

// The longest a source waits for one decode before it gives up on that attachment.
inline constexpr std::chrono::seconds kDecodeWaitLimit{300};

class EngineMimeHost final : public sources::AttachmentDecoder {
  public:
    EngineMimeHost();
    ~EngineMimeHost() override;
    EngineMimeHost(const EngineMimeHost&) = delete;
    EngineMimeHost& operator=(const EngineMimeHost&) = delete;

    qrmime::QRMIMECtrl& Control();
    // The windows the component may open (the progress window); not owned.
    void SetHostWindows(qrmime::HostWindows* windows);

    // Decodes `sourceFile` into `destinationDir` and waits, letting events run, until the
    // decode has ended or kDecodeWaitLimit has passed.
    bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir,
                    const sources::DecodeCallbacks& callbacks = {}) override;
    // Decodes `bytes` on this thread with the component's in-memory entry point: the parts
    // DecodeFile would write, named the same way, kept in `files` instead of written.
    bool DecodeBytes(std::string_view bytes, const std::string& sourceFile,
                     const std::string& destinationDir, std::vector<sources::DecodedFile>& files,
                     const sources::DecodeCallbacks& callbacks = {}) override;
    void SetWaitLimit(std::chrono::milliseconds limit) { m_waitLimit = limit; }

  private:
    class Events;
    std::unique_ptr<qrmime::QRMIMECtrl> m_control;
    std::unique_ptr<Events> m_events;
    int m_pumpId = 0;
    std::chrono::milliseconds m_waitLimit = kDecodeWaitLimit;
};

// The engine's one host, made on first use.
EngineMimeHost& MimeHost();

}  // namespace tallix::engine
