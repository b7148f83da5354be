// Import and export of the domain list through the two file dialogs.
#include "app/main_window.h"

#include "domainlist/export_file.h"
#include "domainlist/import_file.h"
#include "platform/codepage.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace quernfold {

namespace {
const QString kNoImportText = QStringLiteral("缺少GBK编码支持,无法导入..");
} // namespace

void MainWindow::checkCodePage()
{
    m_codePageMissing = !codepage::isAvailable();
    if (!m_codePageMissing)
        return;
    // The version check would stack its own box on this one; it waits until this one is answered.
    const bool checkPending = m_versionCheckTimer->isActive();
    m_versionCheckTimer->stop();
    m_platform.dialogs->messageBox(QStringLiteral("缺少GBK编码支持,导入和导出功能不可用.."),
        MessageButtons::Ok | MessageIcon::Information, QStringLiteral("提示"));
    if (checkPending && !m_closing)
        m_versionCheckTimer->start();
}

void MainWindow::importList()
{
    // Without the code page every Chinese name would come in as U+FFFD; better said before the dialog.
    if (m_codePageMissing) {
        setMessage(kNoImportText);
        return;
    }
    const std::optional<QString> path = m_platform.dialogs->openFile(m_importDialog);
    if (m_closing || !path)
        return;
    importListFile(*path);
}

void MainWindow::importListFile(const QString &path)
{
    // A list named on the command line comes here without the dialog, and waits for the last session's list.
    if (m_restoring) {
        m_pendingImport = path;
        return;
    }
    if (m_codePageMissing) {
        setMessage(kNoImportText);
        return;
    }
    // The next import's dialog offers this file, whether the dialog or the command line chose it.
    m_importDialog.fileName = path;
    // A long import keeps the window painted and says how far it got; user input waits until it is done,
    // so nothing can change the list underneath it.
    m_importing = true;
    const auto progress = [this](qint64 done, qint64 total) {
        if (m_closing)
            return;
        if (total > 0)
            setMessage(QStringLiteral("正在导入.. %1%").arg(done * 100 / total));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    ImportResult result = readDomainFile(path, progress);
    m_importing = false;
    if (m_closing)
        return;

    switch (result.status) {
    case ImportResult::OpenFailed:
    case ImportResult::TooLarge:
        // The list is still as it was: a typo in the dialog must not cost the user their rows.
        setMessage(result.error);
        return;
    case ImportResult::ReadFailed:
        m_model.setDomains(std::move(result.domains));
        setMessage(result.error);
        return;
    case ImportResult::Ok:
        break;
    }
    m_model.setDomains(std::move(result.domains));
    setMessage(QStringLiteral("导入完毕，共导入%1个域名。").arg(m_model.count()));
}

void MainWindow::exportList()
{
    // Without the code page every Chinese cell would go out as "?", and the file would look saved.
    if (m_codePageMissing) {
        setMessage(QStringLiteral("缺少GBK编码支持,无法导出.."));
        return;
    }
    if (m_model.count() == 0) {
        setMessage(QStringLiteral("没有可导出的内容"));
        return;
    }
    const QByteArray block = buildExportBlock(m_model);
    const std::optional<QString> path = m_platform.dialogs->saveFile(m_exportDialog);
    if (m_closing || !path)
        return;
    const ExportResult result = appendExportBlock(*path, block);
    if (!result.ok) {
        setMessage(result.error);
        return;
    }
    setMessage(QStringLiteral("保存成功!路径:") + *path);
}

} // namespace quernfold
