// The DDEML conversation against the Windows stand-in spreadsheet, both
// through the real library under Wine: what arrives, what comes back, the
// server ending it, starting the server, a server that never answers, and the
// end of the program during each wait.
#include "DdemlDdeClientConv.h"
#include "StandIn.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

namespace {

// Accepts every start and starts nothing: a service application that never
// comes up.
class DeadStarter : public ProgramStarter {
public:
    DeadStarter() { ProgramStarter::setInstance(this); }
    ~DeadStarter() override { ProgramStarter::setInstance(nullptr); }
    bool start(const QString&, const QStringList&, Show) override
    {
        ++starts;
        return true;
    }
    int starts = 0;
};

QString text(const std::optional<QByteArray>& data)
{
    return data ? QString::fromLatin1(*data) : QStringLiteral("<nothing>");
}

void linkTo(DdemlDdeClientConv& conv)
{
    conv.setConnectMode(TDdeClientConv::ConnectMode::Manual);
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
}

} // namespace

class TestDdeml : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void executesAndRequests();
    void waitFlagHeldUntilCarriedOut();
    void serverEndsConversation();
    void serverGoneWithoutWord();
    void stoppedServerSavesAndSaysGoodbye();
    void closeDoesNotWaitForBusyServer();
    void openStartsServiceApplication();
    void silentServerTimesOutWhileTimersRun();
    void quitEndsEveryWait_data();
    void quitEndsEveryWait();
};

void TestDdeml::cleanup()
{
    SetProgramQuitting(false);
}

void TestDdeml::executesAndRequests()
{
    StandIn excel;
    QVERIFY(excel.start());
    DdemlDdeClientConv conv;
    int opened = 0;
    conv.OnOpen = [&] { ++opened; };
    linkTo(conv);
    QCOMPARE(opened, 0); // manual mode only records the link
    QVERIFY(conv.OpenLink());
    QCOMPARE(opened, 1);
    QVERIFY(conv.isOpen());

    QCOMPARE(text(conv.RequestData(QStringLiteral("Status"))), QStringLiteral("Ready"));
    QCOMPARE(text(conv.RequestData(QStringLiteral("Selection"))), QStringLiteral("[Book1]Sheet1!R1C1"));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(\"Time\", \"R2C1\")]"), false));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[SELECT(\"R[1]C\")]"), false));
    QVERIFY(!conv.WaitStat());
    // A request is answered after the executes sent before it.
    QCOMPARE(text(conv.RequestData(QStringLiteral("Cell R2C1"))), QStringLiteral("T:Time"));
    QCOMPARE(text(conv.RequestData(QStringLiteral("Selection"))), QStringLiteral("[Book1]Sheet1!R2C1"));
    QCOMPARE(conv.RequestData(QStringLiteral("NoSuchItem")), std::nullopt);

    // Format characters are filtered unless FormatChars is on.
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(\"a\tb\", \"R3C1\")]"), false));
    QCOMPARE(text(conv.RequestData(QStringLiteral("Cell R3C1"))), QStringLiteral("T:ab"));
    conv.setFormatChars(true);
    QCOMPARE(text(conv.RequestData(QStringLiteral("Cell R3C1"))), QStringLiteral("T:a\tb"));

    QCOMPARE(excel.executes(),
             (QStringList{QStringLiteral("[FORMULA(\"Time\", \"R2C1\")]"), QStringLiteral("[SELECT(\"R[1]C\")]"),
                          QStringLiteral("[FORMULA(\"a\tb\", \"R3C1\")]")}));

    int closed = 0;
    conv.OnClose = [&] { ++closed; };
    conv.CloseLink();
    QCOMPARE(closed, 1);
    QVERIFY(!conv.ExecuteMacro(QStringLiteral("[ERROR(0)]"), false));
    QCOMPARE(conv.RequestData(QStringLiteral("Status")), std::nullopt);
    conv.CloseLink();
    QCOMPARE(closed, 1); // closing a closed link raises nothing
}

