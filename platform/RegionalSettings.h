#pragma once
// The user's regional number and time settings, read at start and again when
// the system announces a change. Tests install their own values.
#include <QChar>
#include <QString>

class QLocale;

struct RegionalSettings {
    QChar decimalSeparator = u'.';
    // Qt time format of the long time format, time zone removed:
    // "HH:mm:ss", "h:mm:ss AP", "AP h:mm:ss" ...
    QString longTimeFormat = QStringLiteral("HH:mm:ss");
    QString amDesignator = QStringLiteral("AM");
    QString pmDesignator = QStringLiteral("PM");

    static RegionalSettings fromLocale(const QLocale& locale);

    // The settings in force.
    static const RegionalSettings& current();
    // Re-read them from the system locale (on start and on LocaleChange),
    // unless a test has fixed them.
    static void reload();
    // Fix the settings (tests); reload() then keeps them until unfix().
    static void fix(const RegionalSettings& settings);
    static void unfix();
};
