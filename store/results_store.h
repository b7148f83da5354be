#pragma once

#include "domainlist/domain_list_model.h"
#include "domainlist/filing_change.h"
#include "domainlist/filing_record.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace quernfold {

namespace store {
class StoreWriter;
}

// A domain's latest finished result, as a later run may reuse it.
struct HistoryEntry {
    FilingRecord record;
    QString status;
    // When a lookup last found it, in seconds since 1970 UTC.
    qint64 lookedUpAt = 0;
};

// One of a domain's results over time: the history keeps a version for every result that differed from the one
// before it, with when it was first found and when a lookup last found it again.
using FilingVersion = PreviousResult;

// A finished lookup for the history. Only "查询完毕" is kept: with a record, "无记录" or "备案已被删除" in the record
// cells. Anything else (a failure, a lookup still going) says nothing about the filing.
struct FinishedLookup {
    QString domain;
    FilingRecord record;
    QString status;
    // Seconds since 1970 UTC.
    qint64 lookedUpAt = 0;
    // The stored list's row that holds this result, if any: it is marked with what changed in the same
    // transaction, so the mark is kept even when nobody is left to hear the answer (the window closed meanwhile).
    RowKey row = RowKey::None;
};

// What the stored list holds, for the question whether to bring it back.
struct ListCounts {
    qint64 rows = 0;
    // Rows whose status says "查询完毕".
    qint64 finished = 0;
    // The lowest key no row of this file ever had, also rows cleared or removed since: the caller's list hands out
    // keys from here on, so that no key ever names two rows while the file lives.
    RowKey nextKey = RowKey(1);
};

// What the store has put into the file so far, counted when it is committed: how much a change cost the file.
struct StoreStats {
    qint64 rowsInserted = 0;
    qint64 rowsDeleted = 0;
    // Rows of the list whose cells were rewritten.
    qint64 cellsWritten = 0;
    // Versions added or confirmed again.
    qint64 historyWritten = 0;
    qint64 versionsPruned = 0;
    qint64 commits = 0;
};

// The list and the lookup history, kept in one SQLite file behind the caller's back. Every call returns at once:
// the store's own thread does the writing, in batched transactions, and answers questions by calling back on the
// caller's thread. A row is named by its key, as the caller's list gave it (DomainRow::key); the stored list is
// ordered by key, which is the caller's order, so the store keeps nothing per row.
//
// A write that fails (a busy file, a full disk, an I/O error) is kept and tried again, with growing pauses, for as
// long as the store lives: savingDelayed() says so once, savingResumed() when everything kept is in the file.
// When the file cannot be used at all the store says so once through problemOccurred() and from then on drops
// what it is handed; the caller carries on without autosave.
class ResultsStore : public QObject
{
    Q_OBJECT
public:
    // What the store could not do, with a reason in words ("无法打开<path>(disk I/O error)"); for DamagedReplaced
    // the reason is where the damaged file went.
    enum class Problem {
        // The file cannot be opened or used (a read-only folder, an I/O error at start-up, a file from a newer
        // program, damage found while writing): nothing is saved from here on.
        Unavailable,
        // The file was damaged: it was moved aside and a new one started; saving goes on.
        DamagedReplaced,
        // Another running copy of the program owns the list: this one's list is not saved, the history is.
        ListInUse,
    };
    Q_ENUM(Problem)

    // $XDG_DATA_HOME/quernfold/quernfold.db, usually ~/.local/share/quernfold/quernfold.db.
    static QString defaultPath();
    // SQLite's integrity check of a file no store has open: "ok" when it is whole, else what is wrong. It reads
    // the whole file and waits for it.
    static QString integrityReport(const QString &path);

    // What a store opens the file for. The window owns the list; a run from the command line keeps only the
    // history, so a window started meanwhile still gets the list: such a store never takes the list's lock,
    // never writes or reads the list, and never moves the file aside (a damaged file is the owner's to replace).
    enum class Scope { ListAndHistory, HistoryOnly };

    // Opens the file (making it and its folder when missing) on the store's thread.
    explicit ResultsStore(const QString &path, QObject *parent = nullptr);
    ResultsStore(const QString &path, Scope scope, QObject *parent = nullptr);
    // Writes what was handed over and closes the file. The one call that waits, and only for changes already
    // made, so that quitting never loses them; a file that stays busy is given a few seconds.
    ~ResultsStore() override;

