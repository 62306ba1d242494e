// The stand-in spreadsheet and the conversation layer it serves: frames,
// the sheet's commands, constants read as a user's typing is, the saved
// sheet, the server's items, waits and refusals.
#include "LocalSocketDdeClientConv.h"
#include "DdeFrames.h"
#include "Sheet.h"
#include "StandIn.h"
#include "TestSupport.h"
#include "TypedInput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

class TestExcelPeer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void framesRoundTrip();
    void framesArriveInPieces();
    void malformedFrames_data();
    void malformedFrames();
    void sheetCommands_data();
    void sheetCommands();
    void selectStaysOnSheet();
    void csvQuoting();
    void typedReading_data();
    void typedReading();
    void regionOfLocale();
    void constantsEnteredAsTyped();
    void savedSheetKeepsNumbers();
    void conversationOpensOnlySystem();
    void automaticModeOpensOnSetLink();
    void statusBusyUntilQueueDone();
    void waitFlagHeldUntilDone();
    void formatCharsFilterRequestedData();
    void unknownItemGivesNothing();
    void executesGoOutWithEvents();
    void serverEndRaisesClose();
    void secondInstanceLeavesAtOnce();
    void brokenClientIsDropped();
    void commandsOffGridAreFailures();
    void sharedRuntimeFolderRefused_data();
    void sharedRuntimeFolderRefused();
    void burstOfConnectsIsServed();
    void calcDemandedWithoutLibreOffice_data();
    void calcDemandedWithoutLibreOffice();
};

void TestExcelPeer::init()
{
    QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
}

void TestExcelPeer::framesRoundTrip()
{
    using dde::FrameType;
    const QList<dde::Frame> frames{
        {FrameType::Connect, 0, false, "System"},
        {FrameType::Execute, 7, true, "[FORMULA(\"\xc3\xa9\", \"R1C1\")]"},
        {FrameType::Execute, 0xfffffffe, false, ""},
        {FrameType::Request, 9, false, "Status"},
        {FrameType::Data, 9, false, QByteArray("Ready\0", 6)},
        {FrameType::NoData, 10, false, ""},
        {FrameType::Done, 7, false, ""},
        {FrameType::Accept, 0, false, ""},
        {FrameType::Refuse, 0, false, ""}};
    QByteArray stream;
    for (const auto& f : frames)
        stream += dde::encodeFrame(f);
    dde::FrameReader reader;
    reader.append(stream);
    for (const auto& f : frames) {
        const auto got = reader.next();
        QVERIFY(got);
        QCOMPARE(int(got->type), int(f.type));
        QCOMPARE(got->id, f.id);
        QCOMPARE(got->wait, f.wait);
        QCOMPARE(got->text, f.text);
    }
    QVERIFY(!reader.next());
    QVERIFY(!reader.malformed());
    // Execute: length, type, id, wait, command.
    QCOMPARE(dde::encodeFrame({FrameType::Execute, 1, true, "AB"}),
             QByteArray("\0\0\0\x08X\0\0\0\x01\x01" "AB", 12));
}

void TestExcelPeer::framesArriveInPieces()
{
    QByteArray stream;
    for (int i = 0; i < 1000; ++i)
        dde::appendFrame(stream, dde::FrameType::Execute, quint32(i + 1), false,
                         QByteArray("[FORMULA(") + QByteArray::number(i) + ")]");
    dde::FrameReader reader;
    int seen = 0;
    for (qsizetype pos = 0; pos < stream.size(); pos += 7) {
        reader.append(stream.mid(pos, 7));
        while (auto f = reader.next()) {
            ++seen;
            QCOMPARE(f->id, quint32(seen));
        }
    }
    QCOMPARE(seen, 1000);
}

void TestExcelPeer::malformedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("zero length") << QByteArray("\0\0\0\0X", 5);
    QTest::newRow("huge length") << QByteArray("\x7f\0\0\0X", 5);
    QTest::newRow("unknown type") << QByteArray("\0\0\0\x01Z", 5);
    QTest::newRow("execute without id") << QByteArray("\0\0\0\x02X\0", 6);
}

