#pragma once
// The spreadsheet's window: the sheet as a grid, and a File menu to save it.
#include <QAbstractTableModel>
#include <QMainWindow>

#include "Sheet.h"

class DdeServer;
class QLabel;

class SheetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int GridRows = Sheet::MaxRow;
    static constexpr int GridCols = Sheet::MaxCol;

    explicit SheetModel(Sheet& sheet, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void cellChanged(int row, int col);

private:
    Sheet& sheet_;
};

class SheetWindow : public QMainWindow {
    Q_OBJECT
public:
    SheetWindow(Sheet& sheet, DdeServer& server);

    void saveAs(const QString& filter, const QString& suffix);

private:
    void updateStatus();

    Sheet& sheet_;
    DdeServer& server_;
    SheetModel* model_;
    QLabel* status_;
};
