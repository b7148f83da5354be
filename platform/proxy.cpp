#include "platform/proxy.h"

namespace quernfold {

namespace {

QString firstSet(const QProcessEnvironment &env, const char *lower, const char *upper)
{
    const QString value = env.value(QString::fromLatin1(lower));
    return value.isEmpty() ? env.value(QString::fromLatin1(upper)) : value;
}

// no_proxy: names separated by commas or blanks; "*" matches everything, "example.com" and ".example.com"
// match the name and every name below it. Ports are ignored.
bool bypasses(const QString &noProxy, const QString &host)
{
    const QString name = host.toLower();
    const QStringList entries = QString(noProxy).replace(u' ', u',').split(u',', Qt::SkipEmptyParts);
    for (QString entry : entries) {
        entry = entry.trimmed().toLower();
        if (entry == QStringLiteral("*"))
            return true;
        if (const qsizetype colon = entry.lastIndexOf(u':');
            colon > 0 && !entry.contains(u']') && entry.count(u':') == 1)
            entry.truncate(colon);
        while (entry.startsWith(u'.'))
            entry.remove(0, 1);
        if (entry.isEmpty())
            continue;
        if (name == entry || name.endsWith(u'.' + entry))
            return true;
    }
    return false;
}

} // namespace

ProxyEnvironment ProxyEnvironment::from(const QProcessEnvironment &env)
{
    ProxyEnvironment proxies;
    proxies.httpProxy = firstSet(env, "http_proxy", "HTTP_PROXY");
    proxies.httpsProxy = firstSet(env, "https_proxy", "HTTPS_PROXY");
    proxies.allProxy = firstSet(env, "all_proxy", "ALL_PROXY");
    proxies.noProxy = firstSet(env, "no_proxy", "NO_PROXY");
    return proxies;
}

bool isValidProxyChoice(const QString &choice)
{
    if (choice.isEmpty() || choice == QStringLiteral("none"))
        return true;
    const QUrl url(choice, QUrl::StrictMode);
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QStringLiteral("http") || scheme == QStringLiteral("socks5"))
        && !url.host().isEmpty() && url.port() > 0 && (url.path().isEmpty() || url.path() == QStringLiteral("/"))
        && !url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty();
}

QByteArray proxyFor(const QString &choice, const QUrl &target, const ProxyEnvironment &env)
{
    if (choice == QStringLiteral("none"))
        return {};
    if (!choice.isEmpty())
        return choice.toUtf8();
    QString fromEnv = target.scheme() == QStringLiteral("https") ? env.httpsProxy : env.httpProxy;
    if (fromEnv.isEmpty())
        fromEnv = env.allProxy;
    if (fromEnv.isEmpty() || bypasses(env.noProxy, target.host()))
        return {};
    // "host:port" without a scheme means an HTTP proxy, as it does for every tool that reads these.
    if (!fromEnv.contains(QStringLiteral("://")))
        fromEnv.prepend(QStringLiteral("http://"));
    return fromEnv.toUtf8();
}

} // namespace quernfold
