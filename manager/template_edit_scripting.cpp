// The template editor's "Sc&ripting" tab: the script procedures of the script directory and
// the template's run list.
#include <QGridLayout>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/templates/script_files.h"
#include "manager/template_edit.h"
#include "manager/template_edit_parts.h"
#include "settings/error_reporter.h"
#include "settings/settings_store.h"

namespace tallix::manager {
using namespace edit_parts;
namespace {

constexpr std::string_view kScriptTemplateObject = "Template";

}  // namespace

void FrmTemplateEdit::BuildScriptingTab() {
    auto* page = Named(new QWidget, "tabScripting");
    auto* layout = new QVBoxLayout(page);
    lstScripts = NamedList("lstScripts", page);
    lstUseScripts = NamedList("lstUseScripts", page);
    std::tie(cmdScriptAddOne, cmdScriptRemoveOne, cmdScriptAddAll, cmdScriptRemoveAll, cmdScriptUp,
             cmdScriptDown) =
        MoveButtons(page, {"cmdScriptAddOne", "cmdScriptRemoveOne", "cmdScriptAddAll",
                           "cmdScriptRemoveAll", "cmdScriptUp", "cmdScriptDown"});
    layout->addLayout(
        TwoLists(page, "Avai&lable Scripts:", lstScripts, "&Script Run List:", lstUseScripts,
                 {cmdScriptAddOne, cmdScriptRemoveOne, cmdScriptAddAll, cmdScriptRemoveAll,
                  cmdScriptUp, cmdScriptDown}),
        1);
    tabMain->addTab(page, "Sc&ripting");
}

void FrmTemplateEdit::WireScriptingTab() {
    // A script going back to the available list takes its sorted place there.
    auto scripts = [this](QPushButton* button, const char* handler, auto procedure) {
        connect(button, &QPushButton::clicked, this,
                [handler, procedure] { Guard(FormCtx(handler), procedure); });
    };
    scripts(cmdScriptAddOne, "cmdScriptAddOne_Click",
            [this] { AddOneToInclude(lstScripts, lstUseScripts); });
    scripts(cmdScriptRemoveOne, "cmdScriptRemoveOne_Click",
            [this] { RemoveOneFromInclude(lstUseScripts, lstScripts, true); });
    scripts(cmdScriptAddAll, "cmdScriptAddAll_Click",
            [this] { AddAllToInclude(lstScripts, lstUseScripts); });
    scripts(cmdScriptRemoveAll, "cmdScriptRemoveAll_Click",
            [this] { RemoveAllFromInclude(lstUseScripts, lstScripts, true); });
    scripts(cmdScriptUp, "cmdScriptUp_Click", [this] { MoveUpList(lstUseScripts); });
    scripts(cmdScriptDown, "cmdScriptDown_Click", [this] { MoveDownList(lstUseScripts); });
}

void FrmTemplateEdit::SetScripting() {
    Guard(ProcCtx("SetScripting"), [this] {
        lstScripts->clear();
        if (!Settings().useScripts) {
            tabMain->setTabEnabled(kEditorTabScripting, false);
            return;
        }
        tabMain->setTabEnabled(kEditorTabScripting, true);
        std::unique_ptr<engine::clsScripting> runner =
            engine::clsScripting::Create(Settings().scriptEngine);
        if (!runner) return;
        runner->SetDirectory(Settings().scriptDir);
        // The list takes only the files of the script extension setting (every file when it
        // is empty); the engine's run loads every file whatever the setting.
        runner->SetExtension(Settings().scriptExt);
        runner->sc()->AddObject(kScriptTemplateObject, m_tpl);
        for (const std::string& name : runner->ListProcedures()) InsertSorted(lstScripts, Q(name));
    });
}

void FrmTemplateEdit::SetScriptsUsed(const std::vector<std::string>& scripts) {
    Guard(ProcCtx("SetScriptsUsed"), [&] {
        lstUseScripts->clear();
        for (const std::string& name : scripts) {
            lstUseScripts->addItem(Q(name));
            for (int i = 0; i < lstScripts->count(); ++i) {
                if (S(lstScripts->item(i)->text()) == name) {
                    delete lstScripts->takeItem(i);
                    break;
                }
            }
        }
    });
}

}  // namespace tallix::manager
