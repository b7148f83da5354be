#include "window/shown_rows_model.h"

#include "window/reading_order.h"

#include <QThread>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <thread>

namespace quernfold {

namespace {

const QString kNoRecord = QStringLiteral("无记录");
const QString kDeleted = QStringLiteral("备案已被删除");
const QString kDone = QStringLiteral("查询完毕");

constexpr quint8 kKindMask = 3;
constexpr quint8 kFound = 1;
constexpr quint8 kNoRecordKind = 2;
constexpr quint8 kDeletedKind = 3;
constexpr quint8 kUnfinished = 4;
// A text sought "has case" when it has any letter with case, lower or upper: "b" is the folding of "B".
bool hasCasedLetter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80 ? ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))
                               : (c.toCaseFolded() != c || c.toUpper() != c || c.toLower() != c))
            return true;
    }
    return false;
}

// Which searched texts have a letter with case: only those need the slower caseless search.
constexpr quint8 kDomainHasCase = 8;
constexpr quint8 kRecordNoHasCase = 16;
constexpr quint8 kHolderHasCase = 32;
constexpr quint8 kSiteNameHasCase = 64;

// A searched text "has case" when folding changes it: then only a caseless search finds a folded text in it.
bool hasCase(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80 ? (c >= u'A' && c <= u'Z') : c.toCaseFolded() != c)
            return true;
    }
    return false;
}

std::vector<int> allRows(int count)
{
    std::vector<int> rows(size_t(std::max(count, 0)));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

// `base` and `inserted` are each in order; every inserted row goes where `less` puts it.
template <typename Less>
std::vector<int> mergeInto(const std::vector<int> &base, const std::vector<int> &inserted, Less less)
{
    std::vector<int> merged;
    merged.reserve(base.size() + inserted.size());
    auto from = base.begin();
    for (int row : inserted) {
        const auto at = std::lower_bound(from, base.end(), row, less);
        merged.insert(merged.end(), from, at);
        merged.push_back(row);
        from = at;
    }
    merged.insert(merged.end(), from, base.end());
    return merged;
}

} // namespace

ShownRowsModel::ShownRowsModel(DomainListModel &source, QObject *parent)
    : QAbstractTableModel(parent)
    , m_source(source)
{
    m_frameTimer.setSingleShot(true);
    // Moving rows repaints the whole list, text shaping and all: four times a second keeps the order current to the
    // eye and leaves a fast run its time.
    m_frameTimer.setInterval(kMoveIntervalMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &ShownRowsModel::applyPendingChanges);
    connect(&source, &QAbstractItemModel::modelAboutToBeReset, this, &ShownRowsModel::onAboutToBeReset);
    connect(&source, &QAbstractItemModel::modelReset, this, &ShownRowsModel::onReset);
    connect(&source, &QAbstractItemModel::rowsAboutToBeInserted, this, &ShownRowsModel::onRowsAboutToBeInserted);
    connect(&source, &QAbstractItemModel::rowsInserted, this, &ShownRowsModel::onRowsInserted);
    connect(&source, &QAbstractItemModel::rowsAboutToBeRemoved, this, &ShownRowsModel::onRowsAboutToBeRemoved);
    connect(&source, &QAbstractItemModel::rowsRemoved, this, &ShownRowsModel::onRowsRemoved);
    connect(&source, &QAbstractItemModel::dataChanged, this, &ShownRowsModel::onDataChanged);
    m_category.resize(size_t(source.count()));
    for (int row = 0; row < source.count(); ++row) {
        m_category[size_t(row)] = categoryOf(row);
        countCategory(m_category[size_t(row)], 1);
    }
}

int ShownRowsModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_allInListOrder ? m_source.count() : int(m_shown.size());
}

int ShownRowsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : DomainListModel::ColumnCount;
}

QVariant ShownRowsModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    return m_source.data(m_source.index(sourceRow(index.row()), index.column()), role);
}

QVariant ShownRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return m_source.headerData(section, orientation, role);
}

Qt::ItemFlags ShownRowsModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? m_source.flags(m_source.index(0, 0)) : Qt::NoItemFlags;
}

int ShownRowsModel::sourceRow(int shownRow) const
{
    if (m_allInListOrder)
        return shownRow >= 0 && shownRow < m_source.count() ? shownRow : -1;
    return shownRow >= 0 && size_t(shownRow) < m_shown.size() ? m_shown[size_t(shownRow)] : -1;
}

