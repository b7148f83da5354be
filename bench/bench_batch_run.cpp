// The window's batch run against the local lookup site, next to the clients a user could use instead.
//
//     bench_batch_run                 # every figure below
//     bench_batch_run --rows N        # loopback rows (5000 by default)
//     bench_batch_run --only PART     # one part: loopback, store, latency, registrable or memory
//
// Every run of the window happens in a child process of its own (so its peak RSS is its own), started from a
// running event loop as a click would be. The site runs in child processes too, on 127.0.0.1 only:
//   loopback   5,000 rows: `ab -n 5000 -c 1 -k` (the raw round trip) against the batch with parallel 1 and 8,
//              on libcurl and on QNetworkAccessManager, offscreen; and the real window on the xcb platform with
//              the accessibility bridge on when a display is there (see bench/window_bench.sh). Twice: with the
//              clients on the site's core and on the other one, five interleaved rounds each, medians printed.
//   latency    300 rows from a site that answers each page 40 ms late: parallel 1, 8 and 16, next to plain
//              clients over the same rows (no Qt): k threads with one keep-alive connection each, the baseline,
//              and libcurl's multi interface with k connections. Medians of three interleaved rounds.
//   store      the batch with parallel 1 with and without the results store behind the window, nine interleaved
//              rounds, medians, and the CPU time per row of the window's whole process.
//   registrable  10,000 rows over 2,000 registrable domains (five subdomains each, side by side as a sorted list
//              has them) from a site 20 ms away, parallel 8, with 按主域名查询 off and on: both times, their ratio,
//              and the requests each run sent as the site's own log counts them. Three interleaved rounds.
//   memory     peak RSS of a 2,000-row and a 100,000-row run.
// Each window run also reports the longest gap between the ticks of a 10 ms timer.
#include "window/main_window.h"
#include "bench_clients.h"
#include "bench_common.h"
#include "lookup/query_row.h"
#include "lookup_site.h"
#include "platform/curl_http.h"
#include "qnam_http_client.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <curl/curl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace quernfold;
using namespace quernfold::bench;

