#include "sources/pop3_client.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "settings/text_functions.h"
#include "sources/encoded_words.h"

namespace tallix::sources {
namespace {

constexpr std::int16_t kStepOk = 0;
constexpr std::int16_t kStepFailed = 1;

// The decimal number at `at` (blanks before it skipped), or -1; `at` moves past it.
std::int64_t NumberAt(std::string_view text, std::size_t& at) {
    const std::size_t start = at;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    if (at == start) return -1;
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        if (digits == 15) return -1;  // beyond any size a server can hold
        value = value * 10 + (text[at] - '0');
    }
    if (digits == 0) return -1;
    if (at < text.size() && text[at] != ' ' && text[at] != '\t') return -1;
    return value;
}

Pop3Result Failure(std::string detail) {
    Pop3Result result;
    result.outcome = Pop3Outcome::Failed;
    result.detail = std::move(detail);
    return result;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

std::int64_t ParseStatCount(std::string_view reply) {
    if (!StartsWithNoCase(reply, "+OK")) return -1;
    std::size_t i = 3;
    while (i < reply.size() && (reply[i] == ' ' || reply[i] == '\t')) ++i;
    if (i == 3 || i >= reply.size()) return -1;
    std::int64_t count = 0;
    std::size_t digits = 0;
    for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i, ++digits) {
        if (digits == 10) return -1;  // beyond any count a mailbox can hold
        count = count * 10 + (reply[i] - '0');
    }
    if (digits == 0) return -1;
    if (i < reply.size() && reply[i] != ' ' && reply[i] != '\t') return -1;
    return count;
}

std::int64_t ParseListSize(std::string_view reply, std::int32_t number) {
    if (!StartsWithNoCase(reply, "+OK")) return -1;
    std::size_t at = 3;
    if (NumberAt(reply, at) != number) return -1;
    return NumberAt(reply, at);
}

namespace {

// The message number at the start of a listing line ("3 ..."), or 0 when it is not one of
// 1..count; `at` moves past it.
std::int32_t ListedNumber(std::string_view line, std::int32_t count, std::size_t& at) {
    at = 0;
    std::int64_t number = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        if (at == 10) return 0;
        number = number * 10 + (line[at] - '0');
    }
    if (at == 0 || number < 1 || number > count) return 0;
    return static_cast<std::int32_t>(number);
}

bool IsUniqueId(std::string_view id) {
    if (id.empty() || id.size() > kMaxPop3UniqueIdBytes) return false;
    return std::all_of(id.begin(), id.end(), [](char c) { return c >= '!' && c <= '~'; });
}

}  // namespace

UniqueIdListing ParseUniqueIds(const std::vector<std::string>& lines, std::int32_t count) {
    std::map<std::int32_t, std::string> given;
    std::set<std::int32_t> spoiled;
    for (const std::string& text : lines) {
        std::string_view line = text;
        std::size_t at = 0;
        const std::int32_t number = ListedNumber(line, count, at);
        if (number == 0) continue;
        // One blank between number and id; blanks after the id are forgiven.
        std::string_view id = line.substr(at);
        if (id.empty() || id.front() != ' ') {
            spoiled.insert(number);
            continue;
        }
        id.remove_prefix(1);
        while (!id.empty() && (id.back() == ' ' || id.back() == '\t')) id.remove_suffix(1);
        if (!IsUniqueId(id)) {
            spoiled.insert(number);
            continue;
        }
        const auto [it, added] = given.emplace(number, std::string(id));
        if (!added && it->second != id) spoiled.insert(number);
    }
    std::map<std::string_view, int> owners;
    for (const auto& [number, id] : given)
        if (!spoiled.count(number)) ++owners[id];
    UniqueIdListing listing;
    for (auto& [number, id] : given)
        if (!spoiled.count(number) && owners[id] == 1) listing.ids.emplace(number, id);
    listing.withoutId = count - static_cast<std::int32_t>(listing.ids.size());
    return listing;
}

std::map<std::int32_t, std::int64_t> ParseListSizes(const std::vector<std::string>& lines,
                                                    std::int32_t count) {
    std::map<std::int32_t, std::int64_t> sizes;
    std::set<std::int32_t> spoiled;
    for (const std::string& line : lines) {
        std::size_t at = 0;
        const std::int32_t number = ListedNumber(line, count, at);
        if (number == 0) continue;
        const std::int64_t size = NumberAt(line, at);
        if (size < 0) {
            spoiled.insert(number);
            continue;
        }
        const auto [it, added] = sizes.emplace(number, size);
        if (!added && it->second != size) spoiled.insert(number);
    }
    for (std::int32_t number : spoiled) sizes.erase(number);
    return sizes;
}