void TestExcelPeer::malformedFrames()
{
    QFETCH(QByteArray, bytes);
    dde::FrameReader reader;
    reader.append(bytes);
    QVERIFY(!reader.next());
    QVERIFY(reader.malformed());
}

void TestExcelPeer::sheetCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("value"); // "" = empty cell
    QTest::addColumn<bool>("text");
    QTest::newRow("text at address") << "[FORMULA(\"Time\", \"R2C1\")]" << true << 2 << 1 << "Time" << true;
    QTest::newRow("number at address") << "[FORMULA(35.01, \"R3C2\")]" << true << 3 << 2 << "35.01" << false;
    QTest::newRow("text with comma") << "[FORMULA(\"35,01\", \"R3C2\")]" << true << 3 << 2 << "35,01" << true;
    QTest::newRow("doubled quote") << "[FORMULA(\"a\"\"b\", \"R1C1\")]" << true << 1 << 1 << "a\"b" << true;
    QTest::newRow("formula as given") << "[FORMULA(=R1C1*2, \"R1C2\")]" << true << 1 << 2 << "=R1C1*2" << false;
    QTest::newRow("active cell") << "[FORMULA(\"x\")]" << true << 1 << 1 << "x" << true;
    QTest::newRow("empty text") << "[FORMULA(\"\", \"R4C4\")]" << true << 4 << 4 << "" << true;
    QTest::newRow("row 0") << "[FORMULA(1, \"R0C1\")]" << false << 1 << 1 << "" << false;
    QTest::newRow("last cell of the grid") << "[FORMULA(1, \"R65536C256\")]" << true << 65536 << 256 << "1" << false;
    QTest::newRow("row below the grid") << "[FORMULA(1, \"R65537C1\")]" << false << 1 << 1 << "" << false;
    QTest::newRow("column right of the grid") << "[FORMULA(\"x\", \"R1C257\")]" << false << 1 << 1 << "" << false;
    QTest::newRow("address without column") << "[FORMULA(1, \"R1C\")]" << false << 1 << 1 << "" << false;
    QTest::newRow("A1 address") << "[FORMULA(\"x\", \"A1\")]" << false << 1 << 1 << "" << false;
    QTest::newRow("unknown command") << "[BEEP()]" << false << 1 << 1 << "" << false;
    QTest::newRow("no brackets") << "FORMULA(1)" << false << 1 << 1 << "" << false;
}

void TestExcelPeer::sheetCommands()
{
    QFETCH(QString, command);
    QFETCH(bool, ok);
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(QString, value);
    QFETCH(bool, text);
    Sheet sheet;
    QCOMPARE(sheet.execute(command), ok);
    const Cell* c = sheet.cell(row, col);
    if (!ok) {
        QCOMPARE(sheet.cellCount(), 0);
        return;
    }
    QVERIFY(c);
    QCOMPARE(c->value, value);
    QCOMPARE(c->text, text);
    QCOMPARE(sheet.cellCount(), 1);
}

