#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "model/template.h"
#include "tests/model/model_test_support.h"

namespace tallix {
namespace {

using namespace std::string_literals;
using testing::Describe;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

// The template of the file format's own example, as the manager fills it before writing.
void FillExample(clsTemplate& t, const std::string& outputFile) {
    t.SetActive(true);
    t.SetLastRan("Never");
    t.objFilter()->SetMapiField("MSG_SUBJECT");
    t.objFilter()->SetFindString("Order");
    auto v1 = t.colFields()->Add();
    v1->SetFieldName("OrderNo");
    v1->SetFieldType("MSG_TEXT");
    v1->SetFindStart("Order number:");
    v1->SetFindStop("{End of Line}");
    v1->SetUseQuotes("1");
    v1->SetRemoveLF("1");
    v1->SetMatchCase("0");
    v1->SetMatchWholeString("0");
    v1->SetStartOfLineOnly("0");
    auto v2 = t.colFields()->Add();
    v2->SetFieldName("Sender");
    v2->SetFieldType("SENDER_NAME");
    v2->SetFindStart("");
    v2->SetFindStop("  ");
    v2->SetUseQuotes("1");
    for (auto set : {&clsExportField::SetRemoveLF, &clsExportField::SetMatchCase,
                     &clsExportField::SetMatchWholeString, &clsExportField::SetStartOfLineOnly}) {
        ((*v2).*set)("0");
    }
    t.SetVariableCount(2);
    t.SetAllowDuplicate(false);
    t.SetOutputFile(outputFile);
    t.SetOutputDeliminator("COMMA");
    t.SetOutputLineCount(1);
    t.colOutPutLines()->Item(1) = "OrderNo,Sender";
}

std::string ExampleBytes(const std::string& outputFile) {
    return "[General]\r\nActive=True\r\nNum_Variables=2\r\nLast_Ran=Never\r\n"
           "[Filter]\r\nCommand=MSG_SUBJECT\r\nFind_String=Order\r\n"
           "[Variables]\r\n"
           "Var1=OrderNo;MSG_TEXT;Order number:;{End of Line};1;1;0;0;0\r\n"
           "Var2=Sender;SENDER_NAME;{Beginning of Field};{End of Field};1;0;0;0;0\r\n"
           "[Output]\r\nAllowDuplicate=False\r\nFile=" +
           outputFile +
           "\r\nDelimiter=COMMA\r\nOutput_Count=1\r\nOutput1=OrderNo,Sender\r\n"
           "[Scripts]\r\nrun=\r\n";
}

class TemplateFile : public testing::ModelTest {
  protected:
    std::string Path(const std::string& name = "orders.txf") {
        return env.ProgramDir() + "/" + name;
    }
    clsTemplate Read(const std::string& bytes) {
        WriteFileBytes(Path(), bytes);
        clsTemplate t;
        t.SetFileName(Path());
        t.ReadTemplate();
        return t;
    }
    // The file at `path` reads into a template that, written as new elsewhere, gives the
    // same bytes and reads back to the same members.
    void ExpectRoundTrip(const std::string& path) {
        const std::string bytes = ReadFileBytes(path);
        clsTemplate first;
        first.SetFileName(path);
        first.ReadTemplate();
        first.SetFileName(Path("copy.txf"));
        first.WriteTemplateFile(true);
        EXPECT_EQ(ReadFileBytes(Path("copy.txf")), bytes);
        clsTemplate second;
        second.SetFileName(Path("copy.txf"));
        second.ReadTemplate();
        EXPECT_EQ(Describe(second), Describe(first));
        std::filesystem::remove(Path("copy.txf"));
    }
};

TEST_F(TemplateFile, NewFileHasTheExactLayoutAndRoundTrips) {
    clsTemplate t;
    t.SetFileName(Path());
    FillExample(t, "/srv/orders/orders.txt");
    t.WriteTemplateFile(true);
    EXPECT_EQ(ReadFileBytes(Path()), ExampleBytes("/srv/orders/orders.txt"));
    ExpectRoundTrip(Path());
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(TemplateFile, HandWrittenFileWithLfLineEndsRewritesAsTheSameTemplate) {
    const char* data = std::getenv("TALLIX_TEST_DATA");
    ASSERT_NE(data, nullptr);
    clsTemplate t;
    t.SetFileName(std::string(data) + "/model/orders.txf");
    t.ReadTemplate();
    t.SetFileName(Path());
    t.WriteTemplateFile(true);
    EXPECT_EQ(ReadFileBytes(Path()), ExampleBytes("/tmp/orders.txt"));
}

TEST_F(TemplateFile, MissingFileReadsAsDefaults) {
    clsTemplate t;
    t.SetFileName(Path("absent.txf"));
    t.ReadTemplate();
    EXPECT_FALSE(t.Active());
    EXPECT_FALSE(t.AllowDuplicate());
    EXPECT_EQ(t.LastRan(), "Never");
    EXPECT_EQ(t.VariableCount(), 0);
    EXPECT_EQ(t.colFields()->Count(), 0);
    ASSERT_EQ(t.colOutPutLines()->Count(), 1);
    EXPECT_EQ(t.colOutPutLines()->Item(1), "");
    EXPECT_EQ(t.objFilter()->FileName(), Path("absent.txf"));
    EXPECT_EQ(t.objFilter()->MapiField(), "");
    EXPECT_FALSE(std::filesystem::exists(Path("absent.txf")));
}

// A template file that is there but cannot be read was read as an empty, inactive template:
// a run passed over it without a word and deleted the mail it was meant for. It is named with
// the reason and refused, and counts as active so a run keeps that mail.
TEST_F(TemplateFile, UnreadableFileIsNamedAndRefused) {
    std::filesystem::create_directories(Path("folder.txf"));
    SetSilentMode(true);
    clsTemplate t;
    t.SetFileName(Path("folder.txf"));
    EXPECT_FALSE(t.ReadTemplate());
    EXPECT_TRUE(t.Refused());
    EXPECT_TRUE(t.Active());
    EXPECT_NE(ErrorLog().find("clsTemplate - ReadTemplate\nError# 75  Path/File access error\n" +
                              Path("folder.txf") + ": Is a directory\r\n"),
              std::string::npos)
        << ErrorLog();
}

TEST_F(TemplateFile, BooleansAreTrueOnlyForExactTrue) {
    struct Case {
        const char* text;
        bool active;
    } cases[] = {{"True", true},  {"  True  ", true}, {"\"True\"", true}, {"true", false},
                 {"TRUE", false}, {"1", false},       {"", false},        {"True x", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        clsTemplate t = Read("[General]\r\nActive=" + std::string(c.text) +
                             "\r\n[OutPut]\r\nallowduplicate=" + c.text + "\r\n");
        EXPECT_EQ(t.Active(), c.active);
        EXPECT_EQ(t.AllowDuplicate(), c.active);
    }
    // The value is cut at its first NUL before the comparison.
    EXPECT_TRUE(Read("[General]\r\nActive=True\0junk\r\n"s).Active());
}

TEST_F(TemplateFile, CountsTakeTheLeadingNumberRounded) {
    struct Case {
        std::string text;
        int count;
    } cases[] = {{"2", 2},
                 {" 2 ", 2},
                 {"2.5", 2},
                 {"3.5", 4},
                 {"1.6abc", 2},
                 {"abc", 0},
                 {"", 0},
                 {"&H2", 2},
                 {"-1", -1},
                 {"1 2", 12},
                 {"1234567891", 123456789}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        clsTemplate t = Read("[Output]\r\nOutput_Count=" + c.text + "\r\n");
        EXPECT_EQ(t.OutputLineCount(), c.count);
    }
}

TEST_F(TemplateFile, ValuesAreCutToTheirLongestLength) {
    const std::string longText(3000, 'x');
    clsTemplate t =
        Read("[General]\r\nLast_Ran=" + longText + "\r\nNum_Variables=1\r\n" +
             "[Filter]\r\nCommand=" + longText + "\r\nFind_String=" + longText +
             "\r\n[Variables]\r\nVar1=" + longText + "\r\n[Output]\r\nFile=" + longText +
             "\r\nDelimiter=" + longText + "\r\nOutput_Count=1\r\nOutput1=" + longText +
             "\r\n[Scripts]\r\nrun=" + longText + "\r\n");
    EXPECT_EQ(t.LastRan().size(), 254u);
    EXPECT_EQ(t.objFilter()->MapiField().size(), 254u);
    EXPECT_EQ(t.objFilter()->FindString().size(), 254u);
    EXPECT_EQ(t.OutputFile().size(), 254u);
    EXPECT_EQ(t.OutputDeliminator().size(), 254u);
    EXPECT_EQ(t.ScriptsToRun().size(), 254u);
    EXPECT_EQ(t.colOutPutLines()->Item(1).size(), 2047u);
    ASSERT_EQ(t.colFields()->Count(), 1);
    // A 509-character definition without separators: nothing delimits the name.
    EXPECT_EQ(t.colFields()->Item(1)->FieldName(), "");
}

TEST_F(TemplateFile, TextValuesAreCutAtNulAndTrimmed) {
    clsTemplate t = Read(
        "[Filter]\r\nFind_String=  Order\0 ignored\r\n"
        "[General]\r\nLast_Ran=   \r\n[Scripts]\r\nrun=\"  Main \"\r\n"s);
    EXPECT_EQ(t.objFilter()->FindString(), "Order");
    EXPECT_EQ(t.LastRan(), "Never");
    EXPECT_EQ(t.ScriptsToRun(), "Main");
}

TEST_F(TemplateFile, DefinitionLinesParseByTheirRules) {
    struct Case {
        std::string line;
        std::string expected;  // name|type|start|stop|flags
    } cases[] = {
        {"OrderNo;MSG_TEXT;Order number:;{End of Line};1;1;0;0;0",
         "OrderNo|MSG_TEXT|Order number:|{End of Line}|11000"},
        {";;;;;;;;", "||||00000"},
        {"Name;MSG_TEXT;NONE;NONE;0;0;0;0;0",
         "Name|MSG_TEXT|{Beginning of Field}|{End of Field}|00000"},
        {"Name;MSG_TEXT;Total:;NONE;0;0;0;0;0", "Name|MSG_TEXT|Total:|{End of Line}|00000"},
        {"Name;MSG_TEXT; NONE ;NONE;1", "Name|MSG_TEXT|{Beginning of Field}|{End of Field}|10000"},
        // Only the untrimmed stop marker is old; an empty start leaves it as it is.
        {"Name;MSG_TEXT;Total:; NONE;0", "Name|MSG_TEXT|Total:|NONE|00000"},
        {"Name;MSG_TEXT;;NONE;0", "Name|MSG_TEXT||NONE|00000"},
        // Fewer than four separators: the undelimited items stay empty.
        {"1", "||||10000"},
        {"Name;Type;1", "Name|Type|||10000"},
        {"Name;Type;Start;Stop", "Name|Type|Start||00000"},
        // Flags: "1" after trimming, anything else "0"; the rest ends the flags.
        {" a ; b ; c ; d ; 1 ;yes;1 ;;1", "a|b|c|d|10101"},
        {"a;b;c;d;1;1", "a|b|c|d|11000"},
        {"a;b;c;d;1;1;1;1;1;0;junk;more", "a|b|c|d|11111"},
        {"a;b;c;d;0;0;0;0;1junk", "a|b|c|d|00000"},
        // A line of blanks (a missing key) still makes a variable.
        {"   ", "||||00000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        clsTemplate t;
        t.ParseFieldString(c.line);
        ASSERT_EQ(t.colFields()->Count(), 1);
        auto v = t.colFields()->Item(1);
        EXPECT_EQ(v->FieldName() + "|" + v->FieldType() + "|" + v->FindStart() + "|" +
                      v->FindStop() + "|" + v->UseQuotes() + v->RemoveLF() + v->MatchCase() +
                      v->MatchWholeString() + v->StartOfLineOnly(),
                  c.expected);
    }
    clsTemplate t;
    t.ParseFieldString("");
    EXPECT_EQ(t.colFields()->Count(), 0);
}

TEST_F(TemplateFile, EightSeparatorsRoundTripToMarkersAndZeros) {
    clsTemplate t = Read("[General]\r\nNum_Variables=1\r\n[Variables]\r\nVar1=;;;;;;;;\r\n");
    EXPECT_EQ(t.MakeVarString(1), ";;{Beginning of Field};{End of Field};0;0;0;0;0");
    std::filesystem::remove(Path());
    t.WriteTemplateFile(true);
    EXPECT_NE(
        ReadFileBytes(Path()).find("\r\nVar1=;;{Beginning of Field};{End of Field};0;0;0;0;0\r\n"),
        std::string::npos);
    ExpectRoundTrip(Path());
}

TEST_F(TemplateFile, CountDecidesHowManyVariablesAreRead) {
    clsTemplate t = Read(
        "[General]\r\nNum_Variables=3\r\n[Variables]\r\n"
        "Var1=A;MSG_TEXT;x;y;1;1;1;1;1\r\nVar2=B;MSG_SUBJECT;;;0;0;0;0;0\r\n"
        "Var4=D;MSG_TEXT;;;0;0;0;0;0\r\n");
    ASSERT_EQ(t.colFields()->Count(), 3);
    EXPECT_EQ(t.colFields()->Item(1)->FieldName(), "A");
    EXPECT_EQ(t.colFields()->Item(2)->FieldName(), "B");
    auto third = t.colFields()->Item(3);
    EXPECT_EQ(third->FieldName() + third->FieldType() + third->FindStart() + third->FindStop(), "");
    EXPECT_EQ(third->UseQuotes() + third->RemoveLF() + third->MatchCase() +
                  third->MatchWholeString() + third->StartOfLineOnly(),
              "00000");
    // No count, no variables, whatever keys there are.
    EXPECT_EQ(Read("[Variables]\r\nVar1=A;B;C;D;1;1;1;1;1\r\n").colFields()->Count(), 0);
}

TEST_F(TemplateFile, DamagedHugeCountStopsAtTheLoopLimit) {
    clsTemplate t = Read(
        "[General]\r\nNum_Variables=999999999\r\n[Output]\r\n"
        "Output_Count=99999999\r\nOutput40000=late\r\n");
    EXPECT_EQ(t.colFields()->Count(), 32767);
    EXPECT_TRUE(Logged("clsTemplate - ReadVariables"));
    EXPECT_TRUE(Logged("clsTemplate - ReadOutPutLines"));
    // The reading went on after the failing steps.
    EXPECT_EQ(t.LastRan(), "Never");
    EXPECT_EQ(t.colOutPutLines()->Count(), 1);
    EXPECT_EQ(t.colOutPutLines()->Item(1), "");
}

TEST_F(TemplateFile, LastOutputLineReadWins) {
    clsTemplate t = Read("[Output]\r\nOutput_Count=2\r\nOutput1=A,B\r\nOutput2=C,D\r\n");
    ASSERT_EQ(t.colOutPutLines()->Count(), 1);
    EXPECT_EQ(t.colOutPutLines()->Item(1), "C,D");
    clsTemplate one = Read("[Output]\r\nOutput_Count=1\r\nOutput1=A,B\r\nOutput2=C,D\r\n");
    EXPECT_EQ(one.colOutPutLines()->Item(1), "A,B");
}

TEST_F(TemplateFile, NamesMatchWithoutRegardToCase) {
    clsTemplate t = Read(
        "[general]\r\nACTIVE=True\r\n[OUTPUT]\r\nfile= /tmp/x \r\n"
        "[filter]\r\ncommand=MSG_TEXT\r\n");
    EXPECT_TRUE(t.Active());
    EXPECT_EQ(t.OutputFile(), "/tmp/x");
    EXPECT_EQ(t.objFilter()->MapiField(), "MSG_TEXT");
}

TEST_F(TemplateFile, WritingAsNewDropsStaleKeysAndKeepsOtherSections) {
    WriteFileBytes(Path(),
                   "; kept comment\r\n[Extra]\r\nmine=1\r\n[variables]\r\nVar1=a\r\n"
                   "Var5=stale\r\nVar5=dup\r\n[GENERAL]\r\nActive=True\r\nOld=1\r\n");
    clsTemplate t;
    t.SetFileName(Path());
    FillExample(t, "/o.txt");
    t.WriteTemplateFile(true);
    const std::string once = ReadFileBytes(Path());
    EXPECT_EQ(once.find("Var5"), std::string::npos);
    EXPECT_EQ(once.find("Old="), std::string::npos);
    EXPECT_NE(once.find("[Extra]\r\nmine=1\r\n"), std::string::npos);
    // Existing sections keep their place and spelling; missing ones follow at the end.
    EXPECT_EQ(once.find("[variables]\r\nVar1="), once.find("[variables]"));
    EXPECT_LT(once.find("[variables]"), once.find("[GENERAL]"));
    EXPECT_LT(once.find("[GENERAL]"), once.find("[Filter]"));
    t.WriteTemplateFile(true);
    EXPECT_EQ(ReadFileBytes(Path()), once);
    clsTemplate again = Read(once);
    EXPECT_EQ(Describe(again), Describe(Read(ExampleBytes("/o.txt"))));
}

TEST_F(TemplateFile, WritingWithoutNewLeavesUnusedKeys) {
    clsTemplate t;
    t.SetFileName(Path());
    FillExample(t, "/o.txt");
    t.WriteTemplateFile(true);
    t.colFields()->Remove(2);
    t.SetVariableCount(1);
    t.WriteTemplateFile(false);
    const std::string bytes = ReadFileBytes(Path());
    EXPECT_NE(bytes.find("Num_Variables=1\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Var2=Sender;"), std::string::npos);
    clsTemplate again = Read(bytes);
    EXPECT_EQ(again.colFields()->Count(), 1);
    t.WriteTemplateFile(true);
    EXPECT_EQ(ReadFileBytes(Path()).find("Var2"), std::string::npos);
}

TEST_F(TemplateFile, WriteEncodingsTrimSomeValuesOnly) {
    clsTemplate t;
    t.SetFileName(Path());
    t.SetLastRan("  1/2/2024 ");
    t.SetScriptsToRun(" Main, Report ");
    t.SetOutputFile(" /o.txt ");
    t.SetOutputDeliminator("TAB");
    t.SetVariableCount(-3);
    t.SetOutputLineCount(0);
    t.SetobjFilter(nullptr);
    t.WriteTemplateFile(true);
    EXPECT_EQ(ReadFileBytes(Path()),
              "[General]\r\nActive=False\r\nNum_Variables=-3\r\nLast_Ran=1/2/2024\r\n"
              "[Filter]\r\n[Variables]\r\n[Output]\r\nAllowDuplicate=False\r\nFile=/o.txt\r\n"
              "Delimiter=TAB\r\nOutput_Count=0\r\n[Scripts]\r\nrun=Main, Report\r\n");
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(TemplateFile, LineBreakInAValueIsCutNotSpreadOverLines) {
    clsTemplate t;
    t.SetFileName(Path());
    FillExample(t, "/o.txt");
    t.objFilter()->SetFindString("Order\r\nActive=False");
    t.colFields()->Item(1)->SetFindStart("a\nb");
    t.colFields()->Item(1)->SetFindStop("c\r");
    t.WriteTemplateFile(true);
    clsTemplate again = Read(ReadFileBytes(Path()));
    EXPECT_TRUE(again.Active());
    EXPECT_EQ(again.objFilter()->FindString(), "Order");
    EXPECT_EQ(again.colFields()->Count(), 2);
    // In a definition line each item is cut, so the items after it keep their places.
    EXPECT_EQ(again.MakeVarString(1), "OrderNo;MSG_TEXT;a;c;1;1;0;0;0");
    ExpectRoundTrip(Path());
}

TEST_F(TemplateFile, MakeVarStringOutOfRange) {
    clsTemplate t;
    EXPECT_EQ(t.MakeVarString(0), "");
    EXPECT_EQ(ErrorLog(), "");
    EXPECT_EQ(t.MakeVarString(1), "");
    EXPECT_TRUE(Logged("colExportFields - Get Item"));
    EXPECT_TRUE(Logged("clsTemplate - MakeVarString"));
    // Writing more variables than there are writes empty definitions for the missing ones.
    t.SetFileName(Path());
    t.SetVariableCount(2);
    t.WriteVariables();
    EXPECT_EQ(ReadFileBytes(Path()), "[Variables]\r\nVar1=\r\nVar2=\r\n");
}

TEST_F(TemplateFile, EmptyFileNameIsReportedAndNothingIsDone) {
    SetSilentMode(false);
    clsTemplate t;
    t.SetActive(true);
    t.WriteTemplateFile(true);
    t.ReadTemplate();
    EXPECT_TRUE(t.Active());
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "No filename defined");
    EXPECT_TRUE(Logged("No filename defined"));
}

TEST_F(TemplateFile, MissingOutputLineIsReportedAndWritingGoesOn) {
    clsTemplate t;
    t.SetFileName(Path());
    t.colOutPutLines()->Remove(1);
    t.SetOutputLineCount(1);
    t.SetLastRan("Never");
    t.WriteTemplateFile(true);
    EXPECT_TRUE(Logged("clsTemplate - WriteOutPutLines"));
    const std::string bytes = ReadFileBytes(Path());
    EXPECT_NE(bytes.find("Output_Count=1\r\n[Scripts]\r\nrun=\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Last_Ran=Never\r\n"), std::string::npos);
}

TEST_F(TemplateFile, SingleOperationsTouchOnlyTheirKeys) {
    WriteFileBytes(Path(), "[General]\r\nActive=False\r\nLast_Ran=Never\r\n");
    clsTemplate t;
    t.SetFileName(Path());
    t.SetLastRan("12/16/2024 11:02:03 PM");
    t.WriteLastRan();
    EXPECT_EQ(ReadFileBytes(Path()),
              "[General]\r\nActive=False\r\nLast_Ran=12/16/2024 11:02:03 PM\r\n");
    t.SetLastRan("");
    t.ReadLastRan();
    EXPECT_EQ(t.LastRan(), "12/16/2024 11:02:03 PM");  // the stamp as the engine wrote it
    t.ReadActiveFlag();
    EXPECT_FALSE(t.Active());
    t.CreateFileSections();
    EXPECT_EQ(ReadFileBytes(Path()),
              "[General]\r\n[Filter]\r\n[Variables]\r\n[Output]\r\n[Scripts]\r\n");
}

TEST_F(TemplateFile, NewKeysRoundTripAndAreWrittenOnlyWhenUsed) {
    clsTemplate t;
    t.SetFileName(Path());
    FillExample(t, "orders.csv");
    t.SetOutputFormat("CSV");
    t.SetPerAttachment(true);
    t.SetFormulaGuard(true);
    t.SetByteOrderMark(true);
    t.SetHeaderRow(true);
    t.SetDateFormat("ISO");
    t.SetRepeatItems("OrderNo, Sender");
    // Every character a pattern may hold: the item separator, "=", outer blanks, outer quotes,
    // and a line break (kept as its escape).
    t.SetPattern("OrderNo", "(?m)^Order #(\\d+);\\s*=");
    t.SetPattern("Sender", " \"[^\"]+\" ");
    t.SetPattern("Third", "'x'");
    t.WriteTemplateFile(true);
    const std::string bytes = ReadFileBytes(Path());
    EXPECT_NE(bytes.find("Format=CSV\r\nPerAttachment=True\r\nFormulaGuard=True\r\nBOM=True\r\n"
                         "HeaderRow=True\r\nDateFormat=ISO\r\n"),
              std::string::npos)
        << bytes;
    EXPECT_NE(bytes.find("[Repeat]\r\nItems=OrderNo, Sender\r\n"), std::string::npos);
    ExpectRoundTrip(Path());
    clsTemplate read;
    read.SetFileName(Path());
    EXPECT_TRUE(read.ReadTemplate());
    EXPECT_EQ(read.Patterns(), t.Patterns());
    EXPECT_EQ(read.Pattern("sender"), " \"[^\"]+\" ");
    EXPECT_EQ(read.RepeatedVariables(), (std::vector<std::string>{"OrderNo", "Sender"}));

    // Switched off again: a key the file has says so; a pattern removed goes; nothing else
    // is added.
    read.SetPerAttachment(false);
    read.SetOutputFormat("");
    read.SetPattern("Third", "");
    read.WriteTemplateFile(false);
    const std::string after = ReadFileBytes(Path());
    EXPECT_NE(after.find("PerAttachment=False\r\n"), std::string::npos);
    EXPECT_NE(after.find("Format=\r\n"), std::string::npos);
    EXPECT_EQ(after.find("Third="), std::string::npos);
    clsTemplate again;
    again.SetFileName(Path());
    again.ReadTemplate();
    EXPECT_EQ(Describe(again), Describe(read));
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(TemplateFile, ProcessOnceIsThreeStateAndItsKeyIsWrittenOnlyWhileSet) {
    clsTemplate t;
    t.SetFileName(Path());
    FillExample(t, "orders.csv");
    t.WriteTemplateFile(true);
    const std::string unset = ReadFileBytes(Path());
    EXPECT_EQ(unset, ExampleBytes("orders.csv"));
    EXPECT_EQ(ReadProcessOnceKey(Path()), std::nullopt);
    for (const bool on : {true, false}) {
        clsTemplate read = Read(unset);
        EXPECT_EQ(read.ProcessOnce(), std::nullopt);
        read.SetProcessOnce(on);
        read.WriteTemplateFile(false);
        const std::string bytes = ReadFileBytes(Path());
        EXPECT_NE(bytes.find(on ? "ProcessOnce=True\r\n" : "ProcessOnce=False\r\n"),
                  std::string::npos)
            << bytes;
        EXPECT_EQ(ReadProcessOnceKey(Path()), on);
        clsTemplate again;
        again.SetFileName(Path());
        again.ReadTemplate();
        EXPECT_EQ(again.ProcessOnce(), on);
        // Saved unchanged it keeps its bytes; unset again, the key goes and the file is as
        // it was before.
        again.WriteTemplateFile(false);
        EXPECT_EQ(ReadFileBytes(Path()), bytes);
        again.SetProcessOnce(std::nullopt);
        again.WriteTemplateFile(false);
        EXPECT_EQ(ReadFileBytes(Path()), unset);
    }
    EXPECT_EQ(ReadProcessOnceKey(Path("missing.txf")), std::nullopt);
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(TemplateFile, LineBreakInAPatternIsStoredAsItsEscape) {
    clsTemplate t;
    t.SetFileName(Path());
    t.SetPattern("A", "x\r\ny");
    t.WriteTemplateFile(true);
    clsTemplate read;
    read.SetFileName(Path());
    read.ReadTemplate();
    EXPECT_EQ(read.Pattern("A"), "x\\r\\ny");
    EXPECT_NE(ReadFileBytes(Path()).find("\r\nA=x\\r\\ny\r\n"), std::string::npos);
}

TEST_F(TemplateFile, PatternThatDoesNotCompileIsNamedWhenTheTemplateIsRead) {
    WriteFileBytes(Path(),
                   "[General]\r\nNum_Variables=1\r\n[Variables]\r\nVar1=Total;MSG_TEXT\r\n"
                   "[Patterns]\r\nTotal=Total: (\\d+\r\n");
    clsTemplate t;
    t.SetFileName(Path());
    EXPECT_FALSE(t.ReadTemplate());
    EXPECT_NE(ErrorLog().find(Path() + ": the pattern of variable Total does not compile at "
                                       "position 12: missing closing parenthesis"),
              std::string::npos)
        << ErrorLog();
    EXPECT_NE(t.PatternProblem(), "");
    t.SetPattern("Total", "Total: (\\d+)");
    EXPECT_EQ(t.PatternProblem(), "");
}

}  // namespace
}  // namespace tallix
