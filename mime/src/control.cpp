#include "qrmime/control.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "file_io.h"
#include "qrmime/codec.h"
#include "scan_file.h"

namespace qrmime {
namespace {

constexpr char kFileFilter[] = "All Files (*.*) | *.* ||";
constexpr char kDefaultFileName[] = "*.*";
constexpr char kDefaultContentType[] = "application/octet-stream";
constexpr char kEncodingCaption[] = "Encoding...";
constexpr char kDecodingCaption[] = "Decoding...";
constexpr char kAboutTitle[] = "About QRMIME";
constexpr char kAboutText[] = "QRMIME\nMIME encoding and decoding component\nVersion 1.1";

// Property names in the persisted set.
constexpr char kNameSourceFileSize[] = "SourceFileSize";
constexpr char kNameDestinationFileSize[] = "DestinationFileSize";
constexpr char kNameSourceFilename[] = "SourceFilename";
constexpr char kNameDestinationFilename[] = "DestinationFilename";
constexpr char kNameFireStatus[] = "FireStatus";
constexpr char kNameContentType[] = "ContentType";
constexpr char kNameProgressDialogVisible[] = "ProgressDialogVisible";

// Event arguments are 32-bit; larger counts stop at the largest value rather than wrap.
std::int32_t Clamp32(std::uint64_t value) {
    return value > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX
                                                         : static_cast<std::int32_t>(value);
}

std::string BoolText(bool value) {
    return value ? "True" : "False";
}

bool ParseBool(const std::string& text, bool fallback) {
    std::string upper = text;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (upper == "TRUE" || upper == "-1" || upper == "1") return true;
    if (upper == "FALSE" || upper == "0") return false;
    return fallback;
}

std::int32_t ParseInt(const std::string& text, std::int32_t fallback) {
    std::int32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// The file name written into the encoded header: no directory, and nothing that could end
// the quoted value or the header line early.
std::string HeaderFileName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || u < 0x20 || u == 0x7F) c = '_';
    }
    return name;
}

enum class NoteKind { Started, Progress, Finished };

// One notification from the worker, with everything the host's thread needs to handle it.
struct Notification {
    NoteKind kind = NoteKind::Started;
    bool encoding = false;
    std::string source;
    std::string destination;
    std::uint64_t sourceSize = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t count = 0;
    std::int16_t error = 0;
};

// One part to decode, named by the host.
struct PartJob {
    std::string fileName;
    std::string contentType;
    std::uint64_t bodyStart = 0;
    std::uint64_t bodyEnd = 0;
    TransferEncoding encoding = TransferEncoding::SevenBit;
};

}  // namespace

struct QRMIMECtrl::Impl {
    // What the worker and the host's thread share beyond the control's lifetime: a task
    // still queued in the host's dispatcher after the control is gone finds `owner` empty.
    struct Link {
        std::mutex mutex;
        std::condition_variable handled;
        std::uint64_t lastSent = 0;
        std::uint64_t lastHandled = 0;
        bool detached = false;
        Impl* owner = nullptr;
        std::atomic<bool> stop{false};
    };

    // Properties; the worker writes some of them while the host reads.
    mutable std::mutex propsMutex;
    std::int32_t sourceFileSize = 0;
    std::int32_t destinationFileSize = 0;
    std::string sourceFilename;
    std::string destinationFilename;
    bool fireStatus = true;
    std::string contentType = kDefaultContentType;
    bool progressDialogVisible = false;
    bool modified = false;
    std::uint16_t loadedMajor = kVersionMajor;
    std::uint16_t loadedMinor = kVersionMinor;

    // Host connections (host's thread only).
    QRMIMEEvents* events = nullptr;
    HostWindows* windows = nullptr;
    PropertyNotifySink* notifySink = nullptr;
    Dispatcher* dispatcher = nullptr;
    EventQueue ownQueue;
    std::unique_ptr<ProgressWindow> progress;

