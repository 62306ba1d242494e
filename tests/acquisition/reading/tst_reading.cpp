// Reading texts (numbers, error codes, time of day) and the record list model.
#include "ExactDecimal.h"
#include "ReadingText.h"
#include "RecordList.h"
#include "RegionalSettings.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLocale>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTime>
#include <QTimeZone>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

Q_DECLARE_METATYPE(Quantity)

namespace {

// The tick multiplies a conductivity by 1000 at run time; keep the compiler
// from doing it differently at compile time.
double scaled(double siemens)
{
    volatile double v = siemens;
    return v * 1000;
}

RegionalSettings region(const QString& format, const QString& am = QStringLiteral("AM"),
                        const QString& pm = QStringLiteral("PM"))
{
    RegionalSettings s;
    s.longTimeFormat = format;
    s.amDesignator = am;
    s.pmDesignator = pm;
    return s;
}

std::array<QByteArray, 4> items(const char* a, const char* b, const char* c, const char* d)
{
    return {QByteArray(a), QByteArray(b), QByteArray(c), QByteArray(d)};
}

} // namespace

class TestReading : public QObject {
    Q_OBJECT
private slots:
    void fixedPoint_data();
    void fixedPoint();
    void fixedPointHugeValues();
    void fixedPointNonFinite();
    void fixedPointMatchesExactReference();
    void referenceSelfCheck();

    void texts_data();
    void texts();
    void decimalComma();
    void regionFromLocale();
    void listedCodesPerQuantity();

    void timeOfDay_data();
    void timeOfDay();
    void timeOfDayMidnightCrossing();
    void timeOfDayIgnoresSystemLocale();
    void timeOfDayFormat_data();
    void timeOfDayFormat();
    void timeCaptionInEveryLocale();

    void listAppendAndCells();
    void listInsertSignals();
    void listClear();
    void listLongAndUnusualCells();
    void listManyRowsAcrossBlocks();
    void listHeaderAndRoles();
    void listNotEditable();
    void listModelTester();
};

