#include "window/domain_list_view.h"

#include "domainlist/domain_list_model.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace quernfold {

// Draws the status of a row whose last lookup did not finish in a warning colour; its note is the tooltip.
class StatusNoteDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == DomainListModel::StatusColumn && index.data(DomainListModel::NoteRole).isValid()) {
            const QColor warning(0xB0, 0x3A, 0x00);
            option->palette.setColor(QPalette::Text, warning);
            option->palette.setColor(QPalette::HighlightedText, warning.lighter(190));
        }
    }
};

DomainListView::DomainListView(QWidget *parent)
    : QTableView(parent)
    , m_changeTimer(new QTimer(this))
{
    setItemDelegate(new StatusNoteDelegate(this));
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    // Names for the parts Qt makes on its own, so a screen reader has something to say for each: the headers are
    // scroll areas too, with scroll bars that never show.
    horizontalHeader()->setAccessibleName(QStringLiteral("列标题"));
    verticalHeader()->setAccessibleName(QStringLiteral("行号"));
    for (QScrollBar *bar : findChildren<QScrollBar *>())
        bar->setAccessibleName(
            bar->orientation() == Qt::Vertical ? QStringLiteral("垂直滚动条") : QStringLiteral("水平滚动条"));
    for (QAbstractButton *corner : findChildren<QAbstractButton *>())
        corner->setAccessibleName(QStringLiteral("全选"));
    m_changeTimer->setSingleShot(true);
    m_changeTimer->setInterval(kFrameMs);
    connect(m_changeTimer, &QTimer::timeout, this, &DomainListView::flushChanges);
}

void DomainListView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &)
{
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    m_changedFrom = m_changedFrom < 0 ? topLeft.row() : qMin(m_changedFrom, topLeft.row());
    m_changedTo = qMax(m_changedTo, bottomRight.row());
    if (!m_changeTimer->isActive())
        m_changeTimer->start();
}

std::pair<int, int> DomainListView::visibleRows() const
{
    const QAbstractItemModel *m = model();
    if (!m || m->rowCount() == 0)
        return { -1, -2 };
    const int first = qMax(0, rowAt(0));
    const int bottom = rowAt(viewport()->height() - 1);
    return { first, bottom < 0 ? m->rowCount() - 1 : bottom };
}

void DomainListView::flushChanges()
{
    const QAbstractItemModel *m = model();
    const int from = std::exchange(m_changedFrom, -1);
    const int to = qMin(std::exchange(m_changedTo, -1), m ? m->rowCount() - 1 : -1);
    if (!m || from < 0 || from > to)
        return;
    // Only rows on screen need drawing again: a change spanning a million rows (the IDs below a deleted row)
    // must not cost a walk over all of them.
    const auto [firstVisible, lastVisible] = visibleRows();
    const int first = qMax(from, firstVisible);
    const int last = qMin(to, lastVisible);
    if (first > last)
        return;
    QTableView::dataChanged(m->index(first, 0), m->index(last, m->columnCount() - 1), {});
}

void DomainListView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    // One row is one line of text, as a report list draws it.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

void DomainListView::mousePressEvent(QMouseEvent *event)
{
    if (m_locked) {
        event->ignore();
        return;
    }
    // The window decides about the context menu; the view still gets the press for its selection.
    emit mouseDown(event->button(), event->globalPosition().toPoint());
    QTableView::mousePressEvent(event);
}

void DomainListView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTableView::mouseReleaseEvent(event);
}

void DomainListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTableView::mouseDoubleClickEvent(event);
}

void DomainListView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTableView::mouseMoveEvent(event);
}

void DomainListView::keyPressEvent(QKeyEvent *event)
{
    if (m_locked) {
        event->ignore();
        return;
    }
    if (event->matches(QKeySequence::Delete)) {
        emit deletePressed();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        emit copyPressed();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DomainListView::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTableView::contextMenuEvent(event);
}

QString DomainListView::toolTipFor(const QModelIndex &index) const
{
    if (!index.isValid())
        return QString();
    const QVariant own = index.data(Qt::ToolTipRole);
    if (own.isValid())
        return own.toString();
    const QAbstractItemDelegate *delegate = itemDelegateForIndex(index);
    if (!delegate)
        return QString();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    // The delegate's size hint is the text plus the margins it paints with: wider than the cell means cut.
    if (delegate->sizeHint(option, index).width() <= option.rect.width())
        return QString();
    return index.data(Qt::DisplayRole).toString();
}

bool DomainListView::viewportEvent(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QTableView::viewportEvent(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString tip = toolTipFor(index);
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
    return true;
}

} // namespace quernfold
