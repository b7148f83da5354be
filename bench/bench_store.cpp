// The results store at a million rows: how long until an import is in the file and how long the caller's thread
// was held meanwhile, how fast the list comes back, what memory the store adds, and how a fast stream of results
// keeps up. Our SQLite wrapper is measured against Qt SQL on the same work first. Prints figures with the targets
// beside them. The files go to a temporary folder (on the same disk as $TMPDIR).
//
//   bench_store [rows]              everything, 1,000,000 rows unless told
//   bench_store --memory MODE rows  one memory run in this process (the bench starts these as children)
#include "bench_common.h"
#include "domainlist/domain_list_model.h"
#include "store/results_store.h"
#ifdef QUERNFOLD_HAVE_BACKEND_PROBE
#include "store/backend_probe.h"
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <sys/resource.h>

using namespace quernfold;

namespace {

QStringList makeDomains(int rows)
{
    QStringList domains;
    domains.reserve(rows);
    for (int i = 0; i < rows; ++i)
        domains << QStringLiteral("domain%1.example.com").arg(i);
    return domains;
}

// The rows as the list hands them over: keys 1.. in list order, the names shared with the caller's.
std::vector<DomainRow> keyedRows(const QStringList &domains)
{
    std::vector<DomainRow> rows;
    rows.reserve(size_t(domains.size()));
    for (const QString &domain : domains)
        rows.push_back(DomainRow { domain, nullptr, RowKey(qint64(rows.size()) + 1) });
    return rows;
}

RowKey keyOf(int position)
{
    return RowKey(position + 1);
}

LookupCells finishedCells(int row)
{
    return { { QStringLiteral("京ICP备%1号-1").arg(10000000 + row), QStringLiteral("北京某某科技有限公司"),
                 QStringLiteral("企业"), QStringLiteral("某某网") },
        QStringLiteral("查询完毕"), {} };
}

// User and system time of the whole process so far: on a machine shared with other work, the figure that load does
// not stretch.
double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The longest time the thread's event loop went without turning, as a 1 ms timer sees it.
class LoopWatch
{
public:
    LoopWatch()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            m_longestMs = qMax(m_longestMs, m_sinceTick.nsecsElapsed() / 1e6);
            m_sinceTick.restart();
        });
    }
    void start()
    {
        m_longestMs = 0;
        m_sinceTick.start();
        m_tick.start();
    }
    double stop()
    {
        m_tick.stop();
        return qMax(m_longestMs, m_sinceTick.nsecsElapsed() / 1e6);
    }

private:
    QTimer m_tick;
    QElapsedTimer m_sinceTick;
    double m_longestMs = 0;
};

// Runs the event loop until the store says everything handed over is in the file.
void waitUntilSaved(ResultsStore &store)
{
    QEventLoop loop;
    QObject::connect(&store, &ResultsStore::saved, &loop, &QEventLoop::quit);
    QObject::connect(&store, &ResultsStore::problemOccurred, [](ResultsStore::Problem, const QString &reason) {
        std::fprintf(stderr, "store problem: %s\n", qPrintable(reason));
        std::exit(1);
    });
    loop.exec();
}

std::vector<DomainRow> restoreAll(ResultsStore &store)
{
    std::vector<DomainRow> rows;
    QEventLoop loop;
    store.restore([&](std::vector<DomainRow> restored) {
        rows = std::move(restored);
        loop.quit();
    });
    loop.exec();
    return rows;
}

void printBlocked(double callMs, double loopMs)
{
    std::printf(
        "  caller's thread: longest call %.2f ms, longest event-loop gap %.2f ms (target <= 50 ms)\n", callMs, loopMs);
}

// One memory run: the list as an import makes it (a QStringList handed to the model), with or without the store.
int memoryRun(const QString &mode, int rows, const QString &folder)
{
    const QString path = folder + QStringLiteral("/memory.db");
    std::optional<ResultsStore> store;
    if (mode == QStringLiteral("with") || mode == QStringLiteral("restore"))
        store.emplace(path);
    DomainListModel model;
    if (mode == QStringLiteral("rows")) {
        // What the caller holds after a restore, made without the store.
        std::vector<DomainRow> list;
        list.reserve(size_t(rows));
        for (int i = 0; i < rows; ++i)
            list.push_back(DomainRow { QStringLiteral("domain%1.example.com").arg(i), nullptr });
        std::printf("%.1f\n", bench::peakRssMiB());
        return 0;
    }
    if (mode == QStringLiteral("restore")) {
        // The list the "with" run wrote comes back from the file.
        restoreAll(*store);
    } else {
        QStringList domains = makeDomains(rows);
        if (store)
            store->replaceList(keyedRows(domains));
        model.setDomains(std::move(domains));
        if (store)
            waitUntilSaved(*store);
    }
    std::printf("%.1f\n", bench::peakRssMiB());
    return 0;
}

