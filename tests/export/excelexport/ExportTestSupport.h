#pragma once
// Helpers for the Excel export tests: the stand-in spreadsheet as a child
// process, a conversation that records commands without a socket, record
// rows that can be generated, changed or watched while the export reads
// them, and a program starter that records and refuses every start.
#include "DdeClientConv.h"
#include "Handles.h"
#include "ProgramStart.h"
#include "RecordRows.h"
#include "StandIn.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A handle of the system's null device, for a meter that needs no port.
THandle openNullHandle();

// A region with "." as the decimal separator and a 24-hour "HH:mm:ss" clock,
// so the texts an export sends are known in advance.
void fixPlainRegion();

// Top-level export progress windows that still exist (a window that is
// unhooked from `process` but not destroyed counts too).
int liveProgressWindows();

// A conversation that is always open when asked, always "Ready", and hands
// every command to `onExecute` (and keeps it unless `keepCommands` is off).
class RecordingConv : public TDdeClientConv {
public:
    bool SetLink(const QString& service, const QString& topic) override;
    bool OpenLink() override;
    void CloseLink() override;
    bool ExecuteMacro(const QString& command, bool waitFlag) override;
    std::optional<QByteArray> RequestData(const QString& item) override;

    bool open = false;
    bool keepCommands = true;
    QStringList commands;
    int openCount = 0;
    std::function<void(const QString&)> onExecute;
};

// Rows "r<i>c<column>", as many as `count` says at the moment of asking.
// A cell asked for outside the rows is counted, not answered with data.
class GeneratedRows : public RecordRows {
public:
    explicit GeneratedRows(int n) : count(n) {}
    int rowCount() const override { return count; }
    QByteArray cell(int row, int column) const override;

    int count;
    mutable int outOfRange = 0;
    mutable int cellReads = 0;
    // Called before each cell is answered.
    std::function<void(int row, int column)> onCell;
};

// Passes another RecordRows through, calling `onCell` before each cell.
class WatchedRows : public RecordRows {
public:
    explicit WatchedRows(const RecordRows& rows) : rows_(rows) {}
    int rowCount() const override { return rows_.rowCount(); }
    QByteArray cell(int row, int column) const override;

    std::function<void(int row, int column)> onCell;

private:
    const RecordRows& rows_;
};

// Records every start and refuses it.
class RefusingStarter : public ProgramStarter {
public:
    RefusingStarter();
    ~RefusingStarter() override;
    bool start(const QString& program, const QStringList& arguments, Show show) override;

    QStringList started;
    // Called at each start (checks made while a start is attempted).
    std::function<void()> onStart;
};

// The cell commands of one export row: columns 1 to 5 of worksheet row `r`.
QStringList formulaCommands(int r, const QList<QByteArray>& texts);
// The six commands of the title and the header.
QStringList titleAndHeaderCommands();
// Only the FORMULA commands of `commands`.
QStringList formulasOf(const QStringList& commands);
