// The Excel client against the stand-in spreadsheet through the system's
// own conversation (the local socket on Linux, the DDEML on Windows): what
// arrives there, starting it, losing it, ending the program meanwhile.
#include "Excels.h"
#include "StandIn.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

namespace {

QString cellOf(TCustomExcel& excel, int row, int col)
{
    QString text;
    excel.Request(QStringLiteral("Cell R%1C%2").arg(row).arg(col), text);
    return text;
}

const QStringList ConnectTraffic{QStringLiteral("connect System"),
                                 executeLine(false, QStringLiteral("[ERROR(0)]")),
                                 QStringLiteral("request Selection"),
                                 executeLine(false, QStringLiteral("[ERROR(1)]"))};

} // namespace

class TestExcelsLive : public QObject {
    Q_OBJECT
private slots:
    void init();
    void connectToRunningSpreadsheet();
    void connectStartsSpreadsheet();
    void connectWithNothingToStart();
    void putStrAtWritesTextCell();
    void burstWaitsForSlowSpreadsheet();
    void longWaitAsksSparingly();
    void waitFlagRetryCompletes();
    void longRunWithoutPacing();
    void spreadsheetKilledMidRun();
    void spreadsheetClosedByUser();
    void csvDumpOnExit();
    void quitEndsWaitsAndHandOvers();
    void applicationExitEndsWait();
    void cleanup();
};

void TestExcelsLive::init()
{
    // No stand-in of an earlier case may still answer.
    QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
}

void TestExcelsLive::cleanup()
{
    SetProgramQuitting(false);
}

void TestExcelsLive::connectToRunningSpreadsheet()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start());
    RecordingStarter starter;
    TAdvExcel excel;
    excel.Connect();
    QVERIFY(excel.Connected());
    QVERIFY(starter.starts.isEmpty());
    QCOMPARE(excel.RowLetter(), 'R');
    QCOMPARE(excel.ColLetter(), 'C');
    excel.Connect(); // connected: sends nothing
    QVERIFY(excel.IsReady());
    QCOMPARE(excelProgram.logLines(), ConnectTraffic + QStringList{QStringLiteral("request Status")});
}

void TestExcelsLive::connectStartsSpreadsheet()
{
    const QString log = testScratchDir() + QStringLiteral("/started.log");
    RecordingStarter starter(log);
    {
        TAdvExcel excel;
        excel.Connect();
        QVERIFY(excel.Connected());
        QCOMPARE(starter.starts.size(), 1);
        QVERIFY2(isStandInProgram(starter.starts[0].program), qPrintable(starter.starts[0].program));
        QCOMPARE(starter.starts[0].show, ProgramStarter::Show::MinimizedNoActivate);
        excel.PutStrAt(1, 1, QStringLiteral("started"));
        QCOMPARE(cellOf(excel, 1, 1), QStringLiteral("T:started"));
    }
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    QCOMPARE(lines.mid(0, 2), ConnectTraffic.mid(0, 2));
}

void TestExcelsLive::connectWithNothingToStart()
{
    RecordingStarter starter;
    TAdvExcel excel;
    excel.setExeName(testScratchDir() + QStringLiteral("/NoSuchSpreadsheet"));
    QElapsedTimer t;
    t.start();
    QCOMPARE(errorTextOf<ExcelError>([&] { excel.Connect(); }), QStringLiteral("Excel could not be launched"));
    QVERIFY(starter.starts.isEmpty());
    QVERIFY(!excel.Connected());
    QVERIFY2(t.elapsed() < 5000, "no server and nothing to start must fail fast");
}

