#include "support/lookup_site_process.h"

#include <QDeadlineTimer>
#include <QDir>

namespace quernfold::testing {

LookupSiteProcess::~LookupSiteProcess()
{
    stop();
}

QString LookupSiteProcess::executablePath()
{
    const QString binDir = qEnvironmentVariable("QUERNFOLD_BIN_DIR");
    if (binDir.isEmpty())
        return {};
    return QDir(binDir).filePath(QStringLiteral("tools/lookup_site/quernfold_lookup_site"));
}

bool LookupSiteProcess::start(int timeoutMs)
{
    const QString program = executablePath();
    if (program.isEmpty()) {
        m_error = QStringLiteral("QUERNFOLD_BIN_DIR is not set");
        return false;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, { QStringLiteral("--port"), QStringLiteral("0") });
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    // The site prints its one line as soon as it listens; anything else means it failed to start.
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()
            || !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            if (!m_process.canReadLine()) {
                m_error = QStringLiteral("no listening line from ") + program;
                stop();
                return false;
            }
        }
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const QString prefix = QStringLiteral("listening on ");
    if (!line.startsWith(prefix)) {
        m_error = QStringLiteral("unexpected first line: ") + line;
        stop();
        return false;
    }
    m_baseUrl = line.mid(prefix.size());
    return true;
}

void LookupSiteProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

} // namespace quernfold::testing