namespace {

// User and system time of every thread of this process so far.
double processCpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// --- in the child: one window run -------------------------------------------------------------------------

int windowRun(const QStringList &args)
{
    const auto value = [&args](const char *name, const QString &fallback) {
        const int at = args.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
    };
    const QString base = value("--base", {});
    const int rows = value("--rows", QStringLiteral("5000")).toInt();
    const int parallel = value("--parallel", QStringLiteral("1")).toInt();
    const bool qnam = value("--client", QStringLiteral("curl")) == QStringLiteral("qnam");
    const QString storeFolder = value("--store", {});
    // Rows in groups of this many subdomains of one registrable domain; 0 for a domain a row.
    const int subdomains = value("--subdomains", QStringLiteral("0")).toInt();
    const bool byRegistrable = args.contains(QStringLiteral("--by-registrable"));

    bench::CountingDialogs dialogs;
    std::unique_ptr<HttpClient> http;
    if (qnam)
        http = std::make_unique<QnamHttpClient>();
    else
        http = std::make_unique<CurlHttpClient>();
    Platform platform;
    platform.dialogs = &dialogs;
    platform.http = http.get();
    platform.quit = [](int) {};
    Config config;
    config.versionBase = base;
    config.settings.effective.lookupBase = base;
    config.settings.effective.parallel = parallel;
    config.settings.effective.retries = 0;
    config.settings.effective.byRegistrable = byRegistrable;
    if (!storeFolder.isEmpty())
        config.storePath = storeFolder + QStringLiteral("/quernfold.db");
    MainWindow window(platform, config);
    // The version check is not what is measured; left running it would land in the middle of the run.
    if (auto *versionCheckTimer = window.findChild<QTimer *>(QStringLiteral("Timer1")))
        versionCheckTimer->stop();
    QStringList domains = domainList(rows, QStringLiteral("d"));
    // The name each row's record is served for.
    QStringList recordNames = domains;
    if (subdomains > 0) {
        domains.clear();
        recordNames.clear();
        for (int i = 0; i < rows; ++i) {
            const QString name = QStringLiteral("r%1.cn").arg(i / subdomains);
            domains << QStringLiteral("s%1.").arg(i % subdomains) + name;
            recordNames << (byRegistrable ? name : domains.last());
        }
    }
    // With a store the list goes in once the window has settled the last session's (there is none), so that the
    // store keeps it and every result written into it.
    QObject::connect(&window, &MainWindow::listReady, [&] { window.model().setDomains(domains); });
    window.load();

    bench::TickWatch ticks;
    QElapsedTimer runTimer;
    double seconds = 0;
    double cpuAtClickMs = 0;
    QObject::connect(&window, &MainWindow::messageWritten, [&](const QString &text) {
        if (text == QStringLiteral("查询完毕..")) {
            seconds = runTimer.nsecsElapsed() / 1e9;
            ticks.stop();
            // With a store, the run's CPU includes writing its results: they are in the file once it says so.
            if (window.resultsStore())
                QObject::connect(&window, &MainWindow::listSaved, qApp, [] { QCoreApplication::exit(0); });
            else
                QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
    });
    // Give the window a moment to be shown and painted, then click as a user would.
    QTimer::singleShot(200, &window, [&] {
        ticks.start();
        runTimer.start();
        cpuAtClickMs = processCpuMs();
        window.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    });
    QCoreApplication::exec();
    const double cpuMs = processCpuMs() - cpuAtClickMs;

    int finished = 0;
    int wrong = 0;
    for (int i = 0; i < window.model().count(); ++i) {
        if (window.model().cell(i, DomainListModel::StatusColumn) == QStringLiteral("查询完毕"))
            ++finished;
        if (window.model().cell(i, DomainListModel::RecordNoColumn) != site::expectedRecord(recordNames.at(i)).recordNo)
            ++wrong;
    }
    std::printf("rate=%.1f\ngap_ms=%.1f\nrss_mib=%.1f\nfinished=%d\nwrong=%d\nasked=%d\ncpu_us_per_row=%.2f\n",
        rows / seconds, ticks.longestMs(), bench::peakRssMiB(), finished, wrong, dialogs.asked, cpuMs * 1000 / rows);
    return 0;
}

// --- in the parent ----------------------------------------------------------------------------------------

struct ChildResult {
    bool ok = false;
    double rate = 0;
    double gapMs = 0;
    double rssMiB = 0;
    double cpuUsPerRow = 0; // every thread of the window's process, from the click until its results are saved
};

// extra: further arguments of the window run (--subdomains N, --by-registrable).
ChildResult runWindowChild(const QString &base, int rows, int parallel, const QString &client, bool realWindow,
    bool withStore = false, const QStringList &extra = {})
{
    QTemporaryDir storeFolder;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (realWindow) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    } else {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
        QStringList { QStringLiteral("--window-run"), QStringLiteral("--base"), base, QStringLiteral("--rows"),
            QString::number(rows), QStringLiteral("--parallel"), QString::number(parallel), QStringLiteral("--client"),
            client, QStringLiteral("--store"), withStore ? storeFolder.path() : QString() }
            + extra);
    ChildResult result;
    if (!child.waitForFinished(600000)) {
        child.kill();
        child.waitForFinished();
        std::printf("  (child did not finish)\n");
        return result;
    }
    QMap<QString, double> values;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromLatin1(line.first(eq)), line.sliced(eq + 1).toDouble());
    }
    result.rate = values.value(QStringLiteral("rate"));
    result.gapMs = values.value(QStringLiteral("gap_ms"));
    result.rssMiB = values.value(QStringLiteral("rss_mib"));
    result.cpuUsPerRow = values.value(QStringLiteral("cpu_us_per_row"));
    result.ok = child.exitCode() == 0 && values.value(QStringLiteral("finished")) == rows
        && values.value(QStringLiteral("wrong")) == 0 && values.value(QStringLiteral("asked")) == 0;
    if (!result.ok)
        std::printf("  INVALID child run: finished %.0f of %d, wrong %.0f, asked %.0f, exit %d\n",
            values.value(QStringLiteral("finished")), rows, values.value(QStringLiteral("wrong")),
            values.value(QStringLiteral("asked")), child.exitCode());
    return result;
}

