#include "Sheet.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>

namespace {

// The shortest text that reads back as the same number, in the C locale.
QString numberText(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

// A time as "hh:mm:ss" (hours past 24 kept), with its fractions of a second.
QString timeText(const typed::Entry& e)
{
    const double seconds = e.value * 86400.0;
    if (e.hundredths) {
        const qint64 centis = qRound64(seconds * 100.0);
        return QStringLiteral("%1:%2:%3.%4")
            .arg(centis / 360000, 2, 10, QChar(u'0'))
            .arg(centis / 6000 % 60, 2, 10, QChar(u'0'))
            .arg(centis / 100 % 60, 2, 10, QChar(u'0'))
            .arg(centis % 100, 2, 10, QChar(u'0'));
    }
    const qint64 whole = qRound64(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600, 2, 10, QChar(u'0'))
        .arg(whole / 60 % 60, 2, 10, QChar(u'0'))
        .arg(whole % 60, 2, 10, QChar(u'0'));
}

QString csvText(const Cell& c)
{
    if (c.entry.kind == typed::Entry::Kind::Number)
        return numberText(c.entry.value);
    if (c.entry.kind == typed::Entry::Kind::Time)
        return timeText(c.entry);
    return csvField(c.value);
}

} // namespace

bool Sheet::execute(const QString& command)
{
    const auto c = macro::parse(command);
    return c && carryOut(*c);
}

bool Sheet::carryOut(const macro::Command& c)
{
    using Kind = macro::Command::Kind;
    switch (c.kind) {
    case Kind::Formula:
        if (c.row == 0)
            setCell(activeRow_, activeCol_, entered(c));
        else
            setCell(c.row, c.col, entered(c));
        return true;
    case Kind::Select: {
        const int row = c.toRow.applyTo(activeRow_);
        const int col = c.toCol.applyTo(activeCol_);
        if (!macro::onGrid(row, col))
            return false;
        activeRow_ = row;
        activeCol_ = col;
        if (onSelectionChanged)
            onSelectionChanged();
        return true;
    }
    case Kind::Error:
        checkErrors_ = c.error != 0;
        return true;
    case Kind::Quit:
        if (onQuit)
            onQuit();
        return true;
    }
    return false;
}

Cell Sheet::entered(const macro::Command& c) const
{
    Cell cell{c.value, c.text, {}};
    if (c.text) {
        // A quoted constant, entered as its user would type it.
        cell.entry = typed::read(c.value, region_);
        cell.text = !cell.isNumber();
    } else if (const typed::Entry e = typed::read(c.value, typed::Region{}); e.kind == typed::Entry::Kind::Number) {
        // The macro language writes its number arguments the English way.
        cell.entry = e;
    }
    return cell;
}

void Sheet::submit(const macro::Command& command, const QString& source)
{
    if (!carryOut(command) && onFailed)
        onFailed(source);
}

void Sheet::query(const QString& item, std::function<void(std::optional<QString>)> reply)
{
    if (item.compare(QLatin1String("Selection"), Qt::CaseInsensitive) == 0)
        reply(selection());
    else if (item.compare(QLatin1String("Sheet"), Qt::CaseInsensitive) == 0)
        reply(toCsv());
    else if (item.startsWith(QLatin1String("Cell "), Qt::CaseInsensitive))
        reply(cellItem(item.mid(5)));
    else
        reply(std::nullopt);
}

QString Sheet::cellItem(const QString& ref) const
{
    static const QRegularExpression rc(QStringLiteral(R"(^R(\d+)C(\d+)$)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = rc.match(ref.trimmed());
    if (!m.hasMatch())
        return QStringLiteral("E");
    const Cell* c = cell(m.captured(1).toInt(), m.captured(2).toInt());
    if (!c)
        return QStringLiteral("E");
    if (c->text)
        return QStringLiteral("T:") + c->value;
    return QStringLiteral("V:") + (c->isNumber() ? numberText(c->entry.value) : c->value);
}

QString Sheet::selection() const
{
    return QStringLiteral("[Book1]Sheet1!R%1C%2").arg(activeRow_).arg(activeCol_);
}

const Cell* Sheet::cell(int row, int col) const
{
    const auto it = cells_.constFind(key(row, col));
    return it == cells_.constEnd() ? nullptr : &*it;
}

void Sheet::setCell(int row, int col, const Cell& cell)
{
    cells_.insert(key(row, col), cell);
    usedRows_ = std::max(usedRows_, row);
    usedCols_ = std::max(usedCols_, col);
    if (onCellChanged)
        onCellChanged(row, col);
}

QString Sheet::toCsv() const
{
    QString out;
    for (int r = 1; r <= usedRows_; ++r) {
        QStringList fields;
        for (int c = 1; c <= usedCols_; ++c) {
            const Cell* cl = cell(r, c);
            fields << (cl ? csvText(*cl) : QString());
        }
        out += fields.join(u',');
        out += u'\n';
    }
    return out;
}

bool Sheet::saveCsv(const QString& path, QString* error) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(toCsv().toUtf8()) < 0 || !f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

bool Sheet::save(const QString& path, QString* error) const
{
    if (path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        return saveXlsx(path, error);
    return saveCsv(path, error);
}
