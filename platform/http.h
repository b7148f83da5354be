#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

namespace quernfold {

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// Why no complete reply arrived. An HTTP error status is not among them: it is a reply.
enum class HttpFailure {
    None,
    Refused, // nothing listens at the address
    HostNotFound,
    ConnectionLost, // reset, closed early, nothing or half a reply
    NoData, // nothing arrived for the client's no-data timeout
    Deadline, // the request's total time ran out
    TooLarge, // the body is over the request's limit
    Tls, // handshake or certificate check failed
    // The proxy itself could not be reached (not found, or nothing listens there): no request can get through it.
    ProxyUnreachable,
    Proxy, // the proxy was reached but would not carry the request
    // The site answered, but with an address we cannot follow: malformed, or a scheme other than http and https
    // (also where a redirect led). Asking again gives the same answer.
    BadAddress,
    TooManyRedirects, // the site answered, with redirects that went on past the client's limit
    Other,
};

struct HttpRequest {
    static constexpr qint64 kDefaultBodyLimit = 16 * 1024 * 1024;

    QByteArray method = QByteArrayLiteral("GET"); // GET or POST
    QUrl url;
    HttpHeaders headers;
    QByteArray body; // sent with POST only
    qint64 bodyLimit = kDefaultBodyLimit;
    int deadlineMs = 0; // whole request, from start to last byte; 0 for none
    // "" connects directly; otherwise "http://host:port" or "socks5://host:port". Callers resolve the user's
    // choice and the environment before they get here (platform/proxy.h).
    QByteArray proxy;
};

struct HttpResponse {
    HttpFailure failure = HttpFailure::None;
    QString error; // what the transport said, for the curious; empty on success
    // The system's error number behind a connection that could not be made (ECONNREFUSED...), 0 when there is none.
    int systemError = 0;
    int status = 0;
    QByteArray contentType;
    QByteArray body;
    // Seconds the server asked us to wait (Retry-After, as seconds or as a date), or -1 when it did not ask.
    qint64 retryAfterSeconds = -1;

    bool ok() const { return failure == HttpFailure::None; }
};

// Asynchronous HTTP on the user-interface thread: start() returns at once and the callback runs later from the
// event loop, exactly once, unless the request is cancelled first. Nothing in the program waits for a reply.
class HttpClient
{
public:
    using RequestId = quint64;
    using Callback = std::function<void(HttpResponse &&)>;

    virtual ~HttpClient() = default;
    // Never calls done before returning, so a caller may start requests from inside a callback.
    virtual RequestId start(const HttpRequest &request, Callback done) = 0;
    // Forgets the request; its callback is never called. Unknown or finished ids are ignored.
    virtual void cancel(RequestId id) = 0;
    // Cancels every outstanding request. Used when the program is closing.
    virtual void abortAll() = 0;
};

} // namespace quernfold
