// Throughput of the transfer-encoding codecs (MB/s) and the cost of one whole decode
// operation of a small message through the control (worker hand-over and event round trips).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "qrmime/codec.h"
#include "qrmime/control.h"

namespace {

constexpr std::size_t kDataSize = 4 * 1024 * 1024;
constexpr std::size_t kDecodeChunk = 8192;

std::string RandomBytes(std::size_t size) {
    std::mt19937 rng(42);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

std::string RandomText(std::size_t size) {
    // Mostly printable text with some bytes that quoted-printable escapes.
    std::mt19937 rng(7);
    std::string text(size, ' ');
    for (char& c : text) {
        unsigned r = rng() % 100;
        c = r < 90 ? static_cast<char>('a' + r % 26) : r < 95 ? ' ' : static_cast<char>(0xC3);
    }
    return text;
}

std::string QuotedPrintable(const std::string& text) {
    std::string out;
    int column = 0;
    for (unsigned char c : text) {
        char piece[4];
        int len = 1;
        if (c >= 0x80 || c == '=') {
            std::snprintf(piece, sizeof piece, "=%02X", c);
            len = 3;
        } else {
            piece[0] = static_cast<char>(c);
        }
        if (column + len > 75) {
            out += "=\r\n";
            column = 0;
        }
        out.append(piece, len);
        column += len;
    }
    return out;
}

void DecodeInChunks(benchmark::State& state, qrmime::TransferEncoding encoding,
                    const std::string& input) {
    qrmime::StreamDecoder decoder;
    std::string out;
    out.reserve(kDecodeChunk);
    for (auto _ : state) {
        decoder.Reset(encoding);
        for (std::size_t pos = 0; pos < input.size(); pos += kDecodeChunk) {
            out.clear();
            decoder.Decode(std::string_view(input).substr(pos, kDecodeChunk), out);
            benchmark::DoNotOptimize(out.data());
        }
        out.clear();
        decoder.Finish(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_Base64Decode(benchmark::State& state) {
    static const std::string encoded = [] {
        std::string out;
        qrmime::AppendBase64Lines(RandomBytes(kDataSize), out);
        return out;
    }();
    DecodeInChunks(state, qrmime::TransferEncoding::Base64, encoded);
}
BENCHMARK(BM_Base64Decode);

void BM_QuotedPrintableDecode(benchmark::State& state) {
    static const std::string encoded = QuotedPrintable(RandomText(kDataSize));
    DecodeInChunks(state, qrmime::TransferEncoding::QuotedPrintable, encoded);
}
BENCHMARK(BM_QuotedPrintableDecode);

void BM_Base64Encode(benchmark::State& state) {
    static const std::string data = RandomBytes(kDataSize);
    constexpr std::size_t kChunk = qrmime::QRMIMECtrl::kEncodeChunk;
    std::string out;
    out.reserve(kChunk * 2);
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < data.size(); pos += kChunk) {
            out.clear();
            qrmime::AppendBase64Lines(std::string_view(data).substr(pos, kChunk), out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Base64Encode);

// A 2 KB message (text body and a small base64 attachment) decoded through the control:
// scan, DecodingFile, worker start, every event round trip, files written. Every part goes
// to a new file: rewriting one file in place makes ext4 flush it on close, which would
// measure the disk rather than the component.
class NamingHost final : public qrmime::QRMIMEEvents {
  public:
    std::string directory;
    int n = 0;
    void DecodingFile(std::string& fileName, const std::string&, const std::string&) override {
        fileName = directory + "/part" + std::to_string(n++);
    }
};

void BM_DecodeSmallMessageOperation(benchmark::State& state) {
    char dirTemplate[] = "/tmp/qrmime-bench-XXXXXX";
    std::string dir = ::mkdtemp(dirTemplate);
    std::string attachment;
    qrmime::AppendBase64Lines(RandomBytes(1000), attachment);
    std::string message =
        "From: a@example.org\r\nTo: b@example.org\r\nSubject: bench\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n\r\n" +
        std::string(400, 'x') +
        "\r\n--b1\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        attachment + "\r\n--b1--\r\n";
    std::string path = dir + "/msg.eml";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(message.data(), 1, message.size(), f);
        std::fclose(f);
    }
    NamingHost host;
    host.directory = dir;
    qrmime::QRMIMECtrl ctrl;
    ctrl.SetEvents(&host);
    ctrl.SetSourceFilename(path);
    for (auto _ : state) {
        if (!ctrl.MIMEDecode() || !ctrl.WaitUntilIdle(std::chrono::seconds(10))) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    state.counters["message_bytes"] = static_cast<double>(message.size());
    std::remove(path.c_str());
    for (int i = 0; i < host.n; ++i) std::remove((dir + "/part" + std::to_string(i)).c_str());
    ::rmdir(dir.c_str());
}
BENCHMARK(BM_DecodeSmallMessageOperation)->Unit(benchmark::kMicrosecond);

// The smallest whole operation: a single-part entity with a short base64 body, one part
// written. What it costs is almost all worker hand-over and event round trips.
void BM_DecodeSinglePartOperation(benchmark::State& state) {
    char dirTemplate[] = "/tmp/qrmime-bench-XXXXXX";
    std::string dir = ::mkdtemp(dirTemplate);
    std::string body;
    qrmime::AppendBase64Lines(RandomBytes(120), body);
    std::string message =
        "Content-Type: application/octet-stream; name=\"s.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        body;
    std::string path = dir + "/single.eml";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(message.data(), 1, message.size(), f);
        std::fclose(f);
    }
    NamingHost host;
    host.directory = dir;
    qrmime::QRMIMECtrl ctrl;
    ctrl.SetEvents(&host);
    ctrl.SetSourceFilename(path);
    for (auto _ : state) {
        if (!ctrl.MIMEDecode() || !ctrl.WaitUntilIdle(std::chrono::seconds(10))) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    state.counters["message_bytes"] = static_cast<double>(message.size());
    std::remove(path.c_str());
    for (int i = 0; i < host.n; ++i) std::remove((dir + "/part" + std::to_string(i)).c_str());
    ::rmdir(dir.c_str());
}
BENCHMARK(BM_DecodeSinglePartOperation)->Unit(benchmark::kMicrosecond);

// The same message's bodies decoded without the control, for comparison.
void BM_DecodeSmallMessageCodecOnly(benchmark::State& state) {
    std::string attachment;
    qrmime::AppendBase64Lines(RandomBytes(1000), attachment);
    std::string text(400, 'x');
    qrmime::StreamDecoder decoder;
    std::string out;
    for (auto _ : state) {
        out.clear();
        decoder.Reset(qrmime::TransferEncoding::SevenBit);
        decoder.Decode(text, out);
        decoder.Finish(out);
        decoder.Reset(qrmime::TransferEncoding::Base64);
        decoder.Decode(attachment, out);
        decoder.Finish(out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_DecodeSmallMessageCodecOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
