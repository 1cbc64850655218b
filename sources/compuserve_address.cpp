#include "sources/compuserve_address.h"

#include "settings/text_functions.h"

namespace tallix::sources {

std::string CompuServeAddress(std::string_view address, std::string_view senderType) {
    if (UCase(senderType) != kCompuServeType) return std::string(address);
    std::string_view a = address;
    if (const std::size_t open = a.find('['); open != std::string_view::npos)
        a.remove_prefix(open + 1);
    if (a.find(']') != std::string_view::npos) a.remove_suffix(1);
    const std::size_t comma = a.find(',');
    if (comma == std::string_view::npos) return std::string(address);
    return std::string(a.substr(0, comma)) + "." + std::string(a.substr(comma + 1)) + "@" +
           std::string(kCompuServeMailDomain);
}

}  // namespace tallix::sources
