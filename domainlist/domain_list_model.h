#pragma once

#include "domainlist/filing_change.h"
#include "domainlist/filing_record.h"

#include <QAbstractTableModel>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace quernfold {

// A row's name from the moment it enters the list until it leaves it: the shown rows, the store, a lookup run and
// the selection all refer to a row by its key, and a position is derived from it where one is needed. Keys are
// handed out in increasing order and never again, so the list's order is the order of its keys. A type of its
// own, so that a key and a position can never be mixed up.
enum class RowKey : qint64 { None = 0 };

inline qint64 keyValue(RowKey key)
{
    return qint64(key);
}

// What a lookup wrote into a row. Most rows of a freshly imported list have none, so it lives apart from the
// domain and a million-row list stays small.
struct LookupCells {
    FilingRecord record;
    QString status;
    // Why the last lookup did not finish ("连接中断,已重试2次"); empty once one has.
    QString note;
    // When the record and status were looked up, in seconds since 1970 UTC (a reused result: when it was first
    // looked up); 0 for never.
    qint64 lookedUpAt = 0;
    // What this lookup found changed since the domain's earlier result ("备案人变更"), and that result; empty and
    // null when nothing changed, the domain is new to the history, or nobody has compared yet. Shared, since a
    // row's cells are copied on their way to the store.
    QString change {};
    std::shared_ptr<const PreviousResult> previous {};
};

struct DomainRow {
    QString domain;
    std::unique_ptr<LookupCells> lookup;
    // None until the list takes the row in; a stored row comes back with its own.
    RowKey key = RowKey::None;
};

// What a row's lookup found, as the filters and the counts see it. Unfinished is any status other than "查询完毕"
// (no status, one still running, one given up), whatever record cells the row holds.
enum class RowKind { Found, NoRecord, Deleted, Unfinished, Changed };
inline constexpr int kRowKindCount = 5;

// A column of the list, as the header shows it and the window lays it out.
struct ListColumn {
    const char16_t *header;
    // Its name in the settings file; never changes.
    const char *name;
    // The width it starts at, in twips as the layout was drawn.
    int twips;
    // A text the column starts wide enough to show whole (nullptr: none).
    const char16_t *fits;
    // Shares whatever room the list has beyond the columns' widths.
    bool stretches;
    // Hidden until the user shows it from the header's menu.
    bool optional;
    bool hideable;
};

