#pragma once
// A constant read the way a spreadsheet reads what its user types into a
// cell: a number or a time in the sheet's region, otherwise text. Excel's
// FORMULA enters its text "just as if you typed it in the formula bar", so
// both places a sheet can live (the grid and Calc) enter the quoted
// constants of FORMULA this way: "35.2" is a number that SUM adds, "05:28:22"
// a time of day, "Er-1" stays text.
//
// What it knows is what Calc's own input reading does with the texts a
// meter logger sends (checked against Calc's number formatter): plain and
// grouped numbers with an exponent, and times with or without seconds,
// fractions of a second and a morning/afternoon marker. Dates, percentages,
// fractions and currencies stay text; no text becomes a formula.
#include <QChar>
#include <QString>

class QLocale;

namespace typed {

// What a region writes in numbers and times.
struct Region {
    QChar decimal = u'.';
    QChar group = u',';
    QChar timeSeparator = u':';
    QChar secondsDecimal = u'.'; // before fractions of a second
    QString am = QStringLiteral("AM");
    QString pm = QStringLiteral("PM");

    // Qt's data for `locale` (the grid's region: the stand-in's own).
    static Region of(const QLocale& locale);
};

struct Entry {
    enum class Kind { Text, Number, Time };
    Kind kind = Kind::Text;
    // Number: the number. Time: in days, as spreadsheets keep times
    // (0.5 is noon).
    double value = 0;
    // Time: written with a morning/afternoon marker; past 24 hours; with
    // fractions of a second. Each calls for its own time format.
    bool twelveHour = false;
    bool elapsed = false;
    bool hundredths = false;
};

Entry read(const QString& text, const Region& region);

} // namespace typed
