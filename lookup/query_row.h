#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace quernfold {

class DomainListModel;
class HttpClient;

enum class QueryMode { Batch, Selected };

// The address of a domain's result page. The domain becomes exactly one path segment: every byte of its UTF-8
// other than letters, digits, ".", "-", "_" and "~" is percent-encoded, so no domain can change the host,
// leave the "/s-0/" folder or add a query or fragment. An ordinary domain goes out as typed.
QUrl recordPageUrl(const QString &lookupBase, const QString &domain);

struct PageResult {
    bool ok = false; // false when no complete reply arrived
    QString text;
};

// Fetches a result page and decodes it to text. The status code is not looked at: an error page is a page.
PageResult GetBody(HttpClient &http, const QUrl &url);

// Looks up the domain of one row and writes the outcome into the row's record and status cells.
// isClosing is asked once the page is back: when it answers true the window is going away and nothing more is
// written.
void QueryRow(DomainListModel &model, int row, QueryMode mode, HttpClient &http, const QString &lookupBase,
    const std::function<bool()> &isClosing);

} // namespace quernfold
