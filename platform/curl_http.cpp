#include "platform/curl_http.h"

#include <QSocketNotifier>

#include <curl/curl.h>

#include <mutex>

#include <sys/socket.h>
#include <unistd.h>

namespace quernfold {

namespace {

constexpr size_t kIdleHandlesKept = 32;
constexpr int kFinestWatchMs = 10;
constexpr int kCoarsestWatchMs = 500;
constexpr char kUserAgent[] = "Mozilla/5.0 (compatible; Quernfold/" QUERNFOLD_VERSION ")";

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpFailure failureFor(CURLcode code, bool overLimit, bool viaProxy)
{
    switch (code) {
    case CURLE_OK:
        return HttpFailure::None;
    // Through a proxy the only connection curl makes is the one to the proxy; what lies beyond it fails otherwise
    // (CURLE_PROXY, or the proxy's own reply).
    case CURLE_COULDNT_CONNECT:
        return viaProxy ? HttpFailure::ProxyUnreachable : HttpFailure::Refused;
    case CURLE_COULDNT_RESOLVE_HOST:
        return HttpFailure::HostNotFound;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HttpFailure::ProxyUnreachable;
    case CURLE_PROXY:
        return HttpFailure::Proxy;
    case CURLE_WRITE_ERROR:
        return overLimit ? HttpFailure::TooLarge : HttpFailure::Other;
    case CURLE_FILESIZE_EXCEEDED:
        return HttpFailure::TooLarge;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpFailure::NoData;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return HttpFailure::Tls;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return HttpFailure::ConnectionLost;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return HttpFailure::BadAddress;
    case CURLE_TOO_MANY_REDIRECTS:
        return HttpFailure::TooManyRedirects;
    default:
        return HttpFailure::Other;
    }
}

} // namespace

struct CurlHttpClient::Transfer {
    ~Transfer() { curl_slist_free_all(headers); }

    CurlHttpClient *client = nullptr;
    RequestId id = 0;
    CURL *easy = nullptr;
    Callback done;
    QByteArray url;
    QByteArray proxy;
    QByteArray postBody;
    curl_slist *headers = nullptr;
    QByteArray body;
    qint64 limit = 0;
    bool overLimit = false;
    bool sawRetryAfter = false;
    qint64 startedMs = 0;
    qint64 lastDataMs = 0;
    int deadlineMs = 0;
    HttpFailure forced = HttpFailure::None;
    char errorText[CURL_ERROR_SIZE] = {};
};

struct CurlHttpClient::SocketWatch {
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;
    bool wantRead = false;
    // A connection we opened, which curl closes through onCloseSocket. Any other socket it watches (the threaded
    // resolver's wake-up pair) it closes itself, without a word.
    bool connection = false;
};

CurlHttpClient::CurlHttpClient(int noDataTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_noDataTimeoutMs(qMax(0, noDataTimeoutMs))
{
    initCurlOnce();
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlHttpClient::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlHttpClient::onCurlTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_curlTimer.setSingleShot(true);
    connect(&m_curlTimer, &QTimer::timeout, this, &CurlHttpClient::curlTimerFired);
    connect(&m_watchdog, &QTimer::timeout, this, &CurlHttpClient::checkTimes);
    m_deliver.setSingleShot(true);
    connect(&m_deliver, &QTimer::timeout, this, [this] { takeFinished(); });
    m_clock.start();
}

CurlHttpClient::~CurlHttpClient()
{
    abortAll();
    for (void *easy : m_idleHandles)
        curl_easy_cleanup(easy);
    curl_multi_cleanup(m_multi);
}

HttpClient::RequestId CurlHttpClient::start(const HttpRequest &request, Callback done)
{
    auto transfer = std::make_unique<Transfer>();
    Transfer *t = transfer.get();
    t->client = this;
    t->id = m_nextId++;
    t->done = std::move(done);
    t->url = request.url.toEncoded();
    t->proxy = request.proxy;
    t->limit = request.bodyLimit;
    t->deadlineMs = request.deadlineMs;
    t->startedMs = t->lastDataMs = m_clock.elapsed();
    for (const auto &[name, value] : request.headers)
        t->headers = curl_slist_append(t->headers, QByteArray(name + ": " + value).constData());

    CURL *easy = nullptr;
    if (m_idleHandles.empty()) {
        easy = curl_easy_init();
        // What every request shares is set once per handle; handles are kept and reused.
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
        // Real sites compress; the body limit still applies to what the body becomes once decoded.
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlHttpClient::onBody);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlHttpClient::onHeader);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &CurlHttpClient::onOpenSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CurlHttpClient::onCloseSocket);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
        // Our caller chose the proxy, no_proxy included (platform/proxy.h); left unset, curl would apply the
        // environment's no_proxy once more, even to a proxy the user named, and send every lookup direct.
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    } else {
        easy = m_idleHandles.back();
        m_idleHandles.pop_back();
    }
    t->easy = easy;
    curl_easy_setopt(easy, CURLOPT_URL, t->url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
    // An empty proxy also keeps curl from reading the environment itself: that choice was made by our caller.
    curl_easy_setopt(easy, CURLOPT_PROXY, t->proxy.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t->headers);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->errorText);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(qMax<qint64>(0, t->limit)));
    if (request.method == "POST") {
        t->postBody = request.body;
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(t->postBody.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, t->postBody.constData());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }

    const RequestId id = t->id;
    m_transfers.emplace(id, std::move(transfer));
    if (curl_multi_add_handle(m_multi, easy) == CURLM_OK) {
        // Sending now rather than on curl's zero timer saves a turn of the event loop for every request.
        int running = 0;
        curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
        takeFinished(false);
    } else {
        t->forced = HttpFailure::Other;
        m_done.emplace_back(id, int(CURLE_FAILED_INIT));
    }
    // Whatever finished meanwhile is reported from the event loop, so the caller never sees it inside start().
    if (!m_done.empty())
        m_deliver.start(0);
    armWatchdog();
    return id;
}

