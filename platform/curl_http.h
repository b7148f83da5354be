#pragma once

#include "platform/http.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace quernfold {

// HttpClient on libcurl's multi interface, driven by the Qt event loop: a socket notifier pair per socket curl
// watches and one timer for curl's own time-outs. Connections are kept alive and reused across requests; none of
// our code runs on another thread.
class CurlHttpClient : public QObject, public HttpClient
{
    Q_OBJECT
public:
    static constexpr int kDefaultNoDataTimeoutMs = 30000;

    // noDataTimeoutMs: a request that receives nothing for this long fails (0 waits for ever).
    explicit CurlHttpClient(int noDataTimeoutMs = kDefaultNoDataTimeoutMs, QObject *parent = nullptr);
    ~CurlHttpClient() override;

    RequestId start(const HttpRequest &request, Callback done) override;
    void cancel(RequestId id) override;
    void abortAll() override;

    int outstanding() const { return int(m_transfers.size()); }

private:
    struct Transfer;
    struct SocketWatch;

    static int onSocket(void *easy, int socket, int what, void *client, void *socketData);
    static int onCurlTimer(void *multi, long timeoutMs, void *client);
    static int onOpenSocket(void *client, int purpose, void *address);
    static int onCloseSocket(void *client, int socket);
    static size_t onBody(char *data, size_t size, size_t count, void *transfer);
    static size_t onHeader(char *data, size_t size, size_t count, void *transfer);

    void watchSocket(int socket, int what);
    void forgetSocket(int socket);
    void socketReady(int socket, int event);
    void curlTimerFired();
    // Reads what curl has finished; delivers it (runs callbacks) only when called from the event loop.
    void takeFinished(bool deliver = true);
    void checkTimes();
    void armWatchdog();
    void finish(Transfer *transfer, int curlCode);
    std::unique_ptr<Transfer> detach(RequestId id);
    void recycle(void *easy);

    void *m_multi = nullptr;
    int m_noDataTimeoutMs;
    QTimer m_curlTimer;
    QTimer m_watchdog;
    QElapsedTimer m_clock;
    RequestId m_nextId = 1;
    std::unordered_map<RequestId, std::unique_ptr<Transfer>> m_transfers;
    std::unordered_map<int, std::unique_ptr<SocketWatch>> m_sockets;
    std::vector<void *> m_idleHandles;
    // Finished transfers read from curl but not yet delivered: (id, curl's result).
    std::vector<std::pair<RequestId, int>> m_done;
    QTimer m_deliver;
};

} // namespace quernfold
