#include "engine/engine_log.h"

#include "engine/procedure_contexts.h"
#include "settings/error_reporter.h"
#include "settings/global_utils.h"
#include "settings/logs.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {

void LogSystem(std::string_view text, std::string_view fileName) {
    Guard(context::kLogSystem, [&] {
        std::string entry = TrimView(fileName).empty()
                                ? std::string(text)
                                : JustFileName(fileName) + " " + std::string(text);
        WriteLog(kSystemLog, entry);
        LetEventsRun();
    });
}

}  // namespace tallix::engine
