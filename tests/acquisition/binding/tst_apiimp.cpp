// The binding against the stand-in driver library, loaded from a working
// folder of its own as the program loads it.
#include "APIimp.h"
#include "HandleCheck.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Absolute in the system's own terms, taken before any test changes folder:
// under Wine a Unix path is read relative to the current drive.
QString binDir()
{
    static const QString dir = QDir(qEnvironmentVariable("DSG_BIN_DIR")).canonicalPath();
    return dir;
}

void writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(name));
    file.write(content);
}

// A file of the working folder as the operator's messages name it.
QString here(const QString& name)
{
    return QDir::toNativeSeparators(QFileInfo(name).absoluteFilePath());
}

MeasuredValue stale()
{
    return MeasuredValue{999.5, 77, 0x5A5A5A5A};
}

} // namespace

class TestApiImp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openComOneAt4800GivesRealHandle();
    void openRefused_data();
    void openRefused();
    void configurationIsReadAtEveryOpen();
    void scriptedReadingsArriveInCsvOrder();
    void simulatedReadingsArePlausible();
    void libraryLackingAFunctionIsRefused_data();
    void libraryLackingAFunctionIsRefused();
    void fileThatIsNoLibraryIsRefused();
    void missingFileIsRefused();
    void onlyTheExactFileIsLoaded();
    void driverFilePresentFollowsWorkingDirectory();

private:
    std::unique_ptr<DriverLibrary> loadHere();

    QString originalDir_;
    std::unique_ptr<QTemporaryDir> work_;
};

void TestApiImp::initTestCase()
{
    originalDir_ = QDir::currentPath();
    binDir();
    QVERIFY2(QFileInfo::exists(binDir() + "/trovport.dll"), "trovport.dll is not built");
}

void TestApiImp::init()
{
    work_ = std::make_unique<QTemporaryDir>();
    QVERIFY(work_->isValid());
    QVERIFY(QDir::setCurrent(work_->path()));
    QFile driver(binDir() + "/trovport.dll");
    QVERIFY2(driver.copy(work_->filePath("trovport.dll")), qPrintable(driver.errorString()));
}

void TestApiImp::cleanup()
{
    QDir::setCurrent(originalDir_);
    work_.reset();
}

std::unique_ptr<DriverLibrary> TestApiImp::loadHere()
{
    QString error;
    auto driver = DriverLibrary::loadFromWorkingDirectory(&error);
    if (!driver)
        qWarning("%s", qPrintable(error));
    return driver;
}

void TestApiImp::openComOneAt4800GivesRealHandle()
{
    auto driver = loadHere();
    QVERIFY(driver);
    QCOMPARE(driver->filePath(), QFileInfo(work_->filePath("trovport.dll")).absoluteFilePath());

    THandle handle = InvalidHandle;
    QVERIFY(driver->OpenMeterPort(1, 4800, handle));
    QVERIFY(handle != InvalidHandle);
    QVERIFY(handlecheck::isOpen(handle));
    QVERIFY(CloseHandle(handle));
    QVERIFY(!handlecheck::isOpen(handle));
    QVERIFY(handlecheck::isClosed(handle));
}

void TestApiImp::openRefused_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no trovport.ini
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("speed");

    QTest::newRow("9600 baud") << QByteArray() << 1 << 9600;
    QTest::newRow("2400 baud") << QByteArray() << 1 << 2400;
    QTest::newRow("0 baud") << QByteArray() << 1 << 0;
    QTest::newRow("COM2 absent by default") << QByteArray() << 2 << 4800;
    QTest::newRow("COM4 absent by default") << QByteArray() << 4 << 4800;
    QTest::newRow("port 0") << QByteArray() << 0 << 4800;
    QTest::newRow("port 5") << QByteArray() << 5 << 4800;
    QTest::newRow("port -1") << QByteArray() << -1 << 4800;
    QTest::newRow("COM1 made absent") << QByteArray("COM1=absent\n") << 1 << 4800;
    QTest::newRow("script at wrong speed")
        << QByteArray("COM3=script s.csv\n") << 3 << 9600;
    QTest::newRow("script file missing") << QByteArray("COM3=script nothing.csv\n") << 3 << 4800;
}

