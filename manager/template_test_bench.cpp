#include "manager/template_test_bench.h"

#include <QAction>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "engine/engine_run.h"
#include "engine/extraction_text.h"
#include "engine/mime_host.h"
#include "engine/run_context.h"
#include "engine/startup.h"
#include "manager/file_drop.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "model/template.h"
#include "model/template_pattern.h"
#include "settings/app_info.h"
#include "settings/error_reporter.h"
#include "settings/report_capture.h"
#include "settings/scratch_dir.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "settings/user_interface.h"
#include "sources/mail_source.h"
#include "sources/pop3_config.h"

namespace tallix::manager {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
QString Visible(const std::string& s) {
    return Q(engine::VisibleText(s));
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

std::size_t LinesWritten(const engine::TrialMessage& m) {
    return static_cast<std::size_t>(std::count(m.linesWritten.begin(), m.linesWritten.end(), true));
}

QString LineNote(const engine::TrialMessage& m) {
    if (!m.matched) return QObject::tr("The filter does not match this message: no line.");
    if (m.failed) return QObject::tr("The template failed on this message: a run marks it failed.");
    if (m.lines.empty())
        return QObject::tr("No line: the message has no attachment or no occurrence to give one.");
    if (m.lines.size() > 1)
        return QObject::tr(
                   "%1 lines; a run appends %2 of them (the others are already in the "
                   "output file).")
            .arg(m.lines.size())
            .arg(LinesWritten(m));
    if (!m.written) return QObject::tr("Not written: the output file already holds this line.");
    return QObject::tr("A run appends this line.");
}

// How a stretch of the body is marked: its background and the text colour drawn over it.
struct MarkColours {
    QColor background;
    QColor text;
};

double Luminance(const QColor& c) {
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The marks take their colours from the body view's palette, so they read under a dark
// colour scheme as under a light one: the value in the selection colour, the whole match of
// a pattern in a tint of it over the page. Over each, the palette's text colour or its
// selected-text colour, whichever stands out more.
MarkColours Colours(const QPalette& palette, bool value) {
    const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
    QColor background = highlight;
    if (!value) {
        const QColor base = palette.color(QPalette::Active, QPalette::Base);
        constexpr double kTint = 0.35;
        background =
            QColor::fromRgbF(float(base.redF() + (highlight.redF() - base.redF()) * kTint),
                             float(base.greenF() + (highlight.greenF() - base.greenF()) * kTint),
                             float(base.blueF() + (highlight.blueF() - base.blueF()) * kTint));
    }
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    const QColor selected = palette.color(QPalette::Active, QPalette::HighlightedText);
    return {background,
            Contrast(background, text) >= Contrast(background, selected) ? text : selected};
}

// A mark over the bytes `span` of the text of `part`.
QTextEdit::ExtraSelection Mark(QPlainTextEdit* view, const ShownPart& part, BodySpan span,
                               const MarkColours& colours) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(view->document());
    mark.cursor.setPosition(part.displayStart + DisplayPosition(part.text, span.start));
    mark.cursor.setPosition(
        part.displayStart + DisplayPosition(part.text, span.start + span.length),
        QTextCursor::KeepAnchor);
    mark.format.setBackground(colours.background);
    mark.format.setForeground(colours.text);
    return mark;
}

// The part of the view that shows the field a value was cut from; none for a field the view
// does not show (the dates, a header).
const ShownPart* PartOf(const std::vector<ShownPart>& parts, const engine::FoundText& f) {
    for (const ShownPart& p : parts)
        if (p.field == f.field && (p.field != kFieldAttachment || p.index == f.index)) return &p;
    return nullptr;
}

constexpr std::string_view kMakeContext = "TemplateTestBench MakeVariableFromSelection";
constexpr std::string_view kRefineContext = "TemplateTestBench RefineWithSelection";

VariableDraft DraftOf(const engine::SelectionVariable& v) {
    auto flag = [](bool on) { return std::string(on ? kFlagOn : kFlagOff); };
    VariableDraft d;
    d.name = v.name;
    d.field = v.field;
    d.findStart = v.start;
    d.findStop = v.stop;
    d.useQuotes = flag(v.useQuotes);
    d.removeLF = flag(v.removeLF);
    d.matchWholeString = flag(v.wholeWord);
    d.matchCase = flag(v.matchCase);
    d.startOfLineOnly = flag(v.startOfLine);
    d.repeat = v.repeat;
    return d;
}

// Where the variable starts and stops, as the bench says it.
QString Described(const engine::SelectionVariable& v) {
    const QString start = EqualsNoCase(v.start, kBeginningOfField)
                              ? QObject::tr("from the beginning of %1").arg(Q(v.field))
                              : QObject::tr("after \"%1\" in %2").arg(Q(v.start), Q(v.field));
    QString text = QObject::tr("%1: %2, up to %3").arg(Q(v.name), start, Q(v.stop));
    if (v.repeat) text += QObject::tr(", at every occurrence");
    text += QLatin1Char('.');
    if (!v.values.empty() && v.confirmed < v.values.size())
        text += QObject::tr(
                    " In this message it gives \"%1\": refine it with another example, "
                    "or change it on the Variables tab.")
                    .arg(Visible(v.values.back()));
    return text;
}

}  // namespace

QString DisplayText(const std::string& body) {
    QString text = QString::fromUtf8(body.data(), static_cast<qsizetype>(body.size()));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

int DisplayPosition(const std::string& body, std::size_t byteOffset) {
    return static_cast<int>(DisplayText(body.substr(0, std::min(byteOffset, body.size()))).size());
}

std::size_t ByteOffsetAt(const std::string& text, int position) {
    // The view shows whole characters and CR LF as one break: a prefix of the text that ends
    // inside either is moved on to their end. Over such prefixes DisplayPosition grows with
    // the offset; the first one shown at or after `position` is the byte.
    auto boundary = [&text](std::size_t at) {
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
        if (at > 0 && at < text.size() && text[at - 1] == '\r' && text[at] == '\n') ++at;
        return at;
    };
    std::size_t low = 0;
    std::size_t high = text.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (DisplayPosition(text, boundary(middle)) < position)
            low = middle + 1;
        else
            high = middle;
    }
    return boundary(low);
}

MadeVariable MakeVariable(const std::string& text, std::size_t start, std::size_t length,
                          const std::string& field, const std::string& delimiterName,
                          const std::vector<std::string>& taken, bool repeat) {
    engine::SelectionRequest r;
    r.field = field;
    r.examples = {{text, start, length}};
    r.delimiter = engine::DelimiterFor(delimiterName, ",");
    r.takenNames = taken;
    r.repeat = repeat;
    const engine::SelectionVariable v = engine::VariableFromSelection(r);
    MadeVariable made;
    made.problem = v.problem;
    if (!v.problem.empty()) return made;
    made.draft = DraftOf(v);
    made.description = Described(v);
    made.repeatedLines = v.repeatedLines;
    return made;
}

std::string RepeatedBlockQuestion(std::size_t lines, const std::string& label) {
    return std::to_string(lines) + std::string(kPickRepeatedBlock) + label +
           std::string(kPickRepeatedQuestion);
}

std::vector<BodySpan> PatternMatches(const clsTemplate& tpl, std::int32_t position,
                                     const std::string& body,
                                     const std::vector<engine::FoundText>& found) {
    std::vector<BodySpan> matches;
    const auto variable = tpl.colFields()->Item(position);
    if (!variable) return matches;
    const std::string pattern = tpl.Pattern(variable->FieldName());
    if (pattern.empty()) return matches;
    PatternError error;
    const auto compiled = CompiledPattern::Compile(pattern, variable->MatchCase() == "0", error);
    if (!compiled) return matches;
    std::size_t from = 0;
    for (const engine::FoundText& f : found) {
        if (f.variable != position || f.field != kFieldMsgText) continue;
        // The run takes the occurrences one after another, each search going on after the
        // previous match; the same searches meet the same matches.
        while (from <= body.size()) {
            const CompiledPattern::Match m = compiled->Find(body, from);
            if (m.outcome != CompiledPattern::Outcome::Found) return matches;
            from = m.matchEnd > from ? m.matchEnd : from + 1;
            if (m.valueStart > f.start) break;
            if (m.valueStart == f.start && m.valueLength == f.length) {
                matches.push_back({m.matchStart, m.matchEnd - m.matchStart});
                break;
            }
        }
    }
    return matches;
}

TemplateTestBench::TemplateTestBench(QWidget* parent) : QWidget(parent) {
    // The editor that shows the bench as a tab has "&Cancel" and "Output &Format" of its own.
    optMessageFile = new QRadioButton(tr("&Message file:"), this);
    optMessageFile->setObjectName("optMessageFile");
    optSource = new QRadioButton(tr("The configured &source (read only)"), this);
    optSource->setObjectName("optSource");
    optMessageFile->setChecked(true);
    txtMessageFile = new QLineEdit(this);
    txtMessageFile->setObjectName("txtMessageFile");
    txtMessageFile->setAccessibleName(tr("Message file"));
    txtMessageFile->setPlaceholderText(tr("A mailbox file or one message (.eml)"));
    cmdBrowse = new QPushButton(tr("&Browse..."), this);
    cmdBrowse->setObjectName("cmdBrowse");
    cmdCancel = new QPushButton(tr("Sto&p"), this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->setEnabled(false);
    prgTrial = new QProgressBar(this);
    prgTrial->setObjectName("prgTrial");
    prgTrial->setRange(0, 1);
    prgTrial->setValue(0);
    lblStatus = new QLabel(tr("Choose a message file or the configured source."), this);
    lblStatus->setObjectName("lblStatus");

    tblMessages = new QTableWidget(0, 4, this);
    tblMessages->setObjectName("tblMessages");
    tblMessages->setAccessibleName(tr("Messages tried"));
    tblMessages->setHorizontalHeaderLabels({tr("#"), tr("Subject"), tr("Matched"), tr("Check")});
    tblMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblMessages->setSelectionMode(QAbstractItemView::SingleSelection);
    tblMessages->verticalHeader()->hide();
    tblMessages->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    tblMessages->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tblMessages->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    tblMessages->horizontalHeader()->setSectionResizeMode(3, QHeaderView::ResizeToContents);
    tblMessages->setWordWrap(false);
    tblMessages->setColumnHidden(3, true);  // shown once a variable is watched

    tblCounts = new QTableWidget(0, 3, this);
    tblCounts->setObjectName("tblCounts");
    tblCounts->setAccessibleName(tr("Values found per variable"));
    tblCounts->setHorizontalHeaderLabels({tr("Variable"), tr("Found in"), tr("Other shape")});
    tblCounts->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblCounts->setSelectionMode(QAbstractItemView::SingleSelection);
    tblCounts->verticalHeader()->hide();
    tblCounts->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    tblCounts->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tblCounts->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    tblCounts->setWordWrap(false);

    tblValues = new QTableWidget(0, 3, this);
    tblValues->setObjectName("tblValues");
    tblValues->setAccessibleName(tr("Values of the variables"));
    tblValues->setHorizontalHeaderLabels({tr("Variable"), tr("Field"), tr("Value")});
    tblValues->verticalHeader()->hide();
    tblValues->setSelectionMode(QAbstractItemView::NoSelection);
    tblValues->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    txtOutputLine = new QLineEdit(this);
    txtOutputLine->setObjectName("txtOutputLine");
    txtOutputLine->setReadOnly(true);
    tblLines = new QTableWidget(0, 2, this);
    tblLines->setObjectName("tblLines");
    tblLines->setAccessibleName(tr("Output lines"));
    tblLines->setHorizontalHeaderLabels({tr("Line"), tr("Appended")});
    tblLines->verticalHeader()->hide();
    tblLines->setSelectionMode(QAbstractItemView::NoSelection);
    tblLines->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    tblLines->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tblLines->hide();
    lblLineNote = new QLabel(this);
    lblLineNote->setObjectName("lblLineNote");
    lblLineNote->setWordWrap(true);
    txtBody = new QPlainTextEdit(this);
    txtBody->setObjectName("txtBody");
    txtBody->setReadOnly(true);
    // A value is selected with the keyboard as well as with the mouse.
    txtBody->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtBody->setTabChangesFocus(true);
    txtBody->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtBody->setContextMenuPolicy(Qt::CustomContextMenu);
    // The editor that shows the bench has Alt+V (Variables) and Alt+F (Output Format).
    cmdMakeVariable = new QPushButton(tr("Ma&ke a variable from the selection"), this);
    cmdMakeVariable->setObjectName("cmdMakeVariable");
    cmdMakeVariable->setAutoDefault(false);
    cmdMakeVariable->setToolTip(
        tr("Ctrl+M: the value selected in the message becomes a "
           "variable of the template, added to the output line."));
    cmdRefine = new QPushButton(tr("Refine &with another example"), this);
    cmdRefine->setObjectName("cmdRefine");
    cmdRefine->setAutoDefault(false);
    cmdRefine->setEnabled(false);
    cmdRefine->setToolTip(
        tr("Ctrl+Shift+M: select the same value in another message; the "
           "start and stop texts are narrowed to what both have in common."));
    lblPick = new QLabel(this);
    lblPick->setObjectName("lblPick");
    lblPick->setWordWrap(true);
    lblPick->setTextFormat(Qt::PlainText);
    auto* makeAction = new QAction(tr("Make a variable from the selection"), this);
    makeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    makeAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(makeAction);
    auto* refineAction = new QAction(tr("Refine with another example"), this);
    refineAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M));
    refineAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(refineAction);

