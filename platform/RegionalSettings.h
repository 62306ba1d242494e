#pragma once
// The user's regional number and time settings, read at start and again when
// the system announces a change. Tests install their own values.
#include <QChar>
#include <QString>

class QLocale;

struct RegionalSettings {
    // Read from a locale, always one printable ASCII character (see
    // textSeparator).
    QChar decimalSeparator = u'.';
    // Qt time format of the long time format, time zone removed:
    // "HH:mm:ss", "h:mm:ss AP", "AP h:mm:ss" ...
    QString longTimeFormat = QStringLiteral("HH:mm:ss");
    // As the region writes them ("上午", "ص"): the time of day goes only into
    // record cells, which keep the local 8-bit encoding, never onto a display.
    QString amDesignator = QStringLiteral("AM");
    QString pmDesignator = QStringLiteral("PM");

    static RegionalSettings fromLocale(const QLocale& locale);

    // A region's long time format as a time of day: without its time zone
    // ("t" ... "tttt") and without what only framed the zone, the brackets
    // round it and the blanks and commas between it and the time
    // ("H:mm:ss (t)" gives "H:mm:ss", "t HH:mm:ss" gives "HH:mm:ss"); a day
    // period "B" becomes the morning/afternoon marker "AP".
    static QString timeOfDayFormat(const QString& longFormat);

    // The one byte a regional separator becomes in the program's 8-bit
    // texts. They go to LCD displays that draw each byte as the glyph of its
    // code (two of them know only 32..126) and to record cells that the list
    // and the exports read in the local 8-bit encoding: only printable ASCII
    // means the same in all of them. A separator outside it (the Arabic
    // decimal separator U+066B of ar_EG, fa_IR ...) would become several
    // bytes, each a junk glyph pushing a digit off its display; it becomes
    // its plain form where Unicode has one (full-width "．" gives "."),
    // otherwise ".". A blank or a digit cannot separate digits either: ".".
    static char textSeparator(QChar separator);

    // The settings in force.
    static const RegionalSettings& current();
    // Re-read them from the system locale (on start and on LocaleChange),
    // unless a test has fixed them.
    static void reload();
    // Fix the settings (tests); reload() then keeps them until unfix().
    static void fix(const RegionalSettings& settings);
    static void unfix();
};
