#pragma once

#include <QString>

namespace quernfold::store {

// The two ways to SQLite this program could take, timed on the same work: rows with a domain, a record and a
// status written in transactions of the store's size, then read back into list rows. Kept so the choice can be
// measured again; only the benchmark links it.
struct BackendFigures {
    double writeMs = 0;
    double readMs = 0;
    qint64 rowsRead = 0;
};

BackendFigures measureOwnWrapper(const QString &path, int rows);
BackendFigures measureQtSql(const QString &path, int rows);

// The other way to keep the window's thread free: the import written on that thread, one transaction of
// `sliceRows` rows per event-loop turn. Each slice is time the window could not move.
struct SliceFigures {
    double totalMs = 0;
    double longestSliceMs = 0;
    double medianSliceMs = 0;
};
SliceFigures measureSlices(const QString &path, int rows, int sliceRows);

} // namespace quernfold::store
