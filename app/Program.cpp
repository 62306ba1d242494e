#include "Program.h"
#include "Program_p.h"

#include "APIimp.h"
#include "AppWindows.h"
#include "Dialogs.h"
#include "Fmain.h"
#include "Fonts.h"
#include "ProgramStart.h"
#include "RegionalSettings.h"

#include <QApplication>

namespace {

bool programRunning = false;

class RunningProgram {
public:
    RunningProgram() { programRunning = true; }
    ~RunningProgram() { programRunning = false; }
};

} // namespace

void closeOnTermination()
{
    if (Main)
        Main->close();
    // No main window yet, or its close did not get through.
    if (!ProgramQuitting())
        EndProgram();
}

void EndProgram()
{
    SetProgramQuitting(true);
    if (programRunning)
        QCoreApplication::exit(0);
}

int RunProgram()
{
    RunningProgram running;
    RegionalSettings::reload();

    if (!DriverFilePresent()) {
        Dialogs::instance().message(nullptr, QStringLiteral("Error"),
                                    QStringLiteral("系统驱动程序'trovport.dll'无法找到!"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        return 1;
    }
    QString error;
    std::unique_ptr<DriverLibrary> driver = DriverLibrary::loadFromWorkingDirectory(&error);
    if (!driver) {
        Dialogs::instance().message(nullptr, QStringLiteral("Error"), error, Dialogs::Icon::Error,
                                    Dialogs::Buttons::Ok);
        return 1;
    }

    CreateWindows(*driver);
    Main->ShowMainWindow();
    // Closed already during the show step (a termination signal while the
    // first run's Setup dialog was open): the message loop would start anew.
    const int result = ProgramQuitting() ? 0 : QApplication::exec();
    DestroyWindows();
    return result;
}

int ProgramMain(int argc, char** argv, const std::function<void()>& atStart)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dsg5926"));
    // Lets a Wayland desktop match the window to the installed menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.trova.Dsg5926"));
    InstallFontSubstitutions();
    const TerminationRequests termination(&app);
    if (atStart)
        atStart();
    return RunProgram();
}
