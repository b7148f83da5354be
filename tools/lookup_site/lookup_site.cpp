#include "lookup_site.h"

#include "platform/codepage.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <array>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace quernfold::site {

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kMaxHeadBytes = 64 * 1024;
constexpr qsizetype kMaxRequestBody = 1024 * 1024;
constexpr qint64 kStreamChunk = 64 * 1024;
constexpr int kTrickleIntervalMs = 20;
constexpr qsizetype kTrickleBytes = 512;
const QByteArray kGbkHtml = QByteArrayLiteral("text/html; charset=gbk");

struct NamedBehaviour {
    QStringView label;
    Behaviour behaviour;
};
constexpr std::array<NamedBehaviour, 20> kNamedBehaviours = { {
    { u"nomatch", Behaviour::NoMatch },
    { u"deleted", Behaviour::Deleted },
    { u"empty", Behaviour::EmptyBody },
    { u"e404", Behaviour::NotFound },
    { u"e500", Behaviour::ServerError },
    { u"nomarker", Behaviour::NoTableMarker },
    { u"fewcells", Behaviour::FewerCells },
    { u"rows", Behaviour::SeveralRows },
    { u"twomarkers", Behaviour::TwoMarkers },
    { u"wrappedholder", Behaviour::HolderWrapped },
    { u"bareholder", Behaviour::CellWithoutTag },
    { u"spaced", Behaviour::SpacedRecordNo },
    { u"unwrapped", Behaviour::UnwrappedRecordNo },
    { u"utf8", Behaviour::Utf8Page },
    { u"meta", Behaviour::MetaCharsetPage },
    { u"slow", Behaviour::Slow },
    { u"reset", Behaviour::ResetMidBody },
    { u"hang", Behaviour::HangAfterHeaders },
    { u"trickle", Behaviour::Trickle },
    { u"huge", Behaviour::Oversized },
} };

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 408:
        return "Request Timeout";
    case 429:
        return "Too Many Requests";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray responseHead(int status, const QByteArray &contentType, qint64 contentLength, bool keepAlive,
    const QByteArray &extraHeaders = {})
{
    QByteArray head;
    head.reserve(160);
    head += "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    head += extraHeaders;
    if (contentLength >= 0)
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += keepAlive ? QByteArrayView("Connection: keep-alive\r\n\r\n") : QByteArrayView("Connection: close\r\n\r\n");
    return head;
}

quint64 fnv1a(const QByteArray &bytes)
{
    quint64 hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

QString errorPageHtml(int status)
{
    const QString title = QString::number(status) + u' ' + QString::fromLatin1(reasonPhrase(status));
    const QString note
        = status == 404 ? QStringLiteral("您访问的页面不存在") : QStringLiteral("服务器繁忙，请稍后再试");
    return u"<html><head><title>"_s + title + u"</title></head><body><h1>"_s + title + u"</h1><p>"_s + note
        + u"</p></body></html>\n"_s;
}

} // namespace

QList<QByteArray> headerValues(const RecordedRequest &request, QByteArrayView name)
{
    QList<QByteArray> values;
    for (const auto &[headerName, value] : request.headers) {
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            values.append(value);
    }
    return values;
}

namespace {
QStringView firstLabel(const QString &domain)
{
    const qsizetype dot = domain.indexOf(u'.');
    return dot < 0 ? QStringView(domain) : QStringView(domain).first(dot);
}
} // namespace

