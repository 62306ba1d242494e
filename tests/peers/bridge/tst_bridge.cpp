// The bridge to the maker's 32-bit driver under Wine: trovport.ini's forms
// and the check of a library before Wine sees it; then, with the MinGW-built
// host and test driver and with Wine, the whole road from a 32-bit driver
// exporting by ordinal only, through the bridge and the program's binding,
// into the record list and the text export; a serial round trip over a pty
// linked as COM1; every fault with its bound; and no Wine process left once
// the program is closed. The Wine cases share one prefix, made once.
#include "APIimp.h"
#include "AppWindows.h"
#include "Dialogs.h"
#include "Fmain.h"
#include "LCD_Lab.h"
#include "PortConfig.h"
#include "Program.h"
#include "RecordList.h"
#include "RegIniFile.h"
#include "RegionalSettings.h"
#include "StatusBar.h"
#include "StoreFixtures.h"
#include "TestSupport.h"
#include "TrovportStatus.h"
#include "WineHost.h"
#include "WinePrefix.h"

#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <array>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <limits>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace trovport;

namespace {

const QString Device = QStringLiteral("Device");

QString binDir()
{
    return qEnvironmentVariable("DSG_BIN_DIR");
}

void writeFile(const QString& name, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(name).absolutePath());
    QFile file(name);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(name));
    QCOMPARE(file.write(content), content.size());
}

QByteArray readFile(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ------------------------------------------------ the test driver's script

quint64 bitsOf(double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double fromBits(quint64 bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

struct Reading {
    std::array<quint64, 4> bits;
    std::array<qint32, 4> status;
};

Reading reading(std::array<double, 4> values, std::array<qint32, 4> status)
{
    Reading r;
    for (int q = 0; q < 4; ++q)
        r.bits[q] = bitsOf(values[q]);
    r.status = status;
    return r;
}

QByteArray scriptLine(const Reading& r)
{
    QByteArray line;
    for (int q = 0; q < 4; ++q)
        line += QByteArray::number(r.bits[q], 16).rightJustified(16, '0') + ' '
                + QByteArray::number(r.status[q]) + ' ';
    return line.trimmed() + '\n';
}

// --------------------------------------------------- the process and Wine

// Standard error of this process (and of the hosts started meanwhile) into
// a file, for the reasons the bridge gives.
class CapturedStderr {
public:
    CapturedStderr()
    {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(QFile::encodeName(file_.filePath("stderr")).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~CapturedStderr() { restore(); }
    QString text()
    {
        std::fflush(stderr);
        return QString::fromUtf8(readFile(file_.filePath("stderr")));
    }
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        const QByteArray seen = readFile(file_.filePath("stderr"));
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
        // Kept in the test's output, for a failure's story.
        std::fputs(seen.constData(), stderr);
    }

private:
    QTemporaryDir file_;
    int saved_ = -1;
};

QString prefix()
{
    return QString::fromStdString(bridge::prefixPath());
}

// Live processes (zombies are gone already) that run in the bridge's prefix.
QList<qint64> wineProcesses()
{
    const QByteArray mark = "WINEPREFIX=" + QFile::encodeName(prefix());
    QList<qint64> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool number = false;
        const qint64 id = pid.toLongLong(&number);
        if (!number || id == ::getpid())
            continue;
        const QByteArray stat = readFile("/proc/" + pid + "/stat");
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0 || stat.mid(close + 2, 1) == "Z")
            continue;
        if (readFile("/proc/" + pid + "/environ").split('\0').contains(mark))
            found << id;
    }
    return found;
}

// The idle host that keeps the cases' Wine session up (WineSession), if any.
qint64 keeperPid = 0;

// The bridge's host's process id (the session keeper's aside), 0 when none
// runs.
qint64 hostPid()
{
    for (qint64 pid : wineProcesses())
        if (pid != keeperPid
            && readFile("/proc/" + QString::number(pid) + "/cmdline").contains("trovport-host.exe"))
            return pid;
    return 0;
}

// Milliseconds until no Wine process runs in the prefix; -1 after `ms`.
qint64 msUntilNoWine(int ms)
{
    QElapsedTimer t;
    t.start();
    while (!wineProcesses().isEmpty()) {
        if (t.elapsed() > ms)
            return -1;
        QThread::msleep(20);
    }
    return t.elapsed();
}

// One Wine session of the prefix kept up between the cases, as a second
// program using the bridge would keep it: each case's helper then starts in
// a running session instead of bringing one up and taking it down again.
// It is an idle helper with no library; it holds the prefix's lock shared,
// as a bridge does, so no bridge waits for the session to end.
class WineSession {
public:
    bool start()
    {
        const QString prefixPath = prefix();
        lock_ = ::open(QFile::encodeName(prefixPath + ".lock").constData(),
                       O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock_ < 0 || ::flock(lock_, LOCK_SH) != 0)
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), prefixPath);
        env.insert(QStringLiteral("WINEARCH"), QStringLiteral("win32"));
        env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        process_.setProcessEnvironment(env);
        // Wine's server, started by this first process of the session, has
        // its standard error: a pipe nobody reads would stop it once full.
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("wine"), {binDir() + QStringLiteral("/trovport-host.exe")});
        // Its greeting: 12 bytes.
        QElapsedTimer t;
        t.start();
        while (process_.bytesAvailable() < 12 && t.elapsed() < 30000
               && process_.state() != QProcess::NotRunning)
            process_.waitForReadyRead(100);
        keeperPid = process_.processId();
        return process_.bytesAvailable() >= 12;
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            if (!process_.waitForFinished(5000))
                process_.kill();
            process_.waitForFinished(5000);
        }
        if (lock_ >= 0)
            ::close(lock_);
        lock_ = -1;
        keeperPid = 0;
    }
    ~WineSession() { stop(); }

