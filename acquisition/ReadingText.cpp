#include "ReadingText.h"

#include "RegionalSettings.h"

#include <QString>
#include <QTime>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace {

// Significant digits the value is taken to before the shown decimals are cut:
// the precision the readings were always printed from.
constexpr int SignificantDigits = 18;

} // namespace

QByteArray fixedPointText(double value, int decimals, QChar decimalSeparator)
{
    if (std::isnan(value))
        return QByteArrayLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QByteArrayLiteral("-INF") : QByteArrayLiteral("INF");
    if (decimals < 0)
        decimals = 0;

    // Step 1: the magnitude to 18 significant digits, correctly rounded to
    // nearest: "d.ddddddddddddddddde±XXX".
    char sci[40];
    const auto conv = std::to_chars(sci, sci + sizeof sci, std::fabs(value),
                                    std::chars_format::scientific, SignificantDigits - 1);
    char digits[SignificantDigits];
    digits[0] = sci[0];
    std::memcpy(digits + 1, sci + 2, SignificantDigits - 1);
    const char* expText = sci + 1 + SignificantDigits + 1; // after the 'e'
    int exponent = 0;
    std::from_chars(expText + (*expText == '+' ? 1 : 0), conv.ptr, exponent);

    // Step 2: round half away from zero at the shown decimals. digits[i] has
    // the weight 10^(exponent - i); the last kept digit has 10^-decimals.
    const int last = exponent + decimals;
    std::string kept; // the rounded magnitude times 10^decimals, in decimal
    if (value == 0 || last < -1) {
        kept = "0";
    } else if (last == -1) {
        kept = digits[0] >= '5' ? "1" : "0";
    } else {
        if (last >= SignificantDigits - 1) {
            kept.assign(digits, SignificantDigits);
            kept.append(std::size_t(last - (SignificantDigits - 1)), '0');
        } else {
            kept.assign(digits, std::size_t(last + 1));
            if (digits[last + 1] >= '5') {
                int i = int(kept.size()) - 1;
                while (i >= 0 && kept[std::size_t(i)] == '9')
                    kept[std::size_t(i--)] = '0';
                if (i >= 0)
                    ++kept[std::size_t(i)];
                else
                    kept.insert(kept.begin(), '1');
            }
        }
        const auto firstNonZero = kept.find_first_not_of('0');
        kept.erase(0, firstNonZero == std::string::npos ? kept.size() - 1 : firstNonZero);
    }

    if (kept.size() <= std::size_t(decimals))
        kept.insert(kept.begin(), std::size_t(decimals) + 1 - kept.size(), '0');
    const bool negative = std::signbit(value) && kept.find_first_not_of('0') != std::string::npos;

    QByteArray text;
    text.reserve(qsizetype(kept.size()) + 4);
    if (negative)
        text.append('-');
    const std::size_t integerDigits = kept.size() - std::size_t(decimals);
    text.append(kept.data(), qsizetype(integerDigits));
    if (decimals > 0) {
        // One byte, so a display shows one glyph for it.
        text.append(RegionalSettings::textSeparator(decimalSeparator));
        text.append(kept.data() + integerDigits, decimals);
    }
    return text;
}

std::optional<QByteArray> listedErrorText(Quantity quantity, std::int32_t status)
{
    bool listed = false;
    switch (quantity) {
    case Quantity::Salinity:
        listed = status == 3 || (status >= 7 && status <= 10);
        break;
    case Quantity::CompConductivity:
    case Quantity::UncompConductivity:
        listed = status == 1 || (status >= 7 && status <= 10);
        break;
    case Quantity::Temperature:
        listed = status == 5 || status == 6 || status == 9 || status == 10;
        break;
    }
    if (!listed)
        return std::nullopt;
    if (status == 10)
        return QByteArrayLiteral("Er10");
    return QByteArrayLiteral("Er-") + QByteArray::number(status);
}

