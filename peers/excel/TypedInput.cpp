#include "TypedInput.h"

#include <QLocale>
#include <charconv>
#include <optional>
#include <string>

namespace typed {
namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == QChar(0xa0);
}

QStringView trimmed(QStringView s)
{
    while (!s.isEmpty() && isBlank(s.front()))
        s = s.mid(1);
    while (!s.isEmpty() && isBlank(s.back()))
        s.chop(1);
    return s;
}

// `ascii` is digits, an optional '.' and an optional exponent, nothing else.
// from_chars, unlike strtod, ignores the process's C locale, which Qt sets
// from the environment (a German one would want a decimal comma).
std::optional<double> asciiNumber(const std::string& ascii)
{
    double v = 0;
    const char* end = ascii.data() + ascii.size();
    const auto [p, ec] = std::from_chars(ascii.data(), end, v);
    if (ec != std::errc() || p != end)
        return std::nullopt;
    return v;
}

// Digits from `i` on, appended to `out`; how many.
int digits(QStringView s, qsizetype& i, std::string& out)
{
    int n = 0;
    while (i < s.size() && isDigit(s[i])) {
        out += char(s[i].unicode());
        ++i;
        ++n;
    }
    return n;
}

std::optional<double> number(QStringView s, const Region& r)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    std::string ascii;
    int intDigits = digits(s, i, ascii);
    // A group separator stands before exactly three digits ("1,234.5",
    // even "1234,567"); anywhere else ("1,23") the text is no number.
    while (intDigits > 0 && i < s.size() && s[i] == r.group && r.group != r.decimal) {
        qsizetype j = i + 1;
        std::string group;
        if (digits(s, j, group) != 3)
            return std::nullopt;
        ascii += group;
        intDigits += 3;
        i = j;
    }
    int fracDigits = 0;
    if (i < s.size() && s[i] == r.decimal) {
        ++i;
        ascii += '.';
        fracDigits = digits(s, i, ascii);
    }
    if (intDigits + fracDigits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        ascii += 'e';
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
            ascii += char(s[i].unicode());
            ++i;
        }
        if (digits(s, i, ascii) == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    const auto v = asciiNumber(ascii);
    if (!v)
        return std::nullopt;
    return negative ? -*v : *v;
}

// Takes `marker` off either end of `s`.
bool takeMarker(QStringView& s, const QString& marker)
{
    if (marker.isEmpty())
        return false;
    if (s.startsWith(marker, Qt::CaseInsensitive)) {
        s = trimmed(s.mid(marker.size()));
        return true;
    }
    if (s.endsWith(marker, Qt::CaseInsensitive)) {
        s = trimmed(s.chopped(marker.size()));
        return true;
    }
    return false;
}

std::optional<Entry> time(QStringView s, const Region& r)
{
    const bool am = takeMarker(s, r.am);
    const bool pm = !am && takeMarker(s, r.pm);
    // Hours, minutes and seconds: at least hours and minutes.
    long long field[3] = {0, 0, 0};
    int fields = 0;
    qsizetype i = 0;
    for (;;) {
        std::string text;
        const int n = digits(s, i, text);
        // Nine digits of hours are far more than any time needs.
        if (n == 0 || n > 9)
            return std::nullopt;
        field[fields++] = std::stoll(text);
        if (fields == 3 || i == s.size() || (s[i] != r.timeSeparator && s[i] != u':'))
            break;
        ++i;
    }
    if (fields < 2)
        return std::nullopt;
    double fraction = 0;
    bool hundredths = false;
    if (fields == 3 && i < s.size() && s[i] == r.secondsDecimal) {
        ++i;
        std::string ascii = "0.";
        if (digits(s, i, ascii) == 0)
            return std::nullopt;
        fraction = *asciiNumber(ascii);
        hundredths = true;
    }
    if (i != s.size())
        return std::nullopt;
    long long hours = field[0];
    const long long minutes = field[1];
    const long long seconds = field[2];
    if (minutes >= 60 || seconds >= 60)
        return std::nullopt;
    if (am || pm) {
        if (hours > 12)
            return std::nullopt;
        if (pm && hours < 12)
            hours += 12;
        else if (am && hours == 12)
            hours = 0;
    }
    Entry e;
    e.kind = Entry::Kind::Time;
    e.value = (double(hours * 3600 + minutes * 60 + seconds) + fraction) / 86400.0;
    e.twelveHour = am || pm;
    e.elapsed = hours >= 24;
    e.hundredths = hundredths;
    return e;
}

} // namespace

Region Region::of(const QLocale& locale)
{
    Region r;
    const QString decimal = locale.decimalPoint();
    const QString group = locale.groupSeparator();
    if (!decimal.isEmpty())
        r.decimal = decimal.front();
    if (!group.isEmpty())
        r.group = group.front();
    r.secondsDecimal = r.decimal;
    // The first character of the short time format that is no field letter,
    // quote or blank ("HH:mm", "H.mm").
    for (const QChar c : locale.timeFormat(QLocale::ShortFormat)) {
        if (!c.isLetter() && c != u'\'' && !c.isSpace()) {
            r.timeSeparator = c;
            break;
        }
    }
    r.am = locale.amText();
    r.pm = locale.pmText();
    return r;
}

Entry read(const QString& text, const Region& region)
{
    const QStringView s = trimmed(text);
    if (s.isEmpty())
        return {};
    if (const auto v = number(s, region)) {
        Entry e;
        e.kind = Entry::Kind::Number;
        e.value = *v;
        return e;
    }
    if (const auto t = time(s, region))
        return *t;
    return {};
}

} // namespace typed
