// The Excel export run from the real main window: its status-bar texts, the
// recording going on during the spreadsheet's waits, the list cleared from
// its popup menu during a wait, the general error report when the
// spreadsheet dies, and a missing spreadsheet.
#include "AppWindows.h"
#include "Dialogs.h"
#include "Excels.h"
#include "ExportTestSupport.h"
#include "Fmain.h"
#include "Fpross.h"
#include "ProgramStart.h"
#include "RecordList.h"
#include "RegIniFile.h"
#include "RegionalSettings.h"
#include "ShownMainWindow.h"
#include "StatusBar.h"
#include "TestSupport.h"
#include "fexpsel.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

namespace {

const QString Complete = QStringLiteral("Export Complete");
const QString NotFound = QStringLiteral("Sorry ,Can't Find Excel Program,Procedure abort!");
const QString WaitBegins = QStringLiteral("Now connect excel ,Please wait..!");
const QString WaitEnds = QStringLiteral("data export complete,wait...!");

// A meter that is always there and always reads the same.
class SteadyMeter final : public MeterDriver {
public:
    bool OpenMeterPort(int, int, THandle& handle) override
    {
        handle = openNullHandle();
        return handle != InvalidHandle;
    }
    void ReadSalinity(THandle, int, MeasuredValue& v) override { v = {35.0, 0, 0}; }
    void ReadCompensatedConductivity(THandle, int, MeasuredValue& v) override { v = {0.05, 0, 0}; }
    void ReadUncompensatedConductivity(THandle, int, MeasuredValue& v) override { v = {0.04, 0, 0}; }
    void ReadTemperature(THandle, int, MeasuredValue& v) override { v = {20.5, 0, 0}; }
};

// Two threads that keep both cores busy while it lives: on a loaded
// machine the nested loops of a wait and of a popup menu interleave
// differently from run to run.
class CpuLoad {
public:
    CpuLoad()
    {
        for (std::thread& t : spinners)
            t = std::thread([this] {
                while (!stop.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~CpuLoad()
    {
        stop = true;
        for (std::thread& t : spinners)
            t.join();
    }
    bool running() const { return !stop; }

private:
    std::atomic<bool> stop{false};
    std::thread spinners[2];
};

QStringList listFormulas(const RecordRows& rows, int n)
{
    QStringList out = titleAndHeaderCommands();
    for (int i = 0; i < n; ++i) {
        QList<QByteArray> texts;
        for (int c = 0; c < RecordRows::ColumnCount; ++c)
            texts << rows.cell(i, c);
        out += formulaCommands(i + 3, texts);
    }
    return out;
}

} // namespace

class TestExcelExportMain : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingDialogs> dialogs;
    std::unique_ptr<SteadyMeter> meter;
    // Panel 0 as each of the component's waits begins and ends.
    QStringList panelAtWaits;
    int rowsAtLastWait = -1;

    // Records panel 0 after the main window's own wait handlers ran.
    void watchWaits(const std::function<void()>& atBegin = {})
    {
        TAdvExcel* excel = Main->Aexcel;
        const TExcelNotifyEvent begin = excel->OnBeginWait;
        const TExcelNotifyEvent end = excel->OnEndWait;
        QVERIFY(begin && end);
        excel->OnBeginWait = [this, begin, atBegin](TCustomExcel* s) {
            begin(s);
            panelAtWaits << Main->Stpl->text(0);
            rowsAtLastWait = Main->Records->rowCount();
            if (atBegin)
                atBegin();
        };
        excel->OnEndWait = [this, end](TCustomExcel* s) {
            end(s);
            panelAtWaits << Main->Stpl->text(0);
        };
    }

    void startRecording()
    {
        Main->BitBtn1Click();
        QVERIFY(Main->Recording());
        // A reading every few milliseconds instead of every second.
        Main->Timer->setInterval(5);
    }

private slots:
    void init()
    {
        QVERIFY(!waitForServer(QStringLiteral("Excel"), 0));
        fixPlainRegion();
        dialogs = std::make_unique<RecordingDialogs>();
        meter = std::make_unique<SteadyMeter>();
        panelAtWaits.clear();
        rowsAtLastWait = -1;
        CreateWindows(*meter);
        showMainWindowOnCom1();
        dialogs->shown.clear();
    }
    void cleanup()
    {
        DestroyWindows();
        dialogs.reset();
        meter.reset();
        QCOMPARE(liveProgressWindows(), 0);
    }

    void exportDuringRecording()
    {
        StandIn peer;
        QVERIFY(peer.start({QStringLiteral("--delay-ms"), QStringLiteral("2")}));
        Main->Aexcel->setBurstCount(8);
        watchWaits();
        startRecording();
        QTRY_VERIFY(Main->Records->rowCount() >= 12);

        Main->Mu_Export_Excel->trigger();

        QCOMPARE(Main->Stpl->text(0), Complete);
        QVERIFY(dialogs->shown.isEmpty());
        QVERIFY(process == nullptr);
        QCOMPARE(Main->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(panelAtWaits.size() >= 2);
        QVERIFY(panelAtWaits.size() % 2 == 0);
        for (int k = 0; k < panelAtWaits.size(); k += 2) {
            QCOMPARE(panelAtWaits[k], WaitBegins);
            QCOMPARE(panelAtWaits[k + 1], WaitEnds);
        }

        // The recording kept going through the waits.
        QVERIFY(Main->Recording());
        QVERIFY(Main->Timer->isActive());
        Main->Aexcel->OnBeginWait = nullptr;
        Main->Aexcel->OnEndWait = nullptr;
        Main->Aexcel->WaitForReady();
        const QStringList formulas = formulasOf(peer.executes());
        QVERIFY((formulas.size() - 6) % 5 == 0);
        const int exported = (formulas.size() - 6) / 5;
        QVERIFY(exported >= 12);
        // Rows added by ticks after the row loop began did not go out.
        QVERIFY2(rowsAtLastWait > exported,
                 qPrintable(QStringLiteral("%1 rows at the last wait, %2 exported")
                                .arg(rowsAtLastWait)
                                .arg(exported)));
        QCOMPARE(formulas, listFormulas(*Main->Records, exported));
        Main->BitBtn3Click();
    }

    // The operator clears the list from its popup menu while the export
    // waits for a slow spreadsheet. The export ends properly at the first
    // row that is gone, reports nothing, and the program goes on: the next
    // export runs too. Repeated, with the popup opened at different moments
    // of different waits, on a loaded machine.
    void clearDuringForcedWaitUnderLoad_data()
    {
        QTest::addColumn<int>("wait");    // the forced wait the popup opens in
        QTest::addColumn<int>("afterMs"); // how long after that wait began
        for (int run = 0; run < 9; ++run)
            QTest::addRow("run %d", run + 1) << 2 + run % 3 << (run * 3) % 8;
    }
    void clearDuringForcedWaitUnderLoad()
    {
        QFETCH(int, wait);
        QFETCH(int, afterMs);
        CpuLoad load;
        QVERIFY(load.running());
        StandIn peer;
        QVERIFY(peer.start({QStringLiteral("--delay-ms"), QStringLiteral("4")}));
        const QList<QByteArray> texts{"10:00:00", "35.0", "50.000000", "40.000000", "20.5"};
        const int rows = 60;
        for (int i = 0; i < rows; ++i)
            Main->Records->appendRow(texts[0], {texts[1], texts[2], texts[3], texts[4]});
        // Commands 1 to 8 are the probe, the title and the header: the
        // second forced wait and those after it fall in the row loop.
        Main->Aexcel->setBurstCount(8);

        bool inWait = false;
        int waits = 0;
        bool popupInWait = false;
        bool clearedInWait = false;
        bool menuShown = false;
        // Picks "clear" from inside the menu's own loop once it is up.
        QTimer chooser;
        QElapsedTimer patience;
        QObject::connect(&chooser, &QTimer::timeout, [&] {
            if (!Main->PopupMenu1->isVisible() && patience.elapsed() < 5000)
                return;
            chooser.stop();
            if (!Main->PopupMenu1->isVisible())
                return;
            menuShown = true;
            clearedInWait = inWait;
            QTest::mouseClick(Main->PopupMenu1, Qt::LeftButton, {},
                              Main->PopupMenu1->actionGeometry(Main->Pop_Clear).center());
        });
        // Right-clicks the list: its popup menu runs a loop of its own, here
        // nested in the events a wait handles.
        QTimer opener;
        opener.setSingleShot(true);
        QObject::connect(&opener, &QTimer::timeout, [&] {
            patience.start();
            chooser.start(1);
            popupInWait = inWait;
            QWidget* viewport = Main->ListView->viewport();
            const QPoint at(30, 10);
            QContextMenuEvent click(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
            QApplication::sendEvent(viewport, &click);
        });
        const TExcelNotifyEvent begin = Main->Aexcel->OnBeginWait;
        const TExcelNotifyEvent end = Main->Aexcel->OnEndWait;
        Main->Aexcel->OnBeginWait = [&](TCustomExcel* sender) {
            begin(sender);
            inWait = true;
            if (++waits == wait)
                opener.start(afterMs);
        };
        Main->Aexcel->OnEndWait = [&](TCustomExcel* sender) {
            inWait = false;
            end(sender);
        };

        Main->Mu_Export_Excel->trigger();

        QVERIFY(menuShown);
        QVERIFY(popupInWait);
        QVERIFY(clearedInWait);
        QCOMPARE(Main->Records->rowCount(), 0);
        QCOMPARE(dialogs->messageTexts(), QStringList{});
        QCOMPARE(Main->Stpl->text(0), Complete);
        QVERIFY(process == nullptr);
        QCOMPARE(liveProgressWindows(), 0);
        QCOMPARE(Main->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!ProgramQuitting());
        QVERIFY(Main->Aexcel->Connected());

        // What went out is the export's own cells in order, up to where the
        // list was cleared.
        Main->Aexcel->OnBeginWait = nullptr;
        Main->Aexcel->OnEndWait = nullptr;
        Main->Aexcel->WaitForReady();
        QStringList all = titleAndHeaderCommands();
        for (int i = 0; i < rows; ++i)
            all += formulaCommands(i + 3, texts);
        const QStringList sent = formulasOf(peer.executes());
        QVERIFY2(sent.size() > 6 && sent.size() < all.size(), qPrintable(QString::number(sent.size())));
        QCOMPARE(sent, all.mid(0, sent.size()));

        // The program goes on: the next export runs to its end.
        Main->Records->appendRow(texts[0], {texts[1], texts[2], texts[3], texts[4]});
        Main->Aexcel->OnBeginWait = begin;
        Main->Aexcel->OnEndWait = end;
        Main->Mu_Export_Excel->trigger();
        QCOMPARE(dialogs->messageTexts(), QStringList{});
        QCOMPARE(Main->Stpl->text(0), Complete);
        Main->Aexcel->WaitForReady();
        QCOMPARE(formulasOf(peer.executes()).mid(sent.size()),
                 titleAndHeaderCommands() + formulaCommands(3, texts));
        QCOMPARE(peer.process.state(), QProcess::Running);
    }

    void spreadsheetKilledDuringExport()
    {
        auto peer = std::make_unique<StandIn>();
        QVERIFY(peer->start({QStringLiteral("--delay-ms"), QStringLiteral("5")}));
        for (int i = 0; i < 40; ++i)
            Main->Records->appendRow("10:00:00", {"35.0", "50.000000", "40.000000", "20.5"});
        Main->Aexcel->setBurstCount(8);
        // The third forced wait falls in the row loop (commands 1 to 10
        // are the probe, the title and the header).
        int waits = 0;
        watchWaits([&] {
            if (++waits == 3)
                peer->kill();
        });
        startRecording();
        dialogs->shown.clear(); // the question about the old rows

        Main->Mu_Export_Excel->trigger();

        QVERIFY(waits >= 3);
        QCOMPARE(dialogs->shown.size(), 1);
        const RecordingDialogs::Shown report = dialogs->shown.first();
        QCOMPARE(report.title, applicationTitle());
        QCOMPARE(report.icon, Dialogs::Icon::Stop);
        QCOMPARE(report.buttons, Dialogs::Buttons::Ok);
        static const QRegularExpression notAccepted(
            QStringLiteral("^\"\\[FORMULA\\(\"[^\"]*\", \"R(\\d+)C([1-5])\"\\)\\]\" not accepted by Excel\\.$"));
        QVERIFY2(notAccepted.match(report.text).hasMatch(), qPrintable(report.text));
        QVERIFY(process == nullptr);
        QCOMPARE(liveProgressWindows(), 0);
        QCOMPARE(Main->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!Main->Aexcel->Connected());
        QVERIFY(Main->Stpl->text(0) != Complete);

        // The program goes on recording.
        QVERIFY(Main->Recording());
        const int rows = Main->Records->rowCount();
        QTRY_VERIFY(Main->Records->rowCount() > rows + 2);
        Main->BitBtn3Click();
    }

    void noSpreadsheet()
    {
        RefusingStarter starter;
        Main->Records->appendRow("10:00:00", {"35.0", "50.000000", "40.000000", "20.5"});
        // Excel chosen in the export choice dialog.
        dialogs->modalHandlers.push_back([](QDialog& d) {
            auto* excel = d.findChild<QRadioButton*>(QStringLiteral("RD2"));
            auto* output = d.findChild<QPushButton*>(QStringLiteral("Button2"));
            QVERIFY(excel && output);
            excel->setChecked(true);
            output->click();
        });

        Main->BitBtn4Click();

        QVERIFY(!starter.started.isEmpty()); // the stand-in was looked for
        QCOMPARE(Main->Stpl->text(0), NotFound);
        QCOMPARE(Main->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(process == nullptr);
        QCOMPARE(liveProgressWindows(), 0);
        QCOMPARE(dialogs->messageTexts(), QStringList{});
        QVERIFY(!Main->Aexcel->Connected());
    }
};

DSG_TEST_MAIN(TestExcelExportMain)
#include "tst_excelexport_main.moc"
