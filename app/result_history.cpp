#include "app/result_history.h"

#include "domainlist/filing_change.h"

#include <QDateTime>
#include <QPointer>

namespace quernfold {

ReuseMatcher::ReuseMatcher(const DomainListModel &model, std::vector<RowKey> rows)
    : m_rows(std::move(rows))
    , m_next(m_rows.size(), -1)
    , m_filled(m_rows.size(), false)
{
    m_first.reserve(qsizetype(m_rows.size()));
    // Walked backwards so that each domain's chain runs in row order.
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        // Kept one up, so that a freshly made entry's 0 means "no row yet".
        const DomainRow *row = model.find(m_rows[size_t(i)]);
        if (!row)
            continue;
        int &first = m_first[row->domain];
        m_next[size_t(i)] = first - 1;
        first = i + 1;
    }
}

QStringList ReuseMatcher::domains() const
{
    return m_first.keys();
}

void ReuseMatcher::take(
    const QHash<QString, HistoryEntry> &part, const std::function<void(RowKey row, const HistoryEntry &)> &fill)
{
    for (auto entry = part.cbegin(); entry != part.cend(); ++entry) {
        const auto found = m_first.constFind(entry.key());
        if (found == m_first.cend())
            continue;
        for (int i = found.value() - 1; i >= 0; i = m_next[size_t(i)]) {
            m_filled[size_t(i)] = true;
            fill(m_rows[size_t(i)], entry.value());
        }
    }
}

std::vector<RowKey> ReuseMatcher::rowsLeft() const
{
    std::vector<RowKey> left;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (!m_filled[i])
            left.push_back(m_rows[i]);
    }
    return left;
}

qint64 reuseCutoff(int reuseDays, qint64 nowSecs)
{
    return nowSecs - qint64(reuseDays) * 24 * 3600;
}

qint64 historyCutoff(int historyDays, qint64 nowSecs)
{
    return nowSecs - qint64(historyDays) * 24 * 3600;
}

void writeReusedResult(DomainListModel &model, RowKey row, const HistoryEntry &entry)
{
    const QString when = QDateTime::fromSecsSinceEpoch(entry.lookedUpAt).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    model.setLookupResult(
        row, entry.record, entry.status, QStringLiteral("复用%1的查询结果").arg(when), entry.lookedUpAt);
}

HistoryRecorder::HistoryRecorder(ResultsStore &store, DomainListModel &model, int burstMs, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_model(model)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(burstMs);
    connect(&m_timer, &QTimer::timeout, this, &HistoryRecorder::flush);
}

HistoryRecorder::~HistoryRecorder()
{
    flush();
}

void HistoryRecorder::add(RowKey row)
{
    const DomainRow *r = m_model.find(row);
    if (!r || !r->lookup)
        return;
    const LookupCells &cells = *r->lookup;
    const qint64 when = cells.lookedUpAt > 0 ? cells.lookedUpAt : QDateTime::currentSecsSinceEpoch();
    m_pending.push_back({ row, { r->domain, cells.record, cells.status, when, row } });
    if (!m_timer.isActive())
        m_timer.start();
}

void HistoryRecorder::flush()
{
    m_timer.stop();
    if (m_pending.empty())
        return;
    auto burst = std::make_shared<std::vector<Pending>>(std::exchange(m_pending, {}));
    std::vector<FinishedLookup> results;
    results.reserve(burst->size());
    for (const Pending &pending : *burst)
        results.push_back(pending.result);
    ++m_comparing;
    // The answer may come after this recorder (and the run it served) is gone.
    m_store.recordResults(std::move(results),
        [recorder = QPointer<HistoryRecorder>(this), burst](QHash<QString, FilingVersion> previous) {
            if (recorder)
                recorder->takeChanges(*burst, previous);
        });
}

void HistoryRecorder::takeChanges(const std::vector<Pending> &burst, const QHash<QString, FilingVersion> &previous)
{
    --m_comparing;
    std::vector<RowKey> rows;
    rows.reserve(burst.size());
    for (const Pending &pending : burst) {
        rows.push_back(pending.row);
        const auto found = previous.constFind(pending.result.domain);
        if (found == previous.cend())
            continue;
        // A row looked up again meanwhile, or one whose domain's second row made the newer version, shows nothing
        // from this comparison.
        const DomainRow *r = m_model.find(pending.row);
        if (!r || !r->lookup)
            continue;
        const LookupCells &cells = *r->lookup;
        const FilingRecord &now = pending.result.record;
        const bool unchanged = cells.record.recordNo == now.recordNo && cells.record.holder == now.holder
            && cells.record.recordType == now.recordType && cells.record.siteName == now.siteName
            && cells.status == pending.result.status
            && (cells.lookedUpAt == 0 || cells.lookedUpAt == pending.result.lookedUpAt);
        if (!unchanged)
            continue;
        const QString change = changeText(*found, now);
        if (!change.isEmpty())
            m_model.setChange(pending.row, change, std::make_shared<const PreviousResult>(*found));
    }
    if (m_compared)
        m_compared(rows);
}

} // namespace quernfold