void TestExcelPeer::selectStaysOnSheet()
{
    Sheet sheet;
    QCOMPARE(sheet.selection(), QStringLiteral("[Book1]Sheet1!R1C1"));
    QVERIFY(!sheet.execute(QStringLiteral("[SELECT(\"R[-1]C\")]")));
    QVERIFY(!sheet.execute(QStringLiteral("[SELECT(\"RC[-1]\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[SELECT(\"R[1]C\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[SELECT(\"R[1]C\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[SELECT(\"RC[1]\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[SELECT(\"R[-1]C\")]")));
    QCOMPARE(sheet.selection(), QStringLiteral("[Book1]Sheet1!R2C2"));
    QVERIFY(sheet.execute(QStringLiteral("[FORMULA(5)]")));
    QCOMPARE(sheet.cell(2, 2)->value, QStringLiteral("5"));
    QVERIFY(!sheet.execute(QStringLiteral("[SELECT(\"R65537C1\")]")));
    QVERIFY(!sheet.execute(QStringLiteral("[SELECT(\"R1C257\")]")));
    QCOMPARE(sheet.selection(), QStringLiteral("[Book1]Sheet1!R2C2"));
    QVERIFY(sheet.execute(QStringLiteral("[SELECT(\"R65536C256\")]")));
    QVERIFY(!sheet.execute(QStringLiteral("[SELECT(\"R[1]C\")]")));
    QVERIFY(!sheet.execute(QStringLiteral("[SELECT(\"RC[1]\")]")));
    QCOMPARE(sheet.selection(), QStringLiteral("[Book1]Sheet1!R65536C256"));
    QVERIFY(sheet.execute(QStringLiteral("[ERROR(0)]")));
    QVERIFY(!sheet.checkErrors());
    QVERIFY(sheet.execute(QStringLiteral("[ERROR(1)]")));
    QVERIFY(sheet.checkErrors());
}

void TestExcelPeer::csvQuoting()
{
    Sheet sheet;
    sheet.setCell(1, 1, {QStringLiteral("a,b"), true, {}});
    sheet.setCell(1, 3, {QStringLiteral("say \"x\""), true, {}});
    sheet.setCell(2, 2, {QStringLiteral("7"), false, {}});
    QCOMPARE(sheet.toCsv(), QStringLiteral("\"a,b\",,\"say \"\"x\"\"\"\n,7,\n"));
}

namespace {
typed::Region german()
{
    return typed::Region::of(QLocale(QLocale::German, QLocale::Germany));
}
} // namespace

void TestExcelPeer::typedReading_data()
{
    using Kind = typed::Entry::Kind;
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inGerman");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("value"); // a time in seconds
    QTest::addColumn<QString>("flags"); // of a time: 12 (marker), elapsed, hundredths
    const int number = int(Kind::Number);
    const int time = int(Kind::Time);
    const int text = int(Kind::Text);
    QTest::newRow("salinity") << "35.2" << false << number << 35.2 << "";
    QTest::newRow("decimal comma") << "35,2" << true << number << 35.2 << "";
    QTest::newRow("point in a comma region") << "35.2" << true << text << 0.0 << "";
    QTest::newRow("comma in a point region") << "35,2" << false << text << 0.0 << "";
    QTest::newRow("six decimals") << "53.400000" << false << number << 53.4 << "";
    QTest::newRow("negative") << "-2.5" << false << number << -2.5 << "";
    QTest::newRow("plus") << "+3" << false << number << 3.0 << "";
    QTest::newRow("leading zeros") << "0012" << false << number << 12.0 << "";
    QTest::newRow("blanks around") << " 35.2 " << false << number << 35.2 << "";
    QTest::newRow("exponent") << "1,5E-02" << true << number << 0.015 << "";
    QTest::newRow("fraction only") << ".5" << false << number << 0.5 << "";
    QTest::newRow("point last") << "5." << false << number << 5.0 << "";
    QTest::newRow("groups") << "12,345,678.5" << false << number << 12345678.5 << "";
    QTest::newRow("German groups") << "1.234,5" << true << number << 1234.5 << "";
    QTest::newRow("group of two") << "1,23" << false << text << 0.0 << "";
    QTest::newRow("group of four") << "1,2345" << false << text << 0.0 << "";
    QTest::newRow("exponent without digits") << "1e" << false << text << 0.0 << "";
    QTest::newRow("24-hour time") << "05:28:22" << false << time << 19702.0 << "";
    QTest::newRow("German time") << "17:28:22" << true << time << 62902.0 << "";
    QTest::newRow("afternoon") << "5:28:22 PM" << false << time << 62902.0 << "12";
    QTest::newRow("marker in front, lower case") << "pm 5:28:22" << false << time << 62902.0 << "12";
    QTest::newRow("midnight in 12 hours") << "12:00:00 AM" << false << time << 0.0 << "12";
    QTest::newRow("noon in 12 hours") << "12:00:01 PM" << false << time << 43201.0 << "12";
    QTest::newRow("17 PM") << "17:28:22 PM" << false << text << 0.0 << "";
    QTest::newRow("no seconds") << "5:28" << false << time << 19680.0 << "";
    QTest::newRow("a day and more") << "25:00:00" << false << time << 90000.0 << "elapsed";
    QTest::newRow("hundredths") << "5:28:22.25" << false << time << 19702.25 << "hundredths";
    QTest::newRow("German hundredths") << "5:28:22,25" << true << time << 19702.25 << "hundredths";
    QTest::newRow("60 minutes") << "12:60:00" << false << text << 0.0 << "";
    QTest::newRow("60 seconds") << "12:00:60" << false << text << 0.0 << "";
    QTest::newRow("four fields") << "1:2:3:4" << false << text << 0.0 << "";
    QTest::newRow("error code") << "Er-1" << false << text << 0.0 << "";
    QTest::newRow("unlisted code") << "Ers:-1" << false << text << 0.0 << "";
    QTest::newRow("title") << "These data are import from Pemdat.exe (5926)" << false << text << 0.0 << "";
    QTest::newRow("empty") << "" << false << text << 0.0 << "";
    QTest::newRow("sign only") << "-" << false << text << 0.0 << "";
    QTest::newRow("formula stays text") << "=1+1" << false << text << 0.0 << "";
}

