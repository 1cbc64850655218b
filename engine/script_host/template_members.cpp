#include "engine/script_host/language_engine.h"

#include "engine/script_host/script_process.h"
#include "model/template.h"

namespace tallix::script {
namespace {

struct Member {
    std::string_view name;
    MemberValue (*read)(const clsTemplate&);
    MemberKind kind = MemberKind::ReadOnly;
    // Given the value already converted to the member's kind.
    void (*assign)(clsTemplate&, const MemberInput&) = nullptr;
};

const std::string& Text(const MemberInput& v) {
    return std::get<std::string>(v);
}
bool Flag(const MemberInput& v) {
    return std::get<bool>(v);
}

// The template is this message's own copy, so an assignment lasts for this message only.
// Members that say where the template comes from (FileName, LastRan), what the filter already
// decided (FilterField, FilterString) or how many variables there are stay read-only.
const Member kMembers[] = {
    {"FileName", [](const clsTemplate& t) -> MemberValue { return t.FileName(); }},
    {"OutputFile", [](const clsTemplate& t) -> MemberValue { return t.OutputFile(); },
     MemberKind::Text, [](clsTemplate& t, const MemberInput& v) { t.SetOutputFile(Text(v)); }},
    {"OutputDeliminator", [](const clsTemplate& t) -> MemberValue { return t.OutputDeliminator(); },
     MemberKind::Text,
     [](clsTemplate& t, const MemberInput& v) { t.SetOutputDeliminator(Text(v)); }},
    {"Active", [](const clsTemplate& t) -> MemberValue { return t.Active(); }, MemberKind::Flag,
     [](clsTemplate& t, const MemberInput& v) { t.SetActive(Flag(v)); }},
    {"AllowDuplicate", [](const clsTemplate& t) -> MemberValue { return t.AllowDuplicate(); },
     MemberKind::Flag, [](clsTemplate& t, const MemberInput& v) { t.SetAllowDuplicate(Flag(v)); }},
    {"LastRan", [](const clsTemplate& t) -> MemberValue { return t.LastRan(); }},
    {"ScriptsToRun", [](const clsTemplate& t) -> MemberValue { return t.ScriptsToRun(); },
     MemberKind::Text, [](clsTemplate& t, const MemberInput& v) { t.SetScriptsToRun(Text(v)); }},
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
     },
     MemberKind::Text,
     [](clsTemplate& t, const MemberInput& v) {
         auto lines = t.colOutPutLines();
         if (!lines) return;
         if (lines->Count() > 0)
             lines->Item(1) = Text(v);
         else
             lines->Add(Text(v));
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

MemberKind TemplateMemberKind(std::string_view name) {
    for (const Member& m : kMembers) {
        if (m.name == name) return m.kind;
    }
    return MemberKind::ReadOnly;
}

bool AssignTemplateMember(clsTemplate& t, std::string_view name, const MemberInput& value) {
    for (const Member& m : kMembers) {
        if (m.name != name) continue;
        if (!m.assign) return false;
        m.assign(t, value);
        return true;
    }
    return false;
}

std::string SaveScriptedState(const clsTemplate& t) {
    std::string state;
    for (const Member& m : kMembers) {
        if (!m.assign) continue;
        const MemberValue v = m.read(t);
        if (const auto* flag = std::get_if<bool>(&v))
            PutText(state, *flag ? "1" : "0");
        else
            PutText(state, std::get<std::string>(v));
    }
    if (auto fields = t.colFields()) {
        for (const auto& field : fields->NewEnum()) PutText(state, field ? field->Value() : "");
    }
    return state;
}

bool RestoreScriptedState(clsTemplate& t, std::string_view state) {
    std::string text;
    for (const Member& m : kMembers) {
        if (!m.assign) continue;
        if (!TakeText(state, text)) return false;
        const MemberValue now = m.read(t);
        if (std::holds_alternative<bool>(now)) {
            const bool flag = text == "1";
            if (std::get<bool>(now) != flag) m.assign(t, flag);
        } else if (std::get<std::string>(now) != text) {
            m.assign(t, text);
        }
    }
    if (auto fields = t.colFields()) {
        for (const auto& field : fields->NewEnum()) {
            if (!TakeText(state, text)) return false;
            if (field && field->Value() != text) field->SetValue(text);
        }
    }
    return state.empty();
}

}  // namespace tallix::script
