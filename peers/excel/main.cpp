// The stand-in spreadsheet: a DDE server for service "Excel", topic
// "System", with a grid window (or none, for tests). See README.md.
#include "DdeFrames.h"
#include "DdeServer.h"
#include "Sheet.h"
#include "SheetWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

#ifndef Q_OS_WIN
int signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
#endif

// Ends the event loop cleanly on SIGTERM/SIGINT/SIGHUP, so the sheet can be
// dumped on exit.
void quitOnSignals()
{
#ifndef Q_OS_WIN
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
#endif
}

bool serverAnswers(const QString& name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool up = probe.waitForConnected(500);
    probe.abort();
    return up;
}

} // namespace

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0)
            headless = true;
    std::unique_ptr<QCoreApplication> app;
    if (headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Excel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in spreadsheet: DDE service \"Excel\""));
    parser.addHelpOption();
    const QCommandLineOption headlessOpt(QStringLiteral("headless"), QStringLiteral("No window."));
    const QCommandLineOption delayOpt(QStringLiteral("delay-ms"),
                                      QStringLiteral("Carry out each command after <ms>."),
                                      QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption refuseOpt(QStringLiteral("refuse"),
                                       QStringLiteral("Refuse every conversation."));
    const QCommandLineOption logOpt(QStringLiteral("log"),
                                    QStringLiteral("Append every received frame to <file>."),
                                    QStringLiteral("file"));
    const QCommandLineOption dumpOpt(QStringLiteral("dump-on-exit"),
                                     QStringLiteral("Save the sheet to <file> (.xlsx or .csv) on exit."),
                                     QStringLiteral("file"));
    parser.addOptions({headlessOpt, delayOpt, refuseOpt, logOpt, dumpOpt});
    parser.process(*app);

    DdeServer::Options options;
    options.delayMs = parser.value(delayOpt).toInt();
    options.refuse = parser.isSet(refuseOpt);
    options.logFile = parser.value(logOpt);

    const QString name = dde::serverName(options.service);
    QString why;
    if (!DdeServer::folderIsPrivate(name, &why)) {
        std::fprintf(stderr, "Excel: will not serve %s: %s\n", qPrintable(name), qPrintable(why));
        return 1;
    }
    // One instance per user: a second start leaves the running one alone.
    QLockFile lock(name + QStringLiteral(".lock"));
    lock.setStaleLockTime(0); // only a dead owner makes it stale
    if (serverAnswers(name) || !lock.tryLock(0))
        return 0;

    Sheet sheet;
    DdeServer server(sheet, options);
    sheet.onQuit = [] { QCoreApplication::quit(); };
    QString error;
    if (!server.listen(&error)) {
        std::fprintf(stderr, "Excel: cannot serve %s: %s\n", qPrintable(name), qPrintable(error));
        return 1;
    }
    quitOnSignals();

    std::unique_ptr<SheetWindow> window;
    if (!headless) {
        window = std::make_unique<SheetWindow>(sheet, server);
        if (qEnvironmentVariable("DSG_START_MINIMIZED") == QLatin1String("1"))
            window->showMinimized();
        else
            window->show();
    }

    const int rc = app->exec();
    window.reset();
    if (parser.isSet(dumpOpt) && !sheet.save(parser.value(dumpOpt), &error)) {
        std::fprintf(stderr, "Excel: cannot save %s: %s\n", qPrintable(parser.value(dumpOpt)),
                     qPrintable(error));
        return rc == 0 ? 2 : rc;
    }
    return rc;
}
