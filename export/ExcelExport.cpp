#include "ExcelExport.h"

#include "Dialogs.h"
#include "Excels.h"
#include "Fpross.h"
#include "ProgramStart.h"
#include "RecordRows.h"

#include <QProgressBar>
#include <QWidget>

namespace {

bool exportRunning = false;

// The hourglass for as long as the export runs, on every way out.
class WaitCursor {
public:
    explicit WaitCursor(QWidget* window) : window_(window) { window_->setCursor(Qt::WaitCursor); }
    ~WaitCursor() { window_->setCursor(Qt::ArrowCursor); }

private:
    QWidget* window_;
};

class RunningFlag {
public:
    RunningFlag() { exportRunning = true; }
    ~RunningFlag() { exportRunning = false; }
};

// The cells, from the title to the last record. Stops where the program
// begins to end.
void writeCells(QWidget* window, TExcel& excel, const RecordRows& rows,
                const std::function<void(const QString&)>& setStatus0)
{
    ProcessWindowGuard progress(window);
    setStatus0(QStringLiteral("Now export data ,Please wait....!"));

    excel.PutStrAt(1, 1, QStringLiteral("These data are import from Pemdat.exe (5926)"));
    excel.PutStrAt(2, 1, QStringLiteral("Time"));
    excel.PutStrAt(2, 2, QStringLiteral("ppt"));
    excel.PutStrAt(2, 3, QStringLiteral("Compensated Conductivity"));
    excel.PutStrAt(2, 4, QStringLiteral("UnCompensated Conductivity"));
    excel.PutStrAt(2, 5, QStringLiteral("Temp"));

    const int count = rows.rowCount();
    if (ProgramQuitting())
        return;
    if (count == 0) {
        ShowErrorBox(QStringLiteral("No data ,Can't Export"), window);
        return;
    }

    // Row numbers are 16 bits wide; a row past 65,535 would wrap onto the
    // title and earlier records, so the records that do not fit are left out
    // and the operator is told.
    const int exported = count < ExcelMaxRecords ? count : ExcelMaxRecords;
    QProgressBar* bar = progress.window()->ProgressBar1;
    bar->setMaximum(exported - 1);
    for (int i = 0; i < exported; ++i) {
        const quint16 r = quint16(i + 3);
        for (int column = 0; column < RecordRows::ColumnCount; ++column) {
            // A command run during a wait may have closed the main window,
            // or cleared the list.
            if (ProgramQuitting())
                return;
            if (i >= rows.rowCount())
                break;
            excel.PutStrAt(r, quint16(column + 1), QString::fromLocal8Bit(rows.cell(i, column)));
        }
        if (i >= rows.rowCount())
            break;
        bar->setValue(i);
    }
    if (ProgramQuitting())
        return;
    if (exported < count) {
        const int left = count - exported;
        const QString text = left == 1
            ? QStringLiteral("The worksheet holds %1 records; 1 record was not exported.")
                  .arg(exported)
            : QStringLiteral("The worksheet holds %1 records; %2 records were not exported.")
                  .arg(exported)
                  .arg(left);
        Dialogs::instance().message(window, QStringLiteral("Warning"), text, Dialogs::Icon::Warning,
                                    Dialogs::Buttons::Ok);
    }
    setStatus0(QStringLiteral("Export Complete"));
}

} // namespace

void ExportToExcel(QWidget* window, TExcel& excel, const RecordRows& rows,
                   const std::function<void(const QString&)>& setStatus0)
{
    // The spreadsheet's waits let other commands run; a second export then
    // would interleave its cells with this one's.
    if (exportRunning)
        return;
    RunningFlag running;
    WaitCursor hourglass(window);

    setStatus0(QStringLiteral("Now starting Excel,Please wait...!"));
    bool connected = false;
    try {
        excel.Connect();
        connected = excel.Connected();
    } catch (const ExcelError&) {
        connected = false;
    }
    // Closing the main window during the connect drops the export.
    if (ProgramQuitting())
        return;
    if (!connected) {
        setStatus0(QStringLiteral("Sorry ,Can't Find Excel Program,Procedure abort!"));
        return;
    }

    try {
        writeCells(window, excel, rows, setStatus0);
    } catch (const ExcelError&) {
        // A hand-over that failed because the program is ending is no error
        // to report: the export is dropped, and no box holds up the end.
        if (ProgramQuitting())
            return;
        throw;
    }
}
