#include "store/store_writer.h"

#include "store/store_schema.h"

#include "domainlist/filing_change.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <optional>
#include <sqlite3.h>

namespace quernfold::store {

namespace {

// Another connection's transaction (a second copy's history, a command-line run) is waited for this long before a
// write counts as failed and is tried again later; a lock held longer is met by the retries.
constexpr int kBusyTimeoutMs = 1000;
// Opening has no second try: a file still held after this long is unavailable for the session.
constexpr int kOpenBusyTimeoutMs = 5000;
// The pause after a failed write doubles from here up to the last value, so a file busy for an hour costs a try
// every few seconds and a lock of a moment costs a moment.
constexpr int kFirstRetryMs = 250;
constexpr int kLongestRetryMs = 8000;
// Closing waits this long for a file that stays busy before it gives up what is still pending.
constexpr auto kCloseGrace = std::chrono::seconds(15);
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
        || std::holds_alternative<op::ReadHistory>(operation) || std::holds_alternative<op::ReadVersions>(operation);
}

bool isListChange(const StoreOp &operation)
{
    return std::holds_alternative<op::AddRows>(operation) || std::holds_alternative<op::RemoveRows>(operation)
        || std::holds_alternative<op::ClearList>(operation) || std::holds_alternative<op::WriteCells>(operation);
}

// Failures that may pass: another connection's lock, a full disk, an I/O error, no memory, a file made read-only.
// Anything else (SQL the file refuses) would fail the same way on every try.
bool mayPass(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_NOMEM:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_INTERRUPT:
        return true;
    default:
        return false;
    }
}

