#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace quernfold {

inline constexpr char kOwnVersion[] = "2.0";
inline constexpr char kSoftwareId[] = "ym";
// "sn=" followed by the software identifier.
inline constexpr char kVersionRequestBody[] = "sn=ym";

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

// A reported failure wins over any version; after that only an exact "2.0" counts as current, so an older
// version is offered as well.
VersionDecision decideVersion(const VersionReply &reply);

QString updateOfferText(const QString &version);
QUrl downloadPageUrl(const QString &downloadBase, const QString &sid);
QUrl versionServiceUrl(const QString &versionBase);

// True when the version service is still the built-in placeholder (a host under the reserved .example domain),
// which can never answer: such a build does not ask.
bool isPlaceholderService(const QString &versionBase);

} // namespace quernfold
