#include "platform/ui/placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace vellumo {
namespace {

QMargins frameOf(const QWidget* window) {
    if (const QWindow* own = window->windowHandle(); own && !own->frameMargins().isNull())
        return own->frameMargins();
    // Dialogs of one program get the same decoration from the window manager.
    QMargins borrowed;
    for (const QWindow* other : QGuiApplication::topLevelWindows()) {
        if (!other->isVisible() || (other->flags() & Qt::FramelessWindowHint))
            continue;
        const QMargins margins = other->frameMargins();
        if (margins.top() > borrowed.top())
            borrowed = margins;
    }
    return borrowed;
}

QPoint centredPosition(const QWidget* window, const QMargins& frame) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return window->pos();
    const QRect area = screen->availableGeometry();
    const QSize outer = window->size().grownBy(frame);
    return {area.x() + (area.width() - outer.width()) / 2,
            area.y() + (area.height() - outer.height()) / 2};
}

class Centring : public QObject {
public:
    explicit Centring(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show && !event->spontaneous()) {
            // A window the window manager has not framed yet is placed by its
            // client area.
            const QMargins frame = frameOf(window_);
            const QWindow* own = window_->windowHandle();
            const bool framed = own && !own->frameMargins().isNull();
            window_->move(centredPosition(window_, frame) +
                          (framed ? QPoint() : QPoint(frame.left(), frame.top())));
            // The frame is known once the window manager has put the window on
            // the screen, which its native window learns first.
            if (QWindow* native = window_->windowHandle()) {
                native->removeEventFilter(this);
                native->installEventFilter(this);
                checking_ = true;
            }
        } else if (watched == window_ && event->type() == QEvent::Hide) {
            checking_ = false;
        } else if (checking_ && watched == window_->windowHandle() &&
                   event->type() == QEvent::Expose) {
            const QMargins frame = window_->windowHandle()->frameMargins();
            if (!frame.isNull()) {
                checking_ = false;
                const QPoint centred = centredPosition(window_, frame);
                if (window_->frameGeometry().topLeft() != centred)
                    window_->move(centred);
            }
        }
        return false;
    }

private:
    QWidget* window_;
    bool checking_ = false;
};

} // namespace

void centreOnScreen(QWidget* window) {
    window->move(centredPosition(window, frameOf(window)));
}

void centreWhenShown(QWidget* window) {
    new Centring(window);
}

} // namespace vellumo
