#include "store/results_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>
#include <sys/resource.h>

using namespace quernfold;
using namespace Qt::StringLiterals;

namespace {

const QString kDone = u"查询完毕"_s;

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

// A row as one line, so a whole list compares at once and a difference reads plainly.
QString describe(const DomainRow &row)
{
    if (!row.lookup)
        return row.domain;
    const LookupCells &c = *row.lookup;
    return QStringList { row.domain, c.record.recordNo, c.record.holder, c.record.recordType, c.record.siteName,
        c.status, c.note }
        .join(u'|');
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
    QTRY_VERIFY_WITH_TIMEOUT(arrived, 20000);
}

// Everything handed over before it is in the file once the answer arrives.
void countRows(ResultsStore &store, ListCounts *counts)
{
    bool arrived = false;
    store.listCounts([&](ListCounts answer) {
        *counts = answer;
        arrived = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(arrived, 20000);
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
    QTRY_VERIFY_WITH_TIMEOUT(complete, 20000);
    found->sort();
    if (parts)
        *parts = partsSeen;
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

long long monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

private slots:
    void init()
    {
        QString folder = QString::fromLatin1(QTest::currentTestFunction());
        if (QTest::currentDataTag())
            folder += u'-' + QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-');
        m_path = m_dir.filePath(folder + u"/quernfold/quernfold.db"_s);
    }

    void restore_afterReopen_givesRowsWithCellsAndNotes()
    {
        {
            ResultsStore store(m_path);
            store.appendRows({ u"a.cn"_s, u"b.cn"_s, u"中文.中国"_s, u"d.cn"_s });
            store.writeCells(0, finishedCells(u"京ICP备1号"_s));
            store.writeCells(2, { {}, u"查询中"_s, u"连接超时,已重试2次"_s });
        }
        ResultsStore store(m_path);
        QSignalSpy problems(&store, &ResultsStore::problemOccurred);
        ListCounts counts;
        countRows(store, &counts);
        QCOMPARE(counts.rows, 4);
        QCOMPARE(counts.finished, 1);
        QStringList rows;
        restoreRows(store, &rows);
        const QStringList expected { u"a.cn|京ICP备1号|某某公司|企业|某某网|查询完毕|"_s, u"b.cn"_s,
            u"中文.中国|||||查询中|连接超时,已重试2次"_s, u"d.cn"_s };
        QCOMPARE(rows, expected);
        QCOMPARE(problems.count(), 0);
    }

    // Steps: "a N" appends N new domains, "r P,Q" removes rows at these positions, "p N" replaces the list by N new
    // domains, "d" drops the list, "w P" writes a finished result into row P, "o" reopens the file and brings the
    // list back, "n" reopens it and starts with an empty list instead.
    void listChanges_keepOrder_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("remove near the top of a long list")
            << QStringList { u"a 5000"_s, u"r 1"_s, u"r 0"_s, u"w 3"_s, u"a 2"_s, u"r 4999"_s };
        QTest::newRow("remove several in any order") << QStringList { u"a 10"_s, u"w 8"_s, u"r 7,2,2,9"_s, u"w 0"_s };
        QTest::newRow("positions outside the list are ignored") << QStringList { u"a 3"_s, u"r 5,-1,3"_s };
        QTest::newRow("replace, append, remove") << QStringList { u"a 5"_s, u"p 3"_s, u"a 2"_s, u"r 0"_s, u"w 3"_s };
        QTest::newRow("drop then append") << QStringList { u"a 4"_s, u"d"_s, u"a 2"_s };
        QTest::newRow("changes after a restore")
            << QStringList { u"a 3"_s, u"r 1"_s, u"o"_s, u"a 2"_s, u"r 1"_s, u"w 2"_s, u"o"_s, u"w 0"_s, u"r 2"_s };
        QTest::newRow("the first change without a restore starts afresh")
            << QStringList { u"a 3"_s, u"n"_s, u"a 2"_s, u"w 1"_s };
    }

    void listChanges_keepOrder()
    {
        QFETCH(QStringList, steps);
        auto store = std::make_unique<ResultsStore>(m_path);
        // The old store goes first: while it lives it owns the list and a new one would only read history.
        const auto reopen = [&] {
            store.reset();
            store = std::make_unique<ResultsStore>(m_path);
        };
        QStringList expected;
        for (const QString &step : std::as_const(steps)) {
            const QString argument = step.mid(2);
            switch (step.at(0).unicode()) {
            case 'a': {
                const QStringList domains = newDomains(argument.toInt());
                expected << domains;
                store->appendRows(domains);
                break;
            }
            case 'r': {
                std::vector<int> positions;
                for (const QString &p : argument.split(u','))
                    positions.push_back(p.toInt());
                std::vector<int> descending = positions;
                std::sort(descending.rbegin(), descending.rend());
                descending.erase(std::unique(descending.begin(), descending.end()), descending.end());
                for (const int p : descending) {
                    if (p >= 0 && p < expected.size())
                        expected.removeAt(p);
                }
                store->removeRows(positions);
                break;
            }
            case 'p':
                expected = newDomains(argument.toInt());
                store->replaceList(expected);
                break;
            case 'd':
                expected.clear();
                store->dropList();
                break;
            case 'w': {
                const int p = argument.toInt();
                const QString recordNo = u"R-"_s + expected[p].section(u'|', 0, 0);
                expected[p] = describe(DomainRow {
                    expected[p].section(u'|', 0, 0), std::make_unique<LookupCells>(finishedCells(recordNo)) });
                store->writeCells(p, finishedCells(recordNo));
                break;
            }
            case 'o': {
                reopen();
                QStringList restored;
                restoreRows(*store, &restored);
                QCOMPARE(restored, expected);
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
        QCOMPARE(restored, expected);
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
        QTRY_VERIFY(removed.has_value());
        QCOMPARE(*removed, 3);
        QStringList found;
        readHistory(store, { u"a.cn"_s, u"b.cn"_s, u"c.cn"_s }, 0, &found);
        QCOMPARE(found, QStringList());
    }

    void open_olderFile_isUpgraded()
    {
        // Version 0: what SQLite makes of an empty file, before any table of ours.
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        writeFile(m_path, {});
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            store.appendRows({ u"a.cn"_s });
            ListCounts counts;
            countRows(store, &counts);
            QCOMPARE(counts.rows, 1);
            QCOMPARE(problems.count(), 0);
        }
        QCOMPARE(headerVersion(m_path), 1);
    }

    void open_newerFile_isLeftAlone()
    {
        {
            ResultsStore store(m_path);
            store.appendRows({ u"a.cn"_s });
        }
        setHeaderVersion(m_path, 2);
        const QByteArray before = fileBytes(m_path);
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            QTRY_COMPARE(problems.count(), 1);
            QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::Unavailable);
            QVERIFY2(problems[0][1].toString().contains(u"更新版本"_s), qPrintable(problems[0][1].toString()));
            QVERIFY(!store.savesList());
            store.appendRows({ u"b.cn"_s });
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
                store.appendRows(newDomains(3000));
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
            store.appendRows({ u"fresh.cn"_s });
            QTRY_COMPARE(problems.count(), 1);
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
        QCOMPARE(rows, QStringList { u"fresh.cn"_s });
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
                store.appendRows({ u"kept.cn"_s });
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
            QVERIFY(child.waitForFinished(60000));
            const QByteArray output = child.readAll();
            if (!output.startsWith("read-only"))
                QSKIP("cannot make a read-only folder here");
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
            QCOMPARE(fileBytes(m_path), before);
            return;
        }
        ResultsStore store(path);
        QSignalSpy problems(&store, &ResultsStore::problemOccurred);
        QTRY_COMPARE(problems.count(), 1);
        QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::Unavailable);
        QVERIFY2(problems[0][1].toString().contains(QFileInfo(path).path()), qPrintable(problems[0][1].toString()));
        QVERIFY(!store.savesList());
        // The caller goes on as if nothing were there: every call returns, every question is answered.
        store.appendRows({ u"a.cn"_s });
        store.writeCells(0, finishedCells(u"R"_s));
        QStringList rows { u"untouched"_s };
        restoreRows(store, &rows);
        QCOMPARE(rows, QStringList());
        QVERIFY(store.recordResult(u"a.cn"_s, {}, kDone, 1));
        QStringList found { u"untouched"_s };
        readHistory(store, { u"a.cn"_s }, 0, &found);
        QCOMPARE(found, QStringList());
        QCOMPARE(problems.count(), 1);
    }

    // The file may not grow past a limit, as on a full disk: the write that crosses it fails.
    void write_diskFull_reportsAndKeepsWhatWasSaved()
    {
        const QStringList early = newDomains(50);
        {
            ResultsStore store(m_path);
            QSignalSpy problems(&store, &ResultsStore::problemOccurred);
            store.appendRows(early);
            ListCounts counts;
            countRows(store, &counts);
            QCOMPARE(counts.rows, 50);

            rlimit saved {};
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 256 * 1024;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            store.appendRows(newDomains(20000));
            QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 20000);
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);

            QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::Unavailable);
            QVERIFY2(problems[0][1].toString().contains(m_path), qPrintable(problems[0][1].toString()));
            QVERIFY(!store.savesList());
            store.appendRows(newDomains(10));
            store.removeRows({ 0 });
        }
        QCOMPARE(ResultsStore::integrityReport(m_path), u"ok"_s);
        ResultsStore store(m_path);
        QStringList rows;
        restoreRows(store, &rows);
        QCOMPARE(rows, early);
    }

    void secondCopy_leavesListAloneButAddsHistory()
    {
        ResultsStore first(m_path);
        first.appendRows({ u"a.cn"_s, u"b.cn"_s });
        ListCounts counts;
        countRows(first, &counts);
        {
            ResultsStore second(m_path);
            QSignalSpy problems(&second, &ResultsStore::problemOccurred);
            QTRY_COMPARE(problems.count(), 1);
            QCOMPARE(problems[0][0].value<ResultsStore::Problem>(), ResultsStore::Problem::ListInUse);
            QVERIFY(!second.savesList());
            second.replaceList({ u"other.cn"_s });
            second.dropList();
            second.writeCells(0, finishedCells(u"R"_s));
            QVERIFY(second.recordResult(u"a.cn"_s, { u"from the second"_s, {}, {}, {} }, kDone, 10));
            countRows(second, &counts);
            QCOMPARE(counts.rows, 0);
        }
        QStringList found;
        readHistory(first, { u"a.cn"_s }, 0, &found);
        QCOMPARE(found, QStringList { u"a.cn from the second 10"_s });
        first.writeCells(1, finishedCells(u"R"_s));
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
            window.appendRows({ u"a.cn"_s, u"b.cn"_s });
            restoreRows(window, &rows);
            QVERIFY(historyOnly.recordResult(u"a.cn"_s, { u"R1"_s, {}, {}, {} }, kDone, 10));
            historyOnly.replaceList({ u"other.cn"_s });
            historyOnly.writeCells(0, finishedCells(u"R2"_s));
            historyOnly.dropList();
            QStringList found;
            readHistory(historyOnly, { u"a.cn"_s }, 0, &found);
            QCOMPARE(found, QStringList { u"a.cn R1 10"_s });
            QVERIFY(windowProblems.isEmpty());
            QVERIFY(historyProblems.isEmpty());
            QVERIFY(!historyOnly.savesList());
        }
        QCOMPARE(rows, (QStringList { u"a.cn"_s, u"b.cn"_s }));
        ResultsStore reopened(m_path);
        restoreRows(reopened, &rows);
        QCOMPARE(rows, (QStringList { u"a.cn"_s, u"b.cn"_s }));
    }

    // A child hands the store a change every millisecond and is killed; whatever it handed over a second before
    // the kill must be in the file, which must be whole. With a long import first, the kill may fall into it.
    void kill_keepsWhatWasHandedASecondBefore_data()
    {
        QTest::addColumn<int>("bigAppend");
        QTest::addColumn<int>("killAfterMs");
        QTest::newRow("stream") << 0 << 1500;
        QTest::newRow("stream, later") << 0 << 2700;
        QTest::newRow("long import, then the stream") << 200000 << 1800;
    }

    void kill_keepsWhatWasHandedASecondBefore()
    {
        QFETCH(int, bigAppend);
        QFETCH(int, killAfterMs);
        const QString writer = QCoreApplication::applicationDirPath() + u"/quernfold_store_writer"_s;
        QVERIFY(QFile::exists(writer));
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        QProcess child;
        child.start(writer, { m_path, QString::number(bigAppend) });
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 20000);
        long long killedAt = 0;
        QTimer::singleShot(killAfterMs, [&] {
            killedAt = monotonicMs();
            child.kill();
        });
        QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 30000);
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        // What the child had handed over a second before the kill.
        int mustHaveRows = 0;
        bool bigHandedInTime = false;
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 2 || fields[1].toLongLong() > killedAt - 1000)
                continue;
            if (fields[0] == "big")
                bigHandedInTime = true;
            else
                mustHaveRows = fields[0].toInt() + 1;
        }
        QVERIFY2(bigHandedInTime && mustHaveRows > 100, "the child was too slow to test anything");

        QCOMPARE(ResultsStore::integrityReport(m_path), u"ok"_s);
        ResultsStore store(m_path);
        QSignalSpy problems(&store, &ResultsStore::problemOccurred);
        QStringList rows;
        restoreRows(store, &rows);
        QCOMPARE(problems.count(), 0);
        const QStringList stream = rows.mid(bigAppend);
        QVERIFY2(stream.size() >= mustHaveRows,
            qPrintable(u"%1 of %2 rows handed over in time"_s.arg(stream.size()).arg(mustHaveRows)));
        QCOMPARE(rows.size() - stream.size(), bigAppend);
        QCOMPARE(rows.value(bigAppend - 1), bigAppend ? u"b%1.cn"_s.arg(bigAppend - 1) : QString());
        // The cells of row i were handed over with row i + 1; later rows may or may not have theirs yet.
        QStringList written;
        for (int i = 0; i + 1 < mustHaveRows; ++i)
            written << u"s%1.cn|R%1|H|T|S|查询完毕|"_s.arg(i);
        QCOMPARE(stream.mid(0, mustHaveRows - 1), written);
        for (int i = mustHaveRows - 1; i < stream.size(); ++i)
            QCOMPARE(stream[i].section(u'|', 0, 0), u"s%1.cn"_s.arg(i));
        QStringList found;
        readHistory(store, { u"s%1.cn"_s.arg(mustHaveRows - 2) }, 0, &found);
        QCOMPARE(found, QStringList { u"s%1.cn R%1 %1"_s.arg(mustHaveRows - 2) });
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