    // Operation state. `startMutex` guards the start of an operation; `preparing` covers
    // the decode preparation, during which DecodingFile runs host code.
    std::mutex startMutex;
    bool preparing = false;
    std::atomic<bool> running{false};
    std::thread worker;
    std::shared_ptr<Link> link = std::make_shared<Link>();
    mutable std::mutex statusMutex;
    StartStatus lastStatus = StartStatus::Started;
    std::vector<ScanNote> lastNotes;

    Impl() { link->owner = this; }

    Dispatcher& ActiveDispatcher() { return dispatcher ? *dispatcher : ownQueue; }

    void SetStatus(StartStatus status) {
        std::lock_guard lock(statusMutex);
        lastStatus = status;
    }

    template <typename T>
    void Assign(T& member, const T& value, DispatchId id) {
        {
            std::lock_guard lock(propsMutex);
            member = value;
            modified = true;
        }
        if (notifySink) {
            try {
                notifySink->OnChanged(id);
            } catch (...) {
            }
        }
    }

    // Worker thread: hands `note` to the host's thread and waits until it has been handled
    // there, like a window message sent to the host's window.
    static void Send(const std::shared_ptr<Link>& link, Dispatcher& target, Notification note) {
        std::uint64_t id;
        {
            std::lock_guard lock(link->mutex);
            if (link->detached) return;
            id = ++link->lastSent;
        }
        try {
            target.Post([link, note = std::move(note), id] {
                Impl* owner = nullptr;
                {
                    std::lock_guard lock(link->mutex);
                    if (!link->detached) owner = link->owner;
                }
                if (owner) owner->Handle(note);
                {
                    std::lock_guard lock(link->mutex);
                    link->lastHandled = std::max(link->lastHandled, id);
                }
                link->handled.notify_all();
            });
        } catch (...) {
            return;
        }
        std::unique_lock lock(link->mutex);
        link->handled.wait(lock, [&] { return link->lastHandled >= id || link->detached; });
    }

    // Host's thread: the progress window and the status events.
    void Handle(const Notification& note) {
        bool fire, showWindow;
        {
            std::lock_guard lock(propsMutex);
            fire = fireStatus;
            showWindow = progressDialogVisible;
        }
        try {
            switch (note.kind) {
                case NoteKind::Started:
                    progress.reset();
                    if (showWindow && windows) {
                        progress = windows->OpenProgress(
                            note.encoding ? kEncodingCaption : kDecodingCaption, note.source,
                            "TO " + note.destination, 1, 100);
                    }
                    if (fire && events) {
                        if (note.encoding) {
                            events->EncodingStarted();
                        } else {
                            events->DecodingStarted();
                        }
                    }
                    break;
                case NoteKind::Progress:
                    if (progress) progress->SetValue(ProgressValue(note));
                    if (fire && events) {
                        if (note.encoding) {
                            events->Encoded(Clamp32(note.bytesRead), Clamp32(note.bytesWritten),
                                            Clamp32(note.count));
                        } else {
                            events->Decoded(Clamp32(note.bytesRead), Clamp32(note.bytesWritten),
                                            Clamp32(note.count));
                        }
                    }
                    break;
                case NoteKind::Finished:
                    progress.reset();
                    if (fire && events) {
                        if (note.encoding) {
                            events->EncodingFinished(note.error);
                        } else {
                            events->DecodingFinished(note.error);
                        }
                    }
                    break;
            }
        } catch (...) {
            // A host handler that throws must not leave the worker waiting.
        }
    }

    static int ProgressValue(const Notification& note) {
        if (note.sourceSize == 0) return 100;
        double share = static_cast<double>(note.bytesRead) / static_cast<double>(note.sourceSize);
        int value = static_cast<int>((share + 0.005) * 100);
        return std::clamp(value, 1, 100);
    }

    // Both workers end here: the running flag drops first, then a wake-up reaches anyone
    // waiting in WaitUntilIdle.
    void EndOperation() {
        running = false;
        ownQueue.Post([] {});
    }