    QString path() const { return m_path; }
    // False once the list is known not to be saved (Unavailable or ListInUse).
    bool savesList() const { return m_savesList; }
    // Between savingDelayed() and savingResumed().
    bool isSavingDelayed() const { return m_delayed; }
    StoreStats stats() const { return m_stats; }
    // Every change handed over so far is in the file (as saved() last said).
    bool isSaved() const;

    // The caller's list, by key. The first change made without restore() or dropList() before it starts the
    // stored list afresh from the caller's.
    // Rows with their keys and whatever cells they bring, each put in its key's place: new rows at the end, rows
    // an undo brings back between their neighbours. A row whose key is stored already is replaced.
    void addRows(std::vector<DomainRow> rows);
    // Keys the store does not hold are passed over.
    void removeRows(std::vector<RowKey> keys);
    void replaceList(std::vector<DomainRow> rows);
    // Forgets the stored list: the caller's list is empty, or the caller chose not to bring the stored one back.
    void dropList();
    // The row's record, status and note, all at once.
    void writeCells(RowKey key, const LookupCells &cells);

    // The stored list, in order, each row with its key, for the caller to show in place of its own. List changes
    // made before the rows arrive are not saved: the caller keeps its list still until then. Questions see every
    // change handed over before them, except while saving is delayed: then they are answered from the file as it
    // stands.
    void restore(std::function<void(std::vector<DomainRow> rows)> done);
    void listCounts(std::function<void(ListCounts counts)> done);

    // A finished lookup ("查询完毕") of a domain; anything else is refused with false. A result equal to the domain's
    // latest version only moves its confirmation time; a different one becomes the latest version. A result looked
    // up before the latest version was last confirmed (a slow reply handed over late) changes nothing.
    bool recordResult(const QString &domain, const FilingRecord &record, const QString &status, qint64 lookedUpAt);
    // The domains whose lookup made a new version, with the version before it; a domain seen for the first time, a
    // confirmation and a refused lookup are not in it. A domain named twice in one call is compared with what the
    // earlier one left.
    using ChangesFound = std::function<void(QHash<QString, FilingVersion> previous)>;
    // recordResult() for each, in one go; `done` (when given) answers once they are in the file.
    void recordResults(std::vector<FinishedLookup> results, ChangesFound done = {});
    // The domain's versions, newest first.
    void versions(const QString &domain, std::function<void(std::vector<FilingVersion> versions)> done);
    // Removes the versions last confirmed before `confirmedBefore` (seconds since 1970 UTC), never a domain's
    // latest: how long results are kept is the caller's setting.
    void pruneVersions(qint64 confirmedBefore);
    // The latest versions of these domains last confirmed at or after `since` (seconds since 1970 UTC). They come in
    // parts of at most 5,000, so that taking in (and freeing) the answer for a million domains never holds the
    // caller's thread for long; `complete` is true on the last part, which may be empty.
    using HistoryPart = std::function<void(QHash<QString, HistoryEntry> found, bool complete)>;
    void history(QStringList domains, qint64 since, HistoryPart done);
    // Answers once the history is empty in the file.
    void clearHistory(std::function<void(qint64 removed)> done);

signals:
    void problemOccurred(quernfold::ResultsStore::Problem problem, const QString &reason);
    // A write failed (the reason in words): what was handed over is kept and tried again.
    void savingDelayed(const QString &reason);
    // Everything kept since savingDelayed() is in the file.
    void savingResumed();
    // Every change handed over so far is in the file and survives the program being killed.
    void saved();

private:
    // Makes the stored list follow the caller's from the first change on, when nobody said which list counts.
    // False while the list is not saved or a restore is on its way.
    bool takeListChange();
    void startListAfresh();
    void writerCommitted(quint64 opsDone, const StoreStats &stats);
    void writerReported(Problem problem, const QString &reason);

    QString m_path;
    std::unique_ptr<store::StoreWriter> m_writer;
    StoreStats m_stats;
    bool m_listAdopted = false;
    bool m_restorePending = false;
    bool m_savesList = true;
    bool m_delayed = false;
    quint64 m_opsDone = 0;
};

} // namespace quernfold
