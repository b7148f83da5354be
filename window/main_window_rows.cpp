// The rows as the user sees them: the line over the list that says what it shows while a kind or a find text
// hides rows, the place kept across a sort, a filter or a find, and rows just added shown and selected.
#include "window/main_window.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

namespace quernfold {

namespace {
constexpr int kFilterLineHeight = 24;
constexpr int kFilterLineGap = 2;
} // namespace

void MainWindow::buildFilterLine(QWidget *client)
{
    m_filterLine = new QFrame(client);
    m_filterLine->setObjectName(QStringLiteral("filterLine"));
    m_filterLine->setAccessibleName(QStringLiteral("显示的行"));
    m_filterLine->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    m_filterLine->setAutoFillBackground(true);
    auto *row = new QHBoxLayout(m_filterLine);
    row->setContentsMargins(6, 0, 2, 0);
    row->setSpacing(6);
    m_filterText = new QLabel(m_filterLine);
    m_filterText->setObjectName(QStringLiteral("filterText"));
    m_filterText->setTextFormat(Qt::PlainText);
    auto *showAll = new QToolButton(m_filterLine);
    showAll->setObjectName(QStringLiteral("showAllRows"));
    showAll->setText(QStringLiteral("显示全部"));
    showAll->setAccessibleName(QStringLiteral("显示全部行"));
    connect(showAll, &QToolButton::clicked, this, &MainWindow::showAllRows);
    row->addWidget(m_filterText, 1);
    row->addWidget(showAll);
    m_filterLine->hide();

    // The count of matches sits in the find bar, before its close button.
    m_findMatches = new QLabel(m_findBar);
    m_findMatches->setObjectName(QStringLiteral("findMatches"));
    m_findMatches->setTextFormat(Qt::PlainText);
    if (auto *bar = qobject_cast<QHBoxLayout *>(m_findBar->layout()))
        bar->insertWidget(bar->count() - 1, m_findMatches);

    // A run changes the counts row by row; the line follows at display rate.
    m_filterLineTimer = new QTimer(this);
    m_filterLineTimer->setSingleShot(true);
    m_filterLineTimer->setInterval(DomainListView::kFrameMs);
    connect(m_filterLineTimer, &QTimer::timeout, this, &MainWindow::updateFilterLine);
    const auto soon = [this] {
        if (!m_filterLineTimer->isActive())
            m_filterLineTimer->start();
    };
    connect(m_shownModel, &ShownRowsModel::countsChanged, this, soon);
    connect(m_shownModel, &QAbstractItemModel::rowsInserted, this, soon);
    connect(m_shownModel, &QAbstractItemModel::rowsRemoved, this, soon);
    connect(m_shownModel, &QAbstractItemModel::modelReset, this, soon);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, soon);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, soon);
    connect(&m_model, &QAbstractItemModel::modelReset, this, soon);
}

void MainWindow::updateFilterLine()
{
    m_filterLineTimer->stop();
    const QString find = m_shownModel->findText();
    const int shown = m_shownModel->rowCount();
    m_findMatches->setText(find.isEmpty() ? QString() : QStringLiteral("%1个匹配").arg(groupedNumber(shown)));
    const ShownRowsModel::Kind kind = m_shownModel->kind();
    const bool filtered = kind != ShownRowsModel::Kind::All || !find.isEmpty();
    if (filtered) {
        QStringList parts { QStringLiteral("显示: ") + kindLabel(kind),
            QStringLiteral("%1 / %2行").arg(groupedNumber(shown), groupedNumber(m_model.count())) };
        if (!find.isEmpty())
            parts << QStringLiteral("查找 \"%1\"").arg(find);
        const QString text = parts.join(QStringLiteral(" · "));
        m_filterText->setText(text);
        m_filterText->setAccessibleName(text);
    }
    if (filtered == !m_filterLine->isHidden())
        return;
    m_filterLine->setVisible(filtered);
    placeControls();
}

void MainWindow::placeFilterLine()
{
    if (!m_filterLine || m_filterLine->isHidden())
        return;
    // The line takes the list's top rather than covering it: the header stays there to sort by, and no row
    // hides under it.
    const QRect list = m_domainList->geometry();
    m_filterLine->setGeometry(list.left(), list.top(), list.width(), kFilterLineHeight);
    m_filterLine->raise();
    m_domainList->setGeometry(list.adjusted(0, kFilterLineHeight + kFilterLineGap, 0, 0));
}

void MainWindow::showAllRows()
{
    if (m_findBar->isHidden())
        m_findField->clear();
    else
        hideFindBar();
    showKind(ShownRowsModel::Kind::All);
}

RowKey MainWindow::currentKey() const
{
    const QModelIndex current = m_domainList->currentIndex();
    return current.isValid() ? m_shownModel->keyAt(current.row()) : selectedKey();
}

void MainWindow::showPlace(RowKey current)
{
    // The line's room first: the list's height decides what is in view.
    updateFilterLine();
    // The view lays its rows out later; scrolling before that would measure the rows as they were.
    m_domainList->doItemsLayout();
    const int shown = current == RowKey::None ? -1 : m_shownModel->shownRowOf(current);
    if (shown < 0) {
        m_domainList->scrollToTop();
        return;
    }
    const QModelIndex was = m_domainList->currentIndex();
    const QModelIndex index = m_shownModel->index(shown, was.isValid() ? was.column() : 0);
    if (index != was)
        m_domainList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_domainList->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void MainWindow::showAddedRows(RowKey firstAdded)
{
    QItemSelection selection;
    int first = -1;
    int runStart = -1;
    const int count = m_shownModel->rowCount();
    for (int row = 0; row <= count; ++row) {
        const bool added = row < count && m_shownModel->keyAt(row) >= firstAdded;
        if (added && runStart < 0)
            runStart = row;
        if (!added && runStart >= 0) {
            selection.select(
                m_shownModel->index(runStart, 0), m_shownModel->index(row - 1, DomainListModel::ColumnCount - 1));
            first = first < 0 ? runStart : first;
            runStart = -1;
        }
    }
    // Rows the kind or the find text hides cannot be shown; the filter line says that rows are hidden.
    if (first < 0)
        return;
    m_domainList->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const QModelIndex index = m_shownModel->index(first, DomainListModel::DomainColumn);
    m_domainList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_domainList->doItemsLayout();
    m_domainList->scrollTo(index, QAbstractItemView::EnsureVisible);
}

} // namespace quernfold
