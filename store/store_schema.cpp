#include "store/store_schema.h"

#include "store/sqlite_db.h"

#include <QByteArray>
#include <QFile>

namespace quernfold::store {

namespace {

// Version 0 is a file without our tables: a new one, or one SQLite made empty.
bool createVersion1(Database &db)
{
    return db.exec("CREATE TABLE list_rows ("
                   " ord INTEGER PRIMARY KEY,"
                   " domain TEXT NOT NULL,"
                   " record_no TEXT, holder TEXT, record_type TEXT, site_name TEXT,"
                   " status TEXT, note TEXT);"
                   "CREATE TABLE history ("
                   " domain TEXT PRIMARY KEY,"
                   " record_no TEXT NOT NULL, holder TEXT NOT NULL, record_type TEXT NOT NULL,"
                   " site_name TEXT NOT NULL, status TEXT NOT NULL,"
                   " looked_up INTEGER NOT NULL) WITHOUT ROWID;");
}

// Rows are named by the key the caller's list gave them, so the list's order is the key's and removing a row deletes
// it and nothing else. The old ord values were keys handed out in increasing order already: they stay as the rows'
// keys. The highest key ever stored outlives the rows that had it (a clear, a removal of the last rows), so a key
// never comes back while the file lives.
bool keyRowsByTheirListKey(Database &db)
{
    return db.exec("ALTER TABLE list_rows RENAME COLUMN ord TO row_key;"
                   "CREATE TABLE meta (name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
                   "INSERT INTO meta (name, value) SELECT 'highest_key', coalesce(max(row_key), 0) FROM list_rows;");
}

// A domain keeps every result that differed from the one before it, each with when it was first found and when a
// lookup last found it again (seq tells apart the versions first found within one second); the one result per domain of the earlier layout becomes its first version. A list row
// keeps when it was looked up and what its lookup found changed, the earlier version named by its first_seen.
bool keepResultsOverTime(Database &db)
{
    return db.exec("CREATE TABLE versions ("
                   " domain TEXT NOT NULL, first_seen INTEGER NOT NULL, seq INTEGER NOT NULL,"
                   " last_confirmed INTEGER NOT NULL,"
                   " record_no TEXT NOT NULL, holder TEXT NOT NULL, record_type TEXT NOT NULL,"
                   " site_name TEXT NOT NULL, status TEXT NOT NULL,"
                   " PRIMARY KEY (domain, first_seen, seq)) WITHOUT ROWID;"
                   "INSERT INTO versions SELECT domain, looked_up, 0, looked_up, record_no, holder, record_type,"
                   " site_name, status FROM history;"
                   "DROP TABLE history;"
                   "ALTER TABLE list_rows ADD COLUMN looked_up INTEGER;"
                   "ALTER TABLE list_rows ADD COLUMN change TEXT;"
                   "ALTER TABLE list_rows ADD COLUMN previous_seen INTEGER;");
}

using UpgradeStep = bool (*)(Database &);
// Entry n takes a file from version n to n + 1.
constexpr UpgradeStep kUpgradeSteps[kSchemaVersion] = { createVersion1, keyRowsByTheirListKey, keepResultsOverTime };

// The file as it stands, log included, beside it under `copyPath`.
bool copyBeforeUpgrade(Database &db, const QString &copyPath)
{
    QFile::remove(copyPath);
    Statement copy(db, "VACUUM INTO ?");
    copy.bind(1, copyPath);
    return copy.run();
}

} // namespace

SchemaCheck upgradeSchema(Database &db, const QString &copyPath)
{
    const qint64 found = db.queryNumber("PRAGMA user_version");
    if (found < 0)
        return SchemaCheck::Failed;
    if (found > kSchemaVersion)
        return SchemaCheck::Newer;
    if (found == kSchemaVersion)
        return SchemaCheck::Current;
    // A file with results in it is copied first, so that whatever happens to the upgrade the user still has them.
    const bool copied = found > 0 && !copyPath.isEmpty();
    if (copied && !copyBeforeUpgrade(db, copyPath))
        return SchemaCheck::Failed;
    Transaction transaction(db);
    if (!transaction.isActive())
        return SchemaCheck::Failed;
    // Another copy of the program may have upgraded the file since we looked.
    const qint64 now = db.queryNumber("PRAGMA user_version");
    if (now < 0)
        return SchemaCheck::Failed;
    if (now > kSchemaVersion)
        return SchemaCheck::Newer;
    for (int version = int(now); version < kSchemaVersion; ++version) {
        if (!kUpgradeSteps[version](db))
            return SchemaCheck::Failed;
    }
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(kSchemaVersion);
    if (!db.exec(setVersion.constData()) || !transaction.commit())
        return SchemaCheck::Failed;
    if (copied)
        QFile::remove(copyPath);
    return SchemaCheck::Current;
}

} // namespace quernfold::store
