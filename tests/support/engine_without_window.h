#pragma once
// For the life of the object the engine that a test starts runs without a window: with one
// (even on the offscreen platform) a box it shows would wait for a click that never comes.
// Its boxes then go to standard error and its questions take their defaults.

#include <QByteArray>
#include <QtGlobal>
#include <utility>
#include <vector>

namespace tallix::testing {

class EngineWithoutWindow {
  public:
    EngineWithoutWindow() {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
            if (qEnvironmentVariableIsSet(name)) m_saved.emplace_back(name, qgetenv(name));
            qunsetenv(name);
        }
    }
    ~EngineWithoutWindow() {
        for (const auto& [name, value] : m_saved) qputenv(name, value);
    }
    EngineWithoutWindow(const EngineWithoutWindow&) = delete;
    EngineWithoutWindow& operator=(const EngineWithoutWindow&) = delete;

  private:
    std::vector<std::pair<const char*, QByteArray>> m_saved;
};

}  // namespace tallix::testing
