// The lookup run on a scripted client: parallel rows, retries, pacing, stopping and giving up.
#include "support/scripted_platform.h"

#include "lookup/lookup_run.h"
#include "lookup_site.h"
#include "platform/codepage.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace quernfold;
using namespace quernfold::test;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(quernfold::HttpResponse)

namespace {

HttpResponse recordPage(const QUrl &url)
{
    const QString domain = url.path().section(u'/', -1).chopped(5);
    return ScriptedHttp::reply(200, "text/html; charset=gbk", codepage::toNarrow(site::resultPageHtml(domain)));
}

HttpResponse status(int code, qint64 retryAfter = -1)
{
    HttpResponse response = ScriptedHttp::reply(code, "text/html", "busy");
    response.retryAfterSeconds = retryAfter;
    return response;
}

QString domainOf(const HttpRequest &request)
{
    return request.url.path().section(u'/', -1).chopped(5);
}

QStringList numberedDomains(int rows)
{
    QStringList domains;
    for (int i = 0; i < rows; ++i)
        domains << u"r%1.cn"_s.arg(i);
    return domains;
}

// What the settings give a run that asks by registrable domain.
RunOptions byRegistrable(RunOptions options = {})
{
    LookupSettings settings;
    settings.byRegistrable = true;
    options.nameToAsk = runOptionsFor(QueryMode::Batch, settings, {}).nameToAsk;
    return options;
}

struct RunFixture {
    explicit RunFixture(int rows)
        : RunFixture(numberedDomains(rows))
    { }
    explicit RunFixture(const QStringList &domains)
    {
        model.setDomains(domains);
        QObject::connect(&run, &LookupRun::rowStarted, [this](RowKey row) { started << model.positionOf(row); });
        QObject::connect(&run, &LookupRun::stopNoticed, [this] { events << u"stopNoticed"_s; });
        QObject::connect(&run, &LookupRun::gaveUp, [this](const QString &reason) { events << u"gaveUp "_s + reason; });
        QObject::connect(&run, &LookupRun::finished, [this] { events << u"finished"_s; });
        clock.start();
        http.answer = [this](const HttpRequest &request) -> std::optional<HttpResponse> {
            startedAtMs << clock.elapsed();
            return answer ? answer(request) : std::optional<HttpResponse>(recordPage(request.url));
        };
    }
    void start(const RunOptions &options, std::vector<int> rows = {})
    {
        if (rows.empty()) {
            for (int i = 0; i < model.count(); ++i)
                rows.push_back(i);
        }
        std::vector<RowKey> keys;
        for (const int row : rows)
            keys.push_back(model.keyAt(row));
        run.start(u"http://lookup.test.example"_s, QueryMode::Batch, std::move(keys), options);
    }
    bool waitFinished(int ms = 10000)
    {
        return QTest::qWaitFor([this] { return events.contains(u"finished"_s); }, ms);
    }
    QString status(int row) const { return model.cell(row, DomainListModel::StatusColumn); }
    QStringList requestedDomains() const
    {
        QStringList domains;
        for (const HttpRequest &request : http.requests)
            domains << domainOf(request);
        return domains;
    }
    // Answers the request held longest with the page of the domain it asked for.
    void answerOldest()
    {
        const HttpClient::RequestId id = http.pendingIds().first();
        http.complete(id, recordPage(http.requests.at(int(id) - 1).url));
    }

    DomainListModel model;
    ScriptedHttp http;
    LookupRun run { model, http };
    std::function<std::optional<HttpResponse>(const HttpRequest &)> answer;
    QList<int> started;
    QStringList events;
    QElapsedTimer clock;
    QList<qint64> startedAtMs;
};

} // namespace

