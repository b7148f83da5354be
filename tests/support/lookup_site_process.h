#pragma once

#include <QProcess>
#include <QString>

namespace quernfold::testing {

// The quernfold_lookup_site executable as a child process on a port it picks itself, for tests that want the
// site outside their own event loop. Found through QUERNFOLD_BIN_DIR, which CTest sets.
class LookupSiteProcess
{
public:
    LookupSiteProcess() = default;
    ~LookupSiteProcess();
    LookupSiteProcess(const LookupSiteProcess &) = delete;
    LookupSiteProcess &operator=(const LookupSiteProcess &) = delete;

    static QString executablePath(); // empty when QUERNFOLD_BIN_DIR is not set
    // Starts the site and waits for its "listening on" line. False with errorString() set on failure.
    bool start(int timeoutMs = 10000);
    void stop();
    QString baseUrl() const { return m_baseUrl; }
    QString errorString() const { return m_error; }

private:
    QProcess m_process;
    QString m_baseUrl;
    QString m_error;
};

} // namespace quernfold::testing