FilingRecord expectedRecord(const QString &domain, int era)
{
    if (era > 0 && firstLabel(domain).compare(u"newholder", Qt::CaseInsensitive) == 0) {
        FilingRecord record = expectedRecord(domain);
        record.holder = expectedRecord(domain + u'#' + QString::number(era)).holder;
        return record;
    }
    static const QStringList provinces = { u"京"_s, u"沪"_s, u"浙"_s, u"粤"_s, u"苏"_s, u"川"_s, u"鄂"_s, u"闽"_s };
    static const QStringList cities = { u"北京"_s, u"上海"_s, u"杭州"_s, u"深圳"_s, u"南京"_s, u"成都"_s };
    static const QStringList words = { u"星辰"_s, u"云帆"_s, u"青石"_s, u"远山"_s, u"明月"_s, u"清泉"_s, u"松风"_s };
    static const QStringList companies = { u"科技有限公司"_s, u"网络科技有限公司"_s, u"信息技术有限公司"_s };
    static const QStringList surnames = { u"王"_s, u"李"_s, u"张"_s, u"刘"_s, u"陈"_s, u"杨"_s };
    static const QStringList givenNames = { u"伟"_s, u"芳"_s, u"静"_s, u"磊"_s, u"敏"_s, u"晓东"_s };
    static const QStringList siteKinds = { u"官网"_s, u"博客"_s, u"商城"_s, u"在线"_s, u"论坛"_s };

    quint64 h = fnv1a(domain.toUtf8());
    const auto pick = [&h](const QStringList &list) {
        const QString &chosen = list.at(qsizetype(h % quint64(list.size())));
        h /= quint64(list.size());
        return chosen;
    };
    const bool person = h % 4 == 0;
    h /= 4;

    FilingRecord record;
    const QString province = pick(provinces);
    const quint64 number = 10000000 + h % 90000000;
    h /= 90000000;
    record.recordNo = province + u"ICP备"_s + QString::number(number) + u"号-"_s + QString::number(1 + h % 3);
    h /= 3;
    if (person) {
        record.holder = pick(surnames) + pick(givenNames);
        record.recordType = QStringLiteral("个人");
    } else {
        record.holder = pick(cities) + pick(words) + pick(companies);
        record.recordType = QStringLiteral("企业");
    }
    record.siteName = pick(words) + pick(siteKinds);
    return record;
}

Behaviour behaviourByName(const QString &domain, int era)
{
    const QStringView label = firstLabel(domain);
    if (label.compare(u"newfiling", Qt::CaseInsensitive) == 0)
        return era > 0 ? Behaviour::Record : Behaviour::NoMatch;
    if (label.compare(u"cancelled", Qt::CaseInsensitive) == 0)
        return era > 0 ? Behaviour::NoMatch : Behaviour::Record;
    for (const NamedBehaviour &named : kNamedBehaviours) {
        if (label.compare(named.label, Qt::CaseInsensitive) == 0)
            return named.behaviour;
    }
    return Behaviour::Record;
}

QString resultPageHtml(const QString &domain, Behaviour behaviour, int era)
{
    const QString shownDomain = domain.toHtmlEscaped();
    const FilingRecord record = expectedRecord(domain, era);
    const QString id = QString::number(fnv1a(domain.toUtf8()) % 1000000);

    // Each raw cell carries its own closing tag, so a variant can leave one out.
    // A row ends with a cell linking the site's home page, unless it is cut short on purpose.
    const auto row
        = [&](int position, const QStringList &rawCells, const QString &rowAttributes = {}, bool homeCell = true) {
              QString html = u"<tr"_s + rowAttributes + u">\n<td>"_s + QString::number(position) + u"</td>\n"_s;
              for (const QString &cell : rawCells)
                  html += u"<td>"_s + cell + u'\n';
              if (homeCell)
                  html += u"<td><a href=\"http://www."_s + shownDomain + u"\">www."_s + shownDomain + u"</a></td>\n"_s;
              return html + u"</tr>\n"_s;
          };
    const auto holderCell = [&](const FilingRecord &r) {
        return r.holder + u"<a class=\"more\" href=\"/company/"_s + id + u".html\">详情</a></td>"_s;
    };
    const auto numberCell = [&](const QString &recordNo) {
        return u"<a href=\"/icp/"_s + id + u".html\" target=\"_blank\">"_s + recordNo + u"</a></td>"_s;
    };
    const auto fullRow = [&](int position, const FilingRecord &r, const QString &rowAttributes = {}) {
        return row(position,
            { holderCell(r), r.recordType + u"</td>"_s, numberCell(r.recordNo), r.siteName + u"</td>"_s },
            rowAttributes);
    };
    const auto table = [](const QString &rows) {
        return u"<table class=\"list\">\n<thead><tr><th>序号</th><th>主办单位名称</th><th>主办单位性质</th>"_s
               u"<th>网站备案号</th><th>网站名称</th><th>网站首页网址</th></tr></thead>\n"_s
               u"<tbody id=\"table_tr\">\n"_s
            + rows + u"</tbody>\n</table>\n"_s;
    };

    QString extraHead;
    QString content;
    switch (behaviour) {
    case Behaviour::NoMatch:
        content = QStringLiteral("<div class=\"empty\">没有符合条件的记录，请核对后重新查询</div>\n");
        break;
    case Behaviour::Deleted:
        content = table(fullRow(1, record, QStringLiteral(" style=\"color:#CCCCCC;\"")));
        break;
    case Behaviour::NotFound:
        return errorPageHtml(404);
    case Behaviour::ServerError:
        return errorPageHtml(500);
    case Behaviour::NoTableMarker:
        content = QStringLiteral("<div class=\"notice\">系统维护中，请稍后再试</div>\n<table><tbody><tr><td>维护</td>"
                                 "<td>公告</td></tr></tbody></table>\n");
        break;
    case Behaviour::FewerCells:
        content = table(row(1, { holderCell(record), record.recordType + u"</td>"_s }, {}, false));
        break;
    case Behaviour::SeveralRows:
        content = table(fullRow(1, record) + fullRow(2, expectedRecord(u"second."_s + domain))
            + fullRow(3, expectedRecord(u"third."_s + domain)));
        break;
    case Behaviour::TwoMarkers:
        content = table(fullRow(1, record)) + table(fullRow(1, expectedRecord(u"decoy."_s + domain)));
        break;
    case Behaviour::HolderWrapped:
        content = table(row(1,
            { u"<span class=\"name\">"_s + record.holder + u"</span></td>"_s, record.recordType + u"</td>"_s,
                numberCell(record.recordNo), record.siteName + u"</td>"_s }));
        break;
    case Behaviour::CellWithoutTag:
        content = table(row(1,
            { record.holder, record.recordType + u"</td>"_s, numberCell(record.recordNo),
                record.siteName + u"</td>"_s }));
        break;
    case Behaviour::SpacedRecordNo:
        content = table(row(1,
            { holderCell(record), record.recordType + u"</td>"_s, numberCell(u"  "_s + record.recordNo + u"  "_s),
                u" "_s + record.siteName + u"</td>"_s }));
        break;
    case Behaviour::UnwrappedRecordNo:
        content = table(row(1,
            { holderCell(record), record.recordType + u"</td>"_s, record.recordNo + u"</td>"_s,
                record.siteName + u"</td>"_s }));
        break;
    case Behaviour::MetaCharsetPage:
        extraHead = QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\n");
        content = table(fullRow(1, record));
        break;
    default:
        content = table(fullRow(1, record));
        break;
    }
    return u"<!DOCTYPE html>\n<html>\n<head>\n"_s + extraHead + u"<title>"_s + shownDomain
        + u" 备案查询</title>\n</head>\n<body>\n<div class=\"search\"><input name=\"q\" value=\""_s + shownDomain
        + u"\"></div>\n"_s + content + u"<div class=\"foot\">数据仅供参考</div>\n</body>\n</html>\n"_s;
}

