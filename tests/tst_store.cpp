#include "store/results_store.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <map>
#include <optional>
#include <sqlite3.h>
#include <sys/resource.h>

using namespace quernfold;
using namespace Qt::StringLiterals;

namespace {

const QString kDone = u"查询完毕"_s;
// What a test waits for at most: a loaded machine or a sanitizer build is slow, never wrong.
constexpr int kWaitMs = 120000;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A row as one line with its key, so a whole list compares at once and a difference reads plainly.
QString describe(const DomainRow &row)
{
    QString line = QString::number(keyValue(row.key)) + u' ' + row.domain;
    if (row.lookup) {
        const LookupCells &c = *row.lookup;
        line += u'|'
            + QStringList { c.record.recordNo, c.record.holder, c.record.recordType, c.record.siteName, c.status,
                  c.note }
                  .join(u'|');
    }
    return line;
}

std::vector<DomainRow> keyedRows(const QStringList &domains, qint64 firstKey)
{
    std::vector<DomainRow> rows;
    for (const QString &domain : domains)
        rows.push_back(DomainRow { domain, nullptr, RowKey(firstKey++) });
    return rows;
}

void restoreRows(ResultsStore &store, QStringList *rows)
{
    bool arrived = false;
    store.restore([&](std::vector<DomainRow> restored) {
        rows->clear();
        for (const DomainRow &row : restored)
            *rows << describe(row);
        arrived = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(arrived, kWaitMs);
}

// Everything handed over before it is in the file once the answer arrives.
void countRows(ResultsStore &store, ListCounts *counts)
{
    bool arrived = false;
    store.listCounts([&](ListCounts answer) {
        *counts = answer;
        arrived = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(arrived, kWaitMs);
}

void readHistory(
    ResultsStore &store, const QStringList &domains, qint64 since, QStringList *found, int *parts = nullptr)
{
    bool complete = false;
    found->clear();
    int partsSeen = 0;
    store.history(domains, since, [&](QHash<QString, HistoryEntry> entries, bool last) {
        QVERIFY(!complete);
        for (auto it = entries.cbegin(); it != entries.cend(); ++it)
            *found << u"%1 %2 %3"_s.arg(it.key(), it->record.recordNo).arg(it->lookedUpAt);
        ++partsSeen;
        complete = last;
    });
    QTRY_VERIFY_WITH_TIMEOUT(complete, kWaitMs);
    found->sort();
    if (parts)
        *parts = partsSeen;
}

// A domain's versions, newest first, one line each: "record firstSeen-lastConfirmed".
QStringList readVersions(ResultsStore &store, const QString &domain)
{
    std::optional<QStringList> lines;
    store.versions(domain, [&](std::vector<FilingVersion> versions) {
        lines.emplace();
        for (const FilingVersion &v : versions)
            *lines << u"%1 %2-%3"_s.arg(v.record.recordNo).arg(v.firstSeen).arg(v.lastConfirmed);
    });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(lines.has_value(), kWaitMs); }();
    return lines.value_or(QStringList { u"<no answer>"_s });
}

LookupCells finishedCells(const QString &recordNo)
{
    return { { recordNo, u"某某公司"_s, u"企业"_s, u"某某网"_s }, kDone, {} };
}

// The schema version SQLite keeps in the file's header: user_version, big-endian at offset 60.
int headerVersion(const QString &path)
{
    const QByteArray header = fileBytes(path);
    return header.size() < 64 ? -1 : int(qFromBigEndian<quint32>(header.constData() + 60));
}

void setHeaderVersion(const QString &path, int version)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(60));
    const quint32 bigEndian = qToBigEndian(quint32(version));
    QCOMPARE(file.write(reinterpret_cast<const char *>(&bigEndian), 4), qint64(4));
}

QStringList filesBeside(const QString &path)
{
    return QDir(QFileInfo(path).path()).entryList({ QFileInfo(path).fileName() + u"*"_s }, QDir::Files);
}

// A second connection of the test's own, for SQL the store never runs (an old layout, a lock held from outside).
struct Connection {
    explicit Connection(const QString &path)
    {
        sqlite3_open(path.toUtf8().constData(), &db);
        // The store may be in the middle of a commit.
        sqlite3_busy_timeout(db, kWaitMs);
    }
    ~Connection() { sqlite3_close(db); }
    bool exec(const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
    sqlite3 *db = nullptr;
};

// Reads of the main file at or past `fromOffset`, or writes of any file, fail with `code`, `count` times.
struct VfsFault {
    bool reads = false;
    qint64 fromOffset = 0;
    int code = SQLITE_IOERR;
    int count = 0;
};

// A VFS that forwards to the default one and fails chosen reads or writes, registered as the default for as long
// as it lives.
class FaultyVfs
{
public:
    using Fault = VfsFault;

    explicit FaultyVfs(Fault fault)
    {
        s_fault = fault;
        s_left = fault.count;
        s_base = sqlite3_vfs_find(nullptr);
        m_vfs = *s_base;
        m_vfs.zName = "quernfold-faulty";
        m_vfs.szOsFile = int(sizeof(File)) + s_base->szOsFile;
        m_vfs.xOpen = &open;
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~FaultyVfs() { sqlite3_vfs_unregister(&m_vfs); }
    static int faultsLeft() { return s_left; }
    static void failNext(int count) { s_left = count; }

private:
    struct File {
        sqlite3_file base;
        sqlite3_file *real;
        int flags;
    };
    static sqlite3_file *real(sqlite3_file *file) { return reinterpret_cast<File *>(file)->real; }
    static bool takeFault() { return s_left.fetch_sub(1) > 0; }

    static int open(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *outFlags)
    {
        auto *f = reinterpret_cast<File *>(file);
        f->real = reinterpret_cast<sqlite3_file *>(f + 1);
        f->flags = flags;
        const int rc = s_base->xOpen(s_base, name, f->real, flags, outFlags);
        if (rc != SQLITE_OK) {
            if (f->real->pMethods)
                f->real->pMethods->xClose(f->real);
            f->base.pMethods = nullptr;
            return rc;
        }
        f->base.pMethods = &s_methods;
        return SQLITE_OK;
    }
    static int read(sqlite3_file *file, void *buffer, int amount, sqlite3_int64 offset)
    {
        const bool mainFile = reinterpret_cast<File *>(file)->flags & SQLITE_OPEN_MAIN_DB;
        if (s_fault.reads && mainFile && offset >= s_fault.fromOffset && takeFault())
            return s_fault.code;
        return real(file)->pMethods->xRead(real(file), buffer, amount, offset);
    }
    static int write(sqlite3_file *file, const void *buffer, int amount, sqlite3_int64 offset)
    {
        if (!s_fault.reads && takeFault())
            return s_fault.code;
        return real(file)->pMethods->xWrite(real(file), buffer, amount, offset);
    }
    // Version 2: shared memory for the log's index, but no memory-mapped reads that would pass by read().
    static inline const sqlite3_io_methods s_methods = {
        2,
        [](sqlite3_file *f) { return real(f)->pMethods->xClose(real(f)); },
        &read,
        &write,
        [](sqlite3_file *f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); },
        [](sqlite3_file *f, int flags) { return real(f)->pMethods->xSync(real(f), flags); },
        [](sqlite3_file *f, sqlite3_int64 *size) { return real(f)->pMethods->xFileSize(real(f), size); },
        [](sqlite3_file *f, int lock) { return real(f)->pMethods->xLock(real(f), lock); },
        [](sqlite3_file *f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); },
        [](sqlite3_file *f, int *out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); },
        [](sqlite3_file *f, int op, void *arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); },
        [](sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); },
        [](sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
        [](sqlite3_file *f, int page, int size, int extend, void volatile **out) {
            return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
        },
        [](sqlite3_file *f, int offset, int n, int flags) {
            return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
        },
        [](sqlite3_file *f) { real(f)->pMethods->xShmBarrier(real(f)); },
        [](sqlite3_file *f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); },
        nullptr,
        nullptr,
    };
    static inline sqlite3_vfs *s_base = nullptr;
    static inline Fault s_fault;
    static inline std::atomic<int> s_left { 0 };
    sqlite3_vfs m_vfs {};
};