double childPeakMiB(const QString &mode, int rows, const QString &folder)
{
    QProcess child;
    child.start(
        QCoreApplication::applicationFilePath(), { QStringLiteral("--memory"), mode, QString::number(rows), folder });
    child.waitForFinished(-1);
    return child.readAllStandardOutput().trimmed().toDouble();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 5 && arguments[1] == QStringLiteral("--memory"))
        return memoryRun(arguments[2], arguments[3].toInt(), arguments[4]);
    const int rows = arguments.size() > 1 ? arguments[1].toInt() : 1000000;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("quernfold.db"));
    std::printf("rows: %d, file: %s\n", rows, qPrintable(path));

#ifdef QUERNFOLD_HAVE_BACKEND_PROBE
    std::printf("\nour SQLite wrapper against Qt SQL, %d rows with record and status, best of 3:\n", rows);
    store::BackendFigures own { 1e12, 1e12, 0 };
    store::BackendFigures qt { 1e12, 1e12, 0 };
    for (int round = 0; round < 3; ++round) {
        const store::BackendFigures a = store::measureOwnWrapper(dir.filePath(QStringLiteral("own.db")), rows);
        const store::BackendFigures b = store::measureQtSql(dir.filePath(QStringLiteral("qt.db")), rows);
        own = { qMin(own.writeMs, a.writeMs), qMin(own.readMs, a.readMs), a.rowsRead };
        qt = { qMin(qt.writeMs, b.writeMs), qMin(qt.readMs, b.readMs), b.rowsRead };
    }
    std::printf(
        "  write: wrapper %.0f ms, Qt SQL %.0f ms (%.2fx)\n", own.writeMs, qt.writeMs, qt.writeMs / own.writeMs);
    std::printf("  read:  wrapper %.0f ms, Qt SQL %.0f ms (%.2fx)\n", own.readMs, qt.readMs, qt.readMs / own.readMs);

    std::printf("\nthe import written on the caller's thread instead, one transaction per event-loop turn:\n");
    for (const int sliceRows : { 1000, 5000, 20000 }) {
        const store::SliceFigures slices
            = store::measureSlices(dir.filePath(QStringLiteral("slices.db")), rows, sliceRows);
        std::printf("  %5d rows a turn: %.0f ms in all, turns of %.1f ms (median) to %.1f ms (longest)\n", sliceRows,
            slices.totalMs, slices.medianSliceMs, slices.longestSliceMs);
    }
