#include "window/store_mirror.h"

#include "store/results_store.h"

#include <algorithm>

namespace quernfold {

namespace {
// Well inside the second within which a change must be in the file.
constexpr int kBurstMs = 250;
constexpr size_t kLeastDirtyToFold = 4096;
} // namespace

StoreMirror::StoreMirror(const DomainListModel &model, ResultsStore &store, QObject *parent, int sliceRows)
    : QObject(parent)
    , m_model(model)
    , m_store(store)
    , m_sliceRows(qMax(1, sliceRows))
    , m_handedUpTo(model.count() > 0 ? model.keyAt(model.count() - 1) : RowKey::None)
{
    m_burst.setSingleShot(true);
    m_burst.setInterval(kBurstMs);
    connect(&m_burst, &QTimer::timeout, this, [this] { writeDirtyRows(); });
    connect(&model, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex &, int first, int last) { rowsInserted(first, last); });
    connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex &, int first, int last) { rowsAboutToBeRemoved(first, last); });
    connect(&model, &DomainListModel::rowsAboutToBeDropped, this, &StoreMirror::rowsAboutToBeDropped);
    connect(&model, &QAbstractItemModel::modelReset, this, &StoreMirror::modelReset);
    connect(&model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
            dataChanged(topLeft.row(), bottomRight.row(), bottomRight.column());
        });
    // A change the store never hears of (the IDs below a removal, rows that leave before they were handed over)
    // brings no saved() from it; whoever waits for the list to be in the file must still hear that it is.
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &StoreMirror::sayIfCaughtUp);
    connect(&model, &QAbstractItemModel::modelReset, this, &StoreMirror::sayIfCaughtUp);
    connect(&model, &QAbstractItemModel::dataChanged, this, &StoreMirror::sayIfCaughtUp);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &StoreMirror::sayIfCaughtUp);
    connect(&store, &ResultsStore::saved, this, &StoreMirror::storeSaved);
    connect(&store, &ResultsStore::savingResumed, this, [this] { writeDirtyRows(); });
}

StoreMirror::~StoreMirror()
{
    // Closing the window must not lose the end of a long import, nor the last results.
    writeDirtyRows(true);
    handAll();
}

