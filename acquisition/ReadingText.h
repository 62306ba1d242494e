#pragma once
// The texts one reading turns into: a number or a meter error code per
// quantity (one text for its LCD display, one for its record-list cell), and
// the time of day that captions a record-list row. All texts are 8-bit, in
// the local 8-bit encoding, as the record list and the exports keep them.
#include <QByteArray>
#include <QChar>
#include <cstdint>
#include <optional>

class QTime;
struct RegionalSettings;

enum class Quantity {
    Salinity,
    CompConductivity,
    UncompConductivity,
    Temperature,
};

struct ReadingTexts {
    QByteArray display;
    QByteArray cell;

    friend bool operator==(const ReadingTexts&, const ReadingTexts&) = default;
};

// Fixed-point text with exactly `decimals` decimals, the way the meter
// software has always printed its readings: the value is first taken to 18
// significant decimal digits (to nearest), then rounded at the shown decimals
// with a half going away from zero. A negative value that rounds to zero shows
// without a sign. No padding and no exponent form: every integer digit is
// written. NaN gives "NAN", infinities "INF" and "-INF". The separator is
// written as the one byte RegionalSettings::textSeparator makes of it.
QByteArray fixedPointText(double value, int decimals, QChar decimalSeparator);

// The error text a listed meter code has for this quantity ("Er-1" ...
// "Er10"); nothing for status 0 or for a code the quantity does not list.
std::optional<QByteArray> listedErrorText(Quantity quantity, std::int32_t status);

// Display and cell text of one quantity of a reading. `value` is already in
// the unit shown (conductivities in mS). Status 0 gives the value text, a
// listed code its error text in both, any other code "Ers" on the display
// and "Ers:<code>" in the cell.
ReadingTexts textsFor(Quantity quantity, double value, std::int32_t status,
                      QChar decimalSeparator);

// The time of day in the region's long time format (a Qt time format such as
// "HH:mm:ss", "h:mm:ss AP", "AP h:mm:ss"), with the region's AM/PM
// designators. Minutes and seconds always have two digits; the hour has a
// leading zero only where the format doubles it. An invalid time gives an
// empty text.
QByteArray timeOfDayText(const QTime& time, const RegionalSettings& settings);
