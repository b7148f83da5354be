#pragma once

#include "lookup/record_parser.h"
#include "platform/http.h"

#include <QString>
#include <QUrl>

namespace quernfold {

enum class QueryMode { Batch, Selected };

// The address of a domain's result page. The domain becomes exactly one path segment: every byte of its UTF-8
// other than letters, digits, ".", "-", "_" and "~" is percent-encoded, so no domain can change the host,
// leave the "/s-0/" folder or add a query or fragment. An ordinary domain goes out as typed.
QUrl recordPageUrl(const QString &lookupBase, const QString &domain);

// The GET of a result page, with the one header the site has always been sent.
HttpRequest recordPageRequest(const QUrl &url, int deadlineMs, const QByteArray &proxy);

// What one fetch of a row's result page means for the row.
struct RowOutcome {
    // True when the four record cells are to be written with "查询完毕"; otherwise the row did not finish.
    bool finished = false;
    FilingRecord record;
    // Why the row did not finish, in words a user can act on.
    QString reason;
    // The fetch failed in a way that says the site cannot be reached or is broken: counts towards "the site is
    // unreachable". An address we cannot follow does not: the site did answer.
    bool siteUnreachable = false;
    // A transient failure that may well succeed when tried again.
    bool retryable = false;
    // No row can get through the way this one went (the proxy cannot be reached): a batch run ends at once.
    bool endsRun = false;
    qint64 retryAfterSeconds = -1;
};

// Decodes the page and decides what it says about the domain. The texts written for each outcome are the ones
// the list has always shown; an HTTP error status is a failed fetch, never a page about the domain.
RowOutcome readRowOutcome(QueryMode mode, const HttpResponse &response);

// "连接被拒绝" and the like: why a fetch failed, without the retries.
QString failureReason(const HttpResponse &response);
// The reason as the row's note shows it, with the tries made.
QString rowNote(const QString &reason, int retriesMade);

} // namespace quernfold
