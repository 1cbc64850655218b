#include "model/profile_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/file_bytes.h"
#include "tests/support/test_env.h"

namespace tallix::profile {
namespace {

using namespace std::string_literals;
using tallix::testing::ReadFileBytes;
using tallix::testing::TempDir;
using tallix::testing::WriteFileBytes;

// One WritePrivateProfileString call: no key removes the section, no value removes the key.
struct Write {
    std::string section;
    std::optional<std::string> key;
    std::optional<std::string> value;
};

// Runs the writes against `start` (nullopt: no file) and returns the file's bytes afterwards,
// or nullopt when no file is left.
std::optional<std::string> AfterWrites(const std::optional<std::string>& start,
                                       const std::vector<Write>& writes) {
    TempDir dir;
    const std::string path = dir.File("test.ini");
    if (start) WriteFileBytes(path, *start);
    for (const Write& w : writes) {
        std::optional<std::string_view> key, value;
        if (w.key) key = *w.key;
        if (w.value) value = *w.value;
        ProfileStatus status = WritePrivateProfileString(w.section, key, value, path);
        EXPECT_TRUE(status.ok()) << "errno " << status.error;
    }
    if (!std::filesystem::exists(path)) return std::nullopt;
    return ReadFileBytes(path);
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

mode_t FileMode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

const std::string kF1 =
    "[section1]\r\nname1=val1\r\nname2=\"val2\"\r\nname3\r\nname4=a\r\n[section2]\r\n";

// ---- Reading --------------------------------------------------------------------------------

TEST(ProfileRead, LookupsGiveValueOrDefaultWithAnyLineEnd) {
    std::string lf = kF1, cr = kF1;
    for (std::size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.replace(p, 2, "\n");
    for (std::size_t p; (p = cr.find("\r\n")) != std::string::npos;) cr.replace(p, 2, "\r");
    for (const std::string& bytes : {kF1, lf, cr}) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        ProfileDocument doc = ProfileDocument::FromBytes(bytes);
        EXPECT_EQ(doc.Get("section1", "name1", "default", 260), "val1");
        EXPECT_EQ(doc.Get("section1", "NaMe1", "default", 260), "val1");
        EXPECT_EQ(doc.Get("SECTION1", "name4", "default", 260), "a");
        EXPECT_EQ(doc.Get("section1", "name2", "default", 260), "val2");
        EXPECT_EQ(doc.Get("section1", "notakey", "default", 260), "default");
        EXPECT_EQ(doc.Get("notasection", "name1", "default", 260), "default");
        EXPECT_EQ(doc.Get("section2", "DoesntExist", "", 260), "");
        // A line without "=" is not a key.
        EXPECT_EQ(doc.Get("section1", "name3", "default", 260), "default");
        EXPECT_EQ(doc.Find("section1", "name3"), std::nullopt);
        EXPECT_EQ(doc.Find("section1", "name2"), "val2");
        EXPECT_EQ(doc.KeyNames("section1"), (std::vector<std::string>{"name1", "name2", "name4"}));
        EXPECT_EQ(doc.KeyNames("Section2"), std::vector<std::string>{});
        EXPECT_EQ(doc.KeyNames("notasection"), std::vector<std::string>{});
        EXPECT_EQ(doc.SectionNames(), (std::vector<std::string>{"section1", "section2"}));
    }
}

TEST(ProfileRead, BufferSizeCutsValueAndDefault) {
    ProfileDocument doc = ProfileDocument::FromBytes(kF1);
    EXPECT_EQ(doc.Get("section1", "name1", "default", 5), "val1");
    EXPECT_EQ(doc.Get("section1", "name1", "default", 4), "val");
    EXPECT_EQ(doc.Get("section1", "name4", "default", 1), "");
    EXPECT_EQ(doc.Get("section1", "name1", "default", kNoLimit), "val1");
    EXPECT_EQ(doc.Get("section1", "missing", "default", 4), "def");
    EXPECT_EQ(doc.Get("section1", "missing", "default  ", 8), "default");
}

TEST(ProfileRead, DefaultLosesOnlyTrailingSpaces) {
    ProfileDocument doc = ProfileDocument::FromBytes(kF1);
    EXPECT_EQ(doc.Get("", "name1", "default  ", 260), "default");
    EXPECT_EQ(doc.Get("", "name1", "one two  ", 260), "one two");
    EXPECT_EQ(doc.Get("", "name1", "", 260), "");
    EXPECT_EQ(doc.Get("section1", "missing", "   default   "), "   default");
    EXPECT_EQ(doc.Get("section1", "missing", "\tdefault\t"), "\tdefault\t");
}

TEST(ProfileRead, ValueBlanksAndOneOuterQuotePair) {
    struct Case {
        std::string line;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"K=  \"   TestValue   \"  ", "   TestValue   "},
        {"K=  '   TestValue   '  ", "   TestValue   "},
        {"K=  \"   TestValue   '  ", "\"   TestValue   '"},
        {"K=  '\"   TestValue   \"'  ", "\"   TestValue   \""},
        {"K=  '\"   TestValue   '\"  ", "'\"   TestValue   '\""},
        {"K=''string''", "'string'"},
        {"K=\tTestValue\t", "TestValue"},
        {"K= TestValue ", "TestValue"},
        {"K=\vTestValue\v", "TestValue"},
        {"\tK\t=TestValue", "TestValue"},
        {"K=;nocomment", ";nocomment"},
        {"K=v ;x", "v ;x"},
        {"K=a=b#c", "a=b#c"},
        {"K=\"\"", ""},
        {"K=\"", "\""},
        {"K=", ""},
    };
    for (const Case& c : cases) {
        ProfileDocument doc = ProfileDocument::FromBytes("[S]\r\n" + c.line + "\r\n");
        EXPECT_EQ(doc.Get("S", "K", "dflt"), c.expected) << c.line;
    }
    ProfileDocument doc = ProfileDocument::FromBytes("[S]\r\na;b=v\r\n#K=hash\r\n");
    EXPECT_EQ(doc.Find("S", "a;b"), "v");
    EXPECT_EQ(doc.Find("S", "#K"), "hash");
}

TEST(ProfileRead, CommentLinesAreNeverKeys) {
    for (const std::string line : {";K=TestValue", " ;K=TestValue", "\t;K=TestValue"}) {
        ProfileDocument doc = ProfileDocument::FromBytes("[S]\r\n" + line + "\r\n");
        EXPECT_EQ(doc.Get("S", "K", "dflt"), "dflt") << line;
        EXPECT_EQ(doc.Get("S", ";K", "dflt"), "dflt") << line;
        EXPECT_EQ(doc.KeyNames("S"), std::vector<std::string>{}) << line;
    }
}

TEST(ProfileRead, SectionHeaders) {
    auto read = [](const std::string& bytes, std::string_view section) {
        return ProfileDocument::FromBytes(bytes).Get(section, "K", "dflt");
    };
    // Text after the closing bracket is ignored, not a key.
    EXPECT_EQ(read("[S]K=TestValue\r\n", "S"), "dflt");
    // Lines before the first header belong to no section.
    EXPECT_EQ(read("K=TestValue\r\n[S]\r\nK2=V2\r\n", ""), "dflt");
    EXPECT_EQ(read("K=TestValue\r\n[S]\r\nK2=V2\r\n", " "), "dflt");
    EXPECT_EQ(read("[S   \r\nK=TestValue\r\n", "S"), "TestValue");
    EXPECT_EQ(read("S]\r\nK=TestValue\r\n", "S"), "dflt");
    EXPECT_EQ(read("[ x ]\r\nK=TestValue\r\n", "x"), "TestValue");
    EXPECT_EQ(read("  \t[x]\r\nK=TestValue\r\n", "X"), "TestValue");
    EXPECT_EQ(read("[]\r\nK=TestValue\r\n", ""), "TestValue");
    EXPECT_EQ(read("[a]b]\r\nK=TestValue\r\n", "a"), "TestValue");
    EXPECT_EQ(read("[\"q\"]\r\nK=TestValue\r\n", "\"q\""), "TestValue");
    EXPECT_EQ(read("[\"q\"]\r\nK=TestValue\r\n", "q"), "dflt");
    // A UTF-8 byte order mark is not understood, so it hides a header on the first line.
    EXPECT_EQ(read("\xEF\xBB\xBF[S]\r\nK=TestValue\r\n", "S"), "dflt");
    EXPECT_EQ(ProfileDocument::FromBytes("[ a ]\r\n[b\r\n[]\r\nx]\r\n").SectionNames(),
              (std::vector<std::string>{"a", "b", ""}));
}

TEST(ProfileRead, FirstDuplicateWins) {
    ProfileDocument keys = ProfileDocument::FromBytes("[S]\r\nK=TestValue\r\nk=TestValue2");
    EXPECT_EQ(keys.Get("S", "K", "dflt"), "TestValue");
    EXPECT_EQ(keys.KeyNames("S"), (std::vector<std::string>{"K", "k"}));

    ProfileDocument sections = ProfileDocument::FromBytes("[S]\r\n[S]\r\nK=TestValue");
    EXPECT_EQ(sections.Get("S", "K", "dflt"), "dflt");
    EXPECT_EQ(sections.KeyNames("S"), std::vector<std::string>{});
    EXPECT_EQ(sections.SectionNames(), (std::vector<std::string>{"S", "S"}));
}

TEST(ProfileRead, ArgumentsLoseOnlyOuterSpaces) {
    ProfileDocument doc = ProfileDocument::FromBytes("[SectionName]\r\nTestKey=TestValue\r\n");
    EXPECT_EQ(doc.Get(" SectionName ", "TestKey", "dflt"), "TestValue");
    EXPECT_EQ(doc.Get("SectionName", "  TestKey ", "dflt"), "TestValue");
    EXPECT_EQ(doc.Get("\tSectionName", "TestKey", "dflt"), "dflt");
    EXPECT_EQ(doc.Get("SectionName", "TestKey\t", "dflt"), "dflt");
    EXPECT_EQ(doc.KeyNames(" sectionname "), std::vector<std::string>{"TestKey"});
}

TEST(ProfileRead, EmptyKeyName) {
    ProfileDocument doc = ProfileDocument::FromBytes("[S]\r\n=val5\r\n");
    EXPECT_EQ(doc.Get("S", "", "dflt"), "val5");
    EXPECT_EQ(ProfileDocument::FromBytes("[S]\r\nK=V\r\n").Get("S", "", "dflt"), "dflt");
}

TEST(ProfileRead, MissingOrUnreadableFileGivesDefault) {
    TempDir dir;
    ProfileStatus status;
    ProfileDocument doc = ProfileDocument::Load(dir.File("none.ini"), &status);
    EXPECT_EQ(status.error, ENOENT);
    EXPECT_EQ(doc.Bytes(), "");
    EXPECT_EQ(doc.SectionNames(), std::vector<std::string>{});

    EXPECT_EQ(GetPrivateProfileString("section1", "name1", "default", 260, dir.File("none.ini")),
              "default");
    EXPECT_EQ(GetPrivateProfileString("section1", "name1", "default", 260, ""), "default");
    EXPECT_EQ(GetPrivateProfileString("section1", "name1", "default", 260, dir.path()), "default");
    ProfileDocument::Load(dir.path(), &status);
    EXPECT_FALSE(status.ok());

    WriteFileBytes(dir.File("f1.ini"), kF1);
    EXPECT_EQ(GetPrivateProfileString("section1", "name1", "default", 4, dir.File("f1.ini")),
              "val");
    ProfileDocument::Load(dir.File("f1.ini"), &status);
    EXPECT_TRUE(status.ok());
}

// ---- Writing --------------------------------------------------------------------------------

TEST(ProfileWrite, SectionsBuiltUpAndTornDown) {
    std::vector<Write> writes = {
        {"App1", "key1", "string1"}, {"App1", "key2", "string2"}, {"App1", "key3", "string3"},
        {"App2", "key4", "string4"}, {"App3", "key5", "string5"},
    };
    EXPECT_EQ(AfterWrites(std::nullopt, writes),
              "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n[App2]\r\n"
              "key4=string4\r\n[App3]\r\nkey5=string5\r\n");

    writes.push_back({"App1", "key2", std::nullopt});
    writes.push_back({"App1", "key2", std::nullopt});
    EXPECT_EQ(AfterWrites(std::nullopt, writes),
              "[App1]\r\nkey1=string1\r\nkey3=string3\r\n[App2]\r\nkey4=string4\r\n"
              "[App3]\r\nkey5=string5\r\n");

    writes.push_back({"App1", std::nullopt, "string1"});
    EXPECT_EQ(AfterWrites(std::nullopt, writes),
              "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n");

    writes.push_back({"App2", std::nullopt, std::nullopt});
    EXPECT_EQ(AfterWrites(std::nullopt, writes), "[App3]\r\nkey5=string5\r\n");

    // The header stays when its last key goes.
    writes.push_back({"App3", "key5", std::nullopt});
    EXPECT_EQ(AfterWrites(std::nullopt, writes), "[App3]\r\n");
}

TEST(ProfileWrite, NewFilesAndEmptyValues) {
    EXPECT_EQ(AfterWrites(std::nullopt, {{"App", "key", ""}}), "[App]\r\nkey=\r\n");
    EXPECT_EQ(AfterWrites("", {{"SectionName", "TestKey", "TestValue"}}),
              "[SectionName]\r\nTestKey=TestValue\r\n");
    // Deleting from a missing file still leaves an empty file behind.
    EXPECT_EQ(AfterWrites(std::nullopt, {{"App", std::nullopt, "string"}}), "");
    EXPECT_EQ(AfterWrites(std::nullopt, {{"App", "key", std::nullopt}}), "");
}

TEST(ProfileWrite, NewKeysFollowTheLastKeyInOrder) {
    const std::vector<Write> writes = {
        {"S", "z", ""}, {"S", "b", ""}, {"S", "y", ""}, {"S", "a", ""}};
    EXPECT_EQ(AfterWrites("[S]\r\nb=value\r\na=value\r\n", writes),
              "[S]\r\nb=\r\na=\r\nz=\r\ny=\r\n");
    EXPECT_EQ(AfterWrites("", {{"S", "z", ""}, {"S", "a", ""}, {"S", "y", ""}, {"S", "b", ""}}),
              "[S]\r\nz=\r\na=\r\ny=\r\nb=\r\n");
    // Comments after the last key stay after the new keys; a ";x" key is a comment once written,
    // so later keys go in front of it.
    EXPECT_EQ(
        AfterWrites(
            ";comment0\r\n[S]\r\n;comment1\r\nb=value\r\n;comment2\r\na=value\r\n",
            {{"S", "z", ""}, {"S", ";x", ""}, {"S", "y", ""}, {"S", "a", ""}, {"S", "b", ""}}),
        ";comment0\r\n[S]\r\n;comment1\r\nb=\r\n;comment2\r\na=\r\nz=\r\ny=\r\n;x=\r\n");
    EXPECT_EQ(AfterWrites("[S]\r\nk=1\r\n", {{"S", ";a", ""}, {"S", ";b", ""}, {"S", ";b", ""}}),
              "[S]\r\nk=1\r\n;b=\r\n;b=\r\n;a=\r\n");
    // Blank lines and comments that close a section stay behind its keys; a section without
    // keys takes the new key right after its header.
    EXPECT_EQ(AfterWrites("[A]\r\na=1\r\n\r\n;end of A\r\n[B]\r\n;only\r\n\r\n",
                          {{"A", "n", "2"}, {"B", "m", "3"}}),
              "[A]\r\na=1\r\nn=2\r\n\r\n;end of A\r\n[B]\r\nm=3\r\n;only\r\n\r\n");
    // Writes go to the first of duplicate sections.
    EXPECT_EQ(AfterWrites("[S]\r\n[s]\r\nk=1\r\n", {{"S", "k", "2"}}),
              "[S]\r\nk=2\r\n[s]\r\nk=1\r\n");
}

TEST(ProfileWrite, NewSectionsGoAtTheEnd) {
    EXPECT_EQ(AfterWrites("[A]\r\na=1\r\n", {{"B", "b", "2"}}), "[A]\r\na=1\r\n[B]\r\nb=2\r\n");
    EXPECT_EQ(AfterWrites("[A]\r\na=1", {{"B", "b", "2"}}), "[A]\r\na=1\r\n[B]\r\nb=2\r\n");
    EXPECT_EQ(AfterWrites("[A]\r\na=1\r\n\r\n", {{"B", "b", "2"}}),
              "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n");
    EXPECT_EQ(AfterWrites(";top", {{"", "k", "v"}}), ";top\r\n[]\r\nk=v\r\n");
}

TEST(ProfileWrite, ReplacingKeepsStoredSpellingAndPlace) {
    EXPECT_EQ(AfterWrites("[SectionName]\r\nTestKey=TestValue",
                          {{"SECTIONNAME", "TESTKEY", "TestValue2"}}),
              "[SectionName]\r\nTestKey=TestValue2\r\n");
    EXPECT_EQ(AfterWrites("[S]\r\na=1\r\nMid=2\r\nz=3\r\n", {{"s", "mID", "New"}}),
              "[S]\r\na=1\r\nMid=New\r\nz=3\r\n");
    // The text up to the "=" is kept as it stands; the old value is replaced whole.
    EXPECT_EQ(AfterWrites("[S]\r\n  Key\t= \"old\" \r\n", {{"S", "key", "new"}}),
              "[S]\r\n  Key\t=new\r\n");
    // Only the first of duplicate keys changes.
    EXPECT_EQ(AfterWrites("[S]\r\nK=1\r\nK=2\r\n", {{"S", "k", "3"}}), "[S]\r\nK=3\r\nK=2\r\n");
}

TEST(ProfileWrite, ArgumentsAndValuesAsWritten) {
    EXPECT_EQ(AfterWrites(std::nullopt, {{" sec ", "K", "V"}}), "[sec]\r\nK=V\r\n");
    EXPECT_EQ(AfterWrites(std::nullopt, {{"S", " key ", "V"}}), "[S]\r\nkey=V\r\n");
    EXPECT_EQ(AfterWrites(std::nullopt, {{"S", "K", " value "}}), "[S]\r\nK= value \r\n");
    EXPECT_EQ(AfterWrites(std::nullopt, {{"S", "\tK", "\"q\""}}), "[S]\r\n\tK=\"q\"\r\n");
    EXPECT_EQ(AfterWrites(std::nullopt, {{"S", "", ";comment"}}), "[S]\r\n=;comment\r\n");

    TempDir dir;
    const std::string path = dir.File("t.ini");
    ASSERT_TRUE(WritePrivateProfileString("S", "", ";comment", path).ok());
    EXPECT_EQ(GetPrivateProfileString("S", "", "dflt", 260, path), ";comment");
    ASSERT_TRUE(WritePrivateProfileString("S", "K", " value ", path).ok());
    EXPECT_EQ(GetPrivateProfileString("S", "K", "dflt", 260, path), "value");
}

TEST(ProfileWrite, Deleting) {
    EXPECT_EQ(AfterWrites(";comment0\r\n[S]\r\n;comment1\r\n[S2]\r\n;comment2\r\n",
                          {{"S", std::nullopt, ""}, {"S2", std::nullopt, ""}}),
              ";comment0\r\n;comment1\r\n;comment2\r\n");
    // Blank lines and text without "=" leave with their section; the sections around stay.
    EXPECT_EQ(AfterWrites("[A]\r\na=1\r\n[S]\r\nk=v\r\n\r\nloose\r\n ;c\r\n[B]\r\nb=2\r\n",
                          {{"s", std::nullopt, std::nullopt}}),
              "[A]\r\na=1\r\n ;c\r\n[B]\r\nb=2\r\n");
    EXPECT_EQ(AfterWrites("[S]\r\nK=1\r\nK=2\r\n", {{"S", "k", std::nullopt}}), "[S]\r\nK=2\r\n");
    // Deleting what is not there leaves the file as it was, byte for byte.
    for (const std::string& start : {"[S]\r\n;key=v\r\n"s, "[S]\nk=v\n"s, "[S]\r\nk=v"s}) {
        EXPECT_EQ(AfterWrites(start, {{"S", ";key", std::nullopt}}), start);
        EXPECT_EQ(AfterWrites(start, {{"S", "other", std::nullopt}}), start);
        EXPECT_EQ(AfterWrites(start, {{"T", std::nullopt, std::nullopt}}), start);
    }
}

TEST(ProfileWrite, ChangedFileGetsCrLfThroughout) {
    EXPECT_EQ(AfterWrites("[S]\nk=v\r;c\n\n[T]\rt=1", {{"T", "t", "2"}}),
              "[S]\r\nk=v\r\n;c\r\n\r\n[T]\r\nt=2\r\n");
}

// ---- Saving ---------------------------------------------------------------------------------

TEST(ProfileSave, ReplacesAtomicallyAndKeepsMode) {
    TempDir dir;
    const std::string path = dir.File("keep.ini");
    WriteFileBytes(path, "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ProfileDocument doc = ProfileDocument::Load(path);
    doc.Set("S", "k", "2");
    ASSERT_TRUE(doc.Save(path, 0600).ok());
    EXPECT_EQ(FileMode(path), 0640u);
    EXPECT_EQ(ReadFileBytes(path), "[S]\r\nk=2\r\n");

    ASSERT_TRUE(WritePrivateProfileString("S", "k", "3", path, 0600).ok());
    EXPECT_EQ(FileMode(path), 0640u);

    const std::string fresh = dir.File("fresh.ini");
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", fresh, 0600).ok());
    EXPECT_EQ(FileMode(fresh), 0600u);
    ASSERT_TRUE(ProfileDocument().Save(dir.File("other.ini"), 0604).ok());
    EXPECT_EQ(FileMode(dir.File("other.ini")), 0604u);

    std::vector<std::string> names = DirectoryEntries(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"fresh.ini", "keep.ini", "other.ini"}));
}

TEST(ProfileSave, FailureReturnsErrnoAndLeavesNothingBehind) {
    TempDir dir;
    ProfileDocument doc = ProfileDocument::FromBytes(kF1);
    EXPECT_EQ(doc.Save(dir.File("missing/dir/x.ini")).error, ENOENT);
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", dir.File("missing/x.ini")).error, ENOENT);
    EXPECT_FALSE(doc.Save("").ok());

    // A directory in the target's place is neither replaced nor littered.
    const std::string target = dir.File("adir");
    std::filesystem::create_directory(target);
    EXPECT_FALSE(doc.Save(target).ok());
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", target).ok());
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"adir"});

    // A target that exists but cannot be read is left alone rather than replaced by a file
    // holding only the new key (a rename would happily replace this link).
    const std::string loop = dir.File("loop.ini");
    std::filesystem::create_symlink("loop.ini", loop);
    EXPECT_EQ(WritePrivateProfileString("S", "k", "v", loop).error, ELOOP);
    EXPECT_TRUE(std::filesystem::is_symlink(loop));
}