// One client connection: reads requests one after another and answers each before reading the next.
class SiteConnection : public QObject
{
public:
    SiteConnection(LookupSite *site, QTcpSocket *socket)
        : QObject(site)
        , m_site(site)
        , m_socket(socket)
    {
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &SiteConnection::processInput);
        connect(socket, &QTcpSocket::bytesWritten, this, &SiteConnection::onBytesWritten);
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket->state() == QAbstractSocket::UnconnectedState)
                deleteLater();
        });
    }

    bool keepAlive() const { return m_keepAlive; }

    void reply(int status, const QByteArray &contentType, const QByteArray &body, const QByteArray &extraHeaders = {})
    {
        m_socket->write(responseHead(status, contentType, body.size(), m_keepAlive, extraHeaders) + body);
        finishResponse();
    }

    // The answer goes out later; requests behind it wait.
    void replyLater(int delayMs, int status, const QByteArray &contentType, const QByteArray &body,
        const QByteArray &extraHeaders = {})
    {
        m_busy = true;
        QTimer::singleShot(delayMs, this, [this, status, contentType, body, extraHeaders] {
            m_busy = false;
            reply(status, contentType, body, extraHeaders);
            processInput();
        });
    }

    void streamBody(const QByteArray &contentType, qint64 size)
    {
        m_busy = true;
        m_socket->write(responseHead(200, contentType, size, m_keepAlive));
        m_streamLeft = size;
        onBytesWritten();
    }

    void resetMidBody(const QByteArray &contentType, const QByteArray &body)
    {
        m_busy = true;
        m_socket->write(responseHead(200, contentType, body.size(), true) + body.first(body.size() / 3));
        m_resetWhenFlushed = true;
    }

    void hang(const QByteArray &contentType)
    {
        m_busy = true;
        m_socket->write(responseHead(200, contentType, 65536, true));
    }

    void trickle(const QByteArray &contentType)
    {
        m_busy = true;
        m_socket->write(responseHead(200, contentType, -1, false));
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { m_socket->write(QByteArray(kTrickleBytes, ' ')); });
        timer->start(kTrickleIntervalMs);
    }