private:
    QProcess process_;
    int lock_ = -1;
};

WineSession* session = nullptr;

// A working folder of its own, the current one while the object lives.
class WorkingFolder {
public:
    WorkingFolder() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~WorkingFolder() { QDir::setCurrent(previous_); }
    QString path(const QString& name = {}) const { return name.isEmpty() ? dir_.path() : dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

// Puts the test driver at `dll` with its script beside it.
void installDriver(const QString& dll, const QByteArray& script, bool withoutOrdinal11 = false)
{
    QDir().mkpath(QFileInfo(dll).absolutePath());
    QFile::remove(dll);
    const QString built = binDir()
                          + (withoutOrdinal11 ? QStringLiteral("/testdriver32_no11.dll")
                                              : QStringLiteral("/testdriver32.dll"));
    QVERIFY2(QFile::copy(built, dll), qPrintable(built));
    QString txt = dll;
    txt.chop(4);
    writeFile(txt + ".txt", script);
}

QByteArray driverLog(const QString& dll)
{
    QString log = dll;
    log.chop(4);
    return readFile(log + ".log");
}

std::unique_ptr<DriverLibrary> loadBridge()
{
    QString error;
    auto library = DriverLibrary::load(binDir() + QStringLiteral("/trovport.dll"), &error);
    if (!library)
        qWarning("%s", qPrintable(error));
    return library;
}

RegionalSettings pointRegion()
{
    RegionalSettings r;
    r.decimalSeparator = u'.';
    r.longTimeFormat = QStringLiteral("HH:mm:ss");
    r.amDesignator = QStringLiteral("AM");
    r.pmDesignator = QStringLiteral("PM");
    return r;
}

std::array<QByteArray, 4> displayTexts()
{
    return {Main->lab_ppt->Caption(), Main->Lab_Comp->Caption(), Main->lab_uncomp->Caption(),
            Main->lab_temp->Caption()};
}

QList<QByteArray> rowCells(int row)
{
    QList<QByteArray> cells;
    for (int c = 1; c <= 4; ++c)
        cells << Main->Records->cell(row, c);
    return cells;
}

// The program's windows on `driver`, past the show step, with COM1 at 4800
// baud and a Display Time of 1 s.
void openWindows(MeterDriver& driver)
{
    CreateWindows(driver);
    Main->Settings->WriteString(Device, QStringLiteral("Port"), QStringLiteral("1"));
    Main->Settings->WriteString(Device, QStringLiteral("Speed"), QStringLiteral("4800"));
    Main->Settings->WriteString(Device, QStringLiteral("RT"), QStringLiteral("1"));
    Main->ShowMainWindow();
}

// ----------------------------------------------- the program as a process

void say(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class SilentDialogs final : public Dialogs {
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

// The program's own entry in a working folder prepared by the test: Start
// once the main window is up, "recording" after two rows.
int runProgram(int argc, char** argv)
{
    SilentDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    const int code = ProgramMain(argc, argv, [] {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, started = false]() mutable {
            if (!Main || !Main->isVisible())
                return;
            if (!started) {
                started = true;
                Main->BitBtn1->click();
            } else if (Main->Records->rowCount() >= 2) {
                poll->stop();
                say("recording");
            }
        });
        poll->start(10);
    });
    Dialogs::setInstance(nullptr);
    say("ended " + QByteArray::number(code));
    return code;
}

const Reading Steady = reading({35.0, 0.0531, 0.0482, 21.5}, {0, 0, 0, 0});

} // namespace

class TestBridge : public QObject {
    Q_OBJECT

    bool live_ = false;
    QString whyNotLive_;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    // Without Wine.
    void iniForms_data();
    void iniForms();
    void serialSection_data();
    void serialSection();
    void libraryCheck_data();
    void libraryCheck();
    void prefixFolder_data();
    void prefixFolder();

    // Through Wine.
    void everyStatusAndExactDoublePassThrough();
    void callsArriveUnchanged();
    void hostLoadsOnlyFullPaths();
    void reopenedNumberReadsTheNewPort();
    void recordingShowsAndExportsTheReadings();
    void driverPathForms_data();
    void driverPathForms();
    void serialRoundTrip();
    void openFailsWithReason_data();
    void openFailsWithReason();
    void lostHelperIsBounded_data();
    void lostHelperIsBounded();
    void lostHelperShowsErrorTexts();
    void openThatNeverReturnsIsBounded();
    void unloadLeavesNoWineProcess();
    void closedProgramLeavesNoWineProcess_data();
    void closedProgramLeavesNoWineProcess();
};

void TestBridge::initTestCase()
{
    RegionalSettings::fix(pointRegion());
    const QStringList needed = {binDir() + "/trovport-host.exe", binDir() + "/testdriver32.dll",
                                binDir() + "/testdriver32_no11.dll"};
    for (const QString& file : needed)
        if (!QFileInfo::exists(file))
            whyNotLive_ = file + " was not built (no MinGW-w64 compiler for 32-bit Windows)";
    if (whyNotLive_.isEmpty() && bridge::findProgram("wine", std::getenv("PATH")).empty())
        whyNotLive_ = QStringLiteral("wine is not installed");
    live_ = whyNotLive_.isEmpty();
    if (!live_)
        return;

    // Wine makes the shared prefix on the first open; later cases start
    // on a prefix that is ready.
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady));
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    auto library = loadBridge();
    QVERIFY(library);
    THandle handle = -1;
    QVERIFY2(library->OpenMeterPort(1, 4800, handle), "the first open through Wine failed");
    ::close(handle);
    library.reset();
    QVERIFY(bridge::prefixReady(prefix().toStdString()));
    session = new WineSession;
    QVERIFY2(session->start(), "the Wine session for the cases did not start");
}

