// The stand-in meter driver: configuration and script parsing, the sea-water
// model, and the exported functions' behaviour at its edges.
#include "PortConfig.h"
#include "ReadingScript.h"
#include "SeaWater.h"
#include "TestSupport.h"
#include "TrovportStatus.h"
#include "trovport_abi.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace trovport;

Q_DECLARE_METATYPE(trovport::PortKind)

namespace {

void writeFile(const QString& name, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(name).absolutePath());
    QFile file(name);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(name));
    file.write(content);
}

const char* kindName(PortKind kind)
{
    switch (kind) {
    case PortKind::Absent: return "absent";
    case PortKind::Simulated: return "simulated";
    case PortKind::Script: return "script";
    case PortKind::Windows: return "windows";
    }
    return "?";
}

// "simulated|absent|script:a.csv|absent" for the four ports.
QString describe(const PortTable& table)
{
    QStringList parts;
    for (const PortSetup& p : table) {
        QString text = QString::fromLatin1(kindName(p.kind));
        if (p.kind == PortKind::Script)
            text += ':' + QString::fromStdString(p.scriptPath);
        parts << text;
    }
    return parts.join('|');
}

// Unblocks a reader stuck in a blocking open of one of `fifos` once `delay`
// has passed, so a driver that would hang fails the test instead.
class FifoWatchdog {
public:
    FifoWatchdog(QStringList fifos, std::chrono::milliseconds delay)
        : thread_([this, fifos, delay] {
              std::unique_lock lock(mutex_);
              if (wake_.wait_for(lock, delay, [this] { return done_; }))
                  return;
              fired_ = true;
              const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
              while (!done_ && std::chrono::steady_clock::now() < giveUp) {
                  for (const QString& fifo : fifos) {
                      // Succeeds only while someone waits to read.
                      const int fd = ::open(QFile::encodeName(fifo).constData(),
                                            O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                      if (fd >= 0)
                          ::close(fd);
                  }
                  wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return done_; });
              }
          })
    {
    }
    ~FifoWatchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    bool fired() const { return fired_; }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

// A file of `size` bytes that starts with `head`; the rest is a hole.
void writeSparseFile(const QString& name, const QByteArray& head, qint64 size)
{
    writeFile(name, head);
    QFile file(name);
    QVERIFY(file.resize(size));
}

} // namespace

class TestTrovport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void portConfig_data();
    void portConfig();
    void portConfigWarnsAboutWhatItSkips();

    void scriptParses();
    void scriptRejected_data();
    void scriptRejected();

    void pss78KnownPoints();
    void pss78RoundTrip();
    void simulatedMeterDriftsSlowlyAndStaysConsistent();

    void unknownHandleGivesPortNotOpen();
    void closedHandleIsNotReadEvenWhenItsNumberIsReused();
    void wrongModelIsRefused();
    void scriptAdvancesPerHandleAfterTemperature();
    void scriptPathIsRelativeToWorkingFolder();
    void unusableScriptFailsToOpen_data();
    void unusableScriptFailsToOpen();
    void hostileFileFailsToOpenAtOnce_data();
    void hostileFileFailsToOpenAtOnce();
    void fileSizeLimits();
    void noExceptionLeavesTheLibrary();

private:
    QString originalDir_;
    std::unique_ptr<QTemporaryDir> work_;
    QLibrary library_;
    OpenMeterPortFn open_ = nullptr;
    ReadMeasurementFn read_[4] = {};
};

void TestTrovport::initTestCase()
{
    originalDir_ = QDir::currentPath();
    library_.setFileName(qEnvironmentVariable("DSG_BIN_DIR") + "/trovport.dll");
    QVERIFY2(library_.load(), qPrintable(library_.errorString()));
    open_ = reinterpret_cast<OpenMeterPortFn>(library_.resolve(TROVPORT_OPEN_METER_PORT));
    const char* names[4] = {TROVPORT_READ_SALINITY, TROVPORT_READ_COMPENSATED,
                            TROVPORT_READ_UNCOMPENSATED, TROVPORT_READ_TEMPERATURE};
    for (int i = 0; i < 4; ++i) {
        read_[i] = reinterpret_cast<ReadMeasurementFn>(library_.resolve(names[i]));
        QVERIFY(read_[i]);
    }
    QVERIFY(open_);
}

void TestTrovport::init()
{
    work_ = std::make_unique<QTemporaryDir>();
    QVERIFY(work_->isValid());
    QVERIFY(QDir::setCurrent(work_->path()));
}