void TestDdeml::waitFlagHeldUntilCarriedOut()
{
    StandIn excel;
    QVERIFY(excel.start({QStringLiteral("--delay-ms"), QStringLiteral("400")}));
    DdemlDdeClientConv conv;
    linkTo(conv);
    QVERIFY(conv.OpenLink());

    QElapsedTimer clock;
    clock.start();
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(\"slow\", \"R1C1\")]"), true));
    QVERIFY(clock.elapsed() < 300); // handed over, not carried out
    QVERIFY(conv.WaitStat());
    // While it is held, nothing else goes over.
    QVERIFY(!conv.ExecuteMacro(QStringLiteral("[FORMULA(\"x\", \"R9C9\")]"), false));
    QCOMPARE(conv.RequestData(QStringLiteral("Status")), std::nullopt);
    while (conv.WaitStat() && clock.elapsed() < 10000)
        conv.WaitForActivity(5000);
    QVERIFY(!conv.WaitStat());
    QVERIFY2(clock.elapsed() >= 350, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(text(conv.RequestData(QStringLiteral("Cell R1C1"))), QStringLiteral("T:slow"));
    QCOMPARE(excel.executes(), QStringList{QStringLiteral("[FORMULA(\"slow\", \"R1C1\")]")});
}

void TestDdeml::serverEndsConversation()
{
    StandIn excel;
    QVERIFY(excel.start());
    DdemlDdeClientConv conv;
    int closed = 0;
    conv.OnClose = [&] { ++closed; };
    linkTo(conv);
    QVERIFY(conv.OpenLink());
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[QUIT()]"), false));
    QElapsedTimer clock;
    clock.start();
    while (closed == 0 && clock.elapsed() < 10000)
        conv.WaitForActivity(1000);
    QCOMPARE(closed, 1);
    QVERIFY(!conv.isOpen());
    QVERIFY(!conv.ExecuteMacro(QStringLiteral("[ERROR(0)]"), false));
    QCOMPARE(conv.RequestData(QStringLiteral("Status")), std::nullopt);
    QVERIFY(excel.process.waitForFinished(5000));
}

void TestDdeml::serverGoneWithoutWord()
{
    StandIn excel;
    QVERIFY(excel.start());
    DdemlDdeClientConv conv;
    int closed = 0;
    conv.OnClose = [&] { ++closed; };
    linkTo(conv);
    QVERIFY(conv.OpenLink());
    excel.kill(); // no farewell: its windows are simply gone
    QElapsedTimer clock;
    clock.start();
    while (closed == 0 && clock.elapsed() < 5000)
        conv.WaitForActivity(1000);
    QCOMPARE(closed, 1);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!conv.ExecuteMacro(QStringLiteral("[ERROR(0)]"), false));

    // A new server, a new conversation.
    StandIn second;
    QVERIFY(second.start());
    QVERIFY(conv.OpenLink());
    QCOMPARE(text(conv.RequestData(QStringLiteral("Status"))), QStringLiteral("Ready"));
}

void TestDdeml::stoppedServerSavesAndSaysGoodbye()
{
    const QString dump = testScratchDir() + QStringLiteral("/stopped.csv");
    StandIn excel;
    QVERIFY(excel.start({QStringLiteral("--dump-on-exit"), dump}));
    DdemlDdeClientConv conv;
    int closed = 0;
    conv.OnClose = [&] { ++closed; };
    linkTo(conv);
    QVERIFY(conv.OpenLink());
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(\"kept\", \"R1C1\")]"), false));
    QCOMPARE(text(conv.RequestData(QStringLiteral("Cell R1C1"))), QStringLiteral("T:kept"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(excel.stop()); // ended as asked, not killed
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(excel.process.exitCode(), 0);
    QFile f(dump);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("kept\n"));
    while (closed == 0 && clock.elapsed() < 5000)
        conv.WaitForActivity(1000);
    QCOMPARE(closed, 1);
    // The next instance starts although this one held the instance lock.
    StandIn next;
    QVERIFY(next.start());
}

