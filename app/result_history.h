#pragma once

#include "domainlist/domain_list_model.h"
#include "store/results_store.h"

#include <QHash>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

namespace quernfold {

// The rows of a batch run that can take a result from the history instead of asking the site. The history answers
// in parts, in whatever order suits it; each part is matched against the rows by domain as it arrives, so that no
// more than the rows' own index is ever held.
class ReuseMatcher
{
public:
    ReuseMatcher(const DomainListModel &model, std::vector<RowKey> rows);

    // The domains to ask the history about, each once.
    QStringList domains() const;
    // Calls fill(row, entry) for every row whose domain the part names.
    void take(
        const QHash<QString, HistoryEntry> &part, const std::function<void(RowKey row, const HistoryEntry &)> &fill);
    // The rows no part has filled, in their original order.
    std::vector<RowKey> rowsLeft() const;

private:
    std::vector<RowKey> m_rows;
    // Index into m_rows of the first row with a domain; further rows with the same domain follow through m_next.
    QHash<QString, int> m_first;
    std::vector<int> m_next;
    std::vector<bool> m_filled;
};

// The earliest lookup (seconds since 1970 UTC) a batch run may take from the history instead of asking the site.
qint64 reuseCutoff(int reuseDays, qint64 nowSecs);
// The oldest confirmation a version kept for `historyDays` may have; older versions go, never a domain's latest.
qint64 historyCutoff(int historyDays, qint64 nowSecs);
// A result from the history written into its row, with a note that says when it was looked up.
void writeReusedResult(DomainListModel &model, RowKey row, const HistoryEntry &entry);

// Finished rows' results into the history, so that later runs (the window's or the command line's) can reuse them,
// and the rows whose result differs from the domain's latest version marked with what changed. They are handed to
// the store in bursts, a few times a second. Handed one at a time as they come, each wakes the store's thread for a
// commit of its own, which costs a run on loopback almost half its speed; a burst is written in one transaction.
class HistoryRecorder : public QObject
{
public:
    // Results gather for `burstMs` and are compared in one go.
    HistoryRecorder(ResultsStore &store, DomainListModel &model, int burstMs = kDefaultBurstMs, QObject *parent = nullptr);
    // Rarely enough that a burst holds hundreds of results, often enough that a killed run loses little.
    static constexpr int kDefaultBurstMs = 250;
    ~HistoryRecorder() override;
    // The row's result as it stands now, stamped with its lookup time (now when it has none).
    void add(RowKey row);
    // Hands over everything added so far.
    void flush();
    // Rows handed over whose comparison has not come back yet.
    bool isComparing() const { return m_comparing > 0 || !m_pending.empty(); }
    // Called with each burst's rows once the store has compared them and the changed ones are marked.
    void setComparedHandler(std::function<void(const std::vector<RowKey> &rows)> handler)
    {
        m_compared = std::move(handler);
    }

private:
    struct Pending {
        RowKey row;
        FinishedLookup result;
    };
    void takeChanges(const std::vector<Pending> &burst, const QHash<QString, FilingVersion> &previous);

    ResultsStore &m_store;
    DomainListModel &m_model;
    std::vector<Pending> m_pending;
    int m_comparing = 0;
    std::function<void(const std::vector<RowKey> &)> m_compared;
    QTimer m_timer;
};

} // namespace quernfold
