#pragma once
// Shared by the conversations of both systems; not part of the interface.
#include "DdeClientConv.h"
#include "ProgramStart.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <climits>
#include <memory>

namespace dde_detail {

// The production conversation of this system.
std::unique_ptr<TDdeClientConv> createPlatformConv();

// The service application's program: `name` with one of `suffixes` in the
// main program's own folder, else `name` on the search path; empty when
// there is none.
QString findServiceApplication(const QString& name, const QStringList& suffixes);

// Handles the application's events until one of the watched signals fires,
// the time is up or the program quits (it needs the application object).
// Its loop can also end without its own wake-up; that is not the quit by
// itself, only when the application's loops have really been told to end.
class EventWait {
public:
    EventWait()
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &loop_, [this] { wake(); });
        QObject::connect(&ProgramQuit::instance(), &ProgramQuit::begun, &loop_, [this] { wake(); });
    }
    template <class Sender, class Signal>
    void wakeOn(const Sender* sender, Signal signal)
    {
        QObject::connect(sender, signal, &loop_, [this] { wake(); });
    }
    // False when the program is quitting.
    bool run(qint64 ms)
    {
        if (ProgramQuitting() || !QCoreApplication::instance())
            return false;
        woken_ = false;
        timer_.start(int(qBound<qint64>(0, ms, qint64(INT_MAX))));
        loop_.exec();
        timer_.stop();
        // Anything else that ended the loop early is only an early wake-up:
        // the caller looks again at what it waits for and at its deadline.
        if (!woken_ && ProgramQuit::applicationExiting())
            SetProgramQuitting(true);
        return !ProgramQuitting();
    }

private:
    void wake()
    {
        woken_ = true;
        loop_.quit();
    }
    QEventLoop loop_;
    QTimer timer_;
    bool woken_ = false;
};

inline qint64 remainingMs(const QDeadlineTimer& deadline)
{
    return qMax<qint64>(0, deadline.remainingTime());
}
} // namespace dde_detail
