#include "engine/ui/help_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "engine/help_text.h"
#include "settings/text_functions.h"

namespace tallix::engine {
namespace {

QPlainTextEdit* ReadOnlyColumn(QWidget* parent, const std::vector<std::string>& lines,
                               const char* name) {
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The text box shows CR LF lines; Qt's editor keeps one "\n" per line break.
    box->setPlainText(QString::fromStdString(Join(lines, "\n")));
    return box;
}

}  // namespace

FrmHelp::FrmHelp(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kHelpCaption));
    setModal(true);
    Text1 = ReadOnlyColumn(this, HelpSwitchLines(), "Text1");
    txtInfo = ReadOnlyColumn(this, HelpDescriptionLines(), "txtInfo");
    Text1->setFixedWidth(140);
    auto* image = new QLabel(this);
    image->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    cmdOK = new QPushButton(QString::fromUtf8(kHelpCloseCaption), this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* columns = new QHBoxLayout;
    columns->addWidget(image, 0, Qt::AlignTop);
    columns->addWidget(Text1);
    columns->addWidget(txtInfo, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(cmdOK, 0, Qt::AlignRight);
    resize(500, 300);
}

}  // namespace tallix::engine
