#include "settings/run_time_error.h"

#include <cerrno>

namespace tallix {

std::string_view StandardErrorDescription(int number) {
    switch (number) {
        case 5:
            return "Invalid procedure call or argument";
        case 6:
            return "Overflow";
        case 7:
            return "Out of memory";
        case 9:
            return "Subscript out of range";
        case 13:
            return "Type mismatch";
        case 51:
            return "Internal error";
        case 52:
            return "Bad file name or number";
        case 53:
            return "File not found";
        case 54:
            return "Bad file mode";
        case 55:
            return "File already open";
        case 57:
            return "Device I/O error";
        case 58:
            return "File already exists";
        case 61:
            return "Disk full";
        case 62:
            return "Input past end of file";
        case 67:
            return "Too many files";
        case 68:
            return "Device unavailable";
        case 70:
            return "Permission denied";
        case 75:
            return "Path/File access error";
        case 76:
            return "Path not found";
        case 380:
            return "Invalid property value";
        case 424:
            return "Object required";
        default:
            return "Application-defined or object-defined error";
    }
}

RunTimeError::RunTimeError(int number)
    : RunTimeError(number, std::string(StandardErrorDescription(number))) {}

RunTimeError::RunTimeError(int number, std::string description)
    : std::runtime_error(description), m_number(number), m_description(std::move(description)) {}

void Raise(int number) {
    throw RunTimeError(number);
}
void Raise(int number, std::string description) {
    throw RunTimeError(number, std::move(description));
}

int ErrorNumberFromErrno(int err) {
    switch (err) {
        case ENOENT:
            return kErrFileNotFound;
        case ENOTDIR:
            return kErrPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrPermissionDenied;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return kErrDiskFull;
        case ENAMETOOLONG:
        case EINVAL:
            return kErrBadFileName;
        case EISDIR:
            return kErrPathFileAccess;
        case EEXIST:
            return kErrFileExists;
        case EMFILE:
        case ENFILE:
            return kErrTooManyFiles;
        case ENOMEM:
            return kErrOutOfMemory;
        case ENXIO:
        case ENODEV:
            return kErrDeviceUnavailable;
        case EIO:
        default:
            return kErrDeviceIo;
    }
}

void RaiseErrno(int err) {
    Raise(ErrorNumberFromErrno(err));
}

}  // namespace tallix
