// Variable extraction and the output line on the engine's run state: any message fields,
// attachment texts, start and stop strings, under every combination of the five flags. The
// value is a piece of the field it came from, and the built line keeps the filters' promises.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/extraction.h"
#include "engine/output_line.h"
#include "engine/run_context.h"
#include "fuzz/fuzz_support.h"
#include "model/collection.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "model/message.h"
#include "model/object_collections.h"
#include "model/template.h"
#include "settings/error_reporter.h"
#include "tests/engine/fake_source.h"

using namespace tallix;

namespace {

constexpr std::string_view kFields[] = {kFieldMsgText,    kFieldMsgSubject,    kFieldAttachment,
                                        kFieldSenderName, kFieldSenderAddress, kFieldRecipientName};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& sandbox = fuzz::Environment();
    fuzz::TrimLogs();
    const auto parts = fuzz::SplitInput(data, size, 7);
    const std::string_view start = parts[0], stop = parts[1];

    // Hands the engine one message.
    static engine::testing::FakeSource source;
    source.recordCalls = false;
    auto message = std::make_shared<txMessage>();
    message->SetBody(parts[2]);
    message->SetSubject(parts[3]);
    message->SetSenderName(parts[3]);
    message->SetReceipentName(parts[2]);
    source.address = std::string(parts[3]);
    // Two attachment files, the second read as HTML because its path holds "HTM".
    const std::string plain = sandbox.work + "/first.txt", html = sandbox.work + "/second.htm";
    fuzz::WriteFile(plain, parts[4]);
    fuzz::WriteFile(html, parts[5]);
    auto attachments = std::make_shared<TextCollection>();
    attachments->Add(plain);
    attachments->Add(html);
    message->SetAttachments(attachments);
    source.SetMessage(message);

    engine::RunContext run;
    engine::MessageWork offered(source, 1);

    const std::string_view field =
        kFields[parts[6].empty() ? 0 : static_cast<unsigned char>(parts[6][0]) % 6];
    for (int flags = 0; flags < 32; ++flags) {
        auto tpl = std::make_shared<clsTemplate>();
        auto variable = tpl->colFields()->Add();
        variable->SetFieldName("V");
        variable->SetFieldType(field);
        variable->SetFindStart(start);
        variable->SetFindStop(stop);
        variable->SetStartOfLineOnly(flags & 1 ? "1" : "0");
        variable->SetMatchWholeString(flags & 2 ? "1" : "0");
        variable->SetMatchCase(flags & 4 ? "1" : "0");
        variable->SetRemoveLF(flags & 8 ? "1" : "0");
        variable->SetUseQuotes(flags & 16 ? "1" : "0");
        engine::TemplateWork work(tpl, 0);
        work.outputOrder = {"V", "V"};

        engine::ParseVariable(run, offered, work, 1);
        FUZZ_CHECK(Err().number == 0, Err().description);
        const std::string value = variable->Value();
        if (!(flags & 16) && field != kFieldAttachment) {
            const std::string whole = engine::GetValue(offered, field, 0);
            FUZZ_CHECK(whole.find(value) != std::string::npos, value);
        }

        engine::CreateOutputString(work);
        const std::string& line = work.outputLine;
        FUZZ_CHECK(line.find("  ") == std::string::npos, line);
        FUZZ_CHECK(line.empty() || (line.front() != ' ' && line.back() != ' '), line);
        if (flags & 8) FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, line);
    }

    // The same through a field definition as a template file gives it.
    auto tpl = std::make_shared<clsTemplate>();
    tpl->ParseFieldString(parts[6]);
    engine::TemplateWork work(tpl, 0);
    if (tpl->colFields()->Count() > 0) engine::ParseVariable(run, offered, work, 1);
    Err().Clear();
    return 0;
}
