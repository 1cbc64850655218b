#include "sources/mapi_source.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "model/message.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "sources/compuserve_address.h"
#include "sources/simple_mapi_source.h"
#include "tests/support/maildir_fixture.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::sources {
namespace {

namespace fs = std::filesystem;
using testing::FixtureMessages;
using testing::ReadFileBytes;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_had)
            ::setenv(m_name, m_old.c_str(), 1);
        else
            ::unsetenv(m_name);
    }

  private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

class MapiSources : public ::testing::Test {
  protected:
    MapiSources() : tz("TZ", "UTC"), maildir(dir.File("Maildir")), env_maildir("MAILDIR", maildir) {
        ::tzset();
        ResetSettings();
        SetSilentMode(true);
        testing::WriteMaildirFixture(maildir);
    }
    ~MapiSources() override { ResetSettings(); }

    template <class Source>
    static std::vector<std::shared_ptr<txMessage>> Walk(Source& source, bool deleteEach = false) {
        std::vector<std::shared_ptr<txMessage>> out;
        source.GetFirstMsg();
        while (source.Message() && out.size() < 1000) {
            out.push_back(source.Message());
            if (deleteEach) source.DoDeleteMessage();
            source.GetNextMsg();
        }
        return out;
    }
    static std::vector<std::string> Subjects(
        const std::vector<std::shared_ptr<txMessage>>& messages) {
        std::vector<std::string> out;
        for (const auto& m : messages) out.push_back(m->Subject());
        return out;
    }
    std::vector<std::string> FixtureSubjects() const {
        return {"Order A-11",
                "Order f\xc3\xbcr J\xc3\xbcrgen",
                "order latin",
                "Order html",
                "Order no recipient",
                "Attachments",
                "",
                "Order truncated",
                "Weekly news"};
    }
    std::size_t FilesLeft() const {
        std::size_t n = 0;
        for (const char* sub : {"/new", "/cur"})
            for (const auto& e : fs::directory_iterator(maildir + sub))
                n += e.path().filename().string()[0] != '.';
        return n;
    }
    std::string ErrorLog() const { return env.ReadProgramFile(std::string(kErrorLog)); }

    testing::IsolatedEnvironment env;
    testing::ScriptedUi ui;
    testing::TempDir dir;
    ScopedEnv tz;
    std::string maildir;
    ScopedEnv env_maildir;
};

