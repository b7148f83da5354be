#pragma once

#include "app/command_line.h"
#include "app/config.h"
#include "cli/headless_output.h"
#include "app/result_history.h"
#include "domainlist/domain_list_model.h"
#include "lookup/lookup_run.h"
#include "store/results_store.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

namespace quernfold {

// The exit statuses of --query, as --help and the man page give them.
enum QueryExit : int {
    kExitAllFinished = 0,
    kExitSomeUnfinished = 1,
    kExitUsage = 2, // also an unreadable list
    kExitGaveUp = 3, // the site (or the proxy) cannot be reached
    kExitOutputFailed = 4, // the --output file
    // A run ended by a signal says so as the shell says it of a process the signal killed: 128 and its number.
    kExitInterrupted = 128 + 2, // SIGINT, and any second interrupt
    kExitTerminated = 128 + 15, // SIGTERM
    kExitReaderGone = 128 + 13, // standard output closed: SIGPIPE
};

// What decides a run's exit status.
struct QueryOutcome {
    bool outputFailed = false;
    bool readerGone = false;
    int firstInterrupt = 0; // the first interrupt's signal number, 0 for none
    int interrupts = 0;
    bool gaveUp = false;
    qint64 unfinished = 0;
    // Rows went out before the history could say whether they changed (a store that stayed stalled).
    bool comparisonsMissed = false;

    void interrupted(int signalNumber);
};

// When several apply, the first of 4, 141, 130 (a second interrupt), 130 or 143 (the first), 3 and 1.
int queryExitStatus(const QueryOutcome &outcome);

// Looks up the request's list without a window in a QCoreApplication of its own, so no display is needed and no
// platform plugin is loaded, and returns the exit status.
int runQuery(int &argc, char **argv, const QueryRequest &request);

// One batch run over a list without a window: the list's rows are reused from the history or looked up as the
// window's batch run does them, written out in list order as soon as each row and every row before it are
// through, recorded in the history, and counted on standard error.
class HeadlessRun : public QObject
{
    Q_OBJECT
public:
    struct Reporting {
        bool quiet = false; // errors only
        bool terminal = false; // standard error is a terminal: one line redrawn in place
    };

    // `rows`: the list, cleaned and without repeats. `store` may be null (no history); it is only read and added to.
    HeadlessRun(const Config &config, std::vector<DomainRow> rows, std::unique_ptr<ResultOutput> output,
        HttpClient &http, ResultsStore *store, Reporting reporting, QObject *parent = nullptr);
    ~HeadlessRun() override;

    // Only rows whose result changed since the domain's earlier one are written (all are still looked up).
    void setChangesOnly(bool on) { m_changesOnly = on; }
    void start();
    // The first stops as the stop button does: no new row, rows in flight finish, every row is written. The second
    // aborts the rows in flight and writes what is through. Once the run is through, it only counts.
    void interrupt(int signalNumber);
    QueryOutcome outcome() const { return m_outcome; }

signals:
    // Once, when the output is complete (or has failed); outcome() says how it went.
    void finished();

private:
    enum class Phase { Idle, Reusing, LookingUp, Done };

    void takeHistoryPart(const QHash<QString, HistoryEntry> &part, bool complete);
    void startLookups(std::vector<RowKey> rows);
    void onRowEnded(RowKey row);
    // reached: the site was asked (or the history answered); false for rows a stop or an abort left behind.
    void markEnded(int row, bool reached = true);
    void writeReadyRows();
    void failOutput();
    void onGaveUp(const HttpResponse &reply);
    void finishRun();
    void comparisonsArrived();
    // Rows go out without their comparison (a store stalled too long): said once, and the exit status tells.
    void missComparisons();
    bool rowChanged(int row) const;
    // The output's end, once every row is written.
    void completeOutput();
    void reportProgress(bool last);
    void say(const QString &line) const;
    void complain(const QString &line) const;

    Config m_config;
    Reporting m_reporting;
    DomainListModel m_model;
    std::unique_ptr<ResultOutput> m_output;
    HttpClient &m_http;
    ResultsStore *m_store;
    std::unique_ptr<HistoryRecorder> m_history;
    LookupRun m_run;
    std::unique_ptr<ReuseMatcher> m_reuse;
    Phase m_phase = Phase::Idle;
    QueryOutcome m_outcome;
    bool m_stopRequested = false;
    // One byte a row: whether the run is through with it. The next row to write is m_nextOut.
    std::vector<char> m_ended;
    int m_nextOut = 0;
    // One byte a row: its result is with the history, which has not yet said whether it changed.
    std::vector<char> m_comparing;
    bool m_comparisonsDropped = false;
    bool m_changesOnly = false;
    // The run is through but rows still wait for their comparisons.
    bool m_outputPending = false;
    qint64 m_endedCount = 0;
    qint64 m_found = 0;
    qint64 m_noRecord = 0;
    QElapsedTimer m_clock;
    QTimer m_progressTimer;
    QTimer m_readerTimer;
    QTimer m_storePatience;
    bool m_progressShown = false;
};

} // namespace quernfold
