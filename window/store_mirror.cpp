#include "window/store_mirror.h"

#include "domainlist/domain_list_model.h"
#include "store/results_store.h"

#include <algorithm>

namespace quernfold {

namespace {
// About 50 ms of the store's writing, and 1.2 MB of names in flight.
constexpr int kSliceRows = 50000;
// Well inside the second within which a change must be in the file.
constexpr int kBurstMs = 250;
} // namespace

StoreMirror::StoreMirror(const DomainListModel &model, ResultsStore &store, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_store(store)
    , m_handed(model.count())
{
    m_burst.setSingleShot(true);
    m_burst.setInterval(kBurstMs);
    connect(&m_burst, &QTimer::timeout, this, &StoreMirror::writeDirtyRows);
    connect(&model, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex &, int first, int last) { rowsInserted(first, last); });
    connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex &, int first, int last) { rowsAboutToBeRemoved(first, last); });
    connect(&model, &QAbstractItemModel::modelReset, this, [this] { modelReset(); });
    connect(&model, &DomainListModel::rowsAboutToBeDropped, this, [this](const std::vector<RowKey> &keys) {
        writeDirtyRows();
        handAll();
        std::vector<int> rows;
        rows.reserve(keys.size());
        for (const RowKey key : keys)
            rows.push_back(m_model.positionOf(key));
        m_store.removeRows(rows);
        m_handed -= int(rows.size());
        // The reset that follows is this removal; the store has it already.
        m_dropped = true;
    });
    connect(&model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
            dataChanged(topLeft.row(), bottomRight.row(), bottomRight.column());
        });
    connect(&store, &ResultsStore::saved, this, [this] {
        m_waitingForStore = false;
        if (pendingRows() > 0)
            handNextSlice();
        else if (m_dirty.empty())
            emit caughtUp();
    });
}

StoreMirror::~StoreMirror()
{
    // Closing the window must not lose the end of a long import, nor the last results.
    writeDirtyRows();
    handAll();
}

int StoreMirror::pendingRows() const
{
    return m_model.count() - m_handed;
}

void StoreMirror::rowsInserted(int first, int last)
{
    writeDirtyRows();
    if (first < m_handed) {
        // Rows only ever go in at the end; should that change, the whole list is still saved right.
        m_handed = 0;
        m_replace = true;
    }
    Q_UNUSED(last);
    handNextSlice();
}

void StoreMirror::rowsAboutToBeRemoved(int first, int last)
{
    // Positions mean the same to both sides only once everything before them is over.
    writeDirtyRows();
    handAll();
    std::vector<int> positions;
    positions.reserve(size_t(last - first + 1));
    for (int row = first; row <= last; ++row)
        positions.push_back(row);
    m_store.removeRows(std::move(positions));
    m_handed -= last - first + 1;
}

void StoreMirror::modelReset()
{
    if (std::exchange(m_dropped, false))
        return;
    // The rows they name are gone; the new list goes over with its cells.
    m_dirty.clear();
    m_burst.stop();
    m_handed = 0;
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
    // The IDs below a removed row change with it, but the store keeps positions, not IDs. Rows not handed over yet
    // take their cells with them when they go.
    if (lastColumn < DomainListModel::RecordNoColumn)
        return;
    for (int row = first; row <= last && row < m_handed; ++row)
        m_dirty.push_back(row);
    if (!m_dirty.empty() && !m_burst.isActive())
        m_burst.start();
}

void StoreMirror::writeDirtyRows()
{
    m_burst.stop();
    // A row a run starts and finishes within one burst changed twice; it is written once, as it stands now.
    std::vector<int> rows = std::exchange(m_dirty, {});
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (row >= m_handed)
            continue;
        if (const LookupCells *cells = m_model.row(row).lookup.get())
            m_store.writeCells(row, *cells);
    }
}

void StoreMirror::handNextSlice()
{
    if (m_waitingForStore || pendingRows() <= 0)
        return;
    const bool more = pendingRows() > kSliceRows;
    handRows(qMin(pendingRows(), kSliceRows));
    // The next slice waits for the store to write this one; a store that saves no list never answers.
    m_waitingForStore = more && m_store.savesList();
    if (more && !m_waitingForStore)
        handAll();
}

void StoreMirror::handAll()
{
    while (pendingRows() > 0)
        handRows(qMin(pendingRows(), kSliceRows));
    m_waitingForStore = false;
}

void StoreMirror::handRows(int count)
{
    // A store that keeps no list would only drop the copy.
    if (!m_store.savesList()) {
        m_handed += count;
        return;
    }
    QStringList domains;
    domains.reserve(count);
    for (int row = m_handed; row < m_handed + count; ++row)
        domains << m_model.row(row).domain;
    if (std::exchange(m_replace, false))
        m_store.replaceList(std::move(domains));
    else
        m_store.appendRows(std::move(domains));
    const int first = m_handed;
    m_handed += count;
    // The slice's rows that came with cells (a list of our own read back) take them along at once.
    for (int row = first; row < m_handed; ++row) {
        if (const LookupCells *cells = m_model.row(row).lookup.get())
            m_store.writeCells(row, *cells);
    }
}

} // namespace quernfold
