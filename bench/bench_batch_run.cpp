// Rows per second of the window's batch run against the local lookup site, next to the ceiling a plain
// sequential keep-alive client reaches with the same requests, and how long the window's event loop goes
// without a turn while the run is going on. The site runs in a child process so that serving the pages does
// not share the window's thread and its time is not counted against the run.
//
//     bench_batch_run [ROWS]        # 5000 by default
//
// Finds the site at ../tools/lookup_site/quernfold_lookup_site beside this program, or under $QUERNFOLD_BIN_DIR.
#include "app/main_window.h"
#include "bench_common.h"
#include "lookup/query_row.h"
#include "lookup_site.h"
#include "platform/network_http.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace quernfold;

namespace {

constexpr int kDefaultRows = 5000;
constexpr int kTickMs = 10;
constexpr int kWarmUpRequests = 200;

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

    static QString executablePath()
    {
        const QString binDir = qEnvironmentVariable("QUERNFOLD_BIN_DIR");
        const QDir base(binDir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : binDir);
        return QDir::cleanPath(base.filePath(QStringLiteral("tools/lookup_site/quernfold_lookup_site")));
    }

    // Starts the site on a port it picks and reads the one line that names it. Empty on failure.
    QString start()
    {
        const QString program = executablePath();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, { QStringLiteral("--port"), QStringLiteral("0") });
        if (!m_process.waitForStarted(10000)) {
            std::fprintf(stderr, "cannot start %s: %s\n", qPrintable(program), qPrintable(m_process.errorString()));
            return {};
        }
        const QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine()) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
                std::fprintf(stderr, "no listening line from %s\n", qPrintable(program));
                return {};
            }
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

    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
};

// Says No or Cancel to everything; the run should ask nothing, so every question is counted and reported.
class DecliningDialogs : public Dialogs
{
public:
    int messageBox(const QString &text, int style, const QString &) override
    {
        asked << text;
        return (style & 0xF) == MsgStyle::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    std::optional<QString> inputBox(const QString &prompt, const QString &, const QString &) override
    {
        asked << prompt;
        return std::nullopt;
    }
    std::optional<QString> openFile(FileDialogSettings &settings) override
    {
        asked << settings.title;
        return std::nullopt;
    }
    std::optional<QString> saveFile(FileDialogSettings &settings) override
    {
        asked << settings.title;
        return std::nullopt;
    }

    QStringList asked;
};

struct PlainRun {
    double seconds = 0;
    int failures = 0;
};

// The ceiling: one QNetworkAccessManager, the next request sent from the previous one's finished signal, no
// decoding, no window.
PlainRun runPlainClient(const QString &base, const QStringList &domains)
{
    QNetworkAccessManager manager;
    QEventLoop loop;
    PlainRun result;
    int next = 0;
    std::function<void()> sendNext = [&] {
        QNetworkRequest request(recordPageUrl(base, domains.at(next)));
        request.setRawHeader(QByteArrayLiteral("If-Modified-Since"), QByteArrayLiteral("0"));
        QNetworkReply *reply = manager.get(request);
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
            const QByteArray body = reply->readAll();
            if (reply->error() != QNetworkReply::NoError || body.isEmpty())
                ++result.failures;
            reply->deleteLater();
            if (++next < domains.size())
                sendNext();
            else
                loop.quit();
        });
    };
    QElapsedTimer timer;
    timer.start();
    sendNext();
    loop.exec();
    result.seconds = timer.nsecsElapsed() / 1e9;
    return result;
}

