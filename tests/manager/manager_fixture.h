#pragma once
// The template manager as the Qt tests drive it: its main window over a private program
// directory, settings file and template directory, with message boxes answered by a script.
// Each test file's fixture derives from it and adds the runners of the windows it drives.

#include <QApplication>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QStringList>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "manager/client_procs.h"
#include "manager/main_window.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_env.h"

namespace tallix::testing {

struct ManagerFixture {
    IsolatedEnvironment env;
    ScriptedUi ui;
    std::unique_ptr<manager::FrmMain> form;

    ManagerFixture() {
        SetProgramIdentity("tallix", "Tallix");
        ResetSettings();
        manager::ResetManagerState();
        Settings().templateDir = TemplateDir();
        std::filesystem::create_directories(TemplateDir());
        form = std::make_unique<manager::FrmMain>();
        manager::SetMainForm(form.get());
    }
    ~ManagerFixture() { form.reset(); }
    ManagerFixture(const ManagerFixture&) = delete;
    ManagerFixture& operator=(const ManagerFixture&) = delete;

    std::string TemplateDir() const { return env.ProgramDir() + "/templates"; }
    std::string TemplatePath(const std::string& name) const {
        return TemplateDir() + "/" + name + ".txf";
    }
    QStringList Rows() const {
        QStringList rows;
        for (int i = 0; i < form->lvMainList->topLevelItemCount(); ++i)
            rows << form->lvMainList->topLevelItem(i)->text(manager::kColName);
        return rows;
    }
    void Select(const std::string& name) {
        QTreeWidgetItem* item = form->FindRow(name);
        QVERIFY2(item, name.c_str());
        form->lvMainList->clearSelection();
        form->lvMainList->setCurrentItem(item);
        item->setSelected(true);
    }
    std::string LastBoxText() const { return ui.boxes.empty() ? "" : ui.boxes.back().text; }

    // The engine built in `binDir` as the program directory's own.
    void LinkEngine(const std::string& binDir, const std::string& program = "txengine") const {
        std::filesystem::create_symlink(std::filesystem::path(binDir) / program,
                                        std::filesystem::path(env.ProgramDir()) / program);
    }
    // The stored settings of an engine run over the mailbox file inbox.mbox in the program
    // directory, which holds `messages`; returns the mailbox's path.
    std::string PrepareMailboxRun(const std::string& messages) const {
        const std::string mailbox = env.ProgramDir() + "/inbox.mbox";
        WriteFileBytes(mailbox, messages);
        SaveRegData(kSettingsSection, "TemplateDir", TemplateDir());
        SaveRegData(kSettingsSection, "UseSource", "NETSCAPE");
        SaveRegData(kSettingsSection, "LocalFileName", mailbox);
        SaveRegData(kSettingsSection, "DeleteFlag", "0");
        return mailbox;
    }
};

// The template stored at `path`, read as the manager reads it.
inline std::shared_ptr<clsTemplate> ReadBack(const std::string& path) {
    auto t = std::make_shared<clsTemplate>();
    t->SetFileName(path);
    t->ReadTemplate();
    return t;
}

// The entries of a list box, in order.
inline QStringList Texts(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

// Drags `urls` (files as a file manager gives them) onto `target` and drops them there; true
// when the window took the drop. The events go up to the first enabled parent that takes
// drops, as a real drag's do.
inline bool DropUrls(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}
inline bool DropFile(QWidget* target, const std::string& path) {
    return DropUrls(target, {QUrl::fromLocalFile(QString::fromStdString(path))});
}

// Names as a QStringList, for QCOMPARE's messages.
inline QStringList Names(const std::vector<std::string>& names) {
    QStringList out;
    for (const std::string& n : names) out << QString::fromStdString(n);
    return out;
}

}  // namespace tallix::testing
