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
// A result from the history written into its row, with a note that says when it was looked up.
void writeReusedResult(DomainListModel &model, RowKey row, const HistoryEntry &entry);

// Finished rows' results into the history, stamped now, so that later runs (the window's or the command line's) can
// reuse them. They are handed to the store in bursts, a few times a second. Handed one at a time
// as they come, each wakes the store's thread for a commit of its own, which costs a run on loopback almost half its
// speed; a burst is written in one transaction.
class HistoryRecorder : public QObject
{
public:
    explicit HistoryRecorder(ResultsStore &store, QObject *parent = nullptr);
    ~HistoryRecorder() override;
    // The row's result as it stands now, stamped now.
    void add(const DomainListModel &model, RowKey row);
    // Hands over everything added so far.
    void flush();

private:
    struct Result {
        QString domain;
        FilingRecord record;
        QString status;
        qint64 lookedUpAt = 0;
    };
    ResultsStore &m_store;
    std::vector<Result> m_pending;
    QTimer m_timer;
};

} // namespace quernfold