void TestBridge::cleanupTestCase()
{
    delete session;
    session = nullptr;
}

void TestBridge::cleanup()
{
    DestroyWindows(); // when a failed check left them
}

// ------------------------------------------------------------ without Wine

void TestBridge::iniForms_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("warning");

    const int windows = int(PortKind::Windows);
    const int absent = int(PortKind::Absent);
    QTest::newRow("good") << QByteArray("COM1=windows /opt/maker/trovport.dll") << windows
                          << "/opt/maker/trovport.dll" << "";
    QTest::newRow("relative, kept as written")
        << QByteArray("COM1 = Windows maker/trovport.dll") << windows << "maker/trovport.dll" << "";
    QTest::newRow("comma") << QByteArray("COM1=windows, maker/trovport.dll") << windows
                           << "maker/trovport.dll" << "";
    QTest::newRow("quoted with blanks")
        << QByteArray("COM1=WINDOWS \"my maker/trovport.dll\"") << windows
        << "my maker/trovport.dll" << "";
    QTest::newRow("under [Ports]") << QByteArray("[Ports]\nCOM1=windows a.dll") << windows
                                   << "a.dll" << "";
    QTest::newRow("unknown kind") << QByteArray("COM1=window a.dll") << absent << ""
                                  << "unknown value \"window a.dll\"; COM1 is absent";
    QTest::newRow("missing path") << QByteArray("COM1=windows") << absent << ""
                                  << "windows without a file name; COM1 is absent";
    QTest::newRow("empty quotes") << QByteArray("COM1=windows \"\"") << absent << ""
                                  << "windows without a file name; COM1 is absent";
    // Files from before sections meant anything: their ports stay ports.
    QTest::newRow("under another section")
        << QByteArray("[Meters]\nCOM1=windows b.dll") << windows << "b.dll" << "";
    QTest::newRow("[Serial] does not name the driver")
        << QByteArray("[Serial]\nCOM1=/dev/ttyUSB0") << int(PortKind::Simulated) << "" << "";
}

void TestBridge::iniForms()
{
    QFETCH(QByteArray, text);
    QFETCH(int, kind);
    QFETCH(QString, path);
    QFETCH(QString, warning);
    std::vector<std::string> warnings;
    const TrovportIni ini = parseTrovportIni(text.toStdString(), &warnings);
    QCOMPARE(int(ini.ports[0].kind), kind);
    QCOMPARE(QString::fromStdString(ini.ports[0].driverPath), path);
    QCOMPARE(warnings.empty(), warning.isEmpty());
    if (!warning.isEmpty())
        QVERIFY2(QString::fromStdString(warnings.front()).endsWith(warning),
                 warnings.front().c_str());
}

void TestBridge::serialSection_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("devices"); // COM1..COM4
    QTest::addColumn<QString>("com1");        // kind of COM1 as a word
    QTest::addColumn<int>("warnings");

    QTest::newRow("links") << QByteArray("[Serial]\nCOM1=/dev/ttyUSB0\ncom3 = \"/dev/serial/by-id/x y\"")
                           << QStringList{"/dev/ttyUSB0", "", "/dev/serial/by-id/x y", ""}
                           << "simulated" << 0;
    QTest::newRow("ports before and after")
        << QByteArray("COM1=absent\n[Serial]\nCOM1=/dev/ttyS0\n[Ports]\nCOM2=windows a.dll")
        << QStringList{"/dev/ttyS0", "", "", ""} << "absent" << 0;
    QTest::newRow("section names any case")
        << QByteArray("[ serial ]\nCOM4=/dev/ttyACM0") << QStringList{"", "", "", "/dev/ttyACM0"}
        << "simulated" << 0;
    QTest::newRow("relative device refused")
        << QByteArray("[Serial]\nCOM1=ttyUSB0") << QStringList{"", "", "", ""} << "simulated" << 1;
    QTest::newRow("COM5 skipped") << QByteArray("[Serial]\nCOM5=/dev/ttyS4")
                                  << QStringList{"", "", "", ""} << "simulated" << 1;
    QTest::newRow("last line counts")
        << QByteArray("[Serial]\nCOM2=/dev/a\nCOM2=/dev/b") << QStringList{"", "/dev/b", "", ""}
        << "simulated" << 0;
}

void TestBridge::serialSection()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, devices);
    QFETCH(QString, com1);
    QFETCH(int, warnings);
    std::vector<std::string> said;
    const TrovportIni ini = parseTrovportIni(text.toStdString(), &said);
    QStringList got;
    for (const std::string& d : ini.serial)
        got << QString::fromStdString(d);
    QCOMPARE(got, devices);
    const char* words[] = {"absent", "simulated", "script", "windows"};
    QCOMPARE(QString::fromLatin1(words[int(ini.ports[0].kind)]), com1);
    QCOMPARE(int(said.size()), warnings);
}

void TestBridge::libraryCheck_data()
{
    QTest::addColumn<QString>("file"); // in the bin folder, or made here
    QTest::addColumn<QString>("reason"); // empty: accepted

    QTest::newRow("32-bit DLL") << "testdriver32.dll" << "";
    QTest::newRow("the stand-in itself") << "trovport.dll"
                                         << "it is a Linux library (ELF), not the maker's Windows driver";
    QTest::newRow("64-bit DLL") << "pe64" << "it is a 64-bit Windows library; the maker's 32-bit one is needed";
    QTest::newRow("a program") << "trovport-host.exe" << "it is a Windows program, not a library";
    QTest::newRow("text") << "text" << "it is not a Windows library";
    QTest::newRow("cut short") << "short" << "it is not a Windows library (an MS-DOS program or a damaged file)";
    QTest::newRow("missing") << "missing" << "it does not exist";
    QTest::newRow("folder") << "folder" << "it cannot be read: a folder, not a regular file";
}

