// The program's Excel export, run from the main window, into a real
// LibreOffice Calc behind the stand-in spreadsheet: what lands in the active
// sheet (read back over a bridge of the test's own), numbers and times
// entered as such in an English and a German region, a second export over
// the same cells, the document the user brings to the front, the active
// cell, the stand-in started by the program, and LibreOffice killed, its
// document closed or not startable.
#include "AppWindows.h"
#include "CalcOffice.h"
#include "Dialogs.h"
#include "Excels.h"
#include "ExportTestSupport.h"
#include "Fmain.h"
#include "Fpross.h"
#include "RecordList.h"
#include "RegIniFile.h"
#include "ReadingText.h"
#include "RegionalSettings.h"
#include "ShownMainWindow.h"
#include "StatusBar.h"
#include "TestSupport.h"
#include "TypedInput.h"

#ifdef DSG_HAVE_CALC
#include "CalcProbe.h"
#endif

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTime>
#include <clocale>
#include <cmath>
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

    // `lang`: the region it runs in (LANG and LC_ALL); empty: the test's.
    explicit TestOffice(const QString& name, const QString& lang = {})
        : profile(testScratchDir() + u'/' + name)
    {
        if (!lang.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LANG"), lang);
            env.insert(QStringLiteral("LC_ALL"), lang);
            process.setProcessEnvironment(env);
        }
    }
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

// The C library knows the region: LibreOffice takes its own locale from it.
bool regionInstalled(const char* name)
{
    const locale_t l = ::newlocale(LC_ALL_MASK, name, locale_t(nullptr));
    if (!l)
        return false;
    ::freelocale(l);
    return true;
}

const char* const German = "de_DE.UTF-8";

// One reading as the meter gives it: the four values and their statuses.
struct Reading {
    QTime time;
    double value[4];
    std::int32_t status[4];
};

// Readings with numbers of every shape the cells take and a few error codes
// among them.
const QList<Reading> Readings{
    {QTime(5, 28, 22), {35.2, 53.4, 48.123456, 20.5}, {0, 0, 0, 0}},
    {QTime(0, 0, 0), {0.0, 0.0, 0.0, -0.04}, {0, 0, 0, 0}},
    {QTime(23, 59, 59), {34.96, 12.3456789, 9.87654, -2.5}, {0, 1, 0, 0}},
    {QTime(12, 0, 1), {35.0, 50.0, 40.0, 25.25}, {3, 0, 7, 9}},
    {QTime(17, 30, 0), {36.04, 51.2, 41.3, 19.9}, {2, 0, 0, 10}},
    {QTime(9, 5, 7), {1234.5, 0.001, 100.0, -12.0}, {0, 0, -1, 0}},
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
            rows.append({QTime(12, 0, 10).addSecs(i).toString(QStringLiteral("HH:mm:ss")).toLatin1(),
                         tag + QByteArray::number(i), "50.000000", "40,000000", "-2.5"});
        return rows;
    }
    bool startPeer(StandIn& peer, const QString& profile, const QStringList& extra = {})
    {
        return peer.start(QStringList{QStringLiteral("--calc"), QStringLiteral("--calc-profile"), profile}
                          + extra)
               || waitForServer(QStringLiteral("Excel"), 60000);
    }