    auto* top = new QGridLayout;
    top->addWidget(optMessageFile, 0, 0);
    top->addWidget(txtMessageFile, 0, 1);
    top->addWidget(cmdBrowse, 0, 2);
    top->addWidget(optSource, 1, 0, 1, 2);
    top->addWidget(prgTrial, 2, 0, 1, 2);
    top->addWidget(cmdCancel, 2, 2);
    top->addWidget(lblStatus, 3, 0, 1, 3);

    auto* selected = new QWidget(this);
    auto* selectedLayout = new QVBoxLayout(selected);
    selectedLayout->setContentsMargins(0, 0, 0, 0);
    selectedLayout->addWidget(tblValues, 3);
    auto* outputLabel = new QLabel(tr("Output line:"), selected);
    outputLabel->setBuddy(txtOutputLine);
    selectedLayout->addWidget(outputLabel);
    selectedLayout->addWidget(txtOutputLine);
    selectedLayout->addWidget(tblLines, 2);
    selectedLayout->addWidget(lblLineNote);
    auto* bodyLabel = new QLabel(tr("Message (the text each variable was cut from is marked, and "
                                    "the whole match of a regular expression around it; select a "
                                    "value to make a variable of it):"),
                                 selected);
    bodyLabel->setWordWrap(true);
    bodyLabel->setBuddy(txtBody);
    selectedLayout->addWidget(bodyLabel);
    selectedLayout->addWidget(txtBody, 3);
    auto* pickRow = new QHBoxLayout;
    pickRow->addWidget(cmdMakeVariable);
    pickRow->addWidget(cmdRefine);
    pickRow->addStretch(1);
    selectedLayout->addLayout(pickRow);
    selectedLayout->addWidget(lblPick);

