#pragma once
// The record of processed messages (Processed.db in the program directory, an SQLite database
// in WAL mode, private to the user): which message of which source each template has been
// offered, so that a template that asks for it is offered each message once; and, per template
// and run, when it ran, how many messages it was offered and how many lines it wrote.
//
// A message is recorded after its lines are written and before it is disposed of, one
// transaction per message: a run killed at any moment loses at most the record of the message
// in flight, whose lines the next run then writes again. Every call returns a status (an empty
// text, or what went wrong); nothing here reports or throws.

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tallix::engine {

inline constexpr std::string_view kProcessedFileName = "Processed.db";
// `/forget ALL` clears the whole record.
inline constexpr std::string_view kForgetAll = "ALL";

// One run of one template, as the record keeps it.
struct TemplateRun {
    std::time_t at = 0;
    std::int64_t messages = 0;  // messages the template was offered
    std::int64_t lines = 0;     // lines it wrote
};

// A template that wrote lines in each of this many runs is expected to write some again.
inline constexpr int kMatchingRunsBefore = 3;

// True when a run of a template that wrote `lines` is one of a template that stopped matching:
// it wrote none, and each of the kMatchingRunsBefore runs before it (`before`, newest first)
// wrote some. Only runs that offered the template a message are recorded.
bool StoppedMatching(std::int64_t lines, const std::vector<TemplateRun>& before);

// What the record tells of one template's runs.
struct TemplateHistory {
    // When the last run that wrote a line of the template ended; none when no recorded run did.
    std::optional<std::time_t> lastMatch;
    // Its last run stopped matching (StoppedMatching).
    bool stale = false;
};

class ProcessedStore {
  public:
    ProcessedStore() = default;
    ~ProcessedStore();
    ProcessedStore(const ProcessedStore&) = delete;
    ProcessedStore& operator=(const ProcessedStore&) = delete;

    // Opens the record at `path`, creating it (mode 0600) when there is none, and checks that
    // it is whole. "" or the reason it cannot be used.
    std::string Open(const std::string& path);
    bool IsOpen() const { return m_db != nullptr; }

    // The source the next questions are about: its kind and its ID; the keys already recorded
    // for it are read now, so asking costs no query per message.
    std::string SelectSource(std::string_view kind, std::string_view source);
    // The template `templateName` has been offered the message `key` of the selected source.
    bool Has(std::string_view key, std::string_view templateName) const;
    // Records that each of `templateNames` has been offered the message `key`, in one
    // transaction. "" or the reason.
    std::string Record(std::string_view key, const std::vector<std::string>& templateNames);

    // Removes what is recorded for `templateName`, named with or without its ".txf", in any
    // case (kForgetAll: everything, runs included).
    // The number of entries removed, or -1 with `error` set.
    std::int64_t Forget(std::string_view templateName, std::string& error);

    // The template's last `count` runs, newest first.
    std::vector<TemplateRun> LastRuns(std::string_view templateName, int count, std::string& error);
    // Adds a run of the template; older runs past the few the warning looks at are dropped,
    // except the last that wrote a line, which says when the template last matched.
    std::string NoteRun(std::string_view templateName, const TemplateRun& run);

  private:
    std::string Fail(std::string_view what) const;
    std::string Execute(const char* sql);
    // The number the record gives the template's name (made on first use); -1 on failure.
    std::int64_t TemplateId(const std::string& name, std::string& error);

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    std::int64_t m_sourceId = -1;
    std::unordered_map<std::string, std::int64_t> m_templateIds;
    // "key\ntemplate" of every message recorded for the selected source.
    std::unordered_set<std::string> m_seen;
};

// The history of every template the record at `path` has runs of, by the name its runs are
// recorded under (the template's file name). The record is opened read-only: it is neither
// made nor written (SQLite may leave its log and shared-memory files beside it, with the
// record's mode), and a run writing to it meanwhile is neither waited for nor held up (a
// reader of a WAL database sees the last committed state). No record file gives no
// histories. "" or the reason the record cannot be read.
std::string ReadTemplateHistories(const std::string& path,
                                  std::map<std::string, TemplateHistory>& histories);

// The key of a message for the record when its source has none of its own: the Message-ID of
// the header block, else the SHA-256 of the header block (hexadecimal, "sha256:" before it).
std::string HeaderMessageKey(std::string_view header);
// "sha256:" and the SHA-256 of `bytes` in hexadecimal.
std::string DigestKey(std::string_view bytes);

}  // namespace tallix::engine
