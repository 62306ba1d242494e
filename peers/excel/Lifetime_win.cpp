#include "Lifetime.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMetaObject>

#include <windows.h>

namespace {
// Terminating a process posts WM_CLOSE to its windows and to its main
// thread; a program without windows only hears the latter.
class CloseWatch final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message != WM_CLOSE || msg->hwnd != nullptr)
            return false;
        QCoreApplication::quit();
        return true;
    }
};

BOOL WINAPI onConsoleEvent(DWORD)
{
    // Another thread: the quit is queued to the application's own.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}
} // namespace

void quitWhenAskedToStop()
{
    static CloseWatch watch;
    QCoreApplication::instance()->installNativeEventFilter(&watch);
    SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

// A named mutex rather than a lock file: the system lets go of it when its
// holder dies, whatever became of the holder's process id.
struct InstanceLock::Impl {
    HANDLE mutex = nullptr;
    std::wstring name;
};

InstanceLock::InstanceLock(const QString& service) : d(std::make_unique<Impl>())
{
    d->name = (QStringLiteral("Local\\dsg-dde-") + service.toLower()).toStdWString();
}

InstanceLock::~InstanceLock()
{
    if (d->mutex) {
        ReleaseMutex(d->mutex);
        CloseHandle(d->mutex);
    }
}

bool InstanceLock::tryLock()
{
    if (d->mutex)
        return true;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, d->name.c_str());
    if (!mutex)
        return false;
    const DWORD got = WaitForSingleObject(mutex, 0);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    d->mutex = mutex;
    return true;
}
