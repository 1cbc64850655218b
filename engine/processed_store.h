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
    // Adds a run of the template; older runs past the few the warning looks at are dropped.
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

// The key of a message for the record when its source has none of its own: the Message-ID of
// the header block, else the SHA-256 of the header block (hexadecimal, "sha256:" before it).
std::string HeaderMessageKey(std::string_view header);
// "sha256:" and the SHA-256 of `bytes` in hexadecimal.
std::string DigestKey(std::string_view bytes);

}  // namespace tallix::engine
