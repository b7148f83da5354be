#pragma once

#include "domainlist/filing_record.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <vector>

namespace quernfold {

// What a lookup wrote into a row. Most rows of a freshly imported list have none, so it lives apart from the
// domain and a million-row list stays small.
struct LookupCells {
    FilingRecord record;
    QString status;
    // Why the last lookup did not finish ("连接中断,已重试2次"); empty once one has.
    QString note;
};

struct DomainRow {
    QString domain;
    std::unique_ptr<LookupCells> lookup;
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
        ColumnCount
    };

    using Row = DomainRow;

    // The note of a row whose last lookup did not finish, on every cell of the row; the view marks the status cell
    // of a row that has one. The status cell's tooltip shows any note, also a finished row's.
    static constexpr int NoteRole = Qt::UserRole + 1;

    explicit DomainListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Returns the new row's position (0-based).
    int appendDomain(const QString &domain);
    // Replaces every row by new rows holding only their domains.
    void setDomains(QStringList domains);
    // Rows with whatever cells they bring, after the last row (one insertion) or in place of every row (one
    // reset). A row without cells costs no more than a domain.
    void appendRows(std::vector<Row> rows);
    void replaceRows(std::vector<Row> rows);
    // Whether some row holds exactly this domain.
    bool containsDomain(QStringView domain) const;
    void removeRowAt(int row);
    // Removes every listed row (positions, in any order, repeats allowed) in one pass over the list, with one
    // renumbering. A few runs of adjacent rows are announced as removals; a scattered set as a reset, since a
    // view would otherwise walk the whole list once per run.
    void removeRowsAt(std::vector<int> rows);
    void clear();

    int count() const { return int(m_rows.size()); }
    const Row &row(int row) const { return m_rows.at(row); }
    QString cell(int row, Column column) const;
    // A record or status cell, or the domain, without a copy (empty for a row not looked up); not the ID.
    const QString &text(int row, Column column) const;
    // Writes one of the record or status cells; ID and domain are not written through here.
    void setCell(int row, Column column, const QString &text);
    // A lookup's result: the four record cells, the status and the note in one change. A finished row's note says
    // where its result came from (a reused one), an unfinished row's why it did not finish.
    void setLookupResult(int row, FilingRecord record, const QString &status, const QString &note = {});
    // The status cell and the row's note in one change.
    void setStatus(int row, const QString &status, const QString &note = {});
    // Takes the row's lookup cells out, leaving the row as never looked up: for a caller that has written them
    // elsewhere and wants their memory back (the command line's run, once a row is out).
    std::unique_ptr<LookupCells> takeLookupCells(int row);
    QString note(int row) const;

signals:
    // Rows (sorted positions) that removeRowsAt() is about to take out under a model reset rather than as
    // announced removals: too many scattered rows to announce one by one.
    void rowsAboutToBeDropped(const std::vector<int> &rows);

private:
    // The row's lookup cells, made on the first write.
    LookupCells &lookupCells(int row);

    // A deque: removing a row moves only the rows on its shorter side, so a delete near either end of a
    // million rows moves a handful.
    std::deque<Row> m_rows;
};

} // namespace quernfold
