#include "manager/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <string_view>

#include "manager/client_procs.h"
#include "manager/geometry.h"
#include "manager/manager_windows.h"
#include "manager/options_procs.h"
#include "manager/run_panel.h"
#include "manager/wizard_procs.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "settings/system_rules.h"
#include "ui/qt_printer.h"

namespace tallix::manager {
namespace {

constexpr std::string_view kMainLeft = "MainLeft";
constexpr std::string_view kMainTop = "MainTop";
constexpr std::string_view kMainWidth = "MainWidth";
constexpr std::string_view kMainHeight = "MainHeight";
constexpr int kClockIntervalMs = 1000;
constexpr std::string_view kNotBuiltTip = "Not available yet: the %1 is not part of this version.";

QString Res(int id) {
    return QString::fromStdString(LoadResString(id));
}

// An icon from the desktop's theme, or Qt's own when the theme has none.
QIcon ThemeIcon(QWidget* w, const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), w->style()->standardIcon(fallback));
}

}  // namespace

FrmMain::FrmMain(QWidget* parent) : QMainWindow(parent), m_clock(new QTimer(this)) {
    setObjectName("frmMain");
    setWindowTitle(Res(kResShortProductName));
    setWindowIcon(QIcon::fromTheme(
        "tallix", ThemeIcon(this, "x-office-spreadsheet", QStyle::SP_FileDialogListView)));

    lvMainList = new QTreeWidget(this);
    lvMainList->setObjectName("lvMainList");
    lvMainList->setAccessibleName("Templates");
    lvMainList->setRootIsDecorated(false);
    lvMainList->setUniformRowHeights(true);
    lvMainList->setSelectionMode(QAbstractItemView::SingleSelection);
    lvMainList->setAllColumnsShowFocus(true);
    lvMainList->setHeaderLabels({"Template Name", "Active", "Last Time Used", "Last Match"});
    // Column widths follow the font, so a larger font still shows whole headings.
    const QFontMetrics fm = lvMainList->fontMetrics();
    lvMainList->setColumnWidth(kColName, fm.horizontalAdvance(QString(24, 'x')));
    lvMainList->setColumnWidth(kColActive, fm.horizontalAdvance(QStringLiteral("Active  False")));
    lvMainList->setColumnWidth(kColLastRun,
                               fm.horizontalAdvance(QStringLiteral("12/31/2026 12:00:00 PM  ")));
    lvMainList->header()->setStretchLastSection(true);
    lvMainList->setContextMenuPolicy(Qt::CustomContextMenu);
    lvMainList->installEventFilter(this);
    setCentralWidget(lvMainList);
    dockRun = new RunPanel(this);
    addDockWidget(Qt::BottomDockWidgetArea, dockRun);
    dockRun->hide();

    BuildActions();
    BuildMenus();
    BuildToolbar();
    BuildStatusBar();

    connect(lvMainList, &QTreeWidget::itemDoubleClicked, this, [this] { EditSelected(); });
    connect(lvMainList, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        if (QTreeWidgetItem* item = lvMainList->itemAt(p)) lvMainList->setCurrentItem(item);
        mnuPopup->popup(lvMainList->viewport()->mapToGlobal(p));
    });

    RestoreGeometry();
}

FrmMain::~FrmMain() {
    if (MainForm() == this) SetMainForm(nullptr);
}

QAction* FrmMain::MakeAction(const char* objectName, const QString& caption) {
    auto* a = new QAction(caption, this);
    a->setObjectName(objectName);
    return a;
}

void FrmMain::BuildActions() {
    BuildFileActions();
    BuildEditActions();
    BuildViewActions();
    BuildParseActions();
    BuildHelpActions();
    BuildToolbarActions();
}

void FrmMain::BuildFileActions() {
    mnuFileNew = MakeAction("mnuFileNew", "&New Template...");
    mnuFileWizard = MakeAction("mnuFileWizard", "New Template &Wizard...");
    mnuFilePageSetup = MakeAction("mnuFilePageSetup", "Page Set&up...");
    mnuFilePrint = MakeAction("mnuFilePrint", "&Print");
    mnuFileExit = MakeAction("mnuFileExit", "E&xit");
    mnuFileExit->setShortcut(QKeySequence::Quit);
    mnuFilePrint->setShortcut(QKeySequence::Print);
    mnuFileNew->setShortcut(QKeySequence::New);
    connect(mnuFileNew, &QAction::triggered, this, [] {
        State().newTemplate = true;
        EditTemplate(true);
    });
    // The template wizard.
    connect(mnuFileWizard, &QAction::triggered, this, [] { DoWizard(); });
    connect(mnuFilePageSetup, &QAction::triggered, this, [this] { ShowPageSetup(*this); });
    connect(mnuFilePrint, &QAction::triggered, this, [] { PrintTemplate(); });
    connect(mnuFileExit, &QAction::triggered, this, &QWidget::close);
}

