#pragma once

#include <QHeaderView>
#include <QTableView>
#include <QTimer>

#include <vector>

class QMenu;

namespace quernfold {

// How a column of the list starts out.
struct ColumnPlan {
    // Names the column's item in the header's menu (objectName "column" + Name).
    QString name;
    int width = 0;
    // Shares the room the list has beyond the other columns' widths, and gives it up when the list shrinks.
    bool stretches = false;
    bool hideable = true;
    bool shown = true;
};

// The report-style list: a table without grid or row headers, since a table view keeps no object per row and so
// stays cheap to lay out again at a million rows. It tells the window about every mouse press, with the button,
// before the view handles it, and about the keys that act on the selected rows. A row whose last lookup did not finish
// shows its status in a warning colour, with the note as its tooltip. While a lookup runs it is locked rather than
// disabled: it still scrolls and reads, so the user can watch results arrive, but no click, key or context menu reaches
// it.
class DomainListView : public QTableView
{
    Q_OBJECT
public:
    // About a display frame: faster than anyone reads, slow enough that a run's rows cost no painting each.
    static constexpr int kFrameMs = 16;

    explicit DomainListView(QWidget *parent = nullptr);
    void setLocked(bool locked) { m_locked = locked; }
    bool isLocked() const { return m_locked; }
    QHeaderView *header() const { return horizontalHeader(); }
    // Rows the view shows in its viewport now (first, last), or (-1, -2) when none.
    std::pair<int, int> visibleRows() const;
    // The cell's own tooltip from the model if it has one; otherwise its whole text when the column cuts it;
    // otherwise nothing.
    QString toolTipFor(const QModelIndex &index) const;

    // Columns that fill the list: the stretching ones share whatever width the others leave, as the list grows or
    // shrinks and as the user widens, narrows, fits (double click on an edge), shows or hides a column. The
    // header's context menu (`columnMenu`) shows and hides columns. Set once the model is there.
    void planColumns(std::vector<ColumnPlan> plan);
    void setColumnShown(int column, bool shown);
    bool isColumnShown(int column) const { return !header()->isSectionHidden(column); }
    // Its width, or for a hidden column the width it comes back with.
    int columnWidth(int column) const;
    // The width a cell needs to show `text` whole, margins included.
    int widthForText(const QString &text) const;
    QMenu *columnMenu() const { return m_columnMenu; }
signals:
    void mouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void deletePressed();
    void copyPressed();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    // A run changes rows faster than anyone can read them; the view (and a screen reader) hears about them at
    // display rate, in one change spanning every row written since the last.
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles) override;
    bool viewportEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void flushChanges();
    // The list's width minus the shown columns' widths, shared among the stretching columns.
    void fitColumns();
    // `excess` pixels too wide (narrow when negative) after `changed` (or -1) changed: taken from the stretching
    // columns after it, then from those before.
    void absorb(int changed, int excess);
    // Takes up to `excess` from (or gives -excess to) these columns, in proportion; returns what is left.
    int share(const std::vector<int> &columns, int excess);
    int leastWidth(int column) const;
    void onSectionResized(int column, int oldSize, int newSize);
    void buildColumnMenu();

    bool m_locked = false;
    int m_changedFrom = -1;
    int m_changedTo = -1;
    QTimer *m_changeTimer = nullptr;
    std::vector<ColumnPlan> m_plan;
    // Set while the view sizes columns itself, so that only the user's changes are made up for.
    bool m_fitting = false;
    // The list width the columns were last fitted to: a change of height alone (a scroll bar coming or going under
    // a column the user is dragging) leaves them alone.
    int m_fittedWidth = -1;
    QMenu *m_columnMenu = nullptr;
};

} // namespace quernfold
