#include "SheetWindow.h"

#include "DdeServer.h"
#include "Sheet.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableView>

SheetModel::SheetModel(Sheet& sheet, QObject* parent) : QAbstractTableModel(parent), sheet_(sheet)
{
}

int SheetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : GridRows;
}

int SheetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : GridCols;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Cell* c = sheet_.cell(index.row() + 1, index.column() + 1);
    if (!c)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return c->value;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter | (c->isNumber() ? Qt::AlignRight : Qt::AlignLeft));
    return {};
}

QVariant SheetModel::headerData(int section, Qt::Orientation, int role) const
{
    if (role == Qt::DisplayRole)
        return section + 1; // R1C1 style: rows and columns both numbered
    return {};
}

void SheetModel::cellChanged(int row, int col)
{
    if (row > GridRows || col > GridCols)
        return;
    const QModelIndex i = index(row - 1, col - 1);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

SheetWindow::SheetWindow(Sheet& sheet, DdeServer& server)
    : sheet_(sheet), server_(server), model_(new SheetModel(sheet, this)), status_(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Excel - Book1"));
    auto* view = new QTableView(this);
    view->setModel(model_);
    view->horizontalHeader()->setDefaultSectionSize(90);
    view->verticalHeader()->setDefaultSectionSize(20);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    setCentralWidget(view);
    statusBar()->addWidget(status_, 1);
    resize(760, 480);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    if (Sheet::xlsxAvailable())
        file->addAction(QStringLiteral("Save As &Workbook (.xlsx)..."), this, [this] {
            saveAs(QStringLiteral("Excel workbook (*.xlsx)"), QStringLiteral(".xlsx"));
        });
    file->addAction(QStringLiteral("Save As &CSV (.csv)..."), this, [this] {
        saveAs(QStringLiteral("Comma-separated values (*.csv)"), QStringLiteral(".csv"));
    });
    file->addSeparator();
    file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);

    sheet_.onCellChanged = [this](int r, int c) { model_->cellChanged(r, c); };
    sheet_.onSelectionChanged = [this, view] {
        updateStatus();
        view->setCurrentIndex(model_->index(sheet_.activeRow() - 1, sheet_.activeCol() - 1));
    };
    connect(&server_, &DdeServer::stateChanged, this, &SheetWindow::updateStatus);
    updateStatus();
}

void SheetWindow::saveAs(const QString& filter, const QString& suffix)
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save As"),
                                                QStringLiteral("Book1") + suffix, filter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(suffix, Qt::CaseInsensitive))
        path += suffix;
    QString error;
    const bool ok = suffix == QLatin1String(".xlsx") ? sheet_.saveXlsx(path, &error)
                                                     : sheet_.saveCsv(path, &error);
    if (!ok)
        QMessageBox::warning(this, QStringLiteral("Excel"),
                             QStringLiteral("Cannot save %1: %2").arg(path, error));
}

void SheetWindow::updateStatus()
{
    status_->setText((server_.idle() ? QStringLiteral("Ready") : QStringLiteral("Busy"))
                     + QStringLiteral("    ") + sheet_.selection());
}
