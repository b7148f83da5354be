// The record lookups the window drives: the batch run of the whole list, the run over unfinished rows and the
// query of the selected row. The run itself lives in LookupRun; the window starts it, asks it to stop and
// shows what it reports.
#include "app/main_window.h"

#include "lookup/lookup_run.h"
#include "platform/site_address.h"

#include <QAction>
#include <QDateTime>
#include <QPushButton>

namespace quernfold {

namespace {
const QString kBatchCaption = QStringLiteral("批量查询");
const QString kStopCaption = QStringLiteral("停止查询");
const QString kStoppingCaption = QStringLiteral("开始查询");
} // namespace

LookupRun &MainWindow::lookupRun()
{
    if (!m_run) {
        if (!m_platform.http)
            qFatal("a lookup was started without an HTTP client");
        m_run = new LookupRun(m_model, *m_platform.http, this);
        connect(m_run, &LookupRun::rowStarted, this, &MainWindow::onRowStarted);
        connect(m_run, &LookupRun::stopNoticed, this, [this] { setMessage(QStringLiteral("停止查询..")); });
        connect(m_run, &LookupRun::gaveUp, this, &MainWindow::onRunGaveUp);
        connect(m_run, &LookupRun::finished, this, &MainWindow::onRunFinished);
        connect(m_run, &LookupRun::rowFinished, this, &MainWindow::onRowFinished);
    }
    return *m_run;
}

void MainWindow::startOrStopBatchQuery()
{
    const QString caption = m_batchQueryButton->text();
    const int rows = m_model.count();
    if (caption == kBatchCaption && rows != 0) {
        std::vector<int> all(static_cast<size_t>(rows));
        for (int i = 0; i < rows; ++i)
            all[size_t(i)] = i;
        runBatch(std::move(all), true);
        return;
    }
    if (caption == kStopCaption) {
        m_batchQueryButton->setText(kStoppingCaption);
        m_keepBatchRunning = false;
        lookupRun().requestStop();
        return;
    }
    setMessage(QStringLiteral("请先添加或导入域名.."));
}

void MainWindow::queryUnfinishedRows()
{
    if (m_model.count() == 0) {
        setMessage(QStringLiteral("请先添加或导入域名.."));
        return;
    }
    std::vector<int> unfinished;
    for (int i = 0; i < m_model.count(); ++i) {
        if (m_model.cell(i, DomainListModel::StatusColumn) != QStringLiteral("查询完毕"))
            unfinished.push_back(i);
    }
    if (unfinished.empty()) {
        setMessage(QStringLiteral("所有域名均已查询完毕.."));
        return;
    }
    runBatch(std::move(unfinished), true);
}

bool MainWindow::lookupSiteIsSet()
{
    if (!isPlaceholderAddress(m_config.settings.effective.lookupBase))
        return true;
    // Every request to the built-in placeholder would fail; better to say so once and let the user fix it.
    m_platform.dialogs->messageBox(QStringLiteral("尚未设置查询网站地址,请在查询设置中填写.."),
        MessageButtons::Ok | MessageIcon::Information, QStringLiteral("提示"));
    if (!m_closing)
        editQuerySettings();
    return false;
}

RunOptions MainWindow::runOptions(QueryMode mode) const
{
    return runOptionsFor(mode, m_config.settings.effective, m_config.proxyEnvironment);
}

void MainWindow::runBatch(std::vector<int> rows, bool reuse)
{
    if (!lookupSiteIsSet())
        return;
    m_keepBatchRunning = true;
    m_runKind = RunKind::Batch;
    m_gaveUpReason.clear();
    m_batchQueryButton->setText(kStopCaption);
    setListControlsEnabled(false);
    const int reuseDays = m_config.settings.effective.reuseDays;
    if (!reuse || reuseDays <= 0 || !m_store) {
        startLookups(std::move(rows));
        return;
    }
    // The history is searched first, so that the count announced is the count of rows that will be asked about.
    m_reuse = std::make_unique<ReuseMatcher>(m_model, std::move(rows));
    setMessage(QStringLiteral("正在查找可复用的查询结果.."));
    const qint64 since = reuseCutoff(reuseDays, QDateTime::currentSecsSinceEpoch());
    m_store->history(m_reuse->domains(), since,
        [this](QHash<QString, HistoryEntry> part, bool complete) { takeHistoryPart(part, complete); });
}

void MainWindow::startLookups(std::vector<int> rows)
{
    setMessage(QStringLiteral("开始查询,当前共有%1个域名需查询..").arg(rows.size()));
    lookupRun().start(
        m_config.settings.effective.lookupBase, QueryMode::Batch, std::move(rows), runOptions(QueryMode::Batch));
}

void MainWindow::onRowStarted(int row)
{
    if (m_runKind == RunKind::Batch)
        setProgressMessage(QStringLiteral("共有%1个域名，正在查询第%2个..").arg(m_model.count()).arg(row + 1));
}

void MainWindow::onRunGaveUp(const QString &reason)
{
    // As a stop click would: the rows in flight finish, nothing new starts.
    m_gaveUpReason = reason;
    m_batchQueryButton->setText(kStoppingCaption);
    m_keepBatchRunning = false;
}

void MainWindow::onRunFinished()
{
    const RunKind kind = std::exchange(m_runKind, RunKind::None);
    if (kind == RunKind::Batch) {
        setMessage(QStringLiteral("查询完毕.."));
        m_batchQueryButton->setText(kBatchCaption);
    }
    setListControlsEnabled(true);
    m_batchQueryButton->setEnabled(true);
    if (kind == RunKind::Batch && !m_gaveUpReason.isEmpty()) {
        m_platform.dialogs->messageBox(
            QStringLiteral("查询网站似乎无法访问,已停止查询。\n最后的原因:%1").arg(std::exchange(m_gaveUpReason, {})),
            MessageButtons::Ok | MessageIcon::Information, QStringLiteral("提示"));
    }
}

void MainWindow::querySelectedRow()
{
    const int row = selectedRow();
    if (row < 0 || m_model.row(row).domain.isEmpty()) {
        setMessage(QStringLiteral("请选择要查询的域名.."));
        return;
    }
    if (!lookupSiteIsSet())
        return;
    m_runKind = RunKind::Selected;
    setListControlsEnabled(false);
    m_batchQueryButton->setEnabled(false);
    // One request, no retries: the user asked about this row now and can simply ask again.
    lookupRun().start(
        m_config.settings.effective.lookupBase, QueryMode::Selected, { row }, runOptions(QueryMode::Selected));
}

} // namespace quernfold
