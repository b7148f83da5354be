#include "domainlist/domain_list_model.h"
#include "lookup/lookup_run.h"
#include "lookup/query_row.h"
#include "lookup_site.h"
#include "platform/codepage.h"
#include "app/config.h"
#include "platform/curl_http.h"
#include "platform/proxy.h"
#include "support/lookup_site_process.h"

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>

using namespace quernfold;
using namespace Qt::StringLiterals;
using site::LookupSite;

Q_DECLARE_METATYPE(quernfold::QueryMode)
Q_DECLARE_METATYPE(quernfold::HttpFailure)

namespace {

const QStringList kOldCells = { u"旧备案号"_s, u"旧备案人"_s, u"旧类型"_s, u"旧网站"_s };

// The record cells a lookup that did not finish leaves as they were, under the status it gives up with.
QStringList failed()
{
    return kOldCells + QStringList { u"查询失败"_s };
}
QStringList found(const FilingRecord &r)
{
    return { r.recordNo, r.holder, r.recordType, r.siteName, u"查询完毕"_s };
}
QStringList unknownWith(const QString &recordNo)
{
    return { recordNo, u"未知"_s, u"未知"_s, u"未知"_s, u"查询完毕"_s };
}

QStringList recordCells(const DomainListModel &model, int row)
{
    return { model.cell(row, DomainListModel::RecordNoColumn), model.cell(row, DomainListModel::HolderColumn),
        model.cell(row, DomainListModel::RecordTypeColumn), model.cell(row, DomainListModel::SiteNameColumn),
        model.cell(row, DomainListModel::StatusColumn) };
}

// A row that already shows an earlier result, so "unchanged" is visible.
int addQueriedRow(DomainListModel &model, const QString &domain)
{
    const RowKey row = model.appendDomain(domain);
    model.setCell(row, DomainListModel::RecordNoColumn, kOldCells.at(0));
    model.setCell(row, DomainListModel::HolderColumn, kOldCells.at(1));
    model.setCell(row, DomainListModel::RecordTypeColumn, kOldCells.at(2));
    model.setCell(row, DomainListModel::SiteNameColumn, kOldCells.at(3));
    model.setCell(row, DomainListModel::StatusColumn, u"查询完毕"_s);
    return model.positionOf(row);
}

quint16 unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort(); // closed again when probe goes away
}

// Starts the requests at once and waits, with the event loop running (so the in-process site can serve), until
// every one has its answer.
std::vector<HttpResponse> fetchAll(HttpClient &http, const std::vector<HttpRequest> &requests)
{
    std::vector<std::optional<HttpResponse>> answers(requests.size());
    for (size_t i = 0; i < requests.size(); ++i)
        http.start(requests[i], [&answers, i](HttpResponse &&response) { answers[i] = std::move(response); });
    const auto allAnswered = [&answers] {
        return std::all_of(answers.begin(), answers.end(), [](const auto &answer) { return answer.has_value(); });
    };
    if (!QTest::qWaitFor(allAnswered, 60000))
        qWarning("not every request was answered within 60 s");
    std::vector<HttpResponse> responses;
    for (auto &answer : answers) {
        HttpResponse lost;
        lost.failure = HttpFailure::Other;
        lost.error = u"no answer within 60 s"_s;
        responses.push_back(answer ? std::move(*answer) : lost);
    }
    return responses;
}

HttpResponse fetch(HttpClient &http, const HttpRequest &request)
{
    return fetchAll(http, { request }).front();
}

HttpRequest get(const QUrl &url)
{
    HttpRequest request;
    request.url = url;
    return request;
}

// Sets an environment variable for the life of the guard.
class EnvironmentGuard
{
public:
    EnvironmentGuard(const char *name, const QByteArray &value)
        : m_name(name)
        , m_saved(qgetenv(name))
        , m_wasSet(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_saved;
    bool m_wasSet;
};

// A name /etc/hosts gives 127.0.0.1, so that libcurl has to resolve it (its threaded resolver) and yet reaches
// nothing but this machine. "localhost" will not do: libcurl answers that one itself.
QString resolvedLoopbackName()
{
    QFile hosts(u"/etc/hosts"_s);
    if (!hosts.open(QIODevice::ReadOnly))
        return {};
    while (!hosts.atEnd()) {
        const QByteArray line = hosts.readLine().split('#').first().simplified();
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2 || fields.first() != "127.0.0.1")
            continue;
        for (qsizetype i = 1; i < fields.size(); ++i) {
            const QString name = QString::fromLatin1(fields.at(i)).toLower();
            if (name != u"localhost"_s && !name.endsWith(u".localhost"_s))
                return name;
        }
    }
    return {};
}

