// txdump: prints a template file as the engine reads it, or the message record built from
// a header file and a body file, so that a bug report is one command.
//
//   txdump template FILE.txf
//   txdump message HEADER_FILE [BODY_FILE] [--raw] [--attach FILE]...
//
// Header lines ending in a bare LF are given CR LF first, as a mail source hands them over;
// --raw keeps the bytes as they are. Texts are printed in double quotes with control
// characters escaped. Error reports go to standard error and the error log.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "model/message.h"
#include "model/template.h"
#include "settings/app_info.h"

namespace {

using tallix::clsTemplate;
using tallix::txMessage;

constexpr std::string_view kUsage =
    "usage: txdump template FILE.txf\n"
    "       txdump message HEADER_FILE [BODY_FILE] [--raw] [--attach FILE]...\n";

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02x", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void Line(std::string_view name, std::string_view value) {
    std::cout << name << ": " << Quote(value) << "\n";
}
void Line(std::string_view name, bool value) {
    std::cout << name << ": " << (value ? "true" : "false") << "\n";
}
void Line(std::string_view name, long value) {
    std::cout << name << ": " << value << "\n";
}

bool ReadWhole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

// Bare LF line ends become CR LF; CR LF stays.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

int DumpTemplate(const std::string& path) {
    clsTemplate t;
    t.SetFileName(path);
    t.ReadTemplate();
    Line("FileName", t.FileName());
    Line("Active", t.Active());
    Line("LastRan", t.LastRan());
    Line("AllowDuplicate", t.AllowDuplicate());
    Line("OutputFile", t.OutputFile());
    Line("OutputDeliminator", t.OutputDeliminator());
    Line("OutputLineCount", static_cast<long>(t.OutputLineCount()));
    if (auto lines = t.colOutPutLines()) {
        long n = 0;
        for (const std::string& line : *lines)
            Line("colOutPutLines(" + std::to_string(++n) + ")", line);
    }
    Line("ScriptsToRun", t.ScriptsToRun());
    if (auto filter = t.objFilter()) {
        Line("objFilter.MapiField", filter->MapiField());
        Line("objFilter.FindString", filter->FindString());
    }
    Line("VariableCount", static_cast<long>(t.VariableCount()));
    long n = 0;
    for (const auto& v : t.colFields()->NewEnum()) {
        const std::string p = "colFields(" + std::to_string(++n) + ").";
        Line(p + "FieldName", v->FieldName());
        Line(p + "FieldType", v->FieldType());
        Line(p + "FindStart", v->FindStart());
        Line(p + "FindStop", v->FindStop());
        Line(p + "UseQuotes", v->UseQuotes());
        Line(p + "RemoveLF", v->RemoveLF());
        Line(p + "MatchCase", v->MatchCase());
        Line(p + "MatchWholeString", v->MatchWholeString());
        Line(p + "StartOfLineOnly", v->StartOfLineOnly());
        Line(p + "definition", t.MakeVarString(n));
    }
    return 0;
}

int DumpMessage(const std::vector<std::string>& args) {
    std::string headerPath, bodyPath;
    std::vector<std::string> attachments;
    bool raw = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--raw") {
            raw = true;
        } else if (args[i] == "--attach" && i + 1 < args.size()) {
            attachments.push_back(args[++i]);
        } else if (headerPath.empty()) {
            headerPath = args[i];
        } else if (bodyPath.empty()) {
            bodyPath = args[i];
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (headerPath.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    std::string header, body;
    if (!ReadWhole(headerPath, header)) {
        std::cerr << "txdump: cannot read " << headerPath << "\n";
        return 1;
    }
    if (!bodyPath.empty() && !ReadWhole(bodyPath, body)) {
        std::cerr << "txdump: cannot read " << bodyPath << "\n";
        return 1;
    }
    txMessage m;
    m.SetHeader(raw ? header : WithCrLf(header));
    m.SetBody(body);
    m.ParseHeader();
    for (const std::string& a : attachments) m.Attachments()->Add(a);

    Line("ValidMessage", m.ValidMessage());
    Line("SenderName", m.SenderName());
    Line("SenderAddress", m.SenderAddress());
    Line("ReplyToName", m.ReplyToName());
    Line("ReplyToAddress", m.ReplyToAddress());
    Line("ReceipentName", m.ReceipentName());
    Line("ReceipentAddress", m.ReceipentAddress());
    Line("Body", m.Body());
    long n = 0;
    for (const std::string& a : *m.Attachments()) {
        const std::string p = "Attachments(" + std::to_string(++n) + ")";
        Line(p, a);
        Line(p + ".ExtOK", m.ExtOK(a));
        const std::string text = m.GetAttachString(a);
        Line(p + ".length", static_cast<long>(text.size()));
        Line(p + ".bIsHtml", m.bIsHtml());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    tallix::SetProgramIdentity("txdump", "txdump");
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "template") return DumpTemplate(args[1]);
    if (args.size() >= 2 && args[0] == "message") {
        return DumpMessage(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    std::cerr << kUsage;
    return 2;
}
