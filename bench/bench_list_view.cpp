// The list at a million rows as the window shows it: sorting, filtering and finding with our own view of the rows
// against QSortFilterProxyModel, the memory that costs, and a loopback batch run with a sort and a filter on
// against the same run without them. Each measurement runs in a child process of its own, so its memory is its
// own; the site runs as a child process on 127.0.0.1 only.
//
//     ./build/bench/bench_list_view [--rows N] [--no-qsfpm]   # offscreen
//     bash bench/window_bench.sh --list-view            # also the real window under Xvfb
#include "window/main_window.h"
#include "bench_common.h"
#include "lookup_site.h"

#include "platform/curl_http.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quernfold;

namespace {

// A field of /proc/self/status in MiB: VmRSS (all resident pages), RssAnon (the heap's, without the pages of
// mapped files such as ICU's collation data).
double statusMiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

double currentRssMiB()
{
    return statusMiB("VmRSS");
}

// Lets the peak RSS start again from what the process holds now (Linux: "5" to clear_refs).
void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QStringList domainList(int rows, const QString &prefix)
{
    QStringList domains;
    domains.reserve(rows);
    for (int i = 0; i < rows; ++i)
        domains << QStringLiteral("%1%2.example.com").arg(prefix).arg(i);
    return domains;
}

// A list as a finished run leaves it: the local site's records (Chinese holders and names), one row in twenty
// without a record, one in a hundred deleted, one in a hundred unfinished, and one in fifty changed since an
// earlier lookup.
void fillFinishedList(DomainListModel &model, int rows)
{
    model.setDomains(domainList(rows, QStringLiteral("domain")));
    auto earlier = std::make_shared<PreviousResult>();
    earlier->record = { QStringLiteral("京ICP备00000001号-1"), QStringLiteral("某某公司"), QStringLiteral("企业"),
        QStringLiteral("某某网") };
    earlier->status = QStringLiteral("查询完毕");
    for (int row = 0; row < rows; ++row) {
        if (row % 100 == 7) {
            model.setStatus(model.keyAt(row), QStringLiteral("查询中"), QStringLiteral("连接超时"));
            continue;
        }
        FilingRecord record = site::expectedRecord(model.cell(row, DomainListModel::DomainColumn));
        if (row % 20 == 3)
            record
                = { QStringLiteral("无记录"), QStringLiteral("未知"), QStringLiteral("未知"), QStringLiteral("未知") };
        else if (row % 100 == 11)
            record = { QStringLiteral("备案已被删除"), QStringLiteral("未知"), QStringLiteral("未知"),
                QStringLiteral("未知") };
        const QString change = row % 50 == 9 ? changeText(*earlier, record) : QString();
        model.setLookupResult(model.keyAt(row), std::move(record), QStringLiteral("查询完毕"));
        if (!change.isEmpty())
            model.setChange(model.keyAt(row), change, earlier);
    }
}

// The filters a user means by 有备案 and 有变化, for the Qt proxy.
class KindFilterProxy : public QSortFilterProxyModel
{
public:
    bool foundOnly = false;
    bool changedOnly = false;
    void refilter() { invalidateRowsFilter(); }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (changedOnly && sourceModel()->index(row, DomainListModel::ChangeColumn, parent).data().toString().isEmpty())
            return false;
        if (foundOnly) {
            const QString recordNo
                = sourceModel()->index(row, DomainListModel::RecordNoColumn, parent).data().toString();
            if (recordNo.isEmpty() || recordNo == QStringLiteral("无记录")
                || recordNo == QStringLiteral("备案已被删除"))
                return false;
        }
        return QSortFilterProxyModel::filterAcceptsRow(row, parent);
    }
};

template <typename F> double timedMs(F &&step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    // The view takes in the change and paints, as it would before the user sees anything.
    QCoreApplication::processEvents();
    const double ms = timer.nsecsElapsed() / 1e6;
    if (qEnvironmentVariableIsSet("QUERNFOLD_BENCH_STEPS"))
        std::fprintf(stderr, "  step %.1f ms, RSS %.1f MiB\n", ms, currentRssMiB());
    return ms;
}

// --- in a child: the list at scale -------------------------------------------------------------------------