// A plain client: libcurl's multi interface on its own poll loop, `connections` keep-alive transfers at a time,
// the next URL started as soon as one finishes. No Qt, no decoding, no window.
double runPlainCurl(const QString &base, const QStringList &domains, int connections)
{
    CURLM *multi = curl_multi_init();
    QList<QByteArray> urls;
    for (const QString &domain : domains)
        urls << recordPageUrl(base, domain).toEncoded();
    curl_slist *headers = curl_slist_append(nullptr, "If-Modified-Since: 0");
    const auto discard = +[](char *, size_t size, size_t count, void *) { return size * count; };
    int next = 0;
    int failures = 0;
    const auto startNext = [&](CURL *easy) {
        curl_easy_setopt(easy, CURLOPT_URL, urls.at(next++).constData());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
        curl_multi_add_handle(multi, easy);
    };
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < connections && next < urls.size(); ++i)
        startNext(curl_easy_init());
    int running = 1;
    while (running) {
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL *easy = message->easy_handle;
            if (message->data.result != CURLE_OK)
                ++failures;
            curl_multi_remove_handle(multi, easy);
            if (next < urls.size()) {
                startNext(easy);
                running = 1;
            } else {
                curl_easy_cleanup(easy);
            }
        }
        if (running)
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    curl_slist_free_all(headers);
    curl_multi_cleanup(multi);
    if (failures)
        std::printf("  plain client: %d failures\n", failures);
    return domains.size() / seconds;
}

// The run with the median rate, with the worst tick gap and peak RSS of all rounds; valid only if all were.
ChildResult medianRun(std::vector<ChildResult> runs)
{
    std::sort(runs.begin(), runs.end(), [](const ChildResult &a, const ChildResult &b) { return a.rate < b.rate; });
    ChildResult result = runs[runs.size() / 2];
    for (const ChildResult &r : runs) {
        result.ok = result.ok && r.ok;
        result.gapMs = std::max(result.gapMs, r.gapMs);
        result.rssMiB = std::max(result.rssMiB, r.rssMiB);
    }
    return result;
}

void printRun(const char *what, const ChildResult &r)
{
    std::printf("%-52s %8.0f rows/s   longest tick gap %6.1f ms   peak RSS %6.1f MiB%s\n", what, r.rate, r.gapMs,
        r.rssMiB, r.ok ? "" : "   INVALID");
}

