#include "engine/winsock_errors.h"

#include <algorithm>
#include <iterator>

namespace tallix::engine {
namespace {

struct WinsockError {
    std::int16_t key;  // code - 10000
    const char* name;
    const char* description;
};

constexpr WinsockError kTable[] = {
    {-10000, "WSABASEERR", "No Error"},
    {4, "WSAEINTR", "Interrupted system call"},
    {9, "WSAEBADF", "Bad file number"},
    {13, "WSAEACCES", "Permission denied"},
    {14, "WSAEFAULT", "Bad address"},
    {22, "WSAEINVAL", "Invalid argument"},
    {24, "WSAEMFILE", "Too many open files"},
    {35, "WSAEWOULDBLOCK", "Operation would block"},
    {36, "WSAEINPROGRESS", "Operation now in progress"},
    {37, "WSAEALREADY", "Operation already in progress"},
    {38, "WSAENOTSOCK", "Socket operation on non-socket"},
    {39, "WSAEDESTADDRREQ", "Destination address required"},
    {40, "WSAEMSGSIZE", "Message too long"},
    {41, "WSAEPROTOTYPE", "Protocol wrong type for socket"},
    {42, "WSAENOPROTOOPT", "Bad protocol option"},
    {43, "WSAEPROTONOSUPPORT", "Protocol not supported"},
    {44, "WSAESOCKTNOSUPPORT", "Socket type not supported"},
    {45, "WSAEOPNOTSUPP", "Operation not supported on socket"},
    {46, "WSAEPFNOSUPPORT", "Protocol family not supported"},
    {47, "WSAEAFNOSUPPORT", "Address family not supported by protocol family"},
    {48, "WSAEADDRINUSE", "Address already in use"},
    {49, "WSAEADDRNOTAVAIL", "Can't assign requested address"},
    {50, "WSAENETDOWN", "Network is down"},
    {51, "WSAENETUNREACH", "Network is unreachable"},
    {52, "WSAENETRESET", "Net dropped connection or reset"},
    {53, "WSAECONNABORTED", "Software caused connection abort"},
    {54, "WSAECONNRESET", "Connection reset by peer"},
    {55, "WSAENOBUFS", "No buffer space available"},
    {56, "WSAEISCONN", "Socket is already connected"},
    {57, "WSAENOTCONN", "Socket is not connected"},
    {58, "WSAESHUTDOWN", "Can't send after socket shutdown"},
    {59, "WSAETOOMANYREFS", "Too many references, can't splice"},
    {60, "WSAETIMEDOUT", "Connection timed out"},
    {61, "WSAECONNREFUSED", "Connection refused"},
    {62, "WSAELOOP", "Too many levels of symbolic links"},
    {63, "WSAENAMETOOLONG", "File name too long"},
    {64, "WSAEHOSTDOWN", "Host is down"},
    {65, "WSAEHOSTUNREACH", "No Route to Host"},
    {66, "WSAENOTEMPTY", "Directory not empty"},
    {67, "WSAEPROCLIM", "Too many processes"},
    {68, "WSAEUSERS", "Too many users"},
    {69, "WSAEDQUOT", "Disc Quota Exceeded"},
    {70, "WSAESTALE", "Stale NFS file handle"},
    {71, "WSAEREMOTE", "Too many levels of remote in path"},
    {91, "WSASYSNOTREADY", "Network SubSystem is unavailable"},
    {92, "WSAVERNOTSUPPORTED", "WINSOCK DLL Version out of range"},
    {93, "WSANOTINITIALISED", "Successful WSASTARTUP not yet performed"},
    {1001, "WSAHOST_NOT_FOUND", "Host not found"},
    {1002, "WSATRY_AGAIN", "Non-Authoritative Host not found"},
    {1003, "WSANO_RECOVERY", "Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {1004, "WSANO_DATA or WSANO_ADDRESS",
     "Valid name, no data record of requested type *OR* No address, look for MX record"},
};

}  // namespace

std::string WinsockErrorText(std::int16_t number, std::string* name) {
    auto it = std::find_if(std::begin(kTable), std::end(kTable),
                           [&](const WinsockError& e) { return e.key == number; });
    if (it == std::end(kTable)) {
        if (name) name->clear();
        return "Unknown Error";
    }
    if (name) *name = it->name;
    return it->description;
}

}  // namespace tallix::engine
