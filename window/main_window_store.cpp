// The results store behind the window: the list kept from the last session offered back at start, every change
// of the list mirrored into the store as it happens, finished lookups kept in the history, and a way to forget it.
#include "window/main_window.h"

#include "window/store_mirror.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>
#include <QPushButton>

namespace quernfold {

namespace {
const QString kFinished = QStringLiteral("查询完毕");
} // namespace

void MainWindow::openStore()
{
    if (m_config.storePath.isEmpty()) {
        emit listReady();
        return;
    }
    m_store = std::make_unique<ResultsStore>(m_config.storePath);
    m_history = std::make_unique<HistoryRecorder>(*m_store, m_model, m_config.historyBurstMs);
    m_store->pruneVersions(historyCutoff(m_config.settings.effective.historyDays, QDateTime::currentSecsSinceEpoch()));
    connect(m_store.get(), &ResultsStore::problemOccurred, this, &MainWindow::onStoreProblem);
    // Saving goes on by itself once the file can be written again; the user only hears that it stalled and that
    // it caught up.
    connect(m_store.get(), &ResultsStore::savingDelayed, this, [this] {
        if (!m_closing)
            setMessage(QStringLiteral("结果暂时无法保存,稍后重试.."));
    });
    connect(m_store.get(), &ResultsStore::savingResumed, this, [this] {
        if (!m_closing)
            setMessage(QStringLiteral("结果已全部保存.."));
    });
    // Until the stored list is back or declined, nothing may change the window's list: the two would mix.
    m_restoring = true;
    setListControlsEnabled(false);
    m_batchQueryButton->setEnabled(false);
    m_store->listCounts([this](ListCounts counts) { offerRestore(counts); });
}

void MainWindow::offerRestore(const ListCounts &counts)
{
    if (m_closing)
        return;
    // Before the list holds anything: no new row may take a key an earlier session gave a row of this file.
    m_model.reserveKeysBelow(counts.nextKey);
    if (counts.rows == 0) {
        m_store->dropList();
        finishRestore();
        return;
    }
    const MessageAnswer answer
        = m_platform.dialogs->messageBox(QStringLiteral("上次关闭时列表中有%1个域名(其中%2个已查询完毕),是否恢复?")
                                             .arg(counts.rows)
                                             .arg(counts.finished),
            MessageButtons::YesNo | MessageIcon::Information, QStringLiteral("提示"));
    if (m_closing)
        return;
    if (answer != MessageAnswer::Yes) {
        m_store->dropList();
        finishRestore();
        return;
    }
    setMessage(QStringLiteral("正在恢复列表.."));
    m_store->restore([this](std::vector<DomainRow> rows) {
        if (m_closing)
            return;
        m_model.restoreRows(std::move(rows));
        setMessage(QStringLiteral("列表已恢复,共%1个域名..").arg(m_model.count()));
        finishRestore();
    });
}

void MainWindow::finishRestore()
{
    m_restoring = false;
    setListControlsEnabled(true);
    m_batchQueryButton->setEnabled(true);
    if (m_store) {
        m_mirror = std::make_unique<StoreMirror>(m_model, *m_store);
        connect(m_mirror.get(), &StoreMirror::caughtUp, this, &MainWindow::listSaved);
    }
    emit listReady();
    if (!m_pendingImport.isEmpty())
        importListFile(std::exchange(m_pendingImport, {}));
}

void MainWindow::onStoreProblem(ResultsStore::Problem problem, const QString &reason)
{
    if (m_closing)
        return;
    // The window goes on as it did before it had a store; only the user should know what is not kept.
    if (problem == ResultsStore::Problem::DamagedReplaced)
        setMessage(QStringLiteral("结果库已损坏,已移到%1,已新建结果库..").arg(reason));
    else
        setMessage(QStringLiteral("结果库不可用,本次的列表和结果不会自动保存:") + reason + QStringLiteral(".."));
}

bool MainWindow::isComparing() const
{
    return m_history && m_history->isComparing();
}

void MainWindow::onRowFinished(RowKey row)
{
    if (m_history)
        m_history->add(row);
}

void MainWindow::takeHistoryPart(const QHash<QString, HistoryEntry> &part, bool complete)
{
    if (m_closing || !m_reuse)
        return;
    m_reuse->take(part, [this](RowKey row, const HistoryEntry &entry) { writeReusedResult(m_model, row, entry); });
    if (!complete)
        return;
    std::vector<RowKey> left = m_reuse->rowsLeft();
    m_reuse.reset();
    // A stop clicked while the history was searched ends the run before any request.
    if (!m_keepBatchRunning) {
        setMessage(QStringLiteral("停止查询.."));
        // None of them was reached: the summary counts them and their notes say so.
        m_runRows = std::move(left);
        onRunFinished();
        return;
    }
    startLookups(std::move(left));
}

void MainWindow::clearHistory()
{
    if (isQuerying())
        return;
    const MessageAnswer answer = m_platform.dialogs->messageBox(QStringLiteral("确定清除所有历史查询结果?"),
        MessageButtons::YesNo | MessageIcon::Information, QStringLiteral("提示"));
    if (m_closing || answer != MessageAnswer::Yes)
        return;
    if (!m_store) {
        setMessage(QStringLiteral("结果库不可用,没有可清除的历史结果.."));
        return;
    }
    // Results of the last moments are still on their way; they are history too.
    m_history->flush();
    m_store->clearHistory([this](qint64 removed) {
        if (!m_closing)
            setMessage(QStringLiteral("已清除%1条历史结果..").arg(removed));
    });
}

void MainWindow::buildHistoryAction()
{
    m_showHistoryAction
        = m_listMenu->addAction(QStringLiteral("查看历史.."), this, &MainWindow::showHistoryOfSelectedRow);
    m_showHistoryAction->setObjectName(QStringLiteral("showHistory"));
    // Without a store there is no history to show.
    connect(m_listMenu, &QMenu::aboutToShow, this,
        [this] { m_showHistoryAction->setEnabled(m_store != nullptr && !selectedKeys().empty()); });
}

void MainWindow::showHistoryOfSelectedRow()
{
    const std::vector<RowKey> keys = selectedKeys();
    const DomainRow *row = keys.empty() ? nullptr : m_model.find(keys.front());
    if (!m_store || !row)
        return;
    const QString domain = row->domain;
    m_store->versions(domain, [this, domain](std::vector<FilingVersion> versions) {
        if (m_closing)
            return;
        const auto when = [](qint64 secs) {
            return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        };
        QList<QStringList> rows;
        for (const FilingVersion &version : versions) {
            rows << QStringList { when(version.firstSeen), when(version.lastConfirmed), version.record.recordNo,
                version.record.holder, version.record.recordType, version.record.siteName, version.status };
        }
        m_platform.dialogs->showTable(QStringLiteral("historyDialog"), domain + QStringLiteral("的历史结果"),
            { QStringLiteral("首次查到"), QStringLiteral("最后确认"), QStringLiteral("备案号"),
                QStringLiteral("备案人"), QStringLiteral("备案类型"), QStringLiteral("网站名称"),
                QStringLiteral("查询状态") },
            rows);
    });
}

} // namespace quernfold
