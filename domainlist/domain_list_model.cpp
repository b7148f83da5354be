#include "domainlist/domain_list_model.h"

#include <algorithm>
#include <iterator>

namespace quernfold {

DomainListModel::DomainListModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

int DomainListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int DomainListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DomainListModel::cell(int row, Column column) const
{
    if (column == IdColumn)
        return QString::number(row + 1);
    return text(row, column);
}

const QString &DomainListModel::text(int row, Column column) const
{
    static const QString empty;
    const Row &r = m_rows[size_t(row)];
    if (column == DomainColumn)
        return r.domain;
    if (!r.lookup)
        return empty;
    switch (column) {
    case RecordNoColumn:
        return r.lookup->record.recordNo;
    case HolderColumn:
        return r.lookup->record.holder;
    case RecordTypeColumn:
        return r.lookup->record.recordType;
    case SiteNameColumn:
        return r.lookup->record.siteName;
    case StatusColumn:
        return r.lookup->status;
    default:
        return empty;
    }
}

QVariant DomainListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return cell(index.row(), Column(index.column()));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role == NoteRole
        || (index.column() == StatusColumn && (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole))) {
        const QString text = note(index.row());
        if (text.isEmpty())
            return {};
        // A finished row's note only says where its result came from: nothing to warn about.
        if (role == NoteRole && cell(index.row(), StatusColumn) == QStringLiteral("查询完毕"))
            return {};
        return text;
    }
    return {};
}

QVariant DomainListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    static const char16_t *const headers[ColumnCount]
        = { u"ID", u"域名", u"备案号", u"备案人", u"备案类型", u"网站名称", u"查询状态" };
    return QString::fromUtf16(headers[section]);
}

Qt::ItemFlags DomainListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Selectable for delete and query; never editable.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int DomainListModel::appendDomain(const QString &domain)
{
    const int position = count();
    beginInsertRows({}, position, position);
    m_rows.push_back(Row { domain, nullptr });
    endInsertRows();
    return position;
}

void DomainListModel::setDomains(QStringList domains)
{
    std::vector<Row> rows;
    rows.reserve(size_t(domains.size()));
    for (QString &domain : domains)
        rows.push_back(Row { std::move(domain), nullptr });
    domains.clear();
    replaceRows(std::move(rows));
}

void DomainListModel::appendRows(std::vector<Row> rows)
{
    if (rows.empty())
        return;
    const int first = count();
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
}

void DomainListModel::replaceRows(std::vector<Row> rows)
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    rows.clear();
    endResetModel();
}

bool DomainListModel::containsDomain(QStringView domain) const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [domain](const Row &row) { return row.domain == domain; });
}

void DomainListModel::removeRowAt(int row)
{
    removeRowsAt({ row });
}

void DomainListModel::removeRowsAt(std::vector<int> rows)
{
    const int size = count();
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [size](int row) { return row < 0 || row >= size; }), rows.end());
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    struct Run {
        int first;
        int last;
    };
    std::vector<Run> runs;
    for (int row : rows) {
        if (!runs.empty() && runs.back().last + 1 == row)
            runs.back().last = row;
        else
            runs.push_back({ row, row });
    }
    // Each announced removal costs a view about one pass over its rows; past a handful, one reset is cheaper.
    constexpr size_t kMostAnnouncedRuns = 8;
    if (runs.size() <= kMostAnnouncedRuns) {
        // From the bottom up, so the positions of the runs still to come stay as they were.
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows({}, run->first, run->last);
            m_rows.erase(m_rows.begin() + run->first, m_rows.begin() + run->last + 1);
            endRemoveRows();
        }
        // Every ID below the first removed row has changed.
        if (rows.front() < count())
            emit dataChanged(index(rows.front(), IdColumn), index(count() - 1, IdColumn), { Qt::DisplayRole });
        return;
    }
    // Whoever keeps a copy of the list learns which rows went, which the reset alone would not tell.
    emit rowsAboutToBeDropped(rows);
    beginResetModel();
    size_t next = 0;
    size_t kept = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (next < rows.size() && rows[next] == int(i)) {
            ++next;
            continue;
        }
        if (kept != i)
            m_rows[kept] = std::move(m_rows[i]);
        ++kept;
    }
    m_rows.resize(kept);
    endResetModel();
}

void DomainListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void DomainListModel::setCell(int row, Column column, const QString &text)
{
    if (row < 0 || row >= count())
        return;
    if (column < RecordNoColumn || column > StatusColumn)
        return;
    LookupCells &cells = lookupCells(row);
    QString *target = nullptr;
    switch (column) {
    case RecordNoColumn:
        target = &cells.record.recordNo;
        break;
    case HolderColumn:
        target = &cells.record.holder;
        break;
    case RecordTypeColumn:
        target = &cells.record.recordType;
        break;
    case SiteNameColumn:
        target = &cells.record.siteName;
        break;
    default:
        target = &cells.status;
        break;
    }
    *target = text;
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed, { Qt::DisplayRole });
}

void DomainListModel::setLookupResult(int row, FilingRecord record, const QString &status, const QString &note)
{
    if (row < 0 || row >= count())
        return;
    LookupCells &cells = lookupCells(row);
    cells.record = std::move(record);
    cells.status = status;
    cells.note = note;
    // One change for the whole result: views and screen readers hear about a row once, not five times.
    emit dataChanged(index(row, RecordNoColumn), index(row, StatusColumn));
}

void DomainListModel::setStatus(int row, const QString &status, const QString &note)
{
    if (row < 0 || row >= count())
        return;
    LookupCells &cells = lookupCells(row);
    cells.status = status;
    cells.note = note;
    const QModelIndex changed = index(row, StatusColumn);
    emit dataChanged(changed, changed);
}

std::unique_ptr<LookupCells> DomainListModel::takeLookupCells(int row)
{
    if (row < 0 || row >= count() || !m_rows[size_t(row)].lookup)
        return nullptr;
    std::unique_ptr<LookupCells> cells = std::move(m_rows[size_t(row)].lookup);
    emit dataChanged(index(row, RecordNoColumn), index(row, StatusColumn));
    return cells;
}

QString DomainListModel::note(int row) const
{
    const Row &r = m_rows.at(row);
    return r.lookup ? r.lookup->note : QString();
}

LookupCells &DomainListModel::lookupCells(int row)
{
    std::unique_ptr<LookupCells> &cells = m_rows[row].lookup;
    if (!cells)
        cells = std::make_unique<LookupCells>();
    return *cells;
}

} // namespace quernfold
