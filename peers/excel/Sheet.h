#pragma once
// One worksheet and the macro commands that change it.
#include <QHash>
#include <QString>
#include <functional>

struct Cell {
    QString value;
    bool text = false; // a text constant; otherwise the value as given
};

class Sheet {
public:
    // The grid a 1997 workbook offers; nothing is written or selected
    // outside it.
    static constexpr int MaxRow = 65536;
    static constexpr int MaxCol = 256;

    // Carries out one execute string ("[FORMULA(...)]", "[SELECT(...)]",
    // "[ERROR(n)]", "[QUIT()]"). False when it is not understood or cannot
    // be carried out; the sheet is unchanged then.
    bool execute(const QString& command);

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

    // The used range as comma-separated text, one line per row.
    QString toCsv() const;
    bool saveCsv(const QString& path, QString* error = nullptr) const;
    bool saveXlsx(const QString& path, QString* error = nullptr) const;
    // By the file's extension: ".xlsx" or anything else as CSV.
    bool save(const QString& path, QString* error = nullptr) const;

    std::function<void(int row, int col)> onCellChanged;
    std::function<void()> onSelectionChanged;
    std::function<void()> onQuit;

private:
    static quint64 key(int row, int col) { return (quint64(quint32(row)) << 32) | quint32(col); }
    bool formula(const QString& args);
    bool select(const QString& args);

    QHash<quint64, Cell> cells_;
    int usedRows_ = 0;
    int usedCols_ = 0;
    int activeRow_ = 1;
    int activeCol_ = 1;
    bool checkErrors_ = true;
};
