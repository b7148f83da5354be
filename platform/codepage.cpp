#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace quernfold::codepage {

namespace {
constexpr char kNarrowName[] = "GB18030";
}

QByteArray toNarrow(QStringView text)
{
    QStringEncoder encoder(kNarrowName);
    Q_ASSERT(encoder.isValid());
    return encoder.encode(text);
}

QString fromNarrow(QByteArrayView bytes)
{
    QStringDecoder decoder(kNarrowName);
    Q_ASSERT(decoder.isValid());
    return decoder.decode(bytes);
}

bool isValidUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    Q_UNUSED(ignored);
    return !decoder.hasError();
}

QString fromUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

int gbkCode(char16_t unit)
{
    constexpr int kUnrepresentable = 63; // what the code page gives back for "?"
    if (QChar::isSurrogate(unit))
        return kUnrepresentable;
    const QChar ch(unit);
    const QByteArray narrow = toNarrow(QStringView(&ch, 1));
    if (narrow.size() == 1)
        return static_cast<unsigned char>(narrow.at(0));
    if (narrow.size() == 2) {
        const int code = static_cast<unsigned char>(narrow.at(0)) * 256 + static_cast<unsigned char>(narrow.at(1));
        return static_cast<qint16>(static_cast<quint16>(code));
    }
    // Four-byte GB18030 sequences are outside GBK.
    return kUnrepresentable;
}

} // namespace quernfold::codepage
