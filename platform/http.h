#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

namespace quernfold {

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

struct HttpResponse {
    // False when no complete reply arrived: refused, not resolved, reset, TLS failure, timeout, over the size
    // limit, or aborted because the program is closing. An HTTP error status is not a failure.
    bool ok = false;
    QString error;
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

// Blocking HTTP on the user-interface thread: each call waits in a nested event loop, so the window keeps
// handling events while a request is outstanding.
class HttpClient
{
public:
    virtual ~HttpClient() = default;
    virtual HttpResponse get(const QUrl &url, const HttpHeaders &headers) = 0;
    virtual HttpResponse post(const QUrl &url, const HttpHeaders &headers, const QByteArray &body) = 0;
    // Ends every outstanding request at once; they return as failed. Used when the program is closing.
    virtual void abortAll() = 0;
};

} // namespace quernfold
