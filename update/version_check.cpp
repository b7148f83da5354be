#include "update/version_check.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <charconv>
#include <cmath>
#include <system_error>

namespace quernfold {

namespace {

// Number to text as JavaScript's Number#toString prints it: the shortest digits that read back to the same
// double, plain notation for decimal exponents from -6 to 20, exponent notation with an explicit sign beyond.
QString javaScriptNumberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
    if (value == 0)
        return QStringLiteral("0"); // -0 as well
    if (value < 0)
        return QStringLiteral("-") + javaScriptNumberText(-value);

    char buffer[64];
    const std::to_chars_result written
        = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    Q_ASSERT(written.ec == std::errc());
    const QByteArray scientific(buffer, written.ptr - buffer); // "d.ddde+XX" or "de-XX"
    const qsizetype e = scientific.indexOf('e');
    QByteArray digits = scientific.left(e);
    digits.replace('.', QByteArray());
    const int exponent = scientific.mid(e + 1).toInt();

    // In the terms of the ECMAScript rule: value = 0.digits * 10^point.
    const int k = int(digits.size());
    const int point = exponent + 1;
    QByteArray text;
    if (k <= point && point <= 21) {
        text = digits + QByteArray(point - k, '0');
    } else if (0 < point && point <= 21) {
        text = digits.left(point) + '.' + digits.mid(point);
    } else if (-6 < point && point <= 0) {
        text = QByteArrayLiteral("0.") + QByteArray(-point, '0') + digits;
    } else {
        text = digits.left(1);
        if (k > 1)
            text += '.' + digits.mid(1);
        text += 'e';
        text += point - 1 < 0 ? '-' : '+';
        text += QByteArray::number(std::abs(point - 1));
    }
    return QString::fromLatin1(text);
}

std::optional<QString> memberText(const QJsonObject &object, QLatin1StringView name)
{
    const auto found = object.constFind(name);
    if (found == object.constEnd())
        return std::nullopt;
    const QJsonValue value = found.value();
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return javaScriptNumberText(value.toDouble());
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Object:
    case QJsonValue::Array:
    case QJsonValue::Undefined:
        break;
    }
    // A script engine would turn these into "[object Object]" or a joined list, which no decision could use.
    return std::nullopt;
}

} // namespace

std::optional<VersionReply> readVersionReply(const QString &replyText)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(replyText.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject reply = document.object();
    const QJsonValue infoValue = reply.value(QLatin1StringView("info"));
    if (!infoValue.isObject())
        return std::nullopt;
    const QJsonObject info = infoValue.toObject();

    const std::optional<QString> result = memberText(reply, QLatin1StringView("result"));
    const std::optional<QString> version = memberText(info, QLatin1StringView("version"));
    const std::optional<QString> sid = memberText(info, QLatin1StringView("sid"));
    const std::optional<QString> must = memberText(info, QLatin1StringView("must"));
    if (!result || !version || !sid || !must)
        return std::nullopt;
    return VersionReply { *result, *version, *sid, *must };
}

VersionDecision decideVersion(const VersionReply &reply)
{
    if (reply.result == u"0")
        return VersionDecision::CheckFailed;
    if (reply.version != QLatin1StringView(kOwnVersion))
        return VersionDecision::OfferUpdate;
    return VersionDecision::UpToDate;
}

QString updateOfferText(const QString &version)
{
    return QStringLiteral("发现最新版本") + version + QStringLiteral("，是否现在更新?");
}

QUrl downloadPageUrl(const QString &downloadBase, const QString &sid)
{
    // The sid goes in as sent; QUrl escapes what cannot stand in a path (quotes, blanks, controls), and
    // because it follows a fixed path it can never change the host.
    return QUrl(downloadBase + QStringLiteral("/index.php/Works/detail/sid/") + sid);
}

QUrl versionServiceUrl(const QString &versionBase)
{
    return QUrl(versionBase + QStringLiteral("/index.php/Index/soft_version"));
}

bool isPlaceholderService(const QString &versionBase)
{
    QString host = QUrl(versionBase).host(); // already lower case
    if (host.endsWith(u'.'))
        host.chop(1);
    return host == QStringLiteral("example") || host.endsWith(QStringLiteral(".example"));
}

} // namespace quernfold