void TestDdeml::closeDoesNotWaitForBusyServer()
{
    // A command that takes twenty seconds holds the server's side of the
    // conversation, farewell included: closing must not wait for it.
    StandIn excel;
    QVERIFY(excel.start({QStringLiteral("--delay-ms"), QStringLiteral("20000")}));
    for (const bool destroy : {false, true}) {
        auto conv = std::make_unique<DdemlDdeClientConv>();
        int closed = 0;
        conv->OnClose = [&] { ++closed; };
        linkTo(*conv);
        QVERIFY(conv->OpenLink());
        QVERIFY(conv->ExecuteMacro(QStringLiteral("[FORMULA(1, \"R1C1\")]"), true));
        QElapsedTimer clock;
        clock.start();
        if (destroy)
            conv.reset();
        else
            conv->CloseLink();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(closed, 1);
    }
}

void TestDdeml::openStartsServiceApplication()
{
    QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
    StandIn log; // only for its log file
    RecordingStarter starter(log.logFile);
    DdemlDdeClientConv conv;
    linkTo(conv);
    QVERIFY(!conv.OpenLink()); // nothing to start
    QVERIFY(starter.starts.isEmpty());

    conv.setServiceApplication(QStringLiteral("Excel"));
    QVERIFY(conv.OpenLink());
    QCOMPARE(starter.starts.size(), 1);
    QVERIFY2(starter.starts[0].program.endsWith(QLatin1String("\\Excel.exe"), Qt::CaseInsensitive),
             qPrintable(starter.starts[0].program));
    QCOMPARE(starter.starts[0].show, ProgramStarter::Show::MinimizedNoActivate);
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(1, \"R1C1\")]"), false));
    QCOMPARE(text(conv.RequestData(QStringLiteral("Cell R1C1"))), QStringLiteral("V:1"));

    // The second open finds the started server and starts nothing more.
    conv.CloseLink();
    QVERIFY(conv.OpenLink());
    QCOMPARE(starter.starts.size(), 1);
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[QUIT()]"), false));
    conv.CloseLink();
}

void TestDdeml::silentServerTimesOutWhileTimersRun()
{
    StandIn excel;
    QVERIFY(excel.start({QStringLiteral("--mute")}));
    DdemlDdeClientConv conv;
    linkTo(conv);
    QVERIFY(conv.OpenLink());
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(100);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(conv.RequestData(QStringLiteral("Status")), std::nullopt);
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= 9500 && took < 13000, qPrintable(QString::number(took)));
    QVERIFY2(ticks >= 50, qPrintable(QString::number(ticks)));
    // The abandoned request leaves the conversation usable for the next one.
    QVERIFY(conv.isOpen());
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[ERROR(0)]"), false));
}

void TestDdeml::quitEndsEveryWait_data()
{
    QTest::addColumn<QString>("wait");
    QTest::newRow("request") << QStringLiteral("request");
    QTest::newRow("wait-flag execute") << QStringLiteral("execute");
    QTest::newRow("start of the service application") << QStringLiteral("start");
}

void TestDdeml::quitEndsEveryWait()
{
    QFETCH(QString, wait);
    StandIn excel;
    DeadStarter starter;
    if (wait == QLatin1String("request"))
        QVERIFY(excel.start({QStringLiteral("--mute")}));
    else if (wait == QLatin1String("execute"))
        QVERIFY(excel.start({QStringLiteral("--delay-ms"), QStringLiteral("20000")}));
    DdemlDdeClientConv conv;
    linkTo(conv);
    if (wait != QLatin1String("start")) {
        QVERIFY(conv.OpenLink());
    } else {
        conv.setServiceApplication(QStringLiteral("Excel"));
        conv.startWaitMs = 20000;
    }
    QTimer::singleShot(300, [] { SetProgramQuitting(true); });
    QElapsedTimer clock;
    clock.start();
    if (wait == QLatin1String("request")) {
        QCOMPARE(conv.RequestData(QStringLiteral("Status")), std::nullopt);
    } else if (wait == QLatin1String("execute")) {
        QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(1, \"R1C1\")]"), true));
        conv.WaitForActivity(20000);
        QVERIFY(conv.WaitStat()); // not completed: the wait was cut short
    } else {
        QVERIFY(!conv.OpenLink());
        QCOMPARE(starter.starts, 1);
    }
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(ProgramQuitting());
    // Once quitting, nothing more goes over.
    QVERIFY(!conv.ExecuteMacro(QStringLiteral("[ERROR(0)]"), false));
}

DSG_TEST_MAIN(TestDdeml)
#include "tst_ddeml.moc"
