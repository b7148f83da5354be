// The version reply reader on any reply body, decoded the way the version check decodes it.
#include "fuzz_check.h"
#include "update/post.h"
#include "update/version_check.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

using namespace quernfold;

namespace {

// JSON's white space, and the byte order mark that a service's script files can put before their output: Qt's
// reader skips one, as a script engine would skip any.
bool isSpaceOrMark(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\uFEFF';
}

// A number member must read back as the same number from the text the check compares.
void checkNumberText(const QJsonValue &value, const QString &text)
{
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return;
    bool ok = false;
    const double back = text.toDouble(&ok);
    FUZZ_CHECK(ok && back == value.toDouble());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = replyText("application/json", body);
    const std::optional<VersionReply> reply = readVersionReply(text);
    if (!reply)
        return 0;

    // Only a JSON object is ever accepted: braces around it, nothing but white space outside them.
    qsizetype first = 0;
    qsizetype last = text.size() - 1;
    while (first <= last && isSpaceOrMark(text.at(first)))
        ++first;
    while (last >= first && isSpaceOrMark(text.at(last)))
        --last;
    FUZZ_CHECK(first < last && text.at(first) == u'{' && text.at(last) == u'}');

    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    const QJsonObject info = object.value(QLatin1StringView("info")).toObject();
    checkNumberText(object.value(QLatin1StringView("result")), reply->result);
    checkNumberText(info.value(QLatin1StringView("version")), reply->version);
    checkNumberText(info.value(QLatin1StringView("sid")), reply->sid);
    checkNumberText(info.value(QLatin1StringView("must")), reply->must);
    decideVersion(*reply);
    return 0;
}
