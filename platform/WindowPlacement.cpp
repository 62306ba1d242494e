#include "WindowPlacement.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <optional>

namespace {

// How long after it was placed a window is placed again when its frame (or
// its size, as a message box sets it while it is being shown) changes; a
// window manager adds the frame within milliseconds, a loaded one later.
constexpr int SettleMs = 5000;
// Until the frame is known, how often to look whether it has come.
constexpr int FramePollMs = 25;

const char* const CentringName = "dsg-window-centring";

class WindowCentring final : public QObject {
public:
    static WindowCentring* of(QWidget* window)
    {
        for (QObject* child : window->children())
            if (child->objectName() == QLatin1String(CentringName))
                if (auto* c = dynamic_cast<WindowCentring*>(child))
                    return c;
        return new WindowCentring(window);
    }

    void setOnShow(Centring when, QWidget* owner)
    {
        onShow_ = when;
        owner_ = owner ? owner->window() : nullptr;
    }

    // Centres the window over `over` (while that is visible) or the screen.
    void centre(QWidget* over)
    {
        over_ = over;
        place(outer().value_or(placedOuter_.isValid() ? placedOuter_ : window_->size()));
        settling_ = true;
        since_.start();
        if (!frameKnown())
            poll_.start();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            if (!event->spontaneous() && onShow_
                && (*onShow_ == Centring::EveryShow || !shownBefore_)) {
                shownBefore_ = true;
                centre(owner_);
            }
            break;
        case QEvent::Hide:
            if (!event->spontaneous())
                stopSettling();
            break;
        case QEvent::Move:
            // Moved by the user, who can drag only a framed window: it stays
            // where it was put.
            if (settling_ && event->spontaneous() && frameKnown() && outer() == placedOuter_
                && window_->pos() != placedAt_)
                stopSettling();
            else
                settle();
            break;
        case QEvent::Resize:
        case QEvent::WindowActivate:
            settle();
            break;
        default:
            break;
        }
        return false;
    }

private:
    explicit WindowCentring(QWidget* window) : QObject(window), window_(window)
    {
        setObjectName(QLatin1String(CentringName));
        window->installEventFilter(this);
        poll_.setInterval(FramePollMs);
        QObject::connect(&poll_, &QTimer::timeout, this, [this] { settle(); });
    }

    // The window's size with its frame as far as that is known: the bare
    // size before the window system has framed it. Nothing while Qt reports
    // a frame that does not hold the window, as it does for a moment while a
    // window manager builds one.
    std::optional<QSize> outer() const
    {
        // On X11 Qt reads the frame from the window system once and keeps
        // it until the window is configured again; read before the window
        // manager has finished the frame (it has by the time the window
        // appears), it would stay wrong.
        const QWindow* handle = window_->windowHandle();
        if (readFrameLate_ && handle && !handle->isExposed() && window_->isVisible())
            return std::nullopt;
        const QRect frame = window_->frameGeometry();
        if (!frame.contains(window_->geometry()))
            return std::nullopt;
        return frame.size();
    }
    bool frameKnown() const
    {
        const std::optional<QSize> size = outer();
        return size && *size != window_->size();
    }

    void settle()
    {
        if (!settling_)
            return;
        if (since_.hasExpired(SettleMs)) {
            stopSettling();
            return;
        }
        const std::optional<QSize> size = outer();
        if (size && *size != placedOuter_)
            place(*size);
        if (frameKnown())
            poll_.stop();
    }

    void stopSettling()
    {
        settling_ = false;
        poll_.stop();
    }

    void place(QSize outer)
    {
        const bool overOwner = over_ && over_->isVisible() && !over_->isMinimized();
        QScreen* screen = overOwner ? over_->screen() : window_->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect area = screen->availableGeometry();
        placedOuter_ = outer;
        placedAt_ = centredPosition(overOwner ? over_->frameGeometry() : area, outer, area);
        window_->move(placedAt_);
    }

    QWidget* window_;
    const bool readFrameLate_ = QGuiApplication::platformName() == QLatin1String("xcb");
    QPointer<QWidget> owner_;
    QPointer<QWidget> over_;
    std::optional<Centring> onShow_;
    bool shownBefore_ = false;
    bool settling_ = false;
    QElapsedTimer since_;
    QTimer poll_;
    QSize placedOuter_;
    QPoint placedAt_;
};

} // namespace

QPoint centredPosition(const QRect& over, const QSize& outer, const QRect& area)
{
    int x = over.x() + (over.width() - outer.width()) / 2;
    int y = over.y() + (over.height() - outer.height()) / 2;
    x = qMax(area.left(), qMin(x, area.x() + area.width() - outer.width()));
    y = qMax(area.top(), qMin(y, area.y() + area.height() - outer.height()));
    return {x, y};
}

void CentreWindowOnScreen(QWidget* window)
{
    WindowCentring::of(window)->centre(nullptr);
}

void CentreWhenShown(QWidget* window, Centring when, QWidget* owner)
{
    WindowCentring::of(window)->setOnShow(when, owner);
}
