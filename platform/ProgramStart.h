#pragma once
// Starting another program without waiting for it (WinExec on the original
// platform). Replaceable so tests can record what would be started.
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
// without activating it.
unsigned WinExec(const QString& commandLine, int showMode);
