// The record lookups the window drives: the batch run of the whole list, the run over unfinished rows and the
// query of the selected row. The run itself lives in LookupRun; the window starts it, asks it to stop and
// shows what it reports.
#include "window/main_window.h"

#include "lookup/lookup_run.h"
#include "platform/site_address.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QProgressBar>
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
        std::vector<RowKey> all(static_cast<size_t>(rows));
        for (int i = 0; i < rows; ++i)
            all[size_t(i)] = m_model.keyAt(i);
        runBatch(std::move(all), true);
        return;
    }
    if (caption == kStopCaption) {
        m_batchQueryButton->setText(kStoppingCaption);
        m_keepBatchRunning = false;
        m_runStopped = true;
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
    std::vector<RowKey> unfinished;
    for (int i = 0; i < m_model.count(); ++i) {
        if (m_model.isOfKind(i, RowKind::Unfinished))
            unfinished.push_back(m_model.keyAt(i));
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

void MainWindow::runBatch(std::vector<RowKey> rows, bool reuse)
{
    if (!lookupSiteIsSet())
        return;
    m_keepBatchRunning = true;
    m_runKind = RunKind::Batch;
    m_gaveUpReason.clear();
    m_batchQueryButton->setText(kStopCaption);
    setListControlsEnabled(false);
    // The clock runs from the click: the time taken in the summary includes the search for reusable results.
    m_runRows.clear();
    m_rowsStarted = 0;
    m_runReached = 0;
    m_runStopped = false;
    m_runClock.start();
    const int reuseDays = m_config.settings.effective.reuseDays;
    if (!reuse || reuseDays <= 0 || !m_store) {
        startLookups(std::move(rows));
        return;
    }
    // The history is searched first, so that the count announced is the count of rows that will be asked about;
    // it includes the results of a run that ended a moment ago.
    m_history->flush();
    m_reuse = std::make_unique<ReuseMatcher>(m_model, std::move(rows));
    setMessage(QStringLiteral("正在查找可复用的查询结果.."));
    const qint64 since = reuseCutoff(reuseDays, QDateTime::currentSecsSinceEpoch());
    m_store->history(m_reuse->domains(), since,
        [this](QHash<QString, HistoryEntry> part, bool complete) { takeHistoryPart(part, complete); });
}

void MainWindow::startLookups(std::vector<RowKey> rows)
{
    setMessage(QStringLiteral("开始查询,当前共有%1个域名需查询..").arg(rows.size()));
    m_runRows = rows;
    m_rateSamples.clear();
    m_rateSamples.emplace_back(m_runClock.elapsed(), 0);
    m_runProgress->setRange(0, qMax(1, int(m_runRows.size())));
    m_runProgress->setValue(0);
    updateRunProgress();
    m_runProgress->show();
    lookupRun().start(
        m_config.settings.effective.lookupBase, QueryMode::Batch, std::move(rows), runOptions(QueryMode::Batch));
}

void MainWindow::onRowStarted(RowKey row)
{
    if (m_runKind != RunKind::Batch)
        return;
    ++m_rowsStarted;
    noteRowReached(row);
    setProgressMessage(
        QStringLiteral("共有%1个域名，正在查询第%2个..").arg(m_model.count()).arg(m_model.positionOf(row) + 1));
}

void MainWindow::showPendingProgress()
{
    if (!m_pendingProgress.isEmpty())
        m_messagePanel->setText(std::exchange(m_pendingProgress, {}));
    updateRunProgress();
}

void MainWindow::updateRunProgress()
{
    if (m_runKind != RunKind::Batch || !m_runClock.isValid())
        return;
    const qint64 now = m_runClock.elapsed();
    // The rate of the last ten seconds: a run that slows down (retries, a throttling site) shows it at once.
    constexpr qint64 kRateWindowMs = 10000;
    if (m_rateSamples.empty() || m_rateSamples.back().first != now)
        m_rateSamples.emplace_back(now, m_rowsStarted);
    while (m_rateSamples.size() > 2 && m_rateSamples[1].first <= now - kRateWindowMs)
        m_rateSamples.pop_front();
    const auto &[since, startedThen] = m_rateSamples.front();
    const double seconds = (now - since) / 1000.0;
    const double rate = seconds > 0.2 ? (m_rowsStarted - startedThen) / seconds : 0.0;
    const int total = int(m_runRows.size());
    const QString left
        = rate > 0 ? durationText(qint64((total - m_rowsStarted) / rate * 1000)) : QStringLiteral("-:--");
    const QString text
        = QStringLiteral("%1/%2 · %3行/秒 · 剩余%4")
              .arg(groupedNumber(m_rowsStarted), groupedNumber(total), groupedNumber(qint64(rate + 0.5)), left);
    m_runProgress->setValue(qMin(m_rowsStarted, m_runProgress->maximum()));
    m_runProgress->setFormat(text);
    m_runProgress->setAccessibleDescription(text);
}

void MainWindow::showRunSummary()
{
    const QString noRecord = QStringLiteral("无记录");
    const QString deleted = QStringLiteral("备案已被删除");
    const QString done = QStringLiteral("查询完毕");
    qint64 found = 0, noRecords = 0, deletedRecords = 0, unfinished = 0;
    const int started = qMin<int>(m_rowsStarted, int(m_runRows.size()));
    for (int i = 0; i < started; ++i) {
        const int row = m_model.positionOf(m_runRows[size_t(i)]);
        if (row < 0)
            continue;
        if (m_model.cell(row, DomainListModel::StatusColumn) != done) {
            ++unfinished;
            continue;
        }
        const QString recordNo = m_model.cell(row, DomainListModel::RecordNoColumn);
        if (recordNo == noRecord)
            ++noRecords;
        else if (recordNo == deleted)
            ++deletedRecords;
        else
            ++found;
    }
    QStringList parts;
    if (m_runStopped)
        parts << QStringLiteral("已停止");
    parts << QStringLiteral("有备案%1").arg(groupedNumber(found))
          << QStringLiteral("无记录%1").arg(groupedNumber(noRecords))
          << QStringLiteral("已删除%1").arg(groupedNumber(deletedRecords))
          << QStringLiteral("未完成%1").arg(groupedNumber(unfinished));
    const int notReached = int(m_runRows.size()) - started;
    if (notReached > 0)
        parts << QStringLiteral("未查询%1").arg(groupedNumber(notReached));
    m_summaryHead = parts;
    m_summaryTail = QStringLiteral("用时%1").arg(durationText(m_runClock.elapsed()));
    // Rows the run never reached got no new result to compare.
    m_runRows.resize(size_t(started));
    m_runRows.shrink_to_fit();
    m_summaryRows = std::exchange(m_runRows, {});
    m_runProgress->hide();
    updateRunSummary();
    m_runSummary->show();
    m_runSummary->raise();
}

void MainWindow::updateRunSummary()
{
    qint64 changed = 0;
    for (const RowKey key : m_summaryRows) {
        const int row = m_model.positionOf(key);
        changed += row >= 0 && m_model.isOfKind(row, RowKind::Changed);
    }
    const QString summary
        = (QStringList(m_summaryHead) << QStringLiteral("有变化%1").arg(groupedNumber(changed)) << m_summaryTail)
              .join(QStringLiteral(" · "));
    if (summary == m_runSummary->text())
        return;
    m_runSummary->setText(summary);
    // A screen reader reads the summary itself, not a caption for it.
    m_runSummary->setAccessibleName(summary);
}

void MainWindow::noteRowReached(RowKey row)
{
    // Rows start in the order of the run's list; those it skipped on the way had left the list.
    const auto at = std::find(m_runRows.begin() + qsizetype(m_runReached), m_runRows.end(), row);
    if (at != m_runRows.end())
        m_runReached = size_t(at - m_runRows.begin()) + 1;
}

void MainWindow::markRowsNotReached()
{
    if (m_runReached >= m_runRows.size())
        return;
    // The rows are named by the list's mark, not by cells of their own: a million rows left by an early stop
    // cost nothing more than they did.
    m_model.markNotReached(std::vector<RowKey>(m_runRows.begin() + qsizetype(m_runReached), m_runRows.end()));
}

void MainWindow::onRunGaveUp(const QString &reason)
{
    // As a stop click would: the rows in flight finish, nothing new starts.
    m_gaveUpReason = reason;
    m_batchQueryButton->setText(kStoppingCaption);
    m_keepBatchRunning = false;
    m_runStopped = true;
}

void MainWindow::onRunFinished()
{
    const RunKind kind = std::exchange(m_runKind, RunKind::None);
    if (kind == RunKind::Batch) {
        setMessage(QStringLiteral("查询完毕.."));
        m_batchQueryButton->setText(kBatchCaption);
        markRowsNotReached();
        showRunSummary();
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
    std::vector<RowKey> rows = selectedKeys();
    if (rows.size() > 1) {
        // Several picked rows are a batch run over exactly those, with its texts and its stop; like the query of
        // one row, it always asks the site.
        runBatch(std::move(rows), false);
        return;
    }
    const RowKey row = rows.empty() ? RowKey::None : rows.front();
    const DomainRow *selected = m_model.find(row);
    if (!selected || selected->domain.isEmpty()) {
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