class TestLookupRun : public QObject
{
    Q_OBJECT
private slots:
    void parallel_keepsUpToKInFlightInRowOrderAndWritesEachOwnRow()
    {
        RunFixture t(7);
        t.answer = [](const HttpRequest &) { return std::nullopt; }; // the test answers
        RunOptions options;
        options.parallel = 3;
        t.start(options);
        QTRY_COMPARE(t.http.pendingIds().size(), 3);
        QCOMPARE(t.started, QList<int>({ 0, 1, 2 }));
        // Answers come back out of order, the newest first; each lands in the row that asked, and the run
        // keeps exactly min(3, rows left) in flight.
        for (int answered = 0; answered < 7; ++answered) {
            QTRY_COMPARE(t.http.pendingIds().size(), qMin(3, 7 - answered));
            const HttpClient::RequestId newest = t.http.pendingIds().last();
            t.http.complete(newest, recordPage(t.http.requests.at(int(newest) - 1).url));
        }
        QVERIFY(t.waitFinished());
        QCOMPARE(t.started, QList<int>({ 0, 1, 2, 3, 4, 5, 6 }));
        QCOMPARE(t.requestedDomains(),
            QStringList({ u"r0.cn"_s, u"r1.cn"_s, u"r2.cn"_s, u"r3.cn"_s, u"r4.cn"_s, u"r5.cn"_s, u"r6.cn"_s }));
        for (int row = 0; row < 7; ++row) {
            QCOMPARE(t.status(row), u"查询完毕"_s);
            QCOMPARE(t.model.cell(row, DomainListModel::RecordNoColumn),
                site::expectedRecord(u"r%1.cn"_s.arg(row)).recordNo);
        }
        QCOMPARE(t.events, QStringList { u"finished"_s });
    }

    void stop_startsNothingNewAndLetsRowsInFlightWrite()
    {
        RunFixture t(6);
        t.answer = [](const HttpRequest &) { return std::nullopt; };
        RunOptions options;
        options.parallel = 2;
        t.start(options);
        QTRY_COMPARE(t.http.pendingIds().size(), 2);
        t.run.requestStop();
        const QList<HttpClient::RequestId> inFlight = t.http.pendingIds();
        for (const HttpClient::RequestId id : inFlight)
            t.http.complete(id, recordPage(t.http.requests.at(int(id) - 1).url));
        QVERIFY(t.waitFinished());
        QCOMPARE(t.http.requests.size(), 2);
        QCOMPARE(t.status(0), u"查询完毕"_s);
        QCOMPARE(t.status(1), u"查询完毕"_s);
        for (int row = 2; row < 6; ++row)
            QVERIFY(t.status(row).isEmpty());
        QCOMPARE(t.events, QStringList({ u"stopNoticed"_s, u"finished"_s }));
    }

    void retry_triesTransientFailuresAgain_data()
    {
        QTest::addColumn<HttpResponse>("failure");
        QTest::addColumn<bool>("retried");
        QTest::addColumn<QString>("note");
        QTest::newRow("refused") << ScriptedHttp::failure(HttpFailure::Refused) << true
                                 << u"无法连接(连接被拒绝),已重试2次"_s;
        QTest::newRow("reset") << ScriptedHttp::failure(HttpFailure::ConnectionLost) << true << u"连接中断,已重试2次"_s;
        QTest::newRow("no data") << ScriptedHttp::failure(HttpFailure::NoData) << true
                                 << u"超时(长时间未收到数据),已重试2次"_s;
        QTest::newRow("deadline") << ScriptedHttp::failure(HttpFailure::Deadline) << true
                                  << u"超时(超过单个请求时限),已重试2次"_s;
        QTest::newRow("proxy refused") << ScriptedHttp::failure(HttpFailure::Proxy) << true
                                       << u"无法连接代理,已重试2次"_s;
        QTest::newRow("408") << status(408) << true << u"HTTP 状态 408,已重试2次"_s;
        QTest::newRow("429") << status(429) << true << u"HTTP 状态 429,已重试2次"_s;
        QTest::newRow("503") << status(503) << true << u"HTTP 状态 503,已重试2次"_s;
        QTest::newRow("404 is final") << status(404) << false << u"HTTP 状态 404"_s;
        QTest::newRow("unknown host is final")
            << ScriptedHttp::failure(HttpFailure::HostNotFound) << false << u"无法连接(找不到主机)"_s;
        QTest::newRow("too large is final") << ScriptedHttp::failure(HttpFailure::TooLarge) << false << u"页面过大"_s;
        QTest::newRow("bad address is final")
            << ScriptedHttp::failure(HttpFailure::BadAddress) << false << u"网址无效或协议不受支持"_s;
        QTest::newRow("too many redirects is final")
            << ScriptedHttp::failure(HttpFailure::TooManyRedirects) << false << u"重定向次数过多"_s;
    }
    void retry_triesTransientFailuresAgain()
    {
        QFETCH(HttpResponse, failure);
        QFETCH(bool, retried);
        QFETCH(QString, note);
        RunFixture t(2);
        t.answer = [failure](const HttpRequest &request) -> std::optional<HttpResponse> {
            return domainOf(request) == u"r0.cn"_s ? failure : recordPage(request.url);
        };
        RunOptions options;
        options.retries = 2;
        options.retryBaseMs = 20;
        t.start(options);
        QVERIFY(t.waitFinished());
        // With one row at a time the retries come before the next row, as a single lookup would.
        QCOMPARE(t.requestedDomains(),
            retried ? QStringList({ u"r0.cn"_s, u"r0.cn"_s, u"r0.cn"_s, u"r1.cn"_s })
                    : QStringList({ u"r0.cn"_s, u"r1.cn"_s }));
        if (retried) {
            // 1x then 3x the base wait.
            QVERIFY2(t.startedAtMs.at(1) - t.startedAtMs.at(0) >= 20, qPrintable(QString::number(t.startedAtMs.at(1))));
            QVERIFY(t.startedAtMs.at(2) - t.startedAtMs.at(1) >= 60);
        }
        QCOMPARE(t.status(0), u"查询失败"_s);
        QCOMPARE(t.model.note(0), note);
        QCOMPARE(t.status(1), u"查询完毕"_s);
    }

