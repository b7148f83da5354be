#include "support/scripted_platform.h"

#include "platform/codepage.h"
#include "platform/curl_http.h"
#include "lookup_site.h"
#include "update/post.h"
#include "update/version_check.h"

#include <QTcpServer>
#include <QTest>

using namespace quernfold;

Q_DECLARE_METATYPE(quernfold::VersionDecision)

namespace {

HttpResponse okResponse(int status, const QByteArray &contentType, const QByteArray &body)
{
    return test::ScriptedHttp::reply(status, contentType, body);
}

// postForm, waited for with the event loop running.
PostResult post(HttpClient &http, const QUrl &url, const QString &body)
{
    std::optional<PostResult> result;
    postForm(http, url, body, {}, kVersionReplyLimit, [&result](const PostResult &r) { result = r; });
    if (!QTest::qWaitFor([&result] { return result.has_value(); }, 30000))
        return PostResult { false, QString(), QStringLiteral("no answer within 30 s") };
    return *result;
}

// JSON written with single quotes, so the literals stay readable.
QString json(QStringView text)
{
    return text.toString().replace(u'\'', u'"');
}

QString replyWithResult(const QString &resultJson)
{
    return json(u"{'result':%1,'info':{'version':'2.0','sid':'15','must':'0'}}").arg(resultJson);
}

QString replyWith(const QString &result, const QString &version, const QString &must)
{
    return json(u"{'result':%1,'info':{'version':%2,'sid':'15','must':%3}}").arg(result, version, must);
}

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT
private slots:
    void encodeFormBody_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("request body") << QStringLiteral("sn=ym") << QStringLiteral("sn=ym");
        QTest::newRow("form punctuation untouched") << QStringLiteral("a b&c=d%") << QStringLiteral("a b&c=d%");
        QTest::newRow("one hanzi") << QStringLiteral("中") << QStringLiteral("%D6%D0");
        QTest::newRow("two hanzi") << QStringLiteral("域名") << QStringLiteral("%D3%F2%C3%FB");
        QTest::newRow("hanzi between ascii") << QStringLiteral("a中b") << QStringLiteral("a%D6%D0b");
        QTest::newRow("full-width comma") << QStringLiteral("，") << QStringLiteral("%A3%AC");
        QTest::newRow("trail byte below 0x80") << QStringLiteral("丂") << QStringLiteral("%81%40");
        QTest::newRow("emoji units pass") << QStringLiteral("x😀y") << QStringLiteral("x😀y");
        QTest::newRow("lone surrogate passes") << QString(QChar(0xDC00)) << QString(QChar(0xDC00));
        // GB18030 gives this a four-byte code, which GBK does not have.
        QTest::newRow("outside gbk in bmp") << QStringLiteral("\u0E01") << QStringLiteral("\u0E01");
    }
    void encodeFormBody()
    {
        QFETCH(QString, input);
        QFETCH(QString, encoded);
        QCOMPARE(quernfold::encodeFormBody(input), encoded);
    }

    void encodeFormBody_everyBmpUnit_doubleByteBecomesLeadAndTrail()
    {
        // Against the code page's own bytes rather than the arithmetic: a double-byte character must come out
        // as its lead and trail byte, anything else as itself.
        int doubleByte = 0;
        for (int code = 0; code <= 0xFFFF; ++code) {
            const QChar unit(static_cast<char16_t>(code));
            const QString text(unit);
            const QByteArray narrow = unit.isSurrogate() ? QByteArray() : codepage::toNarrow(text);
            QString expected = text;
            if (narrow.size() == 2) {
                ++doubleByte;
                expected = QStringLiteral("%") + QString::fromLatin1(narrow.left(1).toHex().toUpper())
                    + QStringLiteral("%") + QString::fromLatin1(narrow.mid(1).toHex().toUpper());
            }
            const QString actual = quernfold::encodeFormBody(text);
            if (actual != expected)
                QFAIL(qPrintable(QStringLiteral("U+%1: got %2, expected %3")
                                     .arg(code, 4, 16, QLatin1Char('0'))
                                     .arg(actual, expected)));
        }
        // GBK has a little under 22000 double-byte characters; far fewer means the code page is not GBK.
        QVERIFY2(doubleByte > 21000, qPrintable(QString::number(doubleByte)));
    }

    void appendEncodedUnit_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("single byte 254 passes") << 254 << QStringLiteral("@");
        QTest::newRow("single byte 255 escaped") << 255 << QStringLiteral("%0%FF");
        QTest::newRow("small negative passes") << -1 << QStringLiteral("@");
        QTest::newRow("minus 254 passes") << -254 << QStringLiteral("@");
        QTest::newRow("no leading zeros") << 0x0100 << QStringLiteral("%1%0");
        QTest::newRow("low lead byte") << 0x0A05 << QStringLiteral("%A%5");
        QTest::newRow("lowest negative") << int(qint16(quint16(0x8000))) << QStringLiteral("%80%0");
        QTest::newRow("lead FE") << int(qint16(quint16(0xFEFE))) << QStringLiteral("%FE%FE");
        // 0xFF00 / 255 is 256, not 255: the old arithmetic shows through for a lead byte GBK never uses.
        QTest::newRow("lead FF divides to 100") << -255 << QStringLiteral("%100%1");
    }
    void appendEncodedUnit()
    {
        QFETCH(int, code);
        QFETCH(QString, encoded);
        QString out = QStringLiteral(">");
        post_detail::appendEncodedUnit(out, QLatin1Char('@'), code);
        QCOMPARE(out, QStringLiteral(">") + encoded);
    }

    void postForm_sendsOneFormPost()
    {
        test::ScriptedHttp http;
        http.answerAlways(okResponse(200, QByteArrayLiteral("application/json"), QByteArrayLiteral("{}")));
        const QUrl url(QStringLiteral("https://version.example/index.php/Index/soft_version"));

        const PostResult result = post(http, url, QString::fromLatin1(kVersionRequestBody));

        QVERIFY(result.ok);
        QCOMPARE(result.text, QStringLiteral("{}"));
        QCOMPARE(http.requests.size(), 1);
        const HttpRequest &sent = http.requests.first();
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.url, url);
        const HttpHeaders expectedHeaders { { QByteArrayLiteral("CONTENT-TYPE"),
            QByteArrayLiteral("application/x-www-form-urlencoded") } };
        QCOMPARE(sent.headers, expectedHeaders);
        QCOMPARE(sent.body, QByteArrayLiteral("sn=ym"));
        QCOMPARE(sent.bodyLimit, kVersionReplyLimit);
    }

    void postForm_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("onTheWire");
        QTest::newRow("ascii as is") << QStringLiteral("sn=ym&x=a b") << QByteArrayLiteral("sn=ym&x=a b");
        QTest::newRow("hanzi escaped") << QStringLiteral("q=域名") << QByteArrayLiteral("q=%D3%F2%C3%FB");
        // Not escaped, so it has to reach the wire intact in the narrow code page rather than as "?".
        QTest::newRow("emoji in narrow code page")
            << QStringLiteral("e=😀") << QByteArray("e=") + codepage::toNarrow(u"😀");
    }
    void postForm()
    {
        QFETCH(QString, body);
        QFETCH(QByteArray, onTheWire);
        test::ScriptedHttp http;
        http.answerAlways(okResponse(200, QByteArray(), QByteArray()));
        post(http, QUrl(QStringLiteral("http://127.0.0.1:1/")), body);
        QCOMPARE(http.requests.size(), 1);
        QCOMPARE(http.requests.first().body, onTheWire);
        QVERIFY(!onTheWire.contains('?'));
    }

    void postForm_transportFailure_reportsNotOk()
    {
        test::ScriptedHttp http;
        HttpResponse refused = test::ScriptedHttp::failure(HttpFailure::Refused, QStringLiteral("Connection refused"));
        // A failed request may still carry bytes from a half-read reply; they must not pass as an answer.
        refused.body = json(u"{'result':'1','info':{'version':'2.0','sid':'1','must':'0'}}").toUtf8();
        http.answerAlways(refused);
        const PostResult result = post(http, QUrl(QStringLiteral("http://127.0.0.1:1/")), QStringLiteral("sn=ym"));
        QVERIFY(!result.ok);
        QVERIFY(result.text.isEmpty());
        QCOMPARE(result.error, QStringLiteral("Connection refused"));
    }

    void postForm_decodesReply_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        const QByteArray utf8 = QStringLiteral("域名").toUtf8();
        const QByteArray gbk = codepage::toNarrow(u"域名");
        QTest::newRow("no charset is utf-8") << QByteArrayLiteral("application/json") << utf8 << QStringLiteral("域名");
        QTest::newRow("charset gbk") << QByteArrayLiteral("text/html; charset=GBK") << gbk << QStringLiteral("域名");
    }
    void postForm_decodesReply()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        test::ScriptedHttp http;
        http.answerAlways(okResponse(200, contentType, body));
        const PostResult result = post(http, QUrl(QStringLiteral("http://127.0.0.1:1/")), QStringLiteral("sn=ym"));
        QVERIFY(result.ok);
        QCOMPARE(result.text, text);
    }

    void postForm_onTheWire_sendsOneFormPost()
    {
        site::LookupSite site;
        QVERIFY(site.listen());
        const QByteArray reply = json(u"{'result':'1','info':{'version':'2.0','sid':'15','must':'0'}}").toUtf8();
        site.setVersionReply(reply);
        CurlHttpClient http(10000);

        const PostResult result
            = post(http, versionServiceUrl(site.baseUrl()), QString::fromLatin1(kVersionRequestBody));

        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.text, QString::fromUtf8(reply));
        const QList<site::RecordedRequest> requests = site.requests();
        QCOMPARE(requests.size(), 1);
        const site::RecordedRequest &sent = requests.first();
        QCOMPARE(sent.method, QByteArrayLiteral("POST"));
        QCOMPARE(sent.target, QByteArrayLiteral("/index.php/Index/soft_version"));
        QCOMPARE(site::headerValues(sent, "content-type"),
            QList<QByteArray> { QByteArrayLiteral("application/x-www-form-urlencoded") });
        QCOMPARE(sent.body, QByteArrayLiteral("sn=ym"));

        // The whole way from the wire to the decision.
        const std::optional<VersionReply> read = readVersionReply(result.text);
        QVERIFY(read.has_value());
        QCOMPARE(quernfold::decideVersion(*read), VersionDecision::UpToDate);
    }

    void postForm_onTheWire_escapesDoubleByteCharacters()
    {
        site::LookupSite site;
        QVERIFY(site.listen());
        CurlHttpClient http(10000);
        const PostResult result = post(http, versionServiceUrl(site.baseUrl()), QStringLiteral("sn=ym&q=域名 中"));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(site.requests().size(), 1);
        QCOMPARE(site.requests().first().body, QByteArrayLiteral("sn=ym&q=%D3%F2%C3%FB %D6%D0"));
    }

    void postForm_onTheWire_errorStatusReturnsBody()
    {
        site::LookupSite site;
        QVERIFY(site.listen());
        site.setVersionReply(QByteArrayLiteral("x"), 500);
        CurlHttpClient http(10000);

        const PostResult result = post(http, versionServiceUrl(site.baseUrl()), QStringLiteral("sn=ym"));

        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.text, QStringLiteral("x"));
        // And the check takes that body down its failure path rather than reading anything into it.
        QVERIFY(!readVersionReply(result.text).has_value());
    }

    void postForm_onTheWire_replyLimit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("ok");
        QTest::newRow("64 KiB is read") << kVersionReplyLimit << true;
        QTest::newRow("one byte more is a failure") << kVersionReplyLimit + 1 << false;
    }
    void postForm_onTheWire_replyLimit()
    {
        QFETCH(qint64, size);
        QFETCH(bool, ok);
        site::LookupSite site;
        QVERIFY(site.listen());
        site.setVersionReply(QByteArray(size, ' '));
        CurlHttpClient http(10000);
        const PostResult result = post(http, versionServiceUrl(site.baseUrl()), QStringLiteral("sn=ym"));
        QCOMPARE(result.ok, ok);
        QCOMPARE(result.text.size(), ok ? size : 0);
    }

    void postForm_onTheWire_unreachableFails_data()
    {
        QTest::addColumn<QUrl>("url");
        quint16 closedPort = 0;
        {
            // A port that was just free and is no longer listened on refuses the connection.
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost))
                closedPort = probe.serverPort();
        }
        QTest::newRow("refused") << versionServiceUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
        QTest::newRow("not resolved") << versionServiceUrl(QStringLiteral("http://quernfold-version.invalid"));
    }
    void postForm_onTheWire_unreachableFails()
    {
        QFETCH(QUrl, url);
        QVERIFY(url.port() != 0);
        CurlHttpClient http(10000);
        const PostResult result = post(http, url, QStringLiteral("sn=ym"));
        QVERIFY(!result.ok);
        QVERIFY(result.text.isEmpty());
        QVERIFY(!result.error.isEmpty());
    }

    void readVersionReply_members_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("sid");
        QTest::addColumn<QString>("must");
        QTest::newRow("strings") << json(u"{'result':'1','info':{'version':'2.1','sid':'15','must':'0'}}")
                                 << QStringLiteral("1") << QStringLiteral("2.1") << QStringLiteral("15")
                                 << QStringLiteral("0");
        QTest::newRow("numbers as text") << json(u"{'result':1,'info':{'version':2.5,'sid':15,'must':0}}")
                                         << QStringLiteral("1") << QStringLiteral("2.5") << QStringLiteral("15")
                                         << QStringLiteral("0");
        // A script engine prints the number 2.0 as "2", which then differs from the own version.
        QTest::newRow("number 2.0 reads 2")
            << json(u"{'result':1,'info':{'version':2.0,'sid':'','must':'1'}}") << QStringLiteral("1")
            << QStringLiteral("2") << QString() << QStringLiteral("1");
        QTest::newRow("true false null") << json(u"{'result':true,'info':{'version':false,'sid':null,'must':true}}")
                                         << QStringLiteral("true") << QStringLiteral("false") << QStringLiteral("null")
                                         << QStringLiteral("true");
        QTest::newRow("hanzi and escapes")
            << json(u"{'result':'\\u6210\\u529f','info':{'version':'2.1 beta','sid':'a\\'b','must':'否'}}")
            << QStringLiteral("成功") << QStringLiteral("2.1 beta") << QStringLiteral("a\"b") << QStringLiteral("否");
        QTest::newRow("extra members and whitespace")
            << QStringLiteral(" \r\n{\"x\":[1],\"result\":\"1\",\"info\":{\"must\":\"0\",\"sid\":\"7\",\"version\":"
                              "\"2.0\",\"url\":{}},\"msg\":\"ok\"}\n")
            << QStringLiteral("1") << QStringLiteral("2.0") << QStringLiteral("7") << QStringLiteral("0");
        // As in script, a repeated member takes its last value.
        QTest::newRow("repeated member last wins")
            << json(u"{'result':'0','result':'1','info':{'version':'2.0','sid':'1','must':'0'}}") << QStringLiteral("1")
            << QStringLiteral("2.0") << QStringLiteral("1") << QStringLiteral("0");
        QTest::newRow("leading bom") << QStringLiteral(
            "\uFEFF{\"result\":\"1\",\"info\":{\"version\":\"2.0\",\"sid\":\"1\",\"must\":\"0\"}}")
                                     << QStringLiteral("1") << QStringLiteral("2.0") << QStringLiteral("1")
                                     << QStringLiteral("0");
    }
    void readVersionReply_members()
    {
        QFETCH(QString, reply);
        QFETCH(QString, result);
        QFETCH(QString, version);
        QFETCH(QString, sid);
        QFETCH(QString, must);
        const std::optional<VersionReply> read = readVersionReply(reply);
        QVERIFY(read.has_value());
        QCOMPARE(read->result, result);
        QCOMPARE(read->version, version);
        QCOMPARE(read->sid, sid);
        QCOMPARE(read->must, must);
    }

    void readVersionReply_numberText_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("0");
        QTest::newRow("negative zero") << QStringLiteral("-0") << QStringLiteral("0");
        QTest::newRow("integer") << QStringLiteral("2") << QStringLiteral("2");
        QTest::newRow("fraction") << QStringLiteral("2.5") << QStringLiteral("2.5");
        QTest::newRow("negative") << QStringLiteral("-1.5") << QStringLiteral("-1.5");
        QTest::newRow("shortest digits") << QStringLiteral("0.1") << QStringLiteral("0.1");
        QTest::newRow("sum digits") << QStringLiteral("0.30000000000000004") << QStringLiteral("0.30000000000000004");
        QTest::newRow("exponent written") << QStringLiteral("1.5E3") << QStringLiteral("1500");
        QTest::newRow("below 1e21 plain")
            << QStringLiteral("123456789012345680000") << QStringLiteral("123456789012345680000");
        QTest::newRow("1e21 exponent") << QStringLiteral("1e21") << QStringLiteral("1e+21");
        QTest::newRow("small plain") << QStringLiteral("0.000001") << QStringLiteral("0.000001");
        QTest::newRow("small exponent") << QStringLiteral("1e-7") << QStringLiteral("1e-7");
        QTest::newRow("beyond 2^53") << QStringLiteral("9007199254740993") << QStringLiteral("9007199254740992");
        QTest::newRow("beyond int64") << QStringLiteral("12345678901234567890123")
                                      << QStringLiteral("1.2345678901234568e+22");
    }
    void readVersionReply_numberText()
    {
        QFETCH(QString, number);
        QFETCH(QString, text);
        const std::optional<VersionReply> read = readVersionReply(replyWithResult(number));
        QVERIFY(read.has_value());
        QCOMPARE(read->result, text);
    }

    void readVersionReply_failure_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::newRow("empty") << QString();
        QTest::newRow("not json") << QStringLiteral("<html>502 Bad Gateway</html>");
        QTest::newRow("script, not json") << QStringLiteral("{result:'1',info:{version:'2.0',sid:'1',must:'0'}}");
        QTest::newRow("json array") << json(u"[{'result':'1','info':{'version':'2.0','sid':'1','must':'0'}}]");
        QTest::newRow("trailing garbage")
            << json(u"{'result':'1','info':{'version':'2.0','sid':'1','must':'0'}};alert(1)");
        QTest::newRow("cut short") << json(u"{'result':'1','info':{'version':'2.0','sid':'1','must':'0'}");
        QTest::newRow("result missing") << json(u"{'info':{'version':'2.0','sid':'1','must':'0'}}");
        QTest::newRow("info missing") << json(u"{'result':'0'}");
        QTest::newRow("info a string") << json(u"{'result':'1','info':'2.0'}");
        QTest::newRow("info an array") << json(u"{'result':'1','info':['2.0','1','0']}");
        QTest::newRow("version missing") << json(u"{'result':'1','info':{'sid':'1','must':'0'}}");
        QTest::newRow("sid missing") << json(u"{'result':'1','info':{'version':'2.1','must':'0'}}");
        QTest::newRow("must missing") << json(u"{'result':'1','info':{'version':'2.1','sid':'1'}}");
        QTest::newRow("members at top level") << json(u"{'result':'1','version':'2.0','sid':'1','must':'0','info':{}}");
        QTest::newRow("member an object")
            << json(u"{'result':'1','info':{'version':{'v':'2.0'},'sid':'1','must':'0'}}");
        QTest::newRow("member an array") << json(u"{'result':['1'],'info':{'version':'2.0','sid':'1','must':'0'}}");
        QTest::newRow("number out of range") << replyWithResult(QStringLiteral("1e400"));
    }
    void readVersionReply_failure()
    {
        QFETCH(QString, reply);
        QVERIFY(!readVersionReply(reply).has_value());
    }

    void decideVersion_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<VersionDecision>("decision");
        const QString s20 = QStringLiteral("\"2.0\"");
        const QString s21 = QStringLiteral("\"2.1\"");
        const QString zero = QStringLiteral("\"0\"");
        const QString one = QStringLiteral("\"1\"");
        QTest::newRow("failed, newer version")
            << replyWith(zero, QStringLiteral("\"9.9\""), one) << VersionDecision::CheckFailed;
        QTest::newRow("failed, same version") << replyWith(zero, s20, zero) << VersionDecision::CheckFailed;
        QTest::newRow("failed as number") << replyWith(QStringLiteral("0"), s21, one) << VersionDecision::CheckFailed;
        QTest::newRow("failed as negative zero")
            << replyWith(QStringLiteral("-0"), s21, one) << VersionDecision::CheckFailed;
        QTest::newRow("same version") << replyWith(one, s20, zero) << VersionDecision::UpToDate;
        QTest::newRow("result 00 is not 0")
            << replyWith(QStringLiteral("\"00\""), s20, zero) << VersionDecision::UpToDate;
        QTest::newRow("2.00 differs") << replyWith(one, QStringLiteral("\"2.00\""), zero)
                                      << VersionDecision::OfferUpdate;
        QTest::newRow("older offered") << replyWith(one, QStringLiteral("\"1.9\""), zero)
                                       << VersionDecision::OfferUpdate;
        QTest::newRow("newer offered") << replyWith(one, s21, one) << VersionDecision::OfferUpdate;
        QTest::newRow("padded differs") << replyWith(one, QStringLiteral("\" 2.0\""), zero)
                                        << VersionDecision::OfferUpdate;
        QTest::newRow("number 2.0 differs")
            << replyWith(one, QStringLiteral("2.0"), zero) << VersionDecision::OfferUpdate;
        QTest::newRow("empty version differs")
            << replyWith(one, QStringLiteral("\"\""), zero) << VersionDecision::OfferUpdate;
    }
    void decideVersion()
    {
        QFETCH(QString, reply);
        QFETCH(VersionDecision, decision);
        const std::optional<VersionReply> read = readVersionReply(reply);
        QVERIFY(read.has_value());
        QCOMPARE(quernfold::decideVersion(*read), decision);
    }

    void updateOfferText_buildsWithoutSeparators()
    {
        const QString text = updateOfferText(QStringLiteral("1.9"));
        QCOMPARE(text, QStringLiteral("发现最新版本1.9，是否现在更新?"));
        // Full-width comma, half-width question mark: easy to get the wrong way round.
        QCOMPARE(text.count(QChar(0xFF0C)), 1);
        QVERIFY(text.endsWith(u'?'));
        QCOMPARE(updateOfferText(QString()), QStringLiteral("发现最新版本，是否现在更新?"));
    }

    void downloadPageUrl_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("sid");
        QTest::addColumn<QString>("url");
        QTest::newRow("sid appended") << QStringLiteral("https://studio.example") << QStringLiteral("15")
                                      << QStringLiteral("https://studio.example/index.php/Works/detail/sid/15");
        QTest::newRow("empty sid") << QStringLiteral("https://studio.example") << QString()
                                   << QStringLiteral("https://studio.example/index.php/Works/detail/sid/");
        QTest::newRow("base with port") << QStringLiteral("http://127.0.0.1:8080") << QStringLiteral("abc")
                                        << QStringLiteral("http://127.0.0.1:8080/index.php/Works/detail/sid/abc");
        QTest::newRow("reserved characters kept")
            << QStringLiteral("https://studio.example") << QStringLiteral("7?from=app&x=1")
            << QStringLiteral("https://studio.example/index.php/Works/detail/sid/7?from=app&x=1");
    }
    void downloadPageUrl()
    {
        QFETCH(QString, base);
        QFETCH(QString, sid);
        QFETCH(QString, url);
        const QUrl page = quernfold::downloadPageUrl(base, sid);
        QVERIFY(page.isValid());
        QCOMPARE(page.toString(), url);
    }

    void downloadPageUrl_hostileSid_staysOnTheSite_data()
    {
        QTest::addColumn<QString>("sid");
        QTest::newRow("quote and blank") << QStringLiteral("1\" & calc.exe \"");
        QTest::newRow("authority-like") << QStringLiteral("@evil.invalid/x");
        QTest::newRow("line break") << QStringLiteral("1\r\nHost: evil.invalid");
    }
    void downloadPageUrl_hostileSid_staysOnTheSite()
    {
        QFETCH(QString, sid);
        const QUrl page = quernfold::downloadPageUrl(QStringLiteral("https://studio.example"), sid);
        QVERIFY(page.isValid());
        QCOMPARE(page.scheme(), QStringLiteral("https"));
        QCOMPARE(page.host(), QStringLiteral("studio.example"));
        QVERIFY(page.path().startsWith(QStringLiteral("/index.php/Works/detail/sid/")));
        // Whatever reaches the browser carries no raw quote, blank or line break.
        const QByteArray encoded = page.toEncoded();
        QVERIFY(!encoded.contains('"'));
        QVERIFY(!encoded.contains(' '));
        QVERIFY(!encoded.contains('\n'));
    }

    void versionServiceUrl_appendsServicePath_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("url");
        QTest::newRow("https") << QStringLiteral("https://version.example")
                               << QStringLiteral("https://version.example/index.php/Index/soft_version");
        QTest::newRow("local with port") << QStringLiteral("http://127.0.0.1:5000")
                                         << QStringLiteral("http://127.0.0.1:5000/index.php/Index/soft_version");
    }
    void versionServiceUrl_appendsServicePath()
    {
        QFETCH(QString, base);
        QFETCH(QString, url);
        const QUrl service = versionServiceUrl(base);
        QVERIFY(service.isValid());
        QCOMPARE(service.toString(), url);
    }
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