ReadingTexts textsFor(Quantity quantity, double value, std::int32_t status,
                      QChar decimalSeparator)
{
    if (status == 0) {
        const int decimals = (quantity == Quantity::CompConductivity
                              || quantity == Quantity::UncompConductivity)
            ? 6
            : 1;
        // "%2.1f" on the salinity display and "%-2.1f" elsewhere differ only
        // in padding, which never applies: "0.0" is already wider than 2.
        QByteArray text = fixedPointText(value, decimals, decimalSeparator);
        return {text, text};
    }
    if (auto listed = listedErrorText(quantity, status))
        return {*listed, *listed};
    return {QByteArrayLiteral("Ers"), QByteArrayLiteral("Ers:") + QByteArray::number(status)};
}

QByteArray timeOfDayText(const QTime& time, const RegionalSettings& settings)
{
    if (!time.isValid())
        return {};
    const QString& format = settings.longTimeFormat;
    const qsizetype n = format.size();

    // A format with a morning/afternoon marker counts "h" on a 12-hour clock.
    bool twelveHour = false;
    for (qsizetype i = 0, quoted = 0; i < n; ++i) {
        if (format[i] == u'\'')
            quoted ^= 1;
        else if (!quoted && (format[i] == u'a' || format[i] == u'A'))
            twelveHour = true;
    }

    const int hour24 = time.hour();
    const int hour12 = hour24 % 12 == 0 ? 12 : hour24 % 12;
    const QString& designator = hour24 < 12 ? settings.amDesignator : settings.pmDesignator;

    auto runLength = [&](qsizetype at) {
        qsizetype end = at;
        while (end < n && format[end] == format[at])
            ++end;
        return end - at;
    };

    QString out;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format[i];
        if (c == u'\'') {
            // Quoted literal; a doubled quote stands for one quote.
            if (i + 1 < n && format[i + 1] == u'\'') {
                out += u'\'';
                i += 2;
                continue;
            }
            ++i;
            while (i < n) {
                if (format[i] == u'\'') {
                    if (i + 1 < n && format[i + 1] == u'\'') {
                        out += u'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                out += format[i++];
            }
            continue;
        }
        if (c == u'h' || c == u'H') {
            const bool twoDigits = runLength(i) >= 2;
            const int hour = (c == u'h' && twelveHour) ? hour12 : hour24;
            out += twoDigits ? QStringLiteral("%1").arg(hour, 2, 10, QChar(u'0'))
                             : QString::number(hour);
            i += twoDigits ? 2 : 1;
            continue;
        }
        if (c == u'm' || c == u's') {
            // Minutes and seconds always carry two digits.
            const int v = c == u'm' ? time.minute() : time.second();
            out += QStringLiteral("%1").arg(v, 2, 10, QChar(u'0'));
            i += runLength(i) >= 2 ? 2 : 1;
            continue;
        }
        if (c == u'z') {
            const qsizetype len = runLength(i);
            if (len >= 3) {
                out += QStringLiteral("%1").arg(time.msec(), 3, 10, QChar(u'0'));
                i += 3;
            } else {
                QString ms = QStringLiteral("%1").arg(time.msec(), 3, 10, QChar(u'0'));
                while (ms.size() > 1 && ms.endsWith(u'0'))
                    ms.chop(1);
                out += ms;
                i += 1;
            }
            continue;
        }
        if (c == u'a' || c == u'A') {
            const bool hasP = i + 1 < n && (format[i + 1] == u'p' || format[i + 1] == u'P');
            // "a"/"ap" is the lower-case marker; any spelling with a capital
            // gives the upper-case one, as Qt's own formatting does.
            const bool lower = c == u'a' && (!hasP || format[i + 1] == u'p');
            out += lower ? designator.toLower() : designator.toUpper();
            i += hasP ? 2 : 1;
            continue;
        }
        if (c == u't') {
            // A time zone has no place in a time of day.
            i += runLength(i);
            continue;
        }
        out += c;
        ++i;
    }
    return out.toLocal8Bit();
}
