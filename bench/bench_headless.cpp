// The lookup without a window (quernfold --query) against the local lookup site, next to the clients a script
// would use instead, all in the same run and on 127.0.0.1:
//   loopback   5,000 rows (--rows N): `ab -n N -c 1 -k` (the raw round trip) and a client of k threads with one
//              keep-alive connection each, against --parallel 1 and 4. Medians of three interleaved rounds.
//   latency    300 rows from a site that answers each page 40 ms late: k threads against --parallel 8 and 16
//              (target: at least 90% of the threads). Medians of three interleaved rounds.
//   memory     peak RSS of a 10,000-row and a 1,000,000-row run (--memory-rows N) with the list on standard input
//              and CSV on standard output (target: 300 MiB for the million).
// The program runs as it would from cron: no display, its own settings and history in a scratch folder, the list
// and the output in files. Its rate is the one it prints itself (from the start of the run to its last row);
// end to end (process start to exit) is printed beside it. Every run's output is checked: every row finished with
// the site's record, in list order.
//
//     bench_headless [--rows N] [--memory-rows N]
#include "bench_clients.h"
#include "domainlist/import_file.h"
#include "lookup_site.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

using namespace quernfold;
using namespace quernfold::bench;

namespace {

struct QueryRun {
    bool ok = false;
    double rate = 0; // rows/s as the program counts them
    double endToEndRate = 0; // rows/s from process start to exit
    double peakMiB = 0;
    QString problem;
};

QString programPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../app/quernfold"));
}

// Standard input from a file: the program keeps it in memory as it would a pipe, so the figure covers that too.
// fork and exec rather than QProcess: wait4 gives the child's own peak memory.
QueryRun runQuery(
    const QString &scratch, const QString &base, const QString &listPath, int rows, int parallel, bool checkRecords)
{
    QueryRun run;
    const QByteArray program = QFile::encodeName(programPath());
    const QByteArray input = QFile::encodeName(listPath);
    const QByteArray output = QFile::encodeName(scratch + QStringLiteral("/out.csv"));
    const QByteArray errors = QFile::encodeName(scratch + QStringLiteral("/err.txt"));
    const QByteArray config = QFile::encodeName(scratch + QStringLiteral("/config"));
    const QByteArray data = QFile::encodeName(scratch + QStringLiteral("/data"));
    const QByteArray baseBytes = base.toUtf8();
    const QByteArray parallelBytes = QByteArray::number(parallel);
    // Everything the child needs is made before the fork: between fork and exec only system calls are safe.
    QList<QByteArray> environment { "XDG_CONFIG_HOME=" + config, "XDG_DATA_HOME=" + data };
    for (char **variable = environ; *variable; ++variable) {
        const QByteArray entry(*variable);
        const QByteArray name = entry.left(entry.indexOf('='));
        if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" && !name.startsWith("XDG_")
            && !name.startsWith("QUERNFOLD_") && !name.toLower().endsWith("_proxy"))
            environment << entry;
    }
    std::vector<char *> envp;
    for (QByteArray &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const char *argv[] = { program.constData(), "--query", "-", "--lookup-base", baseBytes.constData(), "--parallel",
        parallelBytes.constData(), "--retries", "0", nullptr };
    QElapsedTimer wall;
    wall.start();
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = ::open(input.constData(), O_RDONLY);
        const int out = ::open(output.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errors.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(program.constData(), const_cast<char **>(argv), envp.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        run.problem = QStringLiteral("could not run %1").arg(programPath());
        return run;
    }
    const double seconds = wall.nsecsElapsed() / 1e9;
    run.endToEndRate = rows / seconds;
    run.peakMiB = usage.ru_maxrss / 1024.0;

    QFile errFile(QString::fromLocal8Bit(errors));
    errFile.open(QIODevice::ReadOnly);
    const QString err = QString::fromUtf8(errFile.readAll());
    // The last progress line is the one the program prints at the end.
    QRegularExpressionMatch last;
    QRegularExpressionMatchIterator lines
        = QRegularExpression(QStringLiteral("(\\d+)/(\\d+) rows, ([0-9.]+) rows/s.*found (\\d+)")).globalMatch(err);
    while (lines.hasNext())
        last = lines.next();
    run.rate = last.captured(3).toDouble();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || last.captured(4).toInt() != rows) {
        run.problem = QStringLiteral("exit %1: %2").arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1).arg(err);
        return run;
    }
    // Every row in list order with the site's record: read back through the program's own import of its CSV.
    const ImportResult back = readDomainFile(QString::fromLocal8Bit(output));
    if (back.status != ImportResult::Ok || qsizetype(back.rows.size()) != rows) {
        run.problem = QStringLiteral("the output holds %1 rows").arg(back.rows.size());
        return run;
    }
    for (int i = 0; i < rows && checkRecords; ++i) {
        const DomainRow &row = back.rows[size_t(i)];
        if (row.domain != QStringLiteral("d%1.com").arg(i) || !row.lookup
            || row.lookup->record.recordNo != site::expectedRecord(row.domain).recordNo) {
            run.problem = QStringLiteral("row %1 is wrong: %2").arg(i + 1).arg(row.domain);
            return run;
        }
    }
    run.ok = true;
    return run;
}

QString writeList(const QString &scratch, int rows)
{
    const QString path = scratch + QStringLiteral("/list-%1.txt").arg(rows);
    if (QFile::exists(path))
        return path;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray text;
    for (int i = 0; i < rows; ++i) {
        text += "d" + QByteArray::number(i) + ".com\n";
        if (text.size() > (1 << 20)) {
            file.write(text);
            text.clear();
        }
    }
    file.write(text);
    return path;
}

