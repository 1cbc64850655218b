#include "engine/processed_store.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

// The stale-template warning looks at the last three runs; a few more are kept for the
// manager's view of a template's history.
constexpr int kRunsKept = 10;
constexpr int kBusyWaitMs = 5000;
// A reader of the histories waits this long at most: a WAL reader waits only while another
// connection recovers the log after a crash.
constexpr int kReadWaitMs = 250;

// Sources and templates are numbered once, so that a row of `processed` holds little more
// than the message's key: a first run records every message, and the rows' size is what it
// costs.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS sources (id INTEGER PRIMARY KEY, kind TEXT NOT NULL,"
    " source TEXT NOT NULL, UNIQUE (kind, source));"
    "CREATE TABLE IF NOT EXISTS templates (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE IF NOT EXISTS processed (source INTEGER NOT NULL, message TEXT NOT NULL,"
    " template INTEGER NOT NULL, PRIMARY KEY (source, message, template)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS runs ("
    " template TEXT NOT NULL, at INTEGER NOT NULL, messages INTEGER NOT NULL,"
    " lines INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS runs_template ON runs (template, at);";

// A statement prepared for one use and finalised when it goes.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }
    explicit operator bool() const { return m_stmt != nullptr; }
    void Bind(int index, std::string_view text) const {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void Bind(int index, std::int64_t value) const { sqlite3_bind_int64(m_stmt, index, value); }

  private:
    sqlite3_stmt* m_stmt = nullptr;
};

std::string SeenKey(std::string_view key, std::string_view templateName) {
    std::string out;
    out.reserve(key.size() + templateName.size() + 1);
    out.append(key).append(1, '\n').append(templateName);
    return out;
}

// The value of the first "Message-ID" field of the header block, unfolded and trimmed.
std::string MessageIdOf(std::string_view header) {
    constexpr std::string_view kName = "message-id:";
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = header.find('\n', pos);
        if (end == std::string_view::npos) end = header.size();
        std::string_view line = header.substr(pos, end - pos);
        if (line.size() >= kName.size() && EqualsNoCase(line.substr(0, kName.size()), kName)) {
            std::string value(line.substr(kName.size()));
            // Continuation lines start with a blank.
            std::size_t next = end + 1;
            while (next < header.size() && (header[next] == ' ' || header[next] == '\t')) {
                std::size_t e = header.find('\n', next);
                if (e == std::string_view::npos) e = header.size();
                value += header.substr(next, e - next);
                next = e + 1;
            }
            std::string out;
            for (char c : value)
                if (c != '\r' && c != '\n' && c != ' ' && c != '\t') out += c;
            return out;
        }
        pos = end + 1;
    }
    return {};
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr)) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

}  // namespace

std::string HeaderMessageKey(std::string_view header) {
    std::string id = MessageIdOf(header);
    if (!id.empty()) return id;
    return DigestKey(header);
}

std::string DigestKey(std::string_view bytes) {
    return "sha256:" + Sha256Hex(bytes);
}

bool StoppedMatching(std::int64_t lines, const std::vector<TemplateRun>& before) {
    if (lines != 0 || before.size() < static_cast<std::size_t>(kMatchingRunsBefore)) return false;
    for (int i = 0; i < kMatchingRunsBefore; ++i)
        if (before[static_cast<std::size_t>(i)].lines <= 0) return false;
    return true;
}

std::string ReadTemplateHistories(const std::string& path,
                                  std::map<std::string, TemplateHistory>& histories) {
    histories.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? std::string() : std::string(std::strerror(errno));
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closing(db, sqlite3_close);
    if (opened != SQLITE_OK) return db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_busy_timeout(db, kReadWaitMs);
    // Newest first within each template, as LastRuns gives them.
    Statement select(db,
                     "SELECT template, at, messages, lines FROM runs"
                     " ORDER BY template, at DESC, rowid DESC");
    if (!select) return sqlite3_errmsg(db);
    std::map<std::string, std::vector<TemplateRun>> runs;
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
        runs[name ? name : ""].push_back(
            {static_cast<std::time_t>(sqlite3_column_int64(select.get(), 1)),
             sqlite3_column_int64(select.get(), 2), sqlite3_column_int64(select.get(), 3)});
    }
    if (rc != SQLITE_DONE) return sqlite3_errmsg(db);
    for (auto& [name, list] : runs) {
        TemplateHistory& history = histories[name];
        for (const TemplateRun& run : list)
            if (run.lines > 0) {
                history.lastMatch = run.at;
                break;
            }
        const std::vector<TemplateRun> before(list.begin() + 1, list.end());
        history.stale = StoppedMatching(list.front().lines, before);
    }
    return {};
}

