// The stand-in spreadsheet: a DDE server for service "Excel", topic
// "System", with a grid window (or none, for tests). See README.md.
#include "DdeServer.h"
#include "Sheet.h"
#include "SheetWindow.h"
#include "CalcOffice.h"
#include "Lifetime.h"
#ifdef DSG_HAVE_CALC
#include "CalcSink.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace {

enum class Backend { Grid, Calc };

bool calcBuiltIn()
{
#ifdef DSG_HAVE_CALC
    return true;
#else
    return false;
#endif
}

// Where the sheet lives: --grid / --calc, else $DSG_EXCEL_BACKEND, else the
// grid for a headless run, else Calc where LibreOffice is installed.
Backend chooseBackend(int argc, char** argv, bool headless)
{
    std::optional<Backend> chosen;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--grid") == 0)
            chosen = Backend::Grid;
        else if (std::strcmp(argv[i], "--calc") == 0)
            chosen = Backend::Calc;
    }
    if (!chosen) {
        const QString env = qEnvironmentVariable("DSG_EXCEL_BACKEND").toLower();
        if (env == QLatin1String("grid"))
            chosen = Backend::Grid;
        else if (env == QLatin1String("calc"))
            chosen = Backend::Calc;
    }
    if (chosen)
        return *chosen;
    if (headless)
        return Backend::Grid;
    return calcBuiltIn() && !CalcOffice::findProgram().isEmpty() ? Backend::Calc : Backend::Grid;
}

int serveGrid(QCoreApplication& app, const DdeServer::Options& options, bool headless,
              const QString& dumpFile)
{
    // Its user's region, as Excel reads what is typed into it.
    Sheet sheet(typed::Region::of(QLocale::system()));
    DdeServer server(sheet, options);
    sheet.onQuit = [] { QCoreApplication::quit(); };
    QString error;
    if (!server.listen(&error)) {
        std::fprintf(stderr, "Excel: cannot serve: %s\n", qPrintable(error));
        return 1;
    }
    quitWhenAskedToStop();

    std::unique_ptr<SheetWindow> window;
    if (!headless) {
        window = std::make_unique<SheetWindow>(sheet, server);
        if (qEnvironmentVariable("DSG_START_MINIMIZED") == QLatin1String("1"))
            window->showMinimized();
        else
            window->show();
    }

    const int rc = app.exec();
    window.reset();
    if (!dumpFile.isEmpty() && !sheet.save(dumpFile, &error)) {
        std::fprintf(stderr, "Excel: cannot save %s: %s\n", qPrintable(dumpFile), qPrintable(error));
        return rc == 0 ? 2 : rc;
    }
    return rc;
}

#ifdef DSG_HAVE_CALC
// How long a peer that found no Calc goes on refusing conversations (so the
// client's further tries fail at once instead of starting it again).
constexpr int RefuseLingerMs = 10000;
constexpr int AttachTimeoutMs = 30000;
// Calc takes a few milliseconds for a burst of cells; a client waiting for
// "Ready" hears it as soon as Calc is done.
constexpr int StatusHoldMs = 50;

