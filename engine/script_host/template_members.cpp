#include "engine/script_host/language_engine.h"

#include "model/template.h"

namespace tallix::script {
namespace {

struct Member {
    std::string_view name;
    MemberValue (*read)(const clsTemplate&);
};

// Read-only: a script changes what is written through SetValueByName, not by rewriting the
// template's description of itself half-way through a message.
const Member kMembers[] = {
    {"FileName", [](const clsTemplate& t) -> MemberValue { return t.FileName(); }},
    {"OutputFile", [](const clsTemplate& t) -> MemberValue { return t.OutputFile(); }},
    {"OutputDeliminator",
     [](const clsTemplate& t) -> MemberValue { return t.OutputDeliminator(); }},
    {"Active", [](const clsTemplate& t) -> MemberValue { return t.Active(); }},
    {"AllowDuplicate", [](const clsTemplate& t) -> MemberValue { return t.AllowDuplicate(); }},
    {"LastRan", [](const clsTemplate& t) -> MemberValue { return t.LastRan(); }},
    {"ScriptsToRun", [](const clsTemplate& t) -> MemberValue { return t.ScriptsToRun(); }},
    {"FilterField",
     [](const clsTemplate& t) -> MemberValue {
         auto f = t.objFilter();
         return f ? f->MapiField() : std::string();
     }},
    {"FilterString",
     [](const clsTemplate& t) -> MemberValue {
         auto f = t.objFilter();
         return f ? f->FindString() : std::string();
     }},
    {"OutputLine",
     [](const clsTemplate& t) -> MemberValue {
         auto lines = t.colOutPutLines();
         return lines && lines->Count() > 0 ? lines->Item(1) : std::string();
     }},
    {"VariableCount",
     [](const clsTemplate& t) -> MemberValue {
         auto fields = t.colFields();
         return static_cast<double>(fields ? fields->Count() : 0);
     }},
    {"VariableNames",
     [](const clsTemplate& t) -> MemberValue {
         std::vector<std::string> names;
         if (auto fields = t.colFields()) {
             for (std::int32_t i = 1; i <= fields->Count(); ++i) {
                 auto f = fields->Item(i);
                 names.push_back(f ? f->FieldName() : std::string());
             }
         }
         return names;
     }},
};

}  // namespace

const std::vector<std::string_view>& TemplateMemberNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> n;
        for (const Member& m : kMembers) n.push_back(m.name);
        return n;
    }();
    return names;
}

std::optional<MemberValue> TemplateMember(const clsTemplate& t, std::string_view name) {
    for (const Member& m : kMembers) {
        if (m.name == name) return m.read(t);
    }
    return std::nullopt;
}

}  // namespace tallix::script
