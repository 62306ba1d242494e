#include "Program.h"

#include "APIimp.h"
#include "AppWindows.h"
#include "Dialogs.h"
#include "Fmain.h"
#include "Fonts.h"
#include "ProgramStart.h"
#include "RegionalSettings.h"

#include <QApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool programRunning = false;

class RunningProgram {
public:
    RunningProgram() { programRunning = true; }
    ~RunningProgram() { programRunning = false; }
};

#ifdef Q_OS_UNIX
// A termination signal is handled as a close of the main window. The
// handler only writes a byte into a pipe; the window thread reads it through
// a socket notifier in whatever event loop runs (the main one, a modal
// dialog's, an export's wait) and closes the window there.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void closeOnTerminationSignal()
{
    char bytes[64];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (Main)
        Main->close();
    // No main window yet, or its close did not get through.
    if (!ProgramQuitting())
        EndProgram();
}

void handleTerminationSignals(QObject* owner)
{
    if (signalPipe[0] < 0) {
        if (::pipe(signalPipe) != 0)
            return;
        for (int fd : signalPipe) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [] { closeOnTerminationSignal(); });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
#endif

} // namespace

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
#ifdef Q_OS_UNIX
    handleTerminationSignals(&app);
#endif
    if (atStart)
        atStart();
    return RunProgram();
}
