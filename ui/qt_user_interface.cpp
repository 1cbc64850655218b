#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <cstdlib>
#include <string_view>

#include "settings/text_functions.h"

namespace tallix::ui {
namespace {

QMessageBox::StandardButton ToQt(MsgAnswer a) {
    switch (a) {
        case MsgAnswer::Ok:
            return QMessageBox::Ok;
        case MsgAnswer::Cancel:
            return QMessageBox::Cancel;
        case MsgAnswer::Yes:
            return QMessageBox::Yes;
        case MsgAnswer::No:
            return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButtons Buttons(MsgButtons b) {
    switch (b) {
        case MsgButtons::Ok:
            return QMessageBox::Ok;
        case MsgButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MsgButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MsgButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon Icon(MsgIcon i) {
    switch (i) {
        case MsgIcon::None:
            return QMessageBox::NoIcon;
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

bool EnvSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

bool PluginUsable(std::string_view plugin) {
    std::string name = LCase(TrimView(plugin.substr(0, plugin.find(':'))));
    if (name == "xcb") return EnvSet("DISPLAY");
    if (name.rfind("wayland", 0) == 0) return EnvSet("WAYLAND_DISPLAY");
    // offscreen, minimal, vnc, eglfs, linuxfb and the like need no display server.
    return !name.empty();
}

}  // namespace

MsgAnswer QtUserInterface::ShowMessage(const MessageBoxRequest& request) {
    QMessageBox box(Icon(request.icon), QString::fromStdString(request.title),
                    QString::fromStdString(request.text), Buttons(request.buttons));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(ToQt(request.defaultAnswer));
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        case QMessageBox::Cancel:
            return MsgAnswer::Cancel;
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        default:
            return request.defaultAnswer;
    }
}

void QtUserInterface::ProcessPendingEvents() {
    QCoreApplication::processEvents();
}

void UseScreenshotPalette(QApplication& app) {
    if (qEnvironmentVariable("TALLIX_SCREENSHOT_PALETTE") != "dark") return;
    app.setStyle("Fusion");
    QPalette dark;
    const QColor window(45, 45, 48), base(30, 30, 30), text(230, 230, 230);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, window);
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(90, 170, 255));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
    app.setPalette(dark);
}

bool DisplayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) {
        // A list such as "wayland;xcb" is tried in order.
        for (const std::string& plugin : Split(platform, ";"))
            if (PluginUsable(plugin)) return true;
        return false;
    }
    return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

}  // namespace tallix::ui
