#pragma once
// Templates are read from their files for every message, so an edit during a run takes
// effect at the next message. Parsing is skipped while a file is unchanged (same inode, size
// and modification time): the parsed template is kept, and every message gets a fresh copy.

#include <memory>
#include <string>

namespace tallix {
class clsTemplate;
}

namespace tallix::engine {

// A fresh template read from `path` (or copied from the parse of the unchanged file).
std::shared_ptr<clsTemplate> LoadTemplate(const std::string& path);
// After the engine wrote to a template file: the next message parses it again (the stamp
// changes at most once a second, so this costs little).
void ForgetTemplate(const std::string& path);
// Forgets every kept parse (tests).
void ClearTemplateCache();

}  // namespace tallix::engine
