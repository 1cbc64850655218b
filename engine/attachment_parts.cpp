#include "engine/attachment_parts.h"

#include <fcntl.h>
#include <unistd.h>

// The library's header declares C functions without saying so.
extern "C" {
#include <ytnef.h>
}

#include <cstdint>
#include <set>
#include <utility>

#include "engine/attachment_text.h"
#include "engine/run_context.h"
#include "engine/script_host/script_process.h"
#include "model/file_bytes.h"
#include "model/html_text.h"
#include "model/message.h"
#include "qrmime/codec.h"
#include "settings/global_utils.h"
#include "settings/logs.h"
#include "settings/report_capture.h"
#include "settings/run_time_error.h"
#include "settings/scratch_dir.h"
#include "settings/text_functions.h"
#include "sources/attachment_names.h"
#include "sources/mail_source.h"
#include "sources/message_builder.h"
#include "sources/mime_text.h"
#include "sources/pop3_client.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kForwardedType = "message/rfc822";
constexpr std::string_view kTnefType = "application/ms-tnef";
// What a TNEF stream starts with, least significant byte first.
constexpr std::string_view kTnefSignature = "\x78\x9f\x3e\x22";

// A message's header and body, split at the first empty line; the body starts after it.
std::pair<std::string_view, std::string_view> SplitMessage(std::string_view message) {
    const sources::MessageParts parts = sources::SplitMessage(message);
    std::string_view body = parts.body;
    if (body.starts_with("\r\n"))
        body.remove_prefix(2);
    else if (body.starts_with("\n"))
        body.remove_prefix(1);
    return {parts.header, body};
}

std::string ContentType(std::string_view header) {
    return sources::MimeTypeOf(sources::HeaderFieldValue(header, "Content-Type").value_or(""));
}

// A part's content with its transfer encoding undone.
std::string DecodedContent(std::string_view header, std::string_view content) {
    qrmime::TransferEncoding encoding = qrmime::TransferEncoding::SevenBit;
    if (const auto field = sources::HeaderFieldValue(header, "Content-Transfer-Encoding"))
        qrmime::ClassifyTransferEncoding(*field, encoding);
    if (encoding == qrmime::TransferEncoding::SevenBit) return std::string(content);
    std::string out;
    qrmime::StreamDecoder decoder(encoding);
    decoder.Decode(content, out);
    decoder.Finish(out);
    return out;
}

// The named parts below one part of a forwarded message, in order; forwarded messages inside
// it are files too, followed by their own files.
class FileWalk {
  public:
    explicit FileWalk(OpenedContainer& out) : m_out(out) {}

    void Part(std::string_view header, std::string_view content, int levels, int depth) {
        if (Full()) return;
        if (sources::IsMultipartHeader(header)) {
            if (levels >= sources::kMaxNestedMultiparts) return;
            const auto boundary = sources::HeaderParameter(
                sources::HeaderFieldValue(header, "Content-Type").value_or(""), "boundary");
            if (!boundary || boundary->empty()) return;
            for (const sources::MimePart& part : sources::SplitMultipart(content, *boundary))
                Part(part.header, part.content, levels + 1, depth);
            return;
        }
        const std::string type = ContentType(header);
        std::string name = sources::PartFileName(header);
        const bool forwarded = type == kForwardedType;
        if (name.empty() && !forwarded) return;  // text of the message, not a file
        if (name.empty()) name = "message.eml";
        InnerFile file{std::move(name), type, DecodedContent(header, content)};
        m_bytes += file.data.size();
        if (m_bytes > kMaxInnerBytes) {
            m_full = true;
            return;
        }
        std::string inner = forwarded ? file.data : std::string();
        m_out.files.push_back(std::move(file));
        if (forwarded && depth < kMaxForwardDepth) {
            const auto [innerHeader, innerBody] = SplitMessage(inner);
            Part(innerHeader, innerBody, 1, depth + 1);
        }
    }

    bool Full() const { return m_full || m_out.files.size() >= kMaxInnerFiles; }

  private:
    OpenedContainer& m_out;
    std::size_t m_bytes = 0;
    bool m_full = false;
};

// A UTF-16LE text ended by a zero character or by its size, as UTF-8.
std::string Utf16ToUtf8(const variableLength& v) {
    std::string bytes(reinterpret_cast<const char*>(v.data), static_cast<std::size_t>(v.size));
    std::string text = sources::CharsetToUtf8(bytes, "UTF-16LE");
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

// An 8-bit text ended by a zero byte or by its size, read in the stream's code page.
std::string EightBitToUtf8(const variableLength& v, const std::string& charset) {
    std::string_view bytes(reinterpret_cast<const char*>(v.data), static_cast<std::size_t>(v.size));
    if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos)
        bytes = bytes.substr(0, nul);
    return sources::CharsetToUtf8(bytes, charset);
}

bool Present(const variableLength* v) {
    return v && v != MAPI_UNDEFINED && v->data && v->size > 0;
}

