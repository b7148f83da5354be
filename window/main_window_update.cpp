// The version check on the first tick of the version-check timer (`Timer1`).
#include "window/main_window.h"

#include "platform/browser.h"
#include "update/post.h"
#include "update/version_check.h"

#include <QTimer>

namespace quernfold {

void MainWindow::versionCheckTick()
{
    // Ticks go on while the check waits for the reply or shows its box; only the first one checks. An import
    // repaints through the event loop, and the check must not start nested inside it; nor before the question
    // whether to bring back the last session's list is settled, which comes first: the next tick will do.
    if (m_versionCheckStarted || m_importing || m_restoring)
        return;
    m_versionCheckStarted = true;
    runVersionCheck();
}

void MainWindow::runVersionCheck()
{
    const QUrl url = versionServiceUrl(m_config.versionBase);
    m_versionRequest = postForm(*m_platform.http, url, QString::fromLatin1(kVersionRequestBody),
        proxyFor(m_config.settings.effective.proxy, url, m_config.proxyEnvironment), kVersionReplyLimit,
        [this](const PostResult &reply) {
            m_versionRequest = 0;
            // The reply may open a box, and a box opened from inside the client's callback would hold every other
            // reply delivered with this one until it is answered; their watchdog could fail them meanwhile.
            QTimer::singleShot(0, this, [this, reply] { onVersionReply(reply); });
        });
}

void MainWindow::greet(const QString &text)
{
    // The greeting only replaces the start-up text: whatever was written meanwhile (the count of a list named on
    // the command line, an answer to the user's first click) is news the user has not read yet.
    if (!m_messageWritten)
        setMessage(text);
}

void MainWindow::onVersionReply(const PostResult &reply)
{
    if (m_closing)
        return;
    const std::optional<VersionReply> version = reply.ok ? readVersionReply(reply.text) : std::nullopt;
    const VersionDecision decision = version ? decideVersion(*version) : VersionDecision::CheckFailed;
    const QString title = QStringLiteral("提示");
    switch (decision) {
    case VersionDecision::CheckFailed:
        m_platform.dialogs->messageBox(
            QStringLiteral("检测失败,请先使用当前版本"), MessageButtons::Ok | MessageIcon::Information, title);
        if (m_closing)
            return;
        break;
    case VersionDecision::OfferUpdate: {
        const MessageAnswer answer = m_platform.dialogs->messageBox(
            updateOfferText(version->version), MessageButtons::YesNo | MessageIcon::Information, title);
        if (m_closing)
            return;
        if (answer == MessageAnswer::Yes) {
            if (m_platform.browser)
                m_platform.browser->openUrl(downloadPageUrl(m_config.downloadBase, version->sid));
            endProgram(0);
            return;
        }
        if (version->must != QStringLiteral("0")) {
            endProgram(0);
            return;
        }
        greet(QStringLiteral("欢迎使用Tarnwick软件.."));
        break;
    }
    case VersionDecision::UpToDate:
        greet(QStringLiteral("当前软件为最新版本,欢迎使用Tarnwick软件.."));
        break;
    }
    enableWorkingButtons();
    m_versionCheckTimer->stop();
}

} // namespace quernfold
