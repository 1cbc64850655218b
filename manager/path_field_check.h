#pragma once
// Paths checked as they are typed: a field that names a folder or a file gets a warning line
// beside it while the path cannot serve (it does not exist, it is the wrong type, it cannot be
// written or read), with the system's reason, and a "Create Folder" button while the folder it
// needs is missing. The warning is the field's accessible description, so a screen reader
// says it with the field.

#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class QLayout;

namespace tallix::manager {

// What a field's path is for.
enum class PathUse {
    Folder,       // a folder the program reads and writes (templates, scripts, a Maildir)
    FileToWrite,  // a file lines are appended to (created when missing): an output file
    FileToRead,   // a file that must be there to be read: a mailbox file
};

// What is wrong with a path, for the warning beside its field.
struct PathProblem {
    std::string warning;        // empty when the path serves
    std::string missingFolder;  // a folder whose making would mend it
};

// The check itself, on the path as typed (trimmed; an empty path and "printer" for an
// output file give no warning: the dialogs say what they need of those themselves).
PathProblem CheckPathForUse(const std::string& typed, PathUse use);

// Makes `folder` and the folders above it; "" when done, else the folder and the reason.
std::string MakeFolder(const std::string& folder);

// A second line some fields give beside the path's own warning (the options dialog's mailbox
// file says what kind of file it looks like), with a button that acts on it when `action` is
// set.
struct PathNote {
    std::string text;
    QString actionCaption;
    std::function<void()> action;
};

// The warning line and buttons of one field. The check runs on every edit of the field.
class PathFieldCheck final : public QObject {
    Q_OBJECT
  public:
    // `createCaption` is the button's caption, with the mnemonic the dialog has free.
    PathFieldCheck(QLineEdit* field, PathUse use, QWidget* parent,
                   const QString& createCaption = QStringLiteral("Create Folder"));

    // The warning line with its buttons, to be laid out under the field.
    QLayout* Layout() const { return m_layout; }
    // Another line from the path, asked for after every check (see PathNote); its button is
    // made with it.
    void SetNote(std::function<PathNote(const std::string& path)> note);

    // Checks the field's path now; true when it serves (no warning).
    bool Recheck();
    QString Warning() const;
    QLabel* WarningLabel() const { return m_label; }
    QPushButton* CreateButton() const { return m_create; }
    QPushButton* ActionButton() const { return m_action; }

  private:
    void CreateFolder();

    QLineEdit* m_field;
    PathUse m_use;
    QLayout* m_layout;
    QLabel* m_label;
    QPushButton* m_create;
    QPushButton* m_action;
    std::string m_missingFolder;
    std::function<PathNote(const std::string&)> m_note;
    std::function<void()> m_noteAction;
};

}  // namespace tallix::manager