TEST(ProfileSave, RoundTripReadWriteRead) {
    TempDir dir;
    const std::string path = dir.File("round.ini");
    const std::string original =
        "; top comment\n[Main]\n  Name = \"Padded Value\" \nEmpty=\nloose line\n\n"
        "[Other]\r\nx='1'\r\n=blank key\r\n[Main]\r\nhidden=1\r";
    WriteFileBytes(path, original);

    ProfileDocument first = ProfileDocument::Load(path);
    ASSERT_TRUE(first.Save(path).ok());
    ProfileDocument second = ProfileDocument::Load(path);
    EXPECT_EQ(second.Bytes(), first.Bytes());
    EXPECT_EQ(ReadFileBytes(path), first.Bytes());
    EXPECT_EQ(second.SectionNames(), first.SectionNames());
    for (const std::string& section : first.SectionNames()) {
        EXPECT_EQ(second.KeyNames(section), first.KeyNames(section));
        for (const std::string& key : first.KeyNames(section)) {
            EXPECT_EQ(second.Find(section, key), first.Find(section, key)) << section << "/" << key;
        }
    }
    EXPECT_EQ(second.Find("main", "name"), "Padded Value");
    EXPECT_EQ(second.Find("Other", ""), "blank key");
    EXPECT_EQ(second.Find("Main", "hidden"), std::nullopt);

    // A value with line breaks is written as given; the document then reads as the file does.
    ProfileDocument doc = second;
    doc.Set("Main", "Name", "one\r\n[Injected]\nk=v");
    ASSERT_TRUE(doc.Save(path).ok());
    ProfileDocument reread = ProfileDocument::Load(path);
    EXPECT_EQ(reread.Bytes(), doc.Bytes());
    EXPECT_EQ(doc.Find("Main", "Name"), "one");
    EXPECT_EQ(doc.Find("Injected", "k"), reread.Find("Injected", "k"));
    EXPECT_EQ(doc.SectionNames(), reread.SectionNames());
}

