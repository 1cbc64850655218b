#include "sources/maildir_reader.h"

#include <cctype>

#include <gmime/gmime.h>

#include <memory>

#include "model/html_text.h"
#include "settings/text_functions.h"
#include "sources/mime_text.h"

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
        // as UTF-8 when they are valid UTF-8, else as Windows-1252.
        static const char* fallback[] = {"utf-8", "windows-1252", nullptr};
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
            a.type = "message/rfc822";
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
            m_out.text = ToCrLf(HtmlShownText(m_html));
            m_out.textFromHtml = true;
            m_out.html = ToCrLf(m_html);
            m_out.htmlDecoded = m_htmlDecoded;
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
                const std::string bytes = PartBytes(part);
                std::string text = ToUtf8(
                    bytes, Text(g_mime_object_get_content_type_parameter(object, "charset")));
                if (html) {
                    const GMimeContentEncoding encoding = g_mime_part_get_content_encoding(part);
                    const bool asWritten = (encoding == GMIME_CONTENT_ENCODING_DEFAULT ||
                                            encoding == GMIME_CONTENT_ENCODING_7BIT ||
                                            encoding == GMIME_CONTENT_ENCODING_8BIT ||
                                            encoding == GMIME_CONTENT_ENCODING_BINARY) &&
                                           PlainSevenBit(bytes) && text == bytes;
                    m_htmlDecoded = m_htmlDecoded || !asWritten;
                }
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
        if (type) {
            char* mime = g_mime_content_type_get_mime_type(type);
            a.type = Text(mime);
            g_free(mime);
            for (char& c : a.type)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        m_out.attachments.push_back(std::move(a));
    }

    ParsedMessage& m_out;
    std::string m_plain;
    std::string m_html;
    bool m_htmlDecoded = false;
    std::size_t m_parts = 0;
    bool m_stopped = false;
    bool m_tooDeep = false;
};

}  // namespace

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    if (bytes.empty()) return {};
    // The character set tables belong to GMime's set-up, which a caller may not have done yet.
    InitGMime();
    // GMime knows the odd spellings mail uses for a set; the conversion itself is the one
    // every source uses.
    const std::string set = LCase(charset);
    const char* iconvName = set.empty() ? nullptr : g_mime_charset_iconv_name(set.c_str());
    return CharsetToUtf8(bytes, iconvName && KnownCharset(iconvName) ? iconvName : set);
}

ParsedMessage ParseMessageBytes(std::string_view bytes) {
    InitGMime();
    ParsedMessage out;
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), ParserOptions()));
    if (!message) {
        out.text = ToCrLf(UndeclaredToUtf8(bytes));
        out.notes.push_back(kNoteNotAMessage);
        return out;
    }
    out.parsed = true;
    {
        // The header lines: up to the first empty line.
        std::size_t end = 0;
        while (end < bytes.size() && end < kMaxHeaderTextBytes) {
            const std::size_t lf = bytes.find('\n', end);
            if (lf == std::string_view::npos || lf > kMaxHeaderTextBytes) break;
            const std::string_view line = bytes.substr(end, lf - end);
            if (line.empty() || line == "\r") break;
            end = lf + 1;
        }
        out.header = std::string(bytes.substr(0, end));
    }
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
