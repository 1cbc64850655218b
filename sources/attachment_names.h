#pragma once
// File names for attachments. The name a message gives an attachment is untrusted text: it
// may hold directories, "..", control characters or nothing at all. Before it becomes a file
// in the scratch directory it is reduced to a safe base name, and names already given to
// other attachments of the same message are not reused.

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

namespace tallix::sources {

// Longest base name kept, in bytes; leaves room for the "$$" prefix and a numbering suffix
// within the 255 bytes a file name may have.
inline constexpr std::size_t kMaxAttachmentNameBytes = 200;

// The last path component of `name` with control characters removed, blanks trimmed and the
// length bounded (never inside a UTF-8 sequence, keeping a short extension); never empty,
// never "." or "..".
std::string SafeBaseName(std::string_view name);

// `name`, or `name` numbered before its first dot ("a.txt", "a-2.txt", "a-3.txt") until it is
// not in `taken`; the result is added to `taken`.
std::string UniqueName(const std::string& name, std::set<std::string>& taken);

// What every attachment file of a message is named with before its name.
inline constexpr std::string_view kAttachmentPrefix = "$$";

// The file name of an attachment in the scratch directory, the same for every kind of source:
// "$$" and the safe base name of `source` (the name the message gives it), numbered when this
// message already has an attachment of that name (`taken`, to which the name is added).
std::string AttachmentFileName(std::string_view source, std::set<std::string>& taken);

// The MIME type ("type/subtype", lower case) of a Content-Type field or value: without the
// field name and the parameters; "" when there is none.
std::string MimeTypeOf(std::string_view contentType);

}  // namespace tallix::sources
