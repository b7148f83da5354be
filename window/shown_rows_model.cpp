#include "window/shown_rows_model.h"

#include "window/reading_order.h"

#include <QHash>
#include <QThread>

#include <algorithm>
#include <optional>
#include <string_view>
#include <thread>

namespace quernfold {

namespace {

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

// Read-only views of texts other threads also read: nothing here may detach or write a shared string.
std::u16string_view viewOf(const QString &text)
{
    return std::u16string_view(reinterpret_cast<const char16_t *>(text.constData()), size_t(text.size()));
}

RowKind rowKindOf(ShownRowsModel::Kind kind)
{
    switch (kind) {
    case ShownRowsModel::Kind::Found:
        return RowKind::Found;
    case ShownRowsModel::Kind::NoRecord:
        return RowKind::NoRecord;
    case ShownRowsModel::Kind::Deleted:
        return RowKind::Deleted;
    case ShownRowsModel::Kind::Changed:
        return RowKind::Changed;
    default:
        return RowKind::Unfinished;
    }
}

// Past this many rows entering at once, a sorted list is sorted again rather than merged into.
constexpr size_t kMostRowsPlaced = 50000;
// Rows removed or inserted in more runs than this go as one block at the end, moved there by a layout change:
// each announced run costs a view a pass over its rows.
constexpr size_t kMostAnnouncedRuns = 8;

} // namespace

// A set of the list's keys, a bit each: what a change of the shown rows asks of a million keys at a time. A key's bit
// is its distance from the list's first key, found without a look-up in the list (a look-up is a cache miss per
// key, and a move between two shown sets made four of them a row). Only a list whose keys have spread far wider
// than its rows, most of it removed and added again many times over, is marked by position instead.
class ShownRowsModel::KeyMarks
{
public:
    explicit KeyMarks(const DomainListModel &list)
        : m_list(list)
    {
        const int count = list.count();
        if (count == 0)
            return;
        m_first = keyValue(list.keyAt(0));
        const qint64 span = keyValue(list.keyAt(count - 1)) - m_first + 1;
        m_byPosition = span > kWidestSpanPerRow * count + kWidestSpanSlack;
        m_bits = m_byPosition ? count : span;
        m_words.assign(size_t((m_bits + 63) / 64), 0);
    }

    void insert(RowKey key) { set(bitOf(key)); }
    // The row at a position, without looking its key up.
    void insertAt(int position) { set(m_byPosition ? position : keyValue(m_list.keyAt(position)) - m_first); }
    bool contains(RowKey key) const { return test(bitOf(key)); }
    bool containsAt(int position) const
    {
        return test(m_byPosition ? position : keyValue(m_list.keyAt(position)) - m_first);
    }
    template <typename Keys> void insertAll(const Keys &keys)
    {
        for (const RowKey key : keys)
            insert(key);
    }

private:
    // Past 32 bits a row (and a megabit for a short list) the marks would no longer stay in the cache.
    static constexpr qint64 kWidestSpanPerRow = 32;
    static constexpr qint64 kWidestSpanSlack = qint64(1) << 20;

    qint64 bitOf(RowKey key) const
    {
        if (m_byPosition)
            return m_list.positionOf(key);
        const qint64 bit = keyValue(key) - m_first;
        return bit >= 0 && bit < m_bits ? bit : -1;
    }
    void set(qint64 bit)
    {
        if (bit >= 0)
            m_words[size_t(bit >> 6)] |= quint64(1) << (bit & 63);
    }
    bool test(qint64 bit) const { return bit >= 0 && (m_words[size_t(bit >> 6)] >> (bit & 63)) & 1; }