void FrmMain::BuildEditActions() {
    mnuEditModify = MakeAction("mnuEditModify", "&Edit...");
    mnuEditCopy = MakeAction("mnuEditCopy", "&Copy...");
    mnuEditDelete = MakeAction("mnuEditDelete", "&Delete...");
    mnuEditToggleActive = MakeAction("mnuEditToggleActive", "Toggle Active");
    mnuEditDelete->setShortcut(QKeySequence::Delete);
    connect(mnuEditModify, &QAction::triggered, this, [] {
        State().newTemplate = false;
        EditTemplate(false);
    });
    connect(mnuEditCopy, &QAction::triggered, this, [] { CopyCurrentTemplate(); });
    connect(mnuEditDelete, &QAction::triggered, this, [] { DoDelete(); });
    connect(mnuEditToggleActive, &QAction::triggered, this, [] { ToggleActivityFlag(); });
}

void FrmMain::BuildViewActions() {
    mnuViewToolbar = MakeAction("mnuViewToolbar", "&Toolbar");
    mnuViewStatusBar = MakeAction("mnuViewStatusBar", "Status &Bar");
    mnuViewSysLog = MakeAction("mnuViewSysLog", "&System Log");
    mnuViewErrLog = MakeAction("mnuViewErrLog", "&Error Log");
    mnuViewRefresh = MakeAction("mnuViewRefresh", "&Refresh");
    mnuViewOptions = MakeAction("mnuViewOptions", "&Options...");
    mnuViewRefresh->setShortcut(QKeySequence::Refresh);
    mnuViewToolbar->setCheckable(true);
    mnuViewToolbar->setChecked(true);
    mnuViewStatusBar->setCheckable(true);
    mnuViewStatusBar->setChecked(true);
    connect(mnuViewToolbar, &QAction::toggled, this, [this](bool on) {
        tbToolbar->setVisible(on);
        SizeControls();
    });
    connect(mnuViewStatusBar, &QAction::toggled, this, [this](bool on) {
        statusBar()->setVisible(on);
        SizeControls();
    });
    connect(mnuViewSysLog, &QAction::triggered, this, [] { ViewLogFile("txSystem.Log"); });
    connect(mnuViewErrLog, &QAction::triggered, this, [] { ViewLogFile("txError.Log"); });
    connect(mnuViewRefresh, &QAction::triggered, this, [] { GetTempFiles(); });
    // The options dialog "System Options".
    mnuViewOptions->setEnabled(true);
    mnuViewOptions->setStatusTip(QString());
    mnuViewOptions->setToolTip(QString());
    connect(mnuViewOptions, &QAction::triggered, this, [] { InitOptions(); });
}

void FrmMain::BuildParseActions() {
    mnuParseCurrent = MakeAction("mnuParseCurrent", "&Current Template...");
    mnuParseAll = MakeAction("mnuParseAll", "&All Templates....");
    connect(mnuParseCurrent, &QAction::triggered, this, [] { ParseCurrent(); });
    connect(mnuParseAll, &QAction::triggered, this, [] { ParseAll(); });
}