int serveCalc(QCoreApplication& app, const DdeServer::Options& options, bool headless,
              const QString& program, const QString& profile)
{
    CalcOffice office({program, profile, headless});
    CalcSink sink(office.pipeName(), headless);
    DdeServer::Options calcOptions = options;
    calcOptions.statusHoldMs = StatusHoldMs;
    DdeServer server(sink, calcOptions);
    int exitCode = 0;
    sink.onQuit = [] { QCoreApplication::quit(); };
    sink.onLost = [&](const QString& why) {
        std::fprintf(stderr, "Excel: %s; every conversation ends\n", qPrintable(why));
        server.closeAll();
        exitCode = 3;
        QCoreApplication::exit(3);
    };
    const auto listen = [&] {
        QString error;
        if (server.listen(&error))
            return true;
        std::fprintf(stderr, "Excel: cannot serve: %s\n", qPrintable(error));
        exitCode = 1;
        QCoreApplication::exit(1);
        return false;
    };
    quitWhenAskedToStop();

    QTimer linger;
    linger.setSingleShot(true);
    QObject::connect(&linger, &QTimer::timeout, [&] {
        exitCode = 3;
        QCoreApplication::exit(3);
    });
    if (options.refuse) {
        if (!listen())
            return 1;
    } else {
        // The server listens only once Calc is there (or known to be out of
        // reach): a client that starts this program waits for its server.
        office.attach([&sink](CalcOffice::Outcome o) { sink.tryAttach(std::move(o)); },
                      AttachTimeoutMs, [&](bool ok, const QString& text) {
                          if (ok) {
                              std::fprintf(stderr, "Excel: writing into LibreOffice Calc: %s\n",
                                           qPrintable(text));
                              listen();
                              return;
                          }
                          std::fprintf(stderr, "Excel: no LibreOffice Calc: %s; every conversation is refused\n",
                                       qPrintable(text));
                          server.refuseAll();
                          if (listen()) {
                              QObject::connect(&server, &DdeServer::conversationAsked, &linger,
                                               [&linger] { linger.start(RefuseLingerMs); });
                              linger.start(RefuseLingerMs);
                          }
                      });
    }
    const int rc = app.exec();
    return exitCode != 0 ? exitCode : rc;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0)
            headless = true;
    const Backend backend = chooseBackend(argc, argv, headless);
    std::unique_ptr<QCoreApplication> app;
    // Calc is the window of the Calc backend.
    if (headless || backend == Backend::Calc)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Excel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in spreadsheet: DDE service \"Excel\""));
    parser.addHelpOption();
    const QCommandLineOption headlessOpt(QStringLiteral("headless"), QStringLiteral("No window."));
    const QCommandLineOption gridOpt(QStringLiteral("grid"),
                                     QStringLiteral("Keep the sheet in this program's own grid."));
    const QCommandLineOption calcOpt(QStringLiteral("calc"),
                                     QStringLiteral("Write into LibreOffice Calc (fails without it)."));
    const QCommandLineOption profileOpt(QStringLiteral("calc-profile"),
                                        QStringLiteral("LibreOffice user profile folder <dir>."),
                                        QStringLiteral("dir"));
    const QCommandLineOption delayOpt(QStringLiteral("delay-ms"),
                                      QStringLiteral("Carry out each command after <ms>."),
                                      QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption refuseOpt(QStringLiteral("refuse"),
                                       QStringLiteral("Refuse every conversation."));
    const QCommandLineOption muteOpt(QStringLiteral("mute"),
                                     QStringLiteral("Accept conversations but never answer a request."));
    const QCommandLineOption logOpt(QStringLiteral("log"),
                                    QStringLiteral("Append every received frame to <file>."),
                                    QStringLiteral("file"));
    const QCommandLineOption dumpOpt(QStringLiteral("dump-on-exit"),
                                     QStringLiteral("Save the sheet to <file> (.xlsx or .csv) on exit."),
                                     QStringLiteral("file"));
    parser.addOptions({headlessOpt, gridOpt, calcOpt, profileOpt, delayOpt, refuseOpt, muteOpt, logOpt, dumpOpt});
    parser.process(*app);

    DdeServer::Options options;
    options.delayMs = parser.value(delayOpt).toInt();
    options.refuse = parser.isSet(refuseOpt);
    options.mute = parser.isSet(muteOpt);
    options.logFile = parser.value(logOpt);

    QString program;
    if (backend == Backend::Calc) {
        program = CalcOffice::findProgram();
        const char* missing = !calcBuiltIn() ? "this Excel was built without LibreOffice's SDK"
                              : program.isEmpty() ? "LibreOffice is not installed (no soffice found)"
                                                  : nullptr;
        if (missing) {
            std::fprintf(stderr, "Excel: cannot write into LibreOffice Calc: %s\n", missing);
            return 2;
        }
    }

    QString why;
    if (!DdeServer::mayServe(options.service, &why)) {
        std::fprintf(stderr, "Excel: will not serve %s: %s\n", qPrintable(options.service), qPrintable(why));
        return 1;
    }
    // One instance per user: a second start leaves the running one alone.
    InstanceLock lock(options.service);
    if (DdeServer::alreadyServed(options.service) || !lock.tryLock())
        return 0;

    if (backend == Backend::Grid)
        return serveGrid(*app, options, headless, parser.value(dumpOpt));
#ifdef DSG_HAVE_CALC
    if (parser.isSet(dumpOpt))
        std::fprintf(stderr, "Excel: --dump-on-exit keeps to the grid; Calc saves its own documents\n");
    QString profile = parser.value(profileOpt);
    if (profile.isEmpty())
        profile = qEnvironmentVariable("DSG_CALC_PROFILE");
    return serveCalc(*app, options, headless, program, profile);
#else
    return 2;
#endif
}