void TestBridge::libraryCheck()
{
    QFETCH(QString, file);
    QFETCH(QString, reason);
    if (file.contains('.') && !QFileInfo::exists(binDir() + '/' + file))
        QSKIP(qPrintable(file + " was not built"));
    QTemporaryDir dir;
    QString path = binDir() + '/' + file;
    if (file == "pe64" || file == "short") {
        if (!QFileInfo::exists(binDir() + "/testdriver32.dll"))
            QSKIP("the test driver was not built");
        QByteArray bytes = readFile(binDir() + "/testdriver32.dll");
        quint32 pe;
        std::memcpy(&pe, bytes.constData() + 0x3c, 4);
        if (file == "pe64") {
            bytes[pe + 4] = char(0x64); // machine AMD64
            bytes[pe + 5] = char(0x86);
        } else {
            bytes.truncate(pe + 10);
        }
        path = dir.filePath(file);
        writeFile(path, bytes);
    } else if (file == "text") {
        path = dir.filePath(file);
        writeFile(path, "a text file of some length, which no loader would take for a library\n");
    } else if (file == "missing") {
        path = dir.filePath(file);
    } else if (file == "folder") {
        path = dir.path();
    }
    std::string why;
    QCOMPARE(bridge::isWin32Library(path.toStdString(), why), reason.isEmpty());
    QCOMPARE(QString::fromStdString(why), reason);
}

void TestBridge::prefixFolder_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("XDG_DATA_HOME") << QByteArray("/data") << QByteArray("/home/u") << "/data/trova-5926/wine";
    QTest::newRow("unset") << QByteArray() << QByteArray("/home/u") << "/home/u/.local/share/trova-5926/wine";
    QTest::newRow("relative ignored") << QByteArray("data") << QByteArray("/home/u") << "/home/u/.local/share/trova-5926/wine";
    QTest::newRow("nothing usable") << QByteArray("data") << QByteArray() << "";
}

void TestBridge::prefixFolder()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(QString, prefix);
    QCOMPARE(QString::fromStdString(bridge::prefixPath(xdg.isNull() ? nullptr : xdg.constData(),
                                                       home.isNull() ? nullptr : home.constData())),
             prefix);
}

// ------------------------------------------------------------ through Wine

void TestBridge::everyStatusAndExactDoublePassThrough()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    const double inf = std::numeric_limits<double>::infinity();
    const QList<Reading> readings = {
        reading({35.0, 0.0125, 0.0482, -2.5}, {0, 0, 0, 0}),
        reading({0.1, 1.0 / 3, 25.25, -0.04}, {1, 2, 3, 4}),
        reading({-0.0, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
                 std::numeric_limits<double>::min()},
                {5, 6, 7, 8}),
        reading({inf, -inf, fromBits(0x7ff8000000000123ull), fromBits(0xfff0000000000001ull)},
                {9, 10, 11, -1}),
        reading({12.345678e-3, 1e-300, -1e300, 299792458.0},
                {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), -4, 99}),
    };
    QByteArray script;
    for (const Reading& r : readings)
        script += scriptLine(r);
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), script);
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    auto library = loadBridge();
    QVERIFY(library);
    THandle handle = -1;
    QVERIFY(library->OpenMeterPort(1, 4800, handle));

    // Twice round: the driver's sequence starts again after its last line.
    for (int round = 0; round < 2; ++round) {
        for (const Reading& expected : readings) {
            std::array<MeasuredValue, 4> got;
            for (MeasuredValue& m : got)
                m = MeasuredValue{1234.5, 777, 0x5a5a5a5a};
            library->ReadSalinity(handle, ModelCode, got[0]);
            library->ReadCompensatedConductivity(handle, ModelCode, got[1]);
            library->ReadUncompensatedConductivity(handle, ModelCode, got[2]);
            library->ReadTemperature(handle, ModelCode, got[3]);
            for (int q = 0; q < 4; ++q) {
                QCOMPARE(QByteArray::number(bitsOf(got[q].Value), 16),
                         QByteArray::number(expected.bits[q], 16));
                QCOMPARE(got[q].Status, expected.status[q]);
                QCOMPARE(got[q].Padding, 0x5a5a5a5a); // never touched
            }
        }
    }
    ::close(handle);
}

void TestBridge::callsArriveUnchanged()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), "log\n" + scriptLine(Steady));
    writeFile(work.path("trovport.ini"), "COM3=windows maker/trovport.dll\n");
    auto library = loadBridge();
    QVERIFY(library);
    THandle handle = -1;
    // The maker's driver judges port and speed; the bridge passes them on.
    QVERIFY(library->OpenMeterPort(3, 9600, handle));
    MeasuredValue m{};
    library->ReadSalinity(handle, 1234, m);
    library->ReadCompensatedConductivity(handle, ModelCode, m);
    library->ReadUncompensatedConductivity(handle, ModelCode, m);
    library->ReadTemperature(handle, -1, m);
    ::close(handle);
    QCOMPARE(driverLog(work.path("maker/trovport.dll")),
             QByteArray("open 3 9600\nread 7 1234\nread 11 5926\nread 12 5926\nread 5 -1\n"));
    // A port the file does not give to the maker's driver stays the stand-in's.
    QVERIFY(library->OpenMeterPort(1, 4800, handle));
    library->ReadSalinity(handle, ModelCode, m);
    ::close(handle);
    QCOMPARE(m.Status, 0);
    QVERIFY(m.Value > 34 && m.Value < 36);
    QVERIFY(!driverLog(work.path("maker/trovport.dll")).contains("open 1"));
}

