#pragma once
// What the mailbox-file tests share: a decoder that names its output the way the MIME component
// does, and a fixture that writes a mailbox file and connects a source to it.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "sources/netscape_source.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::sources::testsupport {

namespace fs = std::filesystem;
using tallix::testing::ReadFileBytes;
using tallix::testing::WriteFileBytes;

// Decodes the way the MIME component does as far as naming goes: the output file is named
// by the name parameter of the part's Content-Type field; the content written is the text
// after the part's blank line, so a test can tell the parts apart.
class FakeDecoder final : public AttachmentDecoder {
  public:
    bool DecodeFile(const std::string& sourceFile, const std::string& destinationDir,
                    const sources::DecodeCallbacks&) override {
        const std::string text = ReadFileBytes(sourceFile);
        inputs.push_back(text);
        std::size_t fieldEnd = 0;
        while ((fieldEnd = text.find("\r\n", fieldEnd)) != std::string::npos &&
               fieldEnd + 2 < text.size() &&
               (text[fieldEnd + 2] == ' ' || text[fieldEnd + 2] == '\t')) {
            fieldEnd += 2;
        }
        const std::string field = UCase(text.substr(0, fieldEnd));
        const std::size_t at = field.find("NAME=\"");
        if (at == std::string::npos) return false;
        const std::size_t close = text.find('"', at + 6);
        const std::string name = text.substr(at + 6, close - at - 6);
        const std::size_t blank = text.find("\r\n\r\n");
        const std::string body = blank == std::string::npos ? "" : text.substr(blank + 4);
        WriteFileBytes(destinationDir + "/" + name, body);
        written.push_back(destinationDir + "/" + name);
        return succeed;
    }
    std::vector<std::string> inputs;
    std::vector<std::string> written;
    bool succeed = true;
};

class MailboxFile : public ::testing::Test {
  protected:
    MailboxFile() {
        ResetSettings();
        SetSilentMode(true);
    }
    ~MailboxFile() override { ResetSettings(); }

    std::unique_ptr<clsNetscape> Open(const std::string& bytes,
                                      std::string_view kind = kSourceNetscape) {
        WriteFileBytes(dir.File("mailbox"), bytes);
        return OpenPath(dir.File("mailbox"), kind);
    }
    std::unique_ptr<clsNetscape> OpenPath(const std::string& path,
                                          std::string_view kind = kSourceNetscape) {
        Settings().useSource = kind;
        Settings().localFileName = path;
        auto source = std::make_unique<clsNetscape>();
        source->SetAttachmentDecoder(&decoder);
        source->Connect();
        return source;
    }
    // Every message handed over, in order; stops at a bound so a walk that never ends fails.
    static std::vector<std::shared_ptr<txMessage>> Walk(clsNetscape& source) {
        std::vector<std::shared_ptr<txMessage>> out;
        source.GetFirstMsg();
        while (source.Message() && out.size() < 10000) {
            out.push_back(source.Message());
            source.GetNextMsg();
        }
        return out;
    }
    std::string ErrorLog() const { return env.ReadProgramFile(std::string(kErrorLog)); }
    std::size_t Reports(const std::string& text) const {
        const std::string log = ErrorLog();
        std::size_t n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }

    testing::IsolatedEnvironment env;
    testing::ScriptedUi ui;
    testing::TempDir dir;
    FakeDecoder decoder;
};

// The path names an existing file directly inside the scratch directory.
inline bool InsideScratch(const std::string& path) {
    const fs::path p = fs::weakly_canonical(path);
    return p.parent_path() == fs::weakly_canonical(ScratchDir()) && fs::exists(p);
}

}  // namespace tallix::sources::testsupport
