#include "store/store_writer.h"

#include "store/store_schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace quernfold::store {

namespace {

// Big enough that a million-row import costs twenty commits, small enough that one transaction's share of the
// write-ahead log stays a few megabytes.
constexpr int kRowsPerTransaction = 50000;
// A second copy of the program writing its history waits this long for the first one's transaction.
constexpr int kBusyTimeoutMs = 5000;
// Taking in and freeing five thousand answers costs the caller a few milliseconds.
constexpr qsizetype kHistoryPart = 5000;

const QString kFinished = QStringLiteral("查询完毕");

template <class... Ts> struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

bool isQuestion(const StoreOp &operation)
{
    return std::holds_alternative<op::ReadList>(operation) || std::holds_alternative<op::CountList>(operation)
        || std::holds_alternative<op::ReadHistory>(operation) || std::holds_alternative<op::ClearHistory>(operation);
}

bool isListChange(const StoreOp &operation)
{
    return std::holds_alternative<op::AppendRows>(operation) || std::holds_alternative<op::RemoveRows>(operation)
        || std::holds_alternative<op::ClearList>(operation) || std::holds_alternative<op::WriteCells>(operation);
}

// Statuses and record types repeat down a list: equal neighbours share one string, which saves the allocation
// and, for a long finished list, tens of megabytes in the caller's rows.
class RepeatedText
{
public:
    QString take(QByteArrayView bytes)
    {
        if (bytes != QByteArrayView(m_bytes)) {
            m_bytes = bytes.toByteArray();
            m_text = QString::fromUtf8(bytes);
        }
        return m_text;
    }

private:
    QByteArray m_bytes;
    QString m_text;
};

} // namespace

StoreWriter::StoreWriter(const QString &path, QObject *context, Events events, bool historyOnly)
    : m_path(path)
    , m_context(context)
    , m_events(std::move(events))
    , m_historyOnly(historyOnly)
{
    m_thread = std::thread([this] { run(); });
}

StoreWriter::~StoreWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void StoreWriter::push(StoreOp operation)
{
    ++m_opsHanded;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(operation));
    }
    m_wake.notify_one();
}

template <typename Function> void StoreWriter::post(Function function)
{
    QMetaObject::invokeMethod(m_context, std::move(function), Qt::QueuedConnection);
}

void StoreWriter::run()
{
    open();
    std::deque<StoreOp> batch;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty())
                break;
            batch.swap(m_queue);
        }
        apply(batch);
    }
    m_insertRow = {};
    m_deleteRow = {};
    m_clearList = {};
    m_writeCells = {};
    m_recordResult = {};
    m_historyOf = {};
    m_db.close();
    if (m_listLock)
        m_listLock->unlock();
}

void StoreWriter::open()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        fail(QStringLiteral("无法建立文件夹%1").arg(folder));
        return;
    }
    if (m_historyOnly) {
        // Whoever owns the list keeps it, and a window started later still can: SQLite's own locking is all the
        // history needs.
        if (!openDatabase(false))
            return;
        m_access = Access::HistoryOnly;
        prepareStatements();
        return;
    }
    // The lock says which running copy owns the list; SQLite's own locking keeps the file whole either way.
    m_listLock.emplace(m_path + QStringLiteral(".lock"));
    // A lock held for a whole session is never stale by age, only when its owner is gone.
    m_listLock->setStaleLockTime(0);
    const bool ownsList = m_listLock->tryLock(0);
    if (!ownsList && m_listLock->error() != QLockFile::LockFailedError) {
        fail(QStringLiteral("无法在文件夹%1中写入").arg(folder));
        return;
    }
    if (!openDatabase(ownsList))
        return;
    m_access = ownsList ? Access::Everything : Access::HistoryOnly;
    prepareStatements();
    if (!ownsList) {
        report(ResultsStore::Problem::ListInUse, QStringLiteral("列表正由另一个正在运行的本程序保存"));
    }
}

