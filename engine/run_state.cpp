#include "engine/run_state.h"

#include "settings/error_reporter.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {

CommandLine ParseCommandLine(std::string_view argumentText, void (*perCharacter)()) {
    CommandLine cl;
    std::string_view text = TrimView(argumentText);
    char current = 'F';
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '/') {
            if (i + 1 == text.size()) break;
            current = UpperAscii(text[++i]);
            switch (current) {
                case 'F': cl.templateSelection.clear(); break;
                case 'S': cl.silentMode = true; break;
                case 'H':
                case '?': cl.helpRequested = true; break;
                default: break;
            }
        } else if (current == 'F') {
            cl.templateSelection.push_back(c);
        } else if (current == 'S' && UpperAscii(c) == 'X') {
            cl.noWindow = true;
        }
        if (perCharacter) perCharacter();
    }
    cl.templateSelection = Trim(cl.templateSelection);
    return cl;
}

std::string ArgumentText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text.push_back(' ');
        text += argv[i];
    }
    return text;
}

RunState& Run() {
    static RunState state;
    return state;
}

void InitApp() {
    Guard("Sub InitApp:", [] {
        Run().commandLine = CommandLine{};
        SetSilentMode(false);
    });
}

void GetCmdLnArgs(std::string_view argumentText) {
    Guard("Sub GetCmdLnArgs: ", [&] {
        Run().commandLine = ParseCommandLine(argumentText, &LetEventsRun);
        if (Run().commandLine.silentMode) SetSilentMode(true);
    });
}

}  // namespace tallix::engine