void TestTrovport::cleanup()
{
    QDir::setCurrent(originalDir_);
    work_.reset();
}

void TestTrovport::portConfig_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty file keeps defaults") << QByteArray() << "simulated|absent|absent|absent";
    QTest::newRow("all four")
        << QByteArray("[Ports]\nCOM1=absent\nCOM2=simulated\nCOM3=script a.csv\nCOM4=absent\n")
        << "absent|simulated|script:a.csv|absent";
    QTest::newRow("case, blanks, CRLF, comments")
        << QByteArray("; bench set-up\r\n# COM1=absent\r\n  com3 =  Script ,  data/run 1.csv  \r\n"
                      "Com4=SIMULATED\r\n")
        << "simulated|absent|script:data/run 1.csv|simulated";
    QTest::newRow("quoted path") << QByteArray("COM2=script \"my runs/a.csv\"\n")
                                 << "simulated|script:my runs/a.csv|absent|absent";
    QTest::newRow("later line wins") << QByteArray("COM1=absent\nCOM1=simulated\n")
                                     << "simulated|absent|absent|absent";
    QTest::newRow("typo makes the port absent") << QByteArray("COM1=simulatd\n")
                                                << "absent|absent|absent|absent";
    QTest::newRow("script without file is absent") << QByteArray("COM1=script\nCOM2=script  \n")
                                                   << "absent|absent|absent|absent";
    QTest::newRow("extra word after simulated") << QByteArray("COM1=simulated x.csv\n")
                                                << "absent|absent|absent|absent";
    QTest::newRow("ports beyond COM4 ignored") << QByteArray("COM5=simulated\nCOM0=simulated\n")
                                               << "simulated|absent|absent|absent";
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF" "COM2=simulated\n")
                                     << "simulated|simulated|absent|absent";
}

void TestTrovport::portConfig()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QCOMPARE(describe(parsePortConfig(text.toStdString())), expected);
}

void TestTrovport::portConfigWarnsAboutWhatItSkips()
{
    std::vector<std::string> warnings;
    parsePortConfig("COM1=simulated\nnonsense\nCOM9=absent\nCOM2=bogus\n", &warnings);
    QCOMPARE(int(warnings.size()), 3);
    QVERIFY(QString::fromStdString(warnings[0]).startsWith("trovport.ini line 2:"));
    QVERIFY(QString::fromStdString(warnings[1]).startsWith("trovport.ini line 3:"));
    QVERIFY(QString::fromStdString(warnings[2]).contains("COM2 is absent"));

    // No file at all: the defaults, silently.
    warnings.clear();
    QCOMPARE(describe(loadPortConfig("no-such.ini", &warnings)), "simulated|absent|absent|absent");
    QVERIFY(warnings.empty());
}

void TestTrovport::scriptParses()
{
    std::vector<ScriptLine> lines;
    std::string error;
    QVERIFY(parseReadingScript("\xEF\xBB\xBF# header\r\n"
                               " 35.5 , 0 , 0.05,0,+0.04,0 ,25.25,0\r\n"
                               "\r\n"
                               "   # indented comment\n"
                               "-1e2,-1,0,10,-0.0,+7,nan,2147483647",
                               lines, error));
    QCOMPARE(int(lines.size()), 2);
    QCOMPARE(lines[0].value[Salinity], 35.5);
    QCOMPARE(lines[0].value[Compensated], 0.05);
    QCOMPARE(lines[0].value[Uncompensated], 0.04);
    QCOMPARE(lines[0].value[Temperature], 25.25);
    QCOMPARE(lines[1].value[Salinity], -100.0);
    QCOMPARE(lines[1].status[Salinity], -1);
    QCOMPARE(lines[1].status[Compensated], 10);
    QCOMPARE(lines[1].status[Uncompensated], 7);
    QVERIFY(std::isnan(lines[1].value[Temperature]));
    QCOMPARE(lines[1].status[Temperature], 2147483647);
}

void TestTrovport::scriptRejected_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");

    QTest::newRow("seven fields") << QByteArray("# x\n1,0,2,0,3,0,4\n")
                                  << "line 2: expected 8 fields, found 7";
    QTest::newRow("nine fields") << QByteArray("1,0,2,0,3,0,4,0,5\n")
                                 << "line 1: expected 8 fields, found 9";
    QTest::newRow("value not a number") << QByteArray("1,0,2,0,abc,0,4,0\n")
                                        << "line 1: the uncompensated conductivity value \"abc\" is not a number";
    QTest::newRow("decimal comma") << QByteArray("1,0,2,0,3,0,\"4,5\",0\n")
                                   << "line 1: expected 8 fields, found 9";
    QTest::newRow("status with decimals") << QByteArray("1,0.5,2,0,3,0,4,0\n")
                                          << "line 1: the salinity status \"0.5\" is not a whole 32-bit number";
    QTest::newRow("status beyond 32 bits") << QByteArray("1,0,2,0,3,0,4,2147483648\n")
                                           << "line 1: the temperature status \"2147483648\" is not a whole 32-bit number";
    QTest::newRow("empty field") << QByteArray("1,0,,0,3,0,4,0\n")
                                 << "line 1: the compensated conductivity value \"\" is not a number";
}

