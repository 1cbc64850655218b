#pragma once
// What the POP3 client raises on its host while it works. The engine's window handles them.

#include <cstdint>
#include <string>

namespace tallix::sources {

class Pop3ClientEvents {
  public:
    virtual ~Pop3ClientEvents() = default;
    // A socket-level failure: the Windows Sockets error code minus 10000
    // (connection refused = 61, host not found = 1001).
    virtual void Error(std::int16_t number) = 0;
    // A progress text from the client.
    virtual void Status(const std::string& text) = 0;
};

}  // namespace tallix::sources
