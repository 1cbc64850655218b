#include "sources/maildir_reader.h"

#include <gmime/gmime.h>

#include <cctype>
#include <cstring>
#include <memory>

namespace tallix::sources::maildir {
namespace {

// GMime objects are reference counted; each one the reader creates is released here.
struct Unref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref>;

void InitGMime() {
    // The engine reads mail on one thread; GMime is set up once and kept for the process.
    static const bool done = [] {
        g_mime_init();
        return true;
    }();
    (void)done;
}

GMimeParserOptions* ParserOptions() {
    static GMimeParserOptions* options = [] {
        GMimeParserOptions* o = g_mime_parser_options_new();
        // Headers with raw 8-bit text and no declared character set are common; they are read
        // as UTF-8 when they are valid UTF-8, else as ISO-8859-1.
        static const char* fallback[] = {"utf-8", "iso-8859-1", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, fallback);
        g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        return o;
    }();
    return options;
}

std::string Text(const char* s) {
    return s ? std::string(s) : std::string();
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

void AppendCodePoint(std::string& out, std::uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) AppendCodePoint(out, static_cast<unsigned char>(c));
    return out;
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF). Written out
// because GLib's validators stop at a NUL byte, which is a character here.
bool ValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF)
            len = 2;
        else if (b0 == 0xE0)
            len = 3, lo = 0xA0;
        else if (b0 == 0xED)
            len = 3, hi = 0x9F;
        else if (b0 >= 0xE1 && b0 <= 0xEF)
            len = 3;
        else if (b0 == 0xF0)
            len = 4, lo = 0x90;
        else if (b0 == 0xF4)
            len = 4, hi = 0x8F;
        else if (b0 >= 0xF1 && b0 <= 0xF3)
            len = 4;
        else
            return false;
        if (i + len > n) return false;
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        if (b1 < lo || b1 > hi) return false;
        for (std::size_t k = 2; k < len; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

std::string ValidOrLatin1(std::string_view bytes) {
    return ValidUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes);
}

// The decoded content of a leaf part (transfer encoding undone).
std::string PartBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, mem.get()) < 0) return {};
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    if (!array || array->len == 0) return {};
    return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

std::string ObjectBytes(GMimeObject* object) {
    GPtr<GMimeStream> mem(g_mime_stream_mem_new());
    if (g_mime_object_write_to_stream(object, nullptr, mem.get()) < 0) return {};
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
    if (!array || array->len == 0) return {};
    return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

void CollectAddresses(InternetAddressList* list, std::vector<MailAddress>& out, int depth) {
    if (!list || depth > 2) return;  // a group inside a group is not valid mail; one level is read
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            CollectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)),
                             out, depth + 1);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            MailAddress a;
            a.address = Text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
            a.name = Text(internet_address_get_name(address));
            // A mailbox without a display name shows its address, as mail programs do.
            if (a.name.empty()) a.name = a.address;
            if (!a.address.empty() || !a.name.empty()) out.push_back(std::move(a));
        }
    }
}

// Walks the MIME tree: inline text parts make the body, everything else with content is an
// attachment. Attached messages are one attachment each and are not descended into.
class PartWalker {
  public:
    explicit PartWalker(ParsedMessage& out) : m_out(out) {}

