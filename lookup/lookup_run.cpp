#include "lookup/lookup_run.h"

#include "domainlist/domain_list_model.h"
#include "domainlist/domain_name.h"

#include <QPointer>

#include <algorithm>
#include <optional>

namespace quernfold {

namespace {

const QString kQuerying = QStringLiteral("查询中");
const QString kDone = QStringLiteral("查询完毕");
const QString kFailed = QStringLiteral("查询失败");

constexpr qint64 kLongestRetryAfterSeconds = 120;

// Rows one turn of the event loop may start. Rows that share a request take no place in flight, so without a
// bound a long list of them would all be written before the window could paint once.
constexpr int kRowsPerTurn = 256;

} // namespace

RunOptions runOptionsFor(QueryMode mode, const LookupSettings &settings, const ProxyEnvironment &proxyEnvironment)
{
    RunOptions options;
    options.deadlineMs = settings.deadlineSeconds * 1000;
    options.proxy = proxyFor(settings.proxy, QUrl(settings.lookupBase), proxyEnvironment);
    if (mode == QueryMode::Batch) {
        options.parallel = settings.parallel;
        options.retries = settings.retries;
        options.intervalMs = settings.intervalMs;
        options.giveUpAfter = kGiveUpAfterFailedRows;
    }
    if (settings.byRegistrable) {
        // A name with no registrable part (a public suffix itself, a row kept from before names were checked) is
        // asked about as it stands.
        options.nameToAsk = [](const QString &domain) {
            QString registrable = registrableDomain(domain);
            return registrable.isEmpty() ? domain : registrable;
        };
    }
    return options;
}

qint64 retryDelayMs(int retry, qint64 retryAfterSeconds, int retryBaseMs)
{
    // 1 s, 3 s, 9 s, ...: quick enough for a blip, slow enough not to hammer a site that is struggling. The
    // tripling stops at the cap, so no retry number can overflow it.
    const qint64 longestMs = kLongestRetryAfterSeconds * 1000;
    qint64 backOffMs = qMax(0, retryBaseMs);
    for (int i = 1; i < retry && backOffMs < longestMs; ++i)
        backOffMs *= 3;
    backOffMs = qMin(backOffMs, longestMs);
    // "Retry-After: 0" (also what a value curl cannot read comes out as) would have us ask again at once, right
    // after the site said it is struggling; its ask can only make the wait longer.
    if (retryAfterSeconds < 0)
        return backOffMs;
    return qMax(backOffMs, qMin(retryAfterSeconds, kLongestRetryAfterSeconds) * 1000);
}

LookupRun::LookupRun(DomainListModel &model, HttpClient &http, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_http(http)
{
    m_pump.setSingleShot(true);
    connect(&m_pump, &QTimer::timeout, this, [this] { pump(true); });
    // Rows are named by key, so nothing needs following; a row that left while it waits for a retry would only
    // hold the run's end for the wait.
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, &LookupRun::dropWaitsForRemovedRows);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &LookupRun::dropWaitsForRemovedRows);
}

LookupRun::~LookupRun()
{
    abort();
}

void LookupRun::start(const QString &lookupBase, QueryMode mode, std::vector<RowKey> rows, const RunOptions &options)
{
    abort();
    m_lookupBase = lookupBase;
    m_mode = mode;
    m_rows = std::move(rows);
    m_next = 0;
    m_options = options;
    m_options.parallel = qMax(1, m_options.parallel);
    m_options.retries = qMax(0, m_options.retries);
    m_active = true;
    m_stopRequested = false;
    m_failuresInARow = 0;
    m_startedAny = false;
    m_pausedUntilMs = 0;
    if (sharing()) {
        for (const RowKey key : m_rows) {
            if (const DomainRow *row = m_model.find(key))
                ++m_rowsLeft[m_options.nameToAsk(row->domain)];
        }
    }
    m_clock.start();
    // The first row goes out from the event loop, as every later one does, so whatever the caller does right
    // after start() (a message, disabling controls) comes first.
    schedule(0);
}

