#pragma once

#include "domainlist/filing_record.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpServer>

// A small HTTP/1.1 record-lookup site for tests and benchmarks. It listens on 127.0.0.1 only, keeps
// connections alive, records every request, and answers
//   GET  /s-0/<domain>.html                 a result page for the percent-decoded domain
//   POST /index.php/Index/soft_version      the reply set with setVersionReply()
// and 404 for anything else. A request-target in absolute form (as a client sends it to its proxy) is served
// by its path and recorded as sent.
//
// What a domain's page looks like is chosen, in this order, by a reply set with setReply(), a behaviour set
// with setBehaviour(), or the domain's first label (the text before its first "."):
//   nomatch        page saying "没有符合条件的记录", no table
//   deleted        row styled "color:#CCCCCC;" plus a full table
//   empty          status 200 with an empty body
//   e404, e500     error status with a small HTML error page
//   nomarker       maintenance page without the record table
//   fewcells       table whose row has three cells only
//   rows           three rows; the first holds the domain's record
//   twomarkers     the record table, then a second table with a decoy record
//   wrappedholder  holder text wrapped in a <span>
//   bareholder     holder cell left unclosed, so it holds no "<"
//   spaced         blanks around the record number and before the site name
//   unwrapped      record number as plain cell text, not inside an <a>
//   utf8           the record page in UTF-8 (charset in Content-Type)
//   meta           the record page in GBK with the charset only in a <meta> element
//   slow           the record page after setSlowDelayMs() (default 200 ms)
//   reset          headers and part of the body, then the connection is reset
//   hang           headers promising a body, then nothing for ever
//   trickle        headers, then 512 bytes every 20 ms for ever (no Content-Length)
//   huge           a body of setOversizedBytes() (default 17 MiB, over the client's 16 MiB limit)
// Any other domain gets its record page (expectedRecord()) in GBK with the charset in Content-Type.
// Three more answer as a registry's records move on, by the site's era (setEra(), 0 at first):
//   newfiling      no record in era 0, a record from era 1 on
//   cancelled      a record in era 0, none from era 1 on
//   newholder      a record whose holder is another in each era
namespace quernfold::site {

struct RecordedRequest {
    QByteArray method;
    QByteArray target; // request-target as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// Values of the named header (case-insensitive name), in the order sent.
QList<QByteArray> headerValues(const RecordedRequest &request, QByteArrayView name);

// The record the site serves for an ordinary domain, so tests can compare what the program wrote.
FilingRecord expectedRecord(const QString &domain, int era = 0);

enum class Behaviour {
    Record,
    NoMatch,
    Deleted,
    EmptyBody,
    NotFound,
    ServerError,
    NoTableMarker,
    FewerCells,
    SeveralRows,
    TwoMarkers,
    HolderWrapped,
    CellWithoutTag,
    SpacedRecordNo,
    UnwrappedRecordNo,
    Utf8Page,
    MetaCharsetPage,
    Slow,
    ResetMidBody,
    HangAfterHeaders,
    Trickle,
    Oversized,
};

// The behaviour the naming rule above gives a domain.
Behaviour behaviourByName(const QString &domain, int era = 0);
// The HTML of a page-shaped behaviour for a domain, before encoding.
QString resultPageHtml(const QString &domain, Behaviour behaviour = Behaviour::Record, int era = 0);

class SiteConnection;

class LookupSite : public QObject
{
    Q_OBJECT
public:
    explicit LookupSite(QObject *parent = nullptr);
    ~LookupSite() override;

    bool listen(quint16 port = 0); // 127.0.0.1 only
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"

    void setVersionReply(const QByteArray &body, int status = 200); // POST /index.php/Index/soft_version

    QList<RecordedRequest> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // A long-running site (the executable, benchmarks) would otherwise grow without bound.
    void setRecording(bool on) { m_recording = on; }

    void setBehaviour(const QString &domain, Behaviour behaviour);
    // An exact answer for one domain.
    // extraHeaders: whole header lines, each ending in CRLF.
    void setReply(const QString &domain, const QByteArray &body, int status = 200,
        const QByteArray &contentType = QByteArrayLiteral("text/html; charset=gbk"),
        const QByteArray &extraHeaders = {});
    void clearScript(); // forgets every setBehaviour() and setReply()
    Behaviour behaviourFor(const QString &domain) const;

    void setSlowDelayMs(int ms) { m_slowDelayMs = ms; }
    // Every ordinary record page is answered this much later, as a distant site would.
    void setLatencyMs(int ms) { m_latencyMs = ms; }
    // Answers as the records stand `era` lookups later (see the names above).
    void setEra(int era) { m_era = era; }
    void setOversizedBytes(qint64 bytes) { m_oversizedBytes = bytes; }

    // Connections accepted since construction: with keep-alive, many requests share one.
    int connectionCount() const { return m_connectionCount; }

signals:
    void requestReceived();

private:
    friend class SiteConnection;
    struct CustomReply {
        int status;
        QByteArray contentType;
        QByteArray body;
        QByteArray extraHeaders;
    };

    void onNewConnection();
    void handleRequest(SiteConnection *connection, const RecordedRequest &request);
    void serveDomain(SiteConnection *connection, const QString &domain);

    QTcpServer m_server;
    QList<RecordedRequest> m_requests;
    bool m_recording = true;
    QHash<QString, Behaviour> m_behaviours;
    QHash<QString, CustomReply> m_replies;
    QByteArray m_versionBody;
    int m_versionStatus = 200;
    int m_slowDelayMs = 200;
    int m_latencyMs = 0;
    int m_era = 0;
    qint64 m_oversizedBytes = 17 * 1024 * 1024;
    int m_connectionCount = 0;
};

} // namespace quernfold::site
