#include "lookup/page_text.h"

#include "platform/codepage.h"

namespace quernfold::pagetext {

namespace {
constexpr qsizetype kMetaScanBytes = 2048;
} // namespace

QByteArray charsetFromMeta(QByteArrayView body)
{
    // Tag and attribute names are case-insensitive in HTML; lower-casing a copy of the head is the cheap way.
    const QByteArray head = body.first(qMin(body.size(), kMetaScanBytes)).toByteArray().toLower();
    qsizetype meta = head.indexOf("<meta");
    while (meta >= 0) {
        qsizetype tagEnd = head.indexOf('>', meta);
        if (tagEnd < 0)
            tagEnd = head.size();
        const QByteArrayView tag = QByteArrayView(head).sliced(meta, tagEnd - meta);
        qsizetype at = tag.indexOf("charset");
        while (at >= 0) {
            const QByteArray value = codepage::charsetLabelAt(tag, at + 7);
            if (!value.isEmpty())
                return value;
            at = tag.indexOf("charset", at + 7);
        }
        meta = head.indexOf("<meta", tagEnd);
    }
    return {};
}

QString decodePage(QByteArrayView contentType, QByteArrayView body)
{
    // A byte order mark is the page's own unmistakable statement and outranks any label.
    if (body.startsWith("\xEF\xBB\xBF"))
        return codepage::fromUtf8(body.sliced(3));
    if (std::optional<QString> text = codepage::decodeLabelled(codepage::charsetFromContentType(contentType), body))
        return *std::move(text);
    if (std::optional<QString> text = codepage::decodeLabelled(charsetFromMeta(body), body))
        return *std::move(text);
    return codepage::fromUtf8(body);
}

} // namespace quernfold::pagetext
