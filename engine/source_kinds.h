#pragma once
// The kinds of mail source a run can read, one row per "UseSource" value: how the run's
// sources are built and what the engine does around them.

#include <memory>
#include <span>
#include <string_view>

#include "sources/mail_source.h"

namespace tallix::engine {

struct RunContext;

struct SourceKind {
    std::string_view useSource;  // the stored "UseSource" value
    // The sources of one run, from the run's settings; they decode parts through the run's
    // decoder.
    std::unique_ptr<sources::SourceList> (*make)(const RunContext& run);
    // After each message the engine removes the files the source wrote for it (the scratch
    // message, body and attachment files).
    bool cleansScratchFiles;
};

// Every kind this version can read.
std::span<const SourceKind> SourceKinds();
// The row of `useSource` (exact case, as stored); nullptr for a kind this version cannot read.
const SourceKind* FindSourceKind(std::string_view useSource);

// A switch for benchmarks that compare a source's ways of reading: on unless the environment
// variable `name` is "0".
bool SwitchedOn(const char* name);

}  // namespace tallix::engine
