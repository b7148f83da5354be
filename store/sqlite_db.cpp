#include "store/sqlite_db.h"

#include <cstring>
#include <sqlite3.h>
#include <utility>

namespace quernfold::store {

Database::~Database()
{
    close();
}

bool Database::open(const QString &path)
{
    close();
    const QByteArray name = path.toUtf8();
    const int rc = sqlite3_open_v2(name.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        noteFailure(rc);
        // sqlite3_open_v2 hands back a handle even on failure, only to carry the message.
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    return true;
}

void Database::close()
{
    if (m_db) {
        // Statements are owned by their users and finalized before this; close_v2 copes if one is late.
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool Database::exec(const char *sql)
{
    if (!m_db)
        return false;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        noteFailure(rc);
    return rc == SQLITE_OK;
}

qint64 Database::queryNumber(const char *sql)
{
    Statement statement(*this, sql);
    if (!statement.isValid() || statement.step() != Statement::Step::Row)
        return -1;
    return statement.int64At(0);
}

QString Database::queryText(const char *sql)
{
    Statement statement(*this, sql);
    if (!statement.isValid() || statement.step() != Statement::Step::Row)
        return {};
    return statement.textAt(0);
}

qint64 Database::changes() const
{
    return m_db ? sqlite3_changes64(m_db) : 0;
}

void Database::setBusyTimeout(int ms)
{
    sqlite3_busy_timeout(m_db, ms);
}

void Database::noteFailure(int code)
{
    m_errorCode = m_db ? sqlite3_extended_errcode(m_db) : code;
    m_errorText = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code));
    const int systemError = m_db ? sqlite3_system_errno(m_db) : 0;
    if (systemError != 0)
        m_errorText += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(systemError)));
}

bool Database::lastErrorMeansDamaged() const
{
    const int primary = errorCode() & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

void Database::forgetFailure()
{
    m_errorCode = 0;
    m_errorText.clear();
}

Statement::Statement(Database &db, const char *sql)
    : m_db(&db)
{
    if (!db.handle())
        return;
    const int rc = sqlite3_prepare_v3(db.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    if (rc != SQLITE_OK)
        db.noteFailure(rc);
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement &&other) noexcept
    : m_db(other.m_db)
    , m_stmt(std::exchange(other.m_stmt, nullptr))
{ }

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = other.m_db;
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

void Statement::bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_stmt, index, value);
}

void Statement::bind(int index, const QString &text)
{
    sqlite3_bind_text16(m_stmt, index, text.utf16(), int(text.size() * sizeof(char16_t)), SQLITE_STATIC);
}

void Statement::bindNull(int index)
{
    sqlite3_bind_null(m_stmt, index);
}

Statement::Step Statement::step()
{
    if (!m_stmt)
        return Step::Failed;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return Step::Row;
    if (rc == SQLITE_DONE)
        return Step::Done;
    m_db->noteFailure(rc);
    return Step::Failed;
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

bool Statement::run()
{
    const Step result = step();
    reset();
    return result == Step::Done;
}

qint64 Statement::int64At(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

QString Statement::textAt(int column) const
{
    // UTF-8 as stored: no conversion inside SQLite, and Qt's decoder is quick.
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, column)) : QString();
}

QByteArrayView Statement::bytesAt(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    return text ? QByteArrayView(text, sqlite3_column_bytes(m_stmt, column)) : QByteArrayView();
}

bool Statement::isNullAt(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Transaction::Transaction(Database &db)
    : m_db(db)
    , m_active(db.exec("BEGIN IMMEDIATE"))
{ }

Transaction::~Transaction()
{
    // SQLite rolls a transaction back by itself after some failures (a full disk, an I/O error); a second ROLLBACK
    // would only fail and replace the reason worth telling.
    if (m_active && !sqlite3_get_autocommit(m_db.handle()))
        m_db.exec("ROLLBACK");
}

bool Transaction::commit()
{
    if (!m_active)
        return false;
    m_active = false;
    if (m_db.exec("COMMIT"))
        return true;
    // A failed COMMIT may leave the transaction open (SQLITE_BUSY) or already rolled back (I/O error).
    if (!sqlite3_get_autocommit(m_db.handle()))
        m_db.exec("ROLLBACK");
    return false;
}

} // namespace quernfold::store
