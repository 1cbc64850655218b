#pragma once
// Names and descriptions of the Windows Sockets error codes, keyed by the code minus 10000
// (the POP3 client reports socket failures with these keys).

#include <cstdint>
#include <string>

namespace tallix::engine {

// The description for `number`; `name` (when given) receives the code's name. An unlisted
// number gives the name "" and the description "Unknown Error".
std::string WinsockErrorText(std::int16_t number, std::string* name = nullptr);

}  // namespace tallix::engine