// Expected texts were worked out from the exact binary values of the doubles
// (e.g. 0.15 is 0.14999999999999999444..., 3.15e-05 is
// 0.0000314999999999999999509940...), taken to 18 significant digits first.
void TestReading::fixedPoint_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("35") << 35.0 << 1 << QByteArray("35.0");
    QTest::newRow("0.0125 S in mS") << scaled(0.0125) << 6 << QByteArray("12.500000");
    QTest::newRow("-2.5") << -2.5 << 1 << QByteArray("-2.5");
    QTest::newRow("25.25 half up") << 25.25 << 1 << QByteArray("25.3");
    QTest::newRow("-25.25 half away") << -25.25 << 1 << QByteArray("-25.3");
    QTest::newRow("-0.04 no sign") << -0.04 << 1 << QByteArray("0.0");
    QTest::newRow("-0.049 no sign") << -0.049 << 1 << QByteArray("0.0");
    QTest::newRow("-0.0") << -0.0 << 1 << QByteArray("0.0");
    QTest::newRow("zero 6") << 0.0 << 6 << QByteArray("0.000000");
    QTest::newRow("0.05 above half") << 0.05 << 1 << QByteArray("0.1");
    QTest::newRow("-0.05") << -0.05 << 1 << QByteArray("-0.1");
    QTest::newRow("0.05 at 6") << 0.05 << 6 << QByteArray("0.050000");
    QTest::newRow("0.15 below half") << 0.15 << 1 << QByteArray("0.1");
    QTest::newRow("0.25 exact half") << 0.25 << 1 << QByteArray("0.3");
    QTest::newRow("-0.25 exact half") << -0.25 << 1 << QByteArray("-0.3");
    QTest::newRow("0.35 below half") << 0.35 << 1 << QByteArray("0.3");
    QTest::newRow("0.045") << 0.045 << 1 << QByteArray("0.0");
    QTest::newRow("2.675 at 1") << 2.675 << 1 << QByteArray("2.7");
    QTest::newRow("2.675 at 6") << 2.675 << 6 << QByteArray("2.675000");
    QTest::newRow("1.0000005 x 1000") << scaled(1.0000005) << 6 << QByteArray("1000.000500");
    QTest::newRow("1.0000005") << 1.0000005 << 6 << QByteArray("1.000001");
    QTest::newRow("0.125 at 1") << 0.125 << 1 << QByteArray("0.1");
    QTest::newRow("0.125 at 6") << 0.125 << 6 << QByteArray("0.125000");
    QTest::newRow("1e-7") << 1e-7 << 6 << QByteArray("0.000000");
    QTest::newRow("5e-7 just below half") << 5e-7 << 6 << QByteArray("0.000000");
    QTest::newRow("1.5e-6 above half") << 1.5e-6 << 6 << QByteArray("0.000002");
    QTest::newRow("-4e-7 no sign") << -4e-7 << 6 << QByteArray("0.000000");
    QTest::newRow("-5.1e-7") << -5.1e-7 << 6 << QByteArray("-0.000001");
    // Below the half in binary, a half after 18 digits: rounds up.
    QTest::newRow("3.15e-05 18 digits") << 3.15e-05 << 6 << QByteArray("0.000032");
    QTest::newRow("0.0382986255 S in mS") << scaled(0.0382986255) << 6 << QByteArray("38.298626");
    QTest::newRow("12.345678") << 12.345678 << 6 << QByteArray("12.345678");
    QTest::newRow("0.012345678 S in mS") << scaled(0.012345678) << 6 << QByteArray("12.345678");
    QTest::newRow("9.95") << 9.95 << 1 << QByteArray("9.9");
    QTest::newRow("9.96 carry") << 9.96 << 1 << QByteArray("10.0");
    QTest::newRow("99.96 carry") << 99.96 << 1 << QByteArray("100.0");
    QTest::newRow("-99.96 carry") << -99.96 << 1 << QByteArray("-100.0");
    QTest::newRow("0.96 carry") << 0.96 << 1 << QByteArray("1.0");
    QTest::newRow("999999.9999995") << 999999.9999995 << 6 << QByteArray("999999.999999");
    QTest::newRow("123456789.123456789 at 6") << 123456789.123456789 << 6
                                             << QByteArray("123456789.123457");
    QTest::newRow("123456789.123456789 at 1") << 123456789.123456789 << 1
                                             << QByteArray("123456789.1");
    QTest::newRow("1e20") << 1e20 << 1 << QByteArray("100000000000000000000.0");
    QTest::newRow("-1e20") << -1e20 << 1 << QByteArray("-100000000000000000000.0");
    QTest::newRow("1e20 at 6") << 1e20 << 6 << QByteArray("100000000000000000000.000000");
    QTest::newRow("denormal") << 5e-324 << 6 << QByteArray("0.000000");
    QTest::newRow("-denormal") << -5e-324 << 6 << QByteArray("0.000000");
}

void TestReading::fixedPoint()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QByteArray, expected);
    QCOMPARE(fixedPointText(value, decimals, u'.'), expected);
}

void TestReading::fixedPointHugeValues()
{
    // 1e300 is 1.00000000000000005250...e300: 18 digits kept, zeros after.
    QCOMPARE(fixedPointText(1e300, 1, u'.'),
             QByteArray("100000000000000005") + QByteArray(283, '0') + ".0");
    QCOMPARE(fixedPointText(-DBL_MAX, 6, u'.'),
             "-" + QByteArray("179769313486231571") + QByteArray(291, '0') + ".000000");
}

void TestReading::fixedPointNonFinite()
{
    const double inf = std::numeric_limits<double>::infinity();
    QCOMPARE(fixedPointText(std::numeric_limits<double>::quiet_NaN(), 1, u'.'), QByteArray("NAN"));
    QCOMPARE(fixedPointText(inf, 6, u'.'), QByteArray("INF"));
    QCOMPARE(fixedPointText(-inf, 1, u','), QByteArray("-INF"));
    const ReadingTexts t = textsFor(Quantity::Salinity, -inf, 0, u'.');
    QCOMPARE(t.display, QByteArray("-INF"));
    QCOMPARE(t.cell, QByteArray("-INF"));
}

