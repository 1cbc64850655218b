// The control's worker: one thread for the control's whole life, and everything a host can see
// from inside its handlers (event order and arguments, the properties, IsBusy, the files on
// disk) the same as when the worker waited for every event.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <thread>

#include "mime_test_util.h"
#include "qrmime/codec.h"
#include "qrmime/control.h"

namespace {

using mime_test::Crlf;
using mime_test::TempDir;
using qrmime::QRMIMECtrl;

// The thread ids of this process, read from /proc/self/task.
std::set<std::string> ProcessThreads() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(entry.path().filename().string());
    return ids;
}

std::string DiskSize(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return "-";
    return std::to_string(st.st_size);
}

// Logs every event with what a host can look at from inside it: the control's properties,
// IsBusy, and the size on disk of the current destination and of every name handed out.
class ObservingHost : public qrmime::QRMIMEEvents {
  public:
    ObservingHost(QRMIMECtrl& ctrl, std::string dir) : m_ctrl(ctrl), m_dir(std::move(dir)) {}

    std::vector<std::string> log;
    std::vector<std::string> names;  // DecodingFile hands these out in turn
    bool startAgainInLastFinished = false;
    std::size_t partsExpected = 0;

    void DecodingStarted() override { Note("DecodingStarted"); }
    void Decoded(std::int32_t r, std::int32_t w, std::int32_t n) override {
        Note("Decoded " + std::to_string(r) + " " + std::to_string(w) + " " + std::to_string(n));
    }
    void DecodingFinished(std::int16_t e) override {
        Note("DecodingFinished " + std::to_string(e));
        if (startAgainInLastFinished && ++m_finished == partsExpected) {
            // The operation is still running here, so a new one is refused.
            bool started = m_ctrl.MIMEDecode();
            log.push_back("restart " + std::to_string(started) + " status " +
                          std::to_string(static_cast<int>(m_ctrl.LastStartStatus())));
        }
    }
    void DecodingFile(std::string& fileName, const std::string& type, const std::string&) override {
        Note("DecodingFile [" + fileName + "] [" + type + "]");
        if (m_next < names.size()) fileName = names[m_next++];
    }
    void EncodingStarted() override { Note("EncodingStarted"); }
    void Encoded(std::int32_t r, std::int32_t w, std::int32_t n) override {
        Note("Encoded " + std::to_string(r) + " " + std::to_string(w) + " " + std::to_string(n));
    }
    void EncodingFinished(std::int16_t e) override {
        Note("EncodingFinished " + std::to_string(e));
    }

  private:
    std::string Rel(const std::string& path) const {
        return path.rfind(m_dir, 0) == 0 ? path.substr(m_dir.size()) : path;
    }
    void Note(const std::string& event) {
        std::string line = event + " | dest=" + Rel(m_ctrl.DestinationFilename()) +
                           " type=" + m_ctrl.ContentType() +
                           " src=" + std::to_string(m_ctrl.SourceFileSize()) +
                           " dsize=" + std::to_string(m_ctrl.DestinationFileSize()) +
                           " busy=" + std::to_string(m_ctrl.IsBusy()) + " disk=";
        for (const auto& name : names) line += DiskSize(name) + ",";
        log.push_back(line);
    }

    QRMIMECtrl& m_ctrl;
    std::string m_dir;
    std::size_t m_next = 0;
    std::size_t m_finished = 0;
};

// Four parts: a text body, a base64 attachment over two 8192-byte chunks, a part whose file
// cannot be created, and a quoted-printable part whose last output comes from the final flush.
std::string FourPartMessage() {
    std::string attachment;
    qrmime::AppendBase64Lines(mime_test::RandomBytes(9000, 21), attachment);
    return Crlf(
               "From: a@example.org\nContent-Type: multipart/mixed; boundary=\"zz\"\n\n"
               "--zz\nContent-Type: text/plain\n\nfirst body\n"
               "--zz\nContent-Type: application/octet-stream; name=\"a.bin\"\n"
               "Content-Transfer-Encoding: base64\n\n") +
           attachment +
           Crlf(
               "\n--zz\nContent-Type: text/plain; name=\"lost.txt\"\n\nlost\n"
               "--zz\nContent-Type: text/html; name=\"q.htm\"\n"
               "Content-Transfer-Encoding: quoted-printable\n\ncaf=C3=A9 =\nend=4\n--zz--\n");
}

