#include "RegionalSettings.h"

#include <QLocale>
#include <QRegularExpression>

namespace {

RegionalSettings& stored()
{
    static RegionalSettings s = RegionalSettings::fromLocale(QLocale::system());
    return s;
}

bool fixed = false;

} // namespace

RegionalSettings RegionalSettings::fromLocale(const QLocale& locale)
{
    RegionalSettings s;
    const QString point = locale.decimalPoint();
    s.decimalSeparator = point.isEmpty() ? QChar(u'.') : point.front();
    QString format = locale.timeFormat(QLocale::LongFormat);
    // The long format carries a time zone ("t", "tttt"); a time of day has none.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    format.replace(zone, QStringLiteral(" "));
    s.longTimeFormat = format.trimmed();
    if (s.longTimeFormat.isEmpty())
        s.longTimeFormat = QStringLiteral("HH:mm:ss");
    s.amDesignator = locale.amText();
    s.pmDesignator = locale.pmText();
    return s;
}

const RegionalSettings& RegionalSettings::current()
{
    return stored();
}

void RegionalSettings::reload()
{
    if (!fixed)
        stored() = fromLocale(QLocale::system());
}

void RegionalSettings::fix(const RegionalSettings& settings)
{
    fixed = true;
    stored() = settings;
}

void RegionalSettings::unfix()
{
    fixed = false;
    reload();
}