// The file size limit of this process, as on a full disk: writes past it fail (SIGXFSZ ignored) until lift() or
// the end of the scope, however the test ends.
struct FileSizeLimit {
    FileSizeLimit()
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        handler = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit()
    {
        lift();
        std::signal(SIGXFSZ, handler);
    }
    bool lower(rlim_t bytes)
    {
        rlimit small = saved;
        small.rlim_cur = bytes;
        return setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    void lift() { setrlimit(RLIMIT_FSIZE, &saved); }
    rlimit saved {};
    void (*handler)(int) = nullptr;
};

// Reads the lines a child prints as they come.
struct ChildLines {
    explicit ChildLines(QProcess &child)
    {
        QObject::connect(&child, &QProcess::readyReadStandardOutput, &child, [this, &child] {
            while (child.canReadLine())
                lines << child.readLine().trimmed();
        });
    }
    // The number after the last line that starts with `word`, or -1.
    int last(const QByteArray &word) const
    {
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            if (line->startsWith(word + ' '))
                return line->mid(word.size() + 1).toInt();
            if (*line == word)
                return 0;
        }
        return -1;
    }
    QList<QByteArray> lines;
};

} // namespace

class StoreTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    int m_nextDomain = 0;

    QStringList newDomains(int count)
    {
        QStringList domains;
        for (int i = 0; i < count; ++i)
            domains << u"d%1.cn"_s.arg(m_nextDomain++);
        return domains;
    }

    QString writerPath() const { return QCoreApplication::applicationDirPath() + u"/quernfold_store_writer"_s; }

