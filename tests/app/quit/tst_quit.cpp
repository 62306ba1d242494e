// Ending the program: closing the main window while an Excel export waits
// for a slow spreadsheet, and the system's termination requests (signals;
// on Windows console events and the session's end) in a recording, in an
// export's wait and behind a modal dialog. The program runs as a process of
// its own: this test starts itself again with "--program <scenario>", which
// runs the program's entry (the one main() runs) and lets the scenario drive
// the windows from inside, reporting its steps on standard output.
#include "Dialogs.h"
#include "Fabout.h"
#include "Fmain.h"
#include "Fsetform.h"
#include "Program.h"
#include "RecordList.h"
#include "StandIn.h"
#include "StoreFixtures.h"
#include "TestSupport.h"
#include "Termination.h"
#include "Excels.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

namespace {

// ------------------------------------------------------------- the program

void say(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Message boxes are reported and answered at once; the program's own modal
// dialogs run for real, so that a modal loop is open.
class ReportingDialogs final : public Dialogs {
public:
    Answer message(QWidget*, const QString& title, const QString& text, Icon, Buttons) override
    {
        say("box " + title.toUtf8() + ": " + text.toUtf8());
        return Answer::Ok;
    }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    int execModal(QDialog& dialog) override { return dialog.exec(); }
};

void whenMainWindowIsUp(const std::function<void()>& step)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, step] {
        if (!Main || !Main->isVisible() || QApplication::activeModalWidget())
            return;
        poll->deleteLater();
        poll->stop();
        step();
    });
    poll->start(10);
}

void whenModalIsOpen(const std::function<QWidget*()>& dialog)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, dialog] {
        if (!dialog() || QApplication::activeModalWidget() != dialog())
            return;
        poll->stop();
        poll->deleteLater();
        say("modal");
    });
    poll->start(10);
}

// Fills the list with `rows` records and starts the Excel export from the
// menu; reports "waiting" when the component begins its first wait for the
// spreadsheet, then closes the main window as `how` says ("signal": the
// test sends one).
void exportThen(const QString& how, int rows)
{
    for (int i = 0; i < rows; ++i)
        Main->Records->appendRow(QByteArray("12:00:") + QByteArray::number(i),
                                 {"35.01", "53.20", "48.70", "21.5"});
    const TExcelNotifyEvent begin = Main->Aexcel->OnBeginWait;
    Main->Aexcel->OnBeginWait = [begin, how, first = true](TCustomExcel* sender) mutable {
        begin(sender);
        if (!first)
            return;
        first = false;
        say("waiting");
        if (how == QLatin1String("signal"))
            return;
        QTimer::singleShot(200, qApp, [how] {
            say("closing");
            if (how == QLatin1String("close box"))
                Main->close();
            else if (how == QLatin1String("Exit"))
                Main->BitBtn7->click();
            else
                Main->Mu_Exit->trigger();
        });
    };
    QTimer::singleShot(0, Main->Mu_Export_Excel, &QAction::trigger);
}

int runProgram(int argc, char** argv, const QString& scenario)
{
    ReportingDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    const int code = ProgramMain(argc, argv, [scenario] {
        if (scenario.startsWith(QLatin1String("export "))) {
            whenMainWindowIsUp([scenario] { exportThen(scenario.mid(7), 200); });
        } else if (scenario == QLatin1String("recording")) {
            whenMainWindowIsUp([] {
                Main->BitBtn1->click();
                auto* poll = new QTimer(qApp);
                QObject::connect(poll, &QTimer::timeout, poll, [poll] {
                    if (Main->Records->rowCount() < 2)
                        return;
                    poll->stop();
                    say("recording");
                });
                poll->start(10);
            });
        } else if (scenario == QLatin1String("about")) {
            whenMainWindowIsUp([] {
                QTimer::singleShot(0, Main->Mu_about, &QAction::trigger);
                whenModalIsOpen([] { return static_cast<QWidget*>(About); });
            });
        } else if (scenario == QLatin1String("first run")) {
            whenModalIsOpen([] { return static_cast<QWidget*>(Setform); });
            whenMainWindowIsUp([] { say("main window shown"); });
        }
    });
    Dialogs::setInstance(nullptr);
    say("ended " + QByteArray::number(code));
    return code;
}

// ---------------------------------------------------------------- the test

