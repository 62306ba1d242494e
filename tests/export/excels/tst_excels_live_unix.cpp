// The Excel client against the stand-in spreadsheet where Linux differs:
// the local socket itself (its hostile servers, its ownership checks), the
// refused conversation's exact traffic, and the workbooks the stand-in saves
// only here.
#include "Excels.h"
#include "HostileServer.h"
#include "LocalSocketDdeClientConv.h"
#include "StandIn.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

namespace {
// Begins the end of the program once `ms` have passed in an event loop.
void quitAfter(int ms)
{
    QTimer::singleShot(ms, [] { SetProgramQuitting(true); });
}
} // namespace

class TestExcelsLiveUnix : public QObject {
    Q_OBJECT
private slots:
    void init();
    void refusedConversation();
    void xlsxIsWorkbook();
    void xlsxOpensInLibreOffice();
    void quitEndsRequestAndHandshake();
    void serverSocketOwnership();
    void foreignServerGetsNothing();
    void cleanup();
};

void TestExcelsLiveUnix::init()
{
    QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
}

void TestExcelsLiveUnix::cleanup()
{
    SetProgramQuitting(false);
}

namespace {
// Writes a small sheet through the client and has the spreadsheet save it
// as a workbook on exit.
bool writeWorkbook(const QString& file)
{
    StandIn excelProgram;
    if (!excelProgram.start({QStringLiteral("--dump-on-exit"), file}))
        return false;
    {
        TAdvExcel excel;
        excel.Connect();
        excel.PutStrAt(1, 1, QStringLiteral("Time"));
        excel.PutStrAt(1, 2, QStringLiteral("Temp"));
        excel.PutStrAt(2, 1, QStringLiteral("12:00:01"));
        excel.PutAt(2, 2, QStringLiteral("21.5"));
        excel.WaitForReady();
    }
    return excelProgram.stop() && excelProgram.process.exitCode() == 0;
}

QByteArray unzipMember(const QString& unzip, const QString& file, const QString& member)
{
    QProcess p;
    p.start(unzip, {QStringLiteral("-p"), file, member});
    p.waitForFinished(10000);
    return p.readAllStandardOutput();
}
} // namespace

void TestExcelsLiveUnix::refusedConversation()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start({QStringLiteral("--refuse")}));
    RecordingStarter starter;
    TAdvExcel excel;
    QCOMPARE(errorTextOf<ExcelError>([&] { excel.Connect(); }), QStringLiteral("Excel could not be launched"));
    // Each of the three opens tried the service application once; every
    // second instance left at once, as a server already answered.
    QCOMPARE(starter.starts.size(), 3);
    for (QProcess* p : starter.processes) {
        // One that left during the client's later waits is already reaped.
        QVERIFY(p->state() == QProcess::NotRunning || p->waitForFinished(5000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }
    QCOMPARE(excelProgram.logLines().count(QStringLiteral("connect System")), 6);
    QCOMPARE(excelProgram.process.state(), QProcess::Running);
}

void TestExcelsLiveUnix::xlsxIsWorkbook()
{
    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    if (unzip.isEmpty())
        QSKIP("unzip is not installed: the workbook's parts cannot be read");
    const QString file = testScratchDir() + QStringLiteral("/parts.xlsx");
    QVERIFY(writeWorkbook(file));
    const QByteArray strings = unzipMember(unzip, file, QStringLiteral("xl/sharedStrings.xml"));
    for (const char* s : {"<t>Time</t>", "<t>Temp</t>"})
        QVERIFY2(strings.contains(s), s);
    QVERIFY(!strings.contains("12:00:01"));
    const QByteArray sheet = unzipMember(unzip, file, QStringLiteral("xl/worksheets/sheet1.xml"));
    QVERIFY(sheet.contains("<c r=\"B2\"><v>21.5</v></c>")); // stored as a number
    // The time as a time: the fraction of a day, in a time format.
    QVERIFY(sheet.contains("<c r=\"A2\" s=\"1\"><v>0.500011574074"));
    QVERIFY(unzipMember(unzip, file, QStringLiteral("xl/styles.xml")).contains("formatCode=\"hh:mm:ss\""));
}

void TestExcelsLiveUnix::xlsxOpensInLibreOffice()
{
    QString office = QStandardPaths::findExecutable(QStringLiteral("libreoffice"));
    if (office.isEmpty())
        office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.isEmpty())
        QSKIP("LibreOffice is not installed: the saved workbook cannot be opened by a reader here");
    const QString dir = testScratchDir() + QStringLiteral("/xlsx");
    QVERIFY(QDir().mkpath(dir));
    const QString file = dir + QStringLiteral("/Book1.xlsx");
    QVERIFY(writeWorkbook(file));
    QProcess convert;
    convert.setWorkingDirectory(dir);
    // Cells as the reader shows them, in the workbook's own formats.
    convert.start(office, {QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                           QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true"),
                           QStringLiteral("--outdir"), dir, file});
    QVERIFY(convert.waitForFinished(120000));
    QFile csv(dir + QStringLiteral("/Book1.csv"));
    QVERIFY2(csv.open(QIODevice::ReadOnly), "LibreOffice did not convert the workbook");
    const QString text = QString::fromUtf8(csv.readAll()).remove(u'\r');
    QCOMPARE(text, QStringLiteral("Time,Temp\n12:00:01,21.5\n"));
}

