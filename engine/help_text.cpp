#include "engine/help_text.h"

#include <algorithm>

#include "settings/text_functions.h"

namespace tallix::engine {

const std::vector<std::string>& HelpSwitchLines() {
    static const std::vector<std::string> lines = {
        "/?", "/s", "",       "/sx", "", "/f<filename>", "", "", "/test NAME [FILE]", "",
        "",   "",   "/watch", "",    "", "/forget NAME", "", "", "Exit status",       "",
        "",   "",
    };
    return lines;
}

const std::vector<std::string>& HelpDescriptionLines() {
    static const std::vector<std::string> lines = {
        "Displays this dialog",
        "Runs in silent mode. Does not show ",
        "any messages to the user. Logs to file only.",
        "Runs in silent mode and without a main ",
        "window. ",
        "Specifies the template file to use. ",
        "Without this parameter all templates are ",
        "ran.",
        "Tries template NAME on the messages of ",
        "FILE (a mailbox file or one message) or ",
        "of the mail source, and prints what it ",
        "extracts. Writes and deletes nothing.",
        "After the run, waits for new mail and ",
        "runs again until SIGTERM or SIGINT. ",
        "Each message is read once.",
        "Forgets which messages template NAME ",
        "(ALL: every template) was given, so the ",
        "next run reads them again.",
        "0: done (watch mode: stopped). ",
        "1: an error, another run in progress, ",
        "or a run stopped before its end. ",
        "2: wrong arguments (/test, /forget).",
    };
    return lines;
}

std::string HelpSwitchText() {
    return Join(HelpSwitchLines(), "\r\n");
}
std::string HelpDescriptionText() {
    return Join(HelpDescriptionLines(), "\r\n");
}

std::string HelpColumnsForConsole() {
    const auto& left = HelpSwitchLines();
    const auto& right = HelpDescriptionLines();
    std::size_t width = 0;
    for (const auto& l : left) width = std::max(width, l.size());
    width += 3;
    std::string out = std::string(kHelpCaption) + "\n\n";
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        std::string l = i < left.size() ? left[i] : "";
        std::string r = i < right.size() ? right[i] : "";
        out += RTrim(l + std::string(width - l.size(), ' ') + r) + "\n";
    }
    return out;
}

}  // namespace tallix::engine