int scaleRun(const QString &kind, int rows)
{
    Platform platform;
    MainWindow window(platform, Config {});
    // No version service here: its first tick would ask one.
    window.findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    window.resize(1280, 1000);
    window.show();
    QCoreApplication::processEvents();
    DomainListModel &model = window.model();
    fillFinishedList(model, rows);
    QCoreApplication::processEvents();

    std::unique_ptr<KindFilterProxy> qtProxy;
    if (kind == QStringLiteral("qsfpm")) {
        // The same window, its list shown through Qt's proxy instead of ours.
        qtProxy = std::make_unique<KindFilterProxy>();
        qtProxy->setSortLocaleAware(true);
        qtProxy->setSortCaseSensitivity(Qt::CaseInsensitive);
        qtProxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
        qtProxy->setFilterKeyColumn(-1);
        qtProxy->setSourceModel(&model);
        window.findChild<DomainListView *>(QStringLiteral("ListView1"))->setModel(qtProxy.get());
        QCoreApplication::processEvents();
    }
    const double rssBefore = currentRssMiB();
    const double anonBefore = statusMiB("RssAnon");
    resetPeakRss();

    const auto sortBy = [&](int column, Qt::SortOrder order) {
        if (qtProxy)
            qtProxy->sort(column, order);
        else
            window.shownModel().sortBy(column, order);
    };
    const auto showKind = [&](ShownRowsModel::Kind kind) {
        if (qtProxy) {
            qtProxy->foundOnly = kind == ShownRowsModel::Kind::Found;
            qtProxy->changedOnly = kind == ShownRowsModel::Kind::Changed;
            qtProxy->refilter();
        } else {
            window.showKind(kind);
        }
    };
    const auto showFound
        = [&](bool found) { showKind(found ? ShownRowsModel::Kind::Found : ShownRowsModel::Kind::All); };
    auto *findField = window.findChild<QLineEdit *>(QStringLiteral("findText"));
    const auto find = [&](const QString &text) {
        if (qtProxy)
            qtProxy->setFilterFixedString(text);
        else
            findField->setText(text);
    };

    std::printf("sort_domain_ms=%.1f\n", timedMs([&] { sortBy(DomainListModel::DomainColumn, Qt::AscendingOrder); }));
    std::printf(
        "sort_domain_reverse_ms=%.1f\n", timedMs([&] { sortBy(DomainListModel::DomainColumn, Qt::DescendingOrder); }));
    std::printf("sort_holder_ms=%.1f\n", timedMs([&] { sortBy(DomainListModel::HolderColumn, Qt::AscendingOrder); }));
    std::printf("filter_found_ms=%.1f\n", timedMs([&] { showFound(true); }));
    std::printf("filter_all_ms=%.1f\n", timedMs([&] { showFound(false); }));
    std::printf("filter_found_again_ms=%.1f\n", timedMs([&] { showFound(true); }));
    std::printf("filter_changed_ms=%.1f\n", timedMs([&] { showKind(ShownRowsModel::Kind::Changed); }));
    // The steps after this one find and sort among the found rows, as they always have.
    showFound(true);
    // Typing "domain12" and then deleting it again, one key at a time.
    const QString typed = QStringLiteral("domain12");
    double slowestKey = 0;
    for (int length = 1; length <= typed.size(); ++length)
        slowestKey = std::max(slowestKey, timedMs([&] { find(typed.left(length)); }));
    for (int length = typed.size() - 1; length >= 0; --length)
        slowestKey = std::max(slowestKey, timedMs([&] { find(typed.left(length)); }));
    std::printf("find_key_ms=%.1f\n", slowestKey);
    std::printf("find_holder_ms=%.1f\n", timedMs([&] { find(QStringLiteral("星辰")); }));
    std::printf("sort_holder_filtered_found_ms=%.1f\n",
        timedMs([&] { sortBy(DomainListModel::SiteNameColumn, Qt::AscendingOrder); }));
    std::printf("back_to_list_order_ms=%.1f\n", timedMs([&] {
        find(QString());
        showFound(false);
        sortBy(-1, Qt::AscendingOrder);
    }));
    std::printf("rss_added_mib=%.1f\npeak_added_mib=%.1f\nanon_added_mib=%.1f\n", currentRssMiB() - rssBefore,
        bench::peakRssMiB() - rssBefore, statusMiB("RssAnon") - anonBefore);
    return 0;
}

// --- in a child: one batch run --------------------------------------------------------------------------------

