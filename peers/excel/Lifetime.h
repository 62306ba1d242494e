#pragma once
// The stand-in's start and end as its system has them: the one instance per
// user, and a clean end when it is asked to stop (so the sheet is saved on
// exit).
#include <QString>
#include <memory>

// Ends the application's event loop when the program is asked to stop:
// SIGTERM, SIGINT or SIGHUP on Linux; on Windows the close message that
// terminating a process posts to its main thread, or a console break.
void quitWhenAskedToStop();

// Held while this program serves `service`; a second instance does not get
// it. A holder that died lets go of it.
class InstanceLock {
public:
    explicit InstanceLock(const QString& service);
    ~InstanceLock();
    bool tryLock();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