void FrmMain::BuildHelpActions() {
    const QString product = Res(kResProductName);
    mnuHelpContents = MakeAction("mnuHelpContents", product + " &Help");
    mnuHelpSearchForHelpOn = MakeAction("mnuHelpSearchForHelpOn", "&Search For Help On...");
    mnuHelpGetStarted = MakeAction("mnuHelpGetStarted", "&Getting Started...");
    mnuHelpExamples = MakeAction("mnuHelpExamples", "&Use Example Templates");
    mnuHelpSupport = MakeAction("mnuHelpSupport", "Obtaining &Technical Support...");
    mnuHelpWebSite = MakeAction("mnuHelpWebSite", Res(kResMakerName) + " &Web Site...");
    mnuHelpOrdering = MakeAction("mnuHelpOrdering", "&Ordering " + product + "...");
    mnuHelpAbout = MakeAction("mnuHelpAbout", "&About " + product + "...");
    mnuHelpContents->setShortcut(QKeySequence::HelpContents);
    mnuHelpExamples->setCheckable(true);
    connect(mnuHelpContents, &QAction::triggered, this, [] { ShowHelpContents(); });
    connect(mnuHelpSearchForHelpOn, &QAction::triggered, this, [] { ShowHelpIndex(""); });
    connect(mnuHelpGetStarted, &QAction::triggered, this,
            [] { DoHelp(kHelpCommandContext, kHelpContextGettingStarted); });
    connect(mnuHelpExamples, &QAction::triggered, this, [] { DoExamples(); });
    connect(mnuHelpSupport, &QAction::triggered, this,
            [] { DoHelp(kHelpCommandContext, kHelpContextSupport); });
    connect(mnuHelpOrdering, &QAction::triggered, this,
            [] { DoHelp(kHelpCommandContext, kHelpContextOrdering); });
    connect(mnuHelpWebSite, &QAction::triggered, this, [] { OpenWebSite(); });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { ShowAbout(this); });
}

void FrmMain::BuildToolbarActions() {
    // Toolbar buttons are actions of their own (their captions are the toolbar's keys) that
    // lead to the same commands.
    auto button = [this](const char* key, const char* icon, QStyle::StandardPixmap fallback,
                         QAction* target, const char* tip) {
        auto* a = new QAction(ThemeIcon(this, icon, fallback), QString::fromLatin1(key), this);
        a->setObjectName(QStringLiteral("tb") + QString::fromLatin1(key).remove(' '));
        // The tip says what the button does and the key that does the same.
        QString text = QString::fromLatin1(tip);
        if (!target->shortcut().isEmpty())
            text += " (" + target->shortcut().toString(QKeySequence::NativeText) + ")";
        a->setToolTip(text);
        a->setEnabled(target->isEnabled());
        if (!target->isEnabled()) a->setToolTip(target->toolTip());
        connect(a, &QAction::triggered, target, &QAction::trigger);
        return a;
    };
    tbNew = button("New", "document-new", QStyle::SP_FileIcon, mnuFileNew, "New template");
    tbWizard = button("Wizard", "tools-wizard", QStyle::SP_FileDialogStart, mnuFileWizard,
                      "New template with the wizard");
    tbPrint = button("Print", "document-print", QStyle::SP_FileDialogDetailedView, mnuFilePrint,
                     "Print the selected template");
    tbProperties = button("Properties", "document-properties", QStyle::SP_FileDialogInfoView,
                          mnuEditModify, "Edit the selected template");
    tbCopy = button("Copy", "edit-copy", QStyle::SP_FileDialogNewFolder, mnuEditCopy,
                    "Copy the selected template");
    tbDelete = button("Delete", "edit-delete", QStyle::SP_TrashIcon, mnuEditDelete,
                      "Move the selected template to the trash");
    tbToggleActive = button("Toggle Active", "emblem-default", QStyle::SP_DialogApplyButton,
                            mnuEditToggleActive, "Toggle Active Flag");
    tbParse = button("Parse", "system-run", QStyle::SP_MediaPlay, mnuParseCurrent,
                     "Parse current template");
    tbParseAll = button("Parse All", "media-seek-forward", QStyle::SP_MediaSeekForward, mnuParseAll,
                        "Parse with every active template");
    tbOptions = button("Options", "preferences-system", QStyle::SP_FileDialogListView,
                       mnuViewOptions, "Options: the mail source and the folders");
    tbHelp = button("Help", "help-contents", QStyle::SP_DialogHelpButton, mnuHelpContents, "Help");
}

