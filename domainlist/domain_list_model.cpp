#include "domainlist/domain_list_model.h"

namespace quernfold {

DomainListModel::DomainListModel(QObject *parent) : QAbstractTableModel(parent) { }

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
    const Row &r = *m_rows.at(row);
    switch (column) {
    case IdColumn:
        return QString::number(row + 1);
    case DomainColumn:
        return r.domain;
    case RecordNoColumn:
        return r.recordNo;
    case HolderColumn:
        return r.holder;
    case RecordTypeColumn:
        return r.recordType;
    case SiteNameColumn:
        return r.siteName;
    case StatusColumn:
        return r.status;
    case ColumnCount:
        break;
    }
    return {};
}

QVariant DomainListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return cell(index.row(), Column(index.column()));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
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
    static const char16_t *const headers[ColumnCount] = {u"ID", u"域名", u"备案号", u"备案人",
                                                         u"备案类型", u"网站名称", u"查询状态"};
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
    m_rows.push_back(std::make_unique<Row>(Row{domain, {}, {}, {}, {}, {}}));
    endInsertRows();
    return position;
}

void DomainListModel::setDomains(QStringList domains)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(domains.size());
    for (QString &domain : domains)
        m_rows.push_back(std::make_unique<Row>(Row{std::move(domain), {}, {}, {}, {}, {}}));
    domains.clear();
    endResetModel();
}

void DomainListModel::removeRowAt(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
    // Every ID below the removed row is now one less.
    if (row < count())
        emit dataChanged(index(row, IdColumn), index(count() - 1, IdColumn), {Qt::DisplayRole});
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
    Row &r = *m_rows[row];
    QString *target = nullptr;
    switch (column) {
    case RecordNoColumn:
        target = &r.recordNo;
        break;
    case HolderColumn:
        target = &r.holder;
        break;
    case RecordTypeColumn:
        target = &r.recordType;
        break;
    case SiteNameColumn:
        target = &r.siteName;
        break;
    case StatusColumn:
        target = &r.status;
        break;
    default:
        return;
    }
    *target = text;
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

} // namespace quernfold