    auto* messages = new QWidget(this);
    auto* messagesLayout = new QVBoxLayout(messages);
    messagesLayout->setContentsMargins(0, 0, 0, 0);
    messagesLayout->addWidget(tblMessages, 2);
    auto* countsLabel = new QLabel(
        tr("Values found (in how many matching messages each variable gives one):"), messages);
    countsLabel->setWordWrap(true);
    countsLabel->setBuddy(tblCounts);
    messagesLayout->addWidget(countsLabel);
    messagesLayout->addWidget(tblCounts, 1);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(messages);
    split->addWidget(selected);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    m_debounce = new QTimer(this);
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(kTestBenchDebounceMs);
    connect(m_debounce, &QTimer::timeout, this, &TemplateTestBench::Start);

    connect(cmdBrowse, &QPushButton::clicked, this, &TemplateTestBench::Browse);
    connect(cmdCancel, &QPushButton::clicked, this, &TemplateTestBench::Cancel);
    connect(txtMessageFile, &QLineEdit::editingFinished, this, [this] {
        if (txtMessageFile->text() != m_messageFile) SetMessageFile(txtMessageFile->text());
    });
    connect(optSource, &QRadioButton::toggled, this, [this](bool on) {
        if (on && !m_useSource) UseConfiguredSource();
        if (!on && m_useSource) SetMessageFile(txtMessageFile->text());
    });
    connect(tblMessages, &QTableWidget::itemSelectionChanged, this,
            &TemplateTestBench::ShowSelected);
    // The variable picked in the counts is the one whose misses the message list marks.
    connect(tblCounts, &QTableWidget::itemSelectionChanged, this, [this] {
        const auto rows = tblCounts->selectionModel()->selectedRows();
        if (rows.isEmpty()) return;
        const auto row = static_cast<std::size_t>(rows.front().row());
        if (row < m_counts.size()) Watch(m_counts[row].name, m_counts[row].sample);
    });
    connect(cmdMakeVariable, &QPushButton::clicked, this,
            &TemplateTestBench::MakeVariableFromSelection);
    connect(cmdRefine, &QPushButton::clicked, this, &TemplateTestBench::RefineWithSelection);
    connect(makeAction, &QAction::triggered, this, &TemplateTestBench::MakeVariableFromSelection);
    connect(refineAction, &QAction::triggered, this, &TemplateTestBench::RefineWithSelection);
    connect(txtBody, &QPlainTextEdit::customContextMenuRequested, this,
            [this, makeAction, refineAction](const QPoint& at) {
                QMenu* menu = txtBody->createStandardContextMenu(at);
                menu->addSeparator();
                menu->addAction(makeAction);
                // Refining needs a variable made from a selection first.
                if (m_gesture) menu->addAction(refineAction);
                menu->exec(txtBody->viewport()->mapToGlobal(at));
                delete menu;
            });
    setTabOrder(tblMessages, tblCounts);
    setTabOrder(tblCounts, tblValues);
    setTabOrder(txtBody, cmdMakeVariable);
    setTabOrder(cmdMakeVariable, cmdRefine);
    // A mailbox file or a message dropped anywhere on the bench is tried at once.
    for (QWidget* target : {static_cast<QWidget*>(this), static_cast<QWidget*>(txtMessageFile)})
        AcceptFileDrops(target, [this](const QString& path) { SetMessageFile(path); });
}

