// Body clean-up on a 1 MB HTML body: a typical newsletter mix of tags, text and entities,
// and a body dense with tags and entities.

#include <benchmark/benchmark.h>

#include <string>

#include "model/html_text.h"
#include "model/message.h"

namespace {

constexpr std::size_t kBodySize = 1 << 20;

std::string Fill(std::string_view piece) {
    std::string body;
    body.reserve(kBodySize + piece.size());
    while (body.size() < kBodySize) body.append(piece);
    body.resize(kBodySize);
    return body;
}

const std::string& Newsletter() {
    static const std::string body = Fill(
        "<TABLE width=\"100%\"><TR><TD class=x><FONT face=Arial size=2>Order number: 12345"
        "&nbsp;&nbsp;Total:&nbsp;<B>$42.00</B></FONT></TD></TR></TABLE>\r\n"
        "<P>Dear customer, thank you for your order. <A HREF=\"http://x.example/\">Track it"
        "</A> &quot;today&quot;.<BR>\r\n<!-- tracking pixel --><IMG src=\"p.gif\">\r\n");
    return body;
}

const std::string& Dense() {
    static const std::string body = Fill("<b>&quot;<i>&nbsp<x>< <");
    return body;
}

void Run(benchmark::State& state, const std::string& body) {
    for (auto _ : state) {
        std::string cleaned = tallix::StripHtml(body);
        benchmark::DoNotOptimize(cleaned);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
}

void BM_StripHtmlNewsletter1MB(benchmark::State& state) {
    Run(state, Newsletter());
}
void BM_StripHtmlDense1MB(benchmark::State& state) {
    Run(state, Dense());
}

// The whole assignment as a source does it.
void BM_BodyAssignment1MB(benchmark::State& state) {
    tallix::txMessage message;
    for (auto _ : state) {
        message.SetBody(Newsletter());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kBodySize));
}

BENCHMARK(BM_StripHtmlNewsletter1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StripHtmlDense1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyAssignment1MB)->Unit(benchmark::kMillisecond);

}  // namespace
