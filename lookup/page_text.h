#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Turning a result page into text the way a browser would: the reply's own charset first, then the page's <meta>
// declaration, then UTF-8.
namespace quernfold::pagetext {

// The charset a <meta> element declares within the first 2 KB of the body; empty when there is none.
QByteArray charsetFromMeta(QByteArrayView body);
// Bytes that cannot be decoded become U+FFFD.
QString decodePage(QByteArrayView contentType, QByteArrayView body);

} // namespace quernfold::pagetext
