#pragma once
// Whole files: the one reader for the readers that take a file in one piece, the one writer
// loop under every file the system writes (new files, appended lines, the profile files'
// temporary copies), and the writer of a new file in one piece.

#include <sys/stat.h>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tallix {

// Reads the regular file `path` whole into `out`; the errno of the failure, 0 on success.
// Anything but a regular file (a directory, a FIFO that would block) is refused, and so (with
// EFBIG) is a file of more than `maxBytes` bytes, by its size before anything is read.
int ReadRegularFile(const std::string& path, std::string& out, std::size_t maxBytes = SIZE_MAX);

// Appends `bytes` to `path` (created, mode 0644 before the umask, when missing) with one
// open, write and close, so another program may read the file between two appends. `after`,
// when given, receives the file's state after the write. The errno of the failure, 0 on
// success; appending nothing only checks that the file can be opened for appending.
int AppendToFile(const std::string& path, std::string_view bytes, struct stat* after = nullptr);

// Writes all of `bytes` to the open file `fd`, going on after short writes and interruptions.
// The errno of the failure, 0 on success.
int WriteAll(int fd, std::string_view bytes);

// Creates `path` and writes `pieces` into it one after another. The file must not exist yet:
// a file or link left at that name is never written through (EEXIST). The errno of the
// failure, 0 on success; a file that could not be written whole is removed again.
int WriteNewFile(const std::string& path, std::initializer_list<std::string_view> pieces,
                 mode_t mode = 0600);

}  // namespace tallix
