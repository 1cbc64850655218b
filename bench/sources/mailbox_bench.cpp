// How fast the mailbox file source walks a generated mailbox: cutting, taking apart and
// handing over every message, and writing each attachment's part for the decoder (the
// decode itself belongs to the MIME component and is left out here).
//
// The generated file is a valid standard mbox file as well (each "From - " line follows a blank
// line), so the same bytes are also walked as "FILE_OTHER", and the mbox framing is timed on
// its own.
//
// MAILBOX_BENCH_MESSAGES sets the mailbox size (default 20000).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "bench/sources/mailbox_generator.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"
#include "sources/mailbox_reader.h"
#include "sources/mbox_framing.h"
#include "sources/netscape_source.h"

namespace {

using namespace tallix;

class AcceptingDecoder final : public sources::AttachmentDecoder {
  public:
    bool DecodeFile(const std::string&, const std::string&,
                    const sources::DecodeCallbacks&) override {
        return true;
    }
};

struct Corpus {
    std::string path;
    std::uint64_t bytes = 0;
    std::uint64_t messages = 0;
};

// The generated files go when the program ends.
struct Corpora {
    Corpus items[2];
    ~Corpora() {
        for (const Corpus& c : items) {
            if (!c.path.empty()) std::remove(c.path.c_str());
        }
    }
};

const Corpus& GetCorpus(bool attachments) {
    static Corpora all;
    Corpus* corpora = all.items;
    Corpus& c = corpora[attachments ? 1 : 0];
    if (c.path.empty()) {
        const char* n = std::getenv("MAILBOX_BENCH_MESSAGES");
        c.messages = n ? std::strtoull(n, nullptr, 10) : 20000;
        const char* tmp = std::getenv("TMPDIR");
        c.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/tallix-bench-" +
                 std::to_string(::getpid()) + (attachments ? "-mixed" : "-plain") + ".mbox";
        std::ofstream out(c.path, std::ios::binary | std::ios::trunc);
        c.bytes = bench::WriteMailbox(out, c.messages, {attachments});
    }
    return c;
}

// Resident anonymous memory in MB (heap and stacks, not the page cache behind the mailbox),
// from the kernel.
double AnonymousResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("RssAnon:", 0) == 0) return std::strtod(line.c_str() + 8, nullptr) / 1024.0;
    }
    return 0;
}

void WalkMailbox(benchmark::State& state, bool attachments,
                 std::string_view kind = kSourceNetscape) {
    SetSilentMode(true);
    const Corpus& corpus = GetCorpus(attachments);
    Settings().useSource = kind;
    Settings().localFileName = corpus.path;
    AcceptingDecoder decoder;
    std::int64_t handed = 0;
    double peakAnonMb = 0;
    for (auto _ : state) {
        sources::clsNetscape source;
        source.SetAttachmentDecoder(&decoder);
        source.Connect();
        source.GetFirstMsg();
        while (source.Message()) {
            benchmark::DoNotOptimize(source.Message()->Body().size());
            ++handed;
            if (handed % 4096 == 0) peakAnonMb = std::max(peakAnonMb, AnonymousResidentMb());
            source.GetNextMsg();
        }
        source.Disconnect();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(corpus.bytes) * state.iterations());
    state.counters["messages/s"] =
        benchmark::Counter(static_cast<double>(handed), benchmark::Counter::kIsRate);
    state.counters["messages"] = static_cast<double>(corpus.messages);
    state.counters["anon_rss_MB"] = peakAnonMb;
}

void BM_WalkMixedMailbox(benchmark::State& state) {
    WalkMailbox(state, true);
}
void BM_WalkMailboxWithoutAttachments(benchmark::State& state) {
    WalkMailbox(state, false);
}

BENCHMARK(BM_WalkMixedMailbox)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WalkMailboxWithoutAttachments)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file read as a standard mbox file.
void BM_WalkMixedMboxFile(benchmark::State& state) {
    WalkMailbox(state, true, kSourceFileOther);
}
BENCHMARK(BM_WalkMixedMboxFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The mbox framing alone: finding every message of the file, nothing cut out.
void BM_MboxFraming(benchmark::State& state) {
    const Corpus& corpus = GetCorpus(true);
    std::int64_t found = 0;
    for (auto _ : state) {
        sources::MailboxReader reader;
        reader.Open(corpus.path);
        sources::MboxFraming framing(reader);
        std::size_t at = 0;
        while (const auto span = framing.Next(at)) {
            at = span->end;
            ++found;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(corpus.bytes) * state.iterations());
    state.counters["messages/s"] =
        benchmark::Counter(static_cast<double>(found), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MboxFraming)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
