// Recording on the real main window with an in-process driver: what one
// acquisition tick writes (displays, record list, status bar, the reading
// fields), Start and STOP with the port handle's life, the question about old
// rows, the button states, the recording timer, and the menu commands used
// in states where their buttons are disabled.
#include "AppWindows.h"
#include "Dialogs.h"
#include "FakeMeterDriver.h"
#include "Fabout.h"
#include "Fmain.h"
#include "Fsetform.h"
#include "LCD_Lab.h"
#include "RecordList.h"
#include "RegIniFile.h"
#include "RegionalSettings.h"
#include "Registry.h"
#include "SpinEdit.h"
#include "StatusBar.h"
#include "TestSupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QTableView>
#include <memory>

namespace {

const QString Device = QStringLiteral("Device");
const QString SettingsKey = QStringLiteral("Software\\Trova\\5926");

// The texts of the fake driver's steady reading, one per quantity.
const std::array<QByteArray, 4> SteadyTexts = {"30.0", "50.000000", "40.000000", "20.0"};

RegionalSettings region(QChar separator, const QString& timeFormat = QStringLiteral("HH:mm:ss"))
{
    RegionalSettings r;
    r.decimalSeparator = separator;
    r.longTimeFormat = timeFormat;
    r.amDesignator = QStringLiteral("AM");
    r.pmDesignator = QStringLiteral("PM");
    return r;
}

std::array<TLCDLabel*, 4> displays()
{
    return {Main->lab_ppt, Main->Lab_Comp, Main->lab_uncomp, Main->lab_temp};
}

void addRows(int n)
{
    for (int i = 0; i < n; ++i)
        Main->Records->appendRow(QByteArray("old") + QByteArray::number(i),
                                 {"1.0", "2.000000", "3.000000", "4.0"});
}

QByteArray lastCell(int column)
{
    return Main->Records->cell(Main->Records->rowCount() - 1, column);
}

// Availability of Start, STOP, Export, Anaylize, Setup, Exit.
QList<bool> buttonStates()
{
    return {Main->BitBtn1->isEnabled(), Main->BitBtn3->isEnabled(), Main->BitBtn4->isEnabled(),
            Main->BitBtn5->isEnabled(), Main->BitBtn6->isEnabled(), Main->BitBtn7->isEnabled()};
}
const QList<bool> ReadyButtons = {true, false, true, false, true, true};
const QList<bool> RecordingButtons = {false, true, false, false, false, true};

// Removes everything the store holds, so the next show step is a first run.
void clearStore()
{
    const RegistryLocation loc = registryLocation(RegRoot::CurrentUser, SettingsKey);
    // No file where the system's registry holds it.
    QSettings s = loc.file.isEmpty()
                      ? QSettings(QStringLiteral("HKEY_CURRENT_USER\\") + SettingsKey,
                                  QSettings::NativeFormat)
                      : QSettings(loc.file, QSettings::IniFormat);
    s.clear();
    s.sync();
}

} // namespace

class TestRecording : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingDialogs> dialogs;
    std::unique_ptr<FakeMeterDriver> driver;

    // Creates the windows on a store that holds `displayTime` and runs the
    // show step; afterwards the logs are empty.
    void openWindows(int displayTime = 1)
    {
        CreateWindows(*driver);
        Main->Settings->WriteString(Device, QStringLiteral("Port"), QStringLiteral("1"));
        Main->Settings->WriteString(Device, QStringLiteral("Speed"), QStringLiteral("4800"));
        Main->Settings->WriteString(Device, QStringLiteral("RT"), QString::number(displayTime));
        Main->ShowMainWindow();
        driver->calls.clear();
        driver->handedOut.clear();
        driver->tickTimesMs.clear();
        dialogs->shown.clear();
    }

    void tick(const std::array<MeasuredValue, 4>& reading)
    {
        for (int q = 0; q < 4; ++q)
            driver->queued[q].push_back(reading[q]);
        Main->AcquisitionTick();
    }

