#include "settings/user_interface.h"

#include <iostream>
#include <map>
#include <string>

#include "settings/coarse_clock.h"
#include "settings/report_capture.h"
#include "settings/text_functions.h"

namespace tallix {
namespace {

ConsoleUserInterface& ConsoleUi() {
    static ConsoleUserInterface ui;
    return ui;
}

UserInterface*& Installed() {
    static UserInterface* ui = nullptr;
    return ui;
}

// The pumps of one thread. Held through a plain pointer, made with the thread's first pump
// and deleted with its last, so a pump removed while the program ends (a host kept in a static
// object) finds its list still there.
// Ids are never given twice on a thread, so a stale id cannot remove a later pump.
// A pump is called where it is kept, not copied: one removed while it (or a pump it let run)
// is still running is only marked, and dropped when its last call returns.
struct Pump {
    std::function<void()> call;
    int running = 0;       // calls of it not yet returned
    bool removed = false;  // removed while running: dropped when `running` falls to 0
};
struct Pumps {
    std::map<int, Pump> pumps;
};
thread_local Pumps* t_pumps = nullptr;
thread_local int t_nextPumpId = 1;

// Drops the pump `it` of `pumps`, and the list with its last pump.
void Drop(Pumps* pumps, std::map<int, Pump>::iterator it) {
    pumps->pumps.erase(it);
    if (pumps->pumps.empty()) {
        t_pumps = nullptr;
        delete pumps;
    }
}

// Counts a call of a pump while it runs, and drops the pump after it when it was removed
// meanwhile. Its entry stays in place while counted, and so does the list that holds it.
class RunningPump {
  public:
    RunningPump(Pumps* pumps, std::map<int, Pump>::iterator it) : m_pumps(pumps), m_it(it) {
        ++m_it->second.running;
    }
    RunningPump(const RunningPump&) = delete;
    RunningPump& operator=(const RunningPump&) = delete;
    ~RunningPump() {
        if (--m_it->second.running == 0 && m_it->second.removed) Drop(m_pumps, m_it);
    }

  private:
    Pumps* m_pumps;
    std::map<int, Pump>::iterator m_it;
};
MsgAnswer FirstButton(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok:
        case MsgButtons::OkCancel:
            return MsgAnswer::Ok;
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel:
            return MsgAnswer::Yes;
    }
    return MsgAnswer::Ok;
}

const char* ChoiceText(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok:
            return "";
        case MsgButtons::OkCancel:
            return " [ok/cancel]";
        case MsgButtons::YesNo:
            return " [yes/no]";
        case MsgButtons::YesNoCancel:
            return " [yes/no/cancel]";
    }
    return "";
}

const char* DefaultText(MsgAnswer a) {
    switch (a) {
        case MsgAnswer::Ok:
            return "ok";
        case MsgAnswer::Cancel:
            return "cancel";
        case MsgAnswer::Yes:
            return "yes";
        case MsgAnswer::No:
            return "no";
    }
    return "";
}

bool Allowed(MsgButtons buttons, MsgAnswer a) {
    switch (buttons) {
        case MsgButtons::Ok:
            return a == MsgAnswer::Ok;
        case MsgButtons::OkCancel:
            return a == MsgAnswer::Ok || a == MsgAnswer::Cancel;
        case MsgButtons::YesNo:
            return a == MsgAnswer::Yes || a == MsgAnswer::No;
        case MsgButtons::YesNoCancel:
            return a != MsgAnswer::Ok;
    }
    return false;
}

}  // namespace

UserInterface& Ui() {
    UserInterface* ui = Installed();
    return ui ? *ui : ConsoleUi();
}

void SetUi(UserInterface* ui) {
    Installed() = ui;
}

MsgAnswer MsgBox(std::string_view text, MsgButtons buttons, MsgIcon icon, std::string_view title) {
    return MsgBox(text, buttons, icon, title, FirstButton(buttons));
}

MsgAnswer MsgBox(std::string_view text, MsgButtons buttons, MsgIcon icon, std::string_view title,
                 MsgAnswer defaultAnswer) {
    MessageBoxRequest r;
    r.text = text;
    r.title = title;
    r.buttons = buttons;
    r.icon = icon;
    r.defaultAnswer = defaultAnswer;
    // A quiet trial shows nothing: the box's text is recorded and its default taken.
    if (ReportCapture* capture = ReportCapture::Active()) {
        capture->Add(r.text);
        return defaultAnswer;
    }
    return Ui().ShowMessage(r);
}

namespace {
std::chrono::milliseconds g_eventInterval{0};
CoarseClock::time_point g_lastEvents{};
}  // namespace

void SetEventInterval(std::chrono::milliseconds interval) {
    g_eventInterval = interval;
}

void LetEventsRun() {
    if (ReportCapture::Active()) {
        // Window events are the main thread's; only the pumps run here.
    } else if (g_eventInterval.count() == 0) {
        Ui().ProcessPendingEvents();
    } else if (const auto now = CoarseClock::now(); now - g_lastEvents >= g_eventInterval) {
        g_lastEvents = now;
        Ui().ProcessPendingEvents();
    }
    // A pump may add or remove pumps while it runs: walk by id, looking each one up anew.
    for (int id = 0;;) {
        Pumps* pumps = t_pumps;
        if (!pumps) return;
        auto it = pumps->pumps.upper_bound(id);
        if (it == pumps->pumps.end()) return;
        id = it->first;
        if (it->second.removed) continue;
        const RunningPump running(pumps, it);
        it->second.call();
    }
}

int AddEventPump(std::function<void()> pump) {
    if (!t_pumps) t_pumps = new Pumps;
    const int id = t_nextPumpId++;
    t_pumps->pumps.emplace(id, Pump{std::move(pump)});
    return id;
}

void RemoveEventPump(int id) {
    Pumps* pumps = t_pumps;
    if (!pumps) return;
    auto it = pumps->pumps.find(id);
    if (it == pumps->pumps.end()) return;
    if (it->second.running > 0)
        it->second.removed = true;
    else
        Drop(pumps, it);
}

MsgAnswer ConsoleUserInterface::ShowMessage(const MessageBoxRequest& request) {
    std::cerr << (request.title.empty() ? std::string("txengine") : request.title) << ": "
              << request.text << '\n';
    if (request.buttons == MsgButtons::Ok) {
        std::cerr.flush();
        return MsgAnswer::Ok;
    }
    for (;;) {
        std::cerr << ChoiceText(request.buttons) << " (default "
                  << DefaultText(request.defaultAnswer) << ")? " << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) {
            std::cerr << '\n';
            return request.defaultAnswer;
        }
        std::string a = LCase(Trim(line));
        MsgAnswer answer;
        if (a.empty()) return request.defaultAnswer;
        if (a == "y" || a == "yes")
            answer = MsgAnswer::Yes;
        else if (a == "n" || a == "no")
            answer = MsgAnswer::No;
        else if (a == "o" || a == "ok")
            answer = MsgAnswer::Ok;
        else if (a == "c" || a == "cancel")
            answer = MsgAnswer::Cancel;
        else
            continue;
        if (Allowed(request.buttons, answer)) return answer;
    }
}

}  // namespace tallix
