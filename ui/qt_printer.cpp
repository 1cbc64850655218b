#include "ui/qt_printer.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPrinter>
#include <cstdlib>

#include "settings/run_time_error.h"

namespace tallix::ui {
namespace {

constexpr double kTwipsPerInch = 1440.0;

}  // namespace

void EnsureGuiApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "txengine";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static auto* app = new QGuiApplication(argc, argv);
    (void)app;
}

bool ApplyPrintTarget(QPrinter& printer) {
    const char* pdf = std::getenv("TALLIX_PRINT_PDF");
    if (!pdf || !*pdf) return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromLocal8Bit(pdf));
    return true;
}

QtPrinter::QtPrinter() = default;
QtPrinter::~QtPrinter() {
    if (m_painter && m_painter->isActive()) m_painter->end();
}

void QtPrinter::Begin() {
    if (m_painter && m_painter->isActive()) return;
    EnsureGuiApplication();
    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    ApplyPrintTarget(*m_printer);
    m_painter = std::make_unique<QPainter>();
    if (!m_painter->begin(m_printer.get())) {
        m_painter.reset();
        Raise(kErrDeviceUnavailable);
    }
    m_y = 0;
}

void QtPrinter::PrintLine(const std::string& text) {
    Begin();
    QFontMetrics metrics(m_painter->font(), m_printer.get());
    m_painter->drawText(QPointF(0, m_y + metrics.ascent()), QString::fromStdString(text));
    m_y += metrics.height();
}

double QtPrinter::CurrentY() const {
    if (!m_printer || !m_painter) return 0;
    return m_y / m_printer->resolution() * kTwipsPerInch;
}

void QtPrinter::NewPage() {
    Begin();
    m_printer->newPage();
    m_y = 0;
}

void QtPrinter::EndDoc() {
    if (m_painter && m_painter->isActive()) m_painter->end();
    m_painter.reset();
    m_printer.reset();
    m_y = 0;
}

}  // namespace tallix::ui