void TestExcelsLive::putStrAtWritesTextCell()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start());
    TAdvExcel excel;
    excel.Connect();
    excel.PutStrAt(2, 1, QStringLiteral("Time"));
    excel.PutAt(0, 0, QStringLiteral("12.5"));   // active cell R1C1, then one row down
    excel.PutAt(3, 0, QStringLiteral("7"));      // now R2C1... overwritten, then down
    excel.PutStrAt(4, 2, QStringLiteral("a,b")); // a decimal comma or a comma in a text
    excel.WaitForReady();
    QCOMPARE(cellOf(excel, 1, 1), QStringLiteral("V:12.5"));
    QCOMPARE(cellOf(excel, 2, 1), QStringLiteral("V:7"));
    QCOMPARE(cellOf(excel, 4, 2), QStringLiteral("T:a,b"));
    QString selection;
    excel.GetSelection(selection);
    QCOMPARE(selection, QStringLiteral("[Book1]Sheet1!R3C1"));
    const QStringList lines = excelProgram.logLines();
    QCOMPARE(lines.mid(4, 6),
             QStringList({executeLine(false, QStringLiteral("[FORMULA(\"Time\", \"R2C1\")]")),
                          executeLine(false, QStringLiteral("[FORMULA(12.5)]")),
                          executeLine(false, QStringLiteral("[SELECT(\"R[1]C\")]")),
                          executeLine(false, QStringLiteral("[FORMULA(7)]")),
                          executeLine(false, QStringLiteral("[SELECT(\"R[1]C\")]")),
                          executeLine(false, QStringLiteral("[FORMULA(\"a,b\", \"R4C2\")]"))}));
}

void TestExcelsLive::burstWaitsForSlowSpreadsheet()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start({QStringLiteral("--delay-ms"), QStringLiteral("3")}));
    TAdvExcel excel;
    excel.setBurstCount(10);
    int begins = 0;
    int ends = 0;
    int waiting = 0;
    excel.OnBeginWait = [&](TCustomExcel*) { ++begins; };
    excel.OnEndWait = [&](TCustomExcel*) { ++ends; };
    excel.OnWaiting = [&](TCustomExcel*) { ++waiting; };
    excel.Connect(); // 2 commands
    for (int i = 0; i < 28; ++i)
        excel.PutStrAt(quint16(i + 1), 1, QString::number(i));
    QCOMPARE(begins, 3); // before commands 10, 20 and 30
    QCOMPARE(ends, 3);
    // The slow spreadsheet was found busy, where it says so before the
    // commands are done.
    QVERIFY(waiting > 0 || !statusAnsweredWhileBusy());
    excel.WaitForReady();
    QCOMPARE(cellOf(excel, 28, 1), QStringLiteral("V:27")); // "27" entered as typed: a number
    QVERIFY(excelProgram.logLines().contains(QStringLiteral("request Status")));
}

void TestExcelsLive::longWaitAsksSparingly()
{
    // Three commands of 400 ms each: a wait of over a second, through which
    // the spreadsheet is asked for its "Status" a few dozen times a second,
    // not every few milliseconds.
    StandIn excelProgram;
    QVERIFY(excelProgram.start({QStringLiteral("--delay-ms"), QStringLiteral("400")}));
    TAdvExcel excel;
    excel.setBurstCount(0);
    excel.Connect();
    excel.PutStrAt(1, 1, QStringLiteral("slow"));
    QElapsedTimer t;
    t.start();
    excel.WaitForReady();
    const qint64 waited = t.elapsed();
    QVERIFY(waited >= 800);
    QCOMPARE(cellOf(excel, 1, 1), QStringLiteral("T:slow"));
    const qsizetype polls = excelProgram.logLines().count(QStringLiteral("request Status"));
    QVERIFY2(polls >= (statusAnsweredWhileBusy() ? 2 : 1), qPrintable(QString::number(polls)));
    QVERIFY2(polls * 20 <= waited + 200,
             qPrintable(QStringLiteral("%1 polls in %2 ms").arg(polls).arg(waited)));
}

