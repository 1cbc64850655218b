#pragma once
// Files dropped from a file manager: a control that takes a file's path (a mailbox file, a
// message to load) also takes the file dragged onto it. A drag is accepted only when it
// carries exactly one local file; its path is handed to the control's action, and nothing
// else of the drag (its text, its address) reaches the control.

#include <QObject>
#include <QString>
#include <functional>

class QMimeData;
class QWidget;

namespace tallix::manager {

// The one local file a drag carries, or "" when it carries none or several.
QString DroppedFile(const QMimeData* data);

// Makes `target` accept dropped files, calling `dropped` with the path of each one dropped.
// For a text box give its viewport, where the drops arrive.
void AcceptFileDrops(QWidget* target, std::function<void(const QString& path)> dropped);

}  // namespace tallix::manager