private slots:
    void init()
    {
        QString folder = QString::fromLatin1(QTest::currentTestFunction());
        if (QTest::currentDataTag())
            folder += u'-' + QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-');
        m_path = m_dir.filePath(folder + u"/quernfold/quernfold.db"_s);
    }

    void restore_afterReopen_givesRowsWithKeysCellsAndNotes()
    {
        {
            ResultsStore store(m_path);
            store.addRows(keyedRows({ u"a.cn"_s, u"b.cn"_s, u"中文.中国"_s, u"d.cn"_s }, 5));
            store.writeCells(RowKey(5), finishedCells(u"京ICP备1号"_s));
            store.writeCells(RowKey(7), { {}, u"查询中"_s, u"连接超时,已重试2次"_s });
        }
        ResultsStore store(m_path);
        QSignalSpy problems(&store, &ResultsStore::problemOccurred);
        ListCounts counts;
        countRows(store, &counts);
        QCOMPARE(counts.rows, 4);
        QCOMPARE(counts.finished, 1);
        QCOMPARE(counts.nextKey, RowKey(9));
        QStringList rows;
        restoreRows(store, &rows);
        const QStringList expected { u"5 a.cn|京ICP备1号|某某公司|企业|某某网|查询完毕|"_s, u"6 b.cn"_s,
            u"7 中文.中国|||||查询中|连接超时,已重试2次"_s, u"8 d.cn"_s };
        QCOMPARE(rows, expected);
        QCOMPARE(problems.count(), 0);
    }

    // Steps: "a N" adds N rows with new keys, "r P,Q" removes the rows at these positions, "u" puts the rows of the
    // last removal back with their keys and cells, "p N" replaces the list by N new rows, "d" drops the list, "w P"
    // writes a finished result into row P, "o" reopens the file and brings the list back, "n" reopens it and starts
    // with an empty list instead. Keys are never given twice; a reopened file says which key comes next.
    void listChanges_keepOrderAndKeys_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("remove near the top of a long list")
            << QStringList { u"a 5000"_s, u"r 1"_s, u"r 0"_s, u"w 3"_s, u"a 2"_s, u"r 4999"_s };
        QTest::newRow("remove several in any order") << QStringList { u"a 10"_s, u"w 8"_s, u"r 7,2,2,9"_s, u"w 0"_s };
        QTest::newRow("removed rows put back between their neighbours")
            << QStringList { u"a 10"_s, u"w 3"_s, u"w 4"_s, u"r 3,4,8"_s, u"a 1"_s, u"u"_s, u"w 3"_s };
        QTest::newRow("replace, append, remove") << QStringList { u"a 5"_s, u"p 3"_s, u"a 2"_s, u"r 0"_s, u"w 3"_s };
        QTest::newRow("dropped: keys go on above the dropped rows")
            << QStringList { u"a 4"_s, u"d"_s, u"o"_s, u"a 2"_s };
        QTest::newRow("the last rows removed: their keys are not given again")
            << QStringList { u"a 4"_s, u"r 3,2"_s, u"o"_s, u"a 1"_s };
        QTest::newRow("changes after a restore")
            << QStringList { u"a 3"_s, u"r 1"_s, u"o"_s, u"a 2"_s, u"r 1"_s, u"w 2"_s, u"o"_s, u"w 0"_s, u"r 2"_s };
        QTest::newRow("the first change without a restore starts afresh")
            << QStringList { u"a 3"_s, u"n"_s, u"a 2"_s, u"w 1"_s };
    }

    void listChanges_keepOrderAndKeys()
    {
        QFETCH(QStringList, steps);
        auto store = std::make_unique<ResultsStore>(m_path);
        qint64 nextKey = 1;
        // The old store goes first: while it lives it owns the list and a new one would only read history.
        const auto reopen = [&] {
            store.reset();
            store = std::make_unique<ResultsStore>(m_path);
            ListCounts counts;
            countRows(*store, &counts);
            QCOMPARE(counts.nextKey, RowKey(nextKey));
        };
        std::map<qint64, DomainRow> expected;
        std::vector<DomainRow> lastRemoved;
        const auto keyAt = [&](int position) { return std::next(expected.begin(), position)->first; };
        const auto describeAll = [&] {
            QStringList lines;
            for (const auto &[key, row] : expected)
                lines << describe(row);
            return lines;
        };
        for (const QString &step : std::as_const(steps)) {
            const QString argument = step.mid(2);
            switch (step.at(0).unicode()) {
            case 'a':
            case 'p': {
                std::vector<DomainRow> rows = keyedRows(newDomains(argument.toInt()), nextKey);
                nextKey += argument.toInt();
                if (step.startsWith(u'p'))
                    expected.clear();
                for (const DomainRow &row : rows)
                    expected[keyValue(row.key)] = DomainRow { row.domain, nullptr, row.key };
                if (step.startsWith(u'p'))
                    store->replaceList(std::move(rows));
                else
                    store->addRows(std::move(rows));
                break;
            }
            case 'r': {
                std::vector<RowKey> keys;
                for (const QString &p : argument.split(u','))
                    keys.push_back(RowKey(keyAt(p.toInt())));
                lastRemoved.clear();
                for (const RowKey key : keys) {
                    const auto it = expected.find(keyValue(key));
                    if (it != expected.end()) {
                        lastRemoved.push_back(std::move(it->second));
                        expected.erase(it);
                    }
                }
                store->removeRows(keys);
                break;
            }
            case 'u': {
                std::vector<DomainRow> back;
                for (DomainRow &row : lastRemoved) {
                    auto cells = row.lookup ? std::make_unique<LookupCells>(*row.lookup) : nullptr;
                    back.push_back(DomainRow { row.domain, std::move(cells), row.key });
                    expected[keyValue(row.key)] = std::move(row);
                }
                lastRemoved.clear();
                store->addRows(std::move(back));
                break;
            }
            case 'd':
                expected.clear();
                store->dropList();
                break;
            case 'w': {
                const qint64 key = keyAt(argument.toInt());
                const LookupCells cells = finishedCells(u"R-"_s + expected[key].domain);
                expected[key].lookup = std::make_unique<LookupCells>(cells);
                store->writeCells(RowKey(key), cells);
                break;
            }
            case 'o': {
                reopen();
                QStringList restored;
                restoreRows(*store, &restored);
                QCOMPARE(restored, describeAll());
                break;
            }
            case 'n':
                reopen();
                expected.clear();
                break;
            }
        }
        reopen();
        QStringList restored;
        restoreRows(*store, &restored);
        QCOMPARE(restored, describeAll());
    }

    void history_newestWinsWithinAge()
    {
        {
            ResultsStore store(m_path);
            QVERIFY(store.recordResult(u"x.cn"_s, { u"A"_s, {}, {}, {} }, kDone, 100));
            QVERIFY(store.recordResult(u"x.cn"_s, { u"B"_s, {}, {}, {} }, kDone, 300));
            // Looked up earlier, handed over later: a slow reply must not replace the newer result.
            QVERIFY(store.recordResult(u"x.cn"_s, { u"C"_s, {}, {}, {} }, kDone, 200));
            QVERIFY(store.recordResult(u"y.cn"_s, { u"Y"_s, {}, {}, {} }, kDone, 99));
            QVERIFY(store.recordResult(u"z.cn"_s, { u"Z"_s, {}, {}, {} }, kDone, 100));
            QVERIFY(!store.recordResult(u"w.cn"_s, { u"W"_s, {}, {}, {} }, u"查询中"_s, 500));
        }
        ResultsStore store(m_path);
        QStringList found;
        readHistory(store, { u"x.cn"_s, u"y.cn"_s, u"z.cn"_s, u"w.cn"_s, u"x.cn"_s }, 100, &found);
        QCOMPARE(found, (QStringList { u"x.cn B 300"_s, u"z.cn Z 100"_s }));
        readHistory(store, { u"y.cn"_s }, 0, &found);
        QCOMPARE(found, QStringList { u"y.cn Y 99"_s });
    }

    // Each step hands one lookup over; "answer" is what recordResults said changed for it ("-" for nothing, else
    // the earlier version), "versions" the domain's versions after it, newest first.
    void versions_keepEachDifferentResultAndAnswerTheOneBefore_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("versions");
        QTest::newRow("first seen, confirmed, changed, confirmed")
            << QStringList { u"A 100"_s, u"A 200"_s, u"B 300"_s, u"B 400"_s }
            << QStringList { u"-"_s, u"-"_s, u"A 100-200"_s, u"-"_s } << QStringList { u"B 300-400"_s, u"A 100-200"_s };
        QTest::newRow("a slow reply older than the latest confirmation changes nothing")
            << QStringList { u"A 100"_s, u"B 300"_s, u"C 200"_s, u"A 250"_s }
            << QStringList { u"-"_s, u"A 100-100"_s, u"-"_s, u"-"_s } << QStringList { u"B 300-300"_s, u"A 100-100"_s };
        QTest::newRow("back to an earlier result is a new version")
            << QStringList { u"A 100"_s, u"B 200"_s, u"A 300"_s }
            << QStringList { u"-"_s, u"A 100-100"_s, u"B 200-200"_s }
            << QStringList { u"A 300-300"_s, u"B 200-200"_s, u"A 100-100"_s };
        QTest::newRow("two answers in one second stay two")
            << QStringList { u"A 100"_s, u"B 100"_s } << QStringList { u"-"_s, u"A 100-100"_s }
            << QStringList { u"B 100-100"_s, u"A 100-100"_s };
        QTest::newRow("a lookup that did not finish is no version") << QStringList { u"A 100"_s, u"X 200 查询失败"_s,
            u"A 300"_s } << QStringList { u"-"_s, u"-"_s, u"-"_s } << QStringList { u"A 100-300"_s };
    }

    void versions_keepEachDifferentResultAndAnswerTheOneBefore()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, versions);
        ResultsStore store(m_path);
        for (int i = 0; i < steps.size(); ++i) {
            const QStringList step = steps[i].split(u' ');
            const QString status = step.size() > 2 ? step[2] : kDone;
            std::optional<QString> answer;
            store.recordResults({ FinishedLookup { u"x.cn"_s, { step[0], {}, {}, {} }, status, step[1].toLongLong() } },
                [&](QHash<QString, FilingVersion> previous) {
                    const auto found = previous.constFind(u"x.cn"_s);
                    answer = found == previous.cend()
                        ? u"-"_s
                        : u"%1 %2-%3"_s.arg(found->record.recordNo).arg(found->firstSeen).arg(found->lastConfirmed);
                });
            QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), kWaitMs);
            QCOMPARE(*answer, answers[i]);
        }
        QCOMPARE(readVersions(store, u"x.cn"_s), versions);
    }

    // Retention takes versions last confirmed before the cut, but a domain's latest stays however old it is; a
    // restored row whose earlier version went keeps no change.
    void pruneVersions_removesOldOnesButNeverTheLatest()
    {
        {
            ResultsStore store(m_path);
            store.recordResults({ { u"x.cn"_s, { u"A"_s, {}, {}, {} }, kDone, 100 },
                { u"x.cn"_s, { u"A"_s, {}, {}, {} }, kDone, 200 }, { u"x.cn"_s, { u"B"_s, {}, {}, {} }, kDone, 300 },
                { u"x.cn"_s, { u"B"_s, {}, {}, {} }, kDone, 400 }, { u"x.cn"_s, { u"C"_s, {}, {}, {} }, kDone, 500 },
                { u"y.cn"_s, { u"Y"_s, {}, {}, {} }, kDone, 50 } });
            std::vector<DomainRow> rows = keyedRows({ u"x.cn"_s }, 1);
            rows[0].lookup = std::make_unique<LookupCells>(finishedCells(u"C"_s));
            rows[0].lookup->change = u"备案号变更"_s;
            rows[0].lookup->previous
                = std::make_shared<const PreviousResult>(PreviousResult { { u"A"_s, {}, {}, {} }, kDone, 100, 200 });
            store.addRows(std::move(rows));
            store.pruneVersions(350);
        }
        ResultsStore store(m_path);
        QCOMPARE(readVersions(store, u"x.cn"_s), (QStringList { u"C 500-500"_s, u"B 300-400"_s }));
        QCOMPARE(readVersions(store, u"y.cn"_s), QStringList { u"Y 50-50"_s });
        std::vector<DomainRow> restored;
        bool arrived = false;
        store.restore([&](std::vector<DomainRow> rows) {
            restored = std::move(rows);
            arrived = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(arrived, kWaitMs);
        QCOMPARE(restored.size(), size_t(1));
        QVERIFY(restored[0].lookup);
        QCOMPARE(restored[0].lookup->change, QString());
        QVERIFY(!restored[0].lookup->previous);
        store.pruneVersions(1000);
        QCOMPARE(readVersions(store, u"x.cn"_s), QStringList { u"C 500-500"_s });
    }

    // The list keeps when each row was looked up and what its lookup found changed, with the earlier version.
    void restore_bringsBackTimesAndChanges()
    {
        {
            ResultsStore store(m_path);
            store.recordResults({ { u"a.cn"_s, { u"京ICP备1号"_s, u"甲"_s, u"企业"_s, u"甲网"_s }, kDone, 100 },
                { u"a.cn"_s, { u"京ICP备1号"_s, u"乙"_s, u"企业"_s, u"甲网"_s }, kDone, 300 } });
            store.addRows(keyedRows({ u"a.cn"_s, u"b.cn"_s }, 1));
            LookupCells cells { { u"京ICP备1号"_s, u"乙"_s, u"企业"_s, u"甲网"_s }, kDone, {}, 300, u"备案人变更"_s,
                std::make_shared<const PreviousResult>(
                    PreviousResult { { u"京ICP备1号"_s, u"甲"_s, u"企业"_s, u"甲网"_s }, kDone, 100, 100 }) };
            store.writeCells(RowKey(1), cells);
            LookupCells plain = finishedCells(u"无记录"_s);
            plain.lookedUpAt = 250;
            store.writeCells(RowKey(2), plain);
        }
        ResultsStore store(m_path);
        std::vector<DomainRow> rows;
        bool arrived = false;
        store.restore([&](std::vector<DomainRow> restored) {
            rows = std::move(restored);
            arrived = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(arrived, kWaitMs);
        QCOMPARE(rows.size(), size_t(2));
        QVERIFY(rows[0].lookup && rows[1].lookup);
        QCOMPARE(rows[0].lookup->lookedUpAt, 300);
        QCOMPARE(rows[0].lookup->change, u"备案人变更"_s);
        QVERIFY(rows[0].lookup->previous);
        QCOMPARE(rows[0].lookup->previous->record.holder, u"甲"_s);
        QCOMPARE(rows[0].lookup->previous->firstSeen, 100);
        QCOMPARE(rows[1].lookup->lookedUpAt, 250);
        QCOMPARE(rows[1].lookup->change, QString());
        QVERIFY(!rows[1].lookup->previous);
    }

    // A batch over a long list asks for every domain at once; the answer comes in parts that must add up.
    void history_manyDomains_arriveInPartsThatAddUp()
    {
        ResultsStore store(m_path);
        const QStringList domains = newDomains(25000);
        for (int i = 0; i < domains.size(); ++i)
            store.recordResult(domains[i], { u"R"_s, {}, {}, {} }, kDone, i % 2 ? 200 : 100);
        QStringList found;
        int parts = 0;
        readHistory(store, domains + QStringList { u"unknown.cn"_s }, 200, &found, &parts);
        QCOMPARE(found.size(), 12500);
        QCOMPARE(parts, 3);
        QVERIFY(found.contains(u"%1 R 200"_s.arg(domains[1])));
        QVERIFY(found.contains(u"%1 R 200"_s.arg(domains.last())));
        readHistory(store, domains, 0, &found, &parts);
        QCOMPARE(found.size(), 25000);
        QCOMPARE(parts, 6);
    }

    void clearHistory_removesAllAndCountsThem()
    {
        ResultsStore store(m_path);
        for (const QString &domain : { u"a.cn"_s, u"b.cn"_s, u"c.cn"_s, u"a.cn"_s })
            store.recordResult(domain, {}, kDone, 1);
        std::optional<qint64> removed;
        store.clearHistory([&](qint64 count) { removed = count; });
        QTRY_VERIFY_WITH_TIMEOUT(removed.has_value(), kWaitMs);
        QCOMPARE(*removed, 3);
        QStringList found;
        readHistory(store, { u"a.cn"_s, u"b.cn"_s, u"c.cn"_s }, 0, &found);
        QCOMPARE(found, QStringList());
    }

    // "sql" makes the older file: nothing (what SQLite makes of an empty file) or the first layout, whose rows
    // were ordered by a number of the store's own.
    void open_olderFile_isUpgradedKeepingItsRows_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<qint64>("nextKey");
        QTest::newRow("empty file") << QByteArray() << QStringList() << qint64(1);
        QTest::newRow("first layout, gaps left by removals")
            << QByteArray("CREATE TABLE list_rows (ord INTEGER PRIMARY KEY, domain TEXT NOT NULL, record_no TEXT,"
                          " holder TEXT, record_type TEXT, site_name TEXT, status TEXT, note TEXT);"
                          "CREATE TABLE history (domain TEXT PRIMARY KEY, record_no TEXT NOT NULL,"
                          " holder TEXT NOT NULL, record_type TEXT NOT NULL, site_name TEXT NOT NULL,"
                          " status TEXT NOT NULL, looked_up INTEGER NOT NULL) WITHOUT ROWID;"
                          "INSERT INTO list_rows (ord, domain) VALUES (3, 'a.cn'), (7, 'b.cn');"
                          "INSERT INTO list_rows VALUES (9, 'c.cn', 'R', 'H', 'T', 'S', '查询完毕', '');"
                          "PRAGMA user_version = 1;")
            << QStringList { u"3 a.cn"_s, u"7 b.cn"_s, u"9 c.cn|R|H|T|S|查询完毕|"_s } << qint64(10);
    }

    void open_olderFile_isUpgradedKeepingItsRows()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QStringList, rows);
        QFETCH(qint64, nextKey);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        writeFile(m_path, {});
        if (!sql.isEmpty())
            QVERIFY(Connection(m_path).exec(sql.constData()));
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            ListCounts counts;
            countRows(store, &counts);
            QCOMPARE(counts.nextKey, RowKey(nextKey));
            QStringList restored;
            restoreRows(store, &restored);
            QCOMPARE(restored, rows);
            QCOMPARE(problems.count(), 0);
        }
        QCOMPARE(headerVersion(m_path), 3);
    }

    // A file the last released program wrote (tests/data/store_v1.db: five rows, the fifth removed, three with
    // results and one failed; four domains in the history) keeps every row and result, each result as its domain's
    // one version, and the copy made for the upgrade goes once it has committed.
    void open_releasedFile_isUpgradedKeepingRowsAndResults()
    {
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        QVERIFY(QFile::copy(QFINDTESTDATA("data/store_v1.db"), m_path));
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(headerVersion(m_path), 1);
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            ListCounts counts;
            countRows(store, &counts);
            QCOMPARE(counts.rows, 4);
            QCOMPARE(counts.finished, 3);
            QCOMPARE(counts.nextKey, RowKey(5));
            QStringList rows;
            restoreRows(store, &rows);
            QCOMPARE(rows,
                (QStringList { u"1 alpha.cn|京ICP备10000001号-1|阿尔法科技有限公司|企业|阿尔法网|查询完毕|"_s,
                    u"2 beta.com|无记录||||查询完毕|"_s, u"3 gamma.net|||||查询失败|连接中断,已重试2次"_s,
                    u"4 delta.cn|沪ICP备20000002号|张三|个人|德尔塔博客|查询完毕|"_s }));
            QStringList found;
            readHistory(
                store, { u"alpha.cn"_s, u"beta.com"_s, u"delta.cn"_s, u"zeta.cn"_s, u"gamma.net"_s }, 0, &found);
            QCOMPARE(found,
                (QStringList { u"alpha.cn 京ICP备10000001号-1 1764547200"_s, u"beta.com 无记录 1764633600"_s,
                    u"delta.cn 沪ICP备20000002号 1764720000"_s, u"zeta.cn 备案已被删除 1764000000"_s }));
            QCOMPARE(
                readVersions(store, u"alpha.cn"_s), QStringList { u"京ICP备10000001号-1 1764547200-1764547200"_s });
            QCOMPARE(problems.count(), 0);
        }
        QCOMPARE(headerVersion(m_path), 3);
        QVERIFY2(!filesBeside(m_path).contains(u"quernfold.db.before-upgrade"_s),
            qPrintable(filesBeside(m_path).join(u' ')));
    }

    // Killed while it upgrades a long older file, the program leaves the file either as it was or upgraded whole;
    // the next start finishes the upgrade with every row and result.
    void kill_duringUpgrade_leavesOldFileOrFinishedOne()
    {
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        QVERIFY(QFile::copy(QFINDTESTDATA("data/store_v1.db"), m_path));
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
        constexpr int kMore = 300000;
        QVERIFY(Connection(m_path).exec(
            "WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 300009)"
            " INSERT INTO list_rows SELECT i, 'k' || i || '.cn', 'R', 'H', 'T', 'S', '查询完毕', '' FROM n;"
            "WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 300009)"
            " INSERT INTO history SELECT 'k' || i || '.cn', 'R', 'H', 'T', 'S', '查询完毕', i FROM n;"));
        QProcess child;
        ChildLines lines(child);
        child.start(writerPath(), { m_path, u"open"_s });
        // The copy appears as the upgrade begins.
        const QString copy = m_path + u".before-upgrade"_s;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(copy) || lines.last("open") == 0, kWaitMs);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(kWaitMs));
        QCOMPARE(ResultsStore::integrityReport(m_path), u"ok"_s);
        const int version = headerVersion(m_path);
        QVERIFY2(version == 1 || version == 3, qPrintable(QString::number(version)));

        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            ListCounts counts;
            countRows(store, &counts);
            QCOMPARE(counts.rows, 4 + kMore);
            QCOMPARE(counts.finished, 3 + kMore);
            QStringList found;
            readHistory(store, { u"alpha.cn"_s, u"k10.cn"_s, u"k300009.cn"_s }, 0, &found);
            QCOMPARE(found,
                (QStringList {
                    u"alpha.cn 京ICP备10000001号-1 1764547200"_s, u"k10.cn R 10"_s, u"k300009.cn R 300009"_s }));
            QCOMPARE(problems.count(), 0);
        }
        QCOMPARE(headerVersion(m_path), 3);
        QVERIFY(!QFile::exists(copy));
    }

    void open_newerFile_isLeftAlone()
    {
        {
            ResultsStore store(m_path);
            store.addRows(keyedRows({ u"a.cn"_s }, 1));
        }
        setHeaderVersion(m_path, 4);
        const QByteArray before = fileBytes(m_path);
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, kWaitMs);
            QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::Unavailable);
            QVERIFY2(problems[0][1].toString().contains(u"更新版本"_s), qPrintable(problems[0][1].toString()));
            QVERIFY(!store.savesList());
            store.addRows(keyedRows({ u"b.cn"_s }, 2));
            store.dropList();
            QStringList rows { u"untouched"_s };
            restoreRows(store, &rows);
            QCOMPARE(rows, QStringList());
        }
        QCOMPARE(fileBytes(m_path), before);
    }

    void open_damagedFile_isMovedAsideAndStartedAfresh_data()
    {
        QTest::addColumn<bool>("wholePageOverwritten");
        QTest::newRow("not a database") << false;
        QTest::newRow("a page overwritten") << true;
    }

    void open_damagedFile_isMovedAsideAndStartedAfresh()
    {
        QFETCH(bool, wholePageOverwritten);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        if (wholePageOverwritten) {
            {
                ResultsStore store(m_path);
                store.addRows(keyedRows(newDomains(3000), 1));
            }
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 5 * 4096);
            QVERIFY(file.seek(3 * 4096));
            QCOMPARE(file.write(QByteArray(4096, '\x55')), qint64(4096));
        } else {
            writeFile(m_path, QByteArray("not a database, just words ").repeated(300));
        }
        const QByteArray damaged = fileBytes(m_path);
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            store.addRows(keyedRows({ u"fresh.cn"_s }, 1));
            QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, kWaitMs);
            QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::DamagedReplaced);
            const QStringList aside
                = QDir(QFileInfo(m_path).path()).entryList({ u"quernfold.db.damaged-*"_s }, QDir::Files);
            QCOMPARE(aside.size(), 1);
            QVERIFY2(problems[0][1].toString().contains(aside[0]), qPrintable(problems[0][1].toString()));
            QCOMPARE(fileBytes(QFileInfo(m_path).dir().filePath(aside[0])), damaged);
            QVERIFY(store.savesList());
        }
        ResultsStore store(m_path);
        QStringList rows;
        restoreRows(store, &rows);
        QCOMPARE(rows, QStringList { u"1 fresh.cn"_s });
    }

    // A read that fails or finds no memory says nothing about the file: it stays where it is, untouched, and the
    // next start that can read it has the list back.
    void open_readFailsAtStart_leavesTheFileInPlace_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a read error") << int(SQLITE_IOERR_READ) << u"disk I/O error"_s;
        QTest::newRow("no memory") << int(SQLITE_IOERR_NOMEM) << u"out of memory"_s;
    }

    void open_readFailsAtStart_leavesTheFileInPlace()
    {
        QFETCH(int, code);
        QFETCH(QString, reason);
        {
            ResultsStore store(m_path);
            store.addRows(keyedRows(newDomains(3000), 1));
        }
        const QStringList files = filesBeside(m_path);
        const QByteArray before = fileBytes(m_path);
        {
            // Page 1 reads fine; the owner's check of the pages after it meets the failure.
            FaultyVfs vfs({ true, 4096, code, 1 });
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, kWaitMs);
            QCOMPARE(FaultyVfs::faultsLeft(), 0);
            QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::Unavailable);
            QVERIFY2(problems[0][1].toString().contains(m_path) && problems[0][1].toString().contains(reason),
                qPrintable(problems[0][1].toString()));
            QVERIFY(!store.savesList());
        }
        QCOMPARE(filesBeside(m_path), files);
        QCOMPARE(fileBytes(m_path), before);
        ResultsStore store(m_path);
        QStringList rows;
        restoreRows(store, &rows);
        QCOMPARE(rows.size(), 3000);
    }

    void open_folderNotWritable_reportsAndKeepsGoing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("folder under a file") << u"/dev/null/quernfold/quernfold.db"_s;
        QTest::newRow("read-only folder") << qEnvironmentVariable("QUERNFOLD_READONLY_STORE");
    }

    // The read-only case runs this test again in a private mount namespace where the folder is bound read-only, so
    // nothing outside it sees the mount; there the store finds a file it wrote before.
    void open_folderNotWritable_reportsAndKeepsGoing()
    {
        QFETCH(QString, path);
        if (path.isEmpty()) {
            const QString unshare = QStandardPaths::findExecutable(u"unshare"_s);
            if (unshare.isEmpty())
                QSKIP("no unshare to make a read-only folder with");
            {
                ResultsStore store(m_path);
                store.addRows(keyedRows({ u"kept.cn"_s }, 1));
            }
            const QByteArray before = fileBytes(m_path);
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(u"QUERNFOLD_READONLY_STORE"_s, m_path);
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(unshare,
                { u"--mount"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                    u"mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" || exit 0; "
                    "echo read-only; exec \"$1\" \"open_folderNotWritable_reportsAndKeepsGoing:read-only folder\""_s,
                    QFileInfo(m_path).path(), QCoreApplication::applicationFilePath() });
            QVERIFY(child.waitForFinished(kWaitMs));
            const QByteArray output = child.readAll();
            if (!output.startsWith("read-only"))
                QSKIP("cannot make a read-only folder here");
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
            QCOMPARE(fileBytes(m_path), before);
            return;
        }
        ResultsStore store(path);
        QSignalSpy problems(&store, &ResultsStore::problemOccurred);
        QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, kWaitMs);
        QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::Unavailable);
        QVERIFY2(problems[0][1].toString().contains(QFileInfo(path).path()), qPrintable(problems[0][1].toString()));
        QVERIFY(!store.savesList());
        // The caller goes on as if nothing were there: every call returns, every question is answered.
        store.addRows(keyedRows({ u"a.cn"_s }, 1));
        store.writeCells(RowKey(1), finishedCells(u"R"_s));
        QStringList rows { u"untouched"_s };
        restoreRows(store, &rows);
        QCOMPARE(rows, QStringList());
        QVERIFY(store.recordResult(u"a.cn"_s, {}, kDone, 1));
        QStringList found { u"untouched"_s };
        readHistory(store, { u"a.cn"_s }, 0, &found);
        QCOMPARE(found, QStringList());
        QCOMPARE(problems.count(), 1);
    }

    // While writes fail, changes keep coming: they are kept, said to be delayed once, and written in their order
    // once the file takes them again, also those made after the first failure.
    void write_failing_isTriedAgainUntilEverythingIsIn_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("another connection holds the write lock for 6 s") << u"lock"_s;
        QTest::newRow("the file may not grow, as on a full disk") << u"full"_s;
        QTest::newRow("one write fails with an I/O error") << u"io"_s;
    }

    void write_failing_isTriedAgainUntilEverythingIsIn()
    {
        QFETCH(QString, fault);
        std::optional<FaultyVfs> vfs;
        if (fault == u"io"_s)
            vfs.emplace(FaultyVfs::Fault { false, 0, SQLITE_IOERR_WRITE, 0 });
        std::map<qint64, QString> expected;
        QStringList historyExpected;
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            QSignalSpy delayed(&store, &ResultsStore::savingDelayed);
            QSignalSpy resumed(&store, &ResultsStore::savingResumed);
            QSignalSpy saved(&store, &ResultsStore::saved);
            qint64 nextKey = 1;
            const auto add = [&](int count) {
                std::vector<DomainRow> rows = keyedRows(newDomains(count), nextKey);
                for (const DomainRow &row : rows)
                    expected[keyValue(row.key)] = describe(row);
                nextKey += count;
                store.addRows(std::move(rows));
            };
            const auto remove = [&](std::vector<qint64> keys) {
                std::vector<RowKey> rowKeys;
                for (const qint64 key : keys) {
                    expected.erase(key);
                    rowKeys.push_back(RowKey(key));
                }
                store.removeRows(rowKeys);
            };
            const auto write = [&](qint64 key, const QString &recordNo) {
                const LookupCells cells = finishedCells(recordNo);
                DomainRow row { expected[key].section(u' ', 1).section(u'|', 0, 0),
                    std::make_unique<LookupCells>(cells), RowKey(key) };
                expected[key] = describe(row);
                store.writeCells(RowKey(key), cells);
                store.recordResult(row.domain, cells.record, kDone, key);
                historyExpected << u"%1 %2 %3"_s.arg(row.domain, recordNo).arg(key);
            };
            add(100);
            QTRY_VERIFY_WITH_TIMEOUT(!saved.isEmpty(), kWaitMs);

            std::optional<Connection> holder;
            QTimer release;
            release.setSingleShot(true);
            FileSizeLimit fileSize;
            if (fault == u"lock"_s) {
                holder.emplace(m_path);
                QVERIFY(holder->exec("BEGIN IMMEDIATE"));
                connect(&release, &QTimer::timeout, this, [&] { holder.reset(); });
                release.start(6000);
            } else if (fault == u"full"_s) {
                QVERIFY(fileSize.lower(256 * 1024));
            } else {
                FaultyVfs::failNext(1);
            }
            add(20000);
            remove({ 5, 60, 10050 });
            write(7, u"R7"_s);
            QTRY_COMPARE_WITH_TIMEOUT(delayed.count(), 1, kWaitMs);
            QVERIFY2(delayed[0][0].toString().contains(m_path), qPrintable(delayed[0][0].toString()));
            // Changes made while the earlier ones wait: they must land after them.
            write(7, u"R7-again"_s);
            remove({ 10049 });
            add(3);
            write(nextKey - 1, u"Rlast"_s);
            fileSize.lift();
            QTRY_COMPARE_WITH_TIMEOUT(resumed.count(), 1, kWaitMs);
            QVERIFY(!store.isSavingDelayed());
            saved.clear();
            store.listCounts([](ListCounts) {});
            QTRY_VERIFY_WITH_TIMEOUT(!saved.isEmpty(), kWaitMs);
            QCOMPARE(delayed.count(), 1);
            QCOMPARE(problems.count(), 0);
            QVERIFY(store.savesList());
        }
        vfs.reset();
        QCOMPARE(ResultsStore::integrityReport(m_path), u"ok"_s);
        ResultsStore store(m_path);
        QStringList rows;
        restoreRows(store, &rows);
        QStringList expectedRows;
        for (const auto &[key, line] : expected)
            expectedRows << line;
        QCOMPARE(rows, expectedRows);
        QStringList found;
        QStringList domains;
        for (const QString &entry : std::as_const(historyExpected))
            domains << entry.section(u' ', 0, 0);
        readHistory(store, domains, 0, &found);
        // Both results of row 7 were looked up at the same moment; the later one written is the latest version.
        historyExpected.removeAt(0);
        historyExpected.sort();
        QCOMPARE(found, historyExpected);
    }

    void secondCopy_leavesListAloneButAddsHistory()
    {
        ResultsStore first(m_path);
        first.addRows(keyedRows({ u"a.cn"_s, u"b.cn"_s }, 1));
        ListCounts counts;
        countRows(first, &counts);
        {
            ResultsStore second(m_path);
            QSignalSpy problems(&second, &ResultsStore::problemOccurred);
            QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, kWaitMs);
            QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::ListInUse);
            QVERIFY(!second.savesList());
            second.replaceList(keyedRows({ u"other.cn"_s }, 1));
            second.dropList();
            second.writeCells(RowKey(1), finishedCells(u"R"_s));
            QVERIFY(second.recordResult(u"a.cn"_s, { u"from the second"_s, {}, {}, {} }, kDone, 10));
            countRows(second, &counts);
            QCOMPARE(counts.rows, 0);
        }
        QStringList found;
        readHistory(first, { u"a.cn"_s }, 0, &found);
        QCOMPARE(found, QStringList { u"a.cn from the second 10"_s });
        first.writeCells(RowKey(2), finishedCells(u"R"_s));
        countRows(first, &counts);
        QCOMPARE(counts.rows, 2);
        QCOMPARE(counts.finished, 1);
    }

    // A run from the command line keeps the history only: a window opened before or after it still owns the list.
    void historyOnly_neverTakesTheListNorItsLock()
    {
        QStringList rows;
        {
            ResultsStore historyOnly(m_path, ResultsStore::Scope::HistoryOnly);
            QSignalSpy historyProblems(&historyOnly, &ResultsStore::problemOccurred);
            ResultsStore window(m_path);
            QSignalSpy windowProblems(&window, &ResultsStore::problemOccurred);
            window.addRows(keyedRows({ u"a.cn"_s, u"b.cn"_s }, 1));
            restoreRows(window, &rows);
            QVERIFY(historyOnly.recordResult(u"a.cn"_s, { u"R1"_s, {}, {}, {} }, kDone, 10));
            historyOnly.replaceList(keyedRows({ u"other.cn"_s }, 1));
            historyOnly.writeCells(RowKey(1), finishedCells(u"R2"_s));
            historyOnly.dropList();
            QStringList found;
            readHistory(historyOnly, { u"a.cn"_s }, 0, &found);
            QCOMPARE(found, QStringList { u"a.cn R1 10"_s });
            QVERIFY(windowProblems.isEmpty());
            QVERIFY(historyProblems.isEmpty());
            QVERIFY(!historyOnly.savesList());
        }
        QCOMPARE(rows, (QStringList { u"1 a.cn"_s, u"2 b.cn"_s }));
        ResultsStore reopened(m_path);
        restoreRows(reopened, &rows);
        QCOMPARE(rows, (QStringList { u"1 a.cn"_s, u"2 b.cn"_s }));
    }

    // Whatever is left of a copy that is gone, the next start owns the list at once.
    void lockOfACopyThatIsGone_neverKeepsTheListAway_data()
    {
        QTest::addColumn<bool>("killedChild");
        QTest::newRow("lock file of another host, with a PID that is not running") << false;
        QTest::newRow("held by a child killed with SIGKILL") << true;
    }

    void lockOfACopyThatIsGone_neverKeepsTheListAway()
    {
        QFETCH(bool, killedChild);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        QProcess child;
        if (killedChild) {
            ChildLines lines(child);
            child.start(writerPath(), { m_path, u"0"_s });
            QTRY_VERIFY_WITH_TIMEOUT(lines.last("saved") > 0, kWaitMs);
            {
                // While the child lives, the list is its own.
                ResultsStore meanwhile(m_path);
                QSignalSpy problems(&meanwhile, &ResultsStore::problemOccurred);
                QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, kWaitMs);
                QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::ListInUse);
            }
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(kWaitMs));
        } else {
            // What a lock file of an earlier version says: PID, program, host.
            writeFile(m_path + u".lock"_s, "2147483000\nquernfold\nelsewhere.example\n");
        }
        ResultsStore store(m_path);
        QSignalSpy problems(&store, &ResultsStore::problemOccurred);
        store.dropList();
        store.addRows(keyedRows({ u"mine.cn"_s }, 100000));
        QStringList rows;
        restoreRows(store, &rows);
        QCOMPARE(rows, QStringList { u"100000 mine.cn"_s });
        QCOMPARE(problems.count(), 0);
        QVERIFY(store.savesList());
    }

    // A child hands the store a change every millisecond and is killed while it goes on: whatever its store said
    // was in the file must be there, in order, and the file whole. With a long import first, the kill can fall
    // into the import, or after it.
    void kill_keepsEverythingSaidToBeSaved_data()
    {
        QTest::addColumn<int>("bigAdd");
        QTest::addColumn<int>("killWhenSaved");
        QTest::newRow("stream") << 0 << 300;
        QTest::newRow("long import, then the stream") << 200000 << 200100;
        QTest::newRow("during a long import") << 200000 << 0;
    }

    void kill_keepsEverythingSaidToBeSaved()
    {
        QFETCH(int, bigAdd);
        QFETCH(int, killWhenSaved);
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        QProcess child;
        ChildLines lines(child);
        child.start(writerPath(), { m_path, QString::number(bigAdd) });
        // Waits for the child's own word, however slow the machine.
        if (killWhenSaved > 0)
            QTRY_VERIFY_WITH_TIMEOUT(lines.last("saved") >= killWhenSaved, kWaitMs);
        else
            QTRY_VERIFY_WITH_TIMEOUT(lines.last("big") == 0, kWaitMs);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(kWaitMs));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        lines.lines += child.readAllStandardOutput().split('\n');
        const int mustHave = std::max(0, lines.last("saved"));

        QCOMPARE(ResultsStore::integrityReport(m_path), u"ok"_s);
        ResultsStore store(m_path);
        QSignalSpy problems(&store, &ResultsStore::problemOccurred);
        QStringList rows;
        restoreRows(store, &rows);
        QCOMPARE(problems.count(), 0);
        QVERIFY2(rows.size() >= mustHave, qPrintable(u"%1 rows of %2 saved"_s.arg(rows.size()).arg(mustHave)));
        // A prefix of what was handed over, row by row: the import, then the stream; a stream row's cells came with
        // the row after it, so all but the last saved row have them.
        for (int i = 0; i < rows.size(); ++i) {
            const QString key = QString::number(i + 1);
            if (i < bigAdd) {
                QCOMPARE(rows[i], u"%1 b%2.cn"_s.arg(key).arg(i));
                continue;
            }
            const int n = i - bigAdd;
            const QString bare = u"%1 s%2.cn"_s.arg(key).arg(n);
            const QString written = bare + u"|R%1|H|T|S|查询完毕|"_s.arg(n);
            if (i + 1 < mustHave)
                QCOMPARE(rows[i], written);
            else
                QVERIFY2(rows[i] == bare || rows[i] == written, qPrintable(rows[i]));
        }
        if (mustHave - bigAdd >= 2) {
            const int n = mustHave - bigAdd - 2;
            QStringList found;
            readHistory(store, { u"s%1.cn"_s.arg(n) }, 0, &found);
            QCOMPARE(found, QStringList { u"s%1.cn R%1 %1"_s.arg(n) });
        }
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