    void SetWorkerProperties(const std::string* destination, const std::string* type,
                             const std::uint64_t* sourceSize, const std::uint64_t* destSize) {
        std::lock_guard lock(propsMutex);
        if (destination) destinationFilename = *destination;
        if (type) contentType = *type;
        if (sourceSize) sourceFileSize = Clamp32(*sourceSize);
        if (destSize) destinationFileSize = Clamp32(*destSize);
    }

    void DecodeWorker(std::shared_ptr<detail::InputFile> source, std::string sourceName,
                      std::vector<PartJob> parts, Dispatcher* target) {
        std::string chunk, decoded;
        StreamDecoder decoder;
        for (const PartJob& part : parts) {
            if (link->stop) break;
            std::uint64_t length = part.bodyEnd - part.bodyStart;
            SetWorkerProperties(&part.fileName, &part.contentType, &length, nullptr);

            Notification note;
            note.encoding = false;
            note.source = sourceName;
            note.destination = part.fileName;
            note.sourceSize = length;

            detail::OutputFile out;
            bool ok = out.Create(part.fileName);
            note.kind = NoteKind::Started;
            Send(link, *target, note);

            if (ok) {
                decoder.Reset(part.encoding);
                std::uint64_t offset = part.bodyStart;
                note.kind = NoteKind::Progress;
                auto emit = [&](std::size_t read) {
                    note.bytesRead += read;
                    if (decoded.empty()) return true;
                    if (!out.Write(decoded)) return false;
                    note.bytesWritten += decoded.size();
                    ++note.count;
                    Send(link, *target, note);
                    return true;
                };
                while (ok && offset < part.bodyEnd && !link->stop) {
                    std::size_t want = static_cast<std::size_t>(
                        std::min<std::uint64_t>(kDecodeChunk, part.bodyEnd - offset));
                    if (!source->ReadAt(offset, want, chunk) || chunk.size() != want) {
                        ok = false;  // the source shrank or cannot be read
                        break;
                    }
                    offset += want;
                    decoded.clear();
                    decoder.Decode(chunk, decoded);
                    ok = emit(want);
                }
                if (ok && !link->stop) {
                    decoded.clear();
                    decoder.Finish(decoded);
                    ok = emit(0);
                }
                if (link->stop) ok = false;
                std::uint64_t size = out.Written();
                if (!out.Close()) ok = false;
                SetWorkerProperties(nullptr, nullptr, nullptr, &size);
            }
            note.kind = NoteKind::Finished;
            note.error = ok ? MIME_DECODE_SUCCESS : MIME_DECODE_FAILURE;
            Send(link, *target, note);
        }
        source->Close();
        EndOperation();
    }

    void EncodeWorker(std::string sourceName, std::string destinationName, std::string type,
                      Dispatcher* target) {
        Notification note;
        note.encoding = true;
        note.source = sourceName;
        note.destination = destinationName;

        detail::InputFile in;
        detail::OutputFile out;
        if (!in.Open(sourceName) || !out.Create(destinationName)) {
            note.kind = NoteKind::Finished;
            note.error = MIME_ENCODE_FAILURE;
            Send(link, *target, note);
            EndOperation();
            return;
        }
        note.sourceSize = in.Size();
        SetWorkerProperties(nullptr, nullptr, &note.sourceSize, nullptr);
        note.kind = NoteKind::Started;
        Send(link, *target, note);

        std::string header = "Content-Type: " + type + "; name=\"" + HeaderFileName(sourceName) +
                             "\"\r\nContent-Transfer-Encoding: base64\r\nMime-Version: 1.0\r\n\r\n";
        bool ok = out.Write(header);
        note.kind = NoteKind::Progress;
        note.bytesWritten = header.size();
        note.count = 1;
        if (ok) Send(link, *target, note);

        std::string chunk, encoded;
        while (ok && !link->stop) {
            if (!in.ReadNext(kEncodeChunk, chunk)) {
                ok = false;
                break;
            }
            if (chunk.empty()) break;
            encoded.clear();
            note.count += static_cast<std::uint64_t>(AppendBase64Lines(chunk, encoded));
            if (!out.Write(encoded)) {
                ok = false;
                break;
            }
            note.bytesRead += chunk.size();
            note.bytesWritten += encoded.size();
            Send(link, *target, note);
            if (chunk.size() < kEncodeChunk) break;
        }
        if (link->stop) ok = false;
        std::uint64_t size = out.Written();
        if (!out.Close()) ok = false;
        in.Close();
        SetWorkerProperties(nullptr, nullptr, nullptr, &size);
        note.kind = NoteKind::Finished;
        note.error = ok ? MIME_ENCODE_SUCCESS : MIME_ENCODE_FAILURE;
        Send(link, *target, note);
        EndOperation();
    }

