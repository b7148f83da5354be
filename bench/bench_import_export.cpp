// Import of GBK domain files of 10k, 100k and 1M lines into the list model, next to iconv decoding the same
// file, and export of 10k, 100k and 1M queried rows. Every measured run happens in a fresh child process of
// this program so its peak RSS belongs to that run alone.
//
//   bench_import_export            all sizes
//   bench_import_export --big      also a file of about 200 MB
#include "domainlist/domain_list_model.h"
#include "domainlist/export_file.h"
#include "domainlist/import_file.h"
#include "platform/codepage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

#include "bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace quernfold;

namespace {

// CPU time of this process: on a machine shared with builds, wall time alone says little.
double cpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Mixed lines as people keep them: plain ASCII names, Chinese names, some with "www.", CR LF line ends.
bool writeGbkFile(const QString &path, int lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QString chunk;
    for (int i = 0; i < lines; ++i) {
        const QString n = QString::number(i);
        switch (i % 4) {
        case 0:
            chunk += QStringLiteral("www.example") + n + QStringLiteral(".com\r\n");
            break;
        case 1:
            chunk += QStringLiteral("中文域名") + n + QStringLiteral(".中国\r\n");
            break;
        case 2:
            chunk += QStringLiteral("www.测试") + n + QStringLiteral(".公司.cn\r\n");
            break;
        default:
            chunk += QStringLiteral("site-") + n + QStringLiteral(".net.cn\r\n");
            break;
        }
        if (chunk.size() > 65536 || i + 1 == lines) {
            if (file.write(codepage::toNarrow(chunk)) < 0)
                return false;
            chunk.clear();
        }
    }
    return true;
}

int childImport(const QString &path)
{
    const double rssBefore = bench::peakRssMiB();
    DomainListModel model;
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuMs();
    int progressCalls = 0;
    qint64 lastCall = 0;
    qint64 longestGap = 0;
    // What the window does: read with a progress callback, then hand the rows to the model in one go.
    ImportResult result = readDomainFile(path, [&](qint64, qint64) {
        ++progressCalls;
        longestGap = std::max(longestGap, timer.elapsed() - lastCall);
        lastCall = timer.elapsed();
    });
    model.setDomains(std::move(result.domains));
    const qint64 ms = timer.elapsed();
    // The gap after the last call is the model taking the rows, which the window cannot repaint during.
    std::printf("%lld %.0f %d %d %lld %lld %.1f %.1f\n", static_cast<long long>(ms), cpuMs() - cpuStart, model.count(),
        progressCalls, static_cast<long long>(longestGap), static_cast<long long>(ms - lastCall), rssBefore,
        bench::peakRssMiB());
    std::fflush(stdout);
    // Handing a million rows back to the allocator one by one is not part of the import.
    std::_Exit(result.status == ImportResult::Ok ? 0 : 1);
}

int childExport(const QString &path, int rows)
{
    DomainListModel model;
    for (int i = 0; i < rows; ++i) {
        model.appendDomain(QStringLiteral("中文域名") + QString::number(i) + QStringLiteral(".中国"));
        model.setCell(i, DomainListModel::RecordNoColumn, QStringLiteral("京ICP备%1号-1").arg(i));
        model.setCell(i, DomainListModel::HolderColumn, QStringLiteral("北京某某科技有限公司"));
        model.setCell(i, DomainListModel::RecordTypeColumn, QStringLiteral("企业"));
        model.setCell(i, DomainListModel::SiteNameColumn, QStringLiteral("某某网"));
        model.setCell(i, DomainListModel::StatusColumn, QStringLiteral("查询完毕"));
    }
    const double rssBefore = bench::peakRssMiB();
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuMs();
    const QByteArray block = buildExportBlock(model);
    const qint64 buildMs = timer.elapsed();
    const ExportResult result = appendExportBlock(path, block);
    const qint64 totalMs = timer.elapsed();
    std::printf("%lld %lld %.0f %lld %.1f %.1f\n", static_cast<long long>(buildMs), static_cast<long long>(totalMs),
        cpuMs() - cpuStart, static_cast<long long>(block.size()), rssBefore, bench::peakRssMiB());
    std::fflush(stdout);
    std::_Exit(result.ok ? 0 : 1);
}

QList<QByteArray> runChild(const QStringList &arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return {};
    return child.readAllStandardOutput().trimmed().split(' ');
}

// Wall time of iconv decoding the file, or -1 when there is no iconv.
qint64 iconvMs(const QString &path)
{
    const QString iconv = QStandardPaths::findExecutable(QStringLiteral("iconv"));
    if (iconv.isEmpty())
        return -1;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(iconv,
        { QStringLiteral("-f"), QStringLiteral("GB18030"), QStringLiteral("-t"), QStringLiteral("UTF-8"), path });
    process.waitForFinished(-1);
    return timer.elapsed();
}

void benchImport(const QTemporaryDir &dir, int lines, const char *target)
{
    const QString path = dir.filePath(QStringLiteral("import-%1.txt").arg(lines));
    if (!writeGbkFile(path, lines)) {
        std::printf("import %d lines: could not write the file\n", lines);
        return;
    }
    const qint64 bytes = QFile(path).size();
    const QList<QByteArray> figures = runChild({ QStringLiteral("--import"), path });
    if (figures.size() != 8) {
        std::printf("import %d lines: the run failed\n", lines);
        return;
    }
    const qint64 ms = figures.at(0).toLongLong();
    std::printf("import %8d lines (%6.1f MB): %6lld ms wall, %6s ms cpu, %d rows, peak RSS %s -> %s MiB%s\n", lines,
        bytes / 1e6, static_cast<long long>(ms), figures.at(1).constData(), figures.at(2).toInt(),
        figures.at(6).constData(), figures.at(7).constData(), target);
    std::printf("    %s progress calls, longest gap while reading %s ms, model taking the rows %s ms\n",
        figures.at(3).constData(), figures.at(4).constData(), figures.at(5).constData());
    const qint64 iconv = iconvMs(path);
    if (iconv < 0)
        std::printf("    iconv not found, no comparison\n");
    else
        std::printf("    iconv -f GB18030 -t UTF-8: %lld ms, import / iconv = %.1f\n", static_cast<long long>(iconv),
            iconv > 0 ? double(ms) / double(iconv) : 0.0);
    QFile::remove(path);
}

void benchExport(const QTemporaryDir &dir, int rows, const char *target)
{
    const QString path = dir.filePath(QStringLiteral("export-%1.txt").arg(rows));
    const QList<QByteArray> figures = runChild({ QStringLiteral("--export"), path, QString::number(rows) });
    if (figures.size() != 6) {
        std::printf("export %d rows: the run failed\n", rows);
        return;
    }
    std::printf("export %8d rows: build %5s ms, build + write %5s ms wall, %5s ms cpu (%.1f MB), "
                "peak RSS %s -> %s MiB%s\n",
        rows, figures.at(0).constData(), figures.at(1).constData(), figures.at(2).constData(),
        figures.at(3).toLongLong() / 1e6, figures.at(4).constData(), figures.at(5).constData(), target);
    QFile::remove(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--import"))
        return childImport(args.at(2));
    if (args.size() == 4 && args.at(1) == QLatin1String("--export"))
        return childExport(args.at(2), args.at(3).toInt());

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::printf("no temporary folder\n");
        return 1;
    }
    benchImport(dir, 10000, "");
    benchImport(dir, 100000, "");
    benchImport(dir, 1000000, "  (target <= 1500 ms, <= 450 MiB)");
    if (args.contains(QLatin1String("--big")))
        benchImport(dir, 10000000, "  (no target: must not crash)");
    benchExport(dir, 10000, "");
    benchExport(dir, 100000, "");
    benchExport(dir, 1000000, "  (target <= 1000 ms)");
    return 0;
}