    void retryDelay_backsOffAndHonoursTheSite_data()
    {
        QTest::addColumn<int>("retry");
        QTest::addColumn<qint64>("retryAfter");
        QTest::addColumn<qint64>("delayMs");
        QTest::newRow("first") << 1 << qint64(-1) << qint64(1000);
        QTest::newRow("second") << 2 << qint64(-1) << qint64(3000);
        QTest::newRow("third") << 3 << qint64(-1) << qint64(9000);
        QTest::newRow("fifth") << 5 << qint64(-1) << qint64(81000);
        QTest::newRow("site's seconds") << 1 << qint64(7) << qint64(7000);
        // Also what an unreadable Retry-After comes out as: the site asked for a pause, not for haste.
        QTest::newRow("site's zero is the back-off") << 3 << qint64(0) << qint64(9000);
        QTest::newRow("site's hour is two minutes") << 1 << qint64(3600) << qint64(120000);
        QTest::newRow("retry 40 is two minutes") << 40 << qint64(-1) << qint64(120000);
        QTest::newRow("any retry is two minutes") << std::numeric_limits<int>::max() << qint64(-1) << qint64(120000);
    }
    void retryDelay_backsOffAndHonoursTheSite()
    {
        QFETCH(int, retry);
        QFETCH(qint64, retryAfter);
        QFETCH(qint64, delayMs);
        QCOMPARE(retryDelayMs(retry, retryAfter, 1000), delayMs);
    }

    void retryAfter_pausesTheWholeRun()
    {
        RunFixture t(3);
        bool told = false;
        t.answer = [&told](const HttpRequest &request) -> std::optional<HttpResponse> {
            if (domainOf(request) == u"r0.cn"_s && !std::exchange(told, true))
                return status(429, 1);
            return recordPage(request.url);
        };
        RunOptions options;
        options.parallel = 1;
        options.retries = 1;
        t.start(options);
        QVERIFY(t.waitFinished());
        QCOMPARE(t.http.requests.size(), 4);
        // Nothing at all went to the site for the second it asked for.
        QVERIFY2(t.startedAtMs.at(1) - t.startedAtMs.at(0) >= 1000, qPrintable(QString::number(t.startedAtMs.at(1))));
        QCOMPARE(t.status(0), u"查询完毕"_s);
    }

    void interval_spacesRequestStarts()
    {
        RunFixture t(4);
        RunOptions options;
        options.parallel = 4;
        options.intervalMs = 60;
        t.start(options);
        QVERIFY(t.waitFinished());
        QCOMPARE(t.startedAtMs.size(), 4);
        for (int i = 1; i < 4; ++i)
            QVERIFY2(t.startedAtMs.at(i) - t.startedAtMs.at(i - 1) >= 60, qPrintable(QString::number(i)));
    }

