// The program's Excel export, run from the main window, into a real
// LibreOffice Calc behind the stand-in spreadsheet: what lands in the active
// sheet (read back over a bridge of the test's own), a second export over
// the same cells, the active cell, the stand-in started by the program, and
// LibreOffice killed, its document closed or not startable.
#include "AppWindows.h"
#include "CalcOffice.h"
#include "Dialogs.h"
#include "Excels.h"
#include "ExportTestSupport.h"
#include "Fmain.h"
#include "Fpross.h"
#include "RecordList.h"
#include "RegIniFile.h"
#include "RegionalSettings.h"
#include "ShownMainWindow.h"
#include "StatusBar.h"
#include "TestSupport.h"

#ifdef DSG_HAVE_CALC
#include "CalcProbe.h"
#endif

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <fcntl.h>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

const QString Complete = QStringLiteral("Export Complete");
const QString NotFound = QStringLiteral("Sorry ,Can't Find Excel Program,Procedure abort!");
const QString Title = QStringLiteral("These data are import from Pemdat.exe (5926)");
const QStringList Header{QStringLiteral("Time"), QStringLiteral("ppt"),
                         QStringLiteral("Compensated Conductivity"),
                         QStringLiteral("UnCompensated Conductivity"), QStringLiteral("Temp")};

class SteadyMeter final : public MeterDriver {
public:
    bool OpenMeterPort(int, int, THandle& handle) override
    {
        handle = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        return handle >= 0;
    }
    void ReadSalinity(THandle, int, MeasuredValue& v) override { v = {35.0, 0, 0}; }
    void ReadCompensatedConductivity(THandle, int, MeasuredValue& v) override { v = {0.05, 0, 0}; }
    void ReadUncompensatedConductivity(THandle, int, MeasuredValue& v) override { v = {0.04, 0, 0}; }
    void ReadTemperature(THandle, int, MeasuredValue& v) override { v = {20.5, 0, 0}; }
};

#ifdef DSG_HAVE_CALC
// LibreOffice processes that run on `profile` (a test's own folder).
QList<qint64> processesNaming(const QString& profile)
{
    QList<qint64> pids;
    const QByteArray n = "UserInstallation=file://" + QDir(profile).absolutePath().toUtf8();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(n))
            pids << pid;
    }
    return pids;
}

// A headless LibreOffice of the test's own: a temporary profile, the pipe
// the stand-in derives from it, a process group of its own so that all of
// it can be ended.
struct TestOffice {
    QString profile;
    QProcess process;

    explicit TestOffice(const QString& name) : profile(testScratchDir() + u'/' + name) {}
    ~TestOffice() { kill(); }
    QString pipe() const { return CalcOffice::pipeName(profile); }
    bool start()
    {
        CalcOffice office({CalcOffice::findProgram(), profile, true});
        process.setProgram(CalcOffice::findProgram());
        process.setArguments(office.arguments());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.setChildProcessModifier([] { ::setsid(); });
        process.start();
        return process.waitForStarted(10000);
    }
    void kill()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        // The office first, so that its launcher reaps it; then the rest.
        const pid_t group = pid_t(process.processId());
        for (qint64 pid : CalcOffice::childrenOf(group))
            ::kill(pid_t(pid), SIGKILL);
        if (!process.waitForFinished(10000))
            ::kill(-group, SIGKILL);
        process.waitForFinished(10000);
        ::kill(-group, SIGKILL);
    }
};

#endif

} // namespace

class TestCalc : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingDialogs> dialogs;
    std::unique_ptr<SteadyMeter> meter;
#ifdef DSG_HAVE_CALC
    std::unique_ptr<TestOffice> office;
    std::unique_ptr<CalcProbe> probe;
#endif
    QStringList profiles; // every profile a LibreOffice ran on

    void fill(const QList<std::array<QByteArray, 5>>& rows)
    {
        Main->Records->clear();
        for (const auto& r : rows)
            Main->Records->appendRow(r[0], {r[1], r[2], r[3], r[4]});
    }
    QList<std::array<QByteArray, 5>> someRows(int n, const QByteArray& tag)
    {
        QList<std::array<QByteArray, 5>> rows;
        for (int i = 0; i < n; ++i)
            rows.append({QByteArray("12:00:") + QByteArray::number(10 + i), tag + QByteArray::number(i),
                         "50.000000", "40,000000", "-2.5"});
        return rows;
    }
    bool startPeer(StandIn& peer, const QString& profile, const QStringList& extra = {})
    {
        return peer.start(QStringList{QStringLiteral("--calc"), QStringLiteral("--calc-profile"), profile}
                          + extra)
               || waitForServer(QStringLiteral("Excel"), 60000);
    }
