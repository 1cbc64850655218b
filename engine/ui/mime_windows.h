#pragma once
// The windows the MIME component may ask the engine for: its progress window (caption,
// two lines, a bar), its about box and its file dialogs, as Qt widgets.

#include <qrmime/control.h>

namespace tallix::engine {

class QtMimeWindows final : public qrmime::HostWindows {
  public:
    std::unique_ptr<qrmime::ProgressWindow> OpenProgress(const std::string& caption,
                                                         const std::string& line1,
                                                         const std::string& line2, int minimum,
                                                         int maximum) override;
    void ShowAbout(const std::string& title, const std::string& text) override;
    std::optional<std::string> AskOpenFileName(const std::string& filter,
                                               const std::string& defaultName) override;
    std::optional<std::string> AskSaveFileName(const std::string& filter,
                                               const std::string& defaultName) override;
};

}  // namespace tallix::engine
