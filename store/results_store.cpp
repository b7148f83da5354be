#include "store/results_store.h"

#include "store/store_writer.h"

#include <QStandardPaths>
#include <algorithm>
#include <numeric>

namespace quernfold {

namespace {

const QString kFinished = QStringLiteral("查询完毕");

} // namespace

QString ResultsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/quernfold/quernfold.db");
}

QString ResultsStore::integrityReport(const QString &path)
{
    store::Database db;
    if (!db.open(path))
        return db.errorText();
    const QString report = db.queryText("PRAGMA integrity_check");
    return report.isEmpty() ? db.errorText() : report;
}

ResultsStore::ResultsStore(const QString &path, QObject *parent)
    : ResultsStore(path, Scope::ListAndHistory, parent)
{ }

ResultsStore::ResultsStore(const QString &path, Scope scope, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_savesList(scope == Scope::ListAndHistory)
{
    store::StoreWriter::Events events;
    events.committed = [this](quint64 opsDone) { writerCommitted(opsDone); };
    events.problem = [this](Problem problem, const QString &reason) { writerReported(problem, reason); };
    m_writer = std::make_unique<store::StoreWriter>(path, this, std::move(events), scope == Scope::HistoryOnly);
}

ResultsStore::~ResultsStore() = default;

bool ResultsStore::takeListChange()
{
    if (!m_savesList)
        return false;
    if (m_restorePending) {
        qWarning("quernfold: a list change made before the stored list arrived is not saved");
        return false;
    }
    if (!m_listAdopted)
        startListAfresh();
    return true;
}

void ResultsStore::startListAfresh()
{
    m_writer->push(store::op::ClearList {});
    m_keys.clear();
    m_keys.shrink_to_fit();
    // Keys start again, since no row of the old list is left to clash with.
    m_nextKey = 1;
    m_listAdopted = true;
}

void ResultsStore::appendRows(QStringList domains)
{
    if (!takeListChange() || domains.isEmpty())
        return;
    const qint64 firstKey = m_nextKey;
    const size_t before = m_keys.size();
    m_keys.resize(before + size_t(domains.size()));
    std::iota(m_keys.begin() + qsizetype(before), m_keys.end(), firstKey);
    m_nextKey += domains.size();
    m_writer->push(store::op::AppendRows { firstKey, std::move(domains) });
}

void ResultsStore::removeRows(std::vector<int> positions)
{
    if (!takeListChange())
        return;
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    const auto valid = [this](int position) { return position >= 0 && size_t(position) < m_keys.size(); };
    positions.erase(
        std::remove_if(positions.begin(), positions.end(), [&](int p) { return !valid(p); }), positions.end());
    if (positions.empty())
        return;
    std::vector<qint64> removed;
    removed.reserve(positions.size());
    // One pass closes every gap, however many rows go.
    auto write = m_keys.begin() + positions.front();
    size_t next = 0;
    for (auto read = write; read != m_keys.end(); ++read) {
        if (next < positions.size() && read - m_keys.begin() == positions[next]) {
            removed.push_back(*read);
            ++next;
        } else {
            *write++ = *read;
        }
    }
    m_keys.erase(write, m_keys.end());
    m_writer->push(store::op::RemoveRows { std::move(removed) });
}

void ResultsStore::replaceList(QStringList domains)
{
    dropList();
    appendRows(std::move(domains));
}

void ResultsStore::dropList()
{
    if (takeListChange() && !m_keys.empty())
        startListAfresh();
}

void ResultsStore::writeCells(int position, const LookupCells &cells)
{
    if (!takeListChange() || position < 0 || size_t(position) >= m_keys.size())
        return;
    m_writer->push(store::op::WriteCells { m_keys[size_t(position)], cells });
}

void ResultsStore::restore(std::function<void(std::vector<DomainRow>)> done)
{
    m_restorePending = true;
    m_writer->push(
        store::op::ReadList { [this, done = std::move(done)](std::vector<qint64> keys, std::vector<DomainRow> rows) {
            m_restorePending = false;
            m_listAdopted = true;
            m_keys = std::move(keys);
            m_nextKey = m_keys.empty() ? 1 : m_keys.back() + 1;
            done(std::move(rows));
        } });
}

void ResultsStore::listCounts(std::function<void(ListCounts)> done)
{
    m_writer->push(store::op::CountList { std::move(done) });
}

bool ResultsStore::recordResult(
    const QString &domain, const FilingRecord &record, const QString &status, qint64 lookedUpAt)
{
    if (domain.isEmpty() || status != kFinished)
        return false;
    m_writer->push(store::op::RecordResult { domain, record, status, lookedUpAt });
    return true;
}

void ResultsStore::history(QStringList domains, qint64 since, HistoryPart done)
{
    m_writer->push(store::op::ReadHistory { std::move(domains), since, std::move(done) });
}

void ResultsStore::clearHistory(std::function<void(qint64)> done)
{
    m_writer->push(store::op::ClearHistory { std::move(done) });
}

void ResultsStore::writerCommitted(quint64 opsDone)
{
    if (opsDone == m_writer->opsHanded())
        emit saved();
}

void ResultsStore::writerReported(Problem problem, const QString &reason)
{
    if (problem != Problem::DamagedReplaced) {
        m_savesList = false;
        m_restorePending = false;
        m_keys.clear();
        m_keys.shrink_to_fit();
    }
    emit problemOccurred(problem, reason);
}

} // namespace quernfold