// Rounds over the same site, each running ab, the plain client and the batch (and the real window when there is
// a display) one after another, so that a slow moment of the machine does not land on one side of a ratio only.
bool measureLoopback(const QString &loopBase, int loopbackRows)
{
    constexpr int kRounds = 5;
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    std::vector<double> abRates;
    std::vector<double> plainRates;
    std::vector<ChildResult> curl1Runs;
    std::vector<ChildResult> qnam1Runs;
    std::vector<ChildResult> windowRuns;
    for (int round = 0; round < kRounds; ++round) {
        abRates.push_back(runApacheBench(loopBase, loopbackRows));
        plainRates.push_back(runPlainCurl(loopBase, domainList(loopbackRows, QStringLiteral("d")), 1));
        curl1Runs.push_back(runWindowChild(loopBase, loopbackRows, 1, QStringLiteral("curl"), false));
        qnam1Runs.push_back(runWindowChild(loopBase, loopbackRows, 1, QStringLiteral("qnam"), false));
        if (display)
            windowRuns.push_back(runWindowChild(loopBase, loopbackRows, 1, QStringLiteral("curl"), true));
        std::printf("  round %d: ab %.0f, plain %.0f, batch libcurl %.0f, batch QNetworkAccessManager %.0f%s\n",
            round + 1, abRates.back(), plainRates.back(), curl1Runs.back().rate, qnam1Runs.back().rate,
            display ? qPrintable(QStringLiteral(", xcb window %1").arg(windowRuns.back().rate, 0, 'f', 0)) : "");
    }
    std::printf("median of %d rounds (lines marked *):\n", kRounds);
    const double ab = median(abRates);
    if (ab > 0)
        std::printf("%-52s %8.0f rows/s\n", "* ab -n N -c 1 -k (baseline)", ab);
    else
        std::printf("ab: not installed or failed (apache2-utils)\n");
    std::printf("%-52s %8.0f rows/s\n", "* plain libcurl client, 1 keep-alive connection", median(plainRates));
    const ChildResult curl1 = medianRun(curl1Runs);
    printRun("* batch, parallel 1, libcurl, offscreen", curl1);
    const ChildResult qnam1 = medianRun(qnam1Runs);
    printRun("* batch, parallel 1, QNetworkAccessManager, offscreen", qnam1);
    ChildResult window1;
    if (display) {
        window1 = medianRun(windowRuns);
        printRun("* batch, parallel 1, libcurl, xcb window, a11y on", window1);
    }
    const ChildResult curl8 = runWindowChild(loopBase, loopbackRows, 8, QStringLiteral("curl"), false);
    printRun("batch, parallel 8, libcurl, offscreen", curl8);
    const ChildResult qnam8 = runWindowChild(loopBase, loopbackRows, 8, QStringLiteral("qnam"), false);
    printRun("batch, parallel 8, QNetworkAccessManager, offscreen", qnam8);
    if (ab > 0)
        std::printf("batch parallel 1 (libcurl) / ab: %.1f%% (target >= 50%%)\n", 100 * curl1.rate / ab);
    std::printf("libcurl / QNetworkAccessManager: parallel 1 %.2fx, parallel 8 %.2fx\n", curl1.rate / qnam1.rate,
        curl8.rate / qnam8.rate);
    if (display)
        std::printf("xcb window / offscreen: %.1f%% (target >= 70%%)\n", 100 * window1.rate / curl1.rate);
    else
        std::printf("no DISPLAY: the real-window figure is skipped (run bench/window_bench.sh)\n");
    return curl1.ok && qnam1.ok && curl8.ok && qnam8.ok && (!display || window1.ok);
}

// The batch with and without the results store behind the window, in interleaved rounds on the same site.
bool measureStore(const QString &loopBase, int loopbackRows)
{
    constexpr int kRounds = 9;
    std::vector<ChildResult> plain;
    std::vector<ChildResult> stored;
    for (int round = 0; round < kRounds; ++round) {
        plain.push_back(runWindowChild(loopBase, loopbackRows, 1, QStringLiteral("curl"), false));
        stored.push_back(runWindowChild(loopBase, loopbackRows, 1, QStringLiteral("curl"), false, true));
        std::printf(
            "  round %d: without the store %.0f, with it %.0f\n", round + 1, plain.back().rate, stored.back().rate);
    }
    const ChildResult without = medianRun(plain);
    const ChildResult with = medianRun(stored);
    printRun("* batch, parallel 1, no store", without);
    printRun("* batch, parallel 1, every row and result stored", with);
    std::printf("with the store / without: %.1f%% (target >= 95%%)\n", 100 * with.rate / without.rate);
    std::vector<double> plainCpu;
    std::vector<double> storedCpu;
    for (const ChildResult &r : plain)
        plainCpu.push_back(r.cpuUsPerRow);
    for (const ChildResult &r : stored)
        storedCpu.push_back(r.cpuUsPerRow);
    std::printf(
        "CPU per row, all threads of the window's process: %.1f us without the store, %.1f us with it (+%.1f%%)\n",
        median(plainCpu), median(storedCpu), 100 * (median(storedCpu) / median(plainCpu) - 1));
    return without.ok && with.ok;
}

bool measureLatency(bool pinned);
bool measureRegistrable(bool pinned);
bool measureMemory(const QString &loopBase);

