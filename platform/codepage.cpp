#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace quernfold::codepage {

namespace {

constexpr char kNarrowName[] = "GB18030";
const char *g_narrowName = kNarrowName;

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

QByteArray charsetLabelAt(QByteArrayView text, qsizetype from)
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

QByteArray charsetFromContentType(QByteArrayView contentType)
{
    qsizetype start = contentType.indexOf(';');
    while (start >= 0) {
        const qsizetype end = contentType.indexOf(';', start + 1);
        const QByteArrayView parameter
            = trimmed(contentType.sliced(start + 1, (end < 0 ? contentType.size() : end) - start - 1));
        if (parameter.size() > 7 && parameter.first(7).toByteArray().toLower() == "charset") {
            const QByteArray value = charsetLabelAt(parameter, 7);
            if (!value.isEmpty())
                return value;
        }
        start = end;
    }
    return {};
}

std::optional<QString> decodeLabelled(QByteArrayView label, QByteArrayView body)
{
    if (label.isEmpty())
        return std::nullopt;
    if (label == "utf-8" || label == "utf8")
        return fromUtf8(body);
    if (label == "gb2312" || label == "gbk" || label == "gb18030" || label == "x-gbk" || label == "cp936"
        || label == "windows-936")
        return fromNarrow(body);
    const QByteArray name = label.toByteArray();
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(body);
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
