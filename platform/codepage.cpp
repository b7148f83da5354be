#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace quernfold::codepage {

namespace {

constexpr char kNarrowName[] = "GB18030";
const char *g_narrowName = kNarrowName;

} // namespace

bool isAvailable()
{
    return QStringEncoder(g_narrowName).isValid() && QStringDecoder(g_narrowName).isValid();
}

QByteArray toNarrow(QStringView text)
{
    QStringEncoder encoder(g_narrowName);
    if (encoder.isValid())
        return encoder.encode(text);
    // An invalid encoder gives nothing at all; a form body or page address must still go out in ASCII.
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = text[i].unicode() < 0x80 ? char(text[i].unicode()) : '?';
    return bytes;
}

QString fromNarrow(QByteArrayView bytes)
{
    QStringDecoder decoder(g_narrowName);
    if (decoder.isValid())
        return decoder.decode(bytes);
    // Keeps the ASCII markers of a page findable; nothing else can be told apart.
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = byte < 0x80 ? QChar(byte) : QChar(QChar::ReplacementCharacter);
    }
    return text;
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
    // Qt drops a mark at the start of every piece it decodes; callers that read pieces of one text need it kept
    // and cut off a leading mark themselves.
    QStringDecoder decoder(
        QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
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

void overrideNameForTests(const char *converterName)
{
    g_narrowName = converterName ? converterName : kNarrowName;
}

} // namespace quernfold::codepage