void TestTrovport::scriptRejected()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    std::vector<ScriptLine> lines;
    std::string message;
    QVERIFY(!parseReadingScript(text.toStdString(), lines, message));
    QCOMPARE(QString::fromStdString(message), error);
}

void TestTrovport::pss78KnownPoints()
{
    // Standard sea water defines the scale: S = 35 at 15 °C of the 1968
    // scale (14.9964 °C today) has ratio 1.
    const double fifteen68 = 15.0 / 1.00024;
    QVERIFY(qAbs(pss78TemperatureRatio(fifteen68) - 1.0) < 1e-6);
    QVERIFY(qAbs(pss78Salinity(1.0, fifteen68) - 35.0) < 1e-4);
    QVERIFY(qAbs(seaWaterConductivity(35.0, fifteen68) - 0.042914) < 1e-8);
    // Sea water of 35 at 25 °C conducts about 53.06 mS/cm.
    QVERIFY2(qAbs(seaWaterConductivity(35.0, 25.0) * 1000.0 - 53.06) < 0.05,
             qPrintable(QString::number(seaWaterConductivity(35.0, 25.0) * 1000.0)));
    // Warmer water conducts better; saltier water too.
    QVERIFY(seaWaterConductivity(35.0, 20.0) < seaWaterConductivity(35.0, 21.0));
    QVERIFY(seaWaterConductivity(34.0, 20.0) < seaWaterConductivity(35.0, 20.0));
}

void TestTrovport::pss78RoundTrip()
{
    for (double s : {2.0, 10.0, 20.0, 34.5, 35.0, 42.0})
        for (double t : {-2.0, 0.0, 10.0, 15.0, 22.5, 25.0, 35.0}) {
            const double r = pss78ConductivityRatio(s, t);
            QVERIFY2(qAbs(pss78Salinity(r, t) - s) < 1e-9,
                     qPrintable(QStringLiteral("S=%1 T=%2").arg(s).arg(t)));
        }
}

void TestTrovport::simulatedMeterDriftsSlowlyAndStaysConsistent()
{
    const SimulatedMeter meter(42);
    const SimulatedMeter same(42);
    double lowT = 100, highT = -100;
    SeaWaterSample previous = meter.sample(0);
    for (std::uint64_t n = 0; n < 3000; ++n) {
        const SeaWaterSample s = meter.sample(n);
        const SeaWaterSample again = same.sample(n);
        QCOMPARE(s.temperature, again.temperature);
        QCOMPARE(s.salinity, again.salinity);
        QVERIFY(s.temperature >= 20.0 && s.temperature <= 25.0);
        QVERIFY(s.salinity >= 34.6 && s.salinity <= 35.4);
        QVERIFY2(qAbs(s.temperature - previous.temperature) < 0.1, "temperature jumps");
        QVERIFY(qAbs(s.salinity - previous.salinity) < 0.05);
        // The conductivities are those of this very water.
        const double r = s.uncompensated * 1000.0 / StandardConductivity_mS_per_cm;
        QVERIFY(qAbs(pss78Salinity(r, s.temperature) - s.salinity) < 0.001);
        QVERIFY(qAbs(s.compensated - seaWaterConductivity(s.salinity, 25.0)) <= 0.6e-6);
        lowT = qMin(lowT, s.temperature);
        highT = qMax(highT, s.temperature);
        previous = s;
    }
    QVERIFY2(highT - lowT > 1.0, "the temperature should wander");
}

void TestTrovport::unknownHandleGivesPortNotOpen()
{
    for (int q = 0; q < 4; ++q) {
        MeasuredValue v{123.0, 5, 99};
        QCOMPARE(read_[q](987654, TrovportModel5926, &v), StatusPortNotOpen);
        QCOMPARE(v.Value, 0.0);
        QCOMPARE(v.Status, StatusPortNotOpen);
        QCOMPARE(v.Padding, 99);
    }
}

