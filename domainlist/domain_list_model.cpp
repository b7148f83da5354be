#include "domainlist/domain_list_model.h"

#include <QDateTime>

#include <algorithm>
#include <iterator>

namespace quernfold {

namespace {

const QString kNoRecord = QStringLiteral("无记录");
const QString kDeleted = QStringLiteral("备案已被删除");
const QString kDone = QStringLiteral("查询完毕");
const QString kNotReached = QStringLiteral("未查询(已停止)");

constexpr quint16 kKindMask = 3;
constexpr quint16 kFoundBits = 1;
constexpr quint16 kNoRecordBits = 2;
constexpr quint16 kDeletedBits = 3;
constexpr quint16 kUnfinishedBit = 4;
constexpr quint16 kChangedBit = 16;

// A searched text "has case" when folding changes it: then only a caseless search finds a folded text in it.
bool hasCase(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80 ? (c >= u'A' && c <= u'Z') : c.toCaseFolded() != c)
            return true;
    }
    return false;
}

} // namespace

const std::array<ListColumn, DomainListModel::ColumnCount> &DomainListModel::columns()
{
    // 域名 starts wide enough for a 30-character domain (30 digits: digits are as wide as the widest letters but
    // m and w, and a cell's text needs a pixel or two beyond its measured width), ID for row 1,000,000; the record
    // columns take what the list has beyond that, each in its share of the widths the layout was drawn with.
    static const std::array<ListColumn, ColumnCount> table = { {
        { u"ID", "id", 500, u"0000000", false, false, true },
        { u"域名", "domain", 1800, u"000000000000000000000000000000", false, false, false },
        { u"备案号", "recordNo", 2000, nullptr, true, false, true },
        { u"备案人", "holder", 2400, nullptr, true, false, true },
        { u"备案类型", "recordType", 1440, nullptr, true, false, true },
        { u"网站名称", "siteName", 1440, nullptr, true, false, true },
        { u"查询状态", "status", 1440, nullptr, true, false, true },
        { u"说明", "note", 2400, nullptr, true, true, true },
        { u"查询时间", "lookedUpAt", 1440, u"0000-00-00 00:00", false, true, true },
        { u"变化", "change", 1440, nullptr, true, false, true },
    } };
    return table;
}

QString DomainListModel::timeText(qint64 secondsSinceEpoch)
{
    if (secondsSinceEpoch == 0)
        return {};
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

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

int DomainListModel::positionOf(RowKey key) const
{
    const int size = count();
    if (size == 0 || key < m_rows.front().key || key > m_rows.back().key)
        return -1;
    // Keys rise by at least one a row, so the row sits at or before the place it would hold in a list nothing was
    // ever removed from; in a list without gaps that guess is the row itself.
    const qint64 guess = std::min<qint64>(keyValue(key) - keyValue(m_rows.front().key), size - 1);
    qint64 high = guess;
    qint64 step = 1;
    qint64 low = high;
    while (low > 0 && m_rows[size_t(low)].key > key) {
        high = low;
        low = std::max<qint64>(0, low - step);
        step *= 2;
    }
    // Now keys[low] <= key <= keys[high].
    while (low < high) {
        const qint64 middle = low + (high - low) / 2;
        if (m_rows[size_t(middle)].key < key)
            low = middle + 1;
        else
            high = middle;
    }
    return m_rows[size_t(low)].key == key ? int(low) : -1;
}

void DomainListModel::reserveKeysBelow(RowKey key)
{
    m_nextKey = std::max(m_nextKey, key);
}

RowKey DomainListModel::takeKey()
{
    const RowKey key = m_nextKey;
    m_nextKey = RowKey(keyValue(m_nextKey) + 1);
    return key;
}

const DomainListModel::Row *DomainListModel::find(RowKey key) const
{
    const int position = positionOf(key);
    return position < 0 ? nullptr : &m_rows[size_t(position)];
}

QString DomainListModel::cell(int position, Column column) const
{
    if (column == IdColumn)
        return QString::number(position + 1);
    if (column == LookedUpAtColumn)
        return timeText(lookedUpAt(position));
    return text(position, column);
}

const QString &DomainListModel::text(int position, Column column) const
{
    static const QString empty;
    const Row &r = m_rows[size_t(position)];
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
    case NoteColumn:
        return r.lookup->note;
    case ChangeColumn:
        return r.lookup->change;
    default:
        return empty;
    }
}

