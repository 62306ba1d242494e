#pragma once
// The record list's rows: one per acquisition tick, a caption (time of day)
// and four sub-item texts. A recording may run for weeks at one row a second,
// so the rows live in large byte blocks (each cell a length prefix and its
// bytes) with one location word per row, not in per-row objects; appending
// never moves what is already stored.
#include "RecordRows.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class RecordList : public QAbstractTableModel, public RecordRows {
    Q_OBJECT
public:
    explicit RecordList(QObject* parent = nullptr);
    ~RecordList() override;

    // RecordRows
    int rowCount() const override;
    QByteArray cell(int row, int column) const override;

    // Adds a row at the end and returns its index, or -1 when the list
    // cannot take another row.
    int appendRow(const QByteArray& caption, const std::array<QByteArray, 4>& subItems);
    // Removes every row and gives their memory back.
    void clear();
    // Bytes held for the rows (blocks and indexes), for measurements.
    std::size_t memoryBytes() const;

    // QAbstractItemModel. No default argument here, so that rowCount() with
    // no argument on a RecordList means the RecordRows one.
    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Row locations: block number in the high 32 bits, offset in the low 32.
    static constexpr int IndexChunkShift = 12;
    static constexpr std::size_t IndexChunkRows = std::size_t(1) << IndexChunkShift;
    // Small blocks while the list is short; once it holds a few megabytes,
    // large blocks that the system can back with huge pages, so a long
    // recording does not pay a page fault every few dozen rows.
    static constexpr std::size_t SmallBlockBytes = 64 * 1024;
    static constexpr std::size_t SmallBlockCount = 32;
    static constexpr std::size_t LargeBlockBytes = 2 * 1024 * 1024;

    struct Block {
        char* bytes = nullptr;
        std::uint32_t capacity = 0;
        std::uint32_t used = 0;

        Block() = default;
        Block(Block&& other) noexcept;
        Block& operator=(Block&& other) noexcept;
        ~Block();
    };
    static Block allocateBlock(std::size_t capacity);

    std::uint64_t location(int row) const;
    const char* rowBytes(int row) const;

    std::vector<Block> blocks_;
    std::vector<std::unique_ptr<std::uint64_t[]>> indexChunks_;
    int rows_ = 0;
};
