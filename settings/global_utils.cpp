#include "settings/global_utils.h"

#include <sys/stat.h>

#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/logs.h"
#include "settings/system_rules.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix {

bool IsValidDirectory(std::string_view path) {
    return GuardValue("modGlobal - IsValidDirectory", false, [&] {
        if (path.empty()) return false;
        struct stat st {};
        return ::stat(std::string(path).c_str(), &st) == 0;
    });
}

std::string StripExt(std::string_view name) {
    return GuardValue<std::string>("modGlobal - StripExt", "", [&] {
        std::size_t p = InStr(name, kTemplateExtension, Compare::Text);
        return p ? std::string(name.substr(0, p - 1)) : std::string(name);
    });
}

std::string JustFileName(std::string_view path) {
    return GuardValue<std::string>("modGlobal - JustFileName", "", [&] {
        std::string name = StripExt(path);
        std::size_t cut = name.find_last_of("/\\");
        return cut == std::string::npos ? name : name.substr(cut + 1);
    });
}

std::string StripNulls(std::string_view text) {
    return GuardValue<std::string>("modGlobal - StripNulls", "",
                                   [&] { return Trim(text.substr(0, text.find('\0'))); });
}

std::vector<std::string> ParseOutput(std::string_view list, std::string_view delimiter) {
    return GuardValue<std::vector<std::string>>("modGlobal - ParseOutput", {std::string()}, [&] {
        std::vector<std::string> items(1);
        if (TrimView(list).empty()) return items;
        // An empty delimiter would be found everywhere; the whole list is then one item.
        std::string_view rest = list;
        std::size_t p;
        while (!delimiter.empty() && (p = rest.find(delimiter)) != std::string_view::npos) {
            items.back() = std::string(rest.substr(0, p));
            rest.remove_prefix(p + delimiter.size());
            items.emplace_back();
        }
        if (!rest.empty())
            items.back() = std::string(rest);
        else
            items.pop_back();
        return items;
    });
}

std::string FormatDate(std::string_view text) {
    return GuardValue<std::string>("modGlobal - FormatDate", std::string(text), [&] {
        std::string trimmed = Trim(text);
        if (trimmed.empty()) return std::string(text);
        auto date = ParseDate(trimmed);
        return date ? FormatGeneralDate(*date) : std::string(text);
    });
}

void SystemMsg(std::string_view message, bool writeToLog) {
    Guard("modGlobal - SystemMsg", [&] {
        if (TrimView(message).empty()) return;
        MsgBox(message, MsgButtons::Ok, MsgIcon::None, ExeName());
        if (writeToLog) WriteLog(kSystemLog, message);
    });
}

}  // namespace tallix
