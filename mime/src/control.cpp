#include "qrmime/control.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>

#include "file_io.h"
#include "qrmime/codec.h"
#include "scan_file.h"
#include "spin_wait.h"

namespace qrmime {
namespace {

constexpr std::string_view kFileFilter = "All Files (*.*) | *.* ||";
constexpr std::string_view kDefaultFileName = "*.*";
constexpr std::string_view kDefaultContentType = "application/octet-stream";
constexpr std::string_view kEncodingCaption = "Encoding...";
constexpr std::string_view kDecodingCaption = "Decoding...";
constexpr std::string_view kAboutTitle = "About QRMIME";
constexpr std::string_view kAboutText = "QRMIME\nMIME encoding and decoding component\nVersion 1.1";

// Property names in the persisted set.
constexpr std::string_view kNameSourceFileSize = "SourceFileSize";
constexpr std::string_view kNameDestinationFileSize = "DestinationFileSize";
constexpr std::string_view kNameSourceFilename = "SourceFilename";
constexpr std::string_view kNameDestinationFilename = "DestinationFilename";
constexpr std::string_view kNameFireStatus = "FireStatus";
constexpr std::string_view kNameContentType = "ContentType";
constexpr std::string_view kNameProgressDialogVisible = "ProgressDialogVisible";

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

// Property values the worker sets. They travel with the next notification and are stored
// on the host's thread just before it is handled, so a handler reads exactly what the worker
// had set when it sent that notification, however far the worker has gone since.
struct PropertyWrites {
    std::optional<std::string> destinationFilename;
    std::optional<std::string> contentType;
    std::optional<std::uint64_t> sourceFileSize;
    std::optional<std::uint64_t> destinationFileSize;
};

// One notification from the worker, with everything the host's thread needs to handle it.
struct Notification {
    NoteKind kind = NoteKind::Started;
    bool encoding = false;
    // The operation's last notification: once it is handled the control is idle.
    bool last = false;
    std::string source;
    std::string destination;
    std::uint64_t sourceSize = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t count = 0;
    std::int16_t error = 0;
    PropertyWrites writes;
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
        std::atomic<std::uint64_t> lastHandled{0};  // written under `mutex`; spun on without it
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
    std::string contentType{kDefaultContentType};
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
    // the decode preparation, during which DecodingFile runs host code. `running` is set when
    // an operation is handed to the worker and cleared on the host's thread once its last
    // notification has been handled, so a handler always finds the control busy.
    std::mutex startMutex;
    bool preparing = false;
    std::atomic<bool> running{false};

    // The worker thread: started with the first operation, ended by the destructor. It runs
    // one operation at a time from `jobs` (the busy refusal keeps at most one there).
    std::thread worker;
    std::mutex jobMutex;
    std::condition_variable jobReady;
    struct Job {
        std::function<void()> body;
        Dispatcher* target = nullptr;  // where the operation's events go
    };
    std::deque<Job> jobs;
    std::atomic<bool> jobQueued{false};  // whether `jobs` holds any; the worker spins on it
    bool quit = false;
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

    // Worker thread: queues `note` for the host's thread without waiting for it. Status,
    // progress and finished notifications give nothing back to the worker; what a handler
    // could see of the worker's progress is kept as it was by Barrier (files) and by the
    // property writes and the idle flag travelling with the notifications. Queued
    // notifications go out together at the next barrier or at the end of the operation, so
    // the host is woken once for them.
    void Post(Notification note) { pendingNotes.push_back(std::move(note)); }

    // Worker thread: hands the queued notifications to the host's thread as one task.
    void Flush() {
        if (pendingNotes.empty()) return;
        std::vector<Notification> batch;
        batch.swap(pendingNotes);
        std::uint64_t id;
        {
            std::lock_guard lock(link->mutex);
            if (link->detached) return;
            id = ++link->lastSent;
        }
        auto shared = link;
        try {
            ActiveTarget().Post([shared, batch, id] {
                Deliver(shared, batch);
                {
                    std::lock_guard lock(shared->mutex);
                    shared->lastHandled = std::max(shared->lastHandled.load(), id);
                }
                shared->handled.notify_all();
            });
        } catch (...) {
            // Not delivered: let the earlier ones be handled, then do without the events
            // what handling them would have done.
            Barrier(id - 1);
            for (const Notification& note : batch) {
                ApplyWrites(note.writes);
                if (note.last) {
                    EndOperation();
                    try {
                        ownQueue.Post([] {});
                    } catch (...) {
                    }
                }
            }
            {
                std::lock_guard lock(link->mutex);
                link->lastHandled = std::max(link->lastHandled.load(), id);
            }
            link->handled.notify_all();
        }
    }

