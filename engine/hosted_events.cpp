#include "engine/hosted_events.h"

#include "engine/winsock_errors.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"

namespace tallix::engine {

std::string WinsockLogText(std::int16_t number) {
    std::string name;
    std::string description = WinsockErrorText(number, &name);
    return "WinSock error " + std::to_string(number) + ", " + name + ": " + description;
}

void EnginePop3Events::Error(std::int16_t number) {
    Guard("frmMain - qrpopctl_Error", [&] { WriteLog(kErrorLog, WinsockLogText(number)); });
}

}  // namespace tallix::engine