bool StoreWriter::openDatabase(bool ownsList)
{
    QString movedTo;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_db.open(m_path)) {
            fail(QStringLiteral("无法打开%1(%2)").arg(m_path, m_db.errorText()));
            return false;
        }
        m_db.setBusyTimeout(kBusyTimeoutMs);
        // A later program's file is left exactly as it is, so its version is read before anything is set.
        const qint64 version = m_db.queryNumber("PRAGMA user_version");
        if (version > kSchemaVersion) {
            fail(QStringLiteral("%1由更新版本的程序写成").arg(m_path));
            return false;
        }
        // WAL: a commit is one append to the log, and readers never wait for it. NORMAL syncs at checkpoints only,
        // which a killed process cannot undo; only a power cut can cost the last commits. Results land on rows all
        // over a long list, a page each: checkpoints every 40 MB of log instead of 4 MB sync a tenth as often and
        // copy a page written many times once.
        const bool configured = version >= 0 && m_db.queryText("PRAGMA journal_mode=WAL") == QStringLiteral("wal")
            && m_db.exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=10000;"
                         " PRAGMA journal_size_limit=67108864");
        // The owner reads every page once; the restore that usually follows finds them in the cache.
        const bool whole = configured && (!ownsList || m_db.queryText("PRAGMA quick_check(1)") == QStringLiteral("ok"));
        if (whole && upgradeSchema(m_db) == SchemaCheck::Current) {
            if (!movedTo.isEmpty()) {
                report(ResultsStore::Problem::DamagedReplaced, movedTo);
            }
            return true;
        }
        const bool damaged = m_db.lastErrorMeansDamaged() || (configured && !whole);
        // Only the list's owner may put the file aside; a second copy would pull it from under the first.
        if (!damaged || !ownsList || attempt > 0) {
            fail(QStringLiteral("无法打开%1(%2)").arg(m_path, m_db.errorText()));
            return false;
        }
        m_db.close();
        if (!moveDamagedFileAside(&movedTo)) {
            fail(QStringLiteral("%1已损坏,且无法移走").arg(m_path));
            return false;
        }
    }
    return false;
}

bool StoreWriter::moveDamagedFileAside(QString *movedTo)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = m_path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(target); ++n)
        target = m_path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(m_path, target))
        return false;
    // The log belongs to the damaged file and must never be replayed into the new one; beside it, under the name
    // SQLite looks for, it stays with the file for whoever wants to salvage it.
    const QString log = m_path + QStringLiteral("-wal");
    if (QFile::exists(log) && !QFile::rename(log, target + QStringLiteral("-wal")))
        return false;
    QFile::remove(m_path + QStringLiteral("-shm"));
    *movedTo = target;
    return true;
}

void StoreWriter::prepareStatements()
{
    m_insertRow = Statement(m_db, "INSERT INTO list_rows (ord, domain) VALUES (?, ?)");
    m_deleteRow = Statement(m_db, "DELETE FROM list_rows WHERE ord = ?");
    m_clearList = Statement(m_db, "DELETE FROM list_rows");
    m_writeCells = Statement(m_db,
        "UPDATE list_rows SET record_no = ?, holder = ?, record_type = ?, site_name = ?, status = ?, note = ?"
        " WHERE ord = ?");
    m_recordResult = Statement(m_db,
        "INSERT INTO history (domain, record_no, holder, record_type, site_name, status, looked_up)"
        " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (domain) DO UPDATE SET record_no = excluded.record_no,"
        " holder = excluded.holder, record_type = excluded.record_type, site_name = excluded.site_name,"
        " status = excluded.status, looked_up = excluded.looked_up WHERE excluded.looked_up >= looked_up");
    m_historyOf = Statement(m_db,
        "SELECT record_no, holder, record_type, site_name, status, looked_up FROM history"
        " WHERE domain = ? AND looked_up >= ?");
}

void StoreWriter::apply(std::deque<StoreOp> &batch)
{
    for (StoreOp &operation : batch) {
        if (isQuestion(operation)) {
            // Answers come from committed data and never hold the write lock while they read.
            commit();
            answer(operation);
            ++m_opsDone;
            continue;
        }
        const bool allowed
            = m_access == Access::Everything || (m_access == Access::HistoryOnly && !isListChange(operation));
        if (allowed && ensureTransaction() && !applyChange(operation))
            fail(QStringLiteral("写入%1失败(%2)").arg(m_path, m_db.errorText()));
        ++m_opsInTransaction;
    }
    batch.clear();
    commit();
}