// The long-hand reference must itself agree with hand-worked expansions.
void TestReading::referenceSelfCheck()
{
    const ExactDecimal e = exactDecimal(0.1);
    QCOMPARE(QByteArray::fromStdString(e.integerDigits), QByteArray("0"));
    QCOMPARE(QByteArray::fromStdString(e.fractionDigits),
             QByteArray("1000000000000000055511151231257827021181583404541015625"));
    QCOMPARE(QByteArray::fromStdString(exactDecimal(1e20).integerDigits),
             QByteArray("100000000000000000000"));
    QCOMPARE(QByteArray::fromStdString(referenceFixed(3.15e-05, 6)), QByteArray("0.000032"));
    QCOMPARE(QByteArray::fromStdString(referenceFixed(-25.25, 1)), QByteArray("-25.3"));
    QCOMPARE(QByteArray::fromStdString(referenceFixed(-0.04, 1)), QByteArray("0.0"));
}

void TestReading::fixedPointMatchesExactReference()
{
    std::mt19937_64 rng(5926);
    std::vector<double> values;
    // Decimal half points at both precisions and their binary neighbours:
    // where binary rounding and the 18-digit step decide the last digit.
    std::uniform_int_distribution<long long> counts(0, 99999999);
    for (int i = 0; i < 6000; ++i) {
        for (int decimals : {1, 6}) {
            const QByteArray text = QByteArray::number(counts(rng)) + "5e-"
                + QByteArray::number(decimals + 1);
            const double v = std::strtod(text.constData(), nullptr);
            values.push_back(v);
            values.push_back(std::nextafter(v, 0.0));
            values.push_back(std::nextafter(v, 1e308));
            values.push_back(-v);
        }
    }
    // Readings as the tick makes them: siemens times 1000.
    std::uniform_real_distribution<double> siemens(0.0, 0.2);
    for (int i = 0; i < 20000; ++i)
        values.push_back(scaled(siemens(rng)));
    // Any finite double at all.
    for (int i = 0; i < 1500; ++i) {
        double v;
        const std::uint64_t bits = rng();
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v))
            values.push_back(v);
    }

    int checked = 0;
    for (double v : values) {
        for (int decimals : {1, 6}) {
            const QByteArray expected = QByteArray::fromStdString(referenceFixed(v, decimals));
            const QByteArray actual = fixedPointText(v, decimals, u'.');
            if (actual != expected)
                QFAIL(qPrintable(QStringLiteral("%1 at %2 decimals: got %3, expected %4")
                                     .arg(v, 0, 'g', 17)
                                     .arg(decimals)
                                     .arg(QString::fromLatin1(actual.left(60)),
                                          QString::fromLatin1(expected.left(60)))));
            ++checked;
        }
    }
    QVERIFY(checked > 100000);
}

void TestReading::texts_data()
{
    QTest::addColumn<Quantity>("quantity");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("cell");

    const auto S = Quantity::Salinity;
    const auto C = Quantity::CompConductivity;
    const auto U = Quantity::UncompConductivity;
    const auto T = Quantity::Temperature;

    QTest::newRow("salinity 35") << S << 35.0 << 0 << QByteArray("35.0") << QByteArray("35.0");
    QTest::newRow("comp 0.0125 S") << C << scaled(0.0125) << 0 << QByteArray("12.500000")
                                   << QByteArray("12.500000");
    QTest::newRow("uncomp 0.0125 S") << U << scaled(0.0125) << 0 << QByteArray("12.500000")
                                     << QByteArray("12.500000");
    QTest::newRow("temp -2.5") << T << -2.5 << 0 << QByteArray("-2.5") << QByteArray("-2.5");
    QTest::newRow("temp 25.25") << T << 25.25 << 0 << QByteArray("25.3") << QByteArray("25.3");
    QTest::newRow("temp -0.04") << T << -0.04 << 0 << QByteArray("0.0") << QByteArray("0.0");
    // The display gets the whole text; the LCD cuts it to its own width.
    QTest::newRow("comp 12.345678 whole") << C << 12.345678 << 0 << QByteArray("12.345678")
                                          << QByteArray("12.345678");
    QTest::newRow("comp status 1") << C << 1.0 << 1 << QByteArray("Er-1") << QByteArray("Er-1");
    QTest::newRow("salinity status 1") << S << 35.0 << 1 << QByteArray("Ers")
                                       << QByteArray("Ers:1");
    QTest::newRow("temp status 1") << T << 20.0 << 1 << QByteArray("Ers") << QByteArray("Ers:1");
    QTest::newRow("temp status 7") << T << 20.0 << 7 << QByteArray("Ers") << QByteArray("Ers:7");
    QTest::newRow("comp status 3") << C << 1.0 << 3 << QByteArray("Ers") << QByteArray("Ers:3");
    QTest::newRow("salinity status -1") << S << 0.0 << -1 << QByteArray("Ers")
                                        << QByteArray("Ers:-1");
    QTest::newRow("temp status 11") << T << 0.0 << 11 << QByteArray("Ers") << QByteArray("Ers:11");
    QTest::newRow("salinity min int") << S << 0.0 << int(INT32_MIN) << QByteArray("Ers")
                                      << QByteArray("Ers:-2147483648");
    QTest::newRow("temp max int") << T << 0.0 << int(INT32_MAX) << QByteArray("Ers")
                                  << QByteArray("Ers:2147483647");
    // An error code hides whatever value came with it, even a broken one.
    QTest::newRow("salinity 3 NaN") << S << std::numeric_limits<double>::quiet_NaN() << 3
                                    << QByteArray("Er-3") << QByteArray("Er-3");
}