// Recorded from the control as it was when the worker waited for the host after every event
// (one thread per operation); the worker that lives with the control must give the same.
const std::vector<std::string> kRecordedFourPartDecode = {
    "DecodingFile [] [text/plain] | dest= type=application/octet-stream src=0 dsize=0 busy=0 "
    "disk=-,-,-,-,",
    "DecodingFile [a.bin] [application/octet-stream] | dest= type=application/octet-stream src=0 "
    "dsize=0 busy=0 disk=-,-,-,-,",
    "DecodingFile [lost.txt] [text/plain] | dest= type=application/octet-stream src=0 dsize=0 "
    "busy=0 disk=-,-,-,-,",
    "DecodingFile [q.htm] [text/html] | dest= type=application/octet-stream src=0 dsize=0 busy=0 "
    "disk=-,-,-,-,",
    "DecodingStarted | dest=t.txt type=text/plain src=10 dsize=0 busy=1 disk=0,-,-,-,",
    "Decoded 10 10 1 | dest=t.txt type=text/plain src=10 dsize=0 busy=1 disk=10,-,-,-,",
    "DecodingFinished 0 | dest=t.txt type=text/plain src=10 dsize=10 busy=1 disk=10,-,-,-,",
    "DecodingStarted | dest=a.bin type=application/octet-stream src=12314 dsize=10 busy=1 "
    "disk=10,0,-,-,",
    "Decoded 8192 5985 1 | dest=a.bin type=application/octet-stream src=12314 dsize=10 busy=1 "
    "disk=10,5985,-,-,",
    "Decoded 12314 9000 2 | dest=a.bin type=application/octet-stream src=12314 dsize=10 busy=1 "
    "disk=10,9000,-,-,",
    "DecodingFinished 0 | dest=a.bin type=application/octet-stream src=12314 dsize=9000 busy=1 "
    "disk=10,9000,-,-,",
    "DecodingStarted | dest=none/lost.txt type=text/plain src=4 dsize=9000 busy=1 "
    "disk=10,9000,-,-,",
    "DecodingFinished 1 | dest=none/lost.txt type=text/plain src=4 dsize=9000 busy=1 "
    "disk=10,9000,-,-,",
    "DecodingStarted | dest=q.htm type=text/html src=18 dsize=9000 busy=1 disk=10,9000,-,0,",
    "Decoded 18 9 1 | dest=q.htm type=text/html src=18 dsize=9000 busy=1 disk=10,9000,-,9,",
    "Decoded 18 11 2 | dest=q.htm type=text/html src=18 dsize=9000 busy=1 disk=10,9000,-,11,",
    "DecodingFinished 0 | dest=q.htm type=text/html src=18 dsize=11 busy=1 disk=10,9000,-,11,",
    "restart 0 status 1",
};

const std::vector<std::string> kRecordedEncode = {
    "EncodingStarted | dest=out.mime type=application/octet-stream src=6156 dsize=0 busy=1 disk=0,",
    "Encoded 0 111 1 | dest=out.mime type=application/octet-stream src=6156 dsize=0 busy=1 "
    "disk=111,",
    "Encoded 3078 4323 55 | dest=out.mime type=application/octet-stream src=6156 dsize=0 busy=1 "
    "disk=4323,",
    "Encoded 6156 8535 109 | dest=out.mime type=application/octet-stream src=6156 dsize=0 busy=1 "
    "disk=8535,",
    "EncodingFinished 0 | dest=out.mime type=application/octet-stream src=6156 dsize=8535 busy=1 "
    "disk=8535,",
};

class WorkerTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = dir.File(name);
        mime_test::WriteFileBytes(path, bytes);
        return path;
    }
    TempDir dir;
};