MessageParts SplitMessage(std::string_view message) {
    // The header ends at the first empty line; lines end in CR LF, or LF alone in files
    // that came from elsewhere.
    std::size_t lineStart = 0;
    while (lineStart < message.size()) {
        std::size_t lf = message.find('\n', lineStart);
        std::size_t contentEnd = lf == std::string_view::npos ? message.size() : lf;
        if (contentEnd > lineStart && message[contentEnd - 1] == '\r') --contentEnd;
        if (contentEnd == lineStart) {
            return {message.substr(0, lineStart), message.substr(lineStart)};
        }
        if (lf == std::string_view::npos) break;
        lineStart = lf + 1;
    }
    return {message, {}};
}

RetrievedMessage ReadRetrievedMessage(std::string_view message) {
    const MessageParts parts = SplitMessage(message);
    std::string_view header = parts.header;
    if (header.size() > kMaxPop3HeaderBytes) {
        // Cut after the last whole line within the limit: a field cut in its middle would
        // read as a shorter, wrong value, and the record's header parse fails on a line
        // without its end, losing the fields before it as well.
        const std::size_t lf = header.rfind('\n', kMaxPop3HeaderBytes - 1);
        header = header.substr(0, lf == std::string_view::npos ? kMaxPop3HeaderBytes : lf + 1);
    }
    RetrievedMessage read;
    read.header.assign(header);
    read.subject = DecodeEncodedWords(HeaderField(header, "Subject"));
    read.dateText = HeaderField(header, "Date");
    read.body.assign(parts.body);
    return read;
}

std::string HeaderField(std::string_view header, std::string_view name) {
    std::size_t lineStart = 0;
    while (lineStart < header.size()) {
        std::size_t lf = header.find('\n', lineStart);
        std::size_t next = lf == std::string_view::npos ? header.size() : lf + 1;
        std::string_view line = header.substr(lineStart, next - lineStart);
        if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
            // The value with its continuation lines (those that start with a blank) joined.
            std::string value;
            std::size_t at = lineStart + name.size() + 1;
            for (;;) {
                std::string_view part = header.substr(at, next - at);
                while (!part.empty() && (part.back() == '\n' || part.back() == '\r'))
                    part.remove_suffix(1);
                value.append(part);
                if (next >= header.size() || (header[next] != ' ' && header[next] != '\t')) break;
                at = next;
                lf = header.find('\n', at);
                next = lf == std::string_view::npos ? header.size() : lf + 1;
            }
            std::size_t first = value.find_first_not_of(" \t");
            if (first == std::string::npos) return {};
            std::size_t last = value.find_last_not_of(" \t");
            return value.substr(first, last - first + 1);
        }
        lineStart = next;
    }
    return {};
}

Pop3Client::Pop3Client(std::unique_ptr<Pop3Transport> transport, Pop3ClientEvents* events)
    : m_transport(std::move(transport)), m_events(events) {}

Pop3Client::~Pop3Client() {
    Close();
}

bool Pop3Client::Note(Pop3Result result) {
    m_last = std::move(result);
    if (m_last.outcome == Pop3Outcome::Network && m_events) m_events->Error(m_last.socketError);
    return m_last.ok();
}

void Pop3Client::Status(const std::string& text) {
    if (m_events) m_events->Status(text);
}

std::int16_t Pop3Client::Connect() {
    Close();
    m_messageCount = 0;
    m_pipelining = false;
    m_hasUniqueIds = false;
    m_uniqueIds.clear();
    m_withoutUniqueId = 0;
    m_sizes.clear();
    m_batch.clear();
    Status("Connecting to " + m_endpoint.host + ":" + std::to_string(m_endpoint.port));
    if (!Note(m_transport->Open(m_endpoint))) {
        m_transport->Close();
        return 0;
    }
    m_open = true;
    Status("Logged in as " + m_endpoint.user);
    if (!Note(m_transport->Command("STAT"))) {
        Close();
        return 0;
    }
    const std::int64_t count = ParseStatCount(m_last.reply);
    if (count < 0 || count > INT32_MAX) {
        Note(Failure("The server's answer to STAT is not a message count: " + m_last.reply));
        Close();
        return 0;
    }
    m_messageCount = static_cast<std::int32_t>(count);
    if (!ReadListings()) {
        m_messageCount = 0;
        Close();
        return 0;
    }
    Status(std::to_string(m_messageCount) + " messages");
    return 1;
}