TemplateTestBench::~TemplateTestBench() {
    m_debounce->stop();
    if (m_thread) {
        // The worker posts to this widget: it must be done before the widget goes.
        m_thread->disconnect(this);
        m_job->cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

void TemplateTestBench::SetTemplate(const clsTemplate& tpl) {
    m_template = tpl.Clone();
    Schedule();
}

void TemplateTestBench::SetMessageFile(const QString& path) {
    m_useSource = false;
    m_messageFile = path;
    if (txtMessageFile->text() != path) txtMessageFile->setText(path);
    if (!optMessageFile->isChecked()) optMessageFile->setChecked(true);
    Schedule();
}

void TemplateTestBench::UseConfiguredSource() {
    m_useSource = true;
    if (!optSource->isChecked()) optSource->setChecked(true);
    Schedule();
}

void TemplateTestBench::Schedule() {
    // A trial in progress is for a template that has changed: stop it at once.
    if (m_job) m_job->cancel = true;
    m_debounce->start();
}

void TemplateTestBench::Refresh() {
    m_debounce->stop();
    Start();
}

void TemplateTestBench::Cancel() {
    m_debounce->stop();
    m_restart = false;
    if (m_job) m_job->cancel = true;
}

void TemplateTestBench::Browse() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Messages to try the template on"), m_messageFile,
                                     tr("Mailbox files and messages (*)"));
    if (!path.isEmpty()) SetMessageFile(path);
}