    // Claims the control for one operation; false when one is running or being prepared.
    bool Claim() {
        std::lock_guard lock(startMutex);
        if (running || preparing) return false;
        preparing = true;
        return true;
    }

    void Release() {
        std::lock_guard lock(startMutex);
        preparing = false;
    }

    // Starts `body` on a new worker thread; the claim passes to the worker.
    bool Launch(std::function<void()> body) {
        std::lock_guard lock(startMutex);
        preparing = false;
        if (worker.joinable()) worker.join();  // the previous worker has already ended
        running = true;
        try {
            worker = std::thread(std::move(body));
        } catch (...) {
            running = false;
            return false;
        }
        return true;
    }

    std::optional<std::string> AskFile(bool save) {
        if (!windows) return std::nullopt;
        try {
            return save ? windows->AskSaveFileName(kFileFilter, kDefaultFileName)
                        : windows->AskOpenFileName(kFileFilter, kDefaultFileName);
        } catch (...) {
            return std::nullopt;
        }
    }

    bool Encode() {
        if (!Claim()) {
            SetStatus(StartStatus::Busy);
            return false;
        }
        std::string source, destination, type;
        {
            std::lock_guard lock(propsMutex);
            source = sourceFilename;
            destination = destinationFilename;
            type = contentType;
        }
        if (source.empty()) {
            auto asked = AskFile(false);
            if (!asked || asked->empty()) return Refuse(StartStatus::NoFileName);
            source = *asked;
            std::lock_guard lock(propsMutex);
            sourceFilename = source;
        }
        if (destination.empty()) {
            auto asked = AskFile(true);
            if (!asked || asked->empty()) return Refuse(StartStatus::NoFileName);
            destination = *asked;
            std::lock_guard lock(propsMutex);
            destinationFilename = destination;
        }
        Dispatcher* target = &ActiveDispatcher();
        if (!Launch([this, source, destination, type, target] {
                EncodeWorker(source, destination, type, target);
            })) {
            SetStatus(StartStatus::ThreadFailed);
            return false;
        }
        SetStatus(StartStatus::Started);
        return true;
    }

    bool Refuse(StartStatus status) {
        Release();
        SetStatus(status);
        return false;
    }

