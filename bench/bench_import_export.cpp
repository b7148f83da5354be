// Import of domain files of 10k, 100k and 1M lines into the list model (cleaning, duplicate check, rows in),
// next to iconv decoding the same file, and a 1M-line import appended to a list that already holds 1M rows;
// names: 1M ASCII lines onto 1M rows and 100k non-ASCII lines with their mapping and checks, the same lines cleaned
// as before the name libraries (cleaning and shape only), and the public suffix lookups of 1M names;
// export of 10k, 100k and 1M queried rows as the text block, CSV and XLSX, by the writers alone and by the
// window (which writes off its thread while a 10 ms timer measures how long it ever goes unanswered). Every
// measured run happens in a fresh child process of this program so its peak RSS belongs to that run alone.
//
//   bench_import_export            all sizes
//   bench_import_export --big      also a file of 10M lines
//   bench_import_export --names    the pasted GBK imports and the name figures, no export
#include "window/main_window.h"
#include "domainlist/domain_cleaner.h"
#include "domainlist/domain_list_model.h"
#include "domainlist/domain_name.h"
#include "domainlist/duplicate_domains.h"
#include "domainlist/export_file.h"
#include "domainlist/import_file.h"
#include "platform/codepage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

#include "bench_common.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace quernfold;
using namespace Qt::StringLiterals;