    void Walk(GMimeObject* object, int depth) {
        if (!object || m_stopped) return;
        if (++m_parts > kMaxMessageParts) {
            m_stopped = true;
            m_out.notes.push_back(kNoteTooManyParts);
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            if (depth >= kMaxPartDepth) {
                if (!m_tooDeep) m_out.notes.push_back(kNoteTooDeep);
                m_tooDeep = true;
                return;
            }
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count && !m_stopped; ++i) {
                Walk(g_mime_multipart_get_part(multipart, i), depth + 1);
            }
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (!inner) return;
            MailAttachment a;
            a.source = Text(g_mime_object_get_content_disposition_parameter(object, "filename"));
            if (a.source.empty())
                a.source = Text(g_mime_object_get_content_type_parameter(object, "name"));
            if (a.source.empty()) a.source = "message.eml";
            a.content = ObjectBytes(GMIME_OBJECT(inner));
            m_out.attachments.push_back(std::move(a));
        } else if (GMIME_IS_PART(object)) {
            Leaf(GMIME_PART(object));
        }
    }

    void Finish() {
        if (!m_plain.empty()) {
            m_out.text = ToCrLf(m_plain);
        } else if (!m_html.empty()) {
            m_out.text = ToCrLf(HtmlToText(m_html));
            m_out.textFromHtml = true;
        }
    }

  private:
    void Leaf(GMimePart* part) {
        GMimeObject* object = GMIME_OBJECT(part);
        const char* fileName = g_mime_part_get_filename(part);
        const bool attachment = g_mime_part_is_attachment(part) || (fileName && *fileName);
        GMimeContentType* type = g_mime_object_get_content_type(object);
        const bool isText = type && g_mime_content_type_is_type(type, "text", "*");
        if (!attachment && isText) {
            const bool plain = g_mime_content_type_is_type(type, "text", "plain");
            const bool html = g_mime_content_type_is_type(type, "text", "html");
            if (plain || html) {
                std::string text =
                    ToUtf8(PartBytes(part),
                           Text(g_mime_object_get_content_type_parameter(object, "charset")));
                std::string& into = plain ? m_plain : m_html;
                // Several inline parts of one kind (text around an inline picture) are one body.
                if (!into.empty() && !text.empty()) into += "\r\n";
                into += text;
                return;
            }
        }
        MailAttachment a;
        a.source = Text(fileName);
        a.content = PartBytes(part);
        m_out.attachments.push_back(std::move(a));
    }

    ParsedMessage& m_out;
    std::string m_plain;
    std::string m_html;
    std::size_t m_parts = 0;
    bool m_stopped = false;
    bool m_tooDeep = false;
};

struct Entity {
    std::string_view name;
    std::uint32_t codePoint;
};
constexpr Entity kEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},     {"quot", '"'},    {"apos", '\''},
    {"nbsp", ' '},     {"copy", 0xA9},    {"reg", 0xAE},   {"euro", 0x20AC}, {"hellip", 0x2026},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"laquo", 0xAB}, {"raquo", 0xBB},  {"trade", 0x2122},
};

// Decodes the entity that starts at html[at] ('&'); returns the bytes consumed (0: not one).
std::size_t DecodeEntity(std::string_view html, std::size_t at, std::string& out) {
    // Entity names and numbers are short; only the next few bytes are looked at, so a text
    // full of "&" without ";" stays linear.
    constexpr std::size_t kLongestEntity = 10;
    const std::size_t near = html.substr(at + 1, kLongestEntity).find(';');
    if (near == std::string_view::npos) return 0;
    const std::size_t semi = at + 1 + near;
    const std::string_view body = html.substr(at + 1, semi - at - 1);
    if (body.size() >= 2 && body[0] == '#') {
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        std::uint32_t cp = 0;
        for (const char c : digits) {
            int v;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            else
                return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
            if (cp > 0x10FFFF) cp = 0x110000;  // stays out of range, no overflow
        }
        // "&#0;" is not a character a document can show.
        AppendCodePoint(out, cp == 0 ? 0xFFFD : cp);
        return semi - at + 1;
    }
    const std::string lower = LowerAscii(body);
    for (const Entity& e : kEntities) {
        if (lower == e.name) {
            AppendCodePoint(out, e.codePoint);
            return semi - at + 1;
        }
    }
    return 0;
}

bool IsBlockTag(std::string_view name) {
    static constexpr std::string_view kBlocks[] = {
        "br", "p",     "div",        "tr",  "li", "h1", "h2", "h3", "h4", "h5",
        "h6", "table", "blockquote", "pre", "hr", "ul", "ol", "dt", "dd"};
    for (const std::string_view b : kBlocks) {
        if (name == b) return true;
    }
    return false;
}

