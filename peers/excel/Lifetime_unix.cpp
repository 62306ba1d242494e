#include "Lifetime.h"

#include "DdeServer.h"

#include <QCoreApplication>
#include <QLockFile>
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
} // namespace

void quitWhenAskedToStop()
{
    if (::pipe(signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
        char c;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        QCoreApplication::quit();
    });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGHUP, onSignal);
}

struct InstanceLock::Impl {
    explicit Impl(const QString& path) : file(path) {}
    QLockFile file;
};

InstanceLock::InstanceLock(const QString& service)
    : d(std::make_unique<Impl>(DdeServer::lockFilePath(service)))
{
    d->file.setStaleLockTime(0); // only a dead owner makes it stale
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryLock()
{
    return d->file.tryLock(0);
}
