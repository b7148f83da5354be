#include "app/domain_list_view.h"

#include "domainlist/domain_list_model.h"

#include <QHelpEvent>
#include <QMouseEvent>
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
    : QTreeView(parent)
    , m_changeTimer(new QTimer(this))
{
    setItemDelegate(new StatusNoteDelegate(this));
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

void DomainListView::flushChanges()
{
    const QAbstractItemModel *m = model();
    const int from = std::exchange(m_changedFrom, -1);
    const int to = qMin(std::exchange(m_changedTo, -1), m ? m->rowCount() - 1 : -1);
    if (!m || from < 0 || from > to)
        return;
    QTreeView::dataChanged(m->index(from, 0), m->index(to, m->columnCount() - 1), {});
}

void DomainListView::mousePressEvent(QMouseEvent *event)
{
    if (m_locked) {
        event->ignore();
        return;
    }
    // The window decides about the context menu; the view still gets the press for its selection.
    emit mouseDown(event->button(), event->globalPosition().toPoint());
    QTreeView::mousePressEvent(event);
}

void DomainListView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTreeView::mouseReleaseEvent(event);
}

void DomainListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTreeView::mouseDoubleClickEvent(event);
}

void DomainListView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTreeView::mouseMoveEvent(event);
}

void DomainListView::keyPressEvent(QKeyEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTreeView::keyPressEvent(event);
}

void DomainListView::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_locked)
        event->ignore();
    else
        QTreeView::contextMenuEvent(event);
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
        return QTreeView::viewportEvent(event);
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
