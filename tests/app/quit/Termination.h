#pragma once
// The requests from outside that end a program, as each system delivers
// them: signals on Unix; on Windows console control events and the end of
// the user's session.
#include <QList>
#include <QProcess>
#include <QString>

namespace termination {

struct Kind {
    QString name; // "SIGTERM", "Ctrl+Break", ...
    int code;
};

// Every kind this system has; the first is the one a system shutdown sends.
QList<Kind> kinds();
// Makes `process` one that the requests can reach; call before starting it.
void prepare(QProcess& process);
// Delivers the request to the running process; false when it could not.
bool send(QProcess& process, int code);

} // namespace termination