void TestReading::texts()
{
    QFETCH(Quantity, quantity);
    QFETCH(double, value);
    QFETCH(int, status);
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, cell);
    const ReadingTexts t = textsFor(quantity, value, status, u'.');
    QCOMPARE(t.display, display);
    QCOMPARE(t.cell, cell);
}

void TestReading::decimalComma()
{
    const ReadingTexts s = textsFor(Quantity::Salinity, 35.0, 0, u',');
    QCOMPARE(s.display, QByteArray("35,0"));
    QCOMPARE(s.cell, QByteArray("35,0"));
    QCOMPARE(textsFor(Quantity::UncompConductivity, scaled(0.0125), 0, u',').cell,
             QByteArray("12,500000"));
    QCOMPARE(textsFor(Quantity::Temperature, -25.25, 0, u',').display, QByteArray("-25,3"));
    // A separator outside ASCII is one byte that every display can show.
    QCOMPARE(fixedPointText(1.5, 1, QChar(0x066B)), QByteArray("1.5"));
    QCOMPARE(fixedPointText(1.5, 1, QChar(0xFF0C)), QByteArray("1,5"));
    QCOMPARE(fixedPointText(1.5, 1, u'7'), QByteArray("1.5"));
}

void TestReading::regionFromLocale()
{
    // Qt gives U+066B as the Arabic decimal separator.
    const RegionalSettings arabic = RegionalSettings::fromLocale(QLocale(QLocale::Arabic, QLocale::Egypt));
    QCOMPARE(arabic.decimalSeparator, QChar(u'.'));
    QCOMPARE(textsFor(Quantity::Salinity, 35.0, 0, arabic.decimalSeparator).display, QByteArray("35.0"));
    QCOMPARE(RegionalSettings::fromLocale(QLocale(QLocale::German, QLocale::Germany)).decimalSeparator,
             QChar(u','));
    const RegionalSettings us = RegionalSettings::fromLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(us.decimalSeparator, QChar(u'.'));
    QCOMPARE(us.longTimeFormat, QStringLiteral("h:mm:ss AP"));
}

// Every code 0..11 for every quantity against the meter's table.
void TestReading::listedCodesPerQuantity()
{
    struct Row {
        Quantity q;
        const char* name;
        std::initializer_list<int> listed;
    };
    const Row rows[] = {
        {Quantity::Salinity, "salinity", {3, 7, 8, 9, 10}},
        {Quantity::CompConductivity, "comp", {1, 7, 8, 9, 10}},
        {Quantity::UncompConductivity, "uncomp", {1, 7, 8, 9, 10}},
        {Quantity::Temperature, "temp", {5, 6, 9, 10}},
    };
    for (const Row& r : rows) {
        for (int code = -2; code <= 12; ++code) {
            const ReadingTexts t = textsFor(r.q, 1.0, code, u'.');
            const bool listed = std::find(r.listed.begin(), r.listed.end(), code) != r.listed.end();
            QByteArray display, cell;
            if (code == 0) {
                display = cell = t.display; // value text, checked elsewhere
                QVERIFY2(!listedErrorText(r.q, 0), r.name);
            } else if (listed) {
                display = cell = code == 10 ? QByteArray("Er10") : "Er-" + QByteArray::number(code);
            } else {
                display = "Ers";
                cell = "Ers:" + QByteArray::number(code);
            }
            const QByteArray where = QByteArray(r.name) + " code " + QByteArray::number(code);
            QVERIFY2(t.display == display, where.constData());
            QVERIFY2(t.cell == cell, where.constData());
            QVERIFY2(listedErrorText(r.q, code).has_value() == listed, where.constData());
        }
    }
}

