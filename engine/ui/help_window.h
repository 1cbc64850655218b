#pragma once
// The command-line help window "Command Line Options".

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace tallix::engine {

class FrmHelp final : public QDialog {
    Q_OBJECT
  public:
    explicit FrmHelp(QWidget* parent = nullptr);

    QPlainTextEdit* Text1;
    QPlainTextEdit* txtInfo;
    QPushButton* cmdOK;
};

}  // namespace tallix::engine