    bool Decode() {
        if (!Claim()) {
            SetStatus(StartStatus::Busy);
            return false;
        }
        {
            std::lock_guard lock(statusMutex);
            lastNotes.clear();
        }
        std::string source;
        bool newerThan10;
        {
            std::lock_guard lock(propsMutex);
            source = sourceFilename;
            newerThan10 = loadedMajor > 1 || (loadedMajor == 1 && loadedMinor > 0);
        }
        if (source.empty()) {
            auto asked = AskFile(false);
            if (!asked || asked->empty()) return Refuse(StartStatus::NoFileName);
            source = *asked;
            std::lock_guard lock(propsMutex);
            sourceFilename = source;
        }
        auto file = std::make_shared<detail::InputFile>();
        if (!file->Open(source)) return Refuse(StartStatus::SourceUnreadable);
        ScanResult scan = detail::ScanOpenFile(*file);
        {
            std::lock_guard lock(statusMutex);
            lastNotes = scan.notes;
        }
        switch (scan.status) {
            case ScanStatus::Ok:
                break;
            case ScanStatus::SourceUnreadable:
                return Refuse(StartStatus::SourceUnreadable);
            case ScanStatus::NotMime:
                return Refuse(StartStatus::NotMime);
            case ScanStatus::BadBoundary:
                return Refuse(StartStatus::BadBoundary);
            case ScanStatus::NoTransferEncoding:
                return Refuse(StartStatus::NoTransferEncoding);
        }

        std::vector<PartJob> jobs;
        for (ScannedPart& part : scan.parts) {
            // A part the decoders cannot read is not offered to the host: naming it would
            // promise a file that never comes.
            if (!part.decodable) continue;
            std::string name = part.fileName;
            if (newerThan10 && (scan.multipart || !name.empty()) && events) {
                try {
                    events->DecodingFile(name, part.contentType, part.encodingText);
                } catch (...) {
                }
            }
            if (name.empty()) continue;
            if (name.size() > kMaxNameLength) {
                std::lock_guard lock(statusMutex);
                lastNotes.push_back({part.bodyStart, "file name longer than " +
                                                         std::to_string(kMaxNameLength) +
                                                         " bytes; part skipped"});
                continue;
            }
            jobs.push_back({name, part.contentType, part.bodyStart, part.bodyEnd, part.encoding});
            if (!newerThan10) break;  // the older behaviour decodes one part only
        }
        if (jobs.empty()) return Refuse(StartStatus::NoDecodablePart);

        Dispatcher* target = &ActiveDispatcher();
        if (!Launch([this, file, source, jobs = std::move(jobs), target]() mutable {
                DecodeWorker(file, source, std::move(jobs), target);
            })) {
            SetStatus(StartStatus::ThreadFailed);
            return false;
        }
        SetStatus(StartStatus::Started);
        return true;
    }
};

QRMIMECtrl::QRMIMECtrl() : m_impl(std::make_unique<Impl>()) {}

QRMIMECtrl::~QRMIMECtrl() {
    auto& link = m_impl->link;
    {
        std::lock_guard lock(link->mutex);
        link->detached = true;
        link->owner = nullptr;
    }
    link->stop = true;
    link->handled.notify_all();
    if (m_impl->worker.joinable()) m_impl->worker.join();
}

void QRMIMECtrl::SetEvents(QRMIMEEvents* events) {
    m_impl->events = events;
}
void QRMIMECtrl::SetHostWindows(HostWindows* windows) {
    m_impl->windows = windows;
}
void QRMIMECtrl::SetPropertyNotifySink(PropertyNotifySink* sink) {
    m_impl->notifySink = sink;
}
void QRMIMECtrl::SetDispatcher(Dispatcher* dispatcher) {
    m_impl->dispatcher = dispatcher;
}

std::size_t QRMIMECtrl::ProcessPendingEvents() {
    return m_impl->ownQueue.Pump();
}

bool QRMIMECtrl::WaitUntilIdle(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_impl->running) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        m_impl->ownQueue.PumpFor(left);
    }
    m_impl->ownQueue.Pump();
    return true;
}

bool QRMIMECtrl::IsBusy() const {
    return m_impl->running;
}

std::int32_t QRMIMECtrl::SourceFileSize() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->sourceFileSize;
}
std::int32_t QRMIMECtrl::DestinationFileSize() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->destinationFileSize;
}
std::string QRMIMECtrl::SourceFilename() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->sourceFilename;
}
void QRMIMECtrl::SetSourceFilename(const std::string& value) {
    m_impl->Assign(m_impl->sourceFilename, value, DispatchId::SourceFilename);
}
std::string QRMIMECtrl::DestinationFilename() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->destinationFilename;
}
void QRMIMECtrl::SetDestinationFilename(const std::string& value) {
    m_impl->Assign(m_impl->destinationFilename, value, DispatchId::DestinationFilename);
}
bool QRMIMECtrl::FireStatus() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->fireStatus;
}
void QRMIMECtrl::SetFireStatus(bool value) {
    m_impl->Assign(m_impl->fireStatus, value, DispatchId::FireStatus);
}
std::string QRMIMECtrl::ContentType() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->contentType;
}
void QRMIMECtrl::SetContentType(const std::string& value) {
    m_impl->Assign(m_impl->contentType, value, DispatchId::ContentType);
}
bool QRMIMECtrl::ProgressDialogVisible() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->progressDialogVisible;
}
void QRMIMECtrl::SetProgressDialogVisible(bool value) {
    m_impl->Assign(m_impl->progressDialogVisible, value, DispatchId::ProgressDialogVisible);
}

