#include "domainlist/domain_list_model.h"
#include "lookup/query_row.h"
#include "lookup_site.h"
#include "platform/codepage.h"
#include "platform/config.h"
#include "platform/network_http.h"
#include "support/lookup_site_process.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace quernfold;
using namespace Qt::StringLiterals;
using site::LookupSite;
using site::SiteRecord;

Q_DECLARE_METATYPE(quernfold::QueryMode)

namespace {

const QStringList kOldCells = { u"旧备案号"_s, u"旧备案人"_s, u"旧类型"_s, u"旧网站"_s };

QStringList unchanged()
{
    return kOldCells + QStringList { u"查询中"_s };
}
QStringList found(const SiteRecord &r)
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
    const int row = model.appendDomain(domain);
    model.setCell(row, DomainListModel::RecordNoColumn, kOldCells.at(0));
    model.setCell(row, DomainListModel::HolderColumn, kOldCells.at(1));
    model.setCell(row, DomainListModel::RecordTypeColumn, kOldCells.at(2));
    model.setCell(row, DomainListModel::SiteNameColumn, kOldCells.at(3));
    model.setCell(row, DomainListModel::StatusColumn, u"查询完毕"_s);
    return row;
}

quint16 unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort(); // closed again when probe goes away
}

int outstandingReplies()
{
    return int(NetworkHttpClient::sharedManager().findChildren<QNetworkReply *>().size());
}

const QList<QPair<QueryMode, const char *>> kModes
    = { { QueryMode::Batch, "batch" }, { QueryMode::Selected, "selected" } };

} // namespace

class TestLookup : public QObject
{
    Q_OBJECT
    std::unique_ptr<LookupSite> m_site;

    QStringList query(const QString &domain, QueryMode mode, HttpClient &http, const QString &base = {})
    {
        DomainListModel model;
        const int row = addQueriedRow(model, domain);
        QueryRow(model, row, mode, http, base.isEmpty() ? m_site->baseUrl() : base, [] { return false; });
        return recordCells(model, row);
    }

private slots:
    void init()
    {
        m_site = std::make_unique<LookupSite>();
        QVERIFY(m_site->listen());
    }
    void cleanup()
    {
        m_site.reset();
        // Every path through the client must hand its reply back.
        QTRY_COMPARE(outstandingReplies(), 0);
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
            { "deleted record", u"deleted.example.cn"_s, found(rec(u"deleted.example.cn"_s)),
                unknownWith(u"备案已被删除"_s) },
            { "empty body", u"empty.example.cn"_s, unchanged(), unchanged() },
            { "404 page", u"e404.example.cn"_s, unchanged(), noRecord },
            { "500 page", u"e500.example.cn"_s, unchanged(), noRecord },
            { "page without table marker", u"nomarker.example.cn"_s, unchanged(), noRecord },
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
            { "spaces around the record number", spaced,
                { rec(spaced).recordNo, rec(spaced).holder, rec(spaced).recordType, u" "_s + rec(spaced).siteName,
                    u"查询完毕"_s },
                { rec(spaced).recordNo, rec(spaced).holder, rec(spaced).recordType, u" "_s + rec(spaced).siteName,
                    u"查询完毕"_s } },
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
        NetworkHttpClient http;
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
        QTest::newRow("a lone blank is a page, batch") << QByteArray(" ") << QueryMode::Batch << unchanged();
        QTest::newRow("a lone blank is a page, selected") << QByteArray(" ") << QueryMode::Selected << noRecord;
    }
    void queryRow_customPage()
    {
        QFETCH(QByteArray, body);
        QFETCH(QueryMode, mode);
        QFETCH(QStringList, expected);
        const QString domain = u"plain.example.cn"_s;
        m_site->setReply(domain, body);
        NetworkHttpClient http;
        QCOMPARE(query(domain, mode, http), expected);
    }

    void queryRow_writesCellsInOrderStatusLast()
    {
        NetworkHttpClient http;
        DomainListModel model;
        const int row = model.appendDomain(u"example.cn"_s);
        QSignalSpy changes(&model, &DomainListModel::dataChanged);
        QueryRow(model, row, QueryMode::Batch, http, m_site->baseUrl(), {});
        QList<int> columns;
        for (const QList<QVariant> &change : std::as_const(changes))
            columns.append(change.at(0).toModelIndex().column());
        const QList<int> expected
            = { DomainListModel::StatusColumn, DomainListModel::RecordNoColumn, DomainListModel::HolderColumn,
                  DomainListModel::RecordTypeColumn, DomainListModel::SiteNameColumn, DomainListModel::StatusColumn };
        QCOMPARE(columns, expected);
    }

    void queryRow_failedFetch_leavesQuerying_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("base"); // empty: the local site
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<qint64>("bodyLimit");
        QTest::addColumn<QueryMode>("mode");

