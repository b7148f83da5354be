#include "window/domain_list_view.h"

#include "domainlist/domain_list_model.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <numeric>

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
    m_columnMenu = new QMenu(this);
    m_columnMenu->setObjectName(QStringLiteral("columnMenu"));
    m_columnMenu->setAccessibleName(QStringLiteral("显示的列"));
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(horizontalHeader(), &QHeaderView::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (!m_columnMenu->isEmpty())
            m_columnMenu->popup(horizontalHeader()->viewport()->mapToGlobal(pos));
    });
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, &DomainListView::onSectionResized);
}

void DomainListView::planColumns(std::vector<ColumnPlan> plan)
{
    m_plan = std::move(plan);
    QHeaderView *header = horizontalHeader();
    m_fitting = true;
    for (int column = 0; column < int(m_plan.size()) && column < header->count(); ++column) {
        const ColumnPlan &planned = m_plan[size_t(column)];
        header->setSectionHidden(column, false);
        header->resizeSection(column, planned.width);
        header->setSectionHidden(column, !planned.shown);
    }
    m_fitting = false;
    buildColumnMenu();
    fitColumns();
}

void DomainListView::buildColumnMenu()
{
    m_columnMenu->clear();
    for (int column = 0; column < int(m_plan.size()); ++column) {
        const ColumnPlan &planned = m_plan[size_t(column)];
        QAction *item
            = m_columnMenu->addAction(model() ? model()->headerData(column, Qt::Horizontal).toString() : planned.name);
        item->setObjectName(QStringLiteral("column") + planned.name.left(1).toUpper() + planned.name.mid(1));
        item->setCheckable(true);
        item->setChecked(planned.shown);
        item->setEnabled(planned.hideable);
        connect(item, &QAction::toggled, this, [this, column](bool shown) { setColumnShown(column, shown); });
    }
}

void DomainListView::setColumnShown(int column, bool shown)
{
    if (column < 0 || column >= int(m_plan.size()) || isColumnShown(column) == shown
        || (!shown && !m_plan[size_t(column)].hideable))
        return;
    ColumnPlan &planned = m_plan[size_t(column)];
    QHeaderView *header = horizontalHeader();
    m_fitting = true;
    if (shown) {
        header->showSection(column);
        header->resizeSection(column, planned.width);
    } else {
        planned.width = header->sectionSize(column);
        header->hideSection(column);
    }
    m_fitting = false;
    planned.shown = shown;
    if (QAction *item = m_columnMenu->actions().value(column)) {
        const QSignalBlocker quiet(item);
        item->setChecked(shown);
    }
    fitColumns();
}

int DomainListView::columnWidth(int column) const
{
    if (isColumnShown(column) || column >= int(m_plan.size()))
        return horizontalHeader()->sectionSize(column);
    return m_plan[size_t(column)].width;
}

int DomainListView::widthForText(const QString &text) const
{
    // What the delegate asks for a cell holding the text: the text and the margins it is painted with.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.text = text;
    option.features |= QStyleOptionViewItem::HasDisplay;
    return style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width();
}

int DomainListView::leastWidth(int column) const
{
    // The header's caption stays whole.
    return qMax(horizontalHeader()->minimumSectionSize(), horizontalHeader()->sectionSizeHint(column));
}

void DomainListView::fitColumns()
{
    // Before the view is shown its list area has no width of its own yet.
    if (m_plan.empty() || !isVisible())
        return;
    m_fittedWidth = viewport()->width();
    absorb(-1, horizontalHeader()->length() - m_fittedWidth);
}

void DomainListView::onSectionResized(int column, int oldSize, int newSize)
{
    // Showing and hiding pass through zero; the view's own changes need nothing made up.
    if (m_fitting || m_plan.empty() || !isVisible() || oldSize == 0 || newSize == 0)
        return;
    absorb(column, horizontalHeader()->length() - viewport()->width());
}

void DomainListView::absorb(int changed, int excess)
{
    if (excess == 0)
        return;
    QHeaderView *header = horizontalHeader();
    const int changedAt = changed < 0 ? -1 : header->visualIndex(changed);
    std::vector<int> after;
    std::vector<int> before;
    int lastShown = -1;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (column == changed || header->isSectionHidden(column) || column >= int(m_plan.size()))
            continue;
        lastShown = column;
        if (m_plan[size_t(column)].stretches)
            (visual < changedAt ? before : after).push_back(column);
    }
    // With every stretching column hidden, the last one shown takes up the slack.
    if (after.empty() && before.empty() && lastShown >= 0)
        after.push_back(lastShown);
    m_fitting = true;
    share(before, share(after, excess));
    m_fitting = false;
}

int DomainListView::share(const std::vector<int> &columns, int excess)
{
    if (columns.empty() || excess == 0)
        return excess;
    QHeaderView *header = horizontalHeader();
    const bool shrinking = excess > 0;
    // Narrower: each gives in proportion to what it has above its least width. Wider: each takes in proportion
    // to its width, so the user's proportions hold.
    std::vector<int> room(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        const int width = header->sectionSize(columns[i]);
        room[i] = shrinking ? qMax(0, width - leastWidth(columns[i])) : qMax(1, width);
    }
    const qint64 total = std::accumulate(room.begin(), room.end(), qint64(0));
    if (total == 0)
        return excess;
    const int moved = shrinking ? int(qMin<qint64>(excess, total)) : excess;
    std::vector<int> parts(columns.size());
    int given = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        parts[i] = int(qint64(moved) * room[i] / total);
        given += parts[i];
    }
    // What rounding left over goes a pixel at a time to those with room for it.
    for (bool progress = true; given != moved && progress;) {
        progress = false;
        for (size_t i = 0; i < columns.size() && given != moved; ++i) {
            const int step = moved > given ? 1 : -1;
            if (shrinking && parts[i] + step > room[i])
                continue;
            parts[i] += step;
            given += step;
            progress = true;
        }
    }
    for (size_t i = 0; i < columns.size(); ++i) {
        if (parts[i] != 0)
            header->resizeSection(columns[i], header->sectionSize(columns[i]) - parts[i]);
    }
    return excess - given;
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

void DomainListView::showEvent(QShowEvent *event)
{
    QTableView::showEvent(event);
    fitColumns();
}

bool DomainListView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Resize) {
        const bool handled = QTableView::viewportEvent(event);
        if (viewport()->width() != m_fittedWidth)
            fitColumns();
        return handled;
    }
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