#ifdef DSG_HAVE_CALC
    // Title, header and `rows` from row 3 on, every one a text cell.
    void verifySheet(const QList<std::array<QByteArray, 5>>& rows)
    {
        // "Export Complete" comes before the last commands are carried out.
        Main->Aexcel->OnBeginWait = nullptr;
        Main->Aexcel->OnEndWait = nullptr;
        Main->Aexcel->WaitForReady();
        QCOMPARE(probe->cell(1, 1).kind, 'T');
        QCOMPARE(probe->cell(1, 1).text, Title);
        QCOMPARE(probe->cell(1, 2).kind, 'E');
        for (int c = 0; c < 5; ++c)
            QCOMPARE(probe->cell(2, c + 1).text, Header[c]);
        for (int i = 0; i < rows.size(); ++i) {
            for (int c = 0; c < 5; ++c) {
                const CalcProbe::Cell cell = probe->cell(i + 3, c + 1);
                QVERIFY2(cell.kind == 'T', qPrintable(QStringLiteral("R%1C%2").arg(i + 3).arg(c + 1)));
                QCOMPARE(cell.text, QString::fromLatin1(rows[i][c]));
            }
        }
        QCOMPARE(probe->cell(2, 6).kind, 'E');
    }
#endif
    // Runs `atWait` at the `n`-th forced wait of the component.
    void atNthWait(int n, std::function<void()> atWait, int* waits)
    {
        const TExcelNotifyEvent begin = Main->Aexcel->OnBeginWait;
        Main->Aexcel->OnBeginWait = [begin, n, atWait, waits](TCustomExcel* s) {
            begin(s);
            if (++*waits == n)
                atWait();
        };
    }

private slots:
    void initTestCase()
    {
#ifndef DSG_HAVE_CALC
        QSKIP("the stand-in spreadsheet was built without LibreOffice's SDK (libreoffice-dev)");
#else
        if (CalcOffice::findProgram().isEmpty())
            QSKIP("LibreOffice is not installed (no soffice on the search path)");
        office = std::make_unique<TestOffice>(QStringLiteral("lo-shared"));
        profiles << office->profile;
        QVERIFY(office->start());
        probe = std::make_unique<CalcProbe>(office->pipe());
        QString why;
        QVERIFY2(probe->connect(60000, &why), qPrintable(why));
#endif
    }
    void cleanupTestCase()
    {
#ifdef DSG_HAVE_CALC
        probe.reset();
        office.reset();
        // No LibreOffice of this test may outlive it.
        for (const QString& p : profiles) {
            QElapsedTimer t;
            t.start();
            while (!processesNaming(p).isEmpty() && t.elapsed() < 10000)
                QTest::qWait(100);
            const QList<qint64> left = processesNaming(p);
            for (qint64 pid : left)
                ::kill(pid_t(pid), SIGKILL); // this test's own, and a failure
            QVERIFY2(left.isEmpty(), qPrintable(p));
        }
#endif
    }
    void init()
    {
        QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
        fixPlainRegion();
        dialogs = std::make_unique<RecordingDialogs>();
        meter = std::make_unique<SteadyMeter>();
        CreateWindows(*meter);
        showMainWindowOnCom1();
        dialogs->shown.clear();
    }
    void cleanup()
    {
        DestroyWindows();
        dialogs.reset();
        meter.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!waitForServer(QStringLiteral("Excel"), 0), 10000);
    }