qint64 DomainListModel::lookedUpAt(int position) const
{
    const Row &r = m_rows[size_t(position)];
    return r.lookup ? r.lookup->lookedUpAt : 0;
}

const QString &DomainListModel::note(int position) const
{
    static const QString none;
    const Row &r = m_rows.at(size_t(position));
    if (r.lookup && !r.lookup->note.isEmpty())
        return r.lookup->note;
    return isNotReached(position) ? kNotReached : none;
}

QVariant DomainListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return cell(index.row(), Column(index.column()));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role == NoteRole) {
        const QString &text = note(index.row());
        // A finished row's note only says where its result came from: nothing to warn about.
        if (text.isEmpty() || cell(index.row(), StatusColumn) == kDone)
            return {};
        return text;
    }
    if (index.column() == StatusColumn && (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole)) {
        QStringList lines;
        if (const QString &text = note(index.row()); !text.isEmpty())
            lines << text;
        const Row &r = m_rows[size_t(index.row())];
        if (r.lookup && !r.lookup->change.isEmpty()) {
            lines << r.lookup->change;
            if (r.lookup->previous)
                lines << previousResultLine(*r.lookup->previous);
        }
        if (lines.isEmpty())
            return {};
        return lines.join(u'\n');
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
    return QString::fromUtf16(columns()[size_t(section)].header);
}

Qt::ItemFlags DomainListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Selectable for delete and query; never editable.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

DomainListModel::Flags DomainListModel::flagsOf(const Row &row)
{
    Flags textCase = hasCase(row.domain) ? DomainHasCase : 0;
    if (!row.lookup)
        return kUnfinishedBit | Flags(textCase << kTextCaseShift);
    const FilingRecord &record = row.lookup->record;
    const QString &recordNo = record.recordNo;
    Flags flags = recordNo.isEmpty() ? 0
        : recordNo == kNoRecord       ? kNoRecordBits
        : recordNo == kDeleted        ? kDeletedBits
                                      : kFoundBits;
    if (row.lookup->status != kDone)
        flags |= kUnfinishedBit;
    if (!row.lookup->change.isEmpty())
        flags |= kChangedBit;
    if (hasCase(record.recordNo))
        textCase |= RecordNoHasCase;
    if (hasCase(record.holder))
        textCase |= HolderHasCase;
    if (hasCase(record.siteName))
        textCase |= SiteNameHasCase;
    return flags | Flags(textCase << kTextCaseShift);
}

bool DomainListModel::flagsOfKind(Flags flags, RowKind kind)
{
    switch (kind) {
    case RowKind::Found:
        return (flags & kKindMask) == kFoundBits;
    case RowKind::NoRecord:
        return (flags & kKindMask) == kNoRecordBits;
    case RowKind::Deleted:
        return (flags & kKindMask) == kDeletedBits;
    case RowKind::Unfinished:
        return flags & kUnfinishedBit;
    case RowKind::Changed:
        return flags & kChangedBit;
    }
    return false;
}

bool DomainListModel::isOfKind(int position, RowKind kind) const
{
    return flagsOfKind(m_flags[size_t(position)], kind);
}

void DomainListModel::countFlags(Flags flags, int delta)
{
    for (int kind = 0; kind < kRowKindCount; ++kind) {
        if (flagsOfKind(flags, RowKind(kind)))
            m_kindCounts[size_t(kind)] += delta;
    }
}

void DomainListModel::refreshFlags(int position)
{
    Flags &flags = m_flags[size_t(position)];
    countFlags(flags, -1);
    flags = flagsOf(m_rows[size_t(position)]);
    countFlags(flags, 1);
}

void DomainListModel::adoptRows(std::vector<Row> &rows, bool keepKeys)
{
    if (keepKeys) {
        RowKey previous = RowKey::None;
        for (const Row &row : rows) {
            if (row.key <= previous) {
                keepKeys = false;
                break;
            }
            previous = row.key;
        }
        if (keepKeys && !rows.empty())
            reserveKeysBelow(RowKey(keyValue(rows.back().key) + 1));
    }
    if (!keepKeys) {
        for (Row &row : rows)
            row.key = takeKey();
    }
}

