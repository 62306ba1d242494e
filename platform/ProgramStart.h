#pragma once
// Starting another program without waiting for it (WinExec on the original
// platform), and the end of this one. Replaceable so tests can record what
// would be started.
#include <QObject>
#include <QString>
#include <QStringList>

class ProgramStarter {
public:
    enum class Show { Normal, MinimizedNoActivate };

    virtual ~ProgramStarter() = default;
    // Starts `program` detached; false when it could not be started.
    virtual bool start(const QString& program, const QStringList& arguments, Show show) = 0;

    static ProgramStarter& instance();
    // Install `starter` (not owned); nullptr restores the real one.
    static void setInstance(ProgramStarter* starter);
};

// WinExec's contract: a result above 31 means the program was started; 2
// (file not found) otherwise. `showMode` 5 shows it normally, 7 minimised
// without activating it. Nothing is started once the program is quitting.
unsigned WinExec(const QString& commandLine, int showMode);

// Where programs carry no extension, `name` itself when it is an executable
// file: what stands in for `name` + ".EXE" there. Empty on Windows, and when
// there is no such file.
QString extensionlessProgram(const QString& name);

// The program is ending: its main window has been closed (by the operator
// or on a termination signal), or the application's message loops have been
// told to end. From then on every wait that could hold the program up ends
// at once, DDE conversations hand nothing more over and no other program is
// started, so whatever command is running unwinds and the program ends.
// Only those two set it: a nested loop that returns for another reason (a
// popup menu's, a dialog's) is no sign of the end.
bool ProgramQuitting();
// Sets it (waking every wait that listens to ProgramQuit), or clears it for
// a new main window.
void SetProgramQuitting(bool quitting);

// Announces the start of the end to waits that sleep on an event loop.
class ProgramQuit : public QObject {
    Q_OBJECT
public:
    static ProgramQuit& instance();
    // The application's loops have been told to end (QCoreApplication::exit,
    // which every quit of the application comes down to): a loop started
    // now returns at once. For a wait whose loop ended without its own
    // wake-up, to tell the end of the program from any other interruption.
    // Handles the events that are already pending when it is not so.
    static bool applicationExiting();

signals:
    void begun();
};