// The host takes the library from the full path it is given and from
// nowhere else: a bare name is refused although a library of that name lies
// in its working folder, where the DLL search path would find it.
void TestBridge::hostLoadsOnlyFullPaths()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    WorkingFolder work;
    installDriver(work.path("trovport.dll"), scriptLine(Steady));
    bridge::WineHost::Launch launch;
    launch.wine = bridge::findProgram("wine", std::getenv("PATH"));
    launch.hostExe = QFile::encodeName(binDir() + "/trovport-host.exe").toStdString();
    launch.prefix = QFile::encodeName(prefix()).toStdString();
    std::string error;
    for (const char* name : {"trovport.dll", "./trovport.dll", "maker\\trovport.dll"}) {
        auto host = bridge::WineHost::start(launch, error);
        QVERIFY2(host, error.c_str());
        QVERIFY(!host->load(name, error));
        QCOMPARE(QString::fromStdString(error), QStringLiteral("Wine cannot reach it by a full path"));
    }
    auto host = bridge::WineHost::start(launch, error);
    QVERIFY2(host, error.c_str());
    QVERIFY2(host->load(QFile::encodeName(work.path("trovport.dll")).toStdString(), error),
             error.c_str());
}

// The program closes a port and opens the next at once, as the port test
// and Start do: the system hands out the same number again before the
// bridge has seen the close, and the number must mean the new port.
void TestBridge::reopenedNumberReadsTheNewPort()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady));
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    auto library = loadBridge();
    QVERIFY(library);
    THandle previous = -1;
    for (int i = 0; i < 5; ++i) {
        THandle handle = -1;
        QVERIFY(library->OpenMeterPort(1, 4800, handle));
        if (i > 0)
            QCOMPARE(handle, previous);
        MeasuredValue m{};
        library->ReadSalinity(handle, ModelCode, m);
        QCOMPARE(m.Status, 0);
        QCOMPARE(m.Value, 35.0);
        ::close(handle);
        previous = handle;
    }
}

void TestBridge::recordingShowsAndExportsTheReadings()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    const QList<Reading> readings = {
        reading({35.0, 0.0125, 0.012345678, 25.25}, {0, 0, 0, 0}),
        reading({-0.04, 0.05, 0.04, -2.5}, {0, 1, 3, 10}),
        reading({34.95, 0.0531, 0.0482, 20.0}, {7, -1, 11, 5}),
    };
    const QList<QList<QByteArray>> cells = {
        {"35.0", "12.500000", "12.345678", "25.3"},
        {"0.0", "Er-1", "Ers:3", "Er10"},
        {"Er-7", "Ers:-1", "Ers:11", "Er-5"},
    };
    const QList<QList<QByteArray>> shown = {
        {"35.0", "12.500000", "12.345678", "25.3"},
        {"0.0", "Er-1", "Ers", "Er10"},
        {"Er-7", "Ers", "Ers", "Er-5"},
    };
    QByteArray script;
    for (const Reading& r : readings)
        script += scriptLine(r);
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), script);
    writeFile(work.path("trovport.ini"), "[Ports]\nCOM1=windows maker/trovport.dll\n");

    auto library = loadBridge();
    QVERIFY(library);
    RecordingDialogs dialogs;
    auto closeWindows = qScopeGuard(&DestroyWindows);
    openWindows(*library);
    QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.messageTexts().join('\n')));
    QVERIFY(Main->BitBtn1->isEnabled()); // the port test passed through the bridge

    Main->BitBtn1Click(); // Start: the first tick at once
    QCOMPARE(displayTexts(), (std::array<QByteArray, 4>{shown[0][0], shown[0][1], shown[0][2], shown[0][3]}));
    Main->AcquisitionTick();
    Main->AcquisitionTick();
    QCOMPARE(displayTexts(), (std::array<QByteArray, 4>{shown[2][0], shown[2][1], shown[2][2], shown[2][3]}));
    Main->BitBtn3Click();
    QCOMPARE(Main->Records->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(rowCells(row), cells[row]);
    QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:3"));

    const QString file = work.path("export.txt");
    dialogs.saveAnswers.push_back(file);
    Main->Mu_Export_TextClick();
    const QList<QByteArray> lines = readFile(file).split('\n');
    QCOMPARE(lines.size(), 5); // header, three rows, nothing after the last CR LF
    for (int row = 0; row < 3; ++row)
        QCOMPARE(lines[row + 1],
                 Main->Records->cell(row, 0) + ',' + cells[row].join(',') + '\r');
}

void TestBridge::driverPathForms_data()
{
    QTest::addColumn<QString>("dll");   // where the driver goes, in the working folder
    QTest::addColumn<QByteArray>("ini"); // %1: the driver's absolute path
    QTest::newRow("relative") << "maker/trovport.dll" << QByteArray("COM1=windows maker/trovport.dll");
    QTest::newRow("comma and quotes")
        << "my maker/trovport.dll" << QByteArray("COM1=windows, \"my maker/trovport.dll\"");
    QTest::newRow("absolute") << "abs/trovport.dll" << QByteArray("COM1=windows %1");
    QTest::newRow("dot dot") << "up/trovport.dll" << QByteArray("COM1=windows sub/../up/trovport.dll");
}