#endif

    LoopWatch watch;
    QElapsedTimer timer;
    const QStringList domains = makeDomains(rows);
    {
        ResultsStore store(path);
        store.dropList();
        waitUntilSaved(store);

        std::printf("\n%d rows appended at once (an import):\n", rows);
        std::vector<DomainRow> imported = keyedRows(domains);
        watch.start();
        timer.start();
        const double cpuBefore = cpuMs();
        store.addRows(std::move(imported));
        const double callMs = timer.nsecsElapsed() / 1e6;
        waitUntilSaved(store);
        const double savedMs = timer.nsecsElapsed() / 1e6;
        printBlocked(callMs, watch.stop());
        std::printf("  in the file after %.0f ms (CPU %.0f ms) (target <= 5000 ms)\n", savedMs, cpuMs() - cpuBefore);

        std::printf("\none row removed near the top, then one appended:\n");
        const StoreStats before = store.stats();
        std::vector<DomainRow> appended;
        appended.push_back(DomainRow { QStringLiteral("appended.example.com"), nullptr, keyOf(rows) });
        watch.start();
        timer.restart();
        store.removeRows({ keyOf(10) });
        store.addRows(std::move(appended));
        const double removeCallMs = timer.nsecsElapsed() / 1e6;
        waitUntilSaved(store);
        const double removeSavedMs = timer.nsecsElapsed() / 1e6;
        printBlocked(removeCallMs, watch.stop());
        const StoreStats after = store.stats();
        std::printf("  in the file after %.1f ms; rows the file took: %lld deleted, %lld inserted\n", removeSavedMs,
            static_cast<long long>(after.rowsDeleted - before.rowsDeleted),
            static_cast<long long>(after.rowsInserted - before.rowsInserted));

        std::printf("\na result written into each of the %d rows and its history, two calls per row:\n", rows);
        timer.restart();
        double longestCallMs = 0;
        for (int i = 0; i < rows; ++i) {
            QElapsedTimer call;
            call.start();
            const LookupCells cells = finishedCells(i);
            store.writeCells(keyOf(i), cells);
            store.recordResult(domains[i], cells.record, cells.status, 1700000000);
            longestCallMs = qMax(longestCallMs, call.nsecsElapsed() / 1e6);
        }
        const double handMs = timer.nsecsElapsed() / 1e6;
        waitUntilSaved(store);
        // The loop above never lets the event loop turn, so only the calls themselves say anything here.
        std::printf("  handed over in %.0f ms (longest pair of calls %.3f ms), in the file after %.0f ms\n", handMs,
            longestCallMs, timer.nsecsElapsed() / 1e6);

        std::printf("\nthe history of all %d domains asked for at once:\n", rows);
        watch.start();
        timer.restart();
        QEventLoop loop;
        qsizetype found = 0;
        // Each part is counted and dropped as it comes, so the caller's thread also frees the answer piece by piece.
        store.history(domains, 1700000000, [&](QHash<QString, HistoryEntry> part, bool complete) {
            found += part.size();
            if (complete)
                loop.quit();
        });
        const double askMs = timer.nsecsElapsed() / 1e6;
        loop.exec();
        const double answerMs = timer.nsecsElapsed() / 1e6;
        printBlocked(askMs, watch.stop());
        std::printf("  %lld found after %.0f ms\n", static_cast<long long>(found), answerMs);

        // Two later lookups that each find a new holder: every domain then has three versions.
        std::printf("\ntwo more versions of each of the %d domains, handed over in bursts of 1,000:\n", rows);
        timer.restart();
        for (const qint64 when : { qint64(1700100000), qint64(1700200000) }) {
            std::vector<FinishedLookup> burst;
            for (int i = 0; i < rows; ++i) {
                FilingRecord record = finishedCells(i).record;
                record.holder += QString::number(when);
                burst.push_back({ domains[i], record, QStringLiteral("查询完毕"), when });
                if (burst.size() == 1000 || i + 1 == rows)
                    store.recordResults(std::exchange(burst, {}));
            }
        }
        waitUntilSaved(store);
        std::printf("  in the file after %.0f ms\n", timer.nsecsElapsed() / 1e6);
    }
    {
        const qint64 bytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
        std::printf("  file and its log: %.1f MB (target <= 400 MB)\n", bytes / 1e6);
    }

    for (const bool finished : { true, false }) {
        if (!finished) {
            ResultsStore store(path);
            store.replaceList(keyedRows(domains));
            waitUntilSaved(store);
        }
        std::printf("\nrestore of %d rows%s:\n", rows, finished ? " with record and status" : " without results");
        watch.start();
        timer.restart();
        const double cpuBefore = cpuMs();
        ResultsStore store(path);
        const double openCallMs = timer.nsecsElapsed() / 1e6;
        std::vector<DomainRow> restored = restoreAll(store);
        const double restoreMs = timer.nsecsElapsed() / 1e6;
        const double restoreCpuMs = cpuMs() - cpuBefore;
        printBlocked(openCallMs, watch.stop());
        std::printf("  %zu rows back after %.0f ms (CPU %.0f ms), opening and checking the file included (target <= "
                    "2000 ms)\n",
            restored.size(), restoreMs, restoreCpuMs);
    }

    for (const bool inOrder : { true, false }) {
        const int writes = 10000;
        const int perMs = 20;
        // A batch run writes its results in row order; the scattered stream lands every result on a page of its
        // own, the most the file can be asked to write per result.
        std::printf("\n%d results at %d/s (%d every ms), each a row's cells and a history entry, %s:\n", writes,
            perMs * 1000, perMs, inOrder ? "rows in order" : "rows scattered over the list");
        ResultsStore store(path);
        restoreAll(store);
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        int written = 0;
        double longestCallMs = 0;
        QElapsedTimer sinceLast;
        QElapsedTimer sinceStart;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            QElapsedTimer call;
            call.start();
            // A timer tick is late now and then; the stream catches up so that it keeps its rate on average.
            const int due = int(qMin<qint64>(writes, sinceStart.elapsed() * perMs + perMs));
            for (; written < due; ++written) {
                const int row = inOrder ? 500000 + written : int((qint64(written) * 7919) % rows);
                const LookupCells cells = finishedCells(row);
                store.writeCells(keyOf(row), cells);
                store.recordResult(domains[row], cells.record, cells.status, 1800000000 + written);
            }
            longestCallMs = qMax(longestCallMs, call.nsecsElapsed() / 1e6);
            if (written == writes) {
                tick.stop();
                sinceLast.start();
            }
        });
        QObject::connect(&store, &ResultsStore::saved, [&] {
            if (written == writes)
                loop.quit();
        });
        watch.start();
        timer.restart();
        const double cpuBefore = cpuMs();
        sinceStart.start();
        tick.start();
        loop.exec();
        const double streamMs = timer.nsecsElapsed() / 1e6;
        printBlocked(longestCallMs, watch.stop());
        std::printf("  stream took %.0f ms (CPU %.0f ms, both threads); the last in the file %.1f ms after it was "
                    "handed over (target <= 1000 ms)\n",
            streamMs, cpuMs() - cpuBefore, sinceLast.nsecsElapsed() / 1e6);
    }

    std::printf("\npeak memory at %d rows (separate processes, the list as the import makes it):\n", rows);
    const double without = childPeakMiB(QStringLiteral("without"), rows, dir.path());
    const double with = childPeakMiB(QStringLiteral("with"), rows, dir.path());
    std::printf("  without the store %.1f MiB, with it %.1f MiB: +%.1f MiB (target <= 40 MiB)\n", without, with,
        with - without);
    const double rowsAlone = childPeakMiB(QStringLiteral("rows"), rows, dir.path());
    const double restoring = childPeakMiB(QStringLiteral("restore"), rows, dir.path());
    std::printf("  the same rows made in memory %.1f MiB, brought back by a restore %.1f MiB: +%.1f MiB (target <= 40 "
                "MiB)\n",
        rowsAlone, restoring, restoring - rowsAlone);
    return 0;
}