#ifdef DSG_HAVE_CALC
    void exportLandsInActiveSheet()
    {
        StandIn peer;
        QVERIFY(startPeer(peer, office->profile));
        auto rows = someRows(300, "35.");
        rows[7][1] = "say \"hi\""; // a text with a double quote inside
        fill(rows);
        int waits = 0;
        qint64 waitedMs = 0;
        QElapsedTimer waitClock;
        const TExcelNotifyEvent begin = Main->Aexcel->OnBeginWait;
        const TExcelNotifyEvent end = Main->Aexcel->OnEndWait;
        Main->Aexcel->OnBeginWait = [&, begin](TCustomExcel* s) {
            begin(s);
            ++waits;
            waitClock.start();
        };
        Main->Aexcel->OnEndWait = [&, end](TCustomExcel* s) {
            waitedMs += waitClock.elapsed();
            end(s);
        };

        Main->Mu_Export_Excel->trigger();

        QCOMPARE(Main->Stpl->text(0), Complete);
        // While Calc works, a "Status" is answered when it is done (or
        // after a while), so the waiting client asks a few times, not
        // once per round trip.
        const int polls = int(peer.logLines().count(QStringLiteral("request Status")));
        QVERIFY(waits >= 10);
        QVERIFY2(polls <= 2 * waits + waitedMs / 40,
                 qPrintable(QStringLiteral("%1 polls in %2 waits of %3 ms").arg(polls).arg(waits).arg(waitedMs)));
        QVERIFY(dialogs->shown.isEmpty());
        // The selection came back in the form the component reads.
        QCOMPARE(Main->Aexcel->RowLetter(), 'R');
        QCOMPARE(Main->Aexcel->ColLetter(), 'C');
        QCOMPARE(probe->documents(), 1);
        verifySheet(rows);
        QCOMPARE(probe->cell(7 + 3, 2).text, QStringLiteral("say \"hi\""));
        QCOMPARE(probe->cell(rows.size() + 3, 1).kind, 'E');
        QVERIFY(peer.logLines().filter(QStringLiteral("failed")).isEmpty());
    }

    void secondExportOverwrites()
    {
        StandIn peer;
        QVERIFY(startPeer(peer, office->profile));
        fill(someRows(4, "first "));
        Main->Mu_Export_Excel->trigger();
        QCOMPARE(Main->Stpl->text(0), Complete);
        const auto second = someRows(3, "second ");
        fill(second);
        Main->Stpl->setText(0, QString());

        Main->Mu_Export_Excel->trigger();

        QCOMPARE(Main->Stpl->text(0), Complete);
        verifySheet(second);
        // Nothing is cleared: the first export's last row stays.
        QCOMPARE(probe->cell(6, 2).text, QStringLiteral("first 3"));
        // The second export found the conversation open: no second probe.
        QCOMPARE(peer.logLines().count(QStringLiteral("request Selection")), 1);
        QCOMPARE(probe->documents(), 1);
    }

    void activeCellFollowsCalc()
    {
        StandIn peer;
        QVERIFY(startPeer(peer, office->profile));
        probe->select(5, 3); // the user clicks C5
        TAdvExcel excel;
        excel.Connect();
        QVERIFY(excel.Connected());
        QString selection;
        excel.GetSelection(selection);
        QCOMPARE(selection, probe->documentAndSheet() + QStringLiteral("!R5C3"));
        excel.Put(QStringLiteral("7"));        // into C5, then one row down
        excel.Put(QStringLiteral("=C5*2"));    // C6
        excel.PutStrAt(0, 0, QStringLiteral("0012")); // C7, a text
        excel.WaitForReady();
        excel.GetSelection(selection);
        QCOMPARE(selection, probe->documentAndSheet() + QStringLiteral("!R8C3"));
        QCOMPARE(probe->cell(5, 3).kind, 'V');
        QCOMPARE(probe->cell(5, 3).text, QStringLiteral("7"));
        QCOMPARE(probe->cell(6, 3).kind, 'F');
        QCOMPARE(probe->cell(7, 3).kind, 'T');
        QCOMPARE(probe->cell(7, 3).text, QStringLiteral("0012"));
        probe->select(1, 1);
    }

    void programStartsCalcByDefault()
    {
        // The program finds no server and starts Excel itself, with no
        // option: where LibreOffice is installed that is the Calc backend.
        const QByteArray backend = qgetenv("DSG_EXCEL_BACKEND");
        qunsetenv("DSG_EXCEL_BACKEND");
        qputenv("DSG_CALC_PROFILE", office->profile.toUtf8());
        auto restore = qScopeGuard([&] {
            qputenv("DSG_EXCEL_BACKEND", backend);
            qunsetenv("DSG_CALC_PROFILE");
        });
        const auto rows = someRows(2, "started ");
        fill(rows);

        Main->Mu_Export_Excel->trigger();

        QCOMPARE(Main->Stpl->text(0), Complete);
        verifySheet(rows);
        Main->Aexcel->Exec(QStringLiteral("[QUIT()]")); // it was started detached
    }

    void faultEndsExport_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("LibreOffice killed") << true;
        QTest::newRow("document closed") << false;
    }

    void faultEndsExport()
    {
        QFETCH(bool, kill);
        std::unique_ptr<TestOffice> own;
        std::unique_ptr<CalcProbe> ownProbe;
        CalcProbe* p = probe.get();
        QString profile = office->profile;
        if (kill) {
            own = std::make_unique<TestOffice>(QStringLiteral("lo-killed"));
            profiles << own->profile;
            QVERIFY(own->start());
            ownProbe = std::make_unique<CalcProbe>(own->pipe());
            QString why;
            QVERIFY2(ownProbe->connect(60000, &why), qPrintable(why));
            p = ownProbe.get();
            profile = own->profile;
        }
        StandIn peer;
        QVERIFY(startPeer(peer, profile));
        fill(someRows(2000, "v"));
        QElapsedTimer sinceFault;
        int waits = 0;
        // The third forced wait falls in the row loop.
        atNthWait(3, [&] {
            if (kill)
                own->kill();
            else
                QVERIFY(p->closeDocument());
            sinceFault.start();
        }, &waits);

        Main->Mu_Export_Excel->trigger();

        QVERIFY(sinceFault.isValid());
        QVERIFY2(sinceFault.elapsed() < 10000, qPrintable(QString::number(sinceFault.elapsed())));
        QCOMPARE(dialogs->shown.size(), 1);
        const RecordingDialogs::Shown report = dialogs->shown.first();
        QCOMPARE(report.title, applicationTitle());
        QCOMPARE(report.icon, Dialogs::Icon::Stop);
        static const QRegularExpression notAccepted(
            QStringLiteral("^\"\\[FORMULA\\(\"[^\"]*\", \"R(\\d+)C([1-5])\"\\)\\]\" not accepted by Excel\\.$"));
        QVERIFY2(notAccepted.match(report.text).hasMatch(), qPrintable(report.text));
        QVERIFY(!Main->Aexcel->Connected());
        QVERIFY(process == nullptr);
        QCOMPARE(Main->cursor().shape(), Qt::ArrowCursor);
        // The stand-in has ended with its sheet.
        if (peer.process.state() != QProcess::NotRunning)
            QVERIFY(peer.process.waitForFinished(10000));
        QCOMPARE(peer.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(peer.process.exitCode(), 3);
    }

    void unstartableLibreOfficeIsRefused()
    {
        // A LibreOffice that fails at once, on a profile no LibreOffice runs on.
        qputenv("DSG_SOFFICE", "/bin/false");
        auto restore = qScopeGuard([] { qunsetenv("DSG_SOFFICE"); });
        StandIn peer;
        QVERIFY(startPeer(peer, testScratchDir() + QStringLiteral("/lo-none")));
        RefusingStarter starter;
        fill(someRows(1, "x"));
        QElapsedTimer t;
        t.start();

        Main->Mu_Export_Excel->trigger();

        QCOMPARE(Main->Stpl->text(0), NotFound);
        QVERIFY(t.elapsed() < 10000);
        QVERIFY(dialogs->messageTexts().isEmpty());
        QVERIFY(peer.logLines().contains(QStringLiteral("connect System")));
        QVERIFY(peer.executes().isEmpty());
    }

    void peerEndsTheLibreOfficeItStarted()
    {
        const QString profile = testScratchDir() + QStringLiteral("/lo-peer");
        profiles << profile;
        StandIn peer;
        // Ended cleanly on every way out: a killed stand-in could not end
        // its LibreOffice.
        auto stop = qScopeGuard([&] { peer.stop(); });
        QVERIFY(startPeer(peer, profile));
        QVERIFY(!processesNaming(profile).isEmpty());
        const auto rows = someRows(3, "own ");
        fill(rows);
        Main->Mu_Export_Excel->trigger();
        QCOMPARE(Main->Stpl->text(0), Complete);
        Main->Aexcel->WaitForReady();
        {
            CalcProbe own(CalcOffice::pipeName(profile));
            QString why;
            QVERIFY2(own.connect(10000, &why), qPrintable(why));
            QCOMPARE(own.cell(3 + 2, 2).text, QStringLiteral("own 2"));
        }
        QVERIFY(peer.stop());
        QTRY_VERIFY_WITH_TIMEOUT(processesNaming(profile).isEmpty(), 10000);
    }
#endif
};

DSG_TEST_MAIN(TestCalc)
#include "tst_calc.moc"