int ShownRowsModel::shownRow(int sourceRow) const
{
    if (sourceRow < 0 || sourceRow >= m_source.count())
        return -1;
    if (m_allInListOrder)
        return sourceRow;
    return size_t(sourceRow) < m_positionOf.size() ? m_positionOf[size_t(sourceRow)] : -1;
}

std::vector<int> ShownRowsModel::shownRows() const
{
    return m_allInListOrder ? allRows(m_source.count()) : m_shown;
}

int ShownRowsModel::count(Kind kind) const
{
    return kind == Kind::All ? m_source.count() : m_counts[size_t(kind)];
}

quint8 ShownRowsModel::categoryOf(int sourceRow) const
{
    const DomainRow &row = m_source.row(sourceRow);
    const quint8 domainCase = hasCase(row.domain) ? kDomainHasCase : 0;
    if (!row.lookup)
        return kUnfinished | domainCase;
    const FilingRecord &record = row.lookup->record;
    const QString &recordNo = record.recordNo;
    quint8 category = recordNo.isEmpty() ? 0
        : recordNo == kNoRecord          ? kNoRecordKind
        : recordNo == kDeleted           ? kDeletedKind
                                         : kFound;
    if (row.lookup->status != kDone)
        category |= kUnfinished;
    category |= domainCase;
    if (hasCase(record.recordNo))
        category |= kRecordNoHasCase;
    if (hasCase(record.holder))
        category |= kHolderHasCase;
    if (hasCase(record.siteName))
        category |= kSiteNameHasCase;
    return category;
}

bool ShownRowsModel::isOfKind(quint8 category, Kind kind) const
{
    switch (kind) {
    case Kind::All:
        return true;
    case Kind::Found:
        return (category & kKindMask) == kFound;
    case Kind::NoRecord:
        return (category & kKindMask) == kNoRecordKind;
    case Kind::Deleted:
        return (category & kKindMask) == kDeletedKind;
    case Kind::Unfinished:
        return category & kUnfinished;
    }
    return false;
}

void ShownRowsModel::countCategory(quint8 category, int delta)
{
    for (int kind = 1; kind < KindCount; ++kind) {
        if (isOfKind(category, Kind(kind)))
            m_counts[size_t(kind)] += delta;
    }
}

bool ShownRowsModel::matches(int sourceRow) const
{
    const quint8 category = m_category[size_t(sourceRow)];
    if (!isOfKind(category, m_kind))
        return false;
    if (m_findText.isEmpty())
        return true;
    // A text without case is searched for the folded text as it stands, and so is every text when the text sought
    // has no case (Chinese, digits): a plain scan is several times faster than a caseless search.
    const std::u16string_view folded(
        reinterpret_cast<const char16_t *>(m_foldedText.utf16()), size_t(m_foldedText.size()));
    const auto contains = [this, category, &folded](const QString &text, quint8 hasCase) {
        if (m_findHasCase && (category & hasCase))
            return m_findMatcher.indexIn(text) >= 0;
        return std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size())).find(folded)
            != std::u16string_view::npos;
    };
    const DomainRow &row = m_source.row(sourceRow);
    if (contains(row.domain, kDomainHasCase))
        return true;
    if (!row.lookup)
        return false;
    const FilingRecord &record = row.lookup->record;
    return contains(record.recordNo, kRecordNoHasCase) || contains(record.holder, kHolderHasCase)
        || contains(record.siteName, kSiteNameHasCase);
}

bool ShownRowsModel::keyLess(int a, int b) const
{
    const DomainListModel::Column column = DomainListModel::Column(m_sortColumn);
    const std::string keyA = readingKey(m_source.text(a, column));
    const std::string keyB = readingKey(m_source.text(b, column));
    const int order = keyA.compare(keyB);
    if (order != 0)
        return m_sortOrder == Qt::DescendingOrder ? order > 0 : order < 0;
    return a < b;
}

std::vector<int> ShownRowsModel::filtered(const std::vector<int> &candidates) const
{
    if (m_kind == Kind::All && m_findText.isEmpty())
        return candidates;
    std::vector<int> rows;
    const int count = m_source.count();
    if (candidates.size() < size_t(count) / 8) {
        for (int row : candidates) {
            if (matches(row))
                rows.push_back(row);
        }
        return rows;
    }
    // Rows are read in list order, the order their texts lie in memory; the candidates' order (a sort) would
    // jump about and wait on memory for every row. The texts are only read, so a long list is split between the
    // cores: the search waits on memory far more than it computes.
    std::vector<quint8> matching(size_t(count), 0);
    const auto mark = [this, &matching](int from, int to) {
        for (int row = from; row < to; ++row)
            matching[size_t(row)] = matches(row);
    };
    constexpr int kRowsPerThread = 250000;
    const int threads = std::clamp(count / kRowsPerThread, 1, std::max(1, QThread::idealThreadCount()));
    std::vector<std::thread> helpers;
    for (int part = 1; part < threads; ++part)
        helpers.emplace_back(mark, int(qint64(count) * part / threads), int(qint64(count) * (part + 1) / threads));
    mark(0, count / threads);
    for (std::thread &helper : helpers)
        helper.join();
    for (int row : candidates) {
        if (matching[size_t(row)])
            rows.push_back(row);
    }
    return rows;
}