void LookupRun::requestStop()
{
    if (!m_active || m_stopRequested)
        return;
    m_stopRequested = true;
    endRetryWaits();
    schedule(0);
}

void LookupRun::abort()
{
    if (!m_active)
        return;
    m_active = false;
    m_pump.stop();
    for (Slot &slot : m_slots) {
        if (slot.request)
            m_http.cancel(slot.request);
    }
    m_slots.clear();
    forgetShared();
}

void LookupRun::forgetShared()
{
    m_inFlight.clear();
    m_answers.clear();
    m_rowsLeft.clear();
}

void LookupRun::schedule(qint64 atMs)
{
    const qint64 delay = qMax<qint64>(0, atMs - m_clock.elapsed());
    if (!m_pump.isActive() || m_pump.remainingTime() > delay)
        m_pump.start(int(qMin<qint64>(delay, 24LL * 3600 * 1000)));
}

void LookupRun::pump(bool mayFinish)
{
    if (!m_active)
        return;
    const QPointer<LookupRun> alive(this);
    for (int started = 0; startNext(m_clock.elapsed());) {
        // Starting a row tells the window and writes the list; either may have ended the run.
        if (!alive || !m_active)
            return;
        if (++started == kRowsPerTurn) {
            schedule(0);
            return;
        }
    }
    if (!alive || !m_active)
        return;
    if (m_slots.empty() && (m_stopRequested || m_next >= m_rows.size())) {
        // From inside a reply (the rows left were all skipped) the run ends from the event loop, after the reply
        // has been written.
        if (mayFinish)
            finish();
        else
            schedule(0);
        return;
    }
    // Something waits for its time: a retry, the interval, or a pause the site asked for.
    qint64 wakeAt = -1;
    const auto consider = [&wakeAt](qint64 at) {
        if (at >= 0 && (wakeAt < 0 || at < wakeAt))
            wakeAt = at;
    };
    const qint64 earliestStart = qMax(m_pausedUntilMs, m_startedAny ? m_lastStartMs + m_options.intervalMs : qint64(0));
    for (const Slot &slot : m_slots) {
        if (slot.retryAtMs >= 0)
            consider(qMax(slot.retryAtMs, earliestStart));
    }
    if (!m_stopRequested && m_next < m_rows.size() && int(m_slots.size()) < m_options.parallel)
        consider(earliestStart);
    if (wakeAt >= 0)
        schedule(wakeAt);
}

bool LookupRun::startNext(qint64 now)
{
    const qint64 earliestStart = qMax(m_pausedUntilMs, m_startedAny ? m_lastStartMs + m_options.intervalMs : qint64(0));
    const bool maySend = now >= earliestStart;

    // A due retry goes before a new row, and due retries go in row order: the slots are listed as their rows
    // started.
    Slot *due = nullptr;
    if (maySend) {
        for (Slot &slot : m_slots) {
            if (slot.retryAtMs >= 0 && slot.retryAtMs <= now) {
                due = &slot;
                break;
            }
        }
    }
    if (due) {
        if (pruneRows(*due)) {
            removeSlot(due);
            return true;
        }
        due->retryAtMs = -1;
        ++due->retriesMade;
        send(*due, now);
        return true;
    }

    if (m_stopRequested || m_next >= m_rows.size())
        return false;
    const RowKey key = m_rows[m_next];
    const DomainRow *row = m_model.find(key);
    if (!row) {
        ++m_next;
        return true;
    }
    const QString name = sharing() ? m_options.nameToAsk(row->domain) : row->domain;
    const bool askedByAnotherName = name != row->domain;
    // A row whose name is asked about already, or was answered, needs no place in flight and no turn.
    const bool needsRequest = !sharing() || (!m_inFlight.contains(name) && !m_answers.contains(name));
    if (needsRequest && (!maySend || int(m_slots.size()) >= m_options.parallel))
        return false;
    ++m_next;
    const QPointer<LookupRun> alive(this);
    emit rowStarted(key);
    if (!alive || !m_active)
        return false;
    // The window may have changed the list in its answer to the signal, which may also have ended a request's
    // wait for its retry: what this row joins is looked up afresh.
    if (sharing()) {
        const auto answer = m_answers.constFind(name);
        const std::optional<RowOutcome> answered
            = answer != m_answers.cend() ? std::optional<RowOutcome>(*answer) : std::nullopt;
        reached(name);
        if (answered) {
            deliver({ { key, askedByAnotherName } }, name, *answered);
            return true;
        }
    }
    if (!m_model.setStatus(key, kQuerying))
        return true;
    if (!alive || !m_active)
        return false;
    if (Slot *shared = m_inFlight.value(name)) {
        shared->rows.push_back({ key, askedByAnotherName });
        return true;
    }
    Slot &slot = m_slots.emplace_back();
    slot.name = name;
    slot.rows.push_back({ key, askedByAnotherName });
    if (sharing())
        m_inFlight.insert(name, &slot);
    send(slot, now);
    return true;
}

