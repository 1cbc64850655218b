#pragma once
// Reading a whole file, for the readers that take a file in one piece.

#include <string>

namespace tallix {

// Reads the regular file `path` whole into `out`; the errno of the failure, 0 on success.
// Anything but a regular file (a directory, a FIFO that would block) is refused.
int ReadRegularFile(const std::string& path, std::string& out);

}  // namespace tallix
