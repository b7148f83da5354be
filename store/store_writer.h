#pragma once

#include "store/results_store.h"
#include "store/sqlite_db.h"

#include <QLockFile>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

namespace quernfold::store {

// What the caller hands the store's thread, in the caller's order. Rows are named by the key the store gave them.
namespace op {
struct AppendRows {
    qint64 firstKey = 0;
    QStringList domains;
};
struct RemoveRows {
    std::vector<qint64> keys;
};
struct ClearList { };
struct WriteCells {
    qint64 key = 0;
    LookupCells cells;
};
struct RecordResult {
    QString domain;
    FilingRecord record;
    QString status;
    qint64 lookedUpAt = 0;
};
struct ReadList {
    std::function<void(std::vector<qint64> keys, std::vector<DomainRow> rows)> done;
};
struct CountList {
    std::function<void(ListCounts)> done;
};
struct ReadHistory {
    QStringList domains;
    qint64 since = 0;
    ResultsStore::HistoryPart done;
};
struct ClearHistory {
    std::function<void(qint64)> done;
};
} // namespace op

using StoreOp = std::variant<op::AppendRows, op::RemoveRows, op::ClearList, op::WriteCells, op::RecordResult,
    op::ReadList, op::CountList, op::ReadHistory, op::ClearHistory>;

// The store's thread and its connection. It takes everything queued at once and writes it in one transaction
// (committing every kRowsPerTransaction rows of a long one), so a burst costs one commit and no change waits
// behind more than one batch. Answers and reports go to `context`'s thread as queued calls.
class StoreWriter
{
public:
    struct Events {
        // How many handed operations are now in the file (answers count once they are given).
        std::function<void(quint64 opsDone)> committed;
        std::function<void(ResultsStore::Problem problem, const QString &reason)> problem;
    };

    // historyOnly: the list's lock is never taken and the list never touched (ResultsStore::Scope::HistoryOnly).
    StoreWriter(const QString &path, QObject *context, Events events, bool historyOnly = false);
    // Finishes what was handed over, closes the file, releases the list.
    ~StoreWriter();

    void push(StoreOp op);
    quint64 opsHanded() const { return m_opsHanded; }

private:
    enum class Access { Everything, HistoryOnly, Nothing };

    void run();
    void open();
    bool openDatabase(bool ownsList);
    bool moveDamagedFileAside(QString *movedTo);
    void prepareStatements();
    void apply(std::deque<StoreOp> &batch);
    bool applyChange(StoreOp &change);
    bool ensureTransaction();
    bool commit();
    void answer(StoreOp &question);
    void fail(const QString &reason);
    void report(ResultsStore::Problem problem, const QString &reason);
    template <typename Function> void post(Function function);

    bool appendRows(const op::AppendRows &change);
    bool removeRows(const op::RemoveRows &change);
    bool writeCells(const op::WriteCells &change);
    bool recordResult(const op::RecordResult &change);
    void readList(op::ReadList &question);
    void countList(op::CountList &question);
    void readHistory(op::ReadHistory &question);
    void clearHistory(op::ClearHistory &question);

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

    // The store's thread alone.
    Access m_access = Access::Nothing;
    bool m_failed = false;
    std::optional<QLockFile> m_listLock;
    Database m_db;
    std::optional<Transaction> m_transaction;
    int m_rowsInTransaction = 0;
    quint64 m_opsDone = 0;
    quint64 m_opsInTransaction = 0;
    std::atomic<quint64> m_opsCommitted { 0 };
    std::atomic<bool> m_committedPosted { false };
    Statement m_insertRow;
    Statement m_deleteRow;
    Statement m_clearList;
    Statement m_writeCells;
    Statement m_recordResult;
    Statement m_historyOf;

    std::thread m_thread;
};

} // namespace quernfold::store
