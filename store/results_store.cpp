#include "store/results_store.h"

#include "store/store_writer.h"

#include <QStandardPaths>
#include <algorithm>

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
    events.committed = [this](quint64 opsDone, const StoreStats &stats) { writerCommitted(opsDone, stats); };
    events.problem = [this](Problem problem, const QString &reason) { writerReported(problem, reason); };
    events.delayed = [this](const QString &reason) {
        m_delayed = true;
        emit savingDelayed(reason);
    };
    events.resumed = [this] {
        m_delayed = false;
        emit savingResumed();
    };
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
    m_listAdopted = true;
}

void ResultsStore::addRows(std::vector<DomainRow> rows)
{
    if (!takeListChange())
        return;
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](const DomainRow &row) { return row.key <= RowKey::None; }),
        rows.end());
    // One operation is never more than a transaction's worth, so a write that has to be tried again starts over
    // from a whole operation.
    for (size_t from = 0; from < rows.size(); from += store::kRowsPerTransaction) {
        const size_t to = std::min(rows.size(), from + store::kRowsPerTransaction);
        if (from == 0 && to == rows.size()) {
            m_writer->push(store::op::AddRows { std::move(rows) });
            return;
        }
        m_writer->push(store::op::AddRows { { std::make_move_iterator(rows.begin() + qsizetype(from)),
            std::make_move_iterator(rows.begin() + qsizetype(to)) } });
    }
}

void ResultsStore::removeRows(std::vector<RowKey> keys)
{
    if (!takeListChange())
        return;
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    keys.erase(keys.begin(), std::upper_bound(keys.begin(), keys.end(), RowKey::None));
    for (size_t from = 0; from < keys.size(); from += store::kRowsPerTransaction) {
        const size_t to = std::min(keys.size(), from + store::kRowsPerTransaction);
        m_writer->push(store::op::RemoveRows { { keys.begin() + qsizetype(from), keys.begin() + qsizetype(to) } });
    }
}

void ResultsStore::replaceList(std::vector<DomainRow> rows)
{
    dropList();
    addRows(std::move(rows));
}

void ResultsStore::dropList()
{
    // A list not adopted yet is started afresh by the change itself.
    const bool adopted = m_listAdopted;
    if (takeListChange() && adopted)
        startListAfresh();
}

void ResultsStore::writeCells(RowKey key, const LookupCells &cells)
{
    if (!takeListChange() || key <= RowKey::None)
        return;
    m_writer->push(store::op::WriteCells { key, cells });
}

void ResultsStore::restore(std::function<void(std::vector<DomainRow>)> done)
{
    m_restorePending = true;
    m_writer->push(store::op::ReadList { [this, done = std::move(done)](std::vector<DomainRow> rows) {
        m_restorePending = false;
        m_listAdopted = true;
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
    m_writer->push(store::op::RecordResults { { FinishedLookup { domain, record, status, lookedUpAt } }, {} });
    return true;
}

void ResultsStore::recordResults(std::vector<FinishedLookup> results, ChangesFound done)
{
    results.erase(std::remove_if(results.begin(), results.end(),
                      [](const FinishedLookup &r) { return r.domain.isEmpty() || r.status != kFinished; }),
        results.end());
    if (results.empty() && !done)
        return;
    m_writer->push(store::op::RecordResults { std::move(results), std::move(done) });
}

void ResultsStore::versions(const QString &domain, std::function<void(std::vector<FilingVersion>)> done)
{
    m_writer->push(store::op::ReadVersions { domain, std::move(done) });
}

void ResultsStore::pruneVersions(qint64 confirmedBefore)
{
    m_writer->push(store::op::PruneVersions { confirmedBefore });
}

void ResultsStore::history(QStringList domains, qint64 since, HistoryPart done)
{
    m_writer->push(store::op::ReadHistory { std::move(domains), since, std::move(done) });
}

void ResultsStore::clearHistory(std::function<void(qint64)> done)
{
    m_writer->push(store::op::ClearHistory { std::move(done) });
}

void ResultsStore::writerCommitted(quint64 opsDone, const StoreStats &stats)
{
    m_stats = stats;
    m_opsDone = opsDone;
    if (isSaved())
        emit saved();
}

bool ResultsStore::isSaved() const
{
    return m_opsDone == m_writer->opsHanded();
}

void ResultsStore::writerReported(Problem problem, const QString &reason)
{
    if (problem == Problem::Unavailable)
        m_delayed = false;
    if (problem != Problem::DamagedReplaced) {
        m_savesList = false;
        m_restorePending = false;
    }
    emit problemOccurred(problem, reason);
}

} // namespace quernfold