        const QString refusedBase = u"http://127.0.0.1:"_s + QString::number(unusedPort());
        const qint64 defaultLimit = NetworkHttpClient::kDefaultBodyLimit;
        for (const auto &[mode, modeName] : kModes) {
            QTest::addRow("refused, %s", modeName) << u"example.cn"_s << refusedBase << 30000 << defaultLimit << mode;
            QTest::addRow("name not resolved, %s", modeName)
                << u"example.cn"_s << u"http://lookup.invalid"_s << 30000 << defaultLimit << mode;
            QTest::addRow("reset mid-body, %s", modeName)
                << u"reset.example.cn"_s << QString() << 30000 << defaultLimit << mode;
            QTest::addRow("timeout after headers, %s", modeName)
                << u"hang.example.cn"_s << QString() << 300 << defaultLimit << mode;
            QTest::addRow("over the default limit, %s", modeName)
                << u"huge.example.cn"_s << QString() << 30000 << defaultLimit << mode;
            // Data keeps coming, so only the limit can end it.
            QTest::addRow("endless trickle, %s", modeName)
                << u"trickle.example.cn"_s << QString() << 30000 << qint64(4096) << mode;
        }
    }
    void queryRow_failedFetch_leavesQuerying()
    {
        QFETCH(QString, domain);
        QFETCH(QString, base);
        QFETCH(int, timeoutMs);
        QFETCH(qint64, bodyLimit);
        QFETCH(QueryMode, mode);
        NetworkHttpClient http(timeoutMs, bodyLimit);
        QCOMPARE(query(domain, mode, http, base), unchanged());
    }

    void getBody_sendsOneGetWithIfModifiedSince()
    {
        NetworkHttpClient http;
        const PageResult page = GetBody(http, recordPageUrl(m_site->baseUrl(), u"example.cn"_s));
        QVERIFY(page.ok);
        QVERIFY(page.text.contains(site::expectedRecord(u"example.cn"_s).holder));
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

        NetworkHttpClient http;
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
        const QByteArray saved = qgetenv("QUERNFOLD_LOOKUP_BASE");
        qputenv("QUERNFOLD_LOOKUP_BASE", configured.toUtf8());
        const Config config = Config::fromEnvironment();
        if (saved.isNull())
            qunsetenv("QUERNFOLD_LOOKUP_BASE");
        else
            qputenv("QUERNFOLD_LOOKUP_BASE", saved);
        QCOMPARE(config.lookupBase, base);
        // The address of a page has one slash before its folder.
        QCOMPARE(recordPageUrl(config.lookupBase, u"a.cn"_s).toString(), base + u"/s-0/a.cn.html"_s);
    }

    void queryRow_reusesOneConnection()
    {
        NetworkHttpClient http;
        DomainListModel model;
        for (const QString &domain : { u"a.example.cn"_s, u"b.example.cn"_s, u"c.example.cn"_s }) {
            const int row = model.appendDomain(domain);
            QueryRow(model, row, QueryMode::Batch, http, m_site->baseUrl(), {});
            QCOMPARE(recordCells(model, row), found(site::expectedRecord(domain)));
        }
        QCOMPARE(m_site->requests().size(), 3);
        QCOMPARE(m_site->connectionCount(), 1);
    }

    void queryRow_closing_writesNothingAfterFetch_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QueryMode>("mode");
        QTest::newRow("record page, batch") << u"example.cn"_s << QueryMode::Batch;
        QTest::newRow("no match, selected") << u"nomatch.example.cn"_s << QueryMode::Selected;
        QTest::newRow("deleted, selected") << u"deleted.example.cn"_s << QueryMode::Selected;
    }
    void queryRow_closing_writesNothingAfterFetch()
    {
        QFETCH(QString, domain);
        QFETCH(QueryMode, mode);
        NetworkHttpClient http;
        DomainListModel model;
        const int row = addQueriedRow(model, domain);
        int asked = 0;
        QueryRow(model, row, mode, http, m_site->baseUrl(), [&asked] {
            ++asked;
            return true;
        });
        QCOMPARE(m_site->requests().size(), 1);
        QVERIFY(asked > 0);
        QCOMPARE(recordCells(model, row), unchanged());
    }

    void queryRow_closeDuringHangingFetch_returnsWithoutWriting()
    {
        NetworkHttpClient http(60000);
        bool closing = false;
        connect(m_site.get(), &LookupSite::requestReceived, this, [&] {
            closing = true;
            http.abortAll();
        });
        DomainListModel model;
        const int row = addQueriedRow(model, u"hang.example.cn"_s);
        QueryRow(model, row, QueryMode::Selected, http, m_site->baseUrl(), [&closing] { return closing; });
        QVERIFY(closing);
        QCOMPARE(recordCells(model, row), unchanged());
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
        NetworkHttpClient http;
        const HttpResponse response = http.get(recordPageUrl(m_site->baseUrl(), domain), {});
        QVERIFY2(response.ok, qPrintable(response.error));
        QCOMPARE(response.status, status);
        QCOMPARE(response.body, body);
    }

    void get_bodyLimit_data()
    {
        QTest::addColumn<qint64>("limitOffset");
        QTest::addColumn<bool>("ok");
        QTest::newRow("one byte under the body") << qint64(-1) << false;
        QTest::newRow("exactly the body") << qint64(0) << true;
        QTest::newRow("one byte over the body") << qint64(1) << true;
    }
    void get_bodyLimit()
    {
        QFETCH(qint64, limitOffset);
        QFETCH(bool, ok);
        QByteArray body;
        for (int i = 0; body.size() < 300000; ++i)
            body += "<p>" + QByteArray::number(i) + "</p>\n";
        m_site->setReply(u"limit.example.cn"_s, body);
        NetworkHttpClient http(30000, body.size() + limitOffset);
        const HttpResponse response = http.get(recordPageUrl(m_site->baseUrl(), u"limit.example.cn"_s), {});
        QCOMPARE(response.ok, ok);
        if (ok)
            QCOMPARE(response.body, body);
        else
            QCOMPARE(response.body, body.first(body.size() + limitOffset));
    }

    void abortAll_endsHangingRequestsAtOnce_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::newRow("headers then nothing") << u"hang.example.cn"_s;
        QTest::newRow("endless trickle") << u"trickle.example.cn"_s;
    }
    void abortAll_endsHangingRequestsAtOnce()
    {
        QFETCH(QString, domain);
        // Generous timeout and limit: only abortAll can end these before the test's own time runs out.
        NetworkHttpClient http(120000, qint64(1) << 40);
        HttpResponse inner;
        int received = 0;
        int outstandingDuringWait = 0;
        connect(m_site.get(), &LookupSite::requestReceived, this, [&] {
            if (++received == 1) {
                // A second lookup nested inside the first wait, as a handler of the window might start one.
                QTimer::singleShot(0, this, [&] { inner = http.get(recordPageUrl(m_site->baseUrl(), domain), {}); });
            } else {
                outstandingDuringWait = outstandingReplies();
                http.abortAll();
            }
        });
        const HttpResponse outer = http.get(recordPageUrl(m_site->baseUrl(), domain), {});
        QCOMPARE(received, 2);
        QCOMPARE(outstandingDuringWait, 2);
        QVERIFY(!outer.ok);
        QVERIFY(!inner.ok);
        QCOMPARE(outer.error, u"aborted"_s);
        QCOMPARE(inner.error, u"aborted"_s);
    }

    void get_whenTheProgramEnds_failsRatherThanReturningAnEmptyPage()
    {
        // Ending the program makes every event loop return, also the one a fetch waits in.
        NetworkHttpClient http(120000);
        HttpResponse response;
        bool returned = false;
        connect(m_site.get(), &LookupSite::requestReceived, this, [] { QCoreApplication::exit(0); });
        QTimer::singleShot(0, this, [&] {
            response = http.get(recordPageUrl(m_site->baseUrl(), u"hang.example.cn"_s), {});
            returned = true;
        });
        QCoreApplication::exec();
        QVERIFY(returned);
        QVERIFY(!response.ok);
        QCOMPARE(outstandingReplies(), 0);
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
        NetworkHttpClient http;
        QUrl url(m_site->baseUrl());
        url.setPath(u"/index.php/Index/soft_version"_s);
        const HttpResponse response
            = http.post(url, { { "CONTENT-TYPE", "application/x-www-form-urlencoded" } }, QByteArray("sn=ym"));
        QVERIFY2(response.ok, qPrintable(response.error));
        QCOMPARE(response.status, status);
        QCOMPARE(response.body, reply);
        QCOMPARE(m_site->requests().size(), 1);
        const site::RecordedRequest &sent = m_site->requests().at(0);
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.target, QByteArray("/index.php/Index/soft_version"));
        QCOMPARE(sent.body, QByteArray("sn=ym"));
        QCOMPARE(site::headerValues(sent, "Content-Type"), QList<QByteArray> { "application/x-www-form-urlencoded" });
    }

    void siteExecutable_servesRecordPages()
    {
        if (testing::LookupSiteProcess::executablePath().isEmpty())
            QSKIP("QUERNFOLD_BIN_DIR is not set; run through CTest");
        testing::LookupSiteProcess process;
        QVERIFY2(process.start(), qPrintable(process.errorString()));
        QVERIFY(process.baseUrl().startsWith(u"http://127.0.0.1:"_s));
        NetworkHttpClient http;
        QCOMPARE(query(u"example.cn"_s, QueryMode::Batch, http, process.baseUrl()),
            found(site::expectedRecord(u"example.cn"_s)));
    }
};

QTEST_GUILESS_MAIN(TestLookup)
#include "tst_lookup.moc"