bool Pop3Client::ReadListings() {
    std::vector<std::string> lines;
    const auto collect = [&](std::string_view line) { lines.emplace_back(line); };
    // A listing the server refuses (-ERR) is one it does not have; any other failure has lost
    // the session.
    const auto read = [&](const char* command, bool& answered) {
        lines.clear();
        Pop3Result result = m_transport->Listing(command, collect);
        answered = result.ok();
        if (result.ok() || result.outcome == Pop3Outcome::ServerError) return true;
        return Note(std::move(result));
    };
    // The capabilities after the login, which may differ from those before it.
    bool listed = false;
    if (!read("CAPA", listed)) return false;
    bool uidlOffered = !listed;  // a server without CAPA may still answer UIDL
    for (const std::string& line : listed ? lines : std::vector<std::string>{}) {
        const std::string name = UCase(line.substr(0, line.find(' ')));
        if (name == "PIPELINING") m_pipelining = m_pipeliningAllowed;
        if (name == "UIDL") uidlOffered = true;
    }
    if (m_messageCount == 0) return true;
    if (uidlOffered) {
        if (!read("UIDL", m_hasUniqueIds)) return false;
        if (m_hasUniqueIds) {
            UniqueIdListing ids = ParseUniqueIds(lines, m_messageCount);
            m_uniqueIds = std::move(ids.ids);
            m_withoutUniqueId = ids.withoutId;
        }
    }
    // Every size at once: no LIST n before each message.
    bool sized = false;
    if (!read("LIST", sized)) return false;
    if (sized) m_sizes = ParseListSizes(lines, m_messageCount);
    return true;
}

const std::string& Pop3Client::UniqueId(std::int32_t number) const {
    static const std::string none;
    const auto it = m_uniqueIds.find(number);
    return it == m_uniqueIds.end() ? none : it->second;
}

void Pop3Client::Close() {
    m_batch.clear();
    if (!m_open) return;
    m_open = false;
    Status("Closing the session");
    m_transport->Close();
}

std::int32_t Pop3Client::Number() const {
    std::string_view text = m_messageNumber;
    if (text.empty() || text.size() > 10) return 0;
    std::int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= m_messageCount ? static_cast<std::int32_t>(n) : 0;
}

void Pop3Client::ClearMessage() {
    m_text.clear();
    m_subject.clear();
    m_dateText.clear();
    m_header.clear();
    m_body.clear();
}

std::int64_t Pop3Client::SizeOf(std::int32_t number) {
    if (const auto it = m_sizes.find(number); it != m_sizes.end()) return it->second;
    if (!Note(m_transport->Command("LIST " + std::to_string(number)))) return -1;
    const std::int64_t size = ParseListSize(m_last.reply, number);
    if (size < 0)
        Note(Failure("The server's answer to LIST is not a message size: " + m_last.reply));
    return size;
}

void Pop3Client::Describe(std::string message) {
    RetrievedMessage read = ReadRetrievedMessage(message);
    m_text = std::move(message);
    m_subject = std::move(read.subject);
    m_dateText = std::move(read.dateText);
    m_header = std::move(read.header);
    m_body = std::move(read.body);
}

void Pop3Client::FetchBatch(std::int32_t number) {
    // What the walk has passed is not wanted any more.
    m_batch.erase(m_batch.begin(), m_batch.lower_bound(number));
    // Which messages will be passed over is learnt from the first: it is retrieved alone.
    if (m_passedOver && number == 1) return;
    // The messages from `number` on whose sizes the listing gave, up to one already at hand,
    // within the batch's limits; one past the size limit is not asked for (the walk skips it
    // when it gets there).
    std::vector<Pop3Retrieval> wanted;
    std::int64_t bytes = 0;
    for (std::int32_t n = number; n <= m_messageCount && wanted.size() < kPop3BatchMessages; ++n) {
        const auto size = m_sizes.find(n);
        if (size == m_sizes.end() || m_batch.count(n)) break;
        if (n != number && m_passedOver && m_passedOver(n)) continue;
        if (size->second > kMaxPop3MessageBytes) {
            if (n == number) return;
            continue;
        }
        if (!wanted.empty() && bytes + size->second > kPop3BatchBytes) break;
        bytes += size->second;
        wanted.push_back({n, size->second});
    }
    // One message goes the usual way, straight into its file.
    if (wanted.size() < 2) return;
    Status("Retrieving messages " + std::to_string(wanted.front().number) + " to " +
           std::to_string(wanted.back().number));
    std::vector<Fetched> fetched(wanted.size());
    std::vector<bool> dropped(wanted.size(), false);
    std::int64_t kept = 0;
    std::vector<Pop3Result> results;
    m_transport->RetrieveMany(
        wanted, true,
        [&](std::size_t i, std::string_view piece) {
            Fetched& f = fetched[i];
            const auto size = static_cast<std::int64_t>(piece.size());
            f.received += size;
            if (f.tooLong || dropped[i]) return true;
            // Past the limit the rest is read and dropped, so the session stays usable.
            if (f.received > kMaxPop3MessageBytes) {
                kept -= static_cast<std::int64_t>(f.text.size());
                f.tooLong = true;
                std::string().swap(f.text);
                return true;
            }
            // A server that sends far more than it announced: what passes the batch's memory is
            // dropped, and those messages are asked for again when the walk reaches them.
            if (i > 0 && kept + size > kMaxPop3BatchBytes) {
                kept -= static_cast<std::int64_t>(f.text.size());
                dropped[i] = true;
                std::string().swap(f.text);
                return true;
            }
            f.text.append(piece);
            kept += size;
            return true;
        },
        results);
    for (std::size_t i = 0; i < results.size() && i < wanted.size(); ++i) {
        if (dropped[i] && results[i].ok()) continue;
        fetched[i].result = std::move(results[i]);
        m_batch.emplace(wanted[i].number, std::move(fetched[i]));
    }
}