// A relative path is the working folder's at the time of the open: the
// same trovport.ini in two folders reaches two drivers.
void TestBridge::driverPathForms()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    QFETCH(QString, dll);
    QFETCH(QByteArray, ini);
    auto library = loadBridge();
    QVERIFY(library);
    for (double salinity : {31.5, 32.5}) {
        WorkingFolder work;
        QDir().mkpath(work.path("sub"));
        installDriver(work.path(dll), scriptLine(reading({salinity, 0, 0, 0}, {0, 0, 0, 0})));
        writeFile(work.path("trovport.ini"), QByteArray(ini).replace("%1", QFile::encodeName(work.path(dll))));
        THandle handle = -1;
        QVERIFY(library->OpenMeterPort(1, 4800, handle));
        MeasuredValue m{};
        library->ReadSalinity(handle, ModelCode, m);
        ::close(handle);
        QCOMPARE(m.Status, 0);
        QCOMPARE(m.Value, salinity);
    }
}

void TestBridge::serialRoundTrip()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    int master = -1;
    int slave = -1;
    char name[128] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::close(slave); // from now on only Wine holds the device open

    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), "serial\n");
    writeFile(work.path("trovport.ini"),
              QByteArray("[Ports]\nCOM1=windows maker/trovport.dll\n[Serial]\nCOM1=") + name + "\n");

    // The meter: one line of readings every 50 ms, as long as the test runs.
    const Reading sent = reading({35.25, 0.0531, 0.0482, 21.5}, {0, 0, 8, 0});
    std::atomic<bool> done{false};
    std::thread meter([&] {
        const QByteArray line = scriptLine(sent);
        while (!done) {
            [[maybe_unused]] const ssize_t n = ::write(master, line.constData(), size_t(line.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    struct Join {
        std::atomic<bool>& done;
        std::thread& t;
        int fd;
        ~Join()
        {
            done = true;
            t.join();
            ::close(fd);
        }
    } join{done, meter, master};

    auto library = loadBridge();
    QVERIFY(library);
    RecordingDialogs dialogs;
    auto closeWindows = qScopeGuard(&DestroyWindows);
    openWindows(*library);
    QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.messageTexts().join('\n')));
    Main->BitBtn1Click();
    QCOMPARE(QFileInfo(prefix() + "/dosdevices/com1").symLinkTarget(), QString::fromLatin1(name));
    QCOMPARE(rowCells(0), (QList<QByteArray>{"35.3", "53.100000", "Er-8", "21.5"}));
    QCOMPARE(displayTexts(), (std::array<QByteArray, 4>{"35.3", "53.100000", "Er-8", "21.5"}));
    // The maker's driver set the meter's speed on the device itself.
    termios line{};
    QCOMPARE(::tcgetattr(master, &line), 0);
    QCOMPARE(::cfgetospeed(&line), speed_t(B4800));
    pollfd p{master, POLLHUP, 0};
    QCOMPARE(::poll(&p, 1, 0), 0); // Wine holds the device

    // STOP closes the handle; the maker's handle behind it goes at once.
    Main->BitBtn3Click();
    QElapsedTimer t;
    t.start();
    while (!(::poll(&p, 1, 20) > 0 && (p.revents & POLLHUP)) && t.elapsed() < 2000) {
    }
    QVERIFY2(p.revents & POLLHUP, "the serial device was still open 2 s after STOP");
}

void TestBridge::openFailsWithReason_data()
{
    QTest::addColumn<QString>("dll");       // put there: "driver", "no11", "text", "stand-in" or ""
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("noWine");       // PATH without wine
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("hostStarted");

    QTest::newRow("wine missing") << "driver" << QByteArray("COM1=windows maker/trovport.dll") << true
                                  << "trovport: COM1: wine is not installed (no wine program on the PATH)" << false;
    QTest::newRow("driver missing") << "" << QByteArray("COM1=windows maker/trovport.dll") << false
                                    << "/maker/trovport.dll cannot be used: it does not exist" << false;
    QTest::newRow("not a PE file") << "text" << QByteArray("COM1=windows maker/trovport.dll") << false
                                   << "cannot be used: it is not a Windows library" << false;
    QTest::newRow("the stand-in named") << "" << QByteArray("COM1=windows trovport.dll") << false
                                        << "cannot be used: it is a Linux library (ELF)" << false;
    QTest::newRow("ordinal missing") << "no11" << QByteArray("COM1=windows maker/trovport.dll") << false
                                     << "cannot be used: it does not export ordinal 11 (ReadCompensatedConductivity)" << true;
    QTest::newRow("maker refuses") << "refuse" << QByteArray("COM1=windows maker/trovport.dll") << false
                                   << "trovport: COM1: the maker's driver did not open the port" << true;
    QTest::newRow("unknown kind") << "driver" << QByteArray("COM1=window maker/trovport.dll") << false
                                  << "unknown value \"window maker/trovport.dll\"; COM1 is absent" << false;
    QTest::newRow("path missing") << "driver" << QByteArray("COM1=windows") << false
                                  << "windows without a file name; COM1 is absent" << false;
}

// The open fails (so the program says "Found Errors,Please Resetup!"), the
// reason is on standard error, and nothing waits on Wine in vain.
void TestBridge::openFailsWithReason()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    QFETCH(QString, dll);
    QFETCH(QByteArray, ini);
    QFETCH(bool, noWine);
    QFETCH(QString, reason);
    QFETCH(bool, hostStarted);

    WorkingFolder work;
    QFile::copy(binDir() + "/trovport.dll", work.path("trovport.dll"));
    const QString maker = work.path("maker/trovport.dll");
    if (dll == "driver" || dll == "no11")
        installDriver(maker, scriptLine(Steady), dll == "no11");
    else if (dll == "refuse")
        installDriver(maker, "open-fail\n" + scriptLine(Steady));
    else if (dll == "text")
        writeFile(maker, "not a library\n");
    writeFile(work.path("trovport.ini"), ini + '\n');

    const QByteArray path = qgetenv("PATH");
    if (noWine)
        qputenv("PATH", QFile::encodeName(work.path()));
    auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });

    auto library = loadBridge();
    QVERIFY(library);
    CapturedStderr err;
    QElapsedTimer t;
    t.start();
    THandle handle = 1234;
    const bool opened = library->OpenMeterPort(1, 4800, handle);
    const qint64 ms = t.elapsed();
    QVERIFY(!opened);
    QCOMPARE(handle, THandle(-1));
    const QString said = err.text();
    err.restore();
    QVERIFY2(said.contains(reason), qPrintable(said));
    // A refusal found before Wine is asked costs nothing; one that needs the
    // host costs its start on a ready prefix.
    QVERIFY2(ms < (hostStarted ? 30000 : 500), qPrintable(QString::number(ms)));
    if (!hostStarted)
        QCOMPARE(hostPid(), 0);
    library.reset();
    QCOMPARE(hostPid(), 0);
}

