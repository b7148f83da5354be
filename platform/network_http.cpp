#include "platform/network_http.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QScopeGuard>

namespace quernfold {

struct NetworkHttpClient::Pending {
    QNetworkReply *reply = nullptr;
    QByteArray body;
    bool aborted = false;
    bool overLimit = false;
};

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

} // namespace

NetworkHttpClient::NetworkHttpClient(int transferTimeoutMs, qint64 bodyLimit)
    : m_timeoutMs(qMax(0, transferTimeoutMs))
    , m_bodyLimit(qMax<qint64>(0, bodyLimit))
{ }

NetworkHttpClient::~NetworkHttpClient()
{
    abortAll();
}

QNetworkAccessManager &NetworkHttpClient::sharedManager()
{
    // Parented to the application so it goes away before Qt does; recreated if a new application appears.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

HttpResponse NetworkHttpClient::get(const QUrl &url, const HttpHeaders &headers)
{
    return send(url, headers, nullptr);
}

HttpResponse NetworkHttpClient::post(const QUrl &url, const HttpHeaders &headers, const QByteArray &body)
{
    return send(url, headers, &body);
}

void NetworkHttpClient::abortAll()
{
    // abort() finishes the reply synchronously; the waiting calls notice when their loops regain control.
    const QList<Pending *> pending = m_pending;
    for (Pending *p : pending) {
        p->aborted = true;
        p->reply->abort();
    }
}

HttpResponse NetworkHttpClient::send(const QUrl &url, const HttpHeaders &headers, const QByteArray *postBody)
{
    QNetworkRequest request(url);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    request.setTransferTimeout(m_timeoutMs);

    QNetworkAccessManager &manager = sharedManager();
    Pending pending;
    pending.reply = postBody ? manager.post(request, *postBody) : manager.get(request);
    QNetworkReply *reply = pending.reply;
    m_pending.append(&pending);
    const auto release = qScopeGuard([this, &pending, reply] {
        m_pending.removeOne(&pending);
        reply->deleteLater();
    });

    QEventLoop loop;
    // Draining as data arrives keeps Qt's own buffer small and lets the limit end an endless body early.
    const auto drain = [this, &pending, reply] {
        // An aborted or timed-out reply is closed; reading it again only draws a warning.
        if (pending.overLimit || pending.aborted || !reply->isOpen())
            return;
        // One byte past the limit is enough to know the body is too long.
        const qint64 room = m_bodyLimit + 1 - pending.body.size();
        pending.body += reply->read(qMin(reply->bytesAvailable(), room));
        if (pending.body.size() > m_bodyLimit) {
            pending.overLimit = true;
            pending.body.truncate(m_bodyLimit);
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, drain);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    // The loop also returns when the whole program is asked to end (every event loop quits then); a reply still
    // running at that point is given up, never mistaken for a complete empty one.
    if (!reply->isFinished()) {
        pending.aborted = true;
        reply->abort();
    }

    drain();

    HttpResponse response;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    response.status = status.isValid() ? status.toInt() : 0;
    response.contentType = reply->rawHeader("Content-Type");
    response.body = std::move(pending.body);

    const QNetworkReply::NetworkError error = reply->error();
    if (pending.aborted) {
        response.error = QStringLiteral("aborted");
    } else if (pending.overLimit) {
        response.error = QStringLiteral("body larger than %1 bytes").arg(m_bodyLimit);
    } else if (error == QNetworkReply::NoError || (status.isValid() && isStatusError(error))) {
        response.ok = true;
    } else if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        // Nobody but the transfer timeout cancels a reply we did not abort ourselves.
        response.error = QStringLiteral("no data for %1 ms").arg(m_timeoutMs);
    } else {
        response.error = reply->errorString();
    }
    return response;
}

} // namespace quernfold
