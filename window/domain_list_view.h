#pragma once

#include <QHeaderView>
#include <QTableView>
#include <QTimer>

namespace quernfold {

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

private:
    void flushChanges();

    bool m_locked = false;
    int m_changedFrom = -1;
    int m_changedTo = -1;
    QTimer *m_changeTimer = nullptr;
};

} // namespace quernfold
