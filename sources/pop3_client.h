#pragma once
// The POP3 client the POP3 source drives: account values, a connect step, the message
// count, retrieval of one message into a file (with its subject, date text, raw header and
// body), deletion, and a close step; socket failures and progress texts are raised as
// events on the host. The conversation itself goes through a Pop3Transport.
//
// The login, the STAT that gives the message count, and the listings read once per session
// (CAPA, UIDL, LIST) are all part of the connect step: its result is 0 when the login or STAT
// failed, and LastResult() tells why. Where the server offers PIPELINING, messages are asked
// for in batches of RETRs sent together and handed out one at a time from the batch.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sources/pop3_client_events.h"
#include "sources/pop3_transport.h"

namespace tallix::sources {

// The largest message retrieved; a longer one is skipped (left on the server, session kept)
// instead of filling the disk.
inline constexpr std::int64_t kMaxPop3MessageBytes = std::int64_t{64} << 20;
// What Retrieve gives back: the whole message, a failure, or a message past the limit.
inline constexpr std::int16_t kRetrieved = 0;
inline constexpr std::int16_t kRetrieveFailed = 1;
inline constexpr std::int16_t kRetrieveTooLong = 2;
// A batch of pipelined RETRs asks for at most this many messages and this many bytes by their
// announced sizes; it keeps at most kMaxPop3BatchBytes in memory whatever arrives (the first
// message of a batch is always kept, up to kMaxPop3MessageBytes, so the walk goes on).
inline constexpr std::size_t kPop3BatchMessages = 50;
inline constexpr std::int64_t kPop3BatchBytes = std::int64_t{16} << 20;
inline constexpr std::int64_t kMaxPop3BatchBytes = std::int64_t{80} << 20;
// A UIDL unique id: 1 to 70 characters from "!" to "~".
inline constexpr std::size_t kMaxPop3UniqueIdBytes = 70;
// The header block kept for a message: its subject, date, sender, reply-to and recipients are
// read from it. A longer one is cut after its last whole line within the limit.
inline constexpr std::size_t kMaxPop3HeaderBytes = std::size_t{1} << 20;

class Pop3Client {
  public:
    // `events` may be nullptr (nobody listens).
    Pop3Client(std::unique_ptr<Pop3Transport> transport, Pop3ClientEvents* events);
    ~Pop3Client();

    // The two limits, in milliseconds: for connecting, and for a server that stops answering.
    void SetConnectTimeout(std::int16_t ms) { m_endpoint.connectTimeoutMs = ms; }
    void SetIdleTimeout(std::int16_t ms) { m_endpoint.idleTimeoutMs = ms; }
    // How long a command and a message may take.
    void SetTimeLimits(const Pop3TimeLimits& limits) { m_endpoint.limits = limits; }
    const std::string& Host() const { return m_endpoint.host; }
    void SetHost(std::string host) { m_endpoint.host = std::move(host); }
    std::int32_t Port() const { return m_endpoint.port; }
    void SetPort(std::int32_t port) { m_endpoint.port = port; }
    const std::string& User() const { return m_endpoint.user; }
    void SetUser(std::string user) { m_endpoint.user = std::move(user); }
    const std::string& Password() const { return m_endpoint.password; }
    void SetPassword(std::string password) { m_endpoint.password = std::move(password); }
    void SetSecurity(AccountSecurity security, AccountAuth auth) {
        m_endpoint.security = security;
        m_endpoint.auth = auth;
    }

    // Opens the session, logs in and reads the message count, then what the server offers
    // (CAPA), the messages' unique ids (UIDL) and sizes (LIST). Non-zero on success; 0 when
    // the server was not reached, refused the login, did not answer STAT or lost the session
    // while listing. A server that refuses a listing command just does not have it.
    std::int16_t Connect();
    std::int32_t MessageCount() const { return m_messageCount; }
    // The server offers PIPELINING (and it is not switched off).
    bool Pipelining() const { return m_pipelining; }
    // Whether PIPELINING is used where offered (it is unless switched off; benchmarks compare).
    void SetPipeliningAllowed(bool allowed) { m_pipeliningAllowed = allowed; }
    // The server answered UIDL.
    bool HasUniqueIds() const { return m_hasUniqueIds; }
    // The unique id of message `number` ("" when the server gave it none usable).
    const std::string& UniqueId(std::int32_t number) const;
    // The messages the UIDL listing left without a usable id (a malformed line, an id two
    // messages share, a message missing from the listing).
    std::int32_t MessagesWithoutUniqueId() const { return m_withoutUniqueId; }
    // Ends the session (QUIT commits the deletions).
    void Close();
    // Messages the walk will not want (true for their number) are left out of the pipelined
    // batches; one asked for all the same is retrieved on its own. With it set, the first
    // message is retrieved alone (the walk learns from it which ones it will pass over).
    void SetPassedOver(std::function<bool(std::int32_t number)> passedOver) {
        m_passedOver = std::move(passedOver);
    }

