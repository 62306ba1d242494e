// The Excel export on its own: a plain window, a TAdvExcel and record rows,
// against the stand-in spreadsheet (headless) or, where only the commands
// matter, against a conversation that records them.
#include "Dialogs.h"
#include "ExcelExport.h"
#include "Excels.h"
#include "ExportTestSupport.h"
#include "Fpross.h"
#include "RecordList.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace {

const QString Starting = QStringLiteral("Now starting Excel,Please wait...!");
const QString Exporting = QStringLiteral("Now export data ,Please wait....!");
const QString Complete = QStringLiteral("Export Complete");
const QString NotFound = QStringLiteral("Sorry ,Can't Find Excel Program,Procedure abort!");
const QString BeginMark = QStringLiteral("<begin wait>");
const QString EndMark = QStringLiteral("<end wait>");

const QStringList ConnectCommands{QStringLiteral("[ERROR(0)]"), QStringLiteral("[ERROR(1)]")};

// Texts as the acquisition tick writes them, a decimal comma and an error
// code among them.
QList<QByteArray> rowTexts(int i)
{
    return {QByteArray("12:") + QByteArray::number(10 + i / 60) + ':' + QByteArray::number(10 + i % 50),
            i % 3 == 1 ? QByteArray("35,0") : QByteArray("35.") + QByteArray::number(i % 10),
            QByteArray("50.000000"), i % 4 == 2 ? QByteArray("Er-1") : QByteArray("40.000000"),
            QByteArray("-2.5")};
}

void fill(RecordList& list, int n)
{
    for (int i = 0; i < n; ++i) {
        const QList<QByteArray> t = rowTexts(i);
        list.appendRow(t[0], {t[1], t[2], t[3], t[4]});
    }
}

QList<QByteArray> listRow(const RecordRows& rows, int i)
{
    QList<QByteArray> out;
    for (int c = 0; c < RecordRows::ColumnCount; ++c)
        out << rows.cell(i, c);
    return out;
}

// Every FORMULA command an export of the first `n` rows sends.
QStringList exportFormulas(const RecordRows& rows, int n)
{
    QStringList out = titleAndHeaderCommands();
    for (int i = 0; i < n; ++i)
        out += formulaCommands(i + 3, listRow(rows, i));
    return out;
}

QString cellAt(TCustomExcel& excel, int row, int col)
{
    QString text;
    excel.Request(QStringLiteral("Cell R%1C%2").arg(row).arg(col), text);
    return text;
}

// A cell of the stand-in's sheet holds `text` as entered: the text itself,
// or the number or time of day it reads as (the stand-in enters constants
// as typed, in the region it runs in).
bool holds(const QString& cell, const QByteArray& text)
{
    if (cell.startsWith(QLatin1String("T:")))
        return cell.mid(2) == QString::fromLocal8Bit(text);
    if (!cell.startsWith(QLatin1String("V:")))
        return false;
    const double v = cell.mid(2).toDouble();
    const QList<QByteArray> clock = text.split(':');
    if (clock.size() == 3)
        return qRound64(v * 86400) == clock[0].toInt() * 3600 + clock[1].toInt() * 60 + clock[2].toInt();
    bool ok = false;
    const double number = QByteArray(text).replace(',', '.').toDouble(&ok);
    return ok && number == v;
}

// The worksheet holds title, header and the first `n` rows, and nothing
// right of them or below.
void verifySheet(TCustomExcel& excel, const RecordRows& rows, int n)
{
    QCOMPARE(cellAt(excel, 1, 1), QStringLiteral("T:These data are import from Pemdat.exe (5926)"));
    QCOMPARE(cellAt(excel, 1, 2), QStringLiteral("E"));
    const QStringList header{QStringLiteral("Time"), QStringLiteral("ppt"),
                             QStringLiteral("Compensated Conductivity"),
                             QStringLiteral("UnCompensated Conductivity"), QStringLiteral("Temp")};
    for (int c = 0; c < 5; ++c)
        QCOMPARE(cellAt(excel, 2, c + 1), QStringLiteral("T:") + header[c]);
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < 5; ++c) {
            const QString cell = cellAt(excel, i + 3, c + 1);
            QVERIFY2(holds(cell, rows.cell(i, c)), qPrintable(cell + QStringLiteral(" for ") + rows.cell(i, c)));
        }
        QCOMPARE(cellAt(excel, i + 3, 6), QStringLiteral("E"));
    }
    QCOMPARE(cellAt(excel, n + 3, 1), QStringLiteral("E"));
}

} // namespace