void TestExcelsLive::waitFlagRetryCompletes()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start({QStringLiteral("--delay-ms"), QStringLiteral("50")}));
    TAdvExcel excel;
    excel.Connect();
    excel.WaitForReady();
    // A command with the wait flag still in progress: the next one is not
    // taken at once, so the client waits and hands it over with the flag.
    QVERIFY(excel.conversation().ExecuteMacro(QStringLiteral("[SELECT(\"R[1]C\")]"), true));
    QVERIFY(excel.conversation().WaitStat());
    QVERIFY(!excel.conversation().RequestData(QStringLiteral("Status")));
    excel.Exec(QStringLiteral("[SELECT(\"RC[1]\")]"));
    QVERIFY(excel.conversation().WaitStat());
    excel.WaitForReady();
    QVERIFY(!excel.conversation().WaitStat());
    QString selection;
    excel.GetSelection(selection);
    QCOMPARE(selection, QStringLiteral("[Book1]Sheet1!R2C2"));
    QStringList executes = excelProgram.logLines().filter(QStringLiteral("execute"));
    QCOMPARE(executes.mid(2), QStringList({executeLine(true, QStringLiteral("[SELECT(\"R[1]C\")]")),
                                           executeLine(true, QStringLiteral("[SELECT(\"RC[1]\")]"))}));
}

void TestExcelsLive::longRunWithoutPacing()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start());
    TAdvExcel excel;
    excel.setBurstCount(0);
    int waits = 0;
    excel.OnBeginWait = [&](TCustomExcel*) { ++waits; };
    excel.Connect();
    for (int i = 0; i < 30000; ++i)
        excel.PutStrAt(quint16(i / 5 + 3), quint16(i % 5 + 1), QString::number(i));
    QCOMPARE(waits, 0);
    // Everything handed over so far must reach the spreadsheet behind the
    // request, in order.
    excel.WaitForReady();
    QCOMPARE(cellOf(excel, 29999 / 5 + 3, 5), QStringLiteral("V:29999"));
    QCOMPARE(cellOf(excel, 3, 1), QStringLiteral("V:0"));
}

void TestExcelsLive::spreadsheetKilledMidRun()
{
    StandIn first;
    QVERIFY(first.start());
    TAdvExcel excel;
    int closes = 0;
    excel.OnClose = [&](TCustomExcel*) { ++closes; };
    excel.Connect();
    QString error;
    int failedAt = -1;
    QElapsedTimer t;
    for (int i = 0; i < 5000 && failedAt < 0; ++i) {
        if (i == 300) {
            first.kill();
            t.start();
        }
        try {
            excel.PutStrAt(quint16(i / 5 + 3), quint16(i % 5 + 1), QStringLiteral("v"));
        } catch (const ExcelError& e) {
            error = e.text();
            failedAt = i;
        }
    }
    QVERIFY(failedAt >= 300);
    QVERIFY2(failedAt <= 302, qPrintable(QString::number(failedAt)));
    QVERIFY(t.elapsed() < 5000);
    QCOMPARE(error, QStringLiteral("\"[FORMULA(\"v\", \"R%1C%2\")]\" not accepted by Excel")
                        .arg(failedAt / 5 + 3)
                        .arg(failedAt % 5 + 1));
    QVERIFY(!excel.Connected());
    QCOMPARE(closes, 1);

    StandIn second;
    QVERIFY(second.start());
    excel.Connect();
    QVERIFY(excel.Connected());
    QVERIFY(excel.IsReady());
    QCOMPARE(second.logLines().mid(0, 4), ConnectTraffic);
}

void TestExcelsLive::spreadsheetClosedByUser()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start());
    TAdvExcel excel;
    int closes = 0;
    excel.OnClose = [&](TCustomExcel*) { ++closes; };
    excel.Connect();
    QVERIFY(excelProgram.stop());
    // The close is seen while the application handles its events.
    QTRY_COMPARE_WITH_TIMEOUT(closes, 1, 5000);
    QVERIFY(!excel.Connected());
}