    const DomainListModel &m_list;
    qint64 m_first = 0;
    qint64 m_bits = 0;
    bool m_byPosition = false;
    std::vector<quint64> m_words;
};

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
    connect(&source, &QAbstractItemModel::rowsAboutToBeInserted, this,
        [this](const QModelIndex &, int first, int last) { onRowsAboutToBeInserted(first, last); });
    connect(&source, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex &, int first, int last) { onRowsInserted(first, last); });
    connect(&source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex &, int first, int last) { onRowsAboutToBeRemoved(first, last); });
    connect(&source, &QAbstractItemModel::rowsRemoved, this,
        [this](const QModelIndex &, int first, int last) { onRowsRemoved(first, last); });
    connect(&source, &DomainListModel::rowsAboutToBeDropped, this, &ShownRowsModel::onRowsAboutToBeDropped);
    connect(&source, &QAbstractItemModel::dataChanged, this, &ShownRowsModel::onDataChanged);
}

int ShownRowsModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_identity ? m_source.count() : int(m_shown.size());
}

int ShownRowsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : DomainListModel::ColumnCount;
}

QVariant ShownRowsModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int position = sourceRow(index.row());
    if (position < 0)
        return {};
    return m_source.data(m_source.index(position, index.column()), role);
}

QVariant ShownRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return m_source.headerData(section, orientation, role);
}

Qt::ItemFlags ShownRowsModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

RowKey ShownRowsModel::keyAt(int shownRow) const
{
    if (shownRow < 0 || shownRow >= rowCount())
        return RowKey::None;
    return m_identity ? m_source.keyAt(shownRow) : m_shown[size_t(shownRow)];
}

int ShownRowsModel::sourceRow(int shownRow) const
{
    if (m_identity)
        return shownRow >= 0 && shownRow < m_source.count() ? shownRow : -1;
    const RowKey key = keyAt(shownRow);
    return key == RowKey::None ? -1 : m_source.positionOf(key);
}

int ShownRowsModel::shownRowOf(RowKey key) const
{
    if (m_identity)
        return m_source.positionOf(key);
    if (m_sortColumn < 0) {
        // In list order the shown keys rise.
        const auto at = std::lower_bound(m_shown.begin(), m_shown.end(), key);
        return at != m_shown.end() && *at == key ? int(at - m_shown.begin()) : -1;
    }
    const auto at = std::find(m_shown.begin(), m_shown.end(), key);
    return at == m_shown.end() ? -1 : int(at - m_shown.begin());
}

std::vector<RowKey> ShownRowsModel::shownKeys()
{
    applyPendingChanges();
    return m_identity ? allKeys() : m_shown;
}

int ShownRowsModel::count(Kind kind) const
{
    return kind == Kind::All ? m_source.count() : m_source.count(rowKindOf(kind));
}

std::vector<RowKey> ShownRowsModel::allKeys() const
{
    std::vector<RowKey> keys(size_t(m_source.count()));
    for (int position = 0; position < m_source.count(); ++position)
        keys[size_t(position)] = m_source.keyAt(position);
    return keys;
}

bool ShownRowsModel::matches(int position, bool *readRecord) const
{
    if (m_kind != Kind::All && !m_source.isOfKind(position, rowKindOf(m_kind)))
        return false;
    if (m_findText.isEmpty())
        return true;
    // A text without case is searched for the folded text as it stands, and so is every text when the text sought
    // has no case (Chinese, digits): a plain scan is several times faster than a caseless search.
    const std::u16string_view folded = viewOf(m_foldedText);
    const quint8 textCase = m_source.textCase(position);
    const auto contains = [this, textCase, folded](const QString &text, quint8 hasCase) {
        if (m_findHasCase && (textCase & hasCase))
            return m_findMatcher.indexIn(QStringView(text)) >= 0;
        return viewOf(text).find(folded) != std::u16string_view::npos;
    };
    const DomainRow &row = m_source.row(position);
    if (contains(row.domain, DomainListModel::DomainHasCase))
        return true;
    if (!row.lookup)
        return false;
    if (readRecord)
        *readRecord = true;
    const FilingRecord &record = row.lookup->record;
    return contains(record.recordNo, DomainListModel::RecordNoHasCase)
        || contains(record.holder, DomainListModel::HolderHasCase)
        || contains(record.siteName, DomainListModel::SiteNameHasCase);
}

