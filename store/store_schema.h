#pragma once

#include <QString>

namespace quernfold::store {

class Database;

// The layout this program writes, kept in the file's PRAGMA user_version.
constexpr int kSchemaVersion = 3;

enum class SchemaCheck {
    Current,
    // Written by a later program: left as it is, never written by this one.
    Newer,
    Failed,
};

// Brings the file from the version it carries to kSchemaVersion, one step per version, all in one transaction with
// the version it reaches: an interrupted upgrade leaves the file as it was, and the next open starts it again. A file
// that holds anything is first copied to `copyPath` (none when empty), which goes once the upgrade has committed.
SchemaCheck upgradeSchema(Database &db, const QString &copyPath);

} // namespace quernfold::store
