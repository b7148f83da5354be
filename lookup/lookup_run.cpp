#include "lookup/lookup_run.h"

#include "domainlist/domain_list_model.h"

#include <QPointer>

namespace quernfold {

namespace {

const QString kQuerying = QStringLiteral("查询中");
const QString kDone = QStringLiteral("查询完毕");
const QString kFailed = QStringLiteral("查询失败");

constexpr qint64 kLongestRetryAfterSeconds = 120;

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
    while (startNext(m_clock.elapsed())) {
        // Starting a row tells the window and writes the list; either may have ended the run.
        if (!alive || !m_active)
            return;
    }
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
    if (now < earliestStart)
        return false;

    // A due retry goes before a new row, and due retries go in row order: the slots are listed as their rows
    // started.
    Slot *due = nullptr;
    for (Slot &slot : m_slots) {
        if (slot.retryAtMs >= 0 && slot.retryAtMs <= now) {
            due = &slot;
            break;
        }
    }
    if (due) {
        if (!m_model.contains(due->key)) {
            m_slots.remove_if([due](const Slot &s) { return &s == due; });
            return true;
        }
        due->retryAtMs = -1;
        ++due->retriesMade;
        send(*due, now);
        return true;
    }

    if (m_stopRequested || m_next >= m_rows.size() || int(m_slots.size()) >= m_options.parallel)
        return false;
    const RowKey key = m_rows[m_next++];
    const DomainRow *row = m_model.find(key);
    if (!row)
        return true;
    Slot &slot = m_slots.emplace_back();
    slot.key = key;
    slot.domain = row->domain;
    const QPointer<LookupRun> alive(this);
    emit rowStarted(key);
    if (!alive || !m_active)
        return false;
    // The window may have changed the list in its answer to the signal.
    if (!m_model.setStatus(key, kQuerying)) {
        m_slots.pop_back();
        return true;
    }
    if (!alive || !m_active)
        return false;
    send(slot, now);
    return true;
}

void LookupRun::send(Slot &slot, qint64 now)
{
    m_startedAny = true;
    m_lastStartMs = now;
    Slot *target = &slot;
    slot.request = m_http.start(
        recordPageRequest(recordPageUrl(m_lookupBase, slot.domain), m_options.deadlineMs, m_options.proxy),
        [this, target](HttpResponse &&response) { onReply(target, std::move(response)); });
}

void LookupRun::onReply(Slot *slot, HttpResponse &&response)
{
    slot->request = 0;
    const RowKey key = slot->key;
    const auto removeSlot = [this, slot] { m_slots.remove_if([slot](const Slot &s) { return &s == slot; }); };
    // A row that left the list under a request: the answer then belongs to nobody.
    const auto stillThere = [this, key] { return m_model.contains(key); };
    if (!stillThere()) {
        removeSlot();
        continueRun();
        return;
    }
    const QPointer<LookupRun> alive(this);
    if (!response.ok() || response.status >= 400) {
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
            const int retriesMade = slot->retriesMade;
            removeSlot();
            m_model.setStatus(key, kFailed, rowNote(outcome.reason, retriesMade));
            if (alive && m_active && stillThere())
                emit rowEnded(key);
            if (!alive || !m_active)
                return;
            // An answer we cannot use still shows the site is there.
            m_failuresInARow = outcome.siteUnreachable ? m_failuresInARow + 1 : 0;
            if (m_options.giveUpAfter > 0 && m_failuresInARow >= m_options.giveUpAfter && !m_stopRequested) {
                m_stopRequested = true;
                endRetryWaits();
                emit gaveUp(outcome.reason);
            }
        }
        if (alive && m_active)
            continueRun();
        return;
    }

    // A page came back: whatever it says, the site will not be asked about this row again, so the next row goes
    // out before this one is read. Reading and writing then overlap the next round trip.
    removeSlot();
    m_failuresInARow = 0;
    continueRun();
    if (!alive || !m_active || !stillThere())
        return;
    RowOutcome outcome = readRowOutcome(m_mode, response);
    if (outcome.finished) {
        m_model.setLookupResult(key, std::move(outcome.record), kDone);
        if (alive && m_active && stillThere())
            emit rowFinished(key);
    } else {
        m_model.setStatus(key, kFailed, outcome.reason);
    }
    if (alive && m_active && stillThere())
        emit rowEnded(key);
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
    struct Note {
        RowKey key;
        QString text;
    };
    std::vector<Note> notes;
    for (auto it = m_slots.begin(); it != m_slots.end();) {
        if (it->retryAtMs < 0) {
            ++it;
            continue;
        }
        notes.push_back({ it->key, rowNote(it->reason, it->retriesMade) });
        it = m_slots.erase(it);
    }
    // The run gives up on those rows; their notes say why.
    const QPointer<LookupRun> alive(this);
    for (const Note &note : notes) {
        if (!alive)
            return;
        if (!m_model.setStatus(note.key, kFailed, note.text))
            continue;
        if (alive && m_active && m_model.contains(note.key))
            emit rowEnded(note.key);
    }
}

void LookupRun::finish()
{
    const bool leftRows = m_next < m_rows.size();
    m_active = false;
    m_pump.stop();
    m_rows = {};
    m_next = 0;
    const QPointer<LookupRun> alive(this);
    if (m_stopRequested && leftRows)
        emit stopNoticed();
    if (alive)
        emit finished();
}

void LookupRun::dropWaitsForRemovedRows()
{
    // A row gone while it waits for its retry would hold the run's end for the wait and then ask for nothing.
    if (!m_active)
        return;
    m_slots.remove_if([this](const Slot &slot) { return slot.retryAtMs >= 0 && !m_model.contains(slot.key); });
    schedule(0);
}

} // namespace quernfold
