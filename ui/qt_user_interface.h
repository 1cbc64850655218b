#pragma once
// What the windows of both programs share: message boxes as Qt message boxes, Qt's pending
// events, and whether a window can be shown at all.

#include "settings/user_interface.h"

class QApplication;

namespace tallix::ui {

class QtUserInterface final : public UserInterface {
  public:
    MsgAnswer ShowMessage(const MessageBoxRequest& request) override;
    void ProcessPendingEvents() override;
};

// Installs the Qt message boxes for as long as it lives, so a program's windows are wired
// up in one place and the console interface is back when they are gone.
class QtWindowScope {
  public:
    QtWindowScope() { SetUi(&m_ui); }
    ~QtWindowScope() { SetUi(nullptr); }
    QtWindowScope(const QtWindowScope&) = delete;
    QtWindowScope& operator=(const QtWindowScope&) = delete;

  private:
    QtUserInterface m_ui;
};

// Whether a Qt window can be shown: the platform plugin chosen by QT_QPA_PLATFORM (or the
// default one) finds what it needs. Qt aborts when it cannot, so this is asked before the
// application object is made.
bool DisplayAvailable();

// For the screenshot tools: with TALLIX_SCREENSHOT_PALETTE=dark the application draws with the
// Fusion style and a dark palette, as on a desktop set to a dark scheme.
void UseScreenshotPalette(QApplication& app);

}  // namespace tallix::ui
