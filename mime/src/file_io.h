#pragma once
// Plain POSIX file access for the codec: reads by offset (no mapping, so a file that
// shrinks while it is read gives a short read rather than a fault) and writes that
// report every failure, including the one a close can bring.

#include <cstdint>
#include <string>

namespace qrmime::detail {

class InputFile {
  public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool Open(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    std::uint64_t Size() const { return m_size; }
    // Reads up to `length` bytes at `offset` into `out` (replacing its content). False on a
    // read error; a short result means the end of the file.
    bool ReadAt(std::uint64_t offset, std::size_t length, std::string& out) const;
    // Reads the next `length` bytes in sequence.
    bool ReadNext(std::size_t length, std::string& out);
    void Close();

  private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_position = 0;
};

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties an existing one.
    bool Create(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    bool Write(const char* data, std::size_t length);
    bool Write(const std::string& data) { return Write(data.data(), data.size()); }
    std::uint64_t Written() const { return m_written; }
    bool Close();

  private:
    int m_fd = -1;
    std::uint64_t m_written = 0;
};

}  // namespace qrmime::detail