const QList<QPair<QueryMode, const char *>> kModes
    = { { QueryMode::Batch, "batch" }, { QueryMode::Selected, "selected" } };

} // namespace

class TestLookup : public QObject
{
    Q_OBJECT
    std::unique_ptr<LookupSite> m_site;

    // One row looked up by a run of its own, as the selected-row query does it.
    QStringList query(
        const QString &domain, QueryMode mode, HttpClient &http, const QString &base = {}, QString *note = nullptr)
    {
        DomainListModel model;
        const int row = addQueriedRow(model, domain);
        LookupRun run(model, http);
        QSignalSpy finished(&run, &LookupRun::finished);
        run.start(base.isEmpty() ? m_site->baseUrl() : base, mode, { model.keyAt(row) }, RunOptions {});
        if (!finished.wait(60000))
            return { u"<run did not finish>"_s };
        if (note)
            *note = model.note(row);
        return recordCells(model, row);
    }

private slots:
    void init()
    {
        m_site = std::make_unique<LookupSite>();
        QVERIFY(m_site->listen());
    }

    void queryRow_writesOutcome_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QueryMode>("mode");
        QTest::addColumn<QStringList>("expected");

        struct Case {
            const char *name;
            QString domain;
            QStringList batch;
            QStringList selected;
        };
        const auto rec = [](const QString &domain) { return site::expectedRecord(domain); };
        const QStringList noRecord = unknownWith(u"无记录"_s);
        const QStringList deleted = unknownWith(u"备案已被删除"_s);