// The text property `id` of `props`, in its Unicode or its 8-bit form; "" without one.
std::string TextProperty(MAPIProps* props, unsigned int id, const std::string& charset) {
    if (const variableLength* v = MAPIFindProperty(props, PROP_TAG(PT_UNICODE, id)); Present(v))
        return Utf16ToUtf8(*v);
    if (const variableLength* v = MAPIFindProperty(props, PROP_TAG(PT_STRING8, id)); Present(v))
        return EightBitToUtf8(*v, charset);
    return {};
}

void PutContainer(std::string& out, const OpenedContainer& opened) {
    script::PutText(out, opened.body);
    for (const InnerFile& file : opened.files) {
        script::PutText(out, file.name);
        script::PutText(out, file.type);
        script::PutText(out, file.data);
    }
}

bool TakeContainer(std::string_view in, OpenedContainer& opened) {
    if (!script::TakeText(in, opened.body)) return false;
    while (!in.empty()) {
        InnerFile file;
        if (!script::TakeText(in, file.name) || !script::TakeText(in, file.type) ||
            !script::TakeText(in, file.data))
            return false;
        opened.files.push_back(std::move(file));
    }
    return true;
}

}  // namespace

std::string ForwardedMessageText(std::string_view message) {
    const auto [header, body] = SplitMessage(message);
    if (sources::IsMultipartHeader(header)) {
        sources::MessageValues values;
        sources::AddTextParts(header, body, values);
        // Parts written as their text are the body as read; others are decoded.
        std::optional<std::string> decoded = sources::BodyFromParts(values);
        std::string text = decoded ? std::move(*decoded) : values.body.value_or("");
        if (values.plainParts.empty() && !values.htmlParts.empty()) text = StripHtml(text);
        return text;
    }
    if (!sources::PartFileName(header).empty()) return {};  // a message that is one file
    const bool html = sources::IsHtmlPart(header);
    std::string text = sources::PartBodyText(header, body, html);
    return html ? StripHtml(text) : text;
}

OpenedContainer OpenForwardedMessage(std::string_view message, int depth) {
    OpenedContainer opened;
    opened.body = ForwardedMessageText(message);
    const auto [header, body] = SplitMessage(message);
    FileWalk walk(opened);
    // The message's own top part is its text, not a file, unless it names itself one.
    if (sources::IsMultipartHeader(header) || !sources::PartFileName(header).empty())
        walk.Part(header, body, 1, depth);
    opened.ok = true;
    return opened;
}

OpenedContainer OpenTnef(std::string_view bytes) {
    OpenedContainer opened;
    if (!bytes.starts_with(kTnefSignature)) {
        opened.problem = "not a TNEF stream (winmail.dat)";
        return opened;
    }
    std::string copy(bytes);
    TNEFStruct tnef;
    TNEFInitialize(&tnef);
    tnef.Debug = 0;
    const int parsed = TNEFParseMemory(reinterpret_cast<BYTE*>(copy.data()),
                                       static_cast<long>(copy.size()), &tnef);
    if (parsed < 0) {
        TNEFFree(&tnef);
        opened.problem = "a damaged TNEF stream (winmail.dat) that cannot be read";
        return opened;
    }
    std::string charset = "windows-1252";
    if (tnef.CodePage.data && tnef.CodePage.size >= 4) {
        const auto* c = tnef.CodePage.data;
        const std::uint32_t page = c[0] | (c[1] << 8) | (c[2] << 16) | (std::uint32_t{c[3]} << 24);
        if (page != 0 && page != 65001) charset = "windows-" + std::to_string(page);
        if (page == 65001) charset = "UTF-8";
    }
    if (tnef.body.data && tnef.body.size > 0) opened.body = EightBitToUtf8(tnef.body, charset);
    if (opened.body.empty()) opened.body = TextProperty(&tnef.MapiProperties, PR_BODY, charset);
    opened.body = sources::ToCrLf(opened.body);
    std::size_t total = 0;
    for (Attachment* a = tnef.starting_attach.next; a && opened.files.size() < kMaxInnerFiles;
         a = a->next) {
        InnerFile file;
        file.name = TextProperty(&a->MAPI, PR_ATTACH_LONG_FILENAME, charset);
        if (file.name.empty() && a->Title.data) file.name = EightBitToUtf8(a->Title, charset);
        const variableLength* data = &a->FileData;
        if (!Present(data))
            data = MAPIFindProperty(&a->MAPI, PROP_TAG(PT_BINARY, PR_ATTACH_DATA_OBJ));
        if (!Present(data)) continue;  // an embedded object or a link: no file
        total += static_cast<std::size_t>(data->size);
        if (total > kMaxInnerBytes) break;
        if (file.name.empty()) file.name = "attachment";
        file.data.assign(reinterpret_cast<const char*>(data->data),
                         static_cast<std::size_t>(data->size));
        opened.files.push_back(std::move(file));
    }
    TNEFFree(&tnef);
    opened.ok = true;
    return opened;
}