// ---- Hostile input --------------------------------------------------------------------------

TEST(ProfileHostileInput, NulBytesAndBinaryJunk) {
    const std::string withNul = "[S]\r\nk=a\0b\r\n\0\0\r\nafter=1\r\n[T\0]\r\nt=2\r\n"s;
    ProfileDocument doc = ProfileDocument::FromBytes(withNul);
    EXPECT_EQ(doc.Find("S", "k"), "a\0b"s);
    EXPECT_EQ(doc.Find("S", "after"), "1");
    EXPECT_EQ(doc.Find("T\0"s, "t"), "2");
    EXPECT_EQ(doc.Bytes(), withNul);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pick(0, 19);
    const std::string special = "[]=;\r\n \t\"'";
    for (int round = 0; round < 200; ++round) {
        std::string junk;
        for (int i = 0; i < 300; ++i) {
            // Half the bytes are the ones the format gives a meaning to.
            int p = pick(rng);
            junk += p < 10 ? special[p] : static_cast<char>(byte(rng));
        }
        ProfileDocument parsed = ProfileDocument::FromBytes(junk);
        // Written bytes read back to the same document.
        EXPECT_EQ(ProfileDocument::FromBytes(parsed.Bytes()).Bytes(), parsed.Bytes());
        for (const std::string& section : parsed.SectionNames()) {
            for (const std::string& key : parsed.KeyNames(section)) {
                // Every listed key can be looked up by the name it is listed under.
                EXPECT_TRUE(parsed.Find(section, key).has_value());
            }
        }
        parsed.Set("S", "k", junk.substr(0, 40));
        parsed.DeleteSection(parsed.SectionNames().empty() ? "S" : parsed.SectionNames()[0]);
        EXPECT_EQ(ProfileDocument::FromBytes(parsed.Bytes()).Bytes(), parsed.Bytes());
    }
}