// `only`: one part (loopback, store, latency, memory), or empty for all of them.
int orchestrate(int loopbackRows, const QString &only)
{
    const auto wanted = [&only](const char *part) { return only.isEmpty() || only == QLatin1StringView(part); };
    // Before any thread of the plain clients could race to do it.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    bool valid = true;
    const bool pinned = sysconf(_SC_NPROCESSORS_ONLN) >= 2 && pinTo(0);
    SiteProcess loopSite;
    const QString loopBase = loopSite.start(0);
    if (loopBase.isEmpty())
        return 1;
    runPlainCurl(loopBase, domainList(200, QStringLiteral("w")), 1); // a warm site and a warm cache
    if (!wanted("loopback")) {
        pinTo(1);
    } else if (pinned) {
        for (const int cpu : { 1, 0 }) {
            pinTo(cpu);
            std::printf("== loopback, %d rows, site on core 0, clients on core %d (%s) ==\n", loopbackRows, cpu,
                cpu == 0 ? "one core: the per-request cost shows" : "two cores: the round trip shows");
            valid = measureLoopback(loopBase, loopbackRows) && valid;
        }
        pinTo(1);
    } else {
        std::printf("== loopback, %d rows (not pinned: one core, or no affinity) ==\n", loopbackRows);
        valid = measureLoopback(loopBase, loopbackRows);
    }

    if (wanted("store")) {
        std::printf(
            "== the results store, loopback, %d rows%s ==\n", loopbackRows, pinned ? ", clients on core 1" : "");
        valid = measureStore(loopBase, loopbackRows) && valid;
        if (pinned) {
            // Pinned, the store's thread takes its time from the window's core; a machine left to itself runs it
            // wherever there is room, as on any desktop with more cores than this one.
            unpin();
            std::printf(
                "== the results store, loopback, %d rows, the window's process on either core ==\n", loopbackRows);
            valid = measureStore(loopBase, loopbackRows) && valid;
            pinTo(1);
        }
    }

    if (wanted("latency"))
        valid = measureLatency(pinned) && valid;
    if (wanted("registrable"))
        valid = measureRegistrable(pinned) && valid;
    if (wanted("memory"))
        valid = measureMemory(loopBase) && valid;
    if (!valid)
        std::printf("INVALID: some run above was incomplete or wrong\n");
    return valid ? 0 : 1;
}

bool measureLatency(bool pinned)
{
    bool valid = true;
    constexpr int kLatencyRows = 300;
    constexpr int kLatencyMs = 40;
    std::printf("== site %d ms away, %d rows ==\n", kLatencyMs, kLatencyRows);
    SiteProcess farSite;
    if (pinned)
        pinTo(0);
    const QString farBase = farSite.start(kLatencyMs);
    if (pinned)
        pinTo(1);
    if (farBase.isEmpty())
        return false;
    const QStringList farDomains = domainList(kLatencyRows, QStringLiteral("d"));
    const ChildResult far1 = runWindowChild(farBase, kLatencyRows, 1, QStringLiteral("curl"), false);
    printRun("batch, parallel 1, offscreen", far1);
    valid = valid && far1.ok;
    constexpr int kLatencyRounds = 3;
    for (const int k : { 8, 16 }) {
        std::vector<double> threadRates;
        std::vector<double> multiRates;
        std::vector<ChildResult> batchRuns;
        for (int round = 0; round < kLatencyRounds; ++round) {
            threadRates.push_back(runThreadedCurl(farBase, farDomains, k));
            multiRates.push_back(runPlainCurl(farBase, farDomains, k));
            batchRuns.push_back(runWindowChild(farBase, kLatencyRows, k, QStringLiteral("curl"), false));
        }
        const double threads = median(threadRates);
        const ChildResult batch = medianRun(batchRuns);
        std::printf("median of %d rounds, k = %d:\n", kLatencyRounds, k);
        std::printf("%-52s %8.1f rows/s\n",
            qPrintable(QStringLiteral("plain client, %1 threads, keep-alive (baseline)").arg(k)), threads);
        std::printf("%-52s %8.1f rows/s\n",
            qPrintable(QStringLiteral("plain libcurl multi client, %1 connections").arg(k)), median(multiRates));
        printRun(qPrintable(QStringLiteral("batch, parallel %1, offscreen").arg(k)), batch);
        std::printf("parallel %d / %d threads: %.1f%% (target >= 90%%); parallel %d / parallel 1: %.2fx\n", k, k,
            100 * batch.rate / threads, k, batch.rate / far1.rate);
        valid = valid && batch.ok;
    }
    return valid;
}