    void retry_dueRetriesGoInRowOrder()
    {
        RunFixture t(2);
        QSet<QString> asked;
        t.answer = [&asked](const HttpRequest &request) -> std::optional<HttpResponse> {
            if (!asked.contains(domainOf(request))) {
                asked.insert(domainOf(request));
                return std::nullopt; // the test answers both first tries
            }
            return recordPage(request.url);
        };
        RunOptions options;
        options.parallel = 2;
        options.retries = 1;
        options.retryBaseMs = 20;
        options.intervalMs = 100; // both retries are due before the next start may go
        t.start(options);
        QTRY_COMPARE(t.http.pendingIds().size(), 2);
        for (const HttpClient::RequestId id : t.http.pendingIds())
            t.http.complete(id, status(503));
        QVERIFY(t.waitFinished());
        QCOMPARE(t.requestedDomains(), QStringList({ u"r0.cn"_s, u"r1.cn"_s, u"r0.cn"_s, u"r1.cn"_s }));
    }

    // A stop asks the site nothing more: a row waiting for its retry, or one whose retryable failure comes back
    // after the click, ends at once with its reason instead of holding the run's end for the wait.
    void stop_leavesNoRetryBehind_data()
    {
        QTest::addColumn<bool>("replyAfterStop");
        QTest::newRow("row waiting for its retry") << false;
        QTest::newRow("row failing after the stop") << true;
    }
    void stop_leavesNoRetryBehind()
    {
        QFETCH(bool, replyAfterStop);
        RunFixture t(3);
        t.answer = [replyAfterStop](const HttpRequest &) -> std::optional<HttpResponse> {
            if (replyAfterStop)
                return std::nullopt;
            return status(503);
        };
        RunOptions options;
        options.retries = 5;
        options.retryBaseMs = 60000;
        t.start(options);
        QTRY_COMPARE(t.http.requests.size(), 1);
        if (replyAfterStop) {
            t.run.requestStop();
            t.http.complete(t.http.pendingIds().first(), status(503));
        } else {
            QTest::qWait(20); // the reply is in and the row waits for its retry
            t.run.requestStop();
        }
        QVERIFY(t.waitFinished(1000));
        QCOMPARE(t.http.requests.size(), 1);
        QCOMPARE(t.model.note(0), u"HTTP 状态 503"_s);
        QCOMPARE(t.events, QStringList({ u"stopNoticed"_s, u"finished"_s }));
    }

    void giveUp_afterTenFailedRowsInARow()
    {
        RunFixture t(14);
        t.answer = [](const HttpRequest &request) -> std::optional<HttpResponse> {
            // One good row early on starts the count again.
            if (domainOf(request) == u"r1.cn"_s)
                return recordPage(request.url);
            return ScriptedHttp::failure(HttpFailure::Refused);
        };
        RunOptions options;
        options.giveUpAfter = 10;
        t.start(options);
        QVERIFY(t.waitFinished());
        QCOMPARE(t.http.requests.size(), 12);
        QCOMPARE(t.events, QStringList({ u"gaveUp 无法连接(连接被拒绝)"_s, u"stopNoticed"_s, u"finished"_s }));
        QCOMPARE(t.status(11), u"查询失败"_s);
        QVERIFY(t.status(12).isEmpty());
        QVERIFY(t.status(13).isEmpty());
    }

    // Answers that cannot get better show the site is there: ten of them in a row are no reason to give up.
    void giveUp_notForAnswersThatCannotImprove_data()
    {
        QTest::addColumn<HttpResponse>("failure");
        QTest::newRow("bad address") << ScriptedHttp::failure(HttpFailure::BadAddress);
        QTest::newRow("too many redirects") << ScriptedHttp::failure(HttpFailure::TooManyRedirects);
    }
    void giveUp_notForAnswersThatCannotImprove()
    {
        QFETCH(HttpResponse, failure);
        RunFixture t(12);
        t.answer = [failure](const HttpRequest &) { return failure; };
        RunOptions options;
        options.giveUpAfter = 10;
        options.retries = 2;
        options.retryBaseMs = 20;
        t.start(options);
        QVERIFY(t.waitFinished());
        QCOMPARE(t.http.requests.size(), 12);
        QCOMPARE(t.events, QStringList { u"finished"_s });
    }

