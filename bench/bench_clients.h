#pragma once

// What the benchmarks that run lookups share: the local site as a child process, and the clients a user could use
// instead of the program (ab, a script with k threads), all on 127.0.0.1.
#include "lookup/query_row.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <curl/curl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace quernfold::bench {

inline QString siteExecutable()
{
    const QString binDir = qEnvironmentVariable("QUERNFOLD_BIN_DIR");
    const QDir base(binDir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : binDir);
    return QDir::cleanPath(base.filePath(QStringLiteral("tools/lookup_site/quernfold_lookup_site")));
}

// The site executable as a child process; killed when this goes out of scope, whatever happened before.
class SiteProcess
{
public:
    ~SiteProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Starts the site on a port it picks and reads the one line that names it. Empty on failure. With a log file,
    // the site appends every request it receives to it.
    QString start(int latencyMs, const QString &logFile = {})
    {
        const QString program = siteExecutable();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments { QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--latency-ms"),
            QString::number(latencyMs) };
        if (!logFile.isEmpty())
            arguments << QStringLiteral("--log-file") << logFile;
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(10000)) {
            std::fprintf(stderr, "cannot start %s: %s\n", qPrintable(program), qPrintable(m_process.errorString()));
            return {};
        }
        const QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine()) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired())
                return {};
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        const QString prefix = QStringLiteral("listening on ");
        // Only an address on this machine is acceptable: the benchmark must not talk to anything else.
        if (!line.startsWith(prefix + QStringLiteral("http://127.0.0.1:"))) {
            std::fprintf(stderr, "unexpected first line from the site: %s\n", qPrintable(line));
            return {};
        }
        return line.mid(prefix.size());
    }

private:
    QProcess m_process;
};

inline QStringList domainList(int rows, const QString &prefix)
{
    QStringList domains;
    domains.reserve(rows);
    for (int i = 0; i < rows; ++i)
        domains << QStringLiteral("%1%2.com").arg(prefix).arg(i);
    return domains;
}

// apache2-utils' ab on one address: the raw round trip over one keep-alive connection.
inline double runApacheBench(const QString &base, int requests)
{
    const QString ab = QStandardPaths::findExecutable(QStringLiteral("ab"));
    if (ab.isEmpty())
        return 0;
    const QString url = recordPageUrl(base, QStringLiteral("d0.com")).toString(QUrl::FullyEncoded);
    QProcess process;
    process.start(ab,
        { QStringLiteral("-n"), QString::number(requests), QStringLiteral("-c"), QStringLiteral("1"),
            QStringLiteral("-k"), QStringLiteral("-H"), QStringLiteral("If-Modified-Since: 0"), url });
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        return 0;
    }
    const QRegularExpression pattern(
        QStringLiteral("^Requests per second:\\s+([0-9.]+)"), QRegularExpression::MultilineOption);
    return pattern.match(QString::fromLocal8Bit(process.readAllStandardOutput())).captured(1).toDouble();
}

// A client as a script would be written: `threads` threads, each with one easy handle and so one keep-alive
// connection, fetching the next URL as soon as its last one is in. No Qt, no decoding, no window.
inline double runThreadedCurl(const QString &base, const QStringList &domains, int threads)
{
    std::vector<QByteArray> urls;
    for (const QString &domain : domains)
        urls.push_back(recordPageUrl(base, domain).toEncoded());
    curl_slist *headers = curl_slist_append(nullptr, "If-Modified-Since: 0");
    const auto discard = +[](char *, size_t size, size_t count, void *) { return size * count; };
    std::atomic<size_t> next { 0 };
    std::atomic<int> failures { 0 };
    QElapsedTimer timer;
    timer.start();
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&] {
            CURL *easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
            for (size_t at = next++; at < urls.size(); at = next++) {
                curl_easy_setopt(easy, CURLOPT_URL, urls[at].constData());
                if (curl_easy_perform(easy) != CURLE_OK)
                    ++failures;
            }
            curl_easy_cleanup(easy);
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    const double seconds = timer.nsecsElapsed() / 1e9;
    curl_slist_free_all(headers);
    if (failures)
        std::printf("  threaded client: %d failures\n", failures.load());
    return domains.size() / seconds;
}

// Loopback figures on a shared machine swing by a factor of two or more from one second to the next; the
// median of rounds that interleave the baseline and the runs keeps one slow moment out of a ratio.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// On loopback the figures depend above all on where the scheduler puts the two ends: on one core a round trip is
// a context switch, across cores a wake-up of the other core, several times slower on this kind of virtual
// machine. Left to the scheduler a run lands on either, so one figure can be 45,000/s and the next 8,000/s. The
// site goes on core 0; the clients (ab, the plain client, the windows: children inherit it) on the core named.
inline bool pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

// Back to every core the machine has: the scheduler places the threads again.
inline bool unpin()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (long cpu = 0; cpu < sysconf(_SC_NPROCESSORS_ONLN); ++cpu)
        CPU_SET(int(cpu), &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

} // namespace quernfold::bench
