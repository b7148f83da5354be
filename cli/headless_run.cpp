// The lookup of a list without a window (quernfold --query): for cron, servers without a display and pipelines.
// Data goes to standard output or the --output file, progress and errors to standard error, and the outcome to
// the exit status.
#include "cli/headless_run.h"

#include "app/interrupt_pipe.h"
#include "app/run_texts.h"
#include "domainlist/duplicate_domains.h"
#include "domainlist/import_file.h"
#include "platform/curl_http.h"
#include "platform/site_address.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>
#include <unistd.h>

namespace quernfold {

namespace {

const QString kFinished = QStringLiteral("查询完毕");
const QString kNotReached = QStringLiteral("未查询(已停止)");
// A terminal's line keeps up with the run without flickering; a log gets a line it can keep.
constexpr int kTerminalRedrawMs = 250;
constexpr int kLogLineMs = 10000;
// How often a run whose rows wait for their comparisons looks whether anyone still reads standard output.
constexpr int kReaderWatchMs = 100;
// How long rows wait for the comparisons of a store that cannot write for now.
constexpr int kStorePatienceMs = 60000;

void printToStderr(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// Standard input as it arrives: each read hands over what the pipe holds. A QFile on the descriptor would wait to
// fill every block, so a producer that pauses would keep a list that is already over a bound from being refused.
class StandardInput : public QIODevice
{
public:
    StandardInput() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        for (;;) {
            const ssize_t got = ::read(STDIN_FILENO, data, size_t(maxSize));
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }
    qint64 writeData(const char *, qint64) override { return -1; }
};

ImportResult readList(const QString &list)
{
    if (list != QStringLiteral("-"))
        return readDomainFile(list);
    StandardInput input;
    return readDomainDevice(input, QStringLiteral("standard input"));
}

// Why the list cannot be looked up, in the command line's words.
QString listProblem(const QString &list, const ImportResult &result)
{
    const QString name = list == QStringLiteral("-") ? QStringLiteral("standard input") : list;
    const QString reason = result.reason.isEmpty() ? QString() : QStringLiteral(": ") + result.reason;
    switch (result.status) {
    case ImportResult::OpenFailed:
        return QStringLiteral("cannot open %1").arg(name) + reason;
    case ImportResult::TooLarge:
        return QStringLiteral("the list %1 is over 512 MiB").arg(name);
    case ImportResult::TooManyLines:
        return QStringLiteral("the list %1 has over 10 million lines").arg(name);
    case ImportResult::ReadFailed:
        return QStringLiteral("cannot read %1").arg(name) + reason;
    case ImportResult::Ok:
        break;
    }
    return {};
}

// Why a fetch failed, in the system's or the transport's words.
QString fetchFailureText(const HttpResponse &reply)
{
    if (reply.systemError != 0)
        return QString::fromLocal8Bit(std::strerror(reply.systemError));
    if (!reply.error.isEmpty())
        return reply.error;
    return QStringLiteral("HTTP status %1").arg(reply.status);
}

// The history's trouble in the command line's words. The store's own reason is the window's, in Chinese.
QString historyProblem(ResultsStore::Problem problem, const QString &reason, const QString &storePath)
{
    switch (problem) {
    case ResultsStore::Problem::Unavailable:
        return QStringLiteral("the results store %1 cannot be used; the history is not kept").arg(storePath);
    case ResultsStore::Problem::DamagedReplaced:
        return QStringLiteral("the results store %1 was damaged; it was moved to %2 and a new one started")
            .arg(storePath, reason);
    case ResultsStore::Problem::ListInUse:
        break;
    }
    return {};
}

} // namespace

HeadlessRun::HeadlessRun(const Config &config, std::vector<DomainRow> rows, std::unique_ptr<ResultOutput> output,
    HttpClient &http, ResultsStore *store, Reporting reporting, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_reporting(reporting)
    , m_output(std::move(output))
    , m_http(http)
    , m_store(store)
    , m_run(m_model, m_http)
{
    m_model.replaceRows(std::move(rows));
    m_ended.assign(size_t(m_model.count()), 0);
    if (m_store) {
        m_history = std::make_unique<HistoryRecorder>(*m_store, m_model);
        m_comparing.assign(m_ended.size(), 0);
        connect(&m_run, &LookupRun::rowFinished, this, [this](RowKey row) {
            if (m_changesOnly || m_output->showsChanges()) {
                const int position = m_model.positionOf(row);
                if (m_comparisonsDropped)
                    missComparisons();
                else if (position >= 0)
                    m_comparing[size_t(position)] = 1;
            }
            m_history->add(row);
        });
        m_history->setComparedHandler([this](const std::vector<RowKey> &rows) {
            for (const RowKey row : rows) {
                const int position = m_model.positionOf(row);
                if (position >= 0)
                    m_comparing[size_t(position)] = 0;
            }
            comparisonsArrived();
        });
        // A store that cannot write for now holds the rows back while it tries again: written without their
        // comparison, a change the history records later would never be reported. Only a store that stays stalled
        // lets them go out without, and the exit status says so.
        m_storePatience.setSingleShot(true);
        m_storePatience.setInterval(kStorePatienceMs);
        connect(m_store, &ResultsStore::savingDelayed, &m_storePatience, qOverload<>(&QTimer::start));
        // Once the store writes again, the rows after are compared again.
        connect(m_store, &ResultsStore::savingResumed, this, [this] {
            m_storePatience.stop();
            m_comparisonsDropped = false;
        });
        connect(&m_storePatience, &QTimer::timeout, this, [this] {
            if (m_comparisonsDropped)
                return;
            m_comparisonsDropped = true;
            if (std::find(m_comparing.begin(), m_comparing.end(), 1) != m_comparing.end())
                missComparisons();
            std::fill(m_comparing.begin(), m_comparing.end(), 0);
            comparisonsArrived();
        });
    }
    connect(&m_run, &LookupRun::rowEnded, this, &HeadlessRun::onRowEnded);
    connect(&m_run, &LookupRun::gaveUp, this, [this](const QString &, const HttpResponse &reply) { onGaveUp(reply); });
    connect(&m_run, &LookupRun::finished, this, &HeadlessRun::finishRun);
    m_progressTimer.setInterval(m_reporting.terminal ? kTerminalRedrawMs : kLogLineMs);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { reportProgress(false); });
    m_readerTimer.setInterval(kReaderWatchMs);
    connect(&m_readerTimer, &QTimer::timeout, this, [this] {
        if (m_output->readerLeft())
            failOutput();
    });
}

HeadlessRun::~HeadlessRun() = default;

void HeadlessRun::start()
{
    m_clock.start();
    m_readerTimer.start();
    if (!m_reporting.quiet)
        m_progressTimer.start();
    const LookupSettings &settings = m_config.settings.effective;
    say(QStringLiteral("looking up %1 domains at %2, %3 at once")
            .arg(m_model.count())
            .arg(settings.lookupBase)
            .arg(settings.parallel));
    std::vector<RowKey> rows(size_t(m_model.count()));
    for (int i = 0; i < m_model.count(); ++i)
        rows[size_t(i)] = m_model.keyAt(i);
    if (settings.reuseDays <= 0 || !m_store || rows.empty()) {
        startLookups(std::move(rows));
        return;
    }
    // As the window's batch run: recent results from the history first, the site only for the rest.
    m_phase = Phase::Reusing;
    m_reuse = std::make_unique<ReuseMatcher>(m_model, std::move(rows));
    m_store->history(m_reuse->domains(), reuseCutoff(settings.reuseDays, QDateTime::currentSecsSinceEpoch()),
        [this](QHash<QString, HistoryEntry> part, bool complete) { takeHistoryPart(part, complete); });
}

void HeadlessRun::takeHistoryPart(const QHash<QString, HistoryEntry> &part, bool complete)
{
    if (m_phase != Phase::Reusing)
        return;
    m_reuse->take(part, [this](RowKey row, const HistoryEntry &entry) {
        writeReusedResult(m_model, row, entry);
        markEnded(m_model.positionOf(row));
    });
    writeReadyRows();
    if (!complete || m_phase != Phase::Reusing)
        return;
    std::vector<RowKey> left = m_reuse->rowsLeft();
    m_reuse.reset();
    if (m_stopRequested) {
        finishRun();
        return;
    }
    startLookups(std::move(left));
}

void HeadlessRun::startLookups(std::vector<RowKey> rows)
{
    m_phase = Phase::LookingUp;
    const LookupSettings &settings = m_config.settings.effective;
    m_run.start(settings.lookupBase, QueryMode::Batch, std::move(rows),
        runOptionsFor(QueryMode::Batch, settings, m_config.proxyEnvironment));
}

void HeadlessRun::interrupt(int signalNumber)
{
    m_outcome.interrupted(signalNumber);
    // Through already: the output is complete and stays so; the exit status tells of the signal.
    if (m_phase == Phase::Done)
        return;
    if (m_outcome.interrupts == 1) {
        m_stopRequested = true;
        say(QStringLiteral("stopping: rows in flight finish, the rest is written unfinished (interrupt again to "
                           "abort)"));
        if (m_phase == Phase::LookingUp)
            m_run.requestStop();
        return;
    }
    // The requests in flight are dropped; what is through is written.
    m_run.abort();
    finishRun();
}

void HeadlessRun::onRowEnded(RowKey row)
{
    // The run's list never changes, so its positions are its output order.
    markEnded(m_model.positionOf(row));
    writeReadyRows();
}

void HeadlessRun::markEnded(int row, bool reached)
{
    if (row < 0 || size_t(row) >= m_ended.size() || m_ended[size_t(row)])
        return;
    m_ended[size_t(row)] = 1;
    // Rows a stop left behind are counted unfinished, but they were never done: the rate is of rows done.
    if (reached)
        ++m_endedCount;
    if (m_model.cell(row, DomainListModel::StatusColumn) != kFinished) {
        ++m_outcome.unfinished;
        return;
    }
    const QString recordNo = m_model.cell(row, DomainListModel::RecordNoColumn);
    if (recordNo == QStringLiteral("无记录") || recordNo == QStringLiteral("备案已被删除"))
        ++m_noRecord;
    else
        ++m_found;
}

void HeadlessRun::writeReadyRows()
{
    if (m_outcome.outputFailed)
        return;
    const int first = m_nextOut;
    const bool keepCells = m_output->needsAllRows();
    // A row waits for the history's comparison, which says whether it changed, and rows after it wait for it.
    while (size_t(m_nextOut) < m_ended.size() && m_ended[size_t(m_nextOut)]
        && (m_comparing.empty() || !m_comparing[size_t(m_nextOut)])) {
        if ((!m_changesOnly || rowChanged(m_nextOut)) && !m_output->writeRow(m_model, m_nextOut)) {
            failOutput();
            return;
        }
        // Written is done with: a long list's memory stays at its domains.
        if (!keepCells)
            m_model.takeLookupCells(m_model.keyAt(m_nextOut));
        ++m_nextOut;
    }
    if (m_nextOut != first && !m_output->flush())
        failOutput();
}

void HeadlessRun::failOutput()
{
    if (m_outcome.outputFailed || m_outcome.readerGone)
        return;
    // A reader that has read enough (`| head`) is no fault: the run ends without a word, as a program that
    // SIGPIPE ends.
    if (m_output->readerGone()) {
        m_outcome.readerGone = true;
        m_reporting.quiet = true;
    } else {
        m_outcome.outputFailed = true;
        complain(m_output->error());
    }
    // Nothing more can reach the reader; asking the site on would only cost it.
    m_run.abort();
    finishRun();
}

void HeadlessRun::onGaveUp(const HttpResponse &reply)
{
    m_outcome.gaveUp = true;
    const LookupSettings &settings = m_config.settings.effective;
    if (reply.failure == HttpFailure::ProxyUnreachable) {
        const QByteArray proxy = runOptionsFor(QueryMode::Batch, settings, m_config.proxyEnvironment).proxy;
        complain(QStringLiteral("the proxy %1 cannot be reached, stopped: %2")
                     .arg(QString::fromUtf8(proxy), fetchFailureText(reply)));
        return;
    }
    complain(QStringLiteral("the lookup site %1 seems unreachable, stopped after %2 rows in a row failed: %3")
                 .arg(settings.lookupBase)
                 .arg(kGiveUpAfterFailedRows)
                 .arg(fetchFailureText(reply)));
}

void HeadlessRun::finishRun()
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_reuse.reset();
    if (m_history)
        m_history->flush();
    m_progressTimer.stop();
    m_readerTimer.stop();
    // Rows never reached, and rows dropped in flight by an abort, go out as they are: unfinished. One never asked
    // says so, or it would read as a row nobody meant to look up.
    for (size_t row = 0; row < m_ended.size(); ++row) {
        if (m_ended[row])
            continue;
        if (m_model.text(int(row), DomainListModel::StatusColumn).isEmpty())
            m_model.setStatus(m_model.keyAt(int(row)), QString(), kNotReached);
        markEnded(int(row), false);
    }
    writeReadyRows();
    if (m_history && m_history->isComparing() && !m_comparisonsDropped && !m_outcome.outputFailed
        && !m_outcome.readerGone) {
        m_outputPending = true;
        return;
    }
    completeOutput();
}

void HeadlessRun::missComparisons()
{
    if (std::exchange(m_outcome.comparisonsMissed, true))
        return;
    complain(QStringLiteral("the results store stayed busy for %1 s: rows go out without saying what changed")
                 .arg(kStorePatienceMs / 1000));
}

void HeadlessRun::comparisonsArrived()
{
    writeReadyRows();
    // Once the comparisons are given up, the history's answers are no longer waited for.
    if (m_outputPending && (m_comparisonsDropped || !(m_history && m_history->isComparing()))) {
        m_outputPending = false;
        completeOutput();
    }
}

bool HeadlessRun::rowChanged(int row) const
{
    const DomainRow *r = m_model.find(m_model.keyAt(row));
    return r && r->lookup && r->lookup->previous && !r->lookup->change.isEmpty();
}

void HeadlessRun::completeOutput()
{
    if (!m_outcome.outputFailed && !m_outcome.readerGone && !m_output->finish(m_model)) {
        m_outcome.outputFailed = true;
        complain(m_output->error());
    }
    reportProgress(true);
    QTimer::singleShot(0, this, [this] { emit finished(); });
}

void QueryOutcome::interrupted(int signalNumber)
{
    if (interrupts++ == 0)
        firstInterrupt = signalNumber;
}

int queryExitStatus(const QueryOutcome &outcome)
{
    if (outcome.outputFailed)
        return kExitOutputFailed;
    if (outcome.readerGone)
        return kExitReaderGone;
    if (outcome.interrupts >= 2)
        return kExitInterrupted;
    if (outcome.interrupts == 1)
        return outcome.firstInterrupt == SIGTERM ? kExitTerminated : kExitInterrupted;
    if (outcome.gaveUp)
        return kExitGaveUp;
    return outcome.unfinished > 0 || outcome.comparisonsMissed ? kExitSomeUnfinished : kExitAllFinished;
}

void HeadlessRun::reportProgress(bool last)
{
    if (m_reporting.quiet)
        return;
    const qint64 total = m_model.count();
    const double seconds = std::max<qint64>(m_clock.elapsed(), 1) / 1000.0;
    const double rate = m_endedCount / seconds;
    QString line = QStringLiteral("%1/%2 rows, %3 rows/s").arg(m_endedCount).arg(total).arg(rate, 0, 'f', 1);
    if (last)
        line += QStringLiteral(", took %1").arg(durationText(qint64(seconds * 1000)));
    else if (rate > 0)
        line += QStringLiteral(", %1 left").arg(durationText(qint64((total - m_endedCount) / rate * 1000)));
    line += QStringLiteral("; found %1, no record %2, unfinished %3")
                .arg(m_found)
                .arg(m_noRecord)
                .arg(m_outcome.unfinished);
    if (m_reporting.terminal) {
        // Carriage return and erase to the end: the line is drawn over in place.
        printToStderr("\r" + line.toLocal8Bit() + "\x1b[K" + (last ? "\n" : ""));
        m_progressShown = !last;
        return;
    }
    printToStderr("quernfold: " + line.toLocal8Bit() + '\n');
}

void HeadlessRun::say(const QString &line) const
{
    if (!m_reporting.quiet)
        complain(line);
}

void HeadlessRun::complain(const QString &line) const
{
    // On a terminal the progress line is cleared first, and drawn again by its next tick.
    const QByteArray clear = m_reporting.terminal && m_progressShown ? QByteArray("\r\x1b[K") : QByteArray();
    printToStderr(clear + "quernfold: " + line.toLocal8Bit() + '\n');
}

int runQuery(int &argc, char **argv, const QueryRequest &request)
{
    QCoreApplication app(argc, argv);
    const auto fail = [](int status, const QString &text) {
        printToStderr("quernfold: " + text.toLocal8Bit() + '\n');
        return status;
    };

    QStringList notes;
    Config config = Config::fromEnvironment(&notes);
    if (!request.quiet) {
        for (const QString &note : std::as_const(notes))
            printToStderr("quernfold: " + note.toLocal8Bit() + '\n');
    }
    for (auto it = request.settings.cbegin(); it != request.settings.cend(); ++it)
        readOptionValue(settingFor(it.key()), it.value(), config.settings.effective);
    const QString lookupBase = config.settings.effective.lookupBase;
    if (isPlaceholderAddress(lookupBase)) {
        return fail(kExitUsage,
            QStringLiteral("no lookup site is set (%1 is a placeholder): give --lookup-base URL, set "
                           "QUERNFOLD_LOOKUP_BASE, or set lookup/base in %2")
                .arg(lookupBase, config.settingsPath));
    }

    QString outputError;
    std::unique_ptr<ResultOutput> output = openResultOutput(request, &outputError);
    if (!output)
        return fail(kExitOutputFailed, outputError);

    ImportResult list = readList(request.list);
    if (list.status != ImportResult::Ok)
        return fail(kExitUsage, listProblem(request.list, list));
    const qsizetype skipped = list.skipped + dropDuplicateDomains(list.rows, nullptr);
    if (skipped > 0 && !request.quiet)
        printToStderr("quernfold: skipped " + QByteArray::number(skipped)
            + (skipped == 1 ? " line (a repeat or not a domain)\n" : " lines (repeats or not domains)\n"));
    // Cells that came with the list (our own CSV read back) describe an earlier run; this one starts afresh.
    for (DomainRow &row : list.rows)
        row.lookup.reset();

    // A reader that went away is a failed write the run answers, ending as quietly as SIGPIPE would but with the
    // history it has saved.
    std::signal(SIGPIPE, SIG_IGN);
    // Installed once the list is in: until then an interrupt ends the program as it always did. From here until
    // the program returns, the last save included, a signal never cuts it short.
    InterruptPipe interrupts({ SIGINT, SIGTERM });
    CurlHttpClient http(config.httpTimeoutMs);
    std::unique_ptr<ResultsStore> store;
    if (!config.storePath.isEmpty())
        store = std::make_unique<ResultsStore>(config.storePath, ResultsStore::Scope::HistoryOnly);
    HeadlessRun::Reporting reporting;
    reporting.quiet = request.quiet;
    reporting.terminal = ::isatty(STDERR_FILENO) != 0;
    auto run
        = std::make_unique<HeadlessRun>(config, std::move(list.rows), std::move(output), http, store.get(), reporting);
    // Without a history nothing can be compared: `--changes-only` then writes nothing, which must not read as
    // "nothing changed" to a scheduler.
    bool compared = store != nullptr;
    if (!store && request.changesOnly)
        printToStderr("quernfold: no results store, so nothing can be compared\n");
    if (store) {
        QObject::connect(store.get(), &ResultsStore::problemOccurred, run.get(),
            [storePath = config.storePath, &compared](ResultsStore::Problem problem, const QString &reason) {
                if (problem == ResultsStore::Problem::Unavailable)
                    compared = false;
                const QString text = historyProblem(problem, reason, storePath);
                if (!text.isEmpty())
                    printToStderr("quernfold: " + text.toLocal8Bit() + '\n');
            });
    }
    run->setChangesOnly(request.changesOnly);
    if (store) {
        store->pruneVersions(historyCutoff(config.settings.effective.historyDays, QDateTime::currentSecsSinceEpoch()));
    }
    QObject::connect(&interrupts, &InterruptPipe::interrupted, run.get(), &HeadlessRun::interrupt);
    QObject::connect(run.get(), &HeadlessRun::finished, &app, [] { QCoreApplication::exit(0); });
    run->start();
    app.exec();
    QueryOutcome outcome = run->outcome();
    if (request.changesOnly && !compared)
        outcome.comparisonsMissed = true;
    // The run goes first, handing the store its last results; the store's destructor then waits until they are in
    // the file. A signal meanwhile waits in the pipe, and counts.
    run.reset();
    store.reset();
    for (const int signalNumber : interrupts.takePending())
        outcome.interrupted(signalNumber);
    return queryExitStatus(outcome);
}

} // namespace quernfold
