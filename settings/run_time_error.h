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
    // The errno value the failure came from; 0 when it did not come from the system.
    int SystemError() const { return m_systemError; }
    void SetSystemError(int err) { m_systemError = err; }
    // The file (or folder) the failure concerns and the system's reason, when known: a report
    // names them on a line of their own.
    const std::string& File() const { return m_file; }
    const std::string& Reason() const { return m_reason; }
    void SetFile(std::string path, std::string reason);

  private:
    int m_number;
    std::string m_description;
    int m_systemError = 0;
    std::string m_file;
    std::string m_reason;
};

[[noreturn]] void Raise(int number);
[[noreturn]] void Raise(int number, std::string description);

// The run-time error number for a C library errno value (ENOENT gives 53, EACCES 70, ...).
int ErrorNumberFromErrno(int err);

// Raises the run-time error that matches errno value `err`.
[[noreturn]] void RaiseErrno(int err);
// The same, naming the file it concerns (the system's reason is errno's text).
[[noreturn]] void RaiseErrno(int err, std::string file);
// Raises run-time error `number` concerning `file`, for `reason`.
[[noreturn]] void RaiseForFile(int number, std::string file, std::string reason);

// The system's text for errno value `err` ("No such file or directory").
std::string SystemReason(int err);
// The line a report gives a file and the reason it failed: "path: reason".
std::string FileFaultLine(std::string_view file, std::string_view reason);

// Runs `body` and gives its value. A run-time error raised inside it that names no file is
// raised again naming `file` (the caller knows which file the body was working on), with the
// system's reason when it came from the system, else its description.
template <class Body>
decltype(auto) ConcerningFile(const std::string& file, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (RunTimeError& e) {
        if (e.File().empty())
            e.SetFile(file, e.SystemError() ? SystemReason(e.SystemError()) : e.Description());
        throw;
    }
}

}  // namespace tallix