        const QString few = u"fewcells.example.cn"_s;
        const QString wrapped = u"wrappedholder.example.cn"_s;
        const QString bare = u"bareholder.example.cn"_s;
        const QString spaced = u"spaced.example.cn"_s;
        const QString unwrapped = u"unwrapped.example.cn"_s;
        const QList<Case> cases = {
            { "gbk record page", u"example.cn"_s, found(rec(u"example.cn"_s)), found(rec(u"example.cn"_s)) },
            { "utf-8 page", u"utf8.example.cn"_s, found(rec(u"utf8.example.cn"_s)), found(rec(u"utf8.example.cn"_s)) },
            { "gbk page, charset only in meta", u"meta.example.cn"_s, found(rec(u"meta.example.cn"_s)),
                found(rec(u"meta.example.cn"_s)) },
            { "no match", u"nomatch.example.cn"_s, noRecord, noRecord },
            // A deleted filing reads the same in both modes, so an exported batch never shows it as current.
            { "deleted record", u"deleted.example.cn"_s, deleted, deleted },
            { "empty body", u"empty.example.cn"_s, failed(), failed() },
            // An error status is a failed fetch, never "no filing".
            { "404 page", u"e404.example.cn"_s, failed(), failed() },
            { "500 page", u"e500.example.cn"_s, failed(), failed() },
            { "page without table marker", u"nomarker.example.cn"_s, failed(), noRecord },
            { "fewer than five cells", few,
                { QString(), rec(few).holder, rec(few).recordType, QString(), u"查询完毕"_s }, noRecord },
            { "several rows", u"rows.example.cn"_s, found(rec(u"rows.example.cn"_s)),
                found(rec(u"rows.example.cn"_s)) },
            { "two table markers", u"twomarkers.example.cn"_s, found(rec(u"twomarkers.example.cn"_s)),
                found(rec(u"twomarkers.example.cn"_s)) },
            { "holder wrapped in a tag", wrapped,
                { rec(wrapped).recordNo, QString(), rec(wrapped).recordType, rec(wrapped).siteName, u"查询完毕"_s },
                { rec(wrapped).recordNo, QString(), rec(wrapped).recordType, rec(wrapped).siteName, u"查询完毕"_s } },
            { "holder cell without <", bare,
                { rec(bare).recordNo, QString(), rec(bare).recordType, rec(bare).siteName, u"查询完毕"_s },
                { rec(bare).recordNo, QString(), rec(bare).recordType, rec(bare).siteName, u"查询完毕"_s } },
            { "blanks around the record number and the site name", spaced, found(rec(spaced)), found(rec(spaced)) },
            { "record number not wrapped", unwrapped,
                { QString(), rec(unwrapped).holder, rec(unwrapped).recordType, rec(unwrapped).siteName, u"查询完毕"_s },
                noRecord },
            { "slow answer", u"slow.example.cn"_s, found(rec(u"slow.example.cn"_s)), found(rec(u"slow.example.cn"_s)) },
        };
        for (const Case &c : cases) {
            QTest::addRow("%s, batch", c.name) << c.domain << QueryMode::Batch << c.batch;
            QTest::addRow("%s, selected", c.name) << c.domain << QueryMode::Selected << c.selected;
        }
    }
    void queryRow_writesOutcome()
    {
        QFETCH(QString, domain);
        QFETCH(QueryMode, mode);
        QFETCH(QStringList, expected);
        m_site->setSlowDelayMs(50);
        CurlHttpClient http;
        QCOMPARE(query(domain, mode, http), expected);
    }

    void queryRow_customPage_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QueryMode>("mode");
        QTest::addColumn<QStringList>("expected");

        const QString domain = u"plain.example.cn"_s;
        const QString table = site::resultPageHtml(domain);
        const QString deletedTable = site::resultPageHtml(domain, site::Behaviour::Deleted);
        const QStringList noRecord = unknownWith(u"无记录"_s);
        for (const auto &[mode, modeName] : kModes) {
            QTest::addRow("no-match phrase beside a full table, %s", modeName)
                << codepage::toNarrow(table + u"<p>没有符合条件的记录</p>"_s) << mode << noRecord;
            QTest::addRow("no-match phrase beats the deleted style, %s", modeName)
                << codepage::toNarrow(deletedTable + u"没有符合"_s) << mode << noRecord;
        }
        // The deleted style is matched exactly: another spelling is an ordinary record page.
        QString otherSpelling = deletedTable;
        otherSpelling.replace(u"color:#CCCCCC;"_s, u"color:#cccccc;"_s);
        QTest::newRow("lower-case deleted style, selected")
            << codepage::toNarrow(otherSpelling) << QueryMode::Selected << found(site::expectedRecord(domain));
        QTest::newRow("a lone blank is a page, batch") << QByteArray(" ") << QueryMode::Batch << failed();
        QTest::newRow("a lone blank is a page, selected") << QByteArray(" ") << QueryMode::Selected << noRecord;
    }
    void queryRow_customPage()
    {
        QFETCH(QByteArray, body);
        QFETCH(QueryMode, mode);
        QFETCH(QStringList, expected);
        const QString domain = u"plain.example.cn"_s;
        m_site->setReply(domain, body);
        CurlHttpClient http;
        QCOMPARE(query(domain, mode, http), expected);
    }

    void queryRow_writesOneChangePerFinishedRow()
    {
        CurlHttpClient http;
        DomainListModel model;
        const RowKey row = model.appendDomain(u"example.cn"_s);
        QSignalSpy changes(&model, &DomainListModel::dataChanged);
        LookupRun run(model, http);
        QSignalSpy finished(&run, &LookupRun::finished);
        run.start(m_site->baseUrl(), QueryMode::Batch, { row }, RunOptions {});
        QVERIFY(finished.wait(10000));
        // "查询中" when the fetch starts, then the whole result at once, status included.
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.at(0).at(0).toModelIndex(), model.index(model.positionOf(row), DomainListModel::StatusColumn));
        QCOMPARE(changes.at(1).at(0).toModelIndex(), model.index(model.positionOf(row), DomainListModel::RecordNoColumn));
        QCOMPARE(
            changes.at(1).at(1).toModelIndex(), model.index(model.positionOf(row), DomainListModel::LookedUpAtColumn));
    }

    // Why a row did not finish is kept with the row: the batch gives up on it, the note says why.
    void queryRow_failedFetch_marksFailedWithReason_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("base"); // empty: the local site
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("reason");

        const QString refusedBase = u"http://127.0.0.1:"_s + QString::number(unusedPort());
        QTest::newRow("refused") << u"example.cn"_s << refusedBase << 30000 << u"无法连接(连接被拒绝)"_s;
        QTest::newRow("name not resolved")
            << u"example.cn"_s << u"http://lookup.invalid"_s << 30000 << u"无法连接(找不到主机)"_s;
        QTest::newRow("reset mid-body") << u"reset.example.cn"_s << QString() << 30000 << u"连接中断"_s;
        QTest::newRow("nothing after the headers")
            << u"hang.example.cn"_s << QString() << 300 << u"超时(长时间未收到数据)"_s;
        QTest::newRow("over the 16 MiB limit") << u"huge.example.cn"_s << QString() << 30000 << u"页面过大"_s;
        QTest::newRow("error status") << u"e500.example.cn"_s << QString() << 30000 << u"HTTP 状态 500"_s;
        QTest::newRow("empty page") << u"empty.example.cn"_s << QString() << 30000 << u"空页面"_s;
        QTest::newRow("not a record page") << u"nomarker.example.cn"_s << QString() << 30000 << u"不是备案页面"_s;
    }
    void queryRow_failedFetch_marksFailedWithReason()
    {
        QFETCH(QString, domain);
        QFETCH(QString, base);
        QFETCH(int, timeoutMs);
        QFETCH(QString, reason);
        CurlHttpClient http(timeoutMs);
        QString note;
        QCOMPARE(query(domain, QueryMode::Batch, http, base, &note), failed());
        QCOMPARE(note, reason);
        // A later lookup that finishes takes the mark away.
        DomainListModel model;
        const int row = model.positionOf(model.appendDomain(domain));
        model.setStatus(model.keyAt(row), u"查询失败"_s, note);
        model.setLookupResult(model.keyAt(row), { u"1"_s, u"2"_s, u"3"_s, u"4"_s }, u"查询完毕"_s);
        QVERIFY(model.note(row).isEmpty());
        QVERIFY(!model.data(model.index(row, DomainListModel::StatusColumn), Qt::ToolTipRole).isValid());
    }

    void get_sendsOneGetWithIfModifiedSince()
    {
        CurlHttpClient http;
        const HttpResponse response
            = fetch(http, recordPageRequest(recordPageUrl(m_site->baseUrl(), u"example.cn"_s), 0, {}));
        QVERIFY2(response.ok(), qPrintable(response.error));
        QCOMPARE(response.contentType, QByteArray("text/html; charset=gbk"));
        const QList<site::RecordedRequest> requests = m_site->requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).method, QByteArray("GET"));
        QCOMPARE(requests.at(0).target, QByteArray("/s-0/example.cn.html"));
        QCOMPARE(site::headerValues(requests.at(0), "If-Modified-Since"), QList<QByteArray> { "0" });
        QCOMPARE(site::headerValues(requests.at(0), "Host"),
            QList<QByteArray> { "127.0.0.1:" + QByteArray::number(m_site->port()) });
        QVERIFY(requests.at(0).body.isEmpty());
    }

    void recordPageUrl_domainIsOneSegment_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("ordinary") << u"example.cn"_s << QByteArray("/s-0/example.cn.html");
        QTest::newRow("case kept") << u"Example.COM"_s << QByteArray("/s-0/Example.COM.html");
        QTest::newRow("unreserved kept") << u"a_b-c~d.cn"_s << QByteArray("/s-0/a_b-c~d.cn.html");
        QTest::newRow("dot segments") << u"a/../b"_s << QByteArray("/s-0/a%2F..%2Fb.html");
        QTest::newRow("query and fragment") << u"x?y#z"_s << QByteArray("/s-0/x%3Fy%23z.html");
        QTest::newRow("chinese") << u"中文.cn"_s << QByteArray("/s-0/%E4%B8%AD%E6%96%87.cn.html");
        QTest::newRow("user info") << u"@evil.example"_s << QByteArray("/s-0/%40evil.example.html");
        QTest::newRow("host and port") << u"evil.example:80/x"_s << QByteArray("/s-0/evil.example%3A80%2Fx.html");
        QTest::newRow("blanks not trimmed") << u" padded "_s << QByteArray("/s-0/%20padded%20.html");
        QTest::newRow("percent not decoded twice") << u"100%2F.cn"_s << QByteArray("/s-0/100%252F.cn.html");
        QTest::newRow("backslash") << u"a\\b"_s << QByteArray("/s-0/a%5Cb.html");
        QTest::newRow("empty domain") << QString() << QByteArray("/s-0/.html");
        QTest::newRow("dot dot") << u".."_s << QByteArray("/s-0/...html");
    }
    void recordPageUrl_domainIsOneSegment()
    {
        QFETCH(QString, domain);
        QFETCH(QByteArray, target);
        const QUrl url = recordPageUrl(m_site->baseUrl(), domain);
        QCOMPARE(url.host(), u"127.0.0.1"_s);
        QCOMPARE(url.port(), int(m_site->port()));
        QVERIFY(!url.hasQuery());
        QVERIFY(!url.hasFragment());

        CurlHttpClient http;
        // The site decodes the segment back and serves that domain's record, so arriving intact is visible.
        QCOMPARE(query(domain, QueryMode::Batch, http), found(site::expectedRecord(domain)));
        QCOMPARE(m_site->requests().size(), 1);
        QCOMPARE(m_site->requests().at(0).target, target);
    }

    void config_fromEnvironment_trimsTrailingSlashes_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("base");
        QTest::newRow("none") << u"http://127.0.0.1:8080"_s << u"http://127.0.0.1:8080"_s;
        QTest::newRow("one") << u"http://127.0.0.1:8080/"_s << u"http://127.0.0.1:8080"_s;
        QTest::newRow("several, after a path")
            << u"http://127.0.0.1:8080/mirror//"_s << u"http://127.0.0.1:8080/mirror"_s;
    }
    void config_fromEnvironment_trimsTrailingSlashes()
    {
        QFETCH(QString, configured);
        QFETCH(QString, base);
        const QByteArrayList names { "QUERNFOLD_LOOKUP_BASE", "QUERNFOLD_VERSION_BASE" };
        QByteArrayList saved;
        for (const QByteArray &name : names) {
            saved << qgetenv(name.constData());
            qputenv(name.constData(), configured.toUtf8());
        }
        const Config config = Config::fromEnvironment();
        for (int i = 0; i < names.size(); ++i) {
            if (saved.at(i).isNull())
                qunsetenv(names.at(i).constData());
            else
                qputenv(names.at(i).constData(), saved.at(i));
        }
        QCOMPARE(config.settings.effective.lookupBase, base);
        QCOMPARE(config.versionBase, base);
        // The address of a page has one slash before its folder.
        QCOMPARE(recordPageUrl(config.settings.effective.lookupBase, u"a.cn"_s).toString(), base + u"/s-0/a.cn.html"_s);
    }

    void run_reusesOneConnection()
    {
        CurlHttpClient http;
        DomainListModel model;
        const QStringList domains { u"a.example.cn"_s, u"b.example.cn"_s, u"c.example.cn"_s };
        model.setDomains(domains);
        LookupRun run(model, http);
        QSignalSpy finished(&run, &LookupRun::finished);
        run.start(m_site->baseUrl(), QueryMode::Batch, { model.keyAt(0), model.keyAt(1), model.keyAt(2) }, RunOptions {});
        QVERIFY(finished.wait(10000));
        for (int row = 0; row < 3; ++row)
            QCOMPARE(recordCells(model, row), found(site::expectedRecord(domains.at(row))));
        QCOMPARE(m_site->requests().size(), 3);
        QCOMPARE(m_site->connectionCount(), 1);
    }

    void get_errorStatus_returnsBody_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        const auto page = [](const QString &domain, site::Behaviour behaviour) {
            return codepage::toNarrow(site::resultPageHtml(domain, behaviour));
        };
        QTest::newRow("404") << u"e404.example.cn"_s << 404 << page(u"e404.example.cn"_s, site::Behaviour::NotFound);
        QTest::newRow("500") << u"e500.example.cn"_s << 500 << page(u"e500.example.cn"_s, site::Behaviour::ServerError);
        QTest::newRow("empty 200") << u"empty.example.cn"_s << 200 << QByteArray();
    }
    void get_errorStatus_returnsBody()
    {
        QFETCH(QString, domain);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        CurlHttpClient http;
        const HttpResponse response = fetch(http, get(recordPageUrl(m_site->baseUrl(), domain)));
        QVERIFY2(response.ok(), qPrintable(response.error));
        QCOMPARE(response.status, status);
        QCOMPARE(response.body, body);
    }

    void get_limits_data()
    {
        QTest::addColumn<qint64>("limitOffset");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<QString>("domain"); // empty: a 300 kB page of our own
        QTest::addColumn<HttpFailure>("failure");
        QTest::newRow("one byte under the body") << qint64(-1) << 0 << QString() << HttpFailure::TooLarge;
        QTest::newRow("exactly the body") << qint64(0) << 0 << QString() << HttpFailure::None;
        QTest::newRow("one byte over the body") << qint64(1) << 0 << QString() << HttpFailure::None;
        // Data keeps coming, so neither the no-data timeout nor a generous limit ends it: only the deadline.
        QTest::newRow("trickle cut at the deadline")
            << qint64(1) << 300 << u"trickle.example.cn"_s << HttpFailure::Deadline;
    }
    void get_limits()
    {
        QFETCH(qint64, limitOffset);
        QFETCH(int, deadlineMs);
        QFETCH(QString, domain);
        QFETCH(HttpFailure, failure);
        QByteArray body;
        for (int i = 0; body.size() < 300000; ++i)
            body += "<p>" + QByteArray::number(i) + "</p>\n";
        m_site->setReply(u"limit.example.cn"_s, body);
        CurlHttpClient http(30000);
        HttpRequest request = get(recordPageUrl(m_site->baseUrl(), domain.isEmpty() ? u"limit.example.cn"_s : domain));
        request.bodyLimit = domain.isEmpty() ? body.size() + limitOffset : qint64(1) << 40;
        request.deadlineMs = deadlineMs;
        const HttpResponse response = fetch(http, request);
        QCOMPARE(response.failure, failure);
        QCOMPARE(response.body, failure == HttpFailure::None ? body : QByteArray());
    }

    void get_retryAfter_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("none") << QByteArray() << qint64(-1);
        QTest::newRow("seconds") << QByteArray("Retry-After: 7\r\n") << qint64(7);
        QTest::newRow("a date long past") << QByteArray("Retry-After: Wed, 21 Oct 2015 07:28:00 GMT\r\n") << qint64(0);
        // Still an ask to wait: the run then waits its own back-off (retryDelayMs).
        QTest::newRow("unreadable") << QByteArray("Retry-After: soon\r\n") << qint64(0);
    }
    void get_retryAfter()
    {
        QFETCH(QByteArray, header);
        QFETCH(qint64, seconds);
        m_site->setReply(u"busy.example.cn"_s, "busy", 429, "text/plain", header);
        CurlHttpClient http;
        const HttpResponse response = fetch(http, get(recordPageUrl(m_site->baseUrl(), u"busy.example.cn"_s)));
        QVERIFY(response.ok());
        QCOMPARE(response.status, 429);
        QCOMPARE(response.retryAfterSeconds, seconds);
    }

    void cancel_endsHangingRequestsWithoutCallback_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::newRow("headers then nothing") << u"hang.example.cn"_s;
        QTest::newRow("endless trickle") << u"trickle.example.cn"_s;
    }
    void cancel_endsHangingRequestsWithoutCallback()
    {
        QFETCH(QString, domain);
        // Generous timeout and limit: only the abort can end these.
        CurlHttpClient http(120000);
        HttpRequest request = get(recordPageUrl(m_site->baseUrl(), domain));
        request.bodyLimit = qint64(1) << 40;
        int called = 0;
        http.start(request, [&called](HttpResponse &&) { ++called; });
        http.start(request, [&called](HttpResponse &&) { ++called; });
        QTRY_COMPARE(m_site->requests().size(), 2);
        QCOMPARE(http.outstanding(), 2);
        http.abortAll();
        QCOMPARE(http.outstanding(), 0);
        // The connections are gone too: the site sees them close.
        QTRY_COMPARE(m_site->findChildren<QTcpSocket *>().size(), 0);
        QCOMPARE(called, 0);
    }

    void post_sendsBodyAndReturnsReply_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("200 json") << 200
                                  << QByteArray(R"({"result":"1","info":{"version":"2.1","sid":"15","must":"0"}})");
        QTest::newRow("500 body") << 500 << QByteArray("x");
    }
    void post_sendsBodyAndReturnsReply()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        m_site->setVersionReply(reply, status);
        CurlHttpClient http;
        HttpRequest request;
        request.method = "POST";
        request.url = QUrl(m_site->baseUrl() + u"/index.php/Index/soft_version"_s);
        request.headers = { { "CONTENT-TYPE", "application/x-www-form-urlencoded" } };
        request.body = "sn=ym";
        const HttpResponse response = fetch(http, request);
        QVERIFY2(response.ok(), qPrintable(response.error));
        QCOMPARE(response.status, status);
        QCOMPARE(response.body, reply);
        QCOMPARE(m_site->requests().size(), 1);
        const site::RecordedRequest &sent = m_site->requests().at(0);
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.target, QByteArray("/index.php/Index/soft_version"));
        QCOMPARE(sent.body, QByteArray("sn=ym"));
        QCOMPARE(site::headerValues(sent, "Content-Type"), QList<QByteArray> { "application/x-www-form-urlencoded" });
    }

    // The local site also answers as a proxy would be asked: the absolute address on the request line.
    void get_throughHttpProxy_sendsAbsoluteAddress()
    {
        CurlHttpClient http;
        HttpRequest request = get(recordPageUrl(u"http://lookup.test.example"_s, u"example.cn"_s));
        request.proxy = proxyFor(m_site->baseUrl(), request.url, {});
        const HttpResponse response = fetch(http, request);
        QVERIFY2(response.ok(), qPrintable(response.error));
        QVERIFY(codepage::fromNarrow(response.body).contains(site::expectedRecord(u"example.cn"_s).holder));
        QCOMPARE(m_site->requests().size(), 1);
        QCOMPARE(m_site->requests().at(0).target, QByteArray("http://lookup.test.example/s-0/example.cn.html"));

        // A proxy that refuses connections is a proxy that cannot be reached, with the system's reason.
        request.proxy = "http://127.0.0.1:" + QByteArray::number(unusedPort());
        const HttpResponse refused = fetch(http, request);
        QCOMPARE(refused.failure, HttpFailure::ProxyUnreachable);
        QCOMPARE(refused.systemError, ECONNREFUSED);
    }

    // The proxy a request names was chosen with no_proxy already applied; the environment's no_proxy must not
    // send the lookup direct after all.
    void get_throughChosenProxy_ignoresEnvironmentNoProxy_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("no_proxy=*") << QByteArray("no_proxy") << QByteArray("*");
        QTest::newRow("NO_PROXY naming the host") << QByteArray("NO_PROXY") << QByteArray("127.0.0.1");
    }
    void get_throughChosenProxy_ignoresEnvironmentNoProxy()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        const EnvironmentGuard noProxy(variable.constData(), value);
        // Nothing listens at the lookup address itself: only the way through the proxy can answer.
        const QString lookupBase = u"http://127.0.0.1:"_s + QString::number(unusedPort());
        HttpRequest request = get(recordPageUrl(lookupBase, u"example.cn"_s));
        request.proxy = m_site->baseUrl().toUtf8();
        CurlHttpClient http;
        const HttpResponse response = fetch(http, request);
        QVERIFY2(response.ok(), qPrintable(response.error));
        QCOMPARE(response.status, 200);
        QCOMPARE(m_site->requests().size(), 1);
        QCOMPARE(m_site->requests().at(0).target, request.url.toEncoded());
    }

    void get_unfollowableAnswer_failsAsSuch_data()
    {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<HttpFailure>("failure");
        QTest::newRow("redirect to another scheme") << QByteArray("ftp://127.0.0.1/x") << HttpFailure::BadAddress;
        QTest::newRow("redirect to a malformed address")
            << QByteArray("http://127.0.0.1:99999/x") << HttpFailure::BadAddress;
        QTest::newRow("redirect to itself") << QByteArray("/s-0/loop.example.cn.html") << HttpFailure::TooManyRedirects;
    }
    void get_unfollowableAnswer_failsAsSuch()
    {
        QFETCH(QByteArray, location);
        QFETCH(HttpFailure, failure);
        m_site->setReply(u"loop.example.cn"_s, {}, 302, "text/html", "Location: " + location + "\r\n");
        CurlHttpClient http;
        const HttpResponse response = fetch(http, get(recordPageUrl(m_site->baseUrl(), u"loop.example.cn"_s)));
        QCOMPARE(response.failure, failure);
    }

    // libcurl's threaded resolver has it watch a wake-up socket that it later closes without the close callback.
    // A notifier left on that number warns of an invalid socket, or watches whatever gets the number next.
    void get_byResolvedName_leavesNoNotifierOnClosedSockets()
    {
        const QString name = resolvedLoopbackName();
        if (name.isEmpty())
            QSKIP("/etc/hosts names no host other than localhost for 127.0.0.1");
        if (testing::LookupSiteProcess::executablePath().isEmpty())
            QSKIP("QUERNFOLD_BIN_DIR is not set; run through CTest");
        // The site in a process of its own: in ours its sockets would take over the numbers left behind.
        testing::LookupSiteProcess siteProcess;
        QVERIFY2(siteProcess.start(), qPrintable(siteProcess.errorString()));
        static QStringList warnings;
        warnings.clear();
        struct HandlerGuard {
            QtMessageHandler previous
                = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
                      if (text.contains(u"QSocketNotifier"_s))
                          warnings << text;
                  });
            ~HandlerGuard() { qInstallMessageHandler(previous); }
        } handlerGuard;
        const QString base = u"http://"_s + name + u':' + QString::number(QUrl(siteProcess.baseUrl()).port());
        // Each client resolves afresh (its own cache), with sixteen transfers resolving at once.
        for (int round = 0; round < 5; ++round) {
            CurlHttpClient http;
            std::vector<HttpRequest> requests;
            for (int i = 0; i < 16; ++i)
                requests.push_back(get(recordPageUrl(base, u"r%1-%2.cn"_s.arg(round).arg(i))));
            for (const HttpResponse &response : fetchAll(http, requests))
                QVERIFY2(response.ok() && response.status == 200, qPrintable(response.error));
            // Idle now, with its connections kept: turns of the event loop find nothing to do.
            int busyTurns = 0;
            for (int turn = 0; turn < 50; ++turn)
                busyTurns += QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents) ? 1 : 0;
            QVERIFY2(busyTurns < 5, qPrintable(QString::number(busyTurns)));
            // Nothing is watched that is no longer there.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            for (const QSocketNotifier *notifier : http.findChildren<QSocketNotifier *>())
                QVERIFY2(
                    ::fcntl(int(notifier->socket()), F_GETFD) != -1, qPrintable(QString::number(notifier->socket())));
        }
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
    }

    void proxyFor_followsChoiceThenEnvironment_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QStringList>("environment"); // NAME=value
        QTest::addColumn<QByteArray>("proxy");
        const QStringList env { u"http_proxy=http://p1:8080"_s, u"HTTPS_PROXY=p2:3128"_s,
            u"no_proxy=localhost, .internal.cn,skip.cn:80"_s };
        QTest::newRow("http from lower case") << QString() << u"http://a.cn/x"_s << env << QByteArray("http://p1:8080");
        QTest::newRow("https from upper case, scheme added")
            << QString() << u"https://a.cn/x"_s << env << QByteArray("http://p2:3128");
        QTest::newRow("no_proxy domain and below") << QString() << u"http://x.internal.cn/"_s << env << QByteArray();
        QTest::newRow("no_proxy entry with port") << QString() << u"http://skip.cn/"_s << env << QByteArray();
        QTest::newRow("no_proxy is no prefix match")
            << QString() << u"http://notinternal.cn/"_s << env << QByteArray("http://p1:8080");
        QTest::newRow("lower case wins") << QString() << u"http://a.cn/"_s
                                         << QStringList { u"http_proxy=http://low:1"_s, u"HTTP_PROXY=http://up:2"_s }
                                         << QByteArray("http://low:1");
        QTest::newRow("all_proxy as fallback")
            << QString() << u"http://a.cn/"_s << QStringList { u"ALL_PROXY=socks5://s:1080"_s }
            << QByteArray("socks5://s:1080");
        QTest::newRow("none beats the environment") << u"none"_s << u"http://a.cn/"_s << env << QByteArray();
        QTest::newRow("own choice beats it") << u"socks5://127.0.0.1:1080"_s << u"http://x.internal.cn/"_s << env
                                             << QByteArray("socks5://127.0.0.1:1080");
        QTest::newRow("nothing set") << QString() << u"http://a.cn/"_s << QStringList() << QByteArray();
    }
    void proxyFor_followsChoiceThenEnvironment()
    {
        QFETCH(QString, choice);
        QFETCH(QString, url);
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, proxy);
        QProcessEnvironment env;
        for (const QString &entry : std::as_const(environment))
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        QCOMPARE(proxyFor(choice, QUrl(url), ProxyEnvironment::from(env)), proxy);
    }

    void siteExecutable_servesRecordPages()
    {
        if (testing::LookupSiteProcess::executablePath().isEmpty())
            QSKIP("QUERNFOLD_BIN_DIR is not set; run through CTest");
        testing::LookupSiteProcess process;
        QVERIFY2(process.start(), qPrintable(process.errorString()));
        QVERIFY(process.baseUrl().startsWith(u"http://127.0.0.1:"_s));
        CurlHttpClient http;
        QCOMPARE(query(u"example.cn"_s, QueryMode::Batch, http, process.baseUrl()),
            found(site::expectedRecord(u"example.cn"_s)));
    }
};

QTEST_GUILESS_MAIN(TestLookup)
#include "tst_lookup.moc"