ProcessedStore::~ProcessedStore() {
    sqlite3_finalize(m_insert);
    sqlite3_close(m_db);
}

std::string ProcessedStore::Fail(std::string_view what) const {
    return std::string(what) + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
}

std::string ProcessedStore::Execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK) return {};
    std::string out = message ? message : sqlite3_errmsg(m_db);
    sqlite3_free(message);
    return out;
}

std::string ProcessedStore::Open(const std::string& path) {
    // Made private before SQLite writes a byte to it: the record names the user's mail.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string reason = Fail("cannot open");
        sqlite3_close(m_db);
        m_db = nullptr;
        return reason;
    }
    sqlite3_busy_timeout(m_db, kBusyWaitMs);
    // In WAL mode with NORMAL synchronisation a transaction that committed survives the end of
    // the process (a kill included); only a power failure may lose the last ones.
    std::string error = Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    if (error.empty()) error = Execute(kSchema);
    if (error.empty()) {
        Statement check(m_db, "PRAGMA quick_check");
        if (!check || sqlite3_step(check.get()) != SQLITE_ROW)
            error = sqlite3_errmsg(m_db);
        else if (const auto* text =
                     reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
                 !text || std::string_view(text) != "ok")
            error = std::string("damaged: ") + (text ? text : "");
    }
    if (error.empty() &&
        sqlite3_prepare_v2(m_db,
                           "INSERT OR IGNORE INTO processed (source, message, template)"
                           " VALUES (?1, ?2, ?3)",
                           -1, &m_insert, nullptr) != SQLITE_OK)
        error = sqlite3_errmsg(m_db);
    if (!error.empty()) {
        sqlite3_finalize(m_insert);
        m_insert = nullptr;
        sqlite3_close(m_db);
        m_db = nullptr;
        return error;
    }
    // The WAL and shared-memory files SQLite makes beside it take the database's mode only
    // when they are made by this process; they are made private as well.
    ::chmod((path + "-wal").c_str(), 0600);
    ::chmod((path + "-shm").c_str(), 0600);
    return {};
}

std::string ProcessedStore::SelectSource(std::string_view kind, std::string_view source) {
    m_seen.clear();
    m_sourceId = -1;
    Statement add(m_db, "INSERT OR IGNORE INTO sources (kind, source) VALUES (?1, ?2)");
    Statement id(m_db, "SELECT id FROM sources WHERE kind = ?1 AND source = ?2");
    if (!add || !id) return Fail("reading the record");
    add.Bind(1, kind);
    add.Bind(2, source);
    id.Bind(1, kind);
    id.Bind(2, source);
    if (sqlite3_step(add.get()) != SQLITE_DONE || sqlite3_step(id.get()) != SQLITE_ROW)
        return Fail("reading the record");
    const std::int64_t sourceId = sqlite3_column_int64(id.get(), 0);
    Statement select(m_db,
                     "SELECT processed.message, templates.name FROM processed JOIN templates"
                     " ON templates.id = processed.template WHERE processed.source = ?1");
    if (!select) return Fail("reading the record");
    select.Bind(1, sourceId);
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        const auto* key = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 1));
        m_seen.insert(SeenKey(key ? key : "", name ? name : ""));
    }
    if (rc != SQLITE_DONE) return Fail("reading the record");
    m_sourceId = sourceId;
    return {};
}

std::int64_t ProcessedStore::TemplateId(const std::string& name, std::string& error) {
    if (auto it = m_templateIds.find(name); it != m_templateIds.end()) return it->second;
    Statement add(m_db, "INSERT OR IGNORE INTO templates (name) VALUES (?1)");
    Statement id(m_db, "SELECT id FROM templates WHERE name = ?1");
    if (!add || !id) {
        error = Fail("recording");
        return -1;
    }
    add.Bind(1, name);
    id.Bind(1, name);
    if (sqlite3_step(add.get()) != SQLITE_DONE || sqlite3_step(id.get()) != SQLITE_ROW) {
        error = Fail("recording");
        return -1;
    }
    const std::int64_t value = sqlite3_column_int64(id.get(), 0);
    m_templateIds.emplace(name, value);
    return value;
}

bool ProcessedStore::Has(std::string_view key, std::string_view templateName) const {
    return m_seen.count(SeenKey(key, templateName)) != 0;
}

