#pragma once

#include "domainlist/domain_list_model.h"

#include <QAbstractTableModel>
#include <QStringMatcher>
#include <QTimer>

#include <array>
#include <string>
#include <vector>

namespace quernfold {

// The rows of the list as the window shows them: all of them in list order, or those of one kind or containing a
// text, in list order or sorted by a column. It is a view on the list and owns no row: the ID cell stays the
// row's place in the list. It keeps index vectors rather than one object per row (a million rows cost about 13 MB
// with a sort and a filter on), and while lookups write the list it moves the rows they touched four times a second,
// never per row, so a run pays for no resorting or repainting per row.
class ShownRowsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // What a row's lookup found, for the filter; Unfinished is any status other than "查询完毕".
    enum class Kind { All, Found, NoRecord, Deleted, Unfinished };
    static constexpr int KindCount = 5;
    // Rows that lookups changed are moved into place this often (and not more often than once per frame).
    static constexpr int kMoveIntervalMs = 250;

    explicit ShownRowsModel(DomainListModel &source, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    DomainListModel &source() const { return m_source; }
    // The list position of a shown row, and the shown row of a list position (-1 when it is not shown).
    int sourceRow(int shownRow) const;
    int shownRow(int sourceRow) const;
    // List positions in the order shown.
    std::vector<int> shownRows() const;

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
    // The counts of the kinds changed; sent as rows change, so a listener shows them at its own rate.
    void countsChanged();

private:
    bool isIdentity() const { return m_sortColumn < 0 && m_kind == Kind::All && m_findText.isEmpty(); }
    quint8 categoryOf(int sourceRow) const;
    bool isOfKind(quint8 category, Kind kind) const;
    bool matches(int sourceRow) const;
    bool keyLess(int a, int b) const;
    void countCategory(quint8 category, int delta);
    // Rebuilds the order and the shown rows; `keepRows` when the same rows stay shown, only reordered.
    void rebuild(bool keepRows);
    std::vector<int> filtered(const std::vector<int> &candidates) const;
    // Tells the views how the shown rows become `next`: rows added or removed at the end, the rest as a layout
    // change, so no view walks the list more than once.
    void showRows(std::vector<int> next);
    void rebuildPositions();
    void scheduleChanged(int first, int last);

    void onAboutToBeReset();
    void onReset();
    void onRowsAboutToBeInserted(const QModelIndex &parent, int first, int last);
    void onRowsInserted(const QModelIndex &parent, int first, int last);
    void onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last);
    void onRowsRemoved(const QModelIndex &parent, int first, int last);
    void onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles);

    DomainListModel &m_source;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    Kind m_kind = Kind::All;
    QString m_findText;
    // Prepared once per text: a million rows are searched per keystroke.
    QStringMatcher m_findMatcher;
    QString m_foldedText;
    bool m_findHasCase = false;

    // Every list position in sort order (empty in list order).
    std::vector<int> m_order;
    // The shown list positions, in the order shown (empty while everything is shown in list order).
    std::vector<int> m_shown;
    // List position to shown row, or -1 (empty while everything is shown in list order).
    std::vector<int> m_positionOf;
    // Per list position: bits 0-1 the record kind, bit 2 unfinished, bits 3-6 which searched texts have case.
    std::vector<quint8> m_category;
    std::array<int, KindCount> m_counts {};
    // List positions changed since the last frame, and a mark per position.
    std::vector<int> m_changed;
    std::vector<quint8> m_changedMark;
    QTimer m_frameTimer;
    // Everything shown in list order: no vectors at all.
    bool m_allInListOrder = true;
};

} // namespace quernfold