void ShownRowsModel::prefetchCells(int position) const
{
    const DomainRow &row = m_source.row(position);
    if (const LookupCells *cells = row.lookup.get()) {
        __builtin_prefetch(&cells->record.recordNo);
        __builtin_prefetch(&cells->record.siteName);
    }
}

void ShownRowsModel::prefetchTexts(int position) const
{
    if (const LookupCells *cells = m_source.row(position).lookup.get()) {
        __builtin_prefetch(cells->record.recordNo.constData());
        __builtin_prefetch(cells->record.holder.constData());
        __builtin_prefetch(cells->record.siteName.constData());
    }
}

std::vector<quint8> ShownRowsModel::matchingPositions(const KeyMarks *among) const
{
    const int count = m_source.count();
    std::vector<quint8> matching(size_t(count), 0);
    // A row's record is three hops from the list (the row, its lookup's cells, the texts), each a wait on memory
    // that the search itself barely adds to. While most rows need their records read (the domain did not match),
    // the hops of the rows ahead are asked for early so the waits overlap; while the domains match, that would
    // only fetch what nobody reads.
    const bool readsTexts = !m_findText.isEmpty();
    const auto mark = [this, among, readsTexts, &matching](int from, int to) {
        constexpr int kCellsAhead = 16;
        constexpr int kTextsAhead = 8;
        // A bit for each of the last 32 rows: whether it read its record.
        quint32 recordsRead = 0;
        for (int position = from; position < to; ++position) {
            if (readsTexts && qPopulationCount(recordsRead) >= 16) {
                if (position + kCellsAhead < to)
                    prefetchCells(position + kCellsAhead);
                if (position + kTextsAhead < to)
                    prefetchTexts(position + kTextsAhead);
            }
            bool readRecord = false;
            matching[size_t(position)] = (!among || among->containsAt(position)) && matches(position, &readRecord);
            recordsRead = recordsRead << 1 | quint32(readRecord);
        }
    };
    // The texts are only read, so a long list is split between the cores: the search waits on memory far more
    // than it computes.
    constexpr int kRowsPerThread = 250000;
    const int threads = std::clamp(count / kRowsPerThread, 1, std::max(1, QThread::idealThreadCount()));
    std::vector<std::thread> helpers;
    for (int part = 1; part < threads; ++part)
        helpers.emplace_back(mark, int(qint64(count) * part / threads), int(qint64(count) * (part + 1) / threads));
    mark(0, count / threads);
    for (std::thread &helper : helpers)
        helper.join();
    return matching;
}

std::vector<RowKey> ShownRowsModel::filtered(const std::vector<RowKey> &candidates) const
{
    std::vector<RowKey> keys;
    if (m_kind == Kind::All && m_findText.isEmpty())
        return candidates;
    const int count = m_source.count();
    if (candidates.size() < size_t(count) / 64) {
        for (const RowKey key : candidates) {
            const int position = m_source.positionOf(key);
            if (position >= 0 && matches(position))
                keys.push_back(key);
        }
        return keys;
    }
    // Rows are read in list order, the order their texts lie in memory; the candidates' order (a sort) would jump
    // about and wait on memory for every row. Rows that are no candidates cost a bit's test.
    std::optional<KeyMarks> among;
    if (candidates.size() < size_t(count)) {
        among.emplace(m_source);
        among->insertAll(candidates);
    }
    const std::vector<quint8> matching = matchingPositions(among ? &*among : nullptr);
    KeyMarks passing(m_source);
    for (int position = 0; position < count; ++position) {
        if (matching[size_t(position)])
            passing.insertAt(position);
    }
    keys.reserve(size_t(std::count(matching.begin(), matching.end(), quint8(1))));
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(keys),
        [&passing](RowKey key) { return passing.contains(key); });
    return keys;
}

