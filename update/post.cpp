#include "update/post.h"

#include "platform/codepage.h"

#include <cstdlib>

namespace quernfold {

namespace post_detail {

void appendEncodedUnit(QString &out, QChar unit, int code)
{
    // The old encoder compared the magnitude of the signed code with 255, so a single-byte 255 is escaped
    // and every double-byte code (negative from lead 0x80 up) is too.
    if (std::abs(code) < 255) {
        out.append(unit);
        return;
    }
    const int unsignedCode = code < 0 ? code + 65536 : code;
    // Dividing by 255 instead of shifting is how it has always been done; for lead bytes 0x01..0xFE the
    // result is the lead byte, and the service decodes what this produces.
    const int high = (unsignedCode & 0xFF00) / 255;
    const int low = unsignedCode & 0xFF;
    out.append(u'%');
    out.append(QString::number(high, 16).toUpper());
    out.append(u'%');
    out.append(QString::number(low, 16).toUpper());
}

} // namespace post_detail

namespace {

QByteArray bodyBytes(const QString &encoded)
{
    // What is left unescaped is ASCII or something GBK has no double-byte code for; the narrow code page
    // carries the former as is and the latter without loss.
    return codepage::toNarrow(encoded);
}

} // namespace

QString replyText(QByteArrayView contentType, QByteArrayView body)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        return codepage::fromUtf8(body.sliced(3));
    if (std::optional<QString> text = codepage::decodeLabelled(codepage::charsetFromContentType(contentType), body))
        return *std::move(text);
    return codepage::fromUtf8(body);
}

QString encodeFormBody(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar unit : text)
        post_detail::appendEncodedUnit(result, unit, codepage::gbkCode(unit.unicode()));
    return result;
}

HttpClient::RequestId postForm(HttpClient &http, const QUrl &url, const QString &body, const QByteArray &proxy,
    qint64 replyLimit, std::function<void(const PostResult &)> done)
{
    HttpRequest request;
    request.method = QByteArrayLiteral("POST");
    request.url = url;
    request.headers = { { QByteArrayLiteral("CONTENT-TYPE"), QByteArrayLiteral("application/x-www-form-urlencoded") } };
    request.body = bodyBytes(encodeFormBody(body));
    request.bodyLimit = replyLimit;
    request.proxy = proxy;
    return http.start(request, [done = std::move(done)](HttpResponse &&response) {
        if (!response.ok()) {
            done(PostResult { false, QString(), response.error });
            return;
        }
        // Error statuses carry a body like any other reply; the caller reads it.
        done(PostResult { true, replyText(response.contentType, response.body), QString() });
    });
}

} // namespace quernfold