int batchRun(const QString &base, int rows, bool sortedAndFiltered, int stopAfterMs)
{
    bench::CountingDialogs dialogs;
    CurlHttpClient http;
    Platform platform;
    platform.dialogs = &dialogs;
    platform.http = &http;
    platform.quit = [](int) {};
    Config config;
    config.versionBase = base;
    config.settings.effective.lookupBase = base;
    config.settings.effective.parallel = 4;
    config.settings.effective.retries = 0;
    MainWindow window(platform, config);
    window.findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
    window.model().setDomains(domainList(rows, QStringLiteral("d")));
    window.load();
    if (sortedAndFiltered) {
        // Rows enter the shown set as their records arrive, each at its place among the holders.
        window.sortByColumn(DomainListModel::HolderColumn);
        window.showKind(ShownRowsModel::Kind::Found);
    }
    bench::TickWatch ticks;
    QElapsedTimer runTimer;
    double seconds = 0;
    int started = 0;
    QObject::connect(&window, &MainWindow::messageWritten, [&](const QString &text) {
        if (text.startsWith(QStringLiteral("共有")))
            ++started;
        if (text == QStringLiteral("查询完毕..")) {
            seconds = runTimer.nsecsElapsed() / 1e9;
            ticks.stop();
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
    });
    auto *button = window.findChild<QPushButton *>(QStringLiteral("Command2"));
    double cpuBeforeMs = 0;
    QTimer::singleShot(200, &window, [&] {
        rusage before {};
        getrusage(RUSAGE_SELF, &before);
        cpuBeforeMs = (before.ru_utime.tv_sec + before.ru_stime.tv_sec) * 1e3
            + (before.ru_utime.tv_usec + before.ru_stime.tv_usec) / 1e3;
        ticks.start();
        runTimer.start();
        button->click();
        if (stopAfterMs > 0)
            QTimer::singleShot(stopAfterMs, &window, [button] { button->click(); });
    });
    QCoreApplication::exec();
    int finished = 0;
    for (int i = 0; i < window.model().count(); ++i)
        finished += window.model().cell(i, DomainListModel::StatusColumn) == QStringLiteral("查询完毕");
    // CPU time of the whole run, which the other work on a shared machine disturbs far less than the rate.
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3 - cpuBeforeMs;
    std::printf("rate=%.1f\ngap_ms=%.1f\nfinished=%d\nstarted=%d\nshown=%d\nasked=%d\ncpu_us_per_row=%.1f\n",
        started / seconds, ticks.longestMs(), finished, started, int(window.shownKeys().size()), dialogs.asked,
        cpuMs * 1000 / qMax(1, started));
    return 0;
}

// --- in the parent ------------------------------------------------------------------------------------------

QMap<QString, double> runChild(const QStringList &args, bool realWindow, int timeoutMs = 600000)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), realWindow ? QStringLiteral("xcb") : QStringLiteral("offscreen"));
    if (realWindow)
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    QMap<QString, double> values;
    // What a child that ran out of time printed still counts; the rest of its figures are missing.
    const bool finished = child.waitForFinished(timeoutMs);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromLatin1(line.first(eq)), line.sliced(eq + 1).toDouble());
    }
    if (finished && child.exitCode() != 0)
        values.clear();
    return values;
}