    // Host's thread: handles `batch` in order. The owner is looked up again for every
    // notification, so a handler that destroys the control ends the delivery.
    static void Deliver(const std::shared_ptr<Link>& link, const std::vector<Notification>& batch) {
        for (const Notification& note : batch) {
            Impl* owner = Owner(link);
            if (!owner) return;
            owner->Handle(note);
        }
    }

    static Impl* Owner(const std::shared_ptr<Link>& link) {
        std::lock_guard lock(link->mutex);
        return link->detached ? nullptr : link->owner;
    }

    // Worker thread: sends what is queued and waits until the host has handled every
    // notification sent so far (or the control is going away). Called before each step a
    // handler could see or change: reading the source, creating or writing a destination.
    // So a handler finds the files exactly as they were when its event was sent, and a
    // change it makes to them is seen by the worker.
    void Barrier() {
        Flush();
        Barrier(UINT64_MAX);
    }
    void Barrier(std::uint64_t upTo) {
        // Only this thread sends, so `lastSent` does not change while we wait; the host
        // usually handles a batch within microseconds.
        const std::uint64_t wanted = std::min(upTo, link->lastSent);
        if (detail::SpinUntil([&] { return link->lastHandled.load() >= wanted; })) return;
        std::unique_lock lock(link->mutex);
        link->handled.wait(lock, [&] { return link->lastHandled >= wanted || link->detached; });
    }

    std::vector<Notification> pendingNotes;  // worker thread only

    // Worker thread: the dispatcher of the running operation, fixed when it starts.
    Dispatcher* target = nullptr;
    Dispatcher& ActiveTarget() { return target ? *target : ownQueue; }

    void ApplyWrites(const PropertyWrites& w) {
        if (!w.destinationFilename && !w.contentType && !w.sourceFileSize && !w.destinationFileSize)
            return;
        std::lock_guard lock(propsMutex);
        if (w.destinationFilename) destinationFilename = *w.destinationFilename;
        if (w.contentType) contentType = *w.contentType;
        if (w.sourceFileSize) sourceFileSize = Clamp32(*w.sourceFileSize);
        if (w.destinationFileSize) destinationFileSize = Clamp32(*w.destinationFileSize);
    }

    // Host's thread: the worker's property values, the progress window and the status
    // events; after the operation's last notification the control is idle.
    void Handle(const Notification& note) {
        std::shared_ptr<Link> keep = link;  // outlives this control if a handler destroys it
        try {
            ApplyWrites(note.writes);
        } catch (...) {
            // Out of memory copying a name: the event still fires and the operation still ends.
        }
        HandleEvent(note);
        // The handler may have destroyed the control.
        if (note.last && Owner(keep) == this) EndOperation();
    }

    void HandleEvent(const Notification& note) {
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
                            std::string(note.encoding ? kEncodingCaption : kDecodingCaption),
                            note.source, "TO " + note.destination, 1, 100);
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

    // Every operation ends here, on the host's thread once its last notification has been
    // handled. Nothing of the control is touched after the flag drops: with a dispatcher of
    // its own the host may be another thread than the one that destroys the control, which
    // may do so as soon as it sees the control idle.
    void EndOperation() { running = false; }

    // Worker thread, after an operation. Whoever waits in WaitUntilIdle pumps the control's
    // own queue; when the events went through another dispatcher, that queue needs a wake-up
    // once the host has handled the last of them. Sent from the worker, which the destructor
    // joins, so it never reaches a queue that is gone.
    void WakeIdleWaiter() {
        if (&ActiveTarget() == &ownQueue) return;  // the waiter handles the end itself
        Barrier(UINT64_MAX);
        ownQueue.Post([] {});
    }

