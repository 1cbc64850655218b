#pragma once
// A deterministic Netscape mailbox: the same N gives the same bytes on every machine. The
// mix is roughly what a shop's order inbox holds: plain order confirmations, HTML
// confirmations, contact forms with a CSV attachment, and newsletters no template wants.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string_view>

namespace tallix::bench {

struct MailboxMix {
    bool attachments = true;  // false: the attachment messages become plain ones
    // The reference workload of the speed benchmark (bench/run_speed.sh), in a fixed cycle:
    // two in five plain orders, one in five HTML orders, one in five with a base64 CSV
    // attachment, one in five unrelated (every other one of them about lunch). Without
    // attachments the cycle is four long: two plain orders, one HTML order, one unrelated.
    bool reference = false;
};

// Writes `count` messages; returns the number of bytes written.
std::uint64_t WriteMailbox(std::ostream& out, std::uint64_t count, MailboxMix mix = {});
// The same messages one at a time: the separator line that starts each in the mailbox, and
// the message itself (CR LF lines, without the separator).
void ForEachMessage(
    std::uint64_t count, MailboxMix mix,
    const std::function<void(std::string_view separator, std::string_view message)>& visit);

}  // namespace tallix::bench