QString siteExecutable()
{
    const QString binDir = qEnvironmentVariable("QUERNFOLD_BIN_DIR");
    const QDir base(binDir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : binDir);
    return QDir::cleanPath(base.filePath(QStringLiteral("tools/lookup_site/quernfold_lookup_site")));
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int orchestrate(int rows, bool realWindow, bool withQtProxy)
{
    const char *where = realWindow ? "xcb window, accessibility on" : "offscreen";
    std::printf("== %d rows, %s ==\n", rows, where);
    const QMap<QString, double> ours = runChild(
        { QStringLiteral("--scale"), QStringLiteral("ours"), QStringLiteral("--rows"), QString::number(rows) },
        realWindow);
    // Qt's proxy takes minutes over the same steps; --no-qsfpm leaves it out.
    const QMap<QString, double> qt = withQtProxy ? runChild({ QStringLiteral("--scale"), QStringLiteral("qsfpm"),
                                                                QStringLiteral("--rows"), QString::number(rows) },
                                         realWindow)
                                                 : QMap<QString, double>();
    if (ours.isEmpty()) {
        std::printf("INVALID: the scale run failed\n");
        return 1;
    }
    struct Line {
        const char *key;
        const char *what;
        double target;
    };
    const Line lines[] = {
        { "sort_domain_ms", "sort by 域名 (ms)", 1000 },
        { "sort_domain_reverse_ms", "second click, reversed (ms)", 1000 },
        { "sort_holder_ms", "sort by 备案人, Chinese (ms)", 1000 },
        { "filter_found_ms", "filter 有备案, sorted (ms)", 300 },
        { "filter_all_ms", "filter back to 全部 (ms)", 300 },
        { "filter_found_again_ms", "filter 有备案 again (ms)", 300 },
        { "filter_changed_ms", "filter 有变化, sorted (ms)", 300 },
        { "find_key_ms", "slowest find keystroke, \"domain12\" typed and erased (ms)", 100 },
        { "find_holder_ms", "find \"星辰\" (ms)", 100 },
        { "sort_holder_filtered_found_ms", "sort by 网站名称 with filter on (ms)", 1000 },
        { "back_to_list_order_ms", "find, filter and sort off (ms)", 1000 },
        { "rss_added_mib", "RSS held after all of it (MiB)", 40 },
        { "anon_added_mib", "of which heap, without mapped files like ICU's data (MiB)", 40 },
        { "peak_added_mib", "peak RSS added (MiB)", 40 },
    };
    std::printf("%-58s %12s %12s %8s\n", "", "ours", "QSFPM", "target");
    for (const Line &line : lines) {
        const QString key = QString::fromLatin1(line.key);
        const QString theirs = qt.contains(key) ? QString::number(qt.value(key), 'f', 1)
            : withQtProxy                       ? QStringLiteral("(> 10 min)")
                                                : QStringLiteral("-");
        std::printf("%-58s %12.1f %12s %8s\n", line.what, ours.value(key), qPrintable(theirs),
            qPrintable(QStringLiteral("<= %1").arg(line.target)));
    }

    QProcess site;
    site.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    site.start(siteExecutable(), { QStringLiteral("--port"), QStringLiteral("0") });
    if (!site.waitForStarted(10000) || !site.waitForReadyRead(10000)) {
        std::printf("INVALID: the local site did not start\n");
        return 1;
    }
    const QString line = QString::fromUtf8(site.readLine()).trimmed();
    const QString prefix = QStringLiteral("listening on http://127.0.0.1:");
    if (!line.startsWith(prefix)) {
        std::printf("INVALID: unexpected site line %s\n", qPrintable(line));
        return 1;
    }
    const QString base = line.mid(QStringLiteral("listening on ").size());
    constexpr int kRunRows = 10000;
    constexpr int kRounds = 7;
    std::vector<double> plainRates, sortedRates, plainCpu, sortedCpu;
    double worstGap = 0;
    bool valid = true;
    for (int round = 0; round < kRounds; ++round) {
        for (const bool sorted : { false, true }) {
            QStringList args { QStringLiteral("--run"), QStringLiteral("--base"), base, QStringLiteral("--rows"),
                QString::number(kRunRows) };
            if (sorted)
                args << QStringLiteral("--sorted");
            const QMap<QString, double> run = runChild(args, realWindow);
            valid
                = valid && run.value(QStringLiteral("finished")) == kRunRows && run.value(QStringLiteral("asked")) == 0;
            (sorted ? sortedRates : plainRates).push_back(run.value(QStringLiteral("rate")));
            (sorted ? sortedCpu : plainCpu).push_back(run.value(QStringLiteral("cpu_us_per_row")));
            worstGap = std::max(worstGap, run.value(QStringLiteral("gap_ms")));
        }
        std::printf("  round %d: plain %.0f rows/s, sorted by 备案人 and filtered to 有备案 %.0f rows/s\n", round + 1,
            plainRates.back(), sortedRates.back());
    }
    const double plain = median(plainRates);
    const double sorted = median(sortedRates);
    std::printf("batch run of %d rows, 同时查询数 4, median of %d: plain %.0f rows/s, sorted+filtered %.0f rows/s: "
                "%.1f%% (target >= 90%%); longest tick gap %.1f ms (target <= 50 ms)\n",
        kRunRows, kRounds, plain, sorted, 100 * sorted / plain, worstGap);
    std::printf("CPU per row, median: plain %.1f us, sorted+filtered %.1f us (+%.1f%%)\n", median(plainCpu),
        median(sortedCpu), 100 * (median(sortedCpu) / median(plainCpu) - 1));
    // The same with a million rows in the list: every frame moves rows within a million-row order.
    const QMap<QString, double> big = runChild(
        { QStringLiteral("--run"), QStringLiteral("--base"), base, QStringLiteral("--rows"), QString::number(rows),
            QStringLiteral("--sorted"), QStringLiteral("--stop-after-ms"), QStringLiteral("8000") },
        realWindow);
    std::printf("batch run over a %d-row list, sorted and filtered, stopped after 8 s: %.0f rows/s, %d rows shown, "
                "longest tick gap %.1f ms (target <= 50 ms)\n",
        rows, big.value(QStringLiteral("rate")), int(big.value(QStringLiteral("shown"))),
        big.value(QStringLiteral("gap_ms")));
    site.kill();
    site.waitForFinished(5000);
    if (!valid)
        std::printf("INVALID: a run did not finish every row\n");
    return valid ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const auto value = [&args](const char *name, const QString &fallback) {
        const int at = args.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
    };
    const int rows = value("--rows", QStringLiteral("1000000")).toInt();
    // Every figure reaches the parent even if it has to stop this child early.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (args.contains(QStringLiteral("--scale"))) {
        QApplication app(argc, argv);
        return scaleRun(value("--scale", QStringLiteral("ours")), rows);
    }
    if (args.contains(QStringLiteral("--run"))) {
        QApplication app(argc, argv);
        return batchRun(value("--base", {}), rows, args.contains(QStringLiteral("--sorted")),
            value("--stop-after-ms", QStringLiteral("0")).toInt());
    }
    const bool realWindow = args.contains(QStringLiteral("--xcb"));
    if (!realWindow)
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QCoreApplication app(argc, argv);
    return orchestrate(rows, realWindow, !args.contains(QStringLiteral("--no-qsfpm")));
}