void ShownRowsModel::sortBy(int column, Qt::SortOrder order)
{
    applyPendingChanges();
    if (column <= DomainListModel::IdColumn || column >= DomainListModel::ColumnCount) {
        m_sortColumn = -1;
        m_order.clear();
        m_order.shrink_to_fit();
    } else {
        m_sortColumn = column;
        m_sortOrder = order;
        m_order = allRows(m_source.count());
        sortByReadingKey(m_order, order == Qt::DescendingOrder,
            [this, column](int row) -> const QString & { return m_source.text(row, DomainListModel::Column(column)); });
    }
    // The same rows as before, in the new order.
    if (m_allInListOrder) {
        showRows(m_sortColumn >= 0 ? m_order : allRows(m_source.count()));
        return;
    }
    std::vector<int> next;
    next.reserve(m_shown.size());
    const auto keepShown = [this, &next](int row) {
        if (m_positionOf[size_t(row)] >= 0)
            next.push_back(row);
    };
    if (m_sortColumn >= 0) {
        for (int row : m_order)
            keepShown(row);
    } else {
        for (int row = 0; row < m_source.count(); ++row)
            keepShown(row);
    }
    showRows(std::move(next));
}

void ShownRowsModel::setKind(Kind kind)
{
    applyPendingChanges();
    if (kind == m_kind)
        return;
    m_kind = kind;
    showRows(filtered(m_sortColumn >= 0 ? m_order : allRows(m_source.count())));
}

void ShownRowsModel::setFindText(const QString &text)
{
    applyPendingChanges();
    if (text == m_findText)
        return;
    // A longer text shows a subset of what the shorter one showed: only those rows need looking at again.
    const bool narrowing = !m_findText.isEmpty() && text.contains(m_findText, Qt::CaseInsensitive);
    m_findText = text;
    m_findMatcher = QStringMatcher(text, Qt::CaseInsensitive);
    m_foldedText = text.toCaseFolded();
    m_findHasCase = hasCasedLetter(text);
    if (narrowing && !m_allInListOrder)
        showRows(filtered(m_shown));
    else
        showRows(filtered(m_sortColumn >= 0 ? m_order : allRows(m_source.count())));
}

void ShownRowsModel::rebuildPositions()
{
    m_positionOf.assign(size_t(m_source.count()), -1);
    for (size_t i = 0; i < m_shown.size(); ++i)
        m_positionOf[size_t(m_shown[i])] = int(i);
}

void ShownRowsModel::showRows(std::vector<int> next)
{
    if (m_allInListOrder) {
        if (isIdentity())
            return;
        m_shown = allRows(m_source.count());
        m_allInListOrder = false;
        rebuildPositions();
    }
    const int oldCount = int(m_shown.size());
    const int newCount = int(next.size());
    if (next != m_shown) {
        std::vector<quint8> inNext(size_t(m_source.count()), 0);
        for (int row : next)
            inNext[size_t(row)] = 1;
        if (newCount > oldCount) {
            // Grow at the end first, with rows that are about to be shown anyway.
            std::vector<int> entering;
            for (int row : next) {
                if (int(entering.size()) == newCount - oldCount)
                    break;
                if (m_positionOf[size_t(row)] < 0)
                    entering.push_back(row);
            }
            beginInsertRows({}, oldCount, newCount - 1);
            for (int row : entering) {
                m_positionOf[size_t(row)] = int(m_shown.size());
                m_shown.push_back(row);
            }
            endInsertRows();
        }
        // Rows that leave wait at the end, where one removal takes them.
        std::vector<int> target = std::move(next);
        if (newCount < oldCount) {
            for (int row : m_shown) {
                if (!inNext[size_t(row)])
                    target.push_back(row);
            }
        }
        std::vector<quint8>().swap(inNext);
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        std::vector<int> beforeRows;
        beforeRows.reserve(size_t(before.size()));
        for (const QModelIndex &index : before)
            beforeRows.push_back(m_shown[size_t(index.row())]);
        m_shown = std::move(target);
        rebuildPositions();
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i) {
            const int position = m_positionOf[size_t(beforeRows[size_t(i)])];
            after << (position >= 0 ? index(position, before[i].column()) : QModelIndex());
        }
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        if (newCount < oldCount) {
            beginRemoveRows({}, newCount, oldCount - 1);
            for (int i = newCount; i < oldCount; ++i)
                m_positionOf[size_t(m_shown[size_t(i)])] = -1;
            m_shown.resize(size_t(newCount));
            endRemoveRows();
        }
    }
    if (isIdentity()) {
        m_allInListOrder = true;
        std::vector<int>().swap(m_shown);
        std::vector<int>().swap(m_positionOf);
    }
}

