#pragma once
// Message boxes and event pumping go through this one interface. The programs install a
// Qt implementation when a window can be shown, the console one otherwise; tests install
// a scripted stand-in.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace tallix {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    std::string text;
    std::string title;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
    // The answer of the button that has the focus; an unattended run takes it.
    MsgAnswer defaultAnswer = MsgAnswer::Ok;
};

class UserInterface {
  public:
    virtual ~UserInterface() = default;
    virtual MsgAnswer ShowMessage(const MessageBoxRequest& request) = 0;
    // Process the window events already queued for the program, then return.
    virtual void ProcessPendingEvents() = 0;
};

// The interface in force; the console one until a program installs another.
UserInterface& Ui();
// Installs `ui` (not owned); nullptr restores the console interface.
void SetUi(UserInterface* ui);

// A message box through the interface in force. Without an explicit default the first
// button is the default.
MsgAnswer MsgBox(std::string_view text, MsgButtons buttons = MsgButtons::Ok,
                 MsgIcon icon = MsgIcon::None, std::string_view title = {});
MsgAnswer MsgBox(std::string_view text, MsgButtons buttons, MsgIcon icon, std::string_view title,
                 MsgAnswer defaultAnswer);

// How often, at most, a window program lets LetEventsRun hand control to the window system.
// The engine calls it many times per message; processing window events (and painting) each
// time would cost more than the run itself, while a window that answers within this interval
// still feels immediate.
inline constexpr std::chrono::milliseconds kWindowEventInterval{25};
// The interval in force; zero (the start value) processes events at every call.
void SetEventInterval(std::chrono::milliseconds interval);

// Lets pending window events run: the interface's own events (at most once per event
// interval), then every pump the calling thread registered, every time (the MIME component's
// queued notifications are delivered this way, on the thread that decodes).
void LetEventsRun();

// Registers a pump that LetEventsRun runs on the calling thread (and no other); returns an id
// for RemoveEventPump, which must be called on the same thread.
int AddEventPump(std::function<void()> pump);
void RemoveEventPump(int id);

// Text mode: writes boxes to standard error; questions read one line from standard input
// ("y"/"yes", "n"/"no", any case) and take the default on an empty line or end of input.
class ConsoleUserInterface final : public UserInterface {
  public:
    MsgAnswer ShowMessage(const MessageBoxRequest& request) override;
    void ProcessPendingEvents() override {}
};

}  // namespace tallix
