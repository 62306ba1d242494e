#include "Program_p.h"

#include "ProgramStart.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QObject>

#include <windows.h>

#include <mutex>

namespace {

// The console's events arrive on a thread of their own, which the system
// starts for each; the window thread does the closing. `receiver` is where
// the close is posted while the program takes requests, guarded so that it
// does not go away in the middle of a post.
std::mutex receiverLock;
QObject* receiver = nullptr;

// Signalled when the program has let its windows go.
HANDLE programDone()
{
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

void postClose()
{
    const std::lock_guard lock(receiverLock);
    if (receiver)
        QMetaObject::invokeMethod(receiver, [] { closeOnTermination(); }, Qt::QueuedConnection);
}

BOOL WINAPI onConsoleEvent(DWORD type)
{
    {
        const std::lock_guard lock(receiverLock);
        if (!receiver)
            return FALSE; // the system's own handling: the process ends
    }
    postClose();
    switch (type) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends as soon as this returns, and the system ends it
        // anyway about five seconds after the event: let the windows close
        // first, for a while short of that.
        WaitForSingleObject(programDone(), 4000);
        return TRUE;
    default:
        return TRUE;
    }
}

// The end of the session reaches the top-level windows as messages.
class SessionEndFilter final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == WM_QUERYENDSESSION) {
            // Nothing here needs saving: agree, and close as the close box
            // would once the question has been answered.
            postClose();
            *result = TRUE;
            return true;
        }
        if (msg->message == WM_ENDSESSION) {
            // The session ends when this returns: no later turn of the loop
            // will come.
            if (msg->wParam && !ProgramQuitting())
                closeOnTermination();
            *result = 0;
            return true;
        }
        return false;
    }
};

SessionEndFilter sessionEndFilter;

} // namespace

TerminationRequests::TerminationRequests(QObject* owner)
{
    ResetEvent(programDone());
    {
        const std::lock_guard lock(receiverLock);
        receiver = owner;
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installNativeEventFilter(&sessionEndFilter);
}

TerminationRequests::~TerminationRequests()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(&sessionEndFilter);
    {
        const std::lock_guard lock(receiverLock);
        receiver = nullptr;
    }
    SetEvent(programDone());
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}