class TestExcelExport : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingDialogs> dialogs;
    QStringList status;
    std::function<void(const QString&)> setStatus = [this](const QString& t) { status << t; };

    // Marks the component's waits in the status list, as the main window's
    // handlers do in its status bar.
    void markWaits(TCustomExcel& excel)
    {
        excel.OnBeginWait = [this](TCustomExcel*) { status << BeginMark; };
        excel.OnEndWait = [this](TCustomExcel*) { status << EndMark; };
    }

private slots:
    void init()
    {
        // No stand-in of an earlier case may still answer.
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

    // ---- against the stand-in spreadsheet --------------------------------

    void oneRecordGivesRowsOneToThree()
    {
        StandIn peer;
        QVERIFY(peer.start());
        RecordList list;
        fill(list, 1);
        WatchedRows rows(list);
        QWidget window;
        struct Seen {
            bool shown;
            int maximum;
            int value;
            Qt::CursorShape cursor;
        };
        QList<Seen> seen;
        rows.onCell = [&](int, int) {
            seen << Seen{process && process->isVisible(), process ? process->ProgressBar1->maximum() : -1,
                         process ? process->ProgressBar1->value() : -1, window.cursor().shape()};
        };
        TAdvExcel excel;
        // Whether the progress window stood when each status text was written.
        QList<bool> windowAtStatus;
        const auto statusAndWindow = [&](const QString& t) {
            status << t;
            windowAtStatus << (process != nullptr);
        };

        ExportToExcel(&window, excel, rows, statusAndWindow);

        QCOMPARE(windowAtStatus, (QList<bool>{false, true, true}));
        QCOMPARE(seen.size(), 5);
        for (const Seen& s : seen) {
            QVERIFY(s.shown);
            QCOMPARE(s.maximum, 0);
            QCOMPARE(s.value, 0);
            QCOMPARE(s.cursor, Qt::WaitCursor);
        }
        QCOMPARE(status, (QStringList{Starting, Exporting, Complete}));
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(process == nullptr);
        QVERIFY(dialogs->shown.isEmpty());
        // The last commands reach the spreadsheet once events run again.
        QTRY_COMPARE(peer.executes(), ConnectCommands + exportFormulas(list, 1));
        verifySheet(excel, list, 1);
    }

    void recordsGoRowByRow_data()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("2 records") << 2;
        // Past the 128th command, so one forced wait falls inside the rows.
        QTest::newRow("30 records") << 30;
    }
    void recordsGoRowByRow()
    {
        QFETCH(int, n);
        StandIn peer;
        QVERIFY(peer.start());
        RecordList list;
        fill(list, n);
        WatchedRows rows(list);
        QWidget window;
        // The bar stands at the row written last when the next one begins.
        QList<int> barAtRowStart;
        QList<int> barMaximum;
        rows.onCell = [&](int row, int column) {
            if (column == 0 && process) {
                barAtRowStart << process->ProgressBar1->value();
                barMaximum << process->ProgressBar1->maximum();
            }
            Q_UNUSED(row);
        };
        TAdvExcel excel;

        ExportToExcel(&window, excel, rows, setStatus);

        QList<int> expectedBar{0};
        for (int i = 1; i < n; ++i)
            expectedBar << i - 1;
        QCOMPARE(barAtRowStart, expectedBar);
        QCOMPARE(barMaximum, QList<int>(n, n - 1));
        QCOMPARE(status.last(), Complete);
        QTRY_COMPARE(peer.executes(), ConnectCommands + exportFormulas(list, n));
        QCOMPARE(formulasOf(peer.executes()).size(), 6 + 5 * n);
        // Nothing was handed over with the wait flag: every command went
        // through at the first try.
        for (const QString& line : peer.logLines())
            QVERIFY2(!line.startsWith(QLatin1String("execute 1")), qPrintable(line));
        verifySheet(excel, list, n);
    }

    void emptyListGetsTitleAndHeaderOnly()
    {
        StandIn peer;
        QVERIFY(peer.start());
        RecordList list;
        QWidget window;
        TAdvExcel excel;
        bool windowUpAtMessage = false;
        QString statusAtMessage;
        dialogs->onMessage = [&](const RecordingDialogs::Shown&) {
            windowUpAtMessage = process != nullptr;
            statusAtMessage = status.last();
        };

        ExportToExcel(&window, excel, list, setStatus);

        QCOMPARE(dialogs->shown.size(), 1);
        const RecordingDialogs::Shown box = dialogs->shown.first();
        QCOMPARE(box.kind, QStringLiteral("message"));
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.text, QStringLiteral("No data ,Can't Export"));
        QCOMPARE(box.icon, Dialogs::Icon::Error);
        QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
        QVERIFY(windowUpAtMessage);
        QCOMPARE(statusAtMessage, Exporting);
        // Panel 0 keeps the export text; "Export Complete" is not written.
        QCOMPARE(status, (QStringList{Starting, Exporting}));
        QVERIFY(process == nullptr);
        QCOMPARE(liveProgressWindows(), 0);
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QTRY_COMPARE(peer.executes(), ConnectCommands + titleAndHeaderCommands());
        verifySheet(excel, list, 0);
    }

    void twoExportsInARow()
    {
        StandIn peer;
        QVERIFY(peer.start());
        RefusingStarter starter;
        RecordList list;
        fill(list, 3);
        QWidget window;
        TAdvExcel excel;

        ExportToExcel(&window, excel, list, setStatus);
        QTRY_COMPARE(formulasOf(peer.executes()), exportFormulas(list, 3));
        const int firstLines = peer.logLines().size();
        status.clear();
        ExportToExcel(&window, excel, list, setStatus);

        QVERIFY(starter.started.isEmpty());
        QCOMPARE(status, (QStringList{Starting, Exporting, Complete}));
        QStringList expected;
        for (const QString& c : exportFormulas(list, 3))
            expected << executeLine(false, c);
        // No new conversation, no "[ERROR(0)]" / "Selection" / "[ERROR(1)]":
        // only the same cells again, from row 1.
        QTRY_COMPARE(peer.logLines().mid(firstLines), expected);
        verifySheet(excel, list, 3);
    }

    void noSpreadsheetToBeFound_data()
    {
        QTest::addColumn<QString>("exeName");
        QTest::addColumn<bool>("refusingServer");
        QTest::addColumn<int>("expectedStarts"); // -1: not checked
        QTest::newRow("no server, no program file") << QStringLiteral("/nonexistent/dir/Excel") << false << 0;
        QTest::newRow("no server, the start fails") << QStringLiteral("Excel") << false << 1;
        QTest::newRow("server refuses") << QStringLiteral("/nonexistent/dir/Excel") << true << 0;
    }
    void noSpreadsheetToBeFound()
    {
        QFETCH(QString, exeName);
        QFETCH(bool, refusingServer);
        QFETCH(int, expectedStarts);
        StandIn peer;
        if (refusingServer)
            QVERIFY(peer.start({QStringLiteral("--refuse")}));
        RefusingStarter starter;
        QWidget window;
        bool progressAtStart = false;
        Qt::CursorShape cursorAtStart = Qt::ArrowCursor;
        starter.onStart = [&] {
            progressAtStart = progressAtStart || process != nullptr;
            cursorAtStart = window.cursor().shape();
        };
        GeneratedRows rows(3);
        TAdvExcel excel;
        excel.setExeName(exeName);

        ExportToExcel(&window, excel, rows, setStatus);

        QCOMPARE(status, (QStringList{Starting, NotFound}));
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(dialogs->shown.isEmpty());
        QVERIFY(!progressAtStart);
        QVERIFY(process == nullptr);
        QCOMPARE(liveProgressWindows(), 0);
        QCOMPARE(rows.cellReads, 0);
        QVERIFY(!excel.Connected());
        if (expectedStarts >= 0)
            QCOMPARE(int(starter.started.size() > 0), expectedStarts);
        if (!starter.started.isEmpty())
            QCOMPARE(cursorAtStart, Qt::WaitCursor);
    }

    void slowSpreadsheetWaitsWhileRecordingGoesOn()
    {
        StandIn peer;
        QVERIFY(peer.start({QStringLiteral("--delay-ms"), QStringLiteral("2")}));
        RecordList list;
        fill(list, 20);
        WatchedRows rows(list);
        int countAtLoop = -1;
        rows.onCell = [&](int row, int column) {
            if (row == 0 && column == 0)
                countAtLoop = list.rowCount();
        };
        // The recording's ticks, run whenever the export lets events through.
        int ticksInLoop = 0;
        QTimer recordingTimer;
        recordingTimer.setInterval(5);
        QObject::connect(&recordingTimer, &QTimer::timeout, [&] {
            // Bounded, so an export that keeps following the list still ends.
            if (list.rowCount() >= 2000)
                return;
            const int i = list.rowCount();
            const QList<QByteArray> t = rowTexts(i);
            list.appendRow("new" + t[0], {t[1], t[2], t[3], t[4]});
            ticksInLoop += countAtLoop >= 0;
        });
        recordingTimer.start();
        QWidget window;
        TAdvExcel excel;
        excel.setBurstCount(8);
        markWaits(excel);

        ExportToExcel(&window, excel, rows, setStatus);
        recordingTimer.stop();

        QVERIFY(ticksInLoop > 0);
        QVERIFY(list.rowCount() > countAtLoop);
        QVERIFY(countAtLoop >= 20);

        // Starting, then waits only in pairs, "Now export data" once the
        // connection stands, and "Export Complete" last.
        QCOMPARE(status.first(), Starting);
        QCOMPARE(status.last(), Complete);
        QCOMPARE(status.count(Exporting), 1);
        QCOMPARE(status.count(Complete), 1);
        QStringList waits = status;
        waits.removeAll(Starting);
        waits.removeAll(Exporting);
        waits.removeAll(Complete);
        QVERIFY(waits.size() % 2 == 0);
        for (int k = 0; k < waits.size(); k += 2) {
            QCOMPARE(waits[k], BeginMark);
            QCOMPARE(waits[k + 1], EndMark);
        }
        // A forced wait before every 8th command at least.
        const int commands = 2 + 6 + 5 * countAtLoop;
        QVERIFY2(waits.size() / 2 >= commands / 8, qPrintable(QString::number(waits.size())));
        const int lastWait = status.lastIndexOf(EndMark);
        QVERIFY(lastWait > status.indexOf(Exporting));

        // Let the last commands arrive before reading the log.
        excel.OnBeginWait = nullptr;
        excel.OnEndWait = nullptr;
        excel.WaitForReady();
        // Only the rows that stood when the row loop began went out.
        QCOMPARE(formulasOf(peer.executes()), exportFormulas(list, countAtLoop));
        verifySheet(excel, list, countAtLoop);
    }

    void spreadsheetKilledMidExport()
    {
        auto peer = std::make_unique<StandIn>();
        QVERIFY(peer->start({QStringLiteral("--delay-ms"), QStringLiteral("5")}));
        RecordList list;
        fill(list, 40);
        WatchedRows rows(list);
        bool loopBegan = false;
        rows.onCell = [&](int, int) { loopBegan = true; };
        QWidget window;
        TAdvExcel excel;
        excel.setBurstCount(8);
        bool killed = false;
        excel.OnBeginWait = [&](TCustomExcel*) {
            if (loopBegan && !killed) {
                killed = true;
                peer->kill();
            }
        };

        const QString error = errorTextOf<ExcelError>([&] { ExportToExcel(&window, excel, rows, setStatus); });

        QVERIFY(killed);
        static const QRegularExpression notAccepted(
            QStringLiteral("^\"\\[FORMULA\\(\"[^\"]*\", \"R(\\d+)C([1-5])\"\\)\\]\" not accepted by Excel$"));
        const auto m = notAccepted.match(error);
        QVERIFY2(m.hasMatch(), qPrintable(error));
        QVERIFY(m.captured(1).toInt() >= 3);
        QVERIFY(process == nullptr);
        QCOMPARE(liveProgressWindows(), 0);
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!excel.Connected());
        // Panel 0 keeps its last text.
        QCOMPARE(status, (QStringList{Starting, Exporting}));

        // The program goes on: the next export connects anew and completes.
        peer.reset();
        StandIn second;
        QVERIFY(second.start());
        excel.OnBeginWait = nullptr;
        status.clear();
        ExportToExcel(&window, excel, list, setStatus);
        QCOMPARE(status, (QStringList{Starting, Exporting, Complete}));
        QCOMPARE(second.logLines().mid(0, 4),
                 (QStringList{QStringLiteral("connect System"), executeLine(false, QStringLiteral("[ERROR(0)]")),
                              QStringLiteral("request Selection"), executeLine(false, QStringLiteral("[ERROR(1)]"))}));
        excel.WaitForReady();
        QCOMPARE(formulasOf(second.executes()), exportFormulas(list, 40));
    }

    // ---- against the recording conversation ------------------------------

    void listChangedDuringWait_data()
    {
        QTest::addColumn<int>("rowsAtStart");
        QTest::addColumn<int>("formulasBeforeChange"); // sent when the wait begins
        QTest::addColumn<int>("newCount");
        QTest::addColumn<int>("expectedFormulas");
        QTest::addColumn<bool>("noDataBox");
        // The wait precedes the 19th formula (row index 2, column 3); that
        // command's text was read before the wait and still goes out.
        QTest::newRow("cleared inside a row") << 5 << 18 << 0 << 19 << false;
        QTest::newRow("cleared before a row") << 5 << 16 << 0 << 17 << false;
        QTest::newRow("shortened behind the current row") << 6 << 12 << 3 << 6 + 15 << false;
        QTest::newRow("shortened to the current row") << 6 << 22 << 3 << 23 << false;
        // Cleared before the count is taken: an empty list.
        QTest::newRow("cleared during the header") << 5 << 3 << 0 << 6 << true;
    }
    void listChangedDuringWait()
    {
        QFETCH(int, rowsAtStart);
        QFETCH(int, formulasBeforeChange);
        QFETCH(int, newCount);
        QFETCH(int, expectedFormulas);
        QFETCH(bool, noDataBox);
        auto owned = std::make_unique<RecordingConv>();
        RecordingConv* conv = owned.get();
        TAdvExcel excel(nullptr, std::move(owned));
        // A wait before every command.
        excel.setBurstCount(1);
        GeneratedRows rows(rowsAtStart);
        const QStringList full = exportFormulas(rows, rowsAtStart);
        bool changed = false;
        excel.OnBeginWait = [&](TCustomExcel*) {
            if (!changed && formulasOf(conv->commands).size() == formulasBeforeChange) {
                changed = true;
                rows.count = newCount;
            }
        };
        QWidget window;

        ExportToExcel(&window, excel, rows, setStatus);

        QVERIFY(changed);
        QCOMPARE(rows.outOfRange, 0);
        QCOMPARE(formulasOf(conv->commands), full.mid(0, expectedFormulas));
        QCOMPARE(dialogs->messageTexts(),
                 noDataBox ? QStringList{QStringLiteral("No data ,Can't Export")} : QStringList{});
        QCOMPARE(status.last(), noDataBox ? Exporting : Complete);
        QVERIFY(process == nullptr);
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    }

    void secondExportDuringWaitDoesNothing()
    {
        auto owned = std::make_unique<RecordingConv>();
        RecordingConv* conv = owned.get();
        TAdvExcel excel(nullptr, std::move(owned));
        excel.setBurstCount(4);
        GeneratedRows rows(10);
        QWidget window;
        bool loopBegan = false;
        rows.onCell = [&](int, int) { loopBegan = true; };
        int nestedCalls = 0;
        QStringList nestedStatus;
        int commandsAdded = -1;
        bool windowKept = false;
        Qt::CursorShape cursorAfter = Qt::ArrowCursor;
        excel.OnBeginWait = [&](TCustomExcel*) {
            if (!loopBegan || nestedCalls > 0)
                return;
            ++nestedCalls;
            Tprocess* before = process;
            const int commandsBefore = int(conv->commands.size());
            ExportToExcel(&window, excel, rows, [&](const QString& t) { nestedStatus << t; });
            commandsAdded = int(conv->commands.size()) - commandsBefore;
            windowKept = before != nullptr && process == before && liveProgressWindows() == 1;
            cursorAfter = window.cursor().shape();
        };

        ExportToExcel(&window, excel, rows, setStatus);

        QCOMPARE(nestedCalls, 1);
        QCOMPARE(commandsAdded, 0);
        QVERIFY(nestedStatus.isEmpty());
        QVERIFY(windowKept);
        // The running export's hourglass stays.
        QCOMPARE(cursorAfter, Qt::WaitCursor);
        QCOMPARE(formulasOf(conv->commands), exportFormulas(rows, 10));
        QCOMPARE(conv->openCount, 1);
        QCOMPARE(status, (QStringList{Starting, Exporting, Complete}));
        QVERIFY(dialogs->shown.isEmpty());
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);

        // Once it has ended, an export runs again.
        conv->commands.clear();
        loopBegan = false;
        nestedCalls = 1;
        ExportToExcel(&window, excel, rows, setStatus);
        QCOMPARE(formulasOf(conv->commands), exportFormulas(rows, 10));
    }

    void rowCap_data()
    {
        QTest::addColumn<int>("rowsInList");
        QTest::addColumn<int>("leftOut");
        QTest::newRow("exactly fits") << 65533 << 0;
        QTest::newRow("one too many") << 65534 << 1;
        QTest::newRow("seven too many") << 65540 << 7;
    }
    void rowCap()
    {
        QFETCH(int, rowsInList);
        QFETCH(int, leftOut);
        auto owned = std::make_unique<RecordingConv>();
        RecordingConv* conv = owned.get();
        conv->keepCommands = false;
        int formulas = 0;
        int selects = 0;
        QMap<QString, int> lowRows; // formulas addressed to rows 0 to 2
        QString last;
        conv->onExecute = [&](const QString& c) {
            if (c.startsWith(QLatin1String("[SELECT")))
                ++selects;
            if (!c.startsWith(QLatin1String("[FORMULA(")))
                return;
            ++formulas;
            last = c;
            for (const char* r : {", \"R0C", ", \"R1C", ", \"R2C"}) {
                if (c.contains(QLatin1String(r)))
                    ++lowRows[QLatin1String(r)];
            }
        };
        TAdvExcel excel(nullptr, std::move(owned));
        GeneratedRows rows(rowsInList);
        int maxRowRead = -1;
        int barMaximum = -1;
        rows.onCell = [&](int row, int) {
            if (row > maxRowRead) {
                maxRowRead = row;
                barMaximum = process ? process->ProgressBar1->maximum() : -1;
            }
        };
        QWidget window;

        ExportToExcel(&window, excel, rows, setStatus);

        QCOMPARE(formulas, 6 + 5 * 65533);
        QCOMPARE(last, QStringLiteral("[FORMULA(\"r65532c4\", \"R65535C5\")]"));
        QCOMPARE(lowRows.value(QStringLiteral(", \"R0C")), 0);
        QCOMPARE(lowRows.value(QStringLiteral(", \"R1C")), 1);
        QCOMPARE(lowRows.value(QStringLiteral(", \"R2C")), 5);
        QCOMPARE(selects, 0);
        QCOMPARE(maxRowRead, 65532);
        QCOMPARE(barMaximum, 65532);
        QCOMPARE(rows.outOfRange, 0);
        QCOMPARE(status.last(), Complete);
        if (leftOut == 0) {
            QVERIFY(dialogs->shown.isEmpty());
        } else {
            QCOMPARE(dialogs->shown.size(), 1);
            const RecordingDialogs::Shown box = dialogs->shown.first();
            QCOMPARE(box.title, QStringLiteral("Warning"));
            QCOMPARE(box.icon, Dialogs::Icon::Warning);
            QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
            const QRegularExpression names(QStringLiteral("\\b%1 records?\\b").arg(leftOut));
            QVERIFY2(names.match(box.text).hasMatch(), qPrintable(box.text));
        }
    }
};

DSG_TEST_MAIN(TestExcelExport)
#include "tst_excelexport.moc"
