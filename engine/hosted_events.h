#pragma once
// The engine window's handlers for the events of the controls it hosts.

#include "sources/pop3_client_events.h"

namespace tallix::engine {

// Socket errors go to txError.Log as "WinSock error N, NAME: description"; nothing is shown.
// Status texts are accepted and ignored.
class EnginePop3Events final : public sources::Pop3ClientEvents {
  public:
    void Error(std::int16_t number) override;
    void Status(const std::string& text) override {}
};

// The error-log text of a socket error.
std::string WinsockLogText(std::int16_t number);

}  // namespace tallix::engine
