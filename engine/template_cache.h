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

// A fresh template read from `path` (or copied from the parse of the unchanged file);
// nullptr when `path` is not an ordinary file.
std::shared_ptr<clsTemplate> LoadTemplate(const std::string& path);
// The template file `name` of `dir`, found as it is written or else without regard to case;
// nullptr when there is no such ordinary file.
std::shared_ptr<clsTemplate> LoadTemplateFile(const std::string& dir, const std::string& name);
// True when the file at `path`, as it was when last loaded, is what the engine left when it
// last wrote `stamp` into it.
bool HoldsStamp(const std::string& path, const std::string& stamp);
// The engine wrote `stamp` into the file at `path`: remembered for HoldsStamp, and the next
// message parses the file again (the stamp changes at most once a second, so this costs little).
void StampWritten(const std::string& path, const std::string& stamp);
// Forgets every kept parse (tests).
void ClearTemplateCache();

}  // namespace tallix::engine