void TestExcelPeer::typedReading()
{
    QFETCH(QString, text);
    QFETCH(bool, inGerman);
    QFETCH(int, kind);
    QFETCH(double, value);
    QFETCH(QString, flags);
    const typed::Entry e = typed::read(text, inGerman ? german() : typed::Region{});
    QCOMPARE(int(e.kind), kind);
    if (e.kind == typed::Entry::Kind::Number)
        QCOMPARE(e.value, value);
    if (e.kind != typed::Entry::Kind::Time)
        return;
    QVERIFY2(std::abs(e.value * 86400 - value) < 1e-6, qPrintable(QString::number(e.value * 86400, 'g', 17)));
    QCOMPARE(e.twelveHour, flags == QLatin1String("12"));
    QCOMPARE(e.elapsed, flags == QLatin1String("elapsed"));
    QCOMPARE(e.hundredths, flags == QLatin1String("hundredths"));
}

void TestExcelPeer::regionOfLocale()
{
    const typed::Region de = german();
    QCOMPARE(de.decimal, QChar(u','));
    QCOMPARE(de.group, QChar(u'.'));
    QCOMPARE(de.timeSeparator, QChar(u':'));
    QCOMPARE(de.secondsDecimal, QChar(u','));
    const typed::Region fi = typed::Region::of(QLocale(QLocale::Finnish, QLocale::Finland));
    QCOMPARE(fi.timeSeparator, QChar(u'.'));
    QCOMPARE(int(typed::read(QStringLiteral("5.28.22"), fi).kind), int(typed::Entry::Kind::Time));
    const typed::Region us = typed::Region::of(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(us.decimal, QChar(u'.'));
    QCOMPARE(us.pm, QStringLiteral("PM"));
}

void TestExcelPeer::constantsEnteredAsTyped()
{
    Sheet sheet;
    QVERIFY(sheet.execute(QStringLiteral("[FORMULA(\"35.2\", \"R3C2\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[FORMULA(\"05:28:22\", \"R3C1\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[FORMULA(\"Er-1\", \"R3C3\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[FORMULA(7, \"R4C1\")]")));
    QVERIFY(sheet.execute(QStringLiteral("[FORMULA(=R4C1*2, \"R4C2\")]")));
    const Cell* ppt = sheet.cell(3, 2);
    QVERIFY(!ppt->text);
    QCOMPARE(int(ppt->entry.kind), int(typed::Entry::Kind::Number));
    QCOMPARE(ppt->entry.value, 35.2);
    QCOMPARE(ppt->value, QStringLiteral("35.2"));
    QCOMPARE(int(sheet.cell(3, 1)->entry.kind), int(typed::Entry::Kind::Time));
    QVERIFY(sheet.cell(3, 3)->text);
    QVERIFY(sheet.cell(4, 1)->isNumber()); // an unquoted number is one too
    QVERIFY(!sheet.cell(4, 2)->isNumber() && !sheet.cell(4, 2)->text);
    std::optional<QString> item;
    sheet.query(QStringLiteral("Cell R3C2"), [&](std::optional<QString> t) { item = t; });
    QCOMPARE(item.value_or("-"), QStringLiteral("V:35.2"));
    sheet.query(QStringLiteral("Cell R3C3"), [&](std::optional<QString> t) { item = t; });
    QCOMPARE(item.value_or("-"), QStringLiteral("T:Er-1"));

    // In a decimal-comma region the same export sends "35,2".
    Sheet inGerman(german());
    QVERIFY(inGerman.execute(QStringLiteral("[FORMULA(\"35,2\", \"R1C1\")]")));
    QVERIFY(inGerman.execute(QStringLiteral("[FORMULA(\"35.2\", \"R1C2\")]")));
    QCOMPARE(inGerman.cell(1, 1)->entry.value, 35.2);
    QVERIFY(!inGerman.cell(1, 1)->text);
    QVERIFY(inGerman.cell(1, 2)->text);
}

void TestExcelPeer::savedSheetKeepsNumbers()
{
    Sheet sheet(german());
    const QStringList commands{
        QStringLiteral("[FORMULA(\"Time\", \"R1C1\")]"),     QStringLiteral("[FORMULA(\"ppt\", \"R1C2\")]"),
        QStringLiteral("[FORMULA(\"05:28:22\", \"R2C1\")]"), QStringLiteral("[FORMULA(\"35,2\", \"R2C2\")]"),
        QStringLiteral("[FORMULA(\"25:00:00\", \"R3C1\")]"), QStringLiteral("[FORMULA(\"Er-3\", \"R3C2\")]"),
        QStringLiteral("[FORMULA(\"1,5\", \"R4C2\")]")};
    for (const QString& c : commands)
        QVERIFY(sheet.execute(c));
    // Numbers as a reader of the file takes them, whatever the region.
    QCOMPARE(sheet.toCsv(), QStringLiteral("Time,ppt\n05:28:22,35.2\n25:00:00,Er-3\n,1.5\n"));

    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    if (unzip.isEmpty())
        QSKIP("unzip is not installed: the workbook's parts cannot be read");
    const QString file = testScratchDir() + QStringLiteral("/numbers.xlsx");
    QString error;
    QVERIFY2(sheet.save(file, &error), qPrintable(error));
    QProcess p;
    p.start(unzip, {QStringLiteral("-p"), file, QStringLiteral("xl/worksheets/sheet1.xml")});
    QVERIFY(p.waitForFinished(10000));
    const QByteArray xml = p.readAllStandardOutput();
    QVERIFY2(xml.contains("<c r=\"B2\"><v>35.2</v></c>"), xml.constData());
    QVERIFY2(xml.contains("<c r=\"B4\"><v>1.5</v></c>"), xml.constData());
    QVERIFY2(xml.contains("<c r=\"B3\" t=\"s\">"), xml.constData());
    // Each time in a time format of its own kind.
    static const QRegularExpression times(QStringLiteral(R"re(<c r="A2" s="(\d+)"><v>0\.228032407407\d*</v></c>.*<c r="A3" s="(\d+)"><v>1\.041666666666\d*</v></c>)re"));
    const auto m = times.match(QString::fromUtf8(xml));
    QVERIFY2(m.hasMatch(), xml.constData());
    QVERIFY(m.captured(1) != m.captured(2));
}

void TestExcelPeer::conversationOpensOnlySystem()
{
    StandIn excel;
    QVERIFY(excel.start());
    LocalSocketDdeClientConv conv;
    conv.setConnectMode(TDdeClientConv::ConnectMode::Manual);
    int opens = 0;
    conv.OnOpen = [&] { ++opens; };
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("Sheet1")));
    QVERIFY(!conv.OpenLink()); // no service application: one attempt only
    QCOMPARE(opens, 0);
    QVERIFY(!conv.ExecuteMacro(QStringLiteral("[ERROR(0)]"), false));
    QVERIFY(!conv.RequestData(QStringLiteral("Status")));
    conv.SetLink(QStringLiteral("EXCEL"), QStringLiteral("System")); // service names ignore case
    QVERIFY(conv.OpenLink());
    QCOMPARE(opens, 1);
    QCOMPARE(conv.RequestData(QStringLiteral("Status")).value_or("-"), QByteArray("Ready\0", 6));
    QCOMPARE(excel.logLines(), QStringList({QStringLiteral("connect Sheet1"),
                                            QStringLiteral("connect System"),
                                            QStringLiteral("request Status")}));
}