void LookupRun::send(Slot &slot, qint64 now)
{
    m_startedAny = true;
    m_lastStartMs = now;
    Slot *target = &slot;
    slot.request
        = m_http.start(recordPageRequest(recordPageUrl(m_lookupBase, slot.name), m_options.deadlineMs, m_options.proxy),
            [this, target](HttpResponse &&response) { onReply(target, std::move(response)); });
}

void LookupRun::removeSlot(Slot *slot)
{
    const auto shared = m_inFlight.constFind(slot->name);
    if (shared != m_inFlight.cend() && *shared == slot)
        m_inFlight.erase(shared);
    m_slots.remove_if([slot](const Slot &s) { return &s == slot; });
}

bool LookupRun::pruneRows(Slot &slot)
{
    // A row that left the list under a request: its part of the answer then belongs to nobody.
    slot.rows.erase(std::remove_if(slot.rows.begin(), slot.rows.end(),
                        [this](const Waiter &row) { return !m_model.contains(row.key); }),
        slot.rows.end());
    return slot.rows.empty();
}

void LookupRun::reached(const QString &name)
{
    const auto left = m_rowsLeft.find(name);
    if (left == m_rowsLeft.end() || --*left > 0)
        return;
    m_rowsLeft.erase(left);
    m_answers.remove(name);
}

void LookupRun::onReply(Slot *slot, HttpResponse &&response)
{
    slot->request = 0;
    const QPointer<LookupRun> alive(this);
    if (!response.ok() || response.status >= 400) {
        if (pruneRows(*slot)) {
            removeSlot(slot);
            continueRun();
            return;
        }
        const RowOutcome outcome = readRowOutcome(m_mode, response);
        if (outcome.retryable && slot->retriesMade < m_options.retries && !m_stopRequested) {
            const qint64 now = m_clock.elapsed();
            const qint64 waitMs = retryDelayMs(slot->retriesMade + 1, outcome.retryAfterSeconds, m_options.retryBaseMs);
            // The site told us when it will talk again; until then nobody asks it anything.
            if (outcome.retryAfterSeconds >= 0)
                m_pausedUntilMs = qMax(m_pausedUntilMs, now + waitMs);
            slot->retryAtMs = now + waitMs;
            slot->reason = outcome.reason;
        } else {
            // Not remembered for the name: a row that reaches it later asks again.
            RowOutcome failed;
            failed.reason = rowNote(outcome.reason, slot->retriesMade);
            const std::vector<Waiter> rows = std::move(slot->rows);
            const QString name = slot->name;
            removeSlot(slot);
            if (!deliver(rows, name, failed))
                return;
            // An answer we cannot use still shows the site is there. Requests are counted, not the rows they
            // served.
            m_failuresInARow = outcome.siteUnreachable ? m_failuresInARow + 1 : 0;
            if (m_options.giveUpAfter > 0 && (outcome.endsRun || m_failuresInARow >= m_options.giveUpAfter)
                && !m_stopRequested) {
                m_stopRequested = true;
                endRetryWaits();
                emit gaveUp(outcome.reason, response);
            }
        }
        if (alive && m_active)
            continueRun();
        return;
    }

    // A page came back: whatever it says, the site will not be asked about these rows again, so the next row goes
    // out before this one is read. Reading and writing then overlap the next round trip. A page that rows still to
    // come will take is read first, so that they find it.
    m_failuresInARow = 0;
    const std::vector<Waiter> rows = std::move(slot->rows);
    const QString name = slot->name;
    removeSlot(slot);
    std::optional<RowOutcome> outcome;
    if (m_rowsLeft.contains(name)) {
        outcome = readRowOutcome(m_mode, response);
        m_answers.insert(name, *outcome);
    }
    continueRun();
    if (!alive || !m_active)
        return;
    if (!outcome)
        outcome = readRowOutcome(m_mode, response);
    deliver(rows, name, *outcome);
}