void FrmMain::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(mnuFileNew);
    file->addAction(mnuFileWizard);
    file->addSeparator();
    file->addAction(mnuFilePageSetup);
    file->addAction(mnuFilePrint);
    file->addSeparator();
    file->addAction(mnuFileExit);
    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addAction(mnuEditModify);
    edit->addAction(mnuEditCopy);
    edit->addAction(mnuEditDelete);
    edit->addSeparator();
    edit->addAction(mnuEditToggleActive);
    QMenu* view = menuBar()->addMenu("&View");
    view->addAction(mnuViewToolbar);
    view->addAction(mnuViewStatusBar);
    view->addSeparator();
    view->addAction(mnuViewSysLog);
    view->addAction(mnuViewErrLog);
    view->addSeparator();
    view->addAction(mnuViewRefresh);
    view->addSeparator();
    view->addAction(mnuViewOptions);
    QMenu* parse = menuBar()->addMenu("&Parse");
    parse->addAction(mnuParseCurrent);
    parse->addAction(mnuParseAll);
    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(mnuHelpContents);
    help->addAction(mnuHelpSearchForHelpOn);
    help->addAction(mnuHelpGetStarted);
    help->addSeparator();
    help->addAction(mnuHelpExamples);
    help->addSeparator();
    help->addAction(mnuHelpSupport);
    help->addAction(mnuHelpWebSite);
    help->addAction(mnuHelpOrdering);
    help->addSeparator();
    help->addAction(mnuHelpAbout);

    mnuPopup = new QMenu(this);
    mnuPopup->setObjectName("mnuPopup");
    auto popupItem = [this](const char* name, QAction* target) {
        auto* a = mnuPopup->addAction(target->text());
        a->setObjectName(name);
        a->setEnabled(target->isEnabled());
        a->setStatusTip(target->statusTip());
        connect(a, &QAction::triggered, target, &QAction::trigger);
    };
    popupItem("mnuPopupNew", mnuFileNew);
    popupItem("mnuPopupEdit", mnuEditModify);
    popupItem("mnuPopupCopy", mnuEditCopy);
    popupItem("mnuPopupDelete", mnuEditDelete);
    mnuPopup->addSeparator();
    popupItem("mnuPopupToggle", mnuEditToggleActive);
    popupItem("mnuPopupParse", mnuParseCurrent);
    popupItem("mnuPopupPrint", mnuFilePrint);
}

void FrmMain::BuildToolbar() {
    tbToolbar = addToolBar("Toolbar");
    tbToolbar->setObjectName("tbToolbar");
    tbToolbar->setMovable(false);
    tbToolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbToolbar->addAction(tbNew);
    tbToolbar->addAction(tbWizard);
    tbToolbar->addAction(tbPrint);
    tbToolbar->addSeparator();
    tbToolbar->addAction(tbProperties);
    tbToolbar->addAction(tbCopy);
    tbToolbar->addAction(tbDelete);
    tbToolbar->addAction(tbToggleActive);
    tbToolbar->addSeparator();
    tbToolbar->addAction(tbParse);
    tbToolbar->addAction(tbParseAll);
    tbToolbar->addSeparator();
    tbToolbar->addAction(tbOptions);
    tbToolbar->addAction(tbHelp);
    // The toolbar's own hide command would bypass the menu check.
    tbToolbar->toggleViewAction()->setEnabled(false);
}

void FrmMain::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("sbStatusBar");
    sbDate = new QLabel(this);
    sbDate->setObjectName("sbDate");
    sbTime = new QLabel(this);
    sbTime->setObjectName("sbTime");
    bar->addPermanentWidget(sbDate);
    bar->addPermanentWidget(sbTime);
    UpdateClock();
    m_clock->setInterval(kClockIntervalMs);
    connect(m_clock, &QTimer::timeout, this, &FrmMain::UpdateClock);
    m_clock->start();
}

void FrmMain::UpdateClock() {
    const DateValue now = Now();
    sbDate->setText(QString::fromStdString(FormatShortDate(now)));
    sbTime->setText(QString::fromStdString(FormatShortTime(now)));
}

void FrmMain::ShowNotBuilt(const QString& what) {
    statusBar()->showMessage(QString::fromLatin1(kNotBuiltTip).arg(what));
}

