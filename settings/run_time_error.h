#pragma once
// Run-time errors as the rest of the system sees them: a number and a description.
// The numbers are fixed per kind of failure (53 file not found, 70 permission denied, ...),
// and the logs show them with their descriptions ("Error# 53  File not found").

#include <stdexcept>
#include <string>
#include <string_view>

namespace tallix {

enum ErrorNumber : int {
    kErrInvalidCall = 5,
    kErrOverflow = 6,
    kErrOutOfMemory = 7,
    kErrSubscript = 9,
    kErrTypeMismatch = 13,
    kErrInternal = 51,
    kErrBadFileName = 52,
    kErrFileNotFound = 53,
    kErrBadFileMode = 54,
    kErrFileAlreadyOpen = 55,
    kErrDeviceIo = 57,
    kErrFileExists = 58,
    kErrDiskFull = 61,
    kErrInputPastEnd = 62,
    kErrTooManyFiles = 67,
    kErrDeviceUnavailable = 68,
    kErrPermissionDenied = 70,
    kErrPathFileAccess = 75,
    kErrPathNotFound = 76,
    kErrObjectRequired = 424,
    kErrInvalidProperty = 380,
};

// The standard description of a run-time error number ("File not found" for 53);
// "Application-defined or object-defined error" for numbers without one.
std::string_view StandardErrorDescription(int number);

// The error a procedure body raises; the guard turns it into the pending error.
class RunTimeError : public std::runtime_error {
  public:
    explicit RunTimeError(int number);
    RunTimeError(int number, std::string description);

    int Number() const { return m_number; }
    const std::string& Description() const { return m_description; }

  private:
    int m_number;
    std::string m_description;
};

[[noreturn]] void Raise(int number);
[[noreturn]] void Raise(int number, std::string description);

// The run-time error number for a C library errno value (ENOENT gives 53, EACCES 70, ...).
int ErrorNumberFromErrno(int err);

// Raises the run-time error that matches errno value `err`.
[[noreturn]] void RaiseErrno(int err);

}  // namespace tallix
