// The two-list controls of the template editor's "Output &Format" and "Sc&ripting" tabs:
// their layout and the moves between and within the lists.
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "manager/template_edit.h"
#include "manager/template_edit_parts.h"
#include "settings/error_reporter.h"

namespace tallix::manager {
using namespace edit_parts;
namespace {

void MoveItem(QListWidget* from, int row, QListWidget* to, bool sortTarget) {
    QListWidgetItem* item = from->takeItem(row);
    if (!item) return;
    if (sortTarget) {
        InsertSorted(to, item->text());
        delete item;
    } else {
        to->addItem(item);
    }
}

// Moves the selected entry of `from` to the end of `to` (to its sorted place when
// `sortTarget`); true when there was one.
bool MoveSelected(QListWidget* from, QListWidget* to, bool sortTarget) {
    const int row = from->currentRow();
    if (row < 0 || !from->item(row)->isSelected()) return false;
    MoveItem(from, row, to, sortTarget);
    return true;
}

// Moves every entry of `from`; true when there was one.
bool MoveAll(QListWidget* from, QListWidget* to, bool sortTarget) {
    if (from->count() == 0) return false;
    while (from->count() > 0) MoveItem(from, 0, to, sortTarget);
    return true;
}

// Swaps the selected entry of `list` with the one `step` rows away and keeps it selected;
// true when both exist.
bool MoveWithin(QListWidget* list, int step) {
    const int row = list->currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= list->count() || !list->item(row)->isSelected()) return false;
    list->insertItem(to, list->takeItem(row));
    list->setCurrentRow(to);
    return true;
}

}  // namespace

namespace edit_parts {

QListWidget* NamedList(const char* name, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    return list;
}

std::tuple<QPushButton*, QPushButton*, QPushButton*, QPushButton*, QPushButton*, QPushButton*>
MoveButtons(QWidget* page, const std::array<const char*, 6>& names) {
    return {Button(names[0], "Add  >> ", page),     Button(names[1], "<< Remove", page),
            Button(names[2], "Add All  >> ", page), Button(names[3], "Remove All", page),
            Button(names[4], "Up", page),           Button(names[5], "Down", page)};
}

QGridLayout* TwoLists(QWidget* page, const char* leftCaption, QListWidget* left,
                      const char* rightCaption, QListWidget* right,
                      std::initializer_list<QPushButton*> buttons) {
    auto* grid = new QGridLayout;
    auto* leftLabel = new QLabel(QString::fromLatin1(leftCaption), page);
    leftLabel->setBuddy(left);
    auto* rightLabel = new QLabel(QString::fromLatin1(rightCaption), page);
    rightLabel->setBuddy(right);
    grid->addWidget(leftLabel, 0, 0);
    grid->addWidget(left, 1, 0);
    auto* column = new QVBoxLayout;
    column->addStretch(1);
    for (QPushButton* b : buttons) column->addWidget(b);
    column->addStretch(1);
    grid->addLayout(column, 1, 1);
    grid->addWidget(rightLabel, 0, 2);
    grid->addWidget(right, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(1, 1);
    // The focus goes as the eye reads: the left list, the buttons, the right list.
    QWidget* previous = left;
    for (QPushButton* b : buttons) {
        QWidget::setTabOrder(previous, b);
        previous = b;
    }
    QWidget::setTabOrder(previous, right);
    return grid;
}

}  // namespace edit_parts

void FrmTemplateEdit::MoveEntries(std::string_view procedure, const std::function<bool()>& move) {
    Guard(ProcCtx(procedure), [&] {
        if (move()) SetChanged(true);
    });
}

void FrmTemplateEdit::AddOneToInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    MoveEntries("AddOneToInclude", [&] { return MoveSelected(from, to, sortTarget); });
}

void FrmTemplateEdit::RemoveOneFromInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    MoveEntries("RemoveOneFromInclude", [&] { return MoveSelected(from, to, sortTarget); });
}

void FrmTemplateEdit::AddAllToInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    MoveEntries("AddAllToInclude", [&] { return MoveAll(from, to, sortTarget); });
}

void FrmTemplateEdit::RemoveAllFromInclude(QListWidget* from, QListWidget* to, bool sortTarget) {
    MoveEntries("RemoveAllFromInclude", [&] { return MoveAll(from, to, sortTarget); });
}

void FrmTemplateEdit::MoveUpList(QListWidget* list) {
    MoveEntries("MoveUpList", [&] { return MoveWithin(list, -1); });
}

void FrmTemplateEdit::MoveDownList(QListWidget* list) {
    MoveEntries("MoveDownList", [&] { return MoveWithin(list, 1); });
}

}  // namespace tallix::manager
