#include "store/store_schema.h"

#include "store/sqlite_db.h"

#include <QByteArray>

namespace quernfold::store {

namespace {

// Version 0 is a file without our tables: a new one, or one SQLite made empty.
bool createVersion1(Database &db)
{
    // The list's order is ord: the store hands out increasing keys, and a removed row leaves a gap, so removing a
    // row near the top of a long list touches that row alone.
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

using UpgradeStep = bool (*)(Database &);
// Entry n takes a file from version n to n + 1.
constexpr UpgradeStep kUpgradeSteps[kSchemaVersion] = { createVersion1 };

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
