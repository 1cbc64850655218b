// The readers of PDF and spreadsheet attachments on any bytes: the input's first byte picks
// the reader (PDF, .xlsx, .ods, .xls), the rest is the file. A reader never raises, never
// gives more text than its cap and, when it fails, says why.

#include <cstdint>
#include <string>

#include "engine/attachment_text.h"
#include "fuzz/fuzz_support.h"

using namespace tallix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const fuzz::Sandbox& box = fuzz::Environment();
    constexpr engine::AttachmentKind kKinds[] = {
        engine::AttachmentKind::Pdf, engine::AttachmentKind::Xlsx, engine::AttachmentKind::Ods,
        engine::AttachmentKind::Xls};
    const engine::AttachmentKind kind = kKinds[data[0] % 4];
    const std::string path = box.work + "/attachment.xls";
    fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    const engine::ConvertedText converted = engine::ConvertAttachment(path, kind);
    if (converted.ok && converted.text.size() > engine::kMaxConvertedBytes)
        fuzz::Fail("the text passed its cap");
    if (!converted.ok && converted.problem.empty()) fuzz::Fail("a failure without a reason");
    // The kind found from the bytes is one the readers know.
    (void)engine::KindOfAttachment(
        path, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    fuzz::TrimLogs();
    return 0;
}
