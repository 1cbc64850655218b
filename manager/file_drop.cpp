#include "manager/file_drop.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace tallix::manager {
namespace {

class FileDropFilter final : public QObject {
  public:
    FileDropFilter(QWidget* target, std::function<void(const QString&)> dropped)
        : QObject(target), m_dropped(std::move(dropped)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (DroppedFile(drag->mimeData()).isEmpty()) {
                    drag->ignore();
                } else {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                const QString path = DroppedFile(drop->mimeData());
                if (path.isEmpty()) {
                    drop->ignore();
                    return true;
                }
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                m_dropped(path);
                return true;
            }
            default:
                return QObject::eventFilter(watched, event);
        }
    }

  private:
    std::function<void(const QString&)> m_dropped;
};

}  // namespace

QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    return urls.front().toLocalFile();
}

void AcceptFileDrops(QWidget* target, std::function<void(const QString& path)> dropped) {
    target->setAcceptDrops(true);
    target->installEventFilter(new FileDropFilter(target, std::move(dropped)));
}

}  // namespace tallix::manager