void ShownRowsModel::applyPendingChanges()
{
    m_frameTimer.stop();
    if (m_changed.empty())
        return;
    std::vector<int> changed = std::move(m_changed);
    m_changed.clear();
    if (m_allInListOrder) {
        for (int row : changed)
            m_changedMark[size_t(row)] = 0;
        return;
    }
    const auto unmarked = [this](const std::vector<int> &rows) {
        std::vector<int> kept;
        kept.reserve(rows.size());
        for (int row : rows) {
            if (!m_changedMark[size_t(row)])
                kept.push_back(row);
        }
        return kept;
    };
    std::vector<int> next = unmarked(m_shown);
    if (m_sortColumn >= 0) {
        // Each changed row's key is made once; a row already in place needs its key only when a search meets it.
        const DomainListModel::Column column = DomainListModel::Column(m_sortColumn);
        const bool descending = m_sortOrder == Qt::DescendingOrder;
        struct Keyed {
            std::string key;
            int row;
        };
        std::vector<Keyed> keyed;
        keyed.reserve(changed.size());
        for (int row : changed)
            keyed.push_back({ readingKey(m_source.text(row, column)), row });
        std::sort(keyed.begin(), keyed.end(), [descending](const Keyed &a, const Keyed &b) {
            const int order = a.key.compare(b.key);
            if (order != 0)
                return descending ? order > 0 : order < 0;
            return a.row < b.row;
        });
        std::string scratch;
        const auto placedBefore = [&](int placed, const Keyed &entering) {
            scratch.clear();
            appendReadingKey(m_source.text(placed, column), scratch);
            const int order = scratch.compare(entering.key);
            if (order != 0)
                return descending ? order > 0 : order < 0;
            return placed < entering.row;
        };
        const auto merge = [&](const std::vector<int> &base, bool onlyMatching) {
            std::vector<int> merged;
            merged.reserve(base.size() + keyed.size());
            auto from = base.begin();
            for (const Keyed &entering : keyed) {
                if (onlyMatching && !matches(entering.row))
                    continue;
                const auto at = std::lower_bound(from, base.end(), entering, placedBefore);
                merged.insert(merged.end(), from, at);
                merged.push_back(entering.row);
                from = at;
            }
            merged.insert(merged.end(), from, base.end());
            return merged;
        };
        m_order = merge(unmarked(m_order), false);
        next = merge(next, true);
    } else {
        std::sort(changed.begin(), changed.end());
        next = mergeInto(next, filtered(changed), std::less<int>());
    }
    for (int row : changed)
        m_changedMark[size_t(row)] = 0;
    showRows(std::move(next));
}

void ShownRowsModel::scheduleChanged(int first, int last)
{
    if (m_changedMark.size() < size_t(m_source.count()))
        m_changedMark.resize(size_t(m_source.count()), 0);
    for (int row = first; row <= last; ++row) {
        if (!m_changedMark[size_t(row)]) {
            m_changedMark[size_t(row)] = 1;
            m_changed.push_back(row);
        }
    }
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
}

void ShownRowsModel::onAboutToBeReset()
{
    beginResetModel();
}

void ShownRowsModel::onReset()
{
    const int count = m_source.count();
    m_changed.clear();
    m_changedMark.assign(size_t(count), 0);
    m_counts = {};
    m_category.assign(size_t(count), 0);
    for (int row = 0; row < count; ++row) {
        m_category[size_t(row)] = categoryOf(row);
        countCategory(m_category[size_t(row)], 1);
    }
    if (m_sortColumn >= 0) {
        m_order = allRows(count);
        const int column = m_sortColumn;
        sortByReadingKey(m_order, m_sortOrder == Qt::DescendingOrder,
            [this, column](int row) -> const QString & { return m_source.text(row, DomainListModel::Column(column)); });
    }
    m_allInListOrder = isIdentity();
    if (m_allInListOrder) {
        std::vector<int>().swap(m_shown);
        std::vector<int>().swap(m_positionOf);
    } else {
        m_shown = filtered(m_sortColumn >= 0 ? m_order : allRows(count));
        rebuildPositions();
    }
    endResetModel();
    emit countsChanged();
}