// The check reports a page it could not read as a finding ("unable to get the page. error code=266"), not as a
// failure of its own. Such a page says nothing about the file unless the read itself found damage: the code of a
// read that failed for another reason (I/O, no memory), else SQLITE_OK.
int readErrorIn(const QString &checkReport)
{
    static const QRegularExpression errorCode(QStringLiteral("error code=(\\d+)"));
    const QRegularExpressionMatch match = errorCode.match(checkReport);
    if (!match.hasMatch())
        return SQLITE_OK;
    const int code = match.captured(1).toInt();
    if ((code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB)
        return SQLITE_OK;
    return code == SQLITE_IOERR_NOMEM ? SQLITE_NOMEM : code;
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

// A version as the statements select it: record_no, holder, record_type, site_name, status, first_seen,
// last_confirmed.
FilingVersion versionAtRow(const Statement &row)
{
    return FilingVersion { { row.textAt(0), row.textAt(1), row.textAt(2), row.textAt(3) }, row.textAt(4),
        row.int64At(5), row.int64At(6) };
}

bool sameResult(const FilingVersion &version, const FinishedLookup &lookup)
{
    const FilingRecord &a = version.record;
    const FilingRecord &b = lookup.record;
    return a.recordNo == b.recordNo && a.holder == b.holder && a.recordType == b.recordType && a.siteName == b.siteName
        && version.status == lookup.status;
}

// A change worked out here names the earlier version by the time it was first found; one that came with the list
// (our own CSV read back) has no earlier version in this file and is kept as its words.
void bindTimeAndChange(Statement &statement, int first, const LookupCells &cells)
{
    if (cells.lookedUpAt > 0)
        statement.bind(first, cells.lookedUpAt);
    else
        statement.bindNull(first);
    if (cells.change.isEmpty())
        statement.bindNull(first + 1);
    else
        statement.bind(first + 1, cells.change);
    if (cells.previous && !cells.change.isEmpty())
        statement.bind(first + 2, cells.previous->firstSeen);
    else
        statement.bindNull(first + 2);
}

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
    bool stopping = false;
    while (!stopping) {
        {
            std::unique_lock lock(m_mutex);
            const auto woken = [this] { return !m_queue.empty() || m_stopping; };
            if (m_delayed && !m_pending.empty())
                m_wake.wait_until(lock, m_retryAt, woken);
            else
                m_wake.wait(lock, woken);
            batch.swap(m_queue);
            // Nothing is pushed once stopping is set: this batch is the last.
            stopping = m_stopping;
        }
        take(batch);
        // While delayed, changes wait for the next try rather than each meeting the busy file again.
        if (!m_delayed || Clock::now() >= m_retryAt)
            writePending();
    }
    const Clock::time_point giveUpAt = Clock::now() + kCloseGrace;
    while (!m_pending.empty() && m_access != Access::Nothing && Clock::now() < giveUpAt) {
        std::this_thread::sleep_until(std::min(m_retryAt, giveUpAt));
        writePending();
    }
    if (!m_pending.empty() && m_access != Access::Nothing) {
        qWarning(
            "quernfold: %zu changes could not be written to %s before closing", m_pending.size(), qPrintable(m_path));
    }
    m_pending.clear();
    m_insertRow = {};
    m_deleteRow = {};
    m_clearList = {};
    m_writeCells = {};
    m_markChange = {};
    m_latestVersion = {};
    m_insertVersion = {};
    m_confirmVersion = {};
    m_versionAt = {};
    m_writeHighestKey = {};
    m_db.close();
    m_listLock.release();
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
    const ListLock::Outcome lock = m_listLock.take(m_path + QStringLiteral(".lock"));
    if (lock == ListLock::Outcome::Failed) {
        fail(QStringLiteral("无法在文件夹%1中写入").arg(folder));
        return;
    }
    const bool ownsList = lock == ListLock::Outcome::Owned;
    if (!openDatabase(ownsList))
        return;
    m_access = ownsList ? Access::Everything : Access::HistoryOnly;
    prepareStatements();
    if (ownsList)
        readHighestKey();
    else
        report(ResultsStore::Problem::ListInUse, QStringLiteral("列表正由另一个正在运行的本程序保存"));
}

bool StoreWriter::openDatabase(bool ownsList)
{
    QString movedTo;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_db.open(m_path)) {
            fail(QStringLiteral("无法打开%1(%2)").arg(m_path, m_db.errorText()));
            return false;
        }
        m_db.setBusyTimeout(kOpenBusyTimeoutMs);
        m_db.forgetFailure();
        // Damage is what SQLite itself reports as such, or what the owner's quick check names; an I/O error, a busy
        // file or no memory says nothing about the file and leaves it where it is.
        QString damageNamed;
        QString readFailure;
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
        bool usable = version >= 0 && switchToWal()
            && m_db.exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=10000;"
                         " PRAGMA journal_size_limit=67108864");
        // The owner reads every page once; the restore that usually follows finds them in the cache.
        if (usable && ownsList) {
            const QString check = m_db.queryText("PRAGMA quick_check(1)");
            const int readError = readErrorIn(check);
            if (readError != SQLITE_OK)
                readFailure = QString::fromUtf8(sqlite3_errstr(readError));
            else if (!check.isEmpty() && check != QStringLiteral("ok"))
                damageNamed = check;
            usable = check == QStringLiteral("ok");
        }
        const SchemaCheck schema
            = usable ? upgradeSchema(m_db, m_path + QStringLiteral(".before-upgrade")) : SchemaCheck::Failed;
        if (schema == SchemaCheck::Newer) {
            fail(QStringLiteral("%1由更新版本的程序写成").arg(m_path));
            return false;
        }
        if (schema == SchemaCheck::Current) {
            m_db.setBusyTimeout(kBusyTimeoutMs);
            if (!movedTo.isEmpty())
                report(ResultsStore::Problem::DamagedReplaced, movedTo);
            return true;
        }
        const bool damaged = !damageNamed.isEmpty() || m_db.lastErrorMeansDamaged();
        // Only the list's owner may put the file aside; a second copy would pull it from under the first.
        if (!damaged || !ownsList || attempt > 0) {
            const QString reason = !damageNamed.isEmpty() ? damageNamed
                : !readFailure.isEmpty()                  ? readFailure
                                                          : m_db.errorText();
            fail(QStringLiteral("无法打开%1(%2)").arg(m_path, reason));
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

bool StoreWriter::switchToWal()
{
    // A new file switches to WAL once, with the file to itself: another copy opening the same new file at that
    // moment makes the switch answer the old mode, and the busy timeout does not cover it.
    const Clock::time_point giveUpAt = Clock::now() + std::chrono::milliseconds(kOpenBusyTimeoutMs);
    for (;;) {
        if (m_db.queryText("PRAGMA journal_mode=WAL") == QStringLiteral("wal"))
            return true;
        if (Clock::now() >= giveUpAt)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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
    // OR REPLACE: a row goes to its key's place whether or not an earlier try of the same change got there first.
    m_insertRow = Statement(m_db,
        "INSERT OR REPLACE INTO list_rows (row_key, domain, record_no, holder, record_type, site_name, status, note,"
        " looked_up, change, previous_seen) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    m_deleteRow = Statement(m_db, "DELETE FROM list_rows WHERE row_key = ?");
    m_clearList = Statement(m_db, "DELETE FROM list_rows");
    // A row written again with the lookup it holds (cells, note and time) and no change of its own keeps the change
    // the history marked it with (markChange below): the window may have closed before it heard of it. A result
    // reused from the history carries its note, so it clears the mark as it does on the screen.
    m_writeCells = Statement(m_db,
        "UPDATE list_rows SET"
        " change = CASE WHEN ?8 IS NULL AND record_no IS ?1 AND holder IS ?2 AND record_type IS ?3"
        "  AND site_name IS ?4 AND status IS ?5 AND note IS ?6 AND looked_up IS ?7 THEN change ELSE ?8 END,"
        " previous_seen = CASE WHEN ?8 IS NULL AND record_no IS ?1 AND holder IS ?2 AND record_type IS ?3"
        "  AND site_name IS ?4 AND status IS ?5 AND note IS ?6 AND looked_up IS ?7 THEN previous_seen ELSE ?9 END,"
        " record_no = ?1, holder = ?2, record_type = ?3, site_name = ?4, status = ?5, note = ?6, looked_up = ?7"
        " WHERE row_key = ?10");
    m_markChange = Statement(m_db,
        "UPDATE list_rows SET change = ?, previous_seen = ? WHERE row_key = ? AND domain = ? AND record_no IS ?"
        " AND holder IS ? AND record_type IS ? AND site_name IS ? AND status IS ? AND looked_up IS ?");
    m_latestVersion = Statement(m_db,
        "SELECT record_no, holder, record_type, site_name, status, first_seen, last_confirmed, seq FROM versions"
        " WHERE domain = ? ORDER BY first_seen DESC, seq DESC LIMIT 1");
    // OR REPLACE: a retried write of the same results lands on the same version.
    m_insertVersion = Statement(m_db,
        "INSERT OR REPLACE INTO versions (domain, first_seen, seq, last_confirmed, record_no, holder, record_type,"
        " site_name, status) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    m_confirmVersion = Statement(m_db,
        "UPDATE versions SET last_confirmed = max(last_confirmed, ?) WHERE domain = ? AND first_seen = ? AND seq = ?");
    m_versionAt = Statement(m_db,
        "SELECT record_no, holder, record_type, site_name, status, first_seen, last_confirmed FROM versions"
        " WHERE domain = ? AND first_seen = ? ORDER BY seq DESC");
    m_writeHighestKey = Statement(m_db, "UPDATE meta SET value = ? WHERE name = 'highest_key' AND value < ?");
}

void StoreWriter::readHighestKey()
{
    m_highestKeyStored = std::max<qint64>(0,
        m_db.queryNumber("SELECT max((SELECT value FROM meta WHERE name = 'highest_key'),"
                         " (SELECT coalesce(max(row_key), 0) FROM list_rows))"));
}

void StoreWriter::take(std::deque<StoreOp> &batch)
{
    for (StoreOp &operation : batch) {
        if (isQuestion(operation)) {
            // An answer sees every change before it, unless those are held up: then it gets the file as it is.
            if (!m_delayed)
                writePending();
            answer(operation);
            ++m_opsDone;
        } else if (allowed(operation)) {
            m_pending.push_back(std::move(operation));
        } else {
            answerUnwritten(operation);
            ++m_opsDone;
        }
    }
    batch.clear();
    if (m_pending.empty())
        postCommitted();
}

bool StoreWriter::allowed(const StoreOp &change) const
{
    return m_access == Access::Everything || (m_access == Access::HistoryOnly && !isListChange(change));
}

bool StoreWriter::writePending()
{
    while (!m_pending.empty() && m_access != Access::Nothing) {
        m_work = {};
        m_work.highestKey = m_highestKeyStored;
        Transaction transaction(m_db);
        if (!transaction.isActive())
            return writeFailed();
        size_t applied = 0;
        // A long import is committed in slices, so the log stays small and a kill keeps the slices before it.
        while (applied < m_pending.size() && m_work.rows < kRowsPerTransaction) {
            if (!applyChange(m_pending[applied]))
                return writeFailed();
            ++applied;
        }
        if (m_work.highestKey > m_highestKeyStored) {
            m_writeHighestKey.bind(1, m_work.highestKey);
            m_writeHighestKey.bind(2, m_work.highestKey);
            if (!m_writeHighestKey.run())
                return writeFailed();
        }
        if (!transaction.commit())
            return writeFailed();
        m_pending.erase(m_pending.begin(), m_pending.begin() + qsizetype(applied));
        m_opsDone += applied;
        m_highestKeyStored = m_work.highestKey;
        m_stats.rowsInserted += m_work.stats.rowsInserted;
        m_stats.rowsDeleted += m_work.stats.rowsDeleted;
        m_stats.cellsWritten += m_work.stats.cellsWritten;
        m_stats.historyWritten += m_work.stats.historyWritten;
        ++m_stats.commits;
        for (auto &answer : m_work.answers)
            post(std::move(answer));
        m_work = {};
        postCommitted();
    }
    if (m_delayed && m_pending.empty()) {
        m_delayed = false;
        m_retryMs = 0;
        post([resumed = m_events.resumed] { resumed(); });
    }
    return true;
}

bool StoreWriter::writeFailed()
{
    const QString reason = QStringLiteral("写入%1失败(%2)").arg(m_path, m_db.errorText());
    m_work = {};
    if (!mayPass(m_db.errorCode())) {
        fail(reason);
        return false;
    }
    m_retryMs = m_retryMs == 0 ? kFirstRetryMs : std::min(m_retryMs * 2, kLongestRetryMs);
    m_retryAt = Clock::now() + std::chrono::milliseconds(m_retryMs);
    if (!m_delayed) {
        m_delayed = true;
        post([delayed = m_events.delayed, reason] { delayed(reason); });
    }
    return false;
}

void StoreWriter::postCommitted()
{
    if (m_access == Access::Nothing)
        return;
    // One report waits in the caller's queue at a time, carrying the latest figures: a stream of small commits
    // must not flood the caller with calls that each say less than the last.
    {
        std::lock_guard lock(m_reportMutex);
        m_report = { m_opsDone, m_stats };
        if (std::exchange(m_reportPosted, true))
            return;
    }
    post([this] {
        CommitReport report;
        {
            std::lock_guard lock(m_reportMutex);
            report = m_report;
            m_reportPosted = false;
        }
        m_events.committed(report.opsDone, report.stats);
    });
}

bool StoreWriter::applyChange(StoreOp &change)
{
    return std::visit(Overloaded {
                          [this](const op::AddRows &c) { return addRows(c); },
                          [this](const op::RemoveRows &c) { return removeRows(c); },
                          [this](const op::ClearList &) {
                              if (!m_clearList.run())
                                  return false;
                              m_work.stats.rowsDeleted += m_db.changes();
                              ++m_work.rows;
                              return true;
                          },
                          [this](const op::WriteCells &c) { return writeCells(c); },
                          [this](const op::RecordResults &c) { return recordResults(c); },
                          [this](const op::PruneVersions &c) { return pruneVersions(c); },
                          [this](op::ClearHistory &c) { return clearHistory(c); },
                          [](const auto &) { return true; },
                      },
        change);
}

bool StoreWriter::addRows(const op::AddRows &change)
{
    for (const DomainRow &row : change.rows) {
        m_insertRow.bind(1, keyValue(row.key));
        m_insertRow.bind(2, row.domain);
        // A row a lookup never wrote has no status, and comes back without cells.
        if (const LookupCells *cells = row.lookup.get()) {
            m_insertRow.bind(3, cells->record.recordNo);
            m_insertRow.bind(4, cells->record.holder);
            m_insertRow.bind(5, cells->record.recordType);
            m_insertRow.bind(6, cells->record.siteName);
            m_insertRow.bind(7, cells->status);
            m_insertRow.bind(8, cells->note);
            bindTimeAndChange(m_insertRow, 9, *cells);
        } else {
            for (int column = 3; column <= 11; ++column)
                m_insertRow.bindNull(column);
        }
        if (!m_insertRow.run())
            return false;
        m_work.highestKey = std::max(m_work.highestKey, keyValue(row.key));
    }
    m_work.stats.rowsInserted += qint64(change.rows.size());
    m_work.rows += change.rows.size();
    return true;
}

bool StoreWriter::removeRows(const op::RemoveRows &change)
{
    for (const RowKey key : change.keys) {
        m_deleteRow.bind(1, keyValue(key));
        if (!m_deleteRow.run())
            return false;
        m_work.stats.rowsDeleted += m_db.changes();
    }
    m_work.rows += change.keys.size();
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
    bindTimeAndChange(m_writeCells, 7, cells);
    m_writeCells.bind(10, keyValue(change.key));
    if (!m_writeCells.run())
        return false;
    m_work.stats.cellsWritten += m_db.changes();
    ++m_work.rows;
    return true;
}

bool StoreWriter::recordResults(const op::RecordResults &change)
{
    auto previous = std::make_shared<QHash<QString, FilingVersion>>();
    for (const FinishedLookup &result : change.results) {
        m_latestVersion.bind(1, result.domain);
        const Statement::Step step = m_latestVersion.step();
        if (step == Statement::Step::Failed)
            return false;
        std::optional<FilingVersion> latest;
        qint64 latestSeq = 0;
        if (step == Statement::Step::Row) {
            latest = versionAtRow(m_latestVersion);
            latestSeq = m_latestVersion.int64At(7);
        }
        m_latestVersion.reset();
        qint64 seq = 0;
        if (latest) {
            // Looked up before the latest version was last found: a slow reply that knows less than the file.
            if (result.lookedUpAt < latest->lastConfirmed)
                continue;
            if (sameResult(*latest, result)) {
                m_confirmVersion.bind(1, result.lookedUpAt);
                m_confirmVersion.bind(2, result.domain);
                m_confirmVersion.bind(3, latest->firstSeen);
                m_confirmVersion.bind(4, latestSeq);
                if (!m_confirmVersion.run())
                    return false;
                m_work.stats.historyWritten += m_db.changes();
                continue;
            }
            // Two different answers within one second still make two versions.
            if (latest->firstSeen == result.lookedUpAt)
                seq = latestSeq + 1;
        }
        m_insertVersion.bind(1, result.domain);
        m_insertVersion.bind(2, result.lookedUpAt);
        m_insertVersion.bind(3, seq);
        m_insertVersion.bind(4, result.lookedUpAt);
        m_insertVersion.bind(5, result.record.recordNo);
        m_insertVersion.bind(6, result.record.holder);
        m_insertVersion.bind(7, result.record.recordType);
        m_insertVersion.bind(8, result.record.siteName);
        m_insertVersion.bind(9, result.status);
        if (!m_insertVersion.run())
            return false;
        ++m_work.stats.historyWritten;
        if (latest && !markChange(result, *latest))
            return false;
        if (latest)
            previous->insert(result.domain, *latest);
        else
            previous->remove(result.domain);
    }
    m_work.rows += std::max<size_t>(1, change.results.size());
    if (change.done)
        m_work.answers.push_back([done = change.done, previous] { done(*previous); });
    return true;
}

bool StoreWriter::markChange(const FinishedLookup &result, const FilingVersion &before)
{
    const QString change = changeText(before, result.record);
    // Only the window's own store holds its list; a command-line run's rows are not that list's.
    if (change.isEmpty() || result.row <= RowKey::None || m_access != Access::Everything)
        return true;
    m_markChange.bind(1, change);
    m_markChange.bind(2, before.firstSeen);
    m_markChange.bind(3, keyValue(result.row));
    m_markChange.bind(4, result.domain);
    m_markChange.bind(5, result.record.recordNo);
    m_markChange.bind(6, result.record.holder);
    m_markChange.bind(7, result.record.recordType);
    m_markChange.bind(8, result.record.siteName);
    m_markChange.bind(9, result.status);
    m_markChange.bind(10, result.lookedUpAt);
    return m_markChange.run();
}

bool StoreWriter::pruneVersions(const op::PruneVersions &change)
{
    // The latest version of a domain is what it is now, however long ago it was last confirmed.
    Statement prune(m_db,
        "DELETE FROM versions WHERE last_confirmed < ? AND EXISTS (SELECT 1 FROM versions later"
        " WHERE later.domain = versions.domain AND (later.first_seen, later.seq) > (versions.first_seen, versions.seq))");
    prune.bind(1, change.confirmedBefore);
    if (!prune.run())
        return false;
    m_work.stats.versionsPruned += m_db.changes();
    ++m_work.rows;
    return true;
}

bool StoreWriter::clearHistory(op::ClearHistory &change)
{
    if (!m_db.exec("DELETE FROM versions"))
        return false;
    ++m_work.rows;
    // The callback stays with the change, which a failed commit tries again.
    m_work.answers.push_back([done = change.done, removed = m_db.changes()] { done(removed); });
    return true;
}

void StoreWriter::answer(StoreOp &question)
{
    std::visit(Overloaded {
                   [this](op::ReadList &q) { readList(q); },
                   [this](op::CountList &q) { countList(q); },
                   [this](op::ReadHistory &q) { readHistory(q); },
                   [this](op::ReadVersions &q) { readVersions(q); },
                   [](auto &) {},
               },
        question);
}

void StoreWriter::readList(op::ReadList &question)
{
    // A shared pointer carries the rows to the caller's thread: the queued call wants something it can copy.
    auto rows = std::make_shared<std::vector<DomainRow>>();
    if (m_access == Access::Everything) {
        Statement select(m_db,
            "SELECT row_key, domain, record_no, holder, record_type, site_name, status, note, looked_up, change,"
            " previous_seen FROM list_rows ORDER BY row_key");
        RepeatedText recordType;
        RepeatedText status;
        std::vector<std::pair<size_t, qint64>> changed;
        Statement::Step step;
        while ((step = select.step()) == Statement::Step::Row) {
            DomainRow row { select.textAt(1), nullptr, RowKey(select.int64At(0)) };
            if (!select.isNullAt(6)) {
                row.lookup = std::make_unique<LookupCells>(LookupCells {
                    { select.textAt(2), select.textAt(3), recordType.take(select.bytesAt(4)), select.textAt(5) },
                    status.take(select.bytesAt(6)), select.textAt(7), select.int64At(8) });
                // Few rows carry a change: their earlier versions are looked up once the list is read.
                if (!select.isNullAt(9))
                    row.lookup->change = select.textAt(9);
                if (!select.isNullAt(9) && !select.isNullAt(10))
                    changed.push_back({ rows->size(), select.int64At(10) });
            }
            rows->push_back(std::move(row));
        }
        if (step == Statement::Step::Failed) {
            fail(QStringLiteral("读取%1失败(%2)").arg(m_path, m_db.errorText()));
            rows->clear();
            changed.clear();
        }
        for (const auto &[index, firstSeen] : changed) {
            LookupCells &cells = *(*rows)[index].lookup;
            cells.previous = versionOf((*rows)[index].domain, firstSeen, cells);
            // An earlier version that retention removed leaves nothing to compare with.
            if (!cells.previous)
                cells.change.clear();
        }
    }
    post([done = std::move(question.done), rows] { done(std::move(*rows)); });
}

void StoreWriter::countList(op::CountList &question)
{
    ListCounts counts;
    if (m_access == Access::Everything) {
        Statement count(m_db, "SELECT count(*), coalesce(sum(status = ?), 0) FROM list_rows");
        count.bind(1, kFinished);
        if (count.step() == Statement::Step::Row)
            counts = { count.int64At(0), count.int64At(1), RowKey(1) };
        readHighestKey();
        counts.nextKey = RowKey(m_highestKeyStored + 1);
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
            m_latestVersion.bind(1, domain);
            if (m_latestVersion.step() == Statement::Step::Row && m_latestVersion.int64At(6) >= question.since) {
                const FilingVersion latest = versionAtRow(m_latestVersion);
                found.insert(domain, HistoryEntry { latest.record, latest.status, latest.lastConfirmed });
            }
            m_latestVersion.reset();
            if (found.size() == kHistoryPart) {
                post([done, part = std::exchange(found, {})] { (*done)(part, false); });
            }
        }
        m_db.exec("COMMIT");
    }
    post([done, part = std::move(found)] { (*done)(part, true); });
}

void StoreWriter::readVersions(op::ReadVersions &question)
{
    std::vector<FilingVersion> versions;
    if (m_access != Access::Nothing) {
        Statement select(m_db,
            "SELECT record_no, holder, record_type, site_name, status, first_seen, last_confirmed FROM versions"
            " WHERE domain = ? ORDER BY first_seen DESC, seq DESC");
        select.bind(1, question.domain);
        while (select.step() == Statement::Step::Row)
            versions.push_back(versionAtRow(select));
    }
    post([done = std::move(question.done), versions = std::move(versions)] { done(versions); });
}

std::shared_ptr<const FilingVersion> StoreWriter::versionOf(
    const QString &domain, qint64 firstSeen, const LookupCells &current)
{
    m_versionAt.bind(1, domain);
    m_versionAt.bind(2, firstSeen);
    std::shared_ptr<const FilingVersion> version;
    // Versions first found within the same second as the row's own: the earlier one is the newest that differs.
    while (!version && m_versionAt.step() == Statement::Step::Row) {
        FilingVersion found = versionAtRow(m_versionAt);
        if (!sameResult(found, FinishedLookup { domain, current.record, current.status, 0 }))
            version = std::make_shared<const FilingVersion>(std::move(found));
    }
    m_versionAt.reset();
    return version;
}

// A change that will never be written still answers whoever waits for it, with nothing.
void StoreWriter::answerUnwritten(StoreOp &change)
{
    if (auto *clear = std::get_if<op::ClearHistory>(&change))
        post([done = std::move(clear->done)] { done(0); });
    else if (auto *record = std::get_if<op::RecordResults>(&change); record && record->done)
        post([done = std::move(record->done)] { done({}); });
}

void StoreWriter::fail(const QString &reason)
{
    m_access = Access::Nothing;
    // What was kept for a retry can never be written now; a question among it still gets its answer.
    for (StoreOp &change : m_pending)
        answerUnwritten(change);
    m_opsDone += m_pending.size();
    m_pending.clear();
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