void TestExcelPeer::automaticModeOpensOnSetLink()
{
    StandIn excel;
    QVERIFY(excel.start());
    LocalSocketDdeClientConv conv;
    QCOMPARE(conv.connectMode(), TDdeClientConv::ConnectMode::Automatic);
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    QVERIFY(conv.isOpen());
}

void TestExcelPeer::statusBusyUntilQueueDone()
{
    StandIn excel;
    QVERIFY(excel.start({QStringLiteral("--delay-ms"), QStringLiteral("40")}));
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    for (int i = 1; i <= 3; ++i)
        QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(%1, \"R%1C1\")]").arg(i), false));
    QElapsedTimer t;
    t.start();
    QCOMPARE(conv.RequestData(QStringLiteral("Status")).value_or("-"), QByteArray("Busy\0", 5));
    QVERIFY(t.elapsed() < 100); // requests are answered while commands wait
    QByteArray status;
    while (t.elapsed() < 5000
           && (status = conv.RequestData(QStringLiteral("Status")).value_or("-")) != QByteArray("Ready\0", 6))
        QTest::qWait(5);
    QCOMPARE(status, QByteArray("Ready\0", 6));
    QVERIFY(t.elapsed() >= 80); // three commands at 40 ms each
    conv.setFormatChars(true);
    QCOMPARE(conv.RequestData(QStringLiteral("Sheet")).value_or("-"), QByteArray("1\n2\n3\n\0", 7));
}