void TestExcelsLive::csvDumpOnExit()
{
    const QString file = testScratchDir() + QStringLiteral("/dump.csv");
    StandIn excelProgram;
    QVERIFY(excelProgram.start({QStringLiteral("--dump-on-exit"), file}));
    {
        TAdvExcel excel;
        excel.Connect();
        excel.PutStrAt(1, 1, QStringLiteral("These data are import from Pemdat.exe (5926)"));
        excel.PutStrAt(2, 1, QStringLiteral("Time"));
        excel.PutStrAt(2, 2, QStringLiteral("ppt"));
        excel.PutStrAt(3, 2, QStringLiteral("35,01"));
        excel.WaitForReady();
    }
    QVERIFY(excelProgram.stop());
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("These data are import from Pemdat.exe (5926),\n"
                                     "Time,ppt\n"
                                     ",\"35,01\"\n"));
}


namespace {
// Begins the end of the program once `ms` have passed in an event loop.
void quitAfter(int ms)
{
    QTimer::singleShot(ms, [] { SetProgramQuitting(true); });
}
} // namespace

void TestExcelsLive::quitEndsWaitsAndHandOvers()
{
    // The spreadsheet takes a minute per command: only the quit can end the
    // wait for "Ready".
    StandIn excelProgram;
    QVERIFY(excelProgram.start({QStringLiteral("--delay-ms"), QStringLiteral("60000")}));
    RecordingStarter starter;
    TAdvExcel excel;
    excel.Connect();
    QVERIFY(excel.Connected());
    excel.PutStrAt(1, 1, QStringLiteral("slow"));
    QElapsedTimer t;
    t.start();
    excel.OnWaiting = [&](TCustomExcel*) {
        if (t.elapsed() > 20000)
            throw ExcelError(QStringLiteral("the wait did not end"));
    };
    quitAfter(200);
    QCOMPARE(errorTextOf<ExcelError>([&] { excel.WaitForReady(); }), QString());
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));

    // Nothing more is handed over, asked for, opened or started.
    t.restart();
    QCOMPARE(errorTextOf<ExcelError>([&] { excel.PutStrAt(2, 1, QStringLiteral("x")); }),
             QStringLiteral("\"[FORMULA(\"x\", \"R2C1\")]\" not accepted by Excel"));
    QVERIFY(!excel.conversation().RequestData(QStringLiteral("Status")));
    QVERIFY(!excel.IsReady());
    TAdvExcel other;
    QCOMPARE(errorTextOf<ExcelError>([&] { other.Connect(); }),
             QStringLiteral("Excel could not be launched"));
    QVERIFY(starter.starts.isEmpty());
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(excelProgram.executes().size(), 3); // [ERROR(0)], [ERROR(1)], the cell
}

void TestExcelsLive::applicationExitEndsWait()
{
    // The application's loops told to end by anyone (QCoreApplication::exit,
    // not the main window's close) end a wait too, and the program counts
    // as ending from then on.
    StandIn excelProgram;
    QVERIFY(excelProgram.start({QStringLiteral("--delay-ms"), QStringLiteral("60000")}));
    TAdvExcel excel;
    excel.Connect();
    QVERIFY(excel.Connected());
    excel.PutStrAt(1, 1, QStringLiteral("slow"));
    QElapsedTimer t;
    excel.OnWaiting = [&](TCustomExcel*) {
        if (t.elapsed() > 20000)
            throw ExcelError(QStringLiteral("the wait did not end"));
    };
    bool quittingBefore = true;
    bool quittingAfter = false;
    QString error = QStringLiteral("the wait did not run");
    qint64 ms = -1;
    QTimer::singleShot(0, [&] {
        quittingBefore = ProgramQuitting();
        QTimer::singleShot(200, [] { QCoreApplication::exit(0); });
        t.start();
        error = errorTextOf<ExcelError>([&] { excel.WaitForReady(); });
        ms = t.elapsed();
        quittingAfter = ProgramQuitting();
    });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!quittingBefore);
    QCOMPARE(error, QString());
    QVERIFY2(ms >= 0 && ms < 5000, qPrintable(QString::number(ms)));
    QVERIFY(quittingAfter);
}

DSG_TEST_MAIN(TestExcelsLive)
#include "tst_excels_live.moc"
