#pragma once
// The script directory of template scripts: clsScripting reads the code of every file of the
// directory into a script host, keeping where each line came from, so the run can call the
// procedures a template names and the template editor can list them.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/script_host/script_host.h"

namespace tallix {
class clsTemplate;
}

namespace tallix::engine {

class clsScripting {
  public:
    // A runner with a host set to `language` (the "ScriptEngine" setting), or nullptr:
    // silently for an empty language, after the message box for a language the host
    // rejects, reported for any other failure.
    static std::unique_ptr<clsScripting> Create(std::string_view language);

    std::string Scripts() const;
    void SetScripts(std::string_view v);
    std::string Directory() const;
    void SetDirectory(std::string_view v);
    std::shared_ptr<clsTemplate> Template() const;
    void SetTemplate(std::shared_ptr<clsTemplate> v);
    std::shared_ptr<script::ScriptHost> sc() const;
    void Setsc(std::shared_ptr<script::ScriptHost> v);

    // The script file extension ("" for every file, as the engine uses it).
    void SetExtension(std::string_view ext) { m_extension = std::string(ext); }

    // Reads every ordinary file of Directory, in listing order, keeping its non-empty lines,
    // each preceded by CR LF, and loads the result into the host.
    void GetScripts();
    // GetScripts and the host's Procedures, as the template manager's editor lists them, in a
    // process of their own (engine/script_host/script_process.h): loading runs the scripts'
    // top-level code, which must not hang or crash the manager. What was reported there is
    // reported again here. Empty when nothing could be listed. The host is of no further use.
    std::vector<std::string> ListProcedures();

  private:
    std::string m_scripts;
    std::string m_directory;
    std::shared_ptr<clsTemplate> m_template;
    std::shared_ptr<script::ScriptHost> m_sc;
    std::string m_extension;
};

// The procedure names of a ScriptsToRun text: while at least two characters are left, the
// text up to the next comma (or the rest); an empty or blank name ends the list. Names keep
// their blanks.
std::vector<std::string> SplitScriptNames(std::string_view scriptsToRun);

// A report made in a scripts' process (as a ReportCapture there holds it), made again in
// this process as it was made there: the context, and the error's number and description.
void ReportAgain(const std::string& text);

// Script code larger than this is not loaded (a stray large file in the script directory).
inline constexpr std::size_t kMaxScriptCodeBytes = 16u * 1024u * 1024u;

}  // namespace tallix::engine