void TestBridge::lostHelperIsBounded_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("helper exits") << QByteArray("exit 3")
                                  << "COM1: the helper ended during ReadSalinity (it ended with code 3)";
    QTest::newRow("driver crashes") << QByteArray("crash")
                                    << "the maker's driver failed inside with exception 0xc0000005";
    QTest::newRow("call never returns") << QByteArray("hang")
                                        << "COM1: the maker's driver did not return from ReadSalinity within 1.5 s; its helper was stopped";
}

// Mid-recording the host goes: each reading call writes Value 0 and the
// status -4 within 2 s, the host is gone, and the next open starts a new
// one that reads again.
void TestBridge::lostHelperIsBounded()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    QFETCH(QByteArray, fault);
    QFETCH(QString, reason);
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady) + fault + '\n');
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    // Before the host starts: what it says on the way out is part of the story.
    CapturedStderr err;
    auto library = loadBridge();
    QVERIFY(library);
    THandle handle = -1;
    QVERIFY(library->OpenMeterPort(1, 4800, handle));
    const qint64 firstHost = hostPid();
    QVERIFY(firstHost > 0);
    MeasuredValue m{};
    library->ReadSalinity(handle, ModelCode, m);
    library->ReadCompensatedConductivity(handle, ModelCode, m);
    library->ReadUncompensatedConductivity(handle, ModelCode, m);
    library->ReadTemperature(handle, ModelCode, m);
    QCOMPARE(m.Value, 21.5);

    for (int tick = 0; tick < 2; ++tick) {
        std::array<MeasuredValue, 4> got;
        got.fill(MeasuredValue{99.0, 99, 0});
        QElapsedTimer t;
        t.start();
        library->ReadSalinity(handle, ModelCode, got[0]);
        const qint64 first = t.restart();
        library->ReadCompensatedConductivity(handle, ModelCode, got[1]);
        library->ReadUncompensatedConductivity(handle, ModelCode, got[2]);
        library->ReadTemperature(handle, ModelCode, got[3]);
        const qint64 rest = t.elapsed();
        QVERIFY2(first < 2000, qPrintable(QString::number(first)));
        QVERIFY2(rest < 100, qPrintable(QString::number(rest))); // no more waiting once lost
        for (const MeasuredValue& v : got) {
            QCOMPARE(v.Value, 0.0);
            QCOMPARE(v.Status, StatusBridgeLost);
        }
    }
    QVERIFY(!QDir(QStringLiteral("/proc/%1").arg(firstHost)).exists()
            || readFile(QStringLiteral("/proc/%1/stat").arg(firstHost)).contains(") Z"));
    const QString said = err.text();
    err.restore();
    QVERIFY2(said.contains(reason), qPrintable(said));
    QCOMPARE(said.count("the next open starts a new helper"), 1); // said once, not every tick

    // The lost port stays lost until closed; a new open reads again.
    ::close(handle);
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady));
    QVERIFY(library->OpenMeterPort(1, 4800, handle));
    QVERIFY(hostPid() > 0 && hostPid() != firstHost);
    library->ReadSalinity(handle, ModelCode, m);
    QCOMPARE(m.Status, 0);
    QCOMPARE(m.Value, 35.0);
    ::close(handle);
}

// Through the program: the displays and the rows show the lost driver as
// an error code, and the recording goes on.
void TestBridge::lostHelperShowsErrorTexts()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady) + "exit 1\n");
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    auto library = loadBridge();
    QVERIFY(library);
    RecordingDialogs dialogs;
    auto closeWindows = qScopeGuard(&DestroyWindows);
    openWindows(*library);
    Main->BitBtn1Click();
    QCOMPARE(rowCells(0), (QList<QByteArray>{"35.0", "53.100000", "48.200000", "21.5"}));
    Main->AcquisitionTick();
    Main->AcquisitionTick();
    QCOMPARE(displayTexts(), (std::array<QByteArray, 4>{"Ers", "Ers", "Ers", "Ers"}));
    QCOMPARE(rowCells(2), (QList<QByteArray>{"Ers:-4", "Ers:-4", "Ers:-4", "Ers:-4"}));
    QVERIFY(Main->BitBtn3->isEnabled()); // still recording
    QVERIFY(dialogs.shown.isEmpty());
    Main->BitBtn3Click();
}

