#pragma once
// The stand-in's own worksheet, kept in memory and shown by its grid window.
#include "SheetSink.h"
#include "TypedInput.h"

#include <QHash>
#include <QString>
#include <functional>

struct Cell {
    QString value;     // as entered (a text constant without its quotes)
    bool text = false; // a text cell; otherwise a number, a time or a formula
    // What a number or a time came to; Text for text and formulas.
    typed::Entry entry;

    bool isNumber() const { return entry.kind != typed::Entry::Kind::Text; }
};

class Sheet final : public SheetSink {
public:
    static constexpr int MaxRow = macro::MaxRow;
    static constexpr int MaxCol = macro::MaxCol;

    // `region`: how the quoted constants of FORMULA are read, as a user's
    // typing is (the region the stand-in runs in).
    explicit Sheet(typed::Region region = {}) : region_(std::move(region)) {}

    // Carries out one execute string ("[FORMULA(...)]", "[SELECT(...)]",
    // "[ERROR(n)]", "[QUIT()]"). False when it is not understood or cannot
    // be carried out; the sheet is unchanged then.
    bool execute(const QString& command);
    bool carryOut(const macro::Command& command);

    // SheetSink: everything is carried out at once.
    void submit(const macro::Command& command, const QString& source) override;
    bool idle() const override { return true; }
    void query(const QString& item, std::function<void(std::optional<QString>)> reply) override;
    void afterAll(std::function<void()> done) override { done(); }

    // The active cell as the "Selection" item gives it.
    QString selection() const;
    int activeRow() const { return activeRow_; }
    int activeCol() const { return activeCol_; }
    bool checkErrors() const { return checkErrors_; }

    const Cell* cell(int row, int col) const;
    void setCell(int row, int col, const Cell& cell);
    int usedRows() const { return usedRows_; }
    int usedCols() const { return usedCols_; }
    qsizetype cellCount() const { return cells_.size(); }

    // The used range as comma-separated text, one line per row. Numbers are
    // written as numbers ("35.2", whatever the region), times as
    // "hh:mm:ss", so that a reader of the file takes them as such.
    QString toCsv() const;
    bool saveCsv(const QString& path, QString* error = nullptr) const;
    bool saveXlsx(const QString& path, QString* error = nullptr) const;
    // Whether this build can write workbooks at all.
    static bool xlsxAvailable();
    // By the file's extension: ".xlsx" or anything else as CSV.
    bool save(const QString& path, QString* error = nullptr) const;

    std::function<void(int row, int col)> onCellChanged;
    std::function<void()> onSelectionChanged;

private:
    static quint64 key(int row, int col) { return (quint64(quint32(row)) << 32) | quint32(col); }
    QString cellItem(const QString& ref) const;
    Cell entered(const macro::Command& command) const;

    typed::Region region_;
    QHash<quint64, Cell> cells_;
    int usedRows_ = 0;
    int usedCols_ = 0;
    int activeRow_ = 1;
    int activeCol_ = 1;
    bool checkErrors_ = true;
};
