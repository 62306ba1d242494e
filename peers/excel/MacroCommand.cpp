#include "MacroCommand.h"

#include <QRegularExpression>

namespace macro {
namespace {

// A double-quoted text constant, with "" standing for one quote inside.
bool unquote(const QString& s, QString* out)
{
    if (s.size() < 2 || !s.startsWith(u'"') || !s.endsWith(u'"'))
        return false;
    *out = s.mid(1, s.size() - 2);
    out->replace(QStringLiteral("\"\""), QStringLiteral("\""));
    return true;
}

std::optional<Command> formula(const QString& args)
{
    // The address, when there is one, is the last argument; the value may
    // itself hold commas (a decimal comma, a text).
    static const QRegularExpression at(QStringLiteral(R"re(^(.*),\s*"R(\d+)C(\d+)"$)re"),
                                       QRegularExpression::DotMatchesEverythingOption);
    // A quoted last argument that is no R1C1 address ("R1C", "A1") is a
    // malformed reference, not part of the value.
    static const QRegularExpression anyAt(QStringLiteral(R"re(,\s*"[^"]*"$)re"));
    Command c;
    c.kind = Command::Kind::Formula;
    QString value = args;
    if (const auto m = at.match(args); m.hasMatch()) {
        value = m.captured(1).trimmed();
        bool okR = false;
        bool okC = false;
        c.row = m.captured(2).toInt(&okR);
        c.col = m.captured(3).toInt(&okC);
        if (!okR || !okC || !onGrid(c.row, c.col))
            return std::nullopt;
    } else if (anyAt.match(args).hasMatch()) {
        return std::nullopt;
    }
    c.text = unquote(value, &c.value);
    if (!c.text)
        c.value = value;
    return c;
}

std::optional<Command> select(const QString& args)
{
    QString ref;
    if (!unquote(args, &ref))
        return std::nullopt;
    static const QRegularExpression rc(
        QStringLiteral(R"(^R(?:\[(-?\d+)\]|(\d+))?C(?:\[(-?\d+)\]|(\d+))?$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = rc.match(ref.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    Command c;
    c.kind = Command::Kind::Select;
    bool ok = true;
    const auto coordinate = [&](int relative, int absolute, int max) {
        Coordinate k;
        bool okN = true;
        if (m.hasCaptured(relative)) {
            k.mode = Coordinate::Mode::By;
            k.n = m.captured(relative).toInt(&okN);
            okN = okN && k.n >= -max && k.n <= max;
        } else if (m.hasCaptured(absolute)) {
            k.mode = Coordinate::Mode::To;
            k.n = m.captured(absolute).toInt(&okN);
            okN = okN && k.n >= 1 && k.n <= max;
        }
        ok = ok && okN;
        return k;
    };
    c.toRow = coordinate(1, 2, MaxRow);
    c.toCol = coordinate(3, 4, MaxCol);
    if (!ok)
        return std::nullopt;
    return c;
}

} // namespace

std::optional<Command> parse(const QString& command)
{
    static const QRegularExpression call(QStringLiteral(R"(^\s*\[\s*(\w+)\s*\((.*)\)\s*\]\s*$)"),
                                         QRegularExpression::DotMatchesEverythingOption);
    const auto m = call.match(command);
    if (!m.hasMatch())
        return std::nullopt;
    const QString name = m.captured(1).toUpper();
    const QString args = m.captured(2).trimmed();
    if (name == QLatin1String("FORMULA"))
        return formula(args);
    if (name == QLatin1String("SELECT"))
        return select(args);
    if (name == QLatin1String("ERROR")) {
        bool ok = false;
        Command c;
        c.kind = Command::Kind::Error;
        c.error = args.toInt(&ok);
        if (!ok)
            return std::nullopt;
        return c;
    }
    if (name == QLatin1String("QUIT") && args.isEmpty()) {
        Command c;
        c.kind = Command::Kind::Quit;
        return c;
    }
    return std::nullopt;
}

} // namespace macro
