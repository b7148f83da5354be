#pragma once

#include "platform/http.h"

#include <QString>

#include <QUrl>
#include <functional>

namespace quernfold {

// Encodes a form body the way the version service has always received it: only GBK double-byte characters
// become "%" lead "%" trail; everything else, "&", "=", "%" and blanks included, goes out as it is, so a whole
// "key=value&key=value" body keeps its structure.
QString encodeFormBody(const QString &text);

// A reply body as text: a byte order mark or the Content-Type's charset decides, otherwise UTF-8, as JSON is.
QString replyText(QByteArrayView contentType, QByteArrayView body);

struct PostResult {
    // False when no complete reply arrived (refused, not resolved, TLS failure, timeout); the caller decides
    // what that means. An error status is not a failure: its body is the text.
    bool ok = false;
    QString text;
    QString error;
};

// Posts the encoded body to url with the one form content-type header; `done` gets the reply body as text, from
// the event loop. A reply longer than replyLimit bytes is a failure. The returned id cancels the post.
HttpClient::RequestId postForm(HttpClient &http, const QUrl &url, const QString &body, const QByteArray &proxy,
    qint64 replyLimit, std::function<void(const PostResult &)> done);

namespace post_detail {
// One unit of encodeFormBody given its code-page code, kept apart so the arithmetic can be checked for codes
// that our code page never produces.
void appendEncodedUnit(QString &out, QChar unit, int code);
} // namespace post_detail

} // namespace quernfold