std::vector<RowKey> ShownRowsModel::sortedKeys() const
{
    if (m_sortColumn < 0)
        return allKeys();
    std::vector<int> positions(size_t(m_source.count()));
    for (size_t i = 0; i < positions.size(); ++i)
        positions[i] = int(i);
    const auto column = DomainListModel::Column(m_sortColumn);
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    // Ties stay in ascending position, which is list order and key order.
    if (column == DomainListModel::LookedUpAtColumn) {
        std::stable_sort(positions.begin(), positions.end(), [this, descending](int a, int b) {
            const qint64 timeA = m_source.lookedUpAt(a);
            const qint64 timeB = m_source.lookedUpAt(b);
            return descending ? timeA > timeB : timeA < timeB;
        });
    } else {
        sortByReadingKey(positions, descending,
            [this, column](int position) -> const QString & { return m_source.text(position, column); });
    }
    // The keys in list order, rearranged where they stand by following each cycle of the sort once: a million keys
    // are held once, and read from one block rather than from the list's rows at random places.
    std::vector<RowKey> keys = allKeys();
    for (size_t start = 0; start < positions.size(); ++start) {
        if (positions[start] < 0)
            continue;
        const RowKey first = keys[start];
        size_t to = start;
        for (;;) {
            const size_t from = size_t(positions[to]);
            positions[to] = -1;
            if (from == start) {
                keys[to] = first;
                break;
            }
            keys[to] = keys[from];
            to = from;
        }
    }
    return keys;
}

void ShownRowsModel::appendSortKey(int position, std::string &key) const
{
    if (m_sortColumn != DomainListModel::LookedUpAtColumn) {
        appendReadingKey(m_source.text(position, DomainListModel::Column(m_sortColumn)), key);
        return;
    }
    // Big-endian with the sign bit flipped: the bytes compare as the times do.
    const quint64 time = quint64(m_source.lookedUpAt(position)) ^ (quint64(1) << 63);
    for (int shift = 56; shift >= 0; shift -= 8)
        key += char((time >> shift) & 0xff);
}

bool ShownRowsModel::placedBefore(RowKey a, RowKey b) const
{
    if (m_sortColumn < 0)
        return a < b;
    std::string keyA;
    std::string keyB;
    appendSortKey(m_source.positionOf(a), keyA);
    appendSortKey(m_source.positionOf(b), keyB);
    const int order = keyA.compare(keyB);
    if (order != 0)
        return m_sortOrder == Qt::DescendingOrder ? order > 0 : order < 0;
    return a < b;
}

std::vector<RowKey> ShownRowsModel::placed(
    const std::vector<RowKey> &base, std::vector<RowKey> entering, bool onlyMatching) const
{
    if (onlyMatching)
        entering = filtered(entering);
    if (entering.empty())
        return base;
    std::vector<RowKey> merged;
    merged.reserve(base.size() + entering.size());
    if (m_sortColumn < 0) {
        std::sort(entering.begin(), entering.end());
        std::merge(base.begin(), base.end(), entering.begin(), entering.end(), std::back_inserter(merged));
        return merged;
    }
    // Each entering row's key is made once; a row already in place needs its key only when a search meets it.
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    struct Keyed {
        std::string sortKey;
        RowKey key;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entering.size());
    for (const RowKey key : entering) {
        keyed.push_back({ {}, key });
        appendSortKey(m_source.positionOf(key), keyed.back().sortKey);
    }
    std::sort(keyed.begin(), keyed.end(), [descending](const Keyed &a, const Keyed &b) {
        const int order = a.sortKey.compare(b.sortKey);
        if (order != 0)
            return descending ? order > 0 : order < 0;
        return a.key < b.key;
    });
    std::string scratch;
    const auto before = [&](RowKey placedKey, const Keyed &entry) {
        scratch.clear();
        appendSortKey(m_source.positionOf(placedKey), scratch);
        const int order = scratch.compare(entry.sortKey);
        if (order != 0)
            return descending ? order > 0 : order < 0;
        return placedKey < entry.key;
    };
    auto from = base.begin();
    for (const Keyed &entry : keyed) {
        const auto at = std::lower_bound(from, base.end(), entry, before);
        merged.insert(merged.end(), from, at);
        merged.push_back(entry.key);
        from = at;
    }
    merged.insert(merged.end(), from, base.end());
    return merged;
}

void ShownRowsModel::leaveIdentity()
{
    if (!m_identity)
        return;
    m_shown = allKeys();
    m_identity = false;
}