void TemplateTestBench::Start() {
    if (!m_template || (!m_useSource && m_messageFile.isEmpty())) return;
    if (m_thread) {
        // One trial at a time (the engine's MIME host serves one): start again when it ends.
        m_job->cancel = true;
        m_restart = true;
        return;
    }
    auto job = std::make_shared<Job>();
    job->generation = ++m_generation;
    m_job = job;
    m_messages.clear();
    m_counts.clear();
    m_countedMatched = 0;
    tblCounts->setRowCount(0);
    tblMessages->setRowCount(0);
    tblValues->setRowCount(0);
    txtOutputLine->clear();
    tblLines->setRowCount(0);
    tblLines->hide();
    lblLineNote->clear();
    txtBody->clear();
    m_parts.clear();
    prgTrial->setRange(0, 0);  // busy until the source tells how many messages it has
    cmdCancel->setEnabled(true);
    lblStatus->setText(tr("Trying the template..."));

    std::shared_ptr<clsTemplate> tpl = m_template->Clone();
    m_tried = m_template->Clone();
    const std::string file = m_messageFile.toStdString();
    const bool useSource = m_useSource;
    // The trial works on the settings as they are now, whatever the window does meanwhile.
    const SettingsState settings = Settings();
    m_thread = QThread::create([this, job, tpl, file, useSource, settings] {
        engine::TrialSummary total;
        QString problem;
        // Whatever building the source reports stays here: no box, no log. The trial decodes
        // attachments with a MIME host of its own, on this thread, into scratch files of its
        // own.
        ReportCapture capture;
        ScratchScope scratch;
        engine::EngineMimeHost decoder;
        std::vector<sources::MailSource*> walk;
        std::unique_ptr<sources::SourceList> list;
        std::unique_ptr<sources::MailSource> single;
        if (useSource) {
            engine::RunContext run(settings);
            run.pop3ConfigPath = sources::Pop3ConfigPath();
            run.decoder = &decoder;
            list = engine::GetSources(run);
            if (!list)
                problem =
                    tr("No source of the kind the settings name (%1).").arg(Q(settings.useSource));
            for (std::int32_t i = 1; list && i <= list->Count(); ++i)
                if (sources::MailSource* s = list->ItemAt(i)) walk.push_back(s);
        } else {
            std::string why;
            single = engine::OpenMessageFile(file, settings, decoder, why);
            if (single)
                walk.push_back(single.get());
            else
                problem = Q(why);
        }
        for (sources::MailSource* source : walk) {
            if (job->cancel) break;
            engine::TrialSummary s = engine::TrySource(
                settings, *tpl, *source,
                [&](const engine::TrialMessage& m, std::int32_t announced) {
                    QMetaObject::invokeMethod(
                        this,
                        [this, g = job->generation, m, announced] { AddMessage(g, m, announced); },
                        Qt::QueuedConnection);
                    return !job->cancel;
                },
                &job->cancel);
            total.connected = total.connected || s.connected;
            total.cancelled = total.cancelled || s.cancelled;
            total.total += s.total;
            total.messages += s.messages;
            total.matched += s.matched;
            total.written += s.written;
            total.failed += s.failed;
            for (auto& r : s.reports) total.reports.push_back(r);
            if (!s.connected && problem.isEmpty())
                problem = tr("Could not connect to %1.").arg(Q(source->ID()));
        }
        if (job->cancel) total.cancelled = true;
        for (const auto& r : capture.Texts()) total.reports.push_back(r);
        if (problem.isEmpty() && !total.reports.empty()) problem = Visible(total.reports.front());
        QMetaObject::invokeMethod(
            this, [this, g = job->generation, total, problem] { Finish(g, total, problem); },
            Qt::QueuedConnection);
    });
    connect(m_thread, &QThread::finished, this, [this] {
        m_thread->deleteLater();
        m_thread = nullptr;
        if (m_restart) {
            m_restart = false;
            Start();
        }
    });
    m_thread->start();
}

