#pragma once

#include "lookup/lookup_settings.h"
#include "lookup/query_row.h"
#include "platform/http.h"
#include "platform/proxy.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPersistentModelIndex>
#include <QTimer>

#include <list>
#include <vector>

namespace quernfold {

class DomainListModel;

struct RunOptions {
    int parallel = 1; // rows in flight at once
    int retries = 0; // further tries of a transient failure
    int intervalMs = 0; // least time between two request starts
    int deadlineMs = 0; // a request's total time; 0 for none
    QByteArray proxy; // as HttpRequest::proxy
    // Rows in a row whose fetch failed after their retries before the run gives up; 0 never gives up.
    int giveUpAfter = 0;
    int retryBaseMs = 1000; // the first retry's wait; each later one waits three times as long
};

// Rows in a row whose fetch failed, after their retries, before a batch run gives up on the site.
inline constexpr int kGiveUpAfterFailedRows = 10;

// The options a run takes from the user's settings: a batch run gets the whole of them; the query of the selected
// row one request, no retries, no pacing (the user asked about this row now and can simply ask again).
RunOptions runOptionsFor(QueryMode mode, const LookupSettings &settings, const ProxyEnvironment &proxyEnvironment);

// How long to wait before retry number `retry` (from 1): retryBaseMs, then three times that, and so on, or the
// site's Retry-After when it asks for longer; never more than two minutes.
qint64 retryDelayMs(int retry, qint64 retryAfterSeconds, int retryBaseMs);

// One lookup run over rows of the list: the batch run, the run over unfinished rows, or the query of the
// selected row. It starts requests in row order, keeps up to `parallel` of them in flight, writes each outcome
// into its own row, retries transient failures after 1 s, 3 s, 9 s... (or what the site asks for), and reports
// by signal. Rows removed from or inserted into the list meanwhile are followed: a removed row is not queried,
// the others keep their domains; a reset of the list ends the run once the rows in flight are back. Nothing in
// it waits: every step is a callback or a timer.
class LookupRun : public QObject
{
    Q_OBJECT
public:
    LookupRun(DomainListModel &model, HttpClient &http, QObject *parent = nullptr);
    ~LookupRun() override;

    // rows: positions (0-based) to query in this order. Returns at once; `finished` follows from the event loop,
    // also for an empty list of rows.
    void start(const QString &lookupBase, QueryMode mode, std::vector<int> rows, const RunOptions &options);
    // Starts no further row and ends retry waits; rows in flight finish and write, then the run ends.
    void requestStop();
    // Ends everything at once and writes nothing more; no signal follows. For the program closing.
    void abort();
    bool isActive() const { return m_active; }

signals:
    // The first try of a row is about to go out (0-based position).
    void rowStarted(int row);
    // The site answered about the row and the answer is written: "查询完毕" with its record.
    void rowFinished(int row);
    // The run is through with the row: it finished (after rowFinished), or it did not and its note says why. A row
    // waiting for a retry is not through yet; rows in flight when the run is aborted never are.
    void rowEnded(int row);
    // The run met a stop with rows left that it will not query.
    void stopNoticed();
    // The run stops by itself: this many rows in a row failed to fetch, or one met a proxy that cannot be reached.
    // `reason` is the last one's, `reply` what the last fetch came back with.
    void gaveUp(const QString &reason, const HttpResponse &reply);
    void finished();

private:
    struct Slot {
        QPersistentModelIndex index;
        QString domain;
        int retriesMade = 0;
        HttpClient::RequestId request = 0;
        qint64 retryAtMs = -1; // waiting for a retry when >= 0
        QString reason;
    };

    void schedule(qint64 atMs);
    void pump(bool mayFinish);
    bool startNext(qint64 now);
    void send(Slot &slot, qint64 now);
    void onReply(Slot *slot, HttpResponse &&response);
    void continueRun();
    void endRetryWaits();
    void finish();
    void followRemovedRows(const QModelIndex &parent, int first, int last);
    void followInsertedRows(const QModelIndex &parent, int first, int last);
    void followReset();
    void dropWaitsForRemovedRows();

    DomainListModel &m_model;
    HttpClient &m_http;
    QString m_lookupBase;
    QueryMode m_mode = QueryMode::Batch;
    RunOptions m_options;
    // Positions still to start, from m_next on, kept in step with the list; -1 marks a row removed meanwhile.
    // Positions rather than persistent indexes: a run over a million rows would otherwise make every change of
    // the list walk a million of them.
    std::vector<int> m_rows;
    size_t m_next = 0;
    std::list<Slot> m_slots;
    bool m_active = false;
    bool m_stopRequested = false;
    int m_failuresInARow = 0;
    QElapsedTimer m_clock;
    qint64 m_lastStartMs = 0;
    bool m_startedAny = false;
    qint64 m_pausedUntilMs = 0;
    QTimer m_pump;
};

} // namespace quernfold
