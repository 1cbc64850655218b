#pragma once
// Message boxes as Qt message boxes, and Qt's pending events.

#include "settings/user_interface.h"

namespace tallix::engine {

class QtUserInterface final : public UserInterface {
public:
    MsgAnswer ShowMessage(const MessageBoxRequest& request) override;
    void ProcessPendingEvents() override;
};

// Whether a Qt window can be shown: the platform plugin chosen by QT_QPA_PLATFORM (or the
// default one) finds what it needs. Qt aborts when it cannot, so this is asked before the
// application object is made.
bool DisplayAvailable();

}  // namespace tallix::engine