// apache2-utils' ab on one of the same addresses, when it is installed: another client's view of the site.
void runApacheBench(const QString &base, int requests)
{
    const QString ab = QStandardPaths::findExecutable(QStringLiteral("ab"));
    if (ab.isEmpty()) {
        std::printf("ab: not installed, skipped\n");
        return;
    }
    const QString url = recordPageUrl(base, QStringLiteral("d0.com")).toString(QUrl::FullyEncoded);
    QProcess process;
    process.start(ab,
        { QStringLiteral("-n"), QString::number(requests), QStringLiteral("-c"), QStringLiteral("1"),
            QStringLiteral("-k"), QStringLiteral("-H"), QStringLiteral("If-Modified-Since: 0"), url });
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        std::printf("ab: did not finish within 120 s\n");
        return;
    }
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    const auto field = [&output](const QString &name) {
        const QRegularExpression pattern(QStringLiteral("^%1:\\s+([0-9.]+)").arg(QRegularExpression::escape(name)),
            QRegularExpression::MultilineOption);
        return pattern.match(output).captured(1);
    };
    const QString rate = field(QStringLiteral("Requests per second"));
    if (rate.isEmpty()) {
        std::printf("ab: no rate in its output (exit %d)\n", process.exitCode());
        return;
    }
    std::printf("ab -n %d -c 1 -k (one address, informational): %s requests/s; failed %s, keep-alive %s\n", requests,
        qPrintable(rate), qPrintable(field(QStringLiteral("Failed requests"))),
        qPrintable(field(QStringLiteral("Keep-Alive requests"))));
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const int rows = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : kDefaultRows;

    SiteProcess siteProcess;
    const QString base = siteProcess.start();
    if (base.isEmpty())
        return 1;
    std::printf("site: %s (child process %lld)\n", qPrintable(base), static_cast<long long>(siteProcess.pid()));

    QStringList domains;
    domains.reserve(rows);
    for (int i = 0; i < rows; ++i)
        domains << QStringLiteral("d%1.com").arg(i);

    // A cold site and a first connection would make the ceiling look lower than it is.
    QStringList warmUp;
    for (int i = 0; i < kWarmUpRequests; ++i)
        warmUp << QStringLiteral("w%1.com").arg(i);
    runPlainClient(base, warmUp);

    const PlainRun plain = runPlainClient(base, domains);
    const double plainRate = rows / plain.seconds;
    std::printf("plain client: %d requests in %.3f s, %.0f rows/s, %.1f us each; %d failed\n", rows, plain.seconds,
        plainRate, plain.seconds * 1e6 / rows, plain.failures);

    runApacheBench(base, rows);

    DecliningDialogs dialogs;
    NetworkHttpClient http;
    Platform platform;
    platform.dialogs = &dialogs;
    platform.http = &http;
    platform.quit = [](int) {};
    Config config;
    config.lookupBase = base;
    config.versionBase = base;
    MainWindow window(platform, config);
    // The version check is not what is measured; left running it would land in the middle of the run.
    if (auto *timer1 = window.findChild<QTimer *>(QStringLiteral("Timer1")))
        timer1->stop();
    window.model().setDomains(domains);
    window.load();
    QCoreApplication::processEvents();

    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(kTickMs);
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    int ticks = 0;
    int gapsOver50 = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.nsecsElapsed();
        sinceTick.restart();
        longestGapNs = qMax(longestGapNs, gap);
        if (gap > 50'000'000)
            ++gapsOver50;
        ++ticks;
    });

    QElapsedTimer runTimer;
    sinceTick.start();
    ticker.start();
    runTimer.start();
    window.Command2_Click();
    const double batchSeconds = runTimer.nsecsElapsed() / 1e9;
    ticker.stop();

    // A run that skipped rows or wrote wrong records would only look fast.
    int finished = 0;
    int wrongRecord = 0;
    const DomainListModel &model = window.model();
    for (int i = 0; i < model.count(); ++i) {
        if (model.cell(i, DomainListModel::StatusColumn) == QStringLiteral("查询完毕"))
            ++finished;
        if (model.cell(i, DomainListModel::RecordNoColumn) != site::expectedRecord(domains.at(i)).recordNo)
            ++wrongRecord;
    }
    const auto *command2 = window.findChild<QPushButton *>(QStringLiteral("Command2"));
    const bool endedIdle = command2 && command2->text() == QStringLiteral("批量查询")
        && window.message() == QStringLiteral("查询完毕..");

    const double batchRate = rows / batchSeconds;
    std::printf("batch run: %d rows in %.3f s, %.0f rows/s, %.1f us each\n", rows, batchSeconds, batchRate,
        batchSeconds * 1e6 / rows);
    std::printf("rows with \"查询完毕\": %d of %d; rows with a record other than the site's: %d; ended idle: %s\n",
        finished, rows, wrongRecord, endedIdle ? "yes" : "no");
    std::printf("longest gap between %d ms ticks during the run: %.1f ms (target <= 50 ms); %d ticks, %d gaps over "
                "50 ms\n",
        kTickMs, longestGapNs / 1e6, ticks, gapsOver50);
    std::printf("batch / plain: %.1f%% (target >= 60%%)\n", 100.0 * batchRate / plainRate);
    if (!dialogs.asked.isEmpty())
        std::printf("questions asked during the bench (answered No/Cancel): %s\n",
            qPrintable(dialogs.asked.join(QStringLiteral(" | "))));
    std::printf("peak RSS: %.1f MiB\n", bench::peakRssMiB());

    const bool valid = plain.failures == 0 && finished == rows && wrongRecord == 0 && endedIdle;
    if (!valid)
        std::printf("INVALID: the figures above do not describe a complete, correct run\n");
    return valid ? 0 : 1;
}
