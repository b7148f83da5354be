#include "lookup/query_row.h"

#include "lookup/page_text.h"

namespace quernfold {

namespace {

RowOutcome written(FilingRecord record)
{
    RowOutcome outcome;
    outcome.finished = true;
    outcome.record = std::move(record);
    return outcome;
}

RowOutcome noRecord(const QString &recordNoText)
{
    const QString unknown = QStringLiteral("未知");
    return written({ recordNoText, unknown, unknown, unknown });
}

RowOutcome unfinished(const QString &reason)
{
    RowOutcome outcome;
    outcome.reason = reason;
    return outcome;
}

bool isTransientStatus(int status)
{
    return status == 408 || status == 429 || status >= 500;
}

bool isTransientFailure(HttpFailure failure)
{
    switch (failure) {
    case HttpFailure::Refused:
    case HttpFailure::ConnectionLost:
    case HttpFailure::NoData:
    case HttpFailure::Deadline:
    case HttpFailure::Proxy:
    case HttpFailure::Other:
        return true;
    default:
        return false;
    }
}

} // namespace

QUrl recordPageUrl(const QString &lookupBase, const QString &domain)
{
    // toPercentEncoding's default keeps exactly the unreserved set: letters, digits, "-", ".", "_", "~".
    const QByteArray segment = domain.toUtf8().toPercentEncoding();
    QUrl url(lookupBase, QUrl::TolerantMode);
    url.setPath(
        url.path(QUrl::FullyEncoded) + QStringLiteral("/s-0/") + QString::fromLatin1(segment) + QStringLiteral(".html"),
        QUrl::StrictMode);
    return url;
}

HttpRequest recordPageRequest(const QUrl &url, int deadlineMs, const QByteArray &proxy)
{
    HttpRequest request;
    request.url = url;
    request.headers = { { QByteArrayLiteral("If-Modified-Since"), QByteArrayLiteral("0") } };
    request.deadlineMs = deadlineMs;
    request.proxy = proxy;
    return request;
}

QString failureReason(const HttpResponse &response)
{
    switch (response.failure) {
    case HttpFailure::None:
        return response.status >= 400 ? QStringLiteral("HTTP 状态 %1").arg(response.status) : QString();
    case HttpFailure::Refused:
        return QStringLiteral("无法连接(连接被拒绝)");
    case HttpFailure::HostNotFound:
        return QStringLiteral("无法连接(找不到主机)");
    case HttpFailure::ConnectionLost:
        return QStringLiteral("连接中断");
    case HttpFailure::NoData:
        return QStringLiteral("超时(长时间未收到数据)");
    case HttpFailure::Deadline:
        return QStringLiteral("超时(超过单个请求时限)");
    case HttpFailure::TooLarge:
        return QStringLiteral("页面过大");
    case HttpFailure::Tls:
        return QStringLiteral("无法建立安全连接");
    case HttpFailure::ProxyUnreachable:
    case HttpFailure::Proxy:
        return QStringLiteral("无法连接代理");
    case HttpFailure::BadAddress:
        return QStringLiteral("网址无效或协议不受支持");
    case HttpFailure::TooManyRedirects:
        return QStringLiteral("重定向次数过多");
    case HttpFailure::Other:
        break;
    }
    return QStringLiteral("无法连接(%1)").arg(response.error);
}

QString rowNote(const QString &reason, int retriesMade)
{
    return retriesMade > 0 ? QStringLiteral("%1,已重试%2次").arg(reason).arg(retriesMade) : reason;
}

RowOutcome readRowOutcome(QueryMode mode, const HttpResponse &response)
{
    if (!response.ok() || response.status >= 400) {
        RowOutcome outcome = unfinished(failureReason(response));
        outcome.siteUnreachable
            = response.failure != HttpFailure::BadAddress && response.failure != HttpFailure::TooManyRedirects;
        outcome.retryable = response.ok() ? isTransientStatus(response.status) : isTransientFailure(response.failure);
        outcome.retryAfterSeconds = response.retryAfterSeconds;
        outcome.endsRun = response.failure == HttpFailure::ProxyUnreachable;
        return outcome;
    }
    const QString page = pagetext::decodePage(response.contentType, response.body);
    // An empty page is the site saying nothing; the row did not finish and can simply be queried again.
    if (page.isEmpty())
        return unfinished(QStringLiteral("空页面"));
    if (page.contains(u"没有符合"))
        return noRecord(QStringLiteral("无记录"));
    // A deleted filing is reported as deleted in both modes: an exported batch must not show it as current.
    if (page.contains(u"color:#CCCCCC;"))
        return noRecord(QStringLiteral("备案已被删除"));
    if (mode == QueryMode::Batch && !hasTableMarker(page)) {
        // An error, captcha or maintenance page is not an answer about this domain; writing empty values and
        // "查询完毕" would report a lookup that never happened.
        return unfinished(QStringLiteral("不是备案页面"));
    }
    FilingRecord record = parseRecordPage(page);
    if (mode == QueryMode::Selected && record.recordNo.isEmpty())
        return noRecord(QStringLiteral("无记录"));
    return written(std::move(record));
}

} // namespace quernfold