void FrmMain::EditSelected() {
    if (!SelectedItem()) return;
    if (mnuEditModify->isEnabled())
        mnuEditModify->trigger();
    else
        ShowNotBuilt("template editor");
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvMainList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            EditSelected();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QTreeWidgetItem* FrmMain::SelectedItem() const {
    const QList<QTreeWidgetItem*> selected = lvMainList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void FrmMain::ClearList() {
    lvMainList->clear();
}

QTreeWidgetItem* FrmMain::AddRow(const std::string& name, bool active, const std::string& lastRan,
                                 const std::string& path) {
    auto* item = new QTreeWidgetItem(lvMainList);
    item->setText(kColName, QString::fromStdString(name));
    item->setText(kColActive, active ? "True" : "False");
    item->setText(kColLastRun, QString::fromStdString(lastRan));
    item->setData(kColName, Qt::UserRole, QString::fromStdString(path));
    return item;
}

void FrmMain::SetLastMatch(QTreeWidgetItem* item, const QString& text, const QString& tip,
                           const QString& warning) {
    if (!item) return;
    item->setText(kColLastMatch, text);
    const QTreeWidget* list = item->treeWidget();
    item->setIcon(kColName, warning.isEmpty() || !list
                                ? QIcon()
                                : list->style()->standardIcon(QStyle::SP_MessageBoxWarning));
    item->setToolTip(kColName, warning);
    item->setData(kColName, Qt::AccessibleDescriptionRole, warning);
    item->setToolTip(kColLastMatch, warning.isEmpty() ? tip : warning);
}

QTreeWidgetItem* FrmMain::FindRow(const std::string& name) const {
    const QString wanted = QString::fromStdString(name);
    for (int i = 0; i < lvMainList->topLevelItemCount(); ++i)
        if (lvMainList->topLevelItem(i)->text(kColName) == wanted)
            return lvMainList->topLevelItem(i);
    return nullptr;
}

std::string FrmMain::RowText(const QTreeWidgetItem* item) {
    return item ? item->text(kColName).toStdString() : std::string();
}

std::string FrmMain::RowTag(const QTreeWidgetItem* item) {
    return item ? item->data(kColName, Qt::UserRole).toString().toStdString() : std::string();
}

void FrmMain::SetRunning(bool running) {
    if (running == m_running) return;
    m_running = running;
    centralWidget()->setEnabled(!running);
    menuBar()->setEnabled(!running);
    tbToolbar->setEnabled(!running);
    if (running) {
        for (QAction* action : findChildren<QAction*>()) {
            if (!action->isEnabled() || action->menu()) continue;
            action->setEnabled(false);
            m_disabledForRun.push_back(action);
        }
    } else {
        for (QAction* action : m_disabledForRun) action->setEnabled(true);
        m_disabledForRun.clear();
    }
}

void FrmMain::SizeControls() {
    // The list is the central widget: the window's layout keeps it between the toolbar and
    // the status bar, whichever of them is shown.
    if (!isMinimized()) centralWidget()->updateGeometry();
}

void FrmMain::RestoreGeometry() {
    const double dpi = logicalDpiX();
    Span across{TwipsToPixels(StoredTwips(kMainLeft, kDefaultMainLeft), dpi),
                TwipsToPixels(StoredTwips(kMainWidth, kDefaultMainWidth), dpi)};
    Span down{TwipsToPixels(StoredTwips(kMainTop, kDefaultMainTop), dpi),
              TwipsToPixels(StoredTwips(kMainHeight, kDefaultMainHeight), dpi)};
    if (const QScreen* where = screen()) {
        const QRect area = where->availableGeometry();
        across = FitSpan(across, {area.x(), area.width()});
        down = FitSpan(down, {area.y(), area.height()});
    }
    move(across.start, down.start);
    resize(across.length, down.length);
}

void FrmMain::SaveGeometry() {
    const double dpi = logicalDpiX();
    auto put = [&](std::string_view name, int pixels, int fallback) {
        // The number read at start-up (or its default) is written again while it still
        // gives this many pixels: most twips values are no whole number of pixels, and
        // converting back would shrink the window a little at every close.
        const int before = StoredTwips(name, fallback);
        const int twips =
            TwipsToPixels(before, dpi) == pixels ? before : PixelsToTwips(pixels, dpi);
        SaveRegData(kSettingsSection, name, std::to_string(twips));
    };
    put(kMainLeft, pos().x(), kDefaultMainLeft);
    put(kMainTop, pos().y(), kDefaultMainTop);
    put(kMainWidth, width(), kDefaultMainWidth);
    put(kMainHeight, height(), kDefaultMainHeight);
}

QPrinter& FrmMain::Printer() {
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        ui::ApplyPrintTarget(*m_printer);
    }
    return *m_printer;
}

void FrmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isMinimized()) return;
    const double dpi = logicalDpiX();
    const int minWidth = TwipsToPixelsAtLeast(kMinMainWidth, dpi);
    const int minHeight = TwipsToPixelsAtLeast(kMinMainHeight, dpi);
    if (width() < minWidth || height() < minHeight)
        resize(std::max(width(), minWidth), std::max(height(), minHeight));
    SizeControls();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    // While the engine runs the manager waits for it.
    if (!isEnabled() || m_running) {
        event->ignore();
        return;
    }
    // A minimized window has no size worth keeping.
    if (!isMinimized()) SaveGeometry();
    PutMapiProfile();
    event->accept();
    // The help and log windows go with the program: none keeps it running unseen.
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != this && window->isWindow() && window->isVisible()) window->close();
}

}  // namespace tallix::manager