namespace {

// CPU time of this process: on a machine shared with builds, wall time alone says little.
double cpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double statusMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// From here on the peak RSS counts from what is resident now (Linux 4.0 and later).
void resetPeakRss()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// Writes `lines` lines, line i made by `line(i)`, in chunks of about 64 KiB encoded by `encode`.
template <typename Line, typename Encode>
bool writeLines(const QString &path, int lines, Line line, Encode encode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QString chunk;
    for (int i = 0; i < lines; ++i) {
        chunk += line(i);
        if (chunk.size() > 65536 || i + 1 == lines) {
            const QByteArray bytes = encode(chunk);
            if (file.write(bytes) != bytes.size())
                return false;
            chunk.clear();
        }
    }
    return true;
}

// Lines as people paste them together from a browser and a spreadsheet: plain ASCII names, Chinese names, "www."
// in either case, addresses with a scheme and a path, blanks around, a name repeated, a line that is no domain;
// CR LF line ends, in GBK.
bool writeGbkFile(const QString &path, int lines)
{
    const auto line = [](int i) {
        const QString n = QString::number(i);
        switch (i % 8) {
        case 0:
            return u"www.example"_s + n + u".com\r\n"_s;
        case 1:
            return u"中文域名"_s + n + u".中国\r\n"_s;
        case 2:
            return u"WWW.测试"_s + n + u".公司.CN\r\n"_s;
        case 3:
            return u"  https://news.example"_s + n + u".org:8080/path?q=1#top\t\r\n"_s;
        case 4:
            return u"site-"_s + n + u".net.cn\r\n"_s;
        case 5:
            // Once in the file already.
            return u"site-"_s + QString::number(i - 1) + u".net.cn\r\n"_s;
        case 6:
            return u"-bad"_s + n + u"-.com\r\n"_s;
        default:
            return u"shop"_s + n + u".example.cn.\r\n"_s;
        }
    };
    return writeLines(path, lines, line, [](const QString &chunk) { return codepage::toNarrow(chunk); });
}

// Lines of plain ASCII names as a registrar's export or a crawler gives them: "www.", addresses, repeats and a few
// lines that are no domain (an address, one label, an unlisted suffix), UTF-8 (so ASCII) with LF.
bool writeAsciiFile(const QString &path, int lines)
{
    const auto line = [](int i) {
        const QString n = QString::number(i);
        switch (i % 8) {
        case 0:
            return u"www.example"_s + n + u".com\n"_s;
        case 1:
            return u"https://news.example"_s + n + u".org/path?q=1\n"_s;
        case 2:
            return u"shop"_s + n + u".example.com.cn\n"_s;
        case 3:
            return u"10.0."_s + QString::number(i % 256) + u".1\n"_s;
        case 4:
            return u"site-"_s + n + u".net.cn\n"_s;
        case 5:
            return u"site-"_s + QString::number(i - 1) + u".net.cn\n"_s;
        case 6:
            return i % 16 == 6 ? u"host"_s + n + u"\n"_s : u"a"_s + n + u".invalid\n"_s;
        default:
            return u"blog-"_s + n + u".example.net\n"_s;
        }
    };
    return writeLines(path, lines, line, [](const QString &chunk) { return chunk.toUtf8(); });
}

// Names in other scripts and spellings, each through the library: Chinese names under Chinese and ASCII suffixes,
// full-width letters, capital umlauts, ideographic full stops, A-labels.
bool writeUnicodeFile(const QString &path, int lines)
{
    const auto line = [](int i) {
        const QString n = QString::number(i);
        switch (i % 5) {
        case 0:
            return u"中文域名"_s + n + u".中国\n"_s;
        case 1:
            return u"www.测试"_s + n + u".公司.cn\n"_s;
        case 2:
            return u"ＳＨＯＰ"_s + n + u"．ｃｏｍ\n"_s;
        case 3:
            return u"BÜCHER"_s + n + u".de\n"_s;
        default:
            return u"例子"_s + n + u"。中国\n"_s;
        }
    };
    return writeLines(path, lines, line, [](const QString &chunk) { return chunk.toUtf8(); });
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// The same lines through the cleaning the import did before names were mapped (cleaning, "www.", the shape of a
// name) and through today's, in this process: the in-run baseline for what the libraries add.
int childCleaning(const QString &path)
{
    const QStringList lines = fileLines(path);
    double start = cpuMs();
    qsizetype before = 0;
    for (const QString &line : lines) {
        const QString domain = stripWww(cleanDomain(line));
        before += isDomainName(domain) ? 1 : 0;
    }
    const double beforeMs = cpuMs() - start;
    start = cpuMs();
    qsizetype now = 0;
    for (const QString &line : lines)
        now += importedDomain(line).isEmpty() ? 0 : 1;
    std::printf("%.0f %.0f %lld %lld\n", beforeMs, cpuMs() - start, static_cast<long long>(before),
        static_cast<long long>(now));
    std::fflush(stdout);
    std::_Exit(0);
}

// Public suffix lookups of 1M names: the check every imported name gets (its top-level domain) and the registrable
// domain, over names in the list's form.
int childSuffixes(int names)
{
    QStringList list;
    list.reserve(names);
    for (int i = 0; i < names; ++i) {
        const QString n = QString::number(i);
        switch (i % 4) {
        case 0:
            list << QStringLiteral("example") + n + QStringLiteral(".com");
            break;
        case 1:
            list << QStringLiteral("blog.shop") + n + QStringLiteral(".example.com.cn");
            break;
        case 2:
            list << QStringLiteral("www.site-") + n + QStringLiteral(".net");
            break;
        default:
            list << QStringLiteral("host") + n + QStringLiteral(".co.uk");
            break;
        }
    }
    QElapsedTimer timer;
    timer.start();
    double cpuStart = cpuMs();
    qsizetype domains = 0;
    for (const QString &name : std::as_const(list))
        domains += checkDomainName(name).verdict == NameVerdict::Domain ? 1 : 0;
    const qint64 checkMs = timer.restart();
    const double checkCpuMs = cpuMs() - cpuStart;
    cpuStart = cpuMs();
    qsizetype registrable = 0;
    for (const QString &name : std::as_const(list))
        registrable += registrableDomain(name).isEmpty() ? 0 : 1;
    const qint64 registrableMs = timer.elapsed();
    std::printf("%lld %.0f %lld %.0f %lld %lld\n", static_cast<long long>(checkMs), checkCpuMs,
        static_cast<long long>(registrableMs), cpuMs() - cpuStart, static_cast<long long>(domains),
        static_cast<long long>(registrable));
    std::fflush(stdout);
    std::_Exit(0);
}

int childImport(const QString &path, int listed)
{
    DomainListModel model;
    if (listed > 0) {
        // Every eighth listed row is also a line of the file, so the check finds rows of the list too.
        std::vector<DomainRow> rows(static_cast<size_t>(listed));
        for (int i = 0; i < listed; ++i)
            rows[size_t(i)].domain
                = i % 8 == 4 ? QStringLiteral("site-%1.net.cn").arg(i) : QStringLiteral("listed%1.example.com").arg(i);
        model.appendRows(std::move(rows));
    }
    const double rssBefore = bench::peakRssMiB();
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuMs();
    int progressCalls = 0;
    qint64 lastCall = 0;
    qint64 longestGap = 0;
    // What the window does: read with a progress callback, take out what is there already, then hand the rows to
    // the model in one go.
    ImportResult result = readDomainFile(path, [&](qint64, qint64) {
        ++progressCalls;
        longestGap = std::max(longestGap, timer.elapsed() - lastCall);
        lastCall = timer.elapsed();
    });
    const qint64 readMs = timer.elapsed();
    const double rssAfterRead = bench::peakRssMiB();
    resetPeakRss();
    const double rssBeforeCheck = statusMiB("VmRSS:");
    const qsizetype duplicates = dropDuplicateDomains(result.rows, listed > 0 ? &model : nullptr);
    const double checkMiB = bench::peakRssMiB() - rssBeforeCheck;
    const qint64 checkMs = timer.elapsed() - readMs;
    const qsizetype imported = qsizetype(result.rows.size());
    if (listed > 0)
        model.appendRows(std::move(result.rows));
    else
        model.replaceRows(std::move(result.rows));
    const qint64 ms = timer.elapsed();
    std::printf("%lld %.0f %d %lld %lld %d %lld %lld %lld %.1f %.1f %.1f %lld\n", static_cast<long long>(ms),
        cpuMs() - cpuStart, model.count(), static_cast<long long>(result.skipped), static_cast<long long>(duplicates),
        progressCalls, static_cast<long long>(longestGap), static_cast<long long>(readMs),
        static_cast<long long>(checkMs), rssBefore, std::max(rssAfterRead, bench::peakRssMiB()), checkMiB,
        static_cast<long long>(imported));
    std::fflush(stdout);
    // Handing a million rows back to the allocator one by one is not part of the import.
    std::_Exit(result.status == ImportResult::Ok ? 0 : 1);
}

// Queried rows as a run leaves them; every tenth did not finish and carries its note.
void fillQueried(DomainListModel &model, int rows)
{
    std::vector<DomainRow> list(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        DomainRow &row = list[size_t(i)];
        row.domain = QStringLiteral("中文域名") + QString::number(i) + QStringLiteral(".中国");
        row.lookup = std::make_unique<LookupCells>();
        if (i % 10 == 9) {
            row.lookup->status = QStringLiteral("查询中");
            row.lookup->note = QStringLiteral("连接超时,已重试2次");
            continue;
        }
        row.lookup->record = FilingRecord { QStringLiteral("京ICP备%1号-1").arg(i),
            QStringLiteral("北京某某科技有限公司"), QStringLiteral("企业"), QStringLiteral("某某网") };
        row.lookup->status = QStringLiteral("查询完毕");
    }
    model.appendRows(std::move(list));
}

std::vector<int> allRows(const DomainListModel &model)
{
    std::vector<int> rows(size_t(model.count()));
    for (int i = 0; i < model.count(); ++i)
        rows[size_t(i)] = i;
    return rows;
}

int childExport(const QString &path, int rows)
{
    DomainListModel model;
    fillQueried(model, rows);
    const std::vector<int> order = allRows(model);
    // Building the list peaked higher than the export will; only what the export adds to the list counts.
    resetPeakRss();
    const double rssBefore = statusMiB("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuMs();
    const ExportResult result = writeExport(path, model, order);
    const qint64 totalMs = timer.elapsed();
    std::printf("%lld %.0f %lld %.1f %.1f\n", static_cast<long long>(totalMs), cpuMs() - cpuStart,
        static_cast<long long>(QFile(path).size()), rssBefore, bench::peakRssMiB());
    std::fflush(stdout);
    if (!result.ok)
        std::fprintf(stderr, "%s\n", qPrintable(result.error));
    std::_Exit(result.ok ? 0 : 1);
}

// Answers the export dialog with one path; there is nothing else to ask.
class ExportDialogs : public Dialogs
{
public:
    explicit ExportDialogs(QString path)
        : m_path(std::move(path))
    { }
    MessageAnswer messageBox(const QString &text, MessageStyle, const QString &, const QStringList &) override
    {
        std::fprintf(stderr, "asked: %s\n", qPrintable(text));
        return MessageAnswer::Cancel;
    }
    std::optional<QString> inputBox(const QString &, const QString &, const QString &) override { return {}; }
    std::optional<QString> openFile(FileDialogSettings &) override { return {}; }
    std::optional<QString> saveFile(FileDialogSettings &) override { return m_path; }
    std::optional<QList<FormField>> formDialog(const QString &, const QString &, const QList<FormField> &) override
    {
        return {};
    }

private:
    QString m_path;
};

int childWindowExport(int argc, char *argv[], const QString &path, int rows)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    ExportDialogs dialogs(path);
    Platform platform;
    platform.dialogs = &dialogs;
    platform.quit = [](int) {};
    MainWindow window(platform, Config {});
    if (auto *versionCheckTimer = window.findChild<QTimer *>(QStringLiteral("Timer1")))
        versionCheckTimer->stop();
    fillQueried(window.model(), rows);
    window.load();

    bench::TickWatch ticks;
    QElapsedTimer runTimer;
    qint64 ms = -1;
    int progressTexts = 0;
    bool saved = false;
    double rssBefore = 0;
    QObject::connect(&window, &MainWindow::messageWritten, [&](const QString &text) {
        if (text.startsWith(QStringLiteral("正在导出"))) {
            ++progressTexts;
            return;
        }
        ms = runTimer.elapsed();
        saved = text.startsWith(QStringLiteral("保存成功"));
        if (!saved)
            std::fprintf(stderr, "%s\n", qPrintable(text));
        ticks.stop();
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    });
    QTimer::singleShot(200, &window, [&] {
        resetPeakRss();
        rssBefore = statusMiB("VmRSS:");
        ticks.start();
        runTimer.start();
        window.findChild<QPushButton *>(QStringLiteral("Command1_3"))->click();
    });
    QCoreApplication::exec();
    std::printf("%lld %.1f %d %.1f %.1f\n", static_cast<long long>(ms), ticks.longestMs(), progressTexts, rssBefore,
        bench::peakRssMiB());
    std::fflush(stdout);
    std::_Exit(saved ? 0 : 1);
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

enum class Lines { PastedGbk, Ascii, Unicode };

bool writeLines(const QString &path, int lines, Lines kind)
{
    switch (kind) {
    case Lines::Ascii:
        return writeAsciiFile(path, lines);
    case Lines::Unicode:
        return writeUnicodeFile(path, lines);
    case Lines::PastedGbk:
        break;
    }
    return writeGbkFile(path, lines);
}

void benchImport(const QTemporaryDir &dir, int lines, int listed, const char *target, Lines kind = Lines::PastedGbk)
{
    const QString path = dir.filePath(QStringLiteral("import-%1-%2.txt").arg(lines).arg(int(kind)));
    if (!writeLines(path, lines, kind)) {
        std::printf("import %d lines: could not write the file\n", lines);
        return;
    }
    const qint64 bytes = QFile(path).size();
    const QList<QByteArray> figures
        = runChild({ QStringLiteral("--import"), path, QStringLiteral("--listed"), QString::number(listed) });
    if (figures.size() != 13) {
        std::printf("import %d lines: the run failed\n", lines);
        return;
    }
    const qint64 ms = figures.at(0).toLongLong();
    const char *const kinds[] = { "", " ASCII", " non-ASCII" };
    std::printf("import %8d%s lines (%6.1f MB)%s: %6lld ms wall, %6s ms cpu, peak RSS %s -> %s MiB%s\n", lines,
        kinds[int(kind)], bytes / 1e6,
        listed > 0 ? qPrintable(QStringLiteral(" after %1 listed rows").arg(listed)) : "",
        static_cast<long long>(ms), figures.at(1).constData(), figures.at(9).constData(), figures.at(10).constData(),
        target);
    std::printf("    read and clean %s ms, duplicate check %s ms (peak memory added %s MiB), rows in %lld ms\n",
        figures.at(7).constData(), figures.at(8).constData(), figures.at(11).constData(),
        ms - figures.at(7).toLongLong() - figures.at(8).toLongLong());
    std::printf("    %s imported, %s lines no domain, %s duplicates; list now %s rows; %s progress calls, longest "
                "gap while reading %s ms\n",
        figures.at(12).constData(), figures.at(3).constData(), figures.at(4).constData(), figures.at(2).constData(),
        figures.at(5).constData(), figures.at(6).constData());
    if (kind != Lines::PastedGbk) {
        const QList<QByteArray> cleaning = runChild({ QStringLiteral("--cleaning"), path });
        if (cleaning.size() == 4)
            std::printf("    the same lines cleaned as before the name libraries: %s ms cpu (%s domains); with mapping "
                        "and checks: %s ms cpu (%s domains)\n",
                cleaning.at(0).constData(), cleaning.at(2).constData(), cleaning.at(1).constData(),
                cleaning.at(3).constData());
        QFile::remove(path);
        return;
    }
    const qint64 iconv = iconvMs(path);
    if (iconv < 0)
        std::printf("    iconv not found, no comparison\n");
    else
        std::printf("    iconv -f GB18030 -t UTF-8: %lld ms, import / iconv = %.1f\n", static_cast<long long>(iconv),
            iconv > 0 ? double(ms) / double(iconv) : 0.0);
    QFile::remove(path);
}

void benchExport(const QTemporaryDir &dir, const QString &extension, int rows, const char *target)
{
    const QString path = dir.filePath(QStringLiteral("export-%1.%2").arg(rows).arg(extension));
    const QList<QByteArray> figures = runChild({ QStringLiteral("--export"), path, QString::number(rows) });
    QFile::remove(path);
    if (figures.size() != 5) {
        std::printf("export %d rows to .%s: the run failed\n", rows, qPrintable(extension));
        return;
    }
    std::printf("export %8d rows to .%-4s: %6s ms wall, %6s ms cpu (%6.1f MB), peak RSS %s -> %s MiB (+%.1f)%s\n", rows,
        qPrintable(extension), figures.at(0).constData(), figures.at(1).constData(), figures.at(2).toLongLong() / 1e6,
        figures.at(3).constData(), figures.at(4).constData(), figures.at(4).toDouble() - figures.at(3).toDouble(),
        target);
}

void benchWindowExport(const QTemporaryDir &dir, const QString &extension, int rows, const char *target)
{
    const QString path = dir.filePath(QStringLiteral("window-%1.%2").arg(rows).arg(extension));
    const QList<QByteArray> figures = runChild({ QStringLiteral("--window-export"), path, QString::number(rows) });
    QFile::remove(path);
    if (figures.size() != 5) {
        std::printf("window export %d rows to .%s: the run failed\n", rows, qPrintable(extension));
        return;
    }
    std::printf("window export %8d rows to .%-4s: %6s ms to the saved message, longest tick gap %s ms, %s progress "
                "texts, peak RSS %s -> %s MiB (+%.1f)%s\n",
        rows, qPrintable(extension), figures.at(0).constData(), figures.at(1).constData(), figures.at(2).constData(),
        figures.at(3).constData(), figures.at(4).constData(), figures.at(4).toDouble() - figures.at(3).toDouble(),
        target);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.size() == 4 && args.at(1) == QLatin1String("--window-export"))
        return childWindowExport(argc, argv, args.at(2), args.at(3).toInt());

    QCoreApplication app(argc, argv);
    if (args.size() == 5 && args.at(1) == QLatin1String("--import"))
        return childImport(args.at(2), args.at(4).toInt());
    if (args.size() == 4 && args.at(1) == QLatin1String("--export"))
        return childExport(args.at(2), args.at(3).toInt());
    if (args.size() == 3 && args.at(1) == QLatin1String("--cleaning"))
        return childCleaning(args.at(2));
    if (args.size() == 3 && args.at(1) == QLatin1String("--suffixes"))
        return childSuffixes(args.at(2).toInt());

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::printf("no temporary folder\n");
        return 1;
    }
    benchImport(dir, 10000, 0, "");
    benchImport(dir, 100000, 0, "");
    benchImport(dir, 1000000, 0, "  (target <= 1500 ms, <= 450 MiB)");
    benchImport(dir, 1000000, 1000000, "  (target <= 2000 ms, duplicate check <= 64 MiB)");
    if (args.contains(QLatin1String("--big")))
        benchImport(dir, 10000000, 0, "  (no target: must not crash)");
    benchImport(dir, 1000000, 1000000, "  (target <= 2000 ms; 419 ms before the name libraries)", Lines::Ascii);
    benchImport(dir, 100000, 0, "  (target <= 1000 ms)", Lines::Unicode);
    const QList<QByteArray> suffixes = runChild({ QStringLiteral("--suffixes"), QStringLiteral("1000000") });
    if (suffixes.size() == 6)
        std::printf("public suffix lookups of 1000000 names  (target <= 300 ms):\n    the check as at import %s ms wall, "
                    "%s ms cpu (%s domains)\n    registrable domain %s ms wall, %s ms cpu (%s found)\n",
            suffixes.at(0).constData(), suffixes.at(1).constData(), suffixes.at(4).constData(),
            suffixes.at(2).constData(), suffixes.at(3).constData(), suffixes.at(5).constData());
    if (args.contains(QLatin1String("--names")))
        return 0;
    for (const char *extension : { "txt", "csv", "xlsx" }) {
        const QString ext = QString::fromLatin1(extension);
        benchExport(dir, ext, 10000, "");
        benchExport(dir, ext, 100000, "");
        const char *target = ext == QLatin1String("txt") ? "  (target <= 1000 ms)"
            : ext == QLatin1String("csv")                ? "  (target <= 1500 ms, <= +100 MiB)"
                                                         : "  (target <= 15000 ms, <= +100 MiB)";
        benchExport(dir, ext, 1000000, target);
    }
    for (const char *extension : { "txt", "csv", "xlsx" })
        benchWindowExport(dir, QString::fromLatin1(extension), 1000000, "  (target: no tick gap over 50 ms)");
    return 0;
}
