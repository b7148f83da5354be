// The record lookups the window drives: the batch run of the whole list and the query of the selected row.
#include "app/main_window.h"

#include "lookup/query_row.h"

#include <QCoreApplication>
#include <QPushButton>

namespace quernfold {

void MainWindow::Command2_Click()
{
    const QString caption = Command2->text();
    const int rows = m_model.count();
    if (caption == QStringLiteral("批量查询") && rows != 0) {
        runBatch();
        return;
    }
    if (caption == QStringLiteral("停止查询")) {
        Command2->setText(QStringLiteral("开始查询"));
        QueryRunning = false;
        return;
    }
    setMessage(QStringLiteral("请先添加或导入域名.."));
}

void MainWindow::runBatch()
{
    QueryRunning = true;
    ++m_queriesActive;
    Command2->setText(QStringLiteral("停止查询"));
    setListControlsEnabled(false);
    setMessage(QStringLiteral("开始查询,当前共有%1个域名需查询..").arg(m_model.count()));

    const auto closing = [this] { return m_closing; };
    const int total = m_model.count();
    for (int i = 1; i <= total; ++i) {
        QCoreApplication::processEvents();
        if (m_closing)
            return;
        if (!QueryRunning) {
            setMessage(QStringLiteral("停止查询.."));
            break;
        }
        setMessage(QStringLiteral("共有%1个域名，正在查询第%2个..").arg(m_model.count()).arg(i));
        QueryRow(m_model, i - 1, QueryMode::Batch, *m_platform.http, m_config.lookupBase, closing);
        if (m_closing)
            return;
    }

    setMessage(QStringLiteral("查询完毕.."));
    Command2->setText(QStringLiteral("批量查询"));
    --m_queriesActive;
    setListControlsEnabled(true);
}

void MainWindow::cxym_Click()
{
    const int row = selectedRow();
    if (row < 0 || m_model.row(row).domain.isEmpty()) {
        setMessage(QStringLiteral("请选择要查询的域名.."));
    } else {
        ++m_queriesActive;
        setListControlsEnabled(false);
        Command2->setEnabled(false);
        QueryRow(
            m_model, row, QueryMode::Selected, *m_platform.http, m_config.lookupBase, [this] { return m_closing; });
        if (m_closing)
            return;
        --m_queriesActive;
    }
    // Whatever happened above, the controls come back.
    if (m_queriesActive == 0) {
        setListControlsEnabled(true);
        Command2->setEnabled(true);
    }
}

} // namespace quernfold
