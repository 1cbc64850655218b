// The message record's header rules: any header text and any address value are split into
// the three name and address pairs without a crash, a hang or an error report.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "model/message.h"
#include "settings/error_reporter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tallix::fuzz::Environment();
    tallix::fuzz::TrimLogs();
    const auto parts = tallix::fuzz::SplitInput(data, size, 3);

    tallix::txMessage m;
    m.SetHeader(parts[0]);
    m.ParseHeader();
    FUZZ_CHECK(tallix::Err().number == 0, tallix::Err().description);

    static constexpr std::string_view kTypes[] = {
        tallix::kSenderPropSender, tallix::kSenderPropReplyTo, tallix::kSenderPropRecipient};
    const std::size_t which = parts[2].empty() ? 0 : static_cast<unsigned char>(parts[2][0]) % 3;
    m.SetSenderProp(parts[1], kTypes[which]);

    const std::string unquoted = m.RemoveQuotes(parts[1]);
    FUZZ_CHECK(unquoted.find_first_of("\"'") == std::string::npos, unquoted);
    FUZZ_CHECK(unquoted.size() <= parts[1].size(), unquoted);
    return 0;
}
