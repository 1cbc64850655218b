#include "engine/status_window.h"

#include <unistd.h>

#include "engine/procedure_contexts.h"
#include "settings/error_reporter.h"
#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

StatusWindow*& Installed() {
    static StatusWindow* window = nullptr;
    return window;
}

constexpr std::size_t kConsoleWidth = 79;

void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

StatusWindow& Window() {
    static ConsoleStatusWindow console;
    return Installed() ? *Installed() : console;
}

void SetWindow(StatusWindow* window) {
    Installed() = window;
}

std::string CountText(std::string_view what, long n, long of) {
    std::string text(what);
    text += std::to_string(n);
    text += " of ";
    text += std::to_string(of);
    return text;
}

namespace {

// Moves the bar of `line` to `value` when the line has one and the value lies within its range.
void MoveBar(StatusWindow& w, int line, long value) {
    if (line != 1 && w.ProgressMinimum(line) <= value && value <= w.ProgressMaximum(line))
        w.SetProgress(line, static_cast<int>(value));
}

}  // namespace

void StatusWindow::ShowCount(int line, std::string_view what, long n, long of, long value) {
    Load();
    SetLineText(line, CountText(what, n, of));
    MoveBar(*this, line, value);
}

void DoGUIStatus(long value, const std::string& text, int line) {
    Guard(context::kDoGUIStatus, [&] {
        if (line < 1 || line > 3) return;
        StatusWindow& w = Window();
        w.Load();
        w.SetLineText(line, text);
        MoveBar(w, line, value);
        LetEventsRun();
    });
}

void DoGUICount(long value, std::string_view what, long n, long of, int line) {
    Guard(context::kDoGUIStatus, [&] {
        if (line < 1 || line > 3) return;
        Window().ShowCount(line, what, n, of, value);
    });
}

ConsoleStatusWindow::ConsoleStatusWindow(int out, bool enabled) : m_out(out), m_enabled(enabled) {}

bool ConsoleStatusWindow::StderrIsTerminal() {
    return ::isatty(2) == 1;
}

void ConsoleStatusWindow::SetLineText(int line, const std::string& text) {
    if (line < 1 || line > 3) return;
    m_lines[line - 1] = text;
    Draw();
}

std::string ConsoleStatusWindow::CurrentLine() const {
    // Source, then message, then template: the order a reader scans them in.
    std::string s;
    for (int i : {0, 2, 1}) {
        if (m_lines[i].empty()) continue;
        if (!s.empty()) s += " | ";
        s += m_lines[i];
    }
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (s.size() > kConsoleWidth) {
        // Cut before a character, not inside a multi-byte one.
        std::size_t cut = kConsoleWidth;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
        s.resize(cut);
    }
    return s;
}

void ConsoleStatusWindow::Draw() {
    if (!m_enabled) return;
    WriteAll(m_out, "\r" + CurrentLine() + "\x1b[K");
    m_drawn = true;
}

void ConsoleStatusWindow::Unload() {
    if (m_enabled && m_drawn) WriteAll(m_out, "\r\x1b[K");
    m_drawn = false;
}

}  // namespace tallix::engine
