#pragma once
// Shared helpers of the MIME component tests: files, generated data, and a host that
// records every event the control raises together with the thread it ran on.

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "qrmime/control.h"
#include "tests/support/test_env.h"

namespace mime_test {

using tallix::testing::ReadFileBytes;
using tallix::testing::TempDir;
using tallix::testing::WriteFileBytes;

// A failure guard only: operations end in milliseconds.
inline constexpr std::chrono::seconds kGenerousWait{20};

// Text written with "\n" line ends, turned into the CR LF lines of a message.
inline std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

inline std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

inline std::string DataFile(const std::string& name) {
    return std::string(MIME_TEST_DATA) + "/" + name;
}

// Records events as text lines ("DecodingStarted", "Decoded 10 7 1", ...), names parts by
// a table (proposed name -> destination), and notes the thread of every event.
class RecordingHost : public qrmime::QRMIMEEvents {
  public:
    std::vector<std::string> log;
    std::vector<std::thread::id> threads;
    // DecodingFile: each call takes the next entry; past the end the proposed name stays.
    std::vector<std::string> names;
    std::size_t nextName = 0;

    void EncodingStarted() override { Note("EncodingStarted"); }
    void DecodingStarted() override { Note("DecodingStarted"); }
    void Encoded(std::int32_t r, std::int32_t w, std::int32_t n) override {
        Note("Encoded " + std::to_string(r) + " " + std::to_string(w) + " " + std::to_string(n));
    }
    void Decoded(std::int32_t r, std::int32_t w, std::int32_t n) override {
        Note("Decoded " + std::to_string(r) + " " + std::to_string(w) + " " + std::to_string(n));
    }
    void DecodingFinished(std::int16_t e) override {
        Note("DecodingFinished " + std::to_string(e));
    }
    void EncodingFinished(std::int16_t e) override {
        Note("EncodingFinished " + std::to_string(e));
    }
    void DecodingFile(std::string& fileName, const std::string& type,
                      const std::string& encoding) override {
        Note("DecodingFile [" + fileName + "] [" + type + "] [" + encoding + "]");
        if (nextName < names.size()) fileName = names[nextName++];
    }

    // The log lines that start with `prefix`.
    std::vector<std::string> Only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& line : log)
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }

  private:
    void Note(std::string line) {
        log.push_back(std::move(line));
        threads.push_back(std::this_thread::get_id());
    }
};

}  // namespace mime_test
