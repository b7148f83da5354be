#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

namespace quernfold::store {

// One SQLite connection. Every call reports failure by its return value; errorText() says why in words.
class Database
{
public:
    Database() = default;
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens (creating if missing) read-write. The connection is used by one thread at a time.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // Runs statements that return nothing the caller reads (schema, pragmas, transaction control).
    bool exec(const char *sql);
    // The first column of the first row of a query that yields one number (pragmas, counts); -1 on failure.
    qint64 queryNumber(const char *sql);
    // The first column of the first row as text, empty on failure.
    QString queryText(const char *sql);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    qint64 changes() const;
    // How long a statement waits for another connection's write lock before it fails with SQLITE_BUSY.
    void setBusyTimeout(int ms);

    // The extended result code of the last failed call. Kept until the next failure, so a rollback after it
    // does not wipe the reason.
    int errorCode() const { return m_errorCode; }
    // SQLite's message for the last failure, with the operating system's reason where there is one.
    QString errorText() const { return m_errorText; }
    // A file that is not a database or whose pages do not add up.
    bool lastErrorMeansDamaged() const;
    // So that a later look at errorCode() sees only what failed after this.
    void forgetFailure();

    sqlite3 *handle() const { return m_db; }

private:
    friend class Statement;
    void noteFailure(int code);

    sqlite3 *m_db = nullptr;
    int m_errorCode = 0;
    QString m_errorText;
};

// A prepared statement, kept for the connection's lifetime and run again after reset().
class Statement
{
public:
    enum class Step { Row, Done, Failed };

    Statement() = default;
    Statement(Database &db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;

    bool isValid() const { return m_stmt != nullptr; }

    // Parameters count from 1. The text must outlive the next step(): it is not copied.
    void bind(int index, qint64 value);
    void bind(int index, const QString &text);
    void bindNull(int index);

    Step step();
    // Ready to run again, every parameter unbound.
    void reset();
    // Runs a statement that yields no rows and resets it; false on failure.
    bool run();

    qint64 int64At(int column) const;
    QString textAt(int column) const;
    // The stored UTF-8, valid until the next step() or reset().
    QByteArrayView bytesAt(int column) const;
    bool isNullAt(int column) const;

private:
    Database *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
};

// BEGIN IMMEDIATE up front, so a second writer is met (and waited for by the busy timeout) at the start rather than
// at the first write; rolled back unless committed.
class Transaction
{
public:
    explicit Transaction(Database &db);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit();

private:
    Database &m_db;
    bool m_active = false;
};

} // namespace quernfold::store
