// test_bench_preview TEMPLATE.txf [MESSAGES] [ROW] [VALUE [ROW2 VALUE2]]: the template editor's
// test bench on its own, trying the template file on a message file (or the configured source
// when MESSAGES is left out), with message ROW (from 1) selected. For the bench's screenshots
// and for trying the bench by hand.
//
// With VALUE, the first VALUE shown in the message's body is selected; with TALLIX_PREVIEW_MENU
// set the view's context menu is opened over it, otherwise a variable is made from it (the
// variable goes into the template in memory, which is tried again) and, with ROW2 and VALUE2,
// refined with VALUE2 of message ROW2. Nothing is written.

#include <QApplication>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTextCursor>
#include <QTimer>
#include <iostream>

#include "manager/template_test_bench.h"
#include "model/export_field.h"
#include "model/field_vocabulary.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/global_utils.h"
#include "settings/settings_store.h"
#include "settings/text_functions.h"
#include "ui/qt_user_interface.h"

using namespace tallix;

namespace {

// The variable's values into a template variable.
void Fill(clsExportField& field, const manager::VariableDraft& v) {
    field.SetFieldName(v.name);
    field.SetFieldType(v.field);
    field.SetFindStart(v.findStart);
    field.SetFindStop(v.findStop);
    field.SetUseQuotes(v.useQuotes);
    field.SetRemoveLF(v.removeLF);
    field.SetMatchCase(v.matchCase);
    field.SetMatchWholeString(v.matchWholeString);
    field.SetStartOfLineOnly(v.startOfLineOnly);
}

// Selects the first `value` of the body of the message shown; false when it is not there.
bool SelectInBody(manager::TemplateTestBench& bench, const QString& value) {
    for (const manager::ShownPart& part : bench.Parts()) {
        if (part.field != kFieldMsgText) continue;
        const QString shown = bench.txtBody->toPlainText();
        const int at = shown.indexOf(value, part.displayStart);
        if (at < 0) return false;
        QTextCursor c = bench.txtBody->textCursor();
        c.setPosition(at);
        c.setPosition(at + static_cast<int>(value.size()), QTextCursor::KeepAnchor);
        bench.txtBody->setTextCursor(c);
        bench.txtBody->setFocus();
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::UseScreenshotPalette(app);
    SetProgramIdentity("tallix", "Tallix");
    if (argc < 2) {
        std::cerr << "Usage: test_bench_preview TEMPLATE.txf [MESSAGES] [ROW] [VALUE [ROW2 "
                     "VALUE2]]\n";
        return 2;
    }
    GetUseSource();
    GetLocalFileName();
    GetMapiProfile();
    GetUseScripts();
    GetScriptEngine();
    GetScriptDir();
    clsTemplate tpl;
    tpl.SetFileName(argv[1]);
    tpl.ReadTemplate();

    manager::TemplateTestBench bench;
    bench.setWindowTitle("Test - " + QString::fromStdString(JustFileName(argv[1])));
    // TALLIX_PREVIEW_SIZE=WIDTHxHEIGHT: room for the gesture's menu and counts.
    const QStringList size = qEnvironmentVariable("TALLIX_PREVIEW_SIZE").split('x');
    if (size.size() == 2)
        bench.resize(size[0].toInt(), size[1].toInt());
    else
        bench.resize(900, 560);
    bench.SetTemplate(tpl);
    // What the editor does with a variable made on its Test tab, on the template in memory.
    QObject::connect(&bench, &manager::TemplateTestBench::VariableMade, &bench,
                     [&](const manager::VariableDraft& v) {
                         Fill(*tpl.colFields()->Add(), v);
                         tpl.SetVariableCount(tpl.colFields()->Count());
                         auto lines = std::make_shared<TextCollection>();
                         const std::string output = tpl.colOutPutLines()->Count() > 0
                                                        ? tpl.colOutPutLines()->Item(1)
                                                        : std::string();
                         lines->Add(output.empty() ? v.name : output + "," + v.name);
                         tpl.SetcolOutPutLines(lines);
                         tpl.SetOutputLineCount(1);
                         bench.SetTemplate(tpl);
                     });
    QObject::connect(&bench, &manager::TemplateTestBench::VariableRefined, &bench,
                     [&](const manager::VariableDraft& v) {
                         for (const auto& field : tpl.colFields()->NewEnum())
                             if (EqualsNoCase(field->FieldName(), v.name)) Fill(*field, v);
                         bench.SetTemplate(tpl);
                     });
    if (argc > 2)
        bench.SetMessageFile(QString::fromLocal8Bit(argv[2]));
    else
        bench.UseConfiguredSource();
    const int row = argc > 3 ? std::atoi(argv[3]) - 1 : 0;
    const QString value = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    const int row2 = argc > 6 ? std::atoi(argv[5]) - 1 : -1;
    const QString value2 = argc > 6 ? QString::fromLocal8Bit(argv[6]) : QString();
    const bool menu = qEnvironmentVariableIsSet("TALLIX_PREVIEW_MENU");
    int trials = 0;
    QObject::connect(&bench, &manager::TemplateTestBench::TrialFinished, &bench, [&] {
        ++trials;
        const int shown = trials == 3 && row2 >= 0 ? row2 : row;
        if (shown >= 0 && shown < bench.tblMessages->rowCount())
            bench.tblMessages->selectRow(shown);
        if (value.isEmpty()) return;
        if (trials == 1 && SelectInBody(bench, value)) {
            if (!menu) {
                bench.MakeVariableFromSelection();
                return;
            }
            // The menu a right click over the selection opens.
            QTimer::singleShot(300, &bench, [&bench] {
                const QRect at = bench.txtBody->cursorRect();
                Q_EMIT bench.txtBody->customContextMenuRequested(at.bottomRight());
            });
        } else if (trials == 2 && row2 >= 0 && row2 < bench.tblMessages->rowCount()) {
            bench.tblMessages->selectRow(row2);
            if (SelectInBody(bench, value2)) bench.RefineWithSelection();
        }
    });
    bench.show();
    return app.exec();
}