    void listChangedUnderARequest_answerBelongsToNobody()
    {
        RunFixture t(3);
        t.answer = [](const HttpRequest &) { return std::nullopt; };
        RunOptions options;
        options.parallel = 2;
        t.start(options);
        QTRY_COMPARE(t.http.pendingIds().size(), 2);
        // Row 0 goes away while its page is fetched: row 1 moves up, and keeps its own answer.
        t.model.removeRows({ t.model.keyAt(0) });
        const QList<HttpClient::RequestId> ids = t.http.pendingIds();
        t.http.complete(ids.at(1), recordPage(t.http.requests.at(1).url));
        t.http.complete(ids.at(0), recordPage(t.http.requests.at(0).url));
        // The row still to start moved up with it and is asked for by its own domain.
        QTRY_COMPARE(t.http.pendingIds().size(), 1);
        t.answerOldest();
        QVERIFY(t.waitFinished());
        QCOMPARE(t.requestedDomains(), QStringList({ u"r0.cn"_s, u"r1.cn"_s, u"r2.cn"_s }));
        QCOMPARE(t.model.cell(0, DomainListModel::RecordNoColumn), site::expectedRecord(u"r1.cn"_s).recordNo);
        QCOMPARE(t.model.cell(1, DomainListModel::RecordNoColumn), site::expectedRecord(u"r2.cn"_s).recordNo);
    }