void TestApiImp::openRefused()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, port);
    QFETCH(int, speed);
    if (!ini.isEmpty())
        writeFile("trovport.ini", ini);
    writeFile("s.csv", "1,0,2,0,3,0,4,0\n");

    auto driver = loadHere();
    QVERIFY(driver);
    const int before = handlecheck::openCount();
    THandle handle = InvalidHandle;
    QVERIFY(!driver->OpenMeterPort(port, speed, handle));
    QCOMPARE(handlecheck::openCount(), before); // nothing left open behind a refusal
}

void TestApiImp::configurationIsReadAtEveryOpen()
{
    auto driver = loadHere();
    QVERIFY(driver);
    THandle handle = InvalidHandle;
    QVERIFY(!driver->OpenMeterPort(2, 4800, handle));

    writeFile("trovport.ini", "[Ports]\nCOM2=simulated\n");
    QVERIFY(driver->OpenMeterPort(2, 4800, handle));
    QVERIFY(CloseHandle(handle));

    QVERIFY(QFile::remove("trovport.ini"));
    QVERIFY(!driver->OpenMeterPort(2, 4800, handle));
    QVERIFY(driver->OpenMeterPort(1, 4800, handle));
    QVERIFY(CloseHandle(handle));
}

void TestApiImp::scriptedReadingsArriveInCsvOrder()
{
    writeFile("trovport.ini", "COM2=script run.csv\n");
    writeFile("run.csv", "# salinity,st,comp,st,uncomp,st,temp,st\n"
                         "35.1,0,0.0425,0,0.0481,0,21.25,0\n"
                         "\n"
                         "-1.5,3,0.0125,1,-0.002,8,-2.5,10\n"
                         "0,-7,1e-3,2147483647,0.5,-2147483648,99.75,6\n");
    struct Expected {
        double value[4];
        std::int32_t status[4];
    };
    const Expected lines[3] = {
        {{35.1, 0.0425, 0.0481, 21.25}, {0, 0, 0, 0}},
        {{-1.5, 0.0125, -0.002, -2.5}, {3, 1, 8, 10}},
        {{0.0, 1e-3, 0.5, 99.75}, {-7, 2147483647, -2147483647 - 1, 6}},
    };

    auto driver = loadHere();
    QVERIFY(driver);
    THandle handle = InvalidHandle;
    QVERIFY(driver->OpenMeterPort(2, 4800, handle));

    // Two rounds: after the last line the script starts again at the first.
    for (int round = 0; round < 2; ++round) {
        for (const Expected& e : lines) {
            MeasuredValue v[4] = {stale(), stale(), stale(), stale()};
            driver->ReadSalinity(handle, ModelCode, v[0]);
            driver->ReadCompensatedConductivity(handle, ModelCode, v[1]);
            driver->ReadUncompensatedConductivity(handle, ModelCode, v[2]);
            driver->ReadTemperature(handle, ModelCode, v[3]);
            for (int q = 0; q < 4; ++q) {
                QCOMPARE(v[q].Value, e.value[q]);
                QCOMPARE(v[q].Status, e.status[q]);
                QCOMPARE(v[q].Padding, 0x5A5A5A5A);
            }
        }
    }
    QVERIFY(CloseHandle(handle));
}

void TestApiImp::simulatedReadingsArePlausible()
{
    auto driver = loadHere();
    QVERIFY(driver);
    THandle handle = InvalidHandle;
    QVERIFY(driver->OpenMeterPort(1, 4800, handle));
    for (int i = 0; i < 200; ++i) {
        MeasuredValue s = stale(), comp = stale(), uncomp = stale(), t = stale();
        driver->ReadSalinity(handle, ModelCode, s);
        driver->ReadCompensatedConductivity(handle, ModelCode, comp);
        driver->ReadUncompensatedConductivity(handle, ModelCode, uncomp);
        driver->ReadTemperature(handle, ModelCode, t);
        QCOMPARE(s.Status, 0);
        QCOMPARE(comp.Status, 0);
        QCOMPARE(uncomp.Status, 0);
        QCOMPARE(t.Status, 0);
        QVERIFY2(s.Value > 30 && s.Value < 40, qPrintable(QString::number(s.Value)));
        QVERIFY2(t.Value > 15 && t.Value < 30, qPrintable(QString::number(t.Value)));
        QVERIFY(comp.Value > 0.02 && comp.Value < 0.07);
        QVERIFY(uncomp.Value > 0.02 && uncomp.Value < 0.07);
        // Conductivity rises about 2 % per kelvin, so referring it to 25 °C
        // undoes roughly that much; the exact curve is sea water's own.
        const double linear = uncomp.Value / (1.0 + 0.0191 * (t.Value - 25.0));
        QVERIFY2(qAbs(comp.Value - linear) / linear < 0.01,
                 qPrintable(QStringLiteral("T=%1 comp=%2 uncomp=%3")
                                .arg(t.Value)
                                .arg(comp.Value)
                                .arg(uncomp.Value)));
        QVERIFY(t.Value < 25 ? comp.Value > uncomp.Value : comp.Value <= uncomp.Value);
    }
    QVERIFY(CloseHandle(handle));
}