void TestExcelsLiveUnix::quitEndsRequestAndHandshake()
{
    {
        // A request the server never answers: the quit ends its wait.
        HostileServer server(HostileServer::Mode::MuteAfterAccept);
        QVERIFY(server.listening);
        LocalSocketDdeClientConv conv;
        conv.setConnectMode(TDdeClientConv::ConnectMode::Manual);
        conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System"));
        QVERIFY(conv.OpenLink());
        QElapsedTimer t;
        t.start();
        quitAfter(200);
        QVERIFY(!conv.RequestData(QStringLiteral("Status")));
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(server.requests, 1);
    }
    SetProgramQuitting(false);
    {
        // A handshake the server never answers, with a patient client.
        HostileServer server(HostileServer::Mode::Silent);
        QVERIFY(server.listening);
        LocalSocketDdeClientConv conv;
        conv.setConnectMode(TDdeClientConv::ConnectMode::Manual);
        conv.handshakeTimeoutMs = 60000;
        conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System"));
        QElapsedTimer t;
        t.start();
        quitAfter(200);
        QVERIFY(!conv.OpenLink());
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(server.connections, 1); // and no program was started
    }
}

void TestExcelsLiveUnix::serverSocketOwnership()
{
    StandIn excelProgram;
    QVERIFY(excelProgram.start());
    const QString socket = dde::serverName(QStringLiteral("Excel"));
    const QString folder = QFileInfo(socket).absolutePath();
    const uid_t me = ::geteuid();
    const uid_t other = me + 4242;
    QCOMPARE(dde::checkServerSocket(socket, me), dde::ServerSocket::Owned);
    QCOMPARE(dde::checkServerSocket(socket, other), dde::ServerSocket::Foreign);
    QCOMPARE(dde::checkServerSocket(folder + QStringLiteral("/dde-none"), me),
             dde::ServerSocket::Missing);
    QCOMPARE(dde::checkServerSocket(QStringLiteral("/nonexistent/dde-excel"), me),
             dde::ServerSocket::Missing);

    // The peer's own credentials, on a connected socket.
    QLocalSocket probe;
    probe.connectToServer(socket);
    QVERIFY(probe.waitForConnected(2000));
    QVERIFY(dde::peerIsUser(probe.socketDescriptor(), me));
    QVERIFY(!dde::peerIsUser(probe.socketDescriptor(), other));
    QVERIFY(!dde::peerIsUser(-1, me));
}

void TestExcelsLiveUnix::foreignServerGetsNothing()
{
    if (::geteuid() != 0)
        QSKIP("giving the socket to another user needs root");
    StandIn excelProgram;
    QVERIFY(excelProgram.start());
    const QString socket = dde::serverName(QStringLiteral("Excel"));
    const QByteArray socketPath = QFile::encodeName(socket);
    const QByteArray folderPath = QFile::encodeName(QFileInfo(socket).absolutePath());
    const uid_t other = 4242;
    struct Restore {
        QByteArray socket, folder;
        ~Restore()
        {
            [[maybe_unused]] int a = ::lchown(socket.constData(), 0, 0);
            [[maybe_unused]] int b = ::chown(folder.constData(), 0, 0);
        }
    } restore{socketPath, folderPath};
    struct Case {
        bool socketForeign;
        bool folderForeign;
        bool clientIsOther; // the client takes the other user for its own
    };
    for (const Case c : {Case{true, false, false}, Case{false, true, false}, Case{true, true, true}}) {
        QCOMPARE(::lchown(socketPath.constData(), c.socketForeign ? other : 0, 0), 0);
        QCOMPARE(::chown(folderPath.constData(), c.folderForeign ? other : 0, 0), 0);
        auto conv = std::make_unique<LocalSocketDdeClientConv>();
        if (c.clientIsOther)
            conv->serverOwner = other; // the path passes; the peer (root) does not
        TAdvExcel excel(nullptr, std::move(conv));
        excel.setExeName(QStringLiteral("/nonexistent/Excel"));
        QCOMPARE(errorTextOf<ExcelError>([&] { excel.Connect(); }),
                 QStringLiteral("Excel could not be launched"));
    }
    // Not a frame reached the foreign server.
    QVERIFY(excelProgram.logLines().isEmpty());
}

DSG_TEST_MAIN(TestExcelsLiveUnix)
#include "tst_excels_live_unix.moc"
