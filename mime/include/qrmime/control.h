#pragma once
// QRMIMECtrl: encodes a file as one base64 MIME entity and decodes a MIME entity into one
// file per part. The file work runs on the control's worker thread (started with the first
// operation, ended with the control), one operation at a time; every notification the
// worker produces is handed to the host's thread through a Dispatcher, so the host sees
// every event on its own thread and in order. The worker does not wait for each event, but
// it waits for the host to have handled every event sent before it reads the source or
// creates or writes a destination, and the properties it sets reach the control on the
// host's thread with the event that follows them: inside a handler the files, the
// properties and IsBusy read as they were when that event was sent.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qrmime/entity.h"
#include "qrmime/export.h"

namespace qrmime {

// Dispatch identifiers of the properties and methods, in dispatch order.
enum class DispatchId : int {
    SourceFileSize = 1,
    DestinationFileSize = 2,
    SourceFilename = 3,
    DestinationFilename = 4,
    FireStatus = 5,
    ContentType = 6,
    ProgressDialogVisible = 7,
    MIMEEncode = 8,
    MIMEDecode = 9,
    AboutBox = -552,
};

// Event identifiers, in event order.
enum class EventId : int {
    EncodingStarted = 1,
    DecodingStarted = 2,
    Encoded = 3,
    Decoded = 4,
    DecodingFinished = 5,
    EncodingFinished = 6,
    DecodingFile = 7,
};

enum EncodingFinishedConstants : std::int16_t { MIME_ENCODE_SUCCESS = 0, MIME_ENCODE_FAILURE = 1 };
enum DecodingFinishedConstants : std::int16_t { MIME_DECODE_SUCCESS = 0, MIME_DECODE_FAILURE = 1 };

// The control's events. All run on the host's thread: the six status events through the
// dispatcher, DecodingFile directly inside MIMEDecode. Exceptions thrown by a handler are
// swallowed, so a faulty handler cannot stall the worker.
class QRMIME_API QRMIMEEvents {
  public:
    virtual ~QRMIMEEvents();
    virtual void EncodingStarted() {}
    virtual void DecodingStarted() {}
    virtual void Encoded(std::int32_t bytesRead, std::int32_t bytesWritten,
                         std::int32_t linesEncoded) {}
    virtual void Decoded(std::int32_t bytesRead, std::int32_t bytesWritten,
                         std::int32_t linesDecoded) {}
    virtual void DecodingFinished(std::int16_t error) {}
    virtual void EncodingFinished(std::int16_t error) {}
    // The host names the file of one part: whatever it leaves in `fileName` is where the
    // part is written; an empty name skips the part. A name that came from the message is
    // passed as found, so the host must make it safe (SafeBaseName) before it joins it
    // to a directory.
    virtual void DecodingFile(std::string& fileName, const std::string& contentType,
                              const std::string& contentEncoding) {}
};

// How the worker reaches the host's thread. Post is called on the worker thread; it must
// arrange for `task` to run on the host's thread (when the host next pumps its events) and
// must not run it on the calling thread. The dispatcher must outlive the control.
class QRMIME_API Dispatcher {
  public:
    virtual ~Dispatcher();
    virtual void Post(std::function<void()> task) = 0;
};

// A dispatcher that queues tasks until the host pumps them. Every control owns one and
// uses it unless the host installs its own dispatcher.
class QRMIME_API EventQueue final : public Dispatcher {
  public:
    EventQueue();
    ~EventQueue() override;
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    void Post(std::function<void()> task) override;
    // Runs, on the calling thread, every task queued so far; returns how many ran.
    std::size_t Pump();
    // Waits until a task is queued or `timeout` has passed, then pumps.
    std::size_t PumpFor(std::chrono::milliseconds timeout);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A progress window opened by the host for one operation; destroying it closes it.
class QRMIME_API ProgressWindow {
  public:
    virtual ~ProgressWindow();
    virtual void SetValue(int value) = 0;
};

// The windows the control can ask the host for. Without one the control shows nothing
// and asks for nothing.
class QRMIME_API HostWindows {
  public:
    virtual ~HostWindows();
    // A progress window with a caption, two lines of text and a bar from `minimum` to
    // `maximum`.
    virtual std::unique_ptr<ProgressWindow> OpenProgress(const std::string& caption,
                                                         const std::string& line1,
                                                         const std::string& line2, int minimum,
                                                         int maximum) = 0;
    virtual void ShowAbout(const std::string& title, const std::string& text) = 0;
    // File dialogs; no value when the user cancels.
    virtual std::optional<std::string> AskOpenFileName(const std::string& filter,
                                                       const std::string& defaultName) = 0;
    virtual std::optional<std::string> AskSaveFileName(const std::string& filter,
                                                       const std::string& defaultName) = 0;
};

// Told when a read/write property has been assigned (a bound-property change).
class QRMIME_API PropertyNotifySink {
  public:
    virtual ~PropertyNotifySink();
    virtual void OnChanged(DispatchId property) = 0;
};

// The persisted property set: the seven properties by name, values as text (booleans as
// "True"/"False"), and the property-set version.
struct PropertyBag {
    std::uint16_t versionMajor = 1;
    std::uint16_t versionMinor = 1;
    std::vector<std::pair<std::string, std::string>> values;
};

// Why the last MIMEEncode or MIMEDecode did or did not start.
enum class StartStatus {
    Started,
    Busy,        // an earlier operation of this control is still running
    NoFileName,  // a file name was empty and no dialog supplied one
    SourceUnreadable,
    NotMime,
    BadBoundary,
    NoTransferEncoding,
    NoDecodablePart,
    ThreadFailed,
};

// One part decoded in memory: the name the host gave it (where the file-based decode would
// have written it), its content type and its decoded bytes.
struct DecodedPart {
    std::string fileName;
    std::string contentType;
    std::string data;
};

class QRMIME_API QRMIMECtrl {
  public:
    static constexpr std::uint16_t kVersionMajor = 1;
    static constexpr std::uint16_t kVersionMinor = 1;
    static constexpr std::size_t kDecodeChunk = 8192;
    static constexpr std::size_t kEncodeChunk = 3078;  // 54 lines of 57 input bytes