void TestTrovport::closedHandleIsNotReadEvenWhenItsNumberIsReused()
{
    TrovportHandle handle = -1;
    QVERIFY(open_(1, 4800, &handle));
    MeasuredValue v{};
    QCOMPARE(read_[Salinity](handle, TrovportModel5926, &v), 0);
    QVERIFY(::close(handle) == 0);

    // The system hands the lowest free number out again.
    const int other = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    QCOMPARE(other, handle);
    v = MeasuredValue{1.0, 0, 0};
    QCOMPARE(read_[Salinity](other, TrovportModel5926, &v), StatusPortNotOpen);
    QCOMPARE(v.Value, 0.0);
    ::close(other);
}

void TestTrovport::wrongModelIsRefused()
{
    TrovportHandle handle = -1;
    QVERIFY(open_(1, 4800, &handle));
    MeasuredValue v{1.0, 0, 0};
    QCOMPARE(read_[Temperature](handle, 5925, &v), StatusWrongModel);
    QCOMPARE(v.Value, 0.0);
    QCOMPARE(v.Status, StatusWrongModel);
    QCOMPARE(read_[Temperature](handle, TrovportModel5926, &v), 0);
    ::close(handle);
}

void TestTrovport::scriptAdvancesPerHandleAfterTemperature()
{
    writeFile("trovport.ini", "COM4=script s.csv\n");
    writeFile("s.csv", "1,0,0.01,0,0.02,0,10,0\n2,0,0.03,0,0.04,0,20,0\n");
    TrovportHandle a = -1, b = -1;
    QVERIFY(open_(4, 4800, &a));
    QVERIFY(open_(4, 4800, &b));
    QVERIFY(a != b);

    MeasuredValue v{};
    // Repeating a quantity within a set does not advance.
    read_[Salinity](a, TrovportModel5926, &v);
    QCOMPARE(v.Value, 1.0);
    read_[Salinity](a, TrovportModel5926, &v);
    QCOMPARE(v.Value, 1.0);
    read_[Temperature](a, TrovportModel5926, &v);
    QCOMPARE(v.Value, 10.0);
    // a is on line 2 now, b still on line 1.
    read_[Uncompensated](a, TrovportModel5926, &v);
    QCOMPARE(v.Value, 0.04);
    read_[Uncompensated](b, TrovportModel5926, &v);
    QCOMPARE(v.Value, 0.02);
    read_[Temperature](a, TrovportModel5926, &v);
    QCOMPARE(v.Value, 20.0);
    // Past the end it starts over.
    read_[Compensated](a, TrovportModel5926, &v);
    QCOMPARE(v.Value, 0.01);
    ::close(a);
    ::close(b);

    // A new open starts at the first line, even on a reused number.
    TrovportHandle c = -1;
    QVERIFY(open_(4, 4800, &c));
    read_[Temperature](c, TrovportModel5926, &v);
    QCOMPARE(v.Value, 10.0);
    ::close(c);
}

void TestTrovport::scriptPathIsRelativeToWorkingFolder()
{
    writeFile("trovport.ini", "COM3=script data/run.csv\n");
    writeFile("data/run.csv", "-3.25,9,0.1,0,0.2,0,30,0\n");
    TrovportHandle handle = -1;
    QVERIFY(open_(3, 4800, &handle));
    MeasuredValue v{};
    QCOMPARE(read_[Salinity](handle, TrovportModel5926, &v), 9);
    QCOMPARE(v.Value, -3.25);
    ::close(handle);

    // Another working folder: the same relative name is not there.
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    writeFile("trovport.ini", "COM3=script data/run.csv\n");
    QVERIFY(!open_(3, 4800, &handle));
    QCOMPARE(handle, -1);
}

void TestTrovport::unusableScriptFailsToOpen_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::newRow("only comments") << QByteArray("# nothing yet\n\n");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("malformed line") << QByteArray("1,0,2,0,3,0,4,0\n1,0,2\n");
}

void TestTrovport::unusableScriptFailsToOpen()
{
    QFETCH(QByteArray, script);
    writeFile("trovport.ini", "COM2=script bad.csv\n");
    writeFile("bad.csv", script);
    TrovportHandle handle = 77;
    QVERIFY(!open_(2, 4800, &handle));
    QCOMPARE(handle, -1);
}

void TestTrovport::hostileFileFailsToOpenAtOnce_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    for (const char* file : {"trovport.ini", "s.csv"})
        for (const char* kind : {"link to /dev/zero", "FIFO", "folder", "oversized"})
            QTest::addRow("%s is a %s", file, kind) << QString::fromLatin1(file) << kind;
}