int StoreMirror::firstPendingPosition() const
{
    const int count = m_model.count();
    if (count == 0 || m_model.keyAt(count - 1) <= m_handedUpTo)
        return count;
    int low = 0;
    int high = count - 1;
    // Keys rise down the list: the first key above the last handed one.
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (m_model.keyAt(middle) <= m_handedUpTo)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

int StoreMirror::pendingRows() const
{
    return m_model.count() - firstPendingPosition();
}

bool StoreMirror::isCaughtUp() const
{
    return pendingRows() == 0 && m_dirty.empty() && m_store.isSaved();
}

std::vector<DomainRow> StoreMirror::rowsWithCells(int from, int to) const
{
    std::vector<DomainRow> rows;
    rows.reserve(size_t(to - from));
    for (int position = from; position < to; ++position) {
        const DomainRow &row = m_model.row(position);
        // A row of our own CSV read back, or one an undo brings back, takes its cells along.
        rows.push_back(
            DomainRow { row.domain, row.lookup ? std::make_unique<LookupCells>(*row.lookup) : nullptr, row.key });
    }
    return rows;
}

void StoreMirror::rowsInserted(int first, int last)
{
    // Rows put back between rows the store holds (an undo) go at once; new rows at the end wait for their slice.
    int backTo = first;
    while (backTo <= last && m_model.keyAt(backTo) <= m_handedUpTo)
        ++backTo;
    if (backTo > first && m_store.savesList())
        m_store.addRows(rowsWithCells(first, backTo));
    handNextSlice();
}

void StoreMirror::rowsAboutToBeRemoved(int first, int last)
{
    std::vector<RowKey> keys;
    for (int position = first; position <= last && m_model.keyAt(position) <= m_handedUpTo; ++position)
        keys.push_back(m_model.keyAt(position));
    if (!keys.empty())
        m_store.removeRows(std::move(keys));
}

void StoreMirror::rowsAboutToBeDropped(const std::vector<RowKey> &keys)
{
    // Rows not handed over yet simply never go.
    const auto handedEnd = std::upper_bound(keys.begin(), keys.end(), m_handedUpTo);
    if (handedEnd != keys.begin())
        m_store.removeRows({ keys.begin(), handedEnd });
    // The reset that follows is this removal; the store has it already.
    m_dropped = true;
}

void StoreMirror::modelReset()
{
    if (std::exchange(m_dropped, false))
        return;
    // The rows they name are gone or go over anew with their cells.
    m_dirty.clear();
    m_dirtyFolded = 0;
    m_burst.stop();
    m_handedUpTo = RowKey::None;
    m_replace = true;
    m_waitingForStore = false;
    // An emptied list has no slice to carry the news.
    if (m_model.count() == 0) {
        m_replace = false;
        m_store.replaceList({});
        return;
    }
    handNextSlice();
}

void StoreMirror::dataChanged(int first, int last, int lastColumn)
{
    // The IDs below a removed row change with it, but the store names rows by key, not ID. Rows not handed over yet
    // take their cells with them when they go.
    if (lastColumn < DomainListModel::RecordNoColumn)
        return;
    for (int position = first; position <= last && m_model.keyAt(position) <= m_handedUpTo; ++position)
        m_dirty.push_back(m_model.keyAt(position));
    if (m_dirty.size() >= std::max(kLeastDirtyToFold, 2 * m_dirtyFolded)) {
        std::sort(m_dirty.begin(), m_dirty.end());
        m_dirty.erase(std::unique(m_dirty.begin(), m_dirty.end()), m_dirty.end());
        m_dirtyFolded = m_dirty.size();
    }
    if (!m_dirty.empty() && !m_burst.isActive() && !m_store.isSavingDelayed())
        m_burst.start();
}

void StoreMirror::writeDirtyRows(bool force)
{
    m_burst.stop();
    if (m_dirty.empty() || (!force && m_store.isSavingDelayed()))
        return;
    // A row a run starts and finishes within one burst changed twice; it is written once, as it stands now.
    std::vector<RowKey> keys = std::exchange(m_dirty, {});
    m_dirtyFolded = 0;
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (const RowKey key : keys) {
        const DomainRow *row = m_model.find(key);
        if (row && row->lookup && key <= m_handedUpTo)
            m_store.writeCells(key, *row->lookup);
    }
    // Rows that left meanwhile, or a mark the file does not keep (a row a stop never reached), wrote nothing.
    sayIfCaughtUp();
}

void StoreMirror::sayIfCaughtUp()
{
    if (m_sayPending || !isCaughtUp())
        return;
    m_sayPending = true;
    QTimer::singleShot(0, this, [this] {
        m_sayPending = false;
        if (isCaughtUp())
            emit caughtUp();
    });
}

void StoreMirror::storeSaved()
{
    m_waitingForStore = false;
    if (pendingRows() > 0)
        handNextSlice();
    else if (m_dirty.empty())
        emit caughtUp();
}

void StoreMirror::handNextSlice()
{
    if (m_waitingForStore || pendingRows() <= 0)
        return;
    const bool more = pendingRows() > m_sliceRows;
    handRows(qMin(pendingRows(), m_sliceRows));
    // The next slice waits for the store to write this one; a store that saves no list never answers.
    m_waitingForStore = more && m_store.savesList();
    if (more && !m_waitingForStore)
        handAll();
}

void StoreMirror::handAll()
{
    while (pendingRows() > 0)
        handRows(qMin(pendingRows(), m_sliceRows));
    m_waitingForStore = false;
}

void StoreMirror::handRows(int count)
{
    const int first = firstPendingPosition();
    const int end = first + count;
    const RowKey last = m_model.keyAt(end - 1);
    // A store that keeps no list would only drop the copy.
    if (m_store.savesList()) {
        if (std::exchange(m_replace, false))
            m_store.replaceList(rowsWithCells(first, end));
        else
            m_store.addRows(rowsWithCells(first, end));
    }
    m_handedUpTo = last;
}

} // namespace quernfold
