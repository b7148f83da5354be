#include "qnam_http_client.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <vector>

namespace quernfold {

namespace {

// Qt reports an HTTP error status as a reply error too; for us those replies are complete answers.
bool isStatusError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

HttpFailure failureFor(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return HttpFailure::Refused;
    case QNetworkReply::HostNotFoundError:
        return HttpFailure::HostNotFound;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return HttpFailure::ConnectionLost;
    case QNetworkReply::TimeoutError:
        return HttpFailure::NoData;
    case QNetworkReply::SslHandshakeFailedError:
        return HttpFailure::Tls;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return HttpFailure::ProxyUnreachable;
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
        return HttpFailure::Proxy;
    default:
        return HttpFailure::Other;
    }
}

} // namespace

QnamHttpClient::QnamHttpClient(int noDataTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
    , m_noDataTimeoutMs(qMax(0, noDataTimeoutMs))
{
    m_manager->setAutoDeleteReplies(false);
    connect(&m_watchdog, &QTimer::timeout, this, &QnamHttpClient::checkTimes);
    m_clock.start();
}

QnamHttpClient::~QnamHttpClient()
{
    abortAll();
}

HttpClient::RequestId QnamHttpClient::start(const HttpRequest &request, Callback done)
{
    QNetworkRequest qRequest(request.url);
    for (const auto &[name, value] : request.headers)
        qRequest.setRawHeader(name, value);
    qRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    qRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    qRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    qRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    qRequest.setTransferTimeout(0);

    const RequestId id = m_nextId++;
    Transfer &t = m_transfers[id];
    t.done = std::move(done);
    t.limit = request.bodyLimit;
    t.deadlineMs = request.deadlineMs;
    t.startedMs = t.lastDataMs = m_clock.elapsed();
    t.reply = request.method == "POST" ? m_manager->post(qRequest, request.body) : m_manager->get(qRequest);
    connect(t.reply, &QNetworkReply::readyRead, this, [this, id] {
        const auto found = m_transfers.find(id);
        if (found != m_transfers.end())
            drain(found->second);
    });
    connect(t.reply, &QNetworkReply::finished, this, [this, id] { finish(id); });
    if (!m_watchdog.isActive())
        m_watchdog.start(qBound(10, m_noDataTimeoutMs > 0 ? m_noDataTimeoutMs / 10 : 500, 500));
    return id;
}

void QnamHttpClient::drain(Transfer &t)
{
    t.lastDataMs = m_clock.elapsed();
    if (t.overLimit || !t.reply->isOpen())
        return;
    const qint64 room = t.limit > 0 ? t.limit + 1 - t.body.size() : t.reply->bytesAvailable();
    t.body += t.reply->read(qMin(t.reply->bytesAvailable(), room));
    if (t.limit > 0 && t.body.size() > t.limit) {
        t.overLimit = true;
        t.forced = HttpFailure::TooLarge;
        t.reply->abort();
    }
}

void QnamHttpClient::finish(RequestId id)
{
    const auto found = m_transfers.find(id);
    if (found == m_transfers.end())
        return;
    Transfer t = std::move(found->second);
    m_transfers.erase(found);
    drain(t);
    QNetworkReply *reply = t.reply;
    reply->disconnect(this);
    reply->deleteLater();

    HttpResponse response;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    response.status = status.isValid() ? status.toInt() : 0;
    response.contentType = reply->rawHeader("Content-Type");
    if (reply->hasRawHeader("Retry-After"))
        response.retryAfterSeconds = qMax(0, reply->rawHeader("Retry-After").toInt());
    const QNetworkReply::NetworkError error = reply->error();
    if (t.forced != HttpFailure::None)
        response.failure = t.forced;
    else if (error != QNetworkReply::NoError && !(status.isValid() && isStatusError(error)))
        response.failure = failureFor(error);
    if (response.ok())
        response.body = std::move(t.body);
    else
        response.error = reply->errorString();
    if (m_transfers.empty())
        m_watchdog.stop();
    if (t.done)
        t.done(std::move(response));
}

void QnamHttpClient::cancel(RequestId id)
{
    const auto found = m_transfers.find(id);
    if (found == m_transfers.end())
        return;
    QNetworkReply *reply = found->second.reply;
    m_transfers.erase(found);
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void QnamHttpClient::abortAll()
{
    std::vector<RequestId> ids;
    for (const auto &entry : m_transfers)
        ids.push_back(entry.first);
    for (RequestId id : ids)
        cancel(id);
}

void QnamHttpClient::checkTimes()
{
    const qint64 now = m_clock.elapsed();
    std::vector<QNetworkReply *> late;
    for (auto &[id, t] : m_transfers) {
        if (t.deadlineMs > 0 && now - t.startedMs >= t.deadlineMs)
            t.forced = HttpFailure::Deadline;
        else if (m_noDataTimeoutMs > 0 && now - t.lastDataMs >= m_noDataTimeoutMs)
            t.forced = HttpFailure::NoData;
        else
            continue;
        late.push_back(t.reply);
    }
    // abort() finishes the reply, which runs finish() and its callback.
    for (QNetworkReply *reply : late)
        reply->abort();
}

} // namespace quernfold