RowKey DomainListModel::appendDomain(const QString &domain)
{
    std::vector<Row> rows;
    rows.push_back(Row { domain, nullptr });
    appendRows(std::move(rows));
    return m_rows.back().key;
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
    adoptRows(rows, false);
    const int first = count();
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    for (Row &row : rows) {
        const Flags flags = flagsOf(row);
        countFlags(flags, 1);
        m_flags.push_back(flags);
        m_rows.push_back(std::move(row));
    }
    endInsertRows();
}

void DomainListModel::replaceRows(std::vector<Row> rows)
{
    adoptRows(rows, false);
    resetRows(std::move(rows), nullptr);
}

std::vector<DomainListModel::Row> DomainListModel::exchangeRows(std::vector<Row> rows)
{
    adoptRows(rows, false);
    std::vector<Row> replaced;
    resetRows(std::move(rows), &replaced);
    return replaced;
}

void DomainListModel::restoreRows(std::vector<Row> rows)
{
    adoptRows(rows, true);
    resetRows(std::move(rows), nullptr);
}

void DomainListModel::resetRows(std::vector<Row> rows, std::vector<Row> *replaced)
{
    beginResetModel();
    if (replaced) {
        replaced->reserve(m_rows.size());
        std::move(m_rows.begin(), m_rows.end(), std::back_inserter(*replaced));
    }
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_flags.clear();
    m_flags.shrink_to_fit();
    m_kindCounts = {};
    for (Row &row : rows) {
        const Flags flags = flagsOf(row);
        countFlags(flags, 1);
        m_flags.push_back(flags);
        m_rows.push_back(std::move(row));
    }
    rows.clear();
    endResetModel();
}

void DomainListModel::reinsertRows(std::vector<Row> rows)
{
    const auto byKey = [](const Row &a, const Row &b) { return a.key < b.key; };
    // Rows taken out together come back in list order: a million of them need no sort.
    if (!std::is_sorted(rows.begin(), rows.end(), byKey))
        std::sort(rows.begin(), rows.end(), byKey);
    rows.erase(std::unique(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.key == b.key; }),
        rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                   [this](const Row &row) { return row.key == RowKey::None || contains(row.key); }),
        rows.end());
    if (rows.empty())
        return;
    reserveKeysBelow(RowKey(keyValue(rows.back().key) + 1));
    // Runs of rows that go back between the same two listed rows arrive as one insertion each; a scattered set as
    // one reset, as removeRows() does.
    struct Run {
        size_t from;
        size_t to;
        int at;
    };
    std::vector<Run> runs;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto place = std::lower_bound(
            m_rows.begin(), m_rows.end(), rows[i].key, [](const Row &row, RowKey key) { return row.key < key; });
        const int at = int(place - m_rows.begin());
        if (!runs.empty() && runs.back().at == at)
            runs.back().to = i + 1;
        else
            runs.push_back({ i, i + 1, at });
    }
    constexpr size_t kMostAnnouncedRuns = 8;
    if (runs.size() <= kMostAnnouncedRuns) {
        int shift = 0;
        for (const Run &run : runs) {
            const int first = run.at + shift;
            const int added = int(run.to - run.from);
            beginInsertRows({}, first, first + added - 1);
            std::vector<Flags> flags;
            for (size_t i = run.from; i < run.to; ++i) {
                flags.push_back(flagsOf(rows[i]));
                countFlags(flags.back(), 1);
            }
            m_rows.insert(m_rows.begin() + first, std::make_move_iterator(rows.begin() + qsizetype(run.from)),
                std::make_move_iterator(rows.begin() + qsizetype(run.to)));
            m_flags.insert(m_flags.begin() + first, flags.begin(), flags.end());
            endInsertRows();
            shift += added;
        }
        if (runs.front().at + int(runs.front().to - runs.front().from) < count())
            emit dataChanged(index(runs.front().at, IdColumn), index(count() - 1, IdColumn), { Qt::DisplayRole });
        return;
    }
    std::vector<Row> merged;
    merged.reserve(m_rows.size() + rows.size());
    std::merge(std::make_move_iterator(m_rows.begin()), std::make_move_iterator(m_rows.end()),
        std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()), std::back_inserter(merged),
        [](const Row &a, const Row &b) { return a.key < b.key; });
    restoreRows(std::move(merged));
}