void TestTrovport::hostileFileFailsToOpenAtOnce()
{
    // COM1 holds a meter unless the file says otherwise, so a refused
    // trovport.ini must leave it absent rather than fall back to the defaults.
    QFETCH(QString, file);
    QFETCH(QString, kind);
    const bool isScript = file.endsWith(".csv");
    if (isScript)
        writeFile("trovport.ini", "COM1=script s.csv\n");
    const QByteArray name = QFile::encodeName(file);
    if (kind == "link to /dev/zero") {
        QCOMPARE(::symlink("/dev/zero", name.constData()), 0);
    } else if (kind == "FIFO") {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    } else if (kind == "folder") {
        QVERIFY(QDir().mkdir(file));
    } else {
        const qint64 limit = qint64(isScript ? MaxScriptBytes : MaxConfigBytes);
        writeSparseFile(file, isScript ? "1,0,2,0,3,0,4,0\n" : "COM1=simulated\n", limit + 1);
    }

    FifoWatchdog watchdog({file}, std::chrono::seconds(5));
    TrovportHandle handle = 77;
    QVERIFY(!open_(1, 4800, &handle));
    QCOMPARE(handle, -1);
    QVERIFY2(!watchdog.fired(), "the open waited on the FIFO");
}

void TestTrovport::fileSizeLimits()
{
    // Exactly at the limit is still a configuration; one byte more is not,
    // and says why.
    const QByteArray config = "COM2=simulated\n;";
    const QByteArray padding(qsizetype(MaxConfigBytes) - config.size(), ' ');
    writeFile("at.ini", config + padding);
    writeFile("over.ini", config + padding + ' ');
    std::vector<std::string> warnings;
    QCOMPARE(describe(loadPortConfig("at.ini", &warnings)), "simulated|simulated|absent|absent");
    QVERIFY(warnings.empty());
    QCOMPARE(describe(loadPortConfig("over.ini", &warnings)), "absent|absent|absent|absent");
    QCOMPARE(int(warnings.size()), 1);
    QCOMPARE(QString::fromStdString(warnings[0]),
             "over.ini: larger than 1 MiB; every port is absent");

    writeSparseFile("big.csv", "1,0,2,0,3,0,4,0\n", qint64(MaxScriptBytes) + 1);
    std::vector<ScriptLine> lines;
    std::string error;
    QVERIFY(!loadReadingScript("big.csv", lines, error));
    QCOMPARE(QString::fromStdString(error),
             "cannot read the script \"big.csv\": larger than 64 MiB");
}

void TestTrovport::noExceptionLeavesTheLibrary()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("an address-space limit cannot be combined with a sanitizer's shadow memory");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    QSKIP("an address-space limit cannot be combined with a sanitizer's shadow memory");
#endif
#endif
    // The largest script the library accepts, in a child whose address space
    // is capped a little above what it uses already: the open must fail like
    // any unusable script. (A block this large can only come from fresh
    // address space, never from room the allocator has reserved already.)
    writeFile("trovport.ini", "COM1=script huge.csv\n");
    writeSparseFile("huge.csv", "1,0,2,0,3,0,4,0\n", qint64(MaxScriptBytes));
    QFile statm("/proc/self/statm");
    QVERIFY(statm.open(QIODevice::ReadOnly));
    const qint64 pages = statm.readAll().split(' ').value(0).toLongLong();
    QVERIFY(pages > 0);
    const rlim_t cap = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (24 << 20);

    const int log = ::open("child.log", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QVERIFY(log >= 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::dup2(log, STDERR_FILENO);
        rlimit limit{cap, cap};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(3);
        try {
            TrovportHandle handle = 77;
            const bool opened = open_(1, 4800, &handle);
            ::_exit(!opened && handle == -1 ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
    }
    ::close(log);
    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((done = ::waitpid(child, &status, WNOHANG)) == 0
           && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        QFAIL("the child did not end");
    }
    QVERIFY2(WIFEXITED(status), "the child died of a signal");
    QVERIFY2(WEXITSTATUS(status) != 2, "an exception left OpenMeterPort");
    QCOMPARE(WEXITSTATUS(status), 0);
    // The memory really ran out, and the library said so.
    QFile childLog("child.log");
    QVERIFY(childLog.open(QIODevice::ReadOnly));
    const QByteArray said = childLog.readAll();
    QVERIFY2(said.contains("trovport: OpenMeterPort failed inside"), said.constData());
}

DSG_TEST_MAIN(TestTrovport)
#include "tst_trovport.moc"
