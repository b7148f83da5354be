// Import and export of the domain list through the two file dialogs.
#include "window/main_window.h"

#include "domainlist/duplicate_domains.h"
#include "domainlist/export_file.h"
#include "domainlist/import_file.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"

#include <QAction>
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QThread>

#include <atomic>

namespace quernfold {

namespace {
const QString kNoImportText = QStringLiteral("缺少GBK编码支持,无法导入..");

// ".csv" for the entry "CSV 文件(*.csv)|*.csv" of a "label|pattern|..." filter; empty when the entry's pattern
// names no single extension.
QString extensionOfFilter(const QString &filter, int entry)
{
    const QString pattern = filter.split(u'|').value(2 * entry + 1);
    // One extension only: "*.csv", not "*.*" or "*.htm;*.html".
    if (pattern.size() < 3 || !pattern.startsWith(QLatin1String("*.")) || pattern.indexOf(u'*', 1) >= 0
        || pattern.contains(u';'))
        return {};
    return pattern.mid(1);
}

QString importedMessage(qsizetype imported, qsizetype skipped)
{
    QString message = QStringLiteral("导入完毕，共导入%1个域名。").arg(imported);
    if (skipped > 0)
        message += QStringLiteral("跳过%1行(重复或不是域名)。").arg(skipped);
    return message;
}
} // namespace

// The writing thread and what it hands back. Whoever ends it first calls the export off, then waits: the thread
// reads the window's model.
class MainWindow::ExportTask
{
public:
    ~ExportTask()
    {
        cancelled = true;
        if (thread) {
            thread->wait();
            delete thread;
        }
    }

    QString path;
    // The rows written and the rows the list held: the message says how much of the list the file got.
    qsizetype exportedRows = 0;
    qsizetype listRows = 0;
    std::atomic_bool cancelled { false };
    ExportResult result;
    QThread *thread = nullptr;
};

void MainWindow::ExportTaskDeleter::operator()(ExportTask *task) const
{
    delete task;
}

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

    // Replacing used to be the only way; with rows worth keeping (results of a long run) the user decides.
    bool append = false;
    if (m_model.count() > 0) {
        // Buttons that say what they do: "否" for "throw the whole list away" was one slip from losing it.
        const MessageAnswer answer = m_platform.dialogs->messageBox(
            QStringLiteral("列表中已有%1个域名。\n追加: 把导入的域名加在列表后面\n替换: 用导入的域名替换整个列表")
                .arg(m_model.count()),
            MessageButtons::YesNoCancel | MessageIcon::Information, QStringLiteral("提示"),
            { QStringLiteral("追加"), QStringLiteral("替换"), QStringLiteral("取消") });
        if (m_closing)
            return;
        if (answer == MessageAnswer::Cancel) {
            setMessage(QStringLiteral("已取消.."));
            return;
        }
        append = answer == MessageAnswer::Yes;
    }

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
    case ImportResult::TooManyLines:
        // The list is still as it was: a typo in the dialog must not cost the user their rows.
        setMessage(result.error);
        return;
    case ImportResult::ReadFailed:
    case ImportResult::Ok:
        break;
    }
    const qsizetype skipped = result.skipped + dropDuplicateDomains(result.rows, append ? &m_model : nullptr);
    const qsizetype imported = qsizetype(result.rows.size());
    if (append) {
        m_model.appendRows(std::move(result.rows));
    } else {
        const RowKey firstNew = m_model.nextKey();
        std::vector<DomainRow> replaced = m_model.exchangeRows(std::move(result.rows));
        m_undo.recordReplace(std::move(replaced), firstNew, m_model.nextKey());
        updateUndoAction();
    }
    if (result.status == ImportResult::ReadFailed) {
        setMessage(importReadFailedMessage(path, imported));
        return;
    }
    setMessage(importedMessage(imported, skipped));
}

void MainWindow::buildPasteAction()
{
    // With 撤销, in the group of edits after the original items.
    QAction *paste = m_listMenu->addAction(QStringLiteral("粘贴域名"), this, &MainWindow::pasteDomains);
    paste->setObjectName(QStringLiteral("pasteDomains"));
    paste->setShortcut(QKeySequence::Paste);
    // Ctrl+V belongs to the list: in the find field it pastes text as it always does.
    paste->setShortcutContext(Qt::WidgetShortcut);
    m_domainList->addAction(paste);
}