TEST_F(WorkerTest, MultiPartDecodeLooksToTheHostAsRecorded) {
    QRMIMECtrl ctrl;
    ObservingHost host(ctrl, dir.File(""));
    host.names = {dir.File("t.txt"), dir.File("a.bin"), dir.File("none/lost.txt"),
                  dir.File("q.htm")};
    host.startAgainInLastFinished = true;
    host.partsExpected = 4;
    ctrl.SetEvents(&host);
    ctrl.SetSourceFilename(Write("msg.eml", FourPartMessage()));
    ASSERT_TRUE(ctrl.MIMEDecode());
    ASSERT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
    EXPECT_EQ(host.log, kRecordedFourPartDecode);
    EXPECT_FALSE(ctrl.IsBusy());
    EXPECT_EQ(ctrl.LastStartStatus(), qrmime::StartStatus::Busy);
}

TEST_F(WorkerTest, EncodeLooksToTheHostAsRecorded) {
    QRMIMECtrl ctrl;
    ObservingHost host(ctrl, dir.File(""));
    host.names = {dir.File("out.mime")};  // only watched on disk: encoding names no part
    ctrl.SetEvents(&host);
    ctrl.SetSourceFilename(Write("in.bin", mime_test::RandomBytes(6156, 3)));
    ctrl.SetDestinationFilename(dir.File("out.mime"));
    ASSERT_TRUE(ctrl.MIMEEncode());
    ASSERT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
    EXPECT_EQ(host.log, kRecordedEncode);
}

// Notes the threads that were not there before the control existed, from inside the started
// events, when the operation's worker is certainly alive.
class ThreadSpy : public qrmime::QRMIMEEvents {
  public:
    std::set<std::string> before = ProcessThreads();
    std::set<std::string> seen;
    void DecodingStarted() override { Look(); }
    void EncodingStarted() override { Look(); }
    void DecodingFile(std::string& fileName, const std::string&, const std::string&) override {
        fileName = target;
    }
    std::string target;

  private:
    void Look() {
        for (const auto& id : ProcessThreads())
            if (!before.count(id)) seen.insert(id);
    }
};

