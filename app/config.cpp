#include "app/config.h"

#include "platform/site_address.h"
#include "store/results_store.h"

#include <QSettings>
#include <QtGlobal>

namespace quernfold {

namespace {
QString setting(const char *name, const char *builtIn)
{
    const QString value = qEnvironmentVariable(name);
    return trimmedBase(value.isEmpty() ? QString::fromUtf8(builtIn) : value);
}
} // namespace

QString Config::defaultSettingsPath()
{
    return QSettings(
        QSettings::IniFormat, QSettings::UserScope, QStringLiteral("quernfold"), QStringLiteral("quernfold"))
        .fileName();
}

LookupSettings Config::defaultLookupSettings()
{
    LookupSettings defaults;
    defaults.lookupBase = trimmedBase(QString::fromUtf8(QUERNFOLD_DEFAULT_LOOKUP_BASE));
    return defaults;
}

Config Config::fromEnvironment(QStringList *notes)
{
    Config c;
    c.companySite = setting("QUERNFOLD_COMPANY_SITE", QUERNFOLD_DEFAULT_COMPANY_SITE);
    c.studioSite = setting("QUERNFOLD_STUDIO_SITE", QUERNFOLD_DEFAULT_STUDIO_SITE);
    c.downloadBase = setting("QUERNFOLD_DOWNLOAD_BASE", QUERNFOLD_DEFAULT_DOWNLOAD_BASE);
    c.versionBase = setting("QUERNFOLD_VERSION_BASE", QUERNFOLD_DEFAULT_VERSION_BASE);
    bool ok = false;
    const int timeout = qEnvironmentVariableIntValue("QUERNFOLD_HTTP_TIMEOUT_MS", &ok);
    if (ok && timeout > 0)
        c.httpTimeoutMs = timeout;
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    c.proxyEnvironment = ProxyEnvironment::from(env);
    c.settingsPath = defaultSettingsPath();
    c.storePath = ResultsStore::defaultPath();
    c.settings = applyEnvironment(readSettingsFile(c.settingsPath, defaultLookupSettings(), notes), env, notes);
    return c;
}

} // namespace quernfold
