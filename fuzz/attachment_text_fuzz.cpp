// The readers of attachments on any bytes: the input's first byte picks the reader (PDF,
// .xlsx, .ods, .xls, a forwarded message, a winmail.dat), the rest is the file. A reader
// never raises, never gives more than its caps and, when it fails, says why.

#include <cstdint>
#include <string>

#include "engine/attachment_parts.h"
#include "engine/attachment_text.h"
#include "fuzz/fuzz_support.h"

using namespace tallix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const fuzz::Sandbox& box = fuzz::Environment();
    constexpr engine::AttachmentKind kKinds[] = {
        engine::AttachmentKind::Pdf, engine::AttachmentKind::Xlsx, engine::AttachmentKind::Ods,
        engine::AttachmentKind::Xls};
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 6 == 4 || data[0] % 6 == 5) {
        // The containers: in this process, where a fault of the TNEF library would show.
        const engine::OpenedContainer opened =
            data[0] % 6 == 4 ? engine::OpenForwardedMessage(bytes) : engine::OpenTnef(bytes);
        std::size_t total = 0;
        for (const engine::InnerFile& file : opened.files) total += file.data.size();
        if (opened.files.size() > engine::kMaxInnerFiles || total > engine::kMaxInnerBytes)
            fuzz::Fail("a container gave more than its caps");
        if (!opened.ok && opened.problem.empty()) fuzz::Fail("a failure without a reason");
        return 0;
    }
    const engine::AttachmentKind kind = kKinds[data[0] % 4];
    const std::string path = box.work + "/attachment.xls";
    fuzz::WriteFile(path, bytes);
    const engine::ConvertedText converted = engine::ConvertAttachment(path, kind);
    if (converted.ok && converted.text.size() > engine::kMaxConvertedBytes)
        fuzz::Fail("the text passed its cap");
    if (!converted.ok && converted.problem.empty()) fuzz::Fail("a failure without a reason");
    // The kind found from the bytes is one the readers know.
    (void)engine::KindOfAttachment(path, bytes);
    fuzz::TrimLogs();
    return 0;
}
