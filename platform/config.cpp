#include "platform/config.h"

#include <QtGlobal>

namespace quernfold {

namespace {
QString setting(const char *name, const char *builtIn)
{
    const QString value = qEnvironmentVariable(name);
    QString base = value.isEmpty() ? QString::fromUtf8(builtIn) : value;
    // The paths we append start with "/", so a trailing slash in the base would double it.
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}
} // namespace

Config Config::fromEnvironment()
{
    Config c;
    c.companySite = setting("QUERNFOLD_COMPANY_SITE", QUERNFOLD_DEFAULT_COMPANY_SITE);
    c.studioSite = setting("QUERNFOLD_STUDIO_SITE", QUERNFOLD_DEFAULT_STUDIO_SITE);
    c.downloadBase = setting("QUERNFOLD_DOWNLOAD_BASE", QUERNFOLD_DEFAULT_DOWNLOAD_BASE);
    c.versionBase = setting("QUERNFOLD_VERSION_BASE", QUERNFOLD_DEFAULT_VERSION_BASE);
    c.lookupBase = setting("QUERNFOLD_LOOKUP_BASE", QUERNFOLD_DEFAULT_LOOKUP_BASE);
    bool ok = false;
    const int timeout = qEnvironmentVariableIntValue("QUERNFOLD_HTTP_TIMEOUT_MS", &ok);
    if (ok && timeout > 0)
        c.httpTimeoutMs = timeout;
    return c;
}

} // namespace quernfold