void TestExcelPeer::waitFlagHeldUntilDone()
{
    StandIn excel;
    QVERIFY(excel.start({QStringLiteral("--delay-ms"), QStringLiteral("30")}));
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[SELECT(\"R[1]C\")]"), true));
    QVERIFY(conv.WaitStat());
    QVERIFY(!conv.ExecuteMacro(QStringLiteral("[SELECT(\"R[1]C\")]"), false));
    QVERIFY(!conv.RequestData(QStringLiteral("Selection")));
    QTRY_VERIFY_WITH_TIMEOUT(!conv.WaitStat(), 5000);
    QCOMPARE(conv.RequestData(QStringLiteral("Selection")).value_or("-"),
             QByteArray("[Book1]Sheet1!R2C1\0", 19));
    // Only the first execute reached the spreadsheet.
    QCOMPARE(excel.logLines().filter(QStringLiteral("execute")),
             QStringList{QStringLiteral("execute 1 [SELECT(\"R[1]C\")]")});
}

void TestExcelPeer::formatCharsFilterRequestedData()
{
    StandIn excel;
    QVERIFY(excel.start());
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(\"a\tb\", \"R1C1\")]"), false));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[FORMULA(\"c\", \"R2C1\")]"), false));
    QVERIFY(!conv.FormatChars());
    QCOMPARE(conv.RequestData(QStringLiteral("Sheet")).value_or("-"), QByteArray("abc\0", 4));
    conv.setFormatChars(true);
    QCOMPARE(conv.RequestData(QStringLiteral("Sheet")).value_or("-"), QByteArray("a\tb\nc\n\0", 7));
}

