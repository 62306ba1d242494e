#include "WindowPlacement.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <optional>

namespace {

// How long after it was placed a window is placed again when its frame (or
// its size, as a message box sets it while it is being shown) changes. A
// window manager frames a window within milliseconds, a starved one within
// a second or so; a frame later than this is not waited for.
constexpr int SettleMs = 10000;
// How often to look whether the frame has come or changed: the window
// system tells the window, but not always with an event that reaches it.
constexpr int FramePollMs = 25;
// A window that has stood framed where it was put this long is placed: from
// then on a move is the user's.
constexpr int FrameStableMs = 500;
// How often a window that the window manager put elsewhere is put back.
constexpr int MaxCorrections = 10;

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

    // Centres the window over `over` (while that is visible) or the screen
    // with the frame it has now, and again whenever the window manager
    // reports another frame or puts the window elsewhere, until it stands
    // framed where it belongs.
    void centre(QWidget* over)
    {
        over_ = over;
        corrections_ = 0;
        settling_ = true;
        placed_ = false;
        since_.start();
        place();
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
            // Moved by the program, or by the user (who can drag it only
            // once it stands framed): it stays there. Until then a move
            // from the window system is the window manager's.
            if (settling_ && !placing_ && (placed_ || !event->spontaneous())
                && framePosition() != placedAt_)
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

    // The frame as the window system reports it, read from the native
    // window each time (on X11 from the window manager's _NET_FRAME_EXTENTS,
    // read again whenever that changes). QWidget keeps a copy of its own,
    // taken at the last move or resize, and a window manager that frames
    // the window after that leaves the copy at no frame for good. None while
    // the window has no native window or the reported frame does not hold
    // it (as for a moment while a window manager builds the frame).
    QMargins margins() const
    {
        const QWindow* handle = window_->windowHandle();
        if (!handle)
            return {};
        QMargins m = handle->frameMargins();
        // Wine frames a fixed-size dialog with a caption and sides reported
        // one pixel inside the client area: a frame without sides.
        if (m.top() > 0) {
            const auto noSide = [](int side) { return side == -1 ? 0 : side; };
            m = QMargins(noSide(m.left()), m.top(), noSide(m.right()), noSide(m.bottom()));
        }
        if (m.left() < 0 || m.top() < 0 || m.right() < 0 || m.bottom() < 0)
            return {};
        return m;
    }
    bool exposed() const
    {
        const QWindow* handle = window_->windowHandle();
        return handle && handle->isExposed();
    }
    QPoint framePosition() const
    {
        const QWindow* handle = window_->windowHandle();
        return handle ? handle->geometry().topLeft() - QPoint(margins().left(), margins().top())
                      : window_->pos();
    }

    void settle()
    {
        if (!settling_)
            return;
        if (since_.hasExpired(SettleMs)) {
            stopSettling();
            return;
        }
        // From the moment the window is handed to the window system until
        // it appears, a window manager may be busy framing it: a move asked
        // for meanwhile can get lost, and the frame it reports (left from
        // the window's last showing, or read while it builds the frame)
        // need not be the one the window gets.
        const QWindow* handle = window_->windowHandle();
        if (handle && handle->isVisible() && !handle->isExposed())
            return;
        if (margins() != placedMargins_ || window_->size() != placedSize_) {
            // The frame has come or changed, or the window has another size.
            place();
            return;
        }
        if (placed_ || !exposed() || margins().isNull())
            return; // placed, not up yet, or not framed yet
        if (framePosition() != placedAt_) {
            // The window manager put it elsewhere (or has not yet carried
            // out the last request: asking again does no harm).
            if (sincePlaced_.hasExpired(FrameStableMs / 2) && corrections_ < MaxCorrections) {
                ++corrections_;
                place();
            }
            return;
        }
        if (sincePlaced_.hasExpired(FrameStableMs)) {
            placed_ = true;
            poll_.stop();
        }
    }

    void stopSettling()
    {
        settling_ = false;
        poll_.stop();
    }

    void place()
    {
        const bool overOwner = over_ && over_->isVisible() && !over_->isMinimized();
        QScreen* screen = overOwner ? over_->screen() : window_->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect area = screen->availableGeometry();
        QRect overRect = area;
        if (overOwner)
            overRect = over_->windowHandle() ? over_->windowHandle()->frameGeometry()
                                             : over_->frameGeometry();
        placedMargins_ = margins();
        placedSize_ = window_->size();
        placedAt_ = centredPosition(overRect, placedSize_.grownBy(placedMargins_), area);
        placed_ = false;
        sincePlaced_.start();
        poll_.start();
        // The client area's corner, worked out here from the frame as the
        // window system has it: QWidget::move would work it out from
        // QWidget's own copy of the frame.
        placing_ = true;
        window_->setGeometry(QRect(placedAt_ + QPoint(placedMargins_.left(), placedMargins_.top()),
                                   placedSize_));
        placing_ = false;
    }

    QWidget* window_;
    QPointer<QWidget> owner_;
    QPointer<QWidget> over_;
    std::optional<Centring> onShow_;
    bool shownBefore_ = false;
    bool settling_ = false;
    bool placed_ = false; // stood framed where it was put for a while
    bool placing_ = false; // its own move is under way
    int corrections_ = 0;
    QElapsedTimer since_;
    QElapsedTimer sincePlaced_;
    QTimer poll_;
    QMargins placedMargins_;
    QSize placedSize_;
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