bool QRMIMECtrl::MIMEEncode() {
    try {
        return m_impl->Encode();
    } catch (...) {
        return m_impl->Refuse(StartStatus::ThreadFailed);
    }
}

bool QRMIMECtrl::MIMEDecode() {
    try {
        return m_impl->Decode();
    } catch (...) {
        return m_impl->Refuse(StartStatus::ThreadFailed);
    }
}

void QRMIMECtrl::AboutBox() {
    if (!m_impl->windows) return;
    try {
        m_impl->windows->ShowAbout(kAboutTitle, kAboutText);
    } catch (...) {
    }
}

StartStatus QRMIMECtrl::LastStartStatus() const {
    std::lock_guard lock(m_impl->statusMutex);
    return m_impl->lastStatus;
}

std::vector<ScanNote> QRMIMECtrl::LastScanNotes() const {
    std::lock_guard lock(m_impl->statusMutex);
    return m_impl->lastNotes;
}

void QRMIMECtrl::InitNew() {
    std::lock_guard lock(m_impl->propsMutex);
    auto& d = *m_impl;
    d.sourceFileSize = 0;
    d.destinationFileSize = 0;
    d.sourceFilename.clear();
    d.destinationFilename.clear();
    d.fireStatus = true;
    d.contentType = kDefaultContentType;
    d.progressDialogVisible = false;
    d.loadedMajor = kVersionMajor;
    d.loadedMinor = kVersionMinor;
    d.modified = false;
}

bool QRMIMECtrl::Load(const PropertyBag& bag) {
    InitNew();
    if (bag.versionMajor != kVersionMajor) return false;
    std::lock_guard lock(m_impl->propsMutex);
    auto& d = *m_impl;
    d.loadedMajor = bag.versionMajor;
    d.loadedMinor = bag.versionMinor;
    for (const auto& [name, value] : bag.values) {
        if (name == kNameSourceFileSize) {
            d.sourceFileSize = ParseInt(value, 0);
        } else if (name == kNameDestinationFileSize) {
            d.destinationFileSize = ParseInt(value, 0);
        } else if (name == kNameSourceFilename) {
            d.sourceFilename = value;
        } else if (name == kNameDestinationFilename) {
            d.destinationFilename = value;
        } else if (name == kNameFireStatus) {
            d.fireStatus = ParseBool(value, true);
        } else if (name == kNameContentType) {
            d.contentType = value;
        } else if (name == kNameProgressDialogVisible) {
            d.progressDialogVisible = ParseBool(value, false);
        }
    }
    return true;
}

PropertyBag QRMIMECtrl::Save() const {
    std::lock_guard lock(m_impl->propsMutex);
    const auto& d = *m_impl;
    PropertyBag bag;
    bag.versionMajor = kVersionMajor;
    bag.versionMinor = kVersionMinor;
    bag.values = {
        {kNameSourceFileSize, std::to_string(d.sourceFileSize)},
        {kNameDestinationFileSize, std::to_string(d.destinationFileSize)},
        {kNameSourceFilename, d.sourceFilename},
        {kNameDestinationFilename, d.destinationFilename},
        {kNameFireStatus, BoolText(d.fireStatus)},
        {kNameContentType, d.contentType},
        {kNameProgressDialogVisible, BoolText(d.progressDialogVisible)},
    };
    return bag;
}

std::uint16_t QRMIMECtrl::LoadedVersionMajor() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->loadedMajor;
}
std::uint16_t QRMIMECtrl::LoadedVersionMinor() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->loadedMinor;
}
bool QRMIMECtrl::IsModified() const {
    std::lock_guard lock(m_impl->propsMutex);
    return m_impl->modified;
}
void QRMIMECtrl::SetModified(bool modified) {
    std::lock_guard lock(m_impl->propsMutex);
    m_impl->modified = modified;
}

}  // namespace qrmime