void TemplateTestBench::AddMessage(int generation, const engine::TrialMessage& message, int total) {
    if (generation != m_generation) return;
    m_messages.push_back(message);
    const int row = tblMessages->rowCount();
    tblMessages->insertRow(row);
    tblMessages->setItem(row, 0, Cell(QString::number(row + 1)));
    tblMessages->setItem(row, 1, Cell(Visible(message.subject)));
    QString matched = message.matched ? tr("Yes") : tr("No");
    if (message.failed)
        matched += tr(" (failed)");
    else if (message.matched && message.lines.size() != 1)
        matched += tr(" (%1 lines)").arg(message.lines.size());
    else if (message.matched && !message.written)
        matched += tr(" (duplicate)");
    tblMessages->setItem(row, 2, Cell(matched));
    tblMessages->setItem(row, 3, Cell(QString()));
    Count(message);
    ShowCheck(row);
    ShowCounts();
    if (total > 0) {
        prgTrial->setRange(0, total);
        prgTrial->setValue(std::min(row + 1, total));
    }
    lblStatus->setText(tr("Message %1 of %2...").arg(row + 1).arg(total));
    // The row the user looked at before the edit is shown again as soon as it is back.
    if (row == m_selectedRow || (m_selectedRow < 0 && row == 0)) tblMessages->selectRow(row);
}

void TemplateTestBench::Finish(int generation, const engine::TrialSummary& summary,
                               const QString& problem) {
    if (generation != m_generation) return;
    cmdCancel->setEnabled(false);
    prgTrial->setRange(0, std::max(1, summary.total));
    prgTrial->setValue(summary.cancelled ? summary.messages : std::max(1, summary.total));
    std::int32_t duplicates = 0;
    for (const auto& m : m_messages)
        if (m.matched && !m.written && !m.failed) ++duplicates;
    QString text = tr("%1 messages, %2 matched, %3 lines, %4 duplicates, %5 failed")
                       .arg(summary.messages)
                       .arg(summary.matched)
                       .arg(summary.written)
                       .arg(duplicates)
                       .arg(summary.failed);
    if (summary.cancelled) text = tr("Cancelled after ") + text;
    if (!problem.isEmpty()) text += QLatin1String(" - ") + problem;
    lblStatus->setText(text);
    if (m_reportPick && !summary.cancelled) SayPickCount();
    Q_EMIT TrialFinished();
}

void TemplateTestBench::ShowSelected() {
    const auto rows = tblMessages->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const int row = rows.front().row();
    if (row < 0 || static_cast<std::size_t>(row) >= m_messages.size()) return;
    m_selectedRow = row;
    const engine::TrialMessage& m = m_messages[static_cast<std::size_t>(row)];

    tblValues->setRowCount(static_cast<int>(m.variables.size()));
    for (std::size_t i = 0; i < m.variables.size(); ++i) {
        const auto& v = m.variables[i];
        tblValues->setItem(static_cast<int>(i), 0, Cell(Q(v.name)));
        tblValues->setItem(static_cast<int>(i), 1, Cell(Q(v.field)));
        tblValues->setItem(static_cast<int>(i), 2, Cell(Visible(v.value)));
    }
    txtOutputLine->setText(m.matched ? Visible(m.outputLine) : QString());
    tblLines->setRowCount(static_cast<int>(m.lines.size()));
    for (std::size_t i = 0; i < m.lines.size(); ++i) {
        const bool appended = i < m.linesWritten.size() && m.linesWritten[i];
        tblLines->setItem(static_cast<int>(i), 0, Cell(Visible(m.lines[i])));
        tblLines->setItem(static_cast<int>(i), 1,
                          Cell(appended ? tr("Yes") : tr("No (already in the file)")));
    }
    tblLines->setVisible(m.lines.size() > 1);
    QString note = LineNote(m);
    for (const auto& w : m.withheld)
        note += QLatin1Char('\n') + tr("Not done in a trial: ") + Visible(w);
    for (const auto& r : m.reports) note += QLatin1Char('\n') + tr("A run reports: ") + Visible(r);
    lblLineNote->setText(note);

    ShowMessage(m);
}

