#pragma once

#include "platform/http.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <unordered_map>

class QNetworkAccessManager;
class QNetworkReply;

namespace quernfold {

// HttpClient on QNetworkAccessManager, tuned as far as it goes (HTTP/1.1 only, no cookie or cache handling, one
// watchdog timer instead of a timer per request). Kept for the benchmark only, so the choice of libcurl can be
// measured again; proxies other than none are not supported.
class QnamHttpClient : public QObject, public HttpClient
{
    Q_OBJECT
public:
    static constexpr int kDefaultNoDataTimeoutMs = 30000;

    explicit QnamHttpClient(int noDataTimeoutMs = kDefaultNoDataTimeoutMs, QObject *parent = nullptr);
    ~QnamHttpClient() override;

    RequestId start(const HttpRequest &request, Callback done) override;
    void cancel(RequestId id) override;
    void abortAll() override;

private:
    struct Transfer {
        QNetworkReply *reply = nullptr;
        Callback done;
        QByteArray body;
        qint64 limit = 0;
        bool overLimit = false;
        qint64 startedMs = 0;
        qint64 lastDataMs = 0;
        int deadlineMs = 0;
        HttpFailure forced = HttpFailure::None;
    };

    void drain(Transfer &t);
    void finish(RequestId id);
    void checkTimes();

    QNetworkAccessManager *m_manager;
    int m_noDataTimeoutMs;
    QTimer m_watchdog;
    QElapsedTimer m_clock;
    RequestId m_nextId = 1;
    std::unordered_map<RequestId, Transfer> m_transfers;
};

} // namespace quernfold
