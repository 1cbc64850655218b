#include "sources/mailbox_kind.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/settings_store.h"
#include "tests/support/test_env.h"

namespace tallix::sources {
namespace {

namespace fs = std::filesystem;
using tallix::testing::WriteFileBytes;

std::string Data(const std::string& name) {
    const char* dir = std::getenv("TALLIX_TEST_DATA");
    return std::string(dir && *dir ? dir : TALLIX_TEST_DATA_DIR) + "/" + name;
}

// The kind each sample file is, by its first line, and the setting that reads it.
TEST(MailboxKind, FilesAreKnownByTheirFirstLine) {
    struct Case {
        std::string file;
        MailboxKind kind;
        std::string_view useSource;
    };
    const Case cases[] = {
        {"e2e/netscape.mbox", MailboxKind::Netscape, kSourceNetscape},
        {"e2e/leading.mbox", MailboxKind::Netscape, kSourceNetscape},
        {"sources/thunderbird_lf.mbox", MailboxKind::Netscape, kSourceNetscape},
        {"e2e/eudora.mbx", MailboxKind::Eudora, kSourceEudora},
        {"sources/standard.mbox", MailboxKind::Mbox, kSourceFileOther},
        {"sources/lone_message.eml", MailboxKind::SingleMessage, ""},
    };
    for (const Case& c : cases) {
        const MailboxGuess guess = RecogniseMailbox(Data(c.file));
        EXPECT_EQ(guess.kind, c.kind) << c.file;
        EXPECT_EQ(guess.useSource, c.useSource) << c.file;
    }

    testing::TempDir dir;
    WriteFileBytes(dir.File("empty"), "");
    EXPECT_EQ(RecogniseMailbox(dir.File("empty")).kind, MailboxKind::Empty);
    // "From " without a date after the sender is text, not a separator line.
    WriteFileBytes(dir.File("text"), "From the desk of Ann\n\nHello\n");
    EXPECT_EQ(RecogniseMailbox(dir.File("text")).kind, MailboxKind::Unknown);
    const MailboxGuess missing = RecogniseMailbox(dir.File("gone"));
    EXPECT_EQ(missing.kind, MailboxKind::Missing);
    EXPECT_EQ(missing.reason, "No such file or directory");
    EXPECT_EQ(RecogniseMailbox("").kind, MailboxKind::Missing);
}

TEST(MailboxKind, FoldersAreKnownByWhatTheyHold) {
    testing::TempDir dir;
    fs::create_directories(dir.File("maildir/cur"));
    fs::create_directories(dir.File("maildir/new"));
    EXPECT_EQ(RecogniseMailbox(dir.File("maildir")).kind, MailboxKind::Maildir);

    fs::create_directories(dir.File("plain"));
    EXPECT_EQ(RecogniseMailbox(dir.File("plain")).kind, MailboxKind::Folder);

    // A profile with only an IMAP account: that account's inbox is offered.
    const std::string imap = dir.File("tb/abc.default/ImapMail/imap.example.org");
    fs::create_directories(imap);
    WriteFileBytes(imap + "/INBOX", "From - Mon Mar  2 09:00:00 2026\n");
    WriteFileBytes(dir.File("tb/abc.default/prefs.js"), "");
    MailboxGuess profile = RecogniseMailbox(dir.File("tb/abc.default"));
    EXPECT_EQ(profile.kind, MailboxKind::ThunderbirdProfile);
    EXPECT_EQ(profile.useSource, kSourceNetscape);
    EXPECT_EQ(profile.mailFile, imap + "/INBOX");

    // The local Inbox comes first; the folder of profiles (profiles.ini) leads to its profile.
    const std::string local = dir.File("tb/abc.default/Mail/Local Folders");
    fs::create_directories(local);
    WriteFileBytes(local + "/Inbox", "");
    WriteFileBytes(dir.File("tb/profiles.ini"), "[Profile0]\n");
    profile = RecogniseMailbox(dir.File("tb"));
    EXPECT_EQ(profile.kind, MailboxKind::ThunderbirdProfile);
    EXPECT_EQ(profile.mailFile, local + "/Inbox");
}

TEST(MailboxKind, AdviceOnlyWhenTheKindDiffersFromTheSetting) {
    const MailboxGuess mbox = RecogniseMailbox(Data("sources/standard.mbox"));
    EXPECT_EQ(MailboxKindAdvice(mbox, kSourceFileOther), "");
    EXPECT_EQ(MailboxKindAdvice(mbox, kSourceNetscape),
              "It looks like a standard mbox file: choose the format \"Other - RFC 822 "
              "Compliant File\" for the local file in the system options.");
    const MailboxGuess eudora = RecogniseMailbox(Data("e2e/eudora.mbx"));
    EXPECT_NE(MailboxKindAdvice(eudora, kSourceNetscape).find("\"Eurdora\""), std::string::npos);
    EXPECT_EQ(MailboxKindAdvice(eudora, kSourceEudora), "");
    // A single message fits no mailbox setting; a file of no known kind gets no guess.
    EXPECT_EQ(
        MailboxKindAdvice(RecogniseMailbox(Data("sources/lone_message.eml")), kSourceNetscape),
        "It looks like a single message, not a mailbox file.");
    testing::TempDir dir;
    WriteFileBytes(dir.File("text"), "hello\n");
    EXPECT_EQ(MailboxKindAdvice(RecogniseMailbox(dir.File("text")), kSourceNetscape), "");
    EXPECT_EQ(MailboxKindAdvice(RecogniseMailbox(dir.File("gone")), kSourceNetscape), "");
}

}  // namespace
}  // namespace tallix::sources