private:
    void processInput()
    {
        if (m_busy || m_closing)
            return;
        m_buffer += m_socket->readAll();
        while (!m_busy && !m_closing) {
            RecordedRequest request;
            if (!takeRequest(request))
                return;
            const QPointer<SiteConnection> alive(this);
            m_site->handleRequest(this, request);
            if (!alive)
                return;
        }
    }

    // Cuts one complete request off the buffer. False when more bytes are needed or the input was refused.
    bool takeRequest(RecordedRequest &request)
    {
        while (m_buffer.startsWith("\r\n"))
            m_buffer.remove(0, 2);
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_buffer.size() > kMaxHeadBytes)
                refuse(431);
            return false;
        }
        if (headEnd > kMaxHeadBytes) {
            refuse(431);
            return false;
        }
        const QList<QByteArray> lines = m_buffer.first(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")) {
            refuse(400);
            return false;
        }
        request.method = requestLine.at(0);
        request.target = requestLine.at(1);
        const bool http10 = requestLine.at(2) == "HTTP/1.0";

        qint64 contentLength = 0;
        bool keepAlive = !http10;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray &line = lines.at(i);
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                refuse(400);
                return false;
            }
            const QByteArray name = line.first(colon).trimmed();
            const QByteArray value = line.sliced(colon + 1).trimmed();
            request.headers.append({ name, value });
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
                bool ok = false;
                contentLength = value.toLongLong(&ok);
                if (!ok || contentLength < 0) {
                    refuse(400);
                    return false;
                }
            } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
                refuse(501);
                return false;
            } else if (name.compare("Connection", Qt::CaseInsensitive) == 0) {
                const QByteArray token = value.toLower();
                if (token.contains("close"))
                    keepAlive = false;
                else if (token.contains("keep-alive"))
                    keepAlive = true;
            }
        }
        if (contentLength > kMaxRequestBody) {
            refuse(413);
            return false;
        }
        const qsizetype total = headEnd + 4 + qsizetype(contentLength);
        if (m_buffer.size() < total)
            return false;
        request.body = m_buffer.sliced(headEnd + 4, qsizetype(contentLength));
        m_buffer.remove(0, total);
        m_keepAlive = keepAlive;
        return true;
    }

    void refuse(int status)
    {
        m_keepAlive = false;
        reply(status, QByteArrayLiteral("text/plain"), reasonPhrase(status) + '\n');
    }

    void finishResponse()
    {
        if (!m_keepAlive) {
            m_closing = true;
            m_socket->disconnectFromHost();
        }
    }

    void onBytesWritten()
    {
        if (m_resetWhenFlushed && m_socket->bytesToWrite() == 0) {
            m_resetWhenFlushed = false;
#ifdef Q_OS_UNIX
            // A zero linger time makes the close send RST instead of FIN: the client sees a reset, not an
            // orderly end.
            const linger hardClose { 1, 0 };
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
#endif
            m_socket->abort();
            return;
        }
        if (m_streamLeft <= 0)
            return;
        static const QByteArray filler = QByteArray(kStreamChunk, 'x');
        while (m_streamLeft > 0 && m_socket->bytesToWrite() < 4 * kStreamChunk) {
            const qint64 n = qMin(m_streamLeft, kStreamChunk);
            m_socket->write(filler.constData(), n);
            m_streamLeft -= n;
        }
        if (m_streamLeft == 0) {
            m_busy = false;
            finishResponse();
            QTimer::singleShot(0, this, &SiteConnection::processInput);
        }
    }

    LookupSite *m_site;
    QTcpSocket *m_socket;
    QByteArray m_buffer;
    bool m_keepAlive = true;
    bool m_busy = false;
    bool m_closing = false;
    bool m_resetWhenFlushed = false;
    qint64 m_streamLeft = 0;
};

LookupSite::LookupSite(QObject *parent)
    : QObject(parent)
{
    m_versionBody = QByteArrayLiteral(R"({"result":"1","info":{"version":"2.0","sid":"1","must":"0"}})");
    connect(&m_server, &QTcpServer::newConnection, this, &LookupSite::onNewConnection);
}

LookupSite::~LookupSite()
{
    m_server.close();
}

bool LookupSite::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

quint16 LookupSite::port() const
{
    return m_server.serverPort();
}