// The program's process, in a working folder of its own with the stand-in
// driver (a simulated meter on COM1).
class Program {
public:
    bool start(const QString& scenario)
    {
        if (!work.isValid()
            || !QFile::copy(qEnvironmentVariable("DSG_BIN_DIR") + QStringLiteral("/trovport.dll"),
                            work.filePath(QStringLiteral("trovport.dll"))))
            return false;
        process.setWorkingDirectory(work.path());
        process.setProgram(QCoreApplication::applicationFilePath());
        process.setArguments({QStringLiteral("--program"), scenario});
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setReadChannel(QProcess::StandardOutput);
        termination::prepare(process);
        process.start();
        return process.waitForStarted(5000);
    }
    // Waits for the line; false when the program ended or `ms` passed.
    bool waitFor(const QByteArray& line, int ms = 30000)
    {
        const QDeadlineTimer deadline(ms);
        for (;;) {
            while (process.canReadLine()) {
                const QByteArray l = process.readLine().trimmed();
                lines << l;
                if (l == line)
                    return true;
            }
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            pumpUntil(&QProcess::readyReadStandardOutput, deadline.remainingTime());
        }
    }
    // Milliseconds until the process ended; -1 when it runs on after `ms`.
    qint64 msUntilEnd(int ms)
    {
        QElapsedTimer t;
        t.start();
        const QDeadlineTimer deadline(ms);
        while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            pumpUntil(&QProcess::finished, deadline.remainingTime());
        if (process.state() != QProcess::NotRunning)
            return -1;
        const qint64 elapsed = t.elapsed();
        for (const QByteArray& l : process.readAllStandardOutput().split('\n'))
            if (!l.trimmed().isEmpty())
                lines << l.trimmed();
        return elapsed;
    }
    QList<QByteArray> linesAfter(const QByteArray& line) const
    {
        const qsizetype i = lines.indexOf(line);
        return i < 0 ? QList<QByteArray>() : lines.mid(i + 1);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QTemporaryDir work;
    QProcess process;
    QList<QByteArray> lines;

private:
    // Waits with this process's own windows answering messages: on Windows
    // a program opening a DDE conversation asks every top-level window on
    // the desktop, and waits for each to answer, this test's too.
    template <class Signal>
    void pumpUntil(Signal signal, qint64 ms)
    {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&process, signal, &loop, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        timer.start(int(qBound(qint64(1), ms, qint64(60000))));
        loop.exec();
    }
};

const QByteArray StoredSettings("[Device]\nPort=1\nSpeed=4800\nRT=1\n");

} // namespace

class TestQuit : public QObject {
    Q_OBJECT
private slots:
    void init();
    void closeDuringExportWait_data();
    void closeDuringExportWait();
    void signalEndsProgram_data();
    void signalEndsProgram();
};

void TestQuit::init()
{
    QVERIFY(storefix::writeStore(StoredSettings));
}

void TestQuit::closeDuringExportWait_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close box") << QStringLiteral("close box");
    QTest::newRow("Exit") << QStringLiteral("Exit");
    QTest::newRow("Exit system") << QStringLiteral("Exit system");
}

void TestQuit::closeDuringExportWait()
{
    QFETCH(QString, how);
    // 2 + 6 + 5 x 200 commands at 100 ms each: the export's first wait for
    // "Ready", before its 128th command, would last about 13 s.
    StandIn spreadsheet;
    QVERIFY(spreadsheet.start({QStringLiteral("--delay-ms"), QStringLiteral("100")}));
    Program program;
    QVERIFY(program.start(QStringLiteral("export ") + how));
    QVERIFY2(program.waitFor("waiting"), program.lines.join('\n').constData());
    QVERIFY(program.waitFor("closing", 5000));

    const qint64 ms = program.msUntilEnd(20000);
    QVERIFY2(ms >= 0, "the program went on after its main window was closed");
    QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    // The export was dropped without a word, and the spreadsheet it talked
    // to is an outside program that goes on.
    QCOMPARE(program.linesAfter("closing"), QList<QByteArray>{"ended 0"});
    QVERIFY(spreadsheet.executes().size() < 300);
    QCOMPARE(spreadsheet.process.state(), QProcess::Running);
}

void TestQuit::signalEndsProgram_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QByteArray>("ready");
    QTest::addColumn<int>("sig");
    const QList<termination::Kind> kinds = termination::kinds();
    for (const termination::Kind& kind : kinds)
        QTest::addRow("%s in a recording", qPrintable(kind.name))
            << "recording" << QByteArray("recording") << kind.code;
    const termination::Kind& first = kinds.constFirst();
    QTest::addRow("%s in an export's wait", qPrintable(first.name))
        << "export signal" << QByteArray("waiting") << first.code;
    QTest::addRow("%s behind the About box", qPrintable(first.name))
        << "about" << QByteArray("modal") << first.code;
    QTest::addRow("%s in the first run's Setup", qPrintable(first.name))
        << "first run" << QByteArray("modal") << first.code;
}

void TestQuit::signalEndsProgram()
{
    QFETCH(QString, scenario);
    QFETCH(QByteArray, ready);
    QFETCH(int, sig);
    const bool firstRun = scenario == QLatin1String("first run");
    if (firstRun)
        storefix::removeStore();
    StandIn spreadsheet;
    if (scenario.startsWith(QLatin1String("export")))
        QVERIFY(spreadsheet.start({QStringLiteral("--delay-ms"), QStringLiteral("100")}));

    Program program;
    QVERIFY(program.start(scenario));
    QVERIFY2(program.waitFor(ready), program.lines.join('\n').constData());
    QVERIFY(termination::send(program.process, sig));

    const qint64 ms = program.msUntilEnd(20000);
    QVERIFY2(ms >= 0, "the signal did not end the program");
    QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    QCOMPARE(program.linesAfter(ready), QList<QByteArray>{"ended 0"});
    if (firstRun) // ended in the dialog: nothing was saved, no window shown
        QVERIFY(!storefix::readStore().contains("Device"));
}

int main(int argc, char** argv)
{
    if (argc > 2 && qstrcmp(argv[1], "--program") == 0)
        return runProgram(argc, argv, QString::fromLocal8Bit(argv[2]));
    isolateTestEnvironment();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Dsg5926"));
    InstallFontSubstitutions();
    TestQuit tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_quit.moc"