void TestReading::timeOfDay_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("am");
    QTest::addColumn<QString>("pm");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");

    const QString am = QStringLiteral("AM"), pm = QStringLiteral("PM");
    QTest::newRow("24h leading zero") << "HH:mm:ss" << am << pm << QTime(9, 5, 7) << "09:05:07";
    QTest::newRow("24h afternoon") << "HH:mm:ss" << am << pm << QTime(21, 5, 7) << "21:05:07";
    QTest::newRow("24h no leading zero") << "H:mm:ss" << am << pm << QTime(9, 5, 7) << "9:05:07";
    QTest::newRow("h without marker is 24h") << "h:mm:ss" << am << pm << QTime(21, 5, 7)
                                             << "21:05:07";
    QTest::newRow("other separator") << "HH.mm.ss" << am << pm << QTime(9, 5, 7) << "09.05.07";
    QTest::newRow("single m s still two digits") << "H:m:s" << am << pm << QTime(9, 5, 7)
                                                 << "9:05:07";
    QTest::newRow("12h marker after pm") << "h:mm:ss AP" << am << pm << QTime(21, 5, 7)
                                         << "9:05:07 PM";
    QTest::newRow("12h marker after am") << "h:mm:ss AP" << am << pm << QTime(9, 5, 7)
                                         << "9:05:07 AM";
    QTest::newRow("12h midnight") << "h:mm:ss AP" << am << pm << QTime(0, 0, 0) << "12:00:00 AM";
    QTest::newRow("12h noon") << "h:mm:ss AP" << am << pm << QTime(12, 0, 0) << "12:00:00 PM";
    QTest::newRow("12h leading zero") << "hh:mm:ss AP" << am << pm << QTime(13, 0, 59)
                                      << "01:00:59 PM";
    QTest::newRow("12h lower-case") << "h:mm:ss ap" << am << pm << QTime(23, 59, 59)
                                    << "11:59:59 pm";
    QTest::newRow("H keeps 24h with marker") << "H:mm:ss AP" << am << pm << QTime(21, 5, 7)
                                             << "21:05:07 PM";
    QTest::newRow("marker before") << "AP h:mm:ss" << QStringLiteral("上午")
                                   << QStringLiteral("下午") << QTime(21, 5, 7)
                                   << QStringLiteral("下午 9:05:07");
    QTest::newRow("marker before morning") << "APh:mm:ss" << QStringLiteral("上午")
                                           << QStringLiteral("下午") << QTime(9, 5, 7)
                                           << QStringLiteral("上午9:05:07");
    QTest::newRow("own designators") << "h:mm:ss AP" << "a.m." << "p.m." << QTime(9, 5, 7)
                                     << "9:05:07 A.M.";
    QTest::newRow("quoted literal") << "HH'h'mm'm'ss's'" << am << pm << QTime(9, 5, 7)
                                    << "09h05m07s";
    QTest::newRow("quote doubled") << "HH''mm" << am << pm << QTime(9, 5, 7) << "09'05";
}

void TestReading::timeOfDay()
{
    QFETCH(QString, format);
    QFETCH(QString, am);
    QFETCH(QString, pm);
    QFETCH(QTime, time);
    QFETCH(QString, expected);
    QCOMPARE(timeOfDayText(time, region(format, am, pm)), expected.toLocal8Bit());
}

void TestReading::timeOfDayMidnightCrossing()
{
    const RegionalSettings s = region(QStringLiteral("HH:mm:ss"));
    QCOMPARE(timeOfDayText(QTime(23, 59, 59), s), QByteArray("23:59:59"));
    QCOMPARE(timeOfDayText(QTime(0, 0, 0), s), QByteArray("00:00:00"));
    const RegionalSettings twelve = region(QStringLiteral("h:mm:ss AP"));
    QCOMPARE(timeOfDayText(QTime(23, 59, 59), twelve), QByteArray("11:59:59 PM"));
    QCOMPARE(timeOfDayText(QTime(0, 0, 0), twelve), QByteArray("12:00:00 AM"));
    QCOMPARE(timeOfDayText(QTime(), s), QByteArray());
}

