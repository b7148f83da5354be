#pragma once

#include "store/list_lock.h"
#include "store/results_store.h"
#include "store/sqlite_db.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

namespace quernfold::store {

// Big enough that a million-row import costs twenty commits, small enough that one transaction's share of the
// write-ahead log stays a few megabytes.
constexpr size_t kRowsPerTransaction = 50000;

// What the caller hands the store's thread, in the caller's order. Rows are named by their keys.
namespace op {
// Changes: kept until they are in the file, and tried again after a failed write.
struct AddRows {
    std::vector<DomainRow> rows;
};
struct RemoveRows {
    std::vector<RowKey> keys;
};
struct ClearList { };
struct WriteCells {
    RowKey key = RowKey::None;
    LookupCells cells;
};
// Answered, when `done` is given, once the results are in the file.
struct RecordResults {
    std::vector<FinishedLookup> results;
    ResultsStore::ChangesFound done;
};
struct PruneVersions {
    qint64 confirmedBefore = 0;
};
// Answered once the history is empty in the file.
struct ClearHistory {
    std::function<void(qint64)> done;
};
// Questions: answered as they come.
struct ReadList {
    std::function<void(std::vector<DomainRow> rows)> done;
};
struct CountList {
    std::function<void(ListCounts)> done;
};
struct ReadHistory {
    QStringList domains;
    qint64 since = 0;
    ResultsStore::HistoryPart done;
};
struct ReadVersions {
    QString domain;
    std::function<void(std::vector<FilingVersion>)> done;
};
} // namespace op

using StoreOp = std::variant<op::AddRows, op::RemoveRows, op::ClearList, op::WriteCells, op::RecordResults,
    op::PruneVersions, op::ClearHistory, op::ReadList, op::CountList, op::ReadHistory, op::ReadVersions>;

// The store's thread and its connection. It takes everything queued at once and writes it in one transaction
// (committing every kRowsPerTransaction rows of a long one), so a burst costs one commit and no change waits
// behind more than one batch. A transaction that fails is rolled back and its changes stay at the head of the
// queue, to be written again in the same order after a pause that grows with each failure; a file that SQLite
// calls damaged, or an error no retry can mend, ends saving instead. Answers and reports go to `context`'s thread
// as queued calls.
class StoreWriter
{
public:
    struct Events {
        // How many handed operations are now done (answers count once they are given), and what the file took so
        // far.
        std::function<void(quint64 opsDone, const StoreStats &stats)> committed;
        std::function<void(ResultsStore::Problem problem, const QString &reason)> problem;
        std::function<void(const QString &reason)> delayed;
        std::function<void()> resumed;
    };

    // historyOnly: the list's lock is never taken and the list never touched (ResultsStore::Scope::HistoryOnly).
    StoreWriter(const QString &path, QObject *context, Events events, bool historyOnly = false);
    // Finishes what was handed over, closes the file, releases the list.
    ~StoreWriter();

    void push(StoreOp op);
    quint64 opsHanded() const { return m_opsHanded; }

private:
    enum class Access { Everything, HistoryOnly, Nothing };
    using Clock = std::chrono::steady_clock;

    void run();
    void open();
    bool openDatabase(bool ownsList);
    bool switchToWal();
    bool moveDamagedFileAside(QString *movedTo);
    void prepareStatements();
    void readHighestKey();
    // Changes join the pending ones, questions are answered, in the order they came.
    void take(std::deque<StoreOp> &batch);
    bool allowed(const StoreOp &change) const;
    // Writes the pending changes, a transaction at a time; false when a write failed.
    bool writePending();
    bool applyChange(StoreOp &change);
    bool writeFailed();
    void postCommitted();
    void answer(StoreOp &question);
    void answerUnwritten(StoreOp &change);
    void fail(const QString &reason);
    void report(ResultsStore::Problem problem, const QString &reason);
    template <typename Function> void post(Function function);

    bool addRows(const op::AddRows &change);
    bool removeRows(const op::RemoveRows &change);
    bool writeCells(const op::WriteCells &change);
    bool recordResults(const op::RecordResults &change);
    // Marks the stored list's row that holds `result` with what changed since `before`, as the window will.
    bool markChange(const FinishedLookup &result, const FilingVersion &before);
    bool pruneVersions(const op::PruneVersions &change);
    bool clearHistory(op::ClearHistory &change);
    void readList(op::ReadList &question);
    void countList(op::CountList &question);
    void readHistory(op::ReadHistory &question);
    void readVersions(op::ReadVersions &question);
    // The version of `domain` that began at `firstSeen` and differs from the row's `current` cells, or null when
    // there is none (any more).
    std::shared_ptr<const FilingVersion> versionOf(const QString &domain, qint64 firstSeen, const LookupCells &current);

    const QString m_path;
    QObject *const m_context;
    const Events m_events;
    const bool m_historyOnly;

    // Shared with the caller's thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<StoreOp> m_queue;
    bool m_stopping = false;
    // The caller's thread alone.
    quint64 m_opsHanded = 0;

    // Shared with the caller's thread: the latest figures for it, and whether a call to take them is on its way.
    struct CommitReport {
        quint64 opsDone = 0;
        StoreStats stats;
    };
    std::mutex m_reportMutex;
    CommitReport m_report;
    bool m_reportPosted = false;

    // The store's thread alone.
    Access m_access = Access::Nothing;
    bool m_failed = false;
    ListLock m_listLock;
    Database m_db;
    // Changes not yet in the file, oldest first.
    std::deque<StoreOp> m_pending;
    bool m_delayed = false;
    int m_retryMs = 0;
    Clock::time_point m_retryAt;
    quint64 m_opsDone = 0;
    StoreStats m_stats;
    qint64 m_highestKeyStored = 0;
    // What the open transaction did, counted in only when it commits.
    struct TransactionWork {
        StoreStats stats;
        qint64 highestKey = 0;
        size_t rows = 0;
        std::vector<std::function<void()>> answers;
    };
    TransactionWork m_work;
    Statement m_insertRow;
    Statement m_deleteRow;
    Statement m_clearList;
    Statement m_writeCells;
    Statement m_markChange;
    Statement m_latestVersion;
    Statement m_insertVersion;
    Statement m_confirmVersion;
    Statement m_versionAt;
    Statement m_writeHighestKey;

    std::thread m_thread;
};

} // namespace quernfold::store