QString LookupSite::baseUrl() const
{
    return u"http://127.0.0.1:"_s + QString::number(port());
}

void LookupSite::setVersionReply(const QByteArray &body, int status)
{
    m_versionBody = body;
    m_versionStatus = status;
}

void LookupSite::setBehaviour(const QString &domain, Behaviour behaviour)
{
    m_behaviours.insert(domain, behaviour);
}

void LookupSite::setReply(const QString &domain, const QByteArray &body, int status, const QByteArray &contentType,
    const QByteArray &extraHeaders)
{
    m_replies.insert(domain, CustomReply { status, contentType, body, extraHeaders });
}

void LookupSite::clearScript()
{
    m_behaviours.clear();
    m_replies.clear();
}

Behaviour LookupSite::behaviourFor(const QString &domain) const
{
    return m_behaviours.value(domain, behaviourByName(domain, m_era));
}

void LookupSite::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_connectionCount;
        new SiteConnection(this, socket);
    }
}

void LookupSite::handleRequest(SiteConnection *connection, const RecordedRequest &request)
{
    if (m_recording)
        m_requests.append(request);
    const QPointer<SiteConnection> alive(connection);
    emit requestReceived();
    if (!alive)
        return;

    // A client that takes us for its proxy sends the absolute address; the path is what we serve either way.
    QByteArray target = request.target;
    if (target.startsWith("http://")) {
        const qsizetype pathStart = target.indexOf('/', 7);
        target = pathStart < 0 ? QByteArray("/") : target.sliced(pathStart);
    }
    const qsizetype queryStart = target.indexOf('?');
    const QByteArray path = queryStart < 0 ? target : target.first(queryStart);
    if (request.method == "POST" && path == "/index.php/Index/soft_version") {
        connection->reply(m_versionStatus, QByteArrayLiteral("text/html; charset=utf-8"), m_versionBody);
        return;
    }
    const QByteArrayView prefix = "/s-0/";
    const QByteArrayView suffix = ".html";
    if (request.method == "GET" && path.startsWith(prefix) && path.endsWith(suffix)
        && path.size() >= prefix.size() + suffix.size()) {
        const QByteArray encoded = path.sliced(prefix.size(), path.size() - prefix.size() - suffix.size());
        serveDomain(connection, QString::fromUtf8(QByteArray::fromPercentEncoding(encoded)));
        return;
    }
    connection->reply(404, kGbkHtml, codepage::toNarrow(errorPageHtml(404)));
}

void LookupSite::serveDomain(SiteConnection *connection, const QString &domain)
{
    if (const auto custom = m_replies.constFind(domain); custom != m_replies.cend()) {
        connection->reply(custom->status, custom->contentType, custom->body, custom->extraHeaders);
        return;
    }
    const Behaviour behaviour = behaviourFor(domain);
    const auto gbkPage = [&] { return codepage::toNarrow(resultPageHtml(domain, behaviour, m_era)); };
    if (m_latencyMs > 0 && behaviour == Behaviour::Record) {
        connection->replyLater(m_latencyMs, 200, kGbkHtml, gbkPage());
        return;
    }
    switch (behaviour) {
    case Behaviour::EmptyBody:
        connection->reply(200, kGbkHtml, {});
        return;
    case Behaviour::NotFound:
        connection->reply(404, kGbkHtml, gbkPage());
        return;
    case Behaviour::ServerError:
        connection->reply(500, kGbkHtml, gbkPage());
        return;
    case Behaviour::Utf8Page:
        connection->reply(
            200, QByteArrayLiteral("text/html; charset=utf-8"), resultPageHtml(domain, behaviour, m_era).toUtf8());
        return;
    case Behaviour::MetaCharsetPage:
        connection->reply(200, QByteArrayLiteral("text/html"), gbkPage());
        return;
    case Behaviour::Slow:
        connection->replyLater(m_slowDelayMs, 200, kGbkHtml, gbkPage());
        return;
    case Behaviour::ResetMidBody:
        connection->resetMidBody(kGbkHtml, gbkPage());
        return;
    case Behaviour::HangAfterHeaders:
        connection->hang(kGbkHtml);
        return;
    case Behaviour::Trickle:
        connection->trickle(kGbkHtml);
        return;
    case Behaviour::Oversized:
        connection->streamBody(kGbkHtml, m_oversizedBytes);
        return;
    default:
        connection->reply(200, kGbkHtml, gbkPage());
        return;
    }
}

} // namespace quernfold::site