// Position of the case-insensitive `needle` in `hay` at or after `from`; npos when absent.
std::size_t FindNoCase(std::string_view hay, std::string_view needle, std::size_t from) {
    if (needle.empty() || hay.size() < needle.size()) return std::string_view::npos;
    for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() &&
               std::tolower(static_cast<unsigned char>(hay[i + k])) == needle[k])
            ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

}  // namespace

std::string ToCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    if (bytes.empty()) return {};
    // The character set tables belong to GMime's set-up, which a caller may not have done yet.
    InitGMime();
    const std::string set = LowerAscii(charset);
    if (set.empty() || set == "utf-8" || set == "utf8" || set == "us-ascii" || set == "ascii") {
        return ValidOrLatin1(bytes);
    }
    if (set == "iso-8859-1" || set == "latin1" || set == "iso_8859-1") return Latin1ToUtf8(bytes);
    const char* iconvName = g_mime_charset_iconv_name(set.c_str());
    GError* error = nullptr;
    gsize written = 0;
    gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                                 iconvName ? iconvName : set.c_str(), nullptr, &written, &error);
    if (!converted) {
        g_clear_error(&error);
        return ValidOrLatin1(bytes);
    }
    std::string out(converted, written);
    g_free(converted);
    return out;
}

std::string HtmlToText(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    bool pendingBlank = false;  // runs of white space show as one blank
    auto lineBreak = [&] {
        while (!out.empty() && out.back() == ' ') out.pop_back();
        out += '\n';
        pendingBlank = false;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                const std::size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            const std::size_t close = html.find('>', i + 1);
            if (close == std::string_view::npos) break;  // an unfinished tag ends the text
            std::size_t n = i + 1;
            const bool closing = n < close && html[n] == '/';
            if (closing) ++n;
            std::size_t nameEnd = n;
            while (nameEnd < close && std::isalnum(static_cast<unsigned char>(html[nameEnd])))
                ++nameEnd;
            const std::string name = LowerAscii(html.substr(n, nameEnd - n));
            i = close + 1;
            if (!closing &&
                (name == "head" || name == "style" || name == "script" || name == "title")) {
                // What these hold is never shown; skip to their end tag.
                const std::size_t end = FindNoCase(html, "</" + name, i);
                if (end == std::string_view::npos) break;
                const std::size_t endClose = html.find('>', end);
                i = endClose == std::string_view::npos ? html.size() : endClose + 1;
                continue;
            }
            // A line break always ends a line; other blocks end the line they follow, once.
            if (name == "br" || (IsBlockTag(name) && !out.empty() && out.back() != '\n'))
                lineBreak();
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            if (!out.empty() && out.back() != '\n') pendingBlank = true;
            ++i;
            continue;
        }
        if (pendingBlank) {
            out += ' ';
            pendingBlank = false;
        }
        if (c == '&') {
            if (const std::size_t used = DecodeEntity(html, i, out); used != 0) {
                i += used;
                continue;
            }
        }
        out.push_back(c);
        ++i;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
    return out;
}

ParsedMessage ParseMessageBytes(std::string_view bytes) {
    InitGMime();
    ParsedMessage out;
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), ParserOptions()));
    if (!message) {
        out.text = ToCrLf(ValidOrLatin1(bytes));
        out.notes.push_back(kNoteNotAMessage);
        return out;
    }
    out.parsed = true;
    if (GDateTime* date = g_mime_message_get_date(message.get())) {
        out.sentTime = static_cast<std::int64_t>(g_date_time_to_unix(date));
    }
    std::vector<MailAddress> from;
    CollectAddresses(g_mime_message_get_from(message.get()), from, 0);
    if (!from.empty()) out.sender = std::move(from.front());
    out.subject = Text(g_mime_message_get_subject(message.get()));
    CollectAddresses(g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_TO),
                     out.recipients, 0);
    CollectAddresses(g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_CC),
                     out.recipients, 0);

    PartWalker walker(out);
    walker.Walk(g_mime_message_get_mime_part(message.get()), 0);
    walker.Finish();
    return out;
}

}  // namespace tallix::sources::maildir
