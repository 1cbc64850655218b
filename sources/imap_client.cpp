#include "sources/imap_client.h"

#include <openssl/evp.h>

#include "settings/text_functions.h"

namespace tallix::sources {
namespace {

std::string Base64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

bool ParseUid(std::string_view text, std::uint32_t& uid) {
    std::uint64_t value = 0;
    if (!ParseNumber(text, value) || value == 0 || value > UINT32_MAX) return false;
    uid = static_cast<std::uint32_t>(value);
    return true;
}

// The items of an untagged "* n FETCH (...)" response, by name: numbers and atoms as text,
// BODY[] as its literal (or string). false when the response is not a FETCH.
struct FetchItems {
    std::uint32_t uid = 0;
    std::uint64_t size = 0;
    bool hasSize = false;
    const std::string* body = nullptr;
    std::string bodyString;
    bool hasBody = false;
};

bool ReadFetch(const ImapResponse& response, FetchItems& items) {
    ImapTokens tokens(response);
    if (tokens.Next().text != "*") return false;
    std::uint64_t sequence = 0;
    if (!ParseNumber(tokens.Next().text, sequence)) return false;
    if (!EqualsNoCase(tokens.Next().text, "FETCH")) return false;
    if (tokens.Next().kind != ImapToken::Open) return false;
    for (;;) {
        const ImapToken name = tokens.Next();
        if (name.kind == ImapToken::Close || name.kind == ImapToken::End) break;
        const ImapToken value = tokens.Next();
        if (EqualsNoCase(name.text, "UID")) {
            ParseUid(value.text, items.uid);
        } else if (EqualsNoCase(name.text, "RFC822.SIZE")) {
            items.hasSize = ParseNumber(value.text, items.size);
        } else if (EqualsNoCase(name.text, "BODY[]")) {
            items.hasBody = true;
            if (value.kind == ImapToken::Literal)
                items.body = &response.literals[value.literal];
            else if (value.kind == ImapToken::String)
                items.bodyString = value.text;
        } else {
            tokens.SkipValue(value);
        }
    }
    return true;
}

}  // namespace

std::string UidSet(const std::vector<std::uint32_t>& uids) {
    std::string set;
    for (std::uint32_t uid : uids) {
        if (!set.empty()) set += ',';
        set += std::to_string(uid);
    }
    return set;
}

bool ImapClient::Has(std::string_view capability) const {
    return m_capabilities.count(UCase(std::string(capability))) > 0;
}

void ImapClient::Note(const ImapResponse& response) {
    const std::string& text = response.text;
    const auto capabilities = [&](std::string_view list) {
        m_capabilities.clear();
        std::size_t at = 0;
        while (at < list.size()) {
            const std::size_t end = std::min(list.find(' ', at), list.size());
            if (end > at) m_capabilities.insert(UCase(std::string(list.substr(at, end - at))));
            at = end + 1;
        }
    };
    // A response code: "* OK [UIDVALIDITY 3857529045] ..." or "* OK [CAPABILITY ...] ...".
    if (text.rfind("* OK [", 0) == 0 || text.rfind("* PREAUTH [", 0) == 0) {
        const std::size_t open = text.find('[');
        const std::size_t close = text.find(']', open);
        if (close == std::string::npos) return;
        const std::string_view code = std::string_view(text).substr(open + 1, close - open - 1);
        const std::size_t space = code.find(' ');
        const std::string_view name = code.substr(0, space);
        const std::string_view value =
            space == std::string_view::npos ? "" : code.substr(space + 1);
        std::uint32_t v = 0;
        if (EqualsNoCase(name, "UIDVALIDITY") && ParseUid(value, v)) m_uidValidity = v;
        if (EqualsNoCase(name, "CAPABILITY")) capabilities(value);
        return;
    }
    if (text.size() > 13 && EqualsNoCase(std::string_view(text).substr(0, 13), "* CAPABILITY ")) {
        capabilities(std::string_view(text).substr(13));
        return;
    }
    ImapTokens tokens(response);
    tokens.Next();
    const ImapToken second = tokens.Next();
    std::uint64_t count = 0;
    if (!ParseNumber(second.text, count)) return;
    const std::string what = tokens.Next().text;
    if (EqualsNoCase(what, "EXISTS")) {
        const std::uint32_t exists =
            count > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(count);
        if (exists > m_exists) m_arrived = true;
        m_exists = exists;
    } else if (EqualsNoCase(what, "EXPUNGE") && m_exists > 0) {
        --m_exists;
    }
}

ImapResult ImapClient::Command(const std::string& command, const Untagged& untagged,
                               const Continuation& more) {
    if (!m_stream.IsOpen()) return ImapFailure(ImapOutcome::Failed, "No session is open");
    const std::string tag = "T" + std::to_string(++m_tag);
    const auto lost = [&](ImapResult result) {
        m_stream.Close();
        return result;
    };
    if (ImapResult r = m_stream.Write(tag + " " + command + "\r\n", m_endpoint.idleTimeoutMs);
        !r.ok())
        return lost(r);
    ImapResponse response;
    for (;;) {
        if (ImapResult r = m_reader.Next(response, m_endpoint.idleTimeoutMs); !r.ok())
            return lost(r);
        const std::string& text = response.text;
        if (text.rfind(tag + " ", 0) == 0) {
            ImapResult result;
            result.reply = text.substr(tag.size() + 1);
            if (result.reply.rfind("OK", 0) == 0) {
                if (result.reply.rfind("OK [CAPABILITY ", 0) == 0) {
                    ImapResponse code;
                    code.text = "* " + result.reply;
                    Note(code);
                }
                return result;
            }
            if (result.reply.rfind("NO", 0) == 0 || result.reply.rfind("BAD", 0) == 0) {
                result.outcome = ImapOutcome::ServerError;
                return result;
            }
            return lost(ImapFailure(ImapOutcome::Failed,
                                    "The server's answer is not IMAP: " + result.reply));
        }
        if (text.rfind("* ", 0) == 0) {
            Note(response);
            if (text.rfind("* BYE", 0) == 0) {
                ImapResult bye = ImapFailure(ImapOutcome::Failed, "The server ended the session");
                bye.reply = text.substr(2);
                return lost(bye);
            }
            if (untagged) {
                if (ImapResult r = untagged(response); !r.ok()) return lost(r);
            }
            continue;
        }
        if (text.rfind("+", 0) == 0 && more) {
            if (ImapResult r = m_stream.Write(more(response) + "\r\n", m_endpoint.idleTimeoutMs);
                !r.ok())
                return lost(r);
            continue;
        }
        return lost(ImapFailure(ImapOutcome::Failed,
                                "The server sent a line that is not IMAP: " + text.substr(0, 80)));
    }
}

ImapResult ImapClient::Capabilities() {
    return Command("CAPABILITY");
}

ImapResult ImapClient::Open(const ImapEndpoint& endpoint) {
    Logout();
    m_endpoint = endpoint;
    m_capabilities.clear();
    m_uidValidity = 0;
    m_exists = 0;
    m_reader.Reset();
    if (ImapResult r = m_stream.Connect(endpoint.host, endpoint.port, endpoint.connectTimeoutMs);
        !r.ok())
        return r;
    const auto fail = [&](ImapResult result) {
        m_stream.Close();
        return result;
    };
    if (endpoint.security == AccountSecurity::Tls) {
        if (ImapResult r = m_stream.StartTls(endpoint.host, endpoint.connectTimeoutMs); !r.ok())
            return fail(r);
    }
    ImapResponse greeting;
    if (ImapResult r = m_reader.Next(greeting, endpoint.connectTimeoutMs); !r.ok()) return fail(r);
    if (greeting.text.rfind("* OK", 0) != 0 && greeting.text.rfind("* PREAUTH", 0) != 0)
        return fail(ImapFailure(ImapOutcome::Failed, "The server's greeting is not IMAP: " +
                                                         greeting.text.substr(0, 80)));
    Note(greeting);
    if (ImapResult r = Capabilities(); !r.ok()) return fail(r);
    if (endpoint.security == AccountSecurity::StartTls) {
        // Nothing of the login is sent before the connection is secured.
        if (!Has("STARTTLS"))
            return fail(ImapFailure(ImapOutcome::Tls, "The server does not offer STARTTLS"));
        if (ImapResult r = Command("STARTTLS"); !r.ok()) {
            if (r.outcome == ImapOutcome::ServerError) r.outcome = ImapOutcome::Tls;
            return fail(r);
        }
        // What the server said before TLS is forgotten; it is asked again.
        m_reader.Reset();
        m_capabilities.clear();
        if (ImapResult r = m_stream.StartTls(endpoint.host, endpoint.connectTimeoutMs); !r.ok())
            return fail(r);
        if (ImapResult r = Capabilities(); !r.ok()) return fail(r);
    }
    if (greeting.text.rfind("* PREAUTH", 0) == 0) return {};
    if (ImapResult r = Login(endpoint); !r.ok()) return fail(r);
    // The capabilities may change with the login; the answer often carries them.
    if (ImapResult r = Capabilities(); !r.ok()) return fail(r);
    return {};
}

ImapResult ImapClient::Login(const ImapEndpoint& endpoint) {
    const auto refused = [](ImapResult r) {
        if (r.outcome == ImapOutcome::ServerError) r.outcome = ImapOutcome::LoginRefused;
        return r;
    };
    // A SASL exchange answers the server's challenge with nothing: after a failed XOAUTH2
    // the server sends its reasons as a challenge and then refuses.
    const Continuation emptyAnswer = [](const ImapResponse&) { return std::string(); };
    if (endpoint.auth == AccountAuth::XOAuth2) {
        if (!Has("AUTH=XOAUTH2"))
            return ImapFailure(ImapOutcome::LoginRefused, "The server does not offer XOAUTH2");
        const std::string token = Base64("user=" + endpoint.user + "\x01" + "auth=Bearer " +
                                         endpoint.password + "\x01\x01");
        if (Has("SASL-IR"))
            return refused(Command("AUTHENTICATE XOAUTH2 " + token, {}, emptyAnswer));
        bool sent = false;
        return refused(Command("AUTHENTICATE XOAUTH2", {}, [&](const ImapResponse&) {
            if (sent) return std::string();
            sent = true;
            return token;
        }));
    }
    const std::optional<std::vector<std::string>> login =
        ImapLoginPieces(endpoint.user, endpoint.password, Has("LITERAL+"));
    const bool loginAllowed = !Has("LOGINDISABLED") && login;
    if (Has("AUTH=PLAIN") || !loginAllowed) {
        if (!Has("AUTH=PLAIN"))
            return ImapFailure(ImapOutcome::LoginRefused,
                               Has("LOGINDISABLED")
                                   ? "The server allows no login by password"
                                   : "The user name or password holds a line break or a NUL, "
                                     "which LOGIN cannot carry, and the server does not offer "
                                     "PLAIN");
        const std::string plain =
            Base64(std::string(1, '\0') + endpoint.user + std::string(1, '\0') + endpoint.password);
        if (Has("SASL-IR")) return refused(Command("AUTHENTICATE PLAIN " + plain, {}, emptyAnswer));
        bool sent = false;
        return refused(Command("AUTHENTICATE PLAIN", {}, [&](const ImapResponse&) {
            if (sent) return std::string();
            sent = true;
            return plain;
        }));
    }
    // Each piece after the first answers the server's request for the next literal.
    std::size_t next = 1;
    return refused(Command(login->front(), {}, [&](const ImapResponse&) {
        return next < login->size() ? (*login)[next++] : std::string();
    }));
}

ImapResult ImapClient::Select(std::string_view folder, bool readOnly) {
    const std::optional<std::string> name = ImapMailboxArgument(folder);
    if (!name) return ImapFailure(ImapOutcome::Failed, "The folder name holds a line break");
    m_uidValidity = 0;
    m_exists = 0;
    ImapResult result = Command((readOnly ? "EXAMINE " : "SELECT ") + *name);
    m_arrived = false;
    if (result.ok() && m_uidValidity == 0)
        return ImapFailure(ImapOutcome::Failed, "The server gave the folder no UIDVALIDITY");
    return result;
}

ImapResult ImapClient::List(std::vector<ImapListed>& messages) {
    messages.clear();
    const std::uint32_t exists = m_exists;
    if (exists == 0) return {};
    std::set<std::uint32_t> seen;
    ImapResult result =
        Command("FETCH 1:" + std::to_string(exists) + " (UID RFC822.SIZE)",
                [&](const ImapResponse& response) -> ImapResult {
                    FetchItems items;
                    if (!ReadFetch(response, items) || !items.hasSize) return {};
                    if (items.uid == 0 || !seen.insert(items.uid).second)
                        return ImapFailure(ImapOutcome::Failed,
                                           "The server listed a message without a usable UID");
                    if (messages.size() >= exists)
                        return ImapFailure(ImapOutcome::Failed,
                                           "The server listed more messages than the folder holds");
                    messages.push_back({items.uid, items.size});
                    return {};
                });
    if (!result.ok()) return result;
    if (messages.size() != exists)
        return ImapFailure(ImapOutcome::Failed,
                           "The server said the folder holds " + std::to_string(exists) +
                               " messages but listed " + std::to_string(messages.size()));
    return result;
}

ImapResult ImapClient::Fetch(const std::vector<std::uint32_t>& uids,
                             std::map<std::uint32_t, std::string>& bodies) {
    bodies.clear();
    if (uids.empty()) return {};
    const std::set<std::uint32_t> wanted(uids.begin(), uids.end());
    std::uint64_t total = 0;
    ImapResult result =
        Command("UID FETCH " + UidSet(uids) + " (UID BODY.PEEK[])",
                [&](const ImapResponse& response) -> ImapResult {
                    FetchItems items;
                    if (!ReadFetch(response, items) || !items.hasBody) return {};
                    if (!wanted.count(items.uid))
                        return {};  // another message's news: not asked for
                    std::string body = items.body ? *items.body : items.bodyString;
                    total += body.size();
                    if (total > kMaxImapBatchBytes)
                        return ImapFailure(ImapOutcome::Failed,
                                           "The server sent more than " +
                                               std::to_string(kMaxImapBatchBytes) + " bytes for " +
                                               std::to_string(uids.size()) + " messages");
                    bodies[items.uid] = std::move(body);
                    return {};
                });
    if (!result.ok()) return result;
    for (std::uint32_t uid : uids)
        if (!bodies.count(uid))
            return ImapFailure(
                ImapOutcome::Failed,
                "The server did not send the message with UID " + std::to_string(uid));
    return result;
}

ImapResult ImapClient::FlagDeleted(std::uint32_t uid) {
    return Command("UID STORE " + std::to_string(uid) + " +FLAGS.SILENT (\\Deleted)");
}

ImapResult ImapClient::Expunge(const std::set<std::uint32_t>& uids) {
    if (uids.empty()) return {};
    return Command("UID EXPUNGE " + UidSet({uids.begin(), uids.end()}));
}

ImapResult ImapClient::Move(std::uint32_t uid, std::string_view folder) {
    const std::optional<std::string> name = ImapMailboxArgument(folder);
    if (!name) return ImapFailure(ImapOutcome::Failed, "The folder name holds a line break");
    return Command("UID MOVE " + std::to_string(uid) + " " + *name);
}

ImapResult ImapClient::Copy(std::uint32_t uid, std::string_view folder) {
    const std::optional<std::string> name = ImapMailboxArgument(folder);
    if (!name) return ImapFailure(ImapOutcome::Failed, "The folder name holds a line break");
    return Command("UID COPY " + std::to_string(uid) + " " + *name);
}

ImapResult ImapClient::Folders(std::vector<std::string>& names) {
    names.clear();
    return Command("LIST \"\" \"*\"", [&](const ImapResponse& response) -> ImapResult {
        ImapTokens tokens(response);
        if (tokens.Next().text != "*" || !EqualsNoCase(tokens.Next().text, "LIST")) return {};
        const ImapToken flags = tokens.Next();
        tokens.SkipValue(flags);
        tokens.Next();  // the delimiter
        const ImapToken name = tokens.Next();
        if (name.kind == ImapToken::Literal)
            names.push_back(DecodeModifiedUtf7(response.literals[name.literal]));
        else if (name.kind == ImapToken::Atom || name.kind == ImapToken::String)
            names.push_back(DecodeModifiedUtf7(name.text));
        return {};
    });
}

ImapResult ImapClient::StartIdle() {
    if (!m_stream.IsOpen()) return ImapFailure(ImapOutcome::Failed, "No session is open");
    m_idleTag = "T" + std::to_string(++m_tag);
    const auto lost = [&](ImapResult result) {
        m_stream.Close();
        return result;
    };
    if (ImapResult r = m_stream.Write(m_idleTag + " IDLE\r\n", m_endpoint.idleTimeoutMs); !r.ok())
        return lost(r);
    ImapResponse response;
    for (;;) {
        if (ImapResult r = m_reader.Next(response, m_endpoint.idleTimeoutMs); !r.ok())
            return lost(r);
        const std::string& text = response.text;
        if (text.rfind("+", 0) == 0) {
            m_idling = true;
            return {};
        }
        if (text.rfind(m_idleTag + " ", 0) == 0) {
            ImapResult refused = ImapFailure(ImapOutcome::ServerError, "The server refused IDLE");
            refused.reply = text.substr(m_idleTag.size() + 1);
            if (refused.reply.rfind("NO", 0) == 0 || refused.reply.rfind("BAD", 0) == 0)
                return refused;
            return lost(ImapFailure(ImapOutcome::Failed,
                                    "The server's answer is not IMAP: " + text.substr(0, 80)));
        }
        if (ImapResult r = ReadUntagged(response); !r.ok()) return lost(r);
    }
}

ImapResult ImapClient::ReadUntagged(const ImapResponse& response) {
    const std::string& text = response.text;
    if (text.rfind("* ", 0) != 0)
        return ImapFailure(ImapOutcome::Failed,
                           "The server sent a line that is not IMAP: " + text.substr(0, 80));
    Note(response);
    if (text.rfind("* BYE", 0) == 0) {
        ImapResult bye = ImapFailure(ImapOutcome::Failed, "The server ended the session");
        bye.reply = text.substr(2);
        return bye;
    }
    return {};
}

ImapResult ImapClient::ReadIdle() {
    if (!m_idling) return ImapFailure(ImapOutcome::Failed, "Not idling");
    ImapResponse response;
    ImapResult result = m_reader.Next(response, m_endpoint.idleTimeoutMs);
    if (result.ok() && response.text.rfind(m_idleTag + " ", 0) == 0) {
        m_idling = false;  // the server ended the IDLE; the caller starts another
        return {};
    }
    if (result.ok()) result = ReadUntagged(response);
    if (!result.ok()) {
        m_idling = false;
        m_stream.Close();
    }
    return result;
}

ImapResult ImapClient::StopIdle() {
    if (!m_idling) return {};
    m_idling = false;
    const auto lost = [&](ImapResult result) {
        m_stream.Close();
        return result;
    };
    if (ImapResult r = m_stream.Write("DONE\r\n", m_endpoint.idleTimeoutMs); !r.ok())
        return lost(r);
    ImapResponse response;
    for (;;) {
        if (ImapResult r = m_reader.Next(response, m_endpoint.idleTimeoutMs); !r.ok())
            return lost(r);
        if (response.text.rfind(m_idleTag + " ", 0) == 0) return {};
        if (ImapResult r = ReadUntagged(response); !r.ok()) return lost(r);
    }
}

void ImapClient::Logout() {
    if (m_idling) StopIdle();
    if (!m_stream.IsOpen()) return;
    // A short wait: the session's work is done, and a server that does not answer LOGOUT
    // must not hold the run.
    const int idle = m_endpoint.idleTimeoutMs;
    m_endpoint.idleTimeoutMs = std::min(idle, 5000);
    Command("LOGOUT");
    m_endpoint.idleTimeoutMs = idle;
    m_stream.Close();
}

}  // namespace tallix::sources
