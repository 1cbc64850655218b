#pragma once
// What a path given as the mail source file looks like, from its first line (or, for a
// folder, from what it holds), so a file read as the wrong kind can be named with the kind
// to choose instead of giving no messages and no reason. The engine says it beside "No
// messsages found."; the options dialog shows it beside the file's box as it is typed.

#include <string>
#include <string_view>

namespace tallix::sources {

enum class MailboxKind {
    Missing,             // nothing at the path (or it cannot be looked at)
    Unreadable,          // a file that cannot be opened for reading
    Empty,               // a file without a byte
    Netscape,            // "From - " lines (Netscape, and Thunderbird's local folders)
    Eudora,              // "From ???@??? " lines
    Mbox,                // "From sender date" lines: a standard mbox file
    SingleMessage,       // header lines from the first line on: one message (.eml)
    ThunderbirdProfile,  // a folder holding a mail profile (prefs.js, Mail/, ImapMail/)
    Maildir,             // a folder holding cur/ and new/
    Folder,              // any other folder
    Unknown,             // a file of none of the kinds above
};

struct MailboxGuess {
    MailboxKind kind = MailboxKind::Unknown;
    // The "UseSource" value that reads the file ("NETSCAPE", "EUDORA", "FILE_OTHER"); empty
    // when no mailbox-file setting does.
    std::string useSource;
    // For a profile folder: the first of its mail files found (its local Inbox when there
    // is one); empty when none was found.
    std::string mailFile;
    // The system's reason for Missing and Unreadable.
    std::string reason;
};

// A folder of any kind (a profile, a Maildir, another).
constexpr bool IsFolderKind(MailboxKind kind) {
    return kind == MailboxKind::ThunderbirdProfile || kind == MailboxKind::Maildir ||
           kind == MailboxKind::Folder;
}

// Looks at `path`: its type, and for a file its first line (at most the first 4 KiB).
MailboxGuess RecogniseMailbox(const std::string& path);

// What the file looks like, for the user ("a standard mbox file", "a Thunderbird profile
// folder"); empty for Missing and Unreadable.
std::string DescribeMailboxKind(const MailboxGuess& guess);

// The caption of the option that reads a mailbox-file kind ("Netscape", "Eurdora",
// "Other - RFC 822 Compliant File"); empty for another value.
std::string_view MailboxChoiceCaption(std::string_view useSource);

// The line the engine and the options dialog give when `path`, configured to be read as
// `useSource`, looks like another kind: what it looks like and which setting to choose (or
// which file to choose in a profile folder). Empty when the kinds agree, the path is a file
// of no known kind, or the path cannot be looked at.
std::string MailboxKindAdvice(const MailboxGuess& guess, std::string_view useSource);

}  // namespace tallix::sources
