#include "store/store_schema.h"

#include "store/sqlite_db.h"

#include <QByteArray>

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

using UpgradeStep = bool (*)(Database &);
// Entry n takes a file from version n to n + 1.
constexpr UpgradeStep kUpgradeSteps[kSchemaVersion] = { createVersion1, keyRowsByTheirListKey };

} // namespace

SchemaCheck upgradeSchema(Database &db)
{
    const qint64 found = db.queryNumber("PRAGMA user_version");
    if (found < 0)
        return SchemaCheck::Failed;
    if (found > kSchemaVersion)
        return SchemaCheck::Newer;
    for (int version = int(found); version < kSchemaVersion; ++version) {
        Transaction transaction(db);
        if (!transaction.isActive())
            return SchemaCheck::Failed;
        // Another copy of the program may have upgraded the file since we looked.
        const qint64 now = db.queryNumber("PRAGMA user_version");
        if (now > version)
            continue;
        const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(version + 1);
        if (!kUpgradeSteps[version](db) || !db.exec(setVersion.constData()) || !transaction.commit())
            return SchemaCheck::Failed;
    }
    return SchemaCheck::Current;
}

} // namespace quernfold::store