bool StoreWriter::ensureTransaction()
{
    if (m_transaction)
        return true;
    m_transaction.emplace(m_db);
    if (m_transaction->isActive())
        return true;
    m_transaction.reset();
    fail(QStringLiteral("写入%1失败(%2)").arg(m_path, m_db.errorText()));
    return false;
}

bool StoreWriter::commit()
{
    if (m_transaction) {
        const bool committed = m_transaction->commit();
        m_transaction.reset();
        m_rowsInTransaction = 0;
        if (!committed) {
            fail(QStringLiteral("写入%1失败(%2)").arg(m_path, m_db.errorText()));
            return false;
        }
    }
    m_opsDone += m_opsInTransaction;
    m_opsInTransaction = 0;
    if (m_access == Access::Nothing)
        return false;
    m_opsCommitted = m_opsDone;
    if (!m_committedPosted.exchange(true)) {
        post([this] {
            m_committedPosted = false;
            m_events.committed(m_opsCommitted);
        });
    }
    return true;
}

bool StoreWriter::applyChange(StoreOp &change)
{
    return std::visit(Overloaded {
                          [this](const op::AppendRows &c) { return appendRows(c); },
                          [this](const op::RemoveRows &c) { return removeRows(c); },
                          [this](const op::ClearList &) {
                              m_rowsInTransaction += 1;
                              return m_clearList.run();
                          },
                          [this](const op::WriteCells &c) { return writeCells(c); },
                          [this](const op::RecordResult &c) { return recordResult(c); },
                          [](const auto &) { return true; },
                      },
        change);
}

bool StoreWriter::appendRows(const op::AppendRows &change)
{
    qint64 key = change.firstKey;
    for (const QString &domain : change.domains) {
        m_insertRow.bind(1, key++);
        m_insertRow.bind(2, domain);
        if (!m_insertRow.run())
            return false;
        // A million-row import goes in slices, so the log stays small and a kill keeps the slices before it.
        if (++m_rowsInTransaction >= kRowsPerTransaction && (!commit() || !ensureTransaction()))
            return false;
    }
    return true;
}

bool StoreWriter::removeRows(const op::RemoveRows &change)
{
    for (const qint64 key : change.keys) {
        m_deleteRow.bind(1, key);
        if (!m_deleteRow.run())
            return false;
        ++m_rowsInTransaction;
    }
    return true;
}

bool StoreWriter::writeCells(const op::WriteCells &change)
{
    const LookupCells &cells = change.cells;
    m_writeCells.bind(1, cells.record.recordNo);
    m_writeCells.bind(2, cells.record.holder);
    m_writeCells.bind(3, cells.record.recordType);
    m_writeCells.bind(4, cells.record.siteName);
    m_writeCells.bind(5, cells.status);
    m_writeCells.bind(6, cells.note);
    m_writeCells.bind(7, change.key);
    ++m_rowsInTransaction;
    return m_writeCells.run();
}

bool StoreWriter::recordResult(const op::RecordResult &change)
{
    m_recordResult.bind(1, change.domain);
    m_recordResult.bind(2, change.record.recordNo);
    m_recordResult.bind(3, change.record.holder);
    m_recordResult.bind(4, change.record.recordType);
    m_recordResult.bind(5, change.record.siteName);
    m_recordResult.bind(6, change.status);
    m_recordResult.bind(7, change.lookedUpAt);
    ++m_rowsInTransaction;
    return m_recordResult.run();
}

void StoreWriter::answer(StoreOp &question)
{
    std::visit(Overloaded {
                   [this](op::ReadList &q) { readList(q); },
                   [this](op::CountList &q) { countList(q); },
                   [this](op::ReadHistory &q) { readHistory(q); },
                   [this](op::ClearHistory &q) { clearHistory(q); },
                   [](auto &) {},
               },
        question);
}