void TestReading::timeOfDayIgnoresSystemLocale()
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QByteArray text = timeOfDayText(QTime(21, 5, 7), region(QStringLiteral("h:mm:ss AP")));
    QLocale::setDefault(before);
    QCOMPARE(text, QByteArray("9:05:07 PM"));
}

void TestReading::timeOfDayFormat_data()
{
    QTest::addColumn<QString>("longFormat");
    QTest::addColumn<QString>("expected");
    // The shapes Qt's locales give, and a few they could.
    QTest::newRow("zone after a blank") << "HH:mm:ss t" << "HH:mm:ss";
    QTest::newRow("zone in brackets (es_ES)") << "H:mm:ss (t)" << "H:mm:ss";
    QTest::newRow("zone in square brackets (yue_HK)") << "APh:mm:ss [t]" << "APh:mm:ss";
    QTest::newRow("zone after a comma (sq_AL)") << "h:mm:ss AP, t" << "h:mm:ss AP";
    QTest::newRow("zone first (my_MM)") << "t HH:mm:ss" << "HH:mm:ss";
    QTest::newRow("zone first, marker next (zh_HK)") << "t APh:mm:ss" << "APh:mm:ss";
    QTest::newRow("abbreviation point stays (bg_BG)") << "H:mm:ss 'ч'. t" << "H:mm:ss 'ч'.";
    QTest::newRow("quoted prefix stays (nds_DE)") << "'Klock' H.mm:ss (t)" << "'Klock' H.mm:ss";
    QTest::newRow("long zone, blanks inside brackets") << "HH:mm:ss ( tttt )" << "HH:mm:ss";
    QTest::newRow("full-width brackets") << "HH:mm:ss\uFF08t\uFF09" << "HH:mm:ss";
    QTest::newRow("narrow no-break space") << "h:mm:ss\u202FAP\u202Ft" << "h:mm:ss\u202FAP";
    QTest::newRow("zone between time and marker") << "h:mm:ss t AP" << "h:mm:ss AP";
    QTest::newRow("brackets round more than the zone stay") << "(HH:mm:ss t)" << "(HH:mm:ss)";
    QTest::newRow("quoted t is text") << "'t' HH:mm:ss t" << "'t' HH:mm:ss";
    QTest::newRow("quoted brackets are text") << "HH:mm:ss '('t')'" << "HH:mm:ss '()'";
    QTest::newRow("no zone") << "HH:mm:ss" << "HH:mm:ss";
    QTest::newRow("nothing but a zone") << "(t)" << "HH:mm:ss";
    QTest::newRow("day period B (zh_TW)") << "Bh:mm:ss [t]" << "APh:mm:ss";
}

void TestReading::timeOfDayFormat()
{
    QFETCH(QString, longFormat);
    QFETCH(QString, expected);
    QCOMPARE(RegionalSettings::timeOfDayFormat(longFormat), expected);
}

// Every region Qt knows: its captions carry no zone, no brackets that held
// one, and no blank at either end, morning and evening.
void TestReading::timeCaptionInEveryLocale()
{
    static const QRegularExpression emptyBrackets(
        QStringLiteral("[(\\[{\uFF08\uFF3B\u3010]\\s*[)\\]}\uFF09\uFF3D\u3011]"));
    static const QRegularExpression unquotedZone(QStringLiteral("^(?:[^'t]|'[^']*')*t"));
    const QTimeZone here = QTimeZone::systemTimeZone();
    const QDateTime now = QDateTime::currentDateTime();
    const QStringList zoneNames = {QStringLiteral("UTC"), QStringLiteral("GMT"),
                                   here.abbreviation(now), here.displayName(now)};
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 100);
    int zonesInQt = 0;
    for (const QLocale& locale : locales) {
        const QString qtFormat = locale.timeFormat(QLocale::LongFormat);
        zonesInQt += qtFormat.contains(unquotedZone);
        const RegionalSettings s = RegionalSettings::fromLocale(locale);
        const QString where = locale.name() + QStringLiteral(" \"") + qtFormat
                              + QStringLiteral("\" -> \"") + s.longTimeFormat + u'"';
        QVERIFY2(!s.longTimeFormat.contains(unquotedZone), qPrintable(where));
        QVERIFY2(!s.longTimeFormat.contains(u'B'), qPrintable(where));
        for (const QTime time : {QTime(9, 5, 7), QTime(21, 5, 7)}) {
            const QString caption = QString::fromLocal8Bit(timeOfDayText(time, s));
            const QString seen = where + QStringLiteral(" gives \"") + caption + u'"';
            QVERIFY2(caption.contains(QLatin1String("05")) && caption.contains(QLatin1String("07")),
                     qPrintable(seen));
            QVERIFY2(!caption.contains(emptyBrackets), qPrintable(seen));
            QVERIFY2(!caption.front().isSpace() && !caption.back().isSpace(), qPrintable(seen));
            for (const QString& zone : zoneNames)
                QVERIFY2(zone.isEmpty() || !caption.contains(zone), qPrintable(seen));
        }
    }
    // The check above means something only while Qt's formats carry zones.
    QVERIFY(zonesInQt > 100);
}

