#pragma once

#include <QObject>
#include <QTimer>

#include <vector>

namespace quernfold {

class DomainListModel;
class ResultsStore;

// Keeps the store's list the same as the window's, from the model's own signals. A change of a few rows goes over
// at once; a long list (a million-row import) goes over a slice at a time, each handed when the store has written
// the one before, so that neither the window nor the store ever holds a second copy of the whole list. A row's cells
// go over in bursts a few times a second: handed one at a time as a run writes them, each would wake the store for a
// commit of its own. Whatever is still to hand over goes at once before any other change, and when the mirror is
// destroyed.
class StoreMirror : public QObject
{
    Q_OBJECT
public:
    // The store already holds the model's rows as they are now.
    StoreMirror(const DomainListModel &model, ResultsStore &store, QObject *parent = nullptr);
    ~StoreMirror() override;

    // Rows at the end of the list not yet handed over.
    int pendingRows() const;

signals:
    // Every change of the list so far is in the store's file.
    void caughtUp();

private:
    void rowsInserted(int first, int last);
    void rowsAboutToBeRemoved(int first, int last);
    void modelReset();
    void dataChanged(int first, int last, int lastColumn);
    void handNextSlice();
    void handAll();
    void handRows(int count);
    void writeDirtyRows();

    const DomainListModel &m_model;
    ResultsStore &m_store;
    // The store holds the model's first m_handed rows.
    int m_handed = 0;
    // The next slice starts a new list rather than adding to the stored one.
    bool m_replace = false;
    bool m_waitingForStore = false;
    bool m_dropped = false;
    // Rows whose cells changed since the last burst; written a few times a second, each burst one transaction.
    std::vector<int> m_dirty;
    QTimer m_burst;
};

} // namespace quernfold
