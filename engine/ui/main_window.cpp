#include "engine/ui/main_window.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "settings/user_interface.h"

namespace tallix::engine {
namespace {

constexpr int kTimerIntervalMs = 500;
// The range of both bars; the run asks for it with every update.
constexpr int kBarMinimum = 0;
constexpr int kBarMaximum = 100;
// How often the status texts and bars are painted at most: often enough to read as live
// progress. Events (the Cancel button) are let run more often, every kWindowEventInterval.
constexpr std::chrono::milliseconds kStatusPaintInterval{100};

// A tick only lets pending events run; a tick that arrives while they run does nothing.
void TimerTick() {
    static bool running = false;
    if (running) return;
    running = true;
    LetEventsRun();
    running = false;
}

}  // namespace

FrmMain::FrmMain(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Parsing Messages"));
    auto* layout = new QVBoxLayout(this);
    lblConnection = new QLabel(this);
    lblTemplateStautus = new QLabel(this);
    prgTemplates = new QProgressBar(this);
    lblMsgStatus = new QLabel(this);
    prgMsg = new QProgressBar(this);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    sysTimer = new QTimer(this);
    lblConnection->setObjectName("lblConnection");
    lblTemplateStautus->setObjectName("lblTemplateStautus");
    prgTemplates->setObjectName("prgTemplates");
    lblMsgStatus->setObjectName("lblMsgStatus");
    prgMsg->setObjectName("prgMsg");
    cmdCancel->setObjectName("cmdCancel");
    for (QProgressBar* bar : {prgTemplates, prgMsg}) {
        bar->setRange(kBarMinimum, kBarMaximum);
        bar->setValue(0);
    }
    for (QLabel* label : {lblConnection, lblTemplateStautus, lblMsgStatus})
        label->setTextFormat(Qt::PlainText);
    layout->addWidget(lblConnection);
    layout->addWidget(lblTemplateStautus);
    layout->addWidget(prgTemplates);
    layout->addWidget(lblMsgStatus);
    layout->addWidget(prgMsg);
    layout->addWidget(cmdCancel, 0, Qt::AlignRight);
    setMinimumWidth(360);
    sysTimer->setInterval(kTimerIntervalMs);
    connect(sysTimer, &QTimer::timeout, this, [] { TimerTick(); });
    connect(cmdCancel, &QPushButton::clicked, this, &FrmMain::cancelRequested);
}

void FrmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        hide();
    }
}

QtStatusWindow::QtStatusWindow() = default;

QtStatusWindow::~QtStatusWindow() {
    delete m_form;
}

void QtStatusWindow::Load() {
    if (m_form) return;
    m_form = new FrmMain;
    // Cancel unloads the window; the run goes on, and the next status update loads it
    // again without showing it.
    QObject::connect(m_form, &FrmMain::cancelRequested, m_form, [this] { Unload(); });
}

void QtStatusWindow::Show() {
    Load();
    m_form->show();
}

void QtStatusWindow::Unload() {
    if (!m_form) return;
    for (Pending& p : m_pending) p = Pending{};
    m_flushQueued = false;
    FrmMain* form = m_form;
    m_form = nullptr;
    form->hide();
    form->sysTimer->stop();
    // The form may be unloading from its own button's handler.
    form->deleteLater();
}

void QtStatusWindow::EnableTimer() {
    Load();
    m_form->sysTimer->start();
}

QtStatusWindow::Pending* QtStatusWindow::LineToSet(int line) {
    Load();
    return line < 1 || line > 3 ? nullptr : &m_pending[line - 1];
}

void QtStatusWindow::SetLineText(int line, const std::string& text) {
    Pending* p = LineToSet(line);
    if (!p) return;
    p->set = true;
    p->counted = false;
    p->text = text;
    Changed();
}

void QtStatusWindow::ShowCount(int line, std::string_view what, long n, long of, long value) {
    Pending* p = LineToSet(line);
    if (!p) return;
    p->set = true;
    p->counted = true;
    p->text = what;
    p->n = n;
    p->of = of;
    if (Bar(line) && kBarMinimum <= value && value <= kBarMaximum) {
        p->valueSet = true;
        p->value = static_cast<int>(value);
    }
    Changed();
}

void QtStatusWindow::Changed() {
    // A paint is on its way: it takes what is set now along.
    if (m_flushQueued) return;
    const auto now = CoarseClock::now();
    if (now - m_lastFlush >= kStatusPaintInterval) {
        Flush();
        return;
    }
    // What is set in between reaches the window once the interval is over, even when no
    // further update comes.
    m_flushQueued = true;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kStatusPaintInterval -
                                                                            (now - m_lastFlush));
    QTimer::singleShot(wait, m_form, [this] { Flush(); });
}

void QtStatusWindow::Flush() {
    m_flushQueued = false;
    m_lastFlush = CoarseClock::now();
    if (!m_form) return;
    QLabel* labels[3] = {m_form->lblConnection, m_form->lblTemplateStautus, m_form->lblMsgStatus};
    for (int i = 0; i < 3; ++i) {
        Pending& p = m_pending[i];
        if (p.set) {
            const QString text =
                QString::fromStdString(p.counted ? CountText(p.text, p.n, p.of) : p.text);
            if (labels[i]->text() != text) labels[i]->setText(text);
        }
        if (p.valueSet)
            if (QProgressBar* bar = Bar(i + 1)) bar->setValue(p.value);
        p.set = p.valueSet = false;  // the text's buffer is kept for the next one
    }
}

QProgressBar* QtStatusWindow::Bar(int line) const {
    if (!m_form) return nullptr;
    return line == 2 ? m_form->prgTemplates : line == 3 ? m_form->prgMsg : nullptr;
}

int QtStatusWindow::ProgressMinimum(int) const {
    return kBarMinimum;
}

int QtStatusWindow::ProgressMaximum(int) const {
    return kBarMaximum;
}

void QtStatusWindow::SetProgress(int line, int value) {
    Pending* p = LineToSet(line);
    if (!p || !Bar(line)) return;
    p->valueSet = true;
    p->value = value;
    Changed();
}

}  // namespace tallix::engine