void TestBridge::openThatNeverReturnsIsBounded()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady));
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    auto library = loadBridge();
    QVERIFY(library);
    THandle handle = -1;
    QVERIFY(library->OpenMeterPort(1, 4800, handle)); // the host is up
    ::close(handle);

    // The same library, now hanging in its open.
    QString script = work.path("maker/trovport.txt");
    writeFile(script, "open-hang\n" + scriptLine(Steady));
    CapturedStderr err;
    QElapsedTimer t;
    t.start();
    QVERIFY(!library->OpenMeterPort(1, 4800, handle));
    const qint64 ms = t.elapsed();
    QVERIFY2(ms >= 5000 && ms < 6000, qPrintable(QString::number(ms)));
    const QString said = err.text();
    err.restore();
    QVERIFY2(said.contains("COM1: the maker's driver did not return from OpenMeterPort within 5 s; "
                           "its helper was stopped"),
             qPrintable(said));
    QCOMPARE(hostPid(), 0);
    // The next open starts a new host.
    writeFile(script, scriptLine(Steady));
    QVERIFY(library->OpenMeterPort(1, 4800, handle));
    QVERIFY(hostPid() > 0);
    ::close(handle);
}

// With the bridge as the prefix's only user: an open that fails on the
// way leaves nothing of Wine behind; and the library unloaded with a port
// still open, after a serial device went away, ends the host and Wine's
// whole session before the unload returns.
void TestBridge::unloadLeavesNoWineProcess()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    session->stop(); // from here on the bridge is the prefix's only user
    QVERIFY(msUntilNoWine(10000) >= 0);
    WorkingFolder work;
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady), true);
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    THandle handle = -1;
    {
        auto library = loadBridge();
        QVERIFY(library);
        QVERIFY(!library->OpenMeterPort(1, 4800, handle));
        QVERIFY(msUntilNoWine(5000) >= 0);
    }

    int master = -1;
    int slave = -1;
    char name[128] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::close(slave);
    installDriver(work.path("maker/trovport.dll"), "serial\n");
    writeFile(work.path("trovport.ini"),
              QByteArray("COM1=windows maker/trovport.dll\n[Serial]\nCOM1=") + name + "\n");
    auto library = loadBridge();
    QVERIFY(library);
    THandle other = -1;
    QVERIFY(library->OpenMeterPort(1, 4800, handle));
    const QByteArray line = scriptLine(Steady);
    QCOMPARE(::write(master, line.constData(), size_t(line.size())), ssize_t(line.size()));
    MeasuredValue m{};
    library->ReadSalinity(handle, ModelCode, m);
    QCOMPARE(m.Value, 35.0);
    ::close(handle);
    pollfd p{master, POLLHUP, 0};
    for (int i = 0; i < 100 && !(::poll(&p, 1, 20) > 0 && (p.revents & POLLHUP)); ++i) {
    }
    QVERIFY(p.revents & POLLHUP); // Wine let go of the device
    ::close(master); // and the device goes away
    // Another port stays open until the unload.
    QString script = work.path("maker/trovport.txt");
    writeFile(script, scriptLine(Steady));
    QVERIFY(library->OpenMeterPort(1, 4800, other));
    QVERIFY(!wineProcesses().isEmpty());

    QElapsedTimer t;
    t.start();
    library.reset();
    const qint64 unload = t.elapsed();
    QVERIFY2(unload < 6000, qPrintable(QString::number(unload)));
    QVERIFY(msUntilNoWine(500) >= 0);
    ::close(other);
}

void TestBridge::closedProgramLeavesNoWineProcess_data()
{
    QTest::addColumn<int>("sig");
    QTest::addColumn<bool>("ordered"); // the program ends itself in order
    QTest::newRow("SIGTERM") << int(SIGTERM) << true;
    QTest::newRow("SIGKILL") << int(SIGKILL) << false;
}

// The program itself, recording from the maker's driver, is closed: no
// Wine process of the prefix is left.
void TestBridge::closedProgramLeavesNoWineProcess()
{
    if (!live_)
        QSKIP(qPrintable(whyNotLive_));
    QFETCH(int, sig);
    QFETCH(bool, ordered);
    session->stop(); // from here on the program is the prefix's only user
    QVERIFY(msUntilNoWine(10000) >= 0);
    WorkingFolder work;
    QVERIFY(QFile::copy(binDir() + "/trovport.dll", work.path("trovport.dll")));
    installDriver(work.path("maker/trovport.dll"), scriptLine(Steady));
    writeFile(work.path("trovport.ini"), "COM1=windows maker/trovport.dll\n");
    QVERIFY(storefix::writeStore("[Device]\nPort=1\nSpeed=4800\nRT=1\n"));

    QProcess program;
    program.setWorkingDirectory(work.path());
    program.setProgram(QCoreApplication::applicationFilePath());
    program.setArguments({QStringLiteral("--program")});
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start();
    QVERIFY(program.waitForStarted(5000));
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains("recording\n") && t.elapsed() < 60000
           && program.state() == QProcess::Running) {
        program.waitForReadyRead(100);
        out += program.readAllStandardOutput();
    }
    QVERIFY2(out.contains("recording\n"), out.constData());
    QVERIFY(hostPid() > 0);

    QVERIFY(::kill(pid_t(program.processId()), sig) == 0);
    t.restart();
    QVERIFY(program.waitForFinished(10000));
    const qint64 ended = t.elapsed();
    out += program.readAllStandardOutput();
    if (ordered) {
        QVERIFY2(out.endsWith("ended 0\n"), out.constData());
        QVERIFY2(ended < 5000, qPrintable(QString::number(ended)));
    }
    const qint64 gone = msUntilNoWine(10000);
    QVERIFY2(gone >= 0, "Wine processes were left behind");
    if (ordered) // the program waited for Wine before it ended
        QVERIFY2(gone < 200, qPrintable(QString::number(gone)));
    qInfo("program ended in %lld ms, Wine %lld ms later", ended, gone);
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--program") == 0)
        return runProgram(argc, argv);
    isolateTestEnvironment();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Dsg5926"));
    InstallFontSubstitutions();
    TestBridge tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_bridge.moc"