std::int16_t Pop3Client::TakeFromBatch(std::int32_t number) {
    auto node = m_batch.extract(number);
    Fetched& f = node.mapped();
    m_announcedBytes = m_sizes.count(number) ? m_sizes.at(number) : 0;
    Status("Retrieving message " + m_messageNumber);
    if (f.tooLong && f.result.ok()) {
        m_announcedBytes = std::max(m_announcedBytes, f.received);
        Note(std::move(f.result));
        return kRetrieveTooLong;
    }
    if (!Note(std::move(f.result))) return kRetrieveFailed;
    if (!m_retrieveFile.empty()) {
        std::FILE* file = std::fopen(m_retrieveFile.c_str(), "wb");
        if (!file) return Note(Failure("Cannot create " + m_retrieveFile)), kRetrieveFailed;
        const bool written = std::fwrite(f.text.data(), 1, f.text.size(), file) == f.text.size();
        if (std::fclose(file) != 0 || !written)
            return Note(Failure("Cannot write " + m_retrieveFile)), kRetrieveFailed;
    }
    Describe(std::move(f.text));
    return kRetrieved;
}

std::int16_t Pop3Client::Retrieve() {
    ClearMessage();
    m_announcedBytes = 0;
    const std::int32_t number = Number();
    if (!m_open) return Note(Failure("No session is open")), kRetrieveFailed;
    if (number == 0) return Note(Failure("No such message: " + m_messageNumber)), kRetrieveFailed;
    if (m_pipelining) {
        if (!m_batch.count(number)) FetchBatch(number);
        if (m_batch.count(number)) return TakeFromBatch(number);
    }
    // The size first: a message past the limit is not transferred at all, and the size sets
    // how long the transfer may take.
    m_announcedBytes = SizeOf(number);
    if (m_announcedBytes < 0) {
        m_announcedBytes = 0;
        return kRetrieveFailed;
    }
    if (m_announcedBytes > kMaxPop3MessageBytes) return kRetrieveTooLong;
    std::FILE* file = nullptr;
    if (!m_retrieveFile.empty()) {
        file = std::fopen(m_retrieveFile.c_str(), "wb");
        if (!file) return Note(Failure("Cannot create " + m_retrieveFile)), kRetrieveFailed;
    }
    Status("Retrieving message " + m_messageNumber);
    std::string message;
    std::int64_t received = 0;
    bool tooLong = false;
    bool writeFailed = false;
    Pop3Result result =
        m_transport->Retrieve(number, m_announcedBytes, [&](std::string_view piece) {
            received += static_cast<std::int64_t>(piece.size());
            // Past the limit the rest is read and dropped, so the session stays usable for the
            // messages after this one and for the deletions of those before it.
            if (tooLong || received > kMaxPop3MessageBytes) {
                tooLong = true;
                return true;
            }
            if (file && std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
                writeFailed = true;
                return false;
            }
            message.append(piece);
            return true;
        });
    if (file && std::fclose(file) != 0) writeFailed = true;
    if (tooLong && result.ok()) {
        if (file) std::remove(m_retrieveFile.c_str());
        m_announcedBytes = std::max(m_announcedBytes, received);
        Note(std::move(result));
        return kRetrieveTooLong;
    }
    if (writeFailed) result = Failure("Cannot write " + m_retrieveFile);
    if (!Note(std::move(result))) return kRetrieveFailed;
    Describe(std::move(message));
    return kRetrieved;
}

std::int16_t Pop3Client::Delete() {
    const std::int32_t number = Number();
    if (!m_open) return Note(Failure("No session is open")), kStepFailed;
    if (number == 0) return Note(Failure("No such message: " + m_messageNumber)), kStepFailed;
    Status("Deleting message " + m_messageNumber);
    return Note(m_transport->Command("DELE " + std::to_string(number))) ? kStepOk : kStepFailed;
}

}  // namespace tallix::sources
