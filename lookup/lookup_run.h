#pragma once

#include "domainlist/domain_list_model.h"
#include "lookup/lookup_settings.h"
#include "lookup/query_row.h"
#include "platform/http.h"
#include "platform/proxy.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <list>
#include <vector>

namespace quernfold {

struct RunOptions {
    int parallel = 1; // rows in flight at once
    int retries = 0; // further tries of a transient failure
    int intervalMs = 0; // least time between two request starts
    int deadlineMs = 0; // a request's total time; 0 for none
    QByteArray proxy; // as HttpRequest::proxy
    // Rows in a row whose fetch failed after their retries before the run gives up; 0 never gives up.
    int giveUpAfter = 0;
    int retryBaseMs = 1000; // the first retry's wait; each later one waits three times as long
    // The name the site is asked about for a row's domain. Empty: every row is asked about by its own domain, on
    // a request of its own. Given: rows whose names are the same share one request, and a row whose name is not
    // its own domain says so in its note.
    std::function<QString(const QString &domain)> nameToAsk;
};

// Rows in a row whose fetch failed, after their retries, before a batch run gives up on the site.
inline constexpr int kGiveUpAfterFailedRows = 10;

// The options a run takes from the user's settings: a batch run gets the whole of them; the query of the selected
// row one request, no retries, no pacing (the user asked about this row now and can simply ask again). Both ask by
// the registrable domain when 按主域名查询 is on.
RunOptions runOptionsFor(QueryMode mode, const LookupSettings &settings, const ProxyEnvironment &proxyEnvironment);

// How long to wait before retry number `retry` (from 1): retryBaseMs, then three times that, and so on, or the
// site's Retry-After when it asks for longer; never more than two minutes.
qint64 retryDelayMs(int retry, qint64 retryAfterSeconds, int retryBaseMs);

// One lookup run over rows of the list: the batch run, the run over unfinished rows, or the query of the
// selected row. It starts requests in row order, keeps up to `parallel` of them in flight, writes each outcome
// into its own row, retries transient failures after 1 s, 3 s, 9 s... (or what the site asks for), and reports
// by signal. With `nameToAsk`, a request serves every row of the run with its name: the rows that reach it while
// it is in flight (or waits for a retry) wait with it, and the rows after it take the page it brought. Rows are named
// by their keys: a row that leaves the list meanwhile is not queried, and an answer for it is dropped; the others are
// found wherever they are. Nothing in it waits: every step is a callback or a timer.
class LookupRun : public QObject
{
    Q_OBJECT
public:
    LookupRun(DomainListModel &model, HttpClient &http, QObject *parent = nullptr);
    ~LookupRun() override;

    // rows: the rows to query, in this order. Returns at once; `finished` follows from the event loop, also for an
    // empty list of rows.
    void start(const QString &lookupBase, QueryMode mode, std::vector<RowKey> rows, const RunOptions &options);
    // Starts no further row and ends retry waits; rows in flight finish and write, then the run ends.
    void requestStop();
    // Ends everything at once and writes nothing more; no signal follows. For the program closing.
    void abort();
    bool isActive() const { return m_active; }

signals:
    // The first try of a row is about to go out.
    void rowStarted(quernfold::RowKey row);
    // The site answered about the row and the answer is written: "查询完毕" with its record.
    void rowFinished(quernfold::RowKey row);
    // The run is through with the row: it finished (after rowFinished), or it did not and its note says why. A row
    // waiting for a retry is not through yet; rows in flight when the run is aborted never are.
    void rowEnded(quernfold::RowKey row);
    // The run met a stop with rows left that it will not query.
    void stopNoticed();
    // The run stops by itself: this many rows in a row failed to fetch, or one met a proxy that cannot be reached.
    // `reason` is the last one's, `reply` what the last fetch came back with.
    void gaveUp(const QString &reason, const HttpResponse &reply);
    void finished();

private:
    // A row waiting for a request's answer.
    struct Waiter {
        RowKey key = RowKey::None;
        bool askedByAnotherName = false;
    };
    // One request, in flight or waiting for its retry, and the rows it answers: the row that started it first.
    struct Slot {
        QString name;
        std::vector<Waiter> rows;
        int retriesMade = 0;
        HttpClient::RequestId request = 0;
        qint64 retryAtMs = -1; // waiting for a retry when >= 0
        QString reason;
    };

    bool sharing() const { return bool(m_options.nameToAsk); }
    void schedule(qint64 atMs);
    void pump(bool mayFinish);
    bool startNext(qint64 now);
    void send(Slot &slot, qint64 now);
    void onReply(Slot *slot, HttpResponse &&response);
    // Writes the outcome into each row still listed and tells of it. False when the run ended meanwhile.
    bool deliver(const std::vector<Waiter> &rows, const QString &name, const RowOutcome &outcome);
    void removeSlot(Slot *slot);
    // Drops the rows that left the list; true when none is left.
    bool pruneRows(Slot &slot);
    // A row of the run with this name has been reached: one fewer to keep its answer for.
    void reached(const QString &name);
    void continueRun();
    void endRetryWaits();
    void finish();
    void dropWaitsForRemovedRows();
    void forgetShared();

    DomainListModel &m_model;
    HttpClient &m_http;
    QString m_lookupBase;
    QueryMode m_mode = QueryMode::Batch;
    RunOptions m_options;
    // The rows to start, from m_next on.
    std::vector<RowKey> m_rows;
    size_t m_next = 0;
    std::list<Slot> m_slots;
    // With nameToAsk: the request for a name, the page a finished one brought, and how many rows of the run with
    // that name are still to be reached (an answer is kept only while some are).
    QHash<QString, Slot *> m_inFlight;
    QHash<QString, RowOutcome> m_answers;
    QHash<QString, int> m_rowsLeft;
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
