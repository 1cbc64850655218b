#pragma once
// Reading a whole file, for the readers that take a file in one piece.

#include <string>
#include <string_view>
#include <sys/stat.h>

namespace tallix {

// Reads the regular file `path` whole into `out`; the errno of the failure, 0 on success.
// Anything but a regular file (a directory, a FIFO that would block) is refused.
int ReadRegularFile(const std::string& path, std::string& out);

// Appends `bytes` to `path` (created, mode 0644 before the umask, when missing) with one
// open, write and close, so another program may read the file between two appends. `after`,
// when given, receives the file's state after the write. The errno of the failure, 0 on
// success; appending nothing only checks that the file can be opened for appending.
int AppendToFile(const std::string& path, std::string_view bytes, struct stat* after = nullptr);

}  // namespace tallix
