#pragma once
// The manager's smaller windows: the splash, the about window and its system information,
// the read-only log viewer, the help viewer and the page setup.

#include <QDialog>
#include <QString>
#include <QWidget>
#include <string>

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;
class QTextBrowser;
class QTimer;
class QTreeWidget;

namespace tallix::manager {

class FrmMain;

// "Version " + major + "." + minor and revision written together (1, 8, 2 gives "Version 1.82").
QString VersionText(int major, int minor, int revision);
QString ProgramVersionText();

class FrmSplash final : public QWidget {
    Q_OBJECT
  public:
    explicit FrmSplash(QWidget* parent = nullptr);
    QLabel* lblVersion;
    QLabel* lblProductName;
    QLabel* lblCompany;
    QTimer* tmrSplash;
};

class FrmAbout final : public QDialog {
    Q_OBJECT
  public:
    explicit FrmAbout(QWidget* parent = nullptr);
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblCompany;
};
void ShowAbout(QWidget* parent);
// The versions of the program, Qt and the system, one per line.
QString SystemInfoText();

// A read-only view of one log: monospace, scrolled to the end, read again when it grows.
class FrmLogViewer final : public QWidget {
    Q_OBJECT
  public:
    FrmLogViewer(const QString& path, const QString& title, QWidget* parent = nullptr);
    QPlainTextEdit* txtLog;
    void Reload();
    // Prints the log as shown, on the default printer.
    void Print();
    const QString& Path() const { return m_path; }

  private:
    QString m_path;
    QFileSystemWatcher* m_watcher;
};
// Opens (or raises) the viewer of `path`.
FrmLogViewer* ShowLogViewer(const QString& path, const QString& title);

// The help set: a contents page, a keyword index built from the pages' keywords, and one
// page per help context.
class FrmHelp final : public QWidget {
    Q_OBJECT
  public:
    explicit FrmHelp(QWidget* parent = nullptr);
    QTabWidget* tabs;
    QTreeWidget* tvContents;
    QLineEdit* txtKeyword;
    QListWidget* lstKeywords;
    QTextBrowser* browser;
    void ShowPage(const QString& fileName);
    void ShowIndex(const QString& key);

  private:
    void LoadContents();
    void LoadIndex();
    QString m_dir;
};
// The help set's directory.
QString HelpDirectory();
// The page of a help context, or "" for an unknown context.
QString HelpPageForContext(int context);
FrmHelp* HelpWindow();
void ShowHelpContents();
void ShowHelpIndex(const QString& key);

// Escape and the system's close key (Ctrl+W) close `window`, as they do a document window.
void CloseWithKeys(QWidget* window);

void ShowPageSetup(FrmMain& main);
void OpenWebSite();

}  // namespace tallix::manager