// A joined thread can stay listed for a moment after the join returns.
bool ThreadsReturnTo(const std::set<std::string>& expected) {
    for (int i = 0; i < 200; ++i) {
        if (ProcessThreads() == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST_F(WorkerTest, ManyOperationsInARowShareOneWorkerThatEndsWithTheControl) {
    std::string message = Write("msg.eml", FourPartMessage());
    std::string plain = Write("plain.bin", mime_test::RandomBytes(4000, 6));
    ThreadSpy spy;
    spy.target = dir.File("part.out");
    {
        QRMIMECtrl ctrl;
        ctrl.SetEvents(&spy);
        EXPECT_EQ(ProcessThreads(), spy.before);  // no thread before the first operation
        for (int i = 0; i < 40; ++i) {
            SCOPED_TRACE(i);
            if (i % 4 == 3) {
                ctrl.SetSourceFilename(plain);
                ctrl.SetDestinationFilename(dir.File("enc.out"));
                ASSERT_TRUE(ctrl.MIMEEncode());
            } else {
                ctrl.SetSourceFilename(message);
                ASSERT_TRUE(ctrl.MIMEDecode());
            }
            ASSERT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
        }
        EXPECT_EQ(spy.seen.size(), 1u);
        EXPECT_EQ(ProcessThreads().size(), spy.before.size() + 1);  // idle, still there
    }
    EXPECT_TRUE(ThreadsReturnTo(spy.before));
}

// Pumps the control's own queue until `host` has logged `count` events (or a while passed).
void PumpUntil(QRMIMECtrl& ctrl, const mime_test::RecordingHost& host, std::size_t count) {
    auto deadline = std::chrono::steady_clock::now() + mime_test::kGenerousWait;
    while (host.log.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (ctrl.ProcessPendingEvents() == 0) std::this_thread::yield();
    }
}

TEST_F(WorkerTest, DestroyingTheControlAtAnyPointOfADecodeStopsItCleanly) {
    std::string message = Write("msg.eml", FourPartMessage());
    auto names = [&] {
        return std::vector<std::string>{dir.File("t.txt"), dir.File("a.bin"),
                                        dir.File("none/lost.txt"), dir.File("q.htm")};
    };
    mime_test::RecordingHost whole;
    whole.names = names();
    {
        QRMIMECtrl ctrl;
        ctrl.SetEvents(&whole);
        ctrl.SetSourceFilename(message);
        ASSERT_TRUE(ctrl.MIMEDecode());
        ASSERT_TRUE(ctrl.WaitUntilIdle(mime_test::kGenerousWait));
    }
    ASSERT_EQ(whole.log.size(), 17u);
    std::set<std::string> before = ProcessThreads();

    // Destroyed after 4 events (the DecodingFile calls only, the worker waiting for the host)
    // up to after the whole run: what the host saw is always the start of the whole run.
    for (std::size_t stopAt = 4; stopAt <= whole.log.size(); ++stopAt) {
        SCOPED_TRACE(stopAt);
        for (const auto& name : names()) std::filesystem::remove(name);
        mime_test::RecordingHost host;
        host.names = names();
        {
            QRMIMECtrl ctrl;
            ctrl.SetEvents(&host);
            ctrl.SetSourceFilename(message);
            ASSERT_TRUE(ctrl.MIMEDecode());
            PumpUntil(ctrl, host, stopAt);
        }
        ASSERT_GE(host.log.size(), stopAt);
        EXPECT_EQ(host.log,
                  std::vector<std::string>(whole.log.begin(), whole.log.begin() + host.log.size()));
        for (auto id : host.threads) EXPECT_EQ(id, std::this_thread::get_id());
        if (stopAt == 4) {
            // Nothing was handled: the worker never went past the first part's start.
            EXPECT_FALSE(std::filesystem::exists(dir.File("a.bin")));
        }
    }
    EXPECT_TRUE(ThreadsReturnTo(before));
}

// A host that destroys the control from inside one of its handlers.
class DestroyingHost : public mime_test::RecordingHost {
  public:
    std::unique_ptr<QRMIMECtrl> ctrl;
    std::string destroyOn;  // the event line after which the control is destroyed
    void Decoded(std::int32_t r, std::int32_t w, std::int32_t n) override {
        RecordingHost::Decoded(r, w, n);
        Check();
    }
    void DecodingFinished(std::int16_t e) override {
        RecordingHost::DecodingFinished(e);
        Check();
    }

  private:
    void Check() {
        if (!log.empty() && log.back() == destroyOn) ctrl.reset();
    }
};

TEST_F(WorkerTest, AHandlerMayDestroyTheControl) {
    std::string message = Write("msg.eml", FourPartMessage());
    std::set<std::string> before = ProcessThreads();
    // Mid-part, at the end of the first part, and just before the operation's last event.
    for (const char* destroyOn : {"Decoded 8192 5985 1", "DecodingFinished 0", "Decoded 18 11 2"}) {
        SCOPED_TRACE(destroyOn);
        DestroyingHost host;
        host.names = {dir.File("t.txt"), dir.File("a.bin"), dir.File("none/lost.txt"),
                      dir.File("q.htm")};
        host.destroyOn = destroyOn;
        host.ctrl = std::make_unique<QRMIMECtrl>();
        QRMIMECtrl* ctrl = host.ctrl.get();
        ctrl->SetEvents(&host);
        ctrl->SetSourceFilename(message);
        ASSERT_TRUE(ctrl->MIMEDecode());
        auto deadline = std::chrono::steady_clock::now() + mime_test::kGenerousWait;
        while (host.ctrl && std::chrono::steady_clock::now() < deadline) {
            if (ctrl->ProcessPendingEvents() == 0) std::this_thread::yield();
        }
        ASSERT_FALSE(host.ctrl);
        EXPECT_EQ(host.log.back(), destroyOn);  // nothing after the destroying handler
    }
    EXPECT_TRUE(ThreadsReturnTo(before));
}

}  // namespace
