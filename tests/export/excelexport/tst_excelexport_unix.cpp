// The Excel export against servers that break the local socket's handshake
// (Linux: the Windows library does its own handshake).
#include "ExcelExport.h"
#include "Excels.h"
#include "ExportTestSupport.h"
#include "Fpross.h"
#include "HostileServer.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace {
const QString Starting = QStringLiteral("Now starting Excel,Please wait...!");
const QString NotFound = QStringLiteral("Sorry ,Can't Find Excel Program,Procedure abort!");
} // namespace

class TestExcelExportUnix : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingDialogs> dialogs;
    QStringList status;
    std::function<void(const QString&)> setStatus = [this](const QString& t) { status << t; };

private slots:
    void init()
    {
        QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
        dialogs = std::make_unique<RecordingDialogs>();
        status.clear();
    }
    void cleanup()
    {
        dialogs.reset();
        QCOMPARE(liveProgressWindows(), 0);
        QVERIFY(process == nullptr);
    }

    // A broken server costs seconds, not minutes, and the window thread
    // goes on handling its timer meanwhile. The starter claims every start
    // and starts nothing, so each open also tries once more after it.
    void brokenHandshakeEndsExport_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("garbage") << int(HostileServer::Mode::Garbage);
        QTest::newRow("zero-length frame") << int(HostileServer::Mode::ZeroLength);
        QTest::newRow("hang-up") << int(HostileServer::Mode::HangUp);
        QTest::newRow("silence") << int(HostileServer::Mode::Silent);
    }
    void brokenHandshakeEndsExport()
    {
        QFETCH(int, mode);
        HostileServer server{HostileServer::Mode(mode)};
        QVERIFY(server.listening);
        struct PretendStarter : ProgramStarter {
            bool start(const QString&, const QStringList&, Show) override
            {
                ++starts;
                return true;
            }
            int starts = 0;
        } starter;
        ProgramStarter::setInstance(&starter);
        QWidget window;
        GeneratedRows rows(3);
        TAdvExcel excel;
        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 longestGap = 0;
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, [&] {
            longestGap = qMax(longestGap, clock.elapsed() - lastTick);
            lastTick = clock.elapsed();
        });
        ticks.start(50);
        clock.start();

        ExportToExcel(&window, excel, rows, setStatus);
        const qint64 took = clock.elapsed();
        longestGap = qMax(longestGap, took - lastTick);
        ProgramStarter::setInstance(nullptr);

        QCOMPARE(status, (QStringList{Starting, NotFound}));
        QVERIFY2(took < 10000, qPrintable(QString::number(took)));
        QVERIFY2(longestGap < 1000, qPrintable(QString::number(longestGap)));
        QCOMPARE(starter.starts, 3);
        QCOMPARE(server.connections, 6); // two attempts per open, none repeated
        QVERIFY(dialogs->shown.isEmpty());
        QCOMPARE(rows.cellReads, 0);
    }
};

DSG_TEST_MAIN(TestExcelExportUnix)
#include "tst_excelexport_unix.moc"