TEST(ProfileHostileInput, LargeFilesStayLinear) {
    const std::size_t kSize = 10 * 1024 * 1024;
    // One line with no line end, a file of nothing but line ends, and many short key lines.
    {
        std::string oneLine(kSize, 'x');
        oneLine[5] = '=';
        ProfileDocument doc = ProfileDocument::FromBytes("[S]\r\n" + oneLine);
        EXPECT_EQ(doc.Get("S", "xxxxx", "", 11), std::string(10, 'x'));
        doc.Set("S", "new", "1");
        EXPECT_EQ(doc.Bytes().size(), 5 + kSize + 2 + 7);
    }
    {
        ProfileDocument doc = ProfileDocument::FromBytes(std::string(kSize, '\n'));
        EXPECT_EQ(doc.Get("S", "k", "none"), "none");
        doc.Set("S", "k", "v");
        EXPECT_EQ(doc.Bytes().size(), 2 * kSize + 10);
    }
    std::string many = "[S]\n";
    for (std::size_t i = 0; many.size() < kSize; ++i) many += "key" + std::to_string(i) + "=v\n";
    many += "last=found\n";
    ProfileDocument doc = ProfileDocument::FromBytes(many);
    EXPECT_EQ(doc.Find("S", "LAST"), "found");
    doc.DeleteSection("S");
    EXPECT_EQ(doc.Bytes(), "");
}

}  // namespace
}  // namespace tallix::profile