void TemplateTestBench::ShowMessage(const engine::TrialMessage& m) {
    // A mail program's view: the subject and sender lines, the body, then each attachment's
    // text under a heading. Only the fields' own texts can be selected as values.
    m_parts.clear();
    QString shown;
    std::vector<std::pair<int, int>> headings;
    auto heading = [&](const QString& text) {
        headings.emplace_back(static_cast<int>(shown.size()), static_cast<int>(text.size()));
        shown += text;
    };
    auto part = [&](std::string_view field, std::int32_t index, const std::string& text) {
        ShownPart p;
        p.field = std::string(field);
        p.index = index;
        p.text = text;
        p.displayStart = static_cast<int>(shown.size());
        const QString display = DisplayText(text);
        p.displayLength = static_cast<int>(display.size());
        shown += display;
        m_parts.push_back(std::move(p));
    };
    heading(tr("Subject: "));
    part(kFieldMsgSubject, 0, m.subject);
    shown += QLatin1Char('\n');
    heading(tr("From: "));
    part(kFieldSenderName, 0, m.senderName);
    shown += QLatin1String(" <");
    part(kFieldSenderAddress, 0, m.senderAddress);
    shown += QLatin1String(">\n\n");
    part(kFieldMsgText, 0, m.body);
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        const auto& [name, text] = m.attachments[i];
        shown += QLatin1String("\n\n");
        heading(tr("\u2500\u2500 Attachment %1: %2 \u2500\u2500").arg(i + 1).arg(Visible(name)));
        shown += QLatin1Char('\n');
        if (text.empty())
            heading(tr("(no text: empty, or its extension is listed in extensions.txt)"));
        else
            part(kFieldAttachment, static_cast<std::int32_t>(i + 1), text);
    }
    txtBody->setPlainText(shown);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (const auto& [start, length] : headings) {
        QTextCursor c(txtBody->document());
        c.setPosition(start);
        c.setPosition(start + length, QTextCursor::KeepAnchor);
        c.mergeCharFormat(bold);
    }

    // The whole match of a pattern first, the value cut from it drawn over it.
    QList<QTextEdit::ExtraSelection> marks;
    const ShownPart* body = nullptr;
    for (const ShownPart& p : m_parts)
        if (p.field == kFieldMsgText) body = &p;
    if (m_tried && body) {
        std::vector<std::int32_t> positions;
        for (const engine::FoundText& f : m.found)
            if (std::find(positions.begin(), positions.end(), f.variable) == positions.end())
                positions.push_back(f.variable);
        for (const std::int32_t position : positions)
            for (const BodySpan& span : PatternMatches(*m_tried, position, m.body, m.found))
                marks.push_back(Mark(txtBody, *body, span, Colours(txtBody->palette(), false)));
    }
    for (const engine::FoundText& f : m.found) {
        const ShownPart* p = PartOf(m_parts, f);
        if (!p || f.length == 0) continue;
        marks.push_back(Mark(txtBody, *p, {f.start, f.length}, Colours(txtBody->palette(), true)));
    }
    txtBody->setExtraSelections(marks);
    if (!marks.isEmpty()) {
        QTextCursor at = marks.front().cursor;
        at.clearSelection();
        txtBody->setTextCursor(at);
        txtBody->ensureCursorVisible();
    }
}

// ---- the gesture ---------------------------------------------------------------------------

bool TemplateTestBench::SelectedValue(Selected& selected) {
    const QTextCursor cursor = txtBody->textCursor();
    const int from = cursor.selectionStart();
    const int to = cursor.selectionEnd();
    // A selection that takes in a heading or a line end beside one part is that part's.
    const ShownPart* hit = nullptr;
    int hits = 0, low = 0, high = 0;
    for (const ShownPart& p : m_parts) {
        const int a = std::max(from, p.displayStart);
        const int b = std::min(to, p.displayStart + p.displayLength);
        if (a >= b) continue;
        ++hits;
        hit = &p;
        low = a - p.displayStart;
        high = b - p.displayStart;
    }
    if (hits != 1 || m_selectedRow < 0 ||
        static_cast<std::size_t>(m_selectedRow) >= m_messages.size()) {
        lblPick->setText(Q(std::string(kPickSelectValue)));
        return false;
    }
    const std::size_t start = ByteOffsetAt(hit->text, low);
    const std::size_t end = ByteOffsetAt(hit->text, high);
    selected.part = hit;
    selected.example = {hit->text, start, end - start};
    return true;
}

engine::SelectionRequest TemplateTestBench::Request(const Selected& selected) const {
    engine::SelectionRequest r;
    r.field = selected.part->field;
    r.examples = {selected.example};
    if (m_template) {
        r.delimiter = engine::DelimiterFor(m_template->OutputDeliminator(), ",");
        for (const auto& field : m_template->colFields()->NewEnum())
            r.takenNames.push_back(field->FieldName());
    }
    return r;
}

void TemplateTestBench::MakeVariableFromSelection() {
    Guard(kMakeContext, [this] {
        Selected selected;
        if (!SelectedValue(selected)) return;
        engine::SelectionRequest request = Request(selected);
        engine::SelectionVariable v = engine::VariableFromSelection(request);
        if (!v.problem.empty()) {
            lblPick->setText(Q(v.problem));
            return;
        }
        // Several lines that begin with the label: the value is one of a list (order items),
        // which the template can take line by line.
        if (v.repeatedLines >= 2 &&
            MsgBox(RepeatedBlockQuestion(v.repeatedLines, v.start), MsgButtons::YesNo,
                   MsgIcon::Question, kPickTitle, MsgAnswer::Yes) == MsgAnswer::Yes) {
            request.repeat = true;
            v = engine::VariableFromSelection(request);
        }
        const engine::TrialMessage& m = m_messages[static_cast<std::size_t>(m_selectedRow)];
        m_gesture = Gesture{v.name, v.field, request.repeat, request.examples, {m.number}};
        Watch(v.name, v.selected.front());
        m_pickSaid = Described(v);
        lblPick->setText(m_pickSaid + tr(" Trying it on every message..."));
        m_reportPick = true;
        cmdRefine->setEnabled(true);
        Q_EMIT VariableMade(DraftOf(v));
    });
}

