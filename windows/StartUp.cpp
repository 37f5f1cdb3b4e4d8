#include "windows/StartUp.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

// Lives as the widget's child, so that it goes with it.
class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QWidget* widget, std::function<void()> work, int latestMs)
        : QObject(widget), work_(std::move(work)) {
        widget->installEventFilter(this);
        QTimer::singleShot(latestMs, this, &FirstPaintWatch::Run);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        // The paint itself must end first: the work is queued behind it, and
        // behind whatever else the same pass of the event loop paints.
        if (event->type() == QEvent::Paint && !queued_) {
            queued_ = true;
            QTimer::singleShot(0, this, &FirstPaintWatch::Run);
        }
        return false;
    }

private:
    void Run() {
        if (!work_)
            return;
        parent()->removeEventFilter(this);
        const std::function<void()> work = std::move(work_);
        work_ = nullptr;
        deleteLater();
        work();
    }

    std::function<void()> work_;
    bool queued_ = false;
};

} // namespace

void AfterFirstPaint(QWidget* widget, std::function<void()> work, int latestMs) {
    new FirstPaintWatch(widget, std::move(work), latestMs);
}
