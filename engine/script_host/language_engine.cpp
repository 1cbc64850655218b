#include "engine/script_host/language_engine.h"

#include <algorithm>
#include <cstdlib>

#include "model/template.h"

namespace tallix::script {

void* MemoryAccount::Resize(void* block, std::size_t old, std::size_t size) {
    if (size > old && !Reserve(size - old)) return nullptr;
    void* moved = std::realloc(block, size);
    if (!moved) {
        if (size > old) Release(size - old);
        return nullptr;
    }
    if (size < old) Release(old - size);
    return moved;
}

ScriptFailure ScriptEngineBase::AddObject(std::string_view name,
                                          std::shared_ptr<clsTemplate> object) {
    if (m_objects.size() >= MaxObjects()) return {FailureKind::RunTime, "too many objects", 0};
    m_objects.push_back(std::move(object));
    return InstallObject(name, m_objects.size() - 1);
}

ScriptFailure ScriptEngineBase::AddCode(std::string_view code) {
    if (!m_haveGlobalsBefore) {
        m_listing = false;
        ListGlobalFunctions();
        m_haveGlobalsBefore = true;
    }
    memory.refused = false;
    Arm();
    deadline.Start(CurrentLimits().time);
    ScriptFailure f = Load(code);
    deadline.Stop();
    Settle();
    return f;
}

ScriptFailure ScriptEngineBase::Run(std::string_view name) {
    memory.refused = false;
    notFound = false;
    Arm();
    deadline.Start(CurrentLimits().time);
    ScriptFailure f = Call(name);
    deadline.Stop();
    Settle();
    if (notFound) return {FailureKind::NoProcedure, {}, 0};
    return f;
}

std::vector<std::string> ScriptEngineBase::Procedures() {
    m_found.clear();
    m_listing = true;
    ListGlobalFunctions();
    m_listing = false;
    std::vector<std::string> names = std::move(m_found);
    std::sort(names.begin(), names.end());
    return names;
}

bool ScriptEngineBase::NoteGlobalFunction(std::string_view name, const void* identity) noexcept {
    return WithoutExceptions([&] {
        if (m_listing) {
            auto before = m_globalsBefore.find(std::string(name));
            if (before == m_globalsBefore.end() || before->second != identity)
                m_found.emplace_back(name);
        } else {
            m_globalsBefore.emplace(std::string(name), identity);
        }
    });
}

bool ScriptEngineBase::ReadMember(std::size_t object, std::string_view name, bool& known) noexcept {
    return WithoutExceptions([&] {
        std::optional<MemberValue> v = TemplateMember(*m_objects[object], name);
        known = v.has_value();
        if (known) value = std::move(*v);
    });
}

bool ScriptEngineBase::WriteMember(std::size_t object, std::string_view name,
                                   bool& assigned) noexcept {
    return WithoutExceptions(
        [&] { assigned = AssignTemplateMember(*m_objects[object], name, input); });
}

bool ScriptEngineBase::GetValue(std::size_t object, std::string_view name) noexcept {
    return WithoutExceptions([&] { text = m_objects[object]->GetValueByName(name); });
}

bool ScriptEngineBase::SetValue(std::size_t object, std::string_view name,
                                std::string_view v) noexcept {
    return WithoutExceptions([&] { m_objects[object]->SetValueByName(name, v); });
}

}  // namespace tallix::script