bool LookupRun::deliver(const std::vector<Waiter> &rows, const QString &name, const RowOutcome &outcome)
{
    const QPointer<LookupRun> alive(this);
    QString byName;
    for (const Waiter &row : rows) {
        if (!m_model.contains(row.key))
            continue;
        if (outcome.finished) {
            if (row.askedByAnotherName && byName.isEmpty())
                byName = QStringLiteral("按主域名%1查询").arg(name);
            m_model.setLookupResult(row.key, outcome.record, kDone, row.askedByAnotherName ? byName : QString());
            if (alive && m_active && m_model.contains(row.key))
                emit rowFinished(row.key);
        } else {
            m_model.setStatus(row.key, kFailed, outcome.reason);
        }
        if (alive && m_active && m_model.contains(row.key))
            emit rowEnded(row.key);
        if (!alive || !m_active)
            return false;
    }
    return true;
}

void LookupRun::continueRun()
{
    // The next row goes out at once: the event loop has run to bring the reply, so a stop click made meanwhile
    // has been seen. The end of a run is left to the event loop, so the window never learns of it from inside
    // the HTTP client.
    if (!m_stopRequested && m_next < m_rows.size())
        pump(false);
    else
        schedule(0);
}

void LookupRun::endRetryWaits()
{
    // Taken out first and written after: a listener of the list may end the run while we write.
    struct Ended {
        std::vector<Waiter> rows;
        QString name;
        RowOutcome outcome;
    };
    std::vector<Ended> ended;
    for (auto it = m_slots.begin(); it != m_slots.end();) {
        Slot &slot = *it;
        ++it;
        if (slot.retryAtMs < 0)
            continue;
        // Those rows keep "查询中" and learn why they did not finish.
        RowOutcome outcome;
        outcome.reason = rowNote(slot.reason, slot.retriesMade);
        ended.push_back({ std::move(slot.rows), slot.name, std::move(outcome) });
        removeSlot(&slot);
    }
    for (const Ended &request : ended) {
        if (!deliver(request.rows, request.name, request.outcome))
            return;
    }
}

void LookupRun::finish()
{
    const bool leftRows = m_next < m_rows.size();
    m_active = false;
    m_pump.stop();
    m_rows = {};
    m_next = 0;
    forgetShared();
    const QPointer<LookupRun> alive(this);
    if (m_stopRequested && leftRows)
        emit stopNoticed();
    if (alive)
        emit finished();
}

void LookupRun::dropWaitsForRemovedRows()
{
    // A request waiting for its retry with none of its rows left would hold the run's end for the wait and then
    // ask for nobody.
    if (!m_active)
        return;
    for (auto it = m_slots.begin(); it != m_slots.end();) {
        Slot &slot = *it;
        ++it;
        if (slot.retryAtMs >= 0 && pruneRows(slot))
            removeSlot(&slot);
    }
    schedule(0);
}

} // namespace quernfold
