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
    s.decimalSeparator = QChar(point.isEmpty() ? '.' : textSeparator(point.front()));
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

char RegionalSettings::textSeparator(QChar separator)
{
    auto plain = [](char16_t c) { return c > u' ' && c < 0x7F && !(c >= u'0' && c <= u'9'); };
    if (plain(separator.unicode()))
        return char(separator.unicode());
    const QString compatible = separator.decomposition();
    if (compatible.size() == 1 && plain(compatible.front().unicode()))
        return char(compatible.front().unicode());
    return '.';
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