    void listChange_duringRun_isFollowed_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("requested");
        QTest::newRow("row still to start removed")
            << u"remove r2"_s << QStringList({ u"r0.cn"_s, u"r1.cn"_s, u"r3.cn"_s });
        // The row in flight still writes when nothing is left to start.
        QTest::newRow("last row still to start removed")
            << u"remove r3"_s << QStringList({ u"r0.cn"_s, u"r1.cn"_s, u"r2.cn"_s });
        QTest::newRow("row appended") << u"append"_s << QStringList({ u"r0.cn"_s, u"r1.cn"_s, u"r2.cn"_s, u"r3.cn"_s });
        // Another list is not the one the rows were chosen from.
        QTest::newRow("list replaced") << u"replace"_s << QStringList { u"r0.cn"_s };
        QTest::newRow("list cleared") << u"clear"_s << QStringList { u"r0.cn"_s };
    }
    void listChange_duringRun_isFollowed()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, requested);
        RunFixture t(4);
        t.answer = [](const HttpRequest &) { return std::nullopt; };
        t.start(RunOptions {});
        QTRY_COMPARE(t.http.pendingIds().size(), 1);
        if (change == u"remove r2"_s)
            t.model.removeRows({ t.model.keyAt(2) });
        else if (change == u"remove r3"_s)
            t.model.removeRows({ t.model.keyAt(3) });
        else if (change == u"append"_s)
            t.model.appendDomain(u"new.cn"_s);
        else if (change == u"replace"_s)
            t.model.setDomains({ u"x.cn"_s, u"y.cn"_s, u"z.cn"_s, u"w.cn"_s });
        else
            t.model.clear();
        const auto nextStepOrEnd = [&t] { return !t.http.pendingIds().isEmpty() || t.events.contains(u"finished"_s); };
        while (QTest::qWaitFor(nextStepOrEnd, 5000) && !t.events.contains(u"finished"_s))
            t.answerOldest();
        QCOMPARE(t.events, QStringList { u"finished"_s });
        QCOMPARE(t.requestedDomains(), requested);
        // Each row asked for got its own page; the others were not touched.
        for (int row = 0; row < t.model.count(); ++row) {
            const QString domain = t.model.cell(row, DomainListModel::DomainColumn);
            QCOMPARE(t.model.cell(row, DomainListModel::RecordNoColumn),
                requested.contains(domain) ? site::expectedRecord(domain).recordNo : QString());
        }
    }

    // A run without a window writes a row out once the run is through with it: every way a row can end says so,
    // once, and a row waiting for its retry is not through until the stop ends the wait.
    void rowEnded_oncePerRowWhenTheRunIsThroughWithIt()
    {
        RunFixture t(4);
        QList<int> ended;
        QList<int> finished;
        QObject::connect(&t.run, &LookupRun::rowEnded, [&ended, &t](RowKey row) { ended << t.model.positionOf(row); });
        QObject::connect(&t.run, &LookupRun::rowFinished, [&finished, &t](RowKey row) { finished << t.model.positionOf(row); });
        t.answer = [](const HttpRequest &request) -> std::optional<HttpResponse> {
            const QString domain = domainOf(request);
            if (domain == u"r1.cn"_s)
                return status(404);
            if (domain == u"r2.cn"_s)
                return status(503);
            if (domain == u"r3.cn"_s)
                return std::nullopt; // the test answers
            return recordPage(request.url);
        };
        RunOptions options;
        options.parallel = 3;
        options.retries = 1;
        options.retryBaseMs = 60000;
        t.start(options);
        QTRY_COMPARE(t.http.pendingIds().size(), 1);
        QTRY_COMPARE(ended, (QList<int> { 0, 1 }));
        t.run.requestStop();
        QCOMPARE(ended, (QList<int> { 0, 1, 2 }));
        t.answerOldest();
        QVERIFY(t.waitFinished());
        QCOMPARE(ended, (QList<int> { 0, 1, 2, 3 }));
        QCOMPARE(finished, (QList<int> { 0, 3 }));
        QCOMPARE(t.http.requests.size(), 4);
    }

    // Rows asked about by their registrable domain, answered in any order, with rows leaving the list and a stop on
    // the way. Against the obvious reference: no name is asked about twice, never more than `parallel` requests
    // are out, every row the run reached holds its name's record (with the note when the name is not its own),
    // and no other row is touched.
    void byName_oneRequestPerNameWhateverHappens()
    {
        const QStringList names = { u"x.cn"_s, u"y.com.cn"_s, u"z.org"_s, u"w.gov.cn"_s };
        const QStringList prefixes = { QString(), u"a."_s, u"b."_s, u"c.d."_s };
        for (quint32 seed = 1; seed <= 150; ++seed) {
            QRandomGenerator random(seed);
            QStringList domains;
            QHash<QString, QString> nameOf;
            for (int i = 1 + random.bounded(12); i > 0; --i) {
                const QString name = names.at(random.bounded(names.size()));
                domains << prefixes.at(random.bounded(prefixes.size())) + name;
                nameOf.insert(domains.last(), name);
            }
            RunFixture t(domains);
            t.answer = [](const HttpRequest &) { return std::nullopt; };
            QHash<RowKey, QString> domainByKey;
            for (int row = 0; row < t.model.count(); ++row)
                domainByKey.insert(t.model.keyAt(row), domains.at(row));
            QSet<RowKey> started;
            QHash<RowKey, int> ended;
            QObject::connect(&t.run, &LookupRun::rowStarted, [&started](RowKey row) { started.insert(row); });
            QObject::connect(&t.run, &LookupRun::rowEnded, [&ended](RowKey row) { ++ended[row]; });
            RunOptions options = byRegistrable();
            options.parallel = 1 + random.bounded(3);
            QStringList steps { u"parallel %1, rows %2"_s.arg(options.parallel).arg(domains.join(u' ')) };
            const auto context = [&] { return qPrintable(u"seed %1: %2"_s.arg(seed).arg(steps.join(u"; "_s))); };
            t.start(options);
            bool stopped = false;
            while (QTest::qWaitFor([&t] { return !t.http.pendingIds().isEmpty() || t.events.contains(u"finished"_s); })
                && !t.events.contains(u"finished"_s)) {
                QVERIFY2(t.http.pendingIds().size() <= options.parallel, context());
                const int pick = random.bounded(10);
                if (pick == 0 && t.model.count() > 0) {
                    const int row = random.bounded(t.model.count());
                    steps << u"remove %1"_s.arg(t.model.cell(row, DomainListModel::DomainColumn));
                    t.model.removeRows({ t.model.keyAt(row) });
                } else if (pick == 1 && !stopped) {
                    steps << u"stop"_s;
                    stopped = true;
                    t.run.requestStop();
                } else {
                    const QList<HttpClient::RequestId> pending = t.http.pendingIds();
                    const HttpClient::RequestId id = pending.at(random.bounded(pending.size()));
                    steps << u"answer "_s + domainOf(t.http.requests.at(int(id) - 1));
                    t.http.complete(id, recordPage(t.http.requests.at(int(id) - 1).url));
                }
            }
            QVERIFY2(t.events.contains(u"finished"_s), context());
            const QStringList asked = t.requestedDomains();
            QVERIFY2(QSet<QString>(asked.cbegin(), asked.cend()).size() == asked.size(), context());
            for (int row = 0; row < t.model.count(); ++row) {
                const RowKey key = t.model.keyAt(row);
                const QString name = nameOf.value(domainByKey.value(key));
                if (!started.contains(key)) {
                    QVERIFY2(t.status(row).isEmpty(), context());
                    continue;
                }
                QVERIFY2(asked.contains(name), context());
                QVERIFY2(t.status(row) == u"查询完毕"_s, context());
                QVERIFY2(t.model.cell(row, DomainListModel::RecordNoColumn) == site::expectedRecord(name).recordNo,
                    context());
                const QString note = domainByKey.value(key) == name ? QString() : u"按主域名%1查询"_s.arg(name);
                QVERIFY2(t.model.note(row) == note, context());
                QVERIFY2(ended.value(key) == 1, context());
            }
        }
    }

    // A shared request that fails fails every row waiting on it, each with the reason; its retry serves them all,
    // and giving up counts requests, not the rows they serve.
    void byName_failedRequestMarksEveryRowWaitingOnIt_data()
    {
        QTest::addColumn<QStringList>("domains");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QStringList>("requested");
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("a retry serves every row")
            << QStringList { u"a.x.cn"_s, u"b.x.cn"_s, u"x.cn"_s } << 1 << QStringList { u"x.cn"_s, u"x.cn"_s }
            << QStringList(3, u"无法连接(连接被拒绝),已重试1次"_s) << QStringList { u"finished"_s };
        QTest::newRow("giving up counts requests")
            << QStringList { u"a.x.cn"_s, u"b.x.cn"_s, u"c.x.cn"_s, u"a.y.cn"_s, u"y.cn"_s, u"z.cn"_s } << 0
            << QStringList { u"x.cn"_s, u"y.cn"_s } << (QStringList(5, u"无法连接(连接被拒绝)"_s) << QString())
            << QStringList { u"gaveUp 无法连接(连接被拒绝)"_s, u"stopNoticed"_s, u"finished"_s };
    }
    void byName_failedRequestMarksEveryRowWaitingOnIt()
    {
        QFETCH(QStringList, domains);
        QFETCH(int, retries);
        QFETCH(QStringList, requested);
        QFETCH(QStringList, notes);
        QFETCH(QStringList, events);
        RunFixture t(domains);
        t.answer = [](const HttpRequest &) { return ScriptedHttp::failure(HttpFailure::Refused); };
        RunOptions options = byRegistrable();
        options.retries = retries;
        options.retryBaseMs = 20;
        options.giveUpAfter = 2;
        t.start(options);
        QVERIFY(t.waitFinished());
        QCOMPARE(t.requestedDomains(), requested);
        for (int row = 0; row < domains.size(); ++row) {
            QCOMPARE(t.model.note(row), notes.at(row));
            QCOMPARE(t.status(row), notes.at(row).isEmpty() ? QString() : u"查询失败"_s);
        }
        QCOMPARE(t.events, events);
    }

    void abort_cancelsEverythingAndSaysNothing()
    {
        RunFixture t(3);
        t.answer = [](const HttpRequest &) { return std::nullopt; };
        RunOptions options;
        options.parallel = 2;
        t.start(options);
        QTRY_COMPARE(t.http.pendingIds().size(), 2);
        t.run.abort();
        QCOMPARE(t.http.cancels, 2);
        QVERIFY(t.http.pendingIds().isEmpty());
        QTest::qWait(20);
        QVERIFY(t.events.isEmpty());
        QVERIFY(!t.run.isActive());
        QCOMPARE(t.http.requests.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLookupRun)
#include "tst_lookup_run.moc"
