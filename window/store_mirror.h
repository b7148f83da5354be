#pragma once

#include "domainlist/domain_list_model.h"

#include <QObject>
#include <QTimer>

#include <vector>

namespace quernfold {

class ResultsStore;

// Keeps the store's list the same as the window's, from the model's own signals, naming every row by its key. The
// store holds exactly the model's rows whose key is at or below the last key handed over; the rows above it are
// still to go, and the model's key order finds them, so nothing kept in step with the model can drift. A few new
// rows go over at once; a long list (a million-row import) goes a slice at a time, each handed when the store has
// written the one before, so that neither the window nor the store ever holds a second copy of the whole list. A
// row's cells go over in bursts a few times a second, named by key. While the store cannot write, slices and
// bursts wait: the model holds what they would carry. Whatever is still to hand over goes when the mirror is
// destroyed.
class StoreMirror : public QObject
{
    Q_OBJECT
public:
    // About 50 ms of the store's writing, and 1.2 MB of names in flight.
    static constexpr int kSliceRows = 50000;

    // The store already holds the model's rows as they are now.
    StoreMirror(
        const DomainListModel &model, ResultsStore &store, QObject *parent = nullptr, int sliceRows = kSliceRows);
    ~StoreMirror() override;

    // Rows at the end of the list not yet handed over.
    int pendingRows() const;
    // Nothing is left to hand over and the store has written everything: the file holds the model's list.
    bool isCaughtUp() const;

signals:
    // Every change of the list so far is in the store's file.
    void caughtUp();

private:
    // The first row whose key is above the last one handed over.
    int firstPendingPosition() const;
    void rowsInserted(int first, int last);
    void rowsAboutToBeRemoved(int first, int last);
    void rowsAboutToBeDropped(const std::vector<RowKey> &keys);
    void modelReset();
    void dataChanged(int first, int last, int lastColumn);
    void storeSaved();
    void sayIfCaughtUp();
    void handNextSlice();
    void handAll();
    void handRows(int count);
    // `force`: also while the store cannot write (the mirror is going).
    void writeDirtyRows(bool force = false);
    std::vector<DomainRow> rowsWithCells(int from, int to) const;

    const DomainListModel &m_model;
    ResultsStore &m_store;
    const int m_sliceRows;
    // The store holds the model's rows with keys up to this one.
    RowKey m_handedUpTo = RowKey::None;
    // The next slice starts a new list rather than adding to the stored one.
    bool m_replace = false;
    bool m_waitingForStore = false;
    bool m_dropped = false;
    bool m_sayPending = false;
    // Rows whose cells changed since the last burst, by key; written a few times a second, each burst one
    // transaction. Repeats are folded away as they pile up while the store cannot write.
    std::vector<RowKey> m_dirty;
    size_t m_dirtyFolded = 0;
    QTimer m_burst;
};

} // namespace quernfold