void MainWindow::pasteDomains()
{
    // A locked list takes no keys (a run, an export, the last session's list on its way back); the shortcut is
    // no way around that.
    if (m_closing || m_importing || m_domainList->isLocked() || !m_platform.clipboard)
        return;
    appendDomainLines(m_platform.clipboard->text(), QStringLiteral("剪贴板"));
}

void MainWindow::appendDomainLines(const QString &text, const QString &origin)
{
    // Read by the import itself, so every line is cleaned, counted and bounded as a file's would be; the byte
    // order mark makes it read the text as the UTF-8 it is, whatever code page the system has.
    QByteArray bytes = QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ImportResult result = readDomainDevice(buffer, origin);
    if (result.status != ImportResult::Ok) {
        setMessage(result.error);
        return;
    }
    const qsizetype skipped = result.skipped + dropDuplicateDomains(result.rows, &m_model);
    const qsizetype imported = qsizetype(result.rows.size());
    const RowKey firstAdded = m_model.nextKey();
    m_model.appendRows(std::move(result.rows));
    if (imported > 0)
        showAddedRows(firstAdded);
    setMessage(importedMessage(imported, skipped));
}

void MainWindow::exportList()
{
    // Without the code page every Chinese cell would go out as "?", and the file would look saved.
    if (m_codePageMissing) {
        setMessage(QStringLiteral("缺少GBK编码支持,无法导出.."));
        return;
    }
    if (isExporting())
        return;
    // Nothing shown, nothing to write: a filter can hide every row of a full list.
    std::vector<RowKey> rows = shownKeys();
    if (rows.empty()) {
        setMessage(QStringLiteral("没有可导出的内容"));
        return;
    }
    const std::optional<QString> chosen = m_platform.dialogs->saveFile(m_exportDialog);
    if (m_closing || !chosen)
        return;
    QString path = *chosen;
    // The type list decides what a new bare name becomes; a name with any extension of its own keeps it, and so
    // does a file or device that is already there (the block is appended to a chosen file, as always).
    if (QFileInfo(path).suffix().isEmpty() && !QFileInfo::exists(path)) {
        path += extensionOfFilter(m_exportDialog.filter, m_exportDialog.selectedFilter);
        m_exportDialog.fileName = path;
    }
    startExport(path, std::move(rows));
}

void MainWindow::startExport(const QString &path, std::vector<RowKey> keys)
{
    // The writing thread reads the list by position: the list is locked until it is done, so positions taken now
    // stay true.
    std::vector<int> rows;
    rows.reserve(keys.size());
    for (const RowKey key : keys) {
        const int position = m_model.positionOf(key);
        if (position >= 0)
            rows.push_back(position);
    }
    std::vector<RowKey>().swap(keys);
    const qsizetype exportedRows = qsizetype(rows.size());
    // A million rows take seconds to write. The list is locked as during a run, so nothing changes the rows
    // the writing thread reads, and the window stays free to paint and to show the progress.
    setListControlsEnabled(false);
    m_batchQueryButton->setEnabled(false);
    m_export.reset(new ExportTask);
    ExportTask *task = m_export.get();
    task->path = path;
    task->exportedRows = exportedRows;
    task->listRows = m_model.count();
    task->thread = QThread::create([this, task, rows = std::move(rows)] {
        ExportControl control;
        control.cancelled = &task->cancelled;
        control.progress = [this](qint64 done, qint64 total) {
            QMetaObject::invokeMethod(
                this,
                [this, done, total] {
                    if (total > 0 && isExporting())
                        setProgressMessage(QStringLiteral("正在导出.. %1%").arg(done * 100 / total));
                },
                Qt::QueuedConnection);
        };
        task->result = writeExport(task->path, m_model, rows, control);
    });
    connect(task->thread, &QThread::finished, this, &MainWindow::onExportFinished);
    task->thread->start();
}

void MainWindow::onExportFinished()
{
    const std::unique_ptr<ExportTask, ExportTaskDeleter> task = std::move(m_export);
    if (!task)
        return;
    setListControlsEnabled(true);
    m_batchQueryButton->setEnabled(true);
    if (m_closing)
        return;
    if (!task->result.ok) {
        setMessage(task->result.error);
        return;
    }
    // A filter can leave rows out of the file: the message says how many went in, also when all did.
    setMessage(QStringLiteral("保存成功!路径:%1 (已导出%2/%3行)")
                   .arg(task->path, groupedNumber(task->exportedRows), groupedNumber(task->listRows)));
}

} // namespace quernfold
