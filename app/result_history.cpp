#include "app/result_history.h"

#include <QDateTime>

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

void writeReusedResult(DomainListModel &model, RowKey row, const HistoryEntry &entry)
{
    const QString when = QDateTime::fromSecsSinceEpoch(entry.lookedUpAt).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    model.setLookupResult(
        row, entry.record, entry.status, QStringLiteral("复用%1的查询结果").arg(when), entry.lookedUpAt);
}

namespace {
// Rarely enough that a burst holds hundreds of results, often enough that a killed run loses little.
constexpr int kHistoryBurstMs = 250;
} // namespace

HistoryRecorder::HistoryRecorder(ResultsStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kHistoryBurstMs);
    connect(&m_timer, &QTimer::timeout, this, &HistoryRecorder::flush);
}

HistoryRecorder::~HistoryRecorder()
{
    flush();
}

void HistoryRecorder::add(const DomainListModel &model, RowKey row)
{
    const DomainRow *r = model.find(row);
    if (!r || !r->lookup)
        return;
    m_pending.push_back({ r->domain, r->lookup->record, r->lookup->status, QDateTime::currentSecsSinceEpoch() });
    if (!m_timer.isActive())
        m_timer.start();
}

void HistoryRecorder::flush()
{
    m_timer.stop();
    for (const Result &result : std::exchange(m_pending, {}))
        m_store.recordResult(result.domain, result.record, result.status, result.lookedUpAt);
}

} // namespace quernfold
