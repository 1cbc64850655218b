#include "engine/mime_host.h"

#include <qrmime/control.h>
#include <qrmime/entity.h>

#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr std::chrono::milliseconds kWaitSlice{20};
constexpr std::string_view kCtxScanNote = "EngineMimeHost - DecodeFile";

// What the component's scan tolerated or refused in a file (a limit reached, a part skipped)
// goes to the error log, so a message that was only partly decoded is on record. Odd mail is
// noted, not shown: it is no failure of the program.
void ReportScanNotes(const qrmime::QRMIMECtrl& control, const std::string& sourceFile) {
    for (const qrmime::ScanNote& note : control.LastScanNotes()) {
        WriteLog(kErrorLog, std::string(kCtxScanNote) + "\n" + note.text + " (byte " +
                                std::to_string(note.offset) + " of " + sourceFile + ")");
    }
}

}  // namespace

class EngineMimeHost::Events final : public qrmime::QRMIMEEvents {
  public:
    void DecodingFinished(std::int16_t error) override {
        LetEventsRun();
        if (callbacks && callbacks->decodingFinished) callbacks->decodingFinished();
    }
    void DecodingFile(std::string& fileName, const std::string& contentType,
                      const std::string& contentEncoding) override {
        if (callbacks && callbacks->decodingFile) {
            callbacks->decodingFile(fileName, contentType, contentEncoding);
            return;
        }
        // A name from the message never leaves the decode directory.
        if (!fileName.empty()) fileName = JoinPath(destinationDir, qrmime::SafeBaseName(fileName));
    }
    // The decode in progress: where it writes and whom it tells. Set only while a decode runs.
    std::string destinationDir;
    const sources::DecodeCallbacks* callbacks = nullptr;

    // Sets them for one decode and clears the callbacks when it ends, however it ends.
    class Asking {
      public:
        Asking(Events& events, const std::string& dir, const sources::DecodeCallbacks& asked)
            : m_events(events) {
            m_events.destinationDir = dir;
            m_events.callbacks = &asked;
        }
        ~Asking() { m_events.callbacks = nullptr; }
        Asking(const Asking&) = delete;
        Asking& operator=(const Asking&) = delete;

      private:
        Events& m_events;
    };
};

EngineMimeHost::EngineMimeHost()
    : m_control(std::make_unique<qrmime::QRMIMECtrl>()), m_events(std::make_unique<Events>()) {
    // The persisted defaults the engine's window gives the component.
    m_control->InitNew();
    m_control->SetFireStatus(true);
    m_control->SetProgressDialogVisible(false);
    m_control->SetContentType("application/octet-stream");
    m_control->SetSourceFilename("");
    m_control->SetDestinationFilename("");
    m_control->SetModified(false);
    m_control->SetEvents(m_events.get());
    m_pumpId = AddEventPump([this] { m_control->ProcessPendingEvents(); });
}

EngineMimeHost::~EngineMimeHost() {
    RemoveEventPump(m_pumpId);
    m_control.reset();
}

qrmime::QRMIMECtrl& EngineMimeHost::Control() {
    return *m_control;
}

void EngineMimeHost::SetHostWindows(qrmime::HostWindows* windows) {
    m_control->SetHostWindows(windows);
}

bool EngineMimeHost::DecodeFile(const std::string& sourceFile, const std::string& destinationDir,
                                const sources::DecodeCallbacks& callbacks) {
    const Events::Asking asking(*m_events, destinationDir, callbacks);
    m_control->SetSourceFilename(sourceFile);
    const bool started = m_control->MIMEDecode();
    ReportScanNotes(*m_control, sourceFile);
    if (!started) return false;
    const auto deadline = std::chrono::steady_clock::now() + m_waitLimit;
    while (!m_control->WaitUntilIdle(kWaitSlice)) {
        LetEventsRun();
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    LetEventsRun();
    return true;
}

bool EngineMimeHost::DecodeBytes(std::string_view bytes, const std::string& sourceFile,
                                 const std::string& destinationDir,
                                 std::vector<sources::DecodedFile>& files,
                                 const sources::DecodeCallbacks& callbacks) {
    files.clear();
    const Events::Asking asking(*m_events, destinationDir, callbacks);
    std::vector<qrmime::DecodedPart> parts;
    const bool decoded = m_control->MIMEDecodeBytes(bytes, parts);
    ReportScanNotes(*m_control, sourceFile);
    if (!decoded) return false;
    files.reserve(parts.size());
    for (qrmime::DecodedPart& part : parts) {
        files.push_back({std::move(part.fileName), std::move(part.data)});
        // The file-based decode tells of each part's end; the asking source hears the same.
        if (callbacks.decodingFinished) callbacks.decodingFinished();
    }
    return true;
}

EngineMimeHost& MimeHost() {
    static EngineMimeHost host;
    return host;
}

}  // namespace tallix::engine