    QRMIMECtrl();
    // Stops a running operation at its next chunk and ends the worker thread. Notifications
    // still queued are dropped. Must run on the host's thread.
    ~QRMIMECtrl();
    QRMIMECtrl(const QRMIMECtrl&) = delete;
    QRMIMECtrl& operator=(const QRMIMECtrl&) = delete;

    // Host connections; none is owned. Change them only while no operation runs.
    void SetEvents(QRMIMEEvents* events);
    void SetHostWindows(HostWindows* windows);
    void SetPropertyNotifySink(PropertyNotifySink* sink);
    // nullptr restores the control's own EventQueue.
    void SetDispatcher(Dispatcher* dispatcher);

    // Runs the notifications waiting in the control's own queue on the calling thread (the
    // host's pump). Returns how many ran.
    std::size_t ProcessPendingEvents();
    // Pumps the control's own queue until the running operation has ended or `limit` has
    // passed; true when it ended.
    bool WaitUntilIdle(std::chrono::milliseconds limit);
    bool IsBusy() const;

    // Properties. The two sizes are read-only: their setters ignore the value.
    std::int32_t SourceFileSize() const;
    void SetSourceFileSize(std::int32_t) {}
    std::int32_t DestinationFileSize() const;
    void SetDestinationFileSize(std::int32_t) {}
    std::string SourceFilename() const;
    void SetSourceFilename(const std::string& value);
    std::string DestinationFilename() const;
    void SetDestinationFilename(const std::string& value);
    bool FireStatus() const;
    void SetFireStatus(bool value);
    std::string ContentType() const;
    void SetContentType(const std::string& value);
    bool ProgressDialogVisible() const;
    void SetProgressDialogVisible(bool value);

    bool MIMEEncode();
    bool MIMEDecode();
    // Decodes the MIME entity `bytes` on the calling thread into `parts` instead of files:
    // the parts MIMEDecode would write for the same bytes in a file, named through the same
    // DecodingFile event, in order (where two parts have one name, the later one is what its
    // file would hold). No worker, no status events, no properties change; the start
    // status and the scan's notes are kept as for MIMEDecode. False (and no parts) when
    // MIMEDecode would not have started, or while a file operation runs.
    bool MIMEDecodeBytes(std::string_view bytes, std::vector<DecodedPart>& parts);
    void AboutBox();

    // Why the last MIMEEncode or MIMEDecode returned what it did, and what the last decode's
    // scan noted (limits reached, parts skipped), each with its byte offset.
    StartStatus LastStartStatus() const;
    std::vector<ScanNote> LastScanNotes() const;

    // Persistence.
    void InitNew();                     // defaults, version 1.1
    bool Load(const PropertyBag& bag);  // false (and defaults) for an unknown major version
    PropertyBag Save() const;           // always written as version 1.1
    std::uint16_t LoadedVersionMajor() const;
    std::uint16_t LoadedVersionMinor() const;
    bool IsModified() const;
    void SetModified(bool modified);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qrmime