std::string ProcessedStore::Record(std::string_view key,
                                   const std::vector<std::string>& templateNames) {
    if (templateNames.empty()) return {};
    if (m_sourceId < 0) return "no source selected";
    if (std::string error = Execute("BEGIN IMMEDIATE"); !error.empty()) return error;
    std::string error;
    for (const std::string& name : templateNames) {
        const std::int64_t templateId = TemplateId(name, error);
        if (templateId < 0) break;
        sqlite3_reset(m_insert);
        sqlite3_bind_int64(m_insert, 1, m_sourceId);
        sqlite3_bind_text(m_insert, 2, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_int64(m_insert, 3, templateId);
        if (sqlite3_step(m_insert) != SQLITE_DONE) {
            error = Fail("recording");
            break;
        }
    }
    sqlite3_reset(m_insert);
    if (error.empty()) error = Execute("COMMIT");
    if (!error.empty()) {
        Execute("ROLLBACK");
        // A template numbered in the transaction taken back has no number any more.
        m_templateIds.clear();
        return error;
    }
    for (const std::string& name : templateNames) m_seen.insert(SeenKey(key, name));
    return {};
}

std::int64_t ProcessedStore::Forget(std::string_view templateName, std::string& error) {
    const bool all = EqualsNoCase(templateName, kForgetAll);
    // Compared through lower(): SQLite 3.40 answers an OR of two NOCASE comparisons on an
    // indexed column with no rows.
    Statement remove(m_db, all ? "DELETE FROM processed"
                               : "DELETE FROM processed WHERE template IN (SELECT id FROM"
                                 " templates WHERE lower(name) IN (lower(?1), lower(?2)))");
    const std::string withExtension = std::string(templateName) + ".txf";
    if (!remove) {
        error = Fail("forgetting");
        return -1;
    }
    if (!all) {
        remove.Bind(1, templateName);
        remove.Bind(2, withExtension);
    }
    if (sqlite3_step(remove.get()) != SQLITE_DONE) {
        error = Fail("forgetting");
        return -1;
    }
    const std::int64_t removed = sqlite3_changes64(m_db);
    Statement runs(m_db, all ? "DELETE FROM runs"
                             : "DELETE FROM runs WHERE lower(template) IN (lower(?1), lower(?2))");
    if (!all && runs) {
        runs.Bind(1, templateName);
        runs.Bind(2, withExtension);
    }
    if (!runs || sqlite3_step(runs.get()) != SQLITE_DONE) {
        error = Fail("forgetting");
        return -1;
    }
    m_seen.clear();
    return removed;
}

std::vector<TemplateRun> ProcessedStore::LastRuns(std::string_view templateName, int count,
                                                  std::string& error) {
    std::vector<TemplateRun> runs;
    Statement select(m_db,
                     "SELECT at, messages, lines FROM runs WHERE template = ?1"
                     " ORDER BY at DESC, rowid DESC LIMIT ?2");
    if (!select) {
        error = Fail("reading the runs");
        return runs;
    }
    select.Bind(1, templateName);
    select.Bind(2, std::int64_t{count});
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW)
        runs.push_back({static_cast<std::time_t>(sqlite3_column_int64(select.get(), 0)),
                        sqlite3_column_int64(select.get(), 1),
                        sqlite3_column_int64(select.get(), 2)});
    if (rc != SQLITE_DONE) error = Fail("reading the runs");
    return runs;
}

std::string ProcessedStore::NoteRun(std::string_view templateName, const TemplateRun& run) {
    Statement insert(m_db,
                     "INSERT INTO runs (template, at, messages, lines) VALUES (?1, ?2, ?3, ?4)");
    if (!insert) return Fail("noting the run");
    insert.Bind(1, templateName);
    insert.Bind(2, std::int64_t{run.at});
    insert.Bind(3, run.messages);
    insert.Bind(4, run.lines);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) return Fail("noting the run");
    // The last run that wrote a line stays however old it is: it says when the template last
    // matched.
    Statement prune(m_db,
                    "DELETE FROM runs WHERE template = ?1 AND rowid NOT IN (SELECT rowid FROM runs"
                    " WHERE template = ?1 ORDER BY at DESC, rowid DESC LIMIT ?2) AND rowid NOT IN"
                    " (SELECT rowid FROM runs WHERE template = ?1 AND lines > 0"
                    " ORDER BY at DESC, rowid DESC LIMIT 1)");
    if (!prune) return Fail("noting the run");
    prune.Bind(1, templateName);
    prune.Bind(2, std::int64_t{kRunsKept});
    if (sqlite3_step(prune.get()) != SQLITE_DONE) return Fail("noting the run");
    return {};
}

}  // namespace tallix::engine