void TestExcelPeer::unknownItemGivesNothing()
{
    StandIn excel;
    QVERIFY(excel.start());
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    QElapsedTimer t;
    t.start();
    QVERIFY(!conv.RequestData(QStringLiteral("Topics")));
    QVERIFY(t.elapsed() < 2000);
    QVERIFY(conv.isOpen());
}

void TestExcelPeer::executesGoOutWithEvents()
{
    StandIn excel;
    QVERIFY(excel.start());
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[ERROR(0)]"), false));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[ERROR(1)]"), false));
    // No request follows: handling events alone must deliver them.
    QTRY_COMPARE_WITH_TIMEOUT(excel.logLines().size(), 3, 5000);
    QCOMPARE(excel.logLines().mid(1), QStringList({QStringLiteral("execute 0 [ERROR(0)]"),
                                                   QStringLiteral("execute 0 [ERROR(1)]")}));
}

void TestExcelPeer::serverEndRaisesClose()
{
    StandIn excel;
    QVERIFY(excel.start());
    LocalSocketDdeClientConv conv;
    int closes = 0;
    conv.OnClose = [&] { ++closes; };
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    QVERIFY(conv.ExecuteMacro(QStringLiteral("[QUIT()]"), false));
    QTRY_COMPARE_WITH_TIMEOUT(closes, 1, 5000);
    QVERIFY(!conv.isOpen());
    if (excel.process.state() != QProcess::NotRunning)
        QVERIFY(excel.process.waitForFinished(5000));
    QCOMPARE(excel.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(excel.process.exitCode(), 0);
    conv.CloseLink(); // already closed: no second notification
    QCOMPARE(closes, 1);
}

void TestExcelPeer::secondInstanceLeavesAtOnce()
{
    StandIn first;
    QVERIFY(first.start());
    QProcess second;
    QElapsedTimer t;
    t.start();
    second.start(standInProgram(), {QStringLiteral("--headless")});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(t.elapsed() < 3000);
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
}

void TestExcelPeer::brokenClientIsDropped()
{
    StandIn excel;
    QVERIFY(excel.start());
    QLocalSocket raw;
    raw.connectToServer(dde::serverName(QStringLiteral("Excel")));
    QVERIFY(raw.waitForConnected(2000));
    raw.write(QByteArray("\xff\xff\xff\xff", 4));
    raw.flush();
    QTRY_COMPARE_WITH_TIMEOUT(raw.state(), QLocalSocket::UnconnectedState, 5000);
    // The server goes on serving others.
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
}

void TestExcelPeer::commandsOffGridAreFailures()
{
    StandIn excel;
    QVERIFY(excel.start());
    LocalSocketDdeClientConv conv;
    QVERIFY(conv.SetLink(QStringLiteral("Excel"), QStringLiteral("System")));
    const QStringList refused{QStringLiteral("[FORMULA(1, \"R65537C1\")]"),
                              QStringLiteral("[FORMULA(\"x\", \"R1C257\")]"),
                              QStringLiteral("[FORMULA(2, \"R1C\")]"),
                              QStringLiteral("[SELECT(\"R65537C1\")]")};
    for (const QString& c : refused)
        QVERIFY(conv.ExecuteMacro(c, false));
    QCOMPARE(conv.RequestData(QStringLiteral("Cell R1C1")).value_or("-"), QByteArray("E\0", 2));
    QCOMPARE(conv.RequestData(QStringLiteral("Selection")).value_or("-"),
             QByteArray("[Book1]Sheet1!R1C1\0", 19));
    QStringList failed;
    for (const QString& c : refused)
        failed << QStringLiteral("failed ") + c;
    QCOMPARE(excel.logLines().filter(QStringLiteral("failed ")), failed);
}

void TestExcelPeer::sharedRuntimeFolderRefused_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("sticky, world-writable") << 01777;
    QTest::newRow("group-writable") << 0770;
}