// Record-page requests in the site's log so far.
int loggedLookups(const QString &logFile)
{
    QFile log(logFile);
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (line.startsWith("GET /s-0/"))
            ++count;
    }
    return count;
}

bool measureRegistrable(bool pinned)
{
    constexpr int kRows = 10000;
    constexpr int kSubdomains = 5;
    constexpr int kLatencyMs = 20;
    constexpr int kParallel = 8;
    constexpr int kRounds = 3;
    std::printf("== 按主域名查询: %d rows over %d registrable domains, site %d ms away, parallel %d ==\n", kRows,
        kRows / kSubdomains, kLatencyMs, kParallel);
    QTemporaryDir logFolder;
    const QString logFile = logFolder.filePath(QStringLiteral("site.log"));
    SiteProcess site;
    if (pinned)
        pinTo(0);
    const QString base = site.start(kLatencyMs, logFile);
    if (pinned)
        pinTo(1);
    if (base.isEmpty())
        return false;
    const QStringList grouped { QStringLiteral("--subdomains"), QString::number(kSubdomains) };
    bool valid = true;
    std::vector<double> offSeconds;
    std::vector<double> onSeconds;
    std::vector<int> offRequests;
    std::vector<int> onRequests;
    for (int round = 0; round < kRounds; ++round) {
        for (const bool on : { false, true }) {
            const int before = loggedLookups(logFile);
            const ChildResult run = runWindowChild(base, kRows, kParallel, QStringLiteral("curl"), false, false,
                on ? grouped + QStringList { QStringLiteral("--by-registrable") } : grouped);
            const int requests = loggedLookups(logFile) - before;
            valid = valid && run.ok && before >= 0;
            (on ? onSeconds : offSeconds).push_back(run.rate > 0 ? kRows / run.rate : 0);
            (on ? onRequests : offRequests).push_back(requests);
        }
        std::printf("  round %d: off %.2f s, %d requests; on %.2f s, %d requests\n", round + 1, offSeconds.back(),
            offRequests.back(), onSeconds.back(), onRequests.back());
    }
    const double off = median(offSeconds);
    const double on = median(onSeconds);
    std::printf(
        "median of %d rounds: off %.2f s, on %.2f s, on / off %.3f (target <= 0.25)\n", kRounds, off, on, on / off);
    const auto [onLeast, onMost] = std::minmax_element(onRequests.begin(), onRequests.end());
    const auto [offLeast, offMost] = std::minmax_element(offRequests.begin(), offRequests.end());
    std::printf("requests in the site's log a run: on %d to %d (target exactly %d), off %d to %d\n", *onLeast, *onMost,
        kRows / kSubdomains, *offLeast, *offMost);
    const bool exact = *onLeast == kRows / kSubdomains && *onMost == kRows / kSubdomains;
    return valid && exact;
}

bool measureMemory(const QString &loopBase)
{
    std::printf("== memory ==\n");
    const ChildResult small = runWindowChild(loopBase, 2000, 1, QStringLiteral("curl"), false);
    printRun("batch of 2,000 rows", small);
    const ChildResult large = runWindowChild(loopBase, 100000, 1, QStringLiteral("curl"), false);
    printRun("batch of 100,000 rows", large);
    std::printf("peak RSS 100,000 rows - 2,000 rows: %.1f MiB (target <= 60 MiB)\n", large.rssMiB - small.rssMiB);
    return small.ok && large.ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QStringLiteral("--window-run"))) {
        QApplication app(argc, argv);
        return windowRun(args);
    }
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QCoreApplication app(argc, argv);
    const int at = args.indexOf(QStringLiteral("--rows"));
    const int rows = at >= 0 && at + 1 < args.size() ? qMax(1, args.at(at + 1).toInt()) : 5000;
    const int onlyAt = args.indexOf(QStringLiteral("--only"));
    return orchestrate(rows, onlyAt >= 0 ? args.value(onlyAt + 1) : QString());
}