private slots:
    void init()
    {
        RegionalSettings::fix(region(u'.'));
        dialogs = std::make_unique<RecordingDialogs>();
        driver = std::make_unique<FakeMeterDriver>();
        openWindows();
    }

    void cleanup()
    {
        DestroyWindows();
        dialogs.reset();
        driver.reset();
    }

    // ---- one tick -------------------------------------------------------

    void tickTexts_data()
    {
        QTest::addColumn<int>("quantity");
        QTest::addColumn<double>("value"); // as delivered: conductivities in S
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("cell");

        using F = FakeMeterDriver;
        QTest::newRow("salinity 35") << int(F::QSal) << 35.0 << 0 << QByteArray("35.0") << QByteArray("35.0");
        QTest::newRow("comp 0.0125 S") << int(F::QComp) << 0.0125 << 0 << QByteArray("12.500000") << QByteArray("12.500000");
        QTest::newRow("uncomp 0.0125 S") << int(F::QUncomp) << 0.0125 << 0 << QByteArray("12.500000") << QByteArray("12.500000");
        QTest::newRow("temp -2.5") << int(F::QTemp) << -2.5 << 0 << QByteArray("-2.5") << QByteArray("-2.5");
        QTest::newRow("temp 25.25 half up") << int(F::QTemp) << 25.25 << 0 << QByteArray("25.3") << QByteArray("25.3");
        QTest::newRow("temp -0.04 no sign") << int(F::QTemp) << -0.04 << 0 << QByteArray("0.0") << QByteArray("0.0");
        QTest::newRow("comp 12.345678 mS") << int(F::QComp) << 0.012345678 << 0 << QByteArray("12.345678") << QByteArray("12.345678");

        QTest::newRow("salinity status 1") << int(F::QSal) << 35.0 << 1 << QByteArray("Ers") << QByteArray("Ers:1");
        QTest::newRow("comp status 1") << int(F::QComp) << 0.01 << 1 << QByteArray("Er-1") << QByteArray("Er-1");
        QTest::newRow("uncomp status 1") << int(F::QUncomp) << 0.01 << 1 << QByteArray("Er-1") << QByteArray("Er-1");
        QTest::newRow("temp status 1") << int(F::QTemp) << 20.0 << 1 << QByteArray("Ers") << QByteArray("Ers:1");

        QTest::newRow("temp status 7") << int(F::QTemp) << 20.0 << 7 << QByteArray("Ers") << QByteArray("Ers:7");
        QTest::newRow("salinity status 7") << int(F::QSal) << 35.0 << 7 << QByteArray("Er-7") << QByteArray("Er-7");
        QTest::newRow("comp status 3") << int(F::QComp) << 0.01 << 3 << QByteArray("Ers") << QByteArray("Ers:3");
        QTest::newRow("uncomp status 3") << int(F::QUncomp) << 0.01 << 3 << QByteArray("Ers") << QByteArray("Ers:3");
        QTest::newRow("salinity status 3") << int(F::QSal) << 35.0 << 3 << QByteArray("Er-3") << QByteArray("Er-3");
        QTest::newRow("temp status 5") << int(F::QTemp) << 20.0 << 5 << QByteArray("Er-5") << QByteArray("Er-5");
        QTest::newRow("uncomp status 10") << int(F::QUncomp) << 0.01 << 10 << QByteArray("Er10") << QByteArray("Er10");

        QTest::newRow("salinity status -1") << int(F::QSal) << 35.0 << -1 << QByteArray("Ers") << QByteArray("Ers:-1");
        QTest::newRow("comp status -1") << int(F::QComp) << 0.01 << -1 << QByteArray("Ers") << QByteArray("Ers:-1");
        QTest::newRow("uncomp status 11") << int(F::QUncomp) << 0.01 << 11 << QByteArray("Ers") << QByteArray("Ers:11");
        QTest::newRow("temp status 11") << int(F::QTemp) << 20.0 << 11 << QByteArray("Ers") << QByteArray("Ers:11");
    }

    // Each quantity's texts come from its own value and status alone: the
    // other three keep the steady reading's texts in their own columns.
    void tickTexts()
    {
        QFETCH(int, quantity);
        QFETCH(double, value);
        QFETCH(int, status);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, cell);

        std::array<MeasuredValue, 4> reading = driver->steady;
        reading[quantity] = MeasuredValue{value, status, 0};
        tick(reading);

        QCOMPARE(Main->Records->rowCount(), 1);
        for (int q = 0; q < 4; ++q) {
            const QByteArray expectedDisplay = q == quantity ? display : SteadyTexts[q];
            const QByteArray expectedCell = q == quantity ? cell : SteadyTexts[q];
            QCOMPARE(displays()[q]->Caption(), expectedDisplay);
            QCOMPARE(lastCell(q + 1), expectedCell);
        }
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:1"));
    }

    // The conductivity displays hold 8 characters; a longer text is written
    // whole and the display cuts it, while the cell keeps every character.
    void longConductivityText()
    {
        tick({MeasuredValue{35, 0, 0}, {0.012345678, 0, 0}, {0.098765432, 0, 0}, {20, 0, 0}});
        QCOMPARE(Main->Lab_Comp->NoOfChars(), 8);
        QCOMPARE(Main->lab_uncomp->NoOfChars(), 8);
        QCOMPARE(Main->Lab_Comp->Caption(), QByteArray("12.345678"));
        QCOMPARE(Main->lab_uncomp->Caption(), QByteArray("98.765432"));
        QCOMPARE(lastCell(2), QByteArray("12.345678"));
        QCOMPARE(lastCell(3), QByteArray("98.765432"));

        // What the display shows is its first 8 characters.
        const QImage whole = Main->Lab_Comp->grab().toImage();
        Main->Lab_Comp->setCaption("12.34567");
        QCOMPARE(Main->Lab_Comp->grab().toImage(), whole);
        Main->Lab_Comp->setCaption("12.34568");
        QVERIFY(Main->Lab_Comp->grab().toImage() != whole);
    }

    void decimalComma()
    {
        RegionalSettings::fix(region(u','));
        tick({MeasuredValue{35, 0, 0}, {0.0125, 0, 0}, {0.0125, 0, 0}, {-2.5, 0, 0}});
        QCOMPARE(Main->lab_ppt->Caption(), QByteArray("35,0"));
        QCOMPARE(lastCell(1), QByteArray("35,0"));
        QCOMPARE(Main->Lab_Comp->Caption(), QByteArray("12,500000"));
        QCOMPARE(lastCell(2), QByteArray("12,500000"));
        QCOMPARE(lastCell(4), QByteArray("-2,5"));
        // Error texts carry no separator to localise.
        tick({MeasuredValue{35, 2, 0}, {0.0125, 7, 0}, {0.0125, 0, 0}, {-2.5, 0, 0}});
        QCOMPARE(lastCell(1), QByteArray("Ers:2"));
        QCOMPARE(lastCell(2), QByteArray("Er-7"));
    }

    // An Arabic region: Qt's decimal separator there is U+066B, which the
    // displays cannot show; the displays and the cells read "." and keep all
    // their digits. The time keeps the region's own markers.
    void arabicRegion()
    {
        RegionalSettings::fix(RegionalSettings::fromLocale(QLocale(QLocale::Arabic, QLocale::Egypt)));
        tick({MeasuredValue{35, 0, 0}, {0.0125, 0, 0}, {0.0125, 0, 0}, {-2.5, 0, 0}});
        const std::array<QByteArray, 4> texts = {"35.0", "12.500000", "12.500000", "-2.5"};
        for (int q = 0; q < 4; ++q) {
            QCOMPARE(displays()[q]->Caption(), texts[q]);
            QCOMPARE(lastCell(q + 1), texts[q]);
            QCOMPARE(Main->Records->data(Main->Records->index(0, q + 1)).toString(),
                     QString::fromLatin1(texts[q]));
        }
        const QLocale arabic(QLocale::Arabic, QLocale::Egypt);
        const QString time = Main->Records->data(Main->Records->index(0, 0)).toString();
        // The cells hold the system's 8-bit code page: under UTF-8 all of
        // the Arabic day half, elsewhere what the code page makes of it.
        const auto asStored = [](const QString& text) { return QString::fromLocal8Bit(text.toLocal8Bit()); };
        QVERIFY2(time.contains(asStored(arabic.amText())) || time.contains(asStored(arabic.pmText())),
                 qPrintable(time));
    }

    // The four reading calls, in order, on the recording's own handle with
    // the model code.
    void readingCallsInOrderOnPortHandle()
    {
        Main->BitBtn1->click();
        QCOMPARE(driver->handedOut.size(), size_t(1));
        const THandle fd = driver->handedOut[0];
        QCOMPARE(Main->PortHandle, fd);

        QCOMPARE(driver->calls.size(), size_t(5));
        QCOMPARE(driver->calls[0].fn, FakeMeterDriver::Open);
        QCOMPARE(driver->calls[0].port, 1);
        QCOMPARE(driver->calls[0].speed, 4800);
        const FakeMeterDriver::Fn order[] = {FakeMeterDriver::Sal, FakeMeterDriver::Comp,
                                             FakeMeterDriver::Uncomp, FakeMeterDriver::Temp};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(driver->calls[1 + i].fn, order[i]);
            QCOMPARE(driver->calls[1 + i].handle, fd);
            QCOMPARE(driver->calls[1 + i].model, 5926);
        }

        driver->calls.clear();
        Main->TimerTimer();
        QCOMPARE(driver->calls.size(), size_t(4));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(driver->calls[i].fn, order[i]);
            QCOMPARE(driver->calls[i].handle, fd);
        }
    }

    void conductivitiesScaledInPlace_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("valid") << 0;
        QTest::newRow("listed error") << 7;
        QTest::newRow("unlisted error") << -1;
    }

    // Both conductivities are scaled whatever their status; salinity and
    // temperature stay as delivered, and every status is kept.
    void conductivitiesScaledInPlace()
    {
        QFETCH(int, status);
        tick({MeasuredValue{35.5, status, 0}, {0.0125, status, 0}, {0.0375, status, 0},
              {-2.5, status, 0}});
        QCOMPARE(Main->CompConductivity.Value, 12.5);
        QCOMPARE(Main->UncompConductivity.Value, 37.5);
        QCOMPARE(Main->Salinity.Value, 35.5);
        QCOMPARE(Main->Temperature.Value, -2.5);
        QCOMPARE(Main->Salinity.Status, status);
        QCOMPARE(Main->CompConductivity.Status, status);
        QCOMPARE(Main->UncompConductivity.Status, status);
        QCOMPARE(Main->Temperature.Status, status);
    }

    void allQuantitiesFailing_data()
    {
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QList<QByteArray>>("displayTexts");
        QTest::addColumn<QList<QByteArray>>("cells");
        QTest::newRow("unlisted") << QList<int>{2, 4, -5, 12}
                                  << QList<QByteArray>{"Ers", "Ers", "Ers", "Ers"}
                                  << QList<QByteArray>{"Ers:2", "Ers:4", "Ers:-5", "Ers:12"};
        QTest::newRow("listed") << QList<int>{8, 10, 9, 6}
                                << QList<QByteArray>{"Er-8", "Er10", "Er-9", "Er-6"}
                                << QList<QByteArray>{"Er-8", "Er10", "Er-9", "Er-6"};
    }

    void allQuantitiesFailing()
    {
        QFETCH(QList<int>, statuses);
        QFETCH(QList<QByteArray>, displayTexts);
        QFETCH(QList<QByteArray>, cells);
        addRows(2);
        tick({MeasuredValue{1, statuses[0], 0}, {1, statuses[1], 0}, {1, statuses[2], 0},
              {1, statuses[3], 0}});
        QCOMPARE(Main->Records->rowCount(), 3);
        QVERIFY(!lastCell(0).isEmpty());
        for (int q = 0; q < 4; ++q) {
            QCOMPARE(displays()[q]->Caption(), displayTexts[q]);
            QCOMPARE(lastCell(q + 1), cells[q]);
        }
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:3"));
        QVERIFY(dialogs->shown.isEmpty());
    }

    // The new row goes at the end and becomes CurrentRow; the list's
    // selection and scroll position stay as the operator left them.
    void rowAppendedAtEndUnselected()
    {
        addRows(60);
        Main->ListView->selectionModel()->clearSelection();
        QCoreApplication::processEvents();
        QCOMPARE(Main->ListView->verticalScrollBar()->value(), 0);

        tick(driver->steady);
        QCoreApplication::processEvents();
        QCOMPARE(Main->Records->rowCount(), 61);
        QCOMPARE(Main->CurrentRow, 60);
        QCOMPARE(Main->Records->cell(0, 0), QByteArray("old0"));
        QCOMPARE(Main->Records->cell(59, 0), QByteArray("old59"));
        QCOMPARE(lastCell(1), SteadyTexts[0]);
        QVERIFY(!Main->ListView->selectionModel()->hasSelection());
        QCOMPARE(Main->ListView->verticalScrollBar()->value(), 0);
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:61"));

        tick(driver->steady);
        QCOMPARE(Main->CurrentRow, 61);
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:62"));
    }

    void timeCaption_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("parseFormat");
        QTest::newRow("24-hour") << QStringLiteral("HH:mm:ss")
                                 << QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d$")
                                 << QStringLiteral("HH:mm:ss");
        QTest::newRow("12-hour") << QStringLiteral("h:mm:ss AP")
                                 << QStringLiteral("^([1-9]|1[0-2]):[0-5]\\d:[0-5]\\d (AM|PM)$")
                                 << QStringLiteral("h:mm:ss AP");
    }

    // The caption is the local time of day of the tick, in the region's long
    // time format.
    void timeCaption()
    {
        QFETCH(QString, format);
        QFETCH(QString, pattern);
        QFETCH(QString, parseFormat);
        RegionalSettings::fix(region(u'.', format));

        const QTime before = QTime::currentTime();
        tick(driver->steady);
        const QTime after = QTime::currentTime();
        const QString caption = QString::fromLatin1(lastCell(0));
        QVERIFY2(QRegularExpression(pattern).match(caption).hasMatch(), qPrintable(caption));

        const QTime shown = QTime::fromString(caption, parseFormat);
        QVERIFY(shown.isValid());
        if (before <= after) { // not across midnight
            QVERIFY2(shown >= QTime(before.hour(), before.minute(), before.second())
                         && shown <= after,
                     qPrintable(caption));
        }
    }

    // ---- Start and STOP -------------------------------------------------

    void startOnEmptyList()
    {
        QVERIFY(!Main->Timer->isActive());
        QCOMPARE(buttonStates(), ReadyButtons);
        // What Start has done by the time its own tick reads the meter.
        QString panel0, panel1;
        QList<bool> buttons;
        bool timerDuringTick = true;
        driver->onTick = [&] {
            panel0 = Main->Stpl->text(0);
            panel1 = Main->Stpl->text(1);
            buttons = buttonStates();
            timerDuringTick = Main->Timer->isActive();
        };
        Main->BitBtn1->click();
        driver->onTick = nullptr;
        QCOMPARE(panel0, QStringLiteral("Start Record"));
        QCOMPARE(panel1, QStringLiteral("Total:"));
        QCOMPARE(buttons, RecordingButtons);
        QVERIFY(!timerDuringTick);

        QVERIFY(dialogs->shown.isEmpty());
        QVERIFY(Main->Recording());
        QCOMPARE(Main->Records->rowCount(), 1);
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("Start Record"));
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:1"));
        QCOMPARE(buttonStates(), RecordingButtons);
        QVERIFY(Main->Timer->isActive());
        QCOMPARE(Main->PortHandle, driver->handedOut.back());
        QVERIFY(descriptorOpen(Main->PortHandle));
    }

    void startWithRows_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("rowsAfter");
        QTest::addColumn<QByteArray>("firstCaption");
        QTest::newRow("No keeps them") << int(Dialogs::Answer::No) << 6 << QByteArray("old0");
        QTest::newRow("Yes clears") << int(Dialogs::Answer::Yes) << 1 << QByteArray();
        QTest::newRow("closed keeps them") << int(Dialogs::Answer::Closed) << 6 << QByteArray("old0");
    }

    // With rows present the question comes after the port opened and before
    // the first reading, while the timer is still off.
    void startWithRows()
    {
        QFETCH(int, answer);
        QFETCH(int, rowsAfter);
        QFETCH(QByteArray, firstCaption);
        addRows(5);
        dialogs->messageAnswers.push_back(Dialogs::Answer(answer));
        size_t callsWhenAsked = 0;
        bool timerWhenAsked = true;
        dialogs->onMessage = [&](const RecordingDialogs::Shown&) {
            callsWhenAsked = driver->calls.size();
            timerWhenAsked = Main->Timer->isActive();
        };

        Main->BitBtn1->click();

        QCOMPARE(dialogs->shown.size(), qsizetype(1));
        const RecordingDialogs::Shown& q = dialogs->shown[0];
        QCOMPARE(q.kind, QStringLiteral("message"));
        QCOMPARE(q.title, QStringLiteral("Information"));
        QCOMPARE(q.text, QStringLiteral("Do you want to clear current list?"));
        QCOMPARE(q.icon, Dialogs::Icon::Information);
        QCOMPARE(q.buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(callsWhenAsked, size_t(1)); // only OpenMeterPort so far
        QVERIFY(!timerWhenAsked);

        QCOMPARE(Main->Records->rowCount(), rowsAfter);
        QCOMPARE(Main->CurrentRow, rowsAfter - 1);
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:%1").arg(rowsAfter));
        QCOMPARE(lastCell(1), SteadyTexts[0]);
        if (!firstCaption.isEmpty())
            QCOMPARE(Main->Records->cell(0, 0), firstCaption);
        QVERIFY(Main->Timer->isActive());
    }

    // The question runs a nested event loop; a Stop Record chosen meanwhile
    // ends the recording there, and Start must not go on with a closed port.
    void stopRecordWhileQuestionIsOpen()
    {
        addRows(2);
        dialogs->onMessage = [](const RecordingDialogs::Shown&) { Main->Mu_Stop->trigger(); };
        Main->BitBtn1->click();
        dialogs->onMessage = nullptr;

        QCOMPARE(driver->handedOut.size(), size_t(1));
        QVERIFY(!descriptorOpen(driver->handedOut[0]));
        QCOMPARE(driver->count(FakeMeterDriver::Sal), 0);
        QVERIFY(!Main->Recording());
        QVERIFY(!Main->Timer->isActive());
        QCOMPARE(buttonStates(), ReadyButtons);
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("Collect is complete"));
        QCOMPARE(Main->Records->rowCount(), 2);
    }

    void startWhenPortFails_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("Start button") << false;
        QTest::newRow("Begin Record") << true;
    }

    // Only the error box: no question although rows are present, no reading,
    // and buttons, list, status bar and timer as they were.
    void startWhenPortFails()
    {
        QFETCH(bool, fromMenu);
        addRows(3);
        Main->Stpl->setText(0, QStringLiteral("earlier message"));
        Main->Stpl->setText(1, QStringLiteral("Total:3"));
        driver->openSucceeds = false;

        if (fromMenu)
            Main->Mu_Start->trigger();
        else
            Main->BitBtn1->click();

        QCOMPARE(dialogs->shown.size(), qsizetype(1));
        QCOMPARE(dialogs->shown[0].title, QStringLiteral("Error"));
        QCOMPARE(dialogs->shown[0].text, QStringLiteral("Found Errors,Please Resetup!"));
        QCOMPARE(dialogs->shown[0].icon, Dialogs::Icon::Error);
        QCOMPARE(dialogs->shown[0].buttons, Dialogs::Buttons::Ok);
        QCOMPARE(driver->calls.size(), size_t(1));
        QCOMPARE(buttonStates(), ReadyButtons);
        QCOMPARE(Main->Records->rowCount(), 3);
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("earlier message"));
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:3"));
        QVERIFY(!Main->Timer->isActive());
        QVERIFY(!Main->Recording());
        QCOMPARE(Main->Lab_Comp->Caption(), QByteArray());
    }

    void startWithTextsNotWholeNumbers_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("message");
        QTest::newRow("speed") << QStringLiteral("1") << QStringLiteral("48o0")
                               << QStringLiteral("'48o0' is not a valid integer value.");
        QTest::newRow("port") << QStringLiteral("x") << QStringLiteral("4800")
                              << QStringLiteral("'x' is not a valid integer value.");
        QTest::newRow("speed first") << QStringLiteral("x") << QStringLiteral("fast")
                                     << QStringLiteral("'fast' is not a valid integer value.");
    }

    // The conversion fails before the driver is called; nothing changes.
    void startWithTextsNotWholeNumbers()
    {
        QFETCH(QString, port);
        QFETCH(QString, speed);
        QFETCH(QString, message);
        Setform->st_port->setText(port);
        Setform->ST_speed->setText(speed);

        Main->BitBtn1->click();

        QCOMPARE(dialogs->messageTexts(), QStringList{message});
        QCOMPARE(dialogs->shown[0].icon, Dialogs::Icon::Stop);
        QVERIFY(driver->calls.empty());
        QCOMPARE(buttonStates(), ReadyButtons);
        QVERIFY(!Main->Timer->isActive());
        QCOMPARE(Main->Records->rowCount(), 0);
    }

    void stopKeepsWhatTheLastTickLeft()
    {
        Main->BitBtn1->click();
        tick({MeasuredValue{33.3, 0, 0}, {0.0111, 0, 0}, {0.0222, 9, 0}, {18.0, 0, 0}});
        const THandle fd = Main->PortHandle;
        QVERIFY(descriptorOpen(fd));
        std::array<QByteArray, 4> captions;
        for (int q = 0; q < 4; ++q)
            captions[q] = displays()[q]->Caption();
        driver->calls.clear();
        dialogs->shown.clear();

        Main->BitBtn3->click();

        QVERIFY(!descriptorOpen(fd));
        QCOMPARE(Main->PortHandle, InvalidHandle);
        QVERIFY(!Main->Recording());
        QVERIFY(!Main->Timer->isActive());
        QCOMPARE(buttonStates(), ReadyButtons);
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("Collect is complete"));
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:2"));
        QCOMPARE(Main->Records->rowCount(), 2);
        QCOMPARE(lastCell(3), QByteArray("Er-9"));
        for (int q = 0; q < 4; ++q)
            QCOMPARE(displays()[q]->Caption(), captions[q]);
        QCOMPARE(Main->Lab_Comp->Caption(), QByteArray("11.100000"));
        QVERIFY(dialogs->shown.isEmpty()); // Stop reports nothing
        QVERIFY(driver->calls.empty());
        QCOMPARE(Main->Timer->interval(), 1000);
    }

    void startAfterStopOpensAndAsksAgain()
    {
        Main->BitBtn1->click();
        Main->BitBtn3->click();
        QVERIFY(dialogs->shown.isEmpty());

        dialogs->messageAnswers.push_back(Dialogs::Answer::No);
        Main->BitBtn1->click();
        QCOMPARE(driver->count(FakeMeterDriver::Open), 2);
        QCOMPARE(dialogs->messageTexts(), QStringList{QStringLiteral("Do you want to clear current list?")});
        QCOMPARE(Main->PortHandle, driver->handedOut.back());
        QVERIFY(descriptorOpen(Main->PortHandle));
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("Start Record"));
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:2"));
        QCOMPARE(buttonStates(), RecordingButtons);
    }

    // Meter errors neither stop a recording nor raise a message.
    void meterErrorsDoNotStopTheRecording()
    {
        Main->BitBtn1->click();
        for (int i = 0; i < 3; ++i)
            tick({MeasuredValue{0, 9, 0}, {0, 10, 0}, {0, -3, 0}, {0, 6, 0}});
        QVERIFY(Main->Recording());
        QVERIFY(Main->Timer->isActive());
        QVERIFY(dialogs->shown.isEmpty());
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:4"));
    }

    void popupClearKeepsTotalUntilNextTick()
    {
        Main->BitBtn1->click();
        Main->TimerTimer();
        Main->TimerTimer();
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:3"));

        Main->Pop_Clear->trigger();
        QCOMPARE(Main->Records->rowCount(), 0);
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:3"));
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("Start Record"));
        QVERIFY(Main->Recording());

        Main->Pop_Clear->trigger(); // on an empty list: nothing
        QCOMPARE(Main->Records->rowCount(), 0);
        QVERIFY(dialogs->shown.isEmpty());

        Main->TimerTimer();
        QCOMPARE(Main->Records->rowCount(), 1);
        QCOMPARE(Main->CurrentRow, 0);
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:1"));
    }

    // ---- menu commands in states where their buttons are disabled ---------

    // A second open would lose the recording's handle: nothing happens.
    void beginRecordDuringRecordingDoesNothing()
    {
        Main->BitBtn1->click();
        Main->Stpl->setText(0, QStringLiteral("marker"));
        const THandle fd = Main->PortHandle;
        driver->calls.clear();
        addRows(2); // rows present: a second Start would ask

        Main->Mu_Start->trigger();

        QVERIFY(driver->calls.empty());
        QVERIFY(dialogs->shown.isEmpty());
        QCOMPARE(Main->PortHandle, fd);
        QVERIFY(descriptorOpen(fd));
        QCOMPARE(Main->Records->rowCount(), 3);
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("marker"));
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:1"));
        QCOMPARE(buttonStates(), RecordingButtons);
        QVERIFY(Main->Timer->isActive());

        Main->BitBtn3->click(); // the one handle is still the one Stop closes
        QVERIFY(!descriptorOpen(fd));
    }

    void stopRecordOutsideRecordingDoesNothing_data()
    {
        QTest::addColumn<bool>("afterARecording");
        QTest::newRow("after the show step") << false;
        QTest::newRow("after a recording") << true;
    }

    // No handle is closed: a descriptor that took the old handle's number
    // since stays open. Buttons and status bar are unchanged.
    void stopRecordOutsideRecordingDoesNothing()
    {
        QFETCH(bool, afterARecording);
        if (afterARecording) {
            Main->BitBtn1->click();
            Main->BitBtn3->click();
        }
        const THandle stale = driver->handedOut.empty() ? InvalidHandle : driver->handedOut.back();
        const THandle mine = handlecheck::openStandIn();
        QVERIFY(mine != InvalidHandle);
        if (afterARecording)
            QCOMPARE(mine, stale); // the first free slot is the old handle's
        Main->Stpl->setText(0, QStringLiteral("marker"));
        Main->Stpl->setText(1, QStringLiteral("Total:7"));
        dialogs->shown.clear();

        Main->Mu_Stop->trigger();

        const bool stillOpen = descriptorOpen(mine);
        if (stillOpen)
            CloseHandle(mine);
        QVERIFY(stillOpen);
        QCOMPARE(buttonStates(), ReadyButtons);
        QCOMPARE(Main->Stpl->text(0), QStringLiteral("marker"));
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:7"));
        QVERIFY(!Main->Timer->isActive());
        QVERIFY(dialogs->shown.isEmpty());
    }

    // The Setup command during a recording ends it exactly as STOP does
    // before the dialog opens, then runs as usual (with its port test).
    void setupDuringRecordingStopsFirst()
    {
        Main->BitBtn1->click();
        const THandle fd = Main->PortHandle;
        struct Seen {
            bool recording = true, timer = true, handleOpen = true;
            QString panel0;
            QList<bool> buttons;
        } seen;
        dialogs->modalHandlers.push_back([&](QDialog& d) {
            seen.recording = Main->Recording();
            seen.timer = Main->Timer->isActive();
            seen.handleOpen = descriptorOpen(fd);
            seen.panel0 = Main->Stpl->text(0);
            seen.buttons = buttonStates();
            Setform->ST_RT->setValue(4);
            Setform->BitBtn1->click();
            Q_UNUSED(d);
        });
        driver->calls.clear();

        Main->MU_Setup->trigger();

        QVERIFY(!seen.recording);
        QVERIFY(!seen.timer);
        QVERIFY(!seen.handleOpen);
        QCOMPARE(seen.panel0, QStringLiteral("Collect is complete"));
        QCOMPARE(seen.buttons, ReadyButtons);

        // The port test after the dialog: opened and closed at once.
        QCOMPARE(driver->count(FakeMeterDriver::Open), 1);
        QCOMPARE(driver->handedOut.size(), size_t(2));
        QVERIFY(!descriptorOpen(driver->handedOut.back()));
        QCOMPARE(Main->PortHandle, InvalidHandle);
        QCOMPARE(driver->count(FakeMeterDriver::Sal), 0);
        QVERIFY(!Main->Timer->isActive());
        QCOMPARE(Main->Timer->interval(), 4000);
        QCOMPARE(buttonStates(), ReadyButtons);
        QCOMPARE(Main->Records->rowCount(), 1);
        QCOMPARE(dialogs->messageTexts(), QStringList());
    }

    // Port unavailable after a failed Setup; "Begin Record" (its button
    // disabled) fails the same way while the port stays away and records
    // once it is back.
    void beginRecordFromPortUnavailable()
    {
        driver->openSucceeds = false;
        dialogs->modalHandlers.push_back([](QDialog& d) { d.accept(); });
        Main->BitBtn6->click();
        QCOMPARE(dialogs->messageTexts(), QStringList{QStringLiteral("COM Port is not available")});
        const QList<bool> unavailable = {false, false, true, false, true, true};
        QCOMPARE(buttonStates(), unavailable);
        dialogs->shown.clear();

        Main->Mu_Start->trigger();
        QCOMPARE(dialogs->messageTexts(), QStringList{QStringLiteral("Found Errors,Please Resetup!")});
        QCOMPARE(buttonStates(), unavailable);
        QVERIFY(!Main->Recording());

        driver->openSucceeds = true;
        Main->Mu_Start->trigger();
        QVERIFY(Main->Recording());
        QCOMPARE(buttonStates(), RecordingButtons);
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:1"));
        Main->BitBtn3->click();
        QCOMPARE(buttonStates(), ReadyButtons);
    }

    // ---- the recording timer ---------------------------------------------

    void timerIntervalFromStoredDisplayTime()
    {
        DestroyWindows();
        openWindows(7);
        QCOMPARE(Main->Timer->interval(), 7000);
        QVERIFY(!Main->Timer->isActive());
        QVERIFY(Main->Timer->timerType() == Qt::PreciseTimer);
    }

    // First run: the Display Time the System Setup dialog ends with.
    void timerIntervalFromFirstRunSetup()
    {
        DestroyWindows();
        clearStore();
        CreateWindows(*driver);
        dialogs->modalHandlers.push_back([](QDialog&) {
            Setform->ST_RT->setValue(3);
            Setform->BitBtn1->click();
        });
        Main->ShowMainWindow();
        QCOMPARE(Main->Timer->interval(), 3000);
        QCOMPARE(Main->Settings->ReadString(Device, QStringLiteral("RT"), QString()),
                 QStringLiteral("3"));
        QVERIFY(Main->BitBtn1->isEnabled());
    }

    void timerIntervalFromSetupCommand()
    {
        dialogs->modalHandlers.push_back([](QDialog&) {
            Setform->ST_RT->setValue(12);
            Setform->BitBtn1->click();
        });
        Main->BitBtn6->click();
        QCOMPARE(Main->Timer->interval(), 12000);
        QVERIFY(!Main->Timer->isActive());

        // Start and Stop leave the interval alone.
        Main->BitBtn1->click();
        QVERIFY(Main->Timer->isActive());
        QCOMPARE(Main->Timer->interval(), 12000);
        Main->BitBtn3->click();
        QVERIFY(!Main->Timer->isActive());
        QCOMPARE(Main->Timer->interval(), 12000);
    }

    // The first timer event comes one whole interval after Start's own tick.
    void firstTimerEventOneIntervalAfterStart()
    {
        Main->Timer->setInterval(60);
        QElapsedTimer sinceStart;
        sinceStart.start();
        Main->BitBtn1->click();
        QCOMPARE(Main->Records->rowCount(), 1);
        QCoreApplication::processEvents();
        if (sinceStart.elapsed() < 50) // a busy machine may have let it pass
            QCOMPARE(Main->Records->rowCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(Main->Records->rowCount(), 2, 5000);
        QCOMPARE(driver->tickTimesMs.size(), size_t(2));
        const qint64 gap = driver->tickTimesMs[1] - driver->tickTimesMs[0];
        QVERIFY2(gap >= 55, qPrintable(QString::number(gap)));
        QTRY_COMPARE_WITH_TIMEOUT(Main->Records->rowCount(), 3, 5000);
        QCOMPARE(Main->Stpl->text(1), QStringLiteral("Total:3"));

        Main->BitBtn3->click();
        const int rows = Main->Records->rowCount();
        QTest::qWait(150);
        QCOMPARE(Main->Records->rowCount(), rows);
    }

    void ticksGoOnWhileModalIsOpen_data()
    {
        QTest::addColumn<bool>("aboutBox");
        QTest::newRow("message box") << false;
        QTest::newRow("About box") << true;
    }

    // Nested event loops of boxes and dialogs keep the timer's ticks coming.
    void ticksGoOnWhileModalIsOpen()
    {
        QFETCH(bool, aboutBox);
        Main->Timer->setInterval(25);
        Main->BitBtn1->click();
        int rowsAtOpen = -1;
        int rowsAtClose = -1;
        if (aboutBox) {
            dialogs->modalHandlers.push_back([&](QDialog& d) {
                rowsAtOpen = Main->Records->rowCount();
                QDialog* dialog = &d;
                QTimer::singleShot(250, dialog, [&rowsAtClose, dialog] {
                    rowsAtClose = Main->Records->rowCount();
                    dialog->reject();
                });
            });
            Main->Mu_about->trigger();
        } else {
            dialogs->messageOpenMs = 250;
            dialogs->onMessage = [&](const RecordingDialogs::Shown&) {
                rowsAtOpen = Main->Records->rowCount();
            };
            ShowErrorBox(QStringLiteral("a box during a recording"), Main);
            rowsAtClose = Main->Records->rowCount();
        }
        QVERIFY(rowsAtOpen >= 1);
        QVERIFY2(rowsAtClose >= rowsAtOpen + 3,
                 qPrintable(QStringLiteral("%1 -> %2").arg(rowsAtOpen).arg(rowsAtClose)));
        QVERIFY(Main->Recording());
        Main->BitBtn3->click();
    }
};

DSG_TEST_MAIN(TestRecording)
#include "tst_recording.moc"
