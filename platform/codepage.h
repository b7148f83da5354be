#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// The program's narrow code page: GBK (code page 936) as the Chinese Windows the lists come from uses it.
// We write GB18030, which gives GBK's bytes for every character GBK has and stays lossless for the rest.
// A Windows build would call the system's code page 936 functions here instead.
namespace quernfold::codepage {

// Whether this Qt can convert to and from the code page at all: a Qt built without ICU cannot. Without it
// toNarrow and fromNarrow keep ASCII and turn everything else into "?" and U+FFFD, so the window must refuse
// whatever would write or read a user's text that way.
bool isAvailable();

QByteArray toNarrow(QStringView text);
// Invalid byte sequences become U+FFFD.
QString fromNarrow(QByteArrayView bytes);
// Valid UTF-8 by the strict rules; empty input counts as valid.
bool isValidUtf8(QByteArrayView bytes);
// A byte order mark is a character here like anywhere else: callers drop the one that starts a file.
QString fromUtf8(QByteArrayView bytes);

// Charset labels, as a reply's Content-Type or a page's <meta> states them. The value after the word "charset"
// that ends at `from`: optional blanks, "=", optional blanks, then a token that may be quoted, lower-cased. Empty
// when no "=" follows, so "charsetx" or a bare word does not count.
QByteArray charsetLabelAt(QByteArrayView text, qsizetype from);
// The charset parameter of a Content-Type value, lower-cased and unquoted; empty when there is none.
QByteArray charsetFromContentType(QByteArrayView contentType);
// The bytes as text in the charset a label names; std::nullopt when the label names none we can decode. Every
// Chinese label (gb2312, gbk, gb18030, ...) reads as the narrow code page: pages that say gb2312 or gbk routinely
// hold characters only the larger sets have, and GB18030 gives the same bytes for what they share.
std::optional<QString> decodeLabelled(QByteArrayView label, QByteArrayView body);

// The code of one UTF-16 unit in GBK as a signed 16-bit number: a single-byte character gives its byte,
// a double-byte character lead * 256 + trail (negative for leads from 0x80), a unit GBK cannot represent 63.
int gbkCode(char16_t unit);

// Tests only: converts with the named converter instead, so a Qt without the code page can be played out.
// nullptr goes back to the real one.
void overrideNameForTests(const char *converterName);

} // namespace quernfold::codepage
