// The duplicate check over a large output file: how long the first check of a run takes (the
// file indexed), how that compares with only reading the file, the memory the index and the
// whole process take, and the cost of later checks and appends.
//
//   duplicate_bench [megabytes] [directory]     (default 500 MB in $TMPDIR or /tmp)
//
// The file holds order lines of about 90 bytes, every one distinct.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/file_watch.h"
#include "engine/output_files.h"

using namespace tallix::engine;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string OrderLine(std::uint64_t i) {
    return "DF-" + std::to_string(100000 + i) + ",\"Customer " + std::to_string(i % 977) +
           "\",customer" + std::to_string(i % 977) + "@example.org,\"Order " +
           std::to_string(100000 + i) + "\",3/2/2026,10:" + std::to_string(10 + i % 50) +
           ":00 AM," + std::to_string(10 + i % 400) + ".00";
}

// The processor time the process has had so far, in seconds: on a busy machine the wall
// clock also counts the time other processes had.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The largest resident size of the process so far, in MB.
double PeakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 500;
    std::string dir = argc > 2 ? argv[2] : "";
    if (dir.empty()) dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    const std::string path = dir + "/duplicate_bench_" + std::to_string(::getpid()) + ".csv";

    std::uint64_t lines = 0;
    {
        std::ofstream out(path, std::ios::binary);
        std::string block;
        const std::uint64_t wanted = megabytes << 20;
        std::uint64_t written = 0;
        while (written < wanted) {
            block.clear();
            while (block.size() < (1u << 20)) block.append(OrderLine(lines++)).append("\r\n");
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            written += block.size();
        }
    }
    const auto size = std::filesystem::file_size(path);
    const double mb = static_cast<double>(size) / 1048576.0;
    std::printf("output file: %.0f MB, %llu lines\n", mb, static_cast<unsigned long long>(lines));

    // Reading alone, for comparison (the file is in the page cache either way).
    auto start = Clock::now();
    double cpu = CpuSeconds();
    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        std::string buffer(1 << 20, '\0');
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
    const double readSeconds = Seconds(start);
    std::printf("reading the file:        %6.2f s  %7.0f MB/s  (processor %.2f s)\n", readSeconds,
                mb / readSeconds, CpuSeconds() - cpu);
    const double peakBefore = PeakMegabytes();

    FileWatch watch;
    OutputFiles files(watch);
    bool found = false;
    start = Clock::now();
    cpu = CpuSeconds();
    int error = files.HoldsLine(path, OrderLine(lines / 2), found);
    const double indexSeconds = Seconds(start);
    const double indexCpu = CpuSeconds() - cpu;
    std::printf(
        "first check (indexing):  %6.2f s  %7.0f MB/s  (processor %.2f s, %.0f MB/s)  "
        "found=%d error=%d\n",
        indexSeconds, mb / indexSeconds, indexCpu, mb / indexCpu, found, error);
    std::printf("peak memory: %.0f MB before the check, %.0f MB after\n", peakBefore,
                PeakMegabytes());

    constexpr int kChecks = 20000;
    int hits = 0;
    start = Clock::now();
    for (int i = 0; i < kChecks; ++i) {
        files.HoldsLine(path, OrderLine((static_cast<std::uint64_t>(i) * 7919) % lines), found);
        hits += found;
    }
    double seconds = Seconds(start);
    std::printf("checks of written lines: %6.2f us each (%d of %d found)\n",
                seconds * 1e6 / kChecks, hits, kChecks);
    hits = 0;
    start = Clock::now();
    for (int i = 0; i < kChecks; ++i) {
        files.HoldsLine(path, OrderLine(lines + static_cast<std::uint64_t>(i)), found);
        hits += found;
    }
    seconds = Seconds(start);
    std::printf("checks of new lines:     %6.2f us each (%d found)\n", seconds * 1e6 / kChecks,
                hits);
    start = Clock::now();
    for (int i = 0; i < kChecks; ++i) {
        const std::string line = OrderLine(lines + static_cast<std::uint64_t>(i));
        files.HoldsLine(path, line, found);
        if (!found) files.Append(path, line);
    }
    seconds = Seconds(start);
    std::printf("check and append:        %6.2f us each\n", seconds * 1e6 / kChecks);
    std::printf("peak memory at the end: %.0f MB\n", PeakMegabytes());
    files.Clear();
    std::filesystem::remove(path);
    return 0;
}