void TemplateTestBench::RefineWithSelection() {
    Guard(kRefineContext, [this] {
        if (!m_gesture) {
            lblPick->setText(Q(std::string(kPickMakeFirst)));
            return;
        }
        Selected selected;
        if (!SelectedValue(selected)) return;
        if (selected.part->field != m_gesture->field) {
            lblPick->setText(Q(std::string(kPickSamePart) + m_gesture->field) +
                             tr(") of another message."));
            return;
        }
        const engine::TrialMessage& m = m_messages[static_cast<std::size_t>(m_selectedRow)];
        if (std::find(m_gesture->messages.begin(), m_gesture->messages.end(), m.number) !=
            m_gesture->messages.end()) {
            lblPick->setText(Q(std::string(kPickOtherMessage)));
            return;
        }
        engine::SelectionRequest request = Request(selected);
        request.examples = m_gesture->examples;
        request.examples.push_back(selected.example);
        request.name = m_gesture->name;
        request.repeat = m_gesture->repeat;
        const engine::SelectionVariable v = engine::VariableFromSelection(request);
        if (!v.problem.empty()) {
            lblPick->setText(Q(v.problem));
            return;
        }
        m_gesture->examples = request.examples;
        m_gesture->messages.push_back(m.number);
        m_pickSaid = tr("Refined with message %1. ").arg(m.number) + Described(v);
        lblPick->setText(m_pickSaid + tr(" Trying it on every message..."));
        m_reportPick = true;
        Q_EMIT VariableRefined(DraftOf(v));
    });
}

// ---- counts and marks ----------------------------------------------------------------------

void TemplateTestBench::Count(const engine::TrialMessage& m) {
    if (!m.matched) return;
    ++m_countedMatched;
    for (const engine::TrialVariable& variable : m.variables) {
        auto it = std::find_if(m_counts.begin(), m_counts.end(),
                               [&](const VariableCount& c) { return c.name == variable.name; });
        if (it == m_counts.end()) {
            VariableCount c;
            c.name = variable.name;
            if (variable.name == m_watch) c.sample = m_watchSample;
            m_counts.push_back(c);
            it = std::prev(m_counts.end());
        }
        if (TrimView(variable.value).empty()) continue;
        ++it->found;
        // A variable not made from a selection is compared with the first value it gave.
        if (it->sample.empty()) it->sample = variable.value;
        if (engine::ShapeDiffers(it->sample, variable.value)) ++it->otherShape;
    }
}

void TemplateTestBench::ShowCounts() {
    const QSignalBlocker quiet(tblCounts);
    tblCounts->setRowCount(static_cast<int>(m_counts.size()));
    for (std::size_t i = 0; i < m_counts.size(); ++i) {
        const VariableCount& c = m_counts[i];
        const int row = static_cast<int>(i);
        tblCounts->setItem(row, 0, Cell(Q(c.name)));
        tblCounts->setItem(row, 1, Cell(tr("%1 of %2").arg(c.found).arg(m_countedMatched)));
        tblCounts->setItem(row, 2, Cell(QString::number(c.otherShape)));
        if (c.name == m_watch) {
            tblCounts->selectRow(row);
            tblCounts->scrollToItem(tblCounts->item(row, 0));
        }
    }
}

void TemplateTestBench::ShowCheck(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_messages.size()) return;
    const engine::TrialMessage& m = m_messages[static_cast<std::size_t>(row)];
    QString check;
    if (m.matched && !m_watch.empty()) {
        for (const engine::TrialVariable& variable : m.variables) {
            if (variable.name != m_watch) continue;
            if (TrimView(variable.value).empty())
                check = tr("no %1").arg(Q(m_watch));
            else if (engine::ShapeDiffers(m_watchSample, variable.value))
                check = tr("%1: other shape").arg(Q(m_watch));
        }
    }
    if (QTableWidgetItem* item = tblMessages->item(row, 3)) item->setText(check);
}

void TemplateTestBench::Watch(const std::string& name, const std::string& sample) {
    m_watch = name;
    m_watchSample = sample;
    for (VariableCount& c : m_counts)
        if (c.name == name && !sample.empty()) c.sample = sample;
    for (int row = 0; row < tblMessages->rowCount(); ++row) ShowCheck(row);
    tblMessages->setColumnHidden(3, name.empty());
}

void TemplateTestBench::SayPickCount() {
    if (!m_gesture) return;
    for (const VariableCount& c : m_counts) {
        if (c.name != m_gesture->name) continue;
        m_reportPick = false;
        int marked = 0;
        for (int row = 0; row < tblMessages->rowCount(); ++row)
            if (const QTableWidgetItem* item = tblMessages->item(row, 3))
                marked += item->text().isEmpty() ? 0 : 1;
        QString text =
            tr("It was found in %1 of %2 matching messages").arg(c.found).arg(m_countedMatched);
        if (marked > 0)
            text +=
                tr("; %1 marked in the list (no value, or a value of another shape)").arg(marked);
        lblPick->setText(m_pickSaid + QLatin1Char(' ') + text + QLatin1Char('.'));
        return;
    }
}

}  // namespace tallix::manager
