#include "model/message.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "tests/model/model_test_support.h"

namespace tallix {
namespace {

using namespace std::string_literals;
using testing::TempDir;
using testing::WriteFileBytes;

class Message : public testing::ModelTest {
  protected:
    void WriteExtensions(const std::string& text) {
        WriteFileBytes(env.ProgramDir() + "/extensions.txt", text);
    }
};

TEST_F(Message, NewRecordIsEmptyAndValid) {
    txMessage m;
    EXPECT_TRUE(m.ValidMessage());
    EXPECT_FALSE(m.bIsHtml());
    ASSERT_NE(m.Attachments(), nullptr);
    EXPECT_EQ(m.Attachments()->Count(), 0);
    EXPECT_EQ(m.Subject() + m.Body() + m.Header() + m.SentDate() + m.SentTime() + m.SenderName() +
                  m.ReceipentAddress(),
              "");
}

TEST_F(Message, DatesAndTimesAreNormalised) {
    txMessage m;
    m.SetSentDate("Jan 08, 1999 12:34:56");
    EXPECT_EQ(m.SentDate(), "1/8/1999 12:34:56 PM");
    m.SetReceiveDate("08 Jan 1999");
    EXPECT_EQ(m.ReceiveDate(), "1/8/1999");
    m.SetReceiveDate("not a date");
    EXPECT_EQ(m.ReceiveDate(), "not a date");

    struct Case {
        const char* in;
        const char* out;
    } times[] = {{"13:05", "1:05:00 PM"},  {"1:05 PM", "1:05:00 PM"},
                 {"00:00", "12:00:00 AM"}, {"1/8/1999 12:34:56", "12:34:56 PM"},
                 {"", "00:00:00 AM"},      {"half past", "00:00:00 AM"},
                 {"24:00", "00:00:00 AM"}};
    for (const Case& c : times) {
        SCOPED_TRACE(c.in);
        m.SetSentTime(c.in);
        m.SetReceiveTime(c.in);
        EXPECT_EQ(m.SentTime(), c.out);
        EXPECT_EQ(m.ReceiveTime(), c.out);
    }
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(Message, BodyIsCleanedOnEveryAssignment) {
    txMessage m;
    m.SetBody("<p>Total:&nbsp;5</p>");
    EXPECT_EQ(m.Body(), "Total: ;5");
    m.SetBody("plain <b>text");
    EXPECT_EQ(m.Body(), "plain text");
}

struct HeaderCase {
    const char* name;
    std::string header;
    std::string sender;  // name|address
    std::string replyTo;
    std::string recipient;
    bool valid;
};

TEST_F(Message, ParseHeaderFindsThePairs) {
    const HeaderCase cases[] = {
        {"empty", "", "|", "|", "|", false},
        {"blanks", "    ", "|", "|", "|", false},
        {"quoted name with comma, no reply-to",
         "Subject: x\r\nFrom: \"Smith, John\" <john@x.com>\r\nTo: a@b.c\r\n",
         "Smith, John|john@x.com", "Smith, John|john@x.com", "a@b.c|a@b.c", true},
        {"reply-to of only an angle address",
         "From: Ann <ann@x>\r\nReply-To: <r@x>\r\nTo: Bob <bob@y>\r\n", "Ann|ann@x", "|r@x",
         "Bob|bob@y", true},
        {"To at the start", "To: first@x\r\nFrom: a@b\r\n", "a@b|a@b", "a@b|a@b", "first@x|first@x",
         true},
        {"lower-case from", "from: a@b\r\nTo: c@d\r\n", "|", "|", "c@d|c@d", true},
        {"lower-case from with reply-to", "from: a@b\r\nReply-To: r@x\r\n", "|", "r@x|r@x", "|",
         true},
        {"apostrophe in a surname", "From: \"Peter O'Brien\" <p@x>\r\n", "Peter OBrien|p@x",
         "Peter OBrien|p@x", "|", true},
        {"resent-from comes first", "Resent-From: r@x\r\nFrom: a@b\r\n", "r@x|r@x", "r@x|r@x", "|",
         true},
        {"delivered-to comes first", "Delivered-To: d@x\r\nTo: t@x\r\n", "|", "|", "d@x|d@x", true},
        {"one retry only", "Reply-To: r@x\r\nReply-To: s@x\r\nTo: t@x\r\n", "|", "r@x|r@x",
         "s@x|s@x", true},
        {"look-back in any case", "reply-To: r@x\r\nTo: t@x\r\nFrom: f@x\r\n", "f@x|f@x", "f@x|f@x",
         "t@x|t@x", true},
        {"short name before To", "X-To: a@b\r\n", "|", "|", "a@b|a@b", true},
        {"angle without close", "From: John <john@x\r\n", "John <john@x|John <john@x",
         "John <john@x|John <john@x", "|", true},
        {"folded lines are joined", "From: Ann\r\n <ann@x>\r\nTo: a@b,\r\n\tc@d\r\nX: y\r\n",
         "Ann|ann@x", "Ann|ann@x", "a@b,\tc@d|a@b,\tc@d", true},
        {"reply-to without CR LF keeps the sender", "From: a@b\r\nReply-To: r@x", "a@b|a@b", "|",
         "|", false},
        {"sender without CR LF", "From: a@b", "|", "|", "|", false},
        {"recipient without CR LF", "From: a@b\r\nTo: t@x", "a@b|a@b", "a@b|a@b", "|", false},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetSilentMode(false);
        txMessage m;
        m.SetHeader(c.header);
        m.ParseHeader();
        EXPECT_TRUE(SilentMode());
        EXPECT_EQ(m.SenderName() + "|" + m.SenderAddress(), c.sender);
        EXPECT_EQ(m.ReplyToName() + "|" + m.ReplyToAddress(), c.replyTo);
        EXPECT_EQ(m.ReceipentName() + "|" + m.ReceipentAddress(), c.recipient);
        EXPECT_EQ(m.ValidMessage(), c.valid);
    }
    // Only the failures that are errors are reported; an empty header is not one.
    EXPECT_TRUE(Logged("txMessage - ParseHeader"));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Message, ParseHeaderNeverMakesARecordValidAgain) {
    txMessage m;
    m.SetValidMessage(false);
    m.SetHeader("From: a@b\r\n");
    m.ParseHeader();
    EXPECT_FALSE(m.ValidMessage());
    EXPECT_EQ(m.SenderAddress(), "a@b");
}

TEST_F(Message, SetSenderPropSplitsAndStoresByType) {
    txMessage m;
    m.SetSenderProp("  \"Ann\"   <ann@x>  ", "SENDER");
    EXPECT_EQ(m.SenderName() + "|" + m.SenderAddress(), "Ann|ann@x");
    m.SetSenderProp("<only@x>", "RECEIPENT");
    EXPECT_EQ(m.ReceipentName() + "|" + m.ReceipentAddress(), "|only@x");
    m.SetSenderProp("x@y", "sender");  // the type compares in exact case
    m.SetSenderProp("x@y", "RECIPIENT");
    m.SetSenderProp("   ", "SENDER");
    EXPECT_EQ(m.SenderName() + "|" + m.SenderAddress(), "Ann|ann@x");
    EXPECT_EQ(m.ReceipentAddress(), "only@x");
    EXPECT_EQ(m.RemoveQuotes("\"O'Neil\" 'x'"), "ONeil x");
    EXPECT_EQ(m.RemoveQuotes("   "), "   ");
}

TEST_F(Message, ExtOKWithoutAListAcceptsEverything) {
    txMessage m;
    for (const char* name : {"a.exe", "a", "/x/y.doc", ""}) EXPECT_TRUE(m.ExtOK(name)) << name;
}

TEST_F(Message, ExtOKTestsTheUpperCasedExtensionAgainstTheList) {
    WriteExtensions("exe\r\nDoc\r\ntar.gz\r\n");
    txMessage m;
    struct Case {
        const char* name;
        bool ok;
    } cases[] = {{"/s/run.exe", false},
                 {"/s/RUN.EXE", false},
                 {"/s/run.Exe", false},
                 {"/s/noext", true},
                 {"/s/letter.doc", false},
                 {"/s/a.do", false},
                 {"/s/a.c", false},
                 {"/s/a.txt", true},
                 {"/s/a.tar.gz", false},
                 {"/s/a.b.exe", true},
                 {"/s/a.gz", false},
                 // The extension belongs to the file's own name, not to a dotted directory.
                 {"/home/u/.cache/tallix/run", true},
                 {"/home/u/.exe/report.txt", true},
                 {"/home/u/.cache/a.exe", false},
                 // A name ending in a dot has no extension to look up.
                 {"/s/name.", true}};
    for (const Case& c : cases) EXPECT_EQ(m.ExtOK(c.name), c.ok) << c.name;
}

// The list shipped with the program keeps the bytes of common binary attachments out of
// output lines, and, as the list is searched for the extension as a substring, no text type
// may be contained in any of its entries.
// PDFs and spreadsheets are read as the text they show, so the shipped list lets them through.
TEST_F(Message, ShippedListExcludesBinaryTypesAndNoTextType) {
    WriteExtensions(testing::ReadFileBytes(TALLIX_SHIPPED_EXTENSIONS));
    txMessage m;
    const char* binary[] = {"gif",    "jpg",     "jpeg",   "png", "bmp",  "tif", "tiff", "ico",
                            "webp",   "mp3",     "wav",    "ogg", "flac", "m4a", "avi",  "mpg",
                            "mp4",    "mov",     "mkv",    "zip", "rar",  "7z",  "gz",   "tgz",
                            "tar.gz", "tar.bz2", "tar.xz", "bz2", "iso",  "exe", "dll",  "msi",
                            "jar",    "doc",     "docx",   "ppt", "pptx", "odt", "p7s",  "ttf"};
    const char* text[] = {"txt",  "text", "csv",  "tsv",  "tab", "htm",  "html",       "xhtml",
                          "xml",  "eml",  "mbox", "mbx",  "ics", "vcs",  "vcf",        "log",
                          "json", "md",   "rtf",  "ini",  "cfg", "conf", "yaml",       "yml",
                          "asc",  "sql",  "txf",  "prn",  "css", "js",   "report.txt", "2024.csv",
                          "pdf",  "xls",  "xlsx", "xlsm", "ods"};
    for (const char* ext : binary) {
        EXPECT_FALSE(m.ExtOK("/s/attachment." + std::string(ext))) << ext;
        EXPECT_FALSE(m.ExtOK("/s/ATTACHMENT." + UCase(ext))) << ext;
    }
    for (const char* ext : text) {
        EXPECT_TRUE(m.ExtOK("/s/attachment." + std::string(ext))) << ext;
        EXPECT_TRUE(m.ExtOK("/s/ATTACHMENT." + UCase(ext))) << ext;
    }
}

TEST_F(Message, UnreadableListExcludesAndIsReported) {
    std::filesystem::create_directory(env.ProgramDir() + "/extensions.txt");
    txMessage m;
    m.SetbIsHtml(true);
    EXPECT_FALSE(m.ExtOK("/s/a.txt"));
    EXPECT_EQ(m.GetAttachString("/s/a.txt"), "");
    EXPECT_TRUE(m.bIsHtml());
    EXPECT_TRUE(Logged("txMessage - ExtOK"));
    EXPECT_TRUE(m.ExtOK("/s/noext"));
}

class MessageAttachments : public Message {
  protected:
    void SetUp() override {
        // The marker must come from the test's own folder names only.
        while (UCase(dir->path()).find("HTM") != std::string::npos)
            dir = std::make_unique<TempDir>();
    }
    std::string Make(const std::string& relative, const std::string& bytes) {
        std::string path = dir->path() + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteFileBytes(path, bytes);
        return path;
    }
    std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
};

TEST_F(MessageAttachments, ReadsWholeFilesAndMarksHtmlPaths) {
    txMessage m;
    const std::string binary = "a\0b\r\n\xff"s + std::string(70000, 'z');
    EXPECT_EQ(m.GetAttachString(Make("data.bin", binary)), binary);
    EXPECT_FALSE(m.bIsHtml());
    EXPECT_EQ(m.GetAttachString(Make("page.htm", "<b>x</b>")), "<b>x</b>");
    EXPECT_TRUE(m.bIsHtml());
    EXPECT_EQ(m.GetAttachString(Make("Page.HTML", "y")), "y");
    EXPECT_TRUE(m.bIsHtml());
    EXPECT_EQ(m.GetAttachString(Make("xhtmdir/notes.txt", "plain")), "plain");
    EXPECT_TRUE(m.bIsHtml());
    EXPECT_EQ(m.GetAttachString(Make("notes.txt", "plain")), "plain");
    EXPECT_FALSE(m.bIsHtml());
}

TEST_F(MessageAttachments, EmptyForBlankMissingOrNonFiles) {
    txMessage m;
    m.SetbIsHtml(true);
    EXPECT_EQ(m.GetAttachString("   "), "");
    EXPECT_FALSE(m.bIsHtml());
    m.SetbIsHtml(true);
    EXPECT_EQ(m.GetAttachString(dir->path() + "/missing.htm"), "");
    EXPECT_FALSE(m.bIsHtml());
    EXPECT_EQ(m.GetAttachString(dir->path()), "");
    const std::string fifo = dir->path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(m.GetAttachString(fifo), "");  // never blocks
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(MessageAttachments, ExcludedFileIsNotReadAndKeepsTheHtmlMark) {
    WriteExtensions("EXE");
    txMessage m;
    m.SetbIsHtml(true);
    EXPECT_EQ(m.GetAttachString(Make("tool.exe", "MZ")), "");
    EXPECT_TRUE(m.bIsHtml());
    EXPECT_EQ(m.GetAttachString(Make("tool", "MZ")), "MZ");
    EXPECT_FALSE(m.bIsHtml());
}

}  // namespace
}  // namespace tallix
