#pragma once
// A small Maildir written by the tests: one message of each kind the local mail store must
// read (plain, UTF-8 and ISO-8859-1 bodies, encoded words, HTML only, no recipients,
// attachments with plain, RFC 2231, repeated and hostile names, binary junk, a cut-off
// file, a message no template wants), plus files that are not messages of the inbox.

#include <cstdint>
#include <string>
#include <vector>

namespace tallix::testing {

// The first delivery time (3/2/2026 10:00:00 UTC); each message is delivered a minute later.
inline constexpr std::int64_t kFixtureFirstDelivery = 1772445600;

struct FixtureMessage {
    std::string file;  // "new/..." or "cur/..."
    std::string bytes;
};

// The messages in delivery order.
const std::vector<FixtureMessage>& FixtureMessages();
// Writes the Maildir (creating `dir`, cur/, new/ and tmp/) with every fixture message, a
// dot file in cur/ and a delivery still in tmp/.
void WriteMaildirFixture(const std::string& dir);

}  // namespace tallix::testing