#ifdef DSG_HAVE_CALC
    // Title, header and `rows` from row 3 on, in `document` (empty: the
    // first), entered as typed in an English region: "35.10" a number,
    // "12:00:10" a time, "40,000000" and "first 1" texts.
    void verifySheet(const QList<std::array<QByteArray, 5>>& rows, const QString& document = {})
    {
        // "Export Complete" comes before the last commands are carried out.
        Main->Aexcel->OnBeginWait = nullptr;
        Main->Aexcel->OnEndWait = nullptr;
        Main->Aexcel->WaitForReady();
        verifyCells(rows, document);
    }
    // `skip`: a cell (row, column) left out.
    void verifyCells(const QList<std::array<QByteArray, 5>>& rows, const QString& document,
                     std::pair<int, int> skip = {0, 0})
    {
        QCOMPARE(probe->cell(1, 1, document).kind, 'T');
        QCOMPARE(probe->cell(1, 1, document).text, Title);
        QCOMPARE(probe->cell(1, 2, document).kind, 'E');
        for (int c = 0; c < 5; ++c)
            QCOMPARE(probe->cell(2, c + 1, document).text, Header[c]);
        static const QRegularExpression clock(QStringLiteral(R"(^(\d\d):(\d\d):(\d\d)$)"));
        for (int i = 0; i < rows.size(); ++i) {
            for (int c = 0; c < 5; ++c) {
                if (std::pair(i + 3, c + 1) == skip)
                    continue;
                const CalcProbe::Cell cell = probe->cell(i + 3, c + 1, document);
                const QString text = QString::fromLatin1(rows[i][c]);
                const QString where = QStringLiteral("R%1C%2 %3").arg(i + 3).arg(c + 1).arg(text);
                bool isNumber = false;
                const double number = text.toDouble(&isNumber);
                if (const auto m = clock.match(text); m.hasMatch()) {
                    QVERIFY2(cell.kind == 'V' && cell.time, qPrintable(where));
                    QCOMPARE(qRound64(cell.value * 86400),
                             m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt());
                } else if (isNumber) {
                    QVERIFY2(cell.kind == 'V' && !cell.time, qPrintable(where));
                    QCOMPARE(cell.value, number);
                } else {
                    QVERIFY2(cell.kind == 'T', qPrintable(where));
                    QCOMPARE(cell.text, text);
                }
            }
        }
        QCOMPARE(probe->cell(2, 6, document).kind, 'E');
    }
    // The German office, started the first time a test needs it; nothing
    // when the system cannot run one (the test then skips).
    std::unique_ptr<TestOffice> germanOffice;
    std::unique_ptr<CalcProbe> germanProbe;
    QString startGermanOffice()
    {
        if (germanProbe)
            return {};
        if (!regionInstalled(German))
            return QStringLiteral("the de_DE.UTF-8 region is not installed (tools/install-deps.sh generates it)");
        germanOffice = std::make_unique<TestOffice>(QStringLiteral("lo-de"), QString::fromLatin1(German));
        profiles << germanOffice->profile;
        if (!germanOffice->start())
            return QStringLiteral("LibreOffice did not start");
        germanProbe = std::make_unique<CalcProbe>(germanOffice->pipe());
        QString why;
        if (!germanProbe->connect(60000, &why)) {
            germanProbe.reset();
            return why;
        }
        return {};
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
        germanProbe.reset();
        germanOffice.reset();
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
        excel.PutStrAt(0, 0, QStringLiteral("0012")); // C7, a number as typed
        excel.PutStrAt(0, 0, QStringLiteral("R2D2"));  // C8, a text
        excel.WaitForReady();
        excel.GetSelection(selection);
        QCOMPARE(selection, probe->documentAndSheet() + QStringLiteral("!R9C3"));
        QCOMPARE(probe->cell(5, 3).kind, 'V');
        QCOMPARE(probe->cell(5, 3).text, QStringLiteral("7"));
        QCOMPARE(probe->cell(6, 3).kind, 'F');
        QCOMPARE(probe->cell(7, 3).kind, 'V');
        QCOMPARE(probe->cell(7, 3).value, 12.0);
        QCOMPARE(probe->cell(8, 3).kind, 'T');
        QCOMPARE(probe->cell(8, 3).text, QStringLiteral("R2D2"));
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
        // A clean end, with what it bootstrapped let go of (a sanitizer
        // build ends with another code on a leak).
        QCOMPARE(peer.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(peer.process.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(processesNaming(profile).isEmpty(), 10000);
    }

    void typedReadingMatchesCalc_data()
    {
        QTest::addColumn<bool>("german");
        QTest::newRow("English region") << false;
        QTest::newRow("German region") << true;
    }

    // The stand-in reads each constant as the document's own number
    // formatter reads it in the document's region: a number (a time in
    // days) or, where the formatter sees none, text.
    void typedReadingMatchesCalc()
    {
        QFETCH(bool, german);
        CalcProbe* p = probe.get();
        typed::Region region; // LibreOffice's English region
        if (german) {
            if (const QString why = startGermanOffice(); !why.isEmpty())
                QSKIP(qPrintable(why));
            p = germanProbe.get();
            region = {u',', u'.', u':', u',', QStringLiteral("vorm."), QStringLiteral("nachm.")};
        }
        const QString document = p->newDocument();
        auto close = qScopeGuard([&] { p->closeDocument(document); });
        const QStringList texts{
            QStringLiteral("35.2"),      QStringLiteral("35,2"),        QStringLiteral("53.400000"),
            QStringLiteral("53,400000"), QStringLiteral("-2.5"),        QStringLiteral("-2,5"),
            QStringLiteral("+3"),        QStringLiteral("0.0"),         QStringLiteral("1e3"),
            QStringLiteral("1.5E+02"),   QStringLiteral("1,5E-02"),     QStringLiteral("1,234.5"),
            QStringLiteral("1.234,5"),   QStringLiteral("1,23"),        QStringLiteral("1,2345"),
            QStringLiteral("12,345,678"), QStringLiteral("1234,567"),   QStringLiteral("1.234"),
            QStringLiteral(".5"),        QStringLiteral("5."),          QStringLiteral(" 35.2 "),
            QStringLiteral("0012"),      QStringLiteral("12.3"),        QStringLiteral("05:28:22"),
            QStringLiteral("5:28:22 PM"), QStringLiteral("5:28:22pm"),  QStringLiteral("5:28:22 nachm."),
            QStringLiteral("12:00:00 AM"), QStringLiteral("0:01:02 AM"), QStringLiteral("17:28:22 PM"),
            QStringLiteral("5:28"),      QStringLiteral("1:2:3"),       QStringLiteral("25:00:00"),
            QStringLiteral("12:60:00"),  QStringLiteral("12:00:60"),    QStringLiteral("5:28:22.25"),
            QStringLiteral("5:28:22,25"), QStringLiteral("Er-1"),       QStringLiteral("Er10"),
            QStringLiteral("Ers:2"),     QStringLiteral("Ers:-1"),      QStringLiteral("Ers"),
            QStringLiteral("R2D2"),      QStringLiteral("-"),           QStringLiteral(""),
            QStringLiteral("1 234"),     QStringLiteral("35.2.1"),      QStringLiteral("e5"),
        };
        const QList<std::optional<double>> reference = p->formatterReads(texts, document);
        QCOMPARE(reference.size(), texts.size());
        // The reference is no English one in the German office.
        QCOMPARE(reference[1].has_value(), german);
        for (int i = 0; i < texts.size(); ++i) {
            const typed::Entry e = typed::read(texts[i], region);
            const QString what = QStringLiteral("\"%1\": %2 here, %3 in Calc")
                                     .arg(texts[i])
                                     .arg(e.kind == typed::Entry::Kind::Text ? QStringLiteral("text")
                                                                             : QString::number(e.value, 'g', 17))
                                     .arg(reference[i] ? QString::number(*reference[i], 'g', 17)
                                                       : QStringLiteral("text"));
            QVERIFY2((e.kind != typed::Entry::Kind::Text) == reference[i].has_value(), qPrintable(what));
            if (e.kind == typed::Entry::Kind::Number)
                QVERIFY2(e.value == *reference[i], qPrintable(what));
            else if (e.kind == typed::Entry::Kind::Time)
                QVERIFY2(std::abs(e.value - *reference[i]) < 1e-12, qPrintable(what));
        }
    }

    void exportEntersNumbersAndTimes_data()
    {
        QTest::addColumn<bool>("german");
        QTest::addColumn<QString>("timeFormat");
        QTest::newRow("24-hour clock") << false << QStringLiteral("HH:mm:ss");
        QTest::newRow("12-hour clock") << false << QStringLiteral("h:mm:ss AP");
        QTest::newRow("German region") << true << QString();
    }

    // Numbers arrive as numbers that SUM adds, times as times, error codes
    // and the title as texts: as the user would have typed them, in the
    // region of the program and of LibreOffice.
    void exportEntersNumbersAndTimes()
    {
        QFETCH(bool, german);
        QFETCH(QString, timeFormat);
        CalcProbe* p = probe.get();
        QString profile = office->profile;
        RegionalSettings region;
        region.decimalSeparator = u'.';
        region.longTimeFormat = timeFormat;
        QByteArray lang = qgetenv("LANG");
        QByteArray all = qgetenv("LC_ALL");
        auto restore = qScopeGuard([&] {
            qputenv("LANG", lang);
            qputenv("LC_ALL", all);
        });
        if (german) {
            if (const QString why = startGermanOffice(); !why.isEmpty())
                QSKIP(qPrintable(why));
            p = germanProbe.get();
            profile = germanOffice->profile;
            // What the program reads from the region at its start.
            region = RegionalSettings::fromLocale(QLocale(QLocale::German, QLocale::Germany));
            QCOMPARE(region.decimalSeparator, QChar(u','));
            // The stand-in runs in it too.
            qputenv("LANG", German);
            qputenv("LC_ALL", German);
        }
        RegionalSettings::fix(region);
        StandIn peer;
        QVERIFY(startPeer(peer, profile));
        qputenv("LANG", lang);
        qputenv("LC_ALL", all);

        const Quantity quantities[4] = {Quantity::Salinity, Quantity::CompConductivity,
                                        Quantity::UncompConductivity, Quantity::Temperature};
        QList<std::array<QByteArray, 5>> rows;
        for (const Reading& r : Readings) {
            std::array<QByteArray, 5> row;
            row[0] = timeOfDayText(r.time, region);
            for (int q = 0; q < 4; ++q)
                row[q + 1] = textsFor(quantities[q], r.value[q], r.status[q], region.decimalSeparator).cell;
            rows << row;
        }
        if (german)
            QCOMPARE(rows[0][1], QByteArray("35,2"));
        fill(rows);

        Main->Mu_Export_Excel->trigger();

        QCOMPARE(Main->Stpl->text(0), Complete);
        Main->Aexcel->WaitForReady();
        QCOMPARE(p->cell(1, 1).kind, 'T');
        QCOMPARE(p->cell(1, 1).text, Title);
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(p->cell(2, c + 1).kind, 'T');
            QCOMPARE(p->cell(2, c + 1).text, Header[c]);
        }
        double pptSum = 0;
        for (int i = 0; i < rows.size(); ++i) {
            const int r = i + 3;
            const CalcProbe::Cell time = p->cell(r, 1);
            QVERIFY2(time.kind == 'V' && time.time, qPrintable(QString::fromLatin1(rows[i][0])));
            QCOMPARE(qRound64(time.value * 86400), QTime(0, 0).secsTo(Readings[i].time));
            for (int q = 0; q < 4; ++q) {
                const QString text = QString::fromLatin1(rows[i][q + 1]);
                const CalcProbe::Cell cell = p->cell(r, q + 2);
                const QString where = QStringLiteral("R%1C%2 %3").arg(r).arg(q + 2).arg(text);
                if (Readings[i].status[q] != 0) {
                    QVERIFY2(cell.kind == 'T', qPrintable(where));
                    QCOMPARE(cell.text, text);
                    continue;
                }
                bool ok = false;
                const double value = QString(text).replace(region.decimalSeparator, u'.').toDouble(&ok);
                QVERIFY(ok);
                QVERIFY2(cell.kind == 'V' && !cell.time, qPrintable(where));
                QCOMPARE(cell.value, value);
                if (q == 0)
                    pptSum += value;
            }
        }
        // The user sums the ppt column under its last row.
        const int below = int(rows.size()) + 3;
        p->setFormula(below, 2, QStringLiteral("=SUM(B3:B%1)").arg(below - 1));
        auto clear = qScopeGuard([&] { p->setFormula(below, 2, QString()); });
        QCOMPARE(p->cell(below, 2).kind, 'F');
        QVERIFY(pptSum > 1000);
        QVERIFY2(std::abs(p->cell(below, 2).value - pptSum) < 1e-9,
                 qPrintable(QStringLiteral("%1 != %2").arg(p->cell(below, 2).value).arg(pptSum)));
    }

    // The export writes into the Calc document the user has in front, not
    // into the one it wrote into before: a second export, and one after the
    // program's restart with the stand-in still running. The other
    // documents keep their cells, the user's own among them.
    void exportFollowsActiveDocument()
    {
        QStringList opened;
        auto close = qScopeGuard([&] {
            for (const QString& d : opened)
                probe->closeDocument(d);
        });
        const int before = probe->documents();
        const QString first = probe->newDocument();
        opened << first;
        StandIn peer;
        QVERIFY(startPeer(peer, office->profile));
        const auto firstRows = someRows(8, "first ");
        fill(firstRows);
        Main->Mu_Export_Excel->trigger();
        QCOMPARE(Main->Stpl->text(0), Complete);
        verifySheet(firstRows, first);
        if (QTest::currentTestFailed())
            return;

        // The user types into A8 and opens a second document, which comes
        // to the front.
        probe->setText(8, 1, QStringLiteral("typed by hand"), first);
        const QString second = probe->newDocument();
        opened << second;
        QVERIFY(second != first);
        // The stand-in looks for the document in front at most every
        // quarter second while it writes.
        QTest::qWait(300);
        const auto secondRows = someRows(8, "second ");
        fill(secondRows);
        Main->Mu_Export_Excel->trigger();
        QCOMPARE(Main->Stpl->text(0), Complete);
        verifySheet(secondRows, second);
        if (QTest::currentTestFailed())
            return;
        // The conversation stayed open: the program sent no second probe.
        QCOMPARE(peer.logLines().count(QStringLiteral("request Selection")), 1);
        QCOMPARE(probe->cell(8, 1, first).text, QStringLiteral("typed by hand"));
        verifyCells(firstRows, first, {8, 1});
        if (QTest::currentTestFailed())
            return;

        // The program ends and starts again; the stand-in goes on. A third
        // document is in front.
        DestroyWindows();
        CreateWindows(*meter);
        showMainWindowOnCom1();
        const QString third = probe->newDocument();
        opened << third;
        const auto thirdRows = someRows(3, "third ");
        fill(thirdRows);
        Main->Mu_Export_Excel->trigger();
        QCOMPARE(Main->Stpl->text(0), Complete);
        verifySheet(thirdRows, third);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(peer.logLines().count(QStringLiteral("request Selection")), 2);
        verifyCells(secondRows, second);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(probe->cell(8, 1, first).text, QStringLiteral("typed by hand"));
        verifyCells(firstRows, first, {8, 1});

        // No Calc document in front (a LibreOffice window of another kind):
        // the export stays with the Calc document written into last.
        probe->showEmptyWindow();
        auto closeWindow = qScopeGuard([&] { probe->closeEmptyWindow(); });
        QTest::qWait(300);
        const auto fourthRows = someRows(2, "fourth ");
        fill(fourthRows);
        Main->Mu_Export_Excel->trigger();
        QCOMPARE(Main->Stpl->text(0), Complete);
        verifySheet(fourthRows, third);
        QCOMPARE(probe->cell(5, 2, third).text, QStringLiteral("third 2"));
        QCOMPARE(probe->documents(), before + 3); // none made by the stand-in
        QVERIFY(peer.logLines().filter(QStringLiteral("failed")).isEmpty());
    }
#endif
};

DSG_TEST_MAIN(TestCalc)
#include "tst_calc.moc"
