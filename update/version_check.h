#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace quernfold {

// The build's own version, compared with the one the service names.
inline constexpr char kOwnVersion[] = QUERNFOLD_VERSION;
// "sn=" followed by the software identifier, "ym".
inline constexpr char kVersionRequestBody[] = "sn=ym";
// The reply is a few members of JSON; anything this long is not one, and reading it would only cost memory.
inline constexpr qint64 kVersionReplyLimit = 64 * 1024;

// The four members of the version service's reply, each already turned into text.
struct VersionReply {
    QString result;
    QString version;
    QString sid;
    QString must;
};

// Reads the reply as JSON, never as script. Strings give their characters, numbers the text a JavaScript
// engine prints for them, true/false/null their names. std::nullopt (the one failure path) when the text is
// not a single JSON object, `info` is missing or not an object, a member is missing, or a member is itself
// an object or an array.
std::optional<VersionReply> readVersionReply(const QString &replyText);

enum class VersionDecision { CheckFailed, OfferUpdate, UpToDate };

// A reported failure wins over any version; after that only the exact own version counts as current, so an older
// version is offered as well.
VersionDecision decideVersion(const VersionReply &reply);

QString updateOfferText(const QString &version);
QUrl downloadPageUrl(const QString &downloadBase, const QString &sid);
QUrl versionServiceUrl(const QString &versionBase);

} // namespace quernfold
