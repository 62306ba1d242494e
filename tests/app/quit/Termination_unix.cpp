#include "Termination.h"

#include <csignal>
#include <sys/types.h>

namespace termination {

QList<Kind> kinds()
{
    return {{QStringLiteral("SIGTERM"), SIGTERM},
            {QStringLiteral("SIGINT"), SIGINT},
            {QStringLiteral("SIGHUP"), SIGHUP}};
}

void prepare(QProcess&) {}

bool send(QProcess& process, int code)
{
    return ::kill(pid_t(process.processId()), code) == 0;
}

} // namespace termination
