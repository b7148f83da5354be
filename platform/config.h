#pragma once

#include <QString>

namespace quernfold {

// Addresses of the outside sites, built in at configure time and overridable by environment variables of
// the same names. Read once at start-up.
struct Config {
    QString companySite; // QUERNFOLD_COMPANY_SITE
    QString studioSite; // QUERNFOLD_STUDIO_SITE
    QString downloadBase; // QUERNFOLD_DOWNLOAD_BASE
    QString versionBase; // QUERNFOLD_VERSION_BASE
    QString lookupBase; // QUERNFOLD_LOOKUP_BASE
    int httpTimeoutMs = 30000; // QUERNFOLD_HTTP_TIMEOUT_MS

    static Config fromEnvironment();
};

} // namespace quernfold