bool DomainListModel::containsDomain(QStringView domain) const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [domain](const Row &row) { return row.domain == domain; });
}

std::vector<DomainListModel::Row> DomainListModel::removeRows(std::vector<RowKey> keys)
{
    std::vector<int> positions;
    positions.reserve(keys.size());
    for (const RowKey key : keys) {
        const int position = positionOf(key);
        if (position >= 0)
            positions.push_back(position);
    }
    keys.clear();
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    std::vector<Row> taken;
    removePositions(positions, &taken);
    return taken;
}

void DomainListModel::removePositions(const std::vector<int> &positions, std::vector<Row> *taken)
{
    if (positions.empty())
        return;
    struct Run {
        int first;
        int last;
    };
    std::vector<Run> runs;
    for (int position : positions) {
        if (!runs.empty() && runs.back().last + 1 == position)
            runs.back().last = position;
        else
            runs.push_back({ position, position });
    }
    taken->reserve(positions.size());
    // Each announced removal costs a view about one pass over its rows; past a handful, one reset is cheaper.
    constexpr size_t kMostAnnouncedRuns = 8;
    if (runs.size() <= kMostAnnouncedRuns) {
        // From the bottom up, so the positions of the runs still to come stay as they were.
        std::vector<std::vector<Row>> runRows;
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows({}, run->first, run->last);
            const auto from = m_rows.begin() + run->first;
            const auto to = m_rows.begin() + run->last + 1;
            runRows.emplace_back(std::make_move_iterator(from), std::make_move_iterator(to));
            m_rows.erase(from, to);
            for (int position = run->first; position <= run->last; ++position)
                countFlags(m_flags[size_t(position)], -1);
            m_flags.erase(m_flags.begin() + run->first, m_flags.begin() + run->last + 1);
            endRemoveRows();
        }
        for (auto rows = runRows.rbegin(); rows != runRows.rend(); ++rows)
            std::move(rows->begin(), rows->end(), std::back_inserter(*taken));
        // Every ID below the first removed row has changed.
        if (positions.front() < count())
            emit dataChanged(index(positions.front(), IdColumn), index(count() - 1, IdColumn), { Qt::DisplayRole });
        return;
    }
    std::vector<RowKey> keys;
    keys.reserve(positions.size());
    for (int position : positions)
        keys.push_back(m_rows[size_t(position)].key);
    // Whoever follows the list by key learns which rows go, which the reset alone would not tell.
    emit rowsAboutToBeDropped(keys);
    m_dropping = true;
    beginResetModel();
    size_t next = 0;
    size_t kept = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (next < positions.size() && positions[next] == int(i)) {
            ++next;
            countFlags(m_flags[i], -1);
            taken->push_back(std::move(m_rows[i]));
            continue;
        }
        if (kept != i) {
            m_rows[kept] = std::move(m_rows[i]);
            m_flags[kept] = m_flags[i];
        }
        ++kept;
    }
    m_rows.resize(kept);
    m_flags.resize(kept);
    endResetModel();
    m_dropping = false;
}

std::vector<DomainListModel::Row> DomainListModel::takeAll()
{
    std::vector<Row> taken;
    taken.reserve(m_rows.size());
    beginResetModel();
    std::move(m_rows.begin(), m_rows.end(), std::back_inserter(taken));
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_flags.clear();
    m_flags.shrink_to_fit();
    m_kindCounts = {};
    endResetModel();
    return taken;
}

void DomainListModel::clear()
{
    takeAll();
}

LookupCells &DomainListModel::lookupCells(int position)
{
    std::unique_ptr<LookupCells> &cells = m_rows[size_t(position)].lookup;
    if (!cells)
        cells = std::make_unique<LookupCells>();
    return *cells;
}

