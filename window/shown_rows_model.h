#pragma once

#include "domainlist/domain_list_model.h"

#include <QAbstractTableModel>
#include <QStringMatcher>
#include <QTimer>

#include <string>
#include <vector>

namespace quernfold {

// The rows of the list as the window shows them: exactly the list's rows of the chosen kind that contain the find
// text, in list order or sorted by a column (ties in list order). It is a view on the list and owns no row: the ID
// cell stays the row's place in the list. It holds the shown rows' keys, never positions, so no change of the
// list can leave it pointing at the wrong row; a position is asked of the list when a cell is read.
//
// Every change is told to views as rows removed, rows inserted, and a layout change only where the same rows are
// reordered. While lookups write the list it moves the rows they touched four times a second, never per row.
class ShownRowsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum class Kind { All, Found, NoRecord, Deleted, Unfinished, Changed };
    static constexpr int KindCount = 6;
    // Rows that lookups changed are moved into place this often.
    static constexpr int kMoveIntervalMs = 250;

    explicit ShownRowsModel(DomainListModel &source, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    DomainListModel &source() const { return m_source; }
    // The key of a shown row (RowKey::None out of range), and the shown row of a key (-1 when it is not shown).
    RowKey keyAt(int shownRow) const;
    int shownRowOf(RowKey key) const;
    // The list position of a shown row, or -1.
    int sourceRow(int shownRow) const;
    // The shown rows' keys in the order shown, with the changes lookups made so far in place.
    std::vector<RowKey> shownKeys();

    // Sorts by a record column; the ID column (or -1) goes back to list order.
    void sortBy(int column, Qt::SortOrder order);
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    void setKind(Kind kind);
    Kind kind() const { return m_kind; }
    // Shows only rows whose domain, record number, holder or site name contains `text` (any case).
    void setFindText(const QString &text);
    QString findText() const { return m_findText; }
    // Rows of the whole list of this kind.
    int count(Kind kind) const;

    // Moves the rows the list changed since the last frame now, instead of at the frame.
    void applyPendingChanges();

signals:
    // The counts of the kinds may have changed; sent at most once a frame, so a listener shows them at that rate.
    void countsChanged();

private:
    class KeyMarks;

    bool wantsIdentity() const { return m_sortColumn < 0 && m_kind == Kind::All && m_findText.isEmpty(); }
    // readRecord, when given, is set when the row's record had to be searched.
    bool matches(int position, bool *readRecord = nullptr) const;
    // Asks for the memory matches() reads of a row ahead of the search.
    void prefetchCells(int position) const;
    void prefetchTexts(int position) const;
    // Which positions of the list pass the kind and the find text, a byte each (the list read in its own order);
    // with `among`, only rows with those keys are searched.
    std::vector<quint8> matchingPositions(const KeyMarks *among = nullptr) const;
    std::vector<RowKey> allKeys() const;
    // Every key of the list in the current sort order (list order when unsorted).
    std::vector<RowKey> sortedKeys() const;
    // The keys of `candidates` that pass the kind and the find text, in their order.
    std::vector<RowKey> filtered(const std::vector<RowKey> &candidates) const;
    // Where the rows with these keys go in `base` (which holds none of them) under the current order; returns the
    // merge. onlyMatching leaves out those that do not pass the filter.
    std::vector<RowKey> placed(const std::vector<RowKey> &base, std::vector<RowKey> entering, bool onlyMatching) const;
    bool placedBefore(RowKey a, RowKey b) const;
    // The bytes the row sorts by in the sorted column.
    void appendSortKey(int position, std::string &key) const;

    // Tells views how the shown rows become `next`: the rows that leave are removed, those that come are inserted,
    // and only a reorder of the same rows is a layout change.
    void moveTo(std::vector<RowKey> next);
    // A layout change to `order`, which holds exactly the shown rows.
    void reorderTo(std::vector<RowKey> order);
    void leaveIdentity();
    void enterIdentityIfDue();
    void forget(const std::vector<RowKey> &goneKeys);
    void refilter(bool narrowing);
    // The shown rows under the current sort, kind and find text; narrowing: a subset of those shown now.
    std::vector<RowKey> nextShown(bool narrowing) const;

    void onAboutToBeReset();
    void onReset();
    void onRowsAboutToBeInserted(int first, int last);
    void onRowsInserted(int first, int last);
    void onRowsAboutToBeRemoved(int first, int last);
    void onRowsRemoved(int first, int last);
    void onRowsAboutToBeDropped(const std::vector<RowKey> &keys);
    void onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles);
    void scheduleFrame();

    DomainListModel &m_source;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    Kind m_kind = Kind::All;
    QString m_findText;
    // Prepared once per text: a million rows are searched per keystroke.
    QStringMatcher m_findMatcher;
    QString m_foldedText;
    bool m_findHasCase = false;

    // Everything shown in list order: the list's own rows and signals, no vectors at all.
    bool m_identity = true;
    // The shown keys in the order shown (empty in identity).
    std::vector<RowKey> m_shown;
    // Every key of the list in sort order, while sorted: a new filter needs no new sort.
    std::vector<RowKey> m_order;
    // Keys whose cells changed since the last frame.
    std::vector<RowKey> m_changed;
    QTimer m_frameTimer;
};

} // namespace quernfold
