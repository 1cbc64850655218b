#pragma once
// The engine's status window as the run sees it: three status lines, a progress bar on
// lines 2 and 3, show, unload and reload. The Qt window implements it when a window can be
// shown; otherwise ConsoleStatusWindow stands in.

#include <memory>
#include <string>
#include <string_view>

namespace tallix::engine {

// "<what>n of <of>", say "Parsing message: 3 of 40" for ("Parsing message: ", 3, 40).
std::string CountText(std::string_view what, long n, long of);

class StatusWindow {
  public:
    virtual ~StatusWindow() = default;
    // Creates the window without showing it; does nothing when it is already loaded.
    virtual void Load() = 0;
    virtual void Show() = 0;
    virtual void Unload() = 0;
    virtual void EnableTimer() = 0;
    virtual void SetLineText(int line, const std::string& text) = 0;
    // Line `line` shows CountText(what, n, of) and its bar (lines 2 and 3) moves to `value`
    // when the value lies within the bar's range. A window that paints now and then keeps the
    // numbers and makes the text only when it paints: the run counts for every message and
    // template, far more often than a window paints.
    virtual void ShowCount(int line, std::string_view what, long n, long of, long value);
    // Lines 2 and 3 have a progress bar.
    virtual int ProgressMinimum(int line) const = 0;
    virtual int ProgressMaximum(int line) const = 0;
    virtual void SetProgress(int line, int value) = 0;
    // Whether status texts are shown anywhere (a run builds the texts it sends per message
    // and template only then).
    virtual bool ShowsText() const { return true; }
};

// The window in force (not owned); a ConsoleStatusWindow until a program installs another.
StatusWindow& Window();
void SetWindow(StatusWindow* window);

// Shows `text` on status line 1, 2 or 3 (loading the window, hidden, if it was unloaded);
// on lines 2 and 3 the bar moves to `value` when the value lies within its range. Any other
// line does nothing. Then lets window events run.
void DoGUIStatus(long value, const std::string& text, int line);
// DoGUIStatus with the text CountText(what, n, of), made only where it is shown. It leaves
// letting window events run to its callers: the run counts for every message and template
// and lets events run right after each.
void DoGUICount(long value, std::string_view what, long n, long of, int line);

// Without a window: one updating line on standard error (source, message, template) when
// standard error is a terminal, nothing otherwise.
class ConsoleStatusWindow final : public StatusWindow {
  public:
    // `out` is the descriptor to write to; `enabled` says whether to write at all.
    explicit ConsoleStatusWindow(int out = 2,
                                 bool enabled = ConsoleStatusWindow::StderrIsTerminal());
    static bool StderrIsTerminal();

    void Load() override {}
    void Show() override {}
    void Unload() override;
    void EnableTimer() override {}
    void SetLineText(int line, const std::string& text) override;
    int ProgressMinimum(int) const override { return 0; }
    int ProgressMaximum(int) const override { return 100; }
    void SetProgress(int, int) override {}
    bool ShowsText() const override { return m_enabled; }
    // The line as it is drawn now (without the carriage return).
    std::string CurrentLine() const;

  private:
    void Draw();
    int m_out;
    bool m_enabled;
    bool m_drawn = false;
    std::string m_lines[3];
};

}  // namespace tallix::engine
