#include "platform/site_address.h"

#include <QUrl>

namespace quernfold {

QString trimmedBase(QString base)
{
    base = base.trimmed();
    // The paths we append start with "/", so a trailing slash in the base would double it.
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

bool isPlaceholderAddress(const QString &base)
{
    QString host = QUrl(base).host(); // already lower case
    if (host.endsWith(u'.'))
        host.chop(1);
    return host == QStringLiteral("example") || host.endsWith(QStringLiteral(".example"));
}

} // namespace quernfold