// The domain list: the program's only data. The ID column is the row's position, derived on read, so the
// numbering 1..n holds after every add, import and delete without rewriting anything.
class DomainListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        IdColumn,
        DomainColumn,
        RecordNoColumn,
        HolderColumn,
        RecordTypeColumn,
        SiteNameColumn,
        StatusColumn,
        NoteColumn,
        LookedUpAtColumn,
        ChangeColumn,
        ColumnCount
    };
    // The seven columns every row has had from the start: what Ctrl+C copies and the store keeps.
    static constexpr int BaseColumnCount = StatusColumn + 1;
    // Header, width and place of every column, in column order; new columns go at the end.
    static const std::array<ListColumn, ColumnCount> &columns();
    // A time as the 查询时间 column shows it, in local time; empty for 0.
    static QString timeText(qint64 secondsSinceEpoch);

    using Row = DomainRow;

    // The note of a row whose last lookup did not finish, on every cell of the row; the view marks the status cell
    // of a row that has one. The status cell's tooltip shows any note, also a finished row's, and below it what
    // changed since the domain's earlier result and what that result was, a line each.
    static constexpr int NoteRole = Qt::UserRole + 1;

    // Which of a row's searched texts have a letter with case (a find needs the slower caseless search only there).
    enum TextCase : quint8 {
        DomainHasCase = 1,
        RecordNoHasCase = 2,
        HolderHasCase = 4,
        SiteNameHasCase = 8,
    };

    explicit DomainListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Keys. positionOf() is the one place a position is derived from a key.
    RowKey keyAt(int position) const { return m_rows[size_t(position)].key; }
    // -1 when no row has the key (it left the list, or never was in it).
    int positionOf(RowKey key) const;
    bool contains(RowKey key) const { return positionOf(key) >= 0; }
    // The key the next new row gets.
    RowKey nextKey() const { return m_nextKey; }
    // Keys below `key` were handed out before (by an earlier session whose list the store keeps): never again.
    void reserveKeysBelow(RowKey key);

    // Returns the new row's key.
    RowKey appendDomain(const QString &domain);
    // Replaces every row by new rows holding only their domains.
    void setDomains(QStringList domains);
    // New rows with whatever cells they bring, after the last row (one insertion) or in place of every row (one
    // reset); each gets a fresh key. A row without cells costs no more than a domain.
    void appendRows(std::vector<Row> rows);
    void replaceRows(std::vector<Row> rows);
    // Rows that keep the keys they bring (a stored list brought back), in place of every row. Keys that do not
    // rise strictly are replaced by fresh ones.
    void restoreRows(std::vector<Row> rows);
    // Rows that left the list coming back with their keys and cells: each goes where its key puts it, which is the
    // place it left. A key the list holds already is not taken twice.
    void reinsertRows(std::vector<Row> rows);
    // Whether some row holds exactly this domain.
    bool containsDomain(QStringView domain) const;
    // Removes the rows with these keys (any order, repeats and keys no longer listed allowed) in one pass, with
    // one renumbering. A few runs of adjacent rows are announced as removals; a scattered set as a reset, since a
    // view would otherwise walk the whole list once per run. Returns the rows taken out, in list order.
    std::vector<Row> removeRows(std::vector<RowKey> keys);
    // Takes every row out (one reset) and returns them.
    std::vector<Row> takeAll();
    // replaceRows() that hands back the rows it replaced, with their keys and cells.
    std::vector<Row> exchangeRows(std::vector<Row> rows);
    void clear();

    int count() const { return int(m_rows.size()); }
    const Row &row(int position) const { return m_rows.at(size_t(position)); }
    // The row with this key, or nullptr.
    const Row *find(RowKey key) const;
    QString cell(int position, Column column) const;
    // A record, status, note or change cell, or the domain, without a copy (empty for a row not looked up); not the
    // ID or the time.
    const QString &text(int position, Column column) const;
    // When the row's result was looked up (0: never).
    qint64 lookedUpAt(int position) const;
    // The row's own note; for a row a stopped run never reached, and that has no note of its own, "未查询(已停止)".
    const QString &note(int position) const;

    // Rows of a kind, kept as rows change; and a row's kind.
    int count(RowKind kind) const { return m_kindCounts[size_t(kind)]; }
    bool isOfKind(int position, RowKind kind) const;
    // TextCase bits of the row's searched texts.
    quint8 textCase(int position) const { return quint8(m_flags[size_t(position)] >> kTextCaseShift); }

    // Writes by key; each returns false, changing nothing, when the row has left the list.
    // One of the record or status cells; ID and domain are not written through here.
    bool setCell(RowKey key, Column column, const QString &text);
    // A lookup's result: the four record cells, the status, the note and the time in one change. A finished row's
    // note says where its result came from (a reused one), an unfinished row's why it did not finish. Without a
    // time the result is stamped now.
    bool setLookupResult(RowKey key, FilingRecord record, const QString &status, const QString &note = {},
        std::optional<qint64> lookedUpAt = std::nullopt);
    // The status cell and the row's note in one change.
    bool setStatus(RowKey key, const QString &status, const QString &note = {});
    // Marks the unfinished rows among these as not reached by a run that stopped: their note says so, at no cost
    // in memory (a bit of the row's flags, no lookup cells). The next lookup write of a row clears its mark.
    void markNotReached(const std::vector<RowKey> &keys);
    bool isNotReached(int position) const { return m_flags[size_t(position)] & kNotReachedBit; }
    // What the history says changed with the row's latest result, and the earlier result (a null pointer or an
    // empty change clears both). Rows are marked when the store has compared their result with the domain's earlier
    // one; a new result written to the row clears the mark until then. Only a finished row can be marked: a lookup
    // that failed found nothing to compare.
    bool setChange(RowKey key, const QString &change, std::shared_ptr<const PreviousResult> previous);
    // Takes the row's lookup cells out, leaving the row as never looked up: for a caller that has written them
    // elsewhere and wants their memory back (the command line's run, once a row is out).
    std::unique_ptr<LookupCells> takeLookupCells(RowKey key);

signals:
    // The rows (keys in list order) that removeRows() is about to take out under a model reset rather than as
    // announced removals: too many scattered rows to announce one by one. The reset that follows removes exactly
    // these; isDroppingRows() is true while it runs.
    void rowsAboutToBeDropped(const std::vector<quernfold::RowKey> &keys);

public:
    bool isDroppingRows() const { return m_dropping; }

private:
    using Flags = quint16;
    static constexpr int kTextCaseShift = 8;
    static constexpr Flags kNotReachedBit = 8;
    // Bits 0-1 the record kind (0 none, 1 found, 2 no record, 3 deleted), bit 2 unfinished, bit 3 not reached by a
    // stopped run, bit 4 changed since the earlier result, bits 8-11 TextCase.
    static Flags flagsOf(const Row &row);
    static bool flagsOfKind(Flags flags, RowKind kind);
    void countFlags(Flags flags, int delta);
    // The row's lookup cells, made on the first write.
    LookupCells &lookupCells(int position);
    // After a write to the row's cells: its flags and the kind counts.
    void refreshFlags(int position);
    RowKey takeKey();
    void adoptRows(std::vector<Row> &rows, bool keepKeys);
    // In place of every row (one reset); the rows that were there go to `replaced` when it is given.
    void resetRows(std::vector<Row> rows, std::vector<Row> *replaced);
    void removePositions(const std::vector<int> &positions, std::vector<Row> *taken);

    // A deque: removing a row moves only the rows on its shorter side, so a delete near either end of a
    // million rows moves a handful.
    std::deque<Row> m_rows;
    // Per row, in step with m_rows: what its lookup found and which of its texts have case.
    std::deque<Flags> m_flags;
    std::array<int, kRowKindCount> m_kindCounts {};
    RowKey m_nextKey = RowKey(1);
    bool m_dropping = false;
};

} // namespace quernfold

Q_DECLARE_METATYPE(quernfold::RowKey)