void CurlHttpClient::cancel(RequestId id)
{
    std::unique_ptr<Transfer> transfer = detach(id);
    if (transfer)
        recycle(transfer->easy);
}

void CurlHttpClient::abortAll()
{
    std::vector<RequestId> ids;
    ids.reserve(m_transfers.size());
    for (const auto &entry : m_transfers)
        ids.push_back(entry.first);
    for (RequestId id : ids)
        cancel(id);
}

int CurlHttpClient::onSocket(void *, int socket, int what, void *client, void *)
{
    static_cast<CurlHttpClient *>(client)->watchSocket(socket, what);
    return 0;
}

int CurlHttpClient::onCurlTimer(void *, long timeoutMs, void *client)
{
    auto *self = static_cast<CurlHttpClient *>(client);
    if (timeoutMs < 0)
        self->m_curlTimer.stop();
    else
        self->m_curlTimer.start(int(qMin<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

size_t CurlHttpClient::onBody(char *data, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    const size_t bytes = size * count;
    t->lastDataMs = t->client->m_clock.elapsed();
    if (t->limit > 0 && t->body.size() + qint64(bytes) > t->limit) {
        t->overLimit = true;
        return 0; // curl ends the transfer with a write error
    }
    t->body.append(data, qsizetype(bytes));
    return bytes;
}

size_t CurlHttpClient::onHeader(char *data, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    const size_t bytes = size * count;
    t->lastDataMs = t->client->m_clock.elapsed();
    const QByteArrayView line(data, qsizetype(bytes));
    // Each response of a redirect chain starts with its status line; only the last one's headers count.
    if (line.startsWith("HTTP/"))
        t->sawRetryAfter = false;
    else if (line.size() > 12 && QByteArrayView(line.first(12)).compare("retry-after:", Qt::CaseInsensitive) == 0)
        t->sawRetryAfter = true;
    return bytes;
}

void CurlHttpClient::watchSocket(int socket, int what)
{
    // A connection's notifiers live as long as the connection: curl hands a kept-alive connection back and forth
    // between requests, and switching a notifier on or off costs the event loop a wake-up of its own. So between
    // two requests the read notifier stays on; should the idle connection become readable (the site closed it),
    // socketReady() switches it off then. The close callback ends them.
    const auto found = m_sockets.find(socket);
    if (what == CURL_POLL_REMOVE) {
        if (found == m_sockets.end())
            return;
        if (!found->second->connection) {
            // No close callback will come for it, and curl may have closed it already: a notifier left on would
            // watch a closed number, or whatever is given that number next.
            forgetSocket(socket);
            return;
        }
        found->second->wantRead = false;
        // A connected socket is always writable: left on, this one would fire on every turn.
        if (found->second->write)
            found->second->write->setEnabled(false);
        return;
    }
    SocketWatch *watch = found == m_sockets.end()
        ? m_sockets.emplace(socket, std::make_unique<SocketWatch>()).first->second.get()
        : found->second.get();
    if (!watch->read) {
        watch->read = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        watch->write = new QSocketNotifier(socket, QSocketNotifier::Write, this);
        watch->read->setEnabled(false);
        watch->write->setEnabled(false);
        connect(
            watch->read, &QSocketNotifier::activated, this, [this, socket] { socketReady(socket, CURL_CSELECT_IN); });
        connect(
            watch->write, &QSocketNotifier::activated, this, [this, socket] { socketReady(socket, CURL_CSELECT_OUT); });
    }
    watch->wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (watch->wantRead && !watch->read->isEnabled())
        watch->read->setEnabled(true);
    if (watch->write->isEnabled() != wantWrite)
        watch->write->setEnabled(wantWrite);
}

int CurlHttpClient::onOpenSocket(void *client, int, void *address)
{
    auto *self = static_cast<CurlHttpClient *>(client);
    const auto *where = static_cast<const curl_sockaddr *>(address);
    // Close-on-exec, so a browser the program starts does not inherit its connections.
    const int socket = ::socket(where->family, where->socktype | SOCK_CLOEXEC, where->protocol);
    if (socket < 0)
        return CURL_SOCKET_BAD;
    // A watch still listed under this number belonged to a socket that has been closed since.
    self->forgetSocket(socket);
    auto watch = std::make_unique<SocketWatch>();
    watch->connection = true;
    self->m_sockets.emplace(socket, std::move(watch));
    return socket;
}

int CurlHttpClient::onCloseSocket(void *client, int socket)
{
    static_cast<CurlHttpClient *>(client)->forgetSocket(socket);
    return ::close(socket);
}

void CurlHttpClient::forgetSocket(int socket)
{
    const auto found = m_sockets.find(socket);
    if (found == m_sockets.end())
        return;
    // We may be inside one of these notifiers' own signals.
    for (QSocketNotifier *notifier : { found->second->read, found->second->write }) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_sockets.erase(found);
}

void CurlHttpClient::socketReady(int socket, int event)
{
    const auto found = m_sockets.find(socket);
    if (found != m_sockets.end() && event == CURL_CSELECT_IN && !found->second->wantRead) {
        // An idle kept-alive connection; curl looks at it again when it wants to reuse it.
        found->second->read->setEnabled(false);
        return;
    }
    int running = 0;
    curl_multi_socket_action(m_multi, socket, event, &running);
    takeFinished();
}

void CurlHttpClient::curlTimerFired()
{
    int running = 0;
    curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
    takeFinished();
}

void CurlHttpClient::takeFinished(bool deliver)
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        Transfer *t = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
        if (message->msg == CURLMSG_DONE && t)
            m_done.emplace_back(t->id, int(message->data.result));
    }
    if (!deliver)
        return;
    // Taken out first: a callback may start requests (which adds to m_done) or cancel ones still listed here.
    const std::vector<std::pair<RequestId, int>> done = std::exchange(m_done, {});
    for (const auto &[id, code] : done) {
        const auto found = m_transfers.find(id);
        if (found != m_transfers.end())
            finish(found->second.get(), code);
    }
    if (!m_done.empty() && !m_deliver.isActive())
        m_deliver.start(0);
}

void CurlHttpClient::checkTimes()
{
    const qint64 now = m_clock.elapsed();
    std::vector<std::pair<RequestId, HttpFailure>> late;
    for (const auto &[id, t] : m_transfers) {
        if (t->deadlineMs > 0 && now - t->startedMs >= t->deadlineMs)
            late.emplace_back(id, HttpFailure::Deadline);
        else if (m_noDataTimeoutMs > 0 && now - t->lastDataMs >= m_noDataTimeoutMs)
            late.emplace_back(id, HttpFailure::NoData);
    }
    for (const auto &[id, failure] : late) {
        // An earlier callback in this loop may have cancelled it.
        const auto found = m_transfers.find(id);
        if (found == m_transfers.end())
            continue;
        found->second->forced = failure;
        finish(found->second.get(), CURLE_OK);
    }
    armWatchdog();
}

void CurlHttpClient::armWatchdog()
{
    if (m_transfers.empty()) {
        m_watchdog.stop();
        return;
    }
    // Fine enough that a short limit is kept to within a tenth of itself, coarse enough to cost nothing.
    int shortest = m_noDataTimeoutMs > 0 ? m_noDataTimeoutMs : kCoarsestWatchMs * 10;
    for (const auto &entry : m_transfers) {
        if (entry.second->deadlineMs > 0)
            shortest = qMin(shortest, entry.second->deadlineMs);
    }
    const int interval = qBound(kFinestWatchMs, shortest / 10, kCoarsestWatchMs);
    if (!m_watchdog.isActive() || m_watchdog.interval() > interval)
        m_watchdog.start(interval);
}

void CurlHttpClient::finish(Transfer *t, int curlCode)
{
    const auto code = CURLcode(curlCode);
    HttpResponse response;
    long status = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
    response.status = int(status);
    char *contentType = nullptr;
    curl_easy_getinfo(t->easy, CURLINFO_CONTENT_TYPE, &contentType);
    if (contentType)
        response.contentType = QByteArray(contentType);
    if (t->sawRetryAfter) {
        curl_off_t retryAfter = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RETRY_AFTER, &retryAfter);
        response.retryAfterSeconds = qMax<qint64>(0, retryAfter);
    }
    response.failure = t->forced != HttpFailure::None ? t->forced : failureFor(code, t->overLimit, !t->proxy.isEmpty());
    switch (response.failure) {
    case HttpFailure::None:
        response.body = std::move(t->body);
        break;
    case HttpFailure::Deadline:
        response.error = QStringLiteral("not complete after %1 ms").arg(t->deadlineMs);
        break;
    case HttpFailure::NoData:
        response.error = QStringLiteral("no data for %1 ms").arg(m_noDataTimeoutMs);
        break;
    case HttpFailure::TooLarge:
        response.error = QStringLiteral("body larger than %1 bytes").arg(t->limit);
        break;
    case HttpFailure::Refused:
    case HttpFailure::ProxyUnreachable: {
        // Only a failed connect sets it, and only for this transfer's own attempt.
        long systemError = 0;
        curl_easy_getinfo(t->easy, CURLINFO_OS_ERRNO, &systemError);
        response.systemError = int(systemError);
        response.error = QString::fromUtf8(t->errorText[0] ? t->errorText : curl_easy_strerror(code));
        break;
    }
    default:
        response.error = QString::fromUtf8(t->errorText[0] ? t->errorText : curl_easy_strerror(code));
        break;
    }

    std::unique_ptr<Transfer> transfer = detach(t->id);
    Callback done = std::move(transfer->done);
    recycle(transfer->easy);
    transfer.reset();
    if (m_transfers.empty())
        m_watchdog.stop();
    if (done)
        done(std::move(response));
}

std::unique_ptr<CurlHttpClient::Transfer> CurlHttpClient::detach(RequestId id)
{
    const auto found = m_transfers.find(id);
    if (found == m_transfers.end())
        return nullptr;
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    m_transfers.erase(found);
    curl_multi_remove_handle(m_multi, transfer->easy);
    return transfer;
}

void CurlHttpClient::recycle(void *easy)
{
    if (m_idleHandles.size() >= kIdleHandlesKept) {
        curl_easy_cleanup(easy);
        return;
    }
    // The finished transfer's header list and error buffer go away with it.
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
    m_idleHandles.push_back(easy);
}

} // namespace quernfold
