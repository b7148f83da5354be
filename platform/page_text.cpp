#include "platform/page_text.h"

#include "platform/codepage.h"

#include <QStringDecoder>

namespace quernfold::pagetext {

namespace {

constexpr qsizetype kMetaScanBytes = 2048;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

// Reads the value after "charset" at `from`: optional blanks, "=", optional blanks, then a token that may be
// quoted. Returns an empty value when no "=" follows, so "charsetx" or a bare word does not count.
QByteArray charsetValueAt(QByteArrayView text, qsizetype from)
{
    qsizetype i = from;
    while (i < text.size() && isSpace(text.at(i)))
        ++i;
    if (i >= text.size() || text.at(i) != '=')
        return {};
    ++i;
    while (i < text.size() && isSpace(text.at(i)))
        ++i;
    if (i < text.size() && (text.at(i) == '"' || text.at(i) == '\''))
        ++i;
    const qsizetype start = i;
    while (i < text.size()) {
        const char c = text.at(i);
        if (isSpace(c) || c == '"' || c == '\'' || c == ';' || c == '>' || c == '/' || c == ',')
            break;
        ++i;
    }
    return text.sliced(start, i - start).toByteArray().toLower();
}

enum class Charset { Unknown, Utf8, Chinese, Other };

Charset classify(const QByteArray &label)
{
    if (label.isEmpty())
        return Charset::Unknown;
    if (label == "utf-8" || label == "utf8")
        return Charset::Utf8;
    // Pages that say gb2312 or gbk routinely contain characters only the larger sets have; GB18030 is a
    // superset of both with identical bytes for what they share.
    if (label == "gb2312" || label == "gbk" || label == "gb18030" || label == "x-gbk" || label == "cp936"
        || label == "windows-936")
        return Charset::Chinese;
    return QStringDecoder(label.constData()).isValid() ? Charset::Other : Charset::Unknown;
}

QString decodeAs(Charset kind, const QByteArray &label, QByteArrayView body)
{
    switch (kind) {
    case Charset::Chinese:
        return codepage::fromNarrow(body);
    case Charset::Other: {
        QStringDecoder decoder(label.constData());
        return decoder.decode(body);
    }
    case Charset::Utf8:
    case Charset::Unknown:
        break;
    }
    return codepage::fromUtf8(body);
}

} // namespace

QByteArray charsetFromContentType(QByteArrayView contentType)
{
    qsizetype start = contentType.indexOf(';');
    while (start >= 0) {
        const qsizetype end = contentType.indexOf(';', start + 1);
        const QByteArrayView parameter
            = trimmed(contentType.sliced(start + 1, (end < 0 ? contentType.size() : end) - start - 1));
        if (parameter.size() > 7 && parameter.first(7).toByteArray().toLower() == "charset") {
            const QByteArray value = charsetValueAt(parameter, 7);
            if (!value.isEmpty())
                return value;
        }
        start = end;
    }
    return {};
}

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
            const QByteArray value = charsetValueAt(tag, at + 7);
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

    const QByteArray fromHeader = charsetFromContentType(contentType);
    if (const Charset kind = classify(fromHeader); kind != Charset::Unknown)
        return decodeAs(kind, fromHeader, body);

    const QByteArray fromMeta = charsetFromMeta(body);
    if (const Charset kind = classify(fromMeta); kind != Charset::Unknown)
        return decodeAs(kind, fromMeta, body);

    return codepage::fromUtf8(body);
}

} // namespace quernfold::pagetext
