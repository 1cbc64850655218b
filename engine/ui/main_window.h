#pragma once
// The engine's status window "Parsing Messages" and the StatusWindow that drives it.

#include <QString>
#include <QWidget>
#include <chrono>
#include <memory>

#include "engine/status_window.h"
#include "settings/coarse_clock.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tallix::engine {

class FrmMain final : public QWidget {
    Q_OBJECT
  public:
    explicit FrmMain(QWidget* parent = nullptr);

    QLabel* lblConnection;
    QLabel* lblTemplateStautus;
    QProgressBar* prgTemplates;
    QLabel* lblMsgStatus;
    QProgressBar* prgMsg;
    QPushButton* cmdCancel;
    QTimer* sysTimer;

  Q_SIGNALS:
    void cancelRequested();

  protected:
    // Minimizing hides the window (back in its normal state) for the rest of the run.
    void changeEvent(QEvent* event) override;
};

class QtStatusWindow final : public StatusWindow {
  public:
    QtStatusWindow();
    ~QtStatusWindow() override;

    void Load() override;
    void Show() override;
    void Unload() override;
    void EnableTimer() override;
    void SetLineText(int line, const std::string& text) override;
    void ShowCount(int line, std::string_view what, long n, long of, long value) override;
    int ProgressMinimum(int line) const override;
    int ProgressMaximum(int line) const override;
    void SetProgress(int line, int value) override;

    // The loaded form, or nullptr after Unload (tests look at it).
    FrmMain* Form() const { return m_form; }
    // Puts the texts and values set since the last paint into the widgets now.
    void Flush();

  private:
    QProgressBar* Bar(int line) const;
    // Texts and values are kept here and reach the widgets at most once per
    // kStatusPaintInterval: a label or bar that changes repaints and lays out at once, and the
    // run sets them for every template of every message. Kept as they come, and made into a
    // QString only when they are painted.
    void Changed();
    struct Pending {
        bool set = false;
        std::string text;  // with `counted`: the words before the count
        bool counted = false;
        long n = 0;
        long of = 0;
        bool valueSet = false;
        int value = 0;
    };
    // Loads the form; the pending entry of `line`, or nullptr for a line there is not.
    Pending* LineToSet(int line);
    Pending m_pending[3];
    bool m_flushQueued = false;
    CoarseClock::time_point m_lastFlush{};
    FrmMain* m_form = nullptr;
};

}  // namespace tallix::engine
