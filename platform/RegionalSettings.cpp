#include "RegionalSettings.h"

#include <QLocale>
#include <algorithm>
#include <vector>

namespace {

RegionalSettings& stored()
{
    static RegionalSettings s = RegionalSettings::fromLocale(QLocale::system());
    return s;
}

bool fixed = false;

// One piece of a Qt date-time format: a quoted literal (quotes kept), a run
// of one field letter, or a single character of unquoted literal text.
struct FormatToken {
    enum Kind { Quoted, Field, Literal } kind;
    QString text;
};

std::vector<FormatToken> tokenize(const QString& format)
{
    std::vector<FormatToken> tokens;
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format[i];
        qsizetype end = i + 1;
        FormatToken::Kind kind = FormatToken::Literal;
        if (c == u'\'') {
            kind = FormatToken::Quoted;
            // Up to the closing quote; two quotes in a row stand for one.
            while (end < n) {
                if (format[end] == u'\'' && !(end + 1 < n && format[end + 1] == u'\''))
                    break;
                end += format[end] == u'\'' ? 2 : 1;
            }
            end = qMin(end + 1, n);
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            kind = FormatToken::Field;
            while (end < n && format[end] == c)
                ++end;
        }
        tokens.push_back({kind, format.mid(i, end - i)});
        i = end;
    }
    return tokens;
}

bool isLiteral(const FormatToken& t, auto test)
{
    return t.kind == FormatToken::Literal && test(t.text.front());
}

// What stands between a zone and the time: blanks of any width and commas.
bool isSeparator(QChar c)
{
    return c.isSpace() || c == u',' || c == u'\u060C' /* Arabic comma */ || c == u'\u3001';
}

bool isSeparatorToken(const FormatToken& t)
{
    return isLiteral(t, isSeparator);
}

bool isBlankToken(const FormatToken& t)
{
    return isLiteral(t, [](QChar c) { return c.isSpace(); });
}

bool bracketsPair(const FormatToken& open, const FormatToken& close)
{
    static const QString opening = QStringLiteral("([{\uFF08\uFF3B\u3010");
    static const QString closing = QStringLiteral(")]}\uFF09\uFF3D\u3011");
    if (open.kind != FormatToken::Literal || close.kind != FormatToken::Literal)
        return false;
    const qsizetype at = opening.indexOf(open.text.front());
    return at >= 0 && closing.at(at) == close.text.front();
}

} // namespace

QString RegionalSettings::timeOfDayFormat(const QString& longFormat)
{
    std::vector<FormatToken> tokens = tokenize(longFormat);
    auto isZone = [](const FormatToken& t) {
        return t.kind == FormatToken::Field && t.text.front() == u't';
    };
    for (auto zone = std::find_if(tokens.begin(), tokens.end(), isZone); zone != tokens.end();
         zone = std::find_if(tokens.begin(), tokens.end(), isZone)) {
        qsizetype first = zone - tokens.begin();
        qsizetype last = first;
        // Brackets that hold nothing but the zone ("(t)", "[ t ]") go with it.
        for (;;) {
            qsizetype before = first - 1;
            qsizetype after = last + 1;
            while (before >= 0 && isBlankToken(tokens[before]))
                --before;
            while (after < qsizetype(tokens.size()) && isBlankToken(tokens[after]))
                ++after;
            if (before < 0 || after >= qsizetype(tokens.size())
                || !bracketsPair(tokens[before], tokens[after]))
                break;
            first = before;
            last = after;
        }
        // So do the blanks and commas that set it off from the time: those
        // before it, or those after it when it comes first.
        qsizetype before = first - 1;
        while (before >= 0 && isSeparatorToken(tokens[before]))
            --before;
        if (before >= 0) {
            first = before + 1;
        } else {
            first = 0;
            while (last + 1 < qsizetype(tokens.size()) && isSeparatorToken(tokens[last + 1]))
                ++last;
        }
        tokens.erase(tokens.begin() + first, tokens.begin() + last + 1);
    }
    // Blanks at either end would only pad the caption.
    while (!tokens.empty() && isBlankToken(tokens.front()))
        tokens.erase(tokens.begin());
    while (!tokens.empty() && isBlankToken(tokens.back()))
        tokens.pop_back();
    QString format;
    bool previousQuoted = false;
    for (const FormatToken& t : tokens) {
        // Qt passes CLDR's day period "B" through as a letter (zh_TW's
        // "Bh:mm:ss"), so its captions would read "B9:05:07": the morning or
        // afternoon marker is what it stands for.
        if (t.kind == FormatToken::Field && t.text.front() == u'B')
            format += QStringLiteral("AP");
        else if (t.kind == FormatToken::Quoted && previousQuoted) {
            // Two quoted texts brought together would read as one holding a
            // quote: they become one.
            format.chop(1);
            format += QStringView(t.text).mid(1);
        } else
            format += t.text;
        previousQuoted = t.kind == FormatToken::Quoted;
    }
    return format.isEmpty() ? QStringLiteral("HH:mm:ss") : format;
}

RegionalSettings RegionalSettings::fromLocale(const QLocale& locale)
{
    RegionalSettings s;
    const QString point = locale.decimalPoint();
    s.decimalSeparator = QChar(point.isEmpty() ? '.' : textSeparator(point.front()));
    s.longTimeFormat = timeOfDayFormat(locale.timeFormat(QLocale::LongFormat));
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
