#pragma once
// The rewrite of a CompuServe sender's address into an Internet address: the user number
// "[71234,567]" becomes "71234.567@compuserve.com". Every other sender keeps its address.

#include <string>
#include <string_view>

namespace tallix::sources {

inline constexpr std::string_view kCompuServeType = "COMPUSERVE";
inline constexpr std::string_view kCompuServeMailDomain = "compuserve.com";

// `address` rewritten when `senderType`, upper-cased, is "COMPUSERVE"; else unchanged. An
// address without a comma is left unchanged too.
std::string CompuServeAddress(std::string_view address, std::string_view senderType);

}  // namespace tallix::sources