TEST_F(MapiSources, ExtendedMapiHandsOverEveryMessageWithItsValues) {
    Settings().mapiProfile = "  " + maildir + "  ";  // trimmed before the logon
    std::unique_ptr<colMapiConfigs> col = NewColMapiConfigs();
    clsMapi* source = col->Add();
    EXPECT_EQ(source->ID(), "Mapi System");
    source->Connect();
    ASSERT_TRUE(source->IsConnected());
    EXPECT_EQ(source->TotalMessages(), 9);
    const auto messages = Walk(*source);
    EXPECT_EQ(Subjects(messages), FixtureSubjects());

    // The dates keep the whole date-time text; the engine takes the date from its start.
    struct Expect {
        std::string sentDate, sentTime, receiveTime, sender, address, recipientName,
            recipientAddress, body;
    };
    const std::vector<Expect> expected = {
        {"3/1/2026 9:30:00 AM", "9:30:00 AM", "10:00:00 AM", "Ann Smith", "ann@example.org",
         "Shop Orders", "orders@shop.example", "Hello,\r\nCode: A-11\r\nThanks\r\n"},
        {"3/2/2026 7:00:00 AM", "7:00:00 AM", "10:01:00 AM", "J\xc3\xbcrgen M\xc3\xbcller",
         "juergen@example.de", "orders@shop.example", "orders@shop.example",
         "Code: \xc3\x9c-12\r\n"},
        {"3/2/2026 11:00:00 AM", "11:00:00 AM", "10:02:00 AM", "Bob", "bob@example.net", "Shop",
         "orders@shop.example",
         "Code: B-13 Gr\xc3\xb6\xc3\x9f"
         "e\r\n"},
        // No Date: field: the sent values are never assigned and stay empty.
        {"", "", "10:03:00 AM", "Web Shop", "web@shop.example", "Orders", "orders@shop.example",
         "Code: H-14\r\nBye & thanks"},
        // No recipients: the recipient values stay empty, the others are filled.
        {"3/2/2026 12:00:00 PM", "12:00:00 PM", "10:04:00 AM", "Carol", "carol@example.com", "", "",
         "Code: N-15\r\n"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const txMessage& m = *messages[i];
        const Expect& e = expected[i];
        EXPECT_EQ(m.SentDate(), e.sentDate);
        EXPECT_EQ(m.SentTime(), e.sentTime);
        EXPECT_EQ(m.ReceiveDate(), "3/2/2026 " + e.receiveTime);
        EXPECT_EQ(m.ReceiveTime(), e.receiveTime);
        EXPECT_EQ(m.SenderName(), e.sender);
        EXPECT_EQ(m.SenderAddress(), e.address);
        EXPECT_EQ(m.SenderType(), "SMTP");
        EXPECT_EQ(m.ReceipentName(), e.recipientName);
        EXPECT_EQ(m.ReceipentAddress(), e.recipientAddress);
        EXPECT_EQ(m.Body(), e.body);
        // The header lines, up to the blank line, for the header fields of a template.
        EXPECT_TRUE(m.Header().starts_with("From: ")) << m.Header();
        EXPECT_TRUE(m.Header().ends_with("\n")) << m.Header();
        EXPECT_EQ(m.Header().find("\n\n"), std::string::npos) << m.Header();
    }
    // The junk file is handed over with no sender and what could be read, and noted.
    EXPECT_TRUE(messages[6]->SenderName().empty());
    EXPECT_NE(ErrorLog().find(std::string(maildir::kNoteNotAMessage)), std::string::npos);
    EXPECT_NE(ErrorLog().find(FixtureMessages()[6].file), std::string::npos);
    EXPECT_EQ(messages[7]->Body(), "Code: T-18\r\nThe rest is miss");
    source->Disconnect();
    EXPECT_THROW(col->Item(2), RunTimeError);
    EXPECT_THROW(col->Item("nokey"), RunTimeError);
}

TEST_F(MapiSources, AttachmentsGetSafeDistinctNamesInTheScratchDirectory) {
    Settings().mapiProfile = maildir;
    auto check = [&](const std::shared_ptr<txMessage>& m) {
        ASSERT_EQ(m->Attachments()->Count(), 4);
        const std::vector<std::pair<std::string, std::string>> files = {
            {"$$codes.txt", "first: F-1"},
            {"$$\xc3\xbc"
             "bersicht refs.txt",
             "ref: R-2231\n"},
            {"$$codes-2.txt", "dup: D-2"},
            {"$$evil.txt", "evil: E-1"},
        };
        for (std::int32_t i = 1; i <= 4; ++i) {
            const std::string path = m->Attachments()->Item(i);
            EXPECT_EQ(path, ScratchFile(files[i - 1].first));
            EXPECT_EQ(ReadFileBytes(path), files[i - 1].second);
        }
    };
    clsMapi mapi;
    mapi.Connect();
    ASSERT_TRUE(mapi.IsConnected());
    check(Walk(mapi)[5]);
    for (const auto& e : fs::directory_iterator(ScratchDir())) fs::remove(e.path());

    clsSimpleMapi simple;
    simple.Connect();
    ASSERT_TRUE(simple.IsConnected());
    check(Walk(simple)[5]);
}

TEST_F(MapiSources, SimpleMapiReadsTheDefaultStoreWithReceiveDatesEverywhere) {
    Settings().mapiProfile =
        "/nowhere";  // Simple MAPI reads the default store whatever the profile
    std::unique_ptr<colSimpleMapi> col = NewColSimpleMapi();
    clsSimpleMapi* source = col->Add();
    EXPECT_EQ(source->ID(), "Mapi System");
    source->Connect();
    ASSERT_TRUE(source->IsConnected());
    EXPECT_EQ(source->TotalMessages(), 9);
    const auto messages = Walk(*source);
    EXPECT_EQ(Subjects(messages), FixtureSubjects());
    EXPECT_EQ(messages[0]->SentDate(), "3/2/2026 10:00:00 AM");
    EXPECT_EQ(messages[0]->SentTime(), "10:00:00 AM");
    EXPECT_EQ(messages[4]->ReceipentName(), "");
    EXPECT_EQ(messages[3]->Body(), "Code: H-14\r\nBye & thanks");
    EXPECT_EQ(FilesLeft(), 9u);
    EXPECT_THROW(col->Item(2), RunTimeError);
}

TEST_F(MapiSources, DeletingWhileWalkingVisitsEachMessageOnce) {
    {
        clsSimpleMapi simple;
        simple.Connect();
        EXPECT_EQ(Subjects(Walk(simple, true)), FixtureSubjects());
        EXPECT_FALSE(simple.MessagePresent());
        EXPECT_EQ(FilesLeft(), 0u);
        simple.Disconnect();
    }
    testing::WriteMaildirFixture(maildir);
    clsMapi mapi;
    mapi.Connect();
    EXPECT_EQ(Subjects(Walk(mapi, true)), FixtureSubjects());
    EXPECT_EQ(FilesLeft(), 0u);
    EXPECT_TRUE(fs::exists(maildir + "/cur/.hidden"));
    EXPECT_EQ(ErrorLog().find("DoDeleteMessage"), std::string::npos);
}

TEST_F(MapiSources, DeletingEveryOtherMessageWithSimpleMapi) {
    clsSimpleMapi simple;
    simple.Connect();
    std::vector<std::string> seen;
    simple.GetFirstMsg();
    for (int i = 0; simple.Message() && i < 100; ++i) {
        seen.push_back(simple.Message()->Subject());
        if (i % 2 == 0) simple.DoDeleteMessage();
        simple.GetNextMsg();
    }
    EXPECT_EQ(seen, FixtureSubjects());
    EXPECT_EQ(FilesLeft(), 4u);
}

TEST_F(MapiSources, FilesThatVanishDuringTheWalkArePassedOver) {
    for (int kind = 0; kind < 2; ++kind) {
        SCOPED_TRACE(kind);
        testing::WriteMaildirFixture(maildir);
        std::unique_ptr<MailSource> source;
        if (kind == 0)
            source = std::make_unique<clsMapi>();
        else
            source = std::make_unique<clsSimpleMapi>();
        source->Connect();
        ASSERT_EQ(source->TotalMessages(), 9);
        source->GetFirstMsg();
        // Another mail program moves the second and the last message away.
        fs::remove(maildir + "/" + FixtureMessages()[1].file);
        fs::remove(maildir + "/" + FixtureMessages()[8].file);
        std::vector<std::string> seen;
        while (source->Message() && seen.size() < 100) {
            seen.push_back(source->Message()->Subject());
            source->GetNextMsg();
        }
        std::vector<std::string> expected = FixtureSubjects();
        expected.erase(expected.begin() + 8);
        expected.erase(expected.begin() + 1);
        EXPECT_EQ(seen, expected);
        source->Disconnect();
    }
}

TEST_F(MapiSources, WhichStoreALogonOpens) {
    testing::TempDir other;
    const std::string second = other.File("Second");
    testing::WriteMaildirFixture(second);
    fs::remove(second + "/" + FixtureMessages()[0].file);
    ::mkdir(other.File("plain").c_str(), 0700);
    struct Case {
        std::string profile, maildirEnv;
        bool connects;
        int total;
    };
    const std::vector<Case> cases = {
        {"", maildir, true, 9},                    // empty profile: $MAILDIR
        {second, maildir, true, 8},                // the profile names the store
        {other.File("plain"), maildir, false, 0},  // a directory that is not a Maildir
        {other.File("missing"), maildir, false, 0},
        {"Second", maildir, false, 0},  // not a full path
        {"", "", false, 0},             // no $MAILDIR: ~/Maildir, which is not there
    };
    ScopedEnv home("HOME", other.File("home"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile + " | " + c.maildirEnv);
        ScopedEnv md("MAILDIR", c.maildirEnv);
        Settings().mapiProfile = c.profile;
        clsMapi mapi;
        mapi.Connect();
        EXPECT_EQ(mapi.IsConnected(), c.connects);
        EXPECT_EQ(mapi.TotalMessages(), c.total);
        EXPECT_EQ(mapi.ProfileName(), c.profile);
    }
    // A logon that fails is not reported by the source; the engine says it could not connect.
    EXPECT_EQ(ErrorLog(), "");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MapiSources, EmptyStoreConnectsWithNoMessages) {
    const std::string empty = dir.File("Empty");
    for (const char* d : {"", "/cur", "/new"}) ::mkdir((empty + d).c_str(), 0700);
    ScopedEnv md("MAILDIR", empty);
    clsSimpleMapi simple;
    simple.Connect();
    EXPECT_TRUE(simple.IsConnected());
    EXPECT_EQ(simple.TotalMessages(), 0);
    clsMapi mapi;
    mapi.Connect();
    EXPECT_TRUE(mapi.IsConnected());
    EXPECT_EQ(mapi.TotalMessages(), 0);
    mapi.GetFirstMsg();
    EXPECT_EQ(mapi.Message(), nullptr);
}

TEST_F(MapiSources, InboxThatIsGoneIsReported) {
    clsMapi mapi;
    mapi.Connect();
    ASSERT_TRUE(mapi.IsConnected());
    fs::remove_all(maildir + "/new");
    mapi.SetActiveFolder();
    EXPECT_EQ(mapi.ActiveFolder(), nullptr);
    EXPECT_NE(ErrorLog().find("Failed to open Inbox"), std::string::npos);
}

TEST_F(MapiSources, DeleteFailuresAreReportedAndTheWalkGoesOn) {
    clsMapi mapi;
    mapi.Connect();
    mapi.GetFirstMsg();
    fs::remove(maildir + "/" + FixtureMessages()[0].file);
    mapi.DoDeleteMessage();
    EXPECT_NE(ErrorLog().find("clsMapi - DoDeleteMessage"), std::string::npos);
    // The reason names the file that could not be removed.
    EXPECT_NE(ErrorLog().find("Error# 53  No such file or directory: " + maildir + "/" +
                              FixtureMessages()[0].file),
              std::string::npos)
        << ErrorLog();
    mapi.GetNextMsg();
    ASSERT_NE(mapi.Message(), nullptr);
    EXPECT_EQ(mapi.Message()->Subject(), FixtureSubjects()[1]);

    clsSimpleMapi simple;
    simple.Connect();
    simple.GetFirstMsg();  // the second message is the first now
    fs::remove(maildir + "/" + FixtureMessages()[1].file);
    simple.DoDeleteMessage();
    EXPECT_NE(ErrorLog().find("clsSimpleMapi - DoDeleteMessage"), std::string::npos);
    EXPECT_TRUE(simple.MessagePresent());
}

TEST_F(MapiSources, MissingControlsLeaveSimpleMapiUnconnected) {
    smapi::MapiSessionControl session;
    smapi::MapiMessagesControl messages;
    clsSimpleMapi simple;
    EXPECT_FALSE(simple.SetControls(&session, nullptr));
    simple.UseControls(&session, nullptr);
    simple.Connect();
    EXPECT_FALSE(simple.IsConnected());
    simple.UseControls(&session, &messages);
    simple.Connect();
    EXPECT_TRUE(simple.IsConnected());
    EXPECT_GT(session.SessionID(), 0);
    EXPECT_EQ(messages.SessionID(), session.SessionID());
    simple.Disconnect();
    EXPECT_EQ(session.SessionID(), 0);
    EXPECT_THROW(messages.Fetch(), RunTimeError);  // the session has been signed off
}

TEST(CompuServeAddress, RewritesOnlyCompuServeUserNumbers) {
    struct Case {
        std::string address, type, expected;
    };
    const std::vector<Case> cases = {
        {"[71234,567]", "COMPUSERVE", "71234.567@compuserve.com"},
        {"71234,567", "CompuServe", "71234.567@compuserve.com"},
        {"Name [71234,567]", "compuserve", "71234.567@compuserve.com"},
        {"[71234.567]", "COMPUSERVE", "[71234.567]"},  // no comma: unchanged
        {"[71234,567]", "SMTP", "[71234,567]"},
        {"ann@example.org", "", "ann@example.org"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompuServeAddress(c.address, c.type), c.expected) << c.address;
}

}  // namespace
}  // namespace tallix::sources