void TestExcelPeer::sharedRuntimeFolderRefused()
{
#ifndef Q_OS_UNIX
    QSKIP("folder modes are a POSIX matter");
#else
    QFETCH(int, mode);
    const QString dir = testScratchDir() + QStringLiteral("/shared-%1").arg(mode, 0, 8);
    QVERIFY(QDir().mkpath(dir));
    QCOMPARE(::chmod(QFile::encodeName(dir).constData(), mode_t(mode)), 0);
    QProcess excel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    excel.setProcessEnvironment(env);
    excel.start(standInProgram(), {QStringLiteral("--headless")});
    QVERIFY(excel.waitForFinished(10000));
    QCOMPARE(excel.exitStatus(), QProcess::NormalExit);
    QVERIFY(excel.exitCode() != 0);
    const QString err = QString::fromLocal8Bit(excel.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("can be written by others")), qPrintable(err));
    QVERIFY(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).isEmpty());
#endif
}

void TestExcelPeer::burstOfConnectsIsServed()
{
#ifndef Q_OS_UNIX
    QSKIP("the burst is made of raw POSIX sockets");
#else
    StandIn excel;
    QVERIFY(excel.start());
    // While the server is stopped nobody is accepted: every connect has to
    // wait in the listen queue.
    const pid_t pid = pid_t(excel.process.processId());
    QCOMPARE(::kill(pid, SIGSTOP), 0);
    const QByteArray path = QFile::encodeName(dde::serverName(QStringLiteral("Excel")));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    QVERIFY(size_t(path.size()) < sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    constexpr int Clients = 200;
    QList<int> fds;
    int refused = 0;
    for (int i = 0; i < Clients; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        QVERIFY(fd >= 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ++refused;
            ::close(fd);
            continue;
        }
        fds << fd;
    }
    ::kill(pid, SIGCONT);
    auto closeAll = qScopeGuard([&] {
        for (int fd : fds)
            ::close(fd);
    });
    QCOMPARE(refused, 0);
    const QByteArray hello = dde::encodeFrame({dde::FrameType::Connect, 0, false, "System"});
    const QByteArray accept = dde::encodeFrame({dde::FrameType::Accept, 0, false, ""});
    int accepted = 0;
    for (int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        timeval tv{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (::write(fd, hello.constData(), size_t(hello.size())) != hello.size())
            continue;
        QByteArray got(accept.size(), '\0');
        qsizetype have = 0;
        while (have < got.size()) {
            const ssize_t n = ::read(fd, got.data() + have, size_t(got.size() - have));
            if (n <= 0)
                break;
            have += n;
        }
        accepted += got == accept;
    }
    QCOMPARE(accepted, Clients);
#endif
}

void TestExcelPeer::calcDemandedWithoutLibreOffice_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("backend");
    QTest::newRow("--calc") << QStringList{QStringLiteral("--headless"), QStringLiteral("--calc")} << "grid";
    QTest::newRow("environment") << QStringList{QStringLiteral("--headless")} << "calc";
}

void TestExcelPeer::calcDemandedWithoutLibreOffice()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, backend);
    QProcess excel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DSG_SOFFICE"), testScratchDir() + QStringLiteral("/no/soffice"));
    env.insert(QStringLiteral("DSG_EXCEL_BACKEND"), backend); // --calc overrides it
    excel.setProcessEnvironment(env);
    excel.start(standInProgram(), arguments);
    QVERIFY(excel.waitForFinished(10000));
    QCOMPARE(excel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(excel.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(excel.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("cannot write into LibreOffice Calc")), qPrintable(err));
    QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
}

DSG_TEST_MAIN(TestExcelPeer)
#include "tst_excel_peer.moc"
