#include "Sheet.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <xlsxwriter.h>
#include <algorithm>

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

QString csvField(const QString& v)
{
    if (!v.contains(u',') && !v.contains(u'"') && !v.contains(u'\n') && !v.contains(u'\r'))
        return v;
    QString q = v;
    q.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

} // namespace

bool Sheet::execute(const QString& command)
{
    static const QRegularExpression call(QStringLiteral(R"(^\s*\[\s*(\w+)\s*\((.*)\)\s*\]\s*$)"),
                                         QRegularExpression::DotMatchesEverythingOption);
    const auto m = call.match(command);
    if (!m.hasMatch())
        return false;
    const QString name = m.captured(1).toUpper();
    const QString args = m.captured(2).trimmed();
    if (name == QLatin1String("FORMULA"))
        return formula(args);
    if (name == QLatin1String("SELECT"))
        return select(args);
    if (name == QLatin1String("ERROR")) {
        bool ok = false;
        const int n = args.toInt(&ok);
        if (!ok)
            return false;
        checkErrors_ = n != 0;
        return true;
    }
    if (name == QLatin1String("QUIT") && args.isEmpty()) {
        if (onQuit)
            onQuit();
        return true;
    }
    return false;
}

bool Sheet::formula(const QString& args)
{
    // The address, when there is one, is the last argument; the value may
    // itself hold commas (a decimal comma, a text).
    static const QRegularExpression at(QStringLiteral(R"re(^(.*),\s*"R(\d+)C(\d+)"$)re"),
                                       QRegularExpression::DotMatchesEverythingOption);
    // A quoted last argument that is no R1C1 address ("R1C", "A1") is a
    // malformed reference, not part of the value.
    static const QRegularExpression anyAt(QStringLiteral(R"re(,\s*"[^"]*"$)re"));
    QString value = args;
    int row = activeRow_;
    int col = activeCol_;
    if (const auto m = at.match(args); m.hasMatch()) {
        value = m.captured(1).trimmed();
        bool okR = false;
        bool okC = false;
        row = m.captured(2).toInt(&okR);
        col = m.captured(3).toInt(&okC);
        if (!okR || !okC || row < 1 || col < 1 || row > MaxRow || col > MaxCol)
            return false;
    } else if (anyAt.match(args).hasMatch()) {
        return false;
    }
    Cell c;
    c.text = unquote(value, &c.value);
    if (!c.text)
        c.value = value;
    setCell(row, col, c);
    return true;
}

bool Sheet::select(const QString& args)
{
    QString ref;
    if (!unquote(args, &ref))
        return false;
    static const QRegularExpression rc(
        QStringLiteral(R"(^R(?:\[(-?\d+)\]|(\d+))?C(?:\[(-?\d+)\]|(\d+))?$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = rc.match(ref.trimmed());
    if (!m.hasMatch())
        return false;
    int row = activeRow_;
    int col = activeCol_;
    if (m.hasCaptured(1))
        row += m.captured(1).toInt();
    else if (m.hasCaptured(2))
        row = m.captured(2).toInt();
    if (m.hasCaptured(3))
        col += m.captured(3).toInt();
    else if (m.hasCaptured(4))
        col = m.captured(4).toInt();
    if (row < 1 || col < 1 || row > MaxRow || col > MaxCol)
        return false;
    activeRow_ = row;
    activeCol_ = col;
    if (onSelectionChanged)
        onSelectionChanged();
    return true;
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
            fields << (cl ? csvField(cl->value) : QString());
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

bool Sheet::saveXlsx(const QString& path, QString* error) const
{
    lxw_workbook* wb = workbook_new(QFile::encodeName(path).constData());
    if (!wb) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(path);
        return false;
    }
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Sheet1");
    QList<quint64> keys = cells_.keys();
    std::sort(keys.begin(), keys.end());
    for (quint64 k : keys) {
        const Cell& cl = cells_[k];
        const lxw_row_t r = lxw_row_t((k >> 32) - 1);
        const lxw_col_t c = lxw_col_t((k & 0xffffffffu) - 1);
        const QByteArray utf8 = cl.value.toUtf8();
        bool isNumber = false;
        const double number = cl.value.trimmed().toDouble(&isNumber);
        if (cl.text)
            worksheet_write_string(ws, r, c, utf8.constData(), nullptr);
        else if (cl.value.startsWith(u'='))
            worksheet_write_formula(ws, r, c, utf8.constData(), nullptr);
        else if (isNumber)
            worksheet_write_number(ws, r, c, number, nullptr);
        else
            worksheet_write_string(ws, r, c, utf8.constData(), nullptr);
    }
    const lxw_error rc = workbook_close(wb);
    if (rc != LXW_NO_ERROR) {
        if (error)
            *error = QString::fromUtf8(lxw_strerror(rc));
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
