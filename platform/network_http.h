#pragma once

#include "platform/http.h"

#include <QList>

class QNetworkAccessManager;

namespace quernfold {

// HttpClient on the process's one QNetworkAccessManager, so connections to a host are reused across calls.
// Each call sends a fresh request and waits for it in a nested event loop.
class NetworkHttpClient : public HttpClient
{
public:
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr qint64 kDefaultBodyLimit = 16 * 1024 * 1024;

    // transferTimeoutMs: a request that receives nothing for this long fails (0 waits for ever).
    // bodyLimit: a body longer than this is cut off and the call fails.
    explicit NetworkHttpClient(int transferTimeoutMs = kDefaultTimeoutMs, qint64 bodyLimit = kDefaultBodyLimit);
    ~NetworkHttpClient() override;
    NetworkHttpClient(const NetworkHttpClient &) = delete;
    NetworkHttpClient &operator=(const NetworkHttpClient &) = delete;

    HttpResponse get(const QUrl &url, const HttpHeaders &headers) override;
    HttpResponse post(const QUrl &url, const HttpHeaders &headers, const QByteArray &body) override;
    void abortAll() override;

    // Created on first use, owned by the application object.
    static QNetworkAccessManager &sharedManager();

private:
    struct Pending;
    HttpResponse send(const QUrl &url, const HttpHeaders &headers, const QByteArray *postBody);

    int m_timeoutMs;
    qint64 m_bodyLimit;
    QList<Pending *> m_pending;
};

} // namespace quernfold
