// Page charset detection and decoding on any reply. Input: the Content-Type value, a line feed, then the body.
#include "fuzz_check.h"
#include "platform/codepage.h"
#include "lookup/page_text.h"

#include <QByteArray>
#include <QString>

using namespace quernfold;

namespace {

// A label we hand to a decoder is one lower-case token: no blanks, quotes or separators around or inside it.
void checkLabel(const QByteArray &label)
{
    FUZZ_CHECK(label == label.toLower());
    for (const char c : label)
        FUZZ_CHECK(c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != '"' && c != '\'' && c != ';'
            && c != '>' && c != '/' && c != ',');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QByteArrayView contentType = newline < 0 ? QByteArrayView() : input.first(newline);
    const QByteArrayView body = newline < 0 ? input : input.sliced(newline + 1);

    const QByteArray fromHeader = codepage::charsetFromContentType(contentType);
    const QByteArray fromMeta = pagetext::charsetFromMeta(body);
    checkLabel(fromHeader);
    checkLabel(fromMeta);
    // Only the head of a page is looked at, however long the rest.
    FUZZ_CHECK(fromMeta == pagetext::charsetFromMeta(body.first(qMin(body.size(), qsizetype(2048)))));

    const QString text = pagetext::decodePage(contentType, body);
    // Every decoder we may pick gives at most two UTF-16 units per byte: a page cannot grow without bound.
    FUZZ_CHECK(text.size() <= 2 * body.size());

    // What a page says about itself is believed: a UTF-8 mark, or a Chinese label on a page that has no mark.
    if (body.startsWith("\xEF\xBB\xBF"))
        FUZZ_CHECK(text == codepage::fromUtf8(body.sliced(3)));
    else if (fromHeader == "gbk")
        FUZZ_CHECK(text == codepage::fromNarrow(body));
    return 0;
}
