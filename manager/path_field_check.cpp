#include "manager/path_field_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/templates/output_target.h"
#include "settings/text_functions.h"

namespace tallix::manager {
namespace {

std::string Reason(int err) {
    return std::strerror(err);
}

// The folder a file of `path` is made in ("." for a bare name).
std::string FolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

PathProblem CheckFolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {"The folder does not exist.", path};
        return {"The folder cannot be used: " + Reason(errno) + ".", {}};
    }
    if (!S_ISDIR(st.st_mode)) return {"This is a file, not a folder.", {}};
    if (::access(path.c_str(), R_OK | W_OK | X_OK) != 0)
        return {"The folder cannot be written: " + Reason(errno) + ".", {}};
    return {};
}

PathProblem CheckFileToWrite(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return {"This is a folder, not a file.", {}};
        if (::access(path.c_str(), W_OK) != 0)
            return {"The file cannot be written: " + Reason(errno) + ".", {}};
        return {};
    }
    if (errno != ENOENT) return {"The file cannot be used: " + Reason(errno) + ".", {}};
    const std::string folder = FolderOf(path);
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT) return {"The folder " + folder + " does not exist.", folder};
        return {"The folder " + folder + " cannot be used: " + Reason(errno) + ".", {}};
    }
    if (!S_ISDIR(st.st_mode)) return {folder + " is a file, not a folder.", {}};
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return {"The folder " + folder + " cannot be written: " + Reason(errno) + ".", {}};
    return {};
}

PathProblem CheckFileToRead(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {"The file does not exist.", {}};
        return {"The file cannot be used: " + Reason(errno) + ".", {}};
    }
    if (S_ISDIR(st.st_mode)) return {"This is a folder, not a file.", {}};
    if (::access(path.c_str(), R_OK) != 0)
        return {"The file cannot be read: " + Reason(errno) + ".", {}};
    return {};
}

}  // namespace

PathProblem CheckPathForUse(const std::string& typed, PathUse use) {
    const std::string path = Trim(typed);
    if (path.empty()) return {};
    switch (use) {
        case PathUse::Folder:
            return CheckFolder(path);
        case PathUse::FileToWrite:
            if (path == engine::kPrinterOutput) return {};
            return CheckFileToWrite(path);
        case PathUse::FileToRead:
            return CheckFileToRead(path);
    }
    return {};
}

std::string MakeFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return folder + ": " + ec.message();
    return {};
}

PathFieldCheck::PathFieldCheck(QLineEdit* field, PathUse use, QWidget* parent,
                               const QString& createCaption)
    : QObject(parent), m_field(field), m_use(use), m_action(nullptr) {
    auto* row = new QHBoxLayout;
    m_label = new QLabel(parent);
    m_label->setObjectName(field->objectName() + "Warning");
    m_label->setWordWrap(true);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setAccessibleName(tr("Warning about %1")
                                   .arg(field->accessibleName().isEmpty()
                                            ? field->objectName()
                                            : field->accessibleName()));
    m_create = new QPushButton(createCaption, parent);
    m_create->setObjectName(field->objectName() + "CreateFolder");
    row->addWidget(m_label, 1);
    row->addWidget(m_create);
    m_layout = row;
    connect(field, &QLineEdit::textChanged, this, [this] { Recheck(); });
    connect(m_create, &QPushButton::clicked, this, [this] { CreateFolder(); });
    Recheck();
}

void PathFieldCheck::SetNote(std::function<PathNote(const std::string&)> note) {
    m_note = std::move(note);
    if (!m_action) {
        m_action = new QPushButton(m_label->parentWidget());
        m_action->setObjectName(m_field->objectName() + "Switch");
        m_layout->addWidget(m_action);
        connect(m_action, &QPushButton::clicked, this, [this] {
            // The action edits the field, which checks it again and replaces the action: a
            // copy runs.
            if (const std::function<void()> action = m_noteAction) action();
            Recheck();
        });
    }
    Recheck();
}

bool PathFieldCheck::Recheck() {
    const std::string path = m_field->text().toStdString();
    const PathProblem problem = CheckPathForUse(path, m_use);
    m_missingFolder = problem.missingFolder;
    std::string text = problem.warning;
    m_noteAction = nullptr;
    QString actionCaption;
    if (m_note && !Trim(path).empty()) {
        PathNote note = m_note(Trim(path));
        if (!note.text.empty()) text += (text.empty() ? "" : "\n") + note.text;
        m_noteAction = std::move(note.action);
        actionCaption = note.actionCaption;
    }
    const QString shown = QString::fromStdString(text);
    m_label->setText(shown);
    m_label->setVisible(!shown.isEmpty());
    m_field->setAccessibleDescription(shown);
    m_create->setVisible(!m_missingFolder.empty());
    m_create->setAccessibleDescription(QString::fromStdString(m_missingFolder));
    if (m_action) {
        m_action->setText(actionCaption);
        m_action->setVisible(m_noteAction != nullptr && !actionCaption.isEmpty());
    }
    return problem.warning.empty();
}

QString PathFieldCheck::Warning() const {
    return m_label->text();
}

void PathFieldCheck::CreateFolder() {
    if (m_missingFolder.empty()) return;
    const std::string failed = MakeFolder(m_missingFolder);
    Recheck();
    if (!failed.empty()) {
        const QString shown = QString::fromStdString("The folder could not be made: " + failed);
        m_label->setText(shown);
        m_label->setVisible(true);
        m_field->setAccessibleDescription(shown);
    }
}

}  // namespace tallix::manager
