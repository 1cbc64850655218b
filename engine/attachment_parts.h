#pragma once
// Attachments that carry attachments of their own: a forwarded message (a message/rfc822
// part, or a file named .eml) and the winmail.dat an Outlook sender's mail may arrive as
// (application/ms-tnef). Before a template reads a message, the files inside them become
// attachments of the message itself: a forwarded message's files follow it in the list (its
// own text is what the template searches in it), a winmail.dat is replaced by its files, and
// its text becomes the message's body when the message has none.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tallix::engine {

struct MessageWork;

// One file found inside a container attachment.
struct InnerFile {
    std::string name;  // as the container names it: untrusted
    std::string type;  // MIME type where the container gives one, else ""
    std::string data;
};

struct OpenedContainer {
    bool ok = false;
    std::vector<InnerFile> files;
    std::string body;     // with ok: the container's text, UTF-8 with CR LF line ends
    std::string problem;  // without: why it could not be read
};

// The most files taken from one container and the most bytes all of them may hold.
inline constexpr std::size_t kMaxInnerFiles = 256;
inline constexpr std::size_t kMaxInnerBytes = std::size_t{64} << 20;
// Levels of forwarded messages inside forwarded messages that are opened.
inline constexpr int kMaxForwardDepth = 4;

// A forwarded message's text (its plain parts, else its HTML parts' text) and its named parts,
// forwarded messages inside it opened in turn (their files follow them). Never raises.
OpenedContainer OpenForwardedMessage(std::string_view message, int depth = 1);
// The text of a forwarded message as a template searches it: its body as above.
std::string ForwardedMessageText(std::string_view message);

// A TNEF stream's files and body text, read in the calling process. Never raises.
OpenedContainer OpenTnef(std::string_view bytes);
// The same in a child process with a time and a memory limit: the library that reads it is
// old C code and winmail.dat comes from strangers.
OpenedContainer OpenTnefApart(std::string_view bytes,
                              std::chrono::milliseconds time = std::chrono::milliseconds(5000),
                              std::size_t memoryBytes = std::size_t{768} << 20);

// What the attachment at `path` with MIME type `type` holds other attachments as.
enum class ContainerKind { None, ForwardedMessage, Tnef };
ContainerKind ContainerOf(std::string_view path, std::string_view type);

// Opens the message's container attachments once (later calls return at once): their files
// are written beside the other attachment files and listed in the message's attachments; a
// container that cannot be read stays as it is, with one error-log line naming the message
// and the attachment. The files written are noted in message.openedFiles, to be removed
// with the message's other scratch files.
void OpenContainerAttachments(MessageWork& message);

// The attachment file's name as the message gave it (the sources store it under a prefix).
std::string NameOfAttachment(const std::string& path);
// One error-log line (or a trial's report) on an attachment of the message: its name, the
// message, the source, what went wrong and what follows from it.
void NoteAttachmentProblem(const MessageWork& message, const std::string& path,
                           std::string_view problem, std::string_view consequence);

}  // namespace tallix::engine