bool DomainListModel::setCell(RowKey key, Column column, const QString &text)
{
    const int position = positionOf(key);
    if (position < 0 || column < RecordNoColumn || column > StatusColumn)
        return false;
    LookupCells &cells = lookupCells(position);
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
    // The change described the cells as they were.
    const bool hadChange = !cells.change.isEmpty();
    cells.change.clear();
    cells.previous.reset();
    refreshFlags(position);
    const QModelIndex changed = index(position, column);
    emit dataChanged(changed, changed, { Qt::DisplayRole });
    if (hadChange)
        emit dataChanged(index(position, StatusColumn), index(position, ChangeColumn));
    return true;
}

bool DomainListModel::setLookupResult(
    RowKey key, FilingRecord record, const QString &status, const QString &note, std::optional<qint64> lookedUpAt)
{
    const int position = positionOf(key);
    if (position < 0)
        return false;
    LookupCells &cells = lookupCells(position);
    cells.record = std::move(record);
    cells.status = status;
    cells.note = note;
    cells.lookedUpAt = lookedUpAt ? *lookedUpAt : QDateTime::currentSecsSinceEpoch();
    // What changed is known once the history has compared this result with the earlier one.
    const bool hadChange = !cells.change.isEmpty();
    cells.change.clear();
    cells.previous.reset();
    refreshFlags(position);
    // One change for the whole result: views and screen readers hear about a row once, not five times.
    emit dataChanged(index(position, RecordNoColumn), index(position, hadChange ? ChangeColumn : LookedUpAtColumn));
    return true;
}

bool DomainListModel::setStatus(RowKey key, const QString &status, const QString &note)
{
    const int position = positionOf(key);
    if (position < 0)
        return false;
    LookupCells &cells = lookupCells(position);
    cells.status = status;
    cells.note = note;
    // A lookup under way or given up on changes nothing: whatever was marked belonged to the one before.
    const bool hadChange = !cells.change.isEmpty();
    cells.change.clear();
    cells.previous.reset();
    refreshFlags(position);
    emit dataChanged(index(position, StatusColumn), index(position, hadChange ? ChangeColumn : NoteColumn));
    return true;
}

bool DomainListModel::setChange(RowKey key, const QString &change, std::shared_ptr<const PreviousResult> previous)
{
    const int position = positionOf(key);
    if (position < 0 || !m_rows[size_t(position)].lookup)
        return false;
    LookupCells &cells = *m_rows[size_t(position)].lookup;
    // An answer about a result the row no longer shows (looked up again, and still running or failed) is stale.
    if (cells.status != kDone)
        return false;
    if (previous && !change.isEmpty()) {
        cells.change = change;
        cells.previous = std::move(previous);
    } else {
        cells.change.clear();
        cells.previous.reset();
    }
    refreshFlags(position);
    emit dataChanged(index(position, StatusColumn), index(position, ChangeColumn));
    return true;
}

void DomainListModel::markNotReached(const std::vector<RowKey> &keys)
{
    int first = -1;
    int last = -1;
    for (const RowKey key : keys) {
        const int position = positionOf(key);
        // A finished result stays what it was; only a row still without one is worth the note.
        if (position < 0 || !isOfKind(position, RowKind::Unfinished))
            continue;
        m_flags[size_t(position)] |= kNotReachedBit;
        first = first < 0 ? position : std::min(first, position);
        last = std::max(last, position);
    }
    if (first >= 0)
        emit dataChanged(index(first, StatusColumn), index(last, StatusColumn),
            { NoteRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole });
}

std::unique_ptr<LookupCells> DomainListModel::takeLookupCells(RowKey key)
{
    const int position = positionOf(key);
    if (position < 0 || !m_rows[size_t(position)].lookup)
        return nullptr;
    std::unique_ptr<LookupCells> cells = std::move(m_rows[size_t(position)].lookup);
    // Giving the cells back is no new lookup: a row the run never reached still says so.
    const Flags notReached = m_flags[size_t(position)] & kNotReachedBit;
    refreshFlags(position);
    m_flags[size_t(position)] |= notReached;
    emit dataChanged(
        index(position, RecordNoColumn), index(position, cells->change.isEmpty() ? LookedUpAtColumn : ChangeColumn));
    return cells;
}

} // namespace quernfold
