// Workbooks through libxlsxwriter.
#include "Sheet.h"

#include <QFile>
#include <xlsxwriter.h>
#include <algorithm>

bool Sheet::xlsxAvailable()
{
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
    // A time is a number in a time format, as in the workbook of a user who
    // typed it.
    const auto timeFormat = [wb](const char* pattern) {
        lxw_format* f = workbook_add_format(wb);
        format_set_num_format(f, pattern);
        return f;
    };
    lxw_format* const clock = timeFormat("hh:mm:ss");
    lxw_format* const clock12 = timeFormat("h:mm:ss AM/PM");
    lxw_format* const elapsed = timeFormat("[h]:mm:ss");
    lxw_format* const hundredths = timeFormat("[h]:mm:ss.00");
    QList<quint64> keys = cells_.keys();
    std::sort(keys.begin(), keys.end());
    for (quint64 k : keys) {
        const Cell& cl = cells_[k];
        const lxw_row_t r = lxw_row_t((k >> 32) - 1);
        const lxw_col_t c = lxw_col_t((k & 0xffffffffu) - 1);
        const QByteArray utf8 = cl.value.toUtf8();
        const typed::Entry& e = cl.entry;
        if (e.kind == typed::Entry::Kind::Time)
            worksheet_write_number(ws, r, c, e.value,
                                   e.hundredths ? hundredths
                                   : e.elapsed  ? elapsed
                                   : e.twelveHour ? clock12
                                                  : clock);
        else if (e.kind == typed::Entry::Kind::Number)
            worksheet_write_number(ws, r, c, e.value, nullptr);
        else if (!cl.text && cl.value.startsWith(u'='))
            worksheet_write_formula(ws, r, c, utf8.constData(), nullptr);
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
