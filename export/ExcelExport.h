#pragma once
// The Excel export: the record list into the spreadsheet's active worksheet,
// cell by cell, under a title line and a header row.
#include <QString>
#include <functional>

class QWidget;
class RecordRows;
class TExcel;

// The last worksheet row a 16-bit row number can address; the rows start at
// row 3, so this many records fit.
inline constexpr int ExcelMaxRecords = 65535 - 2;

// Runs the export. `window` shows the hourglass while it runs; `setStatus0`
// writes the status bar's message panel. An ExcelError raised while cells are
// written ends the export (progress window gone, pointer reset) and
// propagates to the caller's general error report. A call made while an
// export is running (from a handler run during one of its waits) does
// nothing.
void ExportToExcel(QWidget* window, TExcel& excel, const RecordRows& rows,
                   const std::function<void(const QString&)>& setStatus0);
