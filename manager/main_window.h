#pragma once
// The main window "Tallix": the template list, its menus, toolbar, pop-up menu and status
// bar, and the window geometry kept in twips in the settings.

#include <QMainWindow>
#include <QString>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QTimer;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace tallix::manager {
class RunPanel;

// List columns.
inline constexpr int kColName = 0;
inline constexpr int kColActive = 1;
inline constexpr int kColLastRun = 2;
// When the template last wrote a line, from the record of processed messages.
inline constexpr int kColLastMatch = 3;

// Geometry defaults and the smallest size a resize leaves, in twips.
inline constexpr int kDefaultMainLeft = 1000;
inline constexpr int kDefaultMainTop = 1000;
inline constexpr int kDefaultMainWidth = 6500;
inline constexpr int kDefaultMainHeight = 6500;
inline constexpr int kMinMainWidth = 4935;
inline constexpr int kMinMainHeight = 4100;

class FrmMain final : public QMainWindow {
    Q_OBJECT
  public:
    explicit FrmMain(QWidget* parent = nullptr);
    ~FrmMain() override;

    QTreeWidget* lvMainList;
    QToolBar* tbToolbar;
    QLabel* sbDate;
    QLabel* sbTime;
    QMenu* mnuPopup;
    // The engine's progress while it runs and what each template wrote after.
    RunPanel* dockRun;

    QAction* mnuFileNew;
    QAction* mnuFileWizard;
    QAction* mnuFilePageSetup;
    QAction* mnuFilePrint;
    QAction* mnuFileExit;
    QAction* mnuEditModify;
    QAction* mnuEditCopy;
    QAction* mnuEditDelete;
    QAction* mnuEditToggleActive;
    QAction* mnuViewToolbar;
    QAction* mnuViewStatusBar;
    QAction* mnuViewSysLog;
    QAction* mnuViewErrLog;
    QAction* mnuViewRefresh;
    QAction* mnuViewOptions;
    QAction* mnuParseCurrent;
    QAction* mnuParseAll;
    QAction* mnuHelpContents;
    QAction* mnuHelpSearchForHelpOn;
    QAction* mnuHelpGetStarted;
    QAction* mnuHelpExamples;
    QAction* mnuHelpSupport;
    QAction* mnuHelpWebSite;
    QAction* mnuHelpOrdering;
    QAction* mnuHelpAbout;
    // Toolbar buttons, keyed as the toolbar names them.
    QAction* tbNew;
    QAction* tbWizard;
    QAction* tbPrint;
    QAction* tbProperties;
    QAction* tbCopy;
    QAction* tbDelete;
    QAction* tbToggleActive;
    QAction* tbParse;
    QAction* tbParseAll;
    QAction* tbOptions;
    QAction* tbHelp;

    // The selected row, or nullptr.
    QTreeWidgetItem* SelectedItem() const;
    // Removes every row; adds one row (name, "True"/"False", last run, tag = full path).
    void ClearList();
    QTreeWidgetItem* AddRow(const std::string& name, bool active, const std::string& lastRan,
                            const std::string& path);
    // Shows when the row's template last matched; `warning`, when set, marks the row with a
    // warning icon and says why in its tool tip (also what a screen reader says of the row).
    static void SetLastMatch(QTreeWidgetItem* item, const QString& text, const QString& tip,
                             const QString& warning);
    // The first row whose text is `name` exactly, or nullptr.
    QTreeWidgetItem* FindRow(const std::string& name) const;
    static std::string RowText(const QTreeWidgetItem* item);
    static std::string RowTag(const QTreeWidgetItem* item);

    // Lays the list out after the toolbar or status bar was shown or hidden.
    void SizeControls();
    // Geometry in twips, as stored.
    void RestoreGeometry();
    void SaveGeometry();

    // While the engine runs, the list, the menus and the toolbar are disabled (every command,
    // shortcuts too) and the window does not close; the run panel stays usable.
    void SetRunning(bool running);
    bool Running() const { return m_running; }
    // The printer that "Page Setup" configures and "Print" uses.
    QPrinter& Printer();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The menu commands, one menu at a time, then the toolbar's own actions.
    void BuildActions();
    QAction* MakeAction(const char* objectName, const QString& caption);
    void BuildFileActions();
    void BuildEditActions();
    void BuildViewActions();
    void BuildParseActions();
    void BuildHelpActions();
    void BuildToolbarActions();
    void BuildMenus();
    void BuildToolbar();
    void BuildStatusBar();
    void UpdateClock();
    void ShowNotBuilt(const QString& what);
    void EditSelected();

    QTimer* m_clock;
    bool m_running = false;
    std::vector<QAction*> m_disabledForRun;
    std::unique_ptr<QPrinter> m_printer;
};

}  // namespace tallix::manager
