#pragma once
// Header texts with encoded words ("=?UTF-8?B?...?=", "=?iso-8859-1?Q?...?="): each word is
// decoded from base64 or the Q form and converted from its character set to UTF-8. Blanks
// between two encoded words belong to neither and are dropped. A word that cannot be
// decoded (unknown character set, broken syntax) stays as it was written.

#include <string>
#include <string_view>

namespace tallix::sources {

std::string DecodeEncodedWords(std::string_view text);

}  // namespace tallix::sources
