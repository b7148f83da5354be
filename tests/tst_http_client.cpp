// The libcurl client itself against the local site: proxies, answers that cannot be followed, and the sockets it
// watches.
#include "lookup/query_row.h"
#include "lookup_site.h"
#include "platform/curl_http.h"
#include "support/lookup_site_process.h"

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <optional>
#include <vector>

#include <fcntl.h>

using namespace quernfold;
using namespace Qt::StringLiterals;
using site::LookupSite;

Q_DECLARE_METATYPE(quernfold::HttpFailure)

namespace {

quint16 unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort(); // closed again when probe goes away
}

HttpRequest get(const QUrl &url)
{
    HttpRequest request;
    request.url = url;
    return request;
}

// Starts the requests at once and waits, with the event loop running, until every one has its answer.
std::vector<HttpResponse> fetchAll(HttpClient &http, const std::vector<HttpRequest> &requests)
{
    std::vector<std::optional<HttpResponse>> answers(requests.size());
    for (size_t i = 0; i < requests.size(); ++i)
        http.start(requests[i], [&answers, i](HttpResponse &&response) { answers[i] = std::move(response); });
    const auto allAnswered = [&answers] {
        return std::all_of(answers.begin(), answers.end(), [](const auto &answer) { return answer.has_value(); });
    };
    if (!QTest::qWaitFor(allAnswered, 30000))
        qWarning("not every request was answered within 30 s");
    std::vector<HttpResponse> responses;
    for (auto &answer : answers) {
        HttpResponse lost;
        lost.failure = HttpFailure::Other;
        lost.error = u"no answer within 30 s"_s;
        responses.push_back(answer ? std::move(*answer) : lost);
    }
    return responses;
}

HttpResponse fetch(HttpClient &http, const HttpRequest &request)
{
    return fetchAll(http, { request }).front();
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

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT
    std::unique_ptr<LookupSite> m_site;

private slots:
    void init()
    {
        m_site = std::make_unique<LookupSite>();
        QVERIFY(m_site->listen());
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
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_http_client.moc"
