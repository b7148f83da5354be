#pragma once

#include "lookup/lookup_settings.h"
#include "platform/proxy.h"

#include <QString>

namespace quernfold {

// Addresses of the outside sites, built in at configure time and overridable by environment variables of
// the same names, and the user's lookup settings. Read once at start-up.
struct Config {
    QString companySite; // QUERNFOLD_COMPANY_SITE
    QString studioSite; // QUERNFOLD_STUDIO_SITE
    QString downloadBase; // QUERNFOLD_DOWNLOAD_BASE
    QString versionBase; // QUERNFOLD_VERSION_BASE
    int httpTimeoutMs = 30000; // QUERNFOLD_HTTP_TIMEOUT_MS: a request that receives nothing this long fails
    ProxyEnvironment proxyEnvironment;
    // The settings file (INI); empty keeps what the user sets for this run only.
    QString settingsPath;
    // The results store (SQLite); empty keeps the list and the results in memory only.
    QString storePath;
    // QUERNFOLD_LOOKUP_BASE and the other lookup settings: the file, then the environment on top.
    SettingsState settings;
    // How long finished lookups gather before the history compares them with the domains' earlier results.
    int historyBurstMs = 250;

    // Notes about values that were out of range or unreadable go to `notes`.
    static Config fromEnvironment(QStringList *notes = nullptr);
    // $XDG_CONFIG_HOME/quernfold/quernfold.ini on Linux.
    static QString defaultSettingsPath();
    // The lookup settings' own defaults, with the built-in lookup site.
    static LookupSettings defaultLookupSettings();
};

} // namespace quernfold
