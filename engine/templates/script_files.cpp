#include "engine/templates/script_files.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "engine/script_host/script_process.h"
#include "engine/templates/template_listing.h"
#include "model/file_bytes.h"
#include "model/property.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/report_capture.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kLanguageRejected =
    "Scripting engine for the defined script type could not be started\n"
    "Check the Script name in the options dialog.";

constexpr PropertyContext kScriptsContext{"clsScripting - Let Scripts",
                                          "clsScripting - Get Scripts"};
constexpr PropertyContext kDirectoryContext{"clsScripting - Let Directory",
                                            "clsScripting - Get Directory"};
constexpr PropertyContext kTemplateContext{"clsScripting - Set Template",
                                           "clsScripting - Get Template"};
constexpr PropertyContext kHostContext{"clsScripting - Set sc", "clsScripting - Get sc"};
constexpr std::string_view kListContext = "clsScripting - ListProcedures";
constexpr std::string_view kErrorMark = "\nError# ";

// Appends the non-empty lines of `text` (ended by CR LF, LF or CR), each preceded by CR LF,
// and notes where each came from.
void AppendLines(std::string_view text, const std::string& file, std::string& code,
                 script::LineMap& map) {
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        ++lineNo;
        if (end > pos) {
            code += "\r\n";
            code.append(text.substr(pos, end - pos));
            map.push_back({file, lineNo});
        }
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
}

}  // namespace

std::unique_ptr<clsScripting> clsScripting::Create(std::string_view scriptEngine) {
    std::unique_ptr<clsScripting> runner;
    Guard("clsScripting - Class Initialize", [&] {
        const std::string language = Trim(scriptEngine);
        if (language.empty()) return;
        if (!script::IsKnownLanguage(language)) {
            MsgBox(kLanguageRejected, MsgButtons::Ok, MsgIcon::Information, kErrorTitle);
            return;
        }
        auto host = std::make_shared<script::ScriptHost>();
        host->SetLanguage(scriptEngine);
        runner = std::make_unique<clsScripting>();
        runner->m_sc = std::move(host);
    });
    return runner;
}

std::string clsScripting::Scripts() const {
    return GetProperty(kScriptsContext, m_scripts);
}
void clsScripting::SetScripts(std::string_view v) {
    LetProperty(kScriptsContext, m_scripts, v);
}
std::string clsScripting::Directory() const {
    return GetProperty(kDirectoryContext, m_directory);
}
void clsScripting::SetDirectory(std::string_view v) {
    LetProperty(kDirectoryContext, m_directory, v);
}
std::shared_ptr<clsTemplate> clsScripting::Template() const {
    return GetProperty(kTemplateContext, m_template);
}
void clsScripting::SetTemplate(std::shared_ptr<clsTemplate> v) {
    LetProperty(kTemplateContext, m_template, std::move(v));
}
std::shared_ptr<script::ScriptHost> clsScripting::sc() const {
    return GetProperty(kHostContext, m_sc);
}
void clsScripting::Setsc(std::shared_ptr<script::ScriptHost> v) {
    LetProperty(kHostContext, m_sc, std::move(v));
}

void clsScripting::GetScripts() {
    Guard("clsScripting - GetScripts", [&] {
        // Without an extension every file is listed, names with and without a dot alike.
        const std::string pattern = m_extension.empty() ? "*" : "*." + m_extension;
        if (m_directory.empty()) return;
        m_scripts.clear();
        script::LineMap map{script::SourceLine{}};  // the code begins with a line break
        for (const std::string& name : ListMatchingFiles(JoinPath(m_directory, pattern))) {
            const std::string path = JoinPath(m_directory, name);
            std::string text;
            // A stray large file is refused by its size, before it is read.
            const int err = ReadRegularFile(path, text, kMaxScriptCodeBytes);
            if (err == EFBIG)
                Raise(kErrOverflow, "The script file " + path + " holds more than " +
                                        std::to_string(kMaxScriptCodeBytes / (1024 * 1024)) +
                                        " MB");
            if (err) {
                const int number = ErrorNumberFromErrno(err);
                Raise(number, std::string(StandardErrorDescription(number)) + ": " + path);
            }
            AppendLines(text, path, m_scripts, map);
            if (m_scripts.size() > kMaxScriptCodeBytes)
                Raise(kErrOverflow, "The script files of " + m_directory + " hold more than " +
                                        std::to_string(kMaxScriptCodeBytes / (1024 * 1024)) +
                                        " MB");
        }
        if (m_scripts.empty()) return;
        if (!m_sc) Raise(kErrObjectRequired);
        m_sc->SetLineMap(std::move(map));
        m_sc->AddCode(m_scripts);
    });
}

std::vector<std::string> clsScripting::ListProcedures() {
    std::vector<std::string> names;
    Guard(kListContext, [&] {
        const script::ChildOutcome outcome = script::RunInChildProcess([&] {
            std::vector<std::string> found;
            std::vector<std::string> reports;
            {
                ReportCapture capture;
                GetScripts();
                Guard(kListContext, [&] {
                    if (m_sc) found = m_sc->Procedures();
                });
                m_sc.reset();  // the interpreter's teardown, finalizers and all
                reports = capture.Texts();
            }
            std::string result;
            script::PutTexts(result, found);
            script::PutTexts(result, reports);
            return result;
        });
        if (outcome.ending != script::ChildEnding::Finished) script::RaiseChildEnding(outcome);
        std::string_view in = outcome.result;
        std::vector<std::string> reports;
        if (!script::TakeTexts(in, names) || !script::TakeTexts(in, reports))
            Raise(kErrInternal, "The scripts' process handed back a list that does not fit");
        for (const std::string& text : reports) ReportAgain(text);
    });
    return names;
}

void ReportAgain(const std::string& text) {
    const std::size_t mark = text.find(kErrorMark);
    if (mark == std::string::npos) {
        ReportError(text, true);
        return;
    }
    const char* number = text.c_str() + mark + kErrorMark.size();
    char* end = nullptr;
    Err().number = static_cast<int>(std::strtol(number, &end, 10));
    const std::size_t description = static_cast<std::size_t>(end - text.c_str());
    Err().description = text.compare(description, 2, "  ") == 0 ? text.substr(description + 2)
                                                                : text.substr(description);
    ReportError(std::string_view(text).substr(0, mark), true);
}

std::vector<std::string> SplitScriptNames(std::string_view scriptsToRun) {
    std::vector<std::string> names;
    std::string_view rest = scriptsToRun;
    while (rest.size() >= 2) {
        const std::size_t comma = rest.find(',');
        const std::string_view name = rest.substr(0, comma);
        if (TrimView(name).empty()) break;
        names.emplace_back(name);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return names;
}

}  // namespace tallix::engine
