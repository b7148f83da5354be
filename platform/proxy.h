#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

namespace quernfold {

// The proxy variables as Linux tools read them, taken once at start-up.
struct ProxyEnvironment {
    QString httpProxy; // http_proxy, else HTTP_PROXY
    QString httpsProxy; // https_proxy, else HTTPS_PROXY
    QString allProxy; // all_proxy, else ALL_PROXY: for either scheme when the specific one is unset
    QString noProxy; // no_proxy, else NO_PROXY

    static ProxyEnvironment from(const QProcessEnvironment &env);
};

// The user's proxy choice: empty follows the environment, "none" connects directly, otherwise an address
// "http://host:port" or "socks5://host:port".
bool isValidProxyChoice(const QString &choice);

// The proxy a request for `target` goes through under `choice`, as HttpRequest::proxy wants it: empty for a
// direct connection.
QByteArray proxyFor(const QString &choice, const QUrl &target, const ProxyEnvironment &env);

} // namespace quernfold
