// test_bench_preview TEMPLATE.txf [MESSAGES] [ROW]: the template editor's test bench on its
// own, trying the template file on a message file (or the configured source when MESSAGES is
// left out), with message ROW (from 1) selected. For the bench's screenshot and for trying
// the bench by hand.

#include <QApplication>
#include <QTableWidget>
#include <iostream>

#include "manager/template_test_bench.h"
#include "model/template.h"
#include "settings/app_info.h"
#include "settings/global_utils.h"
#include "settings/settings_store.h"
#include "ui/qt_user_interface.h"

using namespace tallix;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::UseScreenshotPalette(app);
    SetProgramIdentity("tallix", "Tallix");
    if (argc < 2) {
        std::cerr << "Usage: test_bench_preview TEMPLATE.txf [MESSAGES] [ROW]\n";
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
    bench.resize(900, 560);
    bench.SetTemplate(tpl);
    if (argc > 2)
        bench.SetMessageFile(QString::fromLocal8Bit(argv[2]));
    else
        bench.UseConfiguredSource();
    const int row = argc > 3 ? std::atoi(argv[3]) - 1 : 0;
    QObject::connect(&bench, &manager::TemplateTestBench::TrialFinished, &bench, [&bench, row] {
        if (row >= 0 && row < bench.tblMessages->rowCount()) bench.tblMessages->selectRow(row);
    });
    bench.show();
    return app.exec();
}
