#include "lookup/query_row.h"

#include "domainlist/domain_list_model.h"
#include "lookup/record_parser.h"
#include "platform/http.h"
#include "platform/page_text.h"

namespace quernfold {

namespace {

struct Outcome {
    QString recordNo;
    QString holder;
    QString recordType;
    QString siteName;
};

void writeOutcome(DomainListModel &model, int row, const Outcome &outcome)
{
    model.setCell(row, DomainListModel::RecordNoColumn, outcome.recordNo);
    model.setCell(row, DomainListModel::HolderColumn, outcome.holder);
    model.setCell(row, DomainListModel::RecordTypeColumn, outcome.recordType);
    model.setCell(row, DomainListModel::SiteNameColumn, outcome.siteName);
    model.setCell(row, DomainListModel::StatusColumn, QStringLiteral("查询完毕"));
}

Outcome noRecord(const QString &recordNoText)
{
    const QString unknown = QStringLiteral("未知");
    return { recordNoText, unknown, unknown, unknown };
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

PageResult GetBody(HttpClient &http, const QUrl &url)
{
    const HttpResponse response = http.get(url, { { QByteArrayLiteral("If-Modified-Since"), QByteArrayLiteral("0") } });
    if (!response.ok)
        return {};
    return { true, pagetext::decodePage(response.contentType, response.body) };
}

void QueryRow(DomainListModel &model, int row, QueryMode mode, HttpClient &http, const QString &lookupBase,
    const std::function<bool()> &isClosing)
{
    if (row < 0 || row >= model.count())
        return;
    model.setCell(row, DomainListModel::StatusColumn, QStringLiteral("查询中"));
    const QString domain = model.cell(row, DomainListModel::DomainColumn);

    const PageResult page = GetBody(http, recordPageUrl(lookupBase, domain));
    if (isClosing && isClosing())
        return;
    // The list is disabled while we wait; should it still have changed under us, the answer belongs to nobody.
    if (row >= model.count() || model.cell(row, DomainListModel::DomainColumn) != domain)
        return;

    // A failed fetch is treated like an empty page: the row stays "查询中" and can simply be queried again.
    if (!page.ok || page.text.isEmpty())
        return;
    if (page.text.contains(u"没有符合")) {
        writeOutcome(model, row, noRecord(QStringLiteral("无记录")));
        return;
    }
    if (mode == QueryMode::Selected) {
        if (page.text.contains(u"color:#CCCCCC;")) {
            writeOutcome(model, row, noRecord(QStringLiteral("备案已被删除")));
            return;
        }
    } else if (!hasTableMarker(page.text)) {
        // An error, captcha or maintenance page is not an answer about this domain; writing empty values and
        // "查询完毕" would report a lookup that never happened.
        return;
    }

    RecordInfo info = ParseRecordPage(page.text);
    if (mode == QueryMode::Selected && info.RecordNo.isEmpty()) {
        writeOutcome(model, row, noRecord(QStringLiteral("无记录")));
        return;
    }
    writeOutcome(model, row,
        { std::move(info.RecordNo), std::move(info.Holder), std::move(info.RecordType), std::move(info.SiteName) });
}

} // namespace quernfold
