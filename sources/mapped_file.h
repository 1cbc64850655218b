#pragma once
// A read-only view of a whole file, mapped rather than copied, so that a mailbox of several
// gigabytes costs address space and page cache, not heap.

#include <cstddef>
#include <string>
#include <string_view>

namespace tallix::sources {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;

    // Maps `path` (a regular file) for reading; raises the run-time error that matches the
    // failure (file not found 53, permission denied 70, ...). An empty file gives an empty
    // view.
    void Open(const std::string& path);
    void Close();

    std::string_view Text() const { return {m_data, m_size}; }
    std::size_t Size() const { return m_size; }

private:
    const char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_mapped = false;
};

}  // namespace tallix::sources
