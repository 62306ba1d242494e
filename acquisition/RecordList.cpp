#include "RecordList.h"

#include <QString>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

const char* const HeaderCaptions[RecordRows::ColumnCount] = {
    "Record Time", "ppt", "Comp_con", "UnComp_con", "Temp Value",
};

// Cell lengths are stored as base-128 varints: one byte for any text shorter
// than 128 bytes, which is every text a reading produces.
std::size_t varintSize(std::size_t value)
{
    std::size_t size = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++size;
    }
    return size;
}

char* putVarint(char* out, std::size_t value)
{
    while (value >= 0x80) {
        *out++ = char((value & 0x7f) | 0x80);
        value >>= 7;
    }
    *out++ = char(value);
    return out;
}

const char* getVarint(const char* in, std::size_t& value)
{
    value = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*in++);
        value |= std::size_t(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return in;
        shift += 7;
    }
}

Qt::Alignment columnAlignment(int column)
{
    return column == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::Alignment(Qt::AlignCenter);
}

} // namespace

RecordList::Block::Block(Block&& other) noexcept
    : bytes(std::exchange(other.bytes, nullptr))
    , capacity(std::exchange(other.capacity, 0))
    , used(std::exchange(other.used, 0))
{
}

RecordList::Block& RecordList::Block::operator=(Block&& other) noexcept
{
    if (this != &other) {
        std::free(bytes);
        bytes = std::exchange(other.bytes, nullptr);
        capacity = std::exchange(other.capacity, 0);
        used = std::exchange(other.used, 0);
    }
    return *this;
}

RecordList::Block::~Block()
{
    std::free(bytes);
}

RecordList::Block RecordList::allocateBlock(std::size_t capacity)
{
    Block block;
#if defined(__linux__)
    if (capacity == LargeBlockBytes) {
        block.bytes = static_cast<char*>(std::aligned_alloc(LargeBlockBytes, capacity));
        if (block.bytes)
            madvise(block.bytes, capacity, MADV_HUGEPAGE); // a hint; failure is harmless
    } else {
        block.bytes = static_cast<char*>(std::malloc(capacity));
    }
#else
    block.bytes = static_cast<char*>(std::malloc(capacity));
#endif
    if (!block.bytes)
        throw std::bad_alloc();
    block.capacity = std::uint32_t(capacity);
    return block;
}

RecordList::RecordList(QObject* parent)
    : QAbstractTableModel(parent)
{
}

RecordList::~RecordList() = default;

int RecordList::rowCount() const
{
    return rows_;
}

std::uint64_t RecordList::location(int row) const
{
    const auto r = std::size_t(row);
    return indexChunks_[r >> IndexChunkShift][r & (IndexChunkRows - 1)];
}

const char* RecordList::rowBytes(int row) const
{
    const std::uint64_t where = location(row);
    return blocks_[std::size_t(where >> 32)].bytes + std::size_t(where & 0xffffffffu);
}

QByteArray RecordList::cell(int row, int column) const
{
    if (row < 0 || row >= rows_ || column < 0 || column >= ColumnCount)
        return {};
    const char* p = rowBytes(row);
    std::size_t length = 0;
    for (int c = 0;; ++c) {
        p = getVarint(p, length);
        if (c == column)
            return QByteArray(p, qsizetype(length));
        p += length;
    }
}

int RecordList::appendRow(const QByteArray& caption, const std::array<QByteArray, 4>& subItems)
{
    if (rows_ == INT_MAX)
        return -1;
    const QByteArray* cells[ColumnCount] = {&caption, &subItems[0], &subItems[1], &subItems[2],
                                            &subItems[3]};
    std::size_t rowSize = 0;
    for (const QByteArray* c : cells)
        rowSize += varintSize(std::size_t(c->size())) + std::size_t(c->size());
    if (rowSize > UINT32_MAX)
        return -1;

    // A row never straddles two blocks; an outsized row gets a block of its own.
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < rowSize) {
        if (blocks_.size() > UINT32_MAX)
            return -1;
        const std::size_t standard =
            blocks_.size() < SmallBlockCount ? SmallBlockBytes : LargeBlockBytes;
        blocks_.push_back(allocateBlock(rowSize > standard ? rowSize : standard));
    }
    if (std::size_t(rows_) % IndexChunkRows == 0
        && indexChunks_.size() == std::size_t(rows_) / IndexChunkRows)
        indexChunks_.push_back(std::make_unique_for_overwrite<std::uint64_t[]>(IndexChunkRows));

    Block& block = blocks_.back();
    char* out = block.bytes + block.used;
    for (const QByteArray* c : cells) {
        out = putVarint(out, std::size_t(c->size()));
        if (!c->isEmpty())
            std::memcpy(out, c->constData(), std::size_t(c->size()));
        out += c->size();
    }
    const std::uint64_t where = (std::uint64_t(blocks_.size() - 1) << 32) | block.used;

    const int row = rows_;
    beginInsertRows(QModelIndex(), row, row);
    block.used += std::uint32_t(rowSize);
    indexChunks_[std::size_t(row) >> IndexChunkShift][std::size_t(row) & (IndexChunkRows - 1)] =
        where;
    ++rows_;
    endInsertRows();
    return row;
}

void RecordList::clear()
{
    beginResetModel();
    std::vector<Block>().swap(blocks_);
    std::vector<std::unique_ptr<std::uint64_t[]>>().swap(indexChunks_);
    rows_ = 0;
    endResetModel();
}

std::size_t RecordList::memoryBytes() const
{
    std::size_t bytes = blocks_.capacity() * sizeof(Block)
        + indexChunks_.capacity() * sizeof(indexChunks_[0])
        + indexChunks_.size() * IndexChunkRows * sizeof(std::uint64_t);
    for (const Block& b : blocks_)
        bytes += b.capacity;
    return bytes;
}

int RecordList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int RecordList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RecordList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= rows_
        || index.column() >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromLocal8Bit(cell(index.row(), index.column()));
    case Qt::TextAlignmentRole:
        return int(columnAlignment(index.column()));
    default:
        return {};
    }
}

QVariant RecordList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section < 0 || section >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromLatin1(HeaderCaptions[section]);
    case Qt::TextAlignmentRole:
        return int(columnAlignment(section));
    default:
        return {};
    }
}

Qt::ItemFlags RecordList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