void ShownRowsModel::enterIdentityIfDue()
{
    if (m_identity || !wantsIdentity())
        return;
    // Every row shown in list order, so views see nothing change. (While the list is about to drop rows, those
    // are still in it and not shown: the list's reset finishes the step.)
    if (int(m_shown.size()) != m_source.count())
        return;
    std::vector<RowKey>().swap(m_shown);
    std::vector<RowKey>().swap(m_order);
    m_identity = true;
}

void ShownRowsModel::reorderTo(std::vector<RowKey> order)
{
    if (order == m_shown)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<RowKey> beforeKeys;
    beforeKeys.reserve(size_t(before.size()));
    // Only the few keys that persistent indexes name are looked for in the new order.
    QHash<RowKey, int> newRow;
    for (const QModelIndex &index : before) {
        beforeKeys.push_back(m_shown[size_t(index.row())]);
        newRow.insert(beforeKeys.back(), -1);
    }
    m_shown = std::move(order);
    if (!newRow.isEmpty()) {
        for (size_t row = 0; row < m_shown.size(); ++row) {
            const auto found = newRow.find(m_shown[row]);
            if (found != newRow.end())
                *found = int(row);
        }
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int row = newRow.value(beforeKeys[size_t(i)], -1);
        after << (row >= 0 ? index(row, before[i].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ShownRowsModel::moveTo(std::vector<RowKey> next)
{
    leaveIdentity();
    if (next == m_shown) {
        enterIdentityIfDue();
        return;
    }
    KeyMarks shownNow(m_source);
    shownNow.insertAll(m_shown);
    KeyMarks shownNext(m_source);
    shownNext.insertAll(next);
    const auto staysShown = [&shownNext](RowKey key) { return shownNext.contains(key); };
    const auto wasShown = [&shownNow](RowKey key) { return shownNow.contains(key); };

    // Rows that leave: removed where they stand when they are a few runs, else gathered at the end and removed
    // there as one.
    std::vector<std::pair<int, int>> leaving;
    for (int row = 0; row < int(m_shown.size()); ++row) {
        if (staysShown(m_shown[size_t(row)]))
            continue;
        if (!leaving.empty() && leaving.back().second + 1 == row)
            leaving.back().second = row;
        else
            leaving.emplace_back(row, row);
    }
    if (!leaving.empty()) {
        if (leaving.size() > kMostAnnouncedRuns) {
            std::vector<RowKey> gathered;
            gathered.reserve(m_shown.size());
            std::copy_if(m_shown.begin(), m_shown.end(), std::back_inserter(gathered), staysShown);
            const size_t kept = gathered.size();
            std::copy_if(m_shown.begin(), m_shown.end(), std::back_inserter(gathered),
                [&staysShown](RowKey key) { return !staysShown(key); });
            reorderTo(std::move(gathered));
            leaving.assign(1, { int(kept), int(m_shown.size()) - 1 });
        }
        for (auto run = leaving.rbegin(); run != leaving.rend(); ++run) {
            beginRemoveRows({}, run->first, run->second);
            m_shown.erase(m_shown.begin() + run->first, m_shown.begin() + run->second + 1);
            endRemoveRows();
        }
    }

    // Rows that come: inserted where they belong when the rows that stay keep their order and the newcomers come in
    // a few runs; else appended as one block and moved into place by a layout change.
    // Whether the rows that stay come in `next` in the order they stand now.
    bool keptInOrder = true;
    size_t kept = 0;
    std::vector<std::pair<int, int>> coming;
    for (int row = 0; row < int(next.size()); ++row) {
        if (wasShown(next[size_t(row)])) {
            keptInOrder = keptInOrder && kept < m_shown.size() && m_shown[kept] == next[size_t(row)];
            ++kept;
            continue;
        }
        if (!coming.empty() && coming.back().second + 1 == row)
            coming.back().second = row;
        else
            coming.emplace_back(row, row);
    }
    if (!coming.empty()) {
        m_shown.reserve(next.size());
        if (keptInOrder && coming.size() <= kMostAnnouncedRuns) {
            // Top down: every row above a run is in its final place when the run goes in.
            for (const auto &[first, last] : coming) {
                beginInsertRows({}, first, last);
                m_shown.insert(m_shown.begin() + first, next.begin() + first, next.begin() + last + 1);
                endInsertRows();
            }
        } else {
            const int first = int(m_shown.size());
            beginInsertRows({}, first, first + int(next.size() - kept) - 1);
            std::copy_if(
                next.begin(), next.end(), std::back_inserter(m_shown), [&wasShown](RowKey key) { return !wasShown(key); });
            endInsertRows();
        }
    }
    reorderTo(std::move(next));
    enterIdentityIfDue();
}

void ShownRowsModel::sortBy(int column, Qt::SortOrder order)
{
    applyPendingChanges();
    if (column <= DomainListModel::IdColumn || column >= DomainListModel::ColumnCount) {
        m_sortColumn = -1;
        std::vector<RowKey>().swap(m_order);
    } else {
        m_sortColumn = column;
        m_sortOrder = order;
        // The old order goes first: a million keys fewer held while sorting.
        std::vector<RowKey>().swap(m_order);
        m_order = sortedKeys();
    }
    refilter(false);
}

void ShownRowsModel::setKind(Kind kind)
{
    applyPendingChanges();
    if (kind == m_kind)
        return;
    m_kind = kind;
    refilter(false);
}

void ShownRowsModel::setFindText(const QString &text)
{
    applyPendingChanges();
    if (text == m_findText)
        return;
    // A text that contains the one before shows a subset of what that one showed: only those rows need looking at
    // again. Any other text (a shorter one, a different one) searches the whole list.
    const bool narrowing = !m_findText.isEmpty() && text.contains(m_findText, Qt::CaseInsensitive);
    m_findText = text;
    m_findMatcher = QStringMatcher(text, Qt::CaseInsensitive);
    m_foldedText = text.toCaseFolded();
    m_findHasCase = hasCasedLetter(text);
    refilter(narrowing);
}

void ShownRowsModel::refilter(bool narrowing)
{
    moveTo(nextShown(narrowing));
}

std::vector<RowKey> ShownRowsModel::nextShown(bool narrowing) const
{
    if (narrowing && !m_identity)
        return filtered(m_shown);
    if (m_sortColumn >= 0)
        return filtered(m_order);
    if (m_kind == Kind::All && m_findText.isEmpty())
        return allKeys();
    const std::vector<quint8> matching = matchingPositions();
    std::vector<RowKey> next;
    next.reserve(size_t(std::count(matching.begin(), matching.end(), quint8(1))));
    for (int position = 0; position < m_source.count(); ++position) {
        if (matching[size_t(position)])
            next.push_back(m_source.keyAt(position));
    }
    return next;
}


void ShownRowsModel::applyPendingChanges()
{
    m_frameTimer.stop();
    emit countsChanged();
    if (m_changed.empty())
        return;
    std::vector<RowKey> changed = std::exchange(m_changed, {});
    if (m_identity)
        return;
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    changed.erase(std::remove_if(changed.begin(), changed.end(), [this](RowKey key) { return !m_source.contains(key); }),
        changed.end());
    KeyMarks isChanged(m_source);
    isChanged.insertAll(changed);
    const auto unchanged = [&isChanged](const std::vector<RowKey> &keys) {
        std::vector<RowKey> kept;
        kept.reserve(keys.size());
        std::copy_if(keys.begin(), keys.end(), std::back_inserter(kept),
            [&isChanged](RowKey key) { return !isChanged.contains(key); });
        return kept;
    };
    if (m_sortColumn >= 0)
        m_order = placed(unchanged(m_order), changed, false);
    // Taken apart before `changed` is handed on: an argument moved from first would leave nothing to take out.
    std::vector<RowKey> kept = unchanged(m_shown);
    moveTo(placed(kept, std::move(changed), true));
}

void ShownRowsModel::scheduleFrame()
{
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
}

void ShownRowsModel::forget(const std::vector<RowKey> &goneKeys)
{
    // The rows are still in the list, so their marks are found.
    KeyMarks isGone(m_source);
    isGone.insertAll(goneKeys);
    const auto gone = [&isGone](RowKey key) { return isGone.contains(key); };
    m_order.erase(std::remove_if(m_order.begin(), m_order.end(), gone), m_order.end());
    m_changed.erase(std::remove_if(m_changed.begin(), m_changed.end(), gone), m_changed.end());
    std::vector<RowKey> next;
    next.reserve(m_shown.size());
    std::copy_if(m_shown.begin(), m_shown.end(), std::back_inserter(next), [&gone](RowKey key) { return !gone(key); });
    moveTo(std::move(next));
}

void ShownRowsModel::onAboutToBeReset()
{
    // A reset that only drops rows was told row by row just before.
    if (m_source.isDroppingRows())
        return;
    beginResetModel();
}

void ShownRowsModel::onReset()
{
    if (m_source.isDroppingRows()) {
        enterIdentityIfDue();
        return;
    }
    m_frameTimer.stop();
    m_changed.clear();
    m_order.clear();
    m_shown.clear();
    m_identity = wantsIdentity();
    if (!m_identity) {
        if (m_sortColumn >= 0)
            m_order = sortedKeys();
        m_shown = m_sortColumn >= 0 ? filtered(m_order) : filtered(allKeys());
    }
    endResetModel();
    emit countsChanged();
}

void ShownRowsModel::onRowsAboutToBeInserted(int first, int last)
{
    if (m_identity)
        beginInsertRows({}, first, last);
}

void ShownRowsModel::onRowsInserted(int first, int last)
{
    if (m_identity) {
        endInsertRows();
        scheduleFrame();
        return;
    }
    applyPendingChanges();
    std::vector<RowKey> entering;
    entering.reserve(size_t(last - first + 1));
    for (int position = first; position <= last; ++position)
        entering.push_back(m_source.keyAt(position));
    if (m_sortColumn >= 0 && entering.size() > kMostRowsPlaced) {
        m_order = sortedKeys();
        moveTo(filtered(m_order));
        return;
    }
    if (m_sortColumn >= 0)
        m_order = placed(m_order, entering, false);
    moveTo(placed(m_shown, std::move(entering), true));
}

void ShownRowsModel::onRowsAboutToBeRemoved(int first, int last)
{
    if (m_identity) {
        beginRemoveRows({}, first, last);
        return;
    }
    applyPendingChanges();
    std::vector<RowKey> gone;
    gone.reserve(size_t(last - first + 1));
    for (int position = first; position <= last; ++position)
        gone.push_back(m_source.keyAt(position));
    forget(gone);
}

void ShownRowsModel::onRowsRemoved(int, int)
{
    if (m_identity)
        endRemoveRows();
    enterIdentityIfDue();
    scheduleFrame();
}

void ShownRowsModel::onRowsAboutToBeDropped(const std::vector<RowKey> &keys)
{
    // The list is still whole: the rows leave the view one block at a time while their places are known, and the
    // list's reset that follows changes nothing here.
    applyPendingChanges();
    forget(keys);
    scheduleFrame();
}

void ShownRowsModel::onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    const int first = topLeft.row();
    const int last = bottomRight.row();
    scheduleFrame();
    if (m_identity) {
        emit dataChanged(index(first, topLeft.column()), index(last, bottomRight.column()), roles);
        return;
    }
    // The view repaints only what is on screen, so one change over every shown row costs no more than finding the
    // shown rows of these.
    if (!m_shown.empty())
        emit dataChanged(index(0, topLeft.column()), index(int(m_shown.size()) - 1, bottomRight.column()), roles);
    if (bottomRight.column() < DomainListModel::RecordNoColumn)
        return;
    const bool mayMove = (m_sortColumn >= topLeft.column() && m_sortColumn <= bottomRight.column())
        || m_kind != Kind::All || !m_findText.isEmpty();
    if (!mayMove)
        return;
    for (int position = first; position <= last; ++position)
        m_changed.push_back(m_source.keyAt(position));
}

} // namespace quernfold
