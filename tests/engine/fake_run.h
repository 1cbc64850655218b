#pragma once
// A run context for engine tests, as start-up makes one, whose sources are fake ones. One
// context serves a test's runs (kept parses, open output files and watches carry over, as in
// one engine process) until Renew.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_run.h"
#include "engine/run_context.h"
#include "settings/settings_store.h"
#include "tests/engine/fake_source.h"

namespace tallix::engine::testing {

class FakeRun {
  public:
    // Runs walk `sources` when "UseSource" is `kind`; another kind has no sources.
    explicit FakeRun(std::vector<FakeSource*> sources, std::string kind = "FAKE")
        : sources(std::move(sources)), m_kind(std::move(kind)) {
        Renew();
    }
    // A fresh context: nothing kept from earlier runs.
    void Renew() {
        m_run = std::make_unique<RunContext>();
        m_run->sourceFactory =
            [this](const std::string& kind) -> std::unique_ptr<sources::SourceList> {
            if (kind != m_kind) return nullptr;
            return std::make_unique<FakeSourceList>(sources);
        };
    }
    // The context as the last run left it.
    RunContext& Context() { return *m_run; }
    // A run with the settings as the test left them.
    void RunSources(const std::string& selection) {
        m_run->settings = Settings();
        engine::RunSources(*m_run, selection);
    }

    std::vector<FakeSource*> sources;  // what the next run walks

  private:
    std::string m_kind;
    std::unique_ptr<RunContext> m_run;
};

}  // namespace tallix::engine::testing
