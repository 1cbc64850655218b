#include "settings/run_time_error.h"

#include <cerrno>
#include <cstring>

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

void RunTimeError::SetFile(std::string path, std::string reason) {
    m_file = std::move(path);
    m_reason = std::move(reason);
}

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
    RunTimeError e(ErrorNumberFromErrno(err));
    e.SetSystemError(err);
    throw e;
}

void RaiseErrno(int err, std::string file) {
    RunTimeError e(ErrorNumberFromErrno(err));
    e.SetSystemError(err);
    e.SetFile(std::move(file), SystemReason(err));
    throw e;
}

void RaiseForFile(int number, std::string file, std::string reason) {
    RunTimeError e(number);
    e.SetFile(std::move(file), std::move(reason));
    throw e;
}

std::string SystemReason(int err) {
    return std::strerror(err);
}

std::string FileFaultLine(std::string_view file, std::string_view reason) {
    std::string line(file);
    if (!reason.empty()) line.append(": ").append(reason);
    return line;
}

}  // namespace tallix