    void DecodeWorker(std::shared_ptr<detail::InputFile> source, std::string sourceName,
                      std::vector<PartJob> parts) {
        std::string chunk, decoded;
        StreamDecoder decoder;
        for (std::size_t index = 0; index < parts.size(); ++index) {
            if (link->stop) break;
            const PartJob& part = parts[index];
            const bool lastPart = index + 1 == parts.size();
            std::uint64_t length = part.bodyEnd - part.bodyStart;

            Notification note;
            note.encoding = false;
            note.source = sourceName;
            note.destination = part.fileName;
            note.sourceSize = length;
            note.writes.destinationFilename = part.fileName;
            note.writes.contentType = part.contentType;
            note.writes.sourceFileSize = length;

            Barrier();
            detail::OutputFile out;
            bool ok = out.Create(part.fileName);
            note.kind = NoteKind::Started;
            Post(note);
            note.writes = {};

            if (ok) {
                decoder.Reset(part.encoding);
                std::uint64_t offset = part.bodyStart;
                note.kind = NoteKind::Progress;
                auto emit = [&](std::size_t read) {
                    note.bytesRead += read;
                    if (decoded.empty()) return true;
                    Barrier();
                    if (!out.Write(decoded)) return false;
                    note.bytesWritten += decoded.size();
                    ++note.count;
                    Post(note);
                    return true;
                };
                while (ok && offset < part.bodyEnd && !link->stop) {
                    std::size_t want = static_cast<std::size_t>(
                        std::min<std::uint64_t>(kDecodeChunk, part.bodyEnd - offset));
                    Barrier();
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
                note.writes.destinationFileSize = size;
            }
            if (lastPart) source->Close();
            note.kind = NoteKind::Finished;
            note.error = ok ? MIME_DECODE_SUCCESS : MIME_DECODE_FAILURE;
            note.last = lastPart;
            Post(std::move(note));
        }
        source->Close();
    }

    void EncodeWorker(std::string sourceName, std::string destinationName, std::string type) {
        Notification note;
        note.encoding = true;
        note.source = sourceName;
        note.destination = destinationName;

        detail::InputFile in;
        detail::OutputFile out;
        if (!in.Open(sourceName) || !out.Create(destinationName)) {
            in.Close();
            note.kind = NoteKind::Finished;
            note.error = MIME_ENCODE_FAILURE;
            note.last = true;
            Post(std::move(note));
            return;
        }
        note.sourceSize = in.Size();
        note.writes.sourceFileSize = note.sourceSize;
        note.kind = NoteKind::Started;
        Post(note);
        note.writes = {};

        std::string header = "Content-Type: " + type + "; name=\"" + HeaderFileName(sourceName) +
                             "\"\r\nContent-Transfer-Encoding: base64\r\nMime-Version: 1.0\r\n\r\n";
        Barrier();
        bool ok = out.Write(header);
        note.kind = NoteKind::Progress;
        note.bytesWritten = header.size();
        note.count = 1;
        if (ok) Post(note);

        std::string chunk, encoded;
        while (ok && !link->stop) {
            Barrier();
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
            Post(note);
            if (chunk.size() < kEncodeChunk) break;
        }
        if (link->stop) ok = false;
        std::uint64_t size = out.Written();
        if (!out.Close()) ok = false;
        in.Close();
        note.writes.destinationFileSize = size;
        note.kind = NoteKind::Finished;
        note.error = ok ? MIME_ENCODE_SUCCESS : MIME_ENCODE_FAILURE;
        note.last = true;
        Post(std::move(note));
    }

    // The worker thread's loop: one operation at a time until the control goes away.
    void WorkerLoop() {
        using Clock = std::chrono::steady_clock;
        // Whether operations come close together, as when a host decodes a mailbox's
        // attachments one after another: then the worker stays awake a while after each one
        // rather than be woken for the next. A lone operation lets it sleep at once.
        bool closeTogether = false;
        Clock::time_point lastEnd{};
        std::unique_lock lock(jobMutex);
        while (true) {
            if (jobs.empty() && closeTogether) {
                lock.unlock();
                detail::SpinUntil(
                    [this] { return jobQueued.load(std::memory_order_acquire) || link->stop; },
                    detail::kStayAwake);
                lock.lock();
            }
            jobReady.wait(lock, [this] { return quit || !jobs.empty(); });
            if (quit) return;  // an operation not yet begun is dropped with the control
            Job job = std::move(jobs.front());
            jobs.pop_front();
            jobQueued.store(!jobs.empty(), std::memory_order_relaxed);
            lock.unlock();
            closeTogether = Clock::now() - lastEnd <= detail::kStayAwake;
            target = job.target;
            job.body();
            job.body = nullptr;  // the operation's files close here, before the next one
            Flush();
            WakeIdleWaiter();
            lastEnd = Clock::now();
            lock.lock();
        }
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

    // Hands `body` to the worker, starting the worker with the first operation; the claim
    // passes to the worker. Nothing from an earlier operation is still in flight here: its
    // last notification has been handled, or the control would still be busy.
    bool Launch(std::function<void()> body) {
        std::lock_guard lock(startMutex);
        preparing = false;
        if (!worker.joinable()) {
            try {
                worker = std::thread([this] { WorkerLoop(); });
            } catch (...) {
                return false;
            }
        }
        running = true;
        try {
            std::lock_guard jobLock(jobMutex);
            jobs.push_back({std::move(body), &ActiveDispatcher()});
            jobQueued.store(true, std::memory_order_release);
        } catch (...) {
            running = false;
            return false;
        }
        jobReady.notify_one();
        return true;
    }

    std::optional<std::string> AskFile(bool save) {
        if (!windows) return std::nullopt;
        try {
            const std::string filter(kFileFilter);
            const std::string fileName(kDefaultFileName);
            return save ? windows->AskSaveFileName(filter, fileName)
                        : windows->AskOpenFileName(filter, fileName);
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
        if (!Launch(
                [this, source, destination, type] { EncodeWorker(source, destination, type); })) {
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

    // The parts of a scan that are decoded, named by the host: a part the decoders cannot
    // read is not offered to the host (naming it would promise a file that never comes), and
    // a part the host gives no name, or too long a name, is skipped.
    std::vector<PartJob> NameParts(const ScanResult& scan, bool newerThan10) {
        std::vector<PartJob> partJobs;
        for (const ScannedPart& part : scan.parts) {
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
            partJobs.push_back(
                {name, part.contentType, part.bodyStart, part.bodyEnd, part.encoding});
            if (!newerThan10) break;  // the older behaviour decodes one part only
        }
        return partJobs;
    }

    bool NewerThan10() {
        std::lock_guard lock(propsMutex);
        return loadedMajor > 1 || (loadedMajor == 1 && loadedMinor > 0);
    }

    bool DecodeBytes(std::string_view bytes, std::vector<DecodedPart>& decoded) {
        decoded.clear();
        {
            std::lock_guard lock(startMutex);
            if (running || preparing) {
                SetStatus(StartStatus::Busy);
                return false;
            }
        }
        ScanResult scan = ScanEntityBytes(bytes);
        {
            std::lock_guard lock(statusMutex);
            lastNotes = scan.notes;
        }
        if (scan.status != ScanStatus::Ok) {
            SetStatus(scan.status == ScanStatus::NotMime       ? StartStatus::NotMime
                      : scan.status == ScanStatus::BadBoundary ? StartStatus::BadBoundary
                      : scan.status == ScanStatus::NoTransferEncoding
                          ? StartStatus::NoTransferEncoding
                          : StartStatus::SourceUnreadable);
            return false;
        }
        std::vector<PartJob> partJobs = NameParts(scan, NewerThan10());
        if (partJobs.empty()) {
            SetStatus(StartStatus::NoDecodablePart);
            return false;
        }
        StreamDecoder decoder;
        for (const PartJob& part : partJobs) {
            decoder.Reset(part.encoding);
            std::string data;
            const std::uint64_t end = std::min<std::uint64_t>(part.bodyEnd, bytes.size());
            const std::uint64_t start = std::min<std::uint64_t>(part.bodyStart, end);
            decoder.Decode(bytes.substr(start, end - start), data);
            decoder.Finish(data);
            decoded.push_back({part.fileName, part.contentType, std::move(data)});
        }
        SetStatus(StartStatus::Started);
        return true;
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

        std::vector<PartJob> partJobs = NameParts(scan, newerThan10);
        if (partJobs.empty()) return Refuse(StartStatus::NoDecodablePart);

        if (!Launch([this, file, source, parts = std::move(partJobs)]() mutable {
                DecodeWorker(file, source, std::move(parts));
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
    {
        std::lock_guard lock(m_impl->jobMutex);
        m_impl->quit = true;
    }
    m_impl->jobReady.notify_all();
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

bool QRMIMECtrl::MIMEDecodeBytes(std::string_view bytes, std::vector<DecodedPart>& parts) {
    try {
        return m_impl->DecodeBytes(bytes, parts);
    } catch (...) {
        parts.clear();
        m_impl->SetStatus(StartStatus::SourceUnreadable);
        return false;
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
        m_impl->windows->ShowAbout(std::string(kAboutTitle), std::string(kAboutText));
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
    auto put = [&](std::string_view name, std::string value) {
        bag.values.emplace_back(name, std::move(value));
    };
    put(kNameSourceFileSize, std::to_string(d.sourceFileSize));
    put(kNameDestinationFileSize, std::to_string(d.destinationFileSize));
    put(kNameSourceFilename, d.sourceFilename);
    put(kNameDestinationFilename, d.destinationFilename);
    put(kNameFireStatus, BoolText(d.fireStatus));
    put(kNameContentType, d.contentType);
    put(kNameProgressDialogVisible, BoolText(d.progressDialogVisible));
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