QueryRun medianRun(std::vector<QueryRun> runs)
{
    std::sort(runs.begin(), runs.end(), [](const QueryRun &a, const QueryRun &b) { return a.rate < b.rate; });
    QueryRun result = runs[runs.size() / 2];
    std::vector<double> endToEnd;
    for (const QueryRun &r : runs) {
        endToEnd.push_back(r.endToEndRate);
        if (!r.ok) {
            result.ok = false;
            result.problem = r.problem;
        }
    }
    result.endToEndRate = median(endToEnd);
    return result;
}

void printRun(const QString &what, const QueryRun &run)
{
    std::printf("%-50s %9.1f rows/s   end to end %9.1f rows/s%s\n", qPrintable(what), run.rate, run.endToEndRate,
        run.ok ? "" : qPrintable(QStringLiteral("   INVALID: ") + run.problem.left(300)));
}

bool measure(const QString &scratch, const QString &base, int rows, const std::vector<int> &parallels, bool withAb)
{
    constexpr int kRounds = 3;
    const QString list = writeList(scratch, rows);
    const QStringList domains = domainList(rows, QStringLiteral("d"));
    std::vector<double> abRates;
    std::vector<std::vector<double>> threadRates(parallels.size());
    std::vector<std::vector<QueryRun>> queryRuns(parallels.size());
    for (int round = 0; round < kRounds; ++round) {
        if (withAb)
            abRates.push_back(runApacheBench(base, rows));
        for (size_t i = 0; i < parallels.size(); ++i) {
            threadRates[i].push_back(runThreadedCurl(base, domains, parallels[i]));
            queryRuns[i].push_back(runQuery(scratch, base, list, rows, parallels[i], true));
        }
    }
    bool valid = true;
    std::printf("medians of %d rounds:\n", kRounds);
    const double ab = median(abRates);
    if (withAb)
        std::printf("%-50s %9.1f rows/s\n", "ab -n N -c 1 -k (baseline)", ab);
    for (size_t i = 0; i < parallels.size(); ++i) {
        const int k = parallels[i];
        const double threads = median(threadRates[i]);
        const QueryRun query = medianRun(queryRuns[i]);
        std::printf(
            "%-50s %9.1f rows/s\n", qPrintable(QStringLiteral("client of %1 keep-alive threads").arg(k)), threads);
        printRun(QStringLiteral("quernfold --query, --parallel %1").arg(k), query);
        std::printf("  --parallel %d / %d threads: %.1f%%", k, k, 100 * query.rate / threads);
        if (withAb)
            std::printf("; / ab -c 1: %.1f%%", 100 * query.rate / ab);
        std::printf("\n");
        valid = valid && query.ok;
    }
    return valid;
}

int orchestrate(int loopbackRows, int memoryRows)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QTemporaryDir scratchDir;
    const QString scratch = scratchDir.path();
    const bool pinned = sysconf(_SC_NPROCESSORS_ONLN) >= 2 && pinTo(0);
    SiteProcess loopSite;
    const QString loopBase = loopSite.start(0);
    SiteProcess farSite;
    const QString farBase = farSite.start(40);
    if (pinned)
        pinTo(1);
    if (loopBase.isEmpty() || farBase.isEmpty())
        return 1;
    runThreadedCurl(loopBase, domainList(200, QStringLiteral("w")), 1); // a warm site and a warm cache
    bool valid = true;

    std::printf(
        "== loopback, %d rows%s ==\n", loopbackRows, pinned ? ", site on core 0, clients on core 1" : " (not pinned)");
    valid = measure(scratch, loopBase, loopbackRows, { 1, 4 }, true) && valid;

    std::printf("== site 40 ms away, 300 rows ==\n");
    valid = measure(scratch, farBase, 300, { 8, 16 }, false) && valid;

    std::printf("== memory: list on standard input, CSV on standard output, --parallel 4 ==\n");
    const QueryRun small = runQuery(scratch, loopBase, writeList(scratch, 10000), 10000, 4, false);
    std::printf("%-50s %9.1f MiB%s\n", "peak RSS, 10,000 rows", small.peakMiB,
        small.ok ? "" : qPrintable(QStringLiteral("   INVALID: ") + small.problem.left(300)));
    const QueryRun large = runQuery(scratch, loopBase, writeList(scratch, memoryRows), memoryRows, 4, false);
    std::printf("%-50s %9.1f MiB%s   (%.0f rows/s)\n", qPrintable(QStringLiteral("peak RSS, %1 rows").arg(memoryRows)),
        large.peakMiB, large.ok ? "" : qPrintable(QStringLiteral("   INVALID: ") + large.problem.left(300)),
        large.rate);
    std::printf("peak RSS %d rows / 10,000 rows: %.2fx (target: at most 300 MiB for 1,000,000)\n", memoryRows,
        large.peakMiB / small.peakMiB);
    valid = valid && small.ok && large.ok;

    if (!valid)
        std::printf("INVALID: some run above was incomplete or wrong\n");
    return valid ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto value = [&args](const char *name, int fallback) {
        const int at = args.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < args.size() ? qMax(1, args.at(at + 1).toInt()) : fallback;
    };
    return orchestrate(value("--rows", 5000), value("--memory-rows", 1000000));
}