    const std::string& RetrieveFile() const { return m_retrieveFile; }
    void SetRetrieveFile(std::string path) { m_retrieveFile = std::move(path); }
    const std::string& MessageNumber() const { return m_messageNumber; }
    void SetMessageNumber(std::string number) { m_messageNumber = std::move(number); }
    // Retrieves the message numbered MessageNumber() into RetrieveFile(), or only into Text()
    // when no retrieve file is set. kRetrieved when the whole message arrived; the values
    // below then describe it. kRetrieveTooLong for a message past kMaxPop3MessageBytes (by its
    // announced size, or by what arrived): it is not kept, and the session goes on.
    // kRetrieveFailed otherwise (LastResult says why).
    std::int16_t Retrieve();
    // The size the server announced for the message last retrieved (LIST).
    std::int64_t AnnouncedBytes() const { return m_announcedBytes; }
    // The message as retrieved.
    const std::string& Text() const { return m_text; }
    // What ReadRetrievedMessage reads of it.
    const std::string& Subject() const { return m_subject; }
    const std::string& DateText() const { return m_dateText; }
    const std::string& Header() const { return m_header; }
    const std::string& Body() const { return m_body; }

    // Marks the message last given in MessageNumber() for deletion. 0 on success.
    std::int16_t Delete();

    // What the last step ended with.
    const Pop3Result& LastResult() const { return m_last; }

  private:
    // Keeps `result` as the last one and raises the error event for a socket failure.
    bool Note(Pop3Result result);
    // The listings read after STAT; false when the session was lost.
    bool ReadListings();
    // The size of message `number`: from the session's LIST listing, else asked with
    // LIST n. -1, noted, when it cannot be had.
    std::int64_t SizeOf(std::int32_t number);
    // Asks for the batch of messages that starts at `number`.
    void FetchBatch(std::int32_t number);
    // Hands over message `number` from the batch: written to the retrieve file and described.
    std::int16_t TakeFromBatch(std::int32_t number);
    // Describes `message`, the one retrieved.
    void Describe(std::string message);
    void Status(const std::string& text);
    // The message number as a POP3 message number, or 0 when it is not one.
    std::int32_t Number() const;
    void ClearMessage();

    std::unique_ptr<Pop3Transport> m_transport;
    Pop3ClientEvents* m_events;
    Pop3Endpoint m_endpoint;
    bool m_open = false;
    std::int32_t m_messageCount = 0;
    std::string m_retrieveFile;
    std::string m_messageNumber;
    std::int64_t m_announcedBytes = 0;
    std::string m_text;
    std::string m_subject, m_dateText, m_header, m_body;
    Pop3Result m_last;
    std::function<bool(std::int32_t number)> m_passedOver;
    bool m_pipeliningAllowed = true;
    bool m_pipelining = false;
    bool m_hasUniqueIds = false;
    std::map<std::int32_t, std::string> m_uniqueIds;  // by message number
    std::int32_t m_withoutUniqueId = 0;
    // The sizes the session's LIST gave, by message number (bounded by the listing, not by
    // the count STAT claims).
    std::map<std::int32_t, std::int64_t> m_sizes;
    // Messages of the current batch not handed over yet.
    struct Fetched {
        Pop3Result result;
        std::string text;
        std::int64_t received = 0;
        bool tooLong = false;
    };
    std::map<std::int32_t, Fetched> m_batch;
};

// What a UIDL listing gives for a mailbox of `count` messages: each message's unique id by
// number, where it has one usable. A line that is not "number id" with a number of
// the mailbox and a well-formed id is passed over (its message, where the number can be read,
// gets none); an id given to two messages names neither, and two different ids for one message
// leave it without one, so a key never stands for two messages.
struct UniqueIdListing {
    std::map<std::int32_t, std::string> ids;  // by message number
    std::int32_t withoutId = 0;               // messages of 1..count without one
};
UniqueIdListing ParseUniqueIds(const std::vector<std::string>& lines, std::int32_t count);
// The sizes of a LIST listing by message number; a line that is not "number size" gives none,
// and a message listed with two sizes has none.
std::map<std::int32_t, std::int64_t> ParseListSizes(const std::vector<std::string>& lines,
                                                    std::int32_t count);

// The status line "+OK <count> <size>" of STAT: the count, or -1 when the line is not one.
std::int64_t ParseStatCount(std::string_view reply);
// The status line "+OK <number> <size>" of LIST <number>: the size, or -1 when the line is not
// one for `number`.
std::int64_t ParseListSize(std::string_view reply, std::int32_t number);

// The header block of a message (up to and including the line end before the empty line)
// and the rest, from that empty line on. A message without an empty line is all header.
struct MessageParts {
    std::string_view header;
    std::string_view body;
};
MessageParts SplitMessage(std::string_view message);

// What a retrieved message says of itself: the subject with its encoded words decoded to
// UTF-8, the date field's text, the raw header block (each line ended as in the message, cut
// after the last whole line within kMaxPop3HeaderBytes) and the body (from the empty line that ends
// the header, so it starts with that line's end).
struct RetrievedMessage {
    std::string subject, dateText, header, body;
};
RetrievedMessage ReadRetrievedMessage(std::string_view message);

// The unfolded value of the first header field `name` (matched without regard to case),
// blanks around it removed; "" when absent.
std::string HeaderField(std::string_view header, std::string_view name);

}  // namespace tallix::sources