OpenedContainer OpenTnefApart(std::string_view bytes, std::chrono::milliseconds time,
                              std::size_t memoryBytes) {
    const ConvertedText run = RunConversionApart(
        [&] {
            // The library prints its complaints; they are not the engine's output.
            if (const int null = ::open("/dev/null", O_WRONLY); null >= 0) {
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
                ::close(null);
            }
            const OpenedContainer opened = OpenTnef(bytes);
            ConvertedText answer;
            answer.ok = opened.ok;
            if (opened.ok)
                PutContainer(answer.text, opened);
            else
                answer.problem = opened.problem;
            return answer;
        },
        {time, memoryBytes});
    OpenedContainer opened;
    if (!run.ok) {
        opened.problem = run.problem;
        return opened;
    }
    opened.ok = TakeContainer(run.text, opened);
    if (!opened.ok) {
        opened = {};
        opened.problem = "the reading gave no answer";
    }
    return opened;
}

ContainerKind ContainerOf(std::string_view path, std::string_view type) {
    if (EqualsNoCase(type, kForwardedType) || EndsWithNoCase(path, ".eml"))
        return ContainerKind::ForwardedMessage;
    if (EqualsNoCase(type, kTnefType) || EndsWithNoCase(path, "winmail.dat"))
        return ContainerKind::Tnef;
    return ContainerKind::None;
}

void NoteAttachmentProblem(const MessageWork& message, const std::string& path,
                           std::string_view problem, std::string_view consequence) {
    const std::string note = "Attachment " + LogSafe(NameOfAttachment(path)) +
                             " of the message \"" + LogSafe(message.Message().Subject()) +
                             "\" from " + message.source.ID() + ": " + std::string(problem) + "; " +
                             std::string(consequence);
    if (ReportCapture* capture = ReportCapture::Active())
        capture->Add(note);
    else
        WriteLog(kErrorLog, note);
}

std::string NameOfAttachment(const std::string& path) {
    std::string name = JustFileName(path);
    if (name.starts_with(sources::kAttachmentPrefix))
        name.erase(0, sources::kAttachmentPrefix.size());
    return name;
}

void OpenContainerAttachments(MessageWork& message) {
    if (message.containersOpened) return;
    message.containersOpened = true;
    txMessage& m = message.Message();
    const auto attachments = m.Attachments();
    if (!attachments || attachments->Count() < 1) return;
    std::vector<std::pair<std::string, std::string>> list;  // path, type
    bool any = false;
    for (std::int32_t i = 1; i <= attachments->Count(); ++i) {
        list.emplace_back(attachments->Item(i), m.AttachmentType(i));
        any = any || ContainerOf(list.back().first, list.back().second) != ContainerKind::None;
    }
    if (!any) return;

    if (ScratchDir().empty()) {
        NoteAttachmentProblem(message, list.front().first, "no folder for scratch files",
                              "the files inside its attachments are not read");
        return;
    }
    std::set<std::string> taken;
    for (const auto& [path, type] : list) taken.insert(JustFileName(path));
    std::vector<std::pair<std::string, std::string>> opened;
    for (const auto& [path, type] : list) {
        const ContainerKind kind = ContainerOf(path, type);
        if (kind == ContainerKind::None) {
            opened.emplace_back(path, type);
            continue;
        }
        // A decoded attachment may be held in memory rather than written.
        std::string read;
        const std::string* bytes = KeptScratchFile(path);
        OpenedContainer inside;
        if (!bytes) {
            if (const int error = ReadRegularFile(path, read, kMaxInnerBytes))
                inside.problem = SystemReason(error);
            bytes = &read;
        }
        if (inside.problem.empty())
            inside =
                kind == ContainerKind::Tnef ? OpenTnefApart(*bytes) : OpenForwardedMessage(*bytes);
        if (!inside.ok) {
            NoteAttachmentProblem(message, path, inside.problem,
                                  "the files inside it are not read");
            opened.emplace_back(path, type);
            continue;
        }
        // A forwarded message stays an attachment (its text is searched in it); a
        // winmail.dat gives way to its files.
        if (kind == ContainerKind::ForwardedMessage) opened.emplace_back(path, type);
        if (kind == ContainerKind::Tnef) {
            message.openedFiles.push_back(path);
            if (TrimView(m.Body()).empty() && !inside.body.empty()) m.SetBody(inside.body);
        }
        for (const InnerFile& file : inside.files) {
            const std::string name = sources::AttachmentFileName(file.name, taken);
            // Kept in memory like a decoded attachment: written only where a path is read.
            const std::string target = ScratchFile(name);
            KeepScratchFile(target, file.data);
            message.openedFiles.push_back(target);
            opened.emplace_back(target, file.type);
        }
    }
    auto replaced = std::make_shared<TextCollection>();
    for (const auto& [path, type] : opened) replaced->Add(path);
    m.SetAttachments(replaced);
    const std::size_t count = std::max(opened.size(), list.size());
    for (std::size_t i = 0; i < count; ++i)
        m.SetAttachmentType(static_cast<std::int32_t>(i + 1),
                            i < opened.size() ? opened[i].second : "");
}

}  // namespace tallix::engine