void TestReading::listAppendAndCells()
{
    RecordList list;
    QCOMPARE(list.rowCount(), 0);
    QCOMPARE(list.appendRow("09:05:07", items("35.0", "12.500000", "42.123456", "21.3")), 0);
    QCOMPARE(list.appendRow("09:05:08", items("Ers", "Er-1", "Er-7", "Ers:7")), 1);
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(list.rowCount(QModelIndex()), 2);

    const RecordRows& rows = list;
    QCOMPARE(rows.rowCount(), 2);
    const char* expected[2][5] = {{"09:05:07", "35.0", "12.500000", "42.123456", "21.3"},
                                  {"09:05:08", "Ers", "Er-1", "Er-7", "Ers:7"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(rows.cell(r, c), QByteArray(expected[r][c]));
            QCOMPARE(list.data(list.index(r, c)).toString(), QString::fromLatin1(expected[r][c]));
        }
    QCOMPARE(list.cell(2, 0), QByteArray());
    QCOMPARE(list.cell(-1, 0), QByteArray());
    QCOMPARE(list.cell(0, 5), QByteArray());
    QCOMPARE(list.cell(0, -1), QByteArray());
    QVERIFY(!list.data(list.index(0, 0), Qt::EditRole).isValid());
}

void TestReading::listInsertSignals()
{
    RecordList list;
    list.appendRow("a", items("1", "2", "3", "4"));
    int countSeenBefore = -1;
    connect(&list, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [&] { countSeenBefore = list.rowCount(); });
    QSignalSpy about(&list, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    int countSeenAfter = -1;
    QByteArray cellSeenAfter;
    connect(&list, &QAbstractItemModel::rowsInserted, this, [&] {
        countSeenAfter = list.rowCount();
        cellSeenAfter = list.cell(1, 4);
    });

    QCOMPARE(list.appendRow("b", items("5", "6", "7", "8")), 1);
    QCOMPARE(about.size(), 1);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted[0][0].value<QModelIndex>(), QModelIndex());
    QCOMPARE(inserted[0][1].toInt(), 1);
    QCOMPARE(inserted[0][2].toInt(), 1);
    QCOMPARE(countSeenBefore, 1);
    QCOMPARE(countSeenAfter, 2);
    QCOMPARE(cellSeenAfter, QByteArray("8"));
}

void TestReading::listClear()
{
    RecordList list;
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);
    for (int i = 0; i < 10000; ++i)
        list.appendRow("09:05:07", items("35.0", "12.500000", "42.123456", "21.3"));
    QVERIFY(list.memoryBytes() > 10000 * 40);
    list.clear();
    QCOMPARE(reset.size(), 1);
    QCOMPARE(list.rowCount(), 0);
    QCOMPARE(list.cell(0, 0), QByteArray());
    QCOMPARE(list.memoryBytes(), std::size_t(0));
    // The list starts over at row 0.
    QCOMPARE(list.appendRow("00:00:00", items("1", "2", "3", "4")), 0);
    QCOMPARE(list.cell(0, 0), QByteArray("00:00:00"));
    QCOMPARE(list.cell(0, 4), QByteArray("4"));
}