namespace tallix::profile {
namespace {

// Lookups after changes see the changes: the read index is rebuilt after every change.
TEST(ProfileRead, LookupsFollowChanges) {
    ProfileDocument doc = ProfileDocument::FromBytes("[A]\r\nk=1\r\n[a]\r\nk=2\r\n");
    EXPECT_EQ(doc.Find("a", "K"), "1");
    doc.Set("A", "k", "3");
    EXPECT_EQ(doc.Find("A", "k"), "3");
    doc.Set("A", "new", "4");
    EXPECT_EQ(doc.Find("a", "NEW"), "4");
    doc.DeleteKey("A", "k");
    EXPECT_EQ(doc.Find("A", "k"), std::nullopt);  // the duplicate section is still never read
    doc.DeleteSection("A");
    EXPECT_EQ(doc.Find("A", "k"), "2");  // now the first section of that name
    ProfileDocument copy = doc;
    copy.Set("a", "k", "5");
    EXPECT_EQ(copy.Find("a", "k"), "5");
    EXPECT_EQ(doc.Find("a", "k"), "2");
}

}  // namespace
}  // namespace tallix::profile

namespace tallix {
namespace {

// The writer of new files (the mailbox source's scratch message file goes through it): the
// pieces one after another, and never through a file or link already at the name.
TEST(WholeFile, WriteNewFileWritesThePiecesAndNeverAnExistingName) {
    testing::TempDir dir;
    const std::string path = dir.File("new");
    EXPECT_EQ(WriteNewFile(path, {"head\r\n", "", "body", "\r\n"}), 0);
    EXPECT_EQ(testing::ReadFileBytes(path), "head\r\nbody\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);

    EXPECT_EQ(WriteNewFile(path, {"other"}), EEXIST);
    EXPECT_EQ(testing::ReadFileBytes(path), "head\r\nbody\r\n");

    const std::string target = dir.File("target");
    testing::WriteFileBytes(target, "kept");
    std::filesystem::create_symlink(target, dir.File("link"));
    EXPECT_EQ(WriteNewFile(dir.File("link"), {"through"}), EEXIST);
    std::filesystem::create_symlink(dir.File("missing"), dir.File("dangling"));
    EXPECT_EQ(WriteNewFile(dir.File("dangling"), {"through"}), EEXIST);
    EXPECT_EQ(testing::ReadFileBytes(target), "kept");
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));

    EXPECT_EQ(WriteNewFile(dir.File("no/such/dir"), {"x"}), ENOENT);
}

}  // namespace
}  // namespace tallix