void TestApiImp::libraryLackingAFunctionIsRefused_data()
{
    QTest::addColumn<QString>("function");
    for (const char* name : {"OpenMeterPort", "ReadSalinity", "ReadCompensatedConductivity",
                             "ReadUncompensatedConductivity", "ReadTemperature"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestApiImp::libraryLackingAFunctionIsRefused()
{
    QFETCH(QString, function);
    const QString broken = binDir() + "/trovport_broken_" + function + ".dll";
    QVERIFY2(QFileInfo::exists(broken), qPrintable(broken));
    QVERIFY(QFile::remove("trovport.dll"));
    QVERIFY(QFile::copy(broken, "trovport.dll"));

    QString error;
    auto driver = DriverLibrary::loadFromWorkingDirectory(&error);
    QVERIFY(!driver);
    QVERIFY2(error.contains(QStringLiteral("does not provide the function %1.").arg(function)),
             qPrintable(error));
    QVERIFY2(error.contains(here("trovport.dll")), qPrintable(error));
}

void TestApiImp::fileThatIsNoLibraryIsRefused()
{
    writeFile("trovport.dll", "MZ this is only text pretending to be a driver\n");
    QString error;
    auto driver = DriverLibrary::loadFromWorkingDirectory(&error);
    QVERIFY(!driver);
    QVERIFY2(error.startsWith(QStringLiteral("The meter driver library '%1' cannot be loaded")
                                  .arg(here("trovport.dll"))),
             qPrintable(error));
}

void TestApiImp::missingFileIsRefused()
{
    QVERIFY(QFile::remove("trovport.dll"));
    QString error;
    QVERIFY(!DriverLibrary::loadFromWorkingDirectory(&error));
    QCOMPARE(error, QStringLiteral("The meter driver library '%1' does not exist.")
                        .arg(here("trovport.dll")));
}

void TestApiImp::onlyTheExactFileIsLoaded()
{
    // A loader that tried the usual prefixes and suffixes after the exact
    // name failed would pick up this working library instead.
    QVERIFY(QFile::rename("trovport.dll", "libtrovport.dll.so"));
    writeFile("trovport.dll", "not a library\n");
    QString error;
    QVERIFY(!DriverLibrary::loadFromWorkingDirectory(&error));
    QVERIFY2(error.contains("cannot be loaded"), qPrintable(error));

    QVERIFY(QFile::remove("trovport.dll"));
    QVERIFY(!DriverLibrary::loadFromWorkingDirectory(&error));
    QVERIFY2(error.contains("does not exist"), qPrintable(error));
}

void TestApiImp::driverFilePresentFollowsWorkingDirectory()
{
    QVERIFY(DriverFilePresent());

    QTemporaryDir other;
    QVERIFY(QDir::setCurrent(other.path()));
    QVERIFY(!DriverFilePresent());
    QVERIFY(QDir().mkdir("trovport.dll")); // a folder is no driver
    QVERIFY(!DriverFilePresent());

    QVERIFY(QDir::setCurrent(work_->path()));
    QVERIFY(DriverFilePresent());
    QVERIFY(QFile::remove("trovport.dll"));
    QVERIFY(!DriverFilePresent());
}

DSG_TEST_MAIN(TestApiImp)
#include "tst_apiimp.moc"
