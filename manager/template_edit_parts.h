#pragma once
// What the files of the template editor share: context texts, text conversions, the
// sorted-list insertion and the fill marker. Only the editor's own files include it.

#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "manager/template_draft.h"

class QGridLayout;

namespace tallix::manager::edit_parts {

inline std::string ProcCtx(std::string_view name) {
    return "modClientProcs - " + std::string(name);
}
inline std::string FormCtx(std::string_view name) {
    return "frmTemplateEdit " + std::string(name);
}

inline QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

inline QListWidgetItem* InsertSorted(QListWidget* list, const QString& text) {
    int at = 0;
    while (at < list->count() && !SortsBefore(S(text), S(list->item(at)->text()))) ++at;
    auto* item = new QListWidgetItem(text);
    list->insertItem(at, item);
    return item;
}

inline std::vector<std::string> Entries(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(S(list->item(i)->text()));
    return out;
}

template <class T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

inline QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

// Marks the controls as filled by code for as long as it lives.
struct FillScope {
    explicit FillScope(int& n) : count(n) { ++count; }
    ~FillScope() { --count; }
    FillScope(const FillScope&) = delete;
    FillScope& operator=(const FillScope&) = delete;
    int& count;
};

// A list box named `name`.
QListWidget* NamedList(const char* name, QWidget* parent);
// The move buttons of a two-list tab, named as given, in the order add one, remove one,
// add all, remove all, up, down; both tabs give them the same captions.
std::tuple<QPushButton*, QPushButton*, QPushButton*, QPushButton*, QPushButton*, QPushButton*>
MoveButtons(QWidget* page, const std::array<const char*, 6>& names);
// Two lists side by side with the move buttons between them, as the Output Format and
// Scripting tabs show them (template_edit_lists.cpp).
QGridLayout* TwoLists(QWidget* page, const char* leftCaption, QListWidget* left,
                      const char* rightCaption, QListWidget* right,
                      std::initializer_list<QPushButton*> buttons);

}  // namespace tallix::manager::edit_parts
