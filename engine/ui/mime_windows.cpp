#include "engine/ui/mime_windows.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>

namespace tallix::engine {
namespace {

// "All Files (*.*) | *.* ||" style filters become Qt's "All Files (*.*)".
QString QtFilter(const std::string& filter) {
    QString f = QString::fromStdString(filter);
    int bar = f.indexOf('|');
    return (bar < 0 ? f : f.left(bar)).trimmed();
}

class QtProgress final : public qrmime::ProgressWindow {
  public:
    QtProgress(const std::string& caption, const std::string& line1, const std::string& line2,
               int minimum, int maximum) {
        m_window.setObjectName("mimeProgress");
        m_window.setWindowTitle(QString::fromStdString(caption));
        auto* layout = new QVBoxLayout(&m_window);
        for (const std::string* line : {&line1, &line2}) {
            auto* label = new QLabel(QString::fromStdString(*line), &m_window);
            label->setTextFormat(Qt::PlainText);
            layout->addWidget(label);
        }
        m_bar = new QProgressBar(&m_window);
        m_bar->setRange(minimum, maximum);
        layout->addWidget(m_bar);
        m_window.setMinimumWidth(360);
        m_window.show();
    }
    void SetValue(int value) override { m_bar->setValue(value); }

  private:
    QWidget m_window;
    QProgressBar* m_bar;
};

}  // namespace

std::unique_ptr<qrmime::ProgressWindow> QtMimeWindows::OpenProgress(const std::string& caption,
                                                                    const std::string& line1,
                                                                    const std::string& line2,
                                                                    int minimum, int maximum) {
    return std::make_unique<QtProgress>(caption, line1, line2, minimum, maximum);
}

void QtMimeWindows::ShowAbout(const std::string& title, const std::string& text) {
    QMessageBox::about(nullptr, QString::fromStdString(title), QString::fromStdString(text));
}

std::optional<std::string> QtMimeWindows::AskOpenFileName(const std::string& filter,
                                                          const std::string& defaultName) {
    QString name = QFileDialog::getOpenFileName(
        nullptr, QString(), QString::fromStdString(defaultName), QtFilter(filter));
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
}

std::optional<std::string> QtMimeWindows::AskSaveFileName(const std::string& filter,
                                                          const std::string& defaultName) {
    QString name = QFileDialog::getSaveFileName(
        nullptr, QString(), QString::fromStdString(defaultName), QtFilter(filter));
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
}

}  // namespace tallix::engine