void TestReading::listLongAndUnusualCells()
{
    RecordList list;
    const QByteArray len127(127, 'x');
    const QByteArray len128(128, 'y');
    const QByteArray len300 = fixedPointText(1e300, 1, u'.');
    const QByteArray huge(200000, 'z'); // larger than one storage block
    const QByteArray local = QStringLiteral("下午 9:05:07").toLocal8Bit();
    const QByteArray withNul("a\0b", 3);

    list.appendRow(local, {len127, len128, QByteArray(), withNul});
    list.appendRow("2", {huge, len300, "x", ""});
    list.appendRow("3", items("35.0", "12.500000", "42.123456", "21.3"));

    QCOMPARE(list.cell(0, 0), local);
    // Shown as the system's 8-bit code page reads it back: all of it under
    // UTF-8, question marks where the code page has no such characters.
    QCOMPARE(list.data(list.index(0, 0)).toString(), QString::fromLocal8Bit(local));
    QCOMPARE(list.cell(0, 1), len127);
    QCOMPARE(list.cell(0, 2), len128);
    QCOMPARE(list.cell(0, 3), QByteArray());
    QCOMPARE(list.cell(0, 4), withNul);
    QCOMPARE(list.cell(1, 1), huge);
    QCOMPARE(list.cell(1, 2), len300);
    QCOMPARE(list.cell(1, 3), QByteArray("x"));
    QCOMPARE(list.cell(1, 4), QByteArray());
    QCOMPARE(list.cell(2, 0), QByteArray("3"));
    QCOMPARE(list.cell(2, 4), QByteArray("21.3"));
}

void TestReading::listManyRowsAcrossBlocks()
{
    RecordList list;
    // Enough rows for the small blocks, several large ones and many index
    // chunks, with an outsized row among the large blocks.
    const int n = 80000;
    const int outsized = 70000;
    const QByteArray big(3 * 1024 * 1024, 'B');
    auto third = [&](int i) { return i == outsized ? big : QByteArray(i % 150, 'c'); };
    for (int i = 0; i < n; ++i) {
        const QByteArray tag = QByteArray::number(i);
        if (list.appendRow(tag, {tag + "a", tag + "bb", third(i), tag}) != i)
            QFAIL(qPrintable(QStringLiteral("row %1 got another index").arg(i)));
    }
    QCOMPARE(list.rowCount(), n);
    QVERIFY(list.memoryBytes() > std::size_t(8 * 1024 * 1024));
    for (int i = 0; i < n; ++i) {
        const QByteArray tag = QByteArray::number(i);
        if (list.cell(i, 0) != tag || list.cell(i, 2) != tag + "bb" || list.cell(i, 3) != third(i)
            || list.cell(i, 4) != tag)
            QFAIL(qPrintable(QStringLiteral("row %1 damaged").arg(i)));
    }
}

void TestReading::listHeaderAndRoles()
{
    RecordList list;
    list.appendRow("09:05:07", items("35.0", "12.500000", "42.123456", "21.3"));
    QCOMPARE(list.columnCount(), 5);
    const QStringList captions = {"Record Time", "ppt", "Comp_con", "UnComp_con", "Temp Value"};
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(list.headerData(c, Qt::Horizontal).toString(), captions[c]);
        const Qt::Alignment expected = c == 0 ? (Qt::AlignLeft | Qt::AlignVCenter)
                                              : Qt::Alignment(Qt::AlignHCenter | Qt::AlignVCenter);
        QCOMPARE(Qt::Alignment(list.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt()),
                 expected);
        QCOMPARE(Qt::Alignment(list.data(list.index(0, c), Qt::TextAlignmentRole).toInt()),
                 expected);
    }
    QVERIFY(!list.headerData(5, Qt::Horizontal).isValid());
}

void TestReading::listNotEditable()
{
    RecordList list;
    list.appendRow("09:05:07", items("35.0", "12.500000", "42.123456", "21.3"));
    for (int c = 0; c < 5; ++c) {
        const QModelIndex i = list.index(0, c);
        QCOMPARE(list.flags(i), Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        QVERIFY(!list.setData(i, QStringLiteral("changed")));
        QCOMPARE(list.cell(0, c), QByteArray(c == 0 ? "09:05:07" : items("35.0", "12.500000",
                                                                         "42.123456", "21.3")[c - 1]));
    }
}

void TestReading::listModelTester()
{
    RecordList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (int i = 0; i < 50; ++i)
        list.appendRow("t", items("1", "2", "3", "4"));
    list.clear();
    list.appendRow("t", items("1", "2", "3", "4"));
    QCOMPARE(list.rowCount(list.index(0, 0)), 0);
}

DSG_TEST_MAIN(TestReading)
#include "tst_reading.moc"
