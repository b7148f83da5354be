#pragma once

namespace quernfold::store {

class Database;

// The layout this program writes, kept in the file's PRAGMA user_version.
constexpr int kSchemaVersion = 2;

enum class SchemaCheck {
    Current,
    // Written by a later program: left as it is, never written by this one.
    Newer,
    Failed,
};

// Brings the file from the version it carries to kSchemaVersion, one step per version, each in its own transaction
// with the version it reaches, so an interrupted upgrade resumes from the last finished step.
SchemaCheck upgradeSchema(Database &db);

} // namespace quernfold::store