void ShownRowsModel::onRowsAboutToBeInserted(const QModelIndex &, int first, int last)
{
    if (m_allInListOrder)
        beginInsertRows({}, first, last);
}

void ShownRowsModel::onRowsInserted(const QModelIndex &, int first, int last)
{
    const int added = last - first + 1;
    m_category.insert(m_category.begin() + first, size_t(added), 0);
    for (int row = first; row <= last; ++row) {
        m_category[size_t(row)] = categoryOf(row);
        countCategory(m_category[size_t(row)], 1);
    }
    if (m_changedMark.size() >= size_t(first))
        m_changedMark.insert(m_changedMark.begin() + first, size_t(added), 0);
    emit countsChanged();
    if (m_allInListOrder) {
        endInsertRows();
        return;
    }
    const auto shift = [first, added](std::vector<int> &rows) {
        for (int &row : rows) {
            if (row >= first)
                row += added;
        }
    };
    shift(m_shown);
    shift(m_order);
    shift(m_changed);
    m_positionOf.insert(m_positionOf.begin() + first, size_t(added), -1);
    for (size_t i = 0; i < m_shown.size(); ++i)
        m_positionOf[size_t(m_shown[i])] = int(i);
    // New rows find their place with the next frame's changes.
    scheduleChanged(first, last);
}

void ShownRowsModel::onRowsAboutToBeRemoved(const QModelIndex &, int first, int last)
{
    for (int row = first; row <= last; ++row)
        countCategory(m_category[size_t(row)], -1);
    if (m_allInListOrder) {
        beginRemoveRows({}, first, last);
        return;
    }
    applyPendingChanges();
    if (m_allInListOrder) {
        beginRemoveRows({}, first, last);
        return;
    }
    std::vector<int> next;
    next.reserve(m_shown.size());
    for (int row : m_shown) {
        if (row < first || row > last)
            next.push_back(row);
    }
    showRows(std::move(next));
}

void ShownRowsModel::onRowsRemoved(const QModelIndex &, int first, int last)
{
    const int removed = last - first + 1;
    m_category.erase(m_category.begin() + first, m_category.begin() + last + 1);
    if (m_changedMark.size() > size_t(last))
        m_changedMark.erase(m_changedMark.begin() + first, m_changedMark.begin() + last + 1);
    emit countsChanged();
    if (m_allInListOrder) {
        endRemoveRows();
        return;
    }
    const auto renumber = [first, last, removed](std::vector<int> &rows) {
        size_t kept = 0;
        for (int row : rows) {
            if (row >= first && row <= last)
                continue;
            rows[kept++] = row > last ? row - removed : row;
        }
        rows.resize(kept);
    };
    renumber(m_shown);
    renumber(m_order);
    rebuildPositions();
}

void ShownRowsModel::onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    const int first = topLeft.row();
    const int last = bottomRight.row();
    if (bottomRight.column() < DomainListModel::RecordNoColumn) {
        // Renumbered IDs: every shown row may carry one of them.
        if (m_allInListOrder)
            emit dataChanged(index(first, 0), index(last, bottomRight.column()), roles);
        else if (!m_shown.empty())
            emit dataChanged(index(0, 0), index(int(m_shown.size()) - 1, bottomRight.column()), roles);
        return;
    }
    bool countsMoved = false;
    for (int row = first; row <= last; ++row) {
        const quint8 category = categoryOf(row);
        if (category != m_category[size_t(row)]) {
            countCategory(m_category[size_t(row)], -1);
            countCategory(category, 1);
            m_category[size_t(row)] = category;
            countsMoved = true;
        }
    }
    if (countsMoved)
        emit countsChanged();
    if (m_allInListOrder) {
        emit dataChanged(index(first, topLeft.column()), index(last, bottomRight.column()), roles);
        return;
    }
    const bool mayMove = (m_sortColumn >= topLeft.column() && m_sortColumn <= bottomRight.column())
        || m_kind != Kind::All || !m_findText.isEmpty();
    for (int row = first; row <= last; ++row) {
        const int position = m_positionOf[size_t(row)];
        if (position >= 0)
            emit dataChanged(index(position, topLeft.column()), index(position, bottomRight.column()), roles);
    }
    if (mayMove)
        scheduleChanged(first, last);
}

} // namespace quernfold