void StoreWriter::readList(op::ReadList &question)
{
    // A shared pointer carries the rows to the caller's thread: the queued call wants something it can copy.
    auto keys = std::make_shared<std::vector<qint64>>();
    auto rows = std::make_shared<std::vector<DomainRow>>();
    if (m_access == Access::Everything) {
        Statement select(m_db,
            "SELECT ord, domain, record_no, holder, record_type, site_name, status, note FROM list_rows"
            " ORDER BY ord");
        RepeatedText recordType;
        RepeatedText status;
        Statement::Step step;
        while ((step = select.step()) == Statement::Step::Row) {
            keys->push_back(select.int64At(0));
            DomainRow row { select.textAt(1), nullptr };
            // A row a lookup never wrote has no status, and no cells in the caller's list either.
            if (!select.isNullAt(6)) {
                row.lookup = std::make_unique<LookupCells>(LookupCells {
                    { select.textAt(2), select.textAt(3), recordType.take(select.bytesAt(4)), select.textAt(5) },
                    status.take(select.bytesAt(6)), select.textAt(7) });
            }
            rows->push_back(std::move(row));
        }
        if (step == Statement::Step::Failed) {
            fail(QStringLiteral("读取%1失败(%2)").arg(m_path, m_db.errorText()));
            keys->clear();
            rows->clear();
        }
    }
    post([done = std::move(question.done), keys, rows] { done(std::move(*keys), std::move(*rows)); });
}

void StoreWriter::countList(op::CountList &question)
{
    ListCounts counts;
    if (m_access == Access::Everything) {
        Statement count(m_db, "SELECT count(*), coalesce(sum(status = ?), 0) FROM list_rows");
        count.bind(1, kFinished);
        if (count.step() == Statement::Step::Row)
            counts = { count.int64At(0), count.int64At(1) };
    }
    post([done = std::move(question.done), counts] { done(counts); });
}

void StoreWriter::readHistory(op::ReadHistory &question)
{
    // Every part goes to the same callback, whatever it keeps between parts.
    const auto done = std::make_shared<ResultsStore::HistoryPart>(std::move(question.done));
    QHash<QString, HistoryEntry> found;
    if (m_access != Access::Nothing) {
        // In the table's order the lookups walk the pages one after another; in any other order each one is a
        // read from somewhere else in the file, several times slower for a long list.
        QStringList domains = std::move(question.domains);
        domains.sort();
        domains.erase(std::unique(domains.begin(), domains.end()), domains.end());
        // One read transaction for the lot, instead of a lock taken and dropped per domain.
        m_db.exec("BEGIN");
        for (const QString &domain : std::as_const(domains)) {
            m_historyOf.bind(1, domain);
            m_historyOf.bind(2, question.since);
            if (m_historyOf.step() == Statement::Step::Row) {
                found.insert(domain,
                    HistoryEntry {
                        { m_historyOf.textAt(0), m_historyOf.textAt(1), m_historyOf.textAt(2), m_historyOf.textAt(3) },
                        m_historyOf.textAt(4), m_historyOf.int64At(5) });
            }
            m_historyOf.reset();
            if (found.size() == kHistoryPart) {
                post([done, part = std::exchange(found, {})] { (*done)(part, false); });
            }
        }
        m_db.exec("COMMIT");
    }
    post([done, part = std::move(found)] { (*done)(part, true); });
}

void StoreWriter::clearHistory(op::ClearHistory &question)
{
    qint64 removed = 0;
    if (m_access != Access::Nothing) {
        if (ensureTransaction() && m_db.exec("DELETE FROM history")) {
            removed = m_db.changes();
            if (!commit())
                removed = 0;
        } else {
            fail(QStringLiteral("写入%1失败(%2)").arg(m_path, m_db.errorText()));
        }
    }
    post([done = std::move(question.done), removed] { done(removed); });
}

void StoreWriter::fail(const QString &reason)
{
    m_transaction.reset();
    m_access = Access::Nothing;
    // The first failure is the one worth telling; whatever follows it is its consequence.
    if (!m_failed) {
        m_failed = true;
        report(ResultsStore::Problem::Unavailable, reason);
    }
}

void StoreWriter::report(ResultsStore::Problem problem, const QString &reason)
{
    post([problemEvent = m_events.problem, problem, reason] { problemEvent(problem, reason); });
}

} // namespace quernfold::store
